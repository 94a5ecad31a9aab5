#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QWidget>

#include <utility>
#include <vector>

#include "bsplash.h"
#include "comresources.h"
#include "skinlist.h"
#include "ui_application.h"
#include "ui_testing.h"
#include "verformaa.h"

using namespace vant;

namespace {

using Size = std::pair<int, int>;

// Every item's size, {0, 0} for an empty one.
std::vector<Size> Sizes(g32::TBitmap32List& list) {
  std::vector<Size> out;
  for (int i = 0; i < list.GetBitmaps()->Count(); ++i)
    out.emplace_back(list.GetBitmap(i)->Width(), list.GetBitmap(i)->Height());
  return out;
}

bool Opaque(const g32::TBitmap32& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if ((b.GetPixel(x, y) >> 24) != 0xFF) return false;
  return true;
}

TEST(SkinModules, CommonModuleHasItsPicturesAtTheirIndices) {
  TComDataRes res(nullptr);
  EXPECT_EQ(ComDataRes, &res);
  const Size button{31, 31}, exit{95, 24}, lamp{66, 27}, mark{21, 21};
  std::vector<Size> want = {{0, 0}, {0, 0}, button,    button,  button, button,
                            button, button, {101, 31}, {8, 23}, exit,   exit};
  for (int i = 0; i < 6; ++i) want.push_back(lamp);
  for (int i = 0; i < 8; ++i) want.push_back(mark);
  want.push_back({233, 21});
  want.push_back({23, 8});
  EXPECT_EQ(Sizes(res.Bitmap32List), want);
  // Pressed pictures differ from normal ones, lit lamps from dark ones.
  for (int n : {2, 4, 6, 10, 12, 14, 16, 18, 20, 22, 24})
    EXPECT_NE(res.Bitmap32List.GetBitmap(n)->WriteData(),
              res.Bitmap32List.GetBitmap(n + 1)->WriteData())
        << n;
}

TEST(SkinModules, ReferenceIsClearedWithTheModule) {
  { TComDataRes res(nullptr); }
  EXPECT_EQ(ComDataRes, nullptr);
}

TEST(SkinModules, DamagedPackIsRefused) {
  g32::TBitmap32List list;
  const unsigned char bad[] = {'V', 'S', 'K', 'N', 2, 0, 0, 0, 9, 0, 0, 0, 1};
  EXPECT_THROW(LoadSkinList(list, bad, bad + sizeof bad), ESkinPackError);
  // A picture that announces more pixels than it carries.
  const unsigned char short_item[] = {'V', 'S', 'K', 'N', 1, 0, 0, 0, 9, 0, 0,
                                      0,   4,   0,   0,   0, 4, 0, 0, 0, 7};
  EXPECT_THROW(LoadSkinList(list, short_item, short_item + sizeof short_item), ESkinPackError);
}

TEST(Splash, HoldsFourOpaqueTitlePicturesAndShowsTheConverters) {
  Application->Initialize();
  TVANTSplash splash(nullptr);
  splash.DoCreate();
  EXPECT_EQ(VANTSplash, &splash);
  EXPECT_EQ(Sizes(splash.Bitmap32List), std::vector<Size>(4, Size{480, 250}));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(Opaque(*splash.Bitmap32List.GetBitmap(i))) << i;
  EXPECT_EQ(splash.EditionCode, 0);
  EXPECT_EQ(splash.GetFormStyle(), fsStayOnTop);
  EXPECT_EQ(splash.GetBorderStyle(), bsNone);
  splash.ShowPicture(2);
  splash.Show();
  Application->ProcessMessages();
  EXPECT_EQ(splash.ClientWidth(), 480);
  EXPECT_EQ(splash.ClientHeight(), 250);
  EXPECT_EQ(splash.GetLeft(), (Screen->Width() - 480) / 2);
  uitest::SaveScreenshot(splash, "app_common_splash");
  splash.Hide();
}

// The splash has no caption of its own: the desktop names it by the program's title, which the
// program sets while the splash is already up.
TEST(Splash, IsNamedByTheProgramsTitle) {
  Application->Initialize();
  TVANTSplash splash(nullptr);
  splash.DoCreate();
  splash.ShowPicture(2);
  splash.Show();
  Application->ProcessMessages();
  Application->SetTitle("オルネ　広告会社仕様");
  EXPECT_EQ(splash.Host()->windowTitle().toStdString(), "");
  EXPECT_EQ(QGuiApplication::applicationDisplayName().toStdString(), "オルネ　広告会社仕様");
  splash.Hide();
}

TEST(VersionWindow, TakesTheSizeOfThePictureGivenIt) {
  Application->Initialize();
  TVANTSplash splash(nullptr);
  TVersionConv version(nullptr);
  version.DoCreate();
  EXPECT_EQ(version.GetCaption(), "バージョン情報");
  EXPECT_EQ(version.ClientWidth(), 320);
  version.SetPicture(splash.Bitmap32List.GetBitmap(2));
  EXPECT_EQ(version.ClientWidth(), 480);
  EXPECT_EQ(version.ClientHeight(), 250);
  EXPECT_EQ(version.TitleImage->GetWidth(), 480);
  uitest::SaveScreenshot(version, "app_common_version");
}

}  // namespace
