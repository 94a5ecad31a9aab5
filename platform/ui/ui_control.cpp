#include "ui_control.h"

#include <QPalette>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <limits>

#include "clock.h"
#include "ui_form.h"
#include "ui_qt.h"
#include "ui_timer.h"

namespace vant {

// ---- conversions ----

TShiftState ShiftFrom(Qt::KeyboardModifiers m, Qt::MouseButtons b) {
  TShiftState s;
  if (m & Qt::ShiftModifier) s.insert(ssShift);
  if (m & Qt::ControlModifier) s.insert(ssCtrl);
  if (m & Qt::AltModifier) s.insert(ssAlt);
  if (b & Qt::LeftButton) s.insert(ssLeft);
  if (b & Qt::RightButton) s.insert(ssRight);
  if (b & Qt::MiddleButton) s.insert(ssMiddle);
  return s;
}

uint16_t VirtualKeyFrom(const QKeyEvent* e) {
  int k = e->key();
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return uint16_t('A' + (k - Qt::Key_A));
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return uint16_t('0' + (k - Qt::Key_0));
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return uint16_t(VK_F1 + (k - Qt::Key_F1));
  switch (k) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Shift:
      return VK_SHIFT;
    case Qt::Key_Control:
      return VK_CONTROL;
    case Qt::Key_Alt:
      return VK_MENU;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_PageUp:
      return VK_PRIOR;
    case Qt::Key_PageDown:
      return VK_NEXT;
    case Qt::Key_End:
      return VK_END;
    case Qt::Key_Home:
      return VK_HOME;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    default:
      return 0;
  }
}

QCursor ToQCursor(TCursor c) {
  static const std::pair<CursorShape, Qt::CursorShape> kShapes[] = {
      {CursorShape::Arrow, Qt::ArrowCursor},        {CursorShape::Cross, Qt::CrossCursor},
      {CursorShape::IBeam, Qt::IBeamCursor},        {CursorShape::Wait, Qt::WaitCursor},
      {CursorShape::SizeAll, Qt::SizeAllCursor},    {CursorShape::SizeNS, Qt::SizeVerCursor},
      {CursorShape::SizeWE, Qt::SizeHorCursor},     {CursorShape::SizeNESW, Qt::SizeBDiagCursor},
      {CursorShape::SizeNWSE, Qt::SizeFDiagCursor}, {CursorShape::UpArrow, Qt::UpArrowCursor},
      {CursorShape::Hand, Qt::PointingHandCursor},  {CursorShape::Forbidden, Qt::ForbiddenCursor},
      {CursorShape::Drag, Qt::DragMoveCursor},      {CursorShape::SplitH, Qt::SplitHCursor},
      {CursorShape::SplitV, Qt::SplitVCursor},      {CursorShape::Help, Qt::WhatsThisCursor},
      {CursorShape::Blank, Qt::BlankCursor}};
  if (const TScreen::CursorDef* d = Screen->FindCursor(c)) {
    if (!d->image.empty()) {
      QImage img(reinterpret_cast<const uchar*>(d->image.data()), 32, 32, QImage::Format_ARGB32);
      return QCursor(QPixmap::fromImage(img.copy()), d->hot_x, d->hot_y);
    }
    for (auto& [s, q] : kShapes)
      if (s == d->shape) return QCursor(q);
  }
  return QCursor(Qt::ArrowCursor);
}

// ---- drag state ----

namespace {
struct DragState {
  TControl* source = nullptr;
  QPoint start;  // screen
  bool started = false;
  TControl* target = nullptr;
  bool accepted = false;
  TPoint target_pt;
  int threshold = kDragThreshold;
} g_drag;

TCursor g_drag_cursor = crDefault;

void SetDragCursorShown(TCursor c) {
  if (c == g_drag_cursor) return;
  if (g_drag_cursor != crDefault) QApplication::restoreOverrideCursor();
  g_drag_cursor = c;
  if (c != crDefault) QApplication::setOverrideCursor(ToQCursor(c));
}

// The control under a screen point, searching the shown forms, last shown first.
TControl* ControlAtScreen(QPoint global) {
  const auto& forms = Screen->Forms();
  for (auto it = forms.rbegin(); it != forms.rend(); ++it) {
    QWidget* top = (*it)->Host();
    if (!top || !top->isVisible()) continue;
    QPoint local = top->mapFromGlobal(global);
    if (!top->rect().contains(local)) continue;
    QWidget* w = top->childAt(local);
    if (!w) w = top;
    for (; w; w = w->parentWidget())
      if (TControl* c = TControl::FromHost(w)) return c;
  }
  return nullptr;
}
}  // namespace

