#include "g32_image.h"

#include <algorithm>
#include <cmath>

namespace g32 {

// ---- TCustomPaintBox32 ---------------------------------------------------------------------
TCustomPaintBox32::TCustomPaintBox32(TPaintBoxHost* Host) : host_(Host ? Host : &no_host_) {
  buffer_.BeginUpdate();  // never lowered: the buffer raises no change events
}

TCustomPaintBox32::~TCustomPaintBox32() = default;

void TCustomPaintBox32::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  host_->HostSetBounds(ALeft, ATop, AWidth, AHeight);
  UpdateBounds(ALeft, ATop, AWidth, AHeight);
}

void TCustomPaintBox32::UpdateBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  const bool resized = AWidth != width_ || AHeight != height_;
  Left = ALeft, Top = ATop, width_ = AWidth, height_ = AHeight;
  if (resized) Resize();
  Invalidate();
}

void TCustomPaintBox32::Resize() {
  ResizeBuffer();
  buffer_valid_ = false;
}

void TCustomPaintBox32::Loaded() { Invalidate(); }

void TCustomPaintBox32::SetBufferOversize(int Value) {
  buffer_oversize_ = std::max(Value, 0);
  ResizeBuffer();
}

void TCustomPaintBox32::ResizeBuffer() {
  TRect v = GetViewportRect();
  const int w = std::max(v.Width(), 0), h = std::max(v.Height(), 0);
  const int bw = buffer_.Width(), bh = buffer_.Height(), d = buffer_oversize_;
  if (w == bw && h == bh) return;
  // Grow with a margin; shrink only when the viewport is more than the margin smaller.
  auto side = [d](int want, int have) {
    if (want > have) return want + d;
    if (want >= have - d) return have;
    return want;
  };
  const int nw = side(w, bw), nh = side(h, bh);
  if (nw == bw && nh == bh) return;
  buffer_.SetSize(nw, nh);
  buffer_valid_ = false;
}

void TCustomPaintBox32::Paint() {
  ResizeBuffer();
  if (!buffer_valid_) DoPaintBuffer();
  buffer_.Lock();
  try {
    host_->HostPresent(buffer_, GetViewportRect());
  } catch (...) {
    buffer_.Unlock();
    throw;
  }
  buffer_.Unlock();
  DoPaintGDIOverlay();
}

void TCustomPaintBox32::Invalidate() {
  buffer_valid_ = false;
  host_->HostInvalidate();
}

void TCustomPaintBox32::Flush(const TRect& R) {
  TRect r = IntersectRect(R, GetViewportRect());
  if (IsRectEmpty(r)) return;
  buffer_.Lock();
  try {
    host_->HostPresent(buffer_, r);
  } catch (...) {
    buffer_.Unlock();
    throw;
  }
  buffer_.Unlock();
}

void TCustomPaintBox32::DoPaintGDIOverlay() {
  if (OnGDIOverlay) OnGDIOverlay(this);
}

void TPaintBox32Core::DoPaintBuffer() {
  if (OnPaintBuffer) OnPaintBuffer(this);
}

// ---- TPaintStages --------------------------------------------------------------------------
TPaintStage* TPaintStages::Add() {
  stages_.push_back({});
  return &stages_.back();
}

TPaintStage* TPaintStages::Insert(int Index) {
  Index = std::clamp(Index, 0, Count());
  return &*stages_.insert(stages_.begin() + Index, TPaintStage{});
}

void TPaintStages::Delete(int Index) {
  if (Index < 0 || Index >= Count()) throw EListError("Invalid stage index");
  stages_.erase(stages_.begin() + Index);
}

// ---- TCustomImage32 ------------------------------------------------------------------------
TCustomImage32::TCustomImage32(TPaintBoxHost* Host)
    : TCustomPaintBox32(Host),
      bitmap_(std::make_unique<TBitmap32>()),
      layers_(std::make_unique<TLayerCollection>(this)) {
  bitmap_->OnChange = [this](TObject*) { Changed(); };
  bitmap_->OnResize = [this](TObject*) { BitmapResized(); };
  layers_->CoordXForm = &cache_;
  layers_->OnChange = [this](TObject*) { Changed(); };
  layers_->OnGDIUpdate = [this](TObject*) { this->Host().HostRepaint(); };
  layers_->GetOwnerCursor = [this] { return Cursor; };
  layers_->SetShownCursor = [this](TCursor c) { this->Host().HostSetCursor(c); };
  InitDefaultStages();
}

TCustomImage32::~TCustomImage32() {
  ++update_count_;
  stages_.Clear();
  layers_.reset();
  bitmap_->OnChange = nullptr;
  bitmap_->OnResize = nullptr;
  bitmap_.reset();
}

