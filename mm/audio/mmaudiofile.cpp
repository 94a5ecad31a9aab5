#include "mmaudiofile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "mmacmsup.h"
#include "mmwavefmt.h"
#include "ui_dialogs.h"

namespace {

// The volumes of a fade point: the left channel gives way to positive panning, the right to
// negative.
void Pan(int32_t volume, int32_t panning, int32_t& left, int32_t& right) {
  left = right = volume;
  if (panning > 0) {
    left = static_cast<int32_t>(int64_t{volume} * (32768 - panning) / 32768);
  } else {
    right = static_cast<int32_t>(int64_t{volume} * (32768 + panning) / 32768);
  }
}

uint8_t SilenceByte(const WAVEFORMATEX* f) { return f && f->wBitsPerSample == 8 ? 128 : 0; }

bool FileExists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(name), ec);
}

}  // namespace

TMMCustomAudioFile::TMMCustomAudioFile(vant::TComponent* owner) : TMMBaseAudioFile(owner) {
  adpcm_ = new TMMADPCMConverter(this);
  pcm_ = new TMMPCMConverter(this);
  pcm_->SetInput(adpcm_);
  SetInput(pcm_);
}

TMMCustomAudioFile::~TMMCustomAudioFile() {
  Destroying();
  Closed();
  FreeFile();
  SetInput(nullptr);
  delete pcm_;
  delete adpcm_;
}

// ---- the reader ----

void TMMCustomAudioFile::SetFileName(const std::string& name) {
  if (HasState(vant::csDestroying) || name == GetFileName()) return;
  FreeFile();
  if (name.empty() || !FileExists(name)) return;
  const TMMCustomFileClass* file_class =
      FindAudioFileClass(name, decrypt_, decrypt_value_, decrypt_mode_);
  if (!file_class) {
    adpcm_->SetInput(nullptr);
    throw EMMAudioError("This is not a valid Audiofile");
  }
  try {
    file_ = file_class->Create(this);
    file_->SetEnabled(enabled_);
    file_->OnChanged = [this](vant::TObject* sender) { FileChanged(sender); };
    if (file_->GetFileType() == ftMpeg) {
      file_->SetDecryptCallback(decrypt_, decrypt_value_);
      file_->SetDecryptMode(decrypt_mode_);
    }
    file_->SetFileName(name);
    fade_out_position_ = file_->GetPlayTime();
    // The reader may not publish an Output of its own; it is linked for the stage's sake.
    file_->AcceptAsInput = true;
    adpcm_->SetInput(file_);
    file_->AcceptAsInput = false;
    adpcm_->SetEnabled(adpcm_->GetCanConvert());
    InitNewFile();
  } catch (const std::exception& e) {
    FreeFile();
    vant::ShowMessage(e.what());
  }
}

std::string TMMCustomAudioFile::GetFileName() { return file_ ? file_->GetFileName() : ""; }

std::string TMMCustomAudioFile::GetFilters() { return GetRegisteredAudioFilters(true); }

void TMMCustomAudioFile::FileChanged(vant::TObject*) {
  if (OnChange) OnChange(this);
}

void TMMCustomAudioFile::InitNewFile() {
  start_position_ = 0;
  file_length_ = play_length_ = fade_out_position_;
}

void TMMCustomAudioFile::FreeFile() {
  if (file_) {
    std::lock_guard lock(lock_);
    TMMCustomFile* file = file_;
    file_ = nullptr;
    file->OnChanged = nullptr;
    file->SetFileName("");
    adpcm_->SetInput(nullptr);
    delete file;
  }
  bytes_delivered_ = 0;
  fade_in_ = fade_out_ = fade_out_position_ = 0;
  file_length_ = play_length_ = 0;
  auto_fade_out_ = true;
}

bool TMMCustomAudioFile::GetEmpty() { return !file_ || file_->GetEmpty(); }

TMMAudioFileType TMMCustomAudioFile::GetFileType() {
  return GetEmpty() ? ftNone : file_->GetFileType();
}

