#pragma once
// Private to platform/ui: the host widgets that carry toolkit events into controls, and the
// conversions between our types and the toolkit's.
#include <QCursor>
#include <QEnterEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QToolTip>
#include <QWidget>
#include <type_traits>

#include "ui_application.h"
#include "ui_canvas.h"
#include "ui_control.h"

namespace vant {

// The settings every file dialog of the programs shares: the toolkit's own widgets, file types
// judged by name only (no file is read to guess it), names matched in any case.
void ConfigureFileDialog(QFileDialog& d);
QFont ToQFont(const TFont& f);
QCursor ToQCursor(TCursor c);
TShiftState ShiftFrom(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons);
uint16_t VirtualKeyFrom(const QKeyEvent* e);
// On X11, writes every top-level window's legacy WM_NAME in compound text (ui_x11title.cpp).
void InstallLegacyTitles();
inline const char* kControlProperty = "vantControl";

// Routes a host widget's events to its control; `Base` is QWidget for controls that paint
// themselves, or a toolkit control class that the control wraps.
template <class Base>
class HostWidget : public Base {
 public:
  template <class... A>
  explicit HostWidget(TControl* c, A&&... a) : Base(std::forward<A>(a)...), control_(c) {
    this->setProperty(kControlProperty, QVariant::fromValue<void*>(c));
    this->setMouseTracking(true);
    if constexpr (std::is_same_v<Base, QWidget>) this->setFocusPolicy(Qt::NoFocus);
  }
  TControl* control() const { return control_; }
  void Detach() { control_ = nullptr; }

 protected:
  static constexpr bool kSelfPainted = std::is_same_v<Base, QWidget>;
  TWinControl* Win() const { return dynamic_cast<TWinControl*>(control_); }
  // A hint the control refuses is not shown, neither its own nor its parent's.
  bool event(QEvent* e) override {
    if (e->type() == QEvent::ToolTip && control_) {
      bool allowed = true;
      Guarded([&] { allowed = control_->CanShowHint(); });
      if (!allowed) {
        QToolTip::hideText();
        e->accept();
        return true;
      }
    }
    return Base::event(e);
  }
  static TMouseButton ButtonOf(Qt::MouseButton b) {
    return b == Qt::RightButton ? mbRight : b == Qt::MiddleButton ? mbMiddle : mbLeft;
  }
  void paintEvent(QPaintEvent* e) override {
    if constexpr (kSelfPainted) {
      if (control_) Guarded([&] { control_->HandlePaint(this); });
    } else {
      Base::paintEvent(e);
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    if constexpr (!kSelfPainted) Base::mousePressEvent(e);
    Press(e, false);
  }
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    if constexpr (!kSelfPainted) Base::mouseDoubleClickEvent(e);
    Press(e, true);
  }
  void Press(QMouseEvent* e, bool dbl) {
    if (!control_) return;
    QPoint p = e->position().toPoint();
    TShiftState s = ShiftFrom(e->modifiers(), e->buttons());
    Guarded([&] { control_->HandleMouseDown(ButtonOf(e->button()), s, p.x(), p.y(), dbl); });
    e->accept();
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if constexpr (!kSelfPainted) Base::mouseMoveEvent(e);
    if (!control_) return;
    QPoint p = e->position().toPoint();
    TShiftState s = ShiftFrom(e->modifiers(), e->buttons());
    Guarded([&] { control_->HandleMouseMove(s, p.x(), p.y()); });
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if constexpr (!kSelfPainted) Base::mouseReleaseEvent(e);
    if (!control_) return;
    QPoint p = e->position().toPoint();
    TShiftState s = ShiftFrom(e->modifiers(), e->buttons());
    Guarded([&] { control_->HandleMouseUp(ButtonOf(e->button()), s, p.x(), p.y()); });
  }
  void enterEvent(QEnterEvent* e) override {
    Base::enterEvent(e);
    if (control_) Guarded([&] { control_->HandleEnter(); });
  }
  void leaveEvent(QEvent* e) override {
    Base::leaveEvent(e);
    if (control_) Guarded([&] { control_->HandleLeave(); });
  }
  void keyPressEvent(QKeyEvent* e) override {
    TWinControl* w = Win();
    bool pass = true;
    if (w) {
      uint16_t key = VirtualKeyFrom(e);
      TShiftState s = ShiftFrom(e->modifiers(), Qt::NoButton);
      Guarded([&] {
        if (key) pass = w->HandleKeyDown(key, s);
        QString t = e->text();
        if (pass && !t.isEmpty()) {
          char32_t ch = t.toUcs4().value(0);
          pass = w->HandleKeyPress(ch);
        }
      });
    }
    if (pass) Base::keyPressEvent(e);
  }
  void keyReleaseEvent(QKeyEvent* e) override {
    if (TWinControl* w = Win()) {
      uint16_t key = VirtualKeyFrom(e);
      TShiftState s = ShiftFrom(e->modifiers(), Qt::NoButton);
      Guarded([&] {
        if (key) w->HandleKeyUp(key, s);
      });
    }
    Base::keyReleaseEvent(e);
  }
  void focusInEvent(QFocusEvent* e) override {
    Base::focusInEvent(e);
    if (TWinControl* w = Win()) Guarded([&] { w->HandleFocus(true); });
  }
  void focusOutEvent(QFocusEvent* e) override {
    Base::focusOutEvent(e);
    if (TWinControl* w = Win()) Guarded([&] { w->HandleFocus(false); });
  }

 private:
  TControl* control_;
};

}  // namespace vant
