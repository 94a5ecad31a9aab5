#include "ui_application.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QStyleFactory>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "dispatch.h"
#include "trace.h"
#include "ui_canvas.h"
#include "ui_dialogs.h"
#include "ui_form.h"
#include "ui_qt.h"
#include "ui_timer.h"

namespace vant {

namespace {

// Posts go through the toolkit's event queue, so workers' posts, window messages and input keep
// one order and run inside whatever loop is running (the main loop, a modal form, a Delay).
class QtDispatcher final : public Dispatcher {
 public:
  void Post(std::function<void()> fn) override {
    QMetaObject::invokeMethod(
        qApp, [f = std::move(fn)] { Guarded(f); }, Qt::QueuedConnection);
    {
      std::lock_guard lock(mu_);
      ++posts_;
    }
    posted_.notify_all();
  }
  // Wakes early on a post; the toolkit's own input and timers are seen within a few ms.
  void WaitForMessages(int timeout_ms) override {
    std::unique_lock lock(mu_);
    uint64_t seen = posts_;
    posted_.wait_for(lock, std::chrono::milliseconds(std::clamp(timeout_ms, 0, 10)),
                     [&] { return posts_ != seen; });
  }
  bool IsTerminating() const override { return Application->Terminated(); }
  void ProcessMessages() override {
    if (IsGuiThread()) Application->ProcessMessages();
  }
  bool IsGuiThread() const override {
    return QCoreApplication::instance() && QThread::currentThread() == qApp->thread();
  }

 private:
  std::mutex mu_;
  std::condition_variable posted_;
  uint64_t posts_ = 0;
};

bool g_in_handler = false;

}  // namespace

void Guarded(const std::function<void()>& fn) noexcept {
  try {
    fn();
  } catch (const std::exception& e) {
    Application->HandleException(e);
  } catch (...) {
    Application->HandleException(Exception("Unknown exception"));
  }
}

TApplication::TApplication() : TComponent(nullptr) {}
TApplication::~TApplication() = default;

void TApplication::Initialize() {
  if (initialized_) return;
  initialized_ = true;
  EnsureGuiApplication();
  if (QStyle* s = QStyleFactory::create("Fusion")) QApplication::setStyle(s);
  // Never freed: timer, driver and worker threads may still post through it while the process
  // ends, after static objects have been destroyed.
  static QtDispatcher* dispatcher = new QtDispatcher;
  SetDispatcher(dispatcher);
}

void TApplication::FormCreated(TForm* f) {
  if (!main_form_) main_form_ = f;
  Guarded([f] { f->DoCreate(); });
}

void TApplication::Run() {
  Initialize();
  if (main_form_ && show_main_form_) main_form_->Show();
  while (!terminated_) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ProcessMessages();
    if (!main_form_) break;
  }
}

void TApplication::ProcessMessages() {
  Initialize();
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  RunDueTimers();
}

void TApplication::CancelHint() {
  if (QCoreApplication::instance()) QToolTip::hideText();
}

void TApplication::Terminate() {
  terminated_ = true;
  if (QCoreApplication::instance())
    QMetaObject::invokeMethod(
        qApp, [] {}, Qt::QueuedConnection);  // wake the loop
}

void TApplication::SetTitle(const std::string& t) {
  title_ = t;
  if (!QCoreApplication::instance()) return;
  // The toolkit gives a window without a title the application's name, which is otherwise the
  // executable's.
  QCoreApplication::setApplicationName(QString::fromStdString(t));
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->windowTitle().isEmpty() && w->windowHandle()) w->windowHandle()->setTitle(QString());
  }
}

std::string TApplication::ExeName() const {
  return QCoreApplication::instance() ? QCoreApplication::applicationFilePath().toStdString()
                                      : std::string();
}

void TApplication::HandleException(const std::exception& e) noexcept {
  // An exception while showing an exception would recurse for ever: report it only to the trace.
  if (g_in_handler) {
    Trace(std::string("exception while handling an exception: ") + e.what());
    return;
  }
  g_in_handler = true;
  try {
    if (OnException)
      OnException(this, e);
    else
      ShowException(e);
  } catch (const std::exception& inner) {
    Trace(std::string("exception handler failed: ") + inner.what());
  } catch (...) {
  }
  g_in_handler = false;
}

