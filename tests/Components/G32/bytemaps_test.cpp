#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

#include "g32_bytemaps.h"
#include "g32_filters.h"

namespace {

using namespace g32;

// Every pixel differs in every channel and the picture is not square, so a swapped channel, a
// transposed or mirrored walk, or a row taken twice shows in the bytes.
const TColor32 kPattern[6] = {0x80C86432, 0x01020304, 0xFF000000,
                              0x00FFFFFF, 0x7F103070, 0x40FA0A05};

void FillPattern(TBitmap32& b, const TColor32 (&px)[6]) {
  b.SetSize(3, 2);
  for (int i = 0; i < 6; ++i) b.SetPixel(i % 3, i / 3, px[i]);
}

std::vector<TColor32> PixelsOf(const TBitmap32& b) {
  std::vector<TColor32> out;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) out.push_back(b.GetPixel(x, y));
  return out;
}

TEST(ByteMap, ReadAndWriteEachConversion) {
  TBitmap32 b;
  FillPattern(b, kPattern);
  // Written: the bytes 0x11 .. 0x66 into a picture holding the pattern.
  struct {
    TConversionType type;
    std::vector<uint8_t> read;
    std::vector<TColor32> written;
  } cases[] = {
      {ctRed,
       {200, 2, 0, 255, 16, 250},
       {0x80116432, 0x01220304, 0xFF330000, 0x0044FFFF, 0x7F553070, 0x40660A05}},
      {ctGreen,
       {100, 3, 0, 255, 48, 10},
       {0x80C81132, 0x01022204, 0xFF003300, 0x00FF44FF, 0x7F105570, 0x40FA6605}},
      {ctBlue,
       {50, 4, 0, 255, 112, 5},
       {0x80C86411, 0x01020322, 0xFF000033, 0x00FFFF44, 0x7F103055, 0x40FA0A66}},
      {ctAlpha,
       {128, 1, 255, 0, 127, 64},
       {0x11C86432, 0x22020304, 0x33000000, 0x44FFFFFF, 0x55103070, 0x66FA0A05}},
      // (R + G + B) div 3
      {ctUniformRGB,
       {116, 3, 0, 255, 58, 88},
       {0xFF111111, 0xFF222222, 0xFF333333, 0xFF444444, 0xFF555555, 0xFF666666}},
      // (61 R + 174 G + 21 B) div 256, worked by hand
      {ctWeightedRGB,
       {119, 2, 0, 255, 45, 66},
       {0xFF111111, 0xFF222222, 0xFF333333, 0xFF444444, 0xFF555555, 0xFF666666}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    TByteMap m;
    m.ReadFrom(&b, c.type);
    ASSERT_EQ(m.Width(), 3);
    ASSERT_EQ(m.Height(), 2);
    EXPECT_EQ(m.Bytes(), c.read);
    EXPECT_EQ(m.GetValue(0, 1), c.read[3]);

    TByteMap ramp;
    ramp.SetSize(3, 2);
    for (int i = 0; i < 6; ++i) ramp.SetValue(i % 3, i / 3, uint8_t(0x11 * (i + 1)));
    TBitmap32 out;
    FillPattern(out, kPattern);
    ramp.WriteTo(&out, c.type);
    EXPECT_EQ(PixelsOf(out), c.written);
  }
}

TEST(ByteMap, NilPicturesAreRefusedWithAMessage) {
  TByteMap m;
  m.SetSize(2, 2);
  TPalette32 pal{};
  struct {
    const char* message;
    std::function<void()> call;
  } cases[] = {
      {"The source is nil", [&] { m.ReadFrom(nullptr, ctRed); }},
      {"Destination is nil", [&] { m.WriteTo(nullptr, ctAlpha); }},
      {"Destination is nil", [&] { m.WriteTo(nullptr, pal); }},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_EQ(m.Width(), 2);  // the map is left as it was
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
  uint8_t lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = uint8_t(255 - i);
  const TColor32 kDest[6] = {0x11223344, 0x55667788, 0x99AABBCC,
                             0xDDEEFF00, 0x01020304, 0x0A0B0C0D};
  struct {
    const char* name;
    std::function<void(TBitmap32*, const TBitmap32*)> f;
    std::vector<TColor32> expected;  // from the pattern over a destination holding kDest
  } cases[] = {
      {"AlphaToGrayscale",
       AlphaToGrayscale,
       {0xFF808080, 0xFF010101, 0xFFFFFFFF, 0xFF000000, 0xFF7F7F7F, 0xFF404040}},
      {"IntensityToAlpha",
       IntensityToAlpha,
       {0x77223344, 0x02667788, 0x00AABBCC, 0xFFEEFF00, 0x2D020304, 0x420B0C0D}},
      {"Invert", Invert, {0x7F379BCD, 0xFEFDFCFB, 0x00FFFFFF, 0xFF000000, 0x80EFCF8F, 0xBF05F5FA}},
      {"InvertRGB",
       InvertRGB,
       {0x80379BCD, 0x01FDFCFB, 0xFFFFFFFF, 0x00000000, 0x7FEFCF8F, 0x4005F5FA}},
      {"ColorToGrayscale",
       ColorToGrayscale,
       {0xFF777777, 0xFF020202, 0xFF000000, 0xFFFFFFFF, 0xFF2D2D2D, 0xFF424242}},
      {"ApplyLUT",
       [&](TBitmap32* d, const TBitmap32* s) { ApplyLUT(d, s, lut); },
       {0xFF379BCD, 0xFFFDFCFB, 0xFFFFFFFF, 0xFF000000, 0xFFEFCF8F, 0xFF05F5FA}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap32 src, dst;
    FillPattern(src, kPattern);
    FillPattern(dst, kDest);
    c.f(&dst, &src);
    EXPECT_EQ(PixelsOf(dst), c.expected);
    // In place: the destination pixel is the source pixel.
    if (std::string(c.name) != "IntensityToAlpha") {
      c.f(&src, &src);
      EXPECT_EQ(PixelsOf(src), c.expected);
    }
    // A destination of another size is resized first (and so cleared).
    TBitmap32 small;
    small.SetSize(1, 1);
    small.Clear(0xFFFFFFFF);
    c.f(&small, &dst);
    EXPECT_EQ(small.Width(), 3);
    EXPECT_EQ(small.Height(), 2);
    EXPECT_THROW(c.f(&dst, nullptr), Exception);
    EXPECT_THROW(c.f(nullptr, &dst), Exception);
  }
  const TColor32 px = 0x80C86432;
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
