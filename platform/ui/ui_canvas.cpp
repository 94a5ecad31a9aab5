#include "ui_canvas.h"

#include <clocale>

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <ostream>
#include <unordered_map>

#include "ui_qt.h"

namespace vant {

// ---- geometry and colours ----

std::ostream& operator<<(std::ostream& os, const TRect& r) {
  return os << '(' << r.Left << ',' << r.Top << ',' << r.Right << ',' << r.Bottom << ')';
}
std::ostream& operator<<(std::ostream& os, const TPoint& p) {
  return os << '(' << p.X << ',' << p.Y << ')';
}

void InflateRect(TRect& r, int dx, int dy) {
  r = {SubSat(r.Left, dx), SubSat(r.Top, dy), AddSat(r.Right, dx), AddSat(r.Bottom, dy)};
}

void OffsetRect(TRect& r, int dx, int dy) {
  r = {AddSat(r.Left, dx), AddSat(r.Top, dy), AddSat(r.Right, dx), AddSat(r.Bottom, dy)};
}

TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) return {};
  return r;
}

// ---- work meter ----

namespace {
thread_local PaintMeter* t_meter = nullptr;

// The pixels of `k` that a drawing within the box of (x1, y1) and (x2, y2), any order, can touch.
int64_t AreaIn(const TRect& k, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  const int64_t w =
      std::min<int64_t>(std::max(x1, x2), k.Right) - std::max<int64_t>(std::min(x1, x2), k.Left);
  const int64_t h =
      std::min<int64_t>(std::max(y1, y2), k.Bottom) - std::max<int64_t>(std::min(y1, y2), k.Top);
  return w > 0 && h > 0 ? w * h : 0;
}
}  // namespace

PaintMeter::PaintMeter(int64_t max_pixels, int64_t max_spans)
    : outer_(t_meter), max_pixels_(max_pixels), max_spans_(max_spans) {
  t_meter = this;
}

PaintMeter::~PaintMeter() { t_meter = outer_; }

void PaintMeter::Charge(int64_t pixels, int64_t spans) {
  PaintMeter* m = t_meter;
  if (!m) return;
  m->pixels_ += pixels;
  m->spans_ += spans;
  if (m->pixels_ > m->max_pixels_ || m->spans_ > m->max_spans_)
    throw EPaintBudget("a paint touched " + std::to_string(m->pixels_) + " pixels in " +
                       std::to_string(m->spans_) + " spans, beyond its budget of " +
                       std::to_string(m->max_pixels_) + " and " + std::to_string(m->max_spans_));
}

namespace {
// The classic desktop scheme, fixed so every machine draws the same.
constexpr uint32_t kSysColors[] = {
    0xC0C0C0,  // scroll bar
    0x808000,  // background
    0x800000,  // active caption
    0x808080,  // inactive caption
    0xC0C0C0,  // menu
    0xFFFFFF,  // window
    0x000000,  // window frame
    0x000000,  // menu text
    0x000000,  // window text
    0xFFFFFF,  // caption text
    0xC0C0C0,  // active border
    0xC0C0C0,  // inactive border
    0x808080,  // application workspace
    0x800000,  // highlight
    0xFFFFFF,  // highlight text
    0xC0C0C0,  // button face
    0x808080,  // button shadow
    0x808080,  // grey text
    0x000000,  // button text
    0xC0C0C0,  // inactive caption text
    0xFFFFFF,  // button highlight
    0x000000,  // 3D dark shadow
    0xDFDFDF,  // 3D light
    0x000000,  // info text
    0xE1FFFF,  // info background
};
}  // namespace

uint32_t ColorToRGB(TColor c) {
  uint32_t u = static_cast<uint32_t>(c);
  if (u & 0x80000000u) {
    uint32_t i = u & 0xFF;
    return i < std::size(kSysColors) ? kSysColors[i] : 0;
  }
  if (c == clNone || c == clDefault) return 0;
  return u & 0xFFFFFF;
}

uint32_t ColorToPixel(TColor c) {
  uint32_t rgb = ColorToRGB(c);
  return 0xFF000000u | (GetRValue(rgb) << 16) | (GetGValue(rgb) << 8) | GetBValue(rgb);
}

TColor PixelToColor(uint32_t p) { return RGBColor((p >> 16) & 255, (p >> 8) & 255, p & 255); }

// ---- application, fonts ----

void InstallFontSubstitutes() {
  if (!QCoreApplication::instance()) return;  // EnsureGuiApplication installs them
  static std::once_flag once;
  std::call_once(once, [] {
    const char* gothic[] = {"ＭＳ ゴシック", "MS Gothic", "ＭＳ 明朝", "MS Mincho"};
    const char* pgothic[] = {"ＭＳ Ｐゴシック", "MS PGothic", "ＭＳ Ｐ明朝", "MS PMincho",
                             "MS UI Gothic"};
    for (const char* f : gothic) QFont::insertSubstitution(QString::fromUtf8(f), "IPAGothic");
    for (const char* f : pgothic) QFont::insertSubstitution(QString::fromUtf8(f), "IPAPGothic");
    QFont::insertSubstitution("Times New Roman", "Liberation Serif");
    QFont::insertSubstitution("Arial", "Liberation Sans");
    QFont::insertSubstitution("Courier New", "Liberation Mono");
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
  });
}

void SetDisplayDefaults() {
  if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
}

void EnsureGuiApplication() {
  SetDisplayDefaults();
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "vant";
    static char* argv[] = {name, nullptr};
    // Layouts are in logical pixels at 96 dpi; the toolkit presents them at the desktop's
    // device-pixel ratio (2 on a 4K desktop), fractional ones included.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    new QApplication(argc, argv);  // lives for the process, like the application object
    // The toolkit takes the desktop's locale for the C library too; numbers in fields, files
    // and formats are read and written with "." whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
  }
  InstallFontSubstitutes();
  InstallToolkitTranslations();
  InstallLegacyTitles();
}

// ---- font, pen, brush ----

TFont::TFont() : name_("MS Sans Serif"), height_(-11) {}

