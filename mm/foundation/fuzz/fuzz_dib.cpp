// Arbitrary bytes as a bitmap file, a packed DIB and a palette file: reading, measuring,
// decoding every depth and run-length coding, and mapping onto a palette stay inside the bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "fuzzbudget.h"
#include "mmdib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream file(bytes);
  TDIB dib = DIB_ReadBitmapInfo(file);
  if (!dib.empty()) {
    // The pixels as the file gives them, however many that is.
    const auto at =
        static_cast<size_t>(file.tellg() < 0 ? size : static_cast<size_t>(file.tellg()));
    if (at < size) dib.insert(dib.end(), data + at, data + size);
  } else {
    dib.assign(data, data + size);
  }
  std::vector<uint32_t> pixels;
  int32_t w, h;
  const bool decode = !vant::testing::ClaimsTooMuchToFuzz(dib);
  if (decode) DIB_ToPixels(dib, pixels, w, h);
  DIB_Size(dib);
  DIB_MakePalette(dib);
  TLogPalette pal = CreateSystemColorPalette();
  DIB_MapToPalette(dib, pal);
  if (decode) DIB_ToPixels(dib, pixels, w, h);

  char name[] = "/tmp/fuzz_dib_XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) {
    if (write(fd, data, size) == static_cast<ssize_t>(size)) LoadPalette(name);
    close(fd);
    unlink(name);
  }
  return 0;
}
