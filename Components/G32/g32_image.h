#pragma once
// The Qt-free core of the double-buffered paint box and of the image control TImage32: the back
// buffer and its sizing, the paint stages, the picture-to-control cache, the picture rectangle,
// and the mouse routed through the layers. A widget shell supplies the window through
// TPaintBoxHost and feeds paint requests, sizes and mouse events in.
#include <functional>
#include <memory>
#include <vector>

#include "g32.h"
#include "g32_layers.h"
#include "g32_rangebars.h"

namespace g32 {

// What the window system does for the control; every call has a harmless default so the core
// runs without a window (tests).
class TPaintBoxHost {
 public:
  virtual ~TPaintBoxHost() = default;
  // Schedule a repaint of the window.
  virtual void HostInvalidate() {}
  // Repaint the window now.
  virtual void HostRepaint() {}
  // Show `Viewport` of the buffer at the same place in the window.
  virtual void HostPresent(const TBitmap32& /*Buffer*/, const TRect& /*Viewport*/) {}
  // Move or resize the control (AutoSize).
  virtual void HostSetBounds(int /*Left*/, int /*Top*/, int /*Width*/, int /*Height*/) {}
  // The cursor shown over the control.
  virtual void HostSetCursor(TCursor /*Cursor*/) {}
  virtual void HostCaptureMouse() {}
  // The window canvas for GDI-overlay layers (nil without a window).
  virtual TLayerCanvas* HostCanvas() { return nullptr; }
};

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
// The framework's window colour (system colour 5).
constexpr TColor clWindow = TColor(0x80000005);

class TCustomPaintBox32 : public TObject {
 public:
  explicit TCustomPaintBox32(TPaintBoxHost* Host = nullptr);
  ~TCustomPaintBox32() override;

  void SetHost(TPaintBoxHost* Host) { host_ = Host ? Host : &no_host_; }
  TPaintBoxHost& Host() const { return *host_; }

  // Control bounds in the parent, pixels; default size 192 x 192.
  int Left = 0, Top = 0;
  int Width() const { return width_; }
  int Height() const { return height_; }
  // Moves or resizes the control (the host's window follows).
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  // The host reports bounds the window system gave the control.
  void UpdateBounds(int ALeft, int ATop, int AWidth, int AHeight);
  // The window was resized to the current bounds.
  virtual void Resize();
  virtual void Loaded();

  TBitmap32& Buffer() { return buffer_; }
  int GetBufferOversize() const { return buffer_oversize_; }
  // Held at 0 or more; the buffer is resized at once.
  void SetBufferOversize(int Value);
  bool BufferValid() const { return buffer_valid_; }
  virtual TRect GetViewportRect() const { return {0, 0, width_, height_}; }

  // The paint request: size the buffer, redraw it when invalid, present it, then the overlay.
  void Paint();
  virtual void Invalidate();
  void Flush() { Flush(GetViewportRect()); }
  void Flush(const TRect& R);
  void ResizeBuffer();

  std::function<void(TObject* Sender)> OnGDIOverlay;

  // Framework state flags.
  bool Designing = false;
  bool Loading = false;

 protected:
  virtual void DoPaintBuffer() { buffer_valid_ = true; }
  virtual void DoPaintGDIOverlay();
  void MarkBufferValid(bool Valid) { buffer_valid_ = Valid; }

 private:
  TPaintBoxHost no_host_;
  TPaintBoxHost* host_;
  int width_ = 192, height_ = 192;
  TBitmap32 buffer_;
  int buffer_oversize_ = 40;
  bool buffer_valid_ = false;
};

// The paint box that leaves drawing its buffer to OnPaintBuffer at every paint.
class TPaintBox32Core : public TCustomPaintBox32 {
 public:
  using TCustomPaintBox32::TCustomPaintBox32;
  TNotifyEvent OnPaintBuffer;

 protected:
  void DoPaintBuffer() override;
};

// One stage of composing the image's buffer.
struct TPaintStage {
  bool DsgnTime = false;
  bool RunTime = true;
  uint32_t Stage = 0;
  uint32_t Parameter = 0;
};
enum : uint32_t {
  PST_CUSTOM = 1,
  PST_CLEAR_BUFFER,
  PST_CLEAR_BACKGND,
  PST_DRAW_BITMAP,
  PST_DRAW_LAYERS,
  PST_CONTROL_FRAME,
  PST_BITMAP_FRAME
};

class TPaintStages {
 public:
  // Appends {false, true, 0, 0}.
  TPaintStage* Add();
  // Index held to 0..Count.
  TPaintStage* Insert(int Index);
  // Raises EListError "Invalid stage index" outside 0..Count - 1.
  void Delete(int Index);
  void Clear() { stages_.clear(); }
  int Count() const { return int(stages_.size()); }
  TPaintStage& operator[](int Index) { return stages_[size_t(Index)]; }
  const TPaintStage& operator[](int Index) const { return stages_[size_t(Index)]; }

