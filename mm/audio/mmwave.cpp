#include "mmwave.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <iterator>
#include <ostream>

#include "clock.h"
#include "dispatch.h"
#include "mmpcmsup.h"
#include "msgtable.h"
#include "replacingfile.h"
#include "simplesound.h"
#include "ui_application.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// File layer

int64_t TMMWaveFileLayer::WriteData(TWAVEIOCB* block, const void* data, int64_t bytes) {
  return wioWaveWriteData(block, data, bytes);
}

int TMMWaveFileLayer::CloseWave(TWAVEIOCB* block) { return wioWaveClose(block); }

bool TMMWaveFileLayer::Rename(const std::string& from, const std::string& to) {
  return wioFileReplace(from, to);
}

bool TMMWaveFileLayer::DiskFree(const std::string& path, int64_t needed) {
  return GetDiskFree(path, needed);
}

namespace {

TMMWaveFileLayer g_real_layer;
TMMWaveFileLayer* g_layer = nullptr;

// The hourglass while a large image is copied, on the GUI thread only (the player window loads
// its memory wave on a worker).
class BusyCursor {
 public:
  explicit BusyCursor(bool show) : show_(show && vant::GetDispatcher().IsGuiThread()) {
    if (show_) {
      saved_ = vant::Screen->GetCursor();
      vant::Screen->SetCursor(vant::crHourGlass);
    }
  }
  ~BusyCursor() {
    if (show_) vant::Screen->SetCursor(saved_);
  }

 private:
  bool show_;
  vant::TCursor saved_ = vant::crDefault;
};

constexpr int64_t kMinIOBuffer = 8192;
constexpr int64_t kBusyImageBytes = 500000;
constexpr int64_t kSpaceReserve = 10240;

// A new file gets the mode the target has, else what a plain create would give it (the
// temporary file itself is private to its maker).
void GiveModeOf(const std::string& tmp, const std::string& target) {
  struct stat st {};
  ::chmod(tmp.c_str(), ::stat(target.c_str(), &st) == 0 ? st.st_mode & 07777 : vant::NewFileMode());
}

// "InfoChunk %s not found" with the id.
std::string InfoNotFound(const std::string& id) {
  std::string text = vant::LibraryMessage(28132);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, id);
  return text;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  if (a == b) return true;
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

}  // namespace

TMMWaveFileLayer& GetWaveFileLayer() { return g_layer ? *g_layer : g_real_layer; }
void SetWaveFileLayer(TMMWaveFileLayer* layer) { g_layer = layer; }

// ---------------------------------------------------------------------------------------------
// Construction and identity

TMMWave::TMMWave(bool memoryWave) {
  if (memoryWave) image_ = std::make_unique<std::vector<uint8_t>>();
}

TMMWave::~TMMWave() {
  assigning_ = true;  // no notifications from a dying wave
  ClearWave();
}

void TMMWave::Fail(int message) const { throw EMMWaveError(vant::LibraryMessage(message)); }