void TFont::Changed() {
  if (OnChange) OnChange(this);
}
void TFont::SetName(const std::string& v) {
  if (v != name_) name_ = v, Changed();
}
void TFont::SetHeight(int v) {
  if (v != height_) height_ = v, Changed();
}
int TFont::GetSize() const { return -static_cast<int>(std::lround(height_ * 72.0 / 96.0)); }
// Points become pixels at 96 dpi; a third of a pixel is never a half, so rounding to nearest
// agrees either way.
void TFont::SetSize(int points) { SetHeight(NegSat(RoundSat(points * 96.0 / 72.0))); }
void TFont::SetStyle(TFontStyles v) {
  if (v != style_) style_ = v, Changed();
}
void TFont::SetColor(TColor v) {
  if (v != color_) color_ = v, Changed();
}
void TFont::SetOrientation(int v) {
  if (v != orientation_) orientation_ = v, Changed();
}
bool TFont::operator==(const TFont& o) const {
  return name_ == o.name_ && height_ == o.height_ && style_ == o.style_ && color_ == o.color_ &&
         orientation_ == o.orientation_;
}
void TFont::Assign(const TPersistent* source) {
  auto* f = dynamic_cast<const TFont*>(source);
  if (!f) return TPersistent::Assign(source);
  if (*f == *this) return;
  name_ = f->name_;
  height_ = f->height_;
  style_ = f->style_;
  color_ = f->color_;
  orientation_ = f->orientation_;
  Changed();
}

void TPen::Assign(const TPersistent* source) {
  auto* p = dynamic_cast<const TPen*>(source);
  if (!p) return TPersistent::Assign(source);
  Color = p->Color, Width = p->Width, Style = p->Style, Mode = p->Mode;
}

void TBrush::Assign(const TPersistent* source) {
  auto* b = dynamic_cast<const TBrush*>(source);
  if (!b) return TPersistent::Assign(source);
  Color = b->Color, Style = b->Style;
  std::copy(std::begin(b->Pattern), std::end(b->Pattern), Pattern);
}

namespace {
struct FontEntry {
  QFont font;
  QFontMetrics metrics;
};

// Building a font and its metrics costs more than drawing a short text: keep the ones in use,
// per thread (toolkit fonts are not shared between threads).
const FontEntry& CachedFont(const TFont& f) {
  thread_local std::unordered_map<std::string, std::unique_ptr<FontEntry>> cache;
  std::string key =
      f.GetName() + '\0' + std::to_string(f.GetHeight()) + '\0' + std::to_string(f.GetStyle());
  auto it = cache.find(key);
  if (it != cache.end()) return *it->second;
  EnsureGuiApplication();
  QFont q(QString::fromStdString(f.GetName()));
  int64_t h = std::abs(int64_t{f.GetHeight()});
  // A positive height is the cell height; the character height is about 80 % of it.
  if (f.GetHeight() > 0) h = h * 4 / 5;
  // No text is taller than the largest control shows.
  h = std::min<int64_t>(h, kMaxControlExtent);
  q.setPixelSize(std::max(1, int(h)));
  q.setBold(f.GetStyle() & fsBold);
  q.setItalic(f.GetStyle() & fsItalic);
  q.setUnderline(f.GetStyle() & fsUnderline);
  q.setStrikeOut(f.GetStyle() & fsStrikeOut);
  q.setStyleStrategy(QFont::NoAntialias);
  q.setHintingPreference(QFont::PreferFullHinting);
  if (cache.size() > 64) cache.clear();
  auto entry = std::make_unique<FontEntry>(FontEntry{q, QFontMetrics(q)});
  return *cache.emplace(key, std::move(entry)).first->second;
}
}  // namespace

QFont ToQFont(const TFont& f) { return CachedFont(f).font; }

// ---- canvas ----

TCanvas::TCanvas(QImage* image) : image_(image) {}
TCanvas::~TCanvas() = default;

void TCanvas::SetSurface(QImage* image) {
  image_ = image;
  pen_pos_ = {};
  has_clip_ = false;
}

int TCanvas::Width() const { return image_ ? image_->width() : 0; }
int TCanvas::Height() const { return image_ ? image_->height() : 0; }

TRect TCanvas::Clip() const {
  TRect all{0, 0, Width(), Height()};
  return has_clip_ ? IntersectRect(all, clip_) : all;
}
TRect TCanvas::GetClipRect() const { return Clip(); }
void TCanvas::SetClipRect(const TRect& r) {
  clip_ = r;
  has_clip_ = true;
}
void TCanvas::ResetClip() { has_clip_ = false; }

// A QPainter over the canvas surface set up for pixel-exact drawing.
class CanvasPainter : public QPainter {
 public:
  explicit CanvasPainter(TCanvas& c) : QPainter(c.image_) {
    setRenderHint(QPainter::Antialiasing, false);
    setRenderHint(QPainter::TextAntialiasing, false);
    TRect k = c.Clip();
    setClipRect(QRect(k.Left, k.Top, k.Width(), k.Height()));
    switch (c.pen_.Mode) {
      case pmXor:
        setCompositionMode(RasterOp_SourceXorDestination);
        break;
      case pmNotXor:
        setCompositionMode(RasterOp_NotSourceXorDestination);
        break;
      case pmNot:
        setCompositionMode(RasterOp_NotDestination);
        break;
      default:
        break;
    }
  }
  void UsePen(const TPen& p) {
    if (p.Style == psClear) return setPen(Qt::NoPen);
    QPen q(QColor::fromRgb(ColorToPixel(p.Mode == pmBlack   ? clBlack
                                        : p.Mode == pmWhite ? clWhite
                                                            : p.Color)));
    // The toolkit takes pens up to 32,767 pixels wide; one that wide already covers any control
    // from a line drawn across it.
    q.setWidth(std::clamp(p.Width, 1, 32767));
    static const Qt::PenStyle styles[] = {Qt::SolidLine,   Qt::DashLine,       Qt::DotLine,
                                          Qt::DashDotLine, Qt::DashDotDotLine, Qt::NoPen};
    q.setStyle(styles[p.Style]);
    q.setJoinStyle(Qt::MiterJoin);
    setPen(q);
  }
  void UseBrush(const TBrush& b) {
    if (b.Style == bsClear) return setBrush(Qt::NoBrush);
    QColor col = QColor::fromRgb(ColorToPixel(b.Color));
    switch (b.Style) {
      case bsHorizontal:
        return setBrush(QBrush(col, Qt::HorPattern));
      case bsVertical:
        return setBrush(QBrush(col, Qt::VerPattern));
      case bsFDiagonal:
        return setBrush(QBrush(col, Qt::FDiagPattern));
      case bsBDiagonal:
        return setBrush(QBrush(col, Qt::BDiagPattern));
      case bsCross:
        return setBrush(QBrush(col, Qt::CrossPattern));
      case bsDiagCross:
        return setBrush(QBrush(col, Qt::DiagCrossPattern));
      case bsPattern: {
        QImage tile(8, 8, QImage::Format_ARGB32);
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x)
            tile.setPixel(x, y, (b.Pattern[y] & (0x80 >> x)) ? col.rgba() : 0);
        return setBrush(QBrush(tile));
      }
      default:
        return setBrush(col);
    }
  }
};

