#pragma once
// Records every message the file model shows, while alive.
#include <string>
#include <string_view>
#include <vector>

#include "bwfnotify.h"

class NotifyRecorder : public TBWFNotifier {
 public:
  NotifyRecorder() { SetBWFNotifier(this); }
  ~NotifyRecorder() override { SetBWFNotifier(nullptr); }
  void Warning(std::string_view t) override { lines.push_back("W:" + std::string(t)); }
  void Error(std::string_view t) override { lines.push_back("E:" + std::string(t)); }
  void Information(std::string_view t) override { lines.push_back("I:" + std::string(t)); }
  void Plain(std::string_view t) override { lines.push_back("P:" + std::string(t)); }
  std::vector<std::string> lines;
};