TCursor CurrentDragCursor() { return g_drag_cursor; }

namespace {
TControl* g_capture = nullptr;
}

void SetCaptureControl(TControl* c) {
  if (c == g_capture) return;
  if (g_capture && g_capture->Host()) g_capture->Host()->releaseMouse();
  g_capture = c;
  if (c && c->Host() && c->Host()->isVisible()) c->Host()->grabMouse();
}

TPoint GetCursorPos() {
  const QPoint p = QCursor::pos();
  return {p.x(), p.y()};
}

void SetCursorPos(TPoint screen) { QCursor::setPos(screen.X, screen.Y); }

TControl* GetCaptureControl() {
  if (g_capture) return g_capture;
  QWidget* w = QWidget::mouseGrabber();
  for (; w; w = w->parentWidget())
    if (TControl* c = TControl::FromHost(w)) return c;
  return nullptr;
}

// ---- TControl ----

// Puts what PaintNow drew on the screen at most once per refresh of the display. A picture drawn
// a frame or more after the last update goes out when the event loop next runs, one drawn within
// the frame at its end; either way together with every other picture drawn until then, in one
// paint and one flush of the window.
class FramePacer {
 public:
  static FramePacer& Get() {
    static FramePacer* pacer = new FramePacer;  // lives to the end, like the controls it serves
    return *pacer;
  }
  void Request(TControl* c) {
    if (!c->present_queued_) {
      c->present_queued_ = true;
      queued_.push_back(c);
    }
    const int64_t period = DisplayFramePeriodMicros();
    const int64_t now = GetClock().NowMicros();
    if (scheduled_) {
      // A caller that draws in a loop of its own (a progress mark while a file is read) keeps
      // the event loop from presenting: its pictures go out from here, still once per frame.
      if (now - scheduled_at_ >= 2 * period) Present(true);
      return;
    }
    scheduled_ = true;
    scheduled_at_ = now;
    // A frame all but come is this one: the timers at frames that drew woke a hair after the
    // frame the last present went out at, and the present goes out in the same wake.
    const int64_t wait = last_present_ + period - now;
    if (wait > period / 8 && wait <= period) {
      timer_.SetInterval(static_cast<unsigned>((wait + 999) / 1000));
      timer_.SetEnabled(true);
    } else {
      QMetaObject::invokeMethod(
          qApp, [this] { Present(); }, Qt::QueuedConnection);
    }
  }
  void Forget(TControl* c) { std::erase(queued_, c); }

 private:
  FramePacer() : timer_(nullptr) {
    timer_.SetEnabled(false);
    timer_.SetAtFrames(true);
    timer_.OnTimer = [this](TObject*) { Present(); };
  }
  void Present(bool at_once = false) {
    scheduled_ = false;
    timer_.SetEnabled(false);
    last_present_ = GetClock().NowMicros();
    // update(), not repaint(): the toolkit merges every queued control into one paint pass.
    // Only a present the event loop could not run paints at once.
    for (TControl* c : std::exchange(queued_, {})) {
      c->present_queued_ = false;
      if (c->move_queued_) c->SetBounds(c->move_to_.X, c->move_to_.Y, c->width_, c->height_);
      if (!c->host_ || !c->picture_fresh_) continue;
      if (at_once) {
        c->host_->repaint();
      } else {
        c->host_->update();
      }
    }
  }

  std::vector<TControl*> queued_;
  bool scheduled_ = false;  // a present is posted or timed
  int64_t scheduled_at_ = 0;
  int64_t last_present_ = std::numeric_limits<int64_t>::min() / 2;
  TTimer timer_;
};

TControl::TControl(TComponent* owner) : TComponent(owner) {
  // Host widgets need the toolkit and posts from workers need its dispatcher: a control made
  // before Application->Initialize (a test, a library) brings both up.
  Application->Initialize();
  font_.OnChange = [this](TFont*) {
    if (!font_updating_) parent_font_ = false;
    FontChanged();
  };
}

