// Windows on a high-density screen: this test also runs with the toolkit's scale factor 2 (as a
// desktop sets it for a 4K screen; see CMakeLists.txt), where the window keeps its layout in
// logical pixels and is presented with twice the pixels, our canvas's pictures enlarged smoothly
// and the toolkit's text drawn at the real resolution. At scale 1 nothing changes.
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <cstdlib>
#include <string>

#include "ui_fixture.h"
#include "ui_form.h"
#include "ui_qt.h"
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

// The program's own text on a high-density screen is drawn at the screen's resolution, as the
// toolkit would draw it there, not enlarged from the logical picture. The two references are made
// with the toolkit directly: the text drawn on a surface of the screen's density, and the same
// text drawn in logical pixels and enlarged.
TEST_F(HighDensity, CanvasTextIsDrawnAtTheScreensResolution) {
  const char* env = std::getenv("QT_SCALE_FACTOR");
  const double ratio = env ? std::atof(env) : 1.0;
  if (ratio == 1.0) GTEST_SKIP() << "runs at scale 2 (HighDensity.AtScale2)";
  const std::string text = "添付ファイル 広告会社";
  TForm form(nullptr);
  form.SetClientWidth(200);
  form.SetClientHeight(40);
  auto* box = new TPaintBox(&form);
  box->SetParent(&form);
  box->SetBounds(10, 10, 160, 20);
  box->Font().SetName("ＭＳ Ｐゴシック");
  box->Font().SetHeight(-12);
  box->OnPaint = [box, text](TObject*) {
    TCanvas& c = box->Canvas();
    c.Brush().Color = clWhite;
    c.FillRect({0, 0, 160, 20});
    c.Brush().Style = bsClear;
    c.TextOut(4, 3, text);
  };
  form.Show();
  const QImage shot = box->Host()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.width(), qRound(160 * ratio));

  QFont font = ToQFont(box->Font());
  const QString s = QString::fromStdString(text);
  auto reference = [&](double density, bool smooth) {
    QImage image(qRound(160 * density), qRound(20 * density), QImage::Format_RGB32);
    image.setDevicePixelRatio(density);
    image.fill(Qt::white);
    QPainter p(&image);
    QFont f = font;
    f.setStyleStrategy(smooth ? QFont::PreferAntialias : QFont::NoAntialias);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(4, 3 + QFontMetrics(font).ascent(), s);
    return image;
  };
  const QImage sharp = reference(ratio, true);
  const QImage enlarged = reference(1.0, false)
                              .scaled(shot.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_RGB32);
  auto distance = [&](const QImage& other) {
    int64_t sum = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x)
        sum += std::abs(qGray(shot.pixel(x, y)) - qGray(other.pixel(x, y)));
    return sum;
  };
  EXPECT_LT(distance(sharp) * 4, distance(enlarged))
      << distance(sharp) << " " << distance(enlarged);
  // The kept logical picture has the text too.
  TBitmap logical;
  box->PaintTo(logical);
  int dark = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 160; ++x) dark += qGray(logical.Image().pixel(x, y)) < 128;
  EXPECT_GT(dark, 50);
  uitest::SaveScreenshot(form, "platform-ui-high-density-text");
}

}  // namespace
}  // namespace vant
