#include "mmdspinterface.h"

namespace {
void Fire(const vant::TNotifyEvent& e, vant::TObject* sender) {
  if (e) e(sender);
}
}  // namespace

TMMDSPInterface::TMMDSPInterface(vant::TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
}

void TMMDSPInterface::Opened() {
  if (IsOpened()) return;
  TMMDSPComponent::Opened();
  Fire(OnOpen, this);
}

void TMMDSPInterface::Closed() {
  if (!IsOpened()) return;
  TMMDSPComponent::Closed();
  Fire(OnClose, this);
}

void TMMDSPInterface::Started() {
  if (!IsOpened() || IsStarted()) return;
  TMMDSPComponent::Started();
  Fire(OnStart, this);
}

void TMMDSPInterface::Paused() {
  TMMDSPComponent::Paused();
  Fire(OnPause, this);
}

void TMMDSPInterface::Restarted() {
  TMMDSPComponent::Restarted();
  Fire(OnRestart, this);
}

void TMMDSPInterface::Looped() { Fire(OnLooped, this); }

void TMMDSPInterface::Stopped() {
  if (!IsStarted()) return;
  TMMDSPComponent::Stopped();
  Fire(OnStop, this);
}
