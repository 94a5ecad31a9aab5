#include "mmleds.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "libpictures.h"
#include "mmresources.h"
#include "mmutilsdraw.h"

using namespace vant;

// ---- the strip cache ----

namespace {

struct CacheEntry {
  TDigitCache::Key key;
  std::shared_ptr<const TBitmap> bitmap;
  int references;
};

// Created by the first digit that needs a strip, freed with the last strip.
std::unique_ptr<std::vector<CacheEntry>>& Cache() {
  static std::unique_ptr<std::vector<CacheEntry>> cache;
  return cache;
}

std::string StripName(TMMLEDType type, TMMLEDSize size) {
  const std::string digits(vant::libpictures::kNames[size]);  // "LCD_13X21"
  return type == ltDigit ? digits : "LCDS_" + digits.substr(4);
}

// Forwards the pointer and click events of `from` to `to`'s handlers, in `to`'s coordinates.
void ForwardMouse(TControl* from, TControl* to) {
  from->OnClick = [to](TObject*) {
    if (to->OnClick) to->OnClick(to);
  };
  from->OnMouseDown = [from, to](TObject*, TMouseButton b, TShiftState s, int x, int y) {
    if (to->OnMouseDown) to->OnMouseDown(to, b, s, x + from->GetLeft(), y + from->GetTop());
  };
  from->OnMouseMove = [from, to](TObject*, TShiftState s, int x, int y) {
    if (to->OnMouseMove) to->OnMouseMove(to, s, x + from->GetLeft(), y + from->GetTop());
  };
  from->OnMouseUp = [from, to](TObject*, TMouseButton b, TShiftState s, int x, int y) {
    if (to->OnMouseUp) to->OnMouseUp(to, b, s, x + from->GetLeft(), y + from->GetTop());
  };
}

}  // namespace

std::shared_ptr<const TBitmap> TDigitCache::Get(const Key& key) {
  auto& cache = Cache();
  if (!cache) cache = std::make_unique<std::vector<CacheEntry>>();
  for (CacheEntry& e : *cache)
    if (e.key == key) {
      ++e.references;
      return e.bitmap;
    }
  auto strip = std::make_shared<TBitmap>(LoadLibraryBitmap(StripName(key.type, key.size)));
  ChangeColors(*strip, key.draw_inactive, ColorToRGB(key.lit), ColorToRGB(key.background),
               ColorToRGB(key.unlit));
  cache->push_back({key, strip, 1});
  return strip;
}

void TDigitCache::Release(std::shared_ptr<const TBitmap>& bitmap) {
  auto& cache = Cache();
  if (bitmap && cache) {
    for (auto it = cache->begin(); it != cache->end(); ++it) {
      if (it->bitmap != bitmap) continue;
      if (--it->references == 0) cache->erase(it);
      break;
    }
    if (cache->empty()) cache.reset();
  }
  bitmap.reset();
}

size_t TDigitCache::EntryCount() { return Cache() ? Cache()->size() : 0; }

bool TDigitCache::Exists() { return Cache() != nullptr; }

// ---- lamp ----

TMMLED::TMMLED(TComponent* owner) : TMMGraphicControl(owner) {
  SetBounds(0, 0, 16, 8);
  SetColor(clGreen);
}

void TMMLED::SetLEDColor(TColor c) {
  if (ChangeField(led_color_, c)) Invalidate();
}

void TMMLED::Paint() {
  TCanvas& c = Canvas();
  if (OnPaint) {
    OnPaint(this, c, ClientRect());
    return;
  }
  TMMGraphicControl::Paint();  // the bevel
  TRect inner = BeveledRect();
  c.Brush().Style = bsSolid;
  c.Brush().Color = GetEnabled() ? led_color_ : GetColor();
  c.FillRect(inner);
  const std::string caption = GetCaption();
  if (caption.empty()) return;
  c.Font().Assign(&Font());
  c.Brush().Style = bsClear;
  const int x = (inner.Left + inner.Right - c.TextWidth(caption)) / 2;
  const int y = (inner.Top + inner.Bottom - c.TextHeight("W")) / 2;
  c.TextOut(x, y, caption);
}

void TMMLED::EnabledChanged() {
  TMMGraphicControl::EnabledChanged();
  Invalidate();
}

