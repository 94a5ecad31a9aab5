// Windows on a high-density screen: this test also runs with the toolkit's scale factor 2 (as a
// desktop sets it for a 4K screen; see CMakeLists.txt), where the window keeps its layout in
// logical pixels and is presented with twice the pixels, our canvas's pictures enlarged smoothly
// and the toolkit's text drawn at the real resolution. At scale 1 nothing changes.
#include <QImage>
#include <QWidget>
#include <cstdlib>

#include "ui_fixture.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_testing.h"

namespace vant {
namespace {

class HighDensity : public UiTest {};

TEST_F(HighDensity, TheWindowIsPresentedAtTheDesktopsScale) {
  const char* env = std::getenv("QT_SCALE_FACTOR");
  const double ratio = env ? std::atof(env) : 1.0;
  TForm form(nullptr);
  form.SetClientWidth(160);
  form.SetClientHeight(80);
  form.SetColor(clWhite);
  auto* box = new TPaintBox(&form);
  box->SetParent(&form);
  box->SetBounds(10, 10, 40, 20);
  box->OnPaint = [box](TObject*) {
    TCanvas& c = box->Canvas();
    c.Brush().Color = clBlack;
    c.FillRect({0, 0, 20, 20});
    c.Brush().Color = clWhite;
    c.FillRect({20, 0, 40, 20});
  };
  auto* edit = new TEdit(&form);
  edit->SetParent(&form);
  edit->SetBounds(10, 40, 140, 21);
  edit->SetText("あいう ABC");
  form.Show();

  // The layout is the designed one, in logical pixels.
  EXPECT_EQ(form.Host()->width(), 160);
  EXPECT_EQ(edit->Host()->geometry(), QRect(10, 40, 140, 21));
  const QImage shot = form.Host()->grab().toImage();
  EXPECT_DOUBLE_EQ(shot.devicePixelRatio(), ratio);
  EXPECT_EQ(shot.width(), qRound(160 * ratio));

  // Across the paint box's black-white edge at logical x 30: a hard step at scale 1, smooth
  // grey steps when enlarged.
  int greys = 0;
  const int y = qRound(20 * ratio);
  for (int x = qRound(26 * ratio); x < qRound(34 * ratio); ++x) {
    const int v = qGray(shot.pixel(x, y));
    if (v > 16 && v < 240) ++greys;
  }
  if (ratio == 1.0) {
    EXPECT_EQ(greys, 0);
    EXPECT_EQ(qGray(shot.pixel(29, 20)), 0);
    EXPECT_EQ(qGray(shot.pixel(30, 20)), 255);
  } else {
    EXPECT_GT(greys, 0);
  }
  uitest::SaveScreenshot(form, "platform-ui-high-density");
}

}  // namespace
}  // namespace vant
