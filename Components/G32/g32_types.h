#pragma once
// Plain types of the graphics library: pixels, fixed-point numbers, points and rectangles, the
// library's exception classes and the notification base every notifying object derives from.
#include <cstdint>
#include <functional>
#include <vector>

#include "exceptions.h"
#include "g32_lowlevel.h"

namespace g32 {

// A = bits 24..31, R 16..23, G 8..15, B 0..7; in memory B, G, R, A.
using PColor32 = TColor32*;
using TColor32Array = TColor32[];
using PColor32Array = TColor32*;
using TArrayOfColor32 = std::vector<TColor32>;
using TPalette32 = TColor32[256];
// The framework's colour: 0x00BBGGRR, or a system colour (high bit set, index in the low byte).
using TColor = int32_t;

// 16.16 fixed point.
using TFixed = int32_t;
constexpr TFixed FixedOne = 0x10000;

struct TPoint {
  int X = 0, Y = 0;
  bool operator==(const TPoint&) const = default;
};
struct TFixedPoint {
  TFixed X = 0, Y = 0;
  bool operator==(const TFixedPoint&) const = default;
};
struct TFloatPoint {
  float X = 0, Y = 0;
  bool operator==(const TFloatPoint&) const = default;
};
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};
struct TFloatRect {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TFloatRect&) const = default;
};
struct TFixedRect {
  TFixed Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TFixedRect&) const = default;
};
enum TRectRounding { rrClosest, rrOutside, rrInside };

using TArrayOfByte = std::vector<uint8_t>;
using TArrayOfInteger = std::vector<int>;
using TArrayOfSingle = std::vector<float>;
using TArrayOfPoint = std::vector<TPoint>;
using TArrayOfFixedPoint = std::vector<TFixedPoint>;
using TArrayOfFloatPoint = std::vector<TFloatPoint>;
using TArrayOfArrayOfFixedPoint = std::vector<TArrayOfFixedPoint>;
using TArrayOfArrayOfFloatPoint = std::vector<TArrayOfFloatPoint>;

using vant::Exception;

// Root of the library's notifying objects; events pass it as their sender.
class TObject {
 public:
  virtual ~TObject() = default;
};
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Errors of the library's own objects ("Can't allocate the DIB handle", ...).
VANT_DECLARE_EXCEPTION(EG32Error, Exception);
// A broken internal rule ("Unpaired TThreadPersistent.EndUpdate", ...).
VANT_DECLARE_EXCEPTION(EAssertionFailed, Exception);
// An index outside a list ("List index out of bounds (5)", "Invalid stage index").
VANT_DECLARE_EXCEPTION(EListError, Exception);
// An assignment between classes that do not support it.
VANT_DECLARE_EXCEPTION(EConvertError, Exception);
// A stream that ends before the data it promised.
VANT_DECLARE_EXCEPTION(EReadError, Exception);
// A picture format that cannot be read or written here.
VANT_DECLARE_EXCEPTION(EInvalidGraphic, Exception);

// "List index out of bounds (%d)" of the framework's lists.
[[noreturn]] void ListIndexError(int index);

}  // namespace g32
