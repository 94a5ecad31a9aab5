// The files the model writes in place of the user's besides the save (the CSV export, an extracted
// attachment, the checked copy), each over an existing file and to a new name, replayed through a
// power cut at every point: the file holds the old bytes or the new ones, never a torn mix, and
// the new ones from the writer's success on; a twin of each writer with one step broken fails.
#include <gtest/gtest.h>

#include <functional>

#include "bwfattach.h"
#include "bwfcsv.h"
#include "mmio.h"
#include "notifyrecorder.h"
#include "powercut.h"
#include "savetest.h"
#include "scratchfolder.h"

namespace fs = std::filesystem;
using vb::Bytes;

TEST(WritersPowerCut, EveryCutLeavesTheOldFileOrTheNewOne) {
  struct Case {
    const char* name;
    std::function<bool(TBWFChunck& model, const fs::path& source, const fs::path& target)> write;
  };
  const Case cases[] = {
      {"commercial data exported as CSV",
       [](TBWFChunck& m, const fs::path&, const fs::path& t) { return ExportCsv(m, t, 0); }},
      {"attachment extracted",
       [](TBWFChunck& m, const fs::path&, const fs::path& t) {
         return ExtractPdfTo(m, "contact.pdf", t) == t.string();
       }},
      {"file copied over the target",
       [](TBWFChunck&, const fs::path& s, const fs::path& t) {
         return mmio::ShellCopyFile(s, t) == 1;
       }},
  };
  for (const Case& c : cases) {
    for (bool existing : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (existing ? ", over a file" : ", new"));
      vant::testing::ScratchFolder dir("vant-cut");
      const fs::path source = dir.path() / "source.wav", target = dir.path() / "out";
      st::WriteBytes(source, vb::Build(vb::FullVantChunks(3000)));
      std::optional<Bytes> before;
      if (existing) {
        before = Bytes{'o', 'l', 'd'};
        st::WriteBytes(target, *before);
      }
      auto model = st::OpenModel(source, dir.path());
      NotifyRecorder notes;
      vant::testing::PowerCutRecorder recorder(dir.path());
      ASSERT_TRUE(c.write(*model, source, target)) << testing::PrintToString(notes.lines);
      const Bytes after = st::ReadBytes(target);
      ASSERT_NE(std::optional<Bytes>(after), before);
      const auto faults = vant::testing::Prove(recorder, vant::testing::TargetNames(target),
                                               vant::testing::ReplacedWhole(target, before, after));
      EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    }
  }
}
