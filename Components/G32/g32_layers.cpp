#include "g32_layers.h"

#include <algorithm>
#include <cmath>

#include "g32_image.h"

namespace g32 {

// ---- TCustomLayer --------------------------------------------------------------------------
TCustomLayer::TCustomLayer(TLayerCollection* Collection, uint32_t Options) : options_(Options) {
  SetLayerCollection(Collection);
}

TCustomLayer::~TCustomLayer() {
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      // A destructor cannot pass it on; the layer still leaves cleanly.
    }
  }
  if (notify_) {
    auto listeners = *notify_;
    for (TCustomLayer* l : listeners) l->Notification(this);
  }
  SetLayerCollection(nullptr);
}

int TCustomLayer::GetIndex() const {
  if (!collection_) return -1;
  const auto& v = collection_->layers_;
  return int(std::find(v.begin(), v.end(), this) - v.begin());
}

void TCustomLayer::SetIndex(int Value) {
  if (!collection_) return;
  int current = GetIndex();
  Value = std::clamp(Value, 0, collection_->Count() - 1);
  if (Value == current) return;
  if (GetVisible()) collection_->BeginUpdate();
  collection_->MoveLayer(current, Value);
  if (GetVisible()) {
    Changed();
    collection_->EndUpdate();
  }
}

void TCustomLayer::BringToFront() {
  if (collection_) SetIndex(collection_->Count() - 1);
}

void TCustomLayer::SendToBack() { SetIndex(0); }

bool TCustomLayer::HitTest(int X, int Y) {
  bool passed = DoHitTest(X, Y);
  if (OnHitTest) OnHitTest(this, X, Y, passed);
  return passed;
}

void TCustomLayer::SetVisible(bool Value) {
  SetLayerOptions(Value ? (options_ | LOB_VISIBLE) : (options_ & ~LOB_VISIBLE));
}

void TCustomLayer::SetMouseEvents(bool Value) {
  SetLayerOptions(Value ? (options_ | LOB_MOUSE_EVENTS) : (options_ & ~LOB_MOUSE_EVENTS));
}

void TCustomLayer::SetLayerOptions(uint32_t Value) {
  if (Value == options_) return;
  Changing();
  options_ = Value;
  Changed();
}

void TCustomLayer::SetAsMouseListener() {
  if (!collection_) return;
  collection_->SetMouseListener(this);
  collection_->ShowCursor(Cursor);
}

void TCustomLayer::SetLayerCollection(TLayerCollection* Value) {
  if (Value == collection_) return;
  if (collection_) {
    if (collection_->listener_ == this) collection_->listener_ = nullptr;
    collection_->RemoveLayer(this);
  }
  if (Value) Value->InsertLayer(this);
}

void TCustomLayer::AddNotification(TCustomLayer* Layer) {
  if (!notify_) notify_ = std::make_unique<std::vector<TCustomLayer*>>();
  if (std::find(notify_->begin(), notify_->end(), Layer) == notify_->end())
    notify_->push_back(Layer);
}

void TCustomLayer::RemoveNotification(TCustomLayer* Layer) {
  if (!notify_) return;
  std::erase(*notify_, Layer);
  if (notify_->empty()) notify_.reset();
}

void TCustomLayer::Changing() {
  if (collection_ && !(options_ & LOB_NO_UPDATE)) collection_->Changing();
}

void TCustomLayer::Changed() {
  if (!collection_ || (options_ & LOB_NO_UPDATE)) return;
  if (GetVisible())
    collection_->Changed();
  else if (options_ & LOB_GDI_OVERLAY)
    collection_->GDIUpdate();
}

bool TCustomLayer::DoHitTest(int, int) { return true; }

