// The one bitmap header check and decoder: which headers pass, and what the pixels come out as
// where the two readers built on it would otherwise have to agree by themselves.
#include "bitmapdecode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using namespace vant::bitmap;

void Put(Bytes& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A header of `size` bytes (40 or more) with the given fields, followed by `after`.
Bytes Header(int64_t w, int64_t h, int bits, uint32_t compression, uint32_t colours = 0,
             uint32_t size = 40, const Bytes& after = {}) {
  Bytes b(size, 0);
  Put(b, 0, size, 4);
  Put(b, 4, uint32_t(w), 4);
  Put(b, 8, uint32_t(h), 4);
  Put(b, 12, 1, 2);
  Put(b, 14, uint32_t(bits), 2);
  Put(b, 16, compression, 4);
  Put(b, 32, colours, 4);
  b.insert(b.end(), after.begin(), after.end());
  return b;
}

TEST(BitmapFormat, HeadersPassOnlyWithWhatCanBeDecoded) {
  const Bytes masks(12, 0xFF);
  struct {
    const char* name;
    Bytes info;
    bool passes;
  } cases[] = {
      {"1 bit", Header(3, 3, 1, kRgb), true},
      {"24 bits", Header(3, 3, 24, kRgb), true},
      {"2 bits", Header(3, 3, 2, kRgb), false},
      {"0 bits", Header(3, 3, 0, kRgb), false},
      {"RLE8 of 8 bits", Header(3, 3, 8, kRle8), true},
      {"RLE8 of 4 bits", Header(3, 3, 4, kRle8), false},
      {"RLE4 of 4 bits, top-down", Header(3, -3, 4, kRle4), true},
      {"RLE4 of 8 bits", Header(3, 3, 8, kRle4), false},
      {"bit fields of 16 bits", Header(3, 3, 16, kBitFields, 0, 40, masks), true},
      {"bit fields of 24 bits", Header(3, 3, 24, kBitFields, 0, 40, masks), false},
      {"bit fields, masks cut", Header(3, 3, 16, kBitFields, 0, 40, Bytes(8, 0xFF)), false},
      {"bit fields in a 108-byte header", Header(3, 3, 32, kBitFields, 0, 108), true},
      {"alpha bit fields want four masks", Header(3, 3, 32, kAlphaBitFields, 0, 40, masks), false},
      {"compression 4", Header(3, 3, 24, 4), false},
      {"256 colours", Header(3, 3, 8, kRgb, 256), true},
      {"257 colours", Header(3, 3, 8, kRgb, 257), false},
      {"header of 39 bytes", Header(3, 3, 8, kRgb, 0, 39), false},
      {"header of 1,025 bytes", Header(3, 3, 8, kRgb, 0, 1025), false},
      {"negative width", Header(-3, 3, 8, kRgb), false},
      {"height INT32_MIN", Header(0, std::numeric_limits<int32_t>::min(), 8, kRgb), false},
      {"no pixels", Header(0, 5, 8, kRgb), true},
      {"2^28 pixels", Header(16384, -16384, 1, kRgb), true},
      {"2^28 + 16,384 pixels", Header(16384, 16385, 1, kRgb), false},
      {"2^31 - 1 x 2^31 - 1", Header(0x7FFFFFFF, 0x7FFFFFFF, 8, kRle8), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadFormat(c.info).has_value(), c.passes) << c.name;
  }
  // A core header: 16-bit sizes, no compression, 3-byte colours.
  Bytes core = {12, 0, 0, 0, 0x10, 0x27, 2, 0, 1, 0, 8, 0};
  const auto f = ReadFormat(core);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->width, 10000);
  EXPECT_EQ(f->rows, 2);
  EXPECT_EQ(f->EntryBytes(), 3);
  EXPECT_EQ(f->TableEnd(), 12 + 3 * 256);
  core[10] = 16;
  EXPECT_FALSE(ReadFormat(core));
}

TEST(BitmapPixels, ChannelsColoursAndRefusals) {
  std::vector<uint32_t> p;
  // 5-5-5: channels of 31, 16 and 3 are 255, 132 (255 x 16 / 31 = 131.6) and 25 (24.7).
  const Bytes rgb555 = Header(1, 1, 16, kRgb);
  ASSERT_TRUE(DecodePixels(*ReadFormat(rgb555), rgb555, Bytes{0x03, 0x7E, 0, 0}, false, p));
  EXPECT_EQ(p, (std::vector<uint32_t>{0xFFFF8419}));
  // 32 bits: the alpha byte kept or made opaque.
  const Bytes argb = Header(1, 1, 32, kRgb);
  ASSERT_TRUE(DecodePixels(*ReadFormat(argb), argb, Bytes{1, 2, 3, 0x40}, true, p));
  EXPECT_EQ(p, (std::vector<uint32_t>{0x40030201}));
  ASSERT_TRUE(DecodePixels(*ReadFormat(argb), argb, Bytes{1, 2, 3, 0x40}, false, p));
  EXPECT_EQ(p, (std::vector<uint32_t>{0xFF030201}));
  // 4 bits with two colours announced: an index past them is black.
  const Bytes four = Header(2, 1, 4, kRgb, 2, 40, {10, 20, 30, 0, 40, 50, 60, 0});
  ASSERT_TRUE(DecodePixels(*ReadFormat(four), four, Bytes{0x15, 0, 0, 0}, false, p));
  EXPECT_EQ(p, (std::vector<uint32_t>{0xFF3C3228, 0xFF000000}));
  // The colour table cut, a row missing, run-length data without a single code.
  EXPECT_FALSE(DecodePixels(*ReadFormat(four), Bytes(four.begin(), four.end() - 1),
                            Bytes{0x15, 0, 0, 0}, false, p));
  const Bytes rows = Header(2, 2, 24, kRgb);
  EXPECT_FALSE(DecodePixels(*ReadFormat(rows), rows, Bytes(15, 0), false, p));
  const Bytes rle = Header(2, 2, 8, kRle8, 1, 40, {0, 0, 0, 0});
  EXPECT_FALSE(DecodePixels(*ReadFormat(rle), rle, Bytes{0}, false, p));
  EXPECT_TRUE(p.empty());
}

}  // namespace
