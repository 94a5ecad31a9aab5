#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include "dispatch.h"
#include "ui_dialogs.h"
#include "ui_fixture.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_testing.h"

namespace vant {
namespace {

using FormTest = UiTest;

TEST_F(FormTest, ShowModalEndsWithTheButtonsModalResult) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 200, 80);
  form.SetCaption("Confirm");
  auto* ok = new TButton(&form);
  ok->SetParent(&form);
  ok->SetCaption("OK");
  ok->SetModalResult(mrOk);
  std::vector<std::string> events;
  form.OnShow = [&](TObject*) { events.push_back("show"); };
  form.OnClose = [&](TObject*, TCloseAction&) { events.push_back("close"); };
  GetDispatcher().Post([&] {
    uitest::SaveScreenshot(form, "platform_ui_modal");
    uitest::Click(*ok, 5, 5);
  });
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_FALSE(form.GetVisible());
  EXPECT_EQ(events, (std::vector<std::string>{"show", "close"}));
}

TEST_F(FormTest, EnterAndEscapePressTheDefaultAndCancelButtons) {
  TForm form(nullptr);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  auto* edit = new TEdit(&form);
  edit->SetParent(panel);
  auto* ok = new TButton(&form);
  ok->SetParent(panel);
  ok->SetDefault(true);
  ok->SetModalResult(mrOk);
  auto* cancel = new TButton(&form);
  cancel->SetParent(panel);
  cancel->SetCancel(true);
  cancel->SetModalResult(mrCancel);
  auto press = [&](Qt::Key key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(edit->Host(), &e);
  };
  GetDispatcher().Post([&] {
    uitest::SaveScreenshot(form, "platform_ui_default_buttons");
    edit->SetFocus();
    press(Qt::Key_Return);
  });
  EXPECT_EQ(form.ShowModal(), mrOk);
  GetDispatcher().Post([&] { press(Qt::Key_Escape); });
  EXPECT_EQ(form.ShowModal(), mrCancel);
}

TEST_F(FormTest, TabMovesThroughTheChildrenInTabOrder) {
  TForm form(nullptr);
  std::vector<TEdit*> edits;
  // Creation order alone would visit the TabOrders 0, 2, 1.
  for (int order : {1, 0, 2}) {
    auto* e = new TEdit(&form);
    e->SetParent(&form);
    e->SetTop(order * 25);
    e->SetTabOrder(order);
    edits.push_back(e);
  }
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_tab_order");
  edits[1]->SetFocus();  // order 0
  std::vector<TEdit*> seen;
  for (int i = 0; i < 3; ++i) {
    QWidget* now = form.Host()->focusWidget();  // the window's focus, active or not
    ASSERT_NE(now, nullptr);
    for (TEdit* e : edits)
      if (e->Host() == now) seen.push_back(e);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(now, &tab);
  }
  EXPECT_EQ(seen, (std::vector<TEdit*>{edits[1], edits[0], edits[2]}));
}

// A memo, as in the framework, does not take Tab as text: Tab leaves it for the next control and
// its text stays as it was.
TEST_F(FormTest, TabLeavesAMemoWithoutTypingIntoIt) {
  TForm form(nullptr);
  auto* before = new TEdit(&form);
  before->SetParent(&form);
  auto* memo = new TMemo(&form);
  memo->SetParent(&form);
  memo->SetTop(25);
  memo->SetText("note");
  auto* after = new TEdit(&form);
  after->SetParent(&form);
  after->SetTop(120);
  form.Show();
  memo->SetFocus();
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, "\t");
  QApplication::sendEvent(form.Host()->focusWidget(), &tab);
  EXPECT_EQ(memo->GetText(), "note");
  EXPECT_EQ(form.Host()->focusWidget(), after->Host());
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
  QApplication::sendEvent(form.Host()->focusWidget(), &back);
  QApplication::sendEvent(form.Host()->focusWidget(), &back);
  EXPECT_EQ(form.Host()->focusWidget(), before->Host());
  EXPECT_EQ(memo->GetText(), "note");
}

TEST_F(FormTest, CloseQueryCanKeepAFormOpenAndCloseHidesByDefault) {
  TForm form(nullptr);
  bool allow = false;
  form.OnCloseQuery = [&](TObject*, bool& can) { can = allow; };
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_close_query_can_keep_a_form_open_and_close_hides");
  form.Close();
  EXPECT_TRUE(form.GetVisible());
  allow = true;
  form.Close();
  EXPECT_FALSE(form.GetVisible());
}

TEST_F(FormTest, CentredFixedFormKeepsItsClientSize) {
  TForm form(nullptr);
  form.SetBorderStyle(bsNone);
  form.SetFormStyle(fsStayOnTop);
  form.SetPosition(poScreenCenter);
  form.SetBounds(0, 0, 301, 45);
  EXPECT_EQ(form.Host()->width(), 301);  // the window follows before it is shown too
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_centred_fixed_form_keeps_its_client_size");
  EXPECT_EQ(form.GetWidth(), 301);
  EXPECT_EQ(form.ClientHeight(), 45);
  EXPECT_EQ(form.GetLeft(), (Screen->Width() - 301) / 2);
  EXPECT_EQ(form.GetTop(), (Screen->Height() - 45) / 2);
}

