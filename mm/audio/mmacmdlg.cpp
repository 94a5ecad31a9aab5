#include "mmacmdlg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "mmadpcm.h"
#include "mmriff.h"
#include "mmwavefmt.h"
#include "mmwaveio.h"
#include "ui_dialogs.h"

namespace {

constexpr uint32_t kRegistryBytes = 1025;

template <class T>
void Put(WAVEFORMATEX* f, size_t at, T v) {
  std::memcpy(reinterpret_cast<uint8_t*>(f) + at, &v, sizeof v);
}

void ShowError(const std::string& what, MMRESULT code) {
  vant::MessageDlg(what + std::to_string(code), vant::mtError, vant::mbOK);
}

}  // namespace

int acmGetFormatDescription(const WAVEFORMATEX* pwfx, std::string& name, std::string& description) {
  if (!pwfx) return 0;
  wioGetFormatName(pwfx, name);
  wioGetFormat(pwfx, description);
  if (!acmUsable()) return 1;
  ACMFORMATTAGDETAILS tag;
  tag.dwFormatTag = pwfx->wFormatTag;
  if (acmFormatTagDetails(tag, ACM_FORMATTAGDETAILSF_FORMATTAG) == MMSYSERR_NOERROR)
    name = tag.szFormatTag;
  // The manager reads the whole record, extra bytes included.
  TWaveFormatPtr copy = wioCopyWaveFormat(pwfx);
  ACMFORMATDETAILS details;
  details.pwfx = copy.get();
  details.cbwfx = wioSizeOfWaveFormat(pwfx);
  details.dwFormatTag = pwfx->wFormatTag;
  if (acmFormatDetails(details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR)
    description = details.szFormat;
  return 1;
}

int acmGetFilterDescription(const TWaveFilter* filter, std::string& name,
                            std::string& description) {
  if (!filter || !acmUsable()) return 0;
  ACMFILTERTAGDETAILS tag;
  tag.dwFilterTag = filter->dwFilterTag;
  name = acmFilterTagDetails(tag, ACM_FILTERTAGDETAILSF_FILTERTAG) == MMSYSERR_NOERROR
             ? tag.szFilterTag
             : LoadResStr(6) + " FilterTag";
  ACMFILTERDETAILS details;
  details.pwfltr = const_cast<TWaveFilter*>(filter);
  details.cbwfltr = filter->cbStruct;
  details.dwFilterTag = filter->dwFilterTag;
  description = acmFilterDetails(details, ACM_FILTERDETAILSF_FILTER) == MMSYSERR_NOERROR
                    ? details.szFilter
                    : LoadResStr(6) + " Filter";
  return 1;
}

void acmSaveFormatToRegistry(const WAVEFORMATEX* pwfx, HKEY root, std::string_view key,
                             std::string_view name) {
  if (!pwfx) return;
  SaveInRegistryBinary(root, key, name, pwfx, static_cast<int32_t>(wioSizeOfWaveFormat(pwfx)));
}

TWaveFormatPtr acmGetFormatFromRegistry(HKEY root, std::string_view key, std::string_view name) {
  std::vector<uint8_t> buffer(kRegistryBytes, 0);
  const int32_t n = GetFromRegistryBinary(root, key, name, buffer.data(), kRegistryBytes);
  if (n < static_cast<int32_t>(sizeof(WAVEFORMATEX))) return nullptr;
  const auto* f = reinterpret_cast<const WAVEFORMATEX*>(buffer.data());
  // The copy takes as many bytes as the record claims; they must all have been stored.
  if (wioSizeOfWaveFormat(f) > static_cast<uint32_t>(n)) return nullptr;
  return wioCopyWaveFormat(f);
}

TWaveFormatPtr acmBuildTrueSpeechHeader() {
  TWaveFormatPtr f = AllocWaveFormat(50);
  if (!f) return f;
  f->wFormatTag = 0x22;
  f->nChannels = 1;
  f->nSamplesPerSec = 8000;
  f->nAvgBytesPerSec = 1067;
  f->nBlockAlign = 32;
  f->wBitsPerSample = 1;
  f->cbSize = 32;
  Put<uint16_t>(f.get(), 18, 1);    // revision
  Put<uint16_t>(f.get(), 20, 240);  // samples per block
  return f;
}

TWaveFormatPtr acmBuildGSM610Header(int rate) {
  TWaveFormatPtr f = AllocWaveFormat(20);
  if (!f) return f;
  f->wFormatTag = 0x31;
  f->nChannels = 1;
  f->nSamplesPerSec = static_cast<uint32_t>(rate);
  f->nBlockAlign = 65;
  f->wBitsPerSample = 0;
  f->cbSize = 2;
  Put<uint16_t>(f.get(), 18, 320);
  switch (rate) {
    case 8000:
      f->nAvgBytesPerSec = 1625;
      break;
    case 11025:
      f->nAvgBytesPerSec = 2239;
      break;
    case 22050:
      f->nAvgBytesPerSec = 4478;
      break;
    case 44100:
      f->nAvgBytesPerSec = 8957;
      break;
    default:
      f->nAvgBytesPerSec = 0;
  }
  return f;
}

TWaveFormatPtr acmBuildADPCMHeader(int rate, int channels) {
  // 54 bytes allocated; the record itself (and what a file stores) is its 50.
  TWaveFormatPtr f = AllocWaveFormat(54);
  if (!f || channels < 1 || rate < 1) return nullptr;
  adpcmFillFormat(*reinterpret_cast<TADPCMWaveFormat*>(f.get()), rate, channels);
  return f;
}

TWaveFormatPtr acmBuildMPEG1Header(int rate, int bitrate, int channels) {
  TWaveFormatPtr f = AllocWaveFormat(40);
  if (!f || rate <= 0) return nullptr;
  f->wFormatTag = 0x50;
  f->nChannels = static_cast<uint16_t>(channels);
  f->nSamplesPerSec = static_cast<uint32_t>(rate);
  f->nBlockAlign = static_cast<uint16_t>(int64_t{channels} * bitrate * 144 / rate);
  // A layer 2 frame holds 1,152 samples.
  f->nAvgBytesPerSec = static_cast<uint32_t>(int64_t{rate} * 100 / 1152 * f->nBlockAlign / 100);
  f->wBitsPerSample = 16;
  f->cbSize = 22;
  Put<uint16_t>(f.get(), 18, 2);                                          // layer 2
  Put<uint32_t>(f.get(), 20, static_cast<uint32_t>(bitrate * channels));  // head bit rate
  Put<uint16_t>(f.get(), 24, channels == 1 ? 8 : 2);                      // single channel, joint
  Put<uint16_t>(f.get(), 26, 15);                                         // mode extension
  Put<uint16_t>(f.get(), 28, 1);                                          // emphasis
  Put<uint16_t>(f.get(), 30, 16);                                         // MPEG-1
  return f;
}

TWaveFormatPtr acmBuildMP3Header(int rate, int kilobits, int channels) {
  TWaveFormatPtr f = AllocWaveFormat(30);
  if (!f || rate <= 0) return nullptr;
  f->wFormatTag = 0x55;
  f->nChannels = static_cast<uint16_t>(channels);
  f->nSamplesPerSec = static_cast<uint32_t>(rate);
  f->nAvgBytesPerSec = static_cast<uint32_t>(kilobits * 1000 / 8);
  f->nBlockAlign = 1;
  f->wBitsPerSample = 0;
  f->cbSize = 12;
  const int perFrame = rate >= 32000 ? 1152 : 576;
  Put<uint16_t>(f.get(), 18, 1);  // id
  Put<uint32_t>(f.get(), 20, 2);  // padding off
  Put<uint16_t>(f.get(), 24, static_cast<uint16_t>(int64_t{perFrame} * f->nAvgBytesPerSec / rate));
  Put<uint16_t>(f.get(), 26, 1);     // frames per block
  Put<uint16_t>(f.get(), 28, 1393);  // codec delay
  return f;
}

TWaveFormatPtr acmBuildMPEGHeader(int layer, int rate, int bitrate, int channels) {
  if (layer == 2) return acmBuildMPEG1Header(rate, bitrate, channels);
  if (layer == 3) return acmBuildMP3Header(rate, bitrate, channels);
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// TMMACM

TMMACM::TMMACM(vant::TComponent* owner) : TMMNonVisualComponent(owner) {
  Title = LoadResStr(20);
  const TACMBinding& b = ACMBinding();
  version_ = b.Version;
  if (!b.Present) {
    vant::MessageDlg(LoadResStr(21), vant::mtInformation, vant::mbOK);
    return;
  }
  if (!acmUsable()) {
    char text[512];
    std::snprintf(text, sizeof text, LoadResStr(22).c_str(), version_ >> 24,
                  (version_ >> 16) & 0xFF);
    vant::MessageDlg(text, vant::mtInformation, vant::mbOK);
    return;
  }
  present_ = true;
  uint32_t v = 0;
  if (acmMetrics(ACM_METRIC_COUNT_DRIVERS, v) == MMSYSERR_NOERROR) drivers_ = int32_t(v);
  if (acmMetrics(ACM_METRIC_COUNT_CODECS, v) == MMSYSERR_NOERROR) codecs_ = int32_t(v);
  if (acmMetrics(ACM_METRIC_COUNT_CONVERTERS, v) == MMSYSERR_NOERROR) converters_ = int32_t(v);
  if (acmMetrics(ACM_METRIC_COUNT_FILTERS, v) == MMSYSERR_NOERROR) filters_ = int32_t(v);
  if (acmMetrics(ACM_METRIC_MAX_SIZE_FORMAT, v) == MMSYSERR_NOERROR) max_format_ = v;
  if (acmMetrics(ACM_METRIC_MAX_SIZE_FILTER, v) == MMSYSERR_NOERROR) max_filter_ = v;
  format_.assign(std::max<uint32_t>(max_format_, sizeof(WAVEFORMATEX)), 0);
  filter_.assign(std::max<uint32_t>(max_filter_, 32), 0);
}

TMMACM::~TMMACM() = default;

bool TMMACM::EnumerateCodecs() {
  if (!present_) return false;
  auto run = [this] {
    return acmFormatTagEnum([this](HACMDRIVERID, const ACMFORMATTAGDETAILS& d) {
      bool go = false;
      if (OnCodecEnum) OnCodecEnum(this, d.dwFormatTag, d.szFormatTag, go);
      return go;
    });
  };
  return run() == MMSYSERR_NOERROR || run() == MMSYSERR_NOERROR;
}

bool TMMACM::EnumerateFormats(uint16_t tag) {
  if (!present_) return false;
  std::memset(format_.data(), 0, format_.size());
  auto* f = reinterpret_cast<WAVEFORMATEX*>(format_.data());
  f->wFormatTag = tag;
  ACMFORMATDETAILS d;
  d.dwFormatTag = tag;
  d.pwfx = f;
  d.cbwfx = static_cast<uint32_t>(format_.size());
  uint32_t flags = ACM_FORMATENUMF_WFORMATTAG;
  if (EnumFormats == efInput) flags |= ACM_FORMATENUMF_INPUT;
  if (EnumFormats == efOutput) flags |= ACM_FORMATENUMF_OUTPUT;
  return acmFormatEnum(
             d,
             [this](HACMDRIVERID, const ACMFORMATDETAILS& fd) {
               bool go = false;
               if (OnFormatEnum) OnFormatEnum(this, fd.pwfx, fd.szFormat, go);
               return go;
             },
             flags) == MMSYSERR_NOERROR;
}

bool TMMACM::SuggestFormat(const WAVEFORMATEX* pwfx, uint32_t flags) {
  if (!present_ || !pwfx) return false;
  const uint32_t bytes = wioSizeOfWaveFormat(pwfx);
  if (format_.size() < bytes) format_.resize(bytes, 0);
  auto* f = reinterpret_cast<WAVEFORMATEX*>(format_.data());
  if (acmFormatSuggest(pwfx, f, static_cast<uint32_t>(format_.size()), flags) != MMSYSERR_NOERROR)
    SetPWaveFormat(pwfx);
  return true;
}

bool TMMACM::ChooseFormat(const WAVEFORMATEX* pwfx, const std::string& title) {
  if (!present_) return false;
  ACMFORMATCHOOSE c;
  c.pszTitle = title;
  if (pwfx) {
    SetPWaveFormat(pwfx);
    c.fdwStyle = ACM_FORMATCHOOSEF_INITTOWFXSTRUCT;
  }
  c.pwfx = reinterpret_cast<WAVEFORMATEX*>(format_.data());
  c.cbwfx = static_cast<uint32_t>(format_.size());
  TWaveFormatPtr given = wioCopyWaveFormat(pwfx);
  c.pwfxEnum = given.get();
  switch (EnumFormats) {
    case efInput:
      c.fdwEnum = ACM_FORMATENUMF_INPUT;
      break;
    case efOutput:
      c.fdwEnum = ACM_FORMATENUMF_OUTPUT;
      break;
    case efConvert:
      c.fdwEnum = ACM_FORMATENUMF_CONVERT;
      break;
    case efSuggest:
      c.fdwEnum = ACM_FORMATENUMF_SUGGEST;
      break;
    case efRestrict:
      c.fdwEnum = ACM_FORMATENUMF_WFORMATTAG;
      break;
    default:
      c.fdwEnum = 0;
      break;
  }
  if (!given)
    c.fdwEnum &= ~(ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST | ACM_FORMATENUMF_WFORMATTAG);
  MMRESULT r = acmFormatChoose(c);
  if (r == ACMERR_CANCELED) return false;
  if (r != MMSYSERR_NOERROR) r = acmFormatChoose(c);
  if (r == ACMERR_CANCELED) return false;
  if (r != MMSYSERR_NOERROR)
    throw EMMACMError("acmFormatChoose failed with error " + std::to_string(r));
  return true;
}

bool TMMACM::ChooseFilter(const TWaveFilter* filter, const std::string& title) {
  if (!present_ || filters_ < 1) return false;
  ACMFILTERCHOOSE c;
  c.pszTitle = title;
  if (filter) {
    SetPWaveFilter(filter);
    c.fdwStyle = ACM_FORMATCHOOSEF_INITTOWFXSTRUCT;
  }
  c.pwfltr = reinterpret_cast<TWaveFilter*>(filter_.data());
  c.cbwfltr = static_cast<uint32_t>(filter_.size());
  const MMRESULT r = acmFilterChoose(c);
  if (r == ACMERR_CANCELED) return false;
  if (r != MMSYSERR_NOERROR)
    throw EMMACMError("acmFilterChoose failed with error " + std::to_string(r));
  return true;
}

void TMMACM::SetPWaveFormat(const WAVEFORMATEX* pwfx) {
  if (!pwfx) return;
  const uint32_t bytes = wioSizeOfWaveFormat(pwfx);
  // A record larger than the manager's largest grows the buffer rather than being cut.
  if (format_.size() < bytes) format_.resize(bytes, 0);
  std::memset(format_.data(), 0, format_.size());
  std::memcpy(format_.data(), pwfx, bytes);
}

void TMMACM::SetPWaveFilter(const TWaveFilter* filter) {
  if (!filter || filter->cbStruct < sizeof(TWaveFilter)) return;
  if (filter_.size() < filter->cbStruct) filter_.resize(filter->cbStruct, 0);
  std::memset(filter_.data(), 0, filter_.size());
  std::memcpy(filter_.data(), filter, filter->cbStruct);
}

const WAVEFORMATEX* TMMACM::GetPWaveFormat() const {
  return format_.empty() ? nullptr : reinterpret_cast<const WAVEFORMATEX*>(format_.data());
}

const TWaveFilter* TMMACM::GetPWaveFilter() const {
  return filter_.empty() ? nullptr : reinterpret_cast<const TWaveFilter*>(filter_.data());
}

bool TMMACM::GetFormatDescription(std::string& name, std::string& description) const {
  return acmGetFormatDescription(GetPWaveFormat(), name, description) == 1;
}

bool TMMACM::GetFilterDescription(std::string& name, std::string& description) const {
  return acmGetFilterDescription(GetPWaveFilter(), name, description) == 1;
}

namespace {

// Whether the `fmt ` chunk of a PCM file states its frame as its channels and depth give it.
// The parse mends a PCM record that does not, so that such a file still plays; a conversion
// writes a new file and must not build it on that guess.
bool StatesItsPcmFrame(const std::string& name) {
  std::unique_ptr<vant::riff::RiffFile> file;
  vant::riff::ChunkInfo riff, fmt;
  if (wioFileOpen(file, riff, kWioFile, kWaveForm, name) != kWioOk) return false;
  fmt.id = vant::riff::MakeFourCC('f', 'm', 't', ' ');
  uint8_t r[16];
  if (file->Descend(fmt, &riff, vant::riff::Search::kChunk) != vant::riff::Result::kOk ||
      file->ReadIn(fmt, r, sizeof r) != int64_t{sizeof r})
    return false;
  const uint32_t channels = vant::riff::Le16(r + 2), align = vant::riff::Le16(r + 12),
                 bits = vant::riff::Le16(r + 14);
  return bits != 0 && align == (bits + 7) / 8 * channels;
}

// The source file's format, nil when it cannot be read or holds no data.
PWAVEIOCB ReadSource(const std::string& name) {
  PWAVEIOCB cb;
  if (name.empty() || wioReadFileInfo(cb, name, kWaveForm, kWioFile) != kWioOk) return nullptr;
  if (!cb->wfx || cb->dwDataBytes <= 0) return nullptr;
  if (cb->wfx->wFormatTag == WAVE_FORMAT_PCM && !StatesItsPcmFrame(name)) return nullptr;
  return cb;
}

}  // namespace

bool TMMACM::QueryConvert(const WAVEFORMATEX* pwfx, const TWaveFilter* filter) const {
  if (!present_) return false;
  PWAVEIOCB src = ReadSource(Source);
  if (!src) return false;
  const WAVEFORMATEX* target = pwfx ? pwfx : src->wfx.get();
  return acmStreamOpen(nullptr, src->wfx.get(), target, filter,
                       ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME) == MMSYSERR_NOERROR;
}

bool TMMACM::CreateFile(const std::string& name) {
  if (!present_ || !ReadSource(Source) || name.empty()) return false;
  PWAVEIOCB cb;
  if (wioCreateFileInfo(cb, GetPWaveFormat()) != kWioOk) return true;
  if (wioWriteFileInfo(cb.get(), name) == kWioOk) wioWaveClose(cb.get());
  return true;
}

bool TMMACM::ConvertFile(const std::string& name) {
  if (!present_ || converters_ + codecs_ < 1) return false;
  ProcessFile(name, GetPWaveFormat(), nullptr);
  return true;
}

bool TMMACM::FilterFile(const std::string& name) {
  if (!present_ || filters_ < 1) return false;
  ProcessFile(name, nullptr, GetPWaveFilter());
  return true;
}

void TMMACM::ProcessFile(const std::string& name, const WAVEFORMATEX* pwfx,
                         const TWaveFilter* filter) {
  if (!present_ || name.empty()) return;
  PWAVEIOCB src = ReadSource(Source);
  // A source without readable sound converts to nothing: that is a failure, not a success.
  if (!src) throw EMMACMError(LoadResStr(24));
  if (!QueryConvert(pwfx, filter)) throw EMMACMError(LoadResStr(23));
  const WAVEFORMATEX* target = pwfx ? pwfx : src->wfx.get();

  bool cancelled = false, ok = false;
  std::string temp = name;
  vant::StagedHold hold;  // the new file's lock, until it is renamed or removed
  PWAVEIOCB dst;
  HACMSTREAM stream = nullptr;
  ACMSTREAMHEADER h{};
  std::vector<uint8_t> in, out;
  auto cleanup = [&] {
    if (h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
      h.cbSrcLength = static_cast<uint32_t>(h.dwSrcUser);
      h.cbDstLength = static_cast<uint32_t>(h.dwDstUser);
      const MMRESULT r = acmStreamUnprepareHeader(stream, &h);
      if (r != MMSYSERR_NOERROR) ShowError("acmStreamUnprepareHeader failed with error ", r);
    }
    if (stream) acmStreamClose(stream);
    stream = nullptr;
    if (dst) wioFreeFileInfo(dst);
    wioFreeFileInfo(src);
    if (!temp.empty() && wioFileExists(temp)) wioFileDelete(temp);
    hold.Release();
  };

  [&] {
    if (wioWaveOpen(src.get()) != kWioOk) return;
    const int64_t total = src->dwBytesLeft;
    if (wioCreateFileInfo(dst, target) != kWioOk) return;
    if (src->lpInfo) {
      RiffInitINFO(dst->lpInfo);
      RiffCopyInfo(dst->lpInfo.get(), src->lpInfo.get());
    }
    if (src->lpDisp) {
      RiffInitDISP(dst->lpDisp);
      RiffCopyDISP(dst->lpDisp.get(), src->lpDisp.get());
    }
    // The output goes to a new file beside the target, which replaces the target only once it
    // is complete.
    if (!wioFileCreateTemp(temp, hold)) {
      temp.clear();
      return;
    }
    if (wioWriteFileInfo(dst.get(), temp) != kWioOk) return;

    const WAVEFORMATEX* sf = src->wfx.get();
    const uint32_t align = std::max<uint32_t>(sf->nBlockAlign, 1);
    const uint32_t chunk = std::max(sf->nAvgBytesPerSec / align * align, align);
    MMRESULT r = acmStreamOpen(&stream, sf, target, filter, ACM_STREAMOPENF_NONREALTIME);
    if (r != MMSYSERR_NOERROR) return ShowError("acmStreamOpen failed with error ", r);
    uint32_t outSize = 0;
    r = acmStreamSize(stream, chunk, outSize, ACM_STREAMSIZEF_SOURCE);
    if (r != MMSYSERR_NOERROR) return ShowError("acmStreamSize failed with error ", r);
    in.assign(chunk, 0);
    out.assign(outSize, 0);
    h.cbStruct = sizeof h;
    h.pbSrc = in.data();
    h.cbSrcLength = chunk;
    h.dwSrcUser = chunk;
    h.pbDst = out.data();
    h.cbDstLength = outSize;
    h.dwDstUser = outSize;
    r = acmStreamPrepareHeader(stream, &h);
    if (r != MMSYSERR_NOERROR) return ShowError("acmStreamPrepareHeader failed with error ", r);

    std::string folder = name;
    wioExtractPath(folder);
    int64_t done = 0;
    uint32_t kept = 0;  // source bytes the stream left for the next call
    auto write = [&]() -> bool {
      if (h.cbDstLengthUsed == 0) return true;
      if (!GetDiskFree(folder.empty() ? "." : folder, int64_t{h.cbDstLengthUsed} + 10240))
        return false;
      return wioWaveWriteData(dst.get(), out.data(), h.cbDstLengthUsed) ==
             int64_t{h.cbDstLengthUsed};
    };
    auto convert = [&](uint32_t bytes, uint32_t flags) -> bool {
      h.cbSrcLength = bytes;
      h.cbDstLength = outSize;
      const MMRESULT cr = acmStreamConvert(stream, &h, flags);
      if (cr != MMSYSERR_NOERROR) {
        ShowError("acmStreamConvert failed with error ", cr);
        return false;
      }
      while (!(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE)) {
      }
      const uint32_t used = std::min(h.cbSrcLengthUsed, bytes);
      kept = bytes - used;
      if (kept) std::memmove(in.data(), in.data() + used, kept);
      done += used;
      return true;
    };
    while (src->dwBytesLeft > 0) {
      const int64_t n = wioWaveReadData(src.get(), in.data() + kept, chunk - kept);
      if (n <= 0) break;
      if (!convert(kept + static_cast<uint32_t>(n), ACM_STREAMCONVERTF_BLOCKALIGN)) return;
      if (!write()) return;
      if (OnProgress) OnProgress(this, done, total, cancelled);
      if (cancelled) return;
    }
    // The rest, and whatever the stream still holds.
    for (uint32_t flags = ACM_STREAMCONVERTF_END | ACM_STREAMCONVERTF_BLOCKALIGN;;) {
      if (!convert(kept, flags)) return;
      if (h.cbDstLengthUsed == 0 && flags != ACM_STREAMCONVERTF_END) {
        flags = ACM_STREAMCONVERTF_END;
        if (!convert(kept, flags)) return;
      }
      if (h.cbDstLengthUsed == 0) break;
      if (!write()) return;
    }
    if (wioWaveClose(dst.get()) != kWioOk) return;
    wioFreeFileInfo(dst);
    if (!wioFileReplace(temp, name)) return;
    temp.clear();
    ok = true;
  }();
  cleanup();
  if (!ok) throw EMMACMError(LoadResStr(cancelled ? 25 : 24));
}
