// A path the user picks may name a FIFO or a device: every entry point refuses it at once
// instead of waiting for a writer that never comes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "bwfattach.h"
#include "bwfcsv.h"
#include "bwfsave.h"
#include "mmio.h"
#include "notifyrecorder.h"
#include "savetest.h"
#include "scratchfolder.h"

namespace fs = std::filesystem;

TEST(SpecialFiles, AFifoIsRefusedWithoutWaiting) {
  vant::testing::ScratchFolder dir("vant-fifo");
  const fs::path fifo = dir.path() / "pipe.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  NotifyRecorder notes;

  for (int mode : {TBWFChunck::kKeepOpen, TBWFChunck::kReopenPerRead}) {
    TBWFChunck m(fifo, mode);
    EXPECT_EQ(m.GetState(), TBWFChunck::kNotOpen);
    EXPECT_EQ(m.ReadFmtChunk(), 0);
    m.ScanChunks(fifo);
    EXPECT_TRUE(m.ChunkTable.empty());
  }

  EXPECT_FALSE(ImportCsv(*std::make_unique<TBWFChunck>(fifo, 0), fifo, EditionKeyAgency));
  EXPECT_EQ(notes.lines, std::vector<std::string>{std::string("E:") + kMsgImportFailed});
  EXPECT_EQ(mmio::ShellCopyFile(fifo, dir.path() / "copy.wav"), -1);
  EXPECT_FALSE(fs::exists(dir.path() / "copy.wav"));

  // A FIFO chosen as an attachment stops the save before anything is written.
  const fs::path source = dir.path() / "source.wav";
  st::WriteBytes(source, vb::Build(vb::FullVantChunks(400)));
  auto model = st::OpenModel(source, dir.path());
  uint32_t id = 0;
  ASSERT_EQ(AddAttachment(*model, fifo, id), 3);
  notes.lines.clear();
  EXPECT_EQ(SaveToFile(*model, dir.path() / "out.wav", source), -1);
  EXPECT_EQ(notes.lines, std::vector<std::string>{std::string("E:") + kMsgSaveAttachOpen + "\n" +
                                                  fifo.string()});
  EXPECT_FALSE(fs::exists(dir.path() / "out.wav"));
}
