#include "mowheel.h"

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>

#include "ui_application.h"

namespace viewer {

namespace {

// Lives as a child of the area's widget, so it goes with it.
class WheelRouter : public QObject {
 public:
  WheelRouter(QWidget* area, std::function<void(int)> scroll)
      : QObject(area), scroll_(std::move(scroll)) {}

  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::Wheel) return false;
    // High-resolution wheels send parts of a notch; they add up to whole notches.
    pending_ += static_cast<QWheelEvent*>(e)->angleDelta().y();
    const int notches = pending_ / QWheelEvent::DefaultDeltasPerStep;
    pending_ -= notches * QWheelEvent::DefaultDeltasPerStep;
    if (notches != 0) {
      vant::Guarded([&] { scroll_(-notches * QApplication::wheelScrollLines()); });
    }
    return true;
  }

 private:
  std::function<void(int)> scroll_;
  int pending_ = 0;
};

}  // namespace

void RouteWheel(vant::TControl& area, std::function<void(int rows)> scroll) {
  QWidget* host = area.Host();
  if (!host) return;
  auto* router = new WheelRouter(host, std::move(scroll));
  host->installEventFilter(router);
  for (QWidget* w : host->findChildren<QWidget*>()) w->installEventFilter(router);
}

}  // namespace viewer
