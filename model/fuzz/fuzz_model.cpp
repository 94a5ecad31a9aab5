// Arbitrary bytes through everything that reads a file: the format check, every reader, the mark
// lookups and the chunk scan, in both access modes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bwfchunk.h"
#include "bwfnotify.h"
#include "fuzzinput.h"

namespace {

class QuietNotifier final : public TBWFNotifier {
 public:
  void Warning(std::string_view) override {}
  void Error(std::string_view) override {}
  void Information(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QuietNotifier quiet;
  SetBWFNotifier(&quiet);
  const std::string path = WriteFuzzInput(data, size);
  if (path.empty()) return 0;

  for (int mode : {TBWFChunck::kKeepOpen, TBWFChunck::kReopenPerRead}) {
    TBWFChunck m(path, mode);
    m.CheckFormat();
    ReadModelInOrder(m);
    m.GetStartPos();
    m.GetStopPos();
    m.SamplesToMSec(m.DataPos.size);
    std::vector<std::string> list;
    m.GetPdfList(list);
    m.GetCsvList(list);
    if (mode == TBWFChunck::kKeepOpen) {
      m.ScanChunks(path);
      m.GetCueChunkPos();
      m.GetDataChunkSize();
    }
  }
  return 0;
}