void TCustomImage32::InitDefaultStages() {
  auto add = [this](bool design, bool run, uint32_t code, uint32_t parameter = 0) {
    TPaintStage* s = stages_.Add();
    *s = {design, run, code, parameter};
  };
  add(true, true, PST_CLEAR_BACKGND);
  add(true, false, PST_CONTROL_FRAME);
  add(true, true, PST_DRAW_BITMAP);
  add(true, false, PST_BITMAP_FRAME);
  add(true, true, PST_DRAW_LAYERS, LOB_VISIBLE);
}

void TCustomImage32::SetBitmap(const TBitmap32* Source) {
  InvalidateCache();
  bitmap_->Assign(Source);
}

void TCustomImage32::SetBitmapAlign(TBitmapAlign Value) {
  InvalidateCache();
  bitmap_align_ = Value;
  Changed();
}

void TCustomImage32::SetScale(float Value) {
  Value = std::max(Value, 0.001f);
  if (Value == scale_) return;
  InvalidateCache();
  scale_ = Value;
  DoScaleChange();
  Changed();
}

void TCustomImage32::SetScaleMode(TScaleMode Value) {
  if (Value == scale_mode_) return;
  InvalidateCache();
  scale_mode_ = Value;
  Changed();
}

void TCustomImage32::SetOffsetHorz(float Value) {
  if (Value == offset_horz_) return;
  InvalidateCache();
  offset_horz_ = Value;
  Changed();
}

void TCustomImage32::SetOffsetVert(float Value) {
  if (Value == offset_vert_) return;
  InvalidateCache();
  offset_vert_ = Value;
  Changed();
}

void TCustomImage32::SetOnPixelCombine(TPixelCombineEvent Value) {
  bitmap_->OnPixelCombine = std::move(Value);
  Changed();
}

void TCustomImage32::EndUpdate() {
  if (update_count_ <= 0) {
    update_count_ = 0;
    throw EAssertionFailed("Unpaired EndUpdate call");
  }
  --update_count_;
}

void TCustomImage32::Changed() {
  if (update_count_ != 0) return;
  Invalidate();
  if (OnChange) OnChange(this);
}

void TCustomImage32::Invalidate() {
  InvalidateCache();
  TCustomPaintBox32::Invalidate();
}

namespace {
int RoundInt(double v) { return int(std::nearbyint(v)); }

// a * 65536 / b for the cache, rounded, held inside 32 bits.
int ScaleFactor(int a, int b) {
  int64_t q = (int64_t(a) * 65536 + b / 2) / b;
  return int(std::clamp<int64_t>(q, INT32_MIN, INT32_MAX));
}
}  // namespace

TPoint TCustomImage32::GetBitmapSize() {
  if (bitmap_->Empty() || Width() == 0 || Height() == 0) return {0, 0};
  const int bw = bitmap_->Width(), bh = bitmap_->Height();
  switch (scale_mode_) {
    case smNormal:
      return {bw, bh};
    case smStretch:
      return {Width(), Height()};
    case smScale:
      return {RoundInt(bw * double(scale_)), RoundInt(bh * double(scale_))};
    case smResize: {
      float sx = float(Width()) / bw, sy = float(Height()) / bh;
      if (sx >= sy) return {RoundInt(bw * double(sy)), Height()};
      return {Width(), RoundInt(double(sx) * bh)};
    }
  }
  return {bw, bh};
}

TRect TCustomImage32::GetBitmapRect() {
  if (bitmap_->Empty()) return {};
  TPoint size = GetBitmapSize();
  TRect r{0, 0, size.X, size.Y};
  if (bitmap_align_ == baCenter) OffsetRect(r, (Width() - size.X) / 2, (Height() - size.Y) / 2);
  if (bitmap_align_ == baCustom) OffsetRect(r, RoundInt(offset_horz_), RoundInt(offset_vert_));
  return r;
}

void TCustomImage32::UpdateCache() {
  if (cache_valid_) return;
  TRect r = GetBitmapRect();
  cached_bitmap_rect_ = r;
  if (IsRectEmpty(r) || bitmap_->Empty()) {
    cache_ = TImageCache{};
  } else {
    cache_.ShiftX = r.Left;
    cache_.ShiftY = r.Top;
    cache_.ScaleX = ScaleFactor(r.Width(), bitmap_->Width());
    cache_.ScaleY = ScaleFactor(r.Height(), bitmap_->Height());
    cache_.RevScaleX = ScaleFactor(bitmap_->Width(), r.Width());
    cache_.RevScaleY = ScaleFactor(bitmap_->Height(), r.Height());
  }
  cache_valid_ = true;
}

const TImageCache& TCustomImage32::Cache() {
  UpdateCache();
  return cache_;
}

