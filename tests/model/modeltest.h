#pragma once
// Helpers shared by the model's tests: a notifier that records, and the reading order that both
// programs follow after constructing a model.
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

inline void ReadInOrder(TBWFChunck& m) {
  m.ReadRiffHeader();
  m.ReadFmtChunk();
  m.ReadBextChunk();
  m.ReadCueChunks();
  m.MarkerCount = static_cast<int>(m.CuePointCount);
  m.ReadCmcdChunk();
  m.ReadDataChunk();
  m.CalcCMLength();
}

}  // namespace mt
