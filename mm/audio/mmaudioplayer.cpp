#include "mmaudioplayer.h"

#include <algorithm>
#include <cmath>

#include "mmmath.h"
#include "mmmuldiv.h"
#include "mmutils.h"
#include "ui_dialogs.h"

namespace {
std::string Msg(int n) { return LoadResStr(n); }

// Sets a flag for the length of a scope, however it is left.
class Marked {
 public:
  explicit Marked(bool& flag) : flag_(flag) { flag_ = true; }
  ~Marked() { flag_ = false; }

 private:
  bool& flag_;
};
}  // namespace

TMMAudioPlayer::TMMAudioPlayer(vant::TComponent* owner) : TMMBaseAudioFile(owner) {
  PublishLinks(false, true);
  audio_ = std::make_unique<TMMAudioFile>(nullptr);
  audio_->OnChange = [this](vant::TObject*) { FileChanged(); };
  pitch_stage_ = std::make_unique<TMMPitch>(nullptr);
  pitch_stage_->SetInput(audio_.get());
  wave_ = std::make_unique<TMMWaveOut>(nullptr);
  wave_->SetTimeFormat(tfMillisecond);
  wave_->SetInput(pitch_stage_.get());
  BindDevice(*wave_);
  ds_ = std::make_unique<TMMDSWaveOut>(nullptr);
  ds_->SetTimeFormat(tfMillisecond);
  BindDevice(*ds_);
  AttachTo(wave_.get());
  active_ = wave_.get();
}

TMMAudioPlayer::~TMMAudioPlayer() {
  Destroying();
  if (wave_ && ds_) {
    try {
      Stop();
    } catch (...) {
      // The devices reported it; they go regardless.
    }
  }
  // The devices first: they still reach the stages in front of them while they close.
  wave_.reset();
  ds_.reset();
  pitch_stage_.reset();
  audio_.reset();
}

template <class Device>
void TMMAudioPlayer::BindDevice(Device& device) {
  device.OnStart = [this](vant::TObject*) {
    if (OnStart) OnStart(this);
  };
  device.OnStop = [this](vant::TObject*) { DeviceStopped(); };
  device.OnClose = [this](vant::TObject*) { DeviceClosed(); };
  device.OnPause = [this](vant::TObject*) {
    if (!seeking_ && OnPause) OnPause(this);
  };
  device.OnRestart = [this](vant::TObject*) {
    if (!seeking_ && OnRestart) OnRestart(this);
  };
  device.OnBufferReady = [this](vant::TObject*, PMMWaveHdr hdr) {
    if (OnData) OnData(this, hdr);
  };
}

void TMMAudioPlayer::AttachTo(TMMDSPComponent* device) {
  AcceptAsOutput = true;
  device->SetOutput(this);
  AcceptAsOutput = false;
}

// The audio file.

void TMMAudioPlayer::SetFileName(const std::string& name) { audio_->SetFileName(name); }
std::string TMMAudioPlayer::GetFileName() { return audio_->GetFileName(); }
std::string TMMAudioPlayer::GetFilters() { return audio_->GetFilters(); }
void TMMAudioPlayer::LoadFromFile(const std::string& name) { audio_->LoadFromFile(name); }
void TMMAudioPlayer::FreeFile() { audio_->FreeFile(); }
bool TMMAudioPlayer::GetEmpty() { return audio_->GetEmpty(); }
int32_t TMMAudioPlayer::GetSampleRate() { return audio_->GetSampleRate(); }
int32_t TMMAudioPlayer::GetChannels() { return audio_->GetChannels(); }
int32_t TMMAudioPlayer::GetBitRate() { return audio_->GetBitRate(); }
TMMAudioFileType TMMAudioPlayer::GetFileType() { return audio_->GetFileType(); }
void TMMAudioPlayer::SetFileType(TMMAudioFileType type) { audio_->SetFileType(type); }
bool TMMAudioPlayer::ReadID3Tag(TTAGInfo& info) { return audio_->ReadID3Tag(info); }
bool TMMAudioPlayer::ScanFile() { return audio_->ScanFile(); }
bool TMMAudioPlayer::ScanFileEx(bool fast) { return audio_->ScanFileEx(fast); }
bool TMMAudioPlayer::EncryptFile(const std::string& target) { return audio_->EncryptFile(target); }
void TMMAudioPlayer::SetDecryptCallback(const TMMDecryptProc& decrypt, int32_t value) {
  audio_->SetDecryptCallback(decrypt, value);
}
void TMMAudioPlayer::SetDecryptMode(TMMDecryptMode mode) { audio_->SetDecryptMode(mode); }
TMMCustomFile* TMMAudioPlayer::GetInputFile() { return audio_->GetFile(); }
int32_t TMMAudioPlayer::GetFileLength() { return audio_->GetFileLength(); }
int32_t TMMAudioPlayer::GetPlayLength() { return audio_->GetPlayLength(); }
void TMMAudioPlayer::SetPlayLength(int32_t ms) { audio_->SetPlayLength(ms); }
int32_t TMMAudioPlayer::GetFadeInDuration() { return audio_->GetFadeInDuration(); }
void TMMAudioPlayer::SetFadeInDuration(int32_t ms) { audio_->SetFadeInDuration(ms); }
int32_t TMMAudioPlayer::GetFadeOutDuration() { return audio_->GetFadeOutDuration(); }
void TMMAudioPlayer::SetFadeOutDuration(int32_t ms) { audio_->SetFadeOutDuration(ms); }
int32_t TMMAudioPlayer::GetFadeOutPosition() { return audio_->GetFadeOutPosition(); }
void TMMAudioPlayer::SetFadeOutPosition(int32_t ms) { audio_->SetFadeOutPosition(ms); }
void TMMAudioPlayer::StopFade(int32_t ms) { audio_->FadeOut(ms); }

