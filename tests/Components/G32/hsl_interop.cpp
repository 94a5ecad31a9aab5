// HSL conversions against python3's colorsys over a grid of colours.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "g32.h"

namespace {

using namespace g32;

std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(HslInterop, AgreesWithColorsys) {
  // Each line: h s l r g b (h, s, l in 0..1 as exact binary fractions; r, g, b the rounded bytes).
  const std::string script =
      "import colorsys\n"
      "for hi in range(0, 64):\n"
      "  for si in range(0, 9):\n"
      "    for li in range(0, 17):\n"
      "      h, s, l = hi / 64, si / 8, li / 16\n"
      "      r, g, b = colorsys.hls_to_rgb(h, l, s)\n"
      "      print(h, s, l, round(r * 255), round(g * 255), round(b * 255))\n";
  std::string out = Capture("python3 -c '" + script + "'");
  ASSERT_FALSE(out.empty()) << "python3 is needed for this check";
  std::istringstream in(out);
  float h, s, l;
  int r, g, b, lines = 0;
  while (in >> h >> s >> l >> r >> g >> b) {
    ++lines;
    TColor32 c = HSLtoRGB(h, s, l);
    // Single precision may land on the other side of a half; more than one level is a fault.
    EXPECT_LE(std::abs(RedComponent(c) - r), 1) << h << " " << s << " " << l;
    EXPECT_LE(std::abs(GreenComponent(c) - g), 1) << h << " " << s << " " << l;
    EXPECT_LE(std::abs(BlueComponent(c) - b), 1) << h << " " << s << " " << l;
    float h2, s2, l2;
    RGBtoHSL(Color32(uint8_t(r), uint8_t(g), uint8_t(b)), h2, s2, l2);
    EXPECT_LE(std::abs(int(HSLtoRGB(h2, s2, l2) & 0xFF) - b), 1);
  }
  EXPECT_EQ(lines, 64 * 9 * 17);
}

}  // namespace
