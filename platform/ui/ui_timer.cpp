#include "ui_timer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
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
    // Never early: a wake before anything is due only leads to another one.
    wake->setTimerType(Qt::PreciseTimer);
    QObject::connect(wake, &QTimer::timeout, [] { RunDueTimers(); });
  }
  if (armed().empty()) {
    wake->stop();
    return;
  }
  int64_t fire = armed().front()->FireAtMicros();
  for (TTimer* t : armed()) fire = std::min(fire, t->FireAtMicros());
  const int64_t wait = std::max<int64_t>(0, (fire - GetClock().NowMicros() + 999) / 1000);
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

void TTimer::SetAtFrames(bool v) {
  if (v == at_frames_) return;
  at_frames_ = v;
  if (enabled_) ArmWake();
}

void TTimer::Update() {
  std::erase(armed(), this);
  if (enabled_ && interval_ > 0) {
    Rearm();
    armed().push_back(this);
  }
  ArmWake();
}

void TTimer::Rearm() {
  armed_at_ = GetClock().NowMicros();
  due_ = armed_at_ / 1000 + interval_;
}

int64_t TTimer::FireAtMicros() const {
  if (!at_frames_) return due_ * 1000;
  // Frames on one grid of the process clock, so that every timer at frames meets the others.
  const int64_t frame = DisplayFramePeriodMicros();
  const int64_t nearest = (due_ * 1000 + frame / 2) / frame * frame;
  return std::max(nearest, (armed_at_ / frame + 1) * frame);
}

void TTimer::Timer() {
  if (OnTimer) OnTimer(this);
}

int64_t DisplayFramePeriodMicros() {
  const QScreen* screen = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                              ? QGuiApplication::primaryScreen()
                              : nullptr;
  const double hz = screen ? screen->refreshRate() : 0;
  return hz >= 20 && hz <= 250 ? static_cast<int64_t>(1e6 / hz) : 16667;
}

int RunDueTimers() {
  const int64_t now = GetClock().NowMicros();
  std::vector<TTimer*> due;
  for (TTimer* t : armed())
    if (t->FireAtMicros() <= now && !t->HasState(csDesigning)) due.push_back(t);
  std::sort(due.begin(), due.end(),
            [](TTimer* a, TTimer* b) { return a->FireAtMicros() < b->FireAtMicros(); });
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
