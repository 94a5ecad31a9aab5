#include "mmantex.h"

#include <algorithm>
#include <array>
#include <cstring>
#include "mmsample16.h"

namespace {

using DiffTable = TADPCMDiffTable;

constexpr DiffTable MakeDVI() {
  DiffTable t{};
  for (int i = 0; i < 89; ++i)
    for (int m = 0; m < 8; ++m) t[i][m] = std::min((2 * m + 1) * kIMAStepTable[i] / 8, 32767);
  return t;
}

// The same differences rounded to nearest, with the published rows as they stand (row 88 kept
// in full: the sums are 32-bit and clamped, so nothing needs to wrap).
constexpr DiffTable MakeIMA() {
  DiffTable t{};
  for (int i = 0; i < 89; ++i)
    for (int m = 0; m < 8; ++m) t[i][m] = ((2 * m + 1) * kIMAStepTable[i] + 4) / 8;
  t[0] = {0, 2, 4, 6, 8, 10, 12, 13};
  t[1] = {1, 3, 5, 7, 9, 11, 13, 15};
  t[8] = {1, 5, 9, 13, 17, 21, 25, 29};
  t[88] = {4096, 12288, 20479, 28671, 36863, 45055, 53246, 61438};
  return t;
}

constexpr int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// The step index after a code of magnitude m, already held within 0 ... 88.
constexpr std::array<std::array<uint8_t, 8>, 89> MakeNextIndex() {
  std::array<std::array<uint8_t, 8>, 89> t{};
  for (int i = 0; i < 89; ++i)
    for (int m = 0; m < 8; ++m)
      t[i][m] = static_cast<uint8_t>(std::clamp(i + kIndexAdjust[m], 0, 88));
  return t;
}
constexpr auto kNextIndex = MakeNextIndex();

using vant::sample::Load16;
using vant::sample::Store16;

// The working copy of one channel's state.
struct Channel {
  int code, index, predicted;
  explicit Channel(const TIMAChannel& c)
      : code(c.LastCode), index(std::clamp<int>(c.StepIndex, 0, 88)), predicted(c.Predicted) {}
  void Save(TIMAChannel& c) const {
    c.LastCode = static_cast<int16_t>(code);
    c.StepIndex = static_cast<int16_t>(index);
    c.Predicted = static_cast<int16_t>(predicted);
  }
  int Decode(const DiffTable& t, int c) {
    const int d = t[index][c & 7];
    const int p = predicted + ((c & 8) ? -d : d);
    predicted = p < -32768 ? -32768 : p > 32767 ? 32767 : p;
    index = kNextIndex[index][c & 7];
    code = c;
    return predicted;
  }
  int Encode(const DiffTable& t, int sample) {
    Decode(t, code);
    int e = sample - predicted;
    int c = 0;
    if (e < 0) {
      c = 8;
      e = -e;
    }
    int s = kIMAStepTable[index];
    if (e >= s) {
      c |= 4;
      e -= s;
    }
    s >>= 1;
    if (e >= s) {
      c |= 2;
      e -= s;
    }
    s >>= 1;
    if (e >= s) c |= 1;
    code = c;
    return c;
  }
};

int64_t DecodeMono(const DiffTable& t, const void* source, void* target, int64_t count,
                   TIMA_PARAMS& state) {
  if (count <= 0) return 0;
  Channel a(state.Channel[0]);
  const auto* src = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(target);
  for (int64_t i = 0; i < count; ++i) {
    Store16(out, a.Decode(t, src[i] >> 4));
    Store16(out + 2, a.Decode(t, src[i] & 15));
    out += 4;
  }
  a.Save(state.Channel[0]);
  return count * 4;
}

// One stereo frame per byte; the byte for position i comes from byteAt(i).
template <class ByteAt>
int64_t DecodeStereo(const DiffTable& t, bool firstLow, int64_t count, void* target,
                     TIMA_PARAMS& state, ByteAt byteAt) {
  if (count <= 0) return 0;
  Channel a(state.Channel[0]), b(state.Channel[1]);
  auto* out = static_cast<uint8_t*>(target);
  for (int64_t i = 0; i < count; ++i) {
    const int v = byteAt(i);
    const int lo = v & 15, hi = v >> 4;
    Store16(out, a.Decode(t, firstLow ? lo : hi));
    Store16(out + 2, b.Decode(t, firstLow ? hi : lo));
    out += 4;
  }
  a.Save(state.Channel[0]);
  b.Save(state.Channel[1]);
  return count * 4;
}

// Writes what DecodeStereo reads with the same nibble order and byte placement.
template <class ByteAt>
int64_t EncodeStereo(const DiffTable& t, bool firstLow, const void* source, int64_t count,
                     TIMA_PARAMS& state, ByteAt byteAt) {
  if (count <= 0) return 0;
  Channel a(state.Channel[0]), b(state.Channel[1]);
  const auto* src = static_cast<const uint8_t*>(source);
  const int64_t frames = count / 4;
  for (int64_t i = 0; i < frames; ++i) {
    const int first = a.Encode(t, Load16(src + 4 * i));
    const int second = b.Encode(t, Load16(src + 4 * i + 2));
    byteAt(i, frames) = static_cast<uint8_t>(firstLow ? second << 4 | first : first << 4 | second);
  }
  a.Save(state.Channel[0]);
  b.Save(state.Channel[1]);
  return frames;
}

}  // namespace

const TADPCMDiffTable kIMADiffTable = MakeIMA();
const TADPCMDiffTable kDVIDiffTable = MakeDVI();

int64_t WMIMATOPCM(const void* source, void* target, int64_t count, TIMA_PARAMS& state) {
  return DecodeMono(kIMADiffTable, source, target, count, state);
}
int64_t WMDVITOPCM(const void* source, void* target, int64_t count, TIMA_PARAMS& state) {
  return DecodeMono(kDVIDiffTable, source, target, count, state);
}
int64_t WSIMATOPCM(const void* source, void* target, int64_t count, TIMA_PARAMS& state) {
  const auto* src = static_cast<const uint8_t*>(source);
  return DecodeStereo(kIMADiffTable, true, count, target, state,
                      [src](int64_t i) { return src[i]; });
}
int64_t WSDVITOPCM(const void* source, void* target, int64_t count, TIMA_PARAMS& state) {
  const auto* src = static_cast<const uint8_t*>(source);
  // A last unpaired byte stays where it is.
  return DecodeStereo(kDVIDiffTable, false, count, target, state, [src, count](int64_t i) {
    const int64_t j = i ^ 1;
    return src[j < count ? j : i];
  });
}
// The encoders write the layout their decoders read: IMA the first channel in the low nibble;
// DVI the first channel in the high nibble, the bytes in swapped pairs.
int64_t WSPCMTOIMA(const void* source, void* target, int64_t count, TIMA_PARAMS& state) {
  auto* out = static_cast<uint8_t*>(target);
  return EncodeStereo(kIMADiffTable, true, source, count, state,
                      [out](int64_t i, int64_t) -> uint8_t& { return out[i]; });
}
int64_t WSPCMTODVI(const void* source, void* target, int64_t count, TIMA_PARAMS& state) {
  auto* out = static_cast<uint8_t*>(target);
  return EncodeStereo(kDVIDiffTable, false, source, count, state,
                      [out](int64_t i, int64_t frames) -> uint8_t& {
                        const int64_t j = i ^ 1;
                        return out[j < frames ? j : i];
                      });
}