TControl::~TControl() {
  Destroying();
  if (g_drag.source == this || g_drag.target == this) {
    if (g_drag.source == this)
      g_drag = {};
    else
      g_drag.target = nullptr;
    SetDragCursorShown(crDefault);
  }
  if (g_capture == this) SetCaptureControl(nullptr);
  if (present_queued_) FramePacer::Get().Forget(this);
  if (parent_) parent_->RemoveControl(this);
  if (host_) {
    host_->setProperty(kControlProperty, QVariant());
    delete host_;
  }
}

void TControl::SetHost(QWidget* host) {
  if (host_) {
    host_->setProperty(kControlProperty, QVariant());
    delete host_;
  }
  host_ = host;
  host_->setProperty(kControlProperty, QVariant::fromValue<void*>(this));
  host_->hide();
  if (parent_) {
    host_->setParent(parent_->host_);
    ApplyGeometry();
    ApplyVisible();
  }
  host_->setEnabled(enabled_);
  host_->setFont(ToQFont(font_));
  SetControlStyle(control_style_);
}

TControl* TControl::FromHost(const QWidget* w) {
  if (!w) return nullptr;
  return static_cast<TControl*>(w->property(kControlProperty).value<void*>());
}

void TControl::SetControlStyle(unsigned s) {
  control_style_ = s;
  if (host_ && dynamic_cast<HostWidget<QWidget>*>(host_))
    host_->setAttribute(Qt::WA_OpaquePaintEvent, (s & csOpaque) != 0);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent == this) throw EComponentError("A control cannot have itself as its parent");
  if (parent_) parent_->RemoveControl(this);
  if (parent) parent->InsertControl(this);
}

void TControl::ApplyGeometry() {
  if (host_ && (parent_ || top_level_)) host_->setGeometry(left_, top_, width_, height_);
}

void TControl::ApplyVisible() {
  if (!host_) return;
  if (parent_ || top_level_)
    host_->setVisible(visible_);
  else
    host_->hide();
}

void TControl::SetBounds(int l, int t, int w, int h) {
  move_queued_ = false;
  // No screen shows more than the largest extent, and held to it (its place too) every
  // coordinate of the control and inside it stays well within int.
  w = HoldSize(w), h = HoldSize(h), l = HoldToExtent(l), t = HoldToExtent(t);
  bool resized = w != width_ || h != height_;
  if (!resized && l == left_ && t == top_) return;
  left_ = l, top_ = t, width_ = w, height_ = h;
  ApplyGeometry();
  if (resized) Resize();
  RequestAlign();
  Invalidate();
}

void TControl::RequestAlign() {
  if (parent_ && align_ != alNone) parent_->Realign();
}

TPoint TControl::ClientToScreen(TPoint p) const {
  if (host_ && (parent_ || dynamic_cast<const TForm*>(this))) {
    QPoint q = host_->mapToGlobal(QPoint(p.X, p.Y));
    return {q.x(), q.y()};
  }
  return p;
}

TPoint TControl::ScreenToClient(TPoint p) const {
  if (host_ && (parent_ || dynamic_cast<const TForm*>(this))) {
    QPoint q = host_->mapFromGlobal(QPoint(p.X, p.Y));
    return {q.x(), q.y()};
  }
  return p;
}

void TControl::ScaleBy(int m, int d) {
  if (d == 0 || m == d) return;
  SetBounds(ScaleSat(left_, m, d), ScaleSat(top_, m, d), ScaleSat(width_, m, d),
            ScaleSat(height_, m, d));
}

void TControl::SetAlign(TAlign a) {
  if (a == align_) return;
  align_ = a;
  if (parent_) parent_->Realign();
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  ApplyVisible();
  VisibleChanged();
  if (parent_ && align_ != alNone) parent_->Realign();
}

bool TControl::Showing() const { return host_ && host_->isVisible(); }

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  if (host_) host_->setEnabled(v);
  EnabledChanged();
}

void TControl::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  parent_color_ = false;
  ColorChanged();
}

void TControl::SetParentColor(bool v) {
  parent_color_ = v;
  ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (parent_color_ && parent_ && parent_->color_ != color_) {
    color_ = parent_->color_;
    ColorChanged();
  }
}