TPoint TCustomImage32::BitmapToControl(const TPoint& P) {
  UpdateCache();
  return {int(int64_t(P.X) * cache_.ScaleX / 65536 + cache_.ShiftX),
          int(int64_t(P.Y) * cache_.ScaleY / 65536 + cache_.ShiftY)};
}

TPoint TCustomImage32::ControlToBitmap(const TPoint& P) {
  UpdateCache();
  return {int((int64_t(P.X) - cache_.ShiftX) * cache_.RevScaleX / 65536),
          int((int64_t(P.Y) - cache_.ShiftY) * cache_.RevScaleY / 65536)};
}

void TCustomImage32::SetupBitmap(bool DoClear, TColor32 ClearColor) {
  bitmap_->BeginUpdate();
  try {
    bitmap_->SetSize(std::max(Width(), 1), std::max(Height(), 1));
    if (DoClear) bitmap_->Clear(ClearColor);
  } catch (...) {
    bitmap_->EndUpdate();
    throw;
  }
  bitmap_->EndUpdate();
  InvalidateCache();
  Changed();
}

void TCustomImage32::RunStage(TBitmap32* Dest, int Index) {
  switch (stages_[Index].Stage) {
    case PST_CUSTOM:
      ExecCustom(Dest, Index);
      break;
    case PST_CLEAR_BUFFER:
      ExecClearBuffer(Dest, Index);
      break;
    case PST_CLEAR_BACKGND:
      ExecClearBackgnd(Dest, Index);
      break;
    case PST_DRAW_BITMAP:
      ExecDrawBitmap(Dest, Index);
      break;
    case PST_DRAW_LAYERS:
      ExecDrawLayers(Dest, Index);
      break;
    case PST_CONTROL_FRAME:
      ExecControlFrame(Dest, Index);
      break;
    case PST_BITMAP_FRAME:
      ExecBitmapFrame(Dest, Index);
      break;
    default:
      break;
  }
}

void TCustomImage32::DoPaintBuffer() {
  UpdateCache();
  for (int i = 0; i < stages_.Count(); ++i) {
    const TPaintStage& s = stages_[i];
    if ((Designing && s.DsgnTime) || (!Designing && s.RunTime)) RunStage(&Buffer(), i);
  }
  MarkBufferValid(true);
}

void TCustomImage32::DoPaintGDIOverlay() {
  TLayerCanvas* canvas = Host().HostCanvas();
  for (int i = 0; i < layers_->Count(); ++i) {
    TCustomLayer* l = layers_->Items(i);
    if (l->GetLayerOptions() & LOB_GDI_OVERLAY) l->PaintGDI(canvas);
  }
  TCustomPaintBox32::DoPaintGDIOverlay();
}

void TCustomImage32::PaintTo(TBitmap32* Dest, const TRect& DestRect) {
  cached_bitmap_rect_ = DestRect;
  if (IsRectEmpty(DestRect) || bitmap_->Empty()) {
    cache_ = TImageCache{};
  } else {
    cache_ = {ScaleFactor(DestRect.Width(), bitmap_->Width()),
              ScaleFactor(DestRect.Height(), bitmap_->Height()),
              DestRect.Left,
              DestRect.Top,
              ScaleFactor(bitmap_->Width(), DestRect.Width()),
              ScaleFactor(bitmap_->Height(), DestRect.Height())};
  }
  cache_valid_ = true;
  try {
    for (int i = 0; i < stages_.Count(); ++i)
      if (stages_[i].RunTime) RunStage(Dest, i);
  } catch (...) {
    cache_valid_ = false;
    throw;
  }
  cache_valid_ = false;
}

void TCustomImage32::ExecCustom(TBitmap32* Dest, int StageNum) {
  if (OnPaintStage) OnPaintStage(this, Dest, uint32_t(StageNum));
}

void TCustomImage32::ExecClearBuffer(TBitmap32* Dest, int) { Dest->Clear(Color32(Color)); }

void TCustomImage32::ExecClearBackgnd(TBitmap32* Dest, int) {
  const TColor32 c = Color32(Color);
  if (bitmap_->Empty() || bitmap_->GetDrawMode() != dmOpaque) {
    Dest->Clear(c);
    return;
  }
  if (bitmap_align_ == baTile) return;
  // Only the margins: an opaque picture covers the rest.
  const TRect r = cached_bitmap_rect_;
  const int w = Width(), h = Height();
  if (r.Left > 0 || r.Right < w || r.Top > 0 || r.Bottom < h) {
    Dest->FillRectS(0, 0, w, r.Top, c);
    Dest->FillRectS(0, r.Bottom, w, h, c);
    Dest->FillRectS(0, r.Top, r.Left, r.Bottom, c);
    Dest->FillRectS(r.Right, r.Top, w, r.Bottom, c);
  }
}

