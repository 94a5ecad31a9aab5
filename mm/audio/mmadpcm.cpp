#include "mmadpcm.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mmpcmsup.h"
#include "mmsample16.h"

const int16_t kADPCMAdaptTable[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                      768, 614, 512, 409, 307, 230, 230, 230};
const TADPCMCoefSet kADPCMStandardCoef[kADPCMNumCoef] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

namespace {

using vant::sample::Load16;
using vant::sample::Store16;
inline int Clamp16(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, -32768, 32767)); }

const TADPCMWaveFormat* AsADPCM(const WAVEFORMATEX* p) {
  return reinterpret_cast<const TADPCMWaveFormat*>(p);
}

struct ChannelState {
  int coef1 = 0, coef2 = 0, delta = 0, sample1 = 0, sample2 = 0;
  // One code: the new sample, with the step adapted.
  int Step(int code) {
    const int predicted = Clamp16(((int64_t{sample1} * coef1 + int64_t{sample2} * coef2) >> 8) +
                                  int64_t{code} * delta);
    delta = std::max(16, (kADPCMAdaptTable[code & 15] * delta) >> 8);
    sample2 = sample1;
    sample1 = predicted;
    return predicted;
  }
};

}  // namespace

bool adpcmIsValidFormat(const WAVEFORMATEX* pwfx) {
  if (pwfx == nullptr || pwfx->wFormatTag != WAVE_FORMAT_ADPCM || pwfx->wBitsPerSample != 4 ||
      pwfx->nChannels < 1 || pwfx->nChannels > 4 || pwfx->cbSize < 32)
    return false;
  const TADPCMWaveFormat* f = AsADPCM(pwfx);
  if (f->wNumCoef != kADPCMNumCoef) return false;
  return std::memcmp(f->aCoef, kADPCMStandardCoef, sizeof kADPCMStandardCoef) == 0;
}

void adpcmFillFormat(TADPCMWaveFormat& f, int rate, int channels) {
  std::memset(&f, 0, sizeof f);
  int align = 256 * channels;
  if (rate > 11025) align *= rate / 11000;
  const int x = channels * 4 * rate / 8;
  f.wfx.wFormatTag = WAVE_FORMAT_ADPCM;
  f.wfx.nChannels = static_cast<uint16_t>(channels);
  f.wfx.nSamplesPerSec = static_cast<uint32_t>(rate);
  f.wfx.nBlockAlign = static_cast<uint16_t>(align);
  f.wfx.nAvgBytesPerSec = static_cast<uint32_t>(x + 7 * channels * (x / align + 1));
  f.wfx.wBitsPerSample = 4;
  f.wfx.cbSize = 32;
  f.wSamplesPerBlock = static_cast<uint16_t>((align - 7 * channels) * 8 / (channels * 4) + 2);
  f.wNumCoef = kADPCMNumCoef;
  std::memcpy(f.aCoef, kADPCMStandardCoef, sizeof kADPCMStandardCoef);
}

bool adpcmBuildFormatHeader(const WAVEFORMATEX* source, WAVEFORMATEX* target, int bits, int rate,
                            int channels) {
  if (source == nullptr || target == nullptr) return false;
  if (rate < 1) rate = static_cast<int>(source->nSamplesPerSec);
  if (channels < 1) channels = source->nChannels;
  if (pcmIsValidFormat(source)) {
    adpcmFillFormat(*reinterpret_cast<TADPCMWaveFormat*>(target), rate, channels);
    return true;
  }
  if (adpcmIsValidFormat(source)) {
    pcmBuildWaveHeader(*target, bits < 1 ? 16 : bits, channels, rate);
    return true;
  }
  return false;
}

int64_t adpcmDecode4Bit(const WAVEFORMATEX* adpcm, const WAVEFORMATEX* pcm, const void* source,
                        int64_t sourceBytes, void* target) {
  if (adpcm == nullptr || pcm == nullptr || source == nullptr || target == nullptr ||
      sourceBytes <= 0 || adpcm->cbSize < 4)
    return 0;
  const TADPCMWaveFormat* f = AsADPCM(adpcm);
  const int ch = adpcm->nChannels;
  const int64_t align = adpcm->nBlockAlign;
  // The coefficient pairs the record really carries.
  const int numCoef = std::min<int>(f->wNumCoef, (adpcm->cbSize - 4) / 4);
  if (ch < 1 || align < 7 * ch) return 0;
  const bool eight = pcm->wBitsPerSample == 8;
  const auto* src = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(target);
  int64_t frames = 0;
  auto put = [&](int v) {
    if (eight) {
      *out++ = static_cast<uint8_t>(v / 256 + 128);
    } else {
      Store16(out, v);
      out += 2;
    }
  };
  ChannelState st[4];
  for (int64_t pos = 0; pos < sourceBytes; pos += align) {
    const int64_t blockBytes = std::min(align, sourceBytes - pos);
    if (blockBytes < 7 * ch) break;
    const uint8_t* p = src + pos;
    for (int c = 0; c < ch; ++c) {
      const int pred = p[c];
      if (pred >= numCoef) return 0;
      st[c].coef1 = f->aCoef[pred].iCoef1;
      st[c].coef2 = f->aCoef[pred].iCoef2;
      st[c].delta = Load16(p + ch + 2 * c);
      st[c].sample1 = Load16(p + 3 * ch + 2 * c);
      st[c].sample2 = Load16(p + 5 * ch + 2 * c);
    }
    for (int c = 0; c < ch; ++c) put(st[c].sample2);
    for (int c = 0; c < ch; ++c) put(st[c].sample1);
    frames += 2;
    const uint8_t* codes = p + 7 * ch;
    const uint8_t* end = p + blockBytes;
    bool high = true;
    for (int i = 2; i < f->wSamplesPerBlock; ++i) {
      for (int c = 0; c < ch; ++c) {
        if (codes == end) goto block_done;
        int code = high ? (*codes >> 4) : (*codes & 15);
        if (!high) ++codes;
        high = !high;
        if (code & 8) code -= 16;
        put(st[c].Step(code));
      }
      ++frames;
    }
  block_done:;
  }
  return frames * ch * (eight ? 1 : 2);
}