void TControl::SetParentFont(bool v) {
  parent_font_ = v;
  ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (parent_font_ && parent_ && !(parent_->font_ == font_)) {
    font_updating_ = true;
    font_.Assign(&parent_->font_);
    font_updating_ = false;
  }
}

std::string TControl::GetText() const { return ReadText(); }

void TControl::SetText(const std::string& v) {
  if (v == ReadText()) return;
  WriteText(v);
  TextChanged();
}

void TControl::SetCursor(TCursor c) {
  const bool changed = c != cursor_;
  cursor_ = c;
  if (host_) {
    if (c == crDefault)
      host_->unsetCursor();
    else
      host_->setCursor(ToQCursor(c));
  }
  if (changed) CursorChanged();
}

void TControl::SetHint(const std::string& h) {
  hint_ = h;
  if (host_) host_->setToolTip(show_hint_ ? QString::fromStdString(h) : QString());
}

void TControl::SetShowHint(bool v) {
  const bool changed = v != show_hint_;
  show_hint_ = v;
  SetHint(hint_);
  if (changed) ShowHintChanged();
}

void TControl::Invalidate() {
  if (!host_) return;
  if (QThread::currentThread() == host_->thread()) {
    picture_fresh_ = false;
    host_->update();
    return;
  }
  QPointer<QWidget> w(host_);
  QMetaObject::invokeMethod(
      qApp,
      [w] {
        if (TControl* c = w ? FromHost(w) : nullptr) c->Invalidate();
      },
      Qt::QueuedConnection);
}

void TControl::Repaint() {
  picture_fresh_ = false;
  if (host_ && host_->isVisible()) host_->repaint();
}

void TControl::Update() {
  picture_fresh_ = false;
  if (host_ && host_->isVisible()) host_->repaint();
}

void TControl::BringToFront() {
  if (host_) host_->raise();
  if (parent_) {
    auto& v = parent_->controls_;
    v.erase(std::find(v.begin(), v.end(), this));
    v.push_back(this);
    parent_->KeepWindowlessBelow(this);
  }
}

void TControl::SendToBack() {
  if (host_) host_->lower();
  if (parent_) {
    auto& v = parent_->controls_;
    v.erase(std::find(v.begin(), v.end(), this));
    v.insert(v.begin(), this);
  }
}

void TControl::HandlePaint(QWidget* target) {
  if (width_ <= 0 || height_ <= 0) return;
  if (picture_fresh_ && target && last_paint_ && last_paint_->width() == width_ &&
      last_paint_->height() == height_) {
    QPainter(target).drawImage(0, 0, *last_paint_);
    return;
  }
  if (!last_paint_ || last_paint_->width() != width_ || last_paint_->height() != height_)
    last_paint_ = std::make_unique<QImage>(width_, height_, QImage::Format_RGB32);
  QImage& img = *last_paint_;
  PaintMeter::Charge(int64_t{width_} * height_, 1);  // the ground laid before the paint
  if (PaintsOverParent() && parent_) {
    // What lies under us: the parent's picture and the windowless siblings painted before us.
    img.fill(ColorToPixel(parent_->color_));
    QPainter p(&img);
    if (parent_->last_paint_)
      p.drawImage(QPoint(0, 0), *parent_->last_paint_, QRect(left_, top_, width_, height_));
    for (TControl* s : parent_->controls_) {
      if (s == this) break;
      if (!s->PaintsOverParent() && dynamic_cast<TWinControl*>(s)) continue;
      if (!s->visible_ || !s->last_paint_) continue;
      TRect r = IntersectRect(BoundsRect(), s->BoundsRect());
      if (r.IsEmpty()) continue;
      p.drawImage(QPoint(r.Left - left_, r.Top - top_), *s->last_paint_,
                  QRect(r.Left - s->left_, r.Top - s->top_, r.Width(), r.Height()));
    }
  } else {
    img.fill(ColorToPixel(color_));
  }
  canvas_.SetSurface(&img);
  canvas_.Font().Assign(&font_);
  canvas_.Brush().Color = color_;
  canvas_.Brush().Style = bsSolid;
  canvas_.Pen() = TPen();
  canvas_.SetCopyMode(cmSrcCopy);
  // On a high-density screen the text is kept apart and drawn at the screen's resolution.
  std::vector<TCanvas::GlyphDrawing> glyphs;
  const bool dense = target && target->devicePixelRatioF() != 1.0;
  if (dense) canvas_.SetGlyphSink(&glyphs);
  try {
    Paint();
  } catch (...) {
    canvas_.SetGlyphSink(nullptr);
    throw;
  }
  canvas_.SetGlyphSink(nullptr);
  if (target) {
    QPainter p(target);
    // The picture is drawn in logical pixels; on a high-density screen the toolkit enlarges it
    // to the device's pixels, smoothly rather than in blocks, and the text goes over it sharp.
    if (dense) p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRect(0, 0, width_, height_), img);
    for (const auto& draw : glyphs) draw(p);
  }
  // The kept picture has its text too (what windowless children and copies are made from).
  if (!glyphs.empty()) {
    QPainter into(&img);
    into.setRenderHint(QPainter::TextAntialiasing, false);
    for (const auto& draw : glyphs) draw(into);
  }
  // The toolkit's next paints (a child's blinking cursor, an expose) show it until the control
  // is invalidated, unless it paints again at every paint.
  picture_fresh_ = KeepsPicture();
}