int32_t TMMCustomAudioFile::GetOptimalReadSize() {
  return GetEmpty() ? 0 : file_->GetOptimalReadSize();
}
int32_t TMMCustomAudioFile::GetSampleRate() { return GetEmpty() ? 0 : file_->GetSampleRate(); }
int32_t TMMCustomAudioFile::GetChannels() { return GetEmpty() ? 0 : file_->GetChannels(); }
int32_t TMMCustomAudioFile::GetBitRate() { return GetEmpty() ? 0 : file_->GetBitrate(); }

void TMMCustomAudioFile::SetEnabled(bool value) {
  enabled_ = value;
  if (file_) file_->SetEnabled(value);
}

// ---- hooks of compressed stream readers ----

bool TMMCustomAudioFile::GetTrailingHeader() {
  return GetFileType() == ftMpeg && file_->GetTrailingHeader();
}
void TMMCustomAudioFile::SetTrailingHeader(bool value) {
  if (GetFileType() == ftMpeg) file_->SetTrailingHeader(value);
}
bool TMMCustomAudioFile::ScanFile() {
  if (GetFileType() != ftMpeg) return false;
  const bool result = file_->ScanFile();
  fade_out_position_ = file_->GetPlayTime();
  file_length_ = play_length_ = fade_out_position_;
  return result;
}
bool TMMCustomAudioFile::ScanFileEx(bool fast) {
  return GetFileType() == ftMpeg && file_->ScanFileEx(fast);
}
bool TMMCustomAudioFile::EncryptFile(const std::string& target) {
  return GetFileType() == ftMpeg && file_->EncryptFile(target);
}
bool TMMCustomAudioFile::ReadID3Tag(TTAGInfo& info) {
  const TMMAudioFileType type = GetFileType();
  return (type == ftMpeg || type == ftWMA) && file_->ReadID3Tag(info);
}
void TMMCustomAudioFile::SetDecryptCallback(const TMMDecryptProc& decrypt, int32_t value) {
  decrypt_ = decrypt;
  decrypt_value_ = value;
}

// ---- position, length and fades ----

int64_t TMMCustomAudioFile::TimeToBytes(int64_t ms) const {
  return static_cast<int64_t>(
      wioTimeToBytes64(GetPWaveFormat(), static_cast<uint64_t>(std::max<int64_t>(ms, 0))));
}

void TMMCustomAudioFile::SetPosition(int32_t ms) { MoveTo(ms, false); }

void TMMCustomAudioFile::ContinueAt(int32_t ms) { MoveTo(ms, true); }

void TMMCustomAudioFile::MoveTo(int32_t ms, bool continuing) {
  std::lock_guard lock(lock_);
  ms = std::clamp(ms, 0, std::max(play_length_, 0));
  if (!GetEmpty()) file_->SetPositionMs(ms);
  if (file_started_) {
    end_reached_ = silence_sent_ = false;
    bytes_delivered_ = 0;
    start_position_ = ms;
    if (!continuing) fade_from_ = ms;
    continuing_ = continuing;
    bytes_to_play_ = TimeToBytes(int64_t{play_length_} - ms);
    adpcm_->Reseting();
    pcm_->Reseting();
    InitFadeList();
  }
}

int32_t TMMCustomAudioFile::GetPosition() {
  // The GUI asks while the device's thread counts the bytes it delivers.
  std::lock_guard lock(lock_);
  if (file_started_ && GetPWaveFormat()) {
    return start_position_ + static_cast<int32_t>(wioBytesToTime64(
                                 GetPWaveFormat(), static_cast<uint64_t>(bytes_delivered_)));
  }
  return GetEmpty() ? 0 : file_->GetPositionMs();
}

void TMMCustomAudioFile::SetPlayLength(int32_t ms) {
  if (file_started_) return;
  play_length_ = std::min(ms, file_length_);
  SetFadeParams(fade_in_, fade_out_, fade_out_position_);
}

