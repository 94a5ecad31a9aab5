#include <gtest/gtest.h>
#include <functional>
#include <string>

#include "g32_bytemaps.h"
#include "g32_filters.h"

namespace {

using namespace g32;

TEST(ByteMap, ReadAndWriteEachConversion) {
  TBitmap32 b;
  b.SetSize(3, 2);
  b.Clear(0x80C86432);  // A 128, R 200, G 100, B 50
  TByteMap m;
  struct {
    TConversionType type;
    uint8_t read;
    TColor32 written;  // 7 written into a pixel of 0x80C86432
  } cases[] = {
      {ctRed, 200, 0x80076432},
      {ctGreen, 100, 0x80C80732},
      {ctBlue, 50, 0x80C86407},
      {ctAlpha, 128, 0x07C86432},
      {ctUniformRGB, 116, 0xFF070707},
      {ctWeightedRGB, (200 * 61 + 100 * 174 + 50 * 21) >> 8, 0xFF070707},
  };
  for (auto c : cases) {
    m.ReadFrom(&b, c.type);
    ASSERT_EQ(m.Width(), 3);
    ASSERT_EQ(m.Height(), 2);
    EXPECT_EQ(m.GetValue(2, 1), c.read) << c.type;
    TBitmap32 out;
    out.SetSize(3, 2);
    out.Clear(0x80C86432);
    TByteMap sevens;
    sevens.SetSize(3, 2);
    sevens.Clear(7);
    sevens.WriteTo(&out, c.type);
    EXPECT_EQ(out.GetPixel(1, 1), c.written) << c.type;
  }
}

TEST(ByteMap, SizingPaletteAndAssignment) {
  TByteMap m;
  int changes = 0;
  m.OnChange = [&](TObject*) { ++changes; };
  m.SetSize(2, 2);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(m.SetSize(2, 2));
  EXPECT_EQ(changes, 1);
  m.SetValue(1, 1, 9);
  m.SetSize(3, 2);  // the bytes stay where the array had them, the new ones are 0
  EXPECT_EQ(m.Bytes(), (std::vector<uint8_t>{0, 0, 0, 9, 0, 0}));
  m.SetSize(0, 5);
  EXPECT_TRUE(m.Empty());

  m.SetSize(2, 1);
  m.SetValue(0, 0, 1);
  m.SetValue(1, 0, 2);
  TPalette32 pal{};
  pal[1] = 0x11223344;
  pal[2] = 0x55667788;
  TBitmap32 b;
  int resized = 0;
  b.OnResize = [&](TObject*) { ++resized; };
  m.WriteTo(&b, pal);
  EXPECT_EQ(b.GetPixel(0, 0), 0x11223344u);
  EXPECT_EQ(b.GetPixel(1, 0), 0x55667788u);
  EXPECT_EQ(resized, 1);

  TByteMap copy;
  copy.Assign(&m);
  EXPECT_EQ(copy.Bytes(), m.Bytes());
  copy.Assign(&b);  // weighted intensity
  EXPECT_EQ(copy.GetValue(0, 0), Intensity(0x11223344));
  m.AssignTo(&b);
  EXPECT_EQ(b.GetPixel(1, 0), 0xFF020202u);
  EXPECT_THROW(m.Assign(nullptr), EConvertError);
}

TEST(Filters, EachFilterInPlaceAndIntoAnother) {
  const TColor32 px = 0x80C86432;
  uint8_t lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = uint8_t(255 - i);
  struct {
    const char* name;
    std::function<void(TBitmap32*, const TBitmap32*)> f;
    TColor32 expected;  // from px over a destination of 0x11223344
  } cases[] = {
      {"AlphaToGrayscale", AlphaToGrayscale, 0xFF808080},
      {"IntensityToAlpha", IntensityToAlpha, 0x77223344},
      {"Invert", Invert, 0x7F379BCD},
      {"InvertRGB", InvertRGB, 0x80379BCD},
      {"ColorToGrayscale", ColorToGrayscale, 0xFF777777},
      {"ApplyLUT", [&](TBitmap32* d, const TBitmap32* s) { ApplyLUT(d, s, lut); }, 0xFF379BCD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap32 src, dst;
    src.SetSize(2, 2);
    src.Clear(px);
    dst.SetSize(2, 2);
    dst.Clear(0x11223344);
    c.f(&dst, &src);
    EXPECT_EQ(dst.GetPixel(1, 1), c.expected);
    // In place: the destination pixel is the source pixel.
    if (std::string(c.name) != "IntensityToAlpha") {
      c.f(&src, &src);
      EXPECT_EQ(src.GetPixel(0, 1), c.expected);
    }
    // A destination of another size is resized first (and so cleared).
    TBitmap32 small;
    small.SetSize(1, 1);
    small.Clear(0xFFFFFFFF);
    c.f(&small, &dst);
    EXPECT_EQ(small.Width(), 2);
    EXPECT_THROW(c.f(&dst, nullptr), Exception);
    EXPECT_THROW(c.f(nullptr, &dst), Exception);
  }
  // The identity table keeps R, G, B and makes the pixel opaque.
  uint8_t id[256];
  for (int i = 0; i < 256; ++i) id[i] = uint8_t(i);
  TBitmap32 a;
  a.SetSize(1, 1);
  a.Clear(px);
  ApplyLUT(&a, &a, id);
  EXPECT_EQ(a.GetPixel(0, 0), 0xFFC86432u);
  try {
    Invert(&a, nullptr);
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "The source is nil");
  }
}

}  // namespace