// The active device.

void TMMAudioPlayer::SetBufferSize(int32_t size) { active_->SetBufferSize(size); }
int32_t TMMAudioPlayer::GetBufferSize() { return active_->GetBufferSize(); }
void TMMAudioPlayer::SetNumBuffers(int32_t value) { active_->SetNumBuffers(value); }
int32_t TMMAudioPlayer::GetNumBuffers() { return active_->GetNumBuffers(); }
void TMMAudioPlayer::SetDeviceID(int32_t value) { active_->SetDeviceID(value); }
int32_t TMMAudioPlayer::GetDeviceID() { return active_->GetDeviceID(); }
std::string TMMAudioPlayer::GetProductName() { return active_->GetProductName(); }
void TMMAudioPlayer::SetCallBackMode(int value) { active_->SetCallBackMode(value); }
int TMMAudioPlayer::GetCallBackMode() { return active_->GetCallBackMode(); }

TMMWaveOutStates TMMAudioPlayer::GetState() {
  return use_dsound_ ? ds_->GetState() : wave_->GetState();
}

bool TMMAudioPlayer::SelectFile() {
  vant::TOpenDialog dialog(nullptr);
  dialog.Filter = GetFilters();
  dialog.FileName = GetFileName();
  dialog.Title = Msg(82);
  dialog.Options = vant::ofHideReadOnly | vant::ofPathMustExist | vant::ofFileMustExist;
  if (!dialog.Execute()) return false;
  SetFileName(dialog.FileName);
  return true;
}

// Transport.

void TMMAudioPlayer::Play() {
  if ((GetState() & wosPlay) || GetEmpty()) return;
  // A finished file starts over.
  if (GetPosition() >= GetPlayLength()) SetPosition(0);
  start_offset_ = GetPosition();
  stop_position_ = -1;
  SetPitch(pitch_);
  SetVolume(volume_);
  SetPanning(panning_);
  active_->Start();
}

void TMMAudioPlayer::Stop() {
  stop_position_ = GetPosition();
  active_->Stop();
  active_->Close();
}

void TMMAudioPlayer::Pause() {
  if ((GetState() & wosPause) || GetEmpty()) return;
  active_->Pause();
}

void TMMAudioPlayer::Restart() { active_->Restart(); }

int32_t TMMAudioPlayer::GetPosition() {
  if (GetState() & wosPlay) return static_cast<int32_t>(active_->GetPosition()) + start_offset_;
  return audio_->GetPosition();
}

void TMMAudioPlayer::SetPosition(int32_t ms) {
  ms = std::clamp(ms, 0, std::max(GetPlayLength(), 0));
  if (GetState() & wosClose) {
    audio_->SetPosition(ms);
    return;
  }
  LoadAgainFrom(ms);
}

void TMMAudioPlayer::LoadAgainFrom(std::optional<int32_t> ms) {
  Marked seeking(seeking_);
  const bool was_paused = (GetState() & wosPause) != 0;
  // Nothing more is heard from here on: the device drops what it holds unheard.
  active_->Pause();
  if (ms) {
    audio_->SetPosition(*ms);
    start_offset_ = *ms;
  } else {
    start_offset_ = GetPosition();
    audio_->ContinueAt(start_offset_);
  }
  // Flushes, counts the position from 0 again and refills from the new place.
  active_->Reset();
  if (!was_paused) active_->Restart();
}

