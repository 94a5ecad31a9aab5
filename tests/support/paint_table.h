#pragma once
// A table of paints: a control is painted once for each of its number properties at each end of
// the property's type (and next to 0), geometry included. Whatever value a setter accepts, the
// paint must finish with work bounded by the control's pixels, the control must keep a size a
// screen can show, and the picture must hold only colours the control paints with.
// Shared by the tests of the foundation's controls and of the displays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "ui_canvas.h"
#include "ui_control.h"
#include "ui_types.h"

namespace vant::painttable {

inline constexpr int kInts[] = {0, -1, 1, INT_MAX, INT_MIN};
inline constexpr double kFloats[] = {0.0,
                                     -1.0,
                                     std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     DBL_MAX,
                                     -DBL_MAX};

template <class C>
using IntSetter = std::function<void(C&, int)>;
template <class C>
using FloatSetter = std::function<void(C&, double)>;

// One row of the table: a property's name and its setter (with whatever set-up the value needs
// to matter, e.g. a mode switched on first).
template <class C>
struct Property {
  std::string name;
  std::variant<IntSetter<C>, FloatSetter<C>> set;
  // A length the control holds to the largest extent either way: at the ends of int it must
  // paint exactly what it paints at the extent.
  bool held = false;
  // The row sets a colour the control paints with: its pictures may hold any colour.
  bool any_colour = false;
};

template <class C>
Property<C> Int(std::string name, IntSetter<C> set) {
  return {std::move(name), std::move(set)};
}
template <class C>
Property<C> Length(std::string name, IntSetter<C> set) {
  return {std::move(name), std::move(set), true};
}
template <class C>
Property<C> Float(std::string name, FloatSetter<C> set) {
  return {std::move(name), std::move(set)};
}

// The numbers every control has: Left, Top, Width and Height, each set on its own, the scaling
// a form gives its controls (by the value either way and by its inverse), and the font's height,
// size and turn.
template <class C>
std::vector<Property<C>> Geometry() {
  return {Int<C>("Left", [](C& c, int v) { c.SetLeft(v); }),
          Int<C>("Top", [](C& c, int v) { c.SetTop(v); }),
          Int<C>("Width", [](C& c, int v) { c.SetWidth(v); }),
          Int<C>("Height", [](C& c, int v) { c.SetHeight(v); }),
          Int<C>("ScaleBy(v, 1)", [](C& c, int v) { c.ScaleBy(v, 1); }),
          Int<C>("ScaleBy(v, -1)", [](C& c, int v) { c.ScaleBy(v, -1); }),
          Int<C>("ScaleBy(1, v)", [](C& c, int v) { c.ScaleBy(1, v); }),
          Int<C>("Font.Height", [](C& c, int v) { c.Font().SetHeight(v); }),
          Int<C>("Font.Size", [](C& c, int v) { c.Font().SetSize(v); }),
          Int<C>("Font.Orientation", [](C& c, int v) { c.Font().SetOrientation(v); })};
}

// A double of the table for a float setter: beyond the range of float it is the largest float of
// its sign (the conversion itself would be undefined); NaN and the infinities pass.
inline float ToFloat(double v) {
  return std::isfinite(v) ? static_cast<float>(std::clamp<double>(v, -FLT_MAX, FLT_MAX))
                          : static_cast<float>(v);
}

// The colours of a picture as 0x00RRGGBB.
inline std::set<uint32_t> Colours(const TBitmap& shot) {
  std::set<uint32_t> colours;
  for (int y = 0; y < shot.Height(); ++y) {
    const uint32_t* row = shot.ScanLine(y);
    for (int x = 0; x < shot.Width(); ++x) colours.insert(row[x] & 0xFFFFFFu);
  }
  return colours;
}

// The picture has the control's size, that size is one a screen can show, and every pixel is
// opaque and of one of `palette` (when it is not empty).
inline ::testing::AssertionResult SanePicture(const TControl& c, const TBitmap& shot,
                                              const std::set<uint32_t>& palette) {
  const int w = c.GetWidth(), h = c.GetHeight();
  if (w < 0 || h < 0 || w > kMaxControlExtent || h > kMaxControlExtent)
    return ::testing::AssertionFailure()
           << "size " << w << " x " << h << " beyond 0 .. " << kMaxControlExtent;
  if (shot.Width() != (w > 0 && h > 0 ? w : 0) || shot.Height() != (w > 0 && h > 0 ? h : 0))
    return ::testing::AssertionFailure() << "picture " << shot.Width() << " x " << shot.Height()
                                         << " for a control of " << w << " x " << h;
  uint32_t known = 0;  // the last pixel found sane: runs of it are passed over at once
  for (int y = 0; y < shot.Height(); ++y) {
    const uint32_t* row = shot.ScanLine(y);
    for (int x = 0; x < shot.Width(); ++x) {
      if (row[x] == known) continue;
      if ((row[x] >> 24) != 0xFF)
        return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") not opaque";
      if (!palette.empty() && !palette.count(row[x] & 0xFFFFFFu)) {
        std::ostringstream os;
        os << std::hex << (row[x] & 0xFFFFFFu);
        return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") of colour "
                                             << os.str() << " the control does not paint with";
      }
      known = row[x];
    }
  }
  return ::testing::AssertionSuccess();
}

// The work a paint of a control may do, counted by the canvas: a few times each pixel of its
// picture (the ground, the bevel, the face and what goes over it) and a few dozen spans per row
// and column, with room for a small control's text and marks. A paint past it, however it
// loops, stops at once with a failure.
inline constexpr int64_t kPixelsPerPixel = 6, kPixelSlack = int64_t{1} << 16;
inline constexpr int64_t kSpansPerLine = 32, kSpanSlack = 4096;

inline ::testing::AssertionResult PaintCounted(TControl& c, TBitmap& shot) {
  const int64_t w = c.GetWidth(), h = c.GetHeight();
  try {
    PaintMeter meter(kPixelsPerPixel * w * h + kPixelSlack, kSpansPerLine * (w + h) + kSpanSlack);
    c.PaintTo(shot);
  } catch (const EPaintBudget& e) {
    ADD_FAILURE() << "a control of " << w << " x " << h << ": " << e.what();
    return ::testing::AssertionFailure();
  }
  return ::testing::AssertionSuccess();
}

// Two pictures of one size, pixel for pixel alike.
inline ::testing::AssertionResult SamePicture(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "pictures of " << a.Width() << " x " << a.Height()
                                         << " and " << b.Width() << " x " << b.Height();
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.ScanLine(y)[x] != b.ScanLine(y)[x])
        return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") differs";
  return ::testing::AssertionSuccess();
}

