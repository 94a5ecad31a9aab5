#include "mmfade.h"

#include <algorithm>
#include <cstring>
#include <limits>

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

// ---------------------------------------------------------------------------------------------
// The ramp

namespace {

struct Sample8 {
  static int Load(const uint8_t* p) { return int{*p} - 128; }
  static void Store(uint8_t* p, int v) { *p = static_cast<uint8_t>(v + 128); }
  static constexpr int kMin = -128, kMax = 127, kBytes = 1;
  static constexpr uint8_t kSilence = 128;
};

struct Sample16 {
  static int Load(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  static void Store(uint8_t* p, int v) {
    const int16_t s = static_cast<int16_t>(v);
    std::memcpy(p, &s, 2);
  }
  static constexpr int kMin = -32768, kMax = 32767, kBytes = 2;
  static constexpr uint8_t kSilence = 0;
};

template <class S>
inline bool Scale(uint8_t* p, int64_t volume) {
  int64_t v = (int64_t{S::Load(p)} * volume) >> 14;
  bool clipped = false;
  if (v < S::kMin) {
    v = S::kMin;
    clipped = true;
  } else if (v > S::kMax) {
    v = S::kMax;
    clipped = true;
  }
  S::Store(p, static_cast<int>(v));
  return clipped;
}

// One channel of a segment: `frames` of the `distance` frames over which the volume goes from
// `from` to `to`, stepping with an integer error term. Answers the volume reached.
template <class S>
int32_t RampChannel(uint8_t* p, int stride, int64_t frames, int64_t distance, int32_t from,
                    int32_t to, bool& clipped) {
  if (from == to) {
    if (from != kPCMUnityVolume) {
      for (int64_t i = 0; i < frames; ++i, p += stride) clipped |= Scale<S>(p, from);
    }
    return from;
  }
  const int64_t delta = int64_t{to} - from;
  const int64_t q = delta / distance, r = delta % distance;
  // The error term starts half a step in, so each volume is the line's value rounded to
  // nearest and a stream cut into slices does not drift below the line.
  int64_t v = from, err = r >= 0 ? distance / 2 : -(distance / 2);
  for (int64_t i = 0; i < frames; ++i, p += stride) {
    clipped |= Scale<S>(p, v);
    v += q;
    err += r;
    if (err >= distance) {
      ++v;
      err -= distance;
    } else if (err <= -distance) {
      --v;
      err += distance;
    }
  }
  return static_cast<int32_t>(v);
}

template <class S>
bool VolumeFade(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list) {
  if (data == nullptr || bytes <= 0 || pwfx->nChannels < 1 || pwfx->nChannels > 2) return false;
  const bool stereo = pwfx->nChannels == 2;
  const int frame = S::kBytes * pwfx->nChannels;
  auto* p = static_cast<uint8_t*>(data);
  bool clipped = false;
  int32_t index = std::max(list.LocateFadePoint(list.CurPosition) - 1, 0);
  while (bytes > 0 && index < list.Count()) {
    const TMMFadePoint& point = list[index];
    const int64_t n = std::min(bytes, point.Position - list.CurPosition);
    if (n > 0) {
      const int64_t frames = n / frame;
      const int64_t distance = std::max<int64_t>((point.Position - list.CurPosition) / frame, 1);
      const bool silent_from = index > 0 ? list[index - 1].Volume == 0
                                         : list.CurLeftVolume == 0 && list.CurRightVolume == 0;
      if (point.Volume == 0 && silent_from) {
        std::memset(p, S::kSilence, static_cast<size_t>(n));
        list.CurLeftVolume = list.CurRightVolume = 0;
      } else {
        list.CurLeftVolume = RampChannel<S>(p, frame, frames, distance, list.CurLeftVolume,
                                            point.LeftVolume, clipped);
        // Mono data follows the left volumes only.
        list.CurRightVolume = stereo
                                  ? RampChannel<S>(p + S::kBytes, frame, frames, distance,
                                                   list.CurRightVolume, point.RightVolume, clipped)
                                  : list.CurLeftVolume;
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
  return clipped;
}

}  // namespace

bool pcmVolumeFade8(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list) {
  return VolumeFade<Sample8>(pwfx, data, bytes, list);
}

bool pcmVolumeFade16(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list) {
  return VolumeFade<Sample16>(pwfx, data, bytes, list);
}

bool pcmVolumeFade(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list) {
  if (pwfx == nullptr || pwfx->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (pwfx->wBitsPerSample == 8) return pcmVolumeFade8(pwfx, data, bytes, list);
  if (pwfx->wBitsPerSample == 16) return pcmVolumeFade16(pwfx, data, bytes, list);
  return false;
}
