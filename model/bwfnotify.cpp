#include "bwfnotify.h"

#include <atomic>
#include <string>

#include "trace.h"

namespace {

class TraceNotifier final : public TBWFNotifier {
 public:
  void Warning(std::string_view text) override { vant::Trace("warning: " + std::string(text)); }
  void Error(std::string_view text) override { vant::Trace("error: " + std::string(text)); }
  void Information(std::string_view text) override { vant::Trace("info: " + std::string(text)); }
};

class NoProgress final : public TBWFProgress {
 public:
  void SetCaption(std::string_view) override {}
  void Show() override {}
  void Hide() override {}
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  void StartDelayTimer() override {}
};

std::atomic<TBWFNotifier*> g_notifier{nullptr};
std::atomic<TBWFProgress*> g_progress{nullptr};

}  // namespace

TBWFNotifier& GetBWFNotifier() {
  static TraceNotifier fallback;
  TBWFNotifier* n = g_notifier.load();
  return n ? *n : fallback;
}
void SetBWFNotifier(TBWFNotifier* notifier) { g_notifier = notifier; }

TBWFProgress& GetBWFProgress() {
  static NoProgress fallback;
  TBWFProgress* p = g_progress.load();
  return p ? *p : fallback;
}
void SetBWFProgress(TBWFProgress* progress) { g_progress = progress; }
