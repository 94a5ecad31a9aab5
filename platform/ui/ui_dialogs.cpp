#include "ui_dialogs.h"

#include <sys/statfs.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "ui_application.h"
#include "ui_form.h"
#include "ui_qt.h"

namespace vant {

namespace {

// The file dialog's own texts, in the language of the toolkit's installed translations.
QString Tr(const char* text) { return QCoreApplication::translate("QFileDialog", text); }

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// File types by name only: the toolkit's own guess opens a file to read its first bytes, which
// blocks for ever on some files of pseudo-file systems, devices and FIFOs. The pictures come from
// the widget style when the desktop has no icon theme (the bare provider then has none at all).
class NameOnlyIconProvider : public QFileIconProvider {
 public:
  using QFileIconProvider::icon;
  QIcon icon(const QFileInfo& info) const override {
    if (info.isDir()) return QFileIconProvider::icon(Folder);
    return QFileIconProvider::icon(File);
  }
  QString type(const QFileInfo& info) const override {
    if (info.isDir()) return QAbstractFileIconProvider::type(info);  // never reads a folder
    if (!info.isFile()) return QCoreApplication::translate("QFileDialog", "File");
    return db_.mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
  }

 private:
  QMimeDatabase db_;
};

// The window a file dialog opens over, centred on it: the active one, else the program's main
// window while it is shown (a window just shown may not be active yet). The screen's middle can
// lie over the controls of a window that is not centred on it.
QWidget* DialogOwner() {
  QWidget* owner = QApplication::activeWindow();
  TForm* main_form = Application ? Application->MainForm() : nullptr;
  if (!owner && main_form && main_form->Host() && main_form->Host()->isVisible())
    owner = main_form->Host();
  // A window the desktop has not put in its place yet would centre the dialog over where it was
  // asked to be, not where it is: its first showing is awaited, for a bounded time.
  QWindow* window = owner ? owner->windowHandle() : nullptr;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (window && !window->isExposed() && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  return owner;
}

// The file dialog's columns as the toolkit's language writes them: its model formats sizes and
// dates in the desktop's language.
class LocalFormats : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role) const override {
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || !index.isValid())
      return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    switch (index.column()) {
      case 1:
        if (files->isDir(source)) break;
        return QLocale().formattedDataSize(files->size(source));
      case 3:
        return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
    }
    return QIdentityProxyModel::data(index, role);
  }
};

// The toolkit's file dialog with the caller's own area in its layout. The area's widget is lent:
// it is taken out again before the dialog goes, so the dialog never deletes it.
class PanelFileDialog : public QFileDialog {
 public:
  PanelFileDialog(FileDialogPanel* panel, const QString& title, const QString& dir)
      : QFileDialog(DialogOwner(), title, dir), panel_(panel) {}
  ~PanelFileDialog() override { ReleasePanel(); }

  void HostPanel() {
    if (!panel_) return;
    TWinControl* c = nullptr;
    Guarded([&] { c = panel_->DialogCreated(); });
    hosted_ = c ? c->Host() : nullptr;
    if (auto* grid = qobject_cast<QGridLayout*>(layout()); grid && hosted_) {
      if (panel_->Beside())
        grid->addWidget(hosted_, 0, grid->columnCount(), grid->rowCount(), 1);
      else
        grid->addWidget(hosted_, grid->rowCount(), 0, 1, grid->columnCount());
      hosted_->show();
    }
    connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) {
      if (panel_) Guarded([&] { panel_->SelectionChanged(path.toStdString()); });
    });
  }

  void ReleasePanel() {
    if (!panel_) return;
    if (hosted_) {
      layout()->removeWidget(hosted_);
      hosted_->hide();
      hosted_->setParent(nullptr);
      hosted_ = nullptr;
    }
    Guarded([&] { panel_->DialogDestroyed(); });
    panel_ = nullptr;
  }

  void accept() override {
    if (panel_) {
      const QStringList files = selectedFiles();
      for (const auto& f : files) {
        bool ok = false;
        Guarded([&] { ok = panel_->FileOK(f.toStdString()); });
        if (!ok) return;  // the dialog stays open
      }
    }
    QFileDialog::accept();
  }

 private:
  FileDialogPanel* panel_;
  QWidget* hosted_ = nullptr;
};