void TMMCustomAudioFile::SetFadeInDuration(int32_t ms) {
  if (ms != fade_in_) SetFadeParams(ms, fade_out_, fade_out_position_);
}

void TMMCustomAudioFile::SetFadeOutDuration(int32_t ms) {
  if (ms != fade_out_) SetFadeParams(fade_in_, ms, fade_out_position_);
}

void TMMCustomAudioFile::SetFadeOutPosition(int32_t ms) {
  if (ms == fade_out_position_) return;
  auto_fade_out_ = ms < 0;
  SetFadeParams(fade_in_, fade_out_, ms);
}

void TMMCustomAudioFile::SetFadeParams(int32_t fade_in, int32_t fade_out, int32_t position) {
  std::lock_guard lock(lock_);
  fade_in_ = fade_in;
  fade_out_ = fade_out;
  fade_out_position_ = auto_fade_out_ ? std::max(play_length_ - fade_out, fade_in)
                                      : std::max(std::min(position, play_length_ - 1), fade_in);
  InitFadeList();
}

void TMMCustomAudioFile::SetVolume(int32_t value) {
  value = std::clamp(value, 0, 32768);
  if (value == volume_) return;
  std::lock_guard lock(lock_);
  volume_ = value;
  if (file_started_) InitFadeList();
}

void TMMCustomAudioFile::SetPanning(int32_t value) {
  value = std::clamp(value, -32768, 32768);
  if (value == panning_) return;
  std::lock_guard lock(lock_);
  panning_ = value;
  if (file_started_) InitFadeList();
}

void TMMCustomAudioFile::FadeOut(int32_t ms) {
  if (!file_started_) return;
  std::lock_guard lock(lock_);
  // A second fade-out keeps the settings of before the first, for Stop to bring back.
  if (!fading_out_) {
    saved_fade_out_position_ = fade_out_position_;
    saved_fade_out_ = fade_out_;
  }
  fading_out_ = true;
  const int32_t now = GetPosition();
  fade_out_position_ = now;
  fade_out_ = std::min(ms, play_length_ - now);
  InitFadeList();
}

void TMMCustomAudioFile::RestoreFadeOut() {
  if (fading_out_) {
    fade_out_position_ = saved_fade_out_position_;
    fade_out_ = saved_fade_out_;
  }
  fading_out_ = stop_at_fade_end_ = false;
}

void TMMCustomAudioFile::InitFadeList() {
  if (!file_ || !GetPWaveFormat() || !software_volume_) return;
  std::lock_guard lock(lock_);
  fade_list_.Clear();
  const int64_t b = std::max<int64_t>(std::min(fade_out_position_, play_length_ - 1), 1);
  const int64_t c = std::max<int64_t>(std::min<int64_t>(fade_in_, b - 1), 0);
  stop_at_fade_end_ = b < play_length_ - 1;
  auto add = [&](int64_t ms, int32_t volume) {
    TMMFadePoint p{TimeToBytes(ms), volume, 0, 0, 0};
    Pan(volume, panning_, p.LeftVolume, p.RightVolume);
    fade_list_.Add(p);
  };
  add(0, 0);
  if (fade_from_ > 0) add(fade_from_, 0);
  add(fade_from_ + c + 1, volume_);
  add(b, volume_);
  add(b + fade_out_, 0);
  add(int64_t{file_length_} + 10000, 0);
  fade_list_.Sort();
  fade_list_.Enabled = true;
  // Exact while started: the bytes delivered, not their rounded time.
  fade_list_.CurPosition =
      file_started_ ? TimeToBytes(start_position_) + bytes_delivered_ : TimeToBytes(GetPosition());
  fade_list_.CurIndex = std::max(fade_list_.LocateFadePoint(fade_list_.CurPosition) - 1, 0);
  Pan(fade_list_.CalcFadeVolume(fade_list_.CurPosition), panning_, fade_list_.CurLeftVolume,
      fade_list_.CurRightVolume);
}

