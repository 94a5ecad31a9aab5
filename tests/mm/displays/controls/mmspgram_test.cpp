// TMMSpectrogram as a control: a sine sweep lights the rows its frequencies belong to, column
// after column, wrapping or scrolling; the palette, the embossed background, the selection by
// mouse, and screenshots of a music-like signal.
#include "mmspgram.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <numbers>
#include <vector>

#include "display_form_fixture.h"
#include "mmpcmsup.h"
#include "ui_testing.h"

namespace vant {
namespace {

constexpr int kRate = 11025;
constexpr int kFFT = 128;

// One slice of a 16-bit mono sine at the centre of FFT bin `bin`.
std::vector<int16_t> SineAtBin(int bin, double amplitude = 8000) {
  std::vector<int16_t> v(kFFT);
  for (int i = 0; i < kFFT; ++i)
    v[i] = static_cast<int16_t>(
        std::lround(amplitude * std::sin(2 * std::numbers::pi * bin * i / kFFT)));
  return v;
}

class SpectrogramTest : public DisplayFormTest {
 protected:
  // 20 columns of 64 rows: one FFT bin a row.
  TMMSpectrogram* NewSpectrogram(int left = 10, int top = 10) {
    auto* s = new TMMSpectrogram(&form);
    s->SetParent(&form);
    const int bevel = s->BevelExtend();
    s->SetBounds(left, top, 20 + 2 * bevel, 64 + 2 * bevel);
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, 16, 1, kRate);
    s->SetPCMWaveFormat(f);
    s->SetAmplitudeScale(5);
    s->SetBarWidth(1);
    return s;
  }
  // The palette index at column x, row y from the bottom.
  static int Index(TMMSpectrogram& s, int x, int row) {
    TMMDIBCanvas& c = s.DIBCanvas();
    return *c.DIB_GetPixelAddress(c.Surface(), x, s.Rows() - 1 - row);
  }
  // The row from the bottom with the highest palette index in column x.
  static int LoudestRow(TMMSpectrogram& s, int x) {
    int best = 0;
    for (int r = 1; r < s.Rows(); ++r)
      if (Index(s, x, r) > Index(s, x, best)) best = r;
    return best;
  }
  static int BinOfSlice(int i) { return 5 + (i * 7) % 50; }
};

TEST_F(SpectrogramTest, ASweepWrapsAndScrolls) {
  struct Case {
    const char* what;
    bool scroll, accelerate;
  } cases[] = {{"wrapping", false, true},
               {"wrapping, whole picture each time", false, false},
               {"scrolling", true, true},
               {"scrolling, whole picture each time", true, false}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TMMSpectrogram* s = NewSpectrogram();
    ASSERT_EQ(s->Columns(), 20);
    ASSERT_EQ(s->Rows(), 64);
    ASSERT_EQ(s->RowBins().first[9], 9);
    s->SetScroll(t.scroll);
    s->SetAccelerate(t.accelerate);
    const int slices = 33;
    for (int i = 0; i < slices; ++i) s->RefreshPCMData(SineAtBin(BinOfSlice(i)).data());
    const int last = slices - 1;
    const int w = s->Columns();
    // Wrapping: the newest column is just behind the data column, the older ones before it,
    // round and round. Scrolling: the newest stands just left of the bar, the rest follow it.
    const int newest = t.scroll ? w - 2 : (s->DataColumn() - 1 + w) % w;
    for (int x = 0; x < w - 1; ++x) {
      SCOPED_TRACE(x);
      const int age = t.scroll ? newest - x : (newest - x + w) % w;
      if (age == w - 1) continue;  // under the bar
      EXPECT_EQ(LoudestRow(*s, x), BinOfSlice(last - age));
    }
    if (!t.scroll) {
      EXPECT_EQ(s->WritePos(), (s->DataColumn() + 1) % w);
    }
    delete s;
  }
}

TEST_F(SpectrogramTest, KeptColumnsComeBackAfterARepaint) {
  struct Case {
    const char* what;
    int height;
    bool scroll;
    int slices;
  } cases[] = {{"64 rows", 64, false, 27},
               {"300 rows", 300, false, 27},
               {"scrolling, full three times over", 64, true, 60}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TMMSpectrogram* s = NewSpectrogram();
    s->SetBounds(10, 10, 20 + 2 * s->BevelExtend(), t.height + 2 * s->BevelExtend());
    s->SetScroll(t.scroll);
    s->SetSaveData(true);
    for (int i = 0; i < t.slices; ++i) s->RefreshPCMData(SineAtBin(BinOfSlice(i)).data());
    TMMDIBCanvas& c = s->DIBCanvas();
    const size_t bytes = static_cast<size_t>(c.ScanWidth()) * c.GetHeight();
    const std::vector<uint8_t> before(c.Surface(), c.Surface() + bytes);
    TBitmap shot;
    s->PaintTo(shot);  // a full paint
    if (t.scroll) {
      // The latest columns, the newest just left of the bar; and it scrolls on from there.
      const int w = s->Columns();
      for (int x = 0; x < w - 1; ++x)
        EXPECT_EQ(LoudestRow(*s, x), BinOfSlice(t.slices - 1 - (w - 2 - x))) << x;
      s->RefreshPCMData(SineAtBin(BinOfSlice(t.slices)).data());
      EXPECT_EQ(LoudestRow(*s, w - 2), BinOfSlice(t.slices));
      EXPECT_EQ(LoudestRow(*s, w - 3), BinOfSlice(t.slices - 1));
    } else {
      EXPECT_EQ(std::vector<uint8_t>(c.Surface(), c.Surface() + bytes), before);
    }
    // Without kept columns a repaint starts the picture over.
    s->SetSaveData(false);
    s->PaintTo(shot);
    EXPECT_NE(std::vector<uint8_t>(c.Surface(), c.Surface() + bytes), before);
    delete s;
  }
}

TEST_F(SpectrogramTest, PaletteAndBackground) {
  TMMSpectrogram* s = NewSpectrogram();
  const std::vector<int16_t> silence(kFFT, 0);
  s->SetPaletteTyp(spHot);
  s->RefreshPCMData(silence.data());  // the first slice after a change starts the picture
  const PALETTEENTRY want = SpectrogramColor(spHot, 128);
  const PALETTEENTRY got = s->DIBCanvas().Palette().entries[128];
  EXPECT_EQ(got.peRed, want.peRed);
  EXPECT_EQ(got.peGreen, want.peGreen);
  EXPECT_EQ(got.peBlue, want.peBlue);
  EXPECT_EQ(Index(*s, 5, 5), MIN_COLOR);
  s->SetEmbossed(true);
  s->ResetData();
  s->RefreshPCMData(silence.data());
  EXPECT_EQ(Index(*s, 5, 5), 123);
}

TEST_F(SpectrogramTest, FrequencyUnderTheMouse) {
  TMMSpectrogram* s = NewSpectrogram();
  const TRect r = s->DrawingRect();
  EXPECT_FLOAT_EQ(s->GetFrequency({r.Left, r.Bottom - 1}), 0);
  EXPECT_FLOAT_EQ(s->GetFrequency({r.Left, r.Top}), kRate / 2.0f);
  EXPECT_FLOAT_EQ(s->GetFrequency({r.Right, r.Top}), 0);  // outside
  s->SetFrequencyScale(3);
  EXPECT_EQ(s->GetFrequencyScale(), 3);
  s->SetFrequencyBase(-10);
  EXPECT_EQ(s->GetFrequencyBase(), 0);
}

TEST_F(SpectrogramTest, FrequencyBoxWhileTheLeftButtonIsHeld) {
  TMMSpectrogram* s = NewSpectrogram();
  s->SetBounds(10, 10, 120, 80);
  s->RefreshPCMData(SineAtBin(5).data());
  const TRect r = s->DrawingRect();
  // What the control shows now, without painting it anew (a repaint starts the picture over).
  auto shown = [&](int x, int y) { return s->LastPaint()->pixel(x, y) & 0xFFFFFFu; };
  const uint32_t under = shown(r.Left + 11, r.Top + 17);
  uitest::MouseDown(*s, r.Left + 10, r.Top + 1, mbLeft);
  EXPECT_TRUE(s->InfoMode());
  // The box hangs 15 rows below the point, white in a black frame.
  EXPECT_EQ(shown(r.Left + 10, r.Top + 16), 0u);
  EXPECT_EQ(shown(r.Left + 11, r.Top + 17), 0xFFFFFFu);
  // Slices wait while the box is shown.
  const int column = s->DataColumn();
  s->RefreshPCMData(SineAtBin(9).data());
  EXPECT_EQ(s->DataColumn(), column);
  uitest::MouseUp(*s, r.Left + 10, r.Top + 1, mbLeft);
  EXPECT_FALSE(s->InfoMode());
  EXPECT_EQ(shown(r.Left + 11, r.Top + 17), under);
}

TEST_F(SpectrogramTest, SelectionByTheRightButton) {
  TMMSpectrogram* s = NewSpectrogram();
  s->SetUseSelection(true);
  int ends = 0;
  s->OnSelectEnd = [&](TObject*, int, int) { ++ends; };
  const int b = s->BevelExtend();
  // A click without dragging leaves nothing.
  uitest::MouseDown(*s, b + 5, 20, mbRight);
  uitest::MouseUp(*s, b + 5, 20, mbRight);
  EXPECT_EQ(s->SelectionStart(), -1);
  EXPECT_EQ(ends, 1);
  // A drag selects; a drag inside moves the selection, never past the last column.
  uitest::MouseDown(*s, b + 3, 20, mbRight);
  uitest::MouseMove(*s, b + 9, 20, false);
  uitest::MouseUp(*s, b + 9, 20, mbRight);
  EXPECT_EQ(s->SelectionStart(), 3);
  EXPECT_EQ(s->SelectionEnd(), 9);
  uitest::MouseDown(*s, b + 6, 20, mbRight);
  uitest::MouseMove(*s, b + 60, 20, false);
  uitest::MouseUp(*s, b + 60, 20, mbRight);
  EXPECT_EQ(s->SelectionEnd() - s->SelectionStart(), 6);
  EXPECT_EQ(s->SelectionEnd(), 19);
  // Over its edges the cursor offers to resize it.
  uitest::MouseMove(*s, b + 19, 20, false);
  EXPECT_EQ(s->GetCursor(), crSizeWE);
  s->Select(5, 2, false);  // put in order
  EXPECT_EQ(s->SelectionStart(), 2);
  EXPECT_EQ(s->SelectionEnd(), 5);
}

TEST_F(SpectrogramTest, Screenshots) {
  form.SetBounds(0, 0, 560, 140);
  std::vector<int16_t> music(48000);
  for (size_t i = 0; i < music.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double f = 300 + 2500 * (0.5 + 0.5 * std::sin(2 * std::numbers::pi * 0.4 * t));
    music[i] = static_cast<int16_t>(9000 * std::sin(2 * std::numbers::pi * f * t) +
                                    5000 * std::sin(2 * std::numbers::pi * 180 * t) *
                                        (std::fmod(t, 0.5) < 0.1 ? 1 : 0.1));
  }
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 1, kRate);
  int left = 8;
  std::vector<TMMSpectrogram*> shown;
  std::vector<int> newest;
  for (TMMSpectrogramPalette p : {spThreshold, spHot, spBone}) {
    auto* s = new TMMSpectrogram(&form);
    s->SetParent(&form);
    s->SetBounds(left, 8, 170, 120);
    s->SetPCMWaveFormat(f);
    s->SetFFTLength(256);
    s->SetLogAmp(true);
    s->SetAmplitudeScale(60);
    s->SetPaletteTyp(p);
    s->SetDrawScale(p == spHot);
    s->SetScroll(p == spBone);
    s->SetEmbossed(p == spBone);
    // The screenshot repaints: the kept columns are drawn again.
    s->SetSaveData(true);
    for (size_t i = 0; i + 256 <= music.size(); i += 256) s->RefreshPCMData(&music[i]);
    shown.push_back(s);
    newest.push_back((s->DataColumn() - 1 + s->Columns()) % s->Columns());
    left += 182;
  }
  uitest::SaveScreenshot(form, "spectrograms");
  // The last slice (from 4.319 s on) holds the sweep at about 308 Hz, bin 7 of 256 at
  // 11,025 Hz, and nothing near 3 kHz (bin 70): in the newest column the row of bin 7 is lit,
  // the row of bin 70 dark, for both palettes that run from black upwards.
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k == 0 ? "threshold" : "hot");
    TMMSpectrogram& s = *shown[k];
    auto row_of = [&](int bin) {
      for (int r = 0; r < s.Rows(); ++r)
        if (s.RowBins().first[r] >= bin) return r;
      return s.Rows() - 1;
    };
    const TRect d = s.DrawingRect();
    auto shade = [&](int bin) {
      const TColor c = uitest::RenderedPixel(s, d.Left + newest[k], d.Bottom - 1 - row_of(bin));
      return (c & 0xFF) + (c >> 8 & 0xFF) + (c >> 16 & 0xFF);
    };
    EXPECT_GT(shade(7), 100);
    EXPECT_EQ(shade(70), 0);
  }
}

}  // namespace
}  // namespace vant
