// Message boxes and file dialogs as a user meets them: Japanese standard texts, typed boxes titled
// by their kind and plain ones only where a caller gives a caption, boxes above every other window,
// filters shown once but matched in any case, and file types judged without reading the files.
#include <sys/time.h>
#include <QAbstractFileIconProvider>
#include <QAbstractProxyModel>
#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTextLayout>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <fstream>
#include <functional>

#include "scopedenv.h"
#include "scratchfolder.h"
#include "ui_fixture.h"
#include "ui_form.h"
#include "ui_qt.h"
#include "ui_stdctrls.h"

namespace vant {
namespace {

namespace fs = std::filesystem;

// Runs `inspect` on the toolkit's modal dialog of type T once it is up; `inspect` returns false to
// be asked again on a later turn of the dialog's loop (the dialog is still loading).
template <class T>
void WhenModal(std::function<bool(T&)> inspect) {
  QTimer::singleShot(0, [inspect] {
    auto* d = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!d || !inspect(*d)) WhenModal<T>(inspect);
  });
}

// The toolkit's own dialogs for the length of a test, whatever answerer the fixture installed.
class ToolkitDialogs : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    SetDialogAnswerer(nullptr);
  }
  void TearDown() override {
    SetDialogAnswerer(&dialogs_.answerer);
    UiTest::TearDown();
  }
};

TEST_F(UiTest, TypedMessageBoxesAreTitledByTheirKindInJapanese) {
  const std::pair<TMsgDlgType, const char*> cases[] = {
      {mtWarning, "警告"}, {mtError, "エラー"}, {mtInformation, "情報"}, {mtConfirmation, "確認"}};
  for (const auto& [type, caption] : cases) {
    MessageDlg("text", type, mbOK);
    EXPECT_EQ(dialogs_.answerer.Asked().back().caption, caption) << type;
  }
}

TEST_F(ToolkitDialogs, AMessageBoxSpeaksJapaneseShowsNoCaptionAndStaysOnTop) {
  QString title;
  QStringList buttons;
  bool on_top = false;
  WhenModal<QMessageBox>([&](QMessageBox& box) {
    title = box.windowTitle();
    on_top = box.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    for (QAbstractButton* b : box.buttons()) buttons << b->text();
    box.button(QMessageBox::No)->click();
    return true;
  });
  EXPECT_EQ(GetDialogAnswerer().MessageBox("本文", "", MB_YESNO | MB_ICONQUESTION), IDNO);
  // Blank, yet not empty: the toolkit would show the program's name in an empty title.
  EXPECT_FALSE(title.isEmpty());
  EXPECT_TRUE(title.trimmed().isEmpty());
  EXPECT_TRUE(on_top);
  ASSERT_EQ(buttons.size(), 2);
  EXPECT_TRUE(buttons.join(' ').contains(QString::fromUtf8("はい")))
      << buttons.join(' ').toStdString();
  EXPECT_TRUE(buttons.join(' ').contains(QString::fromUtf8("いいえ")));
}

// The lines of a label as the toolkit lays them out: its own line breaks, then its wrapping.
QStringList ShownLines(QLabel& label) {
  QStringList out;
  for (const QString& paragraph : label.text().split('\n')) {
    QTextLayout layout(paragraph, label.font());
    QTextOption option;
    option.setWrapMode(label.wordWrap() ? QTextOption::WordWrap : QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(label.contentsRect().width());
      // Without the invisible word joiners that hold a line together.
      out << paragraph.mid(line.textStart(), line.textLength()).remove(QChar(0x2060));
    }
    layout.endLayout();
  }
  return out;
}