// ---- notifications ----

void TMMCustomAudioFile::BeginRun() {
  end_reached_ = silence_sent_ = false;
  start_position_ = GetPosition();
  if (!continuing_) fade_from_ = start_position_;
  continuing_ = false;
  bytes_delivered_ = 0;
  bytes_to_play_ = TimeToBytes(int64_t{play_length_} - start_position_);
}

void TMMCustomAudioFile::Opened() {
  if (!file_opened_) {
    end_reached_ = silence_sent_ = false;
    file_opened_ = true;
  }
  TMMBaseAudioFile::Opened();
}

void TMMCustomAudioFile::Closed() {
  if (file_opened_) {
    end_reached_ = silence_sent_ = true;
    file_opened_ = false;
  }
  TMMBaseAudioFile::Closed();
}

void TMMCustomAudioFile::Started() {
  if (!file_started_ && file_) {
    std::lock_guard lock(lock_);
    BeginRun();
    InitFadeList();
    file_started_ = true;
  }
  TMMBaseAudioFile::Started();
}

void TMMCustomAudioFile::Reseting() {
  if (file_opened_) {
    std::lock_guard lock(lock_);
    BeginRun();
    RestoreFadeOut();
    InitFadeList();
  }
  TMMBaseAudioFile::Reseting();
}

void TMMCustomAudioFile::Stopped() {
  if (file_started_) {
    std::lock_guard lock(lock_);
    end_reached_ = silence_sent_ = true;
    RestoreFadeOut();
    continuing_ = false;
    file_started_ = false;
  }
  TMMBaseAudioFile::Stopped();
}

// ---- the pull ----

void TMMCustomAudioFile::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (!file_opened_ || !file_started_) return;
  try {
    std::lock_guard lock(lock_);
    Load(lpWaveHdr, MoreBuffers);
  } catch (...) {
    bool handled = false;
    if (OnError) OnError(this, handled);
    if (!handled) throw;
    const uint32_t n = std::min<uint32_t>(4, lpWaveHdr->wh.dwBufferLength);
    std::memset(lpWaveHdr->wh.lpData, SilenceByte(GetPWaveFormat()), n);
    lpWaveHdr->wh.dwBytesRecorded = n;
  }
}

void TMMCustomAudioFile::Load(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  const uint32_t capacity = lpWaveHdr->wh.dwBufferLength;
  // A wrap before the first byte of this pull (the last one ended exactly at the end) fills the
  // header from the top at once: a header without bytes, with more to come, is no buffer a
  // device can play. A stream with nothing in it still ends.
  if (Pull(lpWaveHdr, MoreBuffers) && lpWaveHdr->wh.dwBytesRecorded == 0) {
    Pull(lpWaveHdr, MoreBuffers);
    if (lpWaveHdr->wh.dwBytesRecorded == 0 && MoreBuffers) {
      MoreBuffers = false;
      end_reached_ = true;
      lpWaveHdr->LoopRec.dwLooped = 0;
    }
  }
  if (lpWaveHdr->wh.dwBytesRecorded == 0 && end_reached_ && !silence_sent_) {
    // One last non-empty buffer, so the device sees the end of the stream played out.
    const uint32_t n = std::min<uint32_t>(4, capacity);
    std::memset(lpWaveHdr->wh.lpData, SilenceByte(GetPWaveFormat()), n);
    lpWaveHdr->wh.dwBytesRecorded = n;
    silence_sent_ = true;
  }
}