void TCanvas::PlotPen(int x, int y, uint32_t pixel, TPenMode mode) {
  PaintMeter::Charge(1, 0);
  TRect k = Clip();
  if (!k.Contains({x, y})) return;
  auto* p = reinterpret_cast<uint32_t*>(image_->scanLine(y)) + x;
  switch (mode) {
    case pmXor:
      *p = (*p ^ pixel) | 0xFF000000u;
      break;
    case pmNotXor:
      *p = (*p ^ ~pixel) | 0xFF000000u;
      break;
    case pmNot:
      *p = ~*p | 0xFF000000u;
      break;
    case pmBlack:
      *p = 0xFF000000u;
      break;
    case pmWhite:
      *p = 0xFFFFFFFFu;
      break;
    default:
      *p = pixel;
      break;
  }
}

void TCanvas::HLine(int x1, int x2, int y, uint32_t pixel, TPenMode mode) {
  PaintMeter::Charge(0, 1);
  const TRect k = Clip();
  if (y < k.Top || y >= k.Bottom) return;
  for (int x = std::max(x1, k.Left), end = std::min(x2, k.Right); x < end; ++x)
    PlotPen(x, y, pixel, mode);
}

void TCanvas::VLine(int x, int y1, int y2, uint32_t pixel, TPenMode mode) {
  PaintMeter::Charge(0, 1);
  const TRect k = Clip();
  if (x < k.Left || x >= k.Right) return;
  for (int y = std::max(y1, k.Top), end = std::min(y2, k.Bottom); y < end; ++y)
    PlotPen(x, y, pixel, mode);
}

namespace {

// `v` moved to within `margin` of [lo, hi): a coordinate beyond the target lands just beyond it
// on the same side, so whatever is drawn to it covers the same pixels of the target.
int Near(int64_t v, int lo, int hi, int margin) {
  return static_cast<int>(std::clamp<int64_t>(v, int64_t{lo} - margin, int64_t{hi} + margin));
}

// A drawing rectangle (any order of its corners) brought near the target, for the toolkit, whose
// rectangles hold sizes in int.
TRect NearRect(int64_t x1, int64_t y1, int64_t x2, int64_t y2, const TRect& k, int margin) {
  return {Near(x1, k.Left, k.Right, margin), Near(y1, k.Top, k.Bottom, margin),
          Near(x2, k.Left, k.Right, margin), Near(y2, k.Top, k.Bottom, margin)};
}

// Room beyond the target for what a pen of `width` draws around a line there.
int PenMargin(int width) { return std::clamp(width, 1, 1 << 20) + 2; }

}  // namespace

namespace {

// The part of the segment a-b within `r` (inclusive bounds) as fractions t0 <= t1 of its
// length; false when none of it is.
bool ClipFractions(double ax, double ay, double bx, double by, double left, double top,
                   double right, double bottom, double& t0, double& t1) {
  t0 = 0;
  t1 = 1;
  const double d[2] = {bx - ax, by - ay};
  const double lo[2] = {left - ax, top - ay}, hi[2] = {right - ax, bottom - ay};
  for (int axis = 0; axis < 2; ++axis) {
    if (d[axis] == 0) {
      if (lo[axis] > 0 || hi[axis] < 0) return false;
      continue;
    }
    double e0 = lo[axis] / d[axis], e1 = hi[axis] / d[axis];
    if (e0 > e1) std::swap(e0, e1);
    t0 = std::max(t0, e0);
    t1 = std::min(t1, e1);
  }
  return t0 <= t1;
}

}  // namespace

void TCanvas::LineTo(int x, int y) {
  TPoint from = pen_pos_;
  pen_pos_ = {x, y};
  PaintMeter::Charge(0, 1);
  if (!image_ || pen_.Style == psClear) return;
  // Whatever the ends, only the part of the line inside the target is ever walked.
  const TRect k = Clip();
  if (k.IsEmpty()) return;
  if (pen_.Width > 1) {
    const double margin = pen_.Width + 1.0;
    double t0, t1;
    if (!ClipFractions(from.X, from.Y, x, y, k.Left - margin, k.Top - margin, k.Right + margin,
                       k.Bottom + margin, t0, t1))
      return;
    const double dx = static_cast<double>(x) - from.X, dy = static_cast<double>(y) - from.Y;
    PaintMeter::Charge(
        AreaIn(k, int64_t(from.X + t0 * dx) - pen_.Width, int64_t(from.Y + t0 * dy) - pen_.Width,
               int64_t(from.X + t1 * dx) + pen_.Width, int64_t(from.Y + t1 * dy) + pen_.Width),
        0);
    CanvasPainter p(*this);
    p.UsePen(pen_);
    // Dashes keep the phase they would have had on the whole line.
    QPen q = p.pen();
    q.setDashOffset(q.dashOffset() + t0 * std::hypot(dx, dy) / q.widthF());
    p.setPen(q);
    p.drawLine(QLineF(from.X + t0 * dx, from.Y + t0 * dy, from.X + t1 * dx, from.Y + t1 * dy));
    return;
  }
  // Thin lines are ours: exact end-pixel rule and raster modes on every pixel. Step i of the
  // walk along the major axis sits floor((2 i minor + major) / (2 major)) off it on the minor
  // axis, so the walk can start at the first step inside the target.
  static const uint32_t kDash[] = {0xFFFFFFFF, 0x003F003F, 0x33333333, 0x00FC3F0F, 0x0FCCFCCF};
  const uint32_t pattern = kDash[pen_.Style < psClear ? pen_.Style : 0];
  const uint32_t pixel = ColorToPixel(pen_.Color);
  const int64_t dx = int64_t{x} - from.X, dy = int64_t{y} - from.Y;
  const bool x_major = std::abs(dx) >= std::abs(dy);
  const int64_t major = x_major ? std::abs(dx) : std::abs(dy);
  const int64_t minor = x_major ? std::abs(dy) : std::abs(dx);
  if (major == 0) return;
  const int64_t step = (x_major ? dx : dy) < 0 ? -1 : 1;
  const int64_t side = (x_major ? dy : dx) < 0 ? -1 : 1;
  const int64_t m0 = x_major ? from.X : from.Y, n0 = x_major ? from.Y : from.X;
  const int64_t lo = x_major ? k.Left : k.Top, hi = int64_t{x_major ? k.Right : k.Bottom} - 1;
  int64_t first = step > 0 ? lo - m0 : m0 - hi, last = step > 0 ? hi - m0 : m0 - lo;
  first = std::max<int64_t>(first, 0);
  last = std::min<int64_t>(last, major - 1);
  __extension__ using wide = __int128;
  PaintMeter::Charge(std::max<int64_t>(last - first + 1, 0), 0);
  for (int64_t i = first; i <= last; ++i) {
    if (!(pattern & (1u << (i & 31)))) continue;
    const int64_t off = static_cast<int64_t>((wide{2} * i * minor + major) / (wide{2} * major));
    const int64_t m = m0 + step * i, n = n0 + side * off;
    const int64_t px = x_major ? m : n, py = x_major ? n : m;
    if (px < k.Left || px >= k.Right || py < k.Top || py >= k.Bottom) continue;
    PlotPen(static_cast<int>(px), static_cast<int>(py), pixel, pen_.Mode);
  }
}

