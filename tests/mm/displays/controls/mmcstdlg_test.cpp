// The wave and picture dialogs driven through the scripted file dialog: selections as a person
// makes them, the settle timer on a hand-moved clock, what the area shows, and what is accepted.
#include "mmcstdlg.h"

#include <atomic>
#include <gtest/gtest.h>

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QWidget>

#include <fstream>
#include <functional>
#include <vector>

#include "clock.h"
#include "mmpcmsup.h"
#include "mmwaveio.h"
#include "mmwaveout.h"
#include "scratchfolder.h"
#include "ui_application.h"
#include "ui_testing.h"
#include "waveout.h"

namespace vant {
namespace {

class WaveDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    SetClock(&clock);
  }
  void TearDown() override {
    Application->ProcessMessages();
    SetClock(nullptr);
  }
  std::string Wave(const std::string& name, int bits, int channels, int rate, size_t bytes) {
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, bits, channels, rate);
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = uint8_t(i * 37 % 251);
    const std::string path = (dir.path() / name).string();
    EXPECT_EQ(wioWaveSaveFile(path, &f, data.data(), int64_t(bytes)), kWioOk);
    return path;
  }
  void Wait(int ms) {
    clock.AdvanceMillis(ms);
    Application->ProcessMessages();
  }
  std::string FormatText(TMMWaveOpenDialog& d) { return d.Item(d.kFormat)->GetText(); }

  ManualClock clock;
  testing::ScratchFolder dir;
  ScopedAnswerer scoped;
};

TEST_F(WaveDialog, TwoQuickSelectionsUpdateOnce50msAfterTheSecond) {
  const std::string a = Wave("a.wav", 16, 2, 44100, 40000), b = Wave("b.wav", 8, 1, 11025, 4000);
  TMMWaveOpenDialog d(nullptr);
  d.Preview = true;
  scoped.answerer.AnswerFileWith([&](FileDialogSession& s) {
    s.Select(a);
    Wait(30);
    s.Select(b);
    Wait(30);
    EXPECT_TRUE(d.Pending());
    EXPECT_EQ(FormatText(d), "Unknown");
    Wait(20);
    EXPECT_FALSE(d.Pending());
    EXPECT_NE(FormatText(d).find("KB"), std::string::npos);
    EXPECT_TRUE(d.Item(d.kPreview)->GetEnabled());
    uitest::SaveScreenshot(*s.Panel(), "wave_open_dialog_area");
    return s.Accept({b});
  });
  ASSERT_TRUE(d.Execute());
  EXPECT_EQ(d.FileName, b);
  EXPECT_EQ(d.Files, std::vector<std::string>{b});
  EXPECT_EQ(scoped.answerer.Asked().at(0).file.title, "Open Wave File");
}

TEST_F(WaveDialog, ThreeChannelsAndCompressedFilesShowTheFormatButNoPreview) {
  const std::string three = Wave("three.wav", 16, 3, 8000, 6000);
  const std::string mulaw = (dir.path() / "mulaw.wav").string();
  const WAVEFORMATEX f{7, 1, 8000, 8000, 1, 8, 0};
  const std::vector<uint8_t> data(4000, 0xFF);
  ASSERT_EQ(wioWaveSaveFile(mulaw, &f, data.data(), int64_t(data.size())), kWioOk);
  for (const std::string& path : {three, mulaw}) {
    TMMWaveOpenDialog d(nullptr);
    d.Preview = true;
    scoped.answerer.AnswerFileWith([&](FileDialogSession& s) {
      s.Select(path);
      Wait(50);
      EXPECT_NE(FormatText(d), "Unknown") << path;
      EXPECT_FALSE(d.Item(d.kPreview)->GetEnabled()) << path;
      return false;
    });
    EXPECT_FALSE(d.Execute());
  }
}

