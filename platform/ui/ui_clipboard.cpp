#include "ui_clipboard.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <map>
#include <mutex>

#include "ui_canvas.h"

namespace vant {

namespace {
std::mutex g_mu;
std::map<std::string, uint32_t>& Formats() {
  static std::map<std::string, uint32_t> m;
  return m;
}
std::map<uint32_t, std::string>& Names() {
  static std::map<uint32_t, std::string> m;
  return m;
}

QString MimeOf(uint32_t format) {
  if (format == CF_TEXT) return "text/plain";
  if (format == CF_BITMAP) return "image/bmp";
  std::lock_guard lock(g_mu);
  auto it = Names().find(format);
  std::string name = it == Names().end() ? std::to_string(format) : it->second;
  return "application/x-vant-" + QString::fromStdString(name);
}
}  // namespace

struct TClipboard::Pending {
  std::map<uint32_t, std::string> items;
};

uint32_t RegisterClipboardFormat(const std::string& name) {
  std::lock_guard lock(g_mu);
  auto it = Formats().find(name);
  if (it != Formats().end()) return it->second;
  uint32_t id = 0xC000 + static_cast<uint32_t>(Formats().size());
  Formats()[name] = id;
  Names()[id] = name;
  return id;
}

void TClipboard::Open() {
  if (open_++ == 0) pending_ = new Pending;
}

void TClipboard::Close() {
  if (open_ == 0 || --open_ > 0) return;
  Pending* p = pending_;
  pending_ = nullptr;
  if (!p->items.empty()) {
    EnsureGuiApplication();
    auto* mime = new QMimeData;
    for (auto& [format, bytes] : p->items) {
      const QByteArray data(bytes.data(), qsizetype(bytes.size()));
      if (format == CF_TEXT) {
        mime->setText(QString::fromStdString(bytes));
      } else {
        // The exact bytes for ourselves, the decoded image for everyone else.
        mime->setData(MimeOf(format), data);
        if (format == CF_BITMAP) {
          QImage image;
          if (image.loadFromData(data, "BMP")) mime->setImageData(image);
        }
      }
    }
    QApplication::clipboard()->setMimeData(mime);
  }
  delete p;
}

void TClipboard::Clear() {
  EnsureGuiApplication();
  QApplication::clipboard()->clear();
}

bool TClipboard::HasFormat(uint32_t format) const {
  EnsureGuiApplication();
  const QMimeData* m = QApplication::clipboard()->mimeData();
  if (!m) return false;
  if (format == CF_TEXT) return m->hasText();
  if (format == CF_BITMAP && m->hasImage()) return true;
  return m->hasFormat(MimeOf(format));
}

void TClipboard::SetData(uint32_t format, const std::string& bytes) {
  bool alone = open_ == 0;
  if (alone) Open();
  pending_->items[format] = bytes;
  if (alone) Close();
}

std::optional<std::string> TClipboard::GetData(uint32_t format) const {
  if (!HasFormat(format)) return std::nullopt;
  const QMimeData* m = QApplication::clipboard()->mimeData();
  if (format == CF_TEXT) return m->text().toStdString();
  if (format == CF_BITMAP && !m->hasFormat(MimeOf(format))) {
    QImage image = qvariant_cast<QImage>(m->imageData());
    if (image.isNull()) return std::nullopt;
    QByteArray bmp;
    QBuffer out(&bmp);
    out.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(&out, "BMP")) return std::nullopt;
    return std::string(bmp.constData(), size_t(bmp.size()));
  }
  QByteArray b = m->data(MimeOf(format));
  return std::string(b.constData(), size_t(b.size()));
}

TClipboard& Clipboard() {
  static TClipboard c;
  return c;
}

}  // namespace vant
