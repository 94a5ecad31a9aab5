// Arbitrary bytes through everything that reads a file: the format check, every reader, the mark
// lookups and the chunk scan, in both access modes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bwfchunk.h"
#include "bwfnotify.h"

namespace {

class QuietNotifier final : public TBWFNotifier {
 public:
  void Warning(std::string_view) override {}
  void Error(std::string_view) override {}
  void Information(std::string_view) override {}
};

// One in-memory file, rewritten for each input and opened by its /proc path.
const std::string& InputPath() {
  static const std::string path = [] {
    const int fd = memfd_create("fuzz_model", 0);
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QuietNotifier quiet;
  SetBWFNotifier(&quiet);
  const std::string& path = InputPath();
  const int fd = std::stoi(path.substr(path.rfind('/') + 1));
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;

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