TEST_F(WaveDialog, BufferSizeFollowsRateAndBitsAndHighRatesStayPut) {
  struct Case {
    int bits, rate, size;
  } cases[] = {{16, 44100, 6144}, {8, 11025, 2048}, {16, 96000, 6144}, {8, 22050, 4096}};
  for (const auto& c : cases) {
    const std::string path = Wave("r.wav", c.bits, 1, c.rate, 2000);
    TMMWaveOpenDialog d(nullptr);
    scoped.answerer.AnswerFileWith([&](FileDialogSession& s) {
      s.Select(path);
      Wait(50);
      d.UpdatePlayParams();
      d.UpdatePlayParams();  // repeated updates never grow it
      EXPECT_EQ(d.WaveOut()->GetBufferSize(), c.size) << c.bits << " bits at " << c.rate;
      return false;
    });
    d.Execute();
  }
}

TEST_F(WaveDialog, OverviewMarksLongFilesAndClosesShortOnesAtMidHeight) {
  const std::string shortfile = Wave("short.wav", 16, 1, 8000, 100);
  const std::string longfile = Wave("long.wav", 8, 1, 44100, 2097152 + 4096);
  TMMWaveOpenDialog d(nullptr);
  d.Preview = true;
  scoped.answerer.AnswerFileWith([&](FileDialogSession& s) {
    TBitmap image;
    image.SetSize(60, 20);
    const TRect area{0, 0, 60, 20};
    s.Select(longfile);
    Wait(50);
    int marks = 0;
    d.CreatePCMData(image.Canvas(), area, [&](int i) {
      if (i < 55 && image.Canvas().GetPixel(2 + i + 1, 10) == d.LocatorColor) ++marks;
    });
    EXPECT_EQ(marks, 55) << "a mark runs just right of every column drawn";

    s.Select(shortfile);
    Wait(50);
    image.Canvas().Brush().Color = clWhite;
    image.Canvas().FillRect(area);
    int columns = 0;
    d.CreatePCMData(image.Canvas(), area, [&](int i) {
      columns = i + 1;
      EXPECT_NE(image.Canvas().GetPixel(2 + i + 1, 10), d.LocatorColor);
    });
    EXPECT_EQ(columns, 25);  // 100 bytes, 4 a column
    EXPECT_EQ(image.Canvas().GetPixel(50, 2 + 16 / 2), d.ForeColor) << "mid-height line to the end";
    return false;
  });
  d.Execute();
}

// A clock that moves on a millisecond each time it is read: time passes inside a loop that
// never returns to the event loop, as it does for a user watching it.
class RunningClock final : public Clock {
 public:
  explicit RunningClock(int64_t start) : now_(start) {}
  int64_t NowMicros() const override { return now_ += 1000; }

 private:
  mutable std::atomic<int64_t> now_;
};

// Calls `seen` before each paint of a widget.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(std::function<void()> seen) : seen_(std::move(seen)) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) seen_();
    return false;
  }

 private:
  std::function<void()> seen_;
};