TMMWave::FileStamp TMMWave::StampOf(const std::string& name) {
  struct stat st {};
  if (name.empty() || ::stat(name.c_str(), &st) != 0) return {};
  return {static_cast<int64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

WAVEFORMATEX* TMMWave::GetPWaveFormat() const { return block_ ? block_->wfx.get() : nullptr; }

void TMMWave::Changed() {
  if (assigning_) {
    changed_while_assigning_ = true;
    return;
  }
  changed_while_assigning_ = false;
  TMMObject::Changed();
  observable_.NotifyObservers(this);
}

void TMMWave::ClearWave() {
  StopSound();
  if (block_) wioWaveClose(block_.get());
  opened_ = false;
  file_name_.clear();
  stamp_ = {};
  block_.reset();
  regions_.clear();
  region_ = 0;
  region_bytes_ = 0;
  start_sample_ = end_sample_ = position_ = bytes_left_ = total_play_bytes_ = 0;
  if (image_) image_->clear();
}

void TMMWave::TakeBlock(PWAVEIOCB block) {
  block_ = std::move(block);
  start_sample_ = block_->dwFirstSample;
  end_sample_ = block_->dwLastSample;
  position_ = block_->dwPosition;
  bytes_left_ = block_->dwBytesLeft;
}

void TMMWave::FreeWave() {
  if (!file_name_.empty() || block_ || (image_ && !image_->empty())) {
    ClearWave();
    Changed();
  }
}

void TMMWave::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (format == nullptr) return;
  PWAVEIOCB block;
  if (wioCreateFileInfo(block, format) != kWioOk) return;
  SetPWaveIOCB(std::move(block));
}

void TMMWave::SetPWaveIOCB(PWAVEIOCB block) {
  if (IsMemWave()) Fail(28131);
  if (block && block.get() == block_.get()) {
    (void)block.release();  // the caller handed back the block already held
    return;
  }
  ClearWave();
  if (block) {
    const bool raw = block->dwFlags == kWioRaw;
    TakeBlock(std::move(block));
    if (raw) file_name_ = block_->lpFileName;
  }
  InitRegionList();
  Changed();
}

const uint8_t* TMMWave::GetPWaveData() const {
  if (!IsMemWave()) throw EMMWaveError(vant::LibraryMessage(28063));
  if (image_->empty() || !block_) return nullptr;
  return image_->data() + block_->dwDataOffset;
}

bool TMMWave::IsOwnFile(const std::string& full) const {
  return !IsMemWave() && SameFile(full, file_name_);
}

// ---------------------------------------------------------------------------------------------
// Loading

void TMMWave::LoadFromStream(std::istream& stream) {
  if (!IsMemWave()) return;
  auto image = std::make_unique<std::vector<uint8_t>>();
  stream.clear();
  stream.seekg(0, std::ios::end);
  const std::streamoff size = stream.tellg();
  stream.seekg(0);
  {
    BusyCursor busy(size > kBusyImageBytes);
    if (size > 0) {
      image->resize(static_cast<size_t>(size));
      stream.read(reinterpret_cast<char*>(image->data()), size);
      image->resize(static_cast<size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
    } else {
      // A stream that cannot tell its size is read to its end.
      stream.clear();
      image->assign(std::istreambuf_iterator<char>(stream), {});
    }
  }
  PWAVEIOCB block;
  if (image->empty() || wioBuildFileInfoFromMem(block, image->data(),
                                                static_cast<int64_t>(image->size())) != kWioOk) {
    Fail(28130);
  }
  ClearWave();
  image_ = std::move(image);  // the block points into the image, which does not move
  TakeBlock(std::move(block));
  position_ = 0;
  InitRegionList();
  Changed();
}

void TMMWave::SaveToStream(std::ostream& stream) {
  if (!image_ || image_->empty()) return;
  BusyCursor busy(true);
  stream.write(reinterpret_cast<const char*>(image_->data()),
               static_cast<std::streamsize>(image_->size()));
}

void TMMWave::SetFileName(const std::string& name) {
  std::string full = name;
  if (!full.empty()) wioGetFullPathName(full);
  if (IsMemWave()) {
    if (full.empty()) return;
    std::ifstream file(full, std::ios::binary);
    if (!file) Fail(wioFileExists(full) ? 28133 : 28130);
    try {
      LoadFromStream(file);
    } catch (const EMMWaveError&) {
      Fail(wioFileExists(full) ? 28133 : 28130);
    }
    file_name_ = full;
    return;
  }
  if (!full.empty() && full == file_name_ && StampOf(full) == stamp_) return;
  if (full.empty()) {
    FreeWave();
    return;
  }
  const bool exists = wioFileExists(full);
  PWAVEIOCB block;
  if (exists && wioReadFileInfo(block, full, kWaveForm, kWioFile) == kWioOk) {
    ClearWave();
    TakeBlock(std::move(block));
    file_name_ = full;
    stamp_ = StampOf(full);
    InitRegionList();
    Changed();
    return;
  }
  if (exists || file_must_exist_) Fail(exists ? 28133 : 28130);
  ClearWave();
  file_name_ = full;  // a file to be made later
  Changed();
}

void TMMWave::ReloadIfReplaced(bool byPath) {
  if (!block_ || IsMemWave() || block_->dwFlags != kWioFile || block_->created || block_->dirty ||
      file_name_.empty()) {
    return;
  }
  const int64_t now_ms = vant::GetClock().NowMillis();
  if (!byPath && now_ms - stamp_asked_ms_ < kWaveFileCheckMillis) return;
  stamp_asked_ms_ = now_ms;
  if (!byPath && block_->hmmio) {
    // The open file itself tells whether it was changed in place or lost its name.
    vant::riff::FileStamp open;
    if (block_->hmmio->Stamp(open) && open.links > 0 && open.size == stamp_.size &&
        open.mtimeNs == stamp_.mtime) {
      return;
    }
  }
  const FileStamp now = StampOf(file_name_);
  if (now == stamp_) return;
  stamp_ = now;
  PWAVEIOCB fresh;
  const bool wasOpen = opened_;
  const int64_t played = wasOpen ? BytesToSamples(total_play_bytes_ - bytes_left_)
                                 : TimeFormatToSamples(GetPosition());
  if (now.size < 0 || wioReadFileInfo(fresh, file_name_, kWaveForm, kWioFile) != kWioOk) {
    // Gone, or no longer a wave: nothing more is read from it.
    wioWaveClose(block_.get());
    bytes_left_ = 0;
    region_bytes_ = 0;
    return;
  }
  const bool wholeData = end_sample_ >= block_->dwDataSamples;
  wioWaveClose(block_.get());
  block_ = std::move(fresh);
  end_sample_ = wholeData ? block_->dwLastSample : std::min(end_sample_, block_->dwLastSample);
  start_sample_ = std::min(start_sample_, end_sample_);
  InitRegionList();
  if (!wasOpen) return;
  if (wioWaveOpen(block_.get()) != kWioOk) {
    opened_ = false;
    bytes_left_ = 0;
    region_bytes_ = 0;
    return;
  }
  SeekToSample(played);
}

void TMMWave::Assign(const vant::TPersistent* source) {
  if (source == nullptr) {
    FreeWave();
    SetCutList(nullptr);
    return;
  }
  const auto* src = dynamic_cast<const TMMWave*>(source);
  if (src == nullptr || (src->IsMemWave() && !IsMemWave())) {
    TMMObject::Assign(source);
    return;
  }
  if (src == this) return;
  assigning_ = true;
  changed_while_assigning_ = false;
  try {
    ClearWave();
    Changed();
    file_must_exist_ = src->file_must_exist_;
    if (IsMemWave()) {
      if (src->IsMemWave() && !src->image_->empty()) {
        std::vector<uint8_t> copy(*src->image_);
        auto image = std::make_unique<std::vector<uint8_t>>(std::move(copy));
        PWAVEIOCB block;
        if (wioBuildFileInfoFromMem(block, image->data(), static_cast<int64_t>(image->size())) !=
            kWioOk) {
          Fail(28130);
        }
        image_ = std::move(image);
        TakeBlock(std::move(block));
        file_name_ = src->file_name_;
      } else if (!src->file_name_.empty()) {
        SetFileName(src->file_name_);
      }
    } else if (!src->file_name_.empty()) {
      SetFileName(src->file_name_);
    } else if (src->GetPWaveFormat()) {
      SetPWaveFormat(src->GetPWaveFormat());
    }
    time_format_ = src->time_format_;
    if (block_) {
      end_sample_ = std::clamp<int64_t>(src->end_sample_, 0, block_->dwDataSamples);
      start_sample_ = std::clamp<int64_t>(src->start_sample_, 0, end_sample_);
    }
    position_ = src->position_;
    io_buffer_size_ = src->io_buffer_size_;
    cut_list_ = src->cut_list_;
    InitRegionList();
  } catch (...) {
    assigning_ = false;
    if (changed_while_assigning_) Changed();
    throw;
  }
  assigning_ = false;
  if (changed_while_assigning_) Changed();
}

// ---------------------------------------------------------------------------------------------
// Time units and read-only values

int64_t TMMWave::SamplesToBytes(int64_t samples) const {
  return GetPWaveFormat() ? wioSamplesToBytesEx(block_.get(), samples) : 0;
}

int64_t TMMWave::BytesToSamples(int64_t bytes) const {
  return GetPWaveFormat() ? wioBytesToSamplesEx(block_.get(), bytes) : 0;
}

int64_t TMMWave::SamplesToTimeFormat(int64_t samples) const {
  if (!GetPWaveFormat()) return 0;
  switch (time_format_) {
    case tfMillisecond:
      return wioSamplesToTimeEx(block_.get(), samples);
    case tfByte:
      return wioSamplesToBytesEx(block_.get(), samples);
    default:
      return samples;
  }
}

int64_t TMMWave::TimeFormatToSamples(int64_t t) const {
  if (!GetPWaveFormat()) return 0;
  switch (time_format_) {
    case tfMillisecond:
      return wioTimeToSamplesEx(block_.get(), t);
    case tfByte:
      return wioBytesToSamplesEx(block_.get(), t);
    default:
      return t;
  }
}

void TMMWave::SetTimeFormat(TMMTimeFormats f) {
  time_format_ = f;
  InitRegionList();
}

int TMMWave::GetBitLength() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f ? f->wBitsPerSample : 0;
}

TMMMode TMMWave::GetMode() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (!f || f->nChannels <= 1) return mMono;
  return f->nChannels == 2 ? mStereo : mMultiChannel;
}

