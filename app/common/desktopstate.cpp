#include "desktopstate.h"

#include <QGuiApplication>
#include <QPalette>
#include <QWidget>

bool ShiftOrCtrlHeld() {
  if (!QGuiApplication::instance()) return false;
  const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
  return m & (Qt::ShiftModifier | Qt::ControlModifier);
}

void BringWindowForward(vant::TForm& form) {
  if (QWidget* w = form.Host(); w && w->isMinimized()) w->showNormal();
  form.Show();
}

void SetTextColor(vant::TControl& field, vant::TColor colour) {
  field.Font().SetColor(colour);
  QWidget* w = field.Host();
  if (!w) return;
  const uint32_t rgb = vant::ColorToRGB(colour);  // 0x00BBGGRR
  const QColor c(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
  QPalette p = w->palette();
  p.setColor(QPalette::Text, c);
  p.setColor(QPalette::WindowText, c);
  w->setPalette(p);
  w->update();
}