void TCanvas::Polyline(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  MoveTo(points[0].X, points[0].Y);
  for (size_t i = 1; i < points.size(); ++i) LineTo(points[i].X, points[i].Y);
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  PaintMeter::Charge(int64_t(points.size()), 1);
  if (!image_ || points.size() < 2) return;
  {
    const auto [lx, hx] = std::minmax_element(points.begin(), points.end(),
                                              [](TPoint a, TPoint b) { return a.X < b.X; });
    const auto [ly, hy] = std::minmax_element(points.begin(), points.end(),
                                              [](TPoint a, TPoint b) { return a.Y < b.Y; });
    PaintMeter::Charge(AreaIn(Clip(), lx->X, ly->Y, int64_t{hx->X} + 1, int64_t{hy->Y} + 1), 0);
  }
  CanvasPainter p(*this);
  QPolygon poly;
  for (auto pt : points) poly << QPoint(pt.X, pt.Y);
  p.UseBrush(brush_);
  p.setPen(Qt::NoPen);
  p.drawPolygon(poly);
  p.end();
  auto pts = points;
  pts.push_back(points[0]);
  TPoint keep = pen_pos_;
  Polyline(pts);
  // The closing segment leaves out its end, which is the first point: draw it.
  if (pen_.Style != psClear && pen_.Width <= 1)
    PlotPen(points[0].X, points[0].Y, ColorToPixel(pen_.Color), pen_.Mode);
  pen_pos_ = keep;
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (!image_) return;
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  // Edges beyond the target move to just beyond it: the same pixels, and every size fits int.
  const TRect k = Clip();
  if (k.IsEmpty()) return;
  const TRect n = NearRect(x1, y1, x2, y2, k, PenMargin(pen_.Width));
  x1 = n.Left, y1 = n.Top, x2 = n.Right, y2 = n.Bottom;
  PaintMeter::Charge(AreaIn(k, x1, y1, x2, y2), 1);
  if (brush_.Style != bsClear) {
    CanvasPainter p(*this);
    p.UseBrush(brush_);
    p.setPen(Qt::NoPen);
    p.drawRect(QRect(x1, y1, x2 - x1, y2 - y1));
  }
  if (pen_.Style == psClear || x2 - x1 < 1 || y2 - y1 < 1) return;
  if (pen_.Width > 1) {
    CanvasPainter p(*this);
    p.UsePen(pen_);
    int w = pen_.Width;
    p.drawRect(QRect(x1 + w / 2, y1 + w / 2, x2 - x1 - w, y2 - y1 - w));
    return;
  }
  uint32_t pixel = ColorToPixel(pen_.Color);
  HLine(x1, x2, y1, pixel, pen_.Mode);
  if (y2 - 1 > y1) HLine(x1, x2, y2 - 1, pixel, pen_.Mode);
  VLine(x1, y1 + 1, y2 - 1, pixel, pen_.Mode);
  if (x2 - 1 > x1) VLine(x2 - 1, y1 + 1, y2 - 1, pixel, pen_.Mode);
}

// The toolkit's curves are drawn from the bounding rectangle: one far beyond the target is
// shrunk, about its middle, to where its curve meets the target the same to within rounding.
namespace {
constexpr int64_t kCurveReach = int64_t{1} << 16;
bool CurveBeyondReach(int64_t x1, int64_t y1, int64_t x2, int64_t y2, const TRect& k) {
  return std::min(x1, x2) < k.Left - kCurveReach || std::max(x1, x2) > k.Right + kCurveReach ||
         std::min(y1, y2) < k.Top - kCurveReach || std::max(y1, y2) > k.Bottom + kCurveReach;
}
}  // namespace

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  PaintMeter::Charge(0, 1);
  if (!image_) return;
  const TRect k = Clip();
  if (k.IsEmpty()) return;
  PaintMeter::Charge(AreaIn(k, x1, y1, x2, y2), 0);
  if (CurveBeyondReach(x1, y1, x2, y2, k)) {
    // A curve that far out is nearly straight across the target: draw it as a polygon of its
    // points within reach.
    return CurveAsPolygon(x1, y1, x2, y2, 0, 360, false);
  }
  CanvasPainter p(*this);
  p.UsePen(pen_);
  p.UseBrush(brush_);
  p.drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
}

void TCanvas::Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  PaintMeter::Charge(0, 1);
  if (!image_) return;
  const TRect k = Clip();
  if (k.IsEmpty()) return;
  PaintMeter::Charge(AreaIn(k, x1, y1, x2, y2), 0);
  double cx = (double(x1) + x2) / 2.0, cy = (double(y1) + y2) / 2.0;
  double a1 = std::atan2(cy - y3, x3 - cx) * 180 / M_PI;
  double a2 = std::atan2(cy - y4, x4 - cx) * 180 / M_PI;
  double span = a2 - a1;
  while (span <= 0) span += 360;
  if (CurveBeyondReach(x1, y1, x2, y2, k)) return CurveAsPolygon(x1, y1, x2, y2, a1, span, true);
  CanvasPainter p(*this);
  p.UsePen(pen_);
  p.UseBrush(brush_);
  p.drawPie(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1), int(std::lround(a1 * 16)),
            int(std::lround(span * 16)));
}