void TControl::PaintTo(TBitmap& bmp) {
  HandlePaint(nullptr);
  if (!last_paint_) {
    bmp.SetSize(0, 0);
    return;
  }
  // One copy of the picture, whatever its size (the largest control's is a gigabyte).
  bmp.Image() = last_paint_->copy();
  bmp.Canvas().SetSurface(&bmp.Image());
  if (bmp.OnChange) bmp.OnChange(&bmp);
}

void TControl::PaintNow(const std::function<void(TCanvas&)>& draw) {
  if (!Showing() || width_ <= 0 || height_ <= 0) return;
  if (!last_paint_ || last_paint_->width() != width_ || last_paint_->height() != height_)
    HandlePaint(nullptr);
  canvas_.SetSurface(last_paint_.get());
  draw(canvas_);
  picture_fresh_ = true;
  FramePacer::Get().Request(this);
}

void TControl::MoveAtFrame(int left, int top) {
  if (!Showing()) {
    SetBounds(left, top, width_, height_);
    return;
  }
  if (move_queued_ ? move_to_ == TPoint{left, top} : left == left_ && top == top_) return;
  move_queued_ = true;
  move_to_ = {left, top};
  FramePacer::Get().Request(this);
}

void TControl::HandleMouseDown(TMouseButton b, TShiftState s, int x, int y, bool dbl) {
  if (!enabled_) return;
  if (dbl && (control_style_ & csDoubleClicks)) {
    DblClick();
    s.insert(ssDouble);
  }
  if (b == mbLeft) {
    // The second press of a double click fires DblClick, not another Click on release.
    clicked_ = !dbl && (control_style_ & csClickEvents) != 0;
    if (drag_mode_ == dmAutomatic && !dbl) {
      BeginDrag(false);
      g_drag.start = host_ ? host_->mapToGlobal(QPoint(x, y)) : QPoint(x, y);
    }
  }
  MouseDown(b, s, x, y);
}

void TControl::HandleMouseMove(TShiftState s, int x, int y) {
  if (g_drag.source == this) {
    QPoint g = host_ ? host_->mapToGlobal(QPoint(x, y)) : QPoint(x, y);
    if (!g_drag.started) {
      if (std::abs(g.x() - g_drag.start.x()) < g_drag.threshold &&
          std::abs(g.y() - g_drag.start.y()) < g_drag.threshold)
        return;
      g_drag.started = true;
      DoStartDrag();
    }
    TControl* t = ControlAtScreen(g);
    if (t != g_drag.target) {
      if (g_drag.target) {
        bool dummy = false;
        g_drag.target->DragOver(this, g_drag.target_pt.X, g_drag.target_pt.Y, dsDragLeave, dummy);
      }
      g_drag.target = t;
      if (t) {
        QPoint lp = t->host_->mapFromGlobal(g);
        g_drag.target_pt = {lp.x(), lp.y()};
        bool acc = false;
        t->DragOver(this, lp.x(), lp.y(), dsDragEnter, acc);
      }
    }
    g_drag.accepted = false;
    if (t) {
      QPoint lp = t->host_->mapFromGlobal(g);
      g_drag.target_pt = {lp.x(), lp.y()};
      t->DragOver(this, lp.x(), lp.y(), dsDragMove, g_drag.accepted);
    }
    SetDragCursorShown(g_drag.accepted ? drag_cursor_ : crNoDrop);
    return;
  }
  MouseMove(s, x, y);
}