int TMMWave::GetFormatTag() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f ? f->wFormatTag : 0;
}

std::string TMMWave::GetFormatString() const {
  if (!GetPWaveFormat()) return vant::LibraryMessage(28006);
  std::string text;
  wioGetFormatName(GetPWaveFormat(), text);
  return text;
}

int TMMWave::GetSampleRate() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f ? static_cast<int>(f->nSamplesPerSec) : 11025;
}

int64_t TMMWave::GetFileSize() const { return block_ ? block_->dwFileSize : 0; }

int64_t TMMWave::GetDataSize() const {
  return block_ ? SamplesToTimeFormat(block_->dwDataSamples) : 0;
}

// ---------------------------------------------------------------------------------------------
// Play regions and position

void TMMWave::SetCutList(TMMCutList* list) {
  cut_list_ = list;
  InitRegionList();
}

void TMMWave::InitRegionList() {
  regions_.clear();
  region_ = 0;
  region_bytes_ = 0;
  if (!GetPWaveFormat()) return;
  int64_t a = RealSamplesToSamples(start_sample_);
  const int64_t b = RealSamplesToSamples(end_sample_);
  const auto add = [this](int64_t from, int64_t length) {
    regions_.push_back({from, SamplesToBytes(from), length, SamplesToBytes(length)});
  };
  const std::vector<std::pair<int64_t, int64_t>> cuts = CutRegions();
  if (cuts.empty()) {
    add(a, b - a);
    return;
  }
  size_t i = 0;
  while (i < cuts.size() && cuts[i].first + cuts[i].second < a) ++i;
  if (i < cuts.size() && cuts[i].first <= a && a < cuts[i].first + cuts[i].second) {
    a = std::max(a, cuts[i].first + cuts[i].second);
  }
  for (;; ++i) {
    if (i < cuts.size() && cuts[i].first < b) {
      if (cuts[i].first - a > 0) add(a, cuts[i].first - a);
      a = cuts[i].first + cuts[i].second;
    } else {
      if (b - a > 0) add(a, b - a);
      break;
    }
  }
  if (regions_.empty()) add(a, 0);
}

