#include "mmdib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "filesizelimit.h"
#include "mmresources.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A Windows header of 40 bytes followed by `colors` and `pixels`.
Bytes WinDib(int32_t w, int32_t h, int bits, uint32_t compression, uint32_t clrUsed,
             const Bytes& colors, const Bytes& pixels, uint32_t sizeImage) {
  Bytes b;
  Put32(b, 40);
  Put32(b, uint32_t(w));
  Put32(b, uint32_t(h));
  Put16(b, 1);
  Put16(b, uint32_t(bits));
  Put32(b, compression);
  Put32(b, sizeImage);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, clrUsed);
  Put32(b, 0);
  b.insert(b.end(), colors.begin(), colors.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

class DibFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("vant-dib-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Put(const std::string& name, const Bytes& b) {
    const auto p = dir_ / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), long(b.size()));
    return p.string();
  }
  std::filesystem::path dir_;
};

TEST(DibHeader, MeasuresFromTheHeader) {
  const TDIB d8 = DIB_Create(8, 1, 5, 3, true);
  const TDIB d24 = DIB_Create(24, 1, 5, 3, true);
  const TDIB d1 = DIB_Create(1, 1, 33, 1, true);
  const TDIB d4 = DIB_Create(4, -1, 2, 2, false);
  EXPECT_EQ(DIB_WidthBytesN(d8, 8), 8);
  EXPECT_EQ(DIB_WidthBytesN(d24, 24), 16);
  EXPECT_EQ(DIB_WidthBytesN(d1, 1), 8);
  EXPECT_EQ(DIB_NumColors(d24), 0u);
  EXPECT_EQ(DIB_NumColors(d4), 16u);
  EXPECT_EQ(DIB_Height(d4), -2);
  EXPECT_EQ(DIB_SizeImage(d8), 24);
  EXPECT_EQ(DIB_Size(d8), 40 + 1024 + 24);
  EXPECT_EQ(DIB_Colors(d8), 40);
  EXPECT_EQ(DIB_Ptr(d8), 40 + 1024);
  EXPECT_EQ(DIB_XY(d8, 2, 1), 40 + 1024 + 8 + 2);
  EXPECT_EQ(DIB_FlipY(d8, 0), 2);
  EXPECT_TRUE(IsWinDIB(d8));

  const TDIB empty = DIB_Create(8, 1, 0, 0, false);  // at least 1 × 1, no pixels
  EXPECT_EQ(DIB_Width(empty), 1);
  EXPECT_EQ(DIB_Height(empty), 1);
  EXPECT_EQ(DIB_NumColors(empty), 256u);
  EXPECT_EQ(reinterpret_cast<const BITMAPINFOHEADER*>(empty.data())->biSizeImage, 0u);
  EXPECT_EQ(DIB_BitCount(DIB_Create(16, 1, 1, 1, false)), 24);
  // The standard colours repeat every sixteen entries: entry 17 is maroon.
  EXPECT_EQ(empty[40 + 4 * 17 + 2], 128);

  // A block too short for its header answers nothing instead of reading past it.
  const Bytes cut(d8.begin(), d8.begin() + 20);
  EXPECT_EQ(DIB_Width(cut), 0);
  EXPECT_EQ(DIB_Ptr(cut), -1);
  const Bytes lying = WinDib(4, 4, 8, BI_RGB, 250, {}, {}, 0);
  EXPECT_EQ(DIB_Ptr(lying), -1);
  // Sizes of a hostile header saturate instead of wrapping.
  const Bytes huge = WinDib(0x7FFFFFFF, -0x7FFFFFFF, 32, BI_RGB, 0, {}, {}, 0);
  EXPECT_EQ(DIB_SizeImage(huge), INT64_MAX);
  EXPECT_EQ(DIB_Size(huge), INT64_MAX);
}

