#include "mmhtimer.h"

#include <optional>
#include <system_error>
#include <utility>

#include "dispatch.h"
#include "syncevent.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_messagewindow.h"
#include "ui_timer.h"

namespace vant {

namespace {
constexpr int kWorkerTimeoutMs = 5000;
constexpr int kWakeSliceMs = 1000;
const char kCallbackRefused[] =
    "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
    "Windows 95";

}  // namespace

// Everything one built timer uses. The timer callback, the worker and the tick window hold it
// too, so a rebuild from inside a tick leaves them something valid to finish with.
struct TMMHiTimer::Build {
  TMMCBMode mode = cmWindow;
  TimerService* service = nullptr;
  std::atomic<TimerId> timer{0};
  std::unique_ptr<MessageWindow> window;
  HWND hwnd = 0;
  std::atomic<int> pending{0};
  std::shared_ptr<MMWorker> worker;
  Event wake;
  std::unique_ptr<TTimer> frames;  // the GUI thread's timer of a timer at frames
};

TMMHiTimer::TMMHiTimer(TComponent* owner) : TMMNonVisualComponent(owner) {}

TMMHiTimer::~TMMHiTimer() {
  {
    std::lock_guard lock(handler_mutex_);
    on_timer_ = nullptr;
  }
  enabled_ = false;
  // A handler on a worker may be rebuilding the timer at this moment and install a new one
  // after our tear-down. Once the workers are settled no handler runs any more (and none can
  // start: OnTimer is cleared), so the next round finds whatever they built or retired.
  for (;;) {
    TearDown();
    retired_.Settle();
    std::lock_guard lock(build_mutex_);
    if (!build_ && retired_.Empty()) break;
  }
}

void TMMHiTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateTimer();
}

void TMMHiTimer::SetInterval(uint32_t value) {
  if (value == interval_) return;
  interval_ = value;
  UpdateTimer();
}

void TMMHiTimer::SetAtFrames(bool value) {
  if (value == at_frames_) return;
  at_frames_ = value;
  UpdateTimer();
}

void TMMHiTimer::SetCallBackMode(TMMCBMode value) {
  if (value == mode_) return;
  if (value == cmCallback && !_Win95_) {
    GetDialogAnswerer().MessageBox(kCallbackRefused, "TMMHiTimer", MB_OK);
    return;
  }
  mode_ = value;
  UpdateTimer();
}

TNotifyEvent TMMHiTimer::GetOnTimer() const {
  std::lock_guard lock(handler_mutex_);
  return on_timer_;
}

void TMMHiTimer::SetOnTimer(TNotifyEvent value) {
  {
    std::lock_guard lock(handler_mutex_);
    // Functions cannot be compared: only the change between set and unset is seen as one.
    if (!value && !on_timer_) return;
    on_timer_ = std::move(value);
  }
  UpdateTimer();
}

void TMMHiTimer::SetPriority(TThreadPriority value) {
  priority_ = value;
  std::lock_guard lock(build_mutex_);
  if (build_ && build_->worker) build_->worker->SetPriority(ThreadPriorityValue(value));
}

void TMMHiTimer::SynchronizeVCL(const std::function<void()>& method) {
  std::shared_ptr<Build> b;
  {
    std::lock_guard lock(build_mutex_);
    b = build_;
  }
  if (b && b->worker) b->worker->Synchronize(method);
}

TimerId TMMHiTimer::GetTimerID() const {
  std::lock_guard lock(build_mutex_);
  return build_ ? build_->timer.load() : 0;
}

void TMMHiTimer::ChangeDesigning(bool value) {
  TMMNonVisualComponent::ChangeDesigning(value);
  UpdateTimer();
}

void TMMHiTimer::Timer() {
  if (!enabled_) return;
  // A copy, so a handler that frees the component keeps what it captured until it returns.
  if (TNotifyEvent handler = GetOnTimer()) handler(this);
}

void TMMHiTimer::UpdateTimer() {
  if (HasState(csDesigning)) return;
  TearDown();
  if (interval_ != 0 && enabled_ && GetOnTimer()) BuildTimer();
}

void TMMHiTimer::TearDown() { Release(Exchange(nullptr)); }

std::shared_ptr<TMMHiTimer::Build> TMMHiTimer::Exchange(std::shared_ptr<Build> next) {
  std::lock_guard lock(build_mutex_);
  std::shared_ptr<Build> b = std::exchange(build_, std::move(next));
  if (b && b->worker) retired_.Add(b->worker);
  return b;
}