void TMMWave::SetStartPos(int64_t t) {
  if (!block_) return;
  start_sample_ = std::clamp<int64_t>(TimeFormatToSamples(t), 0, end_sample_);
  InitRegionList();
}

void TMMWave::SetEndPos(int64_t t) {
  if (!block_) return;
  end_sample_ = std::clamp<int64_t>(TimeFormatToSamples(t), start_sample_, block_->dwDataSamples);
  InitRegionList();
}

int64_t TMMWave::GetStartPos() const { return block_ ? SamplesToTimeFormat(start_sample_) : -1; }
int64_t TMMWave::GetEndPos() const { return block_ ? SamplesToTimeFormat(end_sample_) : -1; }

int64_t TMMWave::GetLengthSamples() const {
  if (!block_) return 0;
  if (regions_.empty()) return end_sample_ - start_sample_;
  int64_t sum = 0;
  for (const Region& r : regions_) sum += r.lengthSamples;
  return sum;
}

int64_t TMMWave::GetPosition() const { return block_ ? SamplesToTimeFormat(position_) : -1; }

void TMMWave::SetPosition(int64_t t) {
  if (!block_) return;
  SeekToSample(TimeFormatToSamples(t));
}

void TMMWave::SeekToSample(int64_t sample) {
  position_ = sample;
  if (!opened_) return;
  const int64_t p = std::clamp<int64_t>(position_, 0, GetLengthSamples());
  position_ = p;
  total_play_bytes_ = GetLengthBytes();
  bytes_left_ = std::max<int64_t>(total_play_bytes_ - SamplesToBytes(p), 0);
  region_ = 0;
  region_bytes_ = 0;
  InitPlayFadeList(true);
  int64_t sum = 0;
  size_t i = 0;
  for (; i < regions_.size(); ++i) {
    sum += regions_[i].lengthSamples;
    if (sum >= p) break;
  }
  if (i == regions_.size()) Fail(28147);
  const Region& r = regions_[i];
  const int64_t fileSample = SamplesToRealSamples(r.startSample + r.lengthSamples - (sum - p));
  if (wioWaveSetPosition(block_.get(), fileSample) != kWioOk &&
      wioWaveSetPosition(block_.get(), fileSample) != kWioOk) {
    Fail(28147);
  }
  region_ = i;
  region_bytes_ = SamplesToBytes(sum - p);
}