void TMMLED::TextChanged() {
  TMMGraphicControl::TextChanged();
  Invalidate();
}

// ---- mode lamp ----

TMMLEDMode::TMMLEDMode(TComponent* owner) : TMMGraphicControl(owner) {
  SetBounds(0, 0, 27, 11);
  SetColor(clWindow);
  SetParentColor(true);
  Recolour();
}

void TMMLEDMode::Recolour() {
  strip_ = LoadLibraryBitmap("LCD_MODE");
  ChangeColors(strip_, draw_inactive_, ColorToRGB(led_color_), ColorToRGB(GetColor()),
               ColorToRGB(inactive_color_));
  Invalidate();
}

void TMMLEDMode::SetMode(TMMMode m) {
  if (ChangeField(mode_, m)) Invalidate();
}
void TMMLEDMode::SetDrawInactive(bool v) {
  if (ChangeField(draw_inactive_, v)) Recolour();
}
void TMMLEDMode::SetLEDColor(TColor c) {
  if (ChangeField(led_color_, c)) Recolour();
}
void TMMLEDMode::SetInactiveColor(TColor c) {
  if (ChangeField(inactive_color_, c)) Recolour();
}
void TMMLEDMode::ColorChanged() {
  TMMGraphicControl::ColorChanged();
  Recolour();
}
void TMMLEDMode::EnabledChanged() {
  TMMGraphicControl::EnabledChanged();
  Invalidate();
}

void TMMLEDMode::Paint() {
  if (strip_.Empty()) return;
  const int frame = GetEnabled() ? int(mode_) + 1 : 0, w = strip_.Width() / 4;
  Canvas().CopyRect(ClientRect(), strip_.Canvas(), {frame * w, 0, frame * w + w, strip_.Height()});
}

// ---- digit ----

TMMCustomLEDDigit::TMMCustomLEDDigit(TComponent* owner) : TMMGraphicControl(owner) {
  SetColor(clWindow);
  SetParentColor(true);
  if (!HasState(csLoading)) UpdateStrip();
  SetBounds(0, 0, frame_width_, frame_height_);
}

TMMCustomLEDDigit::~TMMCustomLEDDigit() { TDigitCache::Release(strip_); }

void TMMCustomLEDDigit::UpdateStrip() {
  TDigitCache::Release(strip_);
  strip_ =
      TDigitCache::Get({type_, size_, draw_inactive_, GetColor(), led_color_, inactive_color_});
  const int frames = type_ == ltDigit ? 11 : 4;
  if (!strip_->Empty()) {
    frame_width_ = strip_->Width() / frames;
    frame_height_ = strip_->Height();
  }
  SetBounds(GetLeft(), GetTop(), frame_width_, frame_height_);
  Invalidate();
}

void TMMCustomLEDDigit::SetBounds(int left, int top, int, int) {
  TMMGraphicControl::SetBounds(left, top, frame_width_, frame_height_);
}

void TMMCustomLEDDigit::Loaded() {
  TMMGraphicControl::Loaded();
  UpdateStrip();
}

int TMMCustomLEDDigit::Frame() const {
  if (!GetEnabled()) return 0;
  if (type_ != ltDigit) return int(type_);
  return zero_blank_ && value_ == 0 ? 0 : value_ + 1;
}

void TMMCustomLEDDigit::Paint() {
  if (!strip_) UpdateStrip();
  if (strip_->Empty()) return;
  const int f = Frame();
  Canvas().CopyRect({0, 0, frame_width_, frame_height_}, strip_->Canvas(),
                    {f * frame_width_, 0, (f + 1) * frame_width_, frame_height_});
}

void TMMCustomLEDDigit::SetValue(int v) {
  if (cascade_ && connect_) connect_->SetValue(v / 10);
  v %= 10;
  if (v == value_ || v < min_value_ || v > max_value_) return;
  value_ = v;
  Invalidate();
}

void TMMCustomLEDDigit::SetMinValue(int v) {
  if (v < 0 || v > 9 || !ChangeField(min_value_, v)) return;
  if (value_ < v) SetValue(v);
}

void TMMCustomLEDDigit::SetMaxValue(int v) {
  if (v < 0 || v > 9 || !ChangeField(max_value_, v)) return;
  if (value_ > v) SetValue(v);
}