void TApplication::ShowException(const std::exception& e) {
  std::string msg = e.what();
  // The framework's rule: a full stop unless the text ends in '.' or a character below it
  // ('!', ')', ...).
  if (!msg.empty() && static_cast<unsigned char>(msg.back()) > '.') msg += '.';
  MessageBox(msg, title_, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  Initialize();
  return GetDialogAnswerer().MessageBox(text, caption, flags);
}

// ---- screen ----

int TScreen::Width() const {
  auto* s = QCoreApplication::instance() ? QGuiApplication::primaryScreen() : nullptr;
  return s ? s->geometry().width() : 1024;
}

int TScreen::Height() const {
  auto* s = QCoreApplication::instance() ? QGuiApplication::primaryScreen() : nullptr;
  return s ? s->geometry().height() : 768;
}

void TScreen::SetCursor(TCursor c) {
  if (c == cursor_) return;
  bool had = cursor_ != crDefault;
  cursor_ = c;
  if (!QCoreApplication::instance()) return;
  if (had) QApplication::restoreOverrideCursor();
  if (c != crDefault) QApplication::setOverrideCursor(ToQCursor(c));
}

void TScreen::RegisterCursor(TCursor id, CursorShape shape) { cursors_[id] = {shape, {}, 0, 0}; }

void TScreen::RegisterCursorImage(TCursor id, const std::vector<uint32_t>& argb, int hx, int hy) {
  CursorDef d;
  d.image = argb;
  d.image.resize(32 * 32, 0);
  d.hot_x = hx, d.hot_y = hy;
  cursors_[id] = std::move(d);
}

bool TScreen::HasCursor(TCursor id) const { return FindCursor(id) != nullptr; }

const TScreen::CursorDef* TScreen::FindCursor(TCursor id) const {
  static const std::map<TCursor, CursorDef> builtin = [] {
    std::map<TCursor, CursorDef> m;
    auto put = [&](TCursor c, CursorShape s) { m[c] = CursorDef{s, {}, 0, 0}; };
    put(crDefault, CursorShape::Arrow);
    put(crArrow, CursorShape::Arrow);
    put(crNone, CursorShape::Blank);
    put(crCross, CursorShape::Cross);
    put(crIBeam, CursorShape::IBeam);
    put(crSizeNESW, CursorShape::SizeNESW);
    put(crSizeNS, CursorShape::SizeNS);
    put(crSizeNWSE, CursorShape::SizeNWSE);
    put(crSizeWE, CursorShape::SizeWE);
    put(crUpArrow, CursorShape::UpArrow);
    put(crHourGlass, CursorShape::Wait);
    put(crDrag, CursorShape::Drag);
    put(crNoDrop, CursorShape::Forbidden);
    put(crHSplit, CursorShape::SplitH);
    put(crVSplit, CursorShape::SplitV);
    put(crMultiDrag, CursorShape::Drag);
    put(crSQLWait, CursorShape::Wait);
    put(crNo, CursorShape::Forbidden);
    put(crAppStart, CursorShape::Wait);
    put(crHelp, CursorShape::Help);
    put(crHandPoint, CursorShape::Hand);
    put(crSizeAll, CursorShape::SizeAll);
    return m;
  }();
  auto it = cursors_.find(id);
  if (it != cursors_.end()) return &it->second;
  auto b = builtin.find(id);
  return b == builtin.end() ? nullptr : &b->second;
}

void TScreen::AddForm(TForm* f) { forms_.push_back(f); }
void TScreen::RemoveForm(TForm* f) { std::erase(forms_, f); }

TForm* TScreen::ActiveForm() const {
  for (TForm* f : forms_)
    if (f->Active()) return f;
  return nullptr;
}

TApplication* ApplicationRef::operator->() const {
  // Never freed: its forms hold toolkit windows that must not outlive the toolkit's application.
  static TApplication* app = new TApplication;
  return app;
}

TScreen* ScreenRef::operator->() const {
  static TScreen* screen = new TScreen;
  return screen;
}

}  // namespace vant
