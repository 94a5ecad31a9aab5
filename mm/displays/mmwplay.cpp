#include "mmwplay.h"

#include "mmcstdlg.h"
#include "mmobj.h"

TMMWavePlayer::TMMWavePlayer(vant::TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(false, true);
  file_ = std::make_unique<TMMWaveFile>(nullptr);
  file_->OnChange = [this](vant::TObject*) {
    Stop();
    if (OnChange) OnChange(this);
  };
  file_->OnChanged = [this](vant::TObject*) { UpdateDecoder(); };
  adpcm_ = std::make_unique<TMMADPCMConverter>(nullptr);
  adpcm_->SetInput(file_.get());
  pcm_ = std::make_unique<TMMPCMConverter>(nullptr);
  pcm_->SetInput(adpcm_.get());
  device_ = std::make_unique<TMMWaveOut>(nullptr);
  device_->SetInput(pcm_.get());
  device_->OnOpen = [this](vant::TObject*) {
    if (OnStart) OnStart(this);
  };
  device_->OnStop = [this](vant::TObject*) { DeviceStopped(); };
  device_->OnClose = [this](vant::TObject*) { DeviceClosed(); };
  device_->OnPause = [this](vant::TObject*) {
    if (!seeking_ && OnPause) OnPause(this);
  };
  device_->OnRestart = [this](vant::TObject*) {
    if (!seeking_ && OnRestart) OnRestart(this);
  };
  device_->OnBufferReady = [this](vant::TObject*, PMMWaveHdr hdr) {
    if (OnData) OnData(this, hdr);
  };
  AcceptAsOutput = true;
  device_->SetOutput(this);
  AcceptAsOutput = false;
  GetWave()->SetTimeFormat(tfByte);
  device_->SetTimeFormat(tfByte);
}

TMMWavePlayer::~TMMWavePlayer() {
  Destroying();
  try {
    Stop();
  } catch (...) {
    // The device reported it; the chain goes regardless.
  }
  // The device first: it still reaches the stages in front of it while it closes.
  device_.reset();
  pcm_.reset();
  adpcm_.reset();
  file_.reset();
}

void TMMWavePlayer::UpdateDecoder() {
  adpcm_->SetEnabled(auto_convert_ && adpcm_->GetCanConvert());
}

void TMMWavePlayer::SetFileName(const std::string& name) {
  file_->SetFileName(name);
  UpdateDecoder();
}

bool TMMWavePlayer::SelectFile() {
  TMMWaveOpenDialog dialog(nullptr);
  dialog.FileName = GetFileName();
  if (!dialog.Execute()) return false;
  SetFileName(dialog.FileName);
  return true;
}

void TMMWavePlayer::SetTimeFormat(TMMTimeFormats f) {
  device_->SetTimeFormat(f);
  GetWave()->SetTimeFormat(f);
}

void TMMWavePlayer::SetAutoConvert(bool v) {
  if (v == auto_convert_) return;
  if (GetState() & wosOpen) throw vant::Exception(LoadResStr(60));
  auto_convert_ = v;
  adpcm_->SetEnabled(v);
  pcm_->SetEnabled(v);
}

void TMMWavePlayer::Play() {
  if ((GetState() & wosPlay) || GetWave()->GetEmpty()) return;
  // A finished file starts over.
  if (GetPosition() >= GetWave()->GetDataSize()) SetPosition(0);
  start_offset_ = GetPosition();
  stop_position_ = -1;
  device_->Start();
}

void TMMWavePlayer::Stop() {
  stop_position_ = GetPosition();
  device_->Stop();
  device_->Close();
}

void TMMWavePlayer::Pause() {
  if ((GetState() & wosPause) || GetWave()->GetEmpty()) return;
  device_->Pause();
}

void TMMWavePlayer::Restart() { device_->Restart(); }

int32_t TMMWavePlayer::GetPosition() {
  if (GetState() & wosPlay) return static_cast<int32_t>(device_->GetPosition()) + start_offset_;
  return static_cast<int32_t>(GetWave()->GetPosition());
}

void TMMWavePlayer::SetPosition(int32_t position) {
  if (!(GetState() & wosOpen)) {
    GetWave()->SetPosition(position);
    return;
  }
  seeking_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{seeking_};
  const bool was_paused = (GetState() & wosPause) != 0;
  device_->Pause();
  GetWave()->SetPosition(position);
  start_offset_ = position;
  // Flushes, counts the position from 0 again and refills from the new place.
  device_->Reset();
  if (!was_paused) device_->Restart();
}

void TMMWavePlayer::DeviceStopped() {
  // The file ran out by itself: keep where it ended.
  if (stop_position_ == -1) stop_position_ = GetPosition();
  device_->Close();
}

void TMMWavePlayer::DeviceClosed() {
  if (!reset_position_ && stop_position_ >= 0) SetPosition(stop_position_);
  if (!HasState(vant::csDestroying) && OnStop) OnStop(this);
}
