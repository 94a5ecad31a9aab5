#include "mmdibcv.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

using namespace vant;

int biBits = 8;
int biBPP = 1;
int biWidth = 0, biHeight = 0;
int biScanWidth = 0;
int biLineDiff = 0;
uint32_t biColor = 0;
uint8_t* biSurface = nullptr;
TPoint biPenPos;
TRect biClipRect;

TMMCriticalSection& DataSection() {
  static TMMCriticalSection section;
  return section;
}

namespace {

constexpr uint8_t kReserved = 0x01;  // palette entry flag of an animated colour

// The canvas whose state the globals hold; only the thread that holds DataSection touches it.
TMMDIBCanvas* g_current = nullptr;

uint32_t EntryRGB(const PALETTEENTRY& e) { return e.peRed | e.peGreen << 8 | e.peBlue << 16; }
PALETTEENTRY EntryOf(uint32_t rgb, uint8_t flags) {
  return {uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16), flags};
}
// 0x00RRGGBB for the view's colour table from 0x00BBGGRR.
uint32_t ViewRGB(uint32_t rgb) { return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF); }

}  // namespace

// ---- construction ----

TMMDIBCanvas::TMMDIBCanvas(TComponent* owner)
    : owner_(owner), background_(std::make_unique<TBitmap>()) {
  background_->OnChange = [this](TBitmap*) { RecreateDIB(); };
  CreateDIB();
}

TMMDIBCanvas::~TMMDIBCanvas() {
  background_->OnChange = nullptr;
  DestroyDIB();
  FreeColors();
}

static std::string OwnerName(TComponent* owner) {
  return owner ? owner->ClassName() : "TMMDIBCanvas";
}

void TMMDIBCanvas::SetBounds(int, int, int width, int height) {
  if (width == width_ && height == height_) return;
  width_ = width, height_ = height;
  clip_ = {0, 0, width, height};
  recreate_ = true;
}

void TMMDIBCanvas::SetBPP(int bits) {
  if (bits != 8 && bits != 24) throw EMMDIBError("Bitlength not supported yet");
  if (bits == bits_) return;
  if (drawing_) RecreateDIB();  // raises: the surface in use must not change depth
  bits_ = bits;
  RecreateDIB();
}

void TMMDIBCanvas::SetLogPalette(const TLogPalette* palette) {
  if (palette && palette->palVersion >= 0x300 && palette->entries.size() <= 256)
    log_palette_ = std::make_unique<TLogPalette>(*palette);
  else
    log_palette_.reset();
  RecreateDIB();
}

void TMMDIBCanvas::SetRealize(bool v) {
  if (v == realize_) return;
  realize_ = v;
  RecreateDIB();
}

void TMMDIBCanvas::SetBackBitmap(const TBitmap* bitmap) {
  if (bitmap)
    background_->Assign(bitmap);  // its change event rebuilds
  else if (!background_->Empty())
    background_->SetSize(0, 0);
}

void TMMDIBCanvas::SetStretchBgnd(bool v) {
  if (v == stretch_) return;
  stretch_ = v;
  if (!background_->Empty()) RecreateDIB();
}

// ---- the surface ----

void TMMDIBCanvas::RecreateDIB() {
  if (drawing_)
    throw EMMDIBError(OwnerName(owner_) +
                      ": Attempt to create new DIB while initialized for drawing");
  Rebuild();
}

void TMMDIBCanvas::CheckDIB() {
  if (recreate_ && !drawing_) Rebuild();
}

void TMMDIBCanvas::Rebuild() {
  DestroyDIB();
  CreateDIB();
}

void TMMDIBCanvas::DestroyDIB() {
  view_.Detach();
  dib_store_.clear();
  dib_store_.shrink_to_fit();
  back_store_.clear();
  back_store_.shrink_to_fit();
  dib_bits_ = back_bits_ = nullptr;
  created_ = false;
}

