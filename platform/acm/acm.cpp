#include "acm.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "acmstream.h"

using vant::acm::CanDecode;
using vant::acm::CanEncode;
using vant::acm::IsLinear;

namespace {

// Version 4.00 (major, minor in the high half).
constexpr uint32_t kVersion = 0x04000000;
constexpr HACMDRIVERID kDriver = 1;
constexpr uint32_t kMaxFormatBytes = 1024;  // largest record a tag of ours uses, with room
constexpr uint32_t kMaxFilterBytes = sizeof(ECHOWAVEFILTER);

struct TagInfo {
  uint16_t tag;
  const char* name;
  uint16_t formatBytes;  // 18 + the extra bytes its records carry
};

constexpr TagInfo kTags[] = {
    {kAcmTagPCM, "PCM", 18},           {kAcmTagADPCM, "Microsoft ADPCM", 50},
    {kAcmTagFloat, "IEEE Float", 18},  {kAcmTagALaw, "CCITT A-Law", 18},
    {kAcmTagMuLaw, "CCITT u-Law", 18}, {kAcmTagIMA, "IMA ADPCM", 20},
    {kAcmTagGSM610, "GSM 6.10", 20},   {kAcmTagMPEG, "MPEG Layer-2", 40},
    {kAcmTagMP3, "MPEG Layer-3", 30},
};

const TagInfo* FindTag(uint32_t tag) {
  for (const TagInfo& t : kTags)
    if (t.tag == tag) return &t;
  return nullptr;
}

// The tags of ours FFmpeg has at least a decoder for (PCM and float always).
std::vector<const TagInfo*> Available() {
  std::vector<const TagInfo*> out;
  for (const TagInfo& t : kTags)
    if (t.tag == kAcmTagPCM || t.tag == kAcmTagFloat || CanDecode(t.tag)) out.push_back(&t);
  return out;
}

constexpr uint32_t kRates[] = {8000, 11025, 22050, 44100, 48000};

void BuildLinear(ACMWAVEFORMAT& f, uint16_t tag, int bits, int channels, uint32_t rate) {
  f = {};
  f.wFormatTag = tag;
  f.nChannels = static_cast<uint16_t>(channels);
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = static_cast<uint16_t>(bits);
  f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * rate;
}

// A standard record of a compressed tag, as the codec writes it; bytes holds at least 50.
bool BuildCompressed(uint8_t* out, uint16_t tag, int channels, uint32_t rate) {
  auto& f = *reinterpret_cast<ACMWAVEFORMAT*>(out);
  std::memset(out, 0, 50);
  f.wFormatTag = tag;
  f.nChannels = static_cast<uint16_t>(channels);
  f.nSamplesPerSec = rate;
  auto put16 = [out](int at, int v) {
    const uint16_t u = static_cast<uint16_t>(v);
    std::memcpy(out + at, &u, 2);
  };
  switch (tag) {
    case kAcmTagALaw:
    case kAcmTagMuLaw:
      f.wBitsPerSample = 8;
      f.nBlockAlign = static_cast<uint16_t>(channels);
      f.nAvgBytesPerSec = channels * rate;
      return true;
    case kAcmTagADPCM: {
      static constexpr int16_t coef[14] = {256, 0,   512, -256, 0,    0,   192,
                                           64,  240, 0,   460,  -208, 392, -232};
      int align = 256 * channels;
      if (rate > 11025) align *= static_cast<int>(rate / 11000);
      const int spb = (align - 7 * channels) * 8 / (4 * channels) + 2;
      f.wBitsPerSample = 4;
      f.nBlockAlign = static_cast<uint16_t>(align);
      f.nAvgBytesPerSec = static_cast<uint32_t>(uint64_t{rate} * align / spb);
      f.cbSize = 32;
      put16(18, spb);
      put16(20, 7);
      std::memcpy(out + 22, coef, sizeof coef);
      return true;
    }
    case kAcmTagIMA: {
      int align = 256 * channels;
      if (rate > 11025) align *= static_cast<int>(rate / 11000);
      const int spb = (align - 4 * channels) * 8 / (4 * channels) + 1;
      f.wBitsPerSample = 4;
      f.nBlockAlign = static_cast<uint16_t>(align);
      f.nAvgBytesPerSec = static_cast<uint32_t>(uint64_t{rate} * align / spb);
      f.cbSize = 2;
      put16(18, spb);
      return true;
    }
    case kAcmTagGSM610:
      if (channels != 1) return false;
      f.nBlockAlign = 65;
      f.nAvgBytesPerSec = rate * 65 / 320;
      f.cbSize = 2;
      put16(18, 320);
      return true;
    default:
      return false;
  }
}

std::string Describe(const ACMWAVEFORMAT& f) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%u.%03u kHz", f.nSamplesPerSec / 1000, f.nSamplesPerSec % 1000);
  std::string s = rate;
  if (f.wBitsPerSample) s += ", " + std::to_string(f.wBitsPerSample) + " Bit";
  s += f.nChannels == 1   ? ", Mono"
       : f.nChannels == 2 ? ", Stereo"
                          : ", " + std::to_string(f.nChannels) + " Channels";
  if (!IsLinear(&f) && f.nAvgBytesPerSec)
    s += ", " + std::to_string((f.nAvgBytesPerSec + 512) / 1024) + " KB/s";
  return s;
}