TEST_F(DibFiles, CoreHeaderReadsAsWindowsHeader) {
  // A 1-bit 8 × 2 bitmap with a core header and two 3-byte colours.
  Bytes core;
  Put32(core, 12);
  Put16(core, 8);
  Put16(core, 2);
  Put16(core, 1);
  Put16(core, 1);
  const Bytes colors = {10, 20, 30, 200, 210, 220};
  const Bytes pixels = {0xF0, 0, 0, 0, 0x0F, 0, 0, 0};
  Bytes file = {'B', 'M'};
  Put32(file, uint32_t(14 + 12 + 6 + 8));
  Put32(file, 0);
  Put32(file, 14 + 12 + 6);
  file.insert(file.end(), core.begin(), core.end());
  file.insert(file.end(), colors.begin(), colors.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  const TDIB dib = DIB_OpenFile(Put("core.bmp", file));
  ASSERT_FALSE(dib.empty());
  EXPECT_TRUE(IsWinDIB(dib));
  EXPECT_EQ(DIB_Width(dib), 8);
  EXPECT_EQ(DIB_Height(dib), 2);
  EXPECT_EQ(DIB_NumColors(dib), 2u);
  EXPECT_EQ(Bytes(dib.begin() + 40, dib.begin() + 48), (Bytes{10, 20, 30, 0, 200, 210, 220, 0}));
  EXPECT_EQ(Bytes(dib.begin() + DIB_Ptr(dib), dib.end()), pixels);

  // Without a file header the stream is read from where it stands.
  std::istringstream raw(std::string(file.begin() + 14, file.end()));
  EXPECT_EQ(DIB_ReadBitmapInfo(raw).size(), 48u);

  // Fewer pixels than announced, and an absurd header, give nothing.
  EXPECT_TRUE(DIB_OpenFile(Put("cut.bmp", Bytes(file.begin(), file.end() - 3))).empty());
  EXPECT_TRUE(
      DIB_OpenFile(Put("huge.bmp", WinDib(1 << 20, 1 << 20, 24, BI_RGB, 0, {}, {}, 0))).empty());
}

// A file is read as its header lays it out: bit-field masks after a 40-byte header or inside a
// later one; run-length codes up to the end of the file, whatever image size the header gives.
TEST_F(DibFiles, FilesAreReadAsTheirHeadersLayThemOut) {
  const uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00;
  const Bytes masks565 = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  struct {
    const char* name;
    uint32_t headerSize;
    int bits;
    uint32_t compression, sizeImage;
    Bytes afterHeader, pixels;
    std::vector<uint32_t> want;  // 2 x 2, rows from the top
  } cases[] = {
      {"5-6-5 masks after a 40-byte header",
       40,
       16,
       BI_BITFIELDS,
       0,
       masks565,
       {0, 0xF8, 0xE0, 0x07, 0xE0, 0x07, 0, 0xF8},
       {kGreen, kRed, kRed, kGreen}},
      {"5-6-5 masks inside a 124-byte header",
       124,
       16,
       BI_BITFIELDS,
       0,
       {},
       {0, 0xF8, 0xE0, 0x07, 0xE0, 0x07, 0, 0xF8},
       {kGreen, kRed, kRed, kGreen}},
      {"run-length codes past the header's image size",
       40,
       8,
       BI_RLE8,
       2,
       {0, 0, 255, 0, 0, 255, 0, 0},
       {0, 0, 2, 1, 0, 1},
       {kGreen, kGreen, kRed, kRed}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t colours = uint32_t(c.bits <= 8 ? c.afterHeader.size() / 4 : 0);
    Bytes header = WinDib(2, 2, c.bits, c.compression, colours, {}, {}, c.sizeImage);
    header[0] = uint8_t(c.headerSize);
    header.resize(c.headerSize, 0);
    if (c.headerSize >= 52) std::copy(masks565.begin(), masks565.end(), header.begin() + 40);
    const uint32_t offBits = uint32_t(14 + header.size() + c.afterHeader.size());
    Bytes file = {'B', 'M'};
    Put32(file, uint32_t(offBits + c.pixels.size()));
    Put32(file, 0);
    Put32(file, offBits);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), c.afterHeader.begin(), c.afterHeader.end());
    file.insert(file.end(), c.pixels.begin(), c.pixels.end());
    const TDIB dib = DIB_OpenFile(Put("p.bmp", file));
    std::vector<uint32_t> pixels;
    int32_t w = 0, h = 0;
    EXPECT_TRUE(DIB_ToPixels(dib, pixels, w, h));
    EXPECT_EQ(pixels, c.want);
  }
}

TEST_F(DibFiles, MissingFileFallsBackToACopyOfTheResource) {
  static const TDIB res = DIB_Create(8, 1, 2, 2, true);
  RegisterResource("BITMAP", "LOGO", res);
  TDIB copy = DIB_OpenFile("LOGO");
  ASSERT_EQ(copy, res);
  copy[0] = 0;  // the resource itself is untouched
  EXPECT_EQ(res[0], 40);
  EXPECT_TRUE(DIB_OpenFile("NOTHING").empty());
}

