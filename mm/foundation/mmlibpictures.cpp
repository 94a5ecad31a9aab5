// The library's own pictures, drawn at build time by the skin generator and embedded here.
#include <cstring>
#include <string_view>

#include "libpictures.h"
#include "mmresources.h"
#include "skinpack.h"

extern "C" const unsigned char vant_skin_mmlib[];
extern "C" const unsigned char vant_skin_mmlib_end[];

namespace {

// Registers every picture as a "BITMAP" resource under its name, once.
bool RegisterLibraryPictures() {
  const std::string_view pack(reinterpret_cast<const char*>(vant_skin_mmlib),
                              static_cast<size_t>(vant_skin_mmlib_end - vant_skin_mmlib));
  const auto items = vant::skinpack::Split(pack);
  if (!items || items->size() != vant::libpictures::kNames.size()) return false;
  for (size_t i = 0; i < items->size(); ++i) {
    const auto& data = (*items)[i];
    RegisterResource("BITMAP", std::string(vant::libpictures::kNames[i]),
                     {reinterpret_cast<const uint8_t*>(data.data()), data.size()});
  }
  return true;
}

}  // namespace

vant::TBitmap LoadLibraryBitmap(const std::string& name) {
  static const bool registered = RegisterLibraryPictures();
  (void)registered;
  const auto bytes = FindResourceBytes("BITMAP", name);
  vant::TBitmap bitmap;
  if (bytes.size() < 8) return bitmap;
  uint32_t w, h;
  std::memcpy(&w, bytes.data(), 4);
  std::memcpy(&h, bytes.data() + 4, 4);
  if (w == 0 || h == 0 || w > 4096 || h > 4096 || (bytes.size() - 8) / 4 / w < h) return bitmap;
  bitmap.SetSize(static_cast<int>(w), static_cast<int>(h));
  for (uint32_t y = 0; y < h; ++y)
    std::memcpy(bitmap.ScanLine(static_cast<int>(y)), bytes.data() + 8 + size_t(y) * w * 4, w * 4);
  return bitmap;
}
