#include "mmrawaudiofile.h"

#include <algorithm>
#include <cstring>

#include "mmdspthread.h"
#include "mmpcmsup.h"
#include "mmulaw.h"
#include "mmutils.h"
#include "mmwavefmt.h"
#include "msgtable.h"
#include "trace.h"

namespace {

constexpr int64_t kSpaceReserve = 10240;
constexpr size_t kScratchSamples = 4096;

[[noreturn]] void Raise(const char* text) { throw EMMRawAudioFileError(text); }

}  // namespace

TMMRawAudioFile::TMMRawAudioFile(vant::TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
  BuildFormat();
}

TMMRawAudioFile::~TMMRawAudioFile() { Closed(); }

void TMMRawAudioFile::Fire(const vant::TNotifyEvent& event) {
  if (event) GlobalSynchronize([this, &event] { event(this); });
}

void TMMRawAudioFile::CheckClosed() const {
  if (open_) Raise(vant::LibraryMessage(28060));
}

void TMMRawAudioFile::BuildFormat() {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, bits_, channels_, rate_);
  SetPWaveFormat(&f);
}

void TMMRawAudioFile::SetEncoding(TMMRawEncoding value) {
  CheckClosed();
  encoding_ = value;
  bits_ = 16;
  BuildFormat();
}

void TMMRawAudioFile::SetBitLength(int value) {
  CheckClosed();
  if (value != 8 && value != 16) return;
  if (encoding_ == reuLaw && value != 16) return;
  bits_ = value;
  BuildFormat();
}

void TMMRawAudioFile::SetChannels(int value) {
  CheckClosed();
  if (value != 1 && value != 2) return;
  channels_ = value;
  BuildFormat();
}

void TMMRawAudioFile::SetSampleRate(int value) {
  CheckClosed();
  rate_ = std::clamp(value, 8000, 88200);
  BuildFormat();
}

void TMMRawAudioFile::SetOffset(int64_t value) {
  CheckClosed();
  offset_ = std::max<int64_t>(value, 0);
}

void TMMRawAudioFile::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (format != nullptr) {
    if (!HasState(vant::csDesigning) && !pcmIsValidFormat(format)) {
      Raise(vant::LibraryMessage(28062));
    }
    rate_ = static_cast<int>(format->nSamplesPerSec);
    bits_ = format->wBitsPerSample;
    channels_ = format->nChannels;
  }
  TMMDSPComponent::SetPWaveFormat(format);
  const WAVEFORMATEX* held = GetPWaveFormat();
  silence_ = held && held->wFormatTag == WAVE_FORMAT_PCM && held->wBitsPerSample == 8 ? 128 : 0;
}

// ---- the file ----

void TMMRawAudioFile::SetFileName(const std::string& name) {
  if (name == file_name_) return;
  CheckClosed();
  FreeFile();
  file_name_ = name;
  if (!name.empty()) file_size_ = std::max<int64_t>(::GetFileSize(name), 0);
  if (OnChanged) OnChanged(this);
}

void TMMRawAudioFile::LoadFromStream(std::iostream& stream) {
  CheckClosed();
  FreeFile();
  given_ = &stream;
  stream.clear();
  const auto at = stream.tellg();
  stream.seekg(0, std::ios::end);
  file_size_ = std::max<int64_t>(static_cast<int64_t>(stream.tellg()), 0);
  stream.seekg(at);
  if (OnChanged) OnChanged(this);
}

void TMMRawAudioFile::FreeFile() {
  if (file_name_.empty() && given_ == nullptr) return;
  Closed();
  file_name_.clear();
  position_ = 0;
  file_size_ = 0;
  given_ = nullptr;
  if (OnChanged) OnChanged(this);
}

