// The toolkit's language: Japanese whatever the desktop's, for its texts and its own formats.
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <mutex>
#include <string_view>

#include "ui_canvas.h"

namespace vant {

namespace {

// Texts of the toolkit that its Japanese catalogue leaves in English. Asked only after the
// catalogue, so a catalogue that learns them wins.
class MissingTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char* = nullptr,
                    int = -1) const override {
    struct Text {
      std::string_view context, source;
      const char* japanese;
    };
    static constexpr Text kTexts[] = {
        {"QAbstractFileIconProvider", "Folder", "フォルダー"},
        {"QAbstractFileIconProvider", "Drive", "ドライブ"},
        {"QAbstractFileIconProvider", "Shortcut", "ショートカット"},
        {"QAbstractFileIconProvider", "Unknown", "不明"},
        {"QFileDialog", "File", "ファイル"},
    };
    if (!context || !source) return {};
    for (const Text& t : kTexts) {
      if (t.context == context && t.source == source) return QString::fromUtf8(t.japanese);
    }
    return {};
  }
};

}  // namespace

void InstallToolkitTranslations() {
  if (!QCoreApplication::instance()) return;
  static std::once_flag once;
  std::call_once(once, [] {
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    // Dates, sizes and file types in the toolkit's dialogs; the C library's numbers stay "C".
    QLocale::setDefault(japanese);
    // Installed first, so asked last.
    QCoreApplication::installTranslator(new MissingTexts(QCoreApplication::instance()));
    auto* t = new QTranslator(QCoreApplication::instance());
    if (t->load(japanese, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QCoreApplication::installTranslator(t);
    } else {
      delete t;
    }
  });
}

}  // namespace vant
