#include "mmbutton.h"

#include <algorithm>

#include "mmutilsdraw.h"
#include "textflags.h"

using namespace vant;

// ---- image lists ----

int TGlyphList::Add(TBitmap image) {
  auto free_slot = std::find(used_.begin(), used_.end(), false);
  size_t slot = static_cast<size_t>(free_slot - used_.begin());
  if (free_slot == used_.end()) {
    images_.emplace_back();
    used_.push_back(false);
  }
  images_[slot] = std::move(image);
  used_[slot] = true;
  ++count_;
  return static_cast<int>(slot);
}

void TGlyphList::Delete(int index) {
  if (index < 0 || size_t(index) >= used_.size() || !used_[size_t(index)]) return;
  used_[size_t(index)] = false;
  images_[size_t(index)] = TBitmap();
  --count_;
}

namespace {
std::map<std::pair<int, int>, std::weak_ptr<TGlyphList>>& Lists() {
  static std::map<std::pair<int, int>, std::weak_ptr<TGlyphList>> lists;
  return lists;
}
}  // namespace

std::shared_ptr<TGlyphList> TGlyphCache::GetList(int width, int height) {
  auto& slot = Lists()[{width, height}];
  if (auto list = slot.lock()) return list;
  auto list = std::make_shared<TGlyphList>(width, height);
  slot = list;
  return list;
}

void TGlyphCache::ReturnList(std::shared_ptr<TGlyphList>& list) {
  if (!list) return;
  const std::pair<int, int> key{list->Width(), list->Height()};
  list.reset();
  auto it = Lists().find(key);
  if (it != Lists().end() && it->second.expired()) Lists().erase(it);
}

size_t TGlyphCache::ListCount() { return Lists().size(); }

// ---- glyph ----

TButtonGlyph::TButtonGlyph() = default;

TButtonGlyph::~TButtonGlyph() { DropImages(); }

void TButtonGlyph::DropImages() {
  if (list_) {
    for (int& i : indices_) {
      list_->Delete(i);
      i = -1;
    }
    if (list_->Count() == 0) TGlyphCache::ReturnList(list_);
  }
  indices_.fill(-1);
}

void TButtonGlyph::AssignGlyph(const TBitmap& bitmap) {
  DropImages();
  glyph_.Assign(&bitmap);
  if (glyph_.Height() > 0) {
    transparent_ = GetTransparentColor(glyph_);
    if (glyph_.Width() % glyph_.Height() == 0) {
      const int n = glyph_.Width() / glyph_.Height();
      num_glyphs_ = n > 4 ? 1 : std::max(n, 1);
    }
  }
  if (OnChange) OnChange();
}

void TButtonGlyph::SetFrameCount(int n) {
  if (n == 0 || n == num_glyphs_) return;
  DropImages();
  num_glyphs_ = std::clamp(n, 1, 4);
}

const TBitmap* TButtonGlyph::Image(int index) const {
  return list_ && index >= 0 ? &list_->Image(index) : nullptr;
}

int TButtonGlyph::FrameImage(TButtonState state) {
  if (glyph_.Empty()) return -1;
  if (state == bsDown && num_glyphs_ < 3) state = bsUp;
  if (indices_[state] >= 0) return indices_[state];
  const int w = glyph_.Width() / num_glyphs_, h = glyph_.Height();
  if (w <= 0) return -1;
  if (!list_) list_ = TGlyphCache::GetList(w, h);
  const int frame = int(state) < num_glyphs_ ? int(state) : 0;
  const uint32_t face = 0xFF000000u | ColorToRGB(clBtnFace);
  const uint32_t key = ColorToRGB(transparent_);
  TBitmap work(w, h);
  auto source = [&](int x, int y) { return glyph_.ScanLine(y)[frame * w + x]; };
  // ScanLine pixels are 0xAARRGGBB; TColor is 0x00BBGGRR.
  auto rgb = [](uint32_t p) { return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF); };
  if (state == bsDisabled && num_glyphs_ < 2) {
    const uint32_t white = 0xFFFFFFFFu, shadow = 0xFF000000u | ColorToRGB(clBtnShadow);
    auto to_argb = [&](uint32_t c) {
      return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    };
    for (int y = 0; y < h; ++y) std::fill_n(work.ScanLine(y), w, to_argb(face & 0xFFFFFF));
    for (int pass = 0; pass < 2; ++pass) {
      const int d = pass == 0 ? 1 : 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          if (rgb(source(x, y) & 0xFFFFFF) != key && x + d < w && y + d < h)
            work.ScanLine(y + d)[x + d] = pass == 0 ? white : to_argb(shadow & 0xFFFFFF);
    }
  } else {
    const bool keep_transparent = state == bsExclusive;
    const uint32_t face_argb =
        0xFF000000u | ((face & 0xFF) << 16) | (face & 0xFF00) | ((face >> 16) & 0xFF);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t p = source(x, y);
        work.ScanLine(y)[x] = !keep_transparent && rgb(p & 0xFFFFFF) == key ? face_argb : p;
      }
  }
  indices_[state] = list_->Add(std::move(work));
  return indices_[state];
}