TEST(DibMap, TranslatesPixelsAndRle8Runs) {
  // Colour table: 0 red, 1 blue, 2 white. The palette: blue, white, red.
  const Bytes colors = {0, 0, 255, 0, 255, 0, 0, 0, 255, 255, 255, 0};
  TLogPalette pal;
  pal.entries = {{0, 0, 255, 0}, {255, 255, 255, 0}, {255, 0, 0, 0}};
  const uint8_t red = 2, blue = 0, white = 1;

  TDIB plain = WinDib(4, 1, 8, BI_RGB, 3, colors, {0, 1, 2, 0}, 4);
  ASSERT_TRUE(DIB_MapToPalette(plain, pal));
  EXPECT_EQ(Bytes(plain.begin() + DIB_Ptr(plain), plain.end()), (Bytes{red, blue, white, red}));

  // Every escape: a run, end of line, a position change, an odd literal with its pad, end of
  // picture; bytes after the end stay as they were.
  const Bytes rle = {3, 1, 0, 0, 0, 2, 5, 1, 0, 3, 0, 1, 2, 0xAA, 0, 1, 1, 1};
  TDIB coded = WinDib(8, 2, 8, BI_RLE8, 3, colors, rle, uint32_t(rle.size()));
  ASSERT_TRUE(DIB_MapToPalette(coded, pal));
  const Bytes expected = {3, blue, 0, 0, 0, 2, 5, 1, 0, 3, red, blue, white, 0xAA, 0, 1, 1, 1};
  EXPECT_EQ(Bytes(coded.begin() + DIB_Ptr(coded), coded.end()), expected);
  EXPECT_EQ(DIB_NumColors(coded), 3u);

  // A literal run that claims more bytes than there are stops at the end of the data.
  TDIB cut = WinDib(8, 1, 8, BI_RLE8, 3, colors, {0, 200, 1, 2}, 4);
  ASSERT_TRUE(DIB_MapToPalette(cut, pal));
  EXPECT_EQ(Bytes(cut.begin() + DIB_Ptr(cut), cut.end()), (Bytes{0, 200, blue, white}));

  // 4-bit pixels map both nibbles; a larger palette shrinks the table to 16 entries.
  TLogPalette big = pal;
  big.entries.resize(40, {9, 9, 9, 0});
  TDIB nibbles = WinDib(2, 1, 4, BI_RGB, 3, colors, {0x12, 0, 0, 0}, 4);
  ASSERT_TRUE(DIB_MapToPalette(nibbles, big));
  EXPECT_EQ(DIB_NumColors(nibbles), 16u);
  EXPECT_EQ(nibbles[size_t(DIB_Ptr(nibbles))], blue << 4 | white);
}

TEST(DibMap, UsageAndPalettes) {
  TDIB dib = DIB_Create(4, 1, 2, 2, true);
  ASSERT_TRUE(DIB_SetUsage(dib, nullptr, 1));
  EXPECT_EQ(Bytes(dib.begin() + 40, dib.begin() + 46), (Bytes{0, 0, 1, 0, 2, 0}));
  TLogPalette pal;
  pal.entries = {{1, 2, 3, 0}};
  ASSERT_TRUE(DIB_SetUsage(dib, &pal, 0));
  EXPECT_EQ(Bytes(dib.begin() + 40, dib.begin() + 44), (Bytes{3, 2, 1, 0}));
  TDIB none;
  EXPECT_FALSE(DIB_SetUsage(none, &pal, 0));

  EXPECT_EQ(DIB_MakePalette(dib)->entries.size(), 16u);
  const auto cube = DIB_MakePalette(DIB_Create(24, 1, 1, 1, true));
  ASSERT_TRUE(cube);
  EXPECT_EQ(cube->entries[255].peRed, 224);
  EXPECT_EQ(cube->entries[255].peBlue, 192);
  EXPECT_FALSE(DIB_MakePalette(WinDib(1, 1, 16, BI_RGB, 0, {}, {0, 0, 0, 0}, 4)));

  const TLogPalette sys = CreateSystemColorPalette();
  ASSERT_EQ(sys.entries.size(), 256u);
  EXPECT_EQ(sys.entries[9].peRed, 166);
  EXPECT_EQ(sys.entries[246].peGreen, 251);
  EXPECT_EQ(sys.entries[100].peRed, 0);
}

// A palette file that cannot be written whole (the disk fills halfway) stays as it was.
TEST_F(DibFiles, AFailedPaletteSaveLeavesTheOldFile) {
  TLogPalette pal;
  pal.entries = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}};
  const std::string name = (dir_ / "p.pal").string();
  ASSERT_TRUE(SavePalette(name, pal));
  std::ifstream before_in(name, std::ios::binary);
  const Bytes before((std::istreambuf_iterator<char>(before_in)), {});
  ASSERT_EQ(before.size(), 36u);
  {
    vant::testing::FileSizeLimit limit(100);
    EXPECT_FALSE(SavePalette(name, CreateSystemColorPalette()));  // 1,048 bytes
  }
  std::ifstream after_in(name, std::ios::binary);
  EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(after_in)), {}), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(DibFiles, PaletteFilesRoundTripAndRefuseShortData) {
  TLogPalette pal;
  pal.entries = {{1, 2, 3, 0}, {4, 5, 6, PC_NOCOLLAPSE}, {255, 254, 253, 0}};
  const std::string name = (dir_ / "p.pal").string();
  ASSERT_TRUE(SavePalette(name, pal));
  const auto back = LoadPalette(name);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->palVersion, 0x300);
  ASSERT_EQ(back->entries.size(), 3u);
  EXPECT_EQ(std::memcmp(back->entries.data(), pal.entries.data(), 12), 0);
  EXPECT_FALSE(SavePalette(name, TLogPalette{}));

  std::ifstream in(name, std::ios::binary);
  Bytes file((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(file.size(), 12u + 8 + 16);
  EXPECT_FALSE(LoadPalette(Put("short.pal", Bytes(file.begin(), file.end() - 4))));
  Bytes lying = file;
  lying[22] = 9;  // nine entries announced in a chunk that holds three
  EXPECT_FALSE(LoadPalette(Put("lying.pal", lying)));
  Bytes zero = file;
  zero[22] = 0;
  EXPECT_FALSE(LoadPalette(Put("zero.pal", zero)));
  EXPECT_FALSE(LoadPalette(dir_ / "none.pal"));
}

}  // namespace
