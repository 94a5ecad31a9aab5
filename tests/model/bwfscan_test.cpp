#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bwfchunk.h"
#include "trace.h"
#include "vantbuilder.h"

namespace {

using vb::Bytes;
using vb::Chunk;

struct Scanned {
  explicit Scanned(const Bytes& bytes) : file(bytes), model(file.path(), TBWFChunck::kKeepOpen) {
    model.ScanChunks(file.path());
    lines = capture.Lines();
  }
  vant::TraceCapture capture;
  vb::TempFile file;
  TBWFChunck model;
  std::vector<std::string> lines;
};

std::vector<std::string> Ids(const std::vector<TChunkEntry>& table) {
  std::vector<std::string> ids;
  for (const auto& e : table) ids.push_back(vant::riff::FourCCToString(e.id));
  return ids;
}

TEST(BwfScan, DirectoriesMarkersAndTraceOfASmallFile) {
  // RIFF, fmt, bext (odd size 15: one pad byte), data, cue, LIST adtl.
  Scanned s(vb::Build({
      vb::Fmt(),
      vb::Bext("", 15),
      vb::Data(6),
      vb::CueChunk({{3, 48000}, {vb::Note(2), 0}}),
      vb::List("adtl", {vb::Labl(3, "BC$END"), vb::File(vb::Note(1), "a.pdf", {1, 2})}),
  }));
  TBWFChunck& m = s.model;
  EXPECT_EQ(Ids(m.ChunkTable), (std::vector<std::string>{"fmt ", "bext", "data", "cue ", "LIST"}));
  EXPECT_EQ(m.ChunkTable[4].kind, 0u);
  EXPECT_EQ(m.ChunkTable[1].kind, 1u);
  EXPECT_EQ(m.ChunkTable[2].dataOffset, 12u + 24 + 8 + 16 + 8);  // after the pad byte
  EXPECT_TRUE(m.Present.bext && m.Present.data && m.Present.cue && m.Present.labelOrFile);
  EXPECT_FALSE(m.Present.cmcd || m.Present.plst);
  EXPECT_EQ(m.GetDataChunkPos(), m.ChunkTable[2].dataOffset);
  EXPECT_EQ(m.GetDataChunkSize(), 6u);
  EXPECT_EQ(m.GetCueChunkPos(), m.ChunkTable[3].dataOffset);
  EXPECT_EQ(m.FindChunkEntry(bwf::kCmcd), -1);

  EXPECT_EQ(Ids(m.ListTable), (std::vector<std::string>{"labl", "file"}));
  EXPECT_EQ(m.ListTable[1].origin, TChunkEntry::kSourceList);
  EXPECT_EQ(bwf::Le32(m.ListTable[1].data.data()), vb::Note(1));
  // Cue 3 carries the label; NOT1 has no cue point and gets a scan marker of its own.
  ASSERT_EQ(m.ScanMarkers.size(), 3u);
  EXPECT_EQ(m.ScanMarkers[0].Label(), "BC$END");
  EXPECT_EQ(m.ScanMarkers[0].labelCueId, 3u);
  EXPECT_EQ(m.ScanMarkers[0].labelPos, m.ListTable[0].dataOffset);
  EXPECT_EQ(m.ScanMarkers[2].cue.dwName, vb::Note(1));
  EXPECT_EQ(m.ScanMarkers[2].cue.dwSampleOffset, 0u);
  EXPECT_EQ(m.ScanMarkers[2].cue.fccChunk, bwf::kData);

  const std::vector<std::string> want = {
      "00000014[          20] : fmt  ,size:00000010 -> next:00000010",
      "0000002C[          44] : bext ,size:0000000F -> next:00000010",
      "00000044[          68] : data ,size:00000006 -> next:00000006",
      "00000052[          82] : cue  ,size:00000034 -> next:00000034",
      "0000008E[         142] : LIST ,size:00000032 -> next:00000032",
      "cue 2 ->",
      "00000056[          86] : \x03 ,size:00000032 -> next:00000018 ",
      "0000006E[         110] : NOT2 ,size:00000032 -> next:00000018 ",
      "adtl->",
      "0000009A[         154] : labl(\x03) ,size:0000000B -> next:00000008",
      "000000AE[         174] : file(NOT1) ,size:00000011 -> next:0000000E",
  };
  EXPECT_EQ(s.lines, want);
}

TEST(BwfScan, PlayListAndUpperCaseIds) {
  Scanned s(vb::Build({
      vb::Fmt(),
      vb::Data(4, 0, "DATA"),
      vb::CueChunk({{1, 10}, {2, 20}}, "CUE "),
      vb::Plst({{2, 5, 1}, {9, 7, 7}}, "PLST"),
      vb::List("adtl", {vb::Labl(2, "BC$STANDBY", "LABL"), vb::File(1, "x.csv", {}, "FILE")}),
  }));
  TBWFChunck& m = s.model;
  EXPECT_TRUE(m.Present.data && m.Present.cue && m.Present.plst && m.Present.labelOrFile);
  EXPECT_EQ(m.GetDataChunkSize(), 4u);
  EXPECT_NE(m.GetCueChunkPos(), 0u);
  ASSERT_EQ(m.ScanMarkers.size(), 2u);  // the file's cue id 1 has a cue point
  EXPECT_EQ(m.ScanMarkers[1].play.dwLength, 5u);
  EXPECT_EQ(m.ScanMarkers[0].play.dwName, 0u);  // the entry for cue 9 changed nothing
  EXPECT_EQ(m.ScanMarkers[1].Label(), "BC$STANDBY");
  EXPECT_EQ(m.ListTable[0].kind, 5u);
  EXPECT_EQ(m.ListTable[1].kind, 6u);
}

TEST(BwfScan, BrokenAndUnusualLayouts) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<std::string> top;
    size_t listEntries;
  };
  std::vector<Case> cases;
  {
    auto chunks =
        std::vector<Chunk>{vb::Fmt(), vb::Data(4), vb::Raw("junk", {}), vb::Raw("zero", {})};
    cases.push_back(
        {"zero-size last chunk", vb::Build(chunks), {"fmt ", "data", "junk", "zero"}, 0});
    chunks = {vb::Fmt(), vb::Data(4), vb::Raw("next", {})};
    chunks[1].size = 0xFFFFFFF8u;
    cases.push_back({"size that wraps 32 bits", vb::Build(chunks), {"fmt ", "data"}, 0});
    chunks[1].size = 5000;
    cases.push_back({"size past the file", vb::Build(chunks), {"fmt ", "data"}, 0});
    chunks = {vb::Fmt(), vb::Data(4), vb::List("adtl", {vb::Labl(1, "x")}), vb::Raw("tail", {})};
    chunks[2].size = 2;
    // Read as the readers read it: the walk steps over the two bytes the list claims.
    cases.push_back(
        {"list smaller than its type", vb::Build(chunks), {"fmt ", "data", "LIST", "tlla"}, 0});
    chunks = {vb::Fmt(), vb::Data(4), vb::Raw("late", {})};
    cases.push_back(
        {"form size shorter than the file", vb::Build(chunks, 4 + 24 + 12), {"fmt ", "data"}, 0});
    cases.push_back({"piped: sizes 0xFFFFFFFF",
                     vb::Build({vb::Fmt(), vb::Data(6)}, 0xFFFFFFFFu),
                     {"fmt ", "data"},
                     0});
    // 4 + 24 + 108 = 136 = 0x88, stored big-endian: read little-endian it is negative, and the
    // walk takes the reversed value, which ends before the chunk after the form.
    Bytes reversed = vb::Build({vb::Fmt(), vb::Data(100)}, 0x88000000u);
    const Bytes late = vb::Serialize(vb::Raw("late", {}));
    reversed.insert(reversed.end(), late.begin(), late.end());
    cases.push_back({"form size stored byte-reversed", reversed, {"fmt ", "data"}, 0});
    // Zero-filled space holds no chunks, for the scan as for the readers.
    Bytes zeros = vb::Build({vb::Fmt(), vb::Data(4), vb::Raw("pad ", {}), vb::Raw("late", {})});
    std::fill(zeros.end() - 16, zeros.end() - 8, uint8_t{0});
    cases.push_back({"zeros where a chunk would be", zeros, {"fmt ", "data"}, 0});
    Bytes full = vb::Build(vb::FullVantChunks(100));
    cases.push_back({"truncated mid-LIST",
                     Bytes(full.begin(), full.end() - 40),
                     {"fmt ", "bext", "cmcd", "data", "cue ", "plst", "LIST"},
                     7});
  }
  for (const auto& c : cases) {
    Scanned s(c.bytes);
    EXPECT_EQ(Ids(s.model.ChunkTable), c.top) << c.what;
    EXPECT_EQ(s.model.ListTable.size(), c.listEntries) << c.what;
  }
}

