// What reading a file costs the system, counted from outside the model: the kernel's open events
// for the file (inotify) and the process's read calls (/proc/self/io). A listing opens each file
// once and reads each chunk once.
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "bwfchunk.h"
#include "vantbuilder.h"

namespace {

// Read calls the process has made so far.
long ReadCalls() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long value = 0;
  while (io >> key >> value) {
    if (key == "syscr:") return value;
  }
  return -1;
}

// Counts the opens of one file while it lives.
class OpenCounter {
 public:
  explicit OpenCounter(const std::filesystem::path& p)
      : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    // Reads and closes are watched too: the kernel merges events that repeat back to back.
    inotify_add_watch(fd_, p.c_str(), IN_OPEN | IN_ACCESS | IN_CLOSE);
  }
  ~OpenCounter() { close(fd_); }
  int Opens() {
    alignas(inotify_event) char buf[4096];
    int n = 0;
    for (ssize_t got; (got = read(fd_, buf, sizeof buf)) > 0;) {
      for (char* p = buf; p < buf + got; p += sizeof(inotify_event) + ((inotify_event*)p)->len) {
        if (((inotify_event*)p)->mask & IN_OPEN) ++n;
      }
    }
    return n;
  }

 private:
  int fd_;
};

TEST(BwfReadCost, EachFileOpenedOnceAndEachChunkReadOnce) {
  // Attachments large enough that each lies in blocks of its own, and samples between the head
  // and the chunks after them.
  std::vector<vb::Chunk> chunks = vb::FullVantChunks(200000);
  vb::Bytes big(30000, 'x');
  chunks[6] = vb::List("adtl", {vb::Labl(1, "BC$START"), vb::Labl(2, "BC$STANDBY"),
                                vb::Labl(3, "BC$END"), vb::Labl(4, "BC$STOP"),
                                vb::Labl(vb::Note(1), "BC$NOTE1"), vb::Labl(vb::Note(2), "BC$NOTE2"),
                                vb::File(vb::Note(1), "contact.pdf", big),
                                vb::File(vb::Note(2), "list.csv", big)});
  const long chunkCount = 7;  // fmt, bext, cmcd, data, cue, plst, LIST
  vb::TempFile file(vb::Build(chunks));

  struct Case {
    const char* who;
    bool converter;
  } cases[] = {{"viewer", false}, {"converter", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.who);
    OpenCounter opens(file.path());
    const long before = ReadCalls();
    std::unique_ptr<TBWFChunck> m;
    if (c.converter) {
      m = std::make_unique<TBWFChunck>(file.path(), TBWFChunck::kKeepOpen);
      m->CheckFormat();
      ReadModelInOrder(*m);
      m->ScanChunks(file.path());
    } else {
      m = TBWFChunck::OpenAndRead(file.path(), TBWFChunck::kReopenPerRead);
    }
    const long reads = ReadCalls() - before;
    // What was read is all there.
    EXPECT_EQ(m->AttachCount, 2u);
    EXPECT_EQ(m->GetEndPos(), 1488000);
    EXPECT_EQ(m->CmcdInfo.Get(bwf::CmcdField::CMLength), "30");
    EXPECT_EQ(opens.Opens(), 1);
    EXPECT_LE(reads, chunkCount);
    if (c.converter) {
      EXPECT_EQ(m->ListTable.size(), 8u);
    } else {
      EXPECT_EQ(m->GetState(), TBWFChunck::kClosed);
    }
  }
}

}  // namespace
