#include "g32_image.h"

#include "g32_transforms.h"

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
  if (std::isnan(Value)) return;
  Value = std::clamp(Value, 0.001f, 1000.0f);
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
int RoundInt(double v) { return SaturatedRound(v); }

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
  const TPoint size = GetBitmapSize();
  int64_t x = 0, y = 0;
  if (bitmap_align_ == baCenter)
    x = (int64_t(Width()) - size.X) / 2, y = (int64_t(Height()) - size.Y) / 2;
  if (bitmap_align_ == baCustom) x = RoundInt(offset_horz_), y = RoundInt(offset_vert_);
  return {FarHeldRound(double(x)), FarHeldRound(double(y)), FarHeldRound(double(x + size.X)),
          FarHeldRound(double(y + size.Y))};
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

// ---- TCustomImgView32 -----------------------------------------------------------------------
void TIVScrollProperties::SetSize(int Value) {
  Value = std::max(Value, 0);
  if (Value == size_) return;
  size_ = Value;
  if (realign_) realign_();
}

TCustomImgView32::TCustomImgView32(TPaintBoxHost* Host)
    : TCustomImage32(Host),
      hscroll_(this),
      vscroll_(this),
      scroll_bars_(&hscroll_, &vscroll_, [this] {
        AlignAll();
        UpdateScrollBars();
        UpdateImage();
      }) {
  vscroll_.SetKind(sbVertical);
  for (TCustomRangeBar* bar : {&hscroll_, &vscroll_}) {
    bar->SetFramed(true);
    bar->SetColor(clBtnShadow);
    bar->SetHandleColor(clBtnShadow);
    bar->Centered = true;
    bar->SetIncrement(8);
    bar->OnChange = [this](TObject* Sender) { ScrollHandler(Sender); };
  }
  SetScaleMode(smScale);
  SetBitmapAlign(baCustom);
  AlignAll();
}

TCustomImgView32::~TCustomImgView32() {
  hscroll_.OnChange = nullptr;
  vscroll_.OnChange = nullptr;
  hscroll_.SetHost(nullptr);
  vscroll_.SetHost(nullptr);
}

int TCustomImgView32::ScrollBarSize() const {
  return scroll_bars_.GetSize() > 0 ? scroll_bars_.GetSize() : SystemScrollBarSize;
}

TRect TCustomImgView32::GetViewportRect() const {
  const int t = ScrollBarSize();
  return {0, 0, std::max(Width() - t, 0), std::max(Height() - t, 0)};
}

TRect TCustomImgView32::HScrollRect() const {
  const TRect v = GetViewportRect();
  return {0, v.Bottom, v.Right, Height()};
}

TRect TCustomImgView32::VScrollRect() const {
  const TRect v = GetViewportRect();
  return {v.Right, 0, Width(), v.Bottom};
}

TRect TCustomImgView32::SizeGripRect() const {
  const TRect v = GetViewportRect();
  return {v.Right, v.Bottom, Width(), Height()};
}

bool TCustomImgView32::IsSizeGripVisible() const {
  switch (size_grip_) {
    case sgAlways:
      return true;
    case sgNone:
      return false;
    case sgAuto:
      return FillsItsForm ? FillsItsForm() : Align == alClient;
  }
  return false;
}

void TCustomImgView32::SetSizeGrip(TSizeGripStyle Value) {
  if (Value == size_grip_) return;
  size_grip_ = Value;
  Host().HostInvalidate();
}

void TCustomImgView32::AlignAll() {
  const TRect h = HScrollRect(), v = VScrollRect();
  hscroll_.SetSize(h.Width(), h.Height());
  vscroll_.SetSize(v.Width(), v.Height());
}

void TCustomImgView32::UpdateScrollBars() {
  const TPoint size = GetBitmapSize();
  hscroll_.SetRange(float(size.X));
  vscroll_.SetRange(float(size.Y));
}

void TCustomImgView32::UpdateImage() {
  const TRect v = GetViewportRect();
  const TPoint size = GetBitmapSize();
  BeginUpdate();
  try {
    if (centered_ && size.X < v.Width())
      SetOffsetHorz(float((v.Width() - size.X) / 2));
    else
      SetOffsetHorz(-hscroll_.GetPosition());
    if (centered_ && size.Y < v.Height())
      SetOffsetVert(float((v.Height() - size.Y) / 2));
    else
      SetOffsetVert(-vscroll_.GetPosition());
  } catch (...) {
    EndUpdate();
    throw;
  }
  InvalidateCache();
  EndUpdate();
  Changed();
}

void TCustomImgView32::SetPositions(float H, float V) {
  scrolling_ = true;
  try {
    hscroll_.SetPosition(H);
    vscroll_.SetPosition(V);
  } catch (...) {
    scrolling_ = false;
    throw;
  }
  scrolling_ = false;
}

void TCustomImgView32::ScrollToCenter(int X, int Y) {
  const TRect v = GetViewportRect();
  SetPositions(X * GetScale() - v.Width() / 2.0f, Y * GetScale() - v.Height() / 2.0f);
  UpdateImage();
}

void TCustomImgView32::Scroll(int Dx, int Dy) {
  SetPositions(hscroll_.GetPosition() + Dx, vscroll_.GetPosition() + Dy);
  UpdateImage();
}

void TCustomImgView32::SetCentered(bool Value) {
  if (Value == centered_) return;
  centered_ = Value;
  hscroll_.Centered = vscroll_.Centered = Value;
  if (Value)
    ScrollToCenter(GetBitmap()->Width() / 2, GetBitmap()->Height() / 2);
  else
    ScrollToCenter(0, 0);
}