// Where Japanese text may be broken for a message box. The toolkit's wrapping breaks between any
// two ideographs and kana, so "ください" can end up split in two; a reader expects breaks after
// punctuation, and never before a small kana or a closing mark nor after an opening one.
bool EndsPhrase(QChar c) { return QStringLiteral("、。，．！？!?,;；:：・ 　").contains(c); }
bool NeverStartsLine(QChar c) {
  return QStringLiteral(
             "、。，．）」』】〕＞》’”!?"
             "！？ー～ゝゞヽヾぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ・：；:;,.)]}")
      .contains(c);
}
bool NeverEndsLine(QChar c) { return QStringLiteral("（「『【〔＜《‘“([{").contains(c); }

// The phrases of a paragraph: runs that end after punctuation (with any closing marks after it).
QStringList Phrases(const QString& paragraph) {
  QStringList out;
  QString current;
  for (int i = 0; i < paragraph.size(); ++i) {
    current += paragraph[i];
    const bool next_closes = i + 1 < paragraph.size() && NeverStartsLine(paragraph[i + 1]);
    if (EndsPhrase(paragraph[i]) && !next_closes) {
      out << current;
      current.clear();
    }
  }
  if (!current.isEmpty()) out << current;
  return out;
}

// A phrase wider than a line is cut between characters, but not where the rules above forbid.
QStringList CutPhrase(const QString& phrase, const QFontMetrics& fm, int width) {
  QStringList out;
  QString line;
  for (int i = 0; i < phrase.size(); ++i) {
    const QChar c = phrase[i];
    if (!line.isEmpty() && fm.horizontalAdvance(line + c) > width && !NeverStartsLine(c) &&
        !NeverEndsLine(line.back())) {
      out << line;
      line.clear();
    }
    line += c;
  }
  if (!line.isEmpty()) out << line;
  return out;
}

// The text with line breaks of its own, each line at most `width` wide where the rules allow.
QString BreakForBox(const QString& text, const QFontMetrics& fm, int width) {
  QStringList lines;
  for (const QString& paragraph : text.split('\n')) {
    QString line;
    for (const QString& phrase : Phrases(paragraph)) {
      if (fm.horizontalAdvance(line + phrase) <= width) {
        line += phrase;
        continue;
      }
      if (!line.isEmpty()) lines << line;
      line.clear();
      if (fm.horizontalAdvance(phrase) <= width) {
        line = phrase;
        continue;
      }
      QStringList cut = CutPhrase(phrase, fm, width);
      line = cut.takeLast();
      lines << cut;
    }
    lines << line;
  }
  // Word joiners between the characters of a line keep the toolkit from breaking it again where
  // its box is narrower than the line (on a small screen): the box grows to the line instead.
  for (QString& l : lines) {
    while (l.size() > 1 && l.back().isSpace()) l.chop(1);
    QString joined;
    for (int i = 0; i < l.size(); ++i) {
      if (i > 0 && !l[i].isLowSurrogate()) joined += QChar(0x2060);
      joined += l[i];
    }
    l = joined;
  }
  return lines.join('\n');
}