TEST(BwfScan, TablesGrowPastTheirOldLimits) {
  std::vector<Chunk> chunks = {vb::Fmt(), vb::Data(4)};
  for (int i = 0; i < 200; ++i) chunks.push_back(vb::Raw("junk", {1}));
  std::vector<vb::Cue> cues;
  std::vector<Chunk> subs;
  for (uint32_t i = 1; i <= 150; ++i) {
    cues.push_back({i, i});
    subs.push_back(vb::Labl(i, "L" + std::to_string(i)));
  }
  chunks.push_back(vb::CueChunk(cues));
  chunks.push_back(vb::List("adtl", subs));
  Scanned s(vb::Build(chunks));
  EXPECT_EQ(s.model.ChunkTable.size(), 204u);
  EXPECT_EQ(s.model.ListTable.size(), 150u);
  ASSERT_EQ(s.model.ScanMarkers.size(), 150u);
  EXPECT_EQ(s.model.ScanMarkers[149].Label(), "L150");

  // A hostile file of 70,000 empty chunks: past its limit the table keeps them as one run.
  std::vector<Chunk> tiny(70000, vb::Raw("tiny", {}));
  const Bytes hostileBytes = vb::Build(tiny);
  vb::TempFile hostile(hostileBytes);
  s.model.ScanChunks(hostile.path());
  ASSERT_EQ(s.model.ChunkTable.size(), bwf::kScanTableLimit + 1);
  const TChunkEntry& run = s.model.ChunkTable.back();
  EXPECT_EQ(run.origin, TChunkEntry::kSourceRun);
  EXPECT_EQ(run.dataOffset, 12u + 8 * bwf::kScanTableLimit);
  EXPECT_EQ(run.dataOffset + run.size, hostileBytes.size());
  EXPECT_FALSE(s.model.ScanOverflow);

  // Missing file, or no WAVE form: empty tables. A rescan replaces the old tables.
  s.model.ScanChunks("/nonexistent/x.wav");
  EXPECT_TRUE(s.model.ChunkTable.empty() && s.model.ScanMarkers.empty());
  vb::TempFile avi(vb::Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
  s.model.ScanChunks(avi.path());
  EXPECT_TRUE(s.model.ChunkTable.empty());
}

}  // namespace