void TMMDIBCanvas::CreateDIB() {
  const int w = std::max(width_, 1), h = std::max(height_, 1), bpp = bits_ / 8;
  const int scan = (bpp * w + 3) & ~3;
  TLogPalette pal = CreateSystemColorPalette();
  if (!background_->Empty()) {
    // A true-colour picture brings the colour cube it is shown with.
    TDIB dib = DIB_BitmapToDIB(*background_, nullptr, 24, 1);
    if (auto own = DIB_MakePalette(dib))
      for (size_t i = 10; i <= 244 && i < own->entries.size(); ++i)
        pal.entries[i] = own->entries[i];
  } else if (log_palette_) {
    for (size_t i = 10; i <= 246 && i < log_palette_->entries.size(); ++i)
      pal.entries[i] = EntryOf(EntryRGB(log_palette_->entries[i]), PC_NOCOLLAPSE);
  }
  // Animated entries get colours nobody else holds, so no other pixel changes with them.
  anim_colors_.clear();
  anim_first_ = anim_count_ > 0 ? 247 - anim_count_ : 256;
  if (anim_count_ > 0) {
    std::vector<uint32_t> held;
    for (int i = 0; i < 256; ++i)
      if (i < anim_first_ || i > 246) held.push_back(EntryRGB(pal.entries[i]));
    std::sort(held.begin(), held.end());
    uint32_t next = 0;
    for (int i = anim_first_; i <= 246; ++i) {
      while (std::binary_search(held.begin(), held.end(), next)) ++next;
      pal.entries[i] = EntryOf(next, kReserved);
      anim_colors_.push_back(next++);
    }
  }
  palette_ = std::move(pal);
  ForgetNearest();
  for (int i = 0; i < 256; ++i) color_table_[i] = EntryRGB(palette_.entries[i]);
  WriteColorTable();

  scan_ = scan, dib_width_ = w, dib_height_ = h;
  const size_t words = static_cast<size_t>(scan) * h / 4;
  if (!background_->Empty()) {
    back_store_.assign(words, 0);
    back_bits_ = reinterpret_cast<uint8_t*>(back_store_.data());
    BuildBackground();
  }
  dib_store_.assign(words, 0);  // black: index 0 or RGB 0
  dib_bits_ = reinterpret_cast<uint8_t*>(dib_store_.data());
  view_.Attach(dib_bits_, w, h, bits_, scan, DIB_ORIENT > 0);
  WriteColorTable();
  created_ = true;
  recreate_ = false;
}

void TMMDIBCanvas::BuildBackground() {
  const TBitmap& bmp = *background_;
  const int bw = bmp.Width(), bh = bmp.Height();
  std::unordered_map<uint32_t, uint8_t> nearest;
  auto index_of = [&](uint32_t argb) {
    uint32_t rgb = argb & 0xFFFFFF;
    auto it = nearest.find(rgb);
    if (it != nearest.end()) return it->second;
    int best = 0;
    int64_t best_d = INT64_MAX;
    for (int i = 0; i < 256; ++i) {
      if (i >= anim_first_ && i <= 246) continue;  // the picture must not animate
      const auto& e = palette_.entries[i];
      int64_t dr = int(e.peRed) - int(rgb >> 16 & 255), dg = int(e.peGreen) - int(rgb >> 8 & 255),
              db = int(e.peBlue) - int(rgb & 255);
      int64_t d = dr * dr + dg * dg + db * db;
      if (d < best_d) best_d = d, best = i;
    }
    return nearest[rgb] = uint8_t(best);
  };
  for (int y = 0; y < dib_height_; ++y) {
    const int by = stretch_ ? int(int64_t(y) * bh / dib_height_) : y % bh;
    const uint32_t* src = bmp.ScanLine(by);
    uint8_t* row = DIB_GetPixelAddress(back_bits_, 0, y);
    for (int x = 0; x < dib_width_; ++x) {
      const uint32_t p = src[stretch_ ? int(int64_t(x) * bw / dib_width_) : x % bw];
      if (bits_ == 8) {
        row[x] = index_of(p);
      } else {
        row[3 * x] = uint8_t(p), row[3 * x + 1] = uint8_t(p >> 8),
                row[3 * x + 2] = uint8_t(p >> 16);
      }
    }
  }
}

void TMMDIBCanvas::WriteColorTable() {
  uint32_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = ViewRGB(color_table_[i]);
  view_.SetColorTable(table, 256);
}

// ---- drawing periods ----

void TMMDIBCanvas::DIB_InitDrawing() {
  DataSection().Acquire();
  if (g_current && g_current != this) {
    DataSection().Release();
    throw EMMDIBError(OwnerName(owner_) +
                      ": Attempt to draw on a DIB while another one is initialized for drawing");
  }
  if (drawing_ > 0) {  // the same canvas again: only counted
    ++drawing_;
    return;
  }
  try {
    if (OnChanging) OnChanging(this);
    CheckDIB();
  } catch (...) {
    DataSection().Release();
    throw;
  }
  g_current = this;
  drawing_ = 1;
  biPenPos = {0, 0};
  biBits = bits_;
  biBPP = bits_ / 8;
  biWidth = dib_width_;
  biHeight = dib_height_;
  biScanWidth = scan_;
  biLineDiff = scan_ * -DIB_ORIENT;
  biSurface = dib_bits_;
  biClipRect = IntersectRect(clip_, {0, 0, dib_width_, dib_height_});
}

