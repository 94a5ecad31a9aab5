#include "mmfade.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "mmmuldiv.h"
#include "mmpcmsup.h"

namespace {

auto PositionOf = [](const TMMFadePoint& p) { return p.Position; };

}  // namespace

int32_t TMMFadeList::LocateFadePoint(int64_t position) const {
  return list_.Locate(position, PositionOf);
}

int32_t TMMFadeList::FindFadePoint(int64_t position) const {
  const int32_t i = LocateFadePoint(position) - 1;
  return i >= 0 && list_.Get(i).Position == position ? i : -1;
}

int32_t TMMFadeList::CalcFadeVolume(int64_t position) const {
  int32_t i = LocateFadePoint(position);
  if (i <= 0) return 0;
  i = std::min(i, Count() - 1);
  if (i <= 0) return 0;
  const TMMFadePoint& a = list_.Get(i - 1);
  const TMMFadePoint& b = list_.Get(i);
  if (a.Position >= b.Position) return 0;
  const int64_t v = a.Volume + MulDiv64(int64_t{b.Volume} - a.Volume, position - a.Position,
                                        b.Position - a.Position);
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

bool TMMFadeList::QueryFadePoint(const TMMFadePoint& point) const {
  if (Count() == 0) return true;
  if (point.Position <= First().Position || point.Position >= Last().Position) return false;
  return FindFadePoint(point.Position) < 0;
}

bool TMMFadeList::AddFadePoint(TMMFadePoint point, bool volume_from_curve) {
  if (!QueryFadePoint(point)) return false;
  const int32_t i = LocateFadePoint(point.Position);
  if (i >= 0 && i < Count()) {
    if (volume_from_curve) point.Volume = CalcFadeVolume(point.Position);
    Insert(i, point);
  } else {
    Add(point);
  }
  return true;
}

void TMMFadeList::Sort() { list_.Sort(PositionOf); }

void TMMFadeList::Assign(const vant::TPersistent* source) {
  if (source == nullptr) {
    Clear();
    return;
  }
  if (const auto* other = dynamic_cast<const TMMFadeList*>(source)) {
    if (other == this) return;
    Clear();
    for (int32_t i = 0; i < other->Count(); ++i) {
      TMMFadePoint p = other->Get(i);
      p.Selected = 0;
      Add(p);
    }
    return;
  }
  TMMObject::Assign(source);
}

void TMMFadeList::AssignEnvelope(const TMMEnvelopePointList& envelope) {
  Clear();
  for (int32_t i = 0; i < envelope.Count(); ++i) {
    TMMFadePoint p{};
    p.Position = envelope.GetPoint(i)->Position;
    p.Volume = envelope.GetPoint(i)->Value;
    Add(p);
  }
}

void TMMFadeList::AssignToEnvelope(TMMEnvelopePointList& envelope) const {
  envelope.BeginUpdate();
  envelope.ClearPoints();
  for (int32_t i = 0; i < Count(); ++i) {
    const TMMFadePoint& f = Get(i);
    const auto position =
        static_cast<int32_t>(std::clamp<int64_t>(f.Position, INT32_MIN, INT32_MAX));
    // The envelope refuses points on its ends; a fade point there sets the end's volume.
    for (int32_t end : {0, envelope.Count() - 1})
      if (envelope.GetPoint(end)->Position == position) envelope.GetPoint(end)->Value = f.Volume;
    envelope.AddPoint(TMMEnvelopePoint(position, f.Volume), false);
  }
  envelope.EndUpdate();
}

// ---------------------------------------------------------------------------------------------
// The ramp

namespace {

struct Sample8 {
  using T = uint8_t;
  static int32_t Signed(T s) { return int32_t{s} - 128; }
  static T Raw(int32_t v) { return static_cast<T>(v + 128); }
  static constexpr int32_t kMin = -128, kMax = 127;
  static constexpr uint8_t kSilence = 128;
};

struct Sample16 {
  using T = int16_t;
  static int16_t Signed(T s) { return s; }
  static T Raw(int32_t v) { return static_cast<T>(v); }
  static constexpr int32_t kMin = -32768, kMax = 32767;
  static constexpr uint8_t kSilence = 0;
};

// Samples are scaled a block at a time: copied out (the data may start at any byte), scaled
// by a volume per sample in a loop the compiler can vectorise, and copied back.
constexpr int kBlockFrames = 1024;

// A volume that moves linearly from `from` to `to` over `distance` frames; the volume of step
// j is the line's value there rounded to nearest, so a stream cut into slices that each start
// from the volume reached stays on the line.
// The frames handed to a kernel start `offset` frames into the line.
struct Ramp {
  Ramp(int32_t from, int32_t to, int64_t distance, int64_t offset = 0)
      : from(from),
        delta(int64_t{to} - from),
        slope(double(delta) / double(distance)),
        offset(offset) {}
  bool Constant() const { return delta == 0; }
  int32_t At(int64_t j) const {
    return static_cast<int32_t>(from +
                                static_cast<int64_t>(std::floor(slope * double(offset + j) + 0.5)));
  }
  int32_t from;
  int64_t delta;
  double slope;
  int64_t offset;
};

// sample × volume >> 14, clipped to the sample range; non-zero when any sample was clipped.
template <class S, class Volume, class Product>
[[gnu::always_inline]] inline int ScaleSamples(typename S::T* s, const Volume* volume, int n) {
  int clipped = 0;
  for (int i = 0; i < n; ++i) {
    const Product v = (Product{S::Signed(s[i])} * Product{volume[i]}) >> 14;
    const Product c = std::clamp<Product>(v, S::kMin, S::kMax);
    clipped |= c != v;
    s[i] = S::Raw(static_cast<int32_t>(c));
  }
  return clipped;
}

template <class S, int Channels, class Volume, class Product>
[[gnu::always_inline]] inline bool RampBlocks(uint8_t* p, int64_t frames, const Ramp* ramps) {
  typename S::T samples[kBlockFrames * Channels];
  Volume volume[kBlockFrames * Channels];
  const bool constant = ramps[0].Constant() && ramps[Channels - 1].Constant();
  int clipped = 0;
  for (int64_t done = 0; done < frames; done += kBlockFrames) {
    const int m = static_cast<int>(std::min<int64_t>(kBlockFrames, frames - done));
    // Constant volumes are laid out once.
    if (!constant || done == 0) {
      // Each channel's line into a plain array first (that loop vectorises), then interleaved.
      // Half added up front: floor then rounds to nearest.
      int32_t line[Channels][kBlockFrames];
      for (int c = 0; c < Channels; ++c) {
        const double slope = ramps[c].slope;
        const double base = ramps[c].from + 0.5 + slope * double(ramps[c].offset + done);
        for (int k = 0; k < m; ++k) {
          line[c][k] = static_cast<int32_t>(std::floor(base + slope * double(k)));
        }
      }
      for (int k = 0; k < m; ++k) {
        for (int c = 0; c < Channels; ++c) {
          volume[k * Channels + c] = static_cast<Volume>(line[c][k]);
        }
      }
    }
    const int n = m * Channels;
    uint8_t* block = p + done * Channels * sizeof(typename S::T);
    std::memcpy(samples, block, n * sizeof(typename S::T));
    clipped |= ScaleSamples<S, Volume, Product>(samples, volume, n);
    std::memcpy(block, samples, n * sizeof(typename S::T));
  }
  return clipped != 0;
}

// Volumes that fit 16 bits (the common case) let the compiler use the widening 16-bit
// multiply; these kernels are compiled for the baseline and for AVX2 and chosen once, at the
// first fade, from the processor's features. (Not by the loader: a resolver that runs before
// the sanitizers' runtimes are up crashes the instrumented builds.) Up to 65,536 the product
// still fits 32 bits; anything beyond takes 64.
using FadeKernel = bool (*)(uint8_t* p, int64_t frames, const Ramp* ramps);

template <class S, int Channels>
bool FadeBaseline(uint8_t* p, int64_t frames, const Ramp* ramps) {
  return RampBlocks<S, Channels, int16_t, int32_t>(p, frames, ramps);
}

template <class S, int Channels>
__attribute__((target("avx2"))) bool FadeAvx2(uint8_t* p, int64_t frames, const Ramp* ramps) {
  return RampBlocks<S, Channels, int16_t, int32_t>(p, frames, ramps);
}

// Indexed [16-bit][stereo].
const FadeKernel (&Kernels())[2][2] {
  static const FadeKernel baseline[2][2] = {{FadeBaseline<Sample8, 1>, FadeBaseline<Sample8, 2>},
                                            {FadeBaseline<Sample16, 1>, FadeBaseline<Sample16, 2>}};
  static const FadeKernel avx2[2][2] = {{FadeAvx2<Sample8, 1>, FadeAvx2<Sample8, 2>},
                                        {FadeAvx2<Sample16, 1>, FadeAvx2<Sample16, 2>}};
  static const bool have_avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return have_avx2 ? avx2 : baseline;
}

template <class S>
bool RampFrames(uint8_t* p, int64_t frames, int channels, const Ramp* ramps, int64_t widest) {
  const bool stereo = channels == 2;
  if (widest <= 32767) {
    return Kernels()[std::is_same_v<S, Sample16> ? 1 : 0][stereo ? 1 : 0](p, frames, ramps);
  }
  if (widest <= 65536) {
    return stereo ? RampBlocks<S, 2, int32_t, int32_t>(p, frames, ramps)
                  : RampBlocks<S, 1, int32_t, int32_t>(p, frames, ramps);
  }
  return stereo ? RampBlocks<S, 2, int64_t, int64_t>(p, frames, ramps)
                : RampBlocks<S, 1, int64_t, int64_t>(p, frames, ramps);
}

// One whole sample scaled by a volume; answers whether it was clipped.
template <class S>
bool ScaleOne(uint8_t* p, int32_t volume) {
  typename S::T sample;
  std::memcpy(&sample, p, sizeof sample);
  const int64_t v = volume;
  const bool clipped = ScaleSamples<S, int64_t, int64_t>(&sample, &v, 1) != 0;
  std::memcpy(p, &sample, sizeof sample);
  return clipped;
}

// Scales the n bytes of stream position pos along the ramp of the state, whose first frame is
// at its origin: the volume of a sample is its channel's line at its frame, wherever the slice
// begins or ends. `after` bytes follow the n that may be read (not written). Answers whether a
// sample was clipped.
template <class S>
bool RampBytes(uint8_t* p, int64_t pos, int64_t n, int64_t after, int channels, const Ramp* ramps,
               int64_t widest, TMMFadeList::TRampState& st) {
  constexpr int kSample = static_cast<int>(sizeof(typename S::T));
  const int frame = kSample * channels;
  bool clipped = false;
  auto volumeAt = [&](int64_t at) {
    const int64_t rel = at - st.Origin;
    return ramps[(rel % frame) / kSample].At(rel / frame);
  };
  // The rest of a sample the last slice cut in two. When that slice could see the whole sample,
  // its first byte went out scaled and the second is the scaled value's high part as kept;
  // otherwise the first went out as it was, and the second carries the scaled high part.
  if ((pos - st.Origin) % kSample != 0) {
    if (st.CutHigh >= 0) {
      p[0] = static_cast<uint8_t>(st.CutHigh);
    } else if (st.CutByte >= 0 && pos - 1 >= st.Origin) {
      uint8_t whole[2] = {static_cast<uint8_t>(st.CutByte), p[0]};
      clipped |= ScaleOne<S>(whole, volumeAt(pos - 1));
      p[0] = whole[1];
    }
    ++p;
    ++pos;
    --n;
  }
  st.CutByte = st.CutHigh = -1;
  // Samples one by one up to a frame's start, whole frames through the kernels, then the
  // samples of a last, partial frame.
  while (n >= kSample && (pos - st.Origin) % frame != 0) {
    clipped |= ScaleOne<S>(p, volumeAt(pos));
    p += kSample;
    pos += kSample;
    n -= kSample;
  }
  if (const int64_t frames = n / frame; frames > 0) {
    const int64_t first = (pos - st.Origin) / frame;
    Ramp at[2] = {ramps[0], ramps[1]};
    at[0].offset = at[1].offset = first;
    clipped |= RampFrames<S>(p, frames, channels, at, widest);
    p += frames * frame;
    pos += frames * frame;
    n -= frames * frame;
  }
  while (n >= kSample) {
    clipped |= ScaleOne<S>(p, volumeAt(pos));
    p += kSample;
    pos += kSample;
    n -= kSample;
  }
  if (n > 0) {
    // A sample cut in two: scaled whole when its rest is in view, as in one pass.
    if (after >= kSample - n) {
      typename S::T whole;
      std::memcpy(&whole, p, sizeof whole);
      clipped |= ScaleOne<S>(reinterpret_cast<uint8_t*>(&whole), volumeAt(pos));
      const auto* bytes = reinterpret_cast<const uint8_t*>(&whole);
      p[0] = bytes[0];
      st.CutHigh = bytes[1];
    } else {
      st.CutByte = p[0];
    }
  }
  return clipped;
}

template <class S>
bool VolumeFade(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, int64_t ahead,
                TMMFadeList& list) {
  if (data == nullptr || bytes <= 0 || pwfx->nChannels < 1 || pwfx->nChannels > 2) return false;
  const bool stereo = pwfx->nChannels == 2;
  const int frame = static_cast<int>(sizeof(typename S::T)) * pwfx->nChannels;
  auto* p = static_cast<uint8_t*>(data);
  bool clipped = false;
  TMMFadeList::TRampState& st = list.RampState;
  if (st.End != list.CurPosition || st.EndLeft != list.CurLeftVolume ||
      st.EndRight != list.CurRightVolume) {
    st.Valid = false;
    st.CutByte = st.CutHigh = -1;
  }
  int32_t index = std::max(list.LocateFadePoint(list.CurPosition) - 1, 0);
  while (bytes > 0 && index < list.Count()) {
    const TMMFadePoint& point = list[index];
    const int64_t n = std::min(bytes, point.Position - list.CurPosition);
    if (n > 0) {
      const bool silent_from = index > 0 ? list[index - 1].Volume == 0
                                         : list.CurLeftVolume == 0 && list.CurRightVolume == 0;
      if (point.Volume == 0 && silent_from) {
        std::memset(p, S::kSilence, static_cast<size_t>(n));
        list.CurLeftVolume = list.CurRightVolume = 0;
        st.Valid = false;
        st.CutByte = st.CutHigh = -1;
      } else {
        const TMMFadePoint& t = st.Target;
        if (!st.Valid || t.Position != point.Position || t.LeftVolume != point.LeftVolume ||
            t.RightVolume != point.RightVolume) {
          // A new ramp, from the current volumes at the start of the current frame.
          st.Valid = true;
          st.Origin = list.CurPosition - list.CurPosition % frame;
          st.FromLeft = list.CurLeftVolume;
          st.FromRight = list.CurRightVolume;
          st.Target = point;
          st.CutByte = st.CutHigh = -1;
        }
        // Mono data follows the left volumes only.
        const int32_t from[2] = {st.FromLeft, stereo ? st.FromRight : st.FromLeft};
        const int32_t to[2] = {point.LeftVolume, stereo ? point.RightVolume : point.LeftVolume};
        const int64_t distance = std::max<int64_t>((point.Position - st.Origin) / frame, 1);
        const Ramp ramps[2] = {Ramp(from[0], to[0], distance), Ramp(from[1], to[1], distance)};
        bool unity = true;
        int64_t widest = 0;
        for (int c = 0; c < 2; ++c) {
          unity &= from[c] == kPCMUnityVolume && to[c] == kPCMUnityVolume;
          widest = std::max({widest, std::abs(int64_t{from[c]}), std::abs(int64_t{to[c]})});
        }
        if (!unity) {
          clipped |= RampBytes<S>(p, list.CurPosition, n, bytes - n + std::max<int64_t>(ahead, 0),
                                  pwfx->nChannels, ramps, widest, st);
        }
        // The volumes of the frame the slice ends in.
        const int64_t reached = (list.CurPosition + n - st.Origin) / frame;
        list.CurLeftVolume = ramps[0].At(reached);
        list.CurRightVolume = ramps[1].At(reached);
      }
      p += n;
      bytes -= n;
      list.CurPosition += n;
    }
    if (list.CurPosition >= point.Position) ++index;
  }
  // Data past the last point stays as it is; the position still follows the stream.
  list.CurPosition += bytes;
  list.CurIndex = index;
  st.End = list.CurPosition;
  st.EndLeft = list.CurLeftVolume;
  st.EndRight = list.CurRightVolume;
  return clipped;
}

}  // namespace

bool pcmVolumeFade8(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list,
                    int64_t ahead) {
  return VolumeFade<Sample8>(pwfx, data, bytes, ahead, list);
}

bool pcmVolumeFade16(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list,
                     int64_t ahead) {
  return VolumeFade<Sample16>(pwfx, data, bytes, ahead, list);
}

bool pcmVolumeFade(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list,
                   int64_t ahead) {
  if (pwfx == nullptr || pwfx->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (pwfx->wBitsPerSample == 8) return pcmVolumeFade8(pwfx, data, bytes, list, ahead);
  if (pwfx->wBitsPerSample == 16) return pcmVolumeFade16(pwfx, data, bytes, list, ahead);
  return false;
}
