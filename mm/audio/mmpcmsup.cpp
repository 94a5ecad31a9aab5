#include "mmpcmsup.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include "mmsample16.h"

std::atomic<bool> Overflow{false};

namespace {

using vant::sample::Load16;
using vant::sample::Store16;

// How the searches see a format.
struct SearchShape {
  bool eightBit;
  bool stereo;
  int sampleBytes() const { return eightBit ? 1 : 2; }
  int frameBytes() const { return sampleBytes() * (stereo ? 2 : 1); }
  // A sample as a signed value around 0.
  int Signed(const uint8_t* p) const { return eightBit ? int{*p} - 128 : Load16(p); }
  // A sample as the caller sees it (the raw byte for 8 bits).
  int Raw(const uint8_t* p) const { return eightBit ? int{*p} : Load16(p); }
};

SearchShape ShapeOf(const WAVEFORMATEX* pwfx) {
  return SearchShape{pwfx->wBitsPerSample == 8, pwfx->nChannels != 1};
}

bool IsPCM(const WAVEFORMATEX* pwfx) {
  return pwfx != nullptr && pwfx->wFormatTag == WAVE_FORMAT_PCM;
}

}  // namespace

bool pcmIsValidFormat(const WAVEFORMATEX* pwfx) {
  if (pwfx == nullptr) return false;
  const auto ch = pwfx->nChannels;
  return pwfx->wFormatTag == WAVE_FORMAT_PCM &&
         (pwfx->wBitsPerSample == 8 || pwfx->wBitsPerSample == 16) &&
         (ch == 1 || ch == 2 || ch == 4) && pwfx->nSamplesPerSec >= 4000 &&
         pwfx->nSamplesPerSec <= 100000;
}

void pcmBuildWaveHeader(WAVEFORMATEX& wfx, int bits, int channels, int rate) {
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.nChannels = static_cast<uint16_t>(channels);
  wfx.nSamplesPerSec = static_cast<uint32_t>(rate);
  wfx.wBitsPerSample = static_cast<uint16_t>(bits);
  wfx.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  wfx.nAvgBytesPerSec = static_cast<uint32_t>(wfx.nBlockAlign) * static_cast<uint32_t>(rate);
  wfx.cbSize = 0;
}

void pcmBuildWaveFormatExtensible(WAVEFORMATEXTENSIBLE& wfx, int bits, int channels,
                                  uint32_t channelMask, int rate) {
  static constexpr uint8_t kPCMSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  pcmBuildWaveHeader(wfx.Format, bits, channels, rate);
  wfx.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wfx.Format.cbSize = 22;
  wfx.wValidBitsPerSample = static_cast<uint16_t>(bits);
  wfx.dwChannelMask = channelMask;
  std::memcpy(wfx.SubFormat, kPCMSubFormat, sizeof kPCMSubFormat);
}

void pcmFillSilence(const WAVEFORMATEX* pwfx, void* data, int64_t bytes) {
  if (pwfx == nullptr || data == nullptr || bytes <= 0) return;
  std::memset(data, pwfx->wBitsPerSample == 16 ? 0 : 128, static_cast<size_t>(bytes));
}

// ---------------------------------------------------------------------------------------------
// Searches

