#pragma once
// The one reading of a device-independent bitmap: its info header checked, and its pixel rows
// (1, 4, 8, 16, 24, 32 bits, bit fields, 8- and 4-bit run-length codes) turned into 0xAARRGGBB
// pixels. The media library's packed DIBs and the graphics library's bitmap files both read
// through it, so a picture one of them reads the other reads alike.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vant::bitmap {

// The largest picture a reader accepts, in pixels (a gigabyte of 32-bit pixels).
inline constexpr uint64_t kMaxPixels = uint64_t(1) << 28;

inline constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

// What a checked info header says about the pixels.
struct Format {
  uint32_t headerSize = 0;  // 12 for a core header, whose colour entries are 3 bytes
  int32_t width = 0, rows = 0;
  bool topDown = false;
  int bits = 0;
  uint32_t compression = kRgb;
  uint32_t colorsUsed = 0;
  // Red, green, blue and alpha of 16- and 32-bit pixels.
  uint32_t masks[4] = {};
  // Masks stored after a header too short to hold them.
  uint32_t maskBytes = 0;

  bool Core() const { return headerSize == 12; }
  bool RunLength() const { return compression == kRle8 || compression == kRle4; }
  int EntryBytes() const { return Core() ? 3 : 4; }
  // Colour table entries the header announces (the table itself for 8 bits or fewer, an
  // optional one, not used, above).
  uint32_t Entries() const;
  // From the start of the header: the colour table, and the end of the table.
  int64_t TableOffset() const { return int64_t{headerSize} + maskBytes; }
  int64_t TableEnd() const { return TableOffset() + int64_t{Entries()} * EntryBytes(); }
  // Bytes of one uncompressed row, padded to whole words.
  int64_t Stride() const { return (int64_t{bits} * width + 31) / 32 * 4; }
};

// The header at the start of `info` (with the masks a short header is followed by), or nothing
// when it cannot be decoded: a header size other than 12 or 40 to 1024 bytes, a bit count and
// compression that do not go together, a negative width, more than kMaxPixels pixels, more than
// 256 colours, masks missing. A picture of no pixels passes.
std::optional<Format> ReadFormat(std::span<const uint8_t> info);

// The pixels, rows from the top. `info` holds the header, masks and colour table (entries the
// table lacks are black, a missing table refuses the picture); `data` the pixel rows or the
// run-length codes up to the end of the data. False when rows are missing or there is not one
// code. With `keepAlpha` the alpha mask's channel is kept, otherwise every pixel is opaque.
bool DecodePixels(const Format& format, std::span<const uint8_t> info,
                  std::span<const uint8_t> data, bool keepAlpha, std::vector<uint32_t>& pixels);

}  // namespace vant::bitmap