namespace {

// Encodes one channel of a block with one coefficient pair; the accumulated error, with the
// codes stored when codes is not nil (two per byte, interleaved with the other channels).
int64_t EncodeChannel(const std::vector<int>& x, int coef, int& firstDelta, int channels, int c,
                      uint8_t* codes) {
  ChannelState s;
  s.coef1 = kADPCMStandardCoef[coef].iCoef1;
  s.coef2 = kADPCMStandardCoef[coef].iCoef2;
  const int n = static_cast<int>(x.size());
  // The starting step from how badly this pair predicts the first few samples.
  int64_t err = 0;
  {
    int s1 = x[1], s2 = x[0];
    for (int k = 2; k < std::min(n, 5); ++k) {
      const int pred = static_cast<int>((int64_t{s1} * s.coef1 + int64_t{s2} * s.coef2) >> 8);
      err += std::abs(x[k] - pred);
      s2 = s1;
      s1 = x[k];
    }
  }
  s.delta = std::max<int>(16, static_cast<int>(err / 12));
  firstDelta = s.delta;
  s.sample1 = x[1];
  s.sample2 = x[0];
  int64_t total = 0;
  for (int k = 2; k < n; ++k) {
    const int pred = Clamp16((int64_t{s.sample1} * s.coef1 + int64_t{s.sample2} * s.coef2) >> 8);
    const int code = std::clamp((x[k] - pred) / s.delta, -8, 7);
    const int got = s.Step(code);
    total += std::abs(x[k] - got);
    if (codes) {
      const int64_t nibble = int64_t{k - 2} * channels + c;
      uint8_t& b = codes[nibble / 2];
      b = (nibble & 1) ? static_cast<uint8_t>((b & 0xF0) | (code & 15))
                       : static_cast<uint8_t>((b & 0x0F) | ((code & 15) << 4));
    }
  }
  return total;
}

}  // namespace

int64_t adpcmEncode4Bit(const WAVEFORMATEX* pcm, const WAVEFORMATEX* adpcm, const void* source,
                        int64_t sourceBytes, void* target) {
  if (!pcmIsValidFormat(pcm) || !adpcmIsValidFormat(adpcm) || source == nullptr ||
      target == nullptr || sourceBytes <= 0 || pcm->nChannels != adpcm->nChannels)
    return 0;
  const TADPCMWaveFormat* f = AsADPCM(adpcm);
  const int ch = pcm->nChannels;
  const int spb = f->wSamplesPerBlock;
  const int align = adpcm->nBlockAlign;
  // The block must hold its header and its codes.
  if (spb < 2 || 7 * ch + ((spb - 2) * ch + 1) / 2 > align) return 0;
  const bool eight = pcm->wBitsPerSample == 8;
  const int frameBytes = pcm->nBlockAlign;
  const auto* src = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(target);
  const int64_t totalFrames = sourceBytes / frameBytes;
  int64_t written = 0;
  std::vector<int> x;
  for (int64_t first = 0; first < totalFrames; first += spb) {
    const int n = static_cast<int>(std::min<int64_t>(spb, totalFrames - first));
    uint8_t* block = out + written;
    const int blockBytes = 7 * ch + ((std::max(n, 2) - 2) * ch + 1) / 2;
    std::memset(block, 0, static_cast<size_t>(blockBytes));
    for (int c = 0; c < ch; ++c) {
      x.assign(static_cast<size_t>(std::max(n, 2)), 0);
      for (int k = 0; k < n; ++k) {
        const uint8_t* p = src + (first + k) * frameBytes + c * (eight ? 1 : 2);
        x[k] = eight ? int{*p} * 256 - 32768 : Load16(p);
      }
      int best = 0;
      int64_t bestErr = INT64_MAX;
      int delta = 16;
      for (int coef = 0; coef < kADPCMNumCoef; ++coef) {
        const int64_t e = EncodeChannel(x, coef, delta, ch, c, nullptr);
        if (e < bestErr) {
          bestErr = e;
          best = coef;
        }
      }
      EncodeChannel(x, best, delta, ch, c, block + 7 * ch);
      block[c] = static_cast<uint8_t>(best);
      Store16(block + ch + 2 * c, delta);
      Store16(block + 3 * ch + 2 * c, x[1]);
      Store16(block + 5 * ch + 2 * c, x[0]);
    }
    written += blockBytes;
  }
  return written;
}