// Glyph and text placed along the layout direction with margin and spacing, centred across it.
void TButtonGlyph::PlaceGlyphAndText(TCanvas& canvas, const TRect& client,
                                     const std::string& caption, TButtonLayout layout, int margin,
                                     int spacing, TPoint& glyph_pos, TRect& text_rect) const {
  const int W = client.Right - client.Left, H = client.Bottom - client.Top;
  TPoint G{0, 0}, T{0, 0};
  if (!glyph_.Empty()) G = {glyph_.Width() / num_glyphs_, glyph_.Height()};
  if (!caption.empty()) {
    TRect r{0, 0, W, 0};
    canvas.DrawText(caption, r, DT_CALCRECT);
    T = {r.Right - r.Left, r.Bottom - r.Top};
  }
  const bool across_x = layout == blGlyphLeft || layout == blGlyphRight;
  TPoint gp, tp;
  if (across_x) {
    gp.Y = H / 2 - G.Y / 2;
    tp.Y = H / 2 - T.Y / 2;
  } else {
    gp.X = W / 2 - G.X / 2;
    tp.X = W / 2 - T.X / 2;
  }
  if (T.X == 0 || G.X == 0) spacing = 0;
  const int L = across_x ? W : H, g = across_x ? G.X : G.Y, t = across_x ? T.X : T.Y;
  if (margin == -1 && spacing == -1) {
    margin = (L - (g + t)) / 3;
    spacing = margin;
  } else if (margin == -1) {
    margin = L / 2 - (g + spacing + t) / 2;
  } else if (spacing == -1) {
    spacing = (L - (margin + g)) / 2 - t / 2;
  }
  switch (layout) {
    case blGlyphLeft:
      gp.X = margin;
      tp.X = margin + G.X + spacing;
      break;
    case blGlyphRight:
      gp.X = W - margin - G.X;
      tp.X = gp.X - spacing - T.X;
      break;
    case blGlyphTop:
      gp.Y = margin;
      tp.Y = margin + G.Y + spacing;
      break;
    case blGlyphBottom:
      gp.Y = H - margin - G.Y;
      tp.Y = gp.Y - spacing - T.Y;
      break;
  }
  glyph_pos = {gp.X + client.Left, gp.Y + client.Top};
  text_rect = {tp.X + client.Left, tp.Y + client.Top, tp.X + client.Left + T.X,
               tp.Y + client.Top + T.Y};
}

