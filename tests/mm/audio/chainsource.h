#pragma once
// A test-side head of a chain that counts the bytes pulled from it: delivers a byte vector in
// the pieces its pullers ask for.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mmdspcomponent.h"

namespace chaintest {

inline WAVEFORMATEX Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = channels * bits / 8;
  return {WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// 16-bit samples counting up from 0 (wrapping), so every output sample tells where it came from.
inline std::vector<uint8_t> Counting16(size_t samples) {
  std::vector<uint8_t> b(samples * 2);
  for (size_t i = 0; i < samples; ++i) {
    const auto v = static_cast<uint16_t>(i);
    std::memcpy(&b[2 * i], &v, 2);
  }
  return b;
}

inline int Sample16(const char* data, size_t i) {
  int16_t v;
  std::memcpy(&v, data + 2 * i, 2);
  return uint16_t(v);
}

class CountingSource : public TMMDSPComponent {
 public:
  CountingSource(std::vector<uint8_t> data, const WAVEFORMATEX& f)
      : TMMDSPComponent(nullptr), data_(std::move(data)) {
    PublishLinks(false, true);
    SetPWaveFormat(&f);
  }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    const size_t n = std::min<size_t>(h->wh.dwBufferLength, data_.size() - pos_);
    if (n > 0) std::memcpy(h->wh.lpData, data_.data() + pos_, n);
    pos_ += n;
    pulled_ += n;
    h->wh.dwBytesRecorded = static_cast<uint32_t>(n);
    more = pos_ < data_.size();
  }
  size_t Pulled() const { return pulled_; }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
  size_t pulled_ = 0;
};

// Plays a byte vector, and again from its start while the device loops, as the file components
// do: it marks the header that wrapped and counts the loops left.
class LoopingSource : public TMMDSPComponent {
 public:
  LoopingSource(std::vector<uint8_t> data, const WAVEFORMATEX& f)
      : TMMDSPComponent(nullptr), data_(std::move(data)) {
    PublishLinks(false, true);
    SetPWaveFormat(&f);
  }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    TMMLoopRec& loop = h->LoopRec;
    uint32_t filled = 0;
    while (filled < h->wh.dwBufferLength) {
      if (pos_ == data_.size()) {
        if (!LoopsLeft(loop)) break;
        pos_ = 0;
        loop.dwLooped = -1;
        if (loop.dwLoopCount != 0) --loop.dwLoopsLeft;
      }
      const size_t n = std::min<size_t>(h->wh.dwBufferLength - filled, data_.size() - pos_);
      std::memcpy(h->wh.lpData + filled, data_.data() + pos_, n);
      pos_ += n;
      filled += static_cast<uint32_t>(n);
    }
    h->wh.dwBytesRecorded = filled;
    more = pos_ < data_.size() || LoopsLeft(loop);
  }
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  static bool LoopsLeft(const TMMLoopRec& loop) {
    return loop.dwLooping && (loop.dwLoopCount == 0 || loop.dwLoopsLeft > 0);
  }
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

// A header with its own data block.
struct Header {
  explicit Header(uint32_t size) : data(size) {
    h.wh.lpData = data.data();
    h.wh.dwBufferLength = size;
  }
  TMMWaveHdr h{};
  std::vector<char> data;
};

}  // namespace chaintest
