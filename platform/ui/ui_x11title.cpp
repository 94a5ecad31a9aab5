// The legacy title property on X11. The toolkit writes WM_NAME in the C library's locale, so
// under LANG=C a Japanese title arrives as mojibake for window managers that read only that
// property (_NET_WM_NAME is right). Each top-level window's WM_NAME is written again, in compound
// text, after the toolkit has written its own: when the window is shown and when its title
// changes.
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include "ui_compoundtext.h"
#include "ui_qt.h"

namespace vant {

namespace {

class LegacyTitles : public QObject {
 public:
  explicit LegacyTitles(xcb_connection_t* c) : connection_(c) {
    const char name[] = "COMPOUND_TEXT";
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (reply) {
      compound_text_ = reply->atom;
      free(reply);
    }
  }

  bool eventFilter(QObject* o, QEvent* e) override {
    if ((e->type() == QEvent::Show || e->type() == QEvent::WindowTitleChange) &&
        o->isWidgetType()) {
      auto* w = static_cast<QWidget*>(o);
      if (w->isWindow() && w->internalWinId() && w->windowHandle()) Write(*w);
    }
    return false;
  }

 private:
  void Write(QWidget& w) {
    if (compound_text_ == XCB_ATOM_NONE) return;
    const std::string text = CompoundText(w.windowHandle()->title().toStdString());
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, xcb_window_t(w.internalWinId()),
                        XCB_ATOM_WM_NAME, compound_text_, 8, uint32_t(text.size()), text.data());
    xcb_flush(connection_);
  }

  xcb_connection_t* connection_;
  xcb_atom_t compound_text_ = XCB_ATOM_NONE;
};

}  // namespace

void InstallLegacyTitles() {
  static bool installed = false;
  if (installed || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return;
  installed = true;
  qApp->installEventFilter(new LegacyTitles(x11->connection()));
}

}  // namespace vant
