#pragma once
// The media library's bases: the persistent object with nested update brackets (TMMObject), the
// self-painting frame every library control owns (TMMBevel), the component and control bases,
// the panel base, the dialog and worker-thread bases, the counted critical section, and the
// library's resource lookups and device-number identifiers.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "critsect.h"
#include "mmutils.h"
#include "osthread.h"
#include "ui_canvas.h"
#include "ui_component.h"
#include "ui_control.h"

// Stores `value` in `field` and answers true when it differed: the first step of every
// property setter of the library.
template <class T>
bool ChangeField(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

// ---- data object ----

// Persistent data with change notification. Each outermost BeginUpdate/EndUpdate bracket fires
// OnChanging once at its start and OnChange once at its end; Changed inside a bracket is silent.
class TMMObject : public vant::TPersistent {
 public:
  std::string ClassName() const override { return "TMMObject"; }
  void BeginUpdate();
  // Closes a bracket. An EndUpdate without an open bracket is ignored, so one unbalanced call
  // cannot silence the object for good.
  void EndUpdate();
  int UpdateCount() const { return update_count_; }
  vant::TNotifyEvent OnChanging;
  vant::TNotifyEvent OnChange;

 protected:
  // True: a bracket opens (calls Changing); false: the outermost bracket closes (calls Changed).
  virtual void SetUpdateState(bool updating);
  virtual void Changing();
  virtual void Changed();

 private:
  int32_t update_count_ = 0;
};

// A frame of up to five rings, painted from the outside in: single border, outer bevel, border,
// inner bevel, border space.
class TMMBevel : public TMMObject {
 public:
  TMMBevel();
  std::string ClassName() const override { return "TMMBevel"; }
  // Copies another bevel as one change; anything else (this bevel too) raises EConvertError.
  void Assign(const vant::TPersistent* source) override;

  vant::TBevelCut GetBevelInner() const { return bevel_inner_; }
  void SetBevelInner(vant::TBevelCut v);
  vant::TBevelCut GetBevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(vant::TBevelCut v);
  int GetBevelInnerWidth() const { return inner_width_; }
  void SetBevelInnerWidth(int v);  // 1 .. MaxInt
  int GetBevelOuterWidth() const { return outer_width_; }
  void SetBevelOuterWidth(int v);
  vant::TBorderStyle GetBorderStyle() const { return border_style_; }
  void SetBorderStyle(vant::TBorderStyle v);
  int GetBorderWidth() const { return border_width_; }
  void SetBorderWidth(int v);  // 0 .. MaxInt
  int GetBorderSpace() const { return border_space_; }
  void SetBorderSpace(int v);

  // Colour indices of SetColors / GetColors.
  enum ColorIndex {
    kBorderColor,
    kBorderSpaceColor,
    kInnerLightColor,
    kInnerShadowColor,
    kOuterLightColor,
    kOuterShadowColor
  };
  vant::TColor GetColors(int index) const;
  // Stores the colour at `index` (0..5) and signals; any other index stores nothing but still
  // signals.
  void SetColors(int index, vant::TColor value);
  vant::TColor GetBorderColor() const { return colors_[kBorderColor]; }
  void SetBorderColor(vant::TColor c) { SetColors(kBorderColor, c); }
  vant::TColor GetBorderSpaceColor() const { return colors_[kBorderSpaceColor]; }
  void SetBorderSpaceColor(vant::TColor c) { SetColors(kBorderSpaceColor, c); }
  vant::TColor GetInnerLightColor() const { return colors_[kInnerLightColor]; }
  void SetInnerLightColor(vant::TColor c) { SetColors(kInnerLightColor, c); }
  vant::TColor GetInnerShadowColor() const { return colors_[kInnerShadowColor]; }
  void SetInnerShadowColor(vant::TColor c) { SetColors(kInnerShadowColor, c); }
  vant::TColor GetOuterLightColor() const { return colors_[kOuterLightColor]; }
  void SetOuterLightColor(vant::TColor c) { SetColors(kOuterLightColor, c); }
  vant::TColor GetOuterShadowColor() const { return colors_[kOuterShadowColor]; }
  void SetOuterShadowColor(vant::TColor c) { SetColors(kOuterShadowColor, c); }

  // The total width of the rings: the inset of a control's drawing area.
  int GetBevelExtend() const;
  // Paints the rings into `rect` and answers what is left inside them. With `paint_border`
  // false the border ring is skipped, not painted. bvSpace rings are neither painted nor
  // subtracted.
  virtual vant::TRect PaintBevel(vant::TCanvas& canvas, const vant::TRect& rect, bool paint_border);

 private:
  template <class T>
  void Set(T& field, T value);
  vant::TBevelCut bevel_inner_ = vant::bvNone;
  vant::TBevelCut bevel_outer_ = vant::bvLowered;
  int inner_width_ = 1;
  int outer_width_ = 1;
  vant::TBorderStyle border_style_ = vant::bsNone;
  int border_width_ = 0;
  int border_space_ = 0;
  vant::TColor colors_[6];
};

// ---- components ----

// What every library base adds: a run-time switch between design and run state.
class TMMComponent : public vant::TComponent {
 public:
  using vant::TComponent::TComponent;
  std::string ClassName() const override { return "TMMComponent"; }
  // Calls ChangeDesigning only when `value` differs from the current design state.
  virtual void DesigningChanged(bool value);
  // Sets or clears the design state of this component and of every component it owns.
  virtual void ChangeDesigning(bool value);
};

class TMMNonVisualComponent : public TMMComponent {
 public:
  using TMMComponent::TMMComponent;
  std::string ClassName() const override { return "TMMNonVisualComponent"; }
};

// The bevel plumbing the bevelled control bases share.
class TMMBevelHolder {
 public:
  TMMBevel& Bevel() { return *bevel_; }
  const TMMBevel& Bevel() const { return *bevel_; }
  // Copies `value` into the owned bevel.
  void SetBevel(const TMMBevel& value) { bevel_->Assign(&value); }
  int BevelExtend() const { return bevel_ ? bevel_->GetBevelExtend() : 0; }

 protected:
  explicit TMMBevelHolder(std::function<void()> on_change);
  ~TMMBevelHolder();
  std::unique_ptr<TMMBevel> bevel_;
};

// What the library's control bases add to a framework control: the design switch and the
// coordinate helpers.
template <class Base>
class TMMControlBase : public Base {
 public:
  explicit TMMControlBase(vant::TComponent* owner) : Base(owner) {}
  // A point in `control`'s client coordinates in this control's client coordinates.
  vant::TPoint ClientToClient(const vant::TControl* control, vant::TPoint p) const {
    return this->ScreenToClient(control->ClientToScreen(p));
  }
  // Both corners of a client rectangle in screen coordinates.
  vant::TRect ScreenRect(const vant::TRect& r) const {
    vant::TPoint a = this->ClientToScreen({r.Left, r.Top});
    vant::TPoint b = this->ClientToScreen({r.Right, r.Bottom});
    return {a.X, a.Y, b.X, b.Y};
  }
  // Calls ChangeDesigning only when `value` differs from the current design state.
  virtual void DesigningChanged(bool value) {
    if (value != this->HasState(vant::csDesigning)) ChangeDesigning(value);
  }
  // Sets or clears the design state here and in every owned component; windowed controls
  // then repaint in their new state.
  virtual void ChangeDesigning(bool value) {
    this->SetDesigning(value, true);
    if constexpr (std::is_base_of_v<vant::TWinControl, Base>) this->Invalidate();
  }
};

// A control base with an owned bevel whose changes repaint the control.
template <class Base>
class TMMBevelledBase : public TMMControlBase<Base>, public TMMBevelHolder {
 public:
  explicit TMMBevelledBase(vant::TComponent* owner)
      : TMMControlBase<Base>(owner), TMMBevelHolder([this] { BevelChanged(); }) {}
  // (0, 0, Width, Height) inset by BevelExtend on every side.
  vant::TRect BeveledRect() const {
    vant::TRect r = this->ClientRect();
    vant::InflateRect(r, -BevelExtend(), -BevelExtend());
    return r;
  }

 protected:
  virtual void Changed() { this->Invalidate(); }
  virtual void BevelChanged() { Changed(); }
};

// A windowless control with a bevel; transparent ones paint their bevel but not their background.
class TMMGraphicControl : public TMMBevelledBase<vant::TGraphicControl> {
 public:
  explicit TMMGraphicControl(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMGraphicControl"; }
  bool GetTransparent() const { return transparent_; }
  void SetTransparent(bool value);

 protected:
  void Paint() override;

 private:
  bool transparent_ = false;
};

class TMMWinControl : public TMMControlBase<vant::TWinControl> {
 public:
  explicit TMMWinControl(vant::TComponent* owner) : TMMControlBase(owner) {}
  std::string ClassName() const override { return "TMMWinControl"; }
};

class TMMCustomControl : public TMMBevelledBase<vant::TCustomControl> {
 public:
  explicit TMMCustomControl(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMCustomControl"; }

 protected:
  void Paint() override;
};

using TMMClientFill =
    std::function<void(vant::TObject* Sender, vant::TCanvas& Canvas, vant::TRect& aRect)>;

// The bevelled panel base: children are aligned inside the bevel; the framework panel's own
// frame is off, so the bevel is the only frame.
class TMMCustomPanel : public TMMBevelledBase<vant::TCustomPanel> {
 public:
  explicit TMMCustomPanel(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMCustomPanel"; }
  bool GetFillBevel() const { return fill_bevel_; }
  void SetFillBevel(bool value);
  // When assigned it replaces all painting.
  vant::TNotifyEvent OnCustomPaint;
  // When assigned it fills the area inside the bevel instead of the panel's Color.
  TMMClientFill OnClientFill;

 protected:
  void Paint() override;
  void AlignControls(vant::TControl* control, vant::TRect& rect) override;
  // Realigns the children inside the new frame, then repaints.
  void BevelChanged() override;

 private:
  bool fill_bevel_ = true;
};

// Common base of the library's dialogs.
class TMMCommonDialog : public vant::TComponent {
 public:
  using vant::TComponent::TComponent;
  std::string ClassName() const override { return "TMMCommonDialog"; }
  virtual bool Execute() { return false; }
};

// ---- threads and locks ----

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Base of the library's worker threads. A C++ base constructor cannot start a body that calls
// the derived Execute, so the thread is created held: a thread created not suspended starts when
// the most derived constructor calls AfterConstruction(); one created suspended starts at
// Resume(). A derived destructor must Terminate and WaitFor before its members go.
class TMMThreadEx {
 public:
  explicit TMMThreadEx(bool create_suspended);
  // Terminates and waits until Execute has returned, tracing now and then while it runs on.
  virtual ~TMMThreadEx();
  TMMThreadEx(const TMMThreadEx&) = delete;
  TMMThreadEx& operator=(const TMMThreadEx&) = delete;

  void AfterConstruction();
  void Resume();
  void Suspend();
  bool Suspended() const;
  void Terminate();
  bool Terminated() const;
  bool Finished() const;
  // Waits up to `timeout_ms` for Execute to return; true when it has.
  bool WaitFor(int64_t timeout_ms = 5000);
  // Maps tpIdle .. tpTimeCritical to -15, -2, -1, 0, 1, 2, 15 (best effort).
  void SetPriority(TThreadPriority p);
  TThreadPriority GetPriority() const { return priority_; }
  // Runs on the GUI thread once Execute has returned.
  vant::TNotifyEvent OnTerminate;
  vant::Thread& Handle() { return *thread_; }

 protected:
  virtual void Execute() = 0;
  // Runs `fn` on the GUI thread and waits for it (bounded by 5 s).
  void Synchronize(const std::function<void()>& fn);
  // For Execute: blocks while suspended; false when terminated.
  bool WaitWhileSuspended();

 private:
  vant::Thread::Control* control_ = nullptr;
  std::unique_ptr<vant::Thread> thread_;
  bool create_suspended_;
  TThreadPriority priority_ = tpNormal;
  std::shared_ptr<std::atomic<bool>> alive_;
};

// A recursive lock that counts its holders. TryEnter is a real try: false at once when another
// thread holds it.
class TMMCriticalSection {
 public:
  virtual ~TMMCriticalSection() = default;
  virtual void Acquire();
  virtual void Release();
  void Enter() { Acquire(); }
  void Leave() { Release(); }
  bool TryEnter();
  int32_t LockCount() const { return count_.load(); }
  void lock() { Acquire(); }
  void unlock() { Release(); }
  bool try_lock() { return TryEnter(); }

 private:
  vant::CriticalSection cs_;
  std::atomic<int32_t> count_{0};
};

// ---- resources and identifiers ----

// The library's string-table entry 28000 + id ("" when there is none).
std::string LoadResStr(int id);
// The number of the library's cursor 2000 + id, ready for any control's Cursor (crDefault when
// it is not registered).
vant::TCursor LoadResCursor(int id);
// The library has no icons here: always 0, the null icon.
int LoadResIcon(int id);
// Registers the library's cursors 2001..2031 with the screen (done once at start-up; safe to
// call again).
void RegisterLibraryCursors();

// "MapperId" / "InvalidId" for MapperId (-1) / InvalidId (-2); false for other numbers.
bool DeviceIdToIdent(TMMDeviceId id, std::string& ident);
// Accepts the identifiers in any letter case.
bool IdentToDeviceId(const std::string& ident, TMMDeviceId& id);

// Whether `obj`'s class is (or derives from) T. A null object answers false.
template <class T>
bool InheritsFromEx(const vant::TObject* obj) {
  return obj != nullptr && dynamic_cast<const T*>(obj) != nullptr;
}
