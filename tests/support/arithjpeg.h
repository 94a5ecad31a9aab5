#pragma once
// Arithmetic-coded JPEG pictures made by libjpeg, and hostile ones made from them: a few hundred
// bytes whose frame header claims a huge picture and whose data ends early at an end marker.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace vant::testing {

// A 16 x 16 picture of noise coded arithmetically by libjpeg (sequential or progressive).
inline std::vector<uint8_t> ArithmeticJpeg(bool progressive) {
  jpeg_compress_struct c;
  jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = c.image_height = 16;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  c.arith_code = TRUE;
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  uint8_t row[16 * 3];
  uint32_t seed = 7;
  while (c.next_scanline < c.image_height) {
    for (uint8_t& b : row) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    JSAMPROW rows[] = {row};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> jpeg(out, out + size);
  std::free(out);
  jpeg_destroy_compress(&c);
  return jpeg;
}

// The picture's frame header made to claim `side` x `side` pixels and its first scan cut after
// `kept` bytes of data, where an end-of-image marker follows.
inline std::vector<uint8_t> ClaimAndCut(std::vector<uint8_t> jpeg, uint16_t side, size_t kept) {
  for (size_t i = 0; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC9 || jpeg[i + 1] == 0xCA)) {
      jpeg[i + 5] = jpeg[i + 7] = uint8_t(side >> 8);
      jpeg[i + 6] = jpeg[i + 8] = uint8_t(side);
      break;
    }
  }
  for (size_t i = 0; i + 4 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
      jpeg.resize(i + 2 + size_t(jpeg[i + 2] << 8 | jpeg[i + 3]) + kept);
      jpeg.insert(jpeg.end(), {0xFF, 0xD9});
      break;
    }
  }
  return jpeg;
}

}  // namespace vant::testing