void TControl::HandleMouseUp(TMouseButton b, TShiftState s, int x, int y) {
  if (g_drag.source == this && b == mbLeft) {
    clicked_ = false;
    EndDrag(true);
    return;
  }
  if (b == mbLeft && clicked_) {
    clicked_ = false;
    if (x >= 0 && y >= 0 && x < width_ && y < height_) Click();
  }
  MouseUp(b, s, x, y);
}

void TControl::BeginDrag(bool immediate, int threshold) {
  g_drag = {};
  g_drag.source = this;
  g_drag.threshold = std::max(1, threshold);
  g_drag.start = QCursor::pos();
  if (immediate) {
    g_drag.started = true;
    DoStartDrag();
  }
}

bool TControl::Dragging() const { return g_drag.source == this && g_drag.started; }

void TControl::EndDrag(bool drop) {
  if (g_drag.source != this) return;
  DragState d = g_drag;
  g_drag = {};
  SetDragCursorShown(crDefault);
  TControl* target = nullptr;
  if (d.started && drop && d.target && d.accepted) {
    target = d.target;
    target->DragDrop(this, d.target_pt.X, d.target_pt.Y);
  }
  DoEndDrag(target, target ? d.target_pt.X : 0, target ? d.target_pt.Y : 0);
}

void TControl::HandleEnter() { MouseEnter(); }
void TControl::HandleLeave() { MouseLeave(); }

