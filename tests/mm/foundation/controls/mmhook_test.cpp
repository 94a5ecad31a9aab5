#include "mmhook.h"

#include <gtest/gtest.h>

#include <string>

#include "controls_fixture.h"
#include "ui_form.h"

namespace vant {
namespace {

constexpr uint32_t kProbe = WM_USER + 1;

// A form that notes what reaches its own window procedure.
class LoggingForm : public TForm {
 public:
  LoggingForm(std::string& log) : TForm(nullptr), log_(log) {}
  void WndProc(TMessage& m) override {
    if (m.Msg == kProbe) {
      log_ += "F";
      m.Result = 7;
    }
  }

 private:
  std::string& log_;
};

// A hook that notes its name and passes everything on; "swallow" keeps kProbe to itself.
class LoggingHook : public TMMWndProcComponent {
 public:
  LoggingHook(TForm* form, char name, std::string& log, bool swallow = false)
      : TMMWndProcComponent(form), name_(name), log_(log), swallow_(swallow) {}
  void HookWndProc(TMessage& m) override {
    if (m.Msg == kProbe) log_ += name_;
    if (swallow_ && m.Msg == kProbe)
      m.Result = 99;
    else
      TMMWndProcComponent::HookWndProc(m);
  }

 private:
  char name_;
  std::string& log_;
  bool swallow_;
};

class WindowHookTest : public ControlsTest {
 protected:
  // What the form's window does with one probe message, and its answer.
  std::string Probe(intptr_t* result = nullptr) {
    log.clear();
    intptr_t r = MessageWindow::Send(form->Handle(), kProbe);
    if (result) *result = r;
    return log;
  }
  void SetUp() override {
    ControlsTest::SetUp();
    form = new LoggingForm(log);
  }
  void TearDown() override {
    delete form;
    ControlsTest::TearDown();
  }
  std::string log;
  LoggingForm* form = nullptr;
};

TEST_F(WindowHookTest, TwoHooksChainAndUnhookInEitherOrder) {
  struct Case {
    const char* what;
    bool first_out_first;
    const char* after_one_out;
  } cases[] = {{"creation order", true, "2F"}, {"reverse order", false, "1F"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto* one = new LoggingHook(form, '1', log);
    auto* two = new LoggingHook(form, '2', log);
    one->HookOwner();
    two->HookOwner();
    two->HookOwner();  // hooked already: nothing
    intptr_t result = 0;
    EXPECT_EQ(Probe(&result), "21F");
    EXPECT_EQ(result, 7);  // the form's answer comes back through both
    (c.first_out_first ? one : two)->UnHookOwner();
    EXPECT_EQ(Probe(), c.after_one_out);
    delete one;  // the destructor unhooks what is still hooked
    delete two;
    EXPECT_EQ(Probe(), "F");
  }
}

TEST_F(WindowHookTest, AHookMayKeepAMessageAndRehookLater) {
  LoggingHook hook(form, 'h', log, /*swallow=*/true);
  EXPECT_EQ(hook.CallPrevWndProc(kProbe, 0, 0), 0);  // not hooked
  hook.HookOwner();
  intptr_t result = 0;
  EXPECT_EQ(Probe(&result), "h");
  EXPECT_EQ(result, 99);
  EXPECT_EQ(hook.CallPrevWndProc(kProbe, 0, 0), 7);
  hook.UnHookOwner();
  EXPECT_FALSE(hook.GetHooked());
  EXPECT_EQ(Probe(), "F");
  hook.HookOwner();
  EXPECT_EQ(Probe(), "h");
}

TEST_F(WindowHookTest, OnlyAFormMayOwnIt) {
  TComponent plain(nullptr);
  for (TComponent* owner : {static_cast<TComponent*>(nullptr), &plain}) {
    try {
      TMMWndProcComponent hook(owner);
      ADD_FAILURE() << "accepted a non-form owner";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Owner must be a Form");
    }
  }
}

}  // namespace
}  // namespace vant
