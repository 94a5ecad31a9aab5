// Run-length pictures read as ffmpeg reads them: random valid RLE8 and RLE4 bitmap files (runs,
// copies, deltas within and across rows, rows left short) are decoded by ffmpeg to B-G-R-A and
// by DIB_ToPixels, and must agree pixel for pixel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "mmdib.h"
#include "scratchfolder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// A valid coding of a random picture: every code stays inside the picture, copies are padded
// to whole words, the codes end with end-of-picture. A sparse one mostly ends its rows early and
// walks on with deltas, so its few codes reach far more pixels than they write.
Bytes RandomCodes(std::mt19937& random, bool four, int32_t w, int32_t h, bool sparse) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  const int colours = four ? 16 : 256;
  Bytes codes;
  int32_t x = 0, y = 0;
  while (y < h) {
    const int left = w - x;
    const int kind = pick(0, sparse ? 2 : 9);
    if (left == 0 || kind == 0) {
      if (pick(0, 3) == 0 && y + 1 < h && x < w) {
        const int dy = pick(1, std::min(3, h - 1 - y));
        codes.insert(codes.end(), {0, 2, 0, uint8_t(dy)});  // on up, same column
        y += dy;
      } else {
        codes.insert(codes.end(), {0, 0});
        x = 0;
        ++y;
      }
    } else if (kind == 1 && left > 1) {
      const int dx = pick(1, std::min(255, left - 1));
      codes.insert(codes.end(), {0, 2, uint8_t(dx), 0});
      x += dx;
    } else if (kind <= 5 || left < 3) {
      const int n = pick(1, std::min(255, left));
      const uint8_t v = four ? uint8_t(pick(0, 15) << 4 | pick(0, 15)) : uint8_t(pick(0, 255));
      codes.insert(codes.end(), {uint8_t(n), v});
      x += n;
    } else {
      const int n = pick(3, std::min(255, left));
      codes.insert(codes.end(), {0, uint8_t(n)});
      const int bytes = four ? (n + 1) / 2 : n;
      for (int i = 0; i < bytes; ++i) {
        codes.push_back(four ? uint8_t(pick(0, 15) << 4 | pick(0, 15))
                             : uint8_t(pick(0, colours - 1)));
      }
      if (bytes & 1) codes.push_back(0);
      x += n;
    }
  }
  codes.insert(codes.end(), {0, 1});
  return codes;
}

// A whole bitmap file: file header, Windows header, colour table, codes.
Bytes BitmapFile(bool four, int32_t w, int32_t h, const Bytes& table, const Bytes& codes) {
  const uint32_t entries = uint32_t(table.size() / 4);
  Bytes b = {'B', 'M'};
  Put32(b, uint32_t(14 + 40 + table.size() + codes.size()));
  Put32(b, 0);
  Put32(b, uint32_t(14 + 40 + table.size()));
  Put32(b, 40);
  Put32(b, uint32_t(w));
  Put32(b, uint32_t(h));
  b.insert(b.end(), {1, 0, uint8_t(four ? 4 : 8), 0});
  Put32(b, four ? BI_RLE4 : BI_RLE8);
  Put32(b, uint32_t(codes.size()));
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, entries);
  Put32(b, entries);
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), codes.begin(), codes.end());
  return b;
}

}  // namespace

TEST(DibInterop, RunLengthPicturesDecodeAsFfmpegReadsThem) {
  vant::testing::ScratchFolder dir("vant-dib-interop");
  std::mt19937 random(42);
  struct {
    bool four;
    int32_t w, h;
    bool sparse;
  } sizes[] = {{false, 600, 600, false}, {false, 1, 1, false},    {false, 257, 3, false},
               {false, 33, 70, false},   {true, 600, 600, false}, {true, 1, 2, false},
               {true, 99, 40, false},    {true, 300, 5, false},   {false, 1000, 17, false},
               {true, 1000, 17, false},  {false, 7, 300, false},  {true, 8, 300, false},
               {false, 600, 600, true},  {true, 600, 600, true},  {false, 2000, 300, true},
               {true, 2000, 300, true}};
  int n = 0;
  for (const auto& s : sizes) {
    SCOPED_TRACE(testing::Message() << (s.four ? "RLE4 " : "RLE8 ") << s.w << " x " << s.h
                                    << (s.sparse ? ", sparse" : ""));
    Bytes table;
    for (int i = 0; i < (s.four ? 16 : 256); ++i) {
      table.insert(table.end(), {uint8_t(random()), uint8_t(random()), uint8_t(random()), 0});
    }
    const Bytes codes = RandomCodes(random, s.four, s.w, s.h, s.sparse);
    const Bytes file = BitmapFile(s.four, s.w, s.h, table, codes);
    const fs::path bmp = dir.path() / ("p" + std::to_string(n) + ".bmp");
    const fs::path raw = dir.path() / ("p" + std::to_string(n++) + ".raw");
    std::ofstream(bmp, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    const std::string command = "ffmpeg -v fatal -nostdin -y -i '" + bmp.string() +
                                "' -f rawvideo -pix_fmt bgra '" + raw.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(raw, std::ios::binary);
    const Bytes theirs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(theirs.size(), size_t(s.w) * size_t(s.h) * 4);

    std::vector<uint32_t> ours;
    int32_t w, h;
    ASSERT_TRUE(DIB_ToPixels(Bytes(file.begin() + 14, file.end()), ours, w, h));
    ASSERT_EQ(ours.size(), size_t(s.w) * size_t(s.h));
    int differ = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
      uint32_t rgb;
      std::memcpy(&rgb, theirs.data() + 4 * i, 4);
      if (((ours[i] ^ rgb) & 0xFFFFFF) != 0 && differ++ < 3) {
        ADD_FAILURE() << "pixel " << i % size_t(s.w) << ", " << i / size_t(s.w) << ": ours "
                      << std::hex << ours[i] << ", ffmpeg " << rgb;
      }
    }
    EXPECT_EQ(differ, 0);
  }
}
