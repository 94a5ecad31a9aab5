// The spectrum analyser's numbers and pictures against a table of digests written by an earlier,
// plainer data path (tests/fixtures/spectrum/golden.txt): the FFT bins and full-scale counts of
// the input stage, the magnitudes and column values of every decay and axis mode, and the canvas
// and shown pixels of every kind, frame after frame. A faster path must reproduce them exactly.
//
// A case missing from the table, or a differing digest, fails; the digests this build computed are
// written to build/spectrum-golden.txt so a deliberate change can be reviewed and taken over.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "clock.h"
#include "display_form_fixture.h"
#include "display_signals.h"
#include "mmpcmsup.h"
#include "mmspectrum.h"
#include "mmspectrumcore.h"
#include "timerservice.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_form.h"

namespace vant {
namespace {

// FNV-1a over bytes, folded over every frame of a case.
struct Digest {
  uint64_t h = 1469598103934665603ull;
  void Add(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
  }
  template <class T>
  void Add(const std::vector<T>& v) {
    Add(v.data(), v.size() * sizeof(T));
  }
  void Add(int64_t v) { Add(&v, sizeof v); }
  std::string Hex() const {
    char s[17];
    std::snprintf(s, sizeof s, "%016llx", static_cast<unsigned long long>(h));
    return s;
  }
};

class Golden {
 public:
  Golden() {
    std::ifstream in(std::filesystem::path(VANT_SOURCE_DIR) / "tests/fixtures/spectrum/golden.txt");
    for (std::string name, hex; in >> name >> hex;) table_[name] = hex;
  }
  ~Golden() {
    std::ofstream out(std::filesystem::current_path() / "spectrum-golden.txt");
    for (const auto& [name, hex] : got_) out << name << ' ' << hex << '\n';
  }
  void Check(const std::string& name, const Digest& d) {
    got_[name] = d.Hex();
    const auto it = table_.find(name);
    if (it == table_.end()) {
      ADD_FAILURE() << name << ": not in the table";
    } else {
      EXPECT_EQ(it->second, d.Hex()) << name;
    }
  }

 private:
  std::map<std::string, std::string> table_, got_;
};

Golden& Table() {
  static Golden g;
  return g;
}

// Slices that reach every branch: music, noise over the whole range (full scale included),
// a full-scale square, and silence.
std::vector<std::vector<int>> Signals(int frames, int rate) {
  std::vector<std::vector<int>> s;
  s.push_back(testing::Chord(frames, rate));
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> any(-32768, 32767);
  std::vector<int> noise(frames);
  for (int& v : noise) v = any(gen);
  s.push_back(noise);
  std::vector<int> square(frames);
  for (int i = 0; i < frames; ++i) square[i] = (i / 5) % 2 ? 32767 : -32768;
  s.push_back(square);
  s.push_back(std::vector<int>(frames, 0));
  s.push_back(testing::Sine(frames, 3000, rate, 20000));
  return s;
}

// One slice of `channels` channels, the right channel a different signal from the left.
std::vector<uint8_t> Slice(const std::vector<int>& left, int bits, int channels) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < left.size(); ++i) {
    for (int c = 0; c < channels; ++c) {
      const int v =
          c == 0 ? left[i] : left[(i * 7 + 3) % left.size()] / 2 + (i % 3 == 0 ? 32767 : 0);
      const int s = std::clamp(v, -32768, 32767);
      if (bits == 8) {
        out.push_back(static_cast<uint8_t>((s >> 8) + 128));
      } else {
        out.push_back(static_cast<uint8_t>(s & 0xFF));
        out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
      }
    }
  }
  return out;
}

TEST(SpectrumGolden, InputStageBins) {
  for (int bits : {8, 16})
    for (int channels : {1, 2})
      for (TMMChannel ch : {chLeft, chRight, chBoth}) {
        if (channels == 1 && ch != chBoth) continue;
        for (int order : {0, 1, 2})
          for (int n : {8, 64, 1024, 4096})
            for (TMMFFTWindow w : {fwHamming, fwRectangular, fwBlackman}) {
              TMMSpectrumInput in;
              in.Bits = bits == 8 ? b8Bit : b16Bit;
              in.Channels = channels;
              in.Channel = ch;
              in.Order = order;
              in.SetFFTLength(n);
              in.SetWindow(w);
              Digest d;
              std::vector<int16_t> out(n);
              for (const auto& s : Signals(n, 44100)) {
                d.Add(in.Transform(Slice(s, bits, channels).data(), out.data()));
                d.Add(out);
              }
              std::ostringstream name;
              name << "in/b" << bits << "/c" << channels << "/ch" << ch << "/o" << order << "/n"
                   << n << "/w" << w;
              Table().Check(name.str(), d);
            }
      }
}

