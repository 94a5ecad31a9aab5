#include "ui_dibview.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace vant {

struct TDIBView::Impl {
  uint8_t* bits = nullptr;
  int width = 0, height = 0, bpp = 8, scan = 0;
  bool bottom_up = true;
  // Destination pixels (0xFFRRGGBB) of the 256 indices: the blit's lookup table.
  std::array<uint32_t, 256> lut{};
  // The toolkit's view of the same bytes in memory order (so a bottom-up picture stands on its
  // head here); only the stretching path hands it to the toolkit.
  QImage view;
  uint64_t table_serial = 0;  // moves on with every change of the colour table

  // The last blit: where it went, and the source bytes it showed. A blit of the same block to the
  // same place of a target nobody has written since converts only the pixels whose source bytes
  // changed (the toolkit moves an image's cache key on every write to it).
  struct Shown {
    const QImage* target = nullptr;
    qint64 key = 0;
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0, sx = 0, sy = 0;
    uint64_t table_serial = 0;
    const uint8_t* bits = nullptr;
    std::vector<uint8_t> rows;  // the source bytes shown, row after row
  } shown;

  const uint8_t* Row(int y) const {
    return bits + static_cast<ptrdiff_t>(bottom_up ? height - 1 - y : y) * scan;
  }
  void SyncTable() {
    ++table_serial;
    if (view.format() != QImage::Format_Indexed8) return;
    QList<QRgb> table(lut.begin(), lut.end());
    view.setColorTable(table);
  }
};

TDIBView::TDIBView() : impl_(std::make_unique<Impl>()) { impl_->lut.fill(0xFF000000u); }
TDIBView::~TDIBView() = default;

void TDIBView::Attach(uint8_t* bits, int width, int height, int bpp, int scan, bool bottom_up) {
  Impl& m = *impl_;
  if (!bits || width <= 0 || height <= 0 || (bpp != 8 && bpp != 24) ||
      scan < (width * bpp + 7) / 8) {
    Detach();
    return;
  }
  m.bits = bits, m.width = width, m.height = height, m.bpp = bpp, m.scan = scan;
  m.shown.target = nullptr;
  m.bottom_up = bottom_up;
  m.view =
      QImage(bits, width, height, scan, bpp == 8 ? QImage::Format_Indexed8 : QImage::Format_BGR888);
  m.SyncTable();
}

void TDIBView::Detach() {
  impl_->shown.target = nullptr;
  impl_->bits = nullptr;
  impl_->width = impl_->height = 0;
  impl_->view = QImage();
}

bool TDIBView::Attached() const { return impl_->bits != nullptr; }
int TDIBView::Width() const { return impl_->width; }
int TDIBView::Height() const { return impl_->height; }

void TDIBView::SetColorTable(const uint32_t* rgb, int count) {
  for (int i = 0; i < std::min(count, 256); ++i) impl_->lut[i] = 0xFF000000u | (rgb[i] & 0xFFFFFF);
  impl_->SyncTable();
}

void TDIBView::SetColorEntry(int index, uint32_t rgb) {
  if (index < 0 || index > 255) return;
  impl_->lut[index] = 0xFF000000u | (rgb & 0xFFFFFF);
  ++impl_->table_serial;
  if (impl_->view.format() == QImage::Format_Indexed8)
    impl_->view.setColor(index, impl_->lut[index]);
}

uint32_t TDIBView::ColorEntry(int index) const {
  return index < 0 || index > 255 ? 0 : impl_->lut[index] & 0xFFFFFF;
}

namespace {

// Source pixels from `s` to 0xFFRRGGBB pixels at `d`.
inline void Convert8(const uint8_t* s, uint32_t* d, int n, const std::array<uint32_t, 256>& lut) {
  for (int i = 0; i < n; ++i) d[i] = lut[s[i]];
}
inline void Convert24(const uint8_t* s, uint32_t* d, int n) {
  for (int i = 0; i < n; ++i, s += 3)
    d[i] = 0xFF000000u | uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
}

// Whether 8 pixels of `pixel` bytes each are the same at a and b.
inline bool SameRun(const uint8_t* a, const uint8_t* b, int pixel) {
  uint64_t diff = 0;
  for (int i = 0; i < pixel; ++i) {
    uint64_t x, y;
    std::memcpy(&x, a + 8 * i, 8);
    std::memcpy(&y, b + 8 * i, 8);
    diff |= x ^ y;
  }
  return diff == 0;
}

}  // namespace