template <class C>
struct Table {
  std::string control;
  // A new control on its form, ready to paint with its usual values.
  std::function<C*()> make;
  std::vector<Property<C>> properties;
  // Colours the picture may hold beyond those of the control painted with its usual values.
  std::set<uint32_t> more_colours;
  // Leave the colours unchecked (pictures or text smoothed into other colours).
  bool any_colour = false;
};

inline std::string ValueText(double v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

// Paints `c` once per row and value of the table; each control is freed after its paint.
template <class C>
void Paint(const Table<C>& table) {
  std::set<uint32_t> palette;
  if (!table.any_colour) {
    std::unique_ptr<C> usual(table.make());
    TBitmap shot;
    usual->PaintTo(shot);
    palette = Colours(shot);
    palette.insert(table.more_colours.begin(), table.more_colours.end());
  }
  bool any_colour = false;
  auto check = [&](const std::string& row, auto set, auto value) {
    SCOPED_TRACE(table.control + "." + row + " = " + ValueText(double(value)));
    std::unique_ptr<C> c(table.make());
    set(*c, value);
    TBitmap shot;
    if (!PaintCounted(*c, shot)) return;
    EXPECT_TRUE(SanePicture(*c, shot, any_colour ? std::set<uint32_t>{} : palette));
  };
  // A held length at an end of int and at the extent on that side paint the same.
  auto same_as_held = [&](const std::string& row, const IntSetter<C>& set, int value) {
    SCOPED_TRACE(table.control + "." + row + " = " + ValueText(value) + " against " +
                 ValueText(HoldToExtent(value)));
    TBitmap shots[2];
    for (int i = 0; i < 2; ++i) {
      std::unique_ptr<C> c(table.make());
      set(*c, i == 0 ? value : HoldToExtent(value));
      if (!PaintCounted(*c, shots[i])) return;
    }
    EXPECT_TRUE(SamePicture(shots[0], shots[1]));
  };
  for (const auto& p : table.properties) {
    any_colour = p.any_colour;
    if (auto* set = std::get_if<IntSetter<C>>(&p.set)) {
      for (int v : kInts) {
        check(p.name, *set, v);
        if (p.held && HoldToExtent(v) != v) same_as_held(p.name, *set, v);
      }
    } else
      for (double v : kFloats) check(p.name, std::get<FloatSetter<C>>(p.set), v);
  }
}

}  // namespace vant::painttable
