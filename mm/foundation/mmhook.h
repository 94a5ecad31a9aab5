#pragma once
// TMMWndProcComponent: a non-visual component that subclasses the window procedure of the form
// that owns it, chaining correctly when several such components hook the same form, in any
// order of unhooking. The run-time designer stands on it. GUI thread only.
//
// What reaches the hook is what arrives at the form's message handle (posted and sent
// messages); the toolkit's own input events are delivered to the controls directly.
#include <cstdint>

#include "mmobj.h"
#include "ui_messagewindow.h"

namespace vant {

class TForm;

class TMMWndProcComponent : public TMMNonVisualComponent {
 public:
  // Raises Exception("Owner must be a Form") unless `owner` is a form.
  explicit TMMWndProcComponent(TComponent* owner);
  // Unhooks.
  ~TMMWndProcComponent() override;
  std::string ClassName() const override { return "TMMWndProcComponent"; }

  // Installs HookWndProc in front of the form's window procedure (once).
  virtual void HookOwner();
  // Takes the hook out of the chain; a hook installed later on the same window chains on to
  // what this one chained to.
  virtual void UnHookOwner();
  // The base passes everything on: Message.Result = CallPrevWndProc(...). Descendants handle
  // what they want and pass on the rest.
  virtual void HookWndProc(TMessage& Message);
  // The previous window procedure's answer; 0 when not hooked.
  virtual intptr_t CallPrevWndProc(uint32_t Msg, uintptr_t WParam, intptr_t LParam);

  bool GetHooked() const { return hooked_; }
  TForm* GetOwnerForm() const { return owner_form_; }

 private:
  struct HookProc;
  // Whether `proc` is the hook procedure of a listed component, and which.
  static TMMWndProcComponent* HookOf(const MessageWindow::WndProc& proc);

  TForm* owner_form_ = nullptr;
  HWND window_ = 0;
  MessageWindow::WndProc prev_;
  bool hooked_ = false;
};

}  // namespace vant
