#pragma once
// TMMDSPInterface: a chain link that passes buffers through unchanged and tells its owner, by
// events, what happens to the stream it sits in.
#include "mmdspcomponent.h"

class TMMDSPInterface : public TMMDSPComponent {
 public:
  explicit TMMDSPInterface(vant::TComponent* owner);

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Looped() override;
  void Stopped() override;
  std::string ClassName() const override { return "TMMDSPInterface"; }

  vant::TNotifyEvent OnOpen;
  vant::TNotifyEvent OnStart;
  vant::TNotifyEvent OnPause;
  vant::TNotifyEvent OnRestart;
  vant::TNotifyEvent OnLooped;
  vant::TNotifyEvent OnStop;
  vant::TNotifyEvent OnClose;
};
