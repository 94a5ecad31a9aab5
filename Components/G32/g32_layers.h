#pragma once
// Objects drawn over an image control's picture that receive the mouse before the image does:
// the ordered collection TLayerCollection, the base layer TCustomLayer, the positioned layer with
// a floating-point location, the bitmap layer and the rubber band that moves and sizes another.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "g32.h"

namespace g32 {

// Cursor identifiers of the framework; 0 is the default cursor.
using TCursor = int;
// The same numbers as the framework's, so the window shell passes them through.
constexpr TCursor crDefault = 0, crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9;
enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Shift state bits as the framework passes them.
using TShiftState = unsigned;
enum : unsigned {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64
};
using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;

// The window canvas layers paint on after the buffer reached the screen; supplied by the UI layer.
class TLayerCanvas;

// Layer option bits.
constexpr uint32_t LOB_VISIBLE = 0x80000000, LOB_GDI_OVERLAY = 0x40000000,
                   LOB_MOUSE_EVENTS = 0x20000000, LOB_NO_UPDATE = 0x10000000,
                   LOB_NO_CAPTURE = 0x08000000;

// The image's coordinate cache (picture to control, 16.16 scale and whole-pixel shift).
struct TImageCache {
  int ScaleX = 0x10000, ScaleY = 0x10000;
  int ShiftX = 0, ShiftY = 0;
  int RevScaleX = 0x10000, RevScaleY = 0x10000;
};

class TLayerCollection;

enum TLayerState { lsMouseLeft = 1, lsMouseRight = 2, lsMouseMiddle = 4 };
using TLayerStates = unsigned;

class TCustomLayer : public TObject {
 public:
  // Creates the layer inside `Collection` (may be nil).
  explicit TCustomLayer(TLayerCollection* Collection) : TCustomLayer(Collection, LOB_VISIBLE) {}
  ~TCustomLayer() override;
  TCustomLayer(const TCustomLayer&) = delete;
  TCustomLayer& operator=(const TCustomLayer&) = delete;

  // Position in the collection, -1 without one; setting moves it (held to 0..Count - 1).
  int GetIndex() const;
  virtual void SetIndex(int Value);
  void BringToFront();
  void SendToBack();
  // DoHitTest, then OnHitTest may change the answer.
  bool HitTest(int X, int Y);

  bool GetVisible() const { return (options_ & LOB_VISIBLE) != 0; }
  void SetVisible(bool Value);
  bool GetMouseEvents() const { return (options_ & LOB_MOUSE_EVENTS) != 0; }
  void SetMouseEvents(bool Value);
  uint32_t GetLayerOptions() const { return options_; }
  void SetLayerOptions(uint32_t Value);
  TCursor Cursor = crDefault;
  TLayerStates LayerStates = 0;
  // Makes this layer the collection's mouse listener and shows its cursor.
  void SetAsMouseListener();
  TLayerCollection* GetLayerCollection() const { return collection_; }
  // Moves the layer to another collection (nil: to none).
  void SetLayerCollection(TLayerCollection* Value);
  void AddNotification(TCustomLayer* Layer);
  void RemoveNotification(TCustomLayer* Layer);
  bool HasNotifications() const { return notify_ != nullptr; }

  // Repaint request: nothing without a collection or with the no-repaint bit.
  void Changed();

  std::function<void(TObject* Sender, int X, int Y, bool& Passed)> OnHitTest;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  std::function<void(TObject* Sender, TBitmap32* Buffer)> OnPaint;
  TNotifyEvent OnDestroy;

  virtual bool DoHitTest(int X, int Y);
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void Notification(TCustomLayer* Layer);
  virtual void Paint(TBitmap32* Buffer);
  virtual void PaintGDI(TLayerCanvas* Canvas);

  // The stage painter's call: Paint, then OnPaint.
  void PaintTo(TBitmap32* Buffer);
  // A new layer of this one's class in `Collection`, as the collection's Assign makes them.
  // Layer classes of their own override it to be created as themselves.
  virtual TCustomLayer* NewOfClass(TLayerCollection* Collection) const {
    return new TCustomLayer(Collection);
  }

