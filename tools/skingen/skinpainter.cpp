#include "skinpainter.h"

#include <QFontDatabase>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace skin {
namespace {

QString g_family;
QColor g_backdrop = Palette::Page();

// Antialiased drawing, but text through the same hinting everywhere so output is reproducible.
void Setup(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
}

QLinearGradient Vertical(int h, QColor top, QColor bottom) {
  QLinearGradient g(0, 0, 0, h);
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  return g;
}

// The face of every push button: raised when up, sunken when pressed.
void ButtonFace(QPainter& p, QRectF r, qreal radius, bool pressed) {
  QColor top = pressed ? QColor(0xA9, 0xB6, 0xC6) : Palette::ButtonTop();
  QColor bottom = pressed ? QColor(0xC4, 0xCE, 0xDA) : Palette::ButtonBottom();
  p.setPen(QPen(QColor(0x1A, 0x26, 0x36), 1));
  p.setBrush(Vertical(int(r.bottom()), top, bottom));
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
  // Highlight on the upper edge when raised, shadow when sunken.
  QColor edge = pressed ? QColor(0, 0, 0, 70) : QColor(255, 255, 255, 200);
  p.setPen(QPen(edge, 1));
  p.drawLine(QPointF(r.left() + radius, r.top() + 1.5), QPointF(r.right() - radius, r.top() + 1.5));
}

}  // namespace

bool LoadFonts() {
  const char* files[] = {"/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf",
                         "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"};
  for (const char* f : files) {
    int id = QFontDatabase::addApplicationFont(f);
    if (id >= 0) {
      g_family = QFontDatabase::applicationFontFamilies(id).value(0);
      return true;
    }
  }
  return false;
}

QFont Font(int pixels, bool bold) {
  QFont f(g_family);
  f.setPixelSize(pixels);
  f.setBold(bold);
  f.setHintingPreference(QFont::PreferFullHinting);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

void SetBackdrop(QColor color) { g_backdrop = color; }

QImage NewImage(int w, int h) { return NewImage(w, h, g_backdrop); }

QImage NewImage(int w, int h, QColor fill) {
  QImage img(w, h, QImage::Format_ARGB32);
  img.fill(fill);
  return img;
}

QImage TextButton(int w, int h, const QString& text, bool pressed) {
  QImage img = NewImage(w, h);
  QPainter p(&img);
  Setup(p);
  ButtonFace(p, QRectF(0, 0, w, h), 4, pressed);
  p.setFont(Font(h >= 24 ? 13 : 12, true));
  p.setPen(Palette::ButtonText());
  int shift = pressed ? 1 : 0;
  p.drawText(QRect(shift, shift, w, h), Qt::AlignCenter, text);
  return img;
}

QImage GlyphButton(int size, Glyph glyph, bool pressed) {
  QImage img = NewImage(size, size);
  QPainter p(&img);
  Setup(p);
  ButtonFace(p, QRectF(0, 0, size, size), 6, pressed);
  qreal c = size / 2.0 + (pressed ? 1 : 0);
  p.setPen(Qt::NoPen);
  p.setBrush(glyph == Glyph::Play ? QColor(0x1E, 0x7A, 0x3C) : Palette::ButtonText());
  switch (glyph) {
    case Glyph::Play: {
      QPainterPath t;
      t.moveTo(c - 5, c - 7);
      t.lineTo(c + 7, c);
      t.lineTo(c - 5, c + 7);
      t.closeSubpath();
      p.drawPath(t);
      break;
    }
    case Glyph::Pause:
      p.drawRect(QRectF(c - 6, c - 7, 4.5, 14));
      p.drawRect(QRectF(c + 1.5, c - 7, 4.5, 14));
      break;
    case Glyph::Stop:
      p.drawRect(QRectF(c - 6, c - 6, 12, 12));
      break;
  }
  return img;
}

QImage RoundButton(int size, QColor color, bool pressed) {
  QImage img = NewImage(size, size);
  QPainter p(&img);
  Setup(p);
  QColor face = pressed ? color.darker(135) : color;
  QRadialGradient g(size * 0.38, size * 0.35, size * 0.7);
  g.setColorAt(0, face.lighter(pressed ? 110 : 140));
  g.setColorAt(1, face);
  p.setPen(QPen(QColor(0x1A, 0x26, 0x36), 1));
  p.setBrush(g);
  p.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
  return img;
}

QImage Lamp(int w, int h, const QString& text, QColor color, bool lit) {
  QImage img = NewImage(w, h);
  QPainter p(&img);
  Setup(p);
  QColor face = lit ? color : QColor(0x4A, 0x52, 0x5C);
  p.setPen(QPen(QColor(0x12, 0x1A, 0x24), 1));
  p.setBrush(Vertical(h, face.lighter(lit ? 130 : 110), face.darker(lit ? 115 : 105)));
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 5, 5);
  p.setFont(Font(12, true));
  p.setPen(lit ? QColor(0x10, 0x18, 0x20) : QColor(0x9A, 0xA3, 0xAD));
  p.drawText(QRect(0, 0, w, h), Qt::AlignCenter, text);
  return img;
}

