#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dibbytes.h"
#include "mmdib.h"
#include "ui_canvas.h"

// The largest block asked of the allocator while `g_watching` is set: a header refused before
// anything is allocated asks for none of the picture it claims.
namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};
}  // namespace

// Every form that the plain delete frees is replaced, so that each block comes from malloc.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  if (g_watching) {
    size_t seen = g_largest;
    while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new(size_t size) {
  if (void* p = operator new(size, std::nothrow)) return p;
  throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using Bytes = std::vector<uint8_t>;

using vant::testing::Dib;

std::vector<uint32_t> Pixels(const Bytes& dib, int32_t& w, int32_t& h) {
  std::vector<uint32_t> p;
  EXPECT_TRUE(DIB_ToPixels(dib, p, w, h));
  return p;
}

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;
// Colour table entries (B, G, R, 0): 0 red, 1 green, 2 blue, 3 white.
const Bytes kTable = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};

TEST(DibPixels, EveryDepthDecodesTopDown) {
  int32_t w, h;
  // 4 bits, bottom-up: the second memory row is the top row.
  auto p = Pixels(Dib(2, 2, 4, BI_RGB, 4, kTable, {0x01, 0, 0, 0, 0x23, 0, 0, 0}), w, h);
  EXPECT_EQ(p, (std::vector<uint32_t>{kBlue, kWhite, kRed, kGreen}));
  // 1 bit, top-down.
  p = Pixels(
      Dib(3, -1, 1, BI_RGB, 2, Bytes(kTable.begin(), kTable.begin() + 8), {0b10100000, 0, 0, 0}), w,
      h);
  EXPECT_EQ(p, (std::vector<uint32_t>{kGreen, kRed, kGreen}));
  // 16 bits 5-5-5, 24 bits, 32 bits.
  p = Pixels(Dib(2, -1, 16, BI_RGB, 0, {}, {0x00, 0x7C, 0x1F, 0x00}), w, h);
  EXPECT_EQ(p, (std::vector<uint32_t>{kRed, kBlue}));
  p = Pixels(Dib(1, 1, 24, BI_RGB, 0, {}, {255, 0, 0, 0}), w, h);
  EXPECT_EQ(p, (std::vector<uint32_t>{kBlue}));
  p = Pixels(Dib(1, 1, 32, BI_RGB, 0, {}, {0, 255, 0, 0}), w, h);
  EXPECT_EQ(p, (std::vector<uint32_t>{kGreen}));
  // Bit fields: 5-6-5.
  Bytes masks = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  p = Pixels(Dib(1, 1, 16, BI_BITFIELDS, 3, masks, {0xE0, 0x07, 0, 0}), w, h);
  EXPECT_EQ(p, (std::vector<uint32_t>{kGreen}));
  // Run-length 8: a run of two, end of line, a literal of three (padded), end of picture; a
  // pixel no run reaches keeps index 0.
  p = Pixels(Dib(3, -2, 8, BI_RLE8, 4, kTable, {2, 3, 0, 0, 0, 3, 0, 1, 2, 0, 0, 1}), w, h);
  EXPECT_EQ(p, (std::vector<uint32_t>{kWhite, kWhite, kRed, kRed, kGreen, kBlue}));
  // Run-length 4: a run of three alternating nibbles.
  p = Pixels(Dib(3, -1, 4, BI_RLE4, 4, kTable, {3, 0x12, 0, 1}), w, h);
  EXPECT_EQ(p, (std::vector<uint32_t>{kGreen, kBlue, kGreen}));

  // Fewer pixel bytes than the rows need, or a compression the bits cannot have.
  std::vector<uint32_t> none;
  EXPECT_FALSE(DIB_ToPixels(Dib(4, 4, 24, BI_RGB, 0, {}, Bytes(20, 0)), none, w, h));
  EXPECT_FALSE(DIB_ToPixels(Dib(4, 4, 24, BI_RLE8, 0, {}, Bytes(64, 0)), none, w, h));
  EXPECT_TRUE(none.empty());
}

