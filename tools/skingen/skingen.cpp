// Draws the skin pictures of both programs and writes one pack per skin module (skinpack.h).
// Usage: skingen <output folder> [--png <folder>] (the PNGs are for looking at the pictures).
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

#include "skinpack.h"
#include "skinpainter.h"
#include "skins.h"

namespace {

void PutU32(QByteArray& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.append(char((v >> (8 * i)) & 0xFF));
}

// The stored bitmap format: width, height, then top-down B, G, R, A pixels.
QByteArray StoredData(const QImage& picture) {
  QByteArray out;
  if (picture.isNull()) return out;
  QImage img = picture.convertToFormat(QImage::Format_ARGB32);
  PutU32(out, uint32_t(img.width()));
  PutU32(out, uint32_t(img.height()));
  for (int y = 0; y < img.height(); ++y) {
    // Format_ARGB32 is 0xAARRGGBB per pixel: B, G, R, A in memory on little-endian machines.
    out.append(reinterpret_cast<const char*>(img.constScanLine(y)), img.width() * 4);
  }
  return out;
}

bool WritePack(const QString& path, const std::vector<QImage>& items) {
  QByteArray pack(vant::skinpack::kMagic, 4);
  PutU32(pack, uint32_t(items.size()));
  for (const QImage& item : items) {
    QByteArray data = StoredData(item);
    PutU32(pack, uint32_t(data.size()));
    pack.append(data);
  }
  QFile f(path + ".tmp");
  if (!f.open(QIODevice::WriteOnly) || f.write(pack) != pack.size() || !f.flush()) return false;
  f.close();
  QFile::remove(path);
  return QFile::rename(path + ".tmp", path);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: skingen <output folder> [--png <folder>]\n");
    return 2;
  }
  if (!skin::LoadFonts()) {
    std::fprintf(stderr, "skingen: the IPA Gothic fonts are not installed\n");
    return 1;
  }
  QString out = QString::fromLocal8Bit(argv[1]);
  QString png = argc >= 4 && QString(argv[2]) == "--png" ? QString::fromLocal8Bit(argv[3]) : "";
  QDir().mkpath(out);
  struct { const char* name; std::vector<QImage> items; } packs[] = {
      {"splash", skin::SplashPictures()},
      {"comdata", skin::ComData()},
      {"aabcdata", skin::AabcData()},
      {"modata", skin::MoData()},
      {"mmlib", skin::LibraryPictures()},
  };
  for (auto& p : packs) {
    if (!WritePack(out + "/" + p.name + ".skin", p.items)) {
      std::fprintf(stderr, "skingen: cannot write %s\n", p.name);
      return 1;
    }
    if (!png.isEmpty()) {
      QDir().mkpath(png);
      for (size_t i = 0; i < p.items.size(); ++i) {
        if (!p.items[i].isNull()) p.items[i].save(QString("%1/%2-%3.png").arg(png, p.name).arg(i));
      }
    }
  }
  return 0;
}
