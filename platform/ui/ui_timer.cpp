#include "ui_timer.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "clock.h"
#include "ui_application.h"

namespace vant {

namespace {
std::vector<TTimer*>& armed() {
  static std::vector<TTimer*> v;
  return v;
}

// One toolkit timer wakes the loop at the nearest due time of the process clock.
void ArmWake() {
  if (!QCoreApplication::instance() || QThread::currentThread() != qApp->thread()) return;
  static QTimer* wake = nullptr;
  if (!wake) {
    wake = new QTimer(qApp);
    wake->setSingleShot(true);
    QObject::connect(wake, &QTimer::timeout, [] { RunDueTimers(); });
  }
  if (armed().empty()) {
    wake->stop();
    return;
  }
  int64_t due = armed().front()->DueMillis();
  for (TTimer* t : armed()) due = std::min(due, t->DueMillis());
  int64_t wait = std::max<int64_t>(0, due - GetClock().NowMillis());
  wake->start(static_cast<int>(std::min<int64_t>(wait, 1 << 30)));
}
}  // namespace

TTimer::TTimer(TComponent* owner) : TComponent(owner) { Update(); }

TTimer::~TTimer() {
  Destroying();
  std::erase(armed(), this);
}

void TTimer::SetInterval(unsigned ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Update();
}

void TTimer::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Update();
}

void TTimer::Update() {
  std::erase(armed(), this);
  if (enabled_ && interval_ > 0) {
    due_ = GetClock().NowMillis() + interval_;
    armed().push_back(this);
  }
  ArmWake();
}

void TTimer::Rearm() { due_ = GetClock().NowMillis() + interval_; }

void TTimer::Timer() {
  if (OnTimer) OnTimer(this);
}

int RunDueTimers() {
  int64_t now = GetClock().NowMillis();
  std::vector<TTimer*> due;
  for (TTimer* t : armed())
    if (t->DueMillis() <= now && !t->HasState(csDesigning)) due.push_back(t);
  std::sort(due.begin(), due.end(),
            [](TTimer* a, TTimer* b) { return a->DueMillis() < b->DueMillis(); });
  int fired = 0;
  for (TTimer* t : due) {
    // A handler may have disabled or freed another due timer.
    if (std::find(armed().begin(), armed().end(), t) == armed().end()) continue;
    t->Rearm();
    ++fired;
    Guarded([t] { t->Timer(); });
  }
  ArmWake();
  return fired;
}

}  // namespace vant
