#pragma once
// A chain source for the converter tests: serves a byte block in pulls of at most a given
// piece, optionally wrapping to its start and marking the header as looped, as a file reader
// does.
#include <algorithm>
#include <cstring>
#include <vector>

#include "mmdspcomponent.h"
#include "mmwavefmt.h"

class MemorySource : public TMMDSPComponent {
 public:
  MemorySource(const WAVEFORMATEX* format, std::vector<uint8_t> data, uint32_t piece)
      : TMMDSPComponent(nullptr), data_(std::move(data)), piece_(piece) {
    PublishLinks(false, true);
    SetPWaveFormat(format);
  }
  // Wrap once at the end (a loop of two passes).
  bool Loop = false;
  int Pulls = 0;

  void BufferLoad(PMMWaveHdr h, bool& more) override {
    ++Pulls;
    uint32_t room = std::min(h->wh.dwBufferLength - h->wh.dwBytesRecorded, piece_);
    while (room > 0) {
      if (pos_ == data_.size()) {
        if (!Loop || wrapped_) break;
        wrapped_ = true;
        pos_ = 0;
        h->LoopRec.dwLooped = -1;
      }
      const uint32_t n = std::min<uint32_t>(room, uint32_t(data_.size() - pos_));
      std::memcpy(h->wh.lpData + h->wh.dwBytesRecorded, data_.data() + pos_, n);
      h->wh.dwBytesRecorded += n;
      pos_ += n;
      room -= n;
    }
    more = pos_ < data_.size() || (Loop && !wrapped_);
  }

 private:
  std::vector<uint8_t> data_;
  uint32_t piece_;
  size_t pos_ = 0;
  bool wrapped_ = false;
};

// Opens and starts the stages in chain order, pulls the last one dry in buffers of `size`
// bytes, and gives everything it produced; looped tells whether a header came back marked.
inline std::vector<uint8_t> PullAll(std::vector<TMMDSPComponent*> chain, uint32_t size,
                                    bool* looped = nullptr) {
  for (auto* c : chain) c->Opened();
  for (auto* c : chain) c->Started();
  std::vector<uint8_t> out, buf(size);
  for (int guard = 0; guard < 100000; ++guard) {
    TMMWaveHdr h{};
    h.wh.lpData = reinterpret_cast<char*>(buf.data());
    h.wh.dwBufferLength = size;
    bool more = false;
    chain.back()->BufferLoad(&h, more);
    out.insert(out.end(), buf.begin(), buf.begin() + h.wh.dwBytesRecorded);
    if (h.LoopRec.dwLooped && looped) *looped = true;
    if (!more && h.wh.dwBytesRecorded == 0) break;
  }
  for (auto* c : chain) c->Stopped();
  for (auto* c : chain) c->Closed();
  return out;
}
