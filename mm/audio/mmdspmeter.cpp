#include "mmdspmeter.h"

#include <algorithm>

#include "clock.h"
#include "timerservice.h"

namespace {

// Guards the process-wide meter's identity; a meter's own state has its own lock.
std::mutex g_meter_lock;
TMMDSPMeter* g_meter = nullptr;

int64_t NowMs() { return vant::GetClock().NowMillis(); }

// Runs `f` on the process-wide meter while it cannot be destroyed.
template <class F>
void WithMeter(F f) {
  std::lock_guard lock(g_meter_lock);
  if (g_meter) f(*g_meter);
}

}  // namespace

TMMDSPMeter::TMMDSPMeter(vant::TComponent* owner) : TMMNonVisualComponent(owner) {
  vant::GetTimerService().BeginPeriod(1);
  std::lock_guard lock(g_meter_lock);
  if (!g_meter) g_meter = this;
}

TMMDSPMeter::~TMMDSPMeter() {
  Destroying();
  {
    std::lock_guard lock(g_meter_lock);
    if (g_meter == this) g_meter = nullptr;
  }
  vant::PMMTimeEvent event;
  {
    std::lock_guard lock(lock_);
    event = event_;
    event_ = nullptr;
  }
  // Outside our lock: the period callback takes it under the timer service's lock.
  vant::MMTimeKillEvent(event);
  vant::GetTimerService().EndPeriod(1);
}

int32_t TMMDSPMeter::GetValue() {
  std::lock_guard lock(lock_);
  return users_ > 0 ? std::min(shown_, 100) : 0;
}

void TMMDSPMeter::Init() {
  {
    std::lock_guard lock(lock_);
    if (++users_ > 1) return;
    total_ms_ = 0;
    start_ms_ = 0;
    nesting_ = 0;
    smoothed_ = 0;
    shown_ = 0;
  }
  vant::PMMTimeEvent event = vant::MMTimeSetEvent(
      100, false, [this](vant::PMMTimeEvent, void*) { Period(); }, nullptr);
  std::lock_guard lock(lock_);
  event_ = event;
}

void TMMDSPMeter::Done() {
  vant::PMMTimeEvent event = nullptr;
  {
    std::lock_guard lock(lock_);
    if (users_ == 0 || --users_ > 0) return;
    event = event_;
    event_ = nullptr;
  }
  vant::MMTimeKillEvent(event);
}

void TMMDSPMeter::Start() {
  std::lock_guard lock(lock_);
  if (users_ > 0 && nesting_++ == 0) start_ms_ = NowMs();
}

void TMMDSPMeter::Stop() {
  std::lock_guard lock(lock_);
  if (users_ == 0 || nesting_ == 0) return;
  if (--nesting_ == 0) total_ms_ += NowMs() - start_ms_;
}

void TMMDSPMeter::Period() {
  std::lock_guard lock(lock_);
  if (users_ == 0) return;
  if (nesting_ > 0) {
    const int64_t now = NowMs();
    total_ms_ += now - start_ms_;
    start_ms_ = now;
  }
  smoothed_ = static_cast<float>(total_ms_) * 0.1f + smoothed_ * 0.9f + 0.05f;
  shown_ = static_cast<int32_t>(smoothed_);
  total_ms_ = 0;
}

TMMDSPMeter* GetDSPMeter() {
  std::lock_guard lock(g_meter_lock);
  return g_meter;
}

void InitDSPMeter() {
  WithMeter([](TMMDSPMeter& m) { m.Init(); });
}
void DoneDSPMeter() {
  WithMeter([](TMMDSPMeter& m) { m.Done(); });
}
void StartDSPMeter() {
  WithMeter([](TMMDSPMeter& m) { m.Start(); });
}
void StopDSPMeter() {
  WithMeter([](TMMDSPMeter& m) { m.Stop(); });
}