void TDIBView::BlitTo(TCanvas& canvas, const TRect& dest, int src_x, int src_y) const {
  Impl& m = *impl_;
  QImage* target = canvas.Surface();
  if (!m.bits || !target) return;
  // Destination columns and rows that are inside the clip and have a source pixel.
  TRect k = IntersectRect(canvas.GetClipRect(), dest);
  int x0 = std::max(k.Left, dest.Left - src_x), x1 = std::min(k.Right, dest.Left - src_x + m.width);
  int y0 = std::max(k.Top, dest.Top - src_y), y1 = std::min(k.Bottom, dest.Top - src_y + m.height);
  if (x0 >= x1 || y0 >= y1) return;
  const int n = x1 - x0, sx = src_x + (x0 - dest.Left), sy = src_y + (y0 - dest.Top);
  const int pixel = m.bpp / 8;
  const size_t row_bytes = size_t(n) * pixel;
  Impl::Shown& was = m.shown;
  const bool again = was.target == target && was.key == target->cacheKey() && was.x0 == x0 &&
                     was.x1 == x1 && was.y0 == y0 && was.y1 == y1 && was.sx == sx &&
                     was.sy == sy && was.table_serial == m.table_serial && was.bits == m.bits;
  if (!again) was.rows.resize(row_bytes * size_t(y1 - y0));
  for (int y = y0; y < y1; ++y) {
    const uint8_t* s = m.Row(sy + (y - y0)) + size_t(sx) * pixel;
    auto* d = reinterpret_cast<uint32_t*>(target->scanLine(y)) + x0;
    uint8_t* kept = was.rows.data() + size_t(y - y0) * row_bytes;
    if (again) {
      // Rows, then runs of 8 pixels, whose source bytes are as shown are left as they are.
      if (std::memcmp(s, kept, row_bytes) == 0) continue;
      const size_t run = 8 * size_t(pixel);
      for (size_t at = 0; at < row_bytes; at += run) {
        const size_t len = std::min(run, row_bytes - at);
        if (len == run ? SameRun(s + at, kept + at, pixel) : !std::memcmp(s + at, kept + at, len))
          continue;
        const int first = int(at / pixel), count = int(len / pixel);
        if (m.bpp == 8)
          Convert8(s + at, d + first, count, m.lut);
        else
          Convert24(s + at, d + first, count);
        std::memcpy(kept + at, s + at, len);
      }
    } else {
      if (m.bpp == 8)
        Convert8(s, d, n, m.lut);
      else
        Convert24(s, d, n);
      std::memcpy(kept, s, row_bytes);
    }
  }
  was = {target, target->cacheKey(), x0, x1, y0, y1, sx, sy, m.table_serial, m.bits,
         std::move(was.rows)};
}

void TDIBView::StretchTo(TCanvas& canvas, const TRect& dest, const TRect& src) const {
  const Impl& m = *impl_;
  QImage* target = canvas.Surface();
  if (!m.bits || !target || dest.IsEmpty() || src.IsEmpty()) return;
  if (dest.Width() == src.Width() && dest.Height() == src.Height())
    return BlitTo(canvas, dest, src.Left, src.Top);
  QPainter p(target);
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  TRect k = canvas.GetClipRect();
  p.setClipRect(QRect(k.Left, k.Top, k.Width(), k.Height()));
  QRectF from(src.Left, src.Top, src.Width(), src.Height());
  if (m.bottom_up) {
    // Rows of the view are in memory order: take the mirrored source and mirror it back.
    from.moveTop(m.height - src.Bottom);
    p.translate(0, dest.Top + dest.Bottom);
    p.scale(1, -1);
  }
  p.drawImage(QRectF(dest.Left, dest.Top, dest.Width(), dest.Height()), m.view, from);
}

void TDIBView::ToBitmap(TBitmap& bitmap) const {
  bitmap.SetSize(impl_->width, impl_->height);
  if (!bitmap.Empty()) BlitTo(bitmap.Canvas(), Rect(0, 0, impl_->width, impl_->height), 0, 0);
}

}  // namespace vant