// Japanese text wraps only where a reader allows it: at a phrase's end, never inside a word, never
// before a small kana or closing punctuation and never after an opening bracket.
TEST_F(ToolkitDialogs, AMessageBoxWrapsJapaneseAtAllowedPlaces) {
  const std::string texts[] = {
      "入力形式が不正なフィールドがあります。修正後、保存操作を行ってください。",
      "添付ファイル識別名の割付ができない可能性があります。保存後に、添付操作を行ってください。",
      "ナレーション原稿 : 1, 連絡表 ：8 が既に添付されています。\n"
      "最大添付数に達しているため、添付を行うことはできません。",
      "ドライブが書き込み禁止または空き容量がないため、上書き保存することはできません。\n"
      "別の保存場所を指定してください。",
  };
  const QString no_start =
      QString::fromUtf8("、。，．）」』ぁぃぅぇぉっゃゅょァィゥェォッャュョー！？");
  const QString no_end = QString::fromUtf8("（「『");
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    QStringList lines;
    WhenModal<QMessageBox>([&](QMessageBox& box) {
      if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) lines = ShownLines(*label);
      box.button(QMessageBox::Ok)->click();
      return true;
    });
    GetDialogAnswerer().MessageBox(text, "", MB_OK | MB_ICONERROR);
    ASSERT_FALSE(lines.isEmpty());
    auto bare = [](QString t) { return t.remove('\n').remove(' ').toStdString(); };
    EXPECT_EQ(bare(lines.join("")), bare(QString::fromStdString(text)));
    for (int i = 0; i < lines.size(); ++i) {
      const QString line = lines[i].trimmed();
      ASSERT_FALSE(line.isEmpty());
      EXPECT_FALSE(no_start.contains(line.front())) << line.toStdString();
      EXPECT_FALSE(no_end.contains(line.back())) << line.toStdString();
      // A line ends at punctuation, a blank or its paragraph's end, never inside a phrase.
      const QString whole = QString::fromStdString(text);
      if (i + 1 < lines.size())
        EXPECT_TRUE(QString::fromUtf8("、。，．！？:：,").contains(line.back()) ||
                    whole.contains(line + " ") || whole.contains(line + "\n"))
            << line.toStdString();
    }
  }
}

TEST_F(UiTest, TheOverwriteQuestionIsTheToolkitsJapaneseOne) {
  testing::ScratchFolder dir("ui-dialogs");
  const fs::path existing = dir.path() / "list.csv";
  std::ofstream(existing) << "x";
  TSaveDialog save(nullptr);
  save.Options = ofOverwritePrompt;
  dialogs_.answerer.AnswerFile(existing.string());
  dialogs_.answerer.AnswerMessage(IDYES);
  ASSERT_TRUE(save.Execute());
  const auto& asked = dialogs_.answerer.Asked();
  ASSERT_EQ(asked.size(), 2u);
  const QString english = "%1 already exists.\nDo you want to replace it?";
  const QString japanese = QCoreApplication::translate("QFileDialog", english.toUtf8());
  EXPECT_NE(japanese, english);
  EXPECT_EQ(asked[1].text, japanese.arg("list.csv").toStdString());
  EXPECT_EQ(asked[1].caption, QCoreApplication::translate("QFileDialog", "Save As").toStdString());
  EXPECT_NE(asked[1].caption, "Save As");
}

// A save dialog never starts in the working folder: a remembered file that is there is kept, a
// place that is gone gives way to its folder, and one gone with its folder, or in a kernel's
// pseudo-file system, to the home folder.
TEST_F(UiTest, ASaveDialogStartsInTheHomeFolderWhenItsPlaceIsGone) {
  testing::ScratchFolder dir("ui-start"), home("ui-home");
  const std::string folder = dir.path().string(), file = (dir.path() / "list.csv").string();
  std::ofstream(file) << "x";
  testing::ScopedEnv home_env("HOME", home.path().string());
  const std::pair<std::string, std::string> cases[] = {
      {folder, folder},
      {file, file},
      {(dir.path() / "gone").string(), folder},
      {(dir.path() / "gone" / "list.csv").string(), home.path().string()},
      {"/proc", home.path().string()},
      {"/proc/self/status", home.path().string()},
      {"", home.path().string()},
  };
  for (const auto& [initial, expected] : cases) {
    TSaveDialog save(nullptr);
    save.InitialDir = initial;
    dialogs_.answerer.AnswerFile("");
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(dialogs_.answerer.Asked().back().file.initial_dir, expected) << initial;
  }
}

TEST_F(ToolkitDialogs, FiltersShowTheirPatternOnceAndMatchAnyCase) {
  testing::ScratchFolder dir("ui-dialogs");
  for (const char* name : {"a.csv", "B.CSV", "c.Csv", "d.txt"}) std::ofstream(dir.path() / name);
  QStringList filters, shown;
  WhenModal<QFileDialog>([&](QFileDialog& d) {
    auto* model = d.findChild<QFileSystemModel*>();
    const QModelIndex root = model->index(QString::fromStdString(dir.path().string()));
    if (model->rowCount(root) < 3) return false;  // still listing the folder
    filters = d.nameFilters();
    for (int i = 0; i < model->rowCount(root); ++i)
      shown << model->index(i, 0, root).data().toString();
    d.reject();
    return true;
  });
  FileDialogRequest r;
  r.initial_dir = dir.path().string();
  r.filter = "CSV files (*.csv)|*.csv|All (*.*)|*.*";
  EXPECT_FALSE(GetDialogAnswerer().FileDialog(r));
  EXPECT_EQ(filters, (QStringList{"CSV files (*.csv)", "All (*.*)"}));
  shown.sort();
  EXPECT_EQ(shown, (QStringList{"B.CSV", "a.csv", "c.Csv"}));
}

