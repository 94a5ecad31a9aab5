#pragma once
// The window shells of the image control and the paint box on the component framework: each is a
// windowed control holding its Qt-free core (g32_image.h), which does the work; the shell passes
// bounds, colour, paint requests and the mouse in, and shows the core's buffer.
#include <functional>
#include <memory>

#include "g32_image.h"
#include "ui_canvas.h"
#include "ui_control.h"

class QImage;

namespace g32 {

using TImgMouseEventW =
    std::function<void(vant::TObject* Sender, vant::TMouseButton Button, vant::TShiftState Shift,
                       int X, int Y, TCustomLayer* Layer)>;
using TImgMouseMoveEventW = std::function<void(vant::TObject* Sender, vant::TShiftState Shift,
                                               int X, int Y, TCustomLayer* Layer)>;

// Installs the Qt text rasteriser and the Qt picture readers (once per process).
void InstallQtGraphics();

// The framework's shift set as the core's bits, and back.
TShiftState ShiftBits(const vant::TShiftState& s);
vant::TShiftState ShiftSet(TShiftState bits);

class TImage32 : public vant::TCustomControl, private TPaintBoxHost {
 public:
  explicit TImage32(vant::TComponent* Owner);
  ~TImage32() override;
  std::string ClassName() const override { return "TImage32"; }

  TCustomImage32& Image() { return *core_; }
  TBitmap32* GetBitmap() { return core_->GetBitmap(); }
  // Copies the source (a bitmap-list entry) into the own picture.
  void SetBitmap(const TBitmap32* Source) { core_->SetBitmap(Source); }
  TBitmapAlign GetBitmapAlign() const { return core_->GetBitmapAlign(); }
  void SetBitmapAlign(TBitmapAlign Value) { core_->SetBitmapAlign(Value); }
  float GetScale() const { return core_->GetScale(); }
  void SetScale(float Value) { core_->SetScale(Value); }
  TScaleMode GetScaleMode() const { return core_->GetScaleMode(); }
  void SetScaleMode(TScaleMode Value) { core_->SetScaleMode(Value); }
  bool GetAutoSize() const { return core_->AutoSize; }
  void SetAutoSize(bool Value);
  TLayerCollection& Layers() { return core_->Layers(); }

  void SetBounds(int Left, int Top, int Width, int Height) override;
  void Loaded() override;

  // The image's mouse events carry the layer under the mouse (nil without layers).
  TImgMouseEventW OnMouseDown, OnMouseUp;
  TImgMouseMoveEventW OnMouseMove;
  vant::TNotifyEvent OnChange, OnBitmapResize;

 protected:
  // A derived control brings its own core (a kind of TCustomImage32).
  TImage32(vant::TComponent* Owner, std::unique_ptr<TCustomImage32> Core);
  void Paint() override;
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseEnter() override;
  void MouseLeave() override;

  void HostInvalidate() override;
  void HostRepaint() override;
  void HostPresent(const TBitmap32& Buffer, const TRect& Viewport) override;
  void HostSetBounds(int Left, int Top, int Width, int Height) override;
  void HostSetCursor(TCursor Cursor) override;

  std::unique_ptr<TCustomImage32> core_;
  bool in_host_bounds_ = false;
};

class TPaintBox32 : public vant::TCustomControl, private TPaintBoxHost {
 public:
  explicit TPaintBox32(vant::TComponent* Owner);
  std::string ClassName() const override { return "TPaintBox32"; }
  TPaintBox32Core& Box() { return core_; }
  TBitmap32& Buffer() { return core_.Buffer(); }
  void SetBounds(int Left, int Top, int Width, int Height) override;
  vant::TNotifyEvent OnPaintBuffer;

 protected:
  void Paint() override;
  // Its owner draws the buffer at every paint.
  bool KeepsPicture() const override { return false; }

 private:
  void HostInvalidate() override { Invalidate(); }
  void HostPresent(const TBitmap32& Buffer, const TRect& Viewport) override;

  TPaintBox32Core core_;
};

// Copies `Viewport` of `Buffer` onto the control's canvas surface, alpha forced opaque.
void PresentOnCanvas(vant::TCanvas& Canvas, const TBitmap32& Buffer, const TRect& Viewport);

// Between a bitmap and a framework canvas, as blits in copy mode: the whole bitmap at (X, Y), or
// SrcRect stretched (nearest pixel) onto DstRect; and a canvas area stretched into a bitmap
// (the canvas has no alpha: those pixels come out opaque).
void DrawTo(const TBitmap32& Src, vant::TCanvas& Canvas, int X, int Y);
void DrawTo(const TBitmap32& Src, vant::TCanvas& Canvas, const TRect& DstRect,
            const TRect& SrcRect);
void Draw(TBitmap32& Dst, const TRect& DstRect, const TRect& SrcRect, vant::TCanvas& Canvas);

// Assignments between a bitmap and the framework's pictures and the clipboard, each inside the
// bitmap's update bracket and ending with Changed. A picture keeps its alpha bytes only when it
// has them (32 bits with alpha); any other format comes in opaque. A null picture empties the
// bitmap.
void Assign(TBitmap32& Dst, const QImage& Src);
void Assign(TBitmap32& Dst, const vant::TBitmap& Src);
// Switches the framework bitmap to 32 bits with alpha, of the same size, and copies the pixels.
void AssignTo(const TBitmap32& Src, vant::TBitmap& Dst);
// The clipboard's picture; EInvalidGraphic "Unsupported clipboard format" when there is none.
void AssignFromClipboard(TBitmap32& Dst);
void AssignToClipboard(const TBitmap32& Src);

}  // namespace g32