// End-of-line, delta and end-of-picture codes reach any number of pixels: a picture claiming far
// more pixels than its few codes write is valid, and what no code reaches keeps index 0.
TEST(DibPixels, RunLengthPicturesDecodeHoweverFarTheirCodesReach) {
  const Bytes table = {0, 0, 0, 0, 0, 0, 255, 0};  // 0 black, 1 red
  constexpr uint32_t kBlack = 0xFF000000;
  // 600 x 600: one red bottom row in three runs, an end of line for each other row, the end.
  Bytes codes = {255, 1, 255, 1, 90, 1};
  for (int i = 0; i < 600; ++i) codes.insert(codes.end(), {0, 0});
  codes.insert(codes.end(), {0, 1});
  // In 4 bits each run starts again on its first nibble.
  // A delta far into the picture and a run there; a run past the right edge is cut off there.
  const Bytes delta = {0, 2, 200, 250, 3, 1, 0, 0, 0, 2, 150, 0, 255, 1, 0, 1};
  // Codes that write one pixel and then only walk on (deltas of 255 columns, ends of lines).
  Bytes walk = {4, 1, 0, 0};
  while (walk.size() < 22) walk.insert(walk.end(), {0, 2, 0, 255});
  struct {
    const char* name;
    int32_t w, h;
    int bits;
    uint32_t compression;
    Bytes codes;
    std::vector<std::pair<int64_t, uint32_t>> red;  // display offsets of red pixels (else black)
    int reds;
  } cases[] = {
      {"600 x 600, one red row",
       600,
       600,
       8,
       BI_RLE8,
       codes,
       {{599 * 600, kRed}, {600 * 600 - 1, kRed}},
       600},
      {"the same at 300 x 300", 300, 300, 8, BI_RLE8, codes, {{299 * 300, kRed}}, 300},
      {"4-bit, 600 x 600",
       600,
       600,
       4,
       BI_RLE4,
       codes,
       {{599 * 600, kBlack}, {599 * 600 + 1, kRed}},
       127 + 127 + 45},
      {"a delta, then a run cut at the edge",
       300,
       300,
       8,
       BI_RLE8,
       delta,
       {{(299 - 250) * 300 + 200, kRed},
        {(299 - 250) * 300 + 202, kRed},
        {(299 - 251) * 300 + 150, kRed},
        {(299 - 251) * 300 + 299, kRed}},
       3 + 150},
      {"4 x 3,276,880 from 22 bytes", 4, 3276880, 8, BI_RLE8, walk, {{3276879 * 4, kRed}}, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes dib = Dib(c.w, c.h, c.bits, c.compression, 2, table, c.codes);
    std::vector<uint32_t> p;
    int32_t w = -1, h = -1;
    ASSERT_TRUE(DIB_ToPixels(dib, p, w, h));
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(h, c.h);
    ASSERT_EQ(p.size(), size_t(c.w) * size_t(c.h));
    for (const auto& [at, colour] : c.red) EXPECT_EQ(p[size_t(at)], colour) << at;
    EXPECT_EQ(std::count(p.begin(), p.end(), kRed), c.reds);
    EXPECT_EQ(std::count(p.begin(), p.end(), kBlack), int64_t(p.size()) - c.reds);
  }
  // Without a single code there is no picture.
  std::vector<uint32_t> none;
  int32_t w, h;
  EXPECT_FALSE(DIB_ToPixels(Dib(1, 1, 8, BI_RLE8, 2, table, {}), none, w, h));
}

// Uncompressed pictures of any size up to 2^28 pixels decode; one pixel more is refused before
// the picture is allocated, whatever its compression.
TEST(DibPixels, PicturesUpToThePixelLimitDecode) {
  struct {
    int32_t w, h;
  } sizes[] = {{5000, 3400}, {4096, 4098}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(testing::Message() << s.w << " x " << s.h);
    // Blue is x, green y, red x + y (each modulo 256), rows stored from the bottom.
    const size_t stride = (size_t(s.w) * 3 + 3) / 4 * 4;
    Bytes rows(stride * size_t(s.h));
    for (int32_t r = 0; r < s.h; ++r) {
      const int32_t y = s.h - 1 - r;
      for (int32_t x = 0; x < s.w; ++x) {
        uint8_t* p = &rows[stride * size_t(r) + 3 * size_t(x)];
        p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(x + y);
      }
    }
    std::vector<uint32_t> p;
    int32_t w = 0, h = 0;
    ASSERT_TRUE(DIB_ToPixels(Dib(s.w, s.h, 24, BI_RGB, 0, {}, rows), p, w, h));
    ASSERT_EQ(w, s.w);
    ASSERT_EQ(h, s.h);
    for (const auto& [x, y] : {std::pair{0, 0},
                               {s.w - 1, 0},
                               {0, s.h - 1},
                               {s.w - 1, s.h - 1},
                               {1234, 2345},
                               {s.w / 2, s.h / 3}}) {
      const uint32_t want =
          0xFF000000u | uint32_t(uint8_t(x + y)) << 16 | uint32_t(uint8_t(y)) << 8 | uint8_t(x);
      EXPECT_EQ(p[size_t(y) * size_t(w) + size_t(x)], want) << x << ", " << y;
    }
  }
  struct {
    int32_t w, h;
    int bits;
    uint32_t compression;
  } over[] = {{16385, 16384, 1, BI_RGB}, {16384, -16385, 8, BI_RLE8}, {1, 268435457, 4, BI_RLE4}};
  for (const auto& o : over) {
    SCOPED_TRACE(testing::Message() << o.w << " x " << o.h << ", " << o.bits << " bits");
    std::vector<uint32_t> p;
    int32_t w = -1, h = -1;
    g_largest = 0;
    g_watching = true;
    const bool decoded = DIB_ToPixels(
        Dib(o.w, o.h, o.bits, o.compression, 2, {0, 0, 0, 0, 255, 255, 255, 0}, Bytes(64, 0)), p, w,
        h);
    g_watching = false;
    EXPECT_FALSE(decoded);
    EXPECT_LT(g_largest.load(), 4096u);
  }
}

TEST(DibPixels, BitCountsNoDecoderHasAreRefusedBeforeAnythingIsAllocated) {
  struct {
    int bits;
    uint32_t compression;
  } cases[] = {{0, BI_RGB},  {2, BI_RGB},  {7, BI_RGB},  {33, BI_RGB}, {0, BI_BITFIELDS},
               {0, BI_RLE8}, {4, BI_RLE8}, {8, BI_RLE4}, {0, BI_RLE4}, {8, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, compression " << c.compression);
    // 4,096 x 4,096 claimed by a 47-byte file.
    const Bytes dib = Dib(4096, 4096, c.bits, c.compression, 0, {}, Bytes(7, 1));
    std::vector<uint32_t> p;
    int32_t w = -1, h = -1;
    g_largest = 0;
    g_watching = true;
    const bool decoded = DIB_ToPixels(dib, p, w, h);
    g_watching = false;
    EXPECT_FALSE(decoded);
    EXPECT_TRUE(p.empty());
    EXPECT_EQ(w, 0);
    EXPECT_LT(g_largest.load(), 4096u);
  }
}

TEST(DibPixels, DisplayAndBitmapRoundTrips) {
  vant::TBitmap target(4, 4);
  const Bytes dib = Dib(2, 2, 4, BI_RGB, 4, kTable, {0x01, 0, 0, 0, 0x23, 0, 0, 0});
  ASSERT_TRUE(DIB_Display(dib, target.Canvas(), vant::Rect(0, 0, 4, 4)));
  EXPECT_EQ(target.ScanLine(0)[0] | 0xFF000000, kBlue);
  EXPECT_EQ(target.ScanLine(3)[3] | 0xFF000000, kGreen);

  vant::TBitmap bitmap;
  std::optional<TLogPalette> palette;
  ASSERT_TRUE(DIB_DIBToBitmap(dib, bitmap, palette));
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->entries.size(), 4u);
  EXPECT_EQ(bitmap.Width(), 2);

  // Back to a 24-bit DIB, and to an 8-bit one whose pixels name the nearest palette entries.
  const TDIB deep = DIB_BitmapToDIB(bitmap, nullptr, 24, 1);
  int32_t w, h;
  EXPECT_EQ(Pixels(deep, w, h), (std::vector<uint32_t>{kBlue, kWhite, kRed, kGreen}));
  TLogPalette pal;
  pal.entries = {{250, 10, 10, 0}, {10, 10, 250, 0}, {240, 240, 240, 0}, {5, 250, 5, 0}};
  const TDIB indexed = DIB_BitmapToDIB(bitmap, &pal, 8, -1);
  ASSERT_FALSE(indexed.empty());
  const uint8_t* px = indexed.data() + DIB_Ptr(indexed);
  EXPECT_EQ((Bytes{px[0], px[1], px[4], px[5]}), (Bytes{1, 2, 0, 3}));
}

TEST(DibPixels, BitmapToDIBHoldsOnlyItsHeaderTableAndRows) {
  vant::TBitmap bitmap(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) bitmap.ScanLine(y)[x] = 0xFF102030u + uint32_t(x + 3 * y);
  bitmap.ScanLine(0)[0] = 0x40112233;  // top-left: alpha 0x40
  // Header, colour table (2, 16 or 256 entries; none above 8 bits), two rows padded to 4 bytes.
  struct {
    int bits;
    size_t size;
  } cases[] = {{1, 40 + 8 + 4 * 2}, {4, 40 + 64 + 4 * 2}, {8, 40 + 1024 + 4 * 2},
               {24, 40 + 12 * 2},   {32, 40 + 12 * 2},    {16, 40 + 12 * 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    const TDIB dib = DIB_BitmapToDIB(bitmap, nullptr, c.bits, 1);
    EXPECT_EQ(dib.size(), c.size);
    EXPECT_EQ(int64_t(dib.size()), DIB_Size(dib));
  }
  // 32 bits keep the alpha: the top row is the second in memory.
  const TDIB deep = DIB_BitmapToDIB(bitmap, nullptr, 32, 1);
  ASSERT_EQ(DIB_BitCount(deep), 32);
  EXPECT_EQ(Bytes(deep.begin() + 52, deep.begin() + 56), (Bytes{0x33, 0x22, 0x11, 0x40}));
  EXPECT_EQ(Bytes(deep.begin() + 40, deep.begin() + 44), (Bytes{0x33, 0x20, 0x10, 0xFF}));
}

}  // namespace