void TMMCustomLEDDigit::Increase() {
  if (value_ >= max_value_) {
    value_ = min_value_;
    Invalidate();
    if (connect_) connect_->Increase();
    RollForward();
  } else {
    ++value_;
    Invalidate();
  }
}

void TMMCustomLEDDigit::Decrease() {
  if (value_ <= min_value_) {
    value_ = max_value_;
    Invalidate();
    if (connect_) connect_->Decrease();
    RollBackward();
  } else {
    --value_;
    Invalidate();
  }
}

void TMMCustomLEDDigit::RollForward() {
  if (!HasState(csLoading) && OnRollForward) OnRollForward(this);
}

void TMMCustomLEDDigit::RollBackward() {
  if (!HasState(csLoading) && OnRollBackward) OnRollBackward(this);
}

void TMMCustomLEDDigit::SetConnect(TMMCustomLEDDigit* d) {
  if (d == connect_ || d == this) return;
  if (connect_) connect_->RemoveFreeNotification(this);
  connect_ = d;
  if (connect_) connect_->FreeNotification(this);
}

void TMMCustomLEDDigit::Notification(TComponent* component, TOperation operation) {
  TMMGraphicControl::Notification(component, operation);
  if (operation == opRemove && component == connect_) connect_ = nullptr;
}

void TMMCustomLEDDigit::SetZeroBlank(bool v) {
  if (ChangeField(zero_blank_, v)) Invalidate();
}

#define VANT_DIGIT_RESOURCE_SETTER(Name, Type, field)                 \
  void TMMCustomLEDDigit::Set##Name(Type v) {                         \
    if (ChangeField(field, v) && !HasState(csLoading)) UpdateStrip(); \
  }
VANT_DIGIT_RESOURCE_SETTER(DrawInactive, bool, draw_inactive_)
VANT_DIGIT_RESOURCE_SETTER(LEDColor, TColor, led_color_)
VANT_DIGIT_RESOURCE_SETTER(InactiveColor, TColor, inactive_color_)
VANT_DIGIT_RESOURCE_SETTER(DigitSize, TMMLEDSize, size_)
VANT_DIGIT_RESOURCE_SETTER(DisplayType, TMMLEDType, type_)
#undef VANT_DIGIT_RESOURCE_SETTER

void TMMCustomLEDDigit::ColorChanged() {
  TMMGraphicControl::ColorChanged();
  if (!HasState(csLoading)) UpdateStrip();
}

void TMMCustomLEDDigit::EnabledChanged() {
  TMMGraphicControl::EnabledChanged();
  Invalidate();
}

// ---- panel ----

TMMLEDPanel::TMMLEDPanel(TComponent* owner) : TMMCustomPanel(owner) {
  SetControlStyle(ControlStyle() & ~unsigned(csSetCaption));
  SetColor(clBlack);
  MakeDigits(2);
}

void TMMLEDPanel::MakeDigits(int n) {
  for (TMMLEDDigit* d : digits_) delete d;
  digits_.clear();
  for (int i = 0; i < n; ++i) {
    auto* d = new TMMLEDDigit(this);
    d->SetDigitSize(size_);
    d->SetDrawInactive(draw_inactive_);
    d->SetLEDColor(led_color_);
    d->SetInactiveColor(inactive_color_);
    d->SetEnabled(GetEnabled());
    d->SetCascadeValues(true);
    d->SetParent(this);
    ForwardMouse(d, this);
    if (i > 0) digits_.back()->SetConnect(d);
    digits_.push_back(d);
  }
  ShowValue();
  AdjustSize();
}

void TMMLEDPanel::ForEachDigit(const std::function<void(TMMLEDDigit*)>& fn) {
  for (TMMLEDDigit* d : digits_) fn(d);
  AdjustSize();
}

void TMMLEDPanel::SetNumDigits(int n) {
  if (n < 1 || n > 9 || n == GetNumDigits()) return;
  MakeDigits(n);
}

