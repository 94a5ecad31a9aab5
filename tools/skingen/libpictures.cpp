// The library's pictures. The LED strips use the three colours the library recolours at run
// time: white for lit segments, silver for unlit ones, black for the background.
#include "libpictures.h"

#include <QPainter>

#include "skins.h"

namespace {

const QColor kLit(255, 255, 255), kUnlit(192, 192, 192), kBack(0, 0, 0);

// Segments a..g of the seven-segment digits 0..9.
constexpr unsigned kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// One digit frame of w x h at x0: segments as bars of thickness t, one free column at the right.
void Digit(QPainter& p, int x0, int w, int h, unsigned lit) {
  const int t = std::max(1, (w - 1) / 4), right = x0 + w - 1 - t, mid = (h - t) / 2;
  const int len_x = std::max(1, w - 1 - 2 * t), upper = std::max(1, mid - t),
            lower = std::max(1, h - t - mid - t);
  const QRect seg[7] = {
      {x0 + t, 0, len_x, t},       // a
      {right, t, t, upper},        // b
      {right, mid + t, t, lower},  // c
      {x0 + t, h - t, len_x, t},   // d
      {x0, mid + t, t, lower},     // e
      {x0, t, t, upper},           // f
      {x0 + t, mid, len_x, t},     // g
  };
  for (int s = 0; s < 7; ++s) p.fillRect(seg[s], (lit >> s) & 1 ? kLit : kUnlit);
}

QImage Strip(int w, int h, int frames) {
  QImage img(w * frames, h, QImage::Format_RGB32);
  img.fill(kBack);
  return img;
}

QImage DigitStrip(int w, int h) {
  QImage img = Strip(w, h, 11);
  QPainter p(&img);
  Digit(p, 0, w, h, 0);
  for (int d = 0; d < 10; ++d) Digit(p, (d + 1) * w, w, h, kSegments[d]);
  return img;
}

// Frames: unlit, period, colon, minus; the unlit shapes of the others stay silver.
QImage SymbolStrip(int w, int h) {
  QImage img = Strip(w, h, 4);
  QPainter p(&img);
  const int t = std::max(1, (w - 1) / 4), mid = (h - t) / 2, cx = (w - 1 - t) / 2;
  for (int f = 0; f < 4; ++f) {
    const int x0 = f * w;
    p.fillRect(x0 + cx, h - t, t, t, f == 1 ? kLit : kUnlit);  // period
    p.fillRect(x0 + cx, h / 4, t, t, f == 2 ? kLit : kUnlit);  // colon
    p.fillRect(x0 + cx, (3 * h) / 4 - t, t, t, f == 2 ? kLit : kUnlit);
    p.fillRect(x0 + t, mid, std::max(1, w - 1 - 2 * t), t, f == 3 ? kLit : kUnlit);  // minus
  }
  return img;
}

// Frames of 27 x 11: unlit, mono (one ring), stereo (two), multichannel (three).
QImage ModeStrip() {
  QImage img = Strip(27, 11, 4);
  QPainter p(&img);
  for (int f = 0; f < 4; ++f)
    for (int ring = 0; ring < 3; ++ring) {
      p.setPen(ring < f ? kLit : kUnlit);
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRect(f * 27 + 1 + ring * 9, 2, 6, 6));
    }
  return img;
}

// Three frames (normal, disabled, pressed) of an arrow on silver; `dir` 0 up, 1 down, 2 right,
// 3 left.
QImage SpinGlyph(int w, int h, int dir) {
  QImage img(w * 3, h, QImage::Format_RGB32);
  img.fill(QColor(192, 192, 192));
  QPainter p(&img);
  for (int f = 0; f < 3; ++f) {
    const int shift = f == 2 ? 1 : 0, cx = f * w + w / 2 + shift, cy = h / 2 + shift;
    auto arrow = [&](int dx, int dy, const QColor& c) {
      for (int i = 0; i < 4; ++i) {
        const int len = 2 * i + 1;
        if (dir <= 1) {
          const int y = (dir == 0 ? cy - 2 + i : cy + 1 - i) + dy;
          p.fillRect(cx - i + dx, y, len, 1, c);
        } else {
          const int x = (dir == 2 ? cx + 1 - i : cx - 2 + i) + dx;
          p.fillRect(x, cy - i + dy, 1, len, c);
        }
      }
    };
    if (f == 1) {
      arrow(1, 1, Qt::white);
      arrow(0, 0, QColor(128, 128, 128));
    } else {
      arrow(0, 0, Qt::black);
    }
  }
  return img;
}

// 32 x 32 symbol of a wave file: a page with a folded corner and a waveform on it, on magenta,
// which the bottom-left pixel hands to the transparent drawing as the colour to leave out.
QImage WaveSymbol() {
  QImage img(32, 32, QImage::Format_RGB32);
  img.fill(QColor(255, 0, 255));
  QPainter p(&img);
  const QPolygon page({QPoint(5, 1), QPoint(21, 1), QPoint(27, 7), QPoint(27, 30), QPoint(5, 30)});
  p.setPen(Qt::black);
  p.setBrush(Qt::white);
  p.drawPolygon(page);
  p.setBrush(QColor(192, 192, 192));
  p.drawPolygon(QPolygon({QPoint(21, 1), QPoint(21, 7), QPoint(27, 7)}));
  p.setPen(QColor(0, 0, 128));
  static constexpr int kWave[] = {0,  3,  6,  2,  -5, -7, -2, 4,  8,  5,
                                  -1, -6, -8, -3, 2,  6,  3,  -2, -4, 0};
  for (int i = 0; i + 1 < int(std::size(kWave)); ++i)
    p.drawLine(7 + i, 18 - kWave[i], 8 + i, 18 - kWave[i + 1]);
  return img;
}

}  // namespace

namespace skin {

std::vector<QImage> LibraryPictures() {
  std::vector<QImage> out;
  for (const auto& f : vant::libpictures::kDigitFrames) out.push_back(DigitStrip(f[0], f[1]));
  for (const auto& f : vant::libpictures::kDigitFrames) out.push_back(SymbolStrip(f[0], f[1]));
  out.push_back(ModeStrip());
  out.push_back(SpinGlyph(19, 13, 0));
  out.push_back(SpinGlyph(19, 13, 1));
  out.push_back(SpinGlyph(13, 19, 2));
  out.push_back(SpinGlyph(13, 19, 3));
  out.push_back(WaveSymbol());
  return out;
}

}  // namespace skin