void TCustomLayer::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TCustomLayer::MouseMove(TShiftState Shift, int X, int Y) {
  if (collection_) collection_->ShowCursor(Cursor);
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TCustomLayer::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (collection_) collection_->ShowCursor(crDefault);
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TCustomLayer::Notification(TCustomLayer*) {}
void TCustomLayer::Paint(TBitmap32*) {}
void TCustomLayer::PaintGDI(TLayerCanvas*) {}

void TCustomLayer::PaintTo(TBitmap32* Buffer) {
  Paint(Buffer);
  if (OnPaint) OnPaint(this, Buffer);
}

// ---- TLayerCollection ----------------------------------------------------------------------
TLayerCollection::~TLayerCollection() {
  ++update_count_;  // no notifications while the layers go
  while (!layers_.empty()) delete layers_.back();
}

void TLayerCollection::InsertLayer(TCustomLayer* Layer) {
  BeginUpdate();
  layers_.push_back(Layer);
  Layer->collection_ = this;
  Layer->Changed();
  EndUpdate();
}

void TLayerCollection::RemoveLayer(TCustomLayer* Layer) {
  BeginUpdate();
  Layer->Changed();
  std::erase(layers_, Layer);
  Layer->collection_ = nullptr;
  EndUpdate();
}

void TLayerCollection::MoveLayer(int From, int To) {
  TCustomLayer* l = layers_[size_t(From)];
  layers_.erase(layers_.begin() + From);
  layers_.insert(layers_.begin() + To, l);
}

void TLayerCollection::Delete(int Index) { delete Items(Index); }

void TLayerCollection::Clear() {
  BeginUpdate();
  try {
    while (!layers_.empty()) delete layers_.back();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

TCustomLayer* TLayerCollection::Items(int Index) const {
  if (Index < 0 || Index >= Count()) ListIndexError(Index);
  return layers_[size_t(Index)];
}

void TLayerCollection::SetItems(int Index, TCustomLayer*) {
  Items(Index);
  throw EConvertError("Cannot assign a TCustomLayer to a TCustomLayer");
}

void TLayerCollection::Assign(const TLayerCollection& Source) {
  if (&Source == this) return;
  BeginUpdate();
  try {
    Clear();
    // Layers do not copy themselves: the first one made for the source fails its assignment
    // and stays, as the framework's collections leave it.
    if (Source.Count() > 0) {
      Source.Items(0)->NewOfClass(this);
      throw EConvertError("Cannot assign a TCustomLayer to a TCustomLayer");
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

TCustomLayer* TLayerCollection::FindLayerAtPos(int X, int Y, uint32_t OptionMask) {
  for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
    TCustomLayer* l = *it;
    if ((l->GetLayerOptions() & OptionMask) && l->HitTest(X, Y)) return l;
  }
  return nullptr;
}

void TLayerCollection::BeginUpdate() {
  if (update_count_++ == 0) Changing();
}

void TLayerCollection::EndUpdate() {
  if (update_count_ <= 0) {
    update_count_ = 0;
    throw EAssertionFailed("Unpaired EndUpdate");
  }
  if (--update_count_ == 0) Changed();
}

void TLayerCollection::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(this);
}

void TLayerCollection::Changing() {
  if (OnChanging) OnChanging(this);
}

void TLayerCollection::GDIUpdate() {
  if (update_count_ == 0 && OnGDIUpdate) OnGDIUpdate(this);
}

void TLayerCollection::SetMouseEvents(bool Value) {
  mouse_events_ = Value;
  SetMouseListener(nullptr);
}

void TLayerCollection::SetMouseListener(TCustomLayer* Value) {
  if (Value == listener_) return;
  if (listener_) listener_->LayerStates = 0;
  listener_ = Value;
}

namespace {
TLayerStates StateOf(TMouseButton b) {
  return b == mbLeft ? lsMouseLeft : b == mbRight ? lsMouseRight : lsMouseMiddle;
}
}  // namespace

TCustomLayer* TLayerCollection::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomLayer* layer = listener_ ? listener_ : FindLayerAtPos(X, Y, LOB_MOUSE_EVENTS);
  if (Button == mbLeft && layer != listener_ &&
      (!layer || !(layer->GetLayerOptions() & LOB_NO_CAPTURE))) {
    SetMouseListener(layer);
  }
  if (listener_) {
    listener_->LayerStates |= StateOf(Button);
    listener_->MouseDown(Button, Shift, X, Y);
  }
  return layer;
}

TCustomLayer* TLayerCollection::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomLayer* layer = listener_ ? listener_ : FindLayerAtPos(X, Y, LOB_MOUSE_EVENTS);
  if (layer) {
    layer->MouseMove(Shift, X, Y);
  } else {
    ShowCursor(GetOwnerCursor ? GetOwnerCursor() : crDefault);
  }
  return layer;
}

TCustomLayer* TLayerCollection::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomLayer* layer = listener_ ? listener_ : FindLayerAtPos(X, Y, LOB_MOUSE_EVENTS);
  if (layer) {
    layer->LayerStates &= ~StateOf(Button);
    layer->MouseUp(Button, Shift, X, Y);
  }
  if (listener_ && listener_->LayerStates == 0) SetMouseListener(nullptr);
  return layer;
}

// ---- TPositionedLayer ----------------------------------------------------------------------
void TPositionedLayer::SetLocation(const TFloatRect& Value) {
  Changing();
  DoSetLocation(Value);
  Changed();
}

void TPositionedLayer::SetScaled(bool Value) {
  if (Value == scaled_) return;
  Changing();
  scaled_ = Value;
  Changed();
}

TFloatRect TPositionedLayer::GetAdjustedLocation() const {
  const TLayerCollection* c = GetLayerCollection();
  if (!scaled_ || !c || !c->CoordXForm) return location_;
  const TImageCache& x = *c->CoordXForm;
  const float sx = x.ScaleX / 65536.0f, sy = x.ScaleY / 65536.0f;
  return {location_.Left * sx + x.ShiftX, location_.Top * sy + x.ShiftY,
          location_.Right * sx + x.ShiftX, location_.Bottom * sy + x.ShiftY};
}

bool TPositionedLayer::DoHitTest(int X, int Y) {
  const TFloatRect r = GetAdjustedLocation();
  return r.Left <= X && X < r.Right && r.Top <= Y && Y < r.Bottom;
}

// ---- TBitmapLayer --------------------------------------------------------------------------
namespace {
int RoundInt(double v) { return SaturatedRound(v); }

// A location in whole pixels, held where a far-off or broken location cannot overflow the
// drawing and handle arithmetic.
TRect PixelRect(const TFloatRect& r) {
  return {FarHeldRound(r.Left), FarHeldRound(r.Top), FarHeldRound(r.Right), FarHeldRound(r.Bottom)};
}
}  // namespace

TBitmapLayer::TBitmapLayer(TLayerCollection* Collection)
    : TPositionedLayer(Collection), bitmap_(std::make_unique<TBitmap32>()) {
  bitmap_->OnChange = [this](TObject*) { Changed(); };
}

TBitmapLayer::~TBitmapLayer() { bitmap_->OnChange = nullptr; }

void TBitmapLayer::SetCropped(bool Value) {
  if (Value == cropped_) return;
  cropped_ = Value;
  Changed();
}

bool TBitmapLayer::DoHitTest(int X, int Y) {
  if (!TPositionedLayer::DoHitTest(X, Y)) return false;
  if (!AlphaHit) return true;
  const TFloatRect r = GetAdjustedLocation();
  const double w = double(r.Right) - r.Left, h = double(r.Bottom) - r.Top;
  const int bx = RoundInt((X - r.Left) * bitmap_->Width() / w);
  const int by = RoundInt((Y - r.Top) * bitmap_->Height() / h);
  return (bitmap_->GetPixelS(bx, by) >> 24) != 0;
}

void TBitmapLayer::Paint(TBitmap32* Buffer) {
  if (bitmap_->Empty()) return;
  const TFloatRect loc = GetAdjustedLocation();
  TRect dst = PixelRect(loc);
  TRect src = bitmap_->BoundsRect();
  auto* image =
      GetLayerCollection() ? dynamic_cast<TCustomImage32*>(GetLayerCollection()->Owner()) : nullptr;
  if (cropped_ && image) {
    if (loc.Right - loc.Left < 0.5f || loc.Bottom - loc.Top < 0.5f) return;
    const TRect full = dst;
    const TRect clipped = IntersectRect(dst, image->GetBitmapRect());
    if (IsRectEmpty(clipped) || IsRectEmpty(full)) return;
    const double kx = double(src.Width()) / full.Width(), ky = double(src.Height()) / full.Height();
    src = {RoundInt((clipped.Left - full.Left) * kx), RoundInt((clipped.Top - full.Top) * ky),
           src.Right - RoundInt((full.Right - clipped.Right) * kx),
           src.Bottom - RoundInt((full.Bottom - clipped.Bottom) * ky)};
    dst = clipped;
    if (IsRectEmpty(src)) return;
  }
  bitmap_->DrawTo(Buffer, dst, src);
}

// ---- TRubberbandLayer ----------------------------------------------------------------------
TRubberbandLayer::~TRubberbandLayer() {
  // The child must not tell a frame that no longer exists.
  if (child_) child_->RemoveNotification(this);
}

void TRubberbandLayer::SetChildLayer(TPositionedLayer* Value) {
  if (Value == child_) return;
  if (child_) child_->RemoveNotification(this);
  child_ = Value;
  if (child_) {
    SetLocation(child_->GetLocation());
    SetScaled(child_->GetScaled());
    child_->AddNotification(this);
    SetLayerOptions(GetLayerOptions() | LOB_NO_UPDATE);
  } else {
    SetLayerOptions(GetLayerOptions() & ~LOB_NO_UPDATE);
  }
}

void TRubberbandLayer::Notification(TCustomLayer* Layer) {
  if (Layer == child_) {
    child_ = nullptr;
    SetLayerOptions(GetLayerOptions() & ~LOB_NO_UPDATE);
  }
}

void TRubberbandLayer::RequestGDIUpdate() {
  if (GetLayerCollection()) GetLayerCollection()->GDIUpdate();
}

void TRubberbandLayer::SetHandles(TRBHandles Value) {
  if (Value == handles_) return;
  handles_ = Value;
  RequestGDIUpdate();
}

void TRubberbandLayer::SetHandleSize(int Value) {
  Value = std::max(Value, 1);
  if (Value == handle_size_) return;
  handle_size_ = Value;
  RequestGDIUpdate();
}

void TRubberbandLayer::SetHandleFrame(TColor32 Value) {
  if (Value == handle_frame_) return;
  handle_frame_ = Value;
  RequestGDIUpdate();
}

void TRubberbandLayer::SetHandleFill(TColor32 Value) {
  if (Value == handle_fill_) return;
  handle_fill_ = Value;
  RequestGDIUpdate();
}

TDragStateG32 TRubberbandLayer::GetDragState(int X, int Y) {
  TRect r = PixelRect(GetAdjustedLocation());
  --r.Right, --r.Bottom;  // the last pixel of the frame
  const int t = handle_size_ + 1;
  const int cx = (r.Left + r.Right) / 2, cy = (r.Top + r.Bottom) / 2;
  auto near = [t](int a, int b) { return std::abs(int64_t(a) - b) <= t; };
  if (handles_ & rhCorners) {
    if (near(X, r.Right) && near(Y, r.Bottom)) return dsSizeBR;
    if (near(X, r.Left) && near(Y, r.Bottom)) return dsSizeBL;
    if (near(X, r.Right) && near(Y, r.Top)) return dsSizeTR;
    if (near(X, r.Left) && near(Y, r.Top)) return dsSizeTL;
  }
  if (handles_ & rhSides) {
    if (near(X, r.Right) && near(Y, cy)) return dsSizeR;
    if (near(X, cx) && near(Y, r.Bottom)) return dsSizeB;
    if (near(X, r.Left) && near(Y, cy)) return dsSizeL;
    if (near(X, cx) && near(Y, r.Top)) return dsSizeT;
  }
  if ((handles_ & rhCenter) && r.Left <= X && X <= r.Right && r.Top <= Y && Y <= r.Bottom)
    return dsMove;
  return dsNone;
}

bool TRubberbandLayer::DoHitTest(int X, int Y) { return GetDragState(X, Y) != dsNone; }

void TRubberbandLayer::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (!dragging_) {
    drag_state_ = GetDragState(X, Y);
    if (drag_state_ != dsNone) {
      dragging_ = true;
      old_location_ = GetLocation();
      const TFloatRect adj = GetAdjustedLocation();
      mouse_shift_ =
          drag_state_ == dsMove ? TFloatPoint{X - adj.Left, Y - adj.Top} : TFloatPoint{0, 0};
    }
  }
  TPositionedLayer::MouseDown(Button, Shift, X, Y);
}

