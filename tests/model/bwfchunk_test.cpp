#include "bwfchunk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modeltest.h"
#include "savetest.h"
#include "scratchfolder.h"
#include "vantbuilder.h"

namespace {

using vb::Bytes;
using vb::Chunk;
namespace fs = std::filesystem;

using mt::RecordingNotifier;

// Opens a model on the bytes and reads it in the order both programs use.
struct Opened {
  explicit Opened(const Bytes& bytes, int mode = TBWFChunck::kKeepOpen)
      : file(bytes), model(std::make_unique<TBWFChunck>(file.path(), mode)) {
    ReadModelInOrder(*model);
  }
  vb::TempFile file;
  std::unique_ptr<TBWFChunck> model;
};

TEST(BwfRead, FullVantFileInBothAccessModes) {
  const Bytes bytes = vb::Build(vb::FullVantChunks());
  for (int mode : {TBWFChunck::kKeepOpen, TBWFChunck::kReopenPerRead}) {
    SCOPED_TRACE(mode);
    Opened o(bytes, mode);
    TBWFChunck& m = *o.model;
    EXPECT_EQ(m.GetState(),
              mode == TBWFChunck::kKeepOpen ? TBWFChunck::kOpen : TBWFChunck::kClosed);
    EXPECT_EQ(m.RiffHeader.cksize, bytes.size() - 8);
    EXPECT_EQ(m.WaveFormat.wFormatTag, 1);
    EXPECT_EQ(m.WaveFormat.nSamplesPerSec, 48000u);
    EXPECT_EQ(m.WaveFormat.nBlockAlign, 4);
    EXPECT_EQ(m.BextInfo.GetDescription(), "remarks here");
    EXPECT_EQ(m.BextInfo.bytes[602], 'H');
    EXPECT_EQ(m.CmcdInfo.GetCmcdVersion(), 100);
    EXPECT_EQ(m.CmcdInfo.Get(bwf::CmcdField::CMTitle), vb::kSjisTitle);
    EXPECT_EQ(m.CmcdInfo.Get(bwf::CmcdField::ProductionCode), "PC-0001");
    EXPECT_EQ(m.CmcdInfo.Get(bwf::CmcdField::CMLength), "30");
    EXPECT_EQ(m.DataPos.offset, 12u + 24 + 866 + 2056 + 8);
    EXPECT_EQ(m.DataPos.size, 48000u * 4 * 32);
    EXPECT_EQ(m.GetFileKind(), 1);
    EXPECT_EQ(m.ReadBits, 7u);

    EXPECT_EQ(m.CuePointCount, 6u);
    EXPECT_EQ(m.PlayCount, 2u);
    EXPECT_EQ(m.LabelCount, 6u);
    EXPECT_EQ(m.AttachCount, 2u);
    EXPECT_EQ(m.GetStartPos(), 0);
    EXPECT_EQ(m.GetStandbyPos(), 48000);
    EXPECT_EQ(m.GetEndPos(), 1488000);
    EXPECT_EQ(m.GetStopPos(), 1500000);
    ASSERT_TRUE(m.GetCMLength());
    EXPECT_DOUBLE_EQ(*m.GetCMLength(), 30.0);
    EXPECT_EQ(m.Markers[2].play.dwLength, 200u);
    EXPECT_EQ(m.Markers[2].play.dwLoops, 2u);
    EXPECT_EQ(m.Markers[0].play.dwName, 0u);

    const TBWFAttachInfo& pdf = m.Markers[4].attach;
    EXPECT_EQ(pdf.id, vb::Note(1));
    EXPECT_EQ(pdf.name, "contact.pdf");
    EXPECT_EQ(pdf.kind, bwf::kAttachPdf);
    EXPECT_EQ(pdf.size, 8u + 13 + vb::PdfBytes().size());
    // The data offset points at the sub-chunk's data: cue id, media type, name line, content.
    EXPECT_EQ(std::string(bytes.begin() + pdf.dataOffset + 8, bytes.begin() + pdf.dataOffset + 19),
              "contact.pdf");
    EXPECT_EQ(m.Markers[5].attach.name, vb::kSjisCsvName);
    EXPECT_EQ(m.Markers[5].attach.kind, bwf::kAttachCsv);

    std::vector<std::string> list{"stale"};
    EXPECT_EQ(m.GetPdfList(list), 1);
    EXPECT_EQ(list, std::vector<std::string>{"contact.pdf"});
    EXPECT_EQ(m.GetCsvList(list), 1);
    EXPECT_EQ(list[0], vb::kSjisCsvName);
  }
}

TEST(BwfRead, UpperCaseIdsAndUnusualOrderReadTheSame) {
  auto full = vb::FullVantChunks(400);
  // Upper-case spellings.
  std::vector<Chunk> upper = full;
  upper[1].id = "BEXT";
  upper[2].id = "CMCD";
  upper[3].id = "DATA";
  upper[4].id = "CUE ";
  upper[5].id = "PLST";
  // bext after data; cue, plst and adtl before data.
  std::vector<Chunk> reordered = {full[0], full[4], full[5], full[6], full[3], full[2], full[1]};
  for (const auto& chunks : {upper, reordered}) {
    Opened o(vb::Build(chunks));
    TBWFChunck& m = *o.model;
    EXPECT_EQ(m.GetFileKind(), 1);
    EXPECT_EQ(m.BextInfo.GetDescription(), "remarks here");
    EXPECT_EQ(m.CmcdInfo.Get(bwf::CmcdField::CMTitle), vb::kSjisTitle);
    EXPECT_EQ(m.DataPos.size, 400u);
    EXPECT_EQ(m.CuePointCount, 6u);
    EXPECT_EQ(m.PlayCount, 2u);
    EXPECT_EQ(m.GetEndPos(), 1488000);
    EXPECT_EQ(m.Markers[1].play.dwLength, 100u);
    EXPECT_EQ(m.Markers[5].attach.name, vb::kSjisCsvName);
  }
}

TEST(BwfRead, MarkLookupWithDuplicatesAndUnmatchedLabels) {
  struct Case {
    const char* what;
    std::vector<vb::Cue> cues;
    std::vector<Chunk> labels;
    int64_t end;    // GetEndPos
    int64_t start;  // GetStartPos
  };
  const Case cases[] = {
      {"two ENDs: the earlier offset wins",
       {{1, 96000}, {2, 48000}},
       {vb::Labl(1, "BC$END"), vb::Labl(2, "bc$end")},
       48000,
       -1},
      {"equal offsets: the first in the cue chunk",
       {{7, 500}, {8, 500}},
       {vb::Labl(8, "BC$END"), vb::Labl(7, "BC$END")},
       500,
       -1},
      {"a START label naming a missing cue id is not found",
       {{1, 10}},
       {vb::Labl(1, "BC$END"), vb::Labl(9, "BC$START")},
       10,
       -1},
      {"a longer label text is kept to 16 bytes and does not match",
       {{1, 10}, {2, 20}},
       {vb::Labl(1, "BC$START-and-more-text"), vb::Labl(2, "BC$START")},
       -1,
       20},
  };
  for (const auto& c : cases) {
    Opened o(vb::Build({vb::Fmt(), vb::Data(8), vb::CueChunk(c.cues), vb::List("adtl", c.labels)}));
    EXPECT_EQ(o.model->GetEndPos(), c.end) << c.what;
    EXPECT_EQ(o.model->GetStartPos(), c.start) << c.what;
  }
  Opened o(vb::Build({vb::Fmt(), vb::Data(8), vb::CueChunk({{1, 10}}),
                      vb::List("adtl", {vb::Labl(1, "BC$START-and-more-text")})}));
  EXPECT_EQ(std::string(o.model->Markers[0].labelText.data(), 16), "BC$START-and-mor");
  EXPECT_EQ(o.model->Markers[0].Label(), "BC$START-and-mor");
}

TEST(BwfRead, CommercialLengthAndMilliseconds) {
  // A missing mark gives no length, not a huge one.
  Opened noStandby(vb::Build({vb::Fmt(), vb::Data(8), vb::CueChunk({{3, 1488000}}),
                              vb::List("adtl", {vb::Labl(3, "BC$END")})}));
  EXPECT_FALSE(noStandby.model->GetCMLength().has_value());

  TBWFChunck& m = *noStandby.model;
  struct Case {
    uint32_t rate, position;
    uint64_t ms;
  };
  const Case cases[] = {{48000, 48001, 1001},
                        {48000, 48000, 1000},
                        {48000, 0, 0},
                        {48000, 1, 1},
                        {44100, 44101, 1001},
                        {0, 5, 0},
                        {1, 0xFFFFFFFFu, 4294967295000ull}};
  for (const auto& c : cases) {
    m.WaveFormat.nSamplesPerSec = c.rate;
    EXPECT_EQ(m.SamplesToMSec(c.position), c.ms) << c.rate << " " << c.position;
  }
}

TEST(BwfRead, AttachmentsWithoutCuePointsAndFullTables) {
  // A `file` whose cue id has no cue point gets a note marker.
  Opened one(vb::Build({vb::Fmt(), vb::Data(8), vb::CueChunk({{1, 5}}),
                        vb::List("adtl", {vb::File(vb::Note(5), "n.doc", {1, 2, 3})})}));
  TBWFChunck& m = *one.model;
  EXPECT_EQ(m.CuePointCount, 2u);
  EXPECT_EQ(m.Markers[1].Label(), "BC$NOTE5");
  EXPECT_EQ(m.Markers[1].cue.dwPosition, 1u);
  EXPECT_EQ(m.Markers[1].cue.fccChunk, bwf::kData);
  EXPECT_EQ(m.Markers[1].cue.dwSampleOffset, 0u);
  EXPECT_EQ(m.Markers[1].attach.kind, bwf::kAttachOther);
  EXPECT_EQ(m.FindMarker("bc$note5"), 1);

  // Nine attachments, each with cue point and label.
  std::vector<vb::Cue> cues;
  std::vector<Chunk> subs;
  for (int n = 1; n <= 9; ++n) {
    cues.push_back({vb::Note(n), 0});
    subs.push_back(vb::Labl(vb::Note(n), bwf::NoteLabel(n)));
  }
  for (int n = 1; n <= 9; ++n) {
    subs.push_back(vb::File(vb::Note(n), "doc" + std::to_string(n) + ".pdf", Bytes(n * 100, 7)));
  }
  Opened nine(vb::Build({vb::Fmt(), vb::Data(8), vb::CueChunk(cues), vb::List("adtl", subs)}));
  std::vector<std::string> pdfs;
  EXPECT_EQ(nine.model->GetPdfList(pdfs), 9);
  EXPECT_EQ(pdfs[8], "doc9.pdf");
  EXPECT_EQ(nine.model->Markers[8].attach.size, 8u + 10 + 900);

  // 150 cue points: 100 kept; an attachment without cue point finds the table full.
  cues.clear();
  for (uint32_t i = 1; i <= 150; ++i) cues.push_back({i, i * 10});
  Opened many(vb::Build({vb::Fmt(), vb::Data(8), vb::CueChunk(cues),
                         vb::List("adtl", {vb::Labl(150, "BC$END"), vb::Labl(100, "BC$STANDBY"),
                                           vb::File(vb::Note(1), "x.csv", {})})}));
  EXPECT_EQ(many.model->CuePointCount, 100u);
  EXPECT_EQ(many.model->AttachCount, 0u);
  EXPECT_EQ(many.model->GetEndPos(), -1);
  EXPECT_EQ(many.model->GetStandbyPos(), 1000);
}

TEST(BwfRead, NameLinesAndShortOrLongBlocks) {
  Bytes noCr;
  vb::Put32(noCr, 1);
  vb::Put32(noCr, 0);
  vb::PutText(noCr, "name-without-cr");
  const std::string longName(300, 'n');
  Opened o(vb::Build({
      vb::Fmt(48000, 2, 16, 1, 18),
      vb::Bext("short", 600),
      vb::Cmcd(7, {{748, "T"}}, 3000),
      vb::Data(8),
      vb::CueChunk({{1, 0}, {2, 0}}),
      vb::List("adtl", {vb::Raw("file", noCr), vb::File(2, longName + ".pdf", {1})}),
  }));
  TBWFChunck& m = *o.model;
  EXPECT_EQ(m.WaveFormat.cbSize, 0);
  EXPECT_EQ(m.WaveFormat.wBitsPerSample, 16);
  EXPECT_EQ(m.BextInfo.GetDescription(), "short");
  EXPECT_EQ(m.BextInfo.bytes[602], 0);  // beyond the short chunk: zero, not the next chunk
  EXPECT_EQ(m.CmcdInfo.GetCmcdVersion(), 7);
  EXPECT_EQ(m.CmcdInfo.Get(bwf::CmcdField::CMTitle), "T");
  EXPECT_EQ(m.Markers[0].attach.name, "");
  EXPECT_EQ(m.Markers[0].attach.id, 1u);
  EXPECT_EQ(m.Markers[1].attach.name, "");  // no CR within 259 bytes
  EXPECT_EQ(m.AttachCount, 2u);

  // A short cmcd leaves the rest of the record zero; a long bext keeps its first 858 bytes.
  Opened p(vb::Build({vb::Fmt(), vb::Bext("long", 1000), vb::Cmcd(5, {}, 100), vb::Data(8)}));
  EXPECT_EQ(p.model->BextInfo.bytes[602], 'H');
  EXPECT_EQ(p.model->CmcdInfo.GetCmcdVersion(), 5);
  EXPECT_EQ(p.model->CmcdInfo.bytes[2047], 0);
}

TEST(BwfRead, BrokenFilesReadWithoutGoingPastTheirData) {
  const Bytes full = vb::Build(vb::FullVantChunks(400));
  struct Case {
    const char* what;
    Bytes bytes;
  };
  std::vector<Case> cases;
  {
    auto chunks = vb::FullVantChunks(400);
    chunks[3].size = 0xFFFFFFF8u;  // data size that wraps 32 bits
    cases.push_back({"data size 0xFFFFFFF8", vb::Build(chunks)});
    chunks[3].size = 100000;  // data past the end of the file
    cases.push_back({"data past the end", vb::Build(chunks)});
    chunks = vb::FullVantChunks(400);
    chunks[4].size = 0x7FFFFFF0u;  // a cue count the chunk cannot hold
    cases.push_back({"cue size past the end", vb::Build(chunks)});
  }
  cases.push_back({"truncated mid-data", Bytes(full.begin(), full.begin() + 3000)});
  cases.push_back({"truncated mid-LIST", Bytes(full.begin(), full.end() - 40)});
  cases.push_back({"header only", Bytes(full.begin(), full.begin() + 12)});
  cases.push_back({"empty", Bytes{}});
  for (const auto& c : cases) {
    Opened o(c.bytes);
    TBWFChunck& m = *o.model;
    EXPECT_LE(m.CuePointCount, 100u) << c.what;
    std::vector<std::string> l;
    m.GetPdfList(l);
    m.ScanChunks(o.file.path());
  }
  // Truncated inside the data: header, format, bext and cmcd are still there, the marks are not.
  Opened cut(cases[3].bytes);
  EXPECT_EQ(cut.model->GetFileKind(), 1);
  EXPECT_EQ(cut.model->DataPos.size, 3000u - cut.model->DataPos.offset);  // what is there
  EXPECT_EQ(cut.model->CuePointCount, 0u);
  // Truncated inside the list: cue points and labels read, the cut attachment ends the pass.
  Opened cutList(cases[4].bytes);
  EXPECT_EQ(cutList.model->CuePointCount, 6u);
  EXPECT_EQ(cutList.model->GetEndPos(), 1488000);
  EXPECT_EQ(cutList.model->Markers[4].attach.name, "contact.pdf");
  // A cue chunk that claims more than the file: only whole points that are there.
  Opened bigCue(cases[2].bytes);
  EXPECT_EQ(bigCue.model->CuePointCount, 6u);
}

// The samples a file holds, whatever its data chunk claims: a size past the end of the file is
// cut to it (the offset of the samples is 12 + 24 + 8 = 44 here).
// One rule for every reader, the scan and the save: a size is cut to what the file holds. The
// samples a file opens with are the ones the scan finds, and a save writes them with their real
// size, in a file whose sizes all add up. A form size that ends inside a chunk counts only part of
// the form (the tools read on to the end of the file); one that ends between two chunks is kept,
// so bytes after a whole form stay outside it. A `fmt ` chunk claiming more than the file leaves
// no samples to find, as libsndfile and ffmpeg refuse such a file: nothing is saved from it.
TEST(BwfRead, DataSizeIsWhatTheFileHolds) {
  struct Case {
    const char* what;
    Bytes bytes;
    uint32_t size;
    bool saved;
  };
  auto data = [](size_t present, std::optional<uint32_t> claimed = {}) {
    Chunk c = vb::Data(present);
    for (size_t i = 0; i < present; ++i) c.data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    c.size = claimed;
    c.pad = !claimed;
    return c;
  };
  Chunk hugeFmt = vb::Fmt();
  hugeFmt.size = 0xFFFFFFF0u;
  std::vector<Chunk> manyChunks = {vb::Fmt()};
  manyChunks.insert(manyChunks.end(), bwf::kScanTableLimit + 1, vb::Raw("junk", {}));
  manyChunks.push_back(data(48000));
  Bytes odd = vb::Build({vb::Fmt(), data(47999, 0xFFFFFFF0u)});
  odd.pop_back();  // the form's own pad byte
  Chunk zeroId = vb::Raw("zero", Bytes(8, 0));
  zeroId.id = std::string(4, '\0');
  Bytes trailing = vb::Build({vb::Fmt(), data(48000)});
  for (char c : std::string("TRAILINGJUNK")) trailing.push_back(static_cast<uint8_t>(c));
  const Case cases[] = {
      {"0xFFFFFFF0 in 48,000 bytes", vb::Build({vb::Fmt(), data(48000, 0xFFFFFFF0u)}), 48000, true},
      {"an odd count at the end of the file", odd, 47999, true},
      {"one byte more than is there", vb::Build({vb::Fmt(), data(1000, 1001)}), 1000, true},
      {"as much as is there", vb::Build({vb::Fmt(), data(1000)}), 1000, true},
      {"no samples at all", vb::Build({vb::Fmt(), data(0, 0x7FFFFFFFu)}), 0, true},
      {"a 3-byte LIST before the samples",
       vb::Build({vb::Fmt(), vb::Raw("LIST", {'a', 'b', 'c'}), data(48000)}), 48000, true},
      {"65,537 chunks before the samples", vb::Build(manyChunks), 48000, true},
      {"a form size of 20", vb::Build({vb::Fmt(), data(48000)}, 20), 48000, true},
      {"bytes after a whole form", trailing, 48000, true},
      // ffprobe reads the samples after a chunk whose id is zero; only eight zero bytes are
      // unwritten space.
      {"a chunk with id 0 before the samples", vb::Build({vb::Fmt(), zeroId, data(48000)}), 48000,
       true},
      // The form ends after fmt (28) or after the data header (36); libsndfile and ffprobe read on.
      {"a form size of 28", vb::Build({vb::Fmt(), data(48000)}, 28), 48000, true},
      {"a form size of 36", vb::Build({vb::Fmt(), data(48000)}, 36), 48000, true},
      {"fmt claiming 0xFFFFFFF0", vb::Build({hugeFmt, data(48000)}), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int mode : {TBWFChunck::kKeepOpen, TBWFChunck::kReopenPerRead}) {
      Opened o(c.bytes, mode);
      EXPECT_EQ(o.model->DataPos.size, c.size) << "mode " << mode;
    }
    vant::testing::ScratchFolder dir("vb-datasize");
    const auto source = dir.path() / "source.wav", target = dir.path() / "saved.wav";
    st::WriteBytes(source, c.bytes);
    mt::RecordingNotifier notes;
    auto model = st::OpenModel(source, dir.path());
    EXPECT_EQ(model->GetDataChunkSize(), c.size);
    if (c.size > 0) {
      EXPECT_EQ(model->GetDataChunkPos(), model->DataPos.offset);
    }
    notes.lines.clear();
    const int result = SaveToFile(*model, target, source);
    if (!c.saved) {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(notes.lines, std::vector<std::string>{"E:読み出しエラーが発生しました。"});
      EXPECT_FALSE(fs::exists(target));
      continue;
    }
    EXPECT_EQ(result, 0) << testing::PrintToString(notes.lines);
    if (result != 0) continue;
    const Bytes saved = st::ReadBytes(target);
    bool whole = false;
    const auto chunks = st::Walk(saved, &whole);
    EXPECT_TRUE(whole);
    const Bytes samples(
        c.bytes.begin() + static_cast<std::ptrdiff_t>(model->DataPos.offset),
        c.bytes.begin() + static_cast<std::ptrdiff_t>(model->DataPos.offset + c.size));
    EXPECT_EQ(st::ChunkData(saved, "data"), samples);
    // Every other chunk of the source is carried with its bytes.
    for (const st::TopChunk& k : st::Walk(c.bytes)) {
      if (k.dataOffset + k.size <= c.bytes.size() && k.id != "junk") {
        EXPECT_EQ(st::ChunkData(saved, k.id), st::ChunkData(c.bytes, k.id)) << k.id;
      }
    }
    const size_t junk = static_cast<size_t>(std::count_if(
        chunks.begin(), chunks.end(), [](const st::TopChunk& k) { return k.id == "junk"; }));
    EXPECT_EQ(junk, std::string(c.what).rfind("65,537", 0) == 0 ? bwf::kScanTableLimit + 1 : 0u);
    Opened back(saved);
    EXPECT_EQ(back.model->DataPos.size, c.size);
  }
}

// A 4 GB file of zeros (sparse: no disk space) is no wave: every reader refuses it at its first
// header, as the disc viewer reads each file of its folder.
TEST(BwfRead, AFileOfZerosIsNoWave) {
  const auto path =
      std::filesystem::temp_directory_path() / ("vb_zeros_" + std::to_string(::getpid()) + ".wav");
  std::error_code ec;
  { std::ofstream(path, std::ios::binary); }
  std::filesystem::resize_file(path, uint64_t{4} << 30, ec);
  if (ec) {
    std::filesystem::remove(path);
    GTEST_SKIP() << "no sparse files here: " << ec.message();
  }
  RecordingNotifier notes;
  for (int mode : {TBWFChunck::kReopenPerRead, TBWFChunck::kKeepOpen}) {
    TBWFChunck m(path, mode);
    ReadModelInOrder(m);
    EXPECT_EQ(m.GetFileKind(), 0);
    EXPECT_EQ(m.DataPos.size, 0u);
    EXPECT_EQ(m.CheckFormat(), -1);
    m.ScanChunks(path);
    EXPECT_TRUE(m.ChunkTable.empty());
  }
  std::filesystem::remove(path);
}

TEST(BwfRead, CheckFormatMessages) {
  RecordingNotifier notes;
  const std::string riff =
      "W:RIFF情報に異常があるか、処理できないファイルサイズです。処理を中止します。";
  const std::string format = "W:規定外のフォーマットです。処理を中止します。";
  const std::string rate = "W:規定外のサンプリング周波数です。処理を続けます。";
  struct Case {
    const char* what;
    Bytes bytes;
    int result;
    std::vector<std::string> lines;
  };
  const std::vector<Chunk> good = {vb::Fmt(), vb::Data(4)};
  const Case cases[] = {
      {"valid", vb::Build(good), 0, {}},
      {"form size 268,435,456", vb::Build(good, 268435456u), 0, {}},
      {"form size 268,435,457", vb::Build(good, 268435457u), -1, {riff}},
      {"top bit set", vb::Build(good, 0xFFFFFFFFu), -1, {riff}},
      {"format tag 3", vb::Build({vb::Fmt(48000, 2, 32, 3), vb::Data(4)}), -1, {format}},
      {"no fmt", vb::Build({vb::Data(4)}), -1, {format}},
      {"44.1 kHz", vb::Build({vb::Fmt(44100), vb::Data(4)}), 0, {rate}},
      {"shorter than a header", Bytes{'R', 'I', 'F', 'F'}, -1, {riff}},
  };
  for (const auto& c : cases) {
    notes.lines.clear();
    vb::TempFile f(c.bytes);
    TBWFChunck m(f.path(), TBWFChunck::kKeepOpen);
    EXPECT_EQ(m.CheckFormat(), c.result) << c.what;
    EXPECT_EQ(notes.lines, c.lines) << c.what;
  }
}

TEST(BwfRead, FilesThatCannotBeOpened) {
  TBWFChunck missing("/nonexistent/dir/x.wav", TBWFChunck::kKeepOpen);
  EXPECT_EQ(missing.GetState(), TBWFChunck::kNotOpen);
  EXPECT_EQ(missing.ReadRiffHeader(), -1);
  EXPECT_EQ(missing.ReadFmtChunk(), 0);
  EXPECT_EQ(missing.ReadCueChunks(), 0);
  EXPECT_EQ(missing.GetFileKind(), 0);
  EXPECT_EQ(missing.FileName, "x.wav");
  // The name is CP932 like every other text of the model, cut at a character boundary.
  EXPECT_EQ(TBWFChunck("/nonexistent/テスト.wav", 0).FileName, vb::kSjisTitle + ".wav");
  std::string utf8, cp932;
  for (int i = 0; i < 130; ++i) utf8 += "あ", cp932 += "\x82\xA0";
  EXPECT_EQ(TBWFChunck("/nonexistent/" + utf8, 0).FileName, cp932.substr(0, 258));

  // Reopen-per-read: the file vanishes after construction; the next read finds nothing.
  auto file = std::make_unique<vb::TempFile>(vb::Build({vb::Fmt(), vb::Data(4)}));
  TBWFChunck m(file->path(), TBWFChunck::kReopenPerRead);
  EXPECT_EQ(m.GetState(), TBWFChunck::kClosed);
  EXPECT_EQ(m.ReadFmtChunk(), 1);
  EXPECT_EQ(m.GetState(), TBWFChunck::kClosed);
  file.reset();
  EXPECT_EQ(m.ReadDataChunk(), 0);
  EXPECT_EQ(m.GetState(), TBWFChunck::kNotOpen);
  EXPECT_EQ(m.GetFileKind(), 3);
}

}  // namespace