void TMMWave::InitPlayFadeList(bool) {}

std::vector<std::pair<int64_t, int64_t>> TMMWave::CutRegions() const {
  std::vector<std::pair<int64_t, int64_t>> cuts;
  if (cut_list_ == nullptr) return cuts;
  for (int32_t i = 0; i < cut_list_->Count(); ++i) {
    const TMMCutRegion& r = cut_list_->Get(i);
    cuts.emplace_back(r.dwStartSample, r.dwLengthSamples);
  }
  return cuts;
}

void TMMWave::ApplyPlayFades(uint8_t* data, int64_t bytes) {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (play_fade_list_ && play_fade_list_->Count() > 1 && !ignore_fades_ &&
      f->wFormatTag == WAVE_FORMAT_PCM) {
    pcmVolumeFade(f, data, bytes, *play_fade_list_);
  }
}

void TMMWave::SetIOBufSize(int64_t n) {
  if (n == io_buffer_size_) return;
  io_buffer_size_ = std::max(n, kMinIOBuffer);
  if (block_ && block_->hmmio) ApplyIOBufferSize(28137);
}

void TMMWave::ApplyIOBufferSize(int message) {
  if (wioSetIOBufferSize(block_.get(), io_buffer_size_) != kWioOk) Fail(message);
}

void TMMWave::SetIgnoreFades(bool b) {
  if (opened_) throw EMMWaveError("Change to property while file was open");
  ignore_fades_ = b;
}

void TMMWave::OpenFile() {
  if (!block_) return;
  ReloadIfReplaced(true);
  if (wioWaveOpen(block_.get()) != kWioOk) Fail(28138);
  ApplyIOBufferSize(28137);
  InitRegionList();
  InitPlayFadeList(false);
  opened_ = true;
  SetPosition(GetPosition());
}