void PCMFINDPEAK(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int& left, int& right) {
  left = right = 0;
  if (pwfx == nullptr) return;
  const SearchShape shape = ShapeOf(pwfx);
  // Silence answers the silence value: 128 for 8-bit data, 0 for 16-bit data.
  const int silence = shape.eightBit ? 128 : 0;
  left = right = silence;
  if (data == nullptr || bytes <= 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  const int sb = shape.sampleBytes();
  const int fb = shape.frameBytes();
  const int64_t frames = bytes / fb;
  int peak[2] = {0, 0};
  int value[2] = {silence, silence};
  for (int64_t f = 0; f < frames; ++f, p += fb) {
    for (int c = 0; c < (shape.stereo ? 2 : 1); ++c) {
      const uint8_t* s = p + c * sb;
      const int mag = std::abs(shape.Signed(s));
      if (mag > peak[c]) {
        peak[c] = mag;
        value[c] = shape.Raw(s);
      }
    }
  }
  left = value[0];
  right = shape.stereo ? value[1] : value[0];
}

void PCMFINDMINMAX(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int& left1,
                   int& left2, int& right1, int& right2) {
  left1 = left2 = right1 = right2 = 0;
  if (pwfx == nullptr) return;
  const SearchShape shape = ShapeOf(pwfx);
  const int fb = shape.frameBytes();
  const int bias = shape.eightBit ? 128 : 0;
  // 8-bit mono needs one byte; every other shape needs a whole frame.
  const int64_t frames = (data == nullptr || bytes <= 0) ? 0 : bytes / fb;
  if (frames == 0) {
    left1 = left2 = right1 = right2 = bias;
    return;
  }
  const int top = shape.eightBit ? 127 : 32767;
  const int channels = shape.stereo ? 2 : 1;
  int lo[2] = {top, top}, hi[2] = {-top, -top};
  int64_t loAt[2] = {0, 0}, hiAt[2] = {0, 0};
  const auto* p = static_cast<const uint8_t*>(data);
  for (int64_t f = 0; f < frames; ++f, p += fb) {
    for (int c = 0; c < channels; ++c) {
      const int v = shape.Signed(p + c * shape.sampleBytes());
      if (v < lo[c]) {
        lo[c] = v;
        loAt[c] = f;
      }
      if (v > hi[c]) {
        hi[c] = v;
        hiAt[c] = f;
      }
    }
  }
  int out[2][2];
  for (int c = 0; c < channels; ++c) {
    const bool minFirst = loAt[c] <= hiAt[c];
    out[c][0] = (minFirst ? lo[c] : hi[c]) + bias;
    out[c][1] = (minFirst ? hi[c] : lo[c]) + bias;
  }
  if (channels == 1) {
    out[1][0] = out[0][0];
    out[1][1] = out[0][1];
  }
  left1 = out[0][0];
  left2 = out[0][1];
  right1 = out[1][0];
  right2 = out[1][1];
}

int64_t pcmFindZeroCross(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int channel,
                         int slope, int level) {
  if (pwfx == nullptr || data == nullptr || bytes <= 0 || (slope != 1 && slope != 2)) return -1;
  const SearchShape shape = ShapeOf(pwfx);
  bool testLeft = true, testRight = false;
  if (shape.stereo) {
    switch (channel) {
      case 0:
        testLeft = testRight = true;
        break;
      case 1:
        testLeft = true;
        break;
      case 2:
        testLeft = false;
        testRight = true;
        break;
      default:
        return -1;
    }
  }
  if (slope == 2) level = -level;
  // Thresholds on raw values: the unsigned byte for 8 bits, the signed sample for 16 bits.
  const int threshold = shape.eightBit ? level * 127 / 100 + 128 : level * 327;
  const int fb = shape.frameBytes();
  const int sb = shape.sampleBytes();
  const int64_t whole = bytes / fb * fb;
  const auto* p = static_cast<const uint8_t*>(data);
  auto crosses = [&](int a, int b) {
    return slope == 1 ? (a < threshold && threshold <= b) : (a > threshold && threshold >= b);
  };
  // A pair is tested only while more than two frames remain, so the last frame never completes
  // a crossing.
  for (int64_t off = 0; whole - off > 2 * fb; off += fb) {
    if (testLeft && crosses(shape.Raw(p + off), shape.Raw(p + off + fb))) return off + fb;
    if (testRight && crosses(shape.Raw(p + off + sb), shape.Raw(p + off + fb + sb))) {
      return off + fb + sb;
    }
  }
  return -1;
}

namespace {

bool LoudFrame(const SearchShape& shape, const uint8_t* frame, int threshold) {
  if (std::abs(shape.Signed(frame)) > threshold) return true;
  return shape.stereo && std::abs(shape.Signed(frame + shape.sampleBytes())) > threshold;
}

}  // namespace

void pcmFindSilenceEnd(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int64_t& position,
                       int threshold) {
  position = -1;
  if (pwfx == nullptr || data == nullptr || bytes <= 0) return;
  const SearchShape shape = ShapeOf(pwfx);
  threshold = std::max(threshold, 0);
  const int fb = shape.frameBytes();
  const auto* p = static_cast<const uint8_t*>(data);
  for (int64_t off = 0; off + fb <= bytes; off += fb) {
    if (LoudFrame(shape, p + off, threshold)) {
      position = off;
      return;
    }
  }
}

void pcmFindSilenceStart(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes,
                         int64_t& position, int threshold) {
  position = -1;
  if (pwfx == nullptr || data == nullptr || bytes <= 0) return;
  const SearchShape shape = ShapeOf(pwfx);
  threshold = std::max(threshold, 0);
  const int fb = shape.frameBytes();
  const auto* p = static_cast<const uint8_t*>(data);
  for (int64_t off = bytes / fb * fb - fb; off >= 0; off -= fb) {
    if (LoudFrame(shape, p + off, threshold)) return;
    position = off;
  }
}

void pcmCalcStatistics(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int& leftMean,
                       int& rightMean, int& leftDeviation, int& rightDeviation) {
  leftMean = rightMean = leftDeviation = rightDeviation = 0;
  if (pwfx == nullptr || data == nullptr || bytes <= 0) return;
  const SearchShape shape = ShapeOf(pwfx);
  const int fb = shape.frameBytes();
  const int64_t frames = bytes / fb;
  if (frames == 0) return;
  const int channels = shape.stereo ? 2 : 1;
  double sum[2] = {0, 0}, squares[2] = {0, 0};
  const auto* p = static_cast<const uint8_t*>(data);
  for (int64_t f = 0; f < frames; ++f, p += fb) {
    for (int c = 0; c < channels; ++c) {
      const double v = shape.Signed(p + c * shape.sampleBytes());
      sum[c] += v;
      squares[c] += v * v;
    }
  }
  int mean[2], dev[2];
  for (int c = 0; c < channels; ++c) {
    const double m = sum[c] / static_cast<double>(frames);
    const double var = squares[c] / static_cast<double>(frames) - m * m;
    mean[c] = static_cast<int>(std::nearbyint(m));
    dev[c] = static_cast<int>(std::nearbyint(std::sqrt(std::max(var, 0.0))));
  }
  if (channels == 1) {
    mean[1] = mean[0];
    dev[1] = dev[0];
  }
  leftMean = mean[0];
  rightMean = mean[1];
  leftDeviation = dev[0];
  rightDeviation = dev[1];
}

// ---------------------------------------------------------------------------------------------
// Single samples and volume

int pcmSampleClip8(int v) {
  if (v < -128 || v > 127) {
    Overflow = true;
    return v < -128 ? -128 : 127;
  }
  return v;
}

int pcmSampleClip16(int v) {
  if (v < -32768 || v > 32767) {
    Overflow = true;
    return v < -32768 ? -32768 : 32767;
  }
  return v;
}

namespace {
// (s × volume) >> 14 on a signed sample, in 64 bits so no volume overflows the product.
inline int64_t Scale(int64_t s, int32_t volume) { return (s * volume) >> 14; }

inline bool Clip(int64_t& v, int64_t lo, int64_t hi) {
  if (v < lo) {
    v = lo;
    return true;
  }
  if (v > hi) {
    v = hi;
    return true;
  }
  return false;
}
}  // namespace

uint8_t pcmSampleVolume8(uint8_t sample, int32_t volume) {
  int64_t v = Scale(int{sample} - 128, volume) + 128;
  if (Clip(v, 0, 255)) Overflow = true;
  return static_cast<uint8_t>(v);
}

int16_t pcmSampleVolume16(int16_t sample, int32_t volume) {
  int64_t v = Scale(sample, volume);
  if (Clip(v, -32768, 32767)) Overflow = true;
  return static_cast<int16_t>(v);
}

namespace {

// Samples at even positions take volumes[0], odd ones volumes[1] (stereo); mono passes the same
// volume twice.
bool Volume8(uint8_t* p, int64_t samples, int32_t v0, int32_t v1) {
  bool clipped = false;
  for (int64_t i = 0; i < samples; ++i) {
    int64_t v = Scale(int{p[i]} - 128, (i & 1) ? v1 : v0) + 128;
    clipped |= Clip(v, 0, 255);
    p[i] = static_cast<uint8_t>(v);
  }
  if (clipped) Overflow = true;
  return clipped;
}

bool Volume16(uint8_t* p, int64_t samples, int32_t v0, int32_t v1) {
  bool clipped = false;
  for (int64_t i = 0; i < samples; ++i) {
    int64_t v = Scale(Load16(p + 2 * i), (i & 1) ? v1 : v0);
    clipped |= Clip(v, -32768, 32767);
    Store16(p + 2 * i, static_cast<int>(v));
  }
  if (clipped) Overflow = true;
  return clipped;
}

}  // namespace

bool PCMVOLUME8M(void* data, int64_t bytes, int32_t volume) {
  if (data == nullptr || bytes <= 0 || volume == kPCMUnityVolume) return false;
  return Volume8(static_cast<uint8_t*>(data), bytes, volume, volume);
}

bool PCMVOLUME8S(void* data, int64_t bytes, int32_t leftVolume, int32_t rightVolume) {
  if (data == nullptr || bytes <= 0) return false;
  if (leftVolume == kPCMUnityVolume && rightVolume == kPCMUnityVolume) return false;
  return Volume8(static_cast<uint8_t*>(data), bytes / 2 * 2, leftVolume, rightVolume);
}

bool PCMVOLUME16M(void* data, int64_t bytes, int32_t volume) {
  if (data == nullptr || bytes <= 0 || volume == kPCMUnityVolume) return false;
  return Volume16(static_cast<uint8_t*>(data), bytes / 2, volume, volume);
}

bool PCMVOLUME16S(void* data, int64_t bytes, int32_t leftVolume, int32_t rightVolume) {
  if (data == nullptr || bytes <= 0) return false;
  if (leftVolume == kPCMUnityVolume && rightVolume == kPCMUnityVolume) return false;
  return Volume16(static_cast<uint8_t*>(data), bytes / 4 * 2, leftVolume, rightVolume);
}

bool pcmVolume(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, int32_t leftVolume,
               int32_t rightVolume) {
  if (!IsPCM(pwfx)) return false;
  const bool mono = pwfx->nChannels == 1;
  switch (pwfx->wBitsPerSample) {
    case 8:
      return mono ? PCMVOLUME8M(data, bytes, leftVolume)
                  : PCMVOLUME8S(data, bytes, leftVolume, rightVolume);
    case 16:
      return mono ? PCMVOLUME16M(data, bytes, leftVolume)
                  : PCMVOLUME16S(data, bytes, leftVolume, rightVolume);
    default:
      return false;  // other depths are left alone rather than scaled as the wrong width
  }
}

void pcmReverse(const WAVEFORMATEX* pwfx, void* data, int64_t bytes) {
  if (!IsPCM(pwfx) || data == nullptr || bytes <= 0) return;
  const int fb = pwfx->nChannels * pwfx->wBitsPerSample / 8;
  if (fb <= 0) return;
  auto* p = static_cast<uint8_t*>(data);
  int64_t lo = 0, hi = bytes / fb * fb - fb;
  uint8_t tmp[64];
  while (lo < hi) {
    // Frames wider than the scratch (over 32 channels of 16 bits) swap in pieces.
    for (int done = 0; done < fb; done += static_cast<int>(sizeof tmp)) {
      const int n = std::min<int>(sizeof tmp, fb - done);
      std::memcpy(tmp, p + lo + done, n);
      std::memcpy(p + lo + done, p + hi + done, n);
      std::memcpy(p + hi + done, tmp, n);
    }
    lo += fb;
    hi -= fb;
  }
}

// ---------------------------------------------------------------------------------------------
// Bit depth, channel and rate alignment

int64_t pcmBitsPerSampleAlign(int targetBits, void* target, int sourceBits, const void* source,
                              int64_t sourceBytes) {
  if (target == nullptr || source == nullptr || sourceBytes <= 0) return 0;
  const auto* s = static_cast<const uint8_t*>(source);
  auto* t = static_cast<uint8_t*>(target);
  if (targetBits == sourceBits) {
    std::memmove(t, s, static_cast<size_t>(sourceBytes));
    return sourceBytes;
  }
  if (sourceBits == 16 && targetBits == 8) {
    // Forward in place is safe: each target byte lands before the source bytes still unread.
    const int64_t n = sourceBytes / 2;
    for (int64_t i = 0; i < n; ++i) t[i] = static_cast<uint8_t>(Load16(s + 2 * i) / 256 + 128);
    return n;
  }
  if (sourceBits == 8 && targetBits == 16) {
    for (int64_t i = 0; i < sourceBytes; ++i) Store16(t + 2 * i, s[i] * 256 - 32768);
    return sourceBytes * 2;
  }
  return 0;
}

int64_t pcmChannelAlign(int targetChannels, void* target, int sourceChannels, const void* source,
                        int bits, int64_t sourceBytes) {
  if (target == nullptr || source == nullptr || sourceBytes <= 0) return 0;
  const auto* s = static_cast<const uint8_t*>(source);
  auto* t = static_cast<uint8_t*>(target);
  if (targetChannels == sourceChannels) {
    std::memmove(t, s, static_cast<size_t>(sourceBytes));
    return sourceBytes;
  }
  const int sb = bits == 8 ? 1 : 2;
  if (sourceChannels < targetChannels) {  // mono to stereo
    const int64_t n = sourceBytes / sb;
    for (int64_t i = 0; i < n; ++i) {
      std::memcpy(t + 2 * i * sb, s + i * sb, sb);
      std::memcpy(t + (2 * i + 1) * sb, s + i * sb, sb);
    }
    return n * 2 * sb;
  }
  const int64_t n = sourceBytes / (2 * sb);  // stereo to mono
  for (int64_t i = 0; i < n; ++i) {
    if (sb == 1) {
      // The mean keeps silence at 128; a clamped sum of two unsigned bytes would not.
      t[i] = static_cast<uint8_t>((s[2 * i] + s[2 * i + 1]) / 2);
    } else {
      const int sum = Load16(s + 4 * i) + Load16(s + 4 * i + 2);
      Store16(t + 2 * i, std::clamp(sum, -32765, 32765));
    }
  }
  return n * sb;
}

namespace {

// One frame of up to two channels as signed values (8-bit on s − 128).
struct Frame {
  int v[2];
};

struct FrameIO {
  int sb, channels;
  int Bytes() const { return sb * channels; }
  Frame Get(const uint8_t* p) const {
    Frame f{{0, 0}};
    for (int c = 0; c < channels; ++c) f.v[c] = sb == 1 ? int{p[c]} - 128 : Load16(p + 2 * c);
    return f;
  }
  void Put(uint8_t* p, const Frame& f) const {
    for (int c = 0; c < channels; ++c) {
      if (sb == 1) {
        p[c] = static_cast<uint8_t>(f.v[c] + 128);
      } else {
        Store16(p + 2 * c, f.v[c]);
      }
    }
  }
};

// The k − 1 frames between this and next, stepping by (next − this) / k.
void pcmRepSample(const FrameIO& io, uint8_t*& t, const Frame& a, const Frame& b, int k) {
  int step[2];
  for (int c = 0; c < 2; ++c) step[c] = (b.v[c] - a.v[c]) / k;
  Frame f = a;
  for (int m = 1; m < k; ++m) {
    for (int c = 0; c < 2; ++c) f.v[c] += step[c];
    io.Put(t, f);
    t += io.Bytes();
  }
}

Frame pcmAvgSample(const FrameIO& io, const uint8_t* s, int k) {
  int64_t sum[2] = {0, 0};
  for (int m = 0; m < k; ++m) {
    const Frame f = io.Get(s + m * io.Bytes());
    sum[0] += f.v[0];
    sum[1] += f.v[1];
  }
  return Frame{{static_cast<int>(sum[0] / k), static_cast<int>(sum[1] / k)}};
}

}  // namespace

int64_t pcmSamplesPerSecAlign(int targetRate, void* target, int sourceRate, const void* source,
                              int bits, int channels, int64_t sourceBytes) {
  if (target == nullptr || source == nullptr || sourceBytes <= 0) return 0;
  if (targetRate <= 0 || sourceRate <= 0 || channels < 1 || channels > 2) return 0;
  const auto* s = static_cast<const uint8_t*>(source);
  auto* t = static_cast<uint8_t*>(target);
  if (targetRate == sourceRate) {
    std::memmove(t, s, static_cast<size_t>(sourceBytes));
    return sourceBytes;
  }
  const FrameIO io{bits == 8 ? 1 : 2, channels};
  const int fb = io.Bytes();
  const int64_t frames = sourceBytes / fb;
  if (frames == 0) return 0;
  uint8_t* const start = t;
  if (targetRate > sourceRate) {
    const int k = targetRate / sourceRate;
    for (int64_t i = 0; i + 1 < frames; ++i) {
      const Frame a = io.Get(s + i * fb);
      io.Put(t, a);
      t += fb;
      pcmRepSample(io, t, a, io.Get(s + (i + 1) * fb), k);
    }
    const Frame last = io.Get(s + (frames - 1) * fb);
    for (int m = 0; m < k; ++m, t += fb) io.Put(t, last);
  } else {
    const int k = std::max(sourceRate / targetRate, 1);
    const int64_t groups = (frames + k - 1) / k;
    for (int64_t g = 0; g + 1 < groups; ++g, t += fb)
      io.Put(t, pcmAvgSample(io, s + g * k * fb, k));
    io.Put(t, io.Get(s + (groups - 1) * k * fb));
    t += fb;
  }
  return t - start;
}

// ---------------------------------------------------------------------------------------------
// PCMCONVERT: drop-or-repeat rate conversion with channel and bit conversion per frame

namespace {

// 0 = 8-bit mono, 1 = 8-bit stereo, 2 = 16-bit mono, 3 = 16-bit stereo; -1 rejected.
int ConvertKind(const WAVEFORMATEX* pwfx) {
  if (pwfx == nullptr || pwfx->wFormatTag != WAVE_FORMAT_PCM || pwfx->nSamplesPerSec == 0) {
    return -1;
  }
  if (pwfx->nChannels != 1 && pwfx->nChannels != 2) return -1;
  if (pwfx->wBitsPerSample != 8 && pwfx->wBitsPerSample != 16) return -1;
  return (pwfx->wBitsPerSample == 16 ? 2 : 0) + (pwfx->nChannels == 2 ? 1 : 0);
}

constexpr int kKindFrameBytes[4] = {1, 2, 2, 4};

// A frame in the target's shape: raw byte values for 8-bit targets, signed samples for 16-bit.
struct Out {
  int l, r;
};

// Offset-binary means keep the carry, so they never overflow.
inline int Avg8(int a, int b) { return (a + b) >> 1; }
inline int Biased16(int v) { return v + 32768; }
inline int High8(int v) { return (Biased16(v) >> 8) & 0xFF; }  // high byte + 128

using Reader = Out (*)(const uint8_t*);

#define VANT_READER(name, expr) \
  Out name(const uint8_t* p) { return expr; }
// 8-bit mono source
VANT_READER(R00, (Out{p[0], p[0]}))
VANT_READER(R01, (Out{p[0], p[0]}))
VANT_READER(R02, (Out{(p[0] - 128) * 256, (p[0] - 128) * 256}))
VANT_READER(R03, (Out{(p[0] - 128) * 256, (p[0] - 128) * 256}))
// 8-bit stereo source
VANT_READER(R10, (Out{Avg8(p[0], p[1]), Avg8(p[0], p[1])}))
VANT_READER(R11, (Out{p[0], p[1]}))
VANT_READER(R12, (Out{(Avg8(p[0], p[1]) - 128) * 256, (Avg8(p[0], p[1]) - 128) * 256}))
VANT_READER(R13, (Out{(p[0] - 128) * 256, (p[1] - 128) * 256}))
// 16-bit mono source
VANT_READER(R20, (Out{High8(Load16(p)), High8(Load16(p))}))
VANT_READER(R21, (Out{High8(Load16(p)), High8(Load16(p))}))
VANT_READER(R22, (Out{Load16(p), Load16(p)}))
VANT_READER(R23, (Out{Load16(p), Load16(p)}))
#undef VANT_READER

int BiasedAvg16(const uint8_t* p) { return (Biased16(Load16(p)) + Biased16(Load16(p + 2))) >> 1; }
// 16-bit stereo source
Out R30(const uint8_t* p) {
  const int a = BiasedAvg16(p) >> 8;
  return Out{a, a};
}
Out R31(const uint8_t* p) { return Out{High8(Load16(p)), High8(Load16(p + 2))}; }
Out R32(const uint8_t* p) {
  const int a = BiasedAvg16(p) - 32768;
  return Out{a, a};
}
Out R33(const uint8_t* p) { return Out{Load16(p), Load16(p + 2)}; }

constexpr Reader kReaders[4][4] = {
    {R00, R01, R02, R03}, {R10, R11, R12, R13}, {R20, R21, R22, R23}, {R30, R31, R32, R33}};

void W0(uint8_t* p, Out o) { p[0] = static_cast<uint8_t>(o.l); }
void W1(uint8_t* p, Out o) {
  p[0] = static_cast<uint8_t>(o.l);
  p[1] = static_cast<uint8_t>(o.r);
}
void W2(uint8_t* p, Out o) { Store16(p, o.l); }
void W3(uint8_t* p, Out o) {
  Store16(p, o.l);
  Store16(p + 2, o.r);
}
using Writer = void (*)(uint8_t*, Out);
constexpr Writer kWriters[4] = {W0, W1, W2, W3};

}  // namespace

int64_t PCMCONVERTSIZEOUTPUTDATA(const WAVEFORMATEX* target, const WAVEFORMATEX* source,
                                 int64_t sourceBytes) {
  const int tk = ConvertKind(target), sk = ConvertKind(source);
  if (tk < 0 || sk < 0) return -1;
  if (sourceBytes <= 0) return 0;
  const int64_t frames = sourceBytes / kKindFrameBytes[sk];
  if (frames == 0) return 0;
  const int64_t out = static_cast<int64_t>(static_cast<__int128>(frames) * target->nSamplesPerSec /
                                           source->nSamplesPerSec);
  return (out + 1) * kKindFrameBytes[tk];
}

int64_t PCMCONVERT(const WAVEFORMATEX* targetFormat, void* target, const WAVEFORMATEX* sourceFormat,
                   const void* source, int64_t sourceBytes) {
  if (sourceBytes <= 0) return sourceBytes;
  const int tk = ConvertKind(targetFormat), sk = ConvertKind(sourceFormat);
  if (tk < 0 || sk < 0 || target == nullptr || source == nullptr) return -1;
  const Reader read = kReaders[sk][tk];
  const Writer write = kWriters[tk];
  const int sfb = kKindFrameBytes[sk], tfb = kKindFrameBytes[tk];
  const int64_t n = sourceBytes / sfb;
  const int64_t s = sourceFormat->nSamplesPerSec, t = targetFormat->nSamplesPerSec;
  const auto* src = static_cast<const uint8_t*>(source);
  auto* dst = static_cast<uint8_t*>(target);
  int64_t written = 0;
  if (s > t) {
    int64_t acc = s / 2;
    for (int64_t i = 0; i < n; ++i, src += sfb) {
      acc -= t;
      if (acc >= 0) continue;  // no borrow: this frame is dropped
      write(dst + written * tfb, read(src));
      ++written;
      acc += s;
    }
  } else {
    int64_t acc = t / 2;
    for (int64_t i = 0; i < n; ++i, src += sfb) {
      const Out frame = read(src);
      write(dst + written * tfb, frame);
      ++written;
      acc -= s;
      while (acc >= 0) {
        write(dst + written * tfb, frame);
        ++written;
        acc -= s;
      }
      acc += t;
    }
  }
  return written * tfb;
}

// ---------------------------------------------------------------------------------------------
// Speed change

namespace {

int64_t PitchChange(int fb, const void* source, void* target, int64_t& sourceBytesLeft,
                    int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step) {
  if (source == nullptr || target == nullptr) return 0;
  if (sourceBytesLeft <= 0 || targetBytesLeft <= 0) return 0;
  const auto* s = static_cast<const uint8_t*>(source);
  auto* t = static_cast<uint8_t*>(target);
  int64_t written = 0;
  uint64_t frac = fraction;
  // A partial frame at either end counts as used up: reading or writing it would leave the
  // caller's buffer.
  while (sourceBytesLeft >= fb && targetBytesLeft >= fb) {
    std::memcpy(t + written, s, fb);
    written += fb;
    targetBytesLeft -= fb;
    frac += step;
    if (frac >= 65536) {
      const int64_t advance = static_cast<int64_t>(frac >> 16) * fb;
      frac &= 0xFFFF;
      s += std::min(advance, sourceBytesLeft);
      sourceBytesLeft -= advance;
    }
  }
  fraction = static_cast<uint32_t>(frac);
  return written;
}

}  // namespace

int64_t PCMPITCHCHANGE8M(const void* source, void* target, int64_t& sourceBytesLeft,
                         int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step) {
  return PitchChange(1, source, target, sourceBytesLeft, targetBytesLeft, fraction, step);
}
int64_t PCMPITCHCHANGE8S(const void* source, void* target, int64_t& sourceBytesLeft,
                         int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step) {
  return PitchChange(2, source, target, sourceBytesLeft, targetBytesLeft, fraction, step);
}
int64_t PCMPITCHCHANGE16M(const void* source, void* target, int64_t& sourceBytesLeft,
                          int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step) {
  return PitchChange(2, source, target, sourceBytesLeft, targetBytesLeft, fraction, step);
}
int64_t PCMPITCHCHANGE16S(const void* source, void* target, int64_t& sourceBytesLeft,
                          int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step) {
  return PitchChange(4, source, target, sourceBytesLeft, targetBytesLeft, fraction, step);
}

int64_t pcmPitchChange(const WAVEFORMATEX* pwfx, const void* source, void* target,
                       int64_t& sourceBytesLeft, int64_t& targetBytesLeft, uint32_t& fraction,
                       uint32_t step) {
  if (!IsPCM(pwfx)) return 0;
  const bool eight = pwfx->wBitsPerSample == 8;
  if (pwfx->nChannels == 1) {
    return (eight ? PCMPITCHCHANGE8M : PCMPITCHCHANGE16M)(source, target, sourceBytesLeft,
                                                          targetBytesLeft, fraction, step);
  }
  return (eight ? PCMPITCHCHANGE8S : PCMPITCHCHANGE16S)(source, target, sourceBytesLeft,
                                                        targetBytesLeft, fraction, step);
}

// ---------------------------------------------------------------------------------------------
// Mixing

std::unique_ptr<TMMMixPool> pcmAllocMixPool(int buffers) {
  auto pool = std::make_unique<TMMMixPool>();
  pool->Buffers.assign(static_cast<size_t>(std::max(buffers, 0)), nullptr);
  return pool;
}

namespace {

int UsableBuffers(const TMMMixPool& pool, int buffers) {
  return std::clamp<int>(buffers, 0, static_cast<int>(pool.Buffers.size()));
}

}  // namespace

bool PCMMIXIT8(void* target, int16_t* scratch, const TMMMixPool& pool, int buffers, int64_t bytes) {
  if (target == nullptr || bytes <= 0) return false;
  auto* t = static_cast<uint8_t*>(target);
  const int n = UsableBuffers(pool, buffers);
  if (n == 0) {
    std::memset(t, 128, static_cast<size_t>(bytes));
    return false;
  }
  bool clipped = false;
  for (int64_t i = 0; i < bytes; ++i) {
    int sum = 0;
    for (int b = 0; b < n; ++b) {
      if (pool.Buffers[b] != nullptr) sum += static_cast<const uint8_t*>(pool.Buffers[b])[i] - 128;
    }
    if (scratch != nullptr) scratch[i] = static_cast<int16_t>(std::clamp(sum, -32768, 32767));
    int64_t v = Scale(sum, (i & 1) ? pool.RightVolume : pool.LeftVolume);
    clipped |= Clip(v, -128, 127);
    t[i] = static_cast<uint8_t>(v + 128);
  }
  if (clipped) Overflow = true;
  return clipped;
}

bool PCMMIXIT16(void* target, int32_t* scratch, const TMMMixPool& pool, int buffers,
                int64_t bytes) {
  if (target == nullptr || bytes <= 0) return false;
  auto* t = static_cast<uint8_t*>(target);
  const int n = UsableBuffers(pool, buffers);
  if (n == 0) {
    std::memset(t, 0, static_cast<size_t>(bytes));
    return false;
  }
  const bool unity = pool.LeftVolume == kPCMUnityVolume && pool.RightVolume == kPCMUnityVolume;
  bool clipped = false;
  const int64_t samples = bytes / 2;
  for (int64_t i = 0; i < samples; ++i) {
    int64_t sum = 0;
    for (int b = 0; b < n; ++b) {
      if (pool.Buffers[b] != nullptr)
        sum += Load16(static_cast<const uint8_t*>(pool.Buffers[b]) + 2 * i);
    }
    if (scratch != nullptr) scratch[i] = static_cast<int32_t>(sum);
    int64_t v = unity ? sum : Scale(sum, (i & 1) ? pool.RightVolume : pool.LeftVolume);
    clipped |= Clip(v, -32768, 32767);
    Store16(t + 2 * i, static_cast<int>(v));
  }
  if (clipped) Overflow = true;
  return clipped;
}

bool pcmMixIt(const WAVEFORMATEX* pwfx, void* target, void* scratch, const TMMMixPool& pool,
              int buffers, int64_t bytes) {
  if (!IsPCM(pwfx)) return false;
  if (pwfx->wBitsPerSample == 8) {
    return PCMMIXIT8(target, static_cast<int16_t*>(scratch), pool, buffers, bytes);
  }
  return PCMMIXIT16(target, static_cast<int32_t*>(scratch), pool, buffers, bytes);
}