namespace {

// The part of `poly` within x in [lo_x, hi_x] and y in [lo_y, hi_y], one side at a time.
QPolygonF ClipPolygon(QPolygonF poly, double lo_x, double lo_y, double hi_x, double hi_y) {
  auto side = [&poly](auto inside, auto cross) {
    QPolygonF out;
    for (qsizetype i = 0; i < poly.size(); ++i) {
      const QPointF a = poly[i], b = poly[(i + 1) % poly.size()];
      if (inside(a)) out << a;
      if (inside(a) != inside(b)) out << cross(a, b);
    }
    poly = out;
  };
  auto at_x = [](double x) {
    return [x](QPointF a, QPointF b) {
      return QPointF(x, a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x()));
    };
  };
  auto at_y = [](double y) {
    return [y](QPointF a, QPointF b) {
      return QPointF(a.x() + (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()), y);
    };
  };
  side([&](QPointF p) { return p.x() >= lo_x; }, at_x(lo_x));
  side([&](QPointF p) { return p.x() <= hi_x; }, at_x(hi_x));
  side([&](QPointF p) { return p.y() >= lo_y; }, at_y(lo_y));
  side([&](QPointF p) { return p.y() <= hi_y; }, at_y(hi_y));
  return poly;
}

}  // namespace

void TCanvas::CurveAsPolygon(int x1, int y1, int x2, int y2, double from, double span, bool pie) {
  // Points along the arc close enough that each chord strays less than half a pixel from it,
  // the polygon cut to a reach of the target the toolkit draws exactly; its sides along the
  // cut lie beyond the target.
  const double cx = (double(x1) + x2 - 1) / 2.0, cy = (double(y1) + y2 - 1) / 2.0;
  const double rx = std::abs(double(x2) - x1 - 1) / 2.0, ry = std::abs(double(y2) - y1 - 1) / 2.0;
  const double radius = std::max({rx, ry, 1.0});
  const int steps = int(
      std::clamp(2 * M_PI * radius / (2 * std::sqrt(radius)) * span / 360, 64.0, double(1 << 20)));
  QPolygonF poly;
  if (pie) poly << QPointF(cx, cy);
  for (int i = 0; i <= steps; ++i) {
    const double a = (from + span * i / steps) * M_PI / 180;
    poly << QPointF(cx + rx * std::cos(a), cy - ry * std::sin(a));
  }
  const TRect k = Clip();
  const double reach = kCurveReach;
  poly = ClipPolygon(poly, k.Left - reach, k.Top - reach, k.Right + reach, k.Bottom + reach);
  if (poly.size() < 3) return;
  CanvasPainter p(*this);
  p.UsePen(pen_);
  p.UseBrush(brush_);
  p.drawPolygon(poly);
}

void TCanvas::FillRect(const TRect& r) {
  PaintMeter::Charge(0, 1);
  if (!image_ || brush_.Style == bsClear) return;
  const TRect k = Clip();
  const TRect n = IntersectRect(k, r);
  if (n.IsEmpty()) return;
  PaintMeter::Charge(int64_t{n.Width()} * n.Height(), 0);
  CanvasPainter p(*this);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.UseBrush(brush_);
  p.setPen(Qt::NoPen);
  p.drawRect(QRect(n.Left, n.Top, n.Width(), n.Height()));
}

void TCanvas::FrameRect(const TRect& r) {
  if (!image_ || r.IsEmpty()) return;
  uint32_t pixel = ColorToPixel(brush_.Color);
  HLine(r.Left, r.Right, r.Top, pixel, pmCopy);
  HLine(r.Left, r.Right, r.Bottom - 1, pixel, pmCopy);
  VLine(r.Left, r.Top, r.Bottom, pixel, pmCopy);
  VLine(r.Right - 1, r.Top, r.Bottom, pixel, pmCopy);
}

TColor TCanvas::GetPixel(int x, int y) const {
  PaintMeter::Charge(1, 0);
  if (!image_ || x < 0 || y < 0 || x >= Width() || y >= Height()) return -1;
  return PixelToColor(reinterpret_cast<const uint32_t*>(image_->constScanLine(y))[x]);
}

void TCanvas::SetPixel(int x, int y, TColor c) {
  if (image_) PlotPen(x, y, ColorToPixel(c), pmCopy);
}

void TCanvas::Glyphs(QPainter& p, GlyphDrawing draw) {
  p.setPen(QColor::fromRgb(ColorToPixel(font_.GetColor())));
  if (!glyphs_) {
    p.save();
    draw(p);
    p.restore();
    return;
  }
  // The painter's font, pen and clip travel with the drawing. On a denser device the glyphs are
  // smoothed like the toolkit's own text.
  glyphs_->push_back(
      [font = p.font(), pen = p.pen(), clip = p.clipRegion(), draw = std::move(draw)](QPainter& q) {
        q.save();
        q.setClipRegion(clip, Qt::IntersectClip);
        QFont f = font;
        if (q.device() && q.device()->devicePixelRatioF() > 1.0) {
          f.setStyleStrategy(QFont::PreferAntialias);
          q.setRenderHint(QPainter::TextAntialiasing, true);
        }
        q.setFont(f);
        q.setPen(pen);
        q.setCompositionMode(QPainter::CompositionMode_SourceOver);
        draw(q);
        q.restore();
      });
}

namespace {

// Whether text drawn with its top-left at (x, y) over w x h pixels (turned any way about that
// corner when `turned`) can reach `k`; text that cannot is not handed to the toolkit, whose text
// positions hold far less than int.
bool TextMeets(int64_t x, int64_t y, int64_t w, int64_t h, bool turned, const TRect& k) {
  const int64_t reach = turned ? w + h : 0;
  return x - reach < k.Right && x + w + reach > k.Left && y - reach < k.Bottom &&
         y + h + reach > k.Top;
}

}  // namespace