void TMMDIBCanvas::DIB_DoneDrawing() {
  if (drawing_ == 0) return;
  if (--drawing_ > 0) {
    DataSection().Release();
    return;
  }
  biPenPos = {0, 0};
  biWidth = biHeight = biScanWidth = 0;
  biSurface = nullptr;
  biClipRect = {};
  g_current = nullptr;
  struct Unlock {
    ~Unlock() { DataSection().Release(); }
  } unlock;
  if (OnChange) OnChange(this);
}

void TMMDIBCanvas::DIB_BitBlt(TCanvas* dc, const TRect& r, int src_x, int src_y) {
  if (!created_ || !dc) return;
  view_.BlitTo(*dc, Bounds(r.Left, r.Top, r.Right, r.Bottom), src_x, src_y);
}

void TMMDIBCanvas::DIB_BitBlt(TCanvas* dc, const TRect& r, int src_x, int src_y,
                              std::span<const TRect> drawn) {
  if (!created_ || !dc) return;
  view_.BlitTo(*dc, Bounds(r.Left, r.Top, r.Right, r.Bottom), src_x, src_y, drawn);
}

void TMMDIBCanvas::DIB_StretchBlt(TCanvas* dc, const TRect& d, const TRect& s) {
  if (!created_ || !dc) return;
  view_.StretchTo(*dc, Bounds(d.Left, d.Top, d.Right, d.Bottom),
                  Bounds(s.Left, s.Top, s.Right, s.Bottom));
}

uint8_t* TMMDIBCanvas::DIB_GetPixelAddress(uint8_t* bits, int x, int y) const {
  if (x < 0 || y < 0 || x >= dib_width_ || y >= dib_height_)
    throw EMMDIBError("Attempt to get out of range pixel address");
  const int row = DIB_ORIENT > 0 ? dib_height_ - 1 - y : y;
  return bits + static_cast<ptrdiff_t>(row) * scan_ + x * (bits_ / 8);
}

void TMMDIBCanvas::DIB_SetClipRect(const TRect& r) {
  auto clamp = [&r](int w, int h) {
    return TRect{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, w),
                 std::min(r.Bottom, h)};
  };
  clip_ = clamp(width_, height_);
  // The period under way keeps the surface it began with, even after a size change.
  if (drawing_) biClipRect = clamp(dib_width_, dib_height_);
}

uint8_t TMMDIBCanvas::NearestIndex(uint32_t rgb) const {
  NearestEntry& e = nearest_[(rgb ^ rgb >> 7 ^ rgb >> 15) % nearest_.size()];
  if (e.rgb != rgb) {
    e.index = static_cast<uint8_t>(
        PaletteNearestIndex(palette_, 256, uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16)));
    e.rgb = rgb;
  }
  return e.index;
}

uint32_t TMMDIBCanvas::DIB_ColorToIndex(TColor color) const {
  const uint32_t rgb = ColorToRGB(color);
  if (bits_ == 24) return rgb;
  return NearestIndex(rgb & 0xFFFFFF);
}

void TMMDIBCanvas::DIB_SetTColor(TColor color) { DIB_SetColorRef(ColorToRGB(color)); }

void TMMDIBCanvas::DIB_SetColorRef(uint32_t rgb) {
  rgb &= 0xFFFFFF;
  if (bits_ == 24)
    biColor = rgb;
  else
    biColor = 0x01010101u * uint32_t(NearestIndex(rgb));
}

void TMMDIBCanvas::DIB_SetColor(uint32_t raw) {
  biColor = bits_ == 24 ? raw & 0xFFFFFF : 0x01010101u * (raw & 0xFF);
}

// ---- palette animation ----

void TMMDIBCanvas::SetAnimCount(int n) {
  if (n < 0 || n > 236) throw EMMDIBError("Invalid count of animated colors");
  if (n == anim_count_) return;
  if (drawing_) RecreateDIB();  // raises
  anim_count_ = n;
  RecreateDIB();
}

void TMMDIBCanvas::CheckAnimIndex(int i) const {
  if (i < 0 || i >= GetAnimCount()) throw EMMDIBError("Invalidate animated color index");
}

uint32_t TMMDIBCanvas::GetAnimColor(int i) const {
  CheckAnimIndex(i);
  return anim_colors_[i];
}

uint32_t TMMDIBCanvas::GetAnimColorValue(int i) const {
  CheckAnimIndex(i);
  return color_table_[anim_first_ + i];
}

int TMMDIBCanvas::GetAnimColorIndex(int i) const {
  CheckAnimIndex(i);
  return anim_first_ + i;
}

void TMMDIBCanvas::SetAnimColorValue(int i, TColor color) {
  CheckAnimIndex(i);
  const uint32_t rgb = ColorToRGB(color);
  if (anim_bracket_ > 0) {
    anim_pending_[i] = rgb;
    return;
  }
  color_table_[anim_first_ + i] = rgb;
  palette_.entries[anim_first_ + i] = EntryOf(rgb, kReserved);
  ForgetNearest();
  view_.SetColorEntry(anim_first_ + i, ViewRGB(rgb));
  if (OnAnimate) OnAnimate(this);
}

