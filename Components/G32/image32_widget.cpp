#include "image32_widget.h"

#include <QImage>
#include <mutex>

#include "g32_transforms.h"
#include "ui_qt.h"

namespace g32 {

namespace {
constexpr std::pair<vant::TShiftFlag, unsigned> kShiftMap[] = {
    {vant::ssShift, ssShift},  {vant::ssAlt, ssAlt},     {vant::ssCtrl, ssCtrl},
    {vant::ssLeft, ssLeft},    {vant::ssRight, ssRight}, {vant::ssMiddle, ssMiddle},
    {vant::ssDouble, ssDouble}};
}  // namespace

TShiftState ShiftBits(const vant::TShiftState& s) {
  TShiftState bits = 0;
  for (auto [flag, bit] : kShiftMap)
    if (s.count(flag)) bits |= bit;
  return bits;
}

vant::TShiftState ShiftSet(TShiftState bits) {
  vant::TShiftState s;
  for (auto [flag, bit] : kShiftMap)
    if (bits & bit) s.insert(flag);
  return s;
}

namespace {
TMouseButton ButtonOf(vant::TMouseButton b) {
  return b == vant::mbRight ? mbRight : b == vant::mbMiddle ? mbMiddle : mbLeft;
}
vant::TMouseButton ButtonOf(TMouseButton b) {
  return b == mbRight ? vant::mbRight : b == mbMiddle ? vant::mbMiddle : vant::mbLeft;
}
}  // namespace

void PresentOnCanvas(vant::TCanvas& Canvas, const TBitmap32& Buffer, const TRect& Viewport) {
  QImage* surface = Canvas.Surface();
  if (!surface || Buffer.Empty()) return;
  // Our own copy, never QPainter: the surface shows exactly the buffer's colours.
  const int x0 = std::max(Viewport.Left, 0), y0 = std::max(Viewport.Top, 0);
  const int x1 = std::min({Viewport.Right, Buffer.Width(), surface->width()});
  const int y1 = std::min({Viewport.Bottom, Buffer.Height(), surface->height()});
  if (surface->format() != QImage::Format_RGB32 && surface->format() != QImage::Format_ARGB32)
    *surface = surface->convertToFormat(QImage::Format_RGB32);
  for (int y = y0; y < y1; ++y) {
    const TColor32* s = Buffer.GetScanLine(y);
    auto* d = reinterpret_cast<uint32_t*>(surface->scanLine(y));
    for (int x = x0; x < x1; ++x) d[x] = s[x] | 0xFF000000u;
  }
}

void DrawTo(const TBitmap32& Src, vant::TCanvas& Canvas, int X, int Y) {
  DrawTo(Src, Canvas, {X, Y, X + Src.Width(), Y + Src.Height()}, Src.BoundsRect());
}

void DrawTo(const TBitmap32& Src, vant::TCanvas& Canvas, const TRect& DstRect,
            const TRect& SrcRect) {
  QImage* surface = Canvas.Surface();
  if (!surface || Src.Empty() || IsRectEmpty(DstRect)) return;
  TRect visible = IntersectRect(DstRect, {0, 0, surface->width(), surface->height()});
  if (IsRectEmpty(visible)) return;
  TBitmap32 staged;
  staged.SetSize(visible.Width(), visible.Height());
  TRect at = DstRect;
  OffsetRect(at, -visible.Left, -visible.Top);
  StretchTransfer(&staged, at, &Src, IntersectRect(SrcRect, Src.BoundsRect()), sfNearest, dmOpaque);
  for (int y = 0; y < staged.Height(); ++y) {
    auto* d = reinterpret_cast<uint32_t*>(surface->scanLine(visible.Top + y)) + visible.Left;
    const TColor32* s = staged.GetScanLine(y);
    for (int x = 0; x < staged.Width(); ++x) d[x] = s[x] | 0xFF000000u;
  }
}

void Draw(TBitmap32& Dst, const TRect& DstRect, const TRect& SrcRect, vant::TCanvas& Canvas) {
  const QImage* surface = Canvas.Surface();
  if (!surface || Dst.Empty()) return;
  TRect src = IntersectRect(SrcRect, {0, 0, surface->width(), surface->height()});
  if (IsRectEmpty(src)) return;
  TBitmap32 staged;
  staged.SetSize(src.Width(), src.Height());
  const QImage rgb = surface->convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < src.Height(); ++y) {
    const auto* s = reinterpret_cast<const uint32_t*>(rgb.constScanLine(src.Top + y)) + src.Left;
    TColor32* d = staged.GetScanLine(y);
    for (int x = 0; x < src.Width(); ++x) d[x] = s[x] | 0xFF000000u;
  }
  TRect dst = DstRect;
  // The part of SrcRect outside the canvas maps to the matching part of DstRect.
  if (src != SrcRect && SrcRect.Width() > 0 && SrcRect.Height() > 0) {
    auto map = [](int v, int a0, int a1, int b0, int b1) {
      return b0 + int((int64_t(v) - a0) * (b1 - b0) / (a1 - a0));
    };
    dst = {map(src.Left, SrcRect.Left, SrcRect.Right, DstRect.Left, DstRect.Right),
           map(src.Top, SrcRect.Top, SrcRect.Bottom, DstRect.Top, DstRect.Bottom),
           map(src.Right, SrcRect.Left, SrcRect.Right, DstRect.Left, DstRect.Right),
           map(src.Bottom, SrcRect.Top, SrcRect.Bottom, DstRect.Top, DstRect.Bottom)};
  }
  TChangedOnExit changed(Dst);
  StretchTransfer(&Dst, dst, &staged, staged.BoundsRect(), sfNearest, dmOpaque);
}