TEST_F(FormTest, AutoSizedFormFitsItsVisibleChildren) {
  TForm form(nullptr);
  form.SetLoading(true);
  auto* picture = new TImage(&form);
  picture->SetParent(&form);
  picture->SetBounds(0, 0, 480, 250);
  auto* hidden = new TPanel(&form);
  hidden->SetParent(&form);
  hidden->SetBounds(0, 0, 900, 900);
  hidden->SetVisible(false);
  form.SetAutoSize(true);
  EXPECT_EQ(form.GetWidth(), 320);  // nothing moves while loading
  for (int i = 0; i < form.ComponentCount(); ++i) form.Component(i)->Loaded();
  form.Loaded();
  EXPECT_EQ(form.ClientWidth(), 480);
  EXPECT_EQ(form.ClientHeight(), 250);
  picture->SetBounds(0, 0, 200, 100);
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_auto_sized_form");
  EXPECT_EQ(form.ClientWidth(), 200);
}

TEST_F(FormTest, EditLimitsTypedTextInCp932Bytes) {
  TForm form(nullptr);
  auto* e = new TEdit(&form);
  e->SetParent(&form);
  e->SetMaxLength(5);
  int changes = 0;
  e->OnChange = [&](TObject*) { ++changes; };
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_edit_limits_typed_text_in_cp932_bytes");
  e->SetFocus();
  uitest::Type(*e, "aあいう");  // 1 + 2 + 2 + 2 bytes: the last character does not fit
  EXPECT_EQ(e->GetText(), "aあい");
  EXPECT_GT(changes, 0);
  // Text set by the program is not cut.
  e->SetText("abcdefgh");
  EXPECT_EQ(e->GetText(), "abcdefgh");

  auto* m = new TMemo(&form);
  m->SetParent(&form);
  m->SetMaxLength(4);
  m->SetFocus();
  uitest::Type(*m, "ab漢字");
  EXPECT_EQ(m->GetText(), "ab漢");
  EXPECT_EQ(m->Lines().Count(), 1);

  // Line breaks are CR LF in the text and count as two bytes; either break is read.
  m->SetMaxLength(0);
  for (const char* in : {"a\nb\nc", "a\r\nb\r\nc", "a\rb\r\nc"}) {
    m->SetText(in);
    EXPECT_EQ(m->GetText(), "a\r\nb\r\nc") << in;
    EXPECT_EQ(m->Lines().Count(), 3) << in;
  }
  m->SetText("");
  m->SetMaxLength(4);
  uitest::Type(*m, "ab");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QApplication::sendEvent(m->Host(), &enter);
  uitest::Type(*m, "cd");
  EXPECT_EQ(m->GetText(), "ab\r\n");
}

TEST_F(FormTest, ListAndComboReportTheUsersChoiceOnly) {
  TForm form(nullptr);
  auto* c = new TComboBox(&form);
  c->SetParent(&form);
  c->SetStyle(csDropDownList);
  c->Items().Add("961FAS/RC40");
  c->Items().Add("681");
  int changes = 0;
  c->OnChange = [&](TObject*) { ++changes; };
  c->SetItemIndex(1);
  EXPECT_EQ(c->GetItemIndex(), 1);
  EXPECT_EQ(c->GetText(), "681");
  EXPECT_EQ(changes, 0);
  c->SetItemIndex(7);
  EXPECT_EQ(c->GetItemIndex(), -1);

  auto* l = new TListBox(&form);
  l->SetParent(&form);
  l->Items().SetText("one\ntwo\nthree");
  EXPECT_EQ(l->Items().Count(), 3);
  l->SetItemIndex(2);
  EXPECT_EQ(l->GetItemIndex(), 2);
}

TEST(Dialogs, FiltersParseAndMatchWithoutRegardToCase) {
  auto f = ParseFilter("WAV files (*.wav)|*.wav|CSV|*.csv;*.txt|All|*.*");
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].first, "WAV files (*.wav)");
  EXPECT_EQ(f[1].second, (std::vector<std::string>{"*.csv", "*.txt"}));
  struct Case {
    const char* name;
    int filter;
    bool match;
  } cases[] = {{"X.WAV", 0, true}, {"x.wav", 0, true},      {"x.wave", 0, false}, {"wav", 0, false},
               {"a.TxT", 1, true}, {"a.csv.bak", 1, false}, {"noext", 2, true},   {"a.b", 2, true}};
  for (const auto& c : cases)
    EXPECT_EQ(MatchesFilter(c.name, f[c.filter].second), c.match) << c.name;
}

TEST_F(FormTest, SaveDialogAddsTheExtensionAndAsksBeforeReplacing) {
  auto dir = std::filesystem::temp_directory_path() / ("vant_ui_dlg_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream((dir / "taken.wav").string()) << "x";
  TSaveDialog d(nullptr);
  d.Filter = "WAV files (*.wav)|*.wav";
  d.DefaultExt = "wav";
  d.Options |= ofOverwritePrompt;
  auto& a = dialogs_.answerer;
  a.AnswerFile((dir / "taken").string());  // becomes taken.wav, which exists
  a.AnswerMessage(IDNO);                   // do not replace: the dialog comes back
  a.AnswerFile((dir / "fresh").string());
  ASSERT_TRUE(d.Execute());
  EXPECT_EQ(d.FileName, (dir / "fresh.wav").string());
  ASSERT_EQ(a.Asked().size(), 3u);
  EXPECT_EQ(a.Asked()[1].kind, ScriptedAnswerer::Question::kMessage);
  EXPECT_EQ(a.Asked()[1].text.rfind("taken.wav", 0), 0u);  // the toolkit's Japanese question
  EXPECT_EQ(a.Asked()[2].file.file_name, (dir / "taken.wav").string());
  // Cancelling leaves FileName alone.
  EXPECT_FALSE(d.Execute());
  EXPECT_EQ(d.FileName, (dir / "fresh.wav").string());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vant