// The standard formats of a tag, in enumeration order; records of up to 50 bytes.
std::vector<std::vector<uint8_t>> StandardFormats(uint16_t tag) {
  std::vector<std::vector<uint8_t>> out;
  for (uint32_t rate : kRates) {
    for (int channels = 1; channels <= 2; ++channels) {
      if (tag == kAcmTagPCM) {
        for (int bits : {8, 16}) {
          std::vector<uint8_t> r(sizeof(ACMWAVEFORMAT));
          BuildLinear(*reinterpret_cast<ACMWAVEFORMAT*>(r.data()), tag, bits, channels, rate);
          out.push_back(r);
        }
      } else if (tag == kAcmTagFloat) {
        std::vector<uint8_t> r(sizeof(ACMWAVEFORMAT));
        BuildLinear(*reinterpret_cast<ACMWAVEFORMAT*>(r.data()), tag, 32, channels, rate);
        out.push_back(r);
      } else {
        std::vector<uint8_t> r(50);
        if (BuildCompressed(r.data(), tag, channels, rate)) {
          r.resize(acmFormatBytes(reinterpret_cast<ACMWAVEFORMAT*>(r.data())));
          out.push_back(r);
        }
      }
    }
  }
  return out;
}

bool Fits(const ACMWAVEFORMAT& f, const ACMWAVEFORMAT* want, uint32_t flags) {
  if (!want) return true;
  if ((flags & ACM_FORMATENUMF_WFORMATTAG) && f.wFormatTag != want->wFormatTag) return false;
  if ((flags & ACM_FORMATENUMF_NCHANNELS) && f.nChannels != want->nChannels) return false;
  if ((flags & ACM_FORMATENUMF_NSAMPLESPERSEC) && f.nSamplesPerSec != want->nSamplesPerSec)
    return false;
  if ((flags & ACM_FORMATENUMF_WBITSPERSAMPLE) && f.wBitsPerSample != want->wBitsPerSample)
    return false;
  return true;
}

bool Possible(const ACMWAVEFORMAT* src, const ACMWAVEFORMAT* dst) {
  return acmStreamOpen(nullptr, src, dst, nullptr, ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
}

}  // namespace

uint32_t acmFormatBytes(const ACMWAVEFORMAT* pwfx) {
  if (!pwfx) return 0;
  return pwfx->wFormatTag == kAcmTagPCM ? sizeof(ACMWAVEFORMAT)
                                        : sizeof(ACMWAVEFORMAT) + pwfx->cbSize;
}

uint32_t acmGetVersion() { return kVersion; }