void TCustomImage32::ExecDrawBitmap(TBitmap32* Dest, int) {
  const TRect r = cached_bitmap_rect_;
  if (bitmap_->Empty() || IsRectEmpty(r)) return;
  bitmap_->Lock();
  try {
    if (bitmap_align_ == baTile) {
      for (int row = 0; row <= Dest->Height() / r.Bottom; ++row) {
        for (int col = 0; col <= Dest->Width() / r.Right; ++col) {
          TRect t = r;
          OffsetRect(t, col * r.Right, row * r.Bottom);
          bitmap_->DrawTo(Dest, t);
        }
      }
    } else {
      bitmap_->DrawTo(Dest, r);
    }
  } catch (...) {
    bitmap_->Unlock();
    throw;
  }
  bitmap_->Unlock();
}

void TCustomImage32::ExecDrawLayers(TBitmap32* Dest, int StageNum) {
  const uint32_t mask = stages_[StageNum].Parameter;
  for (int i = 0; i < layers_->Count(); ++i) {
    TCustomLayer* l = layers_->Items(i);
    if (l->GetLayerOptions() & mask) l->PaintTo(Dest);
  }
}

void TCustomImage32::ExecControlFrame(TBitmap32* Dest, int) {
  DrawFocusRect(*Dest, {0, 0, Width(), Height()});
}

void TCustomImage32::ExecBitmapFrame(TBitmap32* Dest, int) {
  DrawFocusRect(*Dest, cached_bitmap_rect_);
}

void TCustomImage32::BitmapResized() {
  if (AutoSize) {
    TPoint size{bitmap_->Width(), bitmap_->Height()};
    if (scale_mode_ == smScale)
      size = {RoundInt(size.X * double(scale_)), RoundInt(size.Y * double(scale_))};
    if (size.X > 0 && size.Y > 0) SetBounds(Left, Top, size.X, size.Y);
  }
  if (update_count_ == 0 && OnBitmapResize) OnBitmapResize(this);
  InvalidateCache();
  Invalidate();
}

bool TCustomImage32::CanAutoSize(int& NewWidth, int& NewHeight) {
  InvalidateCache();
  TPoint size{bitmap_->Width(), bitmap_->Height()};
  if (scale_mode_ == smScale)
    size = {RoundInt(size.X * double(scale_)), RoundInt(size.Y * double(scale_))};
  if (Designing && (size.X <= 0 || size.Y <= 0)) return true;
  if (Align == alNone || Align == alLeft || Align == alRight) NewWidth = size.X;
  if (Align == alNone || Align == alTop || Align == alBottom) NewHeight = size.Y;
  return true;
}

void TCustomImage32::Resize() {
  InvalidateCache();
  TCustomPaintBox32::Resize();
}

void TCustomImage32::Loaded() {
  TCustomPaintBox32::Loaded();
  DoInitStages();
}

void TCustomImage32::DoInitStages() {
  if (OnInitStages) OnInitStages(this);
}

void TCustomImage32::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  Host().HostCaptureMouse();
  TCustomLayer* layer =
      layers_->GetMouseEvents() ? layers_->MouseDown(Button, Shift, X, Y) : nullptr;
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y, layer);
}

void TCustomImage32::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomLayer* layer = layers_->GetMouseEvents() ? layers_->MouseMove(Shift, X, Y) : nullptr;
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y, layer);
}

void TCustomImage32::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomLayer* layer = layers_->GetMouseEvents() ? layers_->MouseUp(Button, Shift, X, Y) : nullptr;
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y, layer);
}

void TCustomImage32::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}

void TCustomImage32::MouseLeave() {
  if (layers_->GetMouseEvents() && !layers_->GetMouseListener()) Host().HostSetCursor(crDefault);
  if (OnMouseLeave) OnMouseLeave(this);
}

void DrawFocusRect(TBitmap32& Dest, const TRect& R) {
  if (Dest.Empty() || IsRectEmpty(R)) return;
  auto dot = [&](int x, int y) {
    if (((x + y) & 1) == 0 && x >= 0 && y >= 0 && x < Dest.Width() && y < Dest.Height())
      Dest.SetPixel(x, y, Dest.GetPixel(x, y) ^ 0x00FFFFFFu);
  };
  for (int x = R.Left; x < R.Right; ++x) {
    dot(x, R.Top);
    if (R.Bottom - 1 != R.Top) dot(x, R.Bottom - 1);
  }
  for (int y = R.Top + 1; y < R.Bottom - 1; ++y) {
    dot(R.Left, y);
    if (R.Right - 1 != R.Left) dot(R.Right - 1, y);
  }
}

}  // namespace g32