void TMMLEDPanel::SetDigitSize(TMMLEDSize s) {
  if (ChangeField(size_, s)) ForEachDigit([s](TMMLEDDigit* d) { d->SetDigitSize(s); });
}
void TMMLEDPanel::SetDrawInactive(bool v) {
  if (ChangeField(draw_inactive_, v)) ForEachDigit([v](TMMLEDDigit* d) { d->SetDrawInactive(v); });
}
void TMMLEDPanel::SetLEDColor(TColor c) {
  if (ChangeField(led_color_, c)) ForEachDigit([c](TMMLEDDigit* d) { d->SetLEDColor(c); });
}
void TMMLEDPanel::SetInactiveColor(TColor c) {
  if (ChangeField(inactive_color_, c))
    ForEachDigit([c](TMMLEDDigit* d) { d->SetInactiveColor(c); });
}
void TMMLEDPanel::EnabledChanged() {
  TMMCustomPanel::EnabledChanged();
  const bool on = GetEnabled();
  ForEachDigit([on](TMMLEDDigit* d) { d->SetEnabled(on); });
}
void TMMLEDPanel::ColorChanged() {
  TMMCustomPanel::ColorChanged();
  Invalidate();
}

// Spaces are held to what a control can show.
void TMMLEDPanel::SetLEDSpace(int v) {
  if (v > 0 && ChangeField(space_, HoldToExtent(v))) AdjustSize();
}

void TMMLEDPanel::SetMinValue(int v) {
  if (!ChangeField(min_value_, v)) return;
  if (value_ < v) SetValue(v);
}

void TMMLEDPanel::SetMaxValue(int v) {
  if (!ChangeField(max_value_, v)) return;
  if (value_ > v) SetValue(v);
}

void TMMLEDPanel::SetValue(int v) {
  v = std::clamp(v, min_value_, std::max(min_value_, max_value_));
  if (v == value_) return;
  value_ = v;
  ShowValue();
  Change();
}

// |Value| goes to the ones digit, which cascades it leftwards; the leftmost shows the sign.
void TMMLEDPanel::ShowValue() {
  SetZeroBlank(zero_blank_);
  if (digits_.empty()) return;
  digits_.front()->SetValue(
      static_cast<int>(std::min<int64_t>(std::abs(int64_t(value_)), INT32_MAX)));
  digits_.back()->SetDisplayType(value_ < 0 ? ltMinus : ltDigit);
}

// The ones digit never blanks; above it, digits that the value reaches always show, and the
// rest up to the leftmost blank while they are 0.
void TMMLEDPanel::SetZeroBlank(bool v) {
  zero_blank_ = v;
  const int n = GetNumDigits();
  if (n == 0) return;
  digits_[0]->SetZeroBlank(false);
  int i = 1;
  if (v) {
    for (int64_t p = 10; i < n - 1 && p < std::abs(int64_t(value_)); p *= 10, ++i)
      digits_[size_t(i)]->SetZeroBlank(false);
  }
  for (; i < n; ++i) digits_[size_t(i)]->SetZeroBlank(v);
}

void TMMLEDPanel::Change() {
  if (!HasState(csLoading) && OnChange) OnChange(this);
}

void TMMLEDPanel::SetBounds(int left, int top, int width, int height) {
  TMMCustomPanel::SetBounds(left, top, width, height);
  AdjustSize();
}

void TMMLEDPanel::Loaded() {
  TMMCustomPanel::Loaded();
  AdjustSize();
}

void TMMLEDPanel::BevelChanged() {
  AdjustSize();
  TMMCustomPanel::BevelChanged();
}

// Most significant digit leftmost, LEDSpace apart, inside the bevel.
void TMMLEDPanel::AdjustSize() {
  if (adjusting_ || digits_.empty()) return;
  adjusting_ = true;
  const int E = BevelExtend(), n = GetNumDigits();
  const int dw = digits_[0]->GetWidth(), dh = digits_[0]->GetHeight();
  TMMCustomPanel::SetBounds(GetLeft(), GetTop(), 2 * E + (dw + space_) * n - space_, 2 * E + dh);
  for (int i = 0; i < n; ++i)
    digits_[size_t(i)]->SetBounds(E + (n - 1 - i) * (dw + space_), E, dw, dh);
  adjusting_ = false;
}

// ---- digits with spin buttons ----

