#pragma once
// Controls of the component framework. Every control owns one host widget; windowless controls
// (TGraphicControl) paint over their parent's pixels, windowed ones (TWinControl) hold children
// and lay them out by Align. Every entry from the toolkit into a control's code goes through the
// application's exception handler, so a throwing handler never reaches the event loop.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui_canvas.h"
#include "ui_component.h"
#include "ui_messagewindow.h"
#include "ui_types.h"

class QWidget;
class QImage;

namespace vant {

class TWinControl;
class TControl;

using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TObject* Sender, uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char32_t& Key)>;
using TDragOverEvent = std::function<void(TObject* Sender, TObject* Source, int X, int Y,
                                          TDragState State, bool& Accept)>;
using TDragDropEvent = std::function<void(TObject* Sender, TObject* Source, int X, int Y)>;
using TEndDragEvent = std::function<void(TObject* Sender, TObject* Target, int X, int Y)>;
using TStartDragEvent = std::function<void(TObject* Sender)>;

// Control style flags.
enum : unsigned {
  csAcceptsControls = 1,
  csCaptureMouse = 2,
  csClickEvents = 4,
  csOpaque = 8,
  csDoubleClicks = 16,
  csSetCaption = 32,
};

// The pixels a drag must move before it starts.
constexpr int kDragThreshold = 2;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;
  std::string ClassName() const override { return "TControl"; }

  TWinControl* GetParent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);

  int GetLeft() const { return left_; }
  int GetTop() const { return top_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }
  TRect ClientRect() const { return {0, 0, ClientWidth(), ClientHeight()}; }
  TPoint ClientToScreen(TPoint p) const;
  TPoint ScreenToClient(TPoint p) const;
  // Scales position and size by m/d (forms scale all their children).
  virtual void ScaleBy(int m, int d);

  TAlign GetAlign() const { return align_; }
  void SetAlign(TAlign a);

  bool GetVisible() const { return visible_; }
  void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible and every parent visible up to a shown form.
  bool Showing() const;
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v);

  TColor GetColor() const { return color_; }
  void SetColor(TColor c);
  bool GetParentColor() const { return parent_color_; }
  void SetParentColor(bool v);
  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  bool GetParentFont() const { return parent_font_; }
  void SetParentFont(bool v);

  // Caption and Text are one property, as in the framework. UTF-8.
  std::string GetText() const;
  void SetText(const std::string& v);
  std::string GetCaption() const { return GetText(); }
  void SetCaption(const std::string& v) { SetText(v); }

  TCursor GetCursor() const { return cursor_; }
  void SetCursor(TCursor c);
  TCursor GetDragCursor() const { return drag_cursor_; }
  void SetDragCursor(TCursor c) { drag_cursor_ = c; }
  TDragMode GetDragMode() const { return drag_mode_; }
  void SetDragMode(TDragMode m) { drag_mode_ = m; }
  const std::string& GetHint() const { return hint_; }
  void SetHint(const std::string& h);
  bool GetShowHint() const { return show_hint_; }
  void SetShowHint(bool v);
  // Asked when the pointer rests on the control and its hint is about to show; false keeps it
  // hidden this time.
  virtual bool CanShowHint() const { return true; }

  unsigned ControlStyle() const { return control_style_; }
  // csOpaque on a self-painted control also spares the toolkit from repainting what lies under
  // it before each of its paints.
  void SetControlStyle(unsigned s);

  // Schedules a repaint; callable from any thread.
  void Invalidate();
  // Repaints now (GUI thread); nothing when the control is not showing.
  virtual void Repaint();
  void Refresh() { Repaint(); }
  void Update();
  void BringToFront();
  void SendToBack();

  // Starts the framework's drag: at once, or once the pointer moved `threshold` pixels.
  void BeginDrag(bool immediate, int threshold = kDragThreshold);
  bool Dragging() const;
  // Ends a running drag: drop on the current target when `drop`, else cancel.
  void EndDrag(bool drop);

  // The host widget (for the layers that embed toolkit code; others should not need it).
  QWidget* Host() const { return host_; }
  // The control a host widget belongs to, or nullptr.
  static TControl* FromHost(const QWidget* w);

  TNotifyEvent OnClick, OnDblClick, OnResize, OnMouseEnter, OnMouseLeave;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TDragOverEvent OnDragOver;
  TDragDropEvent OnDragDrop;
  TEndDragEvent OnEndDrag;
  TStartDragEvent OnStartDrag;

  // ---- called by the host widget; public for the bridge and for tests driving input ----
  void HandleMouseDown(TMouseButton b, TShiftState s, int x, int y, bool dbl);
  void HandleMouseMove(TShiftState s, int x, int y);
  void HandleMouseUp(TMouseButton b, TShiftState s, int x, int y);
  void HandleEnter();
  void HandleLeave();
  virtual void HandlePaint(QWidget* target);
  // The picture this control showed when it last painted (null before the first paint).
  const QImage* LastPaint() const { return last_paint_.get(); }
  // Paints the control as it would appear now into `bmp` (resized to the control), without a
  // display: what a screenshot of the control alone would show.
  void PaintTo(TBitmap& bmp);
  // Draws on the control's picture as last painted at once, outside the toolkit's paint cycle
  // (displays that redraw many times a second), and shows the picture at the next frame of the
  // display: the screen gets at most one update per refresh, however often this is called.
  // Nothing when not showing.
  void PaintNow(const std::function<void(TCanvas&)>& draw);
  // Moves the control with the next frame of the display, in the same screen update as the
  // pictures PaintNow drew (a mark that follows a playing sound); the last move asked wins. Any
  // other change of bounds before that frame drops the move. At once when not showing.
  void MoveAtFrame(int left, int top);

  virtual void Paint() {}
  // The canvas while Paint runs; also usable by descendants that draw at other times.
  TCanvas& Canvas() { return canvas_; }
  virtual void Click();
  virtual void DblClick();
  virtual void DragOver(TObject* source, int x, int y, TDragState state, bool& accept);
  virtual void DragDrop(TObject* source, int x, int y);
  virtual void DoEndDrag(TObject* target, int x, int y);
  virtual void DoStartDrag();

 protected:
  // `host` must be created by the derived constructor through CreateHost before use.
  void SetHost(QWidget* host);
  virtual void MouseDown(TMouseButton b, TShiftState s, int x, int y);
  virtual void MouseMove(TShiftState s, int x, int y);
  virtual void MouseUp(TMouseButton b, TShiftState s, int x, int y);
  virtual void MouseEnter();
  virtual void MouseLeave();
  virtual void Resize();
  virtual void TextChanged();
  virtual void FontChanged();
  virtual void ColorChanged();
  virtual void EnabledChanged();
  virtual void VisibleChanged();
  // After SetShowHint or SetCursor changed the value.
  virtual void ShowHintChanged() {}
  virtual void CursorChanged() {}
  // Windowed controls draw nothing here; windowless ones start from what lies under them.
  virtual bool PaintsOverParent() const { return false; }
  // Whether the toolkit's paints (an expose, a child's blinking cursor) may show the picture
  // the last Paint made until the control is invalidated; a control that paints over its
  // parent, or one whose owner asks to draw at every paint, paints again.
  virtual bool KeepsPicture() const { return !PaintsOverParent(); }
  // Where the text lives for controls that keep it in a toolkit widget.
  virtual std::string ReadText() const { return text_; }
  virtual void WriteText(const std::string& v) { text_ = v; }
  void ParentFontChanged();
  void ParentColorChanged();
  void RequestAlign();
  // Puts the bounds on the host widget (forms: on the window, within its size rules).
  virtual void ApplyGeometry();
  void ApplyVisible();

  QWidget* host_ = nullptr;
  bool top_level_ = false;  // forms: the host is a window of its own
  std::string text_;
  TCanvas canvas_;
  std::unique_ptr<QImage> last_paint_;

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  TColor color_ = clBtnFace;
  bool parent_color_ = false;
  TFont font_;
  bool parent_font_ = true;
  bool font_updating_ = false;
  TCursor cursor_ = crDefault;
  TCursor drag_cursor_ = crDrag;
  TDragMode drag_mode_ = dmManual;
  std::string hint_;
  bool show_hint_ = false;
  bool clicked_ = false;
  // PaintNow drew on the picture: a paint shows it as it stands, until something invalidates it.
  bool picture_fresh_ = false;
  bool present_queued_ = false;  // waits for the next frame (PaintNow, MoveAtFrame)
  bool move_queued_ = false;     // MoveAtFrame: the frame moves the control to move_to_
  TPoint move_to_{};
  friend class FramePacer;
  unsigned control_style_ = csCaptureMouse | csClickEvents | csSetCaption | csDoubleClicks;
};

