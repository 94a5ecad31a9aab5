#include "mmobj.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>

#include "dispatch.h"
#include "mmutils.h"
#include "msgtable.h"
#include "trace.h"
#include "ui_application.h"

using namespace vant;

// ---- TMMObject ----

void TMMObject::BeginUpdate() {
  if (update_count_ == 0) SetUpdateState(true);
  ++update_count_;
}

void TMMObject::EndUpdate() {
  if (update_count_ <= 0) return;
  if (--update_count_ == 0) SetUpdateState(false);
}

void TMMObject::SetUpdateState(bool updating) {
  if (updating)
    Changing();
  else
    Changed();
}

void TMMObject::Changing() {
  if (update_count_ == 0 && OnChanging) OnChanging(this);
}

void TMMObject::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(this);
}

// ---- TMMBevel ----

TMMBevel::TMMBevel()
    : colors_{clBtnFace, clBlack, clBtnHighlight, clBtnShadow, clBtnHighlight, clBtnShadow} {}

template <class T>
void TMMBevel::Set(T& field, T value) {
  if (ChangeField(field, value)) Changed();
}

void TMMBevel::SetBevelInner(TBevelCut v) { Set(bevel_inner_, v); }
void TMMBevel::SetBevelOuter(TBevelCut v) { Set(bevel_outer_, v); }
void TMMBevel::SetBevelInnerWidth(int v) { Set(inner_width_, std::max(1, v)); }
void TMMBevel::SetBevelOuterWidth(int v) { Set(outer_width_, std::max(1, v)); }
void TMMBevel::SetBorderStyle(TBorderStyle v) { Set(border_style_, v); }
void TMMBevel::SetBorderWidth(int v) { Set(border_width_, std::max(0, v)); }
void TMMBevel::SetBorderSpace(int v) { Set(border_space_, std::max(0, v)); }

TColor TMMBevel::GetColors(int index) const {
  return index >= 0 && index < 6 ? colors_[index] : clNone;
}

void TMMBevel::SetColors(int index, TColor value) {
  if (index < 0 || index >= 6) {
    Changed();
    return;
  }
  Set(colors_[index], value);
}

