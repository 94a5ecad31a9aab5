#include "ui_dibview.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace vant {

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
  uint64_t bytes_read = 0;

  const uint8_t* Row(int y) const {
    return bits + static_cast<ptrdiff_t>(bottom_up ? height - 1 - y : y) * scan;
  }
  // Copies the block at (src_x, src_y) onto `dest` of `target` within `clip`; with `changed`,
  // a repeated blit reads those rectangles of the source alone.
  void Blit(QImage& target, const TRect& clip, const TRect& dest, int src_x, int src_y,
            const std::span<const TRect>* changed);
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
  m.bytes_read = 0;
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


void TDIBView::Impl::Blit(QImage& target, const TRect& clip, const TRect& dest, int src_x,
                          int src_y, const std::span<const TRect>* changed) {
  // Destination columns and rows that are inside the clip and have a source pixel.
  TRect k = IntersectRect(clip, dest);
  int x0 = std::max(k.Left, dest.Left - src_x), x1 = std::min(k.Right, dest.Left - src_x + width);
  int y0 = std::max(k.Top, dest.Top - src_y), y1 = std::min(k.Bottom, dest.Top - src_y + height);
  if (x0 >= x1 || y0 >= y1) return;
  const int n = x1 - x0, sx = src_x + (x0 - dest.Left), sy = src_y + (y0 - dest.Top);
  const int pixel = bpp / 8;
  const size_t row_bytes = size_t(n) * pixel;
  Shown& was = shown;
  const bool again = was.target == &target && was.key == target.cacheKey() && was.x0 == x0 &&
                     was.x1 == x1 && was.y0 == y0 && was.y1 == y1 && was.sx == sx &&
                     was.sy == sy && was.table_serial == table_serial && was.bits == bits;
  if (again && changed && changed->empty()) return;
  if (!again) was.rows.resize(row_bytes * size_t(y1 - y0));
  // One detach for the whole blit: the rows are reached by their stride from the first.
  uchar* const base = target.bits();
  const qsizetype stride = target.bytesPerLine();
  auto out = [&](int y) { return reinterpret_cast<uint32_t*>(base + y * stride) + x0; };
  auto convert = [&](const uint8_t* s, uint32_t* d, int count) {
    if (bpp == 8)
      Convert8(s, d, count, lut);
    else
      Convert24(s, d, count);
    bytes_read += uint64_t(count) * pixel;
  };
  if (again && changed) {
    // Only what the caller wrote, as far as it lies inside the block shown.
    for (const TRect& c : *changed) {
      const int cx0 = std::max(c.Left, sx), cx1 = std::min(c.Right, sx + n);
      const int cy0 = std::max(c.Top, sy), cy1 = std::min(c.Bottom, sy + (y1 - y0));
      if (cx0 >= cx1 || cy0 >= cy1) continue;
      const size_t at = size_t(cx0 - sx) * pixel, len = size_t(cx1 - cx0) * pixel;
      for (int r = cy0; r < cy1; ++r) {
        const uint8_t* s = Row(r) + size_t(cx0) * pixel;
        convert(s, out(y0 + (r - sy)) + (cx0 - sx), cx1 - cx0);
        std::memcpy(was.rows.data() + size_t(r - sy) * row_bytes + at, s, len);
      }
    }
  } else {
    for (int y = y0; y < y1; ++y) {
      const uint8_t* s = Row(sy + (y - y0)) + size_t(sx) * pixel;
      uint32_t* d = out(y);
      uint8_t* kept = was.rows.data() + size_t(y - y0) * row_bytes;
      if (!again) {
        convert(s, d, n);
        std::memcpy(kept, s, row_bytes);
        continue;
      }
      // Rows, then runs of 8 pixels, whose source bytes are as shown are left as they are.
      bytes_read += row_bytes;
      if (std::memcmp(s, kept, row_bytes) == 0) continue;
      const size_t run = 8 * size_t(pixel);
      for (size_t at = 0; at < row_bytes; at += run) {
        const size_t len = std::min(run, row_bytes - at);
        if (len == run ? SameRun(s + at, kept + at, pixel) : !std::memcmp(s + at, kept + at, len))
          continue;
        convert(s + at, d + at / pixel, int(len / pixel));
        std::memcpy(kept + at, s + at, len);
      }
    }
  }
  was = {&target, target.cacheKey(), x0, x1, y0, y1, sx, sy, table_serial, bits,
         std::move(was.rows)};
}

void TDIBView::BlitTo(TCanvas& canvas, const TRect& dest, int src_x, int src_y) const {
  QImage* target = canvas.Surface();
  if (impl_->bits && target) impl_->Blit(*target, canvas.GetClipRect(), dest, src_x, src_y, nullptr);
}

void TDIBView::BlitTo(TCanvas& canvas, const TRect& dest, int src_x, int src_y,
                      std::span<const TRect> changed) const {
  QImage* target = canvas.Surface();
  if (impl_->bits && target)
    impl_->Blit(*target, canvas.GetClipRect(), dest, src_x, src_y, &changed);
}

uint64_t TDIBView::BytesRead() const { return impl_->bytes_read; }

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