class ToolkitAnswerer : public DialogAnswerer {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    QMessageBox box;
    // Lines as wide as the toolkit makes a box without wrapping, half the screen up to 500 pixels
    // less its icon and margins; on a small screen still wide enough for a phrase or two.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screen_width = screen ? screen->availableGeometry().width() : 1024;
    const int line_width = std::max(320, std::min(screen_width / 2, 500) - 100);
    box.setText(BreakForBox(QString::fromStdString(text), QFontMetrics(box.font()), line_width));
    // A box without a caption shows none: the toolkit would put the program's name in an empty
    // title.
    box.setWindowTitle(caption.empty() ? QStringLiteral(" ") : QString::fromStdString(caption));
    // Above every other window of the program, the stay-on-top progress window included.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    switch (flags & 0xF0) {
      case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
      case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
      case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
      case MB_ICONASTERISK:
        box.setIcon(QMessageBox::Information);
        break;
      default:
        break;
    }
    struct B {
      QMessageBox::StandardButton b;
      int id;
    };
    std::vector<B> buttons;
    switch (flags & 0xF) {
      case MB_OKCANCEL:
        buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        break;
      case MB_ABORTRETRYIGNORE:
        buttons = {{QMessageBox::Abort, IDABORT},
                   {QMessageBox::Retry, IDRETRY},
                   {QMessageBox::Ignore, IDIGNORE}};
        break;
      case MB_YESNOCANCEL:
        buttons = {
            {QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
      case MB_YESNO:
        buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        break;
      case MB_RETRYCANCEL:
        buttons = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
        break;
      default:
        buttons = {{QMessageBox::Ok, IDOK}};
        break;
    }
    for (auto& b : buttons) box.addButton(b.b);
    size_t def = (flags & MB_DEFBUTTON2) && buttons.size() > 1 ? 1 : 0;
    box.setDefaultButton(buttons[def].b);
    int r = box.exec();
    for (auto& b : buttons)
      if (r == b.b) return b.id;
    return (flags & 0xF) == MB_YESNO ? IDNO : IDCANCEL;
  }

  bool FileDialog(FileDialogRequest& r) override {
    PanelFileDialog d(r.panel, QString::fromStdString(r.title),
                      QString::fromStdString(r.initial_dir));
    ConfigureFileDialog(d);
    d.setOption(QFileDialog::DontConfirmOverwrite);  // asked by the caller, through the answerer
    d.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setFileMode(r.save           ? QFileDialog::AnyFile
                  : r.multi_select ? QFileDialog::ExistingFiles
                                   : QFileDialog::ExistingFile);
    QStringList filters;
    for (auto& [desc, pats] : ParseFilter(r.filter)) {
      // The pattern shown once, as the description gives it; the dialog matches it in any case.
      QString shown = QString::fromStdString(desc);
      if (!shown.endsWith(')') || !shown.contains('(')) {
        QStringList qp;
        for (auto& p : pats) qp << QString::fromStdString(p);
        shown += " (" + qp.join(' ') + ")";
      }
      filters << shown;
    }
    if (!filters.isEmpty()) {
      d.setNameFilters(filters);
      int i = std::clamp(r.filter_index, 1, int(filters.size())) - 1;
      d.selectNameFilter(filters[i]);
    }
    if (!r.file_name.empty()) d.selectFile(QString::fromStdString(r.file_name));
    d.HostPanel();
    const bool accepted = d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty();
    d.ReleasePanel();
    if (!accepted) return false;
    r.files.clear();
    for (const auto& f : d.selectedFiles()) r.files.push_back(f.toStdString());
    r.file_name = r.files.front();
    r.filter_index = int(filters.indexOf(d.selectedNameFilter())) + 1;
    if (r.filter_index < 1) r.filter_index = 1;
    return true;
  }

  bool SelectFolder(const std::string& caption, const std::string& root,
                    std::string& dir) override {
    QFileDialog d(DialogOwner(), QString::fromStdString(caption),
                  QString::fromStdString(dir.empty() ? root : dir));
    ConfigureFileDialog(d);
    d.setFileMode(QFileDialog::Directory);
    d.setOption(QFileDialog::ShowDirsOnly);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return false;
    dir = d.selectedFiles().front().toStdString();
    return true;
  }
};

DialogAnswerer* g_answerer = nullptr;

// Whether `dir` is a folder of an ordinary file system (not a kernel's pseudo-file system). A
// read-only one counts: the caller tells the user why it cannot take the file.
bool IsOrdinaryFolder(const std::string& dir) {
  struct statfs fs;
  std::error_code ec;
  if (dir.empty() || !std::filesystem::is_directory(dir, ec) || ::statfs(dir.c_str(), &fs) != 0) {
    return false;
  }
  static constexpr unsigned long kPseudo[] = {
      0x9fa0,      // proc
      0x62656572,  // sysfs
      0x1cd1,      // devpts
      0x27e0eb,    // cgroup
      0x63677270,  // cgroup2
      0x64626720,  // debugfs
      0x74726163,  // tracefs
      0x73636673,  // securityfs
      0xcafe4a11,  // bpf
      0x62656570,  // configfs
      0x65735543,  // fusectl
      0x6165676c,  // pstore
      0xde5e81e4,  // efivarfs
      0x42494e4d,  // binfmt_misc
      0x19800202,  // mqueue
      0xf97cff8c,  // selinuxfs
  };
  const auto type = static_cast<unsigned long>(fs.f_type);
  return std::find(std::begin(kPseudo), std::end(kPseudo), type) == std::end(kPseudo);
}