 protected:
  // Derived layers start with their own option bits.
  TCustomLayer(TLayerCollection* Collection, uint32_t Options);
  void Changing();

 private:
  friend class TLayerCollection;
  TLayerCollection* collection_ = nullptr;
  uint32_t options_ = LOB_VISIBLE;
  std::unique_ptr<std::vector<TCustomLayer*>> notify_;
};

class TLayerCollection : public TObject {
 public:
  // `Owner` is the image control; its cursor is shown where no layer takes the mouse.
  explicit TLayerCollection(TObject* Owner) : owner_(Owner) {}
  ~TLayerCollection() override;
  TLayerCollection(const TLayerCollection&) = delete;
  TLayerCollection& operator=(const TLayerCollection&) = delete;

  template <typename Layer = TCustomLayer>
  Layer* Add() {
    return new Layer(this);  // the collection owns it from here
  }
  template <typename Layer = TCustomLayer>
  Layer* Insert(int Index) {
    BeginUpdate();
    Layer* layer;
    try {
      layer = Add<Layer>();
      layer->SetIndex(Index);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return layer;
  }
  void Delete(int Index);
  // Frees every layer from the top down.
  void Clear();
  TCustomLayer* Items(int Index) const;
  // Layers cannot be assigned to one another: raises EConvertError.
  void SetItems(int Index, TCustomLayer* Value);
  int Count() const { return int(layers_.size()); }
  // Empties this collection; layers of the source cannot be copied (EConvertError).
  void Assign(const TLayerCollection& Source);
  // The topmost layer sharing a bit with Mask whose DoHitTest is true; nil when none.
  TCustomLayer* FindLayerAtPos(int X, int Y, uint32_t OptionMask);

  void BeginUpdate();
  // Raises EAssertionFailed "Unpaired EndUpdate" at 0 (the count stays 0).
  void EndUpdate();
  int UpdateCount() const { return update_count_; }
  void Changed();
  void Changing();
  void GDIUpdate();

  bool GetMouseEvents() const { return mouse_events_; }
  void SetMouseEvents(bool Value);
  TCustomLayer* GetMouseListener() const { return listener_; }
  void SetMouseListener(TCustomLayer* Value);

  // Mouse routing, called by the image; each answers the layer that handled the event.
  TCustomLayer* MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  TCustomLayer* MouseMove(TShiftState Shift, int X, int Y);
  TCustomLayer* MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);

  TObject* Owner() const { return owner_; }
  // The image's cache (not owned); nil while the collection has no image.
  const TImageCache* CoordXForm = nullptr;
  // The owner's cursor, and where the collection and its layers set the shown cursor.
  std::function<TCursor()> GetOwnerCursor;
  std::function<void(TCursor)> SetShownCursor;
  void ShowCursor(TCursor Cursor) {
    if (SetShownCursor) SetShownCursor(Cursor);
  }

  TNotifyEvent OnChange, OnChanging, OnGDIUpdate;

 private:
  friend class TCustomLayer;
  void InsertLayer(TCustomLayer* Layer);
  void RemoveLayer(TCustomLayer* Layer);
  void MoveLayer(int From, int To);

  TObject* owner_;
  std::vector<TCustomLayer*> layers_;  // owned; first = bottom
  bool mouse_events_ = true;
  TCustomLayer* listener_ = nullptr;
  int update_count_ = 0;
};

// A layer at a floating-point location, in picture coordinates when Scaled (following the
// image's scale and offset), else in control pixels.
class TPositionedLayer : public TCustomLayer {
 public:
  explicit TPositionedLayer(TLayerCollection* Collection)
      : TCustomLayer(Collection, LOB_VISIBLE | LOB_MOUSE_EVENTS) {}
  TCustomLayer* NewOfClass(TLayerCollection* Collection) const override {
    return new TPositionedLayer(Collection);
  }

  const TFloatRect& GetLocation() const { return location_; }
  void SetLocation(const TFloatRect& Value);
  bool GetScaled() const { return scaled_; }
  void SetScaled(bool Value);
  // The location in control pixels.
  TFloatRect GetAdjustedLocation() const;

  bool DoHitTest(int X, int Y) override;

