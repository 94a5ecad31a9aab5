#pragma once
// JPEG pictures made by libjpeg's own encoder (Huffman or arithmetic coding), and hostile ones
// made from them: a few hundred bytes whose frame header claims a huge picture and whose data
// ends early at an end marker.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace vant::testing {

// A picture (`components` bytes a pixel, RGB or grey, rows from the top) coded by libjpeg: Huffman
// or arithmetic coding, sequential or progressive, with luma sampled `h` x `v` times the chroma
// (1 x 1 is 4:4:4, 2 x 1 is 4:2:2, 2 x 2 is 4:2:0).
inline std::vector<uint8_t> EncodeJpeg(int width, int height, int components,
                                       const std::vector<uint8_t>& pixels, bool arithmetic,
                                       bool progressive, int h = 2, int v = 2, int quality = 75) {
  jpeg_compress_struct c;
  jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  c.arith_code = arithmetic ? TRUE : FALSE;
  if (components == 3) {
    c.comp_info[0].h_samp_factor = h;
    c.comp_info[0].v_samp_factor = v;
  }
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW rows[] = {
        const_cast<JSAMPROW>(pixels.data() + size_t(c.next_scanline) * width * components)};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> jpeg(out, out + size);
  std::free(out);
  jpeg_destroy_compress(&c);
  return jpeg;
}

// A 16 x 16 picture of noise coded arithmetically by libjpeg (sequential or progressive).
inline std::vector<uint8_t> ArithmeticJpeg(bool progressive) {
  std::vector<uint8_t> noise(16 * 16 * 3);
  uint32_t seed = 7;
  for (uint8_t& b : noise) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
  return EncodeJpeg(16, 16, 3, noise, true, progressive);
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