// Where a save dialog given `place` starts (see TOpenDialog::Execute).
std::string SaveStart(const std::string& place) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (IsOrdinaryFolder(place)) return place;
  const std::string folder = fs::path(place).parent_path().string();
  const bool file = fs::is_regular_file(place, ec), gone = !file && !fs::exists(place, ec);
  if ((file || gone) && IsOrdinaryFolder(folder)) return file ? place : folder;
  const char* home = std::getenv("HOME");
  return home && IsOrdinaryFolder(home) ? home : std::string();
}

}  // namespace

void ConfigureFileDialog(QFileDialog& d) {
  d.setOption(QFileDialog::DontUseNativeDialog);
  static NameOnlyIconProvider provider;
  d.setIconProvider(&provider);
  // Names match the filters in any letter case.
  d.setFilter(d.filter() & ~QDir::CaseSensitive);
  d.setProxyModel(new LocalFormats(&d));
  // The columns fit what they show, in each folder the dialog loads.
  auto* model = d.findChild<QFileSystemModel*>();
  auto* view = d.findChild<QTreeView*>("treeView");
  if (model && view) {
    QObject::connect(model, &QFileSystemModel::directoryLoaded, view, [view] {
      for (int column = 0; column < view->header()->count(); ++column)
        view->resizeColumnToContents(column);
    });
  }
}

DialogAnswerer& GetDialogAnswerer() {
  static ToolkitAnswerer toolkit;
  return g_answerer ? *g_answerer : toolkit;
}

void SetDialogAnswerer(DialogAnswerer* a) { g_answerer = a; }

int ScriptedAnswerer::MessageBox(const std::string& text, const std::string& caption,
                                 unsigned flags) {
  asked_.push_back({Question::kMessage, text, caption, flags, {}});
  if (messages_.empty()) return IDCANCEL;
  int id = messages_.front();
  messages_.pop_front();
  return id;
}

FileDialogSession::FileDialogSession(FileDialogRequest& r) : r_(r) {
  if (r_.panel) hosted_ = r_.panel->DialogCreated();
}

FileDialogSession::~FileDialogSession() {
  if (r_.panel) Guarded([&] { r_.panel->DialogDestroyed(); });
}

void FileDialogSession::Select(const std::string& path) {
  if (r_.panel) r_.panel->SelectionChanged(path);
}

bool FileDialogSession::Accept(const std::vector<std::string>& paths) {
  if (paths.empty()) return false;
  if (r_.panel)
    for (const auto& p : paths)
      if (!r_.panel->FileOK(p)) return false;
  r_.file_name = paths.front();
  r_.files = paths;
  return true;
}

void ScriptedAnswerer::AnswerFile(const std::string& path) {
  AnswerFileWith([path](FileDialogSession& s) {
    if (path.empty()) return false;
    s.Select(path);
    return s.Accept({path});
  });
}

bool ScriptedAnswerer::FileDialog(FileDialogRequest& r) {
  asked_.push_back({Question::kFile, r.title, "", 0, r});
  if (files_.empty()) return false;
  auto script = std::move(files_.front());
  files_.pop_front();
  FileDialogSession session(r);
  return script(session);
}

bool ScriptedAnswerer::SelectFolder(const std::string& caption, const std::string& root,
                                    std::string& dir) {
  FileDialogRequest r;
  r.initial_dir = dir.empty() ? root : dir;
  asked_.push_back({Question::kFolder, caption, "", 0, r});
  if (folders_.empty()) return false;
  std::string d = folders_.front();
  folders_.pop_front();
  if (d.empty()) return false;
  dir = d;
  return true;
}

std::vector<std::pair<std::string, std::vector<std::string>>> ParseFilter(const std::string& f) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= f.size()) {
    size_t bar = f.find('|', start);
    if (bar == std::string::npos) bar = f.size();
    parts.push_back(f.substr(start, bar - start));
    start = bar + 1;
  }
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::vector<std::string> pats;
    size_t s = 0;
    const std::string& p = parts[i + 1];
    while (s <= p.size()) {
      size_t semi = p.find(';', s);
      if (semi == std::string::npos) semi = p.size();
      std::string one = Trim(p.substr(s, semi - s));
      if (!one.empty()) pats.push_back(one);
      s = semi + 1;
    }
    out.emplace_back(parts[i], std::move(pats));
  }
  return out;
}