TEST(SpectrumGolden, MagnitudesAndColumns) {
  for (int n : {256, 2048})
    for (TMMDecayMode mode : {dmNone, dmStepUp, dmExponential, dmUniform})
      for (bool log_amp : {false, true})
        for (bool log_freq : {false, true})
          for (int gain : {0, 1, 2, 3, 4}) {
            TMMSpectrumCore c;
            c.Input.Bits = b16Bit;
            c.Input.SetFFTLength(n);
            c.SampleRate = 48000;
            c.LogAmp = log_amp;
            c.LogFreq = log_freq;
            c.Input.Order = gain / 2;
            c.HalfStep = gain % 2 != 0;
            c.SetDecayMode(mode);
            c.SetDecay(mode == dmUniform ? 3 : 2);
            c.SetSize(301, 97);
            c.SetupXScale();
            Digest d;
            const auto inputs = Signals(n, 48000);
            for (int frame = 0; frame < 8; ++frame) {
              const auto slice = Slice(inputs[frame % inputs.size()], 16, 1);
              c.Input.Transform(slice.data(), c.FFTData());
              c.CalcMagnitude(false);
              d.Add(std::vector<int32_t>(c.Magnitudes(), c.Magnitudes() + n / 2));
              d.Add(c.CalcDisplayValues());
              for (TDrawVal* r = c.Records(); r->First != -1; ++r) {
                d.Add(int64_t{r->First} << 32 | static_cast<uint32_t>(r->End));
                d.Add(r->Value);
              }
              d.Add(c.Peak().Height);
              d.Add(c.Peak().Bin);
              d.Add(c.Peak().Column);
            }
            // Magnitudes handed over ready-made, extremes included.
            std::vector<int32_t> given(n / 2);
            for (int j = 0; j < n / 2; ++j)
              given[j] = j % 5 == 0 ? INT32_MAX : j % 5 == 1 ? -5 : j * 9973 % 1000003;
            c.SetMagnitudeData(given.data());
            c.CalcMagnitude(true);
            d.Add(std::vector<int32_t>(c.Magnitudes(), c.Magnitudes() + n / 2));
            std::ostringstream name;
            name << "mag/n" << n << "/d" << mode << "/la" << log_amp << "/lf" << log_freq << "/g"
                 << gain;
            Table().Check(name.str(), d);
          }
}

class SpectrumGoldenPixels : public DisplayFormTest {
 protected:
  void SetUp() override {
    DisplayFormTest::SetUp();
    form.SetBounds(0, 0, 360, 220);
  }
};

// The canvas a frame was drawn into and what the screen got of it (the drawing area only: the
// scales' text is the font's business).
void AddPixels(Digest& d, TMMSpectrum& s) {
  TMMDIBCanvas& c = s.DIBCanvas();
  d.Add(c.Surface(), static_cast<size_t>(c.ScanWidth()) * c.GetHeight());
  if (const QImage* img = s.LastPaint()) {
    const TRect r = s.DrawingRect();
    for (int y = r.Top; y < r.Bottom; ++y)
      d.Add(img->constScanLine(y) + 4 * r.Left, 4 * static_cast<size_t>(r.Right - r.Left));
  }
}

TEST_F(SpectrumGoldenPixels, EveryKindFrameByFrame) {
  struct Setting {
    const char* name;
    std::function<void(TMMSpectrum&)> set;
  };
  const Setting settings[] = {
      {"plain", [](TMMSpectrum&) {}},
      {"grid", [](TMMSpectrum& s) { s.SetDrawGrid(true); }},
      {"doted",
       [](TMMSpectrum& s) {
         s.SetActiveDoted(true);
         s.SetInactiveDoted(true);
         s.SetSpace(3);
       }},
      {"spots",
       [](TMMSpectrum& s) {
         s.SetSpotHeight(3);
         s.SetSpotSpace(2);
         s.SetNumPeaks(3);
       }},
      {"nounlit", [](TMMSpectrum& s) { s.SetDrawInactive(false); }},
      {"logs",
       [](TMMSpectrum& s) {
         s.SetLogAmp(true);
         s.SetLogFreq(true);
         s.SetDecayMode(dmExponential);
       }},
      {"scales",
       [](TMMSpectrum& s) {
         s.SetDrawAmpScale(true);
         s.SetDrawFreqScale(true);
         s.SetVerticalScale(40);
       }},
  };
  for (int bpp : {24, 8})
    for (TMMSpectrumKind kind : {skDots, skLines, skVLines, skBars, skPeaks, skScroll})
      for (const Setting& setting : settings) {
        auto* s = new TMMSpectrum(&form);
        s->SetParent(&form);
        s->SetBounds(10, 10, 300, 150);
        s->SetPCMWaveFormat([] {
          WAVEFORMATEX f{};
          pcmBuildWaveHeader(f, 16, 1, 44100);
          return f;
        }());
        s->SetFFTLength(1024);
        s->SetBPP(bpp);
        s->SetKind(kind);
        setting.set(*s);
        Digest d;
        const auto inputs = Signals(1024, 44100);
        for (int frame = 0; frame < 12; ++frame) {
          const auto slice = Slice(inputs[frame % 3 == 2 ? 4 : frame % 2], 16, 1);
          s->RefreshPCMData(slice.data());
          AddPixels(d, *s);
          // The peaks fall between some frames, as the shared timer moves them.
          if (frame % 4 == 3) s->Core().PeakTick();
        }
        // The same slice again and again: a steady picture.
        const auto steady = Slice(inputs[0], 16, 1);
        for (int frame = 0; frame < 3; ++frame) {
          s->RefreshPCMData(steady.data());
          AddPixels(d, *s);
        }
        s->Repaint();
        AddPixels(d, *s);
        std::ostringstream name;
        name << "px/" << bpp << "/k" << kind << "/" << setting.name;
        Table().Check(name.str(), d);
        delete s;
      }
}

}  // namespace
}  // namespace vant