void TControl::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, b, s, x, y);
}
void TControl::MouseMove(TShiftState s, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, s, x, y);
}
void TControl::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, b, s, x, y);
}
void TControl::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}
void TControl::MouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
}
void TControl::Click() {
  if (OnClick) OnClick(this);
}
void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}
void TControl::Resize() {
  if (OnResize) OnResize(this);
}
void TControl::DragOver(TObject* source, int x, int y, TDragState state, bool& accept) {
  accept = static_cast<bool>(OnDragOver);
  if (OnDragOver) OnDragOver(this, source, x, y, state, accept);
}
void TControl::DragDrop(TObject* source, int x, int y) {
  if (OnDragDrop) OnDragDrop(this, source, x, y);
}
void TControl::DoEndDrag(TObject* target, int x, int y) {
  if (OnEndDrag) OnEndDrag(this, target, x, y);
}
void TControl::DoStartDrag() {
  if (OnStartDrag) OnStartDrag(this);
}
void TControl::TextChanged() { Invalidate(); }
void TControl::FontChanged() {
  if (host_) {
    host_->setFont(ToQFont(font_));
    // The toolkit's own controls (edits, memos, lists) draw their text in the palette's colour.
    const uint32_t rgb = ColorToRGB(font_.GetColor());  // 0x00BBGGRR
    const QColor text(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
    QPalette p = host_->palette();
    if (p.color(QPalette::Text) != text || p.color(QPalette::WindowText) != text) {
      p.setColor(QPalette::Text, text);
      p.setColor(QPalette::WindowText, text);
      host_->setPalette(p);
    }
  }
  Invalidate();
}
void TControl::ColorChanged() {
  // The toolkit's edits and lists fill their text area with the palette's base colour, so a
  // control's colour (the grey of a read-only field) reaches them there.
  if (host_ && (qobject_cast<QLineEdit*>(host_) || qobject_cast<QAbstractScrollArea*>(host_) ||
                qobject_cast<QComboBox*>(host_))) {
    const uint32_t rgb = ColorToRGB(color_);
    const QColor base(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
    QPalette p = host_->palette();
    if (p.color(QPalette::Base) != base) {
      p.setColor(QPalette::Base, base);
      host_->setPalette(p);
    }
  }
  Invalidate();
}
void TControl::EnabledChanged() { Invalidate(); }
void TControl::VisibleChanged() {}

// ---- TGraphicControl ----

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner) {
  SetHost(new HostWidget<QWidget>(this));
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {
  auto* h = new HostWidget<QWidget>(this);
  h->setAttribute(Qt::WA_OpaquePaintEvent);
  SetHost(h);
  SetControlStyle(ControlStyle() | csAcceptsControls | csOpaque);
}

TWinControl::~TWinControl() {
  Destroying();
  message_window_.reset();
  // Children are owned by their owners, not by us: take their widgets out of ours first so the
  // toolkit never deletes them with our host.
  while (!controls_.empty()) controls_.back()->SetParent(nullptr);
}

void TWinControl::KeepWindowlessBelow(TControl* c) {
  // As in the framework, windowless controls paint on their parent and so always lie under the
  // windowed children; among themselves they keep their order.
  if (!c->host_ || dynamic_cast<TWinControl*>(c)) return;
  for (TControl* s : controls_)
    if (s != c && s->host_ && dynamic_cast<TWinControl*>(s)) {
      c->host_->stackUnder(s->host_);
      return;
    }
}

void TWinControl::InsertControl(TControl* c) {
  controls_.push_back(c);
  c->parent_ = this;
  if (c->host_) {
    c->host_->setParent(host_);
    c->ApplyGeometry();
    c->ApplyVisible();
    KeepWindowlessBelow(c);
    if (dynamic_cast<TWinControl*>(c)) ApplyTabOrder();
  }
  c->ParentFontChanged();
  c->ParentColorChanged();
  if (c->align_ != alNone) Realign();
}

void TWinControl::RemoveControl(TControl* c) {
  auto it = std::find(controls_.begin(), controls_.end(), c);
  if (it == controls_.end()) return;
  controls_.erase(it);
  c->parent_ = nullptr;
  if (c->host_) {
    c->host_->hide();
    c->host_->setParent(nullptr);
  }
  if (c->align_ != alNone && !HasState(csDestroying)) Realign();
}

void TWinControl::Loaded() {
  TControl::Loaded();
  Realign();
}

void TWinControl::EnableAlign() {
  if (align_disabled_ > 0 && --align_disabled_ == 0) Realign();
}

void TWinControl::Realign() {
  if (align_disabled_ > 0 || aligning_ || HasState(csDestroying)) return;
  aligning_ = true;
  try {
    TRect r = ClientRect();
    AlignControls(nullptr, r);
  } catch (...) {
    aligning_ = false;
    throw;
  }
  aligning_ = false;
}

void TWinControl::AlignControls(TControl*, TRect& rect) {
  for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) {
    std::vector<TControl*> list;
    for (TControl* c : controls_)
      if (c->align_ == a && c->visible_) list.push_back(c);
    auto key = [a](const TControl* c) {
      switch (a) {
        case alTop:
          return c->top_;
        case alBottom:
          return -(c->top_ + c->height_);
        case alLeft:
          return c->left_;
        case alRight:
          return -(c->left_ + c->width_);
        default:
          return 0;
      }
    };
    std::stable_sort(list.begin(), list.end(),
                     [&](const TControl* x, const TControl* y) { return key(x) < key(y); });
    for (TControl* c : list) {
      int w = c->width_, h = c->height_;
      switch (a) {
        case alTop:
          c->SetBounds(rect.Left, rect.Top, rect.Width(), h);
          rect.Top += h;
          break;
        case alBottom:
          c->SetBounds(rect.Left, rect.Bottom - h, rect.Width(), h);
          rect.Bottom -= h;
          break;
        case alLeft:
          c->SetBounds(rect.Left, rect.Top, w, rect.Height());
          rect.Left += w;
          break;
        case alRight:
          c->SetBounds(rect.Right - w, rect.Top, w, rect.Height());
          rect.Right -= w;
          break;
        default:
          c->SetBounds(rect.Left, rect.Top, rect.Width(), rect.Height());
          break;
      }
    }
  }
}

void TWinControl::ScaleBy(int m, int d) {
  if (d == 0 || m == d) return;
  DisableAlign();
  for (TControl* c : controls_) c->ScaleBy(m, d);
  if (!top_level_)
    TControl::ScaleBy(m, d);
  else
    SetBounds(GetLeft(), GetTop(), ScaleSat(GetWidth(), m, d), ScaleSat(GetHeight(), m, d));
  EnableAlign();
}

void TWinControl::Resize() {
  Realign();
  TControl::Resize();
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl* c : controls_) c->ParentFontChanged();
}

