// The picture readers against hostile files: a few hundred bytes that declare a huge picture are
// refused before the picture is allocated or decoded.
#include "g32_picture.h"

#include "arithjpeg.h"

#include <gtest/gtest.h>

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

// In arithmetic coding the decoder goes on with zeros once the data has reached a marker: a
// picture of a few hundred bytes would be decoded in full, however large it claims to be.
TEST(PictureReaders, ArithmeticPicturesWhoseDataEndsEarlyAreRefused) {
  const std::vector<uint8_t> sequential = vant::testing::ArithmeticJpeg(false),
                             progressive = vant::testing::ArithmeticJpeg(true);
  for (const bool p : {false, true}) {
    TDecodedPicture whole = ReadJPEG(p ? progressive : sequential);
    EXPECT_EQ(whole.Width, 16);
    EXPECT_EQ(whole.Height, 16);
  }
  struct {
    const char* name;
    std::vector<uint8_t> data;
  } cases[] = {
      {"16,384 x 16,384", vant::testing::ClaimAndCut(sequential, 16384, 8)},
      {"4,096 x 4,096", vant::testing::ClaimAndCut(sequential, 4096, 8)},
      {"64 x 64, a few bytes", vant::testing::ClaimAndCut(sequential, 64, 8)},
      {"progressive, 4,096 x 4,096", vant::testing::ClaimAndCut(progressive, 4096, 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_LT(c.data.size(), 400u);
    g_largest = 0;
    g_watching = true;
    try {
      ReadJPEG(c.data);
      ADD_FAILURE() << "decoded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(std::string(e.what()), "JPEG error: Premature end of JPEG file");
    }
    g_watching = false;
    EXPECT_LT(g_largest.load(), size_t(1) << 20) << "allocated for the picture";
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

}  // namespace
