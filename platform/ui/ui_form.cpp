#include "ui_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <algorithm>

#include "dispatch.h"
#include "ui_application.h"
#include "ui_qt.h"
#include "ui_stdctrls.h"

namespace vant {

namespace {
class FormHost : public HostWidget<QWidget> {
 public:
  explicit FormHost(TForm* f) : HostWidget<QWidget>(f), form_(f) {
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  void Detach() { form_ = nullptr; }

 protected:
  bool event(QEvent* e) override {
    if (form_ && (e->type() == QEvent::WindowActivate || e->type() == QEvent::WindowDeactivate)) {
      bool on = e->type() == QEvent::WindowActivate;
      Guarded([&] { form_->HandleActivate(on); });
    }
    return HostWidget<QWidget>::event(e);
  }
  // Enter and Escape that no control took press the form's default and cancel buttons.
  void keyPressEvent(QKeyEvent* e) override {
    HostWidget<QWidget>::keyPressEvent(e);
    if (!form_) return;
    bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    bool escape = e->key() == Qt::Key_Escape;
    if (!enter && !escape) return;
    if (TButton* b = FindButton(form_, enter)) {
      e->accept();
      Guarded([&] { b->Click(); });
    }
  }
  static TButton* FindButton(TWinControl* parent, bool default_button) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
      TControl* c = parent->Controls(i);
      if (!c->GetVisible() || !c->GetEnabled()) continue;
      if (auto* b = dynamic_cast<TButton*>(c))
        if (default_button ? b->GetDefault() : b->GetCancel()) return b;
      if (auto* w = dynamic_cast<TWinControl*>(c))
        if (TButton* found = FindButton(w, default_button)) return found;
    }
    return nullptr;
  }
  void closeEvent(QCloseEvent* e) override {
    // The form decides; the toolkit never closes it on its own.
    e->ignore();
    if (form_) Guarded([&] { form_->HandleUserClose(); });
  }
  void resizeEvent(QResizeEvent* e) override {
    HostWidget<QWidget>::resizeEvent(e);
    Sync();
  }
  void moveEvent(QMoveEvent* e) override {
    HostWidget<QWidget>::moveEvent(e);
    Sync();
  }

 private:
  void Sync() {
    if (form_ && isVisible()) {
      QRect g = geometry();
      Guarded([&] { form_->HandleUserGeometry(g.x(), g.y(), g.width(), g.height()); });
    }
  }
  TForm* form_;
};
}  // namespace

TForm::TForm(TComponent* owner) : TWinControl(owner) {
  top_level_ = true;
  SetHost(new FormHost(this));
  SetVisible(false);
  SetColor(clBtnFace);
  SetBounds(0, 0, 320, 240);
  ApplyWindowFlags();
  Screen->AddForm(this);
}

TForm::~TForm() {
  DoDestroy();
  Screen->RemoveForm(this);
  if (Application->MainForm() == this) Application->SetMainForm(nullptr);
  if (auto* h = dynamic_cast<FormHost*>(host_)) h->Detach();
}

void TForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TForm::DoDestroy() {
  if (destroy_done_) return;
  destroy_done_ = true;
  Destroying();
  if (OnDestroy) Guarded([&] { OnDestroy(this); });
}

void TForm::ApplyWindowFlags() {
  Qt::WindowFlags f = Qt::Window;
  if (border_style_ == bsNone) {
    f |= Qt::FramelessWindowHint;
  } else {
    f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (border_icons_.count(biSystemMenu))
      f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (border_icons_.count(biMinimize)) f |= Qt::WindowMinimizeButtonHint;
    if (border_icons_.count(biMaximize) && border_style_ == bsSizeable)
      f |= Qt::WindowMaximizeButtonHint;
    if (border_style_ == bsToolWindow || border_style_ == bsSizeToolWin) f |= Qt::Tool;
  }
  if (form_style_ == fsStayOnTop) f |= Qt::WindowStaysOnTopHint;
  bool shown = host_->isVisible();
  host_->setWindowFlags(f);
  ApplySizeRule();
  if (shown) host_->show();
}