void TCanvas::TextOut(int x, int y, const std::string& text) {
  if (!image_) return;
  QString s = QString::fromUtf8(text.data(), int(text.size()));
  const QFontMetrics& fm = CachedFont(font_).metrics;
  int w = fm.horizontalAdvance(s);
  pen_pos_ = {AddSat(x, w), y};
  PaintMeter::Charge(0, 1);
  if (!TextMeets(x, y, w, fm.height(), font_.GetOrientation() != 0, Clip())) return;
  {
    const int64_t reach = font_.GetOrientation() != 0 ? int64_t{w} + fm.height() : 0;
    PaintMeter::Charge(AreaIn(Clip(), int64_t{x} - reach, int64_t{y} - reach,
                              int64_t{x} + w + reach, int64_t{y} + fm.height() + reach),
                       0);
  }
  CanvasPainter p(*this);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setFont(CachedFont(font_).font);
  if (font_.GetOrientation() == 0 && brush_.Style != bsClear)
    p.fillRect(QRect(x, y, w, fm.height()), QColor::fromRgb(ColorToPixel(brush_.Color)));
  Glyphs(p, [x, y, s, ascent = fm.ascent(), angle = font_.GetOrientation()](QPainter& q) {
    if (angle == 0) {
      q.drawText(x, y + ascent, s);
      return;
    }
    q.translate(x, y);
    q.rotate(-(angle / 10.0));
    q.drawText(0, ascent, s);
  });
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text) {
  if (!image_) return;
  // Nothing is drawn outside `r`, so only its part within the target matters.
  PaintMeter::Charge(0, 1);
  const TRect box = IntersectRect(r, Clip());
  if (box.IsEmpty()) return;
  PaintMeter::Charge(int64_t{box.Width()} * box.Height(), 0);
  QString s = QString::fromUtf8(text.data(), int(text.size()));
  CanvasPainter p(*this);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setClipRect(QRect(box.Left, box.Top, box.Width(), box.Height()), Qt::IntersectClip);
  if (brush_.Style != bsClear)
    p.fillRect(QRect(box.Left, box.Top, box.Width(), box.Height()),
               QColor::fromRgb(ColorToPixel(brush_.Color)));
  const QFontMetrics& fm = CachedFont(font_).metrics;
  if (!TextMeets(x, y, fm.horizontalAdvance(s), fm.height(), false, box)) return;
  p.setFont(CachedFont(font_).font);
  Glyphs(p, [x, y, s, ascent = fm.ascent()](QPainter& q) { q.drawText(x, y + ascent, s); });
}

int TCanvas::TextWidth(const std::string& text) const {
  return CachedFont(font_).metrics.horizontalAdvance(
      QString::fromUtf8(text.data(), int(text.size())));
}

int TCanvas::TextHeight(const std::string&) const { return CachedFont(font_).metrics.height(); }

namespace {

// One side of a text box along one axis, shrunk to at most `reach` where the text keeps its
// place: from the start, from the end, or about the middle (the size keeping its parity).
void ShrinkBoxSide(int64_t& lo, int64_t& hi, int align_lo, int align_hi, int align, int reach) {
  const int64_t size = hi - lo;
  if (size <= reach) return;
  if (align & align_hi) {
    lo = hi - reach;
  } else if (align & align_lo) {
    hi = lo + reach;
  } else {
    const int64_t d = (size - reach) / 2;
    lo += d, hi -= d;
  }
}

}  // namespace

int TCanvas::DrawText(const std::string& text, TRect& r, unsigned flags) {
  QString s = QString::fromUtf8(text.data(), int(text.size()));
  int qf = 0;
  qf |= (flags & DT_CENTER)  ? Qt::AlignHCenter
        : (flags & DT_RIGHT) ? Qt::AlignRight
                             : Qt::AlignLeft;
  if (flags & DT_SINGLELINE)
    qf |= (flags & DT_VCENTER)  ? Qt::AlignVCenter
          : (flags & DT_BOTTOM) ? Qt::AlignBottom
                                : Qt::AlignTop;
  else
    qf |= Qt::AlignTop;
  if ((flags & DT_WORDBREAK) && !(flags & DT_SINGLELINE)) qf |= Qt::TextWordWrap;
  if (flags & DT_SINGLELINE) qf |= Qt::TextSingleLine;
  if (flags & DT_EXPANDTABS) qf |= Qt::TextExpandTabs;
  if (!(flags & DT_NOPREFIX)) qf |= Qt::TextShowMnemonic;
  const QFont& font = CachedFont(font_).font;
  const QFontMetrics& fm = CachedFont(font_).metrics;
  // The toolkit's rectangles and text positions hold far less than int: the text is laid out in
  // a box at the origin no larger than any text needs, then placed.
  constexpr int kReach = 1 << 20;
  int64_t left = r.Left, top = r.Top, right = std::max(left, int64_t{r.Right}),
          bottom = std::max(top, int64_t{r.Bottom});
  if (flags & DT_CALCRECT) {
    QRect need = fm.boundingRect(
        QRect(0, 0, (flags & DT_WORDBREAK) ? int(std::min<int64_t>(right - left, kReach)) : kReach,
              kReach),
        qf & ~(Qt::AlignHCenter | Qt::AlignRight | Qt::AlignVCenter | Qt::AlignBottom), s);
    r.Right = SaturateInt(left + need.width());
    r.Bottom = SaturateInt(top + std::max(need.height(), fm.height()));
    return r.Height();
  }
  ShrinkBoxSide(left, right, Qt::AlignLeft, Qt::AlignRight, qf, kReach);
  if (flags & DT_SINGLELINE) ShrinkBoxSide(top, bottom, Qt::AlignTop, Qt::AlignBottom, qf, kReach);
  bottom = std::min(bottom, top + kReach);
  const QRect at_origin(0, 0, int(right - left), int(bottom - top));
  const QRect used_at_origin = fm.boundingRect(at_origin, qf, s);
  if (!image_) return 0;
  const TRect k = Clip();
  if (!(flags & DT_NOCLIP) &&
      (left >= k.Right || right <= k.Left || top >= k.Bottom || bottom <= k.Top))
    return used_at_origin.height();
  if (!TextMeets(left + used_at_origin.left(), top + used_at_origin.top(), used_at_origin.width(),
                 used_at_origin.height(), false, k))
    return used_at_origin.height();
  const QRect box = at_origin.translated(int(left), int(top));
  PaintMeter::Charge(AreaIn(k, box.left(), box.top(), int64_t{box.left()} + box.width(),
                            int64_t{box.top()} + box.height()),
                     1);
  CanvasPainter p(*this);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (!(flags & DT_NOCLIP)) p.setClipRect(box, Qt::IntersectClip);
  p.setFont(font);
  QRect used = used_at_origin.translated(int(left), int(top));
  if (brush_.Style != bsClear) p.fillRect(used, QColor::fromRgb(ColorToPixel(brush_.Color)));
  Glyphs(p, [box, qf, s](QPainter& q) { q.drawText(box, qf, s); });
  return used.height();
}

