#include "mmthread.h"

#include <optional>
#include <system_error>

#include "mmworker.h"

namespace vant {

namespace {
constexpr int kStartTimeoutMs = 1000;
constexpr int kTerminateTimeoutMs = 5000;

}  // namespace

TMMThread::TMMThread(TComponent* owner) : TMMNonVisualComponent(owner) {}

TMMThread::~TMMThread() {
  std::shared_ptr<MMWorker> w;
  {
    std::lock_guard lock(mutex_);
    w = std::move(worker_);
  }
  running_ = false;
  if (w) retired_.Add(std::move(w));
  retired_.Settle();
}

void TMMThread::SetAutoExecute(bool value) {
  if (value == auto_execute_) return;
  auto_execute_ = value;
  if (value) Execute();
}

void TMMThread::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (auto w = Worker()) value ? w->Resume() : w->Suspend();
}

void TMMThread::SetPriority(TThreadPriority value) {
  priority_ = value;
  if (auto w = Worker()) w->SetPriority(ThreadPriorityValue(value));
}

bool TMMThread::GetTerminating() const {
  auto w = Worker();
  return !w || w->Stopping();
}

int64_t TMMThread::GetThreadID() const {
  auto w = Worker();
  return w ? w->ThreadId() : 0;
}

std::shared_ptr<MMWorker> TMMThread::Worker() const {
  std::lock_guard lock(mutex_);
  return worker_;
}

void TMMThread::Execute() {
  if (HasState(csDesigning) || HasState(csLoading) || !OnThread || running_) return;
  std::shared_ptr<MMWorker> w;
  try {
    w = MMWorker::Create([this](MMWorker& self) { Run(self); }, ThreadPriorityValue(priority_));
  } catch (const std::system_error&) {
    throw EMMThreadError(CouldNotCreateThread("Thread"));
  }
  {
    std::lock_guard lock(mutex_);
    worker_ = w;
  }
  running_ = true;
  if (enabled_) {
    w->Resume();
    if (!w->WaitStarted(kStartTimeoutMs)) {
      // Leave nothing running behind the error.
      {
        std::lock_guard lock(mutex_);
        worker_.reset();
      }
      running_ = false;
      w->Stop();
      w->JoinForGood();
      throw EMMThreadError(CouldNotCreateThread("Thread"));
    }
  }
  if (OnStart) OnStart(this);
}

void TMMThread::Run(MMWorker& w) {
  w.SignalStarted();
  std::optional<std::string> error;
  try {
    while (w.Gate()) DoThread(w);
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "Unknown exception";
  }
  if (w.Attached()) {  // else the component went away inside the last run
    // Ended by an exception: nobody will terminate us, so stand down before it is shown.
    // Retired under the lock: a destructor that runs meanwhile either finds this worker still in
    // place or finds it among the retired ones, and joins it either way.
    std::lock_guard lock(mutex_);
    if (worker_.get() == &w) {
      retired_.Add(std::move(worker_));
      running_ = false;
    }
  }
  if (error) ReportThreadException(*error);
}

void TMMThread::DoThread(MMWorker& w) {
  if (!enabled_) return;
  if (synchronize_)
    w.Synchronize([this] { Thread(); });
  else
    Thread();
}

void TMMThread::Thread() {
  // A copy, so a handler that frees the component keeps what it captured until it returns.
  if (TNotifyEvent handler = OnThread) handler(this);
}

void TMMThread::Terminate() {
  if (!running_) return;
  std::shared_ptr<MMWorker> w;
  {
    std::lock_guard lock(mutex_);
    w = std::move(worker_);
  }
  if (w) {
    w->Stop();
    if (wait_for_terminate_ && !w->InSync() && !w->IsWorkerThread()) w->Join(kTerminateTimeoutMs);
    retired_.Add(std::move(w));
  }
  if (OnTerminate) OnTerminate(this);
  running_ = false;
}

void TMMThread::SynchronizeVCL(const std::function<void()>& method) {
  if (auto w = Worker()) w->Synchronize(method);
}

void TMMThread::Loaded() {
  TMMNonVisualComponent::Loaded();
  if (auto_execute_) Execute();
}

void TMMThread::ChangeDesigning(bool value) {
  TMMNonVisualComponent::ChangeDesigning(value);
  if (!value && auto_execute_) Execute();
}

}  // namespace vant