TRect TButtonGlyph::DrawGlyphAndText(TCanvas& canvas, const TRect& client, TButtonState state,
                                     int spacing, int margin, TButtonLayout layout,
                                     const std::string& caption) {
  TPoint gp;
  TRect tr;
  PlaceGlyphAndText(canvas, client, caption, layout, margin, spacing, gp, tr);
  const int index = FrameImage(state);
  if (const TBitmap* image = Image(index)) {
    if (state == bsExclusive)
      DrawTransparentBitmap(canvas, *image, gp.X, gp.Y, transparent_);
    else
      canvas.Draw(gp.X, gp.Y, *image);
  }
  if (!caption.empty()) {
    canvas.Brush().Style = bsClear;
    if (state == bsDisabled) {
      TRect shadow = tr;
      OffsetRect(shadow, 1, 1);
      canvas.Font().SetColor(clWhite);
      canvas.DrawText(caption, shadow, 0);
      canvas.Font().SetColor(clGray);
      canvas.DrawText(caption, tr, 0);
    } else {
      canvas.DrawText(caption, tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
  }
  return tr;
}

// ---- button ----

TMMSpeedButton::TMMSpeedButton(TComponent* owner) : TMMGraphicControl(owner) {
  SetBounds(0, 0, 25, 25);
  SetControlStyle(csCaptureMouse | csOpaque | csDoubleClicks);
  SetParentFont(true);
  glyph_.OnChange = [this] { Invalidate(); };
}

TMMSpeedButton::~TMMSpeedButton() = default;

void TMMSpeedButton::SetGlyph(const TBitmap& bitmap) {
  glyph_.AssignGlyph(bitmap);
  Invalidate();
}

void TMMSpeedButton::SetNumGlyphs(int n) {
  n = std::min(n, 4);
  if (n == glyph_.NumGlyphs()) return;
  glyph_.SetFrameCount(n);
  Invalidate();
}

void TMMSpeedButton::SetLayout(TButtonLayout v) {
  if (ChangeField(layout_, v)) Invalidate();
}
// Spacing and margin are held to what a control can show.
void TMMSpeedButton::SetSpacing(int v) {
  if (ChangeField(spacing_, HoldToExtent(v))) Invalidate();
}
void TMMSpeedButton::SetMargin(int v) {
  if (v >= -1 && ChangeField(margin_, HoldToExtent(v))) Invalidate();
}
void TMMSpeedButton::SetBevel(TMMBevelStyle v) {
  if (ChangeField(bevel_style_, v)) Invalidate();
}
void TMMSpeedButton::SetBevelColor(TColor v) {
  if (ChangeField(bevel_color_, v)) Invalidate();
}
void TMMSpeedButton::SetDownColor(TColor v) {
  if (ChangeField(down_color_, v)) Invalidate();
}
void TMMSpeedButton::SetGroupIndex(int v) {
  if (ChangeField(group_index_, v)) UpdateExclusive();
}
void TMMSpeedButton::SetAllowAllUp(bool v) {
  if (ChangeField(allow_all_up_, v)) UpdateExclusive();
}

void TMMSpeedButton::SetDown(bool v) {
  if (group_index_ == 0) v = false;
  if (v == down_) return;
  if (down_ && !allow_all_up_) return;
  down_ = v;
  state_ = v ? bsExclusive : bsUp;
  Invalidate();
  if (v) UpdateExclusive();
}

void TMMSpeedButton::UpdateExclusive() {
  if (group_index_ == 0 || GetParent() == nullptr) return;
  TWinControl* parent = GetParent();
  for (int i = 0; i < parent->ControlCount(); ++i)
    if (auto* b = dynamic_cast<TMMSpeedButton*>(parent->Controls(i)))
      b->ButtonPressed(group_index_, this);
}

void TMMSpeedButton::ButtonPressed(int group, TMMSpeedButton* sender) {
  if (group != group_index_ || sender == this) return;
  if (sender->down_ && down_) {
    down_ = false;
    state_ = bsUp;
    Invalidate();
  }
  allow_all_up_ = sender->allow_all_up_;
}

bool TMMSpeedButton::DialogChar(char key) {
  const std::string caption = GetCaption();
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    if (std::toupper(static_cast<unsigned char>(caption[i + 1])) ==
            std::toupper(static_cast<unsigned char>(key)) &&
        GetEnabled()) {
      Click();
      return true;
    }
    break;
  }
  return false;
}

void TMMSpeedButton::Click() { TMMGraphicControl::Click(); }

bool TMMSpeedButton::Inside(int x, int y) const {
  return x >= 0 && x < ClientWidth() && y >= 0 && y <= ClientHeight();
}

void TMMSpeedButton::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
  TMMGraphicControl::MouseDown(b, s, x, y);
  if (b != mbLeft || !GetEnabled()) return;
  if (!down_) {
    state_ = bsDown;
    Repaint();
  }
  dragging_ = true;
  if (s.count(ssDouble) && down_) DblClick();
}

