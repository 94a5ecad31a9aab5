#pragma once
// The numbers behind the frequency displays, without any drawing.
//
// TMMSpectrumInput is the input stage the spectrum analyser, the spectrogram and the light show
// share: it picks the channel out of a PCM slice, reports full-scale samples, tilts the signal
// by differencing, applies the integer window, runs the forward real FFT and scales the bins to
// signed 16 bits.
//
// TMMSpectrumCore is the analyser's own arithmetic on top of it: magnitudes (linear or in log
// units), their smoothing over time, the bin-to-column map of a linear or logarithmic frequency
// axis, the fixed-point amplitude mapping, the column records and the peak hold and fall.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "mmenums.h"
#include "mmfft.h"

inline constexpr int kSpectrumMaxFFT = 4096;
inline constexpr int kSpectrumMaxBins = kSpectrumMaxFFT / 2;
inline constexpr int kSpectrumMaxFrames = 32;

// Clamps to 8 .. 4,096 and rounds down to a power of two.
int SpectrumFFTLength(int n);

class TMMSpectrumInput {
 public:
  TMMSpectrumInput();

  TMMBits Bits = b8Bit;
  int Channels = 1;
  TMMChannel Channel = chBoth;
  // 0 none, 1 first difference, 2 second difference.
  int Order = 0;

  int FFTLength() const { return n_; }
  // Takes a length already made valid by SpectrumFFTLength; a new plan and window table.
  void SetFFTLength(int n);
  TMMFFTWindow GetWindow() const { return window_kind_; }
  void SetWindow(TMMFFTWindow w);
  // Bytes of one slice: sample bytes × channels × FFTLength.
  int64_t SliceBytes() const;
  const int32_t* WindowTable() const { return window_.data(); }

  // Turns one slice into FFTLength() signed 16-bit values in the real-FFT layout (DC, 0, then
  // re and im of bins 1 .. N/2 − 1); each value saturates at the 16-bit range. Answers the
  // number of samples that reached full scale.
  int Transform(const uint8_t* slice, int16_t* out);

 private:
  int n_ = 0;
  TMMFFTWindow window_kind_ = fwHamming;
  std::unique_ptr<TFFTReal> plan_;
  std::vector<int32_t> window_;
  std::vector<int16_t> window16_;
  std::vector<int32_t> values_;
  std::vector<float> work_;
};

// One column group of the drawing: [First, End) columns, its value, and its peak. Peak and Hold
// are also moved by the shared timer's thread.
struct TDrawVal {
  int32_t First = -1;
  int32_t End = 0;
  int32_t Value = 0;
  std::atomic<int32_t> Peak{0};
  std::atomic<int32_t> Hold{0};
};

struct TPeak {
  float Freq = 0;
  float Amplitude = 0;
  float Level = 0;
  int32_t Height = 0;
  int32_t Bin = 0;
  int32_t Column = 0;
};

// Magnitudes of one bin.
inline int64_t SpectrumPower(int16_t re, int16_t im) { return int64_t{re} * re + int64_t{im} * im; }

class TMMSpectrumCore {
 public:
  TMMSpectrumCore();

  TMMSpectrumInput Input;

  // ---- settings (the caller runs the matching Setup afterwards) ----
  int SampleRate = 11025;
  int RefFreq = 1000;
  bool HalfStep = false;  // a further 3 dB per octave
  bool LogFreq = false;
  bool LogAmp = false;
  double Factor = 1.0;  // VerticalScale / 100
  // Linear magnitudes are √power times this (4 fraction bits for the analyser; the light show
  // uses its amplitude scale).
  double MagnitudeScale = 16;
  double Zoom = 1.0;
  double Base = 1.0;  // lowest frequency of the axis, Hz
  std::atomic<int> NumPeaks{1};
  int PeakDelay = 20;
  std::atomic<int> PeakSpeed{0};

  TMMDecayMode GetDecayMode() const { return decay_mode_; }
  void SetDecayMode(TMMDecayMode m);
  int GetDecay() const { return decay_; }
  // Clamped to 1 .. 16.
  void SetDecay(int d);
  double DecayFactor() const { return decay_factor_; }
  int UniformFrames() const { return frames_; }

  int N() const { return Input.FFTLength(); }
  int W() const { return w_; }
  int H() const { return h_; }
  // New drawing size (each at least 4); the column arrays are made again.
  void SetSize(int w, int h);

  // The frequency axis; `custom` fills first and end bins (W entries each) instead.
  void SetupXScale(const std::function<void(int32_t*, int32_t*)>& custom = nullptr);
  void SetupLogScales();
  void SetupLinScales();
  void SetupYScale() { LogAmp ? SetupLogScales() : SetupLinScales(); }

  // ---- data ----
  int16_t* FFTData() { return fft_.data(); }
  // The FFT data memory read as N/2 32-bit values (magnitudes handed over ready-made).
  void SetMagnitudeData(const int32_t* values);
  // Magnitudes of the bins from the FFT data (or, `given`, from values set above).
  void CalcMagnitude(bool given);
  const int32_t* Magnitudes() const { return mag_.data(); }
  void ResetDecayBuffers();
  void ResetPeakValues();
  // Zeroes magnitudes, FFT data, records, peak and decay state.
  void InitializeData();

  // Fills the column records from the magnitudes; answers the number of columns that reached
  // the top (each a gain overflow). The peak's height, column and bin are recorded.
  int CalcDisplayValues();
  // The records, ending at the first with First == -1.
  TDrawVal* Records() { return draw_.get(); }
  const int32_t* FirstBins() const { return first_.data(); }
  const int32_t* EndBins() const { return end_.data(); }
  const int32_t* Multipliers() const { return mult_.data(); }
  int Shift() const { return shift_; }
  double PixelFactor() const { return pix_; }
  int32_t Offset(int bin) const { return offset_[bin]; }
  TPeak& Peak() { return peak_; }
  // Fills amplitude, level and frequency of the peak from its stored bin.
  TPeak GetPeak();
  // Frequency of a bin as the peak text and GetPeak name it.
  double PeakFrequency(int bin) const;

  // A new peak of `c` (when at least the held one and above 0) is held for 2 × PeakDelay + 1
  // ticks.
  void HoldPeak(TDrawVal& r, int c) const {
    if (c >= r.Peak.load(std::memory_order_relaxed) && c > 0 &&
        NumPeaks.load(std::memory_order_relaxed) > 0) {
      r.Peak.store(c, std::memory_order_relaxed);
      r.Hold.store(2 * PeakDelay + 1, std::memory_order_relaxed);
    }
  }
  // One tick of the shared 25 ms timer (timer thread): counts holds down and lowers peaks.
  void PeakTick();

 private:
  int w_ = 4, h_ = 4;
  TMMDecayMode decay_mode_ = dmNone;
  int decay_ = 1;
  double decay_factor_ = 0.0001;
  int frames_ = 1;
  int ring_ = 0;
  int filled_ = 0;

  std::vector<int16_t> fft_;  // N values; also read as N/2 32-bit magnitudes when given
  std::vector<int32_t> given_;
  std::vector<int32_t> mag_;
  std::vector<int32_t> roots_;  // linear magnitudes before their smoothing
  std::vector<int32_t> offset_;
  std::vector<float> state_;
  std::vector<int64_t> sums_;
  std::vector<int32_t> history_;  // kSpectrumMaxFrames × kSpectrumMaxBins

  std::vector<int32_t> first_, end_, mult_;
  std::unique_ptr<TDrawVal[]> draw_;
  int shift_ = 0;
  double pix_ = 0;  // log mode: pixels per unit
  TPeak peak_;
};