static bool WildMatch(const char* p, const char* s) {
  for (; *p; ++p) {
    if (*p == '*') {
      while (p[1] == '*') ++p;
      if (!p[1]) return true;
      for (const char* t = s; *t; ++t)
        if (WildMatch(p + 1, t)) return true;
      return WildMatch(p + 1, s + std::strlen(s));
    }
    if (!*s) return false;
    if (*p != '?' && std::tolower(static_cast<unsigned char>(*p)) !=
                         std::tolower(static_cast<unsigned char>(*s)))
      return false;
    ++s;
  }
  return *s == 0;
}

bool MatchesFilter(const std::string& name, const std::vector<std::string>& patterns) {
  for (const auto& p : patterns) {
    // "*.*" matches names without a dot too, as the framework's dialogs do.
    if (p == "*.*" || p == "*") return true;
    if (WildMatch(p.c_str(), name.c_str())) return true;
  }
  return false;
}

bool TOpenDialog::Execute() {
  FileDialogRequest r;
  r.save = save_;
  r.title = Title;
  r.initial_dir = InitialDir;
  r.file_name = FileName;
  r.filter = Filter;
  r.filter_index = FilterIndex;
  r.default_ext = DefaultExt;
  // A save dialog starts in a folder of an ordinary file system, never in the working folder the
  // toolkit would take: a remembered file that is there is kept (the dialog starts beside
  // it), a place that is gone gives way to its folder, and one gone with its folder, or on a
  // kernel's pseudo-file system, to the home folder.
  if (save_) r.initial_dir = SaveStart(r.initial_dir);
  for (;;) {
    FileDialogRequest q = r;
    if (!GetDialogAnswerer().FileDialog(q)) return false;
    std::filesystem::path p(q.file_name);
    if (!DefaultExt.empty() && !p.has_extension()) p += "." + DefaultExt;
    if (save_ && (Options & ofOverwritePrompt) && std::filesystem::exists(p)) {
      const std::string text = Tr("%1 already exists.\nDo you want to replace it?")
                                   .arg(QString::fromStdString(p.filename().string()))
                                   .toStdString();
      if (GetDialogAnswerer().MessageBox(text, Title.empty() ? Tr("Save As").toStdString() : Title,
                                         MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        r.file_name = p.string();
        continue;
      }
    }
    if (!save_ && (Options & ofFileMustExist) && !std::filesystem::exists(p)) {
      GetDialogAnswerer().MessageBox(
          Tr("%1\nFile not found.\nPlease verify the correct file name was given.")
              .arg(QString::fromStdString(p.filename().string()))
              .toStdString(),
          Title.empty() ? Tr("Open").toStdString() : Title, MB_OK | MB_ICONEXCLAMATION);
      r.file_name = p.string();
      continue;
    }
    FileName = p.string();
    FilterIndex = q.filter_index;
    return true;
  }
}

bool SelectDirectory(const std::string& caption, const std::string& root, std::string& dir) {
  return GetDialogAnswerer().SelectFolder(caption, root, dir);
}

int MessageDlg(const std::string& msg, TMsgDlgType type, unsigned buttons) {
  unsigned flags = MB_OK;
  if ((buttons & (mbYes | mbNo | mbCancel)) == (mbYes | mbNo | mbCancel))
    flags = MB_YESNOCANCEL;
  else if ((buttons & (mbYes | mbNo)) == (mbYes | mbNo))
    flags = MB_YESNO;
  else if ((buttons & (mbAbort | mbRetry | mbIgnore)) == (mbAbort | mbRetry | mbIgnore))
    flags = MB_ABORTRETRYIGNORE;
  else if ((buttons & (mbRetry | mbCancel)) == (mbRetry | mbCancel))
    flags = MB_RETRYCANCEL;
  else if ((buttons & (mbOK | mbCancel)) == (mbOK | mbCancel))
    flags = MB_OKCANCEL;
  static const unsigned icons[] = {MB_ICONWARNING, MB_ICONERROR, MB_ICONINFORMATION,
                                   MB_ICONQUESTION, 0};
  // The typed boxes are titled by their kind, as the framework's Japanese edition names them.
  static const char* const kinds[] = {"警告", "エラー", "情報", "確認"};
  std::string caption = type == mtCustom ? Application->GetTitle() : std::string(kinds[type]);
  return GetDialogAnswerer().MessageBox(msg, caption, flags | icons[type]);
}

void ShowMessage(const std::string& msg) {
  GetDialogAnswerer().MessageBox(msg, Application->GetTitle(), MB_OK);
}

}  // namespace vant