void TWinControl::ColorChanged() {
  TControl::ColorChanged();
  for (TControl* c : controls_) c->ParentColorChanged();
}

void TWinControl::SetTabStop(bool v) {
  tab_stop_ = v;
  if (!host_) return;
  // A control that paints itself (a panel, a picture button) and is no tab stop takes no focus
  // from a click: a click on a picture button, or on the panel under it, leaves the keyboard
  // where it was. Fields and lists take it when clicked, as users expect.
  const bool self_painted = dynamic_cast<HostWidget<QWidget>*>(host_) != nullptr;
  host_->setFocusPolicy(v ? Qt::StrongFocus : self_painted ? Qt::NoFocus : Qt::ClickFocus);
}

void TWinControl::SetTabOrder(int v) {
  tab_order_ = v;
  if (GetParent()) GetParent()->ApplyTabOrder();
}

void TWinControl::ApplyTabOrder() {
  std::vector<TWinControl*> wins;
  for (TControl* c : controls_)
    if (auto* w = dynamic_cast<TWinControl*>(c); w && w->host_) wins.push_back(w);
  std::stable_sort(wins.begin(), wins.end(), [](TWinControl* a, TWinControl* b) {
    unsigned ka = static_cast<unsigned>(a->tab_order_), kb = static_cast<unsigned>(b->tab_order_);
    return ka < kb;  // -1 becomes the largest: after every numbered one
  });
  for (size_t i = 1; i < wins.size(); ++i) QWidget::setTabOrder(wins[i - 1]->host_, wins[i]->host_);
}

bool TWinControl::CanFocus() const { return Showing() && GetEnabled(); }
bool TWinControl::Focused() const { return host_ && host_->hasFocus(); }
void TWinControl::SetFocus() {
  if (host_) host_->setFocus(Qt::OtherFocusReason);
}

HWND TWinControl::Handle() {
  if (!message_window_)
    message_window_ =
        std::make_unique<MessageWindow>([this](TMessage& m) { Guarded([&] { WndProc(m); }); });
  return message_window_->Handle();
}

void TWinControl::WndProc(TMessage& m) { m.Result = 0; }

bool TWinControl::HandleKeyDown(uint16_t& key, TShiftState s) {
  KeyDown(key, s);
  return key != 0;
}
bool TWinControl::HandleKeyPress(char32_t& key) {
  KeyPress(key);
  return key != 0;
}
void TWinControl::HandleKeyUp(uint16_t& key, TShiftState s) { KeyUp(key, s); }
void TWinControl::HandleFocus(bool in) {
  if (in)
    DoEnter();
  else
    DoExit();
}
void TWinControl::KeyDown(uint16_t& key, TShiftState s) {
  if (OnKeyDown) OnKeyDown(this, key, s);
}
void TWinControl::KeyPress(char32_t& key) {
  if (OnKeyPress) OnKeyPress(this, key);
}
void TWinControl::KeyUp(uint16_t& key, TShiftState s) {
  if (OnKeyUp) OnKeyUp(this, key, s);
}
void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}
void TWinControl::DoExit() {
  if (OnExit) OnExit(this);
}

// ---- TCustomControl, TCustomPanel ----

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner) {}

TCustomPanel::TCustomPanel(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 185, 41);
  SetColor(clBtnFace);
}

void TCustomPanel::SetAlignment(TAlignment a) {
  if (a == alignment_) return;
  alignment_ = a;
  Invalidate();
}

void TCustomPanel::Paint() {
  TRect r = ClientRect();
  Canvas().Brush().Color = GetColor();
  Canvas().FillRect(r);
  std::string t = GetText();
  if (t.empty()) return;
  Canvas().Brush().Style = bsClear;
  unsigned h = alignment_ == taLeftJustify    ? DT_LEFT
               : alignment_ == taRightJustify ? DT_RIGHT
                                              : DT_CENTER;
  Canvas().DrawText(t, r, h | DT_VCENTER | DT_SINGLELINE | DT_EXPANDTABS);
}

}  // namespace vant
