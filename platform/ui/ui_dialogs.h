#pragma once
// Message boxes and the file and folder dialogs. Every question goes through one answerer: the
// toolkit's dialogs in the programs, a ScriptedAnswerer in tests.
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui_application.h"
#include "ui_component.h"

namespace vant {

class TWinControl;

// An area of the caller's own controls that a file dialog hosts beside its standard controls,
// and the dialog's events that area follows. Every call comes on the GUI thread.
class FileDialogPanel {
 public:
  virtual ~FileDialogPanel() = default;
  // The dialog window is up: answers the control to host (not owned; nullptr for none).
  virtual TWinControl* DialogCreated() = 0;
  // The dialog window is going; the hosted control has been taken out of it.
  virtual void DialogDestroyed() {}
  // The file under the cursor changed: its full path, empty for none.
  virtual void SelectionChanged(const std::string& /*path*/) {}
  // A chosen file is about to be accepted; false keeps the dialog open.
  virtual bool FileOK(const std::string& /*path*/) { return true; }
  // Whether the area stands right of the standard controls (else below them).
  virtual bool Beside() const { return false; }
};

struct FileDialogRequest {
  bool save = false;
  std::string title;
  std::string initial_dir;
  std::string file_name;             // in: proposed name; out: the chosen path
  std::string filter;                // "description|pattern;pattern|description|pattern"
  int filter_index = 1;              // 1-based, in and out
  std::string default_ext;           // without the dot
  bool multi_select = false;         // several existing files may be chosen
  std::vector<std::string> files;    // out: every chosen path (file_name is the first)
  FileDialogPanel* panel = nullptr;  // our own area in the dialog, or none
};

// A file dialog while it is open, as a test script drives it: what a person does in it reaches
// the request's panel exactly as it would from the toolkit's dialog.
class FileDialogSession {
 public:
  // Brings the dialog window up (the panel's DialogCreated).
  explicit FileDialogSession(FileDialogRequest& r);
  // Takes the window down (the panel's DialogDestroyed).
  ~FileDialogSession();
  FileDialogSession(const FileDialogSession&) = delete;
  FileDialogSession& operator=(const FileDialogSession&) = delete;
  // The hosted control, or nullptr.
  TWinControl* Panel() const { return hosted_; }
  // The cursor moves onto `path` (empty: onto nothing).
  void Select(const std::string& path);
  // The person presses OK with `paths` chosen: true when every one was accepted, and the request
  // then holds them; false when one was refused (the dialog stays open).
  bool Accept(const std::vector<std::string>& paths);

 private:
  FileDialogRequest& r_;
  TWinControl* hosted_ = nullptr;
};

class DialogAnswerer {
 public:
  virtual ~DialogAnswerer() = default;
  // Answers IDOK, IDCANCEL, IDYES, IDNO, ...
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // True with r.file_name set when a file was chosen.
  virtual bool FileDialog(FileDialogRequest& r) = 0;
  // True with `dir` set when a folder was chosen.
  virtual bool SelectFolder(const std::string& caption, const std::string& root,
                            std::string& dir) = 0;
};

// The answerer in force: the toolkit's dialogs unless one was installed.
DialogAnswerer& GetDialogAnswerer();
// Installs `a` (not owned); nullptr restores the toolkit's dialogs.
void SetDialogAnswerer(DialogAnswerer* a);

// Answers from a script and records every question, for tests. Questions beyond the script are
// recorded and answered IDCANCEL (or cancelled).
class ScriptedAnswerer : public DialogAnswerer {
 public:
  struct Question {
    enum Kind { kMessage, kFile, kFolder } kind;
    std::string text;     // message text, dialog title or folder caption
    std::string caption;  // message box caption
    unsigned flags = 0;
    FileDialogRequest file;
  };
  void AnswerMessage(int id) { messages_.push_back(id); }
  // A path to choose (selected, then accepted); an empty string cancels.
  void AnswerFile(const std::string& path);
  // A script that acts in the open dialog and answers whether the dialog was accepted.
  void AnswerFileWith(std::function<bool(FileDialogSession&)> script) {
    files_.push_back(std::move(script));
  }
  void AnswerFolder(const std::string& dir) { folders_.push_back(dir); }
  const std::vector<Question>& Asked() const { return asked_; }
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  bool FileDialog(FileDialogRequest& r) override;
  bool SelectFolder(const std::string& caption, const std::string& root, std::string& dir) override;

 private:
  std::deque<int> messages_;
  std::deque<std::function<bool(FileDialogSession&)>> files_;
  std::deque<std::string> folders_;
  std::vector<Question> asked_;
};

// Installs a ScriptedAnswerer for the lifetime of a test scope.
class ScopedAnswerer {
 public:
  ScopedAnswerer() { SetDialogAnswerer(&answerer); }
  ~ScopedAnswerer() { SetDialogAnswerer(nullptr); }
  ScriptedAnswerer answerer;
};

// "description|patterns|..." split into (description, patterns) pairs.
std::vector<std::pair<std::string, std::vector<std::string>>> ParseFilter(const std::string& f);
// Whether the file name matches one of the wildcard patterns, without regard to case.
bool MatchesFilter(const std::string& name, const std::vector<std::string>& patterns);

enum TOpenOption : unsigned {
  ofReadOnly = 1,
  ofOverwritePrompt = 2,
  ofHideReadOnly = 4,
  ofNoChangeDir = 8,
  ofPathMustExist = 0x800,
  ofFileMustExist = 0x1000,
  ofCreatePrompt = 0x2000
};

class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* owner) : TComponent(owner) {}
  std::string ClassName() const override { return "TOpenDialog"; }
  // Asks for a file. A save with ofOverwritePrompt asks before replacing an existing file (No
  // asks for another file); a name without extension gets DefaultExt.
  virtual bool Execute();
  std::string Filter, DefaultExt, InitialDir, FileName, Title;
  int FilterIndex = 1;
  unsigned Options = ofHideReadOnly;

 protected:
  bool save_ = false;
};

class TSaveDialog : public TOpenDialog {
 public:
  explicit TSaveDialog(TComponent* owner) : TOpenDialog(owner) { save_ = true; }
  std::string ClassName() const override { return "TSaveDialog"; }
};

// The folder browser: true with `dir` set to the chosen folder.
bool SelectDirectory(const std::string& caption, const std::string& root, std::string& dir);

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum : unsigned {
  mbYes = 1,
  mbNo = 2,
  mbOK = 4,
  mbCancel = 8,
  mbAbort = 16,
  mbRetry = 32,
  mbIgnore = 64
};
// Answers the mr value of the button chosen.
int MessageDlg(const std::string& msg, TMsgDlgType type, unsigned buttons);
void ShowMessage(const std::string& msg);

}  // namespace vant