void TCustomImgView32::ScrollHandler(TObject* Sender) {
  if (scrolling_) return;
  if (Sender == &hscroll_ || Sender == &vscroll_) Host().HostInvalidate();
  UpdateImage();
  DoScroll();
  Host().HostRepaint();
}

void TCustomImgView32::DoScroll() {
  if (OnScroll) OnScroll(this);
}

void TCustomImgView32::BitmapResized() {
  TCustomImage32::BitmapResized();
  UpdateScrollBars();
  if (centered_) {
    ScrollToCenter(GetBitmap()->Width() / 2, GetBitmap()->Height() / 2);
  } else {
    SetPositions(0, 0);
    UpdateImage();
  }
}

void TCustomImgView32::DoScaleChange() {
  TCustomImage32::DoScaleChange();
  AlignAll();
  UpdateScrollBars();
  UpdateImage();
  Invalidate();
}

void TCustomImgView32::Resize() {
  AlignAll();
  UpdateScrollBars();
  UpdateImage();
  TCustomImage32::Resize();
}

void TCustomImgView32::Loaded() {
  TCustomImage32::Loaded();
  AlignAll();
  UpdateScrollBars();
  if (centered_) ScrollToCenter(GetBitmap()->Width() / 2, GetBitmap()->Height() / 2);
  UpdateImage();
  Invalidate();
}

TArrowBar* TCustomImgView32::BarAt(int X, int Y, TRect& Where) {
  for (auto [bar, r] : {std::pair<TArrowBar*, TRect>{&hscroll_, HScrollRect()},
                        std::pair<TArrowBar*, TRect>{&vscroll_, VScrollRect()}}) {
    if (PtInRect(r, {X, Y})) {
      Where = r;
      return bar;
    }
  }
  return nullptr;
}

void TCustomImgView32::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (TArrowBar* bar = BarAt(X, Y, mouse_bar_rect_)) {
    mouse_bar_ = bar;
    bar->MouseDown(Button, Shift, X - mouse_bar_rect_.Left, Y - mouse_bar_rect_.Top);
    return;
  }
  if (PtInRect(SizeGripRect(), {X, Y})) {
    if (Button == mbLeft && IsSizeGripVisible() && OnSizeGripPress) OnSizeGripPress(this);
    return;
  }
  TCustomImage32::MouseDown(Button, Shift, X, Y);
}

void TCustomImgView32::MouseMove(TShiftState Shift, int X, int Y) {
  if (mouse_bar_) {
    mouse_bar_->MouseMove(Shift, X - mouse_bar_rect_.Left, Y - mouse_bar_rect_.Top);
    return;
  }
  TRect r;
  if (TArrowBar* bar = BarAt(X, Y, r)) {
    Host().HostSetCursor(crDefault);
    bar->MouseMove(Shift, X - r.Left, Y - r.Top);
    return;
  }
  if (PtInRect(SizeGripRect(), {X, Y})) {
    Host().HostSetCursor(IsSizeGripVisible() ? crSizeNWSE : crDefault);
    return;
  }
  TCustomImage32::MouseMove(Shift, X, Y);
}

void TCustomImgView32::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (mouse_bar_) {
    TArrowBar* bar = mouse_bar_;
    mouse_bar_ = nullptr;
    bar->MouseUp(Button, Shift, X - mouse_bar_rect_.Left, Y - mouse_bar_rect_.Top);
    return;
  }
  if (PtInRect(SizeGripRect(), {X, Y}) && !Layers().GetMouseListener()) return;
  TCustomImage32::MouseUp(Button, Shift, X, Y);
}

void TCustomImgView32::PaintChrome(TBitmap32& Dest) {
  Dest.SetSize(Width(), Height());
  TBitmap32 bar;
  for (auto [b, r] : {std::pair<TArrowBar*, TRect>{&hscroll_, HScrollRect()},
                      std::pair<TArrowBar*, TRect>{&vscroll_, VScrollRect()}}) {
    if (IsRectEmpty(r)) continue;
    bar.SetSize(r.Width(), r.Height());
    b->Paint(bar);
    BlockTransfer(&Dest, r.Left, r.Top, &bar, bar.BoundsRect(), dmOpaque);
  }
  const TRect g = SizeGripRect();
  Dest.FillRectS(g, Color32(clBtnFace));
  if (IsSizeGripVisible()) {
    // Three diagonal ridges of highlight and shadow falling to the bottom-right corner.
    const TColor32 hi = Color32(clBtnHighlight), sh = Color32(clBtnShadow);
    for (int k = 0; k < 3; ++k) {
      const int d = 3 + 4 * k;
      for (int i = 0; i < d && i < g.Width() && i < g.Height(); ++i) {
        Dest.SetPixelS(g.Right - d + i, g.Bottom - 1 - i, hi);
        Dest.SetPixelS(g.Right - d + i + 1, g.Bottom - 1 - i, sh);
        Dest.SetPixelS(g.Right - d + i + 2, g.Bottom - 1 - i, sh);
      }
    }
  }
}

void TCustomImgView32::PollBarTimers() {
  hscroll_.PollTimer();
  vscroll_.PollTimer();
}

void TCustomImgView32::HostInvalidate() { Host().HostInvalidate(); }

void TCustomImgView32::HostScheduleTimer(int DelayMs) {
  if (OnScheduleBarTimer) OnScheduleBarTimer(DelayMs);
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