 private:
  std::vector<TPaintStage> stages_;
};

enum TBitmapAlign { baTopLeft, baCenter, baTile, baCustom };
enum TScaleMode { smNormal, smStretch, smScale, smResize };

class TCustomImage32;
using TImgMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift,
                                          int X, int Y, TCustomLayer* Layer)>;
using TImgMouseMoveEvent =
    std::function<void(TObject* Sender, TShiftState Shift, int X, int Y, TCustomLayer* Layer)>;
using TPaintStageEvent = std::function<void(TObject* Sender, TBitmap32* Buffer, uint32_t StageNum)>;

class TCustomImage32 : public TCustomPaintBox32 {
 public:
  explicit TCustomImage32(TPaintBoxHost* Host = nullptr);
  ~TCustomImage32() override;

  // The picture (owned). SetBitmap copies the source into it.
  TBitmap32* GetBitmap() { return bitmap_.get(); }
  void SetBitmap(const TBitmap32* Source);
  TBitmapAlign GetBitmapAlign() const { return bitmap_align_; }
  void SetBitmapAlign(TBitmapAlign Value);
  float GetScale() const { return scale_; }
  // Held to 0.001 .. 1000 (a thousandfold keeps every scaled size and the 16.16 cache inside 32
  // bits); a value that is not a number is ignored.
  void SetScale(float Value);
  TScaleMode GetScaleMode() const { return scale_mode_; }
  void SetScaleMode(TScaleMode Value);
  float GetOffsetHorz() const { return offset_horz_; }
  void SetOffsetHorz(float Value);
  float GetOffsetVert() const { return offset_vert_; }
  void SetOffsetVert(float Value);
  TLayerCollection& Layers() { return *layers_; }
  TPaintStages& PaintStages() { return stages_; }
  TPixelCombineEvent GetOnPixelCombine() const { return bitmap_->OnPixelCombine; }
  void SetOnPixelCombine(TPixelCombineEvent Value);

  // Framework properties the core needs.
  TColor Color = clWindow;
  TCursor Cursor = crDefault;
  bool AutoSize = false;
  TAlign Align = alNone;

  TPoint BitmapToControl(const TPoint& P);
  TPoint ControlToBitmap(const TPoint& P);
  virtual void BeginUpdate() { ++update_count_; }
  // Raises EAssertionFailed "Unpaired EndUpdate call" below 0 (the count stays 0).
  virtual void EndUpdate();
  virtual void Changed();
  int UpdateCount() const { return update_count_; }
  void Invalidate() override;
  void InvalidateCache() { cache_valid_ = false; }
  void PaintTo(TBitmap32* Dest, const TRect& DestRect);
  // Sizes the picture to the control and, when asked, clears it to the colour.
  void SetupBitmap(bool DoClear = false, TColor32 ClearColor = 0xFF000000);
  virtual TRect GetBitmapRect();
  virtual TPoint GetBitmapSize();
  // Autosize: the size the control takes; always true.
  bool CanAutoSize(int& NewWidth, int& NewHeight);
  const TImageCache& Cache();

  void Resize() override;
  void Loaded() override;

  // Mouse, in control pixels, as the window system reports it.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  void MouseEnter();
  void MouseLeave();

  TNotifyEvent OnBitmapResize, OnChange, OnInitStages, OnMouseEnter, OnMouseLeave;
  TImgMouseEvent OnMouseDown, OnMouseUp;
  TImgMouseMoveEvent OnMouseMove;
  TPaintStageEvent OnPaintStage;

  // Stage methods.
  virtual void ExecCustom(TBitmap32* Dest, int StageNum);
  virtual void ExecClearBuffer(TBitmap32* Dest, int StageNum);
  virtual void ExecClearBackgnd(TBitmap32* Dest, int StageNum);
  virtual void ExecDrawBitmap(TBitmap32* Dest, int StageNum);
  virtual void ExecDrawLayers(TBitmap32* Dest, int StageNum);
  virtual void ExecControlFrame(TBitmap32* Dest, int StageNum);
  virtual void ExecBitmapFrame(TBitmap32* Dest, int StageNum);

 protected:
  void DoPaintBuffer() override;
  void DoPaintGDIOverlay() override;
  virtual void BitmapResized();
  virtual void DoInitStages();
  virtual void DoScaleChange() {}
  virtual void InitDefaultStages();
  void UpdateCache();
  void RunStage(TBitmap32* Dest, int Index);