void TMMHiTimer::Release(const std::shared_ptr<Build>& b) {
  if (!b) return;
  if (b->worker) {
    b->worker->Stop();
    b->wake.Set();
    if (wait_for_terminate_ && !b->worker->InSync() && !b->worker->IsWorkerThread())
      b->worker->Join(kWorkerTimeoutMs);
  }
  if (TimerId id = b->timer.exchange(0)) {
    b->service->Kill(id);  // no tick of it runs or can start after this
    b->service->EndPeriod(b->service->MinPeriod());
  }
  if (b->frames) {
    // Perhaps from its own tick: freed once that has returned.
    b->frames->SetEnabled(false);
    GetDispatcher().Post([t = b->frames.release()] { delete t; });
  }
  if (b->window) {
    MessageWindow::RemovePending(b->hwnd, MM_HITIMER_TICK, MM_HITIMER_TICK);
    b->window.reset();
    b->pending = 0;
  }
}

void TMMHiTimer::BuildTimer() {
  auto b = std::make_shared<Build>();
  b->mode = mode_;
  if (b->mode == cmWindow && at_frames_ && GetDispatcher().IsGuiThread()) {
    std::weak_ptr<Build> weak = b;
    b->frames = std::make_unique<TTimer>(nullptr);
    b->frames->SetAtFrames(true);
    b->frames->SetInterval(interval_);
    // The scheduler guards the call; the handler may rebuild or free us.
    b->frames->OnTimer = [this, weak](TObject*) {
      if (weak.lock()) Timer();
    };
    Release(Exchange(std::move(b)));
    return;
  }
  if (b->mode == cmWindow) {
    std::weak_ptr<Build> weak = b;
    b->window = std::make_unique<MessageWindow>([this, weak](TMessage& m) {
      auto build = weak.lock();
      if (!build || m.Msg != MM_HITIMER_TICK || m.WParam != build->timer.load()) return;
      Guarded([this] { Timer(); });  // may rebuild or even free us: touch only `build` after
      --build->pending;
    });
    b->hwnd = b->window->Handle();
  } else if (b->mode == cmThread) {
    try {
      b->worker = MMWorker::Create([this, b](MMWorker& w) { RunWorker(w, b); },
                                   ThreadPriorityValue(priority_));
    } catch (const std::system_error&) {
      throw EMMHiTimerError(CouldNotCreateThread("HiTimer"));
    }
    b->worker->Resume();
    if (!b->worker->WaitStarted(kWorkerTimeoutMs)) {
      b->worker->Stop();
      b->worker->JoinForGood();
      throw EMMHiTimerError(CouldNotCreateThread("HiTimer"));
    }
  }

  TimerService& service = GetTimerService();
  b->service = &service;
  service.BeginPeriod(service.MinPeriod());
  TimerService::Callback tick;
  switch (b->mode) {
    case cmWindow:
      tick = [b](TimerId id) {
        // Only this thread counts up, so the bound holds without a compare-and-swap.
        if (b->pending.load() >= kMMHiTimerMaxPending) return;
        ++b->pending;
        MessageWindow::Post(b->hwnd, MM_HITIMER_TICK, id);
      };
      break;
    case cmCallback:
      tick = [this](TimerId) { Guarded([this] { Timer(); }); };
      break;
    case cmThread:
      tick = [b](TimerId) { b->wake.Set(); };
      break;
  }
  const TimerId id = service.StartPeriodic(static_cast<int>(interval_), std::move(tick));
  if (id == 0) {
    service.EndPeriod(service.MinPeriod());
    if (b->worker) {
      b->worker->Stop();
      b->wake.Set();
      b->worker->JoinForGood();
    }
    throw EMMHiTimerError("Out of system resources");
  }
  b->timer = id;
  // The new timer's worker may already have ticked and rebuilt it before we got here (its
  // tear-down found nothing installed); one of the two must go, or its timer would run on.
  Release(Exchange(std::move(b)));
}

void TMMHiTimer::RunWorker(MMWorker& w, const std::shared_ptr<Build>& build) {
  w.SignalStarted();
  std::optional<std::string> error;
  try {
    while (w.Gate()) {
      if (!build->wake.Wait(kWakeSliceMs) || w.Stopping()) continue;
      if (synchronize_)
        w.Synchronize([this] { Timer(); });
      else
        Timer();
    }
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "Unknown exception";
  }
  if (error) ReportThreadException(*error);
}

}  // namespace vant