void TForm::ApplySizeRule() {
  if (border_style_ != bsSizeable && border_style_ != bsSizeToolWin)
    host_->setFixedSize(GetWidth(), GetHeight());
  else
    host_->setMinimumSize(0, 0), host_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void TForm::ApplyGeometry() {
  host_->setMinimumSize(0, 0);
  host_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  TWinControl::ApplyGeometry();
  ApplySizeRule();
}

void TForm::SetBorderStyle(TBorderStyle s) {
  if (s == border_style_) return;
  border_style_ = s;
  ApplyWindowFlags();
}

void TForm::SetBorderIcons(const TBorderIcons& i) {
  border_icons_ = i;
  ApplyWindowFlags();
}

void TForm::SetFormStyle(TFormStyle s) {
  if (s == form_style_) return;
  form_style_ = s;
  ApplyWindowFlags();
}

void TForm::HandleUserGeometry(int l, int t, int w, int h) {
  if (l == GetLeft() && t == GetTop() && w == GetWidth() && h == GetHeight()) return;
  TControl::SetBounds(l, t, w, h);
}

void TForm::SetAutoSize(bool v) {
  auto_size_ = v;
  AdjustSize();
}

void TForm::AdjustSize() {
  if (!auto_size_ || HasState(csLoading)) return;
  int w = 0, h = 0;
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* c = Controls(i);
    if (!c->GetVisible()) continue;
    w = std::max(w, c->GetLeft() + c->GetWidth());
    h = std::max(h, c->GetTop() + c->GetHeight());
  }
  if (w > 0 && h > 0) SetBounds(GetLeft(), GetTop(), w, h);
}

void TForm::Loaded() {
  TWinControl::Loaded();
  AdjustSize();
}

void TForm::Show() {
  AdjustSize();
  if (!GetVisible() && position_ == poScreenCenter)
    SetBounds((Screen->Width() - GetWidth()) / 2, (Screen->Height() - GetHeight()) / 2, GetWidth(),
              GetHeight());
  SetVisible(true);
  host_->raise();
  host_->activateWindow();
}

void TForm::Hide() { SetVisible(false); }

void TForm::VisibleChanged() {
  if (GetVisible()) {
    if (OnShow) OnShow(this);
  } else {
    if (OnHide) OnHide(this);
  }
}

bool TForm::CloseQuery() {
  bool can = true;
  if (OnCloseQuery) OnCloseQuery(this, can);
  return can;
}

void TForm::Close() {
  if (modal_) {
    if (CloseQuery()) SetModalResult(mrCancel);
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = Application->MainForm() == this ? caFree : caHide;
  if (OnClose) OnClose(this, action);
  if (action == caNone) return;
  if (Application->MainForm() == this) {
    Hide();
    Application->Terminate();
    return;
  }
  if (action == caMinimize)
    host_->showMinimized();
  else if (action == caFree)
    Release();
  else
    Hide();
}

void TForm::HandleUserClose() { Close(); }

void TForm::SetModalResult(TModalResult r) {
  modal_result_ = r;
  if (modal_ && r != mrNone)
    QMetaObject::invokeMethod(
        qApp, [] {}, Qt::QueuedConnection);
}

TModalResult TForm::ShowModal() {
  if (modal_ || GetVisible()) throw EComponentError("Cannot make a visible window modal");
  modal_ = true;
  modal_result_ = mrNone;
  host_->setWindowModality(Qt::ApplicationModal);
  Show();
  while (modal_result_ == mrNone && !Application->Terminated()) {
    if (!GetVisible()) {
      modal_result_ = mrCancel;
      break;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Application->ProcessMessages();
  }
  if (modal_result_ != mrNone) {
    TCloseAction action = caHide;
    if (OnClose) OnClose(this, action);
  }
  modal_ = false;
  Hide();
  host_->setWindowModality(Qt::NonModal);
  return modal_result_;
}

bool TForm::Active() const { return host_ && host_->isActiveWindow(); }

TWindowState TForm::GetWindowState() const {
  Qt::WindowStates s = host_->windowState();
  return (s & Qt::WindowMinimized)   ? wsMinimized
         : (s & Qt::WindowMaximized) ? wsMaximized
                                     : wsNormal;
}

void TForm::SetWindowState(TWindowState s) {
  Qt::WindowStates q = host_->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (s == wsMinimized) q |= Qt::WindowMinimized;
  if (s == wsMaximized) q |= Qt::WindowMaximized;
  host_->setWindowState(q);
}

void TForm::BringToFront() {
  if (!GetVisible()) Show();
  host_->raise();
  host_->activateWindow();
}

void TForm::Release() {
  QPointer<QWidget> h(host_);
  GetDispatcher().Post([h] {
    if (h)
      if (TControl* c = TControl::FromHost(h)) delete c;
  });
}

void TForm::HandleActivate(bool active) {
  if (active) {
    if (OnActivate) OnActivate(this);
  } else if (OnDeactivate) {
    OnDeactivate(this);
  }
}

void TForm::Paint() {
  if (OnPaint) OnPaint(this);
}

TDataModule::~TDataModule() { DoDestroy(); }

void TDataModule::DoCreate() {
  if (OnCreate) Guarded([&] { OnCreate(this); });
}

void TDataModule::DoDestroy() {
  if (destroy_done_) return;
  destroy_done_ = true;
  Destroying();
  if (OnDestroy) Guarded([&] { OnDestroy(this); });
}

void TForm::TextChanged() { host_->setWindowTitle(QString::fromStdString(GetText())); }

}  // namespace vant