void TMMWave::CloseFile() {
  if (block_) {
    const bool wrote = block_->dirty;
    wioWaveClose(block_.get());
    // Our own writes are no replacement of the file.
    if (wrote) stamp_ = StampOf(file_name_);
  }
  opened_ = false;
  position_ = 0;
  bytes_left_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Reading and writing

int64_t TMMWave::ReadInternal(void* buffer, int64_t bytes) {
  return wioWaveReadData(block_.get(), buffer, bytes);
}

int64_t TMMWave::ReadDataBytes(void* buffer, int64_t bytes) {
  end_block_ = false;
  if (!block_ || bytes_left_ <= 0 || buffer == nullptr || bytes <= 0) return -1;
  ReloadIfReplaced(false);
  if (bytes_left_ <= 0) return -1;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t want = std::min(bytes, bytes_left_);
  int64_t got = 0;
  while (want > 0) {
    if (region_bytes_ > 0) {
      const int64_t n = ReadInternal(out + got, std::min(want, region_bytes_));
      if (n <= 0) break;
      got += n;
      want -= n;
      region_bytes_ -= n;
    } else {
      if (region_ + 1 >= regions_.size()) {
        bytes_left_ = 0;
        break;
      }
      ++region_;
      region_bytes_ = regions_[region_].lengthBytes;
      if (wioWaveSetPosition(block_.get(), SamplesToRealSamples(regions_[region_].startSample)) !=
          kWioOk) {
        break;
      }
    }
  }
  if (got == 0) {
    // One block of silence ends the data for a reader that waits for bytes.
    const int64_t n = std::min<int64_t>(bytes, 4);
    std::memset(out, 0, static_cast<size_t>(n));
    bytes_left_ = 0;
    region_bytes_ = 0;
    position_ = GetLengthSamples();
    end_block_ = true;
    return n;
  }
  ApplyPlayFades(out, got);
  bytes_left_ = std::max<int64_t>(bytes_left_ - got, 0);
  position_ = BytesToSamples(total_play_bytes_ - bytes_left_);
  return got;
}

int64_t TMMWave::ReadDataSamples(void* buffer, int64_t samples) {
  const int64_t got = ReadDataBytes(buffer, SamplesToBytes(samples));
  return got <= 0 ? -1 : BytesToSamples(got);
}

int64_t TMMWave::WriteDataBytes(const void* data, int64_t bytes) {
  if (IsMemWave()) Fail(28131);
  if (!block_) return -1;
  const int64_t got = wioWaveWriteData(block_.get(), data, bytes);
  end_sample_ = block_->dwLastSample;
  InitRegionList();
  return got;
}

int64_t TMMWave::WriteDataSamples(const void* data, int64_t samples) {
  if (IsMemWave()) Fail(28131);
  if (!block_) return -1;
  const int64_t got = wioWaveWriteSamples(block_.get(), data, samples);
  end_sample_ = block_->dwLastSample;
  InitRegionList();
  return got;
}

// ---------------------------------------------------------------------------------------------
// Whole files

void TMMWave::CreateFile(const std::string& name, const WAVEFORMATEX* format) {
  if (IsMemWave()) Fail(28131);
  if (format == nullptr || name.empty()) return;
  std::string full = name;
  wioGetFullPathName(full);
  // The file this wave has open is not pulled away from under it.
  if (IsOwnFile(full) && block_ && block_->hmmio) Fail(28139);
  PWAVEIOCB block;
  if ((wioFileExists(full) && !wioFileDelete(full)) || wioCreateFileInfo(block, format) != kWioOk ||
      wioWriteFileInfo(block.get(), full) != kWioOk) {
    Fail(28139);
  }
  SetPWaveIOCB(std::move(block));
  file_name_ = full;
  stamp_ = StampOf(full);
  ApplyIOBufferSize(28137);
}

void TMMWave::CopyToFile(const std::string& target, TWAVEIOCB* block, int64_t chunk, int64_t total,
                         const ChunkReader& read, const ChunkConverter& convert, int failMessage,
                         int abortMessage) {
  TMMWaveFileLayer& layer = GetWaveFileLayer();
  std::string tmp = target;
  bool cancel = false;
  vant::StagedHold hold;  // released after the file is renamed or removed
  bool ok = wioFileCreateTemp(tmp, hold);
  const bool made = ok;
  try {
    ok = ok && wioWriteFileInfo(block, tmp) == kWioOk;
    std::vector<uint8_t> buffer(ok ? static_cast<size_t>(chunk) : 0);
    int64_t done = 0;
    while (ok && done < total) {
      const int64_t n = read(buffer.data(), chunk);
      if (n <= 0) break;
      const uint8_t* out = buffer.data();
      int64_t outBytes = n;
      if (convert) {
        uint8_t* converted = nullptr;
        outBytes = convert(buffer.data(), n, converted);
        out = converted;
        if (outBytes <= 0) ok = false;
      }
      ok = ok && layer.DiskFree(tmp, outBytes + io_buffer_size_ + kSpaceReserve) &&
           layer.WriteData(block, out, outBytes) == outBytes;
      if (!ok) break;
      done += n;
      WinYield(nullptr);
      if (OnProgress) OnProgress(this, done, total, cancel);
      if (cancel) ok = false;
    }
    ok = ok && layer.CloseWave(block) == kWioOk;
    if (ok) GiveModeOf(tmp, target);
    ok = ok && layer.Rename(tmp, target);
  } catch (...) {
    block->hmmio.reset();
    if (made) wioFileDelete(tmp);
    throw;
  }
  if (!ok) {
    block->hmmio.reset();  // drop the unfinished file without writing its sizes
    if (made) wioFileDelete(tmp);
    Fail(cancel ? abortMessage : failMessage);
  }
}

void TMMWave::SaveToFile(const std::string& name) {
  if (!block_ || name.empty()) Fail(28134);
  SavePlayingPart(name, GetPWaveFormat(), 28140, 28141);
}

void TMMWave::ConvertFile(const std::string& name, const WAVEFORMATEX* format) {
  if (format == nullptr || name.empty() || !block_) Fail(28134);
  if (!pcmIsValidFormat(GetPWaveFormat()) || !pcmIsValidFormat(format)) Fail(28144);
  SavePlayingPart(name, format, 28142, 28143);
}

void TMMWave::SavePlayingPart(const std::string& name, const WAVEFORMATEX* format, int failMessage,
                              int abortMessage) {
  std::string full = name;
  wioGetFullPathName(full);
  if (IsOwnFile(full)) Fail(failMessage);
  const WAVEFORMATEX* source = GetPWaveFormat();
  const bool convert = format != source;
  try {
    SetPosition(0);
    OpenFile();
    const int64_t total = bytes_left_;
    PWAVEIOCB out;
    if (wioCreateFileInfo(out, format) != kWioOk ||
        wioCopyFileInfo(out.get(), block_.get()) != kWioOk) {
      Fail(failMessage);
    }
    // One second of the source, in whole blocks.
    const int64_t chunk = std::max<int64_t>(
        source->nAvgBytesPerSec / source->nBlockAlign * source->nBlockAlign, source->nBlockAlign);
    // A conversion may give one frame more than the exact ratio; room for a few more.
    std::vector<uint8_t> converted(
        convert ? static_cast<size_t>(
                      std::max<int64_t>(PCMCONVERTSIZEOUTPUTDATA(format, source, chunk), 0) +
                      4 * int64_t{format->nBlockAlign})
                : 0);
    ChunkConverter converter;
    if (convert) {
      converter = [&](const uint8_t* in, int64_t n, uint8_t*& result) {
        result = converted.data();
        return PCMCONVERT(format, converted.data(), source, in, n);
      };
    }
    CopyToFile(
        full, out.get(), chunk, total,
        [this](uint8_t* buffer, int64_t n) {
          const int64_t got = ReadDataBytes(buffer, n);
          return end_block_ ? 0 : got;
        },
        converter, failMessage, abortMessage);
  } catch (...) {
    CloseFile();
    throw;
  }
  CloseFile();
}

void TMMWave::ImportFromRaw(const std::string& name, int bits, int channels, int rate) {
  if (name.empty() || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) Fail(28134);
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, bits, channels, rate);
  if (f.nBlockAlign == 0 || f.nSamplesPerSec == 0) Fail(28134);
  std::string source = name;
  wioGetFullPathName(source);
  const std::string target = fs::path(source).replace_extension(".WAV").string();
  if (SameFile(target, source) || IsOwnFile(target)) Fail(28135);
  auto raw = vant::riff::RiffFile::Open(source, vant::riff::Mode::kRead);
  if (!raw || raw->Size() == 0) Fail(28135);
  PWAVEIOCB out;
  if (wioCreateFileInfo(out, &f) != kWioOk) Fail(28135);
  const int64_t chunk = std::max<int64_t>(f.nAvgBytesPerSec, f.nBlockAlign);
  CopyToFile(
      target, out.get(), chunk, static_cast<int64_t>(raw->Size()),
      [&raw](uint8_t* buffer, int64_t n) { return raw->Read(buffer, static_cast<size_t>(n)); }, {},
      28135, 28136);
  raw.reset();
  SetFileName(target);
}

