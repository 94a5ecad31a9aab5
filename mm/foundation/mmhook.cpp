#include "mmhook.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "ui_form.h"

namespace vant {

namespace {
// Every hooked component of the process; exists only while one is hooked.
std::unique_ptr<std::vector<TMMWndProcComponent*>> g_hooked;
}  // namespace

// The procedure a component installs: a distinct type, so the chain can tell a listed
// component's hook from any other procedure.
struct TMMWndProcComponent::HookProc {
  TMMWndProcComponent* component;
  void operator()(TMessage& m) const { component->HookWndProc(m); }
};

TMMWndProcComponent* TMMWndProcComponent::HookOf(const MessageWindow::WndProc& proc) {
  const HookProc* hook = proc.target<HookProc>();
  return hook ? hook->component : nullptr;
}

TMMWndProcComponent::TMMWndProcComponent(TComponent* owner) : TMMNonVisualComponent(owner) {
  owner_form_ = dynamic_cast<TForm*>(owner);
  if (!owner_form_) throw Exception("Owner must be a Form");
}

TMMWndProcComponent::~TMMWndProcComponent() { UnHookOwner(); }

void TMMWndProcComponent::HookOwner() {
  if (hooked_) return;
  window_ = owner_form_->Handle();
  if (window_ == 0) return;
  prev_ = MessageWindow::SetWndProc(window_, HookProc{this});
  if (!g_hooked) g_hooked = std::make_unique<std::vector<TMMWndProcComponent*>>();
  g_hooked->push_back(this);
  hooked_ = true;
}

void TMMWndProcComponent::UnHookOwner() {
  if (!hooked_) return;
  hooked_ = false;
  if (window_ != 0) {
    std::erase(*g_hooked, this);
    // A hook installed after ours on the same window called ours next: it now calls what ours
    // called, and the window keeps it.
    bool chained = false;
    for (TMMWndProcComponent* c : *g_hooked) {
      if (HookOf(c->prev_) == this) {
        c->prev_ = prev_;
        chained = true;
      }
    }
    if (!chained) MessageWindow::SetWndProc(window_, prev_);
  }
  prev_ = nullptr;
  window_ = 0;
  if (g_hooked && g_hooked->empty()) g_hooked.reset();
}

void TMMWndProcComponent::HookWndProc(TMessage& Message) {
  Message.Result = CallPrevWndProc(Message.Msg, Message.WParam, Message.LParam);
}

intptr_t TMMWndProcComponent::CallPrevWndProc(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  if (!hooked_ || !prev_) return 0;
  TMessage m{Msg, WParam, LParam, 0};
  prev_(m);
  return m.Result;
}

}  // namespace vant