void TMMBevel::Assign(const TPersistent* source) {
  auto* b = dynamic_cast<const TMMBevel*>(source);
  if (!b || b == this) return TPersistent::Assign(source);
  BeginUpdate();
  try {
    SetBevelInner(b->bevel_inner_);
    SetBevelOuter(b->bevel_outer_);
    SetBevelInnerWidth(b->inner_width_);
    SetBevelOuterWidth(b->outer_width_);
    SetBorderStyle(b->border_style_);
    SetBorderWidth(b->border_width_);
    SetBorderSpace(b->border_space_);
    for (int i : {kBorderColor, kBorderSpaceColor, kOuterLightColor, kOuterShadowColor,
                  kInnerLightColor, kInnerShadowColor})
      SetColors(i, b->colors_[i]);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int TMMBevel::GetBevelExtend() const {
  int64_t e = int64_t(border_width_) + border_space_;
  if (bevel_outer_ != bvNone) e += outer_width_;
  if (bevel_inner_ != bvNone) e += inner_width_;
  if (border_style_ != bsNone) e += 1;
  // An inset beyond the largest control covers any control whole; held there, twice it and a
  // control's size still add up within int.
  return int(std::min<int64_t>(e, vant::kMaxControlExtent));
}

TRect TMMBevel::PaintBevel(TCanvas& canvas, const TRect& rect, bool paint_border) {
  TRect r = rect;
  auto ring = [&](TBevelCut cut, int width, TColor light, TColor shadow) {
    if (cut == bvLowered) Frame3D(canvas, r, shadow, light, width);
    if (cut == bvRaised) Frame3D(canvas, r, light, shadow, width);
  };
  if (border_style_ == bsSingle) Frame3D(canvas, r, clWindowFrame, clWindowFrame, 1);
  ring(bevel_outer_, outer_width_, colors_[kOuterLightColor], colors_[kOuterShadowColor]);
  if (paint_border)
    Frame3D(canvas, r, colors_[kBorderColor], colors_[kBorderColor], border_width_);
  else
    InflateRect(r, -border_width_, -border_width_);
  ring(bevel_inner_, inner_width_, colors_[kInnerLightColor], colors_[kInnerShadowColor]);
  if (border_space_ > 0)
    Frame3D(canvas, r, colors_[kBorderSpaceColor], colors_[kBorderSpaceColor], border_space_);
  return r;
}

// ---- components ----

void TMMComponent::DesigningChanged(bool value) {
  if (value != HasState(csDesigning)) ChangeDesigning(value);
}

void TMMComponent::ChangeDesigning(bool value) { SetDesigning(value, true); }

TMMBevelHolder::TMMBevelHolder(std::function<void()> on_change)
    : bevel_(std::make_unique<TMMBevel>()) {
  bevel_->OnChange = [f = std::move(on_change)](TObject*) { f(); };
}

TMMBevelHolder::~TMMBevelHolder() {
  // A change during teardown notifies nobody.
  bevel_->OnChange = nullptr;
}

namespace {
void PaintBevelled(TControl& c, TMMBevel& bevel, bool fill) {
  TRect r = bevel.PaintBevel(c.Canvas(), c.ClientRect(), true);
  if (!fill) return;
  c.Canvas().Brush().Color = c.GetColor();
  c.Canvas().Brush().Style = bsSolid;
  c.Canvas().FillRect(r);
}
}  // namespace

// ---- TMMGraphicControl ----

TMMGraphicControl::TMMGraphicControl(TComponent* owner) : TMMBevelledBase(owner) {
  SetControlStyle(ControlStyle() | csOpaque);
}

void TMMGraphicControl::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  SetControlStyle(value ? ControlStyle() & ~unsigned(csOpaque) : ControlStyle() | csOpaque);
  Invalidate();
  Repaint();
}

void TMMGraphicControl::Paint() { PaintBevelled(*this, Bevel(), !transparent_); }

// ---- TMMCustomControl ----

TMMCustomControl::TMMCustomControl(TComponent* owner) : TMMBevelledBase(owner) {
  SetControlStyle(ControlStyle() | csOpaque);
}

void TMMCustomControl::Paint() { PaintBevelled(*this, Bevel(), true); }

// ---- TMMCustomPanel ----

TMMCustomPanel::TMMCustomPanel(TComponent* owner) : TMMBevelledBase(owner) {}

void TMMCustomPanel::SetFillBevel(bool value) {
  if (value == fill_bevel_) return;
  fill_bevel_ = value;
  Invalidate();
}

void TMMCustomPanel::Paint() {
  if (OnCustomPaint) {
    OnCustomPaint(this);
    return;
  }
  TCanvas& c = Canvas();
  TRect r = Bevel().PaintBevel(c, ClientRect(), fill_bevel_);
  if (OnClientFill) {
    OnClientFill(this, c, r);
  } else {
    c.Brush().Color = GetColor();
    c.Brush().Style = bsSolid;
    c.FillRect(r);
  }
  std::string caption = GetText();
  if (caption.empty()) return;
  c.Brush().Style = bsClear;
  c.Font().Assign(&Font());
  int h = c.TextHeight("W");
  r.Top = (r.Top + r.Bottom - h) / 2;
  r.Bottom = r.Top + h;
  unsigned align = GetAlignment() == taLeftJustify    ? DT_LEFT
                   : GetAlignment() == taRightJustify ? DT_RIGHT
                                                      : DT_CENTER;
  c.DrawText(caption, r, align | DT_VCENTER | DT_EXPANDTABS);
}

void TMMCustomPanel::AlignControls(TControl* control, TRect& rect) {
  int e = BevelExtend();
  InflateRect(rect, -e, -e);
  TCustomPanel::AlignControls(control, rect);
}

void TMMCustomPanel::BevelChanged() {
  Realign();
  Changed();
}

// ---- TMMThreadEx ----

TMMThreadEx::TMMThreadEx(bool create_suspended)
    : create_suspended_(create_suspended), alive_(std::make_shared<std::atomic<bool>>(true)) {
  thread_ = std::make_unique<Thread>(
      [this, alive = alive_](Thread::Control& c) {
        control_ = &c;
        Execute();
        control_ = nullptr;
        if (*alive && OnTerminate)
          GetDispatcher().Post([this, alive] {
            if (*alive && OnTerminate) OnTerminate(nullptr);
          });
      },
      true);
}

TMMThreadEx::~TMMThreadEx() {
  *alive_ = false;
  thread_->Terminate();
  thread_->Resume();
  // Execute runs on this object: it must have returned before the object goes, however long.
  while (!thread_->WaitFor(5000)) Trace("TMMThreadEx: still waiting for the thread to end");
}

void TMMThreadEx::AfterConstruction() {
  if (!create_suspended_) thread_->Resume();
}
void TMMThreadEx::Resume() { thread_->Resume(); }
void TMMThreadEx::Suspend() { thread_->Suspend(); }
bool TMMThreadEx::Suspended() const { return thread_->IsSuspended(); }
void TMMThreadEx::Terminate() { thread_->Terminate(); }
bool TMMThreadEx::Terminated() const { return thread_->IsTerminated(); }
bool TMMThreadEx::Finished() const { return thread_->IsFinished(); }
bool TMMThreadEx::WaitFor(int64_t timeout_ms) { return thread_->WaitFor(timeout_ms); }
bool TMMThreadEx::WaitWhileSuspended() { return control_ ? control_->WaitWhileSuspended() : true; }

void TMMThreadEx::SetPriority(TThreadPriority p) {
  static const int32_t kSystem[] = {-15, -2, -1, 0, 1, 2, 15};
  priority_ = p;
  MMSetThreadPriority(*thread_, kSystem[p]);
}

void TMMThreadEx::Synchronize(const std::function<void()>& fn) {
  if (GetDispatcher().IsGuiThread()) return fn();
  struct Wait {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
  };
  auto w = std::make_shared<Wait>();
  GetDispatcher().Post([w, fn] {
    fn();
    std::lock_guard lock(w->mu);
    w->done = true;
    w->cv.notify_all();
  });
  std::unique_lock lock(w->mu);
  w->cv.wait_for(lock, std::chrono::seconds(5), [&] { return w->done; });
}

// ---- TMMCriticalSection ----

void TMMCriticalSection::Acquire() {
  ++count_;
  cs_.Enter();
}

void TMMCriticalSection::Release() {
  cs_.Leave();
  --count_;
}

bool TMMCriticalSection::TryEnter() {
  if (!cs_.TryEnter()) return false;
  ++count_;
  return true;
}

// ---- resources ----

std::string LoadResStr(int id) { return LibraryMessage(kLibraryMessageBase + id); }

void RegisterLibraryCursors() {
  // The library's pointer shapes by number; the controls that use them name what they mean
  // (2001 a grip over marks, 2003/2004 moving a selection, 2005 a hand over a thumb, 2011 a
  // split over marks).
  static const CursorShape kShapes[31] = {
      CursorShape::SizeWE, CursorShape::SizeNS,   CursorShape::SizeWE,   CursorShape::SizeAll,
      CursorShape::Hand,   CursorShape::Cross,    CursorShape::UpArrow,  CursorShape::Drag,
      CursorShape::SplitV, CursorShape::SplitH,   CursorShape::SplitH,   CursorShape::Cross,
      CursorShape::Hand,   CursorShape::SizeAll,  CursorShape::SizeNS,   CursorShape::SizeWE,
      CursorShape::Arrow,  CursorShape::Arrow,    CursorShape::Help,     CursorShape::Forbidden,
      CursorShape::Wait,   CursorShape::IBeam,    CursorShape::Cross,    CursorShape::Hand,
      CursorShape::Drag,   CursorShape::SizeNESW, CursorShape::SizeNWSE, CursorShape::Arrow,
      CursorShape::Arrow,  CursorShape::Arrow,    CursorShape::Arrow};
  for (int id = 1; id <= 31; ++id) Screen->RegisterCursor(2000 + id, kShapes[id - 1]);
}

namespace {
const bool kCursorsRegistered = (RegisterLibraryCursors(), true);
}

TCursor LoadResCursor(int id) {
  (void)kCursorsRegistered;
  return Screen->HasCursor(2000 + id) && id >= 1 && id <= 31 ? 2000 + id : crDefault;
}

int LoadResIcon(int) { return 0; }

bool DeviceIdToIdent(TMMDeviceId id, std::string& ident) {
  if (id == MapperId) return ident = "MapperId", true;
  if (id == InvalidId) return ident = "InvalidId", true;
  return false;
}

bool IdentToDeviceId(const std::string& ident, TMMDeviceId& id) {
  auto same = [&](const char* name) {
    std::string_view n(name);
    return ident.size() == n.size() &&
           std::equal(n.begin(), n.end(), ident.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) ==
                    std::tolower(static_cast<unsigned char>(b));
           });
  };
  if (same("MapperId")) return id = MapperId, true;
  if (same("InvalidId")) return id = InvalidId, true;
  return false;
}
