#pragma once
// The application object (message loop, exception handler, forms, title) and the screen (pixels
// per inch, cursors). Both are reached through `Application` and `Screen`, created on first use.
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui_component.h"
#include "ui_messagewindow.h"
#include "ui_types.h"

namespace vant {

class TForm;

// Runs `fn`, handing any exception to the application's exception handler. Every entry from the
// toolkit into our code goes through it.
void Guarded(const std::function<void()>& fn) noexcept;

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;
  std::string ClassName() const override { return "TApplication"; }

  // Creates the toolkit's application, pins 96 dpi, installs the font substitutes and the
  // GUI-thread dispatcher. Safe to call more than once.
  void Initialize();
  // Creates a form owned by the application; the first one becomes the main form.
  template <class T>
  void CreateForm(T*& ref) {
    Initialize();
    ref = new T(this);
    FormCreated(ref);
  }
  void FormCreated(TForm* f);
  // Shows the main form and runs the message loop until Terminate or the main form closes.
  void Run();
  // Handles what is pending: toolkit events, posted work and due timers (GUI thread).
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return terminated_; }
  TForm* MainForm() const { return main_form_; }
  void SetMainForm(TForm* f) { main_form_ = f; }
  bool GetShowMainForm() const { return show_main_form_; }
  void SetShowMainForm(bool v) { show_main_form_ = v; }
  const std::string& GetTitle() const { return title_; }
  // The program's title; the desktop also names every window without a caption of its own by
  // it (the splash), those already shown included.
  void SetTitle(const std::string& t);
  std::string ExeName() const;

  // Shows the exception: OnException when assigned, else a message box with its text.
  void HandleException(const std::exception& e) noexcept;
  void ShowException(const std::exception& e);
  std::function<void(TObject* Sender, const std::exception& E)> OnException;

  // Hides the hint window when one shows.
  void CancelHint();

  // A message box of the framework's kinds (MB_ flags), answered through the dialog answerer.
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

 private:
  bool initialized_ = false;
  bool terminated_ = false;
  bool show_main_form_ = true;
  TForm* main_form_ = nullptr;
  std::string title_;
};

// Cursor shapes drawn by the toolkit that numbered cursors may map to.
enum class CursorShape {
  Arrow,
  Cross,
  IBeam,
  Wait,
  SizeAll,
  SizeNS,
  SizeWE,
  SizeNESW,
  SizeNWSE,
  UpArrow,
  Hand,
  Forbidden,
  Drag,
  SplitH,
  SplitV,
  Help,
  Blank
};

class TScreen {
 public:
  // Layouts are designed at 96 dpi and the device-pixel ratio is pinned to 1.
  int PixelsPerInch() const { return 96; }
  int Width() const;
  int Height() const;
  // The application-wide cursor (crDefault: each control's own). crHourGlass is the busy cursor.
  TCursor GetCursor() const { return cursor_; }
  void SetCursor(TCursor c);
  // Numbered cursors beyond the built-in ones (the library's 2001..2031): a shape, or a
  // 32 x 32 picture given as 0xAARRGGBB pixels with its hot spot.
  void RegisterCursor(TCursor id, CursorShape shape);
  void RegisterCursorImage(TCursor id, const std::vector<uint32_t>& argb32x32, int hot_x,
                           int hot_y);
  bool HasCursor(TCursor id) const;
  const std::vector<TForm*>& Forms() const { return forms_; }
  TForm* ActiveForm() const;

  // For the framework's own use.
  void AddForm(TForm* f);
  void RemoveForm(TForm* f);
  struct CursorDef {
    CursorShape shape = CursorShape::Arrow;
    std::vector<uint32_t> image;
    int hot_x = 0, hot_y = 0;
  };
  const CursorDef* FindCursor(TCursor id) const;

 private:
  TCursor cursor_ = crDefault;
  std::map<TCursor, CursorDef> cursors_;
  std::vector<TForm*> forms_;
};

struct ApplicationRef {
  TApplication* operator->() const;
  operator TApplication*() const { return operator->(); }
};
struct ScreenRef {
  TScreen* operator->() const;
  operator TScreen*() const { return operator->(); }
};
inline constexpr ApplicationRef Application{};
inline constexpr ScreenRef Screen{};

// Message box flags and answers.
enum : unsigned {
  MB_OK = 0,
  MB_OKCANCEL = 1,
  MB_ABORTRETRYIGNORE = 2,
  MB_YESNOCANCEL = 3,
  MB_YESNO = 4,
  MB_RETRYCANCEL = 5,
  MB_ICONHAND = 0x10,
  MB_ICONERROR = 0x10,
  MB_ICONSTOP = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONWARNING = 0x30,
  MB_ICONASTERISK = 0x40,
  MB_ICONINFORMATION = 0x40,
  MB_DEFBUTTON2 = 0x100,
  MB_SYSTEMMODAL = 0x1000,
  MB_TASKMODAL = 0x2000
};
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

}  // namespace vant