// Our own area inside the toolkit's file dialog: hosted in its layout, told of the file under the
// cursor, able to keep the dialog open, and handed back unharmed when the dialog goes.
TEST_F(ToolkitDialogs, AHostedPanelFollowsTheDialogAndMayRefuseAFile) {
  testing::ScratchFolder dir("ui-panel");
  const std::string a = (dir.path() / "a.wav").string(), b = (dir.path() / "b.wav").string();
  std::ofstream(a) << "a";
  std::ofstream(b) << "b";
  struct Panel : FileDialogPanel {
    TPanel area{nullptr};
    std::vector<std::string> log;
    std::string refused;
    TWinControl* DialogCreated() override {
      log.push_back("create");
      area.SetBounds(0, 0, 120, 40);
      return &area;
    }
    void DialogDestroyed() override { log.push_back("destroy"); }
    void SelectionChanged(const std::string& path) override { log.push_back("sel " + path); }
    bool FileOK(const std::string& path) override {
      log.push_back("ok " + path);
      return path != refused;
    }
  } panel;
  panel.refused = a;
  bool hosted = false, stayed_open = false;
  WhenModal<QFileDialog>([&](QFileDialog& d) {
    hosted = d.isAncestorOf(panel.area.Host());
    d.selectFile(QString::fromStdString(a));
    emit d.currentChanged(QString::fromStdString(a));  // as the file list reports the cursor
    QMetaObject::invokeMethod(&d, "accept");
    stayed_open = d.isVisible();
    d.selectFile(QString::fromStdString(b));
    QMetaObject::invokeMethod(&d, "accept");
    return true;
  });
  FileDialogRequest r;
  r.initial_dir = dir.path().string();
  r.panel = &panel;
  ASSERT_TRUE(GetDialogAnswerer().FileDialog(r));
  EXPECT_TRUE(hosted);
  EXPECT_TRUE(stayed_open);
  EXPECT_EQ(r.file_name, b);
  EXPECT_EQ(panel.log.front(), "create");
  EXPECT_NE(std::find(panel.log.begin(), panel.log.end(), "sel " + a), panel.log.end());
  EXPECT_NE(std::find(panel.log.begin(), panel.log.end(), "ok " + a), panel.log.end());
  EXPECT_EQ(panel.log.back(), "destroy");
  EXPECT_EQ(panel.area.Host()->parent(), nullptr) << "the dialog gave the area back";
}

// A file's type is told by its name: the content of a file named without an extension is never
// read, so a file of a pseudo-file system or a FIFO cannot hold the dialog.
TEST_F(UiTest, FileDialogsNeverReadAFileToTellItsType) {
  testing::ScratchFolder dir("ui-dialogs");
  std::ofstream(dir.path() / "noext") << "%PDF-1.4\n%%EOF\n";
  std::ofstream(dir.path() / "real.pdf") << "%PDF-1.4\n%%EOF\n";
  QFileDialog d;
  ConfigureFileDialog(d);
  ASSERT_NE(d.iconProvider(), nullptr);
  const QString pdf =
      d.iconProvider()->type(QFileInfo(QString::fromStdString((dir.path() / "real.pdf").string())));
  const QString noext =
      d.iconProvider()->type(QFileInfo(QString::fromStdString((dir.path() / "noext").string())));
  EXPECT_NE(noext, pdf);
}

// A file dialog opens over the program's window, centred on it, not wherever the screen's middle
// lies: a window that is not centred on the screen keeps the controls at its top in view.
TEST_F(ToolkitDialogs, AFileDialogIsCentredOverTheProgramsWindow) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 900, 700);
  form.Show();
  form.Host()->activateWindow();
  Application->ProcessMessages();
  const QRect window = form.Host()->frameGeometry();
  QRect shown;
  QWidget* parent = nullptr;
  WhenModal<QFileDialog>([&](QFileDialog& d) {
    if (!d.isVisible()) return false;
    shown = d.frameGeometry();
    parent = d.parentWidget();
    d.reject();
    return true;
  });
  FileDialogRequest r;
  EXPECT_FALSE(GetDialogAnswerer().FileDialog(r));
  EXPECT_EQ(parent, form.Host());
  EXPECT_LE((shown.center() - window.center()).manhattanLength(), 4)
      << shown.center().x() << "," << shown.center().y() << " over " << window.center().x() << ","
      << window.center().y();
  form.Hide();
}

// Qt's warnings while a test runs, caught by its message handler.
class QtWarnings {
 public:
  QtWarnings() { previous_ = qInstallMessageHandler(&QtWarnings::Catch); }
  ~QtWarnings() { qInstallMessageHandler(previous_); }
  static QStringList& Caught() {
    static QStringList caught;
    return caught;
  }