bool TMMCustomAudioFile::Pull(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  const uint32_t capacity = lpWaveHdr->wh.dwBufferLength;
  const bool limited = play_length_ < file_length_;
  const int64_t allowed =
      limited ? std::min<int64_t>(capacity, bytes_to_play_ - bytes_delivered_) : capacity;
  lpWaveHdr->wh.dwBytesRecorded = 0;
  if (allowed >= 1 && !end_reached_) {
    // The stages upstream must not loop: the looping is ours, on the device's behalf.
    struct Restore {
      PMMWaveHdr h;
      int32_t looping;
      uint32_t capacity;
      ~Restore() {
        h->LoopRec.dwLooping = looping;
        h->wh.dwBufferLength = capacity;
      }
    } restore{lpWaveHdr, lpWaveHdr->LoopRec.dwLooping, capacity};
    lpWaveHdr->LoopRec.dwLooping = 0;
    lpWaveHdr->wh.dwBufferLength = static_cast<uint32_t>(allowed);
    TMMBaseAudioFile::BufferLoad(lpWaveHdr, MoreBuffers);
  } else {
    MoreBuffers = false;
  }
  const uint32_t recorded = lpWaveHdr->wh.dwBytesRecorded;
  bytes_delivered_ += recorded;
  if (recorded > 0 && software_volume_) {
    pcmVolumeFade(GetPWaveFormat(), lpWaveHdr->wh.lpData, recorded, fade_list_);
  }

  // The play length ends the stream with its last byte, so a loop wraps in the header that
  // carries that byte and the device counts the next loop from where that header ends.
  const bool ended = recorded == 0 || !MoreBuffers ||
                     (limited && bytes_delivered_ >= bytes_to_play_) ||
                     (stop_at_fade_end_ && GetPosition() >= fade_out_position_ + fade_out_);
  if (!ended) return false;
  MoreBuffers = false;
  end_reached_ = true;
  TMMLoopRec& loop = lpWaveHdr->LoopRec;
  if (fading_out_ || !loop.dwLooping) return false;
  if (loop.dwLoopCount > 0) --loop.dwLoopsLeft;
  if (loop.dwLoopCount != 0 && loop.dwLoopsLeft < 0) return false;
  SetPosition(0);
  start_position_ = 0;
  adpcm_->Reseting();
  pcm_->Reseting();
  MoreBuffers = true;
  loop.dwLooped = -1;
  end_reached_ = false;
  return true;
}

// ---- standalone use ----

template <class Note>
void TMMCustomAudioFile::ForChain(Note note) {
  TMMDSPComponent* head = this;
  while (head->GetInput()) head = head->GetInput();
  for (TMMDSPComponent* c = head; c; c = c == this ? nullptr : c->GetOutput()) note(c);
}

void TMMCustomAudioFile::OpenFile(int32_t buffer_size) {
  if (file_opened_ || GetOutput()) return;
  ForChain([&](TMMDSPComponent* c) {
    c->SetBufferSize(buffer_size);
    c->Opened();
  });
}

void TMMCustomAudioFile::StartFile() {
  if (!file_started_) ForChain([](TMMDSPComponent* c) { c->Started(); });
}

void TMMCustomAudioFile::StopFile() {
  if (file_started_) ForChain([](TMMDSPComponent* c) { c->Stopped(); });
}

void TMMCustomAudioFile::ResetFile() {
  if (file_opened_ && file_started_) ForChain([](TMMDSPComponent* c) { c->Reseting(); });
}

void TMMCustomAudioFile::CloseFile() {
  if (file_opened_) ForChain([](TMMDSPComponent* c) { c->Closed(); });
}

int32_t TMMCustomAudioFile::ReadFileData(void* buffer, int32_t size, bool& MoreBuffers) {
  if (!file_opened_ || !file_started_) return 0;
  MoreBuffers = false;
  TMMWaveHdr header{};
  header.wh.lpData = static_cast<char*>(buffer);
  header.wh.dwBufferLength = static_cast<uint32_t>(std::max(size, 0));
  BufferLoad(&header, MoreBuffers);
  return static_cast<int32_t>(header.wh.dwBytesRecorded);
}

void TMMCustomAudioFile::AbortFileReading() {
  if (file_opened_ && file_started_ && file_) file_->AbortReading();
}

TMMAudioFile::TMMAudioFile(vant::TComponent* owner) : TMMCustomAudioFile(owner) {
  PublishLinks(false, true);
}