void TMMSpeedButton::MouseMove(TShiftState s, int x, int y) {
  TMMGraphicControl::MouseMove(s, x, y);
  if (!dragging_) return;
  const TButtonState next = down_ ? bsExclusive : Inside(x, y) ? bsDown : bsUp;
  if (next != state_) {
    state_ = next;
    Invalidate();
  }
}

void TMMSpeedButton::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
  TMMGraphicControl::MouseUp(b, s, x, y);
  if (!dragging_) return;
  dragging_ = false;
  const bool inside = Inside(x, y);
  state_ = bsUp;
  if (group_index_ == 0) {
    Invalidate();
  } else if (inside) {
    SetDown(!down_);
    if (down_) {
      state_ = bsExclusive;
      Invalidate();
    }
  } else {
    if (down_) state_ = bsExclusive;
    Invalidate();
  }
  if (inside) Click();
}

void TMMSpeedButton::EnabledChanged() {
  TMMGraphicControl::EnabledChanged();
  Invalidate();
}
void TMMSpeedButton::TextChanged() {
  TMMGraphicControl::TextChanged();
  Invalidate();
}
void TMMSpeedButton::FontChanged() {
  TMMGraphicControl::FontChanged();
  Invalidate();
}

TRect TMMSpeedButton::DrawButtonFace(TCanvas& c, const TRect& client, bool pressed) {
  TRect r = client;
  c.Brush().Style = bsSolid;
  c.Brush().Color = clBtnFace;
  c.FillRect(r);
  if (pressed) {
    Frame3D(c, r, bevel_color_, clBtnHighlight, 1);
    Frame3D(c, r, clBtnShadow, clBtnFace, 1);
  } else if (bevel_style_ == bsRaised) {
    Frame3D(c, r, clBtnHighlight, bevel_color_, 1);
    Frame3D(c, r, clBtnFace, clBtnShadow, 1);
  } else {
    c.Brush().Color = bevel_color_;
    c.FrameRect({client.Left, client.Top, client.Right - 1, client.Bottom - 1});
    c.Pen().Color = clBtnHighlight;
    c.Pen().Style = psSolid;
    c.Polyline({{client.Left + 1, client.Bottom},
                {client.Left + 1, client.Top + 1},
                {client.Right - 2, client.Top + 1}});
    c.Polyline({{client.Right - 1, client.Top},
                {client.Right - 1, client.Bottom - 1},
                {client.Left + 1, client.Bottom - 1}});
  }
  TRect content{client.Left, client.Top, client.Right - 1, client.Bottom - 1};
  if (pressed) OffsetRect(content, 1, 1);
  return content;
}

void TMMSpeedButton::DrawGlyph(TCanvas& c, const TRect& content) {
  glyph_.DrawGlyphAndText(c, content, state_, spacing_, margin_, layout_, GetCaption());
}

void TMMSpeedButton::SyncDisabledState() {
  if (!GetEnabled() && !HasState(csDesigning)) {
    state_ = bsDisabled;
    dragging_ = false;
  } else if (state_ == bsDisabled) {
    state_ = bsUp;
  }
}

void TMMSpeedButton::Paint() {
  SyncDisabledState();
  TCanvas& c = Canvas();
  c.Font().Assign(&Font());
  TRect content = DrawButtonFace(c, ClientRect(), state_ == bsDown || state_ == bsExclusive);
  if (state_ == bsExclusive) {
    content.Right -= 1;
    content.Bottom -= 1;
    c.Brush().Color = clBtnFace;
    c.Brush().Style = bsSolid;
    c.FillRect(content);
    // The checker pattern: every pixel whose x and y are both even or both odd.
    c.Brush().Style = bsPattern;
    c.Brush().Color = down_color_;
    for (int y = 0; y < 8; ++y) c.Brush().Pattern[y] = (y % 2 == 0) ? 0xAA : 0x55;
    c.FillRect(content);
    c.Brush().Style = bsSolid;
  }
  DrawGlyph(c, content);
}