 private:
  std::unique_ptr<TBitmap32> bitmap_;
  std::unique_ptr<TLayerCollection> layers_;
  TPaintStages stages_;
  TBitmapAlign bitmap_align_ = baTopLeft;
  float scale_ = 1.0f;
  TScaleMode scale_mode_ = smNormal;
  float offset_horz_ = 0, offset_vert_ = 0;
  int update_count_ = 0;
  TImageCache cache_;
  TRect cached_bitmap_rect_;
  bool cache_valid_ = false;
};

// ---- Scrolling image view ------------------------------------------------------------------

enum TSizeGripStyle { sgAuto, sgNone, sgAlways };

// The look of both bars of a view, plus the step of their arrows and their thickness.
class TIVScrollProperties : public TArrowBarAccess {
 public:
  TIVScrollProperties(TCustomRangeBar* H, TCustomRangeBar* V, std::function<void()> Realign)
      : TArrowBarAccess(H, V), h_(H), v_(V), realign_(std::move(Realign)) {}
  float GetIncrement() const { return h_->GetIncrement(); }
  void SetIncrement(float Value) { h_->SetIncrement(Value), v_->SetIncrement(Value); }
  // 0: the system's scroll-bar thickness.
  int GetSize() const { return size_; }
  void SetSize(int Value);

 private:
  TCustomRangeBar *h_, *v_;
  std::function<void()> realign_;
  int size_ = 0;
};

// An image control with range bars along its right and bottom edges and a size grip in the
// corner; the picture scrolls with the bars or, when smaller than the viewport, is centred.
// The bars are cores living in the view's own rectangles: the view routes the mouse to them and
// paints them with PaintChrome.
class TCustomImgView32 : public TCustomImage32, private TArrowBarHost {
 public:
  explicit TCustomImgView32(TPaintBoxHost* Host = nullptr);
  ~TCustomImgView32() override;

  // The thickness of a bar when ScrollBars.Size is 0 (the shell sets the platform's value).
  static inline int SystemScrollBarSize = 16;

  TCustomRangeBar& HScroll() { return hscroll_; }
  TCustomRangeBar& VScroll() { return vscroll_; }
  TIVScrollProperties& ScrollBars() { return scroll_bars_; }
  bool GetCentered() const { return centered_; }
  // True centres the picture; false scrolls to its origin.
  void SetCentered(bool Value);
  TSizeGripStyle GetSizeGrip() const { return size_grip_; }
  void SetSizeGrip(TSizeGripStyle Value);
  // For sgAuto: whether the view and every parent up to the form fill their client area (the
  // shell answers; without one, the view's own Align).
  std::function<bool()> FillsItsForm;

  TRect GetViewportRect() const override;
  int ScrollBarSize() const;
  TRect HScrollRect() const;
  TRect VScrollRect() const;
  TRect SizeGripRect() const;
  bool IsSizeGripVisible() const;

  void AlignAll();
  void UpdateScrollBars();
  void UpdateImage();
  // Scrolls so that the picture point (X, Y) is in the middle of the viewport.
  void ScrollToCenter(int X, int Y);
  void Scroll(int Dx, int Dy);

  void Resize() override;
  void Loaded() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

  // Draws both bars and the size-grip corner at their places into a control-sized bitmap.
  void PaintChrome(TBitmap32& Dest);
  // The bars' repeat timer: the shell calls PollBarTimers when OnScheduleBarTimer's delay is due
  // (a negative delay cancels).
  std::function<void(int DelayMs)> OnScheduleBarTimer;
  void PollBarTimers();
  // A press inside the visible grip: the shell starts the window system's size move.
  TNotifyEvent OnSizeGripPress;

  TNotifyEvent OnScroll;

 protected:
  virtual void DoScroll();
  virtual void ScrollHandler(TObject* Sender);
  void BitmapResized() override;
  void DoScaleChange() override;

 private:
  void HostInvalidate() override;
  void HostScheduleTimer(int DelayMs) override;
  void SetPositions(float H, float V);
  TArrowBar* BarAt(int X, int Y, TRect& Where);

  TCustomRangeBar hscroll_, vscroll_;
  TIVScrollProperties scroll_bars_;
  bool centered_ = true;
  TSizeGripStyle size_grip_ = sgAuto;
  bool scrolling_ = false;
  TArrowBar* mouse_bar_ = nullptr;  // the bar holding the mouse
  TRect mouse_bar_rect_;
};

// XOR-dotted focus rectangle, every other pixel of the outline, as the platform draws one.
void DrawFocusRect(TBitmap32& Dest, const TRect& R);

}  // namespace g32