namespace {

template <class F>
void RowOp(uint32_t* d, const uint32_t* s, int n, F f) {
  for (int i = 0; i < n; ++i) d[i] = f(s[i], d[i]) | 0xFF000000u;
}

// One row of a raster operation; the operation is chosen once per row, not per pixel.
void ApplyRow(uint32_t rop, uint32_t* d, const uint32_t* s, int n) {
  switch (rop) {
    case cmSrcInvert:
      return RowOp(d, s, n, [](uint32_t a, uint32_t b) { return a ^ b; });
    case cmSrcAnd:
      return RowOp(d, s, n, [](uint32_t a, uint32_t b) { return a & b; });
    case cmSrcPaint:
      return RowOp(d, s, n, [](uint32_t a, uint32_t b) { return a | b; });
    case cmNotSrcCopy:
      return RowOp(d, s, n, [](uint32_t a, uint32_t) { return ~a; });
    case cmDstInvert:
      return RowOp(d, s, n, [](uint32_t, uint32_t b) { return ~b; });
    case cmBlackness:
      return RowOp(d, s, n, [](uint32_t, uint32_t) { return 0u; });
    case cmWhiteness:
      return RowOp(d, s, n, [](uint32_t, uint32_t) { return 0xFFFFFFFFu; });
    case cmMergePaint:
      return RowOp(d, s, n, [](uint32_t a, uint32_t b) { return ~a | b; });
    case cmSrcErase:
      return RowOp(d, s, n, [](uint32_t a, uint32_t b) { return a & ~b; });
    case cmNotSrcErase:
      return RowOp(d, s, n, [](uint32_t a, uint32_t b) { return ~(a | b); });
    default:
      return RowOp(d, s, n, [](uint32_t a, uint32_t) { return a; });
  }
}

}  // namespace

void TCanvas::RasterCopy(const TRect& dest, const QImage& src, const SourceArea& sr, uint32_t rop) {
  PaintMeter::Charge(0, 1);
  if (!image_ || dest.IsEmpty() || sr.width <= 0 || sr.height <= 0) return;
  const TRect k = Clip();
  // Only the destination's part within the target is walked; the sides of both rectangles may
  // lie anywhere in int, so the mapping is taken wider than any product of two of them.
  const int y0 = std::max(dest.Top, k.Top), y1 = std::min(dest.Bottom, k.Bottom);
  const int x0 = std::max(dest.Left, k.Left), x1 = std::min(dest.Right, k.Right);
  if (x0 >= x1 || y0 >= y1) return;
  PaintMeter::Charge(int64_t{x1 - x0} * (y1 - y0) + (x1 - x0), y1 - y0);
  __extension__ using wide = __int128;
  const int64_t dw = int64_t{dest.Right} - dest.Left, dh = int64_t{dest.Bottom} - dest.Top;
  auto map = [](int v, int from, int64_t d, int64_t to, int64_t s) {
    return to + static_cast<int64_t>(wide{int64_t{v} - from} * s / d);
  };
  QImage copy;
  const QImage* from = &src;
  if (&src == image_) {  // overlapping copies within one surface read from a snapshot
    PaintMeter::Charge(int64_t{src.width()} * src.height(), 1);
    copy = src.copy();
    from = &copy;
  }
  // Source column of every destination column, once; -1 where it falls outside the source.
  std::vector<int> cols(x1 - x0);
  bool straight = sr.width == dw;
  for (int x = x0; x < x1; ++x) {
    const int64_t sx = map(x, dest.Left, dw, sr.left, sr.width);
    cols[x - x0] = (sx >= 0 && sx < from->width()) ? static_cast<int>(sx) : -1;
    straight = straight && cols[x - x0] == cols[0] + (x - x0);
  }
  std::vector<uint32_t> row(straight ? 0 : x1 - x0);
  for (int y = y0; y < y1; ++y) {
    const int64_t syy = map(y, dest.Top, dh, sr.top, sr.height);
    if (syy < 0 || syy >= from->height()) continue;
    auto* s = reinterpret_cast<const uint32_t*>(from->constScanLine(static_cast<int>(syy)));
    auto* d = reinterpret_cast<uint32_t*>(image_->scanLine(y)) + x0;
    if (straight && cols[0] >= 0) {
      ApplyRow(rop, d, s + cols[0], x1 - x0);
      continue;
    }
    // Stretched or partly outside the source: gather the row, keep what has no source.
    for (int i = 0; i < x1 - x0; ++i) row[i] = cols[i] >= 0 ? s[cols[i]] : 0;
    for (int i = 0; i < x1 - x0;) {
      if (cols[i] < 0) {
        ++i;
        continue;
      }
      int run = i;
      while (run < x1 - x0 && cols[run] >= 0) ++run;
      ApplyRow(rop, d + i, &row[i], run - i);
      i = run;
    }
  }
}

TCanvas::SourceArea TCanvas::SourceArea::Of(const TRect& r) {
  return {r.Left, r.Top, int64_t{r.Right} - r.Left, int64_t{r.Bottom} - r.Top};
}

void TCanvas::Draw(int x, int y, const TBitmap& bmp) {
  if (bmp.Empty()) return;
  // Unscaled: a picture reaching past the end of int is cut there, not squeezed.
  BitBlt(Bounds(x, y, bmp.Width(), bmp.Height()), bmp.Canvas(), 0, 0, copy_mode_);
}

void TCanvas::StretchDraw(const TRect& dest, const TBitmap& bmp) {
  if (bmp.Empty()) return;
  RasterCopy(dest, bmp.Image(), {0, 0, bmp.Width(), bmp.Height()}, copy_mode_);
}

void TCanvas::CopyRect(const TRect& dest, const TCanvas& src, const TRect& src_rect) {
  if (src.image_) RasterCopy(dest, *src.image_, SourceArea::Of(src_rect), copy_mode_);
}

void TCanvas::BitBlt(const TRect& dest, const TCanvas& src, int sx, int sy, uint32_t rop) {
  if (src.image_)
    RasterCopy(dest, *src.image_,
               {sx, sy, int64_t{dest.Right} - dest.Left, int64_t{dest.Bottom} - dest.Top}, rop);
}

namespace {

// The frame's rings as the framework draws them: ring i is two polylines, top colour from
// (L + i, B - i) up to (L + i, T + i) and on to (R - i, T + i), then bottom colour from there
// down to (R - i, B - i) and back to (L + i - 1, B - i), each line leaving out its end (R and B
// inclusive). Past the middle a ring turns inside out and its lines run the other way. A pixel
// shows the last line that covers it: the highest ring, within a ring the later line.
struct Rings {
  int64_t L, T, R, B, n;

