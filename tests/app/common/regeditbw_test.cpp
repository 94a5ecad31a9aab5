#include "regeditbw.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "scratchfolder.h"
#include "ui_application.h"
#include "ui_testing.h"

using namespace vant;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    const char* old = getenv("XDG_CONFIG_HOME");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1);
  }
  void TearDown() override {
    if (had_)
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
    Application->ProcessMessages();
  }
  std::filesystem::path StoreFile() const { return folder_.path() / "QORA" / "VANTCM.conf"; }
  vant::testing::ScratchFolder folder_{"vant-settings"};
  ScopedAnswerer dialogs_;
  bool had_ = false;
  std::string old_;
};

TEST_F(SettingsTest, NoStoreReadsAsZeroAndEmptyAndTheFirstWriteCreatesIt) {
  TSysRegVANT reg(nullptr);
  for (int n = 100; n <= 111; ++n) {
    EXPECT_EQ(reg.ReadWorkInteger(n), 0) << n;
    EXPECT_EQ(reg.ReadWorkString(n), "") << n;
  }
  EXPECT_FALSE(std::filesystem::exists(StoreFile()));
  reg.WriteWorkString(100, "/media/disc/CM");
  EXPECT_TRUE(std::filesystem::exists(StoreFile()));
  reg.WriteWorkInteger(106, 16384);
  EXPECT_EQ(reg.ReadWorkString(100), "/media/disc/CM");
  EXPECT_EQ(reg.ReadWorkInteger(106), 16384);
  EXPECT_EQ(TSysRegVANT::WorkValueName(7), "WorkValue007");
  EXPECT_EQ(TSysRegVANT::WorkValueName(111), "WorkValue111");
  EXPECT_EQ(reg.Store().TypeOf("WorkValue106"), SettingsStore::Type::kInteger);
}

TEST_F(SettingsTest, AValueOfTheOtherTypeRaisesTheDataTypeError) {
  TSysRegVANT reg(nullptr);
  reg.WriteWorkString(106, "loud");
  try {
    reg.ReadWorkInteger(106);
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'WorkValue106'");
  }
  reg.WriteWorkInteger(101, 3);
  EXPECT_THROW(reg.ReadWorkString(101), ERegistryException);
}

TEST_F(SettingsTest, TwoProgramsWritingDifferentValuesBothKeepTheirs) {
  TSysRegVANT converter(nullptr), viewer(nullptr);
  converter.WriteWorkString(100, "/a");
  viewer.WriteWorkString(111, "/b/list.csv");
  converter.WriteWorkInteger(106, 9000);
  viewer.WriteWorkString(100, "/c");  // the last write of one value wins
  TSysRegVANT fresh(nullptr);
  EXPECT_EQ(fresh.ReadWorkString(100), "/c");
  EXPECT_EQ(fresh.ReadWorkString(111), "/b/list.csv");
  EXPECT_EQ(fresh.ReadWorkInteger(106), 9000);
}

TEST_F(SettingsTest, DialogSavesWithoutTrailingSeparatorAndLoadsBack) {
  {
    TSysRegVANT reg(nullptr);
    reg.DoCreate();
    reg.Show();
    reg.DefaultPath->SetText("C:\\");
    reg.BaseAppName->SetText("/opt/db/");
    reg.DeviceType->SetItemIndex(1);
    uitest::SaveScreenshot(reg, "app_common_settings");
    uitest::Click(*reg.BitBtn1, 5, 5);
    EXPECT_FALSE(reg.GetVisible());
    EXPECT_EQ(*reg.Store().GetString("DefaultPath"), "C:");
    EXPECT_EQ(*reg.Store().GetString("BaseAppName"), "/opt/db");
    EXPECT_EQ(*reg.Store().GetInteger("DeviceType"), 1);
  }
  TSysRegVANT again(nullptr);
  EXPECT_EQ(again.DefaultPath->GetText(), "C:");
  EXPECT_EQ(again.BaseAppName->GetText(), "/opt/db");
  EXPECT_EQ(again.DeviceType->GetItemIndex(), 1);

  // Cancel closes without saving; the browse button fills the application name.
  again.Show();
  again.DefaultPath->SetText("/elsewhere");
  dialogs_.answerer.AnswerFile("/opt/db/base.mdb");
  uitest::Click(*again.SpeedButton1, 5, 5);
  EXPECT_EQ(again.BaseAppName->GetText(), "/opt/db/base.mdb");
  ASSERT_EQ(dialogs_.answerer.Asked().size(), 1u);
  EXPECT_EQ(dialogs_.answerer.Asked()[0].file.title, "DataBase File");
  uitest::Click(*again.BitBtn2, 5, 5);
  EXPECT_FALSE(again.GetVisible());
  EXPECT_EQ(*again.Store().GetString("DefaultPath"), "C:");
}

TEST_F(SettingsTest, AStoreThatCannotBeWrittenLosesTheValueSilently) {
  std::filesystem::create_directories(folder_.path());
  // A file where the QORA folder should be: nothing can be created below it.
  std::ofstream((folder_.path() / "QORA").string()) << "x";
  TSysRegVANT reg(nullptr);
  EXPECT_NO_THROW(reg.WriteWorkString(100, "/a"));
  EXPECT_EQ(reg.ReadWorkString(100), "");
}

}  // namespace
