#include "g32.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>

#include "g32_drawingex.h"
#include "g32_picture.h"
#include "g32_transforms.h"

static_assert(std::endian::native == std::endian::little,
              "pixels and \"Data\" are stored little-endian, as held in memory");

namespace g32 {

void ListIndexError(int index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

// ---- Colours -------------------------------------------------------------------------------
namespace {

// The classic desktop scheme, used until the UI layer installs its own table.
uint32_t DefaultSystemColor(int index) {
  static const uint32_t kTable[] = {0xC8D0D4, 0xA56E3A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF,
                                    0x000000, 0x000000, 0x000000, 0xFFFFFF, 0xC8D0D4, 0xC8D0D4,
                                    0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4, 0x808080, 0x808080,
                                    0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000,
                                    0xE1FFFF, 0xB5B5B5, 0x800000, 0xF0CAA6, 0xC0C0C0};
  if (index >= 0 && index < int(std::size(kTable))) return kTable[index];
  return 0;
}
std::atomic<TSystemColorResolver> g_system_colors{DefaultSystemColor};

}  // namespace

void SetSystemColorResolver(TSystemColorResolver resolver) {
  g_system_colors = resolver ? resolver : DefaultSystemColor;
}

uint32_t ColorToRGB(TColor color) {
  if (color < 0) return g_system_colors.load()(color & 0xFF) & 0xFFFFFF;
  return uint32_t(color) & 0xFFFFFF;
}

TColor32 Color32(TColor WinColor) { return ColorSwap(ColorToRGB(WinColor)); }

TArrayOfColor32 ArrayOfColor32(std::span<const TColor32> Colors) {
  return TArrayOfColor32(Colors.begin(), Colors.end());
}

namespace {
inline int RoundInt(double v) { return SaturatedRound(v); }
}  // namespace

TColor32 HSLtoRGB(float H, float S, float L) {
  if (S == 0) {
    int g = RoundInt(L * 255);
    return Color32(uint8_t(Clamp(g)), uint8_t(Clamp(g)), uint8_t(Clamp(g)), 255);
  }
  float m2 = L <= 0.5f ? L * (1 + S) : L + S - L * S;
  float m1 = 2 * L - m2;
  auto channel = [&](float h) {
    h = h - std::floor(h);
    float v;
    if (6 * h < 1)
      v = m1 + (m2 - m1) * h * 6;
    else if (2 * h < 1)
      v = m2;
    else if (3 * h < 2)
      v = m1 + (m2 - m1) * (2.0f / 3 - h) * 6;
    else
      v = m1;
    return uint8_t(Clamp(RoundInt(v * 255)));
  };
  return Color32(channel(H + 1.0f / 3), channel(H), channel(H - 1.0f / 3), 255);
}

void RGBtoHSL(TColor32 RGB, float& H, float& S, float& L) {
  float r = RedComponent(RGB) / 255.0f, g = GreenComponent(RGB) / 255.0f,
        b = BlueComponent(RGB) / 255.0f;
  float mx = std::max({r, g, b}), mn = std::min({r, g, b});
  L = (mx + mn) / 2;
  if (mx == mn) {
    H = 0;
    S = 0;
    return;
  }
  float d = mx - mn;
  S = L < 0.5f ? d / (mx + mn) : d / (2 - mx - mn);
  if (r == mx)
    H = (g - b) / d;
  else if (g == mx)
    H = 2 + (b - r) / d;
  else
    H = 4 + (r - g) / d;
  H /= 6;
  if (H < 0) H += 1;
}

// ---- Fixed point and geometry ---------------------------------------------------------------
TFixed Fixed(float S) { return TFixed(SaturatedRound(double(S) * 65536.0)); }

TPoint Point(const TFloatPoint& P) { return {RoundInt(P.X), RoundInt(P.Y)}; }

TRect MakeRect(const TFloatRect& R, TRectRounding Rounding) {
  TRect r;
  switch (Rounding) {
    case rrClosest:
      r = {RoundInt(R.Left), RoundInt(R.Top), RoundInt(R.Right), RoundInt(R.Bottom)};
      break;
    case rrOutside:
      r = {SaturatedInt(std::floor(R.Left)), SaturatedInt(std::floor(R.Top)),
           SaturatedInt(std::ceil(R.Right)), SaturatedInt(std::ceil(R.Bottom))};
      break;
    case rrInside:
      r = {SaturatedInt(std::ceil(R.Left)), SaturatedInt(std::ceil(R.Top)),
           SaturatedInt(std::floor(R.Right)), SaturatedInt(std::floor(R.Bottom))};
      if (r.Right < r.Left) r.Right = r.Left;
      if (r.Bottom < r.Top) r.Bottom = r.Top;
      break;
  }
  return r;
}

TRect MakeRect(const TFixedRect& R, TRectRounding Rounding) {
  TRect r;
  switch (Rounding) {
    case rrClosest:
      r = {FixedRound(R.Left), FixedRound(R.Top), FixedRound(R.Right), FixedRound(R.Bottom)};
      break;
    case rrOutside:
      r = {FixedFloor(R.Left), FixedFloor(R.Top), FixedCeil(R.Right), FixedCeil(R.Bottom)};
      break;
    case rrInside:
      r = {FixedCeil(R.Left), FixedCeil(R.Top), FixedFloor(R.Right), FixedFloor(R.Bottom)};
      if (r.Right < r.Left) r.Right = r.Left;
      if (r.Bottom < r.Top) r.Bottom = r.Top;
      break;
  }
  return r;
}

TRect IntersectRect(const TRect& A, const TRect& B) {
  TRect r{std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
          std::min(A.Bottom, B.Bottom)};
  if (IsRectEmpty(r)) return {};
  return r;
}

// ---- Gamma ---------------------------------------------------------------------------------
uint8_t GAMMA_TABLE[256];

void SetGamma(float Gamma) {
  for (int i = 0; i < 256; ++i) {
    GAMMA_TABLE[i] = uint8_t(RoundInt(std::pow(i / 255.0, double(Gamma)) * 255));
  }
}

namespace {
[[maybe_unused]] const bool kGammaAtStartup = (SetGamma(0.7f), true);
std::mutex g_lock_counters;  // guards only the lock counters
}  // namespace

// ---- TThreadPersistent ---------------------------------------------------------------------
void TThreadPersistent::EndUpdate() {
  if (update_count_ <= 0) {
    update_count_ = 0;
    throw EAssertionFailed("Unpaired TThreadPersistent.EndUpdate");
  }
  --update_count_;
}

void TThreadPersistent::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(this);
}

void TThreadPersistent::Lock() {
  {
    std::lock_guard<std::mutex> g(g_lock_counters);
    ++lock_count_;
  }
  section_.lock();
}

void TThreadPersistent::Unlock() {
  section_.unlock();
  std::lock_guard<std::mutex> g(g_lock_counters);
  --lock_count_;
}

int TThreadPersistent::LockCount() const {
  std::lock_guard<std::mutex> g(g_lock_counters);
  return lock_count_;
}

TChangedOnExit::~TChangedOnExit() noexcept(false) {
  if (std::uncaught_exceptions() > exceptions_) {
    try {
      target_.Changed();
    } catch (...) {
      // The exception already in flight is the one the caller must see.
    }
  } else {
    target_.Changed();
  }
}

// ---- TCustomMap ----------------------------------------------------------------------------
bool TCustomMap::SetSize(int NewWidth, int NewHeight) {
  if (NewWidth < 1) NewWidth = 0;
  if (NewHeight < 1) NewHeight = 0;
  if (NewWidth == width_ && NewHeight == height_) return false;
  StoreSize(NewWidth, NewHeight);
  Changed();
  Resized();
  return true;
}

bool TCustomMap::SetSize(const TCustomMap* Source) {
  if (!Source) return SetSize(0, 0);
  return SetSize(Source->Width(), Source->Height());
}

void TCustomMap::Resized() {
  if (OnResize) OnResize(this);
}

// ---- TBitmap32 -----------------------------------------------------------------------------
void TBitmap32::AlignedFree::operator()(TColor32* p) const { std::free(p); }

TBitmap32::TBitmap32() = default;

TBitmap32::~TBitmap32() {
  BeginUpdate();
  Lock();
  bits_.reset();
  Unlock();
}

bool TBitmap32::SetSize(int NewWidth, int NewHeight) {
  if (NewWidth < 1) NewWidth = 0;
  if (NewHeight < 1) NewHeight = 0;
  if (NewWidth == Width() && NewHeight == Height()) return false;
  bits_.reset();
  StoreSize(0, 0);
  bool failed = false;
  if (NewWidth > 0 && NewHeight > 0) {
    uint64_t bytes = uint64_t(NewWidth) * uint64_t(NewHeight) * 4;
    void* p = nullptr;
    if (bytes <= (uint64_t(1) << 34)) p = std::aligned_alloc(64, (bytes + 63) & ~uint64_t(63));
    if (p) {
      std::memset(p, 0, bytes);
      bits_.reset(static_cast<TColor32*>(p));
      StoreSize(NewWidth, NewHeight);
    } else {
      failed = true;
    }
  } else {
    StoreSize(NewWidth, NewHeight);
  }
  Changed();
  Resized();
  if (failed) throw EG32Error("Can't allocate the DIB handle");
  return true;
}

void TBitmap32::Clear(TColor32 FillColor) {
  if (Empty()) return;
  TChangedOnExit changed(*this);
  FillLongword(bits_.get(), int64_t(Width()) * Height(), FillColor);
}

void TBitmap32::ResetAlpha() {
  if (Empty()) return;
  TChangedOnExit changed(*this);
  TColor32* p = bits_.get();
  for (int64_t i = 0, n = int64_t(Width()) * Height(); i < n; ++i) p[i] |= 0xFF000000u;
}

void TBitmap32::Assign(const TBitmap32* Source) {
  if (Source == this) return;
  BeginUpdate();
  try {
    if (!Source) {
      SetSize(0, 0);
    } else {
      SetSize(Source);
      if (!Empty()) {
        std::memcpy(bits_.get(), Source->bits_.get(), size_t(Width()) * Height() * 4);
        draw_mode_ = Source->draw_mode_;
        master_alpha_ = Source->master_alpha_;
        OuterColor = Source->OuterColor;
        stretch_filter_ = Source->stretch_filter_;
      }
    }
  } catch (...) {
    EndUpdate();
    Changed();
    throw;
  }
  EndUpdate();
  Changed();
}

bool TBitmap32::Equal(const TBitmap32* Other) const {
  if (!Other) return false;
  if (Empty() && Other->Empty()) return true;
  if (Empty() || Other->Empty()) return false;
  if (Width() != Other->Width() || Height() != Other->Height()) return false;
  return std::memcmp(bits_.get(), Other->bits_.get(), size_t(Width()) * Height() * 4) == 0;
}

TColor32 TBitmap32::GetPixelS(int X, int Y) const {
  if (X >= 0 && X < Width() && Y >= 0 && Y < Height() && bits_) return GetPixel(X, Y);
  return OuterColor;
}

void TBitmap32::SetPixelS(int X, int Y, TColor32 V) {
  if (X >= 0 && X < Width() && Y >= 0 && Y < Height() && bits_) SetPixel(X, Y, V);
}

TColor32 TBitmap32::GetPixelB(int X, int Y) const {
  return GetPixel(Constrain(X, 0, Width() - 1), Constrain(Y, 0, Height() - 1));
}

void TBitmap32::SetPixelTS(int X, int Y, TColor32 V) {
  if (X >= 0 && X < Width() && Y >= 0 && Y < Height() && bits_) SetPixelT(X, Y, V);
}

void TBitmap32::SET_T256(int X, int Y, TColor32 C) {
  const uint8_t* g = GAMMA_TABLE;
  uint32_t fx = X & 255, fy = Y & 255, a = C >> 24;
  uint32_t cel = a * g[fx], flr = a * g[255 - fx];
  TColor32* p = GetPixelPtr(X >> 8, Y >> 8);
  const int w = Width();
  CombineMem(C, p[0], (flr * g[255 - fy]) >> 16);
  CombineMem(C, p[1], (cel * g[255 - fy]) >> 16);
  CombineMem(C, p[w + 1], (cel * g[fy]) >> 16);
  CombineMem(C, p[w], (flr * g[fy]) >> 16);
}

void TBitmap32::BlendPixelIfInside(int X, int Y, TColor32 C, uint32_t W) {
  if (X >= 0 && X < Width() && Y >= 0 && Y < Height()) CombineMem(C, *GetPixelPtr(X, Y), W);
}

void TBitmap32::SET_TS256(int X, int Y, TColor32 C) {
  if (X < -256 || Y < -256 || !bits_) return;
  int x = X >> 8, y = Y >> 8;
  if (x >= Width() || y >= Height()) return;
  const uint8_t* g = GAMMA_TABLE;
  uint32_t fx = X & 255, fy = Y & 255, a = C >> 24;
  uint32_t cel = a * g[fx], flr = a * g[255 - fx];
  BlendPixelIfInside(x, y, C, (flr * g[255 - fy]) >> 16);
  BlendPixelIfInside(x + 1, y, C, (cel * g[255 - fy]) >> 16);
  BlendPixelIfInside(x + 1, y + 1, C, (cel * g[fy]) >> 16);
  BlendPixelIfInside(x, y + 1, C, (flr * g[fy]) >> 16);
}

void TBitmap32::SetPixelF(float X, float Y, TColor32 V) {
  SET_T256(RoundInt(X * 256.0), RoundInt(Y * 256.0), V);
}
void TBitmap32::SetPixelFS(float X, float Y, TColor32 V) {
  SET_TS256(RoundInt(X * 256.0), RoundInt(Y * 256.0), V);
}
void TBitmap32::SetPixelX(TFixed X, TFixed Y, TColor32 V) {
  SET_T256(int((int64_t(X) + 127) >> 8), int((int64_t(Y) + 127) >> 8), V);
}
void TBitmap32::SetPixelXS(TFixed X, TFixed Y, TColor32 V) {
  SET_TS256(int((int64_t(X) + 127) >> 8), int((int64_t(Y) + 127) >> 8), V);
}

// ---- Horizontal and vertical lines ---------------------------------------------------------
void TBitmap32::HorzLine(int X1, int Y, int X2, TColor32 Value) {
  FillLongword(GetPixelPtr(X1, Y), int64_t(X2) - X1 + 1, Value);
}

void TBitmap32::HorzLineS(int X1, int Y, int X2, TColor32 Value) {
  if (Y >= 0 && Y < Height() && TestClip(X1, X2, Width())) HorzLine(X1, Y, X2, Value);
}

void TBitmap32::HorzLineT(int X1, int Y, int X2, TColor32 Value) {
  if (X2 < X1) return;
  TColor32* p = GetPixelPtr(X1, Y);
  for (int x = X1; x <= X2; ++x) BlendMem(Value, *p++);
}

void TBitmap32::HorzLineTS(int X1, int Y, int X2, TColor32 Value) {
  if (Y >= 0 && Y < Height() && TestClip(X1, X2, Width())) HorzLineT(X1, Y, X2, Value);
}

void TBitmap32::VertLine(int X, int Y1, int Y2, TColor32 Value) {
  if (Y2 < Y1) return;
  TColor32* p = GetPixelPtr(X, Y1);
  for (int y = Y1; y <= Y2; ++y, p += Width()) *p = Value;
}

void TBitmap32::VertLineS(int X, int Y1, int Y2, TColor32 Value) {
  if (X >= 0 && X < Width() && TestClip(Y1, Y2, Height())) VertLine(X, Y1, Y2, Value);
}

void TBitmap32::VertLineT(int X, int Y1, int Y2, TColor32 Value) {
  if (Y2 < Y1) return;
  TColor32* p = GetPixelPtr(X, Y1);
  for (int y = Y1; y <= Y2; ++y, p += Width()) BlendMem(Value, *p);
}

void TBitmap32::VertLineTS(int X, int Y1, int Y2, TColor32 Value) {
  if (X >= 0 && X < Width() && TestClip(Y1, Y2, Height())) VertLineT(X, Y1, Y2, Value);
}

namespace {
// Clamps both ends of a stippled span into 0..size-1; false when it lies wholly outside.
bool ClampSpan(int& a, int& b, int size) {
  if (size <= 0) return false;
  if ((a < 0 && b < 0) || (a >= size && b >= size)) return false;
  a = Constrain(a, 0, size - 1);
  b = Constrain(b, 0, size - 1);
  return true;
}
}  // namespace

void TBitmap32::HorzLineTSP(int X1, int Y, int X2) {
  if (Empty() || Y < 0 || Y >= Height() || !ClampSpan(X1, X2, Width())) return;
  int step = X1 <= X2 ? 1 : -1;
  for (int x = X1;; x += step) {
    SetPixelT(x, Y, GetStippleColor());
    if (x == X2) break;
  }
}

void TBitmap32::VertLineTSP(int X, int Y1, int Y2) {
  if (Empty() || X < 0 || X >= Width() || !ClampSpan(Y1, Y2, Height())) return;
  int step = Y1 <= Y2 ? 1 : -1;
  for (int y = Y1;; y += step) {
    SetPixelT(X, y, GetStippleColor());
    if (y == Y2) break;
  }
}

// ---- Integer lines -------------------------------------------------------------------------
namespace {

// The Bresenham walk shared by Line and LineT: exactly major-length pixels from (X1, Y1), then
// the end point when L is set.
template <typename Plot>
void WalkLine(int X1, int Y1, int X2, int Y2, bool L, Plot plot) {
  int64_t dx = int64_t(X2) - X1, dy = int64_t(Y2) - Y1;
  int sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  dx = dx < 0 ? -dx : dx;
  dy = dy < 0 ? -dy : dy;
  int x = X1, y = Y1;
  if (dx >= dy) {
    int64_t e = dx / 2;
    for (int64_t i = 0; i < dx; ++i) {
      plot(x, y);
      e += dy;
      x += sx;
      if (e > dx) {
        y += sy;
        e -= dx;
      }
    }
  } else {
    int64_t e = dy / 2;
    for (int64_t i = 0; i < dy; ++i) {
      plot(x, y);
      e += dx;
      y += sy;
      if (e > dy) {
        x += sx;
        e -= dy;
      }
    }
  }
  if (L) plot(X2, Y2);
}

}  // namespace

template <bool Blend>
void TBitmap32::LineImpl(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L) {
  TChangedOnExit changed(*this);
  auto plot = [&](int x, int y) {
    if constexpr (Blend)
      SetPixelT(x, y, Value);
    else
      SetPixel(x, y, Value);
  };
  if (X1 == X2 || Y1 == Y2) {
    // Straight lines run as spans from the first end towards the second, without the second.
    bool vertical = X1 == X2;
    int a = vertical ? Y1 : X1, b = vertical ? Y2 : X2;
    int lo = b > a ? a : b + 1, hi = b > a ? b - 1 : a;
    if (a != b) {
      if constexpr (Blend)
        vertical ? VertLineT(X1, lo, hi, Value) : HorzLineT(lo, Y1, hi, Value);
      else
        vertical ? VertLine(X1, lo, hi, Value) : HorzLine(lo, Y1, hi, Value);
    }
    if (L) plot(X2, Y2);
    return;
  }
  WalkLine(X1, Y1, X2, Y2, L, plot);
}

void TBitmap32::Line(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L) {
  LineImpl<false>(X1, Y1, X2, Y2, Value, L);
}

void TBitmap32::LineT(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L) {
  LineImpl<true>(X1, Y1, X2, Y2, Value, L);
}

void TBitmap32::LineS(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L) {
  if (ClipLine(X1, Y1, X2, Y2, 0, 0, Width() - 1, Height() - 1)) {
    Line(X1, Y1, X2, Y2, Value, L);
  } else {
    Changed();
  }
}

void TBitmap32::LineTS(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L) {
  int ex = X2, ey = Y2;
  if (ClipLine(X1, Y1, X2, Y2, 0, 0, Width() - 1, Height() - 1)) {
    if (ex != X2 || ey != Y2) L = true;
    LineT(X1, Y1, X2, Y2, Value, L);
  } else {
    Changed();
  }
}

void TBitmap32::LineA(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L) {
  if (X1 == X2 || Y1 == Y2) {
    LineT(X1, Y1, X2, Y2, Value, L);
    return;
  }
  TChangedOnExit changed(*this);
  const uint8_t* g = GAMMA_TABLE;
  int64_t dx = int64_t(X2) - X1, dy = int64_t(Y2) - Y1;
  int sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  dx = dx < 0 ? -dx : dx;
  dy = dy < 0 ? -dy : dy;
  BlendMem(Value, *GetPixelPtr(X1, Y1));
  // The carry is taken in 32 bits: at 45 degrees the increment is exactly 65,536.
  // Walk the major axis; the minor one steps on each carry.
  int x = X1, y = Y1;
  const bool xMajor = dx >= dy;
  int& major = xMajor ? x : y;
  int& minor = xMajor ? y : x;
  const int majorStep = xMajor ? sx : sy, minorStep = xMajor ? sy : sx;
  const int64_t majorLen = xMajor ? dx : dy, minorLen = xMajor ? dy : dx;
  const uint32_t inc = uint32_t((minorLen << 16) / majorLen);
  uint32_t e = 0;
  for (int64_t i = 0, n = L ? majorLen : majorLen - 1; i < n; ++i) {
    e += inc;
    if (e >= 0x10000) {
      minor += minorStep;
      e -= 0x10000;
    }
    major += majorStep;
    BlendMemEx(Value, *GetPixelPtr(x, y), g[(e >> 8) ^ 255]);
    // The neighbour is weighted like the pixel on the line: by the colour's alpha as well.
    const int nx = xMajor ? x : x + sx, ny = xMajor ? y + sy : y;
    if (uint32_t w = g[e >> 8]; w && nx >= 0 && nx < Width() && ny >= 0 && ny < Height())
      BlendMemEx(Value, *GetPixelPtr(nx, ny), w);
  }
}

void TBitmap32::LineAS(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L) {
  if (ClipLine(X1, Y1, X2, Y2, 0, 0, Width() - 1, Height() - 1)) {
    LineA(X1, Y1, X2, Y2, Value, L);
  } else {
    Changed();
  }
}

// ---- Fixed-point antialiased lines -----------------------------------------------------------
void TBitmap32::LineXImpl(int64_t X1, int64_t Y1, int64_t X2, int64_t Y2, TColor32 Value, bool L,
                          bool Safe, bool Stippled) {
  int64_t dx = X2 - X1, dy = Y2 - Y1;
  int64_t len = int64_t(std::nearbyint(std::hypot(double(dx), double(dy))));
  if (L) len += 0x10000;
  if (len < 0x100) return;
  int64_t stepX = int64_t(std::nearbyint(double(dx) * 65536.0 / double(len)));
  int64_t stepY = int64_t(std::nearbyint(double(dy) * 65536.0 / double(len)));
  auto put = [&](int64_t x256, int64_t y256, TColor32 c) {
    if (Safe)
      SET_TS256(int(x256), int(y256), c);
    else
      SET_T256(int(x256), int(y256), c);
  };
  int64_t x = X1, y = Y1;
  for (int64_t n = len >> 16; n > 0; --n) {
    put(x >> 8, y >> 8, Stippled ? GetStippleColor() : Value);
    x += stepX;
    y += stepY;
  }
  int64_t fraction = len & 0xFFFF;
  TColor32 c = Stippled ? GetStippleColor() : Value;
  c = SetAlpha(c, int((int64_t(c >> 24) * fraction) >> 16));
  put((x + X2 - stepX) >> 9, (y + Y2 - stepY) >> 9, c);
}

void TBitmap32::LineX(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L) {
  TChangedOnExit changed(*this);
  LineXImpl(X1, Y1, X2, Y2, Value, L, false, false);
}

void TBitmap32::LineXSImpl(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L,
                           bool Stippled) {
  TChangedOnExit changed(*this);
  if (Empty()) return;
  const int maxX = int(std::min<int64_t>(int64_t(Width()) << 16, INT32_MAX));
  const int maxY = int(std::min<int64_t>(int64_t(Height()) << 16, INT32_MAX));
  int ex = X2, ey = Y2;
  if (!ClipLine(X1, Y1, X2, Y2, -0x10000, -0x10000, maxX, maxY)) return;
  if (ex != X2 || ey != Y2) L = true;
  const int64_t limX = (int64_t(Width()) - 2) << 16, limY = (int64_t(Height()) - 2) << 16;
  auto inside = [&](int64_t x, int64_t y) { return x >= 0 && x < limX && y >= 0 && y < limY; };
  bool safe = !(inside(X1, Y1) && inside(X2, Y2));
  LineXImpl(X1, Y1, X2, Y2, Value, L, safe, Stippled);
}

void TBitmap32::LineXS(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L) {
  LineXSImpl(X1, Y1, X2, Y2, Value, L, false);
}
void TBitmap32::LineF(float X1, float Y1, float X2, float Y2, TColor32 Value, bool L) {
  LineX(Fixed(X1), Fixed(Y1), Fixed(X2), Fixed(Y2), Value, L);
}
void TBitmap32::LineFS(float X1, float Y1, float X2, float Y2, TColor32 Value, bool L) {
  LineXS(Fixed(X1), Fixed(Y1), Fixed(X2), Fixed(Y2), Value, L);
}
void TBitmap32::LineXP(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool L) {
  TChangedOnExit changed(*this);
  LineXImpl(X1, Y1, X2, Y2, 0, L, false, true);
}
void TBitmap32::LineXSP(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool L) {
  LineXSImpl(X1, Y1, X2, Y2, 0, L, true);
}
void TBitmap32::LineFP(float X1, float Y1, float X2, float Y2, bool L) {
  LineXP(Fixed(X1), Fixed(Y1), Fixed(X2), Fixed(Y2), L);
}
void TBitmap32::LineFSP(float X1, float Y1, float X2, float Y2, bool L) {
  LineXSP(Fixed(X1), Fixed(Y1), Fixed(X2), Fixed(Y2), L);
}

// ---- Pen -----------------------------------------------------------------------------------
void TBitmap32::LineToS(int X, int Y) {
  LineS(raster_x_, raster_y_, X, Y, PenColor);
  MoveTo(X, Y);
}
void TBitmap32::LineToTS(int X, int Y) {
  LineTS(raster_x_, raster_y_, X, Y, PenColor);
  MoveTo(X, Y);
}
void TBitmap32::LineToAS(int X, int Y) {
  LineAS(raster_x_, raster_y_, X, Y, PenColor);
  MoveTo(X, Y);
}
void TBitmap32::LineToXS(TFixed X, TFixed Y) {
  LineXS(raster_xf_, raster_yf_, X, Y, PenColor);
  MoveToX(X, Y);
}
void TBitmap32::LineToXSP(TFixed X, TFixed Y) {
  LineXSP(raster_xf_, raster_yf_, X, Y);
  MoveToX(X, Y);
}

// ---- Stipple -------------------------------------------------------------------------------
void TBitmap32::SetStipple(std::span<const TColor32> NewStipple) {
  stipple_.assign(NewStipple.begin(), NewStipple.end());
  StippleCounter = 0;
}

TColor32 TBitmap32::GetStippleColor() {
  const int n = int(stipple_.size());
  if (n == 0) return clBlack32;
  if (StippleCounter < 0 || StippleCounter >= n) {
    StippleCounter = std::fmod(StippleCounter, float(n));
    if (StippleCounter < 0) StippleCounter += n;
    if (StippleCounter >= n) StippleCounter = 0;
  }
  int i = int(StippleCounter);
  float f = StippleCounter - i;
  int w = 255 - RoundInt(f * 255);
  TColor32 r = w == 255 ? stipple_[i] : CombineReg(stipple_[i], stipple_[(i + 1) % n], w);
  StippleCounter += StippleStep;
  return r;
}

// ---- Rectangles ----------------------------------------------------------------------------
void TBitmap32::FillRect(int X1, int Y1, int X2, int Y2, TColor32 Value) {
  TChangedOnExit changed(*this);
  for (int y = Y1; y < Y2; ++y) FillLongword(GetPixelPtr(X1, y), int64_t(X2) - X1, Value);
}

namespace {
bool ClipToBitmap(int& X1, int& Y1, int& X2, int& Y2, int w, int h) {
  X1 = std::max(X1, 0), Y1 = std::max(Y1, 0), X2 = std::min(X2, w), Y2 = std::min(Y2, h);
  return X1 < X2 && Y1 < Y2;
}
}  // namespace

void TBitmap32::FillRectS(int X1, int Y1, int X2, int Y2, TColor32 Value) {
  if (!Empty() && ClipToBitmap(X1, Y1, X2, Y2, Width(), Height())) FillRect(X1, Y1, X2, Y2, Value);
}

void TBitmap32::FillRectT(int X1, int Y1, int X2, int Y2, TColor32 Value) {
  uint32_t a = Value >> 24;
  if (a == 255) {
    FillRect(X1, Y1, X2, Y2, Value);
    return;
  }
  TChangedOnExit changed(*this);
  for (int y = Y1; y < Y2; ++y) {
    TColor32* p = GetPixelPtr(X1, y);
    for (int x = X1; x < X2; ++x) CombineMem(Value, *p++, a);
  }
}

void TBitmap32::FillRectTS(int X1, int Y1, int X2, int Y2, TColor32 Value) {
  if (!Empty() && ClipToBitmap(X1, Y1, X2, Y2, Width(), Height())) FillRectT(X1, Y1, X2, Y2, Value);
}

namespace {
// Orders the sides and tells whether the rectangle has area.
bool Normalise(int& X1, int& Y1, int& X2, int& Y2) {
  TestSwap(X1, X2);
  TestSwap(Y1, Y2);
  return X1 < X2 && Y1 < Y2;
}
}  // namespace

void TBitmap32::FrameRectS(int X1, int Y1, int X2, int Y2, TColor32 Value) {
  TChangedOnExit changed(*this);
  if (!Normalise(X1, Y1, X2, Y2)) return;
  --X2, --Y2;
  HorzLineS(X1, Y1, X2, Value);
  if (Y2 != Y1) HorzLineS(X1, Y2, X2, Value);
  if (Y2 > Y1 + 1) {
    VertLineS(X1, Y1 + 1, Y2 - 1, Value);
    if (X2 != X1) VertLineS(X2, Y1 + 1, Y2 - 1, Value);
  }
}

void TBitmap32::FrameRectTS(int X1, int Y1, int X2, int Y2, TColor32 Value) {
  TChangedOnExit changed(*this);
  if (!Normalise(X1, Y1, X2, Y2)) return;
  --X2, --Y2;
  HorzLineTS(X1, Y1, X2, Value);
  if (Y2 != Y1) HorzLineTS(X1, Y2, X2, Value);
  if (Y2 > Y1 + 1) {
    VertLineTS(X1, Y1 + 1, Y2 - 1, Value);
    if (X2 != X1) VertLineTS(X2, Y1 + 1, Y2 - 1, Value);
  }
}

void TBitmap32::FrameRectTSP(int X1, int Y1, int X2, int Y2) {
  TChangedOnExit changed(*this);
  if (Empty() || !Normalise(X1, Y1, X2, Y2)) return;
  --X2, --Y2;
  if (X1 == X2 && Y1 == Y2) {
    TColor32 c = GetStippleColor();
    SetPixelTS(X1, Y1, c);
  } else if (X1 == X2) {
    VertLineTSP(X1, Y1, Y2);
  } else if (Y1 == Y2) {
    HorzLineTSP(X1, Y1, X2);
  } else {
    // Clockwise from the top-left corner, each corner once.
    HorzLineTSP(X1, Y1, X2 - 1);
    VertLineTSP(X2, Y1, Y2 - 1);
    HorzLineTSP(X2, Y2, X1 + 1);
    VertLineTSP(X1, Y2, Y1 + 1);
  }
}

void TBitmap32::RaiseRectTS(int X1, int Y1, int X2, int Y2, int Contrast) {
  TChangedOnExit changed(*this);
  if (Contrast == 0 || Empty() || !Normalise(X1, Y1, X2, Y2)) return;
  if (X2 <= 0 || Y2 <= 0 || X1 >= Width() || Y1 >= Height()) return;
  int64_t c = Contrast;
  auto level = [](int64_t v) { return int(std::clamp<int64_t>(v, 0, 255)); };
  TColor32 c1, c2;
  if (c > 0) {
    c1 = SetAlpha(clWhite32, level(c * 512 / 100));
    c2 = SetAlpha(clBlack32, level(c * 255 / 100));
  } else {
    c1 = SetAlpha(clBlack32, level(-c * 255 / 100));
    c2 = SetAlpha(clWhite32, level(-c * 512 / 100));
  }
  HorzLineTS(X1, Y1, X2 - 1, c1);
  HorzLineTS(X1, Y2 - 1, X2 - 1, c2);
  if (Y2 - 2 >= Y1 + 1) {
    VertLineTS(X1, Y1 + 1, Y2 - 2, c1);
    VertLineTS(X2 - 1, Y1 + 1, Y2 - 2, c2);
  }
}

// ---- Drawing between bitmaps ---------------------------------------------------------------
void TBitmap32::DrawTo(TBitmap32* Dst, int DstX, int DstY) const {
  if (Empty() || !Dst || Dst->Empty()) return;
  TChangedOnExit changed(*Dst);
  BlockTransfer(Dst, DstX, DstY, this, BoundsRect(), draw_mode_, OnPixelCombine);
}

void TBitmap32::DrawTo(TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect) const {
  if (Empty() || !Dst || Dst->Empty()) return;
  TChangedOnExit changed(*Dst);
  StretchTransfer(Dst, DstRect, this, SrcRect, stretch_filter_, draw_mode_, OnPixelCombine);
}

void TBitmap32::Draw(int DstX, int DstY, const TBitmap32* Src) {
  if (Src) Src->DrawTo(this, DstX, DstY);
}

void TBitmap32::Draw(const TRect& DstRect, const TRect& SrcRect, const TBitmap32* Src) {
  if (Src) Src->DrawTo(this, DstRect, SrcRect);
}

// ---- Roll ----------------------------------------------------------------------------------
void TBitmap32::Roll(int Dx, int Dy, bool FillBack, TColor32 FillColor) {
  if (Empty() || (Dx == 0 && Dy == 0)) return;
  TChangedOnExit changed(*this);
  const int w = Width(), h = Height();
  if (std::abs(int64_t(Dx)) >= w || std::abs(int64_t(Dy)) >= h) {
    if (FillBack) FillLongword(bits_.get(), int64_t(w) * h, FillColor);
    return;
  }
  const int64_t n = int64_t(w) * h, shift = int64_t(Dy) * w + Dx;
  TColor32* p = bits_.get();
  if (shift > 0)
    std::memmove(p + shift, p, size_t(n - shift) * 4);
  else
    std::memmove(p, p - shift, size_t(n + shift) * 4);
  if (!FillBack) return;
  if (Dy > 0) FillLongword(p, int64_t(Dy) * w, FillColor);
  if (Dy < 0) FillLongword(p + int64_t(h + Dy) * w, int64_t(-Dy) * w, FillColor);
  if (Dx != 0) {
    int x0 = Dx > 0 ? 0 : w + Dx, count = std::abs(Dx);
    for (int y = 0; y < h; ++y) FillLongword(p + int64_t(y) * w + x0, count, FillColor);
  }
}

// ---- Properties ----------------------------------------------------------------------------
void TBitmap32::SetDrawMode(TDrawMode Value) {
  if (draw_mode_ == Value) return;
  draw_mode_ = Value;
  Changed();
}

void TBitmap32::SetMasterAlpha(int64_t Value) {
  uint32_t v = uint32_t(std::clamp<int64_t>(Value, 0, 255));
  if (master_alpha_ == v) return;
  master_alpha_ = v;
  Changed();
}

void TBitmap32::SetStretchFilter(TStretchFilter Value) {
  if (stretch_filter_ == Value) return;
  stretch_filter_ = Value;
  Changed();
}

// ---- "Data" --------------------------------------------------------------------------------
namespace {

int32_t LoadInt32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The pixel bytes a "Data" header announces; raises before anything is allocated when the
// header asks for more than the cap or than the bytes that follow it.
uint64_t CheckedDataBytes(int32_t w, int32_t h, std::optional<uint64_t> available) {
  uint64_t ew = w < 1 ? 0 : uint64_t(w), eh = h < 1 ? 0 : uint64_t(h);
  uint64_t bytes = ew * eh * 4;
  if (bytes > TBitmap32::kMaxDataBytes || (available && bytes > *available)) {
    throw EReadError("Stream read error");
  }
  return bytes;
}

}  // namespace

void TBitmap32::ReadData(std::istream& Stream) {
  TChangedOnExit changed(*this);
  uint8_t header[8];
  if (!Stream.read(reinterpret_cast<char*>(header), 8)) {
    SetSize(0, 0);
    throw EReadError("Stream read error");
  }
  int32_t w = LoadInt32(header), h = LoadInt32(header + 4);
  std::optional<uint64_t> available;
  std::streampos here = Stream.tellg();
  if (here != std::streampos(-1) && Stream.seekg(0, std::ios::end)) {
    std::streampos end = Stream.tellg();
    Stream.seekg(here);
    if (end != std::streampos(-1) && end >= here) available = uint64_t(end - here);
  }
  Stream.clear();
  uint64_t bytes;
  try {
    bytes = CheckedDataBytes(w, h, available);
  } catch (...) {
    SetSize(0, 0);
    throw;
  }
  SetSize(w, h);
  if (bytes && !Stream.read(reinterpret_cast<char*>(bits_.get()), std::streamsize(bytes))) {
    throw EReadError("Stream read error");
  }
}

void TBitmap32::ReadData(std::span<const uint8_t> Data) {
  TChangedOnExit changed(*this);
  uint64_t bytes = 0;
  try {
    if (Data.size() < 8) throw EReadError("Stream read error");
    bytes = CheckedDataBytes(LoadInt32(Data.data()), LoadInt32(Data.data() + 4), Data.size() - 8);
  } catch (...) {
    SetSize(0, 0);
    throw;
  }
  SetSize(LoadInt32(Data.data()), LoadInt32(Data.data() + 4));
  if (bytes) std::memcpy(bits_.get(), Data.data() + 8, bytes);
}

void TBitmap32::WriteData(std::ostream& Stream) const {
  int32_t size[2] = {Width(), Height()};
  Stream.write(reinterpret_cast<const char*>(size), 8);
  if (bits_) {
    Stream.write(reinterpret_cast<const char*>(bits_.get()),
                 std::streamsize(uint64_t(Width()) * Height() * 4));
  }
}

std::string TBitmap32::WriteData() const {
  std::ostringstream s;
  WriteData(s);
  return std::move(s).str();
}

bool TBitmap32::DataIsStored(const TBitmap32* Ancestor) const {
  if (Ancestor) return !Equal(Ancestor);
  return !Empty();
}

// ---- Pictures ------------------------------------------------------------------------------
void AssignPicture(TBitmap32& bmp, const TDecodedPicture& pic) {
  bmp.BeginUpdate();
  try {
    bmp.SetSize(pic.Width, pic.Height);
    if (!bmp.Empty()) {
      std::memcpy(bmp.Bits(), pic.Pixels.data(), size_t(pic.Width) * pic.Height * 4);
      if (!pic.HasAlpha) bmp.ResetAlpha();
    }
  } catch (...) {
    bmp.EndUpdate();
    bmp.Changed();
    throw;
  }
  bmp.EndUpdate();
  bmp.Changed();
}

void TBitmap32::LoadFromStream(std::istream& Stream) { AssignPicture(*this, ReadBMP(Stream)); }

void TBitmap32::SaveToStream(std::ostream& Stream) const { WriteBMP(Stream, *this); }

void TBitmap32::LoadFromFile(const std::string& FileName) {
  AssignPicture(*this, LoadPictureFile(FileName));
}

void TBitmap32::SaveToFile(const std::string& FileName) const { SaveBMPFile(FileName, *this); }

}  // namespace g32
