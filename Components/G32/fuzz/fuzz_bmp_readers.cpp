// Each input as a bitmap file, read by both of the system's bitmap readers: the graphics
// library's ReadBMP, and the media library's file loader with DIB_ToPixels. They must agree:
// both refuse it, or both read a picture of the same size and colours (a DIB has no alpha and
// no empty pictures). Pictures are compared by a hash so that only one is held at a time.
// Large claims are passed over (fuzzbudget.h): both readers check headers through one function.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fuzzbudget.h"
#include "g32_picture.h"
#include "mmdib.h"

namespace {

struct Seen {
  int64_t width, height;
  uint64_t hash;
  bool operator==(const Seen&) const = default;
};

Seen Hash(int64_t width, int64_t height, std::span<const uint32_t> pixels) {
  uint64_t h = 1469598103934665603ull;
  for (uint32_t p : pixels) h = (h ^ (p & 0xFFFFFF)) * 1099511628211ull;
  return {width, height, h};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::vector<uint8_t> file(data, data + size);
  file[0] = 'B', file[1] = 'M';
  if (size > 14 && vant::testing::ClaimsTooMuchToFuzz(std::span(file).subspan(14))) return 0;

  std::optional<Seen> graphics;
  try {
    const g32::TDecodedPicture p = g32::ReadBMP(file);
    graphics = Hash(p.Width, p.Height, p.Pixels);
  } catch (const g32::EInvalidGraphic&) {
  }

  char name[] = "/tmp/fuzz_bmp_readers_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return 0;
  const bool written = write(fd, file.data(), size) == static_cast<ssize_t>(size);
  close(fd);
  TDIB dib = written ? DIB_OpenFile(name) : TDIB{};
  unlink(name);
  if (!written) return 0;
  std::optional<Seen> media;
  {
    std::vector<uint32_t> pixels;
    int32_t w = 0, h = 0;
    if (!dib.empty() && DIB_ToPixels(dib, pixels, w, h)) media = Hash(w, h, pixels);
  }

  if (graphics && (graphics->width == 0 || graphics->height == 0)) graphics.reset();
  if (graphics != media) __builtin_trap();
  return 0;
}