// A control without a window of its own: it paints over its parent and holds no children.
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* owner);
  std::string ClassName() const override { return "TGraphicControl"; }

 protected:
  bool PaintsOverParent() const override { return (ControlStyle() & csOpaque) == 0; }
};

// A control with a window: focus, keys, children and their alignment, a message handle.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;
  std::string ClassName() const override { return "TWinControl"; }

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int i) const { return controls_.at(i); }
  // Lays the aligned children out again (no-op while alignment is disabled).
  void Realign();
  // Lays the children out once the builder has set every property.
  void Loaded() override;
  void DisableAlign() { ++align_disabled_; }
  // Scales this control and, inside it, every child.
  void ScaleBy(int m, int d) override;
  void EnableAlign();

  bool GetTabStop() const { return tab_stop_; }
  void SetTabStop(bool v);
  int GetTabOrder() const { return tab_order_; }
  // The place in the parent's Tab sequence (lower first; -1: after the numbered ones, in
  // creation order).
  void SetTabOrder(int v);
  bool CanFocus() const;
  bool Focused() const;
  virtual void SetFocus();

  // The window handle of this control for posted and sent messages (created on first use).
  HWND Handle();
  // Receives what arrives at Handle(); the base answers 0.
  virtual void WndProc(TMessage& m);

  TNotifyEvent OnEnter, OnExit;
  TKeyEvent OnKeyDown, OnKeyUp;
  TKeyPressEvent OnKeyPress;

  // Called by the host widget; answers false when a handler cleared the key.
  bool HandleKeyDown(uint16_t& key, TShiftState s);
  bool HandleKeyPress(char32_t& key);
  void HandleKeyUp(uint16_t& key, TShiftState s);
  void HandleFocus(bool in);

 protected:
  friend class TControl;
  // Positions the aligned children inside `rect` (the client rectangle at first).
  virtual void AlignControls(TControl* control, TRect& rect);
  virtual void KeyDown(uint16_t& key, TShiftState s);
  virtual void KeyPress(char32_t& key);
  virtual void KeyUp(uint16_t& key, TShiftState s);
  virtual void DoEnter();
  virtual void DoExit();
  void Resize() override;
  void FontChanged() override;
  void ColorChanged() override;
  void InsertControl(TControl* c);
  void RemoveControl(TControl* c);
  void KeepWindowlessBelow(TControl* c);
  // Chains the windowed children's focus in TabOrder.
  void ApplyTabOrder();

 private:
  std::vector<TControl*> controls_;
  int align_disabled_ = 0;
  bool aligning_ = false;
  bool tab_stop_ = false;
  int tab_order_ = -1;
  std::unique_ptr<MessageWindow> message_window_;
};

// A windowed control that paints itself on its canvas.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* owner);
  std::string ClassName() const override { return "TCustomControl"; }
};

// The framework's panel: a windowed container; the library's panel replaces its painting.
class TCustomPanel : public TCustomControl {
 public:
  explicit TCustomPanel(TComponent* owner);
  std::string ClassName() const override { return "TCustomPanel"; }
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment a);

 protected:
  void Paint() override;
  TAlignment alignment_ = taCenter;
};

// The cursor the running drag shows (crDefault when no drag runs).
TCursor CurrentDragCursor();
// Sends every mouse event to `c` until released (nullptr releases). The press of a button
// captures its control by itself until the release.
void SetCaptureControl(TControl* c);
TControl* GetCaptureControl();
// The mouse pointer's position in screen coordinates, and moving the pointer there.
TPoint GetCursorPos();
void SetCursorPos(TPoint screen);

// Whether `obj`'s class is (or derives from) T; nullptr answers false.
template <class T>
bool InheritsFrom(const TObject* obj) {
  return dynamic_cast<const T*>(obj) != nullptr;
}

}  // namespace vant