MMRESULT acmMetrics(uint32_t metric, uint32_t& value) {
  const auto tags = Available();
  switch (metric) {
    case ACM_METRIC_COUNT_DRIVERS:
      value = 1;
      return MMSYSERR_NOERROR;
    case ACM_METRIC_COUNT_CODECS: {
      value = 0;
      for (const TagInfo* t : tags) value += t->tag != kAcmTagPCM && t->tag != kAcmTagFloat;
      return MMSYSERR_NOERROR;
    }
    case ACM_METRIC_COUNT_CONVERTERS:
      value = 1;  // the PCM and float resampler
      return MMSYSERR_NOERROR;
    case ACM_METRIC_COUNT_FILTERS:
      value = 2;
      return MMSYSERR_NOERROR;
    case ACM_METRIC_MAX_SIZE_FORMAT:
      value = kMaxFormatBytes;
      return MMSYSERR_NOERROR;
    case ACM_METRIC_MAX_SIZE_FILTER:
      value = kMaxFilterBytes;
      return MMSYSERR_NOERROR;
    default:
      return MMSYSERR_NOTSUPPORTED;
  }
}

MMRESULT acmDriverEnum(const ACMDRIVERENUMCB& callback) {
  if (!callback) return MMSYSERR_INVALPARAM;
  callback(kDriver);
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverDetails(HACMDRIVERID id, ACMDRIVERDETAILS& details) {
  if (id != kDriver) return MMSYSERR_INVALHANDLE;
  details.cFormatTags = static_cast<uint32_t>(Available().size());
  details.cFilterTags = 2;
  details.szShortName = "FFmpeg";
  details.szLongName = "FFmpeg codecs and resampler";
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagDetails(ACMFORMATTAGDETAILS& d, uint32_t flags) {
  const auto tags = Available();
  const TagInfo* t = nullptr;
  if (flags == ACM_FORMATTAGDETAILSF_FORMATTAG) {
    for (const TagInfo* x : tags)
      if (x->tag == d.dwFormatTag) t = x;
  } else if (flags == ACM_FORMATTAGDETAILSF_INDEX) {
    if (d.dwFormatTagIndex < tags.size()) t = tags[d.dwFormatTagIndex];
  } else {
    return MMSYSERR_INVALFLAG;
  }
  if (!t) return ACMERR_NOTPOSSIBLE;
  d.dwFormatTag = t->tag;
  d.cbFormatSize = t->formatBytes;
  d.cStandardFormats = static_cast<uint32_t>(StandardFormats(t->tag).size());
  d.szFormatTag = t->name;
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagEnum(const ACMFORMATTAGENUMCB& callback) {
  if (!callback) return MMSYSERR_INVALPARAM;
  const auto tags = Available();
  for (uint32_t i = 0; i < tags.size(); ++i) {
    ACMFORMATTAGDETAILS d;
    d.dwFormatTagIndex = i;
    acmFormatTagDetails(d, ACM_FORMATTAGDETAILSF_INDEX);
    if (!callback(kDriver, d)) break;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatDetails(ACMFORMATDETAILS& d, uint32_t flags) {
  if (!d.pwfx || d.cbwfx < sizeof(ACMWAVEFORMAT)) return MMSYSERR_INVALPARAM;
  if (flags == ACM_FORMATDETAILSF_FORMAT) {
    if (!FindTag(d.pwfx->wFormatTag)) return ACMERR_NOTPOSSIBLE;
    d.dwFormatTag = d.pwfx->wFormatTag;
    d.szFormat = Describe(*d.pwfx);
    return MMSYSERR_NOERROR;
  }
  if (flags != ACM_FORMATDETAILSF_INDEX) return MMSYSERR_INVALFLAG;
  if (!FindTag(d.dwFormatTag)) return ACMERR_NOTPOSSIBLE;
  const auto formats = StandardFormats(static_cast<uint16_t>(d.dwFormatTag));
  if (d.dwFormatIndex >= formats.size()) return ACMERR_NOTPOSSIBLE;
  const auto& r = formats[d.dwFormatIndex];
  if (r.size() > d.cbwfx) return MMSYSERR_INVALPARAM;
  std::memcpy(d.pwfx, r.data(), r.size());
  d.szFormat = Describe(*d.pwfx);
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatEnum(ACMFORMATDETAILS& d, const ACMFORMATENUMCB& callback, uint32_t flags) {
  if (!callback || !d.pwfx || d.cbwfx < sizeof(ACMWAVEFORMAT)) return MMSYSERR_INVALPARAM;
  // The given record is the constraint; enumeration overwrites the caller's buffer.
  std::vector<uint8_t> given(
      reinterpret_cast<uint8_t*>(d.pwfx),
      reinterpret_cast<uint8_t*>(d.pwfx) + std::min<uint32_t>(d.cbwfx, acmFormatBytes(d.pwfx)));
  given.resize(std::max<size_t>(given.size(), sizeof(ACMWAVEFORMAT)), 0);
  const auto* want = reinterpret_cast<const ACMWAVEFORMAT*>(given.data());
  const bool convert = flags & (ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST);
  for (const TagInfo* t : Available()) {
    if ((flags & ACM_FORMATENUMF_WFORMATTAG) && t->tag != want->wFormatTag) continue;
    if ((flags & ACM_FORMATENUMF_INPUT) && !CanDecode(t->tag) && t->tag != kAcmTagPCM &&
        t->tag != kAcmTagFloat)
      continue;
    if ((flags & ACM_FORMATENUMF_OUTPUT) && !CanEncode(t->tag) && t->tag != kAcmTagPCM &&
        t->tag != kAcmTagFloat)
      continue;
    const auto formats = StandardFormats(t->tag);
    for (uint32_t i = 0; i < formats.size(); ++i) {
      const auto* f = reinterpret_cast<const ACMWAVEFORMAT*>(formats[i].data());
      if (!Fits(*f, want, flags & ~ACM_FORMATENUMF_WFORMATTAG)) continue;
      if (convert && !Possible(want, f)) continue;
      if (formats[i].size() > d.cbwfx) continue;
      std::memcpy(d.pwfx, formats[i].data(), formats[i].size());
      d.dwFormatIndex = i;
      d.dwFormatTag = t->tag;
      d.szFormat = Describe(*f);
      if (!callback(kDriver, d)) return MMSYSERR_NOERROR;
    }
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(const ACMWAVEFORMAT* src, ACMWAVEFORMAT* dst, uint32_t dstBytes,
                          uint32_t flags) {
  if (!src || !dst || dstBytes < sizeof(ACMWAVEFORMAT)) return MMSYSERR_INVALPARAM;
  const uint16_t tag =
      (flags & ACM_FORMATSUGGESTF_WFORMATTAG) ? dst->wFormatTag : uint16_t{kAcmTagPCM};
  const int channels = (flags & ACM_FORMATSUGGESTF_NCHANNELS) ? dst->nChannels : src->nChannels;
  const uint32_t rate =
      (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? dst->nSamplesPerSec : src->nSamplesPerSec;
  int bits = 16;
  if (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) {
    bits = dst->wBitsPerSample;
  } else if (IsLinear(src) && src->wFormatTag == kAcmTagPCM && tag == kAcmTagPCM) {
    bits = src->wBitsPerSample;
  }
  std::vector<uint8_t> out(std::max<size_t>(50, sizeof(ACMWAVEFORMAT)), 0);
  auto* f = reinterpret_cast<ACMWAVEFORMAT*>(out.data());
  if (tag == kAcmTagPCM || tag == kAcmTagFloat) {
    BuildLinear(*f, tag,
                tag == kAcmTagFloat && !(flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? 32 : bits,
                channels, rate);
  } else if (!BuildCompressed(out.data(), tag, channels, rate)) {
    return ACMERR_NOTPOSSIBLE;
  }
  if (acmFormatBytes(f) > dstBytes || !Possible(src, f)) return ACMERR_NOTPOSSIBLE;
  std::memcpy(dst, out.data(), acmFormatBytes(f));
  return MMSYSERR_NOERROR;
}

namespace {

struct FilterInfo {
  uint32_t tag;
  const char* name;
  uint32_t bytes;
};
constexpr FilterInfo kFilters[] = {{kAcmFilterVolume, "Volume", sizeof(VOLUMEWAVEFILTER)},
                                   {kAcmFilterEcho, "Echo", sizeof(ECHOWAVEFILTER)}};

}  // namespace

MMRESULT acmFilterTagDetails(ACMFILTERTAGDETAILS& d, uint32_t flags) {
  if (flags != ACM_FILTERTAGDETAILSF_FILTERTAG) return MMSYSERR_INVALFLAG;
  for (const FilterInfo& f : kFilters) {
    if (f.tag == d.dwFilterTag) {
      d.cbFilterSize = f.bytes;
      d.szFilterTag = f.name;
      return MMSYSERR_NOERROR;
    }
  }
  return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmFilterTagEnum(const ACMFILTERTAGENUMCB& callback) {
  if (!callback) return MMSYSERR_INVALPARAM;
  for (const FilterInfo& f : kFilters) {
    ACMFILTERTAGDETAILS d;
    d.dwFilterTag = f.tag;
    d.cbFilterSize = f.bytes;
    d.szFilterTag = f.name;
    if (!callback(kDriver, d)) break;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmFilterDetails(ACMFILTERDETAILS& d, uint32_t flags) {
  if (flags != ACM_FILTERDETAILSF_FILTER) return MMSYSERR_INVALFLAG;
  if (!d.pwfltr || d.cbwfltr < sizeof(WAVEFILTER)) return MMSYSERR_INVALPARAM;
  const WAVEFILTER& w = *d.pwfltr;
  char text[64];
  if (w.dwFilterTag == kAcmFilterVolume && d.cbwfltr >= sizeof(VOLUMEWAVEFILTER)) {
    const auto& v = *reinterpret_cast<const VOLUMEWAVEFILTER*>(d.pwfltr);
    std::snprintf(text, sizeof text, "%u%% Volume",
                  static_cast<unsigned>((uint64_t{v.dwVolume} * 100 + 0x8000) >> 16));
  } else if (w.dwFilterTag == kAcmFilterEcho && d.cbwfltr >= sizeof(ECHOWAVEFILTER)) {
    const auto& e = *reinterpret_cast<const ECHOWAVEFILTER*>(d.pwfltr);
    std::snprintf(text, sizeof text, "%u%% Echo, %u ms Delay",
                  static_cast<unsigned>((uint64_t{e.dwVolume} * 100 + 0x8000) >> 16),
                  static_cast<unsigned>(e.dwDelay));
  } else {
    return ACMERR_NOTPOSSIBLE;
  }
  d.dwFilterTag = w.dwFilterTag;
  d.szFilter = text;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* stream, const ACMWAVEFORMAT* src, const ACMWAVEFORMAT* dst,
                       const WAVEFILTER* filter, uint32_t flags) {
  if (stream) *stream = nullptr;
  if (!stream && !(flags & ACM_STREAMOPENF_QUERY)) return MMSYSERR_INVALPARAM;
  MMRESULT result;
  auto s = vant::acm::MakeStream(src, dst, filter, result);
  if (!s) return result;
  if (!(flags & ACM_STREAMOPENF_QUERY)) *stream = s.release();
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream) {
  if (!stream) return MMSYSERR_INVALHANDLE;
  delete stream;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t& output, uint32_t flags) {
  if (!stream) return MMSYSERR_INVALHANDLE;
  output = (flags & ACM_STREAMSIZEF_DESTINATION) ? stream->SourceFor(input)
                                                 : stream->DestinationFor(input);
  return output == 0 && input != 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
}

// The prepared lengths are kept in the driver's words, so unpreparing can check them.
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* h) {
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!h || h->cbStruct < sizeof(ACMSTREAMHEADER) || !h->pbSrc || !h->pbDst)
    return MMSYSERR_INVALPARAM;
  h->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  h->dwReservedDriver[0] = h->cbSrcLength;
  h->dwReservedDriver[1] = h->cbDstLength;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* h) {
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!h) return MMSYSERR_INVALPARAM;
  if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (h->cbSrcLength != h->dwReservedDriver[0] || h->cbDstLength != h->dwReservedDriver[1])
    return MMSYSERR_INVALPARAM;
  h->fdwStatus = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* h, uint32_t flags) {
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!h) return MMSYSERR_INVALPARAM;
  if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (h->cbSrcLength > h->dwReservedDriver[0] || h->cbDstLength > h->dwReservedDriver[1])
    return MMSYSERR_INVALPARAM;
  h->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  h->cbSrcLengthUsed = 0;
  h->cbDstLengthUsed = 0;
  const MMRESULT r = stream->Convert(*h, flags);
  h->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return r;
}

MMRESULT acmStreamReset(HACMSTREAM stream) {
  if (!stream) return MMSYSERR_INVALHANDLE;
  stream->Reset();
  return MMSYSERR_NOERROR;
}