void TRubberbandLayer::MouseMove(TShiftState Shift, int X, int Y) {
  if (!dragging_) {
    TCursor cursor = Cursor;
    switch (GetDragState(X, Y)) {
      case dsSizeL:
      case dsSizeR:
        cursor = crSizeWE;
        break;
      case dsSizeT:
      case dsSizeB:
        cursor = crSizeNS;
        break;
      case dsSizeTL:
      case dsSizeBR:
        cursor = crSizeNWSE;
        break;
      case dsSizeTR:
      case dsSizeBL:
        cursor = crSizeNESW;
        break;
      default:
        break;
    }
    if (GetLayerCollection()) GetLayerCollection()->ShowCursor(cursor);
    if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
    return;
  }

  // The point in location units.
  float px = X - mouse_shift_.X, py = Y - mouse_shift_.Y;
  if (GetScaled()) {
    const TFloatRect adj = GetAdjustedLocation(), loc = GetLocation();
    const float aw = adj.Right - adj.Left, ah = adj.Bottom - adj.Top;
    if (aw == 0 || ah == 0) return;
    px = loc.Left + (px - adj.Left) * (loc.Right - loc.Left) / aw;
    py = loc.Top + (py - adj.Top) * (loc.Bottom - loc.Top) / ah;
  }

  TFloatRect r = old_location_;
  const TDragStateG32 s = drag_state_;
  // Each moved edge follows the point, then is held so the size stays within the limits.
  auto hold = [](float& moved, float fixed, float dir, float lo, float hi) {
    float size = (moved - fixed) * dir;
    if (size < lo) size = lo;
    if (hi > lo && size > hi) size = hi;
    moved = fixed + size * dir;
  };
  if (s == dsMove) {
    const float w = r.Right - r.Left, h = r.Bottom - r.Top;
    r = {px, py, px + w, py + h};
  } else {
    if (s == dsSizeL || s == dsSizeTL || s == dsSizeBL) {
      r.Left = px;
      hold(r.Left, r.Right, -1, MinWidth, MaxWidth);
    }
    if (s == dsSizeR || s == dsSizeTR || s == dsSizeBR) {
      r.Right = px;
      hold(r.Right, r.Left, 1, MinWidth, MaxWidth);
    }
    if (s == dsSizeT || s == dsSizeTL || s == dsSizeTR) {
      r.Top = py;
      hold(r.Top, r.Bottom, -1, MinHeight, MaxHeight);
    }
    if (s == dsSizeB || s == dsSizeBL || s == dsSizeBR) {
      r.Bottom = py;
      hold(r.Bottom, r.Top, 1, MinHeight, MaxHeight);
    }
  }
  DoResizing(old_location_, r, s, Shift);
  if (r != GetLocation()) {
    SetLocation(r);
    if (child_) child_->SetLocation(r);
    if (OnUserChange) OnUserChange(this);
  }
}