void TMMDIBCanvas::BeginAnimate() {
  if (anim_bracket_++ > 0) return;
  anim_pending_.assign(color_table_ + std::min(anim_first_, 256),
                       color_table_ + std::min(anim_first_, 256) + GetAnimCount());
}

void TMMDIBCanvas::EndAnimate() {
  if (anim_bracket_ == 0 || --anim_bracket_ > 0) return;
  for (size_t i = 0; i < anim_pending_.size() && i < anim_colors_.size(); ++i) {
    color_table_[anim_first_ + i] = anim_pending_[i];
    palette_.entries[anim_first_ + i] = EntryOf(anim_pending_[i], kReserved);
  }
  ForgetNearest();
  anim_pending_.clear();
  WriteColorTable();
  if (OnAnimate) OnAnimate(this);
}

void TMMDIBCanvas::FreeColors() {
  anim_pending_.clear();
  anim_bracket_ = 0;
}

// ---- control ----

TMMDIBGraphicControl::TMMDIBGraphicControl(TComponent* owner)
    : TMMGraphicControl(owner),
      dib_canvas_(std::make_unique<TMMDIBCanvas>(this)),
      back_dib_(std::make_unique<TBitmap>()) {
  back_dib_->OnChange = [this](TBitmap*) { BackGroundChanged(); };
  dib_canvas_->OnAnimate = [this](TMMDIBCanvas*) { Invalidate(); };
}

TMMDIBGraphicControl::~TMMDIBGraphicControl() { back_dib_->OnChange = nullptr; }

void TMMDIBGraphicControl::SetBounds(int left, int top, int width, int height) {
  TMMGraphicControl::SetBounds(left, top, width, height);
  dib_canvas_->SetBounds(0, 0, GetWidth(), GetHeight());
}

void TMMDIBGraphicControl::Loaded() {
  TMMGraphicControl::Loaded();
  SetUseBackDIB(loaded_use_back_dib_);
}

void TMMDIBGraphicControl::SetBPP(int value) {
  dib_canvas_->SetBPP(value);
  Invalidate();
}

void TMMDIBGraphicControl::SetRealize(bool v) {
  if (v == GetRealize()) return;
  dib_canvas_->SetRealize(v);
  Invalidate();
}

void TMMDIBGraphicControl::SetMapped(bool v) {
  if (v == GetMapped()) return;
  dib_canvas_->SetMapped(v);
  Invalidate();
}

const TLogPalette* TMMDIBGraphicControl::GetPalette() const {
  return dib_canvas_->GetRealize() ? &dib_canvas_->Palette() : nullptr;
}

void TMMDIBGraphicControl::SetBackGround(const TBitmap& bitmap) { back_dib_->Assign(&bitmap); }

void TMMDIBGraphicControl::BackGroundChanged() {
  if (HasState(csLoading)) return;
  if (HasState(csDesigning)) {
    const bool have = !back_dib_->Empty();
    dib_canvas_->SetRealize(have);
    if (!have) dib_canvas_->SetMapped(false);
    use_back_dib_ = have;
  }
  dib_canvas_->SetBackBitmap(use_back_dib_ ? back_dib_.get() : nullptr);
  Invalidate();
}

void TMMDIBGraphicControl::SetUseBackDIB(bool value) {
  if (HasState(csLoading)) {
    loaded_use_back_dib_ = value;
    return;
  }
  if (value == use_back_dib_) return;
  use_back_dib_ = value && !back_dib_->Empty();
  dib_canvas_->SetRealize(use_back_dib_);
  dib_canvas_->SetBackBitmap(use_back_dib_ ? back_dib_.get() : nullptr);
  Invalidate();
}

void TMMDIBGraphicControl::DrawBackGround() {
  TMMDIBCanvas& c = *dib_canvas_;
  if (c.Surface() && c.BackSurface()) {
    c.DIB_COPYDIBBITS(c.BackSurface(), 0, 0, biWidth, biHeight, 0, 0);
  } else {
    c.DIB_SetTColor(GetColor());
    c.DIB_CLEAR();
  }
}

void TMMDIBGraphicControl::FastDraw(const TMMDIBDrawProc& draw, bool clear) {
  if (!GetVisible() || !GetParent() || !draw) return;
  Canvas().Lock();
  struct Unlock {
    TCanvas& c;
    ~Unlock() { c.Unlock(); }
  } unlock{Canvas()};
  PaintNow([&](TCanvas&) { draw(clear); });
}