  // Whether the line from a towards b, leaving out b, covers v.
  static bool Walk(int64_t v, int64_t a, int64_t b) {
    return a < b ? v >= a && v < b : a > b ? v > b && v <= a : false;
  }
  // 0 where no line covers (x, y), else 1 + 4 i + the line's number (0 .. 3) within ring i:
  // the greatest number shows.
  int64_t Last(int64_t x, int64_t y) const {
    int64_t best = 0;
    auto consider = [&](int64_t i, int line, bool covers) {
      if (i >= 0 && i < n && covers) best = std::max(best, 1 + 4 * i + line);
    };
    int64_t i = x - L;
    consider(i, 0, Walk(y, B - i, T + i));
    i = y - T;
    consider(i, 1, Walk(x, L + i, R - i));
    i = R - x;
    consider(i, 2, Walk(y, T + i, B - i));
    i = B - y;
    consider(i, 3, Walk(x, R - i, L + i - 1));
    return best;
  }
  // Columns of row y from which on Last may change: where a line starts or ends or where two
  // rings' lines cross.
  void Breaks(int64_t y, std::vector<int64_t>& xs) const {
    const int64_t i2 = y - T, i4 = B - y;
    const int64_t ends[] = {L, L + n, R - n + 1, R + 1,
                            // where the column lines of ring x - L and R - x start and end
                            L + std::min(y - T - 1, B - y) + 1, L + std::max(B - y, y - T + 1),
                            R - std::min(y - T, B - y - 1), R - std::max(B - y + 1, y - T) + 1,
                            // the row lines of this row, and where the column lines' rings
                            // pass theirs
                            L + i2, R - i2, L + i4 - 1, R - i4, L + i4, R - i2 + 1, R - i4 + 1,
                            // where the two column lines' rings pass each other
                            (L + R) / 2};
    for (int64_t e : ends)
      for (int64_t d = -1; d <= 1; ++d) xs.push_back(e + d);
  }
};

}  // namespace

void Frame3D(TCanvas& canvas, TRect& r, TColor top, TColor bottom, int width) {
  const Rings rings{r.Left, r.Top, int64_t{r.Right} - 1, int64_t{r.Bottom} - 1,
                    std::max<int64_t>(width, 0)};
  r = {SaturateInt(rings.L + rings.n), SaturateInt(rings.T + rings.n),
       SaturateInt(rings.R - rings.n + 1), SaturateInt(rings.B - rings.n + 1)};
  const TRect k = canvas.GetClipRect();
  QImage* image = canvas.Surface();
  PaintMeter::Charge(0, 1);
  if (rings.n == 0 || k.IsEmpty() || !image) return;
  // Row by row, in runs of columns that show the same line: work by the target's rows, not by
  // the width of the frame.
  const uint32_t colours[2] = {ColorToPixel(top), ColorToPixel(bottom)};
  std::vector<int64_t> xs;
  for (int y = k.Top; y < k.Bottom; ++y) {
    xs.clear();
    xs.push_back(k.Left);
    xs.push_back(k.Right);
    rings.Breaks(y, xs);
    std::sort(xs.begin(), xs.end());
    auto* row = reinterpret_cast<uint32_t*>(image->scanLine(y));
    for (size_t j = 0; j + 1 < xs.size(); ++j) {
      const int64_t from = std::max<int64_t>(xs[j], k.Left);
      const int64_t to = std::min<int64_t>(xs[j + 1], k.Right);
      if (from >= to) continue;
      const int64_t last = rings.Last(from, y);
      // Lines 0 and 1 of a ring are in the top colour, 2 and 3 in the bottom one.
      if (last > 0) {
        PaintMeter::Charge(to - from, 1);
        std::fill(row + from, row + to, colours[((last - 1) & 3) >> 1]);
      }
    }
  }
}

// ---- bitmap ----

TBitmap::TBitmap() : TBitmap(0, 0) {}

TBitmap::TBitmap(int w, int h)
    : image_(std::make_unique<QImage>()), canvas_(std::make_unique<TCanvas>(nullptr)) {
  if (w > 0 && h > 0) {
    PaintMeter::Charge(int64_t{w} * h, 1);
    *image_ = QImage(w, h, QImage::Format_RGB32);
    image_->fill(0xFFFFFFFFu);
  }
  canvas_->SetSurface(image_->isNull() ? nullptr : image_.get());
}

TBitmap::~TBitmap() = default;
TBitmap::TBitmap(TBitmap&&) noexcept = default;
TBitmap& TBitmap::operator=(TBitmap&&) noexcept = default;

int TBitmap::Width() const { return image_->width(); }
int TBitmap::Height() const { return image_->height(); }

void TBitmap::Changed() {
  canvas_->SetSurface(image_->isNull() ? nullptr : image_.get());
  if (OnChange) OnChange(this);
}

void TBitmap::SetSize(int w, int h) {
  w = std::max(0, w), h = std::max(0, h);
  if (w == Width() && h == Height()) return;
  QImage n;
  if (w > 0 && h > 0) {
    PaintMeter::Charge(int64_t{w} * h, 1);
    n = QImage(w, h, QImage::Format_RGB32);
    n.fill(0xFFFFFFFFu);
    QPainter p(&n);
    if (!image_->isNull()) p.drawImage(0, 0, *image_);
  }
  *image_ = std::move(n);
  Changed();
}

uint32_t* TBitmap::ScanLine(int y) { return reinterpret_cast<uint32_t*>(image_->scanLine(y)); }
const uint32_t* TBitmap::ScanLine(int y) const {
  return reinterpret_cast<const uint32_t*>(image_->constScanLine(y));
}

bool TBitmap::LoadFromFile(const std::filesystem::path& path, bool keepAlpha) {
  QImage img;
  if (!img.load(QString::fromStdString(path.string()))) return false;
  *image_ = img.convertToFormat(keepAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  Changed();
  return true;
}

bool TBitmap::SaveToFile(const std::filesystem::path& path) const {
  return image_->save(QString::fromStdString(path.string()));
}

void TBitmap::Assign(const TPersistent* source) {
  auto* b = dynamic_cast<const TBitmap*>(source);
  if (!b) return TPersistent::Assign(source);
  if (b == this) return;
  *image_ = b->image_->copy();
  Changed();
}

}  // namespace vant