void TRubberbandLayer::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  dragging_ = false;
  TPositionedLayer::MouseUp(Button, Shift, X, Y);
}

void TRubberbandLayer::DoResizing(const TFloatRect& OldLocation, TFloatRect& NewLocation,
                                  TDragStateG32 DragState, TShiftState Shift) {
  if (OnResizing) OnResizing(this, OldLocation, NewLocation, DragState, Shift);
}

void TRubberbandLayer::Paint(TBitmap32* Buffer) {
  const TRect r = PixelRect(GetAdjustedLocation());
  const TColor32 stipple[] = {clWhite32, clWhite32, clBlack32, clBlack32};
  Buffer->SetStipple(stipple);
  Buffer->StippleCounter = 0;
  Buffer->StippleStep = 1;
  Buffer->FrameRectTSP(r);
  const int s = handle_size_;
  auto handle = [&](int x, int y) {
    Buffer->FillRectS(x - s, y - s, x + s + 1, y + s + 1, clWhite32);
    Buffer->FrameRectS(x - s, y - s, x + s + 1, y + s + 1, clBlack32);
  };
  const int right = r.Right - 1, bottom = r.Bottom - 1;
  const int cx = (r.Left + right) / 2, cy = (r.Top + bottom) / 2;
  if (handles_ & rhCorners) {
    handle(r.Left, r.Top);
    handle(right, r.Top);
    handle(right, bottom);
    handle(r.Left, bottom);
  }
  if (handles_ & rhSides) {
    handle(cx, r.Top);
    handle(right, cy);
    handle(cx, bottom);
    handle(r.Left, cy);
  }
}

}  // namespace g32