// ---------------------------------------------------------------------------------------------
// INFO and DISP

void TMMWave::GetInfoChunk(const std::string& id, std::string& text) const {
  if (!block_ || !block_->lpInfo) return;
  TInfoData* e = RiffFindPIINFO(block_->lpInfo.get(), vant::riff::StringToFourCC(id));
  if (e == nullptr) throw EMMWaveError(InfoNotFound(id));
  text = RiffInfoText(*block_->lpInfo, *e);
}

void TMMWave::SetInfoChunk(const std::string& id, const std::string& text) {
  if (!block_ || !block_->lpInfo) return;
  TInfoData* e = RiffFindPIINFO(block_->lpInfo.get(), vant::riff::StringToFourCC(id));
  if (e == nullptr) throw EMMWaveError(InfoNotFound(id));
  RiffModifyINFO(block_->lpInfo.get(), e, kRiffChanged, e->offset, text);
}

void TMMWave::SetDispChunk(const std::string& text, const void* bitmap) {
  if (!block_) return;
  if (!block_->lpDisp) RiffInitDISP(block_->lpDisp);
  TDispList* list = block_->lpDisp.get();
  const auto find = [list](uint32_t format) -> TDisp* {
    for (auto& e : list->entries)
      if (e->format == format) return e.get();
    return nullptr;
  };
  if (!text.empty()) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    if (TDisp* e = find(kDispText)) {
      RiffModifyDISP(list, e, kRiffChanged, std::move(data));
    } else {
      RiffInsertDISP(list, RiffCreateDISP(kRiffChanged, kDispText, std::nullopt, std::move(data)));
    }
  }
  if (bitmap != nullptr) {
    if (TDisp* e = find(kDispDIB)) {
      RiffModifyDISP(list, e, kRiffChanged, std::nullopt);
    } else {
      RiffInsertDISP(list, RiffCreateDISP(kRiffChanged, kDispDIB, std::nullopt, std::nullopt));
    }
  }
}

