// Saves one file in a process of its own, for the crash test to kill. Before every file operation
// it writes a byte to descriptor 3 and waits for a byte on descriptor 4, so the test can hold it
// at any operation; once descriptor 4 is closed it runs on freely.
//   savecrash_driver <source> <target> <temporary folder>
#include <unistd.h>

#include "bwfsave.h"
#include "savetest.h"

namespace {

class GatedLayer : public TBWFPosixFileLayer {
 public:
  int Open(const std::filesystem::path& p, int flags, int mode) override {
    Gate();
    return TBWFPosixFileLayer::Open(p, flags, mode);
  }
  int CreateTemp(const std::filesystem::path& folder, const std::string& prefix,
                 const std::string& suffix, std::filesystem::path& made) override {
    Gate();
    return TBWFPosixFileLayer::CreateTemp(folder, prefix, suffix, made);
  }
  bool Write(int fd, const void* b, size_t n) override {
    Gate();
    return TBWFPosixFileLayer::Write(fd, b, n);
  }
  bool CopyRange(int in, uint64_t off, int out, size_t n) override {
    Gate();
    return TBWFPosixFileLayer::CopyRange(in, off, out, n);
  }
  int Fsync(int fd) override {
    Gate();
    return TBWFPosixFileLayer::Fsync(fd);
  }
  int Close(int fd) override {
    Gate();
    return TBWFPosixFileLayer::Close(fd);
  }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to,
             bool noReplace) override {
    Gate();
    return TBWFPosixFileLayer::Rename(from, to, noReplace);
  }
  int Remove(const std::filesystem::path& p) override {
    Gate();
    return TBWFPosixFileLayer::Remove(p);
  }
  int SyncFolder(const std::filesystem::path& folder) override {
    Gate();
    return TBWFPosixFileLayer::SyncFolder(folder);
  }

 private:
  void Gate() {
    if (free_) return;
    char c = 'x';
    if (::write(3, &c, 1) != 1 || ::read(4, &c, 1) != 1) free_ = true;
  }
  bool free_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  auto model = st::OpenModel(argv[1], argv[3]);
  st::EditEverything(*model);
  SetBWFViewerNotice([](const TBWFChunck&, int, const std::optional<vant::ipc::WindowRef>&) {});
  GatedLayer layer;
  SetBWFFileLayer(&layer);
  const int r = SaveToFile(*model, argv[2], argv[1]);
  SetBWFFileLayer(nullptr);
  return r == 0 ? 0 : 1;
}
