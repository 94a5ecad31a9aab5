#pragma once
// Top-level windows. A form's size is its client size (the toolkit draws the frame outside it);
// builders create a form's components inside a loading bracket, call Loaded on each, then
// DoCreate. Derived forms with members their handlers use call DoDestroy first in their
// destructor, so OnDestroy still sees them.
#include <functional>
#include <set>

#include "ui_control.h"

namespace vant {

enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = std::set<TBorderIcon>;
enum TPosition { poDesigned, poDefault, poScreenCenter, poMainFormCenter };
enum TFormStyle { fsNormal, fsStayOnTop };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
using TModalResult = int;
enum : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8
};

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;
  std::string ClassName() const override { return "TForm"; }

  void SetClientWidth(int w) { SetBounds(GetLeft(), GetTop(), w, GetHeight()); }
  void SetClientHeight(int h) { SetBounds(GetLeft(), GetTop(), GetWidth(), h); }

  TBorderStyle GetBorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle s);
  const TBorderIcons& GetBorderIcons() const { return border_icons_; }
  void SetBorderIcons(const TBorderIcons& i);
  TPosition GetPosition() const { return position_; }
  void SetPosition(TPosition p) { position_ = p; }
  TFormStyle GetFormStyle() const { return form_style_; }
  void SetFormStyle(TFormStyle s);
  // The resolution the layout was designed at (always 96 here).
  int GetPixelsPerInch() const { return 96; }
  // An auto-sized form fits its client area to its visible children (their right and bottom
  // edges), when set, when loaded and when shown.
  bool GetAutoSize() const { return auto_size_; }
  void SetAutoSize(bool v);
  void AdjustSize();
  void Loaded() override;

  void Show();
  void Hide();
  // Asks OnCloseQuery, then OnClose decides: hide (default), free later, minimise or stay.
  // Closing the main form ends the application; closing a modal form ends ShowModal.
  void Close();
  // Shows the form and runs the message loop until ModalResult is set or the form closes.
  TModalResult ShowModal();
  TModalResult GetModalResult() const { return modal_result_; }
  void SetModalResult(TModalResult r);
  bool Modal() const { return modal_; }
  bool Active() const;
  TWindowState GetWindowState() const;
  void SetWindowState(TWindowState s);
  // Shows the window if hidden and brings it to the foreground.
  void BringToFront();
  // Frees the form once the events being handled now have returned.
  void Release();
  virtual bool CloseQuery();

  void DoCreate();
  void DoDestroy();

  TNotifyEvent OnCreate, OnShow, OnHide, OnActivate, OnDeactivate, OnDestroy, OnPaint;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  // Called by the host window.
  void HandleActivate(bool active);
  void HandleUserClose();
  void HandleUserGeometry(int left, int top, int width, int height);

 protected:
  void Paint() override;
  void TextChanged() override;
  void VisibleChanged() override;
  void ApplyWindowFlags();
  void ApplyGeometry() override;

 private:
  // A fixed border keeps the window at exactly its size; a sizeable one frees it.
  void ApplySizeRule();

  TBorderStyle border_style_ = bsSizeable;
  TBorderIcons border_icons_{biSystemMenu, biMinimize, biMaximize};
  TPosition position_ = poDesigned;
  TFormStyle form_style_ = fsNormal;
  TModalResult modal_result_ = mrNone;
  bool modal_ = false;
  bool destroy_done_ = false;
  bool auto_size_ = false;
};

// A non-visual container of components that lives as long as the program (the skin modules).
class TDataModule : public TComponent {
 public:
  explicit TDataModule(TComponent* owner) : TComponent(owner) {}
  ~TDataModule() override;
  std::string ClassName() const override { return "TDataModule"; }
  void DoCreate();
  // Derived modules call it first in their destructor so OnDestroy still sees their members.
  void DoDestroy();
  TNotifyEvent OnCreate, OnDestroy;

 private:
  bool destroy_done_ = false;
};

}  // namespace vant