QImage LengthLamp(int size, bool on) {
  QImage img = NewImage(size, size);
  QPainter p(&img);
  Setup(p);
  qreal m = 5.5;
  if (on) {
    p.setPen(QPen(QColor(0x1F, 0x5F, 0xD0), 5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(m, m, size - 2 * m, size - 2 * m));
  } else {
    p.setPen(QPen(QColor(0xD0, 0x22, 0x22), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(m + 2, m + 2), QPointF(size - m - 2, size - m - 2));
    p.drawLine(QPointF(size - m - 2, m + 2), QPointF(m + 2, size - m - 2));
  }
  return img;
}

QImage BarTrack(int w, int h, bool wedge) {
  QImage img = NewImage(w, h);
  QPainter p(&img);
  Setup(p);
  p.setPen(QPen(QColor(0x12, 0x1A, 0x24), 1));
  p.setBrush(Vertical(h, QColor(0x33, 0x40, 0x52), QColor(0x4C, 0x5B, 0x70)));
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 4, 4);
  if (wedge) {
    QPainterPath t;
    t.moveTo(8, h - 7);
    t.lineTo(w - 8, h - 7);
    t.lineTo(w - 8, 6);
    t.closeSubpath();
    QLinearGradient g(0, 0, w, 0);
    g.setColorAt(0, QColor(0x6F, 0xC2, 0x76));
    g.setColorAt(1, QColor(0xE8, 0xC5, 0x4A));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(t);
  } else {
    p.setPen(QPen(QColor(0x8F, 0xA3, 0xBA), 2));
    p.drawLine(QPointF(8, h / 2.0), QPointF(w - 8, h / 2.0));
  }
  return img;
}

QImage BarHandle(int w, int h) {
  QImage img = NewImage(w, h);
  QPainter p(&img);
  Setup(p);
  p.setPen(QPen(QColor(0x12, 0x1A, 0x24), 1));
  QLinearGradient g(0, 0, w, h);
  g.setColorAt(0, QColor(0xFF, 0xFF, 0xFF));
  g.setColorAt(1, QColor(0xA8, 0xB4, 0xC2));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 2, 2);
  return img;
}

QImage RowSelect(int w, int h, bool pressed) {
  QImage img = NewImage(w, h);
  QPainter p(&img);
  Setup(p);
  ButtonFace(p, QRectF(0, 0, w, h), 3, pressed);
  // The row's number is printed over the middle; a small arrow sits below it.
  qreal c = w / 2.0 + (pressed ? 1 : 0), m = h - 7 + (pressed ? 1 : 0);
  QPainterPath t;
  t.moveTo(c - 2, m - 3);
  t.lineTo(c + 3, m);
  t.lineTo(c - 2, m + 3);
  t.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(Palette::Accent());
  p.drawPath(t);
  return img;
}

QImage RowStrip(int w, int h) {
  QImage img = NewImage(w, h, Palette::Page());
  QPainter p(&img);
  p.fillRect(QRect(0, 0, w, h), Vertical(h, QColor(0xF7, 0xF8, 0xFA), QColor(0xE2, 0xE6, 0xEB)));
  p.setPen(QColor(0xB8, 0xC1, 0xCC));
  p.drawRect(QRect(0, 0, w - 1, h - 1));
  return img;
}

QImage Splash(int w, int h, const QString& name, const QString& subtitle, QColor accent) {
  QImage img = NewImage(w, h, Palette::Frame());
  QPainter p(&img);
  Setup(p);
  QLinearGradient g(0, 0, w, h);
  g.setColorAt(0, Palette::Frame());
  g.setColorAt(1, accent.darker(160));
  p.fillRect(img.rect(), g);
  // A waveform motif across the lower half.
  p.setPen(QPen(QColor(255, 255, 255, 60), 2));
  QPainterPath wave;
  for (int x = 0; x <= w; x += 2) {
    double y = h * 0.72 + 18 * std::sin(x / 17.0) * std::sin(x / 83.0);
    if (x == 0) wave.moveTo(x, y); else wave.lineTo(x, y);
  }
  p.drawPath(wave);
  p.setPen(Qt::white);
  p.setFont(Font(44, true));
  p.drawText(QRect(0, 40, w, 70), Qt::AlignCenter, name);
  p.setFont(Font(16));
  p.setPen(QColor(0xDD, 0xE6, 0xF0));
  p.drawText(QRect(0, 112, w, 30), Qt::AlignCenter, subtitle);
  p.setPen(QPen(accent.lighter(150), 3));
  p.drawLine(QPointF(w * 0.3, 150), QPointF(w * 0.7, 150));
  return img;
}

