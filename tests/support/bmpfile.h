#pragma once
// Whole bitmap files built field by field (file header, 40-byte header, colour table, pixels),
// for the picture readers' tests, benchmarks and fuzzers.
#include <cstdint>
#include <vector>

namespace vant::testing {

inline void PutLe32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// `table` holds 4-byte entries (B, G, R, 0); `pixels` the rows or run-length codes.
inline std::vector<uint8_t> BitmapFile(int32_t w, int32_t h, int bits, uint32_t compression,
                                       const std::vector<uint8_t>& table,
                                       const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> b = {'B', 'M'};
  const uint32_t offBits = uint32_t(14 + 40 + table.size());
  PutLe32(b, uint32_t(offBits + pixels.size()));
  PutLe32(b, 0);
  PutLe32(b, offBits);
  PutLe32(b, 40);
  PutLe32(b, uint32_t(w));
  PutLe32(b, uint32_t(h));
  b.insert(b.end(), {1, 0, uint8_t(bits), 0});
  PutLe32(b, compression);
  PutLe32(b, compression == 1 || compression == 2 ? uint32_t(pixels.size()) : 0);
  PutLe32(b, 2835);
  PutLe32(b, 2835);
  PutLe32(b, uint32_t(table.size() / 4));
  PutLe32(b, 0);
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// A 16 x 16 run-length picture of `size` bytes whose codes are runs of 255 pixels of colour 7
// that never end their row (a hostile file: the runs go far past the right edge).
inline std::vector<uint8_t> EndlessRunFile(size_t size) {
  std::vector<uint8_t> table;
  for (int i = 0; i < 256; ++i) table.insert(table.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
  std::vector<uint8_t> file = BitmapFile(16, 16, 8, 1, table, {});
  const size_t codesAt = file.size();
  file.resize(codesAt + (size - codesAt) / 2 * 2);
  for (size_t i = codesAt; i < file.size(); i += 2) file[i] = 0xFF, file[i + 1] = 0x07;
  const uint32_t codes = uint32_t(file.size() - codesAt);
  for (int i = 0; i < 4; ++i) file[34 + i] = uint8_t(codes >> (8 * i));  // the header's image size
  return file;
}

}  // namespace vant::testing
