// What the graphics library takes from Qt: text coverage drawn by QPainter (written into bitmaps
// by our own code), the picture formats Qt reads, the framework's system colour table, and
// bitmaps to and from the framework's pictures and the clipboard.
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <cstring>
#include <mutex>
#include <sstream>

#include "g32_picture.h"
#include "image32_widget.h"
#include "ui_clipboard.h"
#include "ui_types.h"

namespace g32 {
namespace {

QFont ToQFont(const TFont32& f) {
  QFont q(QString::fromStdString(f.Name));
  q.setPixelSize(std::max(f.Height, 1));
  q.setBold(f.Bold);
  q.setItalic(f.Italic);
  q.setUnderline(f.Underline);
  q.setStrikeOut(f.StrikeOut);
  return q;
}

int QtFlags(unsigned f) {
  int q = 0;
  q |= (f & DT_CENTER) ? Qt::AlignHCenter : (f & DT_RIGHT) ? Qt::AlignRight : Qt::AlignLeft;
  if (f & DT_SINGLELINE)
    q |= (f & DT_VCENTER) ? Qt::AlignVCenter : (f & DT_BOTTOM) ? Qt::AlignBottom : Qt::AlignTop;
  else
    q |= Qt::AlignTop;
  if (f & DT_WORDBREAK) q |= Qt::TextWordWrap;
  if (f & DT_SINGLELINE) q |= Qt::TextSingleLine;
  if (f & DT_EXPANDTABS) q |= Qt::TextExpandTabs;
  return q;
}

class QtTextRasterizer final : public TTextRasterizer {
 public:
  TPoint Extent(const TFont32& font, std::string_view utf8) override {
    QFontMetrics m(ToQFont(font));
    QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    return {m.horizontalAdvance(text), m.height()};
  }

  void Render(const TFont32& font, std::string_view utf8, int x, int y, const TRect& clip,
              unsigned flags, bool formatted, bool antialias, uint8_t* mask, int width,
              int height) override {
    QImage coverage(width, height, QImage::Format_Grayscale8);
    coverage.fill(0);
    {
      QPainter p(&coverage);
      QFont f = ToQFont(font);
      if (!antialias) f.setStyleStrategy(QFont::NoAntialias);
      p.setFont(f);
      p.setRenderHint(QPainter::TextAntialiasing, antialias);
      p.setPen(Qt::white);
      p.setClipRect(QRect(clip.Left, clip.Top, clip.Width(), clip.Height()));
      QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
      if (formatted) {
        p.drawText(QRect(clip.Left, clip.Top, clip.Width(), clip.Height()), QtFlags(flags), text);
      } else {
        p.drawText(QPoint(x, y + QFontMetrics(f).ascent()), text);
      }
    }
    for (int row = 0; row < height; ++row)
      std::memcpy(mask + size_t(row) * width, coverage.constScanLine(row), size_t(width));
  }
};

TDecodedPicture Decoded(const QImage& Src) {
  const QImage img = Src.convertToFormat(QImage::Format_ARGB32);
  TDecodedPicture pic;
  pic.Width = img.width(), pic.Height = img.height();
  if (uint64_t(pic.Width) * pic.Height > kMaxPicturePixels)
    throw EInvalidGraphic("Picture is too large");
  pic.HasAlpha = Src.hasAlphaChannel();
  pic.Pixels.resize(size_t(pic.Width) * pic.Height);
  for (int y = 0; y < pic.Height; ++y)
    std::memcpy(&pic.Pixels[size_t(y) * pic.Width], img.constScanLine(y), size_t(pic.Width) * 4);
  return pic;
}

TDecodedPicture ReadWithQt(std::span<const uint8_t> data) {
  QImage img = QImage::fromData(data.data(), int(data.size()));
  if (img.isNull()) throw EInvalidGraphic("Picture could not be read");
  return Decoded(img);
}

uint32_t SystemColor(int index) {
  uint32_t p = vant::ColorToPixel(vant::TColor(0x80000000u | uint32_t(index)));
  return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

}  // namespace

void InstallQtGraphics() {
  static std::once_flag once;
  std::call_once(once, [] {
    static QtTextRasterizer rasterizer;
    SetTextRasterizer(&rasterizer);
    SetSystemColorResolver(SystemColor);
    for (const QByteArray& f : QImageReader::supportedImageFormats()) {
      std::string ext = f.toLower().toStdString();
      if (ext == "bmp" || ext == "dib" || ext == "jpg" || ext == "jpeg") continue;
      RegisterPictureReader(ext, ReadWithQt);
    }
  });
}

// ---- Pictures of the framework and the clipboard ----------------------------------------------
void Assign(TBitmap32& Dst, const QImage& Src) { AssignPicture(Dst, Decoded(Src)); }

void Assign(TBitmap32& Dst, const vant::TBitmap& Src) { Assign(Dst, Src.Image()); }

void AssignTo(const TBitmap32& Src, vant::TBitmap& Dst) {
  Dst.SetSize(Src.Width(), Src.Height());
  if (Src.Empty()) return;
  QImage argb(Src.Width(), Src.Height(), QImage::Format_ARGB32);
  for (int y = 0; y < Src.Height(); ++y)
    std::memcpy(argb.scanLine(y), Src.GetScanLine(y), size_t(Src.Width()) * 4);
  Dst.Image() = std::move(argb);  // the same image object: the canvas keeps drawing on it
}

void AssignFromClipboard(TBitmap32& Dst) {
  const std::optional<std::string> bytes = vant::Clipboard().GetData(vant::CF_BITMAP);
  if (!bytes) throw EInvalidGraphic("Unsupported clipboard format");
  const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes->data()),
                                      bytes->size());
  TDecodedPicture pic;
  try {
    pic = ReadBMP(data);
  } catch (const Exception&) {
    // BMP variants our reader does not take (other programs' headers): the toolkit reads them.
    QImage image = QImage::fromData(data.data(), int(data.size()), "BMP");
    if (image.isNull()) throw;
    pic = Decoded(image);
  }
  AssignPicture(Dst, pic);
}

void AssignToClipboard(const TBitmap32& Src) {
  std::ostringstream out;
  WriteBMP(out, Src);
  vant::Clipboard().SetData(vant::CF_BITMAP, out.str());
}

}  // namespace g32
