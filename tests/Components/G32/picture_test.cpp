// The picture readers: valid pictures read as libjpeg and their run-length codes say, hostile
// files refused before the picture is allocated, or bounded by the pixel limit.
#include "g32_picture.h"

#include "arithjpeg.h"
#include "bmpfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace {
// The largest single allocation made while watching: what a reader reserved for a picture.
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};
}  // namespace

void* operator new(std::size_t n) {
  if (g_watching.load(std::memory_order_relaxed)) {
    size_t seen = g_largest.load();
    while (n > seen && !g_largest.compare_exchange_weak(seen, n)) {
    }
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
// What the replaced operator new returns comes from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using namespace g32;

std::vector<uint8_t> Seed(const std::string& name) {
  std::ifstream f(std::string(VANT_SOURCE_DIR) + "/tests/fixtures/fuzz/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

TEST(PictureReaders, TinyFilesDeclaringHugePicturesAreRefusedUpFront) {
  struct Case {
    const char* seed;
    TDecodedPicture (*read)(std::span<const uint8_t>);
  } cases[] = {
      {"fuzz_g32_bmp/huge-nobits.bmp", ReadBMP},           // no bits per pixel: rows of 0 bytes
      {"fuzz_g32_bmp/huge-jpegcompression.bmp", ReadBMP},  // a compression we do not read
      {"fuzz_g32_jpeg/huge-cut.jpg", ReadJPEG},            // the file ends inside the scan
      {"fuzz_g32_jpeg/huge-ended.jpg", ReadJPEG},          // the scan ends at end-of-image
      {"fuzz_g32_jpeg/huge-progressive.jpg", ReadJPEG},    // progressive, over the pixel limit
      {"fuzz_g32_jpeg/progressive-too-deep.jpg", ReadJPEG},  // within it, coefficients too many
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> data = Seed(c.seed);
    ASSERT_GT(data.size(), 50u) << c.seed;
    ASSERT_LT(data.size(), 400u) << c.seed;
    g_largest = 0;
    g_watching = true;
    EXPECT_THROW(c.read(data), EInvalidGraphic) << c.seed;
    g_watching = false;
    EXPECT_LT(g_largest.load(), size_t(1) << 20) << c.seed << ": allocated for the picture";
  }
}

// A JPEG as plain libjpeg decodes it: its size, its pixels as 0xFFRRGGBB and the warnings it gave.
struct Libjpeg {
  int width = 0, height = 0;
  std::vector<TColor32> pixels;
  long warnings = 0;
};
Libjpeg DecodeWithLibjpeg(const std::vector<uint8_t>& data) {
  jpeg_decompress_struct c;
  jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  e.output_message = [](j_common_ptr) {};  // warnings counted, not printed
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, data.data(), data.size());
  jpeg_read_header(&c, TRUE);
  c.out_color_space = JCS_RGB;
  jpeg_start_decompress(&c);
  Libjpeg out;
  out.width = int(c.output_width), out.height = int(c.output_height);
  std::vector<uint8_t> row(size_t(c.output_width) * 3);
  while (c.output_scanline < c.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&c, &r, 1);
    for (size_t x = 0; x < c.output_width; ++x) {
      out.pixels.push_back(0xFF000000u | uint32_t(row[3 * x]) << 16 |
                           uint32_t(row[3 * x + 1]) << 8 | row[3 * x + 2]);
    }
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  out.warnings = e.num_warnings;
  return out;
}

void ExpectLibjpegsPixels(const std::vector<uint8_t>& jpeg) {
  const Libjpeg theirs = DecodeWithLibjpeg(jpeg);
  ASSERT_EQ(theirs.warnings, 0);
  TDecodedPicture ours;
  try {
    ours = ReadJPEG(jpeg);
  } catch (const EInvalidGraphic& e) {
    FAIL() << e.what();
  }
  ASSERT_EQ(ours.Width, theirs.width);
  ASSERT_EQ(ours.Height, theirs.height);
  size_t differ = 0;
  for (size_t i = 0; i < theirs.pixels.size(); ++i) differ += ours.Pixels[i] != theirs.pixels[i];
  EXPECT_EQ(differ, 0u);
}

// Pictures libjpeg's encoder made, in every coding: Huffman and arithmetic, sequential and
// progressive, 4:4:4, 4:2:2, 4:2:0 and grey. Whatever libjpeg decodes without a warning is
// read with libjpeg's pixels; arithmetic-coded data that ends early by design (a one-colour
// picture, a drawing whose bottom rows are flat) included.
TEST(JpegReader, WhatLibjpegDecodesWithoutAWarningIsReadWithItsPixels) {
  struct Picture {
    const char* name;
    int width, height;
    std::vector<uint8_t> rgb;
  };
  std::vector<Picture> pictures;
  for (const auto& [w, h] : {std::pair{100, 75}, {160, 120}, {333, 250}, {640, 480}}) {
    Picture p{"one colour", w, h, {}};
    for (int i = 0; i < w * h; ++i) p.rgb.insert(p.rgb.end(), {200, 120, 40});
    pictures.push_back(p);
  }
  {  // a diagram: boxes and lines in the upper half, flat white below
    Picture p{"drawing", 320, 240, {}};
    for (int y = 0; y < 240; ++y) {
      for (int x = 0; x < 320; ++x) {
        const bool ink = y < 120 && ((x / 20 + y / 15) % 3 == 0 || x % 40 == 0 || y % 30 == 0);
        p.rgb.insert(p.rgb.end(),
                     {uint8_t(ink ? 20 : 255), uint8_t(ink ? 60 : 255), uint8_t(ink ? 180 : 255)});
      }
    }
    pictures.push_back(p);
  }
  {  // a photograph stand-in: smooth gradients with noise, 4:2:0 blocks cut at both edges
    Picture p{"gradient with noise", 203, 157, {}};
    uint32_t seed = 11;
    for (int y = 0; y < 157; ++y) {
      for (int x = 0; x < 203; ++x) {
        const int n = int((seed = seed * 1103515245u + 12345u) >> 28);
        p.rgb.insert(p.rgb.end(), {uint8_t(x + n), uint8_t(y + n), uint8_t((x + y) / 2)});
      }
    }
    pictures.push_back(p);
  }
  struct Sampling {
    const char* name;
    int components, h, v;
  } samplings[] = {{"4:4:4", 3, 1, 1}, {"4:2:2", 3, 2, 1}, {"4:2:0", 3, 2, 2}, {"grey", 1, 1, 1}};
  for (const Picture& p : pictures) {
    for (const Sampling& s : samplings) {
      std::vector<uint8_t> pixels = p.rgb;
      if (s.components == 1) {
        pixels.clear();
        for (size_t i = 0; i < p.rgb.size(); i += 3) pixels.push_back(p.rgb[i + 1]);
      }
      for (const bool arithmetic : {false, true}) {
        for (const bool progressive : {false, true}) {
          SCOPED_TRACE(testing::Message()
                       << p.name << " " << p.width << " x " << p.height << ", " << s.name << ", "
                       << (arithmetic ? "arithmetic" : "Huffman") << ", "
                       << (progressive ? "progressive" : "sequential"));
          ExpectLibjpegsPixels(vant::testing::EncodeJpeg(p.width, p.height, s.components, pixels,
                                                         arithmetic, progressive, s.h, s.v));
        }
      }
    }
  }
}

// A few hundred arithmetic-coded bytes claiming a large picture, their data ended early at an
// end marker: libjpeg decodes the rest from the zeros it supplies, without a warning, and so does
// the reader. What that costs is bounded by the pixel limit (bench/G32 sets it beside a plain
// fill of the picture claimed).
TEST(JpegReader, ArithmeticDataEndingEarlyIsDecodedAsLibjpegDecodesIt) {
  const std::vector<uint8_t> sequential = vant::testing::ArithmeticJpeg(false),
                             progressive = vant::testing::ArithmeticJpeg(true);
  struct {
    const char* name;
    std::vector<uint8_t> data;
  } cases[] = {
      {"4,096 x 4,096", vant::testing::ClaimAndCut(sequential, 4096, 8)},
      {"64 x 64, a few bytes", vant::testing::ClaimAndCut(sequential, 64, 8)},
      {"progressive, 4,096 x 4,096", vant::testing::ClaimAndCut(progressive, 4096, 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_LT(c.data.size(), 400u);
    ExpectLibjpegsPixels(c.data);
  }
}

TEST(PictureReaders, TheTruncatedJpegNamesTheEarlyEnd) {
  try {
    ReadJPEG(Seed("fuzz_g32_jpeg/huge-cut.jpg"));
    FAIL() << "decoded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(std::string(e.what()), "JPEG error: Premature end of JPEG file");
  }
  // A progressive picture whose coefficients would not fit the decoder's working memory stops
  // there, before the data is read.
  try {
    ReadJPEG(Seed("fuzz_g32_jpeg/progressive-too-deep.jpg"));
    FAIL() << "decoded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(std::string(e.what()), "JPEG error: JPEG image is too large");
  }
  // The intact picture it was cut from still decodes.
  TDecodedPicture whole = ReadJPEG(Seed("fuzz_g32_jpeg/halves.jpg"));
  EXPECT_EQ(whole.Width, 16);
  EXPECT_EQ(whole.Height, 8);
}

// Run-length codes, written the way an encoder writes them.
struct Codes {
  std::vector<uint8_t> b;
  Codes& Run(int n, uint8_t v) { return Put({uint8_t(n), v}); }
  Codes& EndLine() { return Put({0, 0}); }
  Codes& Move(int dx, int dy) { return Put({0, 2, uint8_t(dx), uint8_t(dy)}); }
  Codes& Copy(int n, const std::vector<uint8_t>& bytes) {
    Put({0, uint8_t(n)});
    b.insert(b.end(), bytes.begin(), bytes.end());
    if (bytes.size() & 1) b.push_back(0);
    return *this;
  }
  Codes& End() { return Put({0, 1}); }
  Codes& Put(std::initializer_list<uint8_t> v) {
    b.insert(b.end(), v);
    return *this;
  }
};

// Codes that end their rows early and walk on with deltas reach far more pixels than the file
// has bytes: such pictures are valid and read like any other. Colour 1 (red) lands on the listed
// pixels (x, y from the top), everything else keeps colour 0 (black).
TEST(BitmapReader, SparseRunLengthPicturesAreRead) {
  const std::vector<uint8_t> table = {0, 0, 0, 0, 0, 0, 255, 0};
  struct Case {
    const char* name;
    int32_t w, h;
    int bits;
    Codes codes;
    std::vector<std::pair<int, int>> red;
  };
  std::vector<Case> cases;
  {  // 2,000 x 2,000 RLE8: five red at the bottom left, an end of line for every row
    Case c{"RLE8 2000 x 2000", 2000, 2000, 8, {}, {}};
    c.codes.Run(5, 1);
    for (int y = 0; y < 2000; ++y) c.codes.EndLine();
    c.codes.End();
    for (int x = 0; x < 5; ++x) c.red.push_back({x, 1999});
    cases.push_back(c);
  }
  {  // 1,000 x 1,000 RLE4: moves up to the top row and right to its end, three red there
    Case c{"RLE4 1000 x 1000", 1000, 1000, 4, {}, {}};
    for (int i = 0; i < 3; ++i) c.codes.Move(0, 255);
    c.codes.Move(0, 999 - 3 * 255);
    for (int i = 0; i < 3; ++i) c.codes.Move(255, 0);
    c.codes.Move(997 - 3 * 255, 0).Run(3, 0x11).End();
    for (int x = 997; x < 1000; ++x) c.red.push_back({x, 0});
    cases.push_back(c);
  }
  {  // 1,023 x 767 RLE4: rows 0-399 ended empty, a move into row 400, a copy of five there
    Case c{"RLE4 1023 x 767, a copy after a move", 1023, 767, 4, {}, {}};
    for (int y = 0; y < 399; ++y) c.codes.EndLine();
    c.codes.Move(0, 1).Move(255, 0).Move(245, 0).Copy(5, {0x10, 0x10, 0x10}).End();
    for (int x : {500, 502, 504}) c.red.push_back({x, 766 - 400});
    cases.push_back(c);
  }
  {  // top-down RLE8: the first code row is the top row
    Case c{"RLE8 top-down 300 x 200", 300, -200, 8, {}, {}};
    c.codes.EndLine().Run(2, 1).End();
    c.red = {{0, 1}, {1, 1}};
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> file =
        vant::testing::BitmapFile(c.w, c.h, c.bits, c.bits == 8 ? 1 : 2, table, c.codes.b);
    ASSERT_LT(file.size(), 5000u);
    const TDecodedPicture p = ReadBMP(file);
    ASSERT_EQ(p.Width, c.w);
    ASSERT_EQ(p.Height, std::abs(c.h));
    ASSERT_EQ(p.Pixels.size(), size_t(p.Width) * size_t(p.Height));
    for (const auto& [x, y] : c.red) {
      EXPECT_EQ(p.Pixels[size_t(y) * size_t(p.Width) + size_t(x)], 0xFFFF0000u) << x << ", " << y;
    }
    EXPECT_EQ(std::count(p.Pixels.begin(), p.Pixels.end(), 0xFFFF0000u), int64_t(c.red.size()));
    EXPECT_EQ(std::count(p.Pixels.begin(), p.Pixels.end(), 0xFF000000u),
              int64_t(p.Pixels.size() - c.red.size()));
  }
}

// 18.9 MB of runs that never end the first row of a 16 x 16 picture: the runs are cut at the
// right edge, the bottom row is colour 7 and the rest keeps colour 0.
TEST(BitmapReader, RunsThatNeverEndTheirRowStopAtTheEdge) {
  const std::vector<uint8_t> file = vant::testing::EndlessRunFile(18'875'448);
  ASSERT_EQ(file.size(), 18'875'448u);
  const TDecodedPicture p = ReadBMP(file);
  ASSERT_EQ(p.Width, 16);
  ASSERT_EQ(p.Height, 16);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      EXPECT_EQ(p.Pixels[size_t(y) * 16 + size_t(x)], y == 15 ? 0xFF070707u : 0xFF000000u)
          << x << ", " << y;
    }
  }
}

}  // namespace