// Levels.

// With wave-out the audio file applies the volume and the panning to the samples, so the
// buffers the player hands on (to the level meters) carry what is heard. What the device holds
// was loaded at the old levels: it is dropped and loaded again from where the listener is, so
// a change is heard at once however deep the device's queue.
void TMMAudioPlayer::LevelsChanged() {
  audio_->SetVolume(volume_);
  audio_->SetPanning(panning_);
  if (GetState() & (wosPlay | wosPause)) LoadAgainFrom(std::nullopt);
}

void TMMAudioPlayer::SetVolume(int32_t value) {
  if (!use_dsound_) {
    const int32_t volume = std::clamp(value, 0, 32768);
    const bool changed = volume != volume_ || audio_->GetVolume() != volume_;
    volume_ = volume;
    if (changed) LevelsChanged();
    return;
  }
  volume_ = std::clamp(value, 0, 16384);
  ds_->SetVolume(static_cast<int32_t>(std::trunc(VolumeToDB(volume_, 16384) * 100)));
  audio_->SetVolume(16384);
}

void TMMAudioPlayer::SetPanning(int32_t value) {
  const int32_t panning = std::clamp(value, -32768, 32768);
  if (!use_dsound_) {
    const bool changed = panning != panning_ || audio_->GetPanning() != panning_;
    panning_ = panning;
    if (changed) LevelsChanged();
    return;
  }
  panning_ = panning;
  ds_->SetPan(RangeScale(panning_, -32768, 32768, -10000, 10000));
  audio_->SetPanning(0);
}

void TMMAudioPlayer::SetPitch(float value) {
  pitch_ = static_cast<float>(MinMaxR(value, -50, 50));
  if (!use_dsound_) {
    pitch_stage_->SetPitch(pitch_);
    return;
  }
  if (const WAVEFORMATEX* f = GetPWaveFormat()) {
    const double rate = MinMaxR(f->nSamplesPerSec * (pitch_ + 100.0) / 100.0, 100, 100000);
    ds_->SetRate(static_cast<int32_t>(std::trunc(rate)));
  }
}

void TMMAudioPlayer::SetUseDSound(bool value) {
  if (!(GetState() & wosClose)) throw EMMAudioPlayerError(Msg(60));
  if (value == use_dsound_) return;
  // Both device lists start with the system's default output, so a device number means the
  // same output on either side (the wave-out mapper, -1, is that default too).
  if (value) {
    ds_->SetBufferSize(wave_->GetBufferSize());
    ds_->SetNumBuffers(wave_->GetNumBuffers());
    ds_->SetCallBackMode(wave_->GetCallBackMode());
    ds_->SetDeviceID(wave_->GetDeviceID() == vant::audio::WAVE_MAPPER ? 0 : wave_->GetDeviceID());
    pitch_stage_->SetInput(nullptr);
    wave_->SetInput(nullptr);
    ds_->SetInput(audio_.get());
    wave_->SetOutput(nullptr);
    AttachTo(ds_.get());
    active_ = ds_.get();
  } else {
    wave_->SetBufferSize(ds_->GetBufferSize());
    wave_->SetNumBuffers(ds_->GetNumBuffers());
    wave_->SetCallBackMode(ds_->GetCallBackMode());
    wave_->SetDeviceID(ds_->GetDeviceID());
    ds_->SetInput(nullptr);
    pitch_stage_->SetInput(audio_.get());
    wave_->SetInput(pitch_stage_.get());
    ds_->SetOutput(nullptr);
    AttachTo(wave_.get());
    active_ = wave_.get();
  }
  use_dsound_ = value;
}

// Handlers.

void TMMAudioPlayer::DeviceStopped() {
  // The stream ran out by itself: keep where it ended.
  if (stop_position_ == -1) stop_position_ = GetPosition();
  active_->Close();
}

void TMMAudioPlayer::DeviceClosed() {
  if (!reset_position_ && stop_position_ >= 0) SetPosition(stop_position_);
  if (!HasState(vant::csDestroying) && OnStop) OnStop(this);
}

void TMMAudioPlayer::FileChanged() {
  Stop();
  if (OnChange) OnChange(this);
}
