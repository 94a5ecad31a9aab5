#pragma once
// One chain buffer with its header, pulled by hand as a device would pull it.
#include <cstring>
#include <vector>

#include "mmdspcomponent.h"

struct ChainBuffer {
  explicit ChainBuffer(uint32_t size) : data(size, char(0x55)) {
    std::memset(&hdr, 0, sizeof hdr);
    hdr.wh.lpData = data.data();
    hdr.wh.dwBufferLength = size;
  }
  std::vector<uint8_t> Recorded() const {
    return std::vector<uint8_t>(data.begin(), data.begin() + hdr.wh.dwBytesRecorded);
  }
  // Pulls one buffer from `c`; MoreBuffers starts false, as the device sets it.
  bool Pull(TMMDSPComponent& c) {
    bool more = false;
    hdr.wh.dwBytesRecorded = 0;
    c.BufferLoad(&hdr, more);
    return more;
  }
  std::vector<char> data;
  TMMWaveHdr hdr;
};

// Pulls buffers of `size` bytes from `c` until it has no more (at most `limit` pulls); all
// the bytes it gave. The header's loop record is `loop` on every pull.
inline std::vector<uint8_t> PullUntilDone(TMMDSPComponent& c, uint32_t size, TMMLoopRec loop = {},
                                          int limit = 1000) {
  ChainBuffer b(size);
  b.hdr.LoopRec = loop;
  std::vector<uint8_t> all;
  for (bool more = true; more && limit-- > 0;) {
    more = b.Pull(c);
    const auto got = b.Recorded();
    all.insert(all.end(), got.begin(), got.end());
  }
  return all;
}
