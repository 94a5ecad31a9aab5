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

void SetTextColor(vant::TControl& field, vant::TColor colour) { field.Font().SetColor(colour); }
