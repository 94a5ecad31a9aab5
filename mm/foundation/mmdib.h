#pragma once
// Packed device-independent bitmaps (header, colour table and pixel rows in one block) and
// logical palettes: creating, reading, measuring and addressing DIBs, mapping a DIB onto a
// palette, the system colour palette of the DIB canvas, and RIFF "PAL " palette files.
//
// A DIB is a byte vector; every query takes the bytes it may look at and never reads past them:
// a header too short, a count too large or a run past the pixels answers 0, nil or false.
#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
  uint16_t bfType;
  uint32_t bfSize;
  uint16_t bfReserved1;
  uint16_t bfReserved2;
  uint32_t bfOffBits;
};
struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
struct BITMAPCOREHEADER {
  uint32_t bcSize;
  uint16_t bcWidth;
  uint16_t bcHeight;
  uint16_t bcPlanes;
  uint16_t bcBitCount;
};
struct RGBQUAD {
  uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14 && sizeof(BITMAPINFOHEADER) == 40 &&
              sizeof(BITMAPCOREHEADER) == 12);

inline constexpr uint32_t BI_RGB = 0;
inline constexpr uint32_t BI_RLE8 = 1;
inline constexpr uint32_t BI_RLE4 = 2;
inline constexpr uint32_t BI_BITFIELDS = 3;

struct PALETTEENTRY {
  uint8_t peRed, peGreen, peBlue, peFlags;
};
inline constexpr uint8_t PC_NOCOLLAPSE = 0x04;

// A logical palette: version 0x300 and its entries.
struct TLogPalette {
  uint16_t palVersion = 0x300;
  std::vector<PALETTEENTRY> entries;
};

using TDIB = std::vector<uint8_t>;
using TDIBView = std::span<const uint8_t>;

// Header queries.
bool IsWinDIB(TDIBView dib);
int32_t DIB_Width(TDIBView dib);
int32_t DIB_Height(TDIBView dib);
uint32_t DIB_Compression(TDIBView dib);
int DIB_BitCount(TDIBView dib);
uint32_t DIB_NumColors(TDIBView dib);
int64_t DIB_WidthBytesN(TDIBView dib, int bits);
int64_t DIB_WidthBytes(TDIBView dib);
int64_t DIB_PaletteSize(TDIBView dib);
int64_t DIB_BISize(TDIBView dib);
int64_t DIB_SizeImage(TDIBView dib);
// The bytes the packed DIB needs: header, colour table (or masks) and pixels.
int64_t DIB_Size(TDIBView dib);
int32_t DIB_FlipY(TDIBView dib, int32_t y);
// Offsets into the block (-1 when the block does not reach them).
int64_t DIB_Colors(TDIBView dib);
int64_t DIB_Ptr(TDIBView dib);
// Offset of pixel (x, y) of rows of `bits` starting at `ptr`; y counts rows in memory order.
int64_t DIB_XYN(TDIBView dib, int64_t ptr, int32_t x, int bits, int32_t y);
int64_t DIB_XY(TDIBView dib, int32_t x, int32_t y);

// Creation and files.
TDIB DIB_Create(int bitCount, int direction, int32_t width, int32_t height, bool withBits);
void DIB_Free(TDIB& dib);
// Header and colour table from the stream's position (after an optional file header); the
// stream is left at the pixels. Empty on a short read or an implausible header.
TDIB DIB_ReadBitmapInfo(std::istream& file);
// A bitmap file, or else a copy of the "BITMAP" resource of that name; empty when neither.
// Run-length codes are read up to the end of the file; uncompressed rows must all be there.
TDIB DIB_OpenFile(const std::string& fileName);
bool DIB_SetUsage(TDIB& dib, const TLogPalette* palette, int usage);
bool DIB_MapToPalette(TDIB& dib, const TLogPalette& palette);
// The palette to show the DIB with: its colour table, or a colour cube for 24 bits; nothing
// for other depths.
std::optional<TLogPalette> DIB_MakePalette(TDIBView dib);
void DIB_Info(TDIBView dib);
// The DIB as 0xAARRGGBB pixels, rows from the top (1, 4, 8 bits with or without run-length
// coding, 16, 24 and 32 bits), read as the graphics library reads a bitmap file and up to the
// same number of pixels (platform/core's bitmapdecode). False for a DIB that does not hold what
// its header says.
bool DIB_ToPixels(TDIBView dib, std::vector<uint32_t>& pixels, int32_t& width, int32_t& height);
// The first of the first `count` entries nearest to the colour (squared RGB distance).
int PaletteNearestIndex(const TLogPalette& palette, size_t count, uint8_t r, uint8_t g, uint8_t b);

// Palettes.
void ClearSystemPalette();
TLogPalette CreateSystemColorPalette();
std::optional<TLogPalette> LoadPalette(const std::filesystem::path& fileName);
bool SavePalette(const std::filesystem::path& fileName, const TLogPalette& palette);

// Showing DIBs and converting them to and from the framework's 32-bit bitmaps (mmdibdraw.cpp,
// the only part that needs the canvas). A true-colour surface needs no palette realisation:
// colour tables are looked up per pixel.
namespace vant {
class TBitmap;
class TCanvas;
struct TRect;
}  // namespace vant

// Stretches the whole DIB onto `rect`.
bool DIB_Display(TDIBView dib, vant::TCanvas& canvas, const vant::TRect& rect);
// A DIB of the bitmap's pixels; for 8 bits or fewer each pixel takes the nearest entry of the
// palette (the new DIB's standard colours without one); 32 bits keep each pixel's alpha in the
// fourth byte. The block holds exactly DIB_Size bytes. Empty on failure.
TDIB DIB_BitmapToDIB(const vant::TBitmap& bitmap, const TLogPalette* palette, int bitCount,
                     int direction);
// The bitmap of a DIB and the palette it is shown with.
bool DIB_DIBToBitmap(TDIBView dib, vant::TBitmap& bitmap, std::optional<TLogPalette>& palette);
