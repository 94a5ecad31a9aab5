#pragma once
// Picture files behind TBitmap32's load and save: BMP read and written here, JPEG decoded through
// libjpeg, other formats through readers the UI layer registers by extension. Metafiles do not
// exist on this platform and raise EInvalidGraphic.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "bitmapdecode.h"
#include "g32_types.h"

namespace g32 {

class TBitmap32;

// A decoded picture: pixels in TColor32 order, rows from the top.
struct TDecodedPicture {
  int Width = 0;
  int Height = 0;
  std::vector<TColor32> Pixels;
  // False for formats without alpha bytes; the bitmap then sets alpha 255 everywhere.
  bool HasAlpha = false;
};

VANT_DECLARE_EXCEPTION(EFOpenError, Exception);
VANT_DECLARE_EXCEPTION(EFCreateError, Exception);

// The largest picture a reader accepts, in pixels: the same for every picture reader.
constexpr uint64_t kMaxPicturePixels = vant::bitmap::kMaxPixels;

TDecodedPicture ReadBMP(std::span<const uint8_t> Data);
// The picture into the bitmap (its size, its pixels, alpha 255 when it has none) inside the
// bitmap's update bracket, then Changed.
void AssignPicture(TBitmap32& Bitmap, const TDecodedPicture& Picture);
TDecodedPicture ReadBMP(std::istream& Stream);
// 32 bits per pixel, bottom-up rows, the alpha bytes as held.
void WriteBMP(std::ostream& Stream, const TBitmap32& Bitmap);
void SaveBMPFile(const std::string& FileName, const TBitmap32& Bitmap);

TDecodedPicture ReadJPEG(std::span<const uint8_t> Data);

using TPictureReader = std::function<TDecodedPicture(std::span<const uint8_t>)>;
// Registers a reader for a file extension (lower case, without the dot).
void RegisterPictureReader(const std::string& Extension, TPictureReader Reader);

// Chooses the reader by the file's extension, as the framework's picture holder does.
TDecodedPicture LoadPictureFile(const std::string& FileName);

}  // namespace g32