// ---- TImage32 ------------------------------------------------------------------------------
TImage32::TImage32(vant::TComponent* Owner) : TImage32(Owner, nullptr) {}

TImage32::TImage32(vant::TComponent* Owner, std::unique_ptr<TCustomImage32> Core)
    : vant::TCustomControl(Owner),
      core_(Core ? std::move(Core) : std::make_unique<TCustomImage32>()) {
  core_->SetHost(this);
  InstallQtGraphics();
  SetControlStyle(ControlStyle() | vant::csAcceptsControls | vant::csCaptureMouse |
                  vant::csClickEvents | vant::csOpaque | vant::csDoubleClicks);
  SetColor(vant::clWindow);
  SetParentColor(true);
  core_->OnChange = [this](g32::TObject*) {
    if (OnChange) OnChange(this);
  };
  core_->OnBitmapResize = [this](g32::TObject*) {
    if (OnBitmapResize) OnBitmapResize(this);
  };
  core_->OnMouseDown = [this](g32::TObject*, TMouseButton b, TShiftState s, int x, int y,
                              TCustomLayer* l) {
    if (OnMouseDown) OnMouseDown(this, ButtonOf(b), ShiftSet(s), x, y, l);
  };
  core_->OnMouseUp = [this](g32::TObject*, TMouseButton b, TShiftState s, int x, int y,
                            TCustomLayer* l) {
    if (OnMouseUp) OnMouseUp(this, ButtonOf(b), ShiftSet(s), x, y, l);
  };
  core_->OnMouseMove = [this](g32::TObject*, TShiftState s, int x, int y, TCustomLayer* l) {
    if (OnMouseMove) OnMouseMove(this, ShiftSet(s), x, y, l);
  };
  SetBounds(0, 0, 192, 192);
}

TImage32::~TImage32() { core_->SetHost(nullptr); }

void TImage32::SetAutoSize(bool Value) {
  core_->AutoSize = Value;
  if (Value && !core_->GetBitmap()->Empty()) {
    int w = GetWidth(), h = GetHeight();
    core_->Align = TAlign(int(GetAlign()));  // the same order in both enumerations
    core_->CanAutoSize(w, h);
    SetBounds(GetLeft(), GetTop(), w, h);
  }
}

void TImage32::SetBounds(int Left, int Top, int Width, int Height) {
  vant::TCustomControl::SetBounds(Left, Top, Width, Height);
  if (!in_host_bounds_) core_->UpdateBounds(GetLeft(), GetTop(), GetWidth(), GetHeight());
}

void TImage32::Loaded() {
  vant::TCustomControl::Loaded();
  core_->Loaded();
}

void TImage32::Paint() {
  core_->Color = GetColor();
  core_->Designing = false;
  core_->Paint();
}

void TImage32::MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  core_->Cursor = GetCursor();
  core_->MouseDown(ButtonOf(b), ShiftBits(s), x, y);
}

void TImage32::MouseMove(vant::TShiftState s, int x, int y) {
  core_->Cursor = GetCursor();
  core_->MouseMove(ShiftBits(s), x, y);
}

void TImage32::MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  core_->MouseUp(ButtonOf(b), ShiftBits(s), x, y);
}

void TImage32::MouseEnter() {
  vant::TCustomControl::MouseEnter();
  core_->MouseEnter();
}

void TImage32::MouseLeave() {
  core_->MouseLeave();
  vant::TCustomControl::MouseLeave();
}

void TImage32::HostInvalidate() { Invalidate(); }
void TImage32::HostRepaint() { Repaint(); }

void TImage32::HostPresent(const TBitmap32& Buffer, const TRect& Viewport) {
  PresentOnCanvas(Canvas(), Buffer, Viewport);
}

void TImage32::HostSetBounds(int Left, int Top, int Width, int Height) {
  in_host_bounds_ = true;
  try {
    vant::TCustomControl::SetBounds(Left, Top, Width, Height);
  } catch (...) {
    in_host_bounds_ = false;
    throw;
  }
  in_host_bounds_ = false;
}

void TImage32::HostSetCursor(TCursor Cursor) {
  // The widget's own cursor, not the application's.
  if (!Host()) return;
  if (Cursor == vant::crDefault)
    Host()->unsetCursor();
  else
    Host()->setCursor(vant::ToQCursor(Cursor));
}

// ---- TPaintBox32 --------------------------------------------------------------------------
TPaintBox32::TPaintBox32(vant::TComponent* Owner) : vant::TCustomControl(Owner), core_(this) {
  core_.OnPaintBuffer = [this](g32::TObject*) {
    if (OnPaintBuffer) OnPaintBuffer(this);
  };
  SetBounds(0, 0, 192, 192);
}

void TPaintBox32::SetBounds(int Left, int Top, int Width, int Height) {
  vant::TCustomControl::SetBounds(Left, Top, Width, Height);
  core_.UpdateBounds(GetLeft(), GetTop(), GetWidth(), GetHeight());
}

void TPaintBox32::Paint() { core_.Paint(); }

void TPaintBox32::HostPresent(const TBitmap32& Buffer, const TRect& Viewport) {
  PresentOnCanvas(Canvas(), Buffer, Viewport);
}

}  // namespace g32
