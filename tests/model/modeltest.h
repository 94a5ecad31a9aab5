#pragma once
// Helpers shared by the model's tests: a notifier that records.
#include <string>
#include <string_view>
#include <vector>

#include "bwfchunk.h"
#include "bwfnotify.h"

namespace mt {

// Installs itself as the process notifier while alive; keeps "W:", "E:" or "I:" plus the text.
class RecordingNotifier : public TBWFNotifier {
 public:
  RecordingNotifier() { SetBWFNotifier(this); }
  ~RecordingNotifier() override { SetBWFNotifier(nullptr); }
  void Warning(std::string_view t) override { lines.push_back("W:" + std::string(t)); }
  void Error(std::string_view t) override { lines.push_back("E:" + std::string(t)); }
  void Information(std::string_view t) override { lines.push_back("I:" + std::string(t)); }
  std::vector<std::string> lines;
};

}  // namespace mt