bool TMMWave::PlaySound(TMMPlayMode mode) {
  StopSound();
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (!block_ || !format || format->wFormatTag != WAVE_FORMAT_PCM || block_->dwDataBytes <= 0)
    return false;
  std::vector<uint8_t> pcm(static_cast<size_t>(block_->dwDataBytes));
  if (IsMemWave()) {
    const uint8_t* data = GetPWaveData();
    if (!data) return false;
    std::memcpy(pcm.data(), data, pcm.size());
  } else {
    std::ifstream in(file_name_, std::ios::binary);
    in.seekg(block_->dwDataOffset);
    if (!in.read(reinterpret_cast<char*>(pcm.data()), static_cast<std::streamsize>(pcm.size())))
      return false;
  }
  const vant::audio::WaveFormatEx wfx{format->wFormatTag,     format->nChannels,
                                      format->nSamplesPerSec, format->nAvgBytesPerSec,
                                      format->nBlockAlign,    format->wBitsPerSample, 0};
  const auto how = mode == pmSync    ? vant::audio::SoundMode::Sync
                   : mode == pmAsync ? vant::audio::SoundMode::Async
                                     : vant::audio::SoundMode::Loop;
  if (mode == pmSync) return vant::audio::PlaySimpleSound(wfx, std::move(pcm), how);
  sound_started_ = vant::audio::PlaySimpleSound(wfx, std::move(pcm), how);
  return sound_started_;
}

void TMMWave::StopSound() {
  if (!sound_started_) return;
  sound_started_ = false;
  vant::audio::StopSimpleSound();
}
