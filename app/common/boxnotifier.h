#pragma once
// The file model's fixed messages shown as the application's message boxes: warning, error and
// information boxes with an OK button, and the plain box without icon or caption.
#include "bwfnotify.h"

class TBoxNotifier : public TBWFNotifier {
 public:
  void Warning(std::string_view text) override;
  void Error(std::string_view text) override;
  void Information(std::string_view text) override;
  void Plain(std::string_view text) override;
};

// Installs a notifier for a scope (the program's run) and restores the default after it.
class TScopedNotifier {
 public:
  explicit TScopedNotifier(TBWFNotifier& n) { SetBWFNotifier(&n); }
  ~TScopedNotifier() { SetBWFNotifier(nullptr); }
  TScopedNotifier(const TScopedNotifier&) = delete;
  TScopedNotifier& operator=(const TScopedNotifier&) = delete;
};