 private:
  static void Catch(QtMsgType, const QMessageLogContext&, const QString& text) { Caught() << text; }
  QtMessageHandler previous_ = nullptr;
};

// Every picture of the file dialog is there, also without an icon theme on the desktop: nothing
// asks the toolkit to scale a picture that does not exist.
TEST_F(ToolkitDialogs, FileDialogPicturesExistWithoutAnIconTheme) {
  testing::ScratchFolder dir("ui-dialogs");
  std::ofstream(dir.path() / "a.wav") << "x";
  fs::create_directory(dir.path() / "sub");
  QtWarnings warnings;
  QtWarnings::Caught().clear();
  {
    QFileDialog d(nullptr, "t", QString::fromStdString(dir.path().string()));
    ConfigureFileDialog(d);
    ASSERT_NE(d.iconProvider(), nullptr);
    for (auto type : {QAbstractFileIconProvider::Folder, QAbstractFileIconProvider::File,
                      QAbstractFileIconProvider::Computer, QAbstractFileIconProvider::Drive}) {
      EXPECT_FALSE(d.iconProvider()->icon(type).isNull()) << type;
    }
    d.show();
    Application->ProcessMessages();
    d.hide();
  }
  for (const QString& w : QtWarnings::Caught())
    EXPECT_FALSE(w.contains("null pixmap")) << w.toStdString();
}

// The file dialog speaks Japanese in its columns too, whatever the desktop's language: the type
// of a folder and of a file (the shared MIME database's Japanese comment), dates in the Japanese
// order; and each column is wide enough for what it shows.
TEST_F(ToolkitDialogs, FileDialogColumnsAreJapaneseAndFitTheirContents) {
  testing::ScratchFolder dir("ui-dialogs");
  const fs::path wav = dir.path() / "a.wav";
  std::ofstream(wav, std::ios::binary) << std::string(479232, 'x');  // 468 KiB
  fs::create_directory(dir.path() / "sub");
  const QDateTime when(QDate(2024, 3, 5), QTime(14, 7));
  struct timeval times[2] = {{when.toSecsSinceEpoch(), 0}, {when.toSecsSinceEpoch(), 0}};
  ASSERT_EQ(utimes(wav.c_str(), times), 0);

  const QString folder = QString::fromStdString(dir.path().string());
  QFileDialog d(nullptr, "t", folder);
  ConfigureFileDialog(d);
  d.setViewMode(QFileDialog::Detail);
  d.resize(640, 400);
  auto* model = d.findChild<QFileSystemModel*>();
  auto* view = d.findChild<QTreeView*>("treeView");
  ASSERT_NE(model, nullptr);
  ASSERT_NE(view, nullptr);
  QEventLoop loop;
  QObject::connect(model, &QFileSystemModel::directoryLoaded, &loop, &QEventLoop::quit);
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);  // bound
  d.show();
  loop.exec();
  Application->ProcessMessages();
  const QModelIndex file = model->index(QString::fromStdString(wav.string()));
  const QModelIndex sub = model->index(QString::fromStdString((dir.path() / "sub").string()));
  ASSERT_TRUE(file.isValid());
  // What the view shows, through the dialog's own layer over the files, if any.
  auto shown = [&](const QModelIndex& i) {
    return d.proxyModel() ? d.proxyModel()->mapFromSource(i) : i;
  };
  auto text = [&](const QModelIndex& i, int column) {
    return view->model()->data(shown(i).siblingAtColumn(column)).toString().toStdString();
  };
  EXPECT_EQ(text(file, 2), "WAV オーディオ");
  EXPECT_NE(text(sub, 2), "Folder");
  EXPECT_TRUE(QString::fromStdString(text(sub, 2)).contains(QChar(0x30D5)))  // フ
      << text(sub, 2);
  EXPECT_EQ(text(file, 3).substr(0, 16), "2024/03/05 14:07") << text(file, 3);
  // What each line needs to be shown whole, as the view's own delegate measures it.
  QStyleOptionViewItem option;
  option.initFrom(view->viewport());
  option.font = view->font();
  option.fontMetrics = view->fontMetrics();
  for (int column = 1; column <= 3; ++column) {
    for (const QModelIndex& row : {file, sub}) {
      const QModelIndex at = shown(row).siblingAtColumn(column);
      ASSERT_TRUE(at.isValid());
      EXPECT_GE(view->columnWidth(column), view->itemDelegate()->sizeHint(option, at).width())
          << column << " " << text(row, column);
    }
    EXPECT_GE(view->columnWidth(column), view->header()->sectionSizeHint(column)) << column;
  }
  d.hide();
}

}  // namespace
}  // namespace vant