QImage ConverterBackground(bool mainInFront) {
  const int w = 1016, h = 684;
  QImage img = NewImage(w, h, Palette::Frame());
  QPainter p(&img);
  Setup(p);
  // Header band with the file name, advertiser, title, lamps and transport.
  p.fillRect(QRect(0, 0, 905, h), QColor(0xC8, 0xD0, 0xDA));
  p.fillRect(QRect(0, 0, 905, 100), Vertical(100, QColor(0xE4, 0xE9, 0xEF), Palette::Header()));
  p.fillRect(QRect(0, 0, w, 13), Vertical(13, Palette::Accent().lighter(115), Palette::Accent()));
  p.setPen(QColor(0x9C, 0xA8, 0xB6));
  p.drawLine(0, 100, 904, 100);
  // The player group behind transport, volume, meters and position bar.
  p.setPen(QPen(QColor(0x8E, 0x9B, 0xAB), 1));
  p.setBrush(QColor(0xDA, 0xE0, 0xE8));
  p.drawRoundedRect(QRectF(650.5, 58.5, 250, 62), 5, 5);
  // The right-hand button column with its two captions' rules.
  p.fillRect(QRect(905, 13, w - 905, h - 13), Vertical(h, Palette::Column(), Palette::Frame()));
  p.setPen(QPen(Palette::Accent().lighter(140), 1));
  p.drawLine(912, 33, 1010, 33);
  p.drawLine(912, 168, 1010, 168);
  // Tabs: the front one joins the page below it.
  auto tab = [&](QRect r, bool front) {
    QPainterPath t;
    t.moveTo(r.left(), r.bottom() + 1);
    t.lineTo(r.left(), r.top() + 4);
    t.quadTo(r.left(), r.top(), r.left() + 4, r.top());
    t.lineTo(r.right() - 4, r.top());
    t.quadTo(r.right(), r.top(), r.right(), r.top() + 4);
    t.lineTo(r.right(), r.bottom() + 1);
    p.setPen(QPen(QColor(0x7A, 0x88, 0x99), 1));
    p.setBrush(front ? Palette::Page() : QColor(0xB7, 0xC1, 0xCD));
    p.drawPath(t);
  };
  QRect mainTab(15, mainInFront ? 102 : 105, 69, mainInFront ? 22 : 18);
  QRect subTab(138, mainInFront ? 105 : 102, 91, mainInFront ? 18 : 22);
  tab(mainInFront ? subTab : mainTab, false);
  p.fillRect(QRect(12, 120, 885, 555), QColor(0xA9, 0xB4, 0xC2));
  tab(mainInFront ? mainTab : subTab, true);
  p.fillRect(QRect(15, 122, 879, 3), Palette::Page());
  return img;
}

QImage ViewerBackground() {
  const int w = 1016, h = 639;
  QImage img = NewImage(w, h, Palette::Frame());
  QPainter p(&img);
  Setup(p);
  p.fillRect(QRect(0, 0, w, 36), Vertical(36, Palette::Column(), Palette::Frame()));
  p.fillRect(QRect(0, 36, w, 60), Vertical(60, QColor(0xE4, 0xE9, 0xEF), Palette::Header()));
  p.fillRect(QRect(0, 96, w, 504), QColor(0xC8, 0xD0, 0xDA));
  p.fillRect(QRect(0, 600, w, h - 600), Vertical(h - 600, Palette::Frame(), Palette::Column()));
  p.setPen(QPen(Palette::Accent().lighter(140), 1));
  p.drawLine(0, 35, w, 35);
  p.drawLine(0, 600, w, 600);
  p.setPen(QColor(0x9C, 0xA8, 0xB6));
  p.drawRect(QRect(16, 96, 966, 497));
  // Captions of the header fields and of the row columns (the rows' fields start at x 50).
  p.setPen(Palette::ButtonText());
  p.setFont(Font(12, true));
  auto caption = [&](int x, int y, int cw, const QString& text, Qt::Alignment a) {
    p.drawText(QRect(x, y, cw, 23), a | Qt::AlignVCenter, text);
  };
  caption(6, 44, 34, "MO:", Qt::AlignRight);
  caption(236, 44, 52, "広告主:", Qt::AlignRight);
  p.setFont(Font(12));
  caption(20, 72, 28, "No.", Qt::AlignLeft);
  caption(52, 72, 76, "ファイル名", Qt::AlignLeft);
  caption(136, 72, 350, "タイトル", Qt::AlignLeft);
  caption(488, 72, 42, "秒数", Qt::AlignHCenter);
  caption(530, 72, 30, "S/M", Qt::AlignHCenter);
  caption(751, 72, 171, "CM有効期間", Qt::AlignLeft);
  caption(920, 72, 30, "添付", Qt::AlignHCenter);
  caption(950, 72, 32, "ｺﾒﾝﾄ", Qt::AlignHCenter);
  p.setPen(QColor(0xE4, 0xE9, 0xEF));
  p.setFont(Font(15, true));
  p.drawText(QRect(12, 0, 600, 36), Qt::AlignLeft | Qt::AlignVCenter, "ミルダ  MO 一覧");
  return img;
}

}  // namespace skin
