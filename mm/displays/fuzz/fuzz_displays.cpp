// Random property values and slices for the spectrum analyser and the oscilloscope: every
// setting, every sample layout and any data stay inside the displays' buffers and canvases.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mmoscope.h"
#include "mmspectrum.h"
#include "ui_application.h"
#include "ui_form.h"

namespace {

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int Next() { return at_ < size_ ? data_[at_++] : 0; }
  // A value in [lo, hi], also a little outside it now and then.
  int In(int lo, int hi) { return lo - 2 + Next() % (hi - lo + 5); }
  const uint8_t* Rest() const { return data_ + at_; }
  size_t Left() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

vant::TForm* Form() {
  static vant::TForm* form = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    vant::Application->Initialize();
    auto* f = new vant::TForm(nullptr);
    f->SetBounds(0, 0, 400, 300);
    f->Show();
    return f;
  }();
  return form;
}

// Feeds the rest of the input as slices (the last one padded with silence).
void Feed(TMMDisplayData& d, Bytes& in) {
  const size_t slice = static_cast<size_t>(d.SliceBytes());
  if (slice == 0) return;
  std::vector<uint8_t> buffer(slice, 0);
  size_t left = in.Left();
  const uint8_t* p = in.Rest();
  for (int i = 0; i < 4 && left > 0; ++i) {
    const size_t n = left < slice ? left : slice;
    std::fill(buffer.begin(), buffer.end(), 0);
    std::copy(p, p + n, buffer.begin());
    d.RefreshPCMData(buffer.data());
    p += n;
    left -= n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vant::TForm* form = Form();
  Bytes in(data, size);
  if (in.Next() % 2 == 0) {
    TMMSpectrum s(form);
    s.SetParent(form);
    s.SetBounds(0, 0, in.In(0, 300), in.In(0, 200));
    s.SetBPP(in.Next() % 2 ? 8 : 24);
    s.SetBitLength(static_cast<TMMBits>(in.Next() % 2));
    s.SetMode(static_cast<TMMMode>(in.Next() % 3));
    s.SetChannel(static_cast<TMMChannel>(in.Next() % 3));
    s.SetFFTLength(in.Next() * 17);
    s.SetKind(static_cast<TMMSpectrumKind>(in.Next() % 6));
    s.SetGain(static_cast<TMMSpectrumGain>(in.Next() % 5));
    s.SetLogFreq(in.Next() % 2);
    s.SetLogAmp(in.Next() % 2);
    s.SetDecayMode(static_cast<TMMDecayMode>(in.Next() % 4));
    s.SetDecay(in.In(1, 16));
    s.SetFrequencyScale(in.In(1, 16));
    s.SetVerticalScale(in.Next() * 2);
    s.SetRefFreq(in.Next() * 200);
    s.SetSampleRate(in.Next() * 400);
    s.SetSpace(in.In(0, 5));
    s.SetSpotSpace(in.In(0, 10));
    s.SetSpotHeight(in.In(1, 20));
    s.SetNumPeaks(in.In(0, 5));
    s.SetPoint1(in.In(1, 100));
    s.SetPoint2(in.In(1, 100));
    s.SetDrawGrid(in.Next() % 2);
    s.SetDrawAmpScale(in.Next() % 2);
    s.SetDrawFreqScale(in.Next() % 2);
    s.SetDisplayPeak(in.Next() % 2);
    s.SetEnabled(in.Next() % 8 != 0);
    Feed(s, in);
    s.GetPeak();
    s.DrawSpectrum(true);
  } else {
    TMMOscope o(form);
    o.SetParent(form);
    o.SetBounds(0, 0, in.In(0, 300), in.In(0, 200));
    o.SetBPP(in.Next() % 2 ? 8 : 24);
    o.SetBitLength(static_cast<TMMBits>(in.Next() % 2));
    o.SetMode(static_cast<TMMMode>(in.Next() % 3));
    o.SetChannel(static_cast<TMMChannel>(in.Next() % 3));
    o.SetKind(static_cast<TMMOscopeKind>(in.Next() % 5));
    o.SetEffect(static_cast<TMMOscopeEffect>(in.Next() % 3));
    o.SetZoom(in.In(-9, 9));
    o.SetSteps(in.In(1, 9));
    o.SetGain(in.In(-8, 32));
    o.SetFFTLength(in.Next() * 17);
    o.SetScroll(in.Next() % 2);
    o.SetAccelerate(in.Next() % 2);
    o.SetLowPass(in.Next() % 2);
    o.SetBarWidth(in.In(0, 20));
    o.SetDrawGrid(in.Next() % 2);
    o.SetDrawMidLine(in.Next() % 2);
    o.SetDrawAmpScale(in.Next() % 2);
    o.SetDrawTimeScale(in.Next() % 2);
    o.Marked(in.In(-5, 300), in.In(-5, 300), false);
    o.Select(in.In(-5, 300), in.In(-5, 300), false);
    o.SetLocator(in.In(-5, 300));
    o.SetEnabled(in.Next() % 8 != 0);
    Feed(o, in);
    o.DrawOscope(true);
  }
  return 0;
}
