#include "ui_testing.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QToolTip>
#include <cctype>

#include "ui_qt.h"

namespace vant::uitest {

namespace {
Qt::MouseButton QtButton(TMouseButton b) {
  return b == mbRight ? Qt::RightButton : b == mbMiddle ? Qt::MiddleButton : Qt::LeftButton;
}
Qt::KeyboardModifiers QtModifiers(const TShiftState& s) {
  Qt::KeyboardModifiers m = Qt::NoModifier;
  if (s.count(ssShift)) m |= Qt::ShiftModifier;
  if (s.count(ssCtrl)) m |= Qt::ControlModifier;
  if (s.count(ssAlt)) m |= Qt::AltModifier;
  return m;
}
void SendMouse(TControl& c, QEvent::Type type, int x, int y, Qt::MouseButton button,
               Qt::MouseButtons held, const TShiftState& keys = {}) {
  QWidget* w = c.Host();
  QPointF local(x, y);
  QMouseEvent e(type, local, w->mapToGlobal(local), button, held, QtModifiers(keys));
  QApplication::sendEvent(w, &e);
}
QImage Render(TControl& c) {
  QWidget* w = c.Host();
  w->ensurePolished();
  return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}
}  // namespace

void MouseDown(TControl& c, int x, int y, TMouseButton b, const TShiftState& keys) {
  SendMouse(c, QEvent::MouseButtonPress, x, y, QtButton(b), QtButton(b), keys);
}
void MouseMove(TControl& c, int x, int y, bool left_held, const TShiftState& keys) {
  SendMouse(c, QEvent::MouseMove, x, y, Qt::NoButton, left_held ? Qt::LeftButton : Qt::NoButton,
            keys);
}
void DoubleClick(TControl& c, int x, int y, const TShiftState& keys) {
  Click(c, x, y);
  SendMouse(c, QEvent::MouseButtonDblClick, x, y, Qt::LeftButton, Qt::LeftButton, keys);
  MouseUp(c, x, y);
}
void MouseUp(TControl& c, int x, int y, TMouseButton b) {
  SendMouse(c, QEvent::MouseButtonRelease, x, y, QtButton(b), Qt::NoButton);
}
void Click(TControl& c, int x, int y, TMouseButton b) {
  MouseDown(c, x, y, b);
  MouseUp(c, x, y, b);
}

TControl* ControlAt(TWinControl& c, int x, int y) {
  QWidget* hit = c.Host()->childAt(x, y);
  // A widget of a control may hold inner widgets of the toolkit: the control is the nearest
  // ancestor that belongs to one.
  for (QWidget* w = hit; w; w = w->parentWidget())
    if (TControl* found = TControl::FromHost(w)) return found;
  return &c;
}

void Type(TWinControl& c, const std::string& text) {
  for (char32_t ch : QString::fromStdString(text).toUcs4()) {
    QString s = QString::fromUcs4(&ch, 1);
    // Letters and digits carry their key as a keyboard would; other characters come as text
    // only, as an input method delivers them.
    int key = 0;
    if (ch < 128 && std::isalpha(int(ch))) key = Qt::Key_A + (std::toupper(int(ch)) - 'A');
    if (ch < 128 && std::isdigit(int(ch))) key = Qt::Key_0 + int(ch - '0');
    if (ch == ' ') key = Qt::Key_Space;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, s);
    QApplication::sendEvent(c.Host(), &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, s);
    QApplication::sendEvent(c.Host(), &release);
  }
}

void PressKey(TWinControl& c, uint16_t vk) {
  static const std::pair<uint16_t, int> kKeys[] = {
      {VK_PRIOR, Qt::Key_PageUp},  {VK_NEXT, Qt::Key_PageDown}, {VK_END, Qt::Key_End},
      {VK_HOME, Qt::Key_Home},     {VK_LEFT, Qt::Key_Left},     {VK_UP, Qt::Key_Up},
      {VK_RIGHT, Qt::Key_Right},   {VK_DOWN, Qt::Key_Down},     {VK_RETURN, Qt::Key_Return},
      {VK_ESCAPE, Qt::Key_Escape}, {VK_TAB, Qt::Key_Tab},       {VK_DELETE, Qt::Key_Delete}};
  int key = 0;
  for (auto [v, q] : kKeys)
    if (v == vk) key = q;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(c.Host(), &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(c.Host(), &release);
}

std::string HintAt(TControl& c, int x, int y) {
  QWidget* w = c.Host();
  if (w == nullptr) return {};
  // A hint already showing fades out on a timer; a placeholder tells whether a new one came.
  const QString placeholder = QStringLiteral("\u2400");
  const QPoint p(x, y), global = w->mapToGlobal(p);
  QToolTip::showText(global, placeholder);
  QHelpEvent e(QEvent::ToolTip, p, global);
  QApplication::sendEvent(w, &e);
  const QString shown = QToolTip::isVisible() ? QToolTip::text() : QString();
  QToolTip::hideText();
  return shown == placeholder ? std::string() : shown.toStdString();
}

std::filesystem::path SaveScreenshot(TControl& c, const std::string& name) {
#ifdef VANT_BINARY_DIR
  std::filesystem::path dir = std::filesystem::path(VANT_BINARY_DIR) / "screenshots";
#else
  std::filesystem::path dir = std::filesystem::current_path() / "screenshots";
#endif
  if (const char* d = std::getenv("VANT_SCREENSHOT_DIR")) dir = d;
  std::filesystem::create_directories(dir);
  const QImage img = Render(c);
  // A high-density run keeps its pictures beside those at scale 1: "name@2x.png".
  std::string suffix;
  if (img.devicePixelRatio() != 1.0)
    suffix = "@" + QString::number(img.devicePixelRatio()).toStdString() + "x";
  auto path = dir / (name + suffix + ".png");
  img.save(QString::fromStdString(path.string()), "PNG");
  return path;
}

TColor RenderedPixel(TControl& c, int x, int y) {
  QImage img = Render(c);
  // Logical coordinates: on a high-density screen the picture has more device pixels.
  x = static_cast<int>(x * img.devicePixelRatio());
  y = static_cast<int>(y * img.devicePixelRatio());
  if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return -1;
  return PixelToColor(img.pixel(x, y));
}

}  // namespace vant::uitest