 protected:
  virtual void DoSetLocation(const TFloatRect& NewLocation) { location_ = NewLocation; }

 private:
  TFloatRect location_{0, 0, 64, 64};
  bool scaled_ = false;
};

// A positioned TBitmap32 (owned); a change of the bitmap repaints the layer.
class TBitmapLayer : public TPositionedLayer {
 public:
  explicit TBitmapLayer(TLayerCollection* Collection);
  TCustomLayer* NewOfClass(TLayerCollection* Collection) const override {
    return new TBitmapLayer(Collection);
  }
  ~TBitmapLayer() override;

  TBitmap32* Bitmap() { return bitmap_.get(); }
  // Copies the source into the own bitmap.
  void SetBitmap(const TBitmap32* Value) { bitmap_->Assign(Value); }
  // A hit counts only where the bitmap pixel under the point is not fully transparent.
  bool AlphaHit = false;
  bool GetCropped() const { return cropped_; }
  // Drawn only inside the image's picture rectangle.
  void SetCropped(bool Value);

  bool DoHitTest(int X, int Y) override;
  void Paint(TBitmap32* Buffer) override;

 private:
  std::unique_ptr<TBitmap32> bitmap_;
  bool cropped_ = false;
};

enum TRBHandle : unsigned { rhCenter = 1, rhSides = 2, rhCorners = 4 };
using TRBHandles = unsigned;
enum TDragStateG32 {
  dsNone,
  dsMove,
  dsSizeL,
  dsSizeT,
  dsSizeR,
  dsSizeB,
  dsSizeTL,
  dsSizeTR,
  dsSizeBL,
  dsSizeBR
};
using TRBResizingEvent =
    std::function<void(TObject* Sender, const TFloatRect& OldLocation, TFloatRect& NewLocation,
                       TDragStateG32 DragState, TShiftState Shift)>;

// A stippled selection frame with handles; dragging moves or resizes it and the child layer.
class TRubberbandLayer : public TPositionedLayer {
 public:
  explicit TRubberbandLayer(TLayerCollection* Collection) : TPositionedLayer(Collection) {}
  TCustomLayer* NewOfClass(TLayerCollection* Collection) const override {
    return new TRubberbandLayer(Collection);
  }
  ~TRubberbandLayer() override;

  TPositionedLayer* GetChildLayer() const { return child_; }
  // Takes the child's location and Scaled; while a child is set, the frame itself does not
  // repaint the image (the child does).
  void SetChildLayer(TPositionedLayer* Value);
  TRBHandles GetHandles() const { return handles_; }
  void SetHandles(TRBHandles Value);
  int GetHandleSize() const { return handle_size_; }
  // At least 1.
  void SetHandleSize(int Value);
  TColor32 GetHandleFrame() const { return handle_frame_; }
  void SetHandleFrame(TColor32 Value);
  TColor32 GetHandleFill() const { return handle_fill_; }
  void SetHandleFill(TColor32 Value);
  float MinWidth = 10, MinHeight = 10;
  // 0: no limit (a limit not above the minimum is ignored too).
  float MaxWidth = 0, MaxHeight = 0;
  bool Dragging() const { return dragging_; }
  TDragStateG32 DragState() const { return drag_state_; }

  TRBResizingEvent OnResizing;
  TNotifyEvent OnUserChange;

  virtual TDragStateG32 GetDragState(int X, int Y);
  bool DoHitTest(int X, int Y) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void Notification(TCustomLayer* Layer) override;
  void Paint(TBitmap32* Buffer) override;

 protected:
  virtual void DoResizing(const TFloatRect& OldLocation, TFloatRect& NewLocation,
                          TDragStateG32 DragState, TShiftState Shift);

 private:
  void RequestGDIUpdate();

  TPositionedLayer* child_ = nullptr;
  TColor32 handle_frame_ = clBlack32, handle_fill_ = clWhite32;
  TRBHandles handles_ = rhCenter | rhSides | rhCorners;
  int handle_size_ = 3;
  TDragStateG32 drag_state_ = dsNone;
  bool dragging_ = false;
  TFloatRect old_location_;
  TFloatPoint mouse_shift_;
};

}  // namespace g32