int64_t TMMRawAudioFile::FileBytesToTime(int64_t bytes) const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (f == nullptr || bytes <= 0) return 0;
  if (encoding_ != reuLaw) return static_cast<int64_t>(wioBytesToTime64(f, uint64_t(bytes)));
  // One µ-law byte per sample, whatever width the samples have in the chain.
  WAVEFORMATEX pcm{};
  pcmBuildWaveHeader(pcm, 16, f->nChannels, static_cast<int>(f->nSamplesPerSec));
  return static_cast<int64_t>(wioBytesToTime64(&pcm, uint64_t(bytes) * 2));
}

int64_t TMMRawAudioFile::TimeToFileBytes(int64_t ms) const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (f == nullptr || ms <= 0) return 0;
  if (encoding_ != reuLaw) return static_cast<int64_t>(wioTimeToBytes64(f, uint64_t(ms)));
  WAVEFORMATEX pcm{};
  pcmBuildWaveHeader(pcm, 16, f->nChannels, static_cast<int>(f->nSamplesPerSec));
  return static_cast<int64_t>(wioTimeToBytes64(&pcm, uint64_t(ms))) / 2;
}

int64_t TMMRawAudioFile::GetPlayLength() const {
  if (file_name_.empty() && given_ == nullptr) return 0;
  return FileBytesToTime(file_size_ - offset_);
}

int64_t TMMRawAudioFile::GetPosition() const { return FileBytesToTime(position_); }

void TMMRawAudioFile::SetPosition(int64_t ms) {
  position_ = TimeToFileBytes(ms);
  if (stream_) SeekToPosition();
}

void TMMRawAudioFile::SeekToPosition() {
  stream_->clear();
  stream_->seekg(offset_ + position_);
  stream_->seekp(offset_ + position_);
  if (!*stream_) Raise("Unable to set position");
}

// ---- the chain ----

void TMMRawAudioFile::Opened() {
  TMMDSPComponent::Opened();
  if (open_) return;
  if (GetInput()) {
    SetPWaveFormat(GetInput()->GetPWaveFormat());
    if (GetPWaveFormat() == nullptr || (file_name_.empty() && given_ == nullptr)) return;
    if (!file_name_.empty()) {
      const int64_t size = std::max<int64_t>(::GetFileSize(file_name_), 0);
      const bool append = !overwrite_ && size > 0;
      std::string path = file_name_;
      if (!append) {
        // The old file stays as it was until the recording closes; a file nobody may write is
        // not replaced.
        staged_ = std::make_unique<vant::ReplacingFile>(file_name_, false);
        path = staged_->IsOpen() ? staged_->Path().string() : std::string();
      }
      if (!path.empty())
        own_ =
            std::make_unique<std::fstream>(path, std::ios::in | std::ios::out | std::ios::binary);
      if (!own_ || !*own_) {
        own_.reset();
        staged_.reset();
        Raise("Unable to open file !");
      }
      file_size_ = append ? size : 0;
      // Recording into a file that holds data goes on at its end.
      position_ = append ? std::max<int64_t>(size - offset_, 0) : 0;
      stream_ = own_.get();
    } else {
      stream_ = given_;
    }
    scratch_.resize(kScratchSamples);
  } else {
    if (GetEmpty()) return;
    if (!file_name_.empty()) {
      own_ = std::make_unique<std::fstream>(file_name_, std::ios::in | std::ios::binary);
      if (!*own_) {
        own_.reset();
        Raise("Unable to open file !");
      }
      stream_ = own_.get();
    } else {
      stream_ = given_;
    }
    start_position_ = GetPosition();
  }
  open_ = true;
  SeekToPosition();
  Fire(OnOpen);
}

void TMMRawAudioFile::Closed() {
  if (open_) {
    Stopped();
    position_ = 0;
    open_ = false;
    stream_ = nullptr;
    if (staged_) {
      const bool written = own_->flush().good();
      own_.reset();
      if (!written || !staged_->Commit()) vant::Trace("raw audio: the recording was not kept");
      staged_.reset();
    }
    own_.reset();
    scratch_.clear();
    scratch_.shrink_to_fit();
    Fire(OnClose);
  }
  TMMDSPComponent::Closed();
}

