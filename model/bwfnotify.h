#pragma once
// How the file model shows its fixed messages (modal warning, error and information boxes with an
// OK button) and reports progress, without knowing about windows. The converter installs
// implementations over its message boxes and progress window; tests install recorders.
#include <string_view>

class TBWFNotifier {
 public:
  virtual ~TBWFNotifier() = default;
  // Texts are UTF-8.
  virtual void Warning(std::string_view text) = 0;
  virtual void Error(std::string_view text) = 0;
  virtual void Information(std::string_view text) = 0;
  // The application's plain box: an OK button, no icon, no caption. Shown as information where
  // the owner has no box of that kind.
  virtual void Plain(std::string_view text) { Information(text); }
};

// The progress window as the model drives it.
class TBWFProgress {
 public:
  virtual ~TBWFProgress() = default;
  virtual void SetCaption(std::string_view text) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // A percentage; 100 or more closes the window.
  virtual void SetProgress(int percent) = 0;
  // Lets the message loop run once.
  virtual void ProcessMessages() = 0;
  // Starts the 500 ms delay timer that tells the main window that a save ended.
  virtual void StartDelayTimer() = 0;
};

// The process-wide notifier: by default it writes each message to the trace sink. `SetBWFNotifier`
// installs another (not owned); nullptr restores the default.
TBWFNotifier& GetBWFNotifier();
void SetBWFNotifier(TBWFNotifier* notifier);

// The process-wide progress sink: by default it does nothing.
TBWFProgress& GetBWFProgress();
void SetBWFProgress(TBWFProgress* progress);