TMMLEDSpin::TMMLEDSpin(TComponent* owner) : TMMWinControl(owner) {
  SetControlStyle(ControlStyle() & ~unsigned(csSetCaption));
  SetColor(clBlack);
  SetTabStop(true);
  panel_ = new TMMLEDPanel(this);
  panel_->SetParent(this);
  spin_ = new TMMSpinButton(this);
  spin_->SetParent(this);
  spin_->SetMinValue(panel_->GetMinValue());
  spin_->SetMaxValue(panel_->GetMaxValue());
  spin_->OnChange = [this](TObject*) { SetValue(spin_->GetValue()); };
  spin_->OnUpClick = [this](TObject*) {
    if (OnUpClick) OnUpClick(this);
  };
  spin_->OnDownClick = [this](TObject*) {
    if (OnDownClick) OnDownClick(this);
  };
  ForwardMouse(panel_, this);
  // Whatever resizes the panel or the buttons (digits, spacing, glyphs, either frame) lays the
  // whole control out again.
  panel_->OnResize = [this](TObject*) { AdjustSize(); };
  spin_->OnResize = [this](TObject*) { AdjustSize(); };
  AdjustSize();
}

void TMMLEDSpin::SetValue(int v) {
  if (v == panel_->GetValue() || !GetEnabled()) return;
  v = std::clamp(v, panel_->GetMinValue(), std::max(panel_->GetMinValue(), panel_->GetMaxValue()));
  panel_->SetValue(v);
  spin_->SetValue(v);
  Change();
}

void TMMLEDSpin::SetMinValue(int v) {
  panel_->SetMinValue(v);
  spin_->SetMinValue(v);
}

void TMMLEDSpin::SetMaxValue(int v) {
  panel_->SetMaxValue(v);
  spin_->SetMaxValue(v);
}

void TMMLEDSpin::SetSpace(int v) {
  if (ChangeField(space_, HoldToExtent(v))) AdjustSize();
}
void TMMLEDSpin::SetButtonFace(bool v) {
  spin_->SetButtonFace(v);
  AdjustSize();
}
void TMMLEDSpin::SetMiddleButton(bool v) {
  spin_->SetMiddleButton(v);
  AdjustSize();
}
void TMMLEDSpin::SetNumDigits(int n) {
  panel_->SetNumDigits(n);
  AdjustSize();
}
void TMMLEDSpin::SetDigitSize(TMMLEDSize s) {
  panel_->SetDigitSize(s);
  AdjustSize();
}
void TMMLEDSpin::SetLEDSpace(int v) {
  panel_->SetLEDSpace(v);
  AdjustSize();
}

void TMMLEDSpin::Change() {
  if (!HasState(csLoading) && OnChange) OnChange(this);
}

void TMMLEDSpin::EnabledChanged() {
  TMMWinControl::EnabledChanged();
  spin_->SetEnabled(GetEnabled());
  panel_->SetEnabled(GetEnabled());
}

void TMMLEDSpin::ColorChanged() {
  TMMWinControl::ColorChanged();
  if (panel_) panel_->SetColor(GetColor());
}

void TMMLEDSpin::DoEnter() {
  TMMWinControl::DoEnter();
  if (GetTabStop() && spin_->CanFocus()) spin_->SetFocus();
}

void TMMLEDSpin::SetBounds(int left, int top, int width, int height) {
  TMMWinControl::SetBounds(left, top, width, height);
  AdjustSize();
}

void TMMLEDSpin::Loaded() {
  TMMWinControl::Loaded();
  AdjustSize();
}

// The spin button takes its own minimal size; the panel sits at the left, on the bottom edge.
void TMMLEDSpin::AdjustSize() {
  if (adjusting_ || panel_ == nullptr || spin_ == nullptr) return;
  adjusting_ = true;
  spin_->SetBounds(0, 0, 1, 1);
  const int bw = spin_->GetWidth(), bh = spin_->GetHeight();
  const int pw = panel_->GetWidth(), ph = panel_->GetHeight();
  const int w = pw + bw + space_, h = std::max(bh, ph);
  TMMWinControl::SetBounds(GetLeft(), GetTop(), w, h);
  spin_->SetBounds(w - bw, 0, bw, h);
  panel_->SetBounds(0, h - ph, pw, ph);
  adjusting_ = false;
}