TEST_F(WaveDialog, TheMarkOnLongFilesIsSeenWhileTheOverviewIsDrawn) {
  const std::string longfile = Wave("long.wav", 8, 1, 44100, 2097152 + 4096);
  TMMWaveOpenDialog d(nullptr);
  d.Preview = true;
  scoped.answerer.AnswerFileWith([&](FileDialogSession& s) {
    TControl* scope = d.Item(d.kScope);
    const QColor mark = QColor(0xFF, 0, 0);  // LocatorColor, red
    int shown = 0;
    PaintWatch watch([&] {
      const QImage* img = scope->LastPaint();
      if (!img) return;
      for (int x = 2; x < img->width() - 2; ++x)
        if (img->pixelColor(x, img->height() / 2) == mark) {
          ++shown;
          return;
        }
    });
    scope->Host()->installEventFilter(&watch);
    // The scripted dialog keeps its area off screen: show it as the real dialog would.
    scope->Host()->window()->show();
    EXPECT_TRUE(scope->Showing());
    s.Select(longfile);
    RunningClock running(clock.NowMicros() + 50'000);
    SetClock(&running);
    Application->ProcessMessages();
    SetClock(&clock);
    scope->Host()->removeEventFilter(&watch);
    EXPECT_GT(shown, 0) << "the mark is on screen while the overview is drawn";
    return false;
  });
  d.Execute();
}

TEST_F(WaveDialog, AutoPlayStartsAfterTheUpdateAndANewSelectionStopsIt) {
  if (audio::waveOutGetNumDevs() == 0) GTEST_SKIP() << "no wave-out device";
  const std::string path = Wave("play.wav", 16, 1, 8000, 160000);
  TMMWaveOpenDialog d(nullptr);
  d.AutoPlay = true;
  scoped.answerer.AnswerFileWith([&](FileDialogSession& s) {
    s.Select(path);
    EXPECT_FALSE(d.WaveOut()->GetState() & wosPlay) << "not before the update";
    Wait(50);
    EXPECT_TRUE(d.WaveOut()->GetState() & wosPlay);
    EXPECT_EQ(d.Item(d.kPlay)->GetText(), "Stop");
    s.Select("");
    EXPECT_FALSE(d.WaveOut()->GetState() & wosPlay);
    Application->ProcessMessages();
    EXPECT_EQ(d.Item(d.kPlay)->GetText(), "Play");
    return false;
  });
  d.Execute();
}

TEST_F(WaveDialog, OpenRefusesNonWavesAndSaveAcceptsNewNames) {
  const std::string text = (dir.path() / "note.wav").string();
  { std::ofstream(text) << "not a wave"; }
  TMMWaveOpenDialog open(nullptr);
  scoped.answerer.AnswerMessage(IDOK);
  scoped.answerer.AnswerFileWith([&](FileDialogSession& s) {
    EXPECT_FALSE(s.Accept({text}));
    return false;
  });
  EXPECT_FALSE(open.Execute());
  ASSERT_EQ(scoped.answerer.Asked().size(), 2u);
  EXPECT_EQ(scoped.answerer.Asked()[1].text, "Invalid WaveFile...");

  TMMWaveSaveDialog save(nullptr);
  const std::string fresh = (dir.path() / "new").string();
  scoped.answerer.AnswerFile(fresh);
  ASSERT_TRUE(save.Execute());
  EXPECT_EQ(save.FileName, fresh + ".wav");
  EXPECT_TRUE(scoped.answerer.Asked().back().file.save);
}

TEST_F(WaveDialog, MultipleSelectionOfOneFileAndInitialDirs) {
  const std::string path = Wave("one.wav", 16, 1, 8000, 800);
  TMMWaveOpenDialog d(nullptr);
  d.Options |= ofAllowMultiSelect;
  scoped.answerer.AnswerFile(path);
  ASSERT_TRUE(d.Execute());
  EXPECT_TRUE(scoped.answerer.Asked().back().file.multi_select);
  EXPECT_EQ(d.FileName, path);
  EXPECT_EQ(d.Files, std::vector<std::string>{path});

  struct Case {
    const char *in, *out;
  } cases[] = {{"/", "/"}, {"/home/x/", "/home/x"}, {"/home/x", "/home/x"}, {"", ""}};
  for (const auto& c : cases) {
    d.SetInitialDir(c.in);
    EXPECT_EQ(d.GetInitialDir(), c.out);
  }
}

TEST_F(WaveDialog, PicturePreviewFitsLargePictures) {
  const std::string bmp = (dir.path() / "p.bmp").string();
  TBitmap big;
  big.SetSize(400, 100);
  big.Canvas().Brush().Color = clRed;
  big.Canvas().FillRect({0, 0, 400, 100});
  ASSERT_TRUE(big.SaveToFile(bmp));
  TMMPictureOpenDialog d(nullptr);
  d.Preview = true;
  scoped.answerer.AnswerFileWith([&](FileDialogSession& s) {
    s.Select(bmp);
    EXPECT_EQ(d.Picture().Width(), 400);
    TBitmap image;
    image.SetSize(144, 138);
    d.DrawPicture(image.Canvas(), {0, 0, 144, 138});
    // 134 wide inside the frame less 5 a side: 124 x 31, centred vertically.
    EXPECT_EQ(image.Canvas().GetPixel(72, 69), clRed);
    EXPECT_NE(image.Canvas().GetPixel(72, 40), clRed);
    uitest::SaveScreenshot(*s.Panel(), "picture_open_dialog_area");
    return s.Accept({bmp});
  });
  EXPECT_TRUE(d.Execute());
}

}  // namespace
}  // namespace vant