void TMMRawAudioFile::Started() {
  TMMDSPComponent::Started();
  if (open_ && !started_) {
    started_ = true;
    if (!GetInput()) SetPosition(start_position_);
  }
}

void TMMRawAudioFile::Stopped() {
  started_ = false;
  TMMDSPComponent::Stopped();
}

void TMMRawAudioFile::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (GetInput()) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    WriteBuffer(lpWaveHdr);
    return;
  }
  auto& wh = lpWaveHdr->wh;
  if (GetEmpty()) {
    wh.dwBytesRecorded = 0;
    return;
  }
  if (!started_ || !enabled_ || !stream_) {
    std::memset(wh.lpData, silence_, wh.dwBufferLength);
    wh.dwBytesRecorded = wh.dwBufferLength;
    MoreBuffers = true;
    return;
  }
  const bool ulaw = encoding_ == reuLaw;
  const int64_t want = ulaw ? wh.dwBufferLength / 2 : wh.dwBufferLength;
  stream_->read(wh.lpData, want);
  int64_t got = std::max<int64_t>(stream_->gcount(), 0);
  position_ += got;
  if (ulaw) {
    // In place, from the last byte to the first, so no byte is overwritten before it is read.
    auto* data = reinterpret_cast<uint8_t*>(wh.lpData);
    for (int64_t i = got - 1; i >= 0; --i) {
      const auto s = static_cast<uint16_t>(uLaw2Linear(data[i]));
      data[2 * i] = static_cast<uint8_t>(s);
      data[2 * i + 1] = static_cast<uint8_t>(s >> 8);
    }
    got *= 2;
  }
  wh.dwBytesRecorded = static_cast<uint32_t>(got);
  if (got == 0) return;
  if (file_size_ - offset_ - position_ >= 1) {
    MoreBuffers = true;
    return;
  }
  TMMLoopRec& loop = lpWaveHdr->LoopRec;
  if (loop.dwLooping == 0) return;
  if (loop.dwLoopCount > 0) --loop.dwLoopsLeft;
  if (loop.dwLoopCount == 0 || loop.dwLoopsLeft >= 0) {
    SetPosition(0);
    if (OnLooping) OnLooping(this);
    MoreBuffers = true;
    loop.dwLooped = -1;
  }
}

void TMMRawAudioFile::BufferReady(PMMWaveHdr lpWaveHdr) {
  WriteBuffer(lpWaveHdr);
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMRawAudioFile::WriteBuffer(PMMWaveHdr lpWaveHdr) {
  const auto& wh = lpWaveHdr->wh;
  if (!GetInput() || !started_ || !enabled_ || !stream_ || wh.dwBytesRecorded == 0) return;
  const int64_t bytes = wh.dwBytesRecorded;
  if (!file_name_.empty() && !GetDiskFree(file_name_, bytes + kSpaceReserve)) {
    Closed();
    return;
  }
  const auto* data = reinterpret_cast<const uint8_t*>(wh.lpData);
  if (encoding_ == reuLaw) {
    const bool eight = GetBitLength() == 8;
    const int64_t samples = eight ? bytes : bytes / 2;
    for (int64_t done = 0; done < samples;) {
      const int64_t n = std::min<int64_t>(samples - done, kScratchSamples);
      for (int64_t i = 0; i < n; ++i) {
        const int64_t k = done + i;
        const int v = eight ? (data[k] - 128) * 256
                            : static_cast<int16_t>(data[2 * k] | data[2 * k + 1] << 8);
        scratch_[static_cast<size_t>(i)] = Linear2uLaw(v, false);
      }
      stream_->write(reinterpret_cast<const char*>(scratch_.data()), n);
      if (!*stream_) {
        Closed();
        return;
      }
      position_ += n;
      done += n;
    }
  } else {
    stream_->write(wh.lpData, bytes);
    if (!*stream_) {
      Closed();
      return;
    }
    position_ += bytes;
  }
  file_size_ = std::max(file_size_, offset_ + position_);
}
