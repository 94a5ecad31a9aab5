#include "g32_layers.h"

#include <algorithm>

namespace g32 {

// ---- TCustomLayer --------------------------------------------------------------------------
TCustomLayer::TCustomLayer(TLayerCollection* Collection) { SetLayerCollection(Collection); }

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
  Clear();
  EndUpdate();
  if (Source.Count() > 0) throw EConvertError("Cannot assign a TCustomLayer to a TCustomLayer");
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

}  // namespace g32
