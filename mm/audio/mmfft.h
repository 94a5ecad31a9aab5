#pragma once
// Single-precision FFTs and the window functions the analysing displays apply first. Plans are
// built once per size and reused; a transform allocates nothing. A plan keeps its own work
// space, so one plan serves one thread at a time.
//
// Forward transforms use exp(-2πi·k·n/N) and are unnormalised; inverse transforms use the
// opposite sign and scale by 1/N, so an inverse undoes a forward.
#include <cstdint>
#include <memory>
#include <vector>

#include "mmutils.h"  // TMMFFTWindow

struct TfCplx {
  float re;
  float im;
};

// Plans accept orders 3 to 16 (8 to 65,536 points).
inline constexpr int kFFTMinOrder = 3;
inline constexpr int kFFTMaxOrder = 16;

namespace vant::fft {
// The radix-4 kernel on split real and imaginary arrays, with its twiddles and work space.
class SplitKernel {
 public:
  explicit SplitKernel(int order);
  int Size() const { return size_; }
  // Transforms size() values in re/im in place, forward (exp(-i...)); unnormalised.
  void Forward(float* re, float* im);
  // Work arrays the caller may fill before Forward(WorkRe(), WorkIm()).
  float* WorkRe() { return work_.data(); }
  float* WorkIm() { return work_.data() + size_; }

 private:
  int size_;
  std::vector<float> twiddles_;  // per radix-4 stage: w1, w2, w3 as re/im arrays
  std::vector<float> work_;      // 4 × size: two split buffers
};
}  // namespace vant::fft

struct TFFTCplx {
  int Order = 0;
  int Size = 0;
  float InvSize = 0;
  std::unique_ptr<vant::fft::SplitKernel> Kernel;
};

struct TFFTReal {
  int Order = 0;
  int Size = 0;
  float InvSize = 0;
  std::unique_ptr<vant::fft::SplitKernel> Kernel;  // the half-size complex transform
  std::vector<float> Twiddle;                      // cos, -sin of 2πk/N, k < N/2, interleaved
};

// nil for an order outside 3 … 16.
std::unique_ptr<TFFTCplx> InitCplxFFT(int order);
std::unique_ptr<TFFTReal> InitRealFFT(int order);
void DoneCplxFFT(std::unique_ptr<TFFTCplx>& plan);
void DoneRealFFT(std::unique_ptr<TFFTReal>& plan);

// In place on N complex values; direction < 0 is the inverse. Nil arguments do nothing.
void DoCplxFFTa(TFFTCplx* plan, float* re, float* im, int direction);
void DoCplxFFTb(TFFTCplx* plan, TfCplx* data, int direction);

// In place on N real values. Forward (direction ≥ 0): data[0] = DC, data[1] = 0, then
// (data[2k], data[2k+1]) = bin k for k = 1 … N/2 − 1. Inverse (direction < 0) takes that layout
// with data[1] read as the Nyquist term and gives back the N samples.
void DoRealFFT(TFFTReal* plan, float* data, int direction);

// entry i = i with its low `order` bits reversed, i < 2^order.
void GenBitRevTable(uint32_t* table, int order);

// The window value at point i of n, computed in extended precision.
float CalcWindowFunc(TMMFFTWindow window, int i, int n);
void GenWindowTableInt(int32_t* table, TMMFFTWindow window, int order);
void GenWindowTableFloat(float* table, TMMFFTWindow window, int order);
void CalcWindowInt(int32_t* data, TMMFFTWindow window, int order);
void CalcWindowFloat(float* data, TMMFFTWindow window, int order);
