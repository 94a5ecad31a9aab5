// The container editor form driven as a person would: list, add, delete, extract, rename.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "controls_fixture.h"
#include "mmffedit.h"
#include "dispatch.h"
#include "ui_testing.h"

namespace fs = std::filesystem;
using namespace vant;

namespace {

class FastFileEditorTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    dir_ = fs::temp_directory_path() / ("ffedit-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    ControlsTest::TearDown();
  }
  std::string File(const std::string& name, size_t size) {
    std::ofstream(dir_ / name, std::ios::binary) << std::string(size, 'x');
    return (dir_ / name).string();
  }
  fs::path dir_;
};

TEST_F(FastFileEditorTest, ListsAddsDeletesExtractsAndRenames) {
  const std::string box = (dir_ / "box.ff").string();
  TMMFFileDlg form(nullptr);
  form.FastFile->SetFileName(box);
  form.FastFile->AddFile(File("small.txt", 300));
  form.Show();
  EXPECT_TRUE(form.AddBtn->GetEnabled());
  EXPECT_FALSE(form.DelBtn->GetEnabled());
  ASSERT_EQ(form.ListView->Count(), 1);
  EXPECT_EQ(form.ListView->Item(0).caption, "small.txt");
  EXPECT_EQ(form.ListView->Item(0).sub_items[0], "1 KB");  // below 1 KB still shows 1 KB
  EXPECT_EQ(form.ListView->Item(0).sub_items[1], "0000472");  // 16 + 22 * 51 = 0x472
  EXPECT_EQ(form.lblMaxFiles->GetCaption(), " 50");

  dialogs_.answerer.AnswerFile(File("large.bin", 5000));
  uitest::Click(*form.AddBtn, 10, 10);
  ASSERT_EQ(form.ListView->Count(), 2);
  EXPECT_EQ(form.ListView->Item(1).sub_items[0], "4 KB");
  EXPECT_EQ(form.lblFiles->GetCaption(), "  2");

  form.ListView->SetSelected(1);
  EXPECT_TRUE(form.DelBtn->GetEnabled());
  EXPECT_TRUE(form.ExtractBtn->GetEnabled());
  fs::create_directories(dir_ / "out");
  dialogs_.answerer.AnswerFile((dir_ / "out/copy.bin").string());
  uitest::Click(*form.ExtractBtn, 10, 10);
  EXPECT_EQ(fs::file_size(dir_ / "out/copy.bin"), 5000u);
  ASSERT_GE(dialogs_.answerer.Asked().size(), 2u);
  EXPECT_EQ(dialogs_.answerer.Asked().back().file.file_name, "large.bin");

  // In-place rename: the row keeps the typed text, also when the rename is refused.
  form.ListView->HandleEdited(0, "renamed.txt");
  EXPECT_TRUE(form.FastFile->FileExists("RENAMED.TXT"));
  EXPECT_EQ(form.ListView->Item(0).caption, "renamed.txt");
  dialogs_.answerer.AnswerMessage(mrOk);
  EXPECT_ANY_THROW(form.ListView->HandleEdited(1, "RENAMED.txt"));
  EXPECT_EQ(form.ListView->Item(1).caption, "RENAMED.txt");
  EXPECT_TRUE(form.FastFile->FileExists("large.bin"));

  form.ListView->SetSelected(0);
  uitest::Click(*form.DelBtn, 10, 10);
  ASSERT_EQ(form.ListView->Count(), 1);
  EXPECT_EQ(form.ListView->Item(0).caption, "large.bin");
  uitest::SaveScreenshot(form, "fastfile_editor");
}

TEST_F(FastFileEditorTest, ExecuteNeedsASourceAndAnswersOk) {
  TMMFastFileDialog dialog(nullptr);
  EXPECT_FALSE(dialog.Execute());
  auto* source = new TMMFastFile(nullptr);
  source->SetFileName((dir_ / "new.ff").string());  // a missing file is created empty
  dialog.SetSource(source);
  dialog.SetTitle("Container");
  std::string caption;
  dialog.OnFormCreated = [&](TMMFFileDlg& form) {
    caption = form.GetCaption();
    GetDispatcher().Post([&form] { form.OKBtn->Click(); });
  };
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(caption, "Container");
  delete source;  // the dialog forgets a freed source
  EXPECT_EQ(dialog.GetSource(), nullptr);
}

}  // namespace
