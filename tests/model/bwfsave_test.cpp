#include "bwfsave.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "notifyrecorder.h"
#include "powercut.h"
#include "savetest.h"
#include "scratchfolder.h"
#include "stagedlock.h"

namespace fs = std::filesystem;
using st::FaultyLayer;
using vb::Bytes;
using vb::Chunk;

namespace {

// A source in a scratch folder, its model, and a save of it to `target` (the source by default).
struct Scene {
  explicit Scene(const Bytes& bytes, const std::string& target_name = "out.wav") {
    fs::create_directories(temp_folder);
    source = dir.path() / "source.wav";
    target = dir.path() / target_name;
    st::WriteBytes(source, bytes);
    model = st::OpenModel(source, temp_folder);
  }
  int Save() { return SaveToFile(*model, target, source); }
  // What lies in the temporary folder and beside the target besides the source and target.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> out;
    for (const auto& folder : {dir.path(), temp_folder}) {
      for (const auto& e : fs::directory_iterator(folder)) {
        const auto p = e.path();
        if (p != source && p != target && p != temp_folder && !kept.count(p.filename())) {
          out.push_back(p.filename().string());
        }
      }
    }
    return out;
  }
  vant::testing::ScratchFolder dir{"vant-save"};
  fs::path temp_folder = dir.path() / "tmp";
  fs::path source, target;
  std::set<std::string> kept;
  std::unique_ptr<TBWFChunck> model;
  NotifyRecorder notes;
  st::NoticeRecorder notices;
  st::ProgressRecorder progress;
};

Bytes Samples(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  return b;
}

// The model's reading of a saved file.
std::unique_ptr<TBWFChunck> Reread(const fs::path& p) {
  auto m = std::make_unique<TBWFChunck>(p, TBWFChunck::kKeepOpen);
  ReadModelInOrder(*m);
  return m;
}

// The sources of the layout table: each with the top-level chunks its saved file must have.
struct LayoutCase {
  const char* name;
  std::vector<Chunk> chunks;
  std::vector<std::string> ids;  // top-level chunks of the saved file
  uint32_t bextSize, cmcdSize;
};
const Bytes kLayoutPcm = Samples(4001);  // odd: the pad byte matters
Chunk InfoList() { return vb::List("INFO", {vb::Raw("INAM", Bytes{'t', 0})}); }

std::vector<LayoutCase> LayoutCases() {
  const Bytes& pcm = kLayoutPcm;
  auto data = [&](const char* id = "data") { return vb::Raw(id, pcm); };
  Chunk info = InfoList();
  Chunk junk = vb::Raw("junk", Bytes(10, 7));
  Chunk cue = vb::CueChunk({{1, 5}});
  Chunk adtl = vb::List("adtl", {vb::Labl(1, "BC$START")});
  Chunk oddTail = vb::Raw("tail", Bytes{1, 2, 3});
  Chunk unpadded = data();
  unpadded.pad = false;
  return {
      {"full file, a chunk after the cue points is carried",
       {vb::Fmt(), vb::Bext("old"), vb::Cmcd(100, {}), data(), cue, junk, adtl},
       {"fmt ", "bext", "cmcd", "data", "junk", "cue ", "plst", "LIST"},
       858,
       2048},
      {"plain wave: new bext first, cmcd appended",
       {vb::Fmt(), data()},
       {"bext", "fmt ", "data", "cmcd", "cue ", "plst", "LIST"},
       858,
       2048},
      {"bext and no cue: an INFO list appended after the samples is carried",
       {vb::Fmt(), vb::Bext("old"), data(), info},
       {"fmt ", "bext", "data", "LIST", "cmcd", "cue ", "plst", "LIST"},
       858,
       2048},
      {"neither bext nor cue: all is copied but old lists",
       {vb::Fmt(), data(), info, vb::Plst({}), adtl},
       {"bext", "fmt ", "data", "LIST", "cmcd", "cue ", "plst", "LIST"},
       858,
       2048},
      {"cue ahead of the samples: the samples are kept",
       {vb::Fmt(), vb::Bext("old"), cue, info, data(), junk},
       {"fmt ", "bext", "LIST", "data", "junk", "cmcd", "cue ", "plst", "LIST"},
       858,
       2048},
      {"upper-case ids keep their spelling and are rewritten in place",
       {vb::Fmt(), vb::Bext("old", 858, "BEXT"), vb::Cmcd(1, {}, 2048, "CMCD"), data("DATA"),
        vb::CueChunk({{1, 5}}, "CUE ")},
       {"fmt ", "BEXT", "CMCD", "DATA", "cue ", "plst", "LIST"},
       858,
       2048},
      {"a small bext keeps its size, a large cmcd its tail",
       {vb::Fmt(), vb::Bext("old", 600), vb::Cmcd(1, {}, 2100), data()},
       {"fmt ", "bext", "cmcd", "data", "cue ", "plst", "LIST"},
       600,
       2100},
      {"a large bext keeps its tail",
       {vb::Fmt(), vb::Bext("old", 1001), data()},
       {"fmt ", "bext", "data", "cmcd", "cue ", "plst", "LIST"},
       1001,
       2048},
      {"bext and cmcd beyond the copy are written anew",
       {vb::Fmt(), data(), cue, vb::Bext("old", 900), vb::Cmcd(1, {}, 2050)},
       {"bext", "fmt ", "data", "cmcd", "cue ", "plst", "LIST"},
       900,
       2050},
      {"INFO after the associated data, an unknown odd chunk at the end: both carried in order",
       {vb::Fmt(), vb::Bext("old"), vb::Cmcd(1, {}), data(), cue, adtl, info, oddTail},
       {"fmt ", "bext", "cmcd", "data", "LIST", "tail", "cue ", "plst", "LIST"},
       858,
       2048},
      {"bext after the samples is written anew first; what follows it is carried",
       {vb::Fmt(), data(), cue, vb::Bext("old"), info, adtl, junk},
       {"bext", "fmt ", "data", "LIST", "junk", "cmcd", "cue ", "plst", "LIST"},
       858,
       2048},
      {"samples without their pad byte at the end of the file",
       {vb::Fmt(), unpadded},
       {"bext", "fmt ", "data", "cmcd", "cue ", "plst", "LIST"},
       858,
       2048},
  };
}

}  // namespace

// Where each chunk of the source ends up: the chunk order, the images in place or new, the
// samples untouched whatever the layout.
TEST(BwfSave, LayoutOfTheSavedFile) {
  const Bytes& pcm = kLayoutPcm;
  for (const LayoutCase& c : LayoutCases()) {
    SCOPED_TRACE(c.name);
    const Bytes src = vb::Build(c.chunks);
    Scene s(src);
    const Bytes source_bext = st::ChunkData(src, c.ids[1] == "BEXT" ? "BEXT" : "bext");
    const Bytes source_cmcd = st::ChunkData(src, c.ids[2] == "CMCD" ? "CMCD" : "cmcd");
    st::EditEverything(*s.model);
    ASSERT_EQ(s.Save(), 0) << testing::PrintToString(s.notes.lines);
    EXPECT_EQ(s.notes.lines, std::vector<std::string>{"I:情報を保存しました。"});
    const Bytes out = st::ReadBytes(s.target);
    bool whole = false;
    const auto top = st::Walk(out, &whole);
    EXPECT_TRUE(whole);
    EXPECT_EQ(st::Ids(top), c.ids);
    const bool upper = std::count(c.ids.begin(), c.ids.end(), "DATA") == 1;
    EXPECT_EQ(st::ChunkData(out, upper ? "DATA" : "data"), pcm);
    EXPECT_EQ(st::ChunkData(out, "cue ").size(), 4 + 24 * s.model->ScanMarkers.size());
    // Carried chunks keep their bytes: the first LIST of each file is the INFO list when there is
    // one, or the new associated data in both.
    for (const char* id : {"junk", "tail", "fmt "}) {
      EXPECT_EQ(st::ChunkData(out, id), st::ChunkData(src, id)) << id;
    }
    if (std::count(c.ids.begin(), c.ids.end(), "LIST") == 2) {
      EXPECT_EQ(st::ChunkData(out, "LIST"), st::ChunkData(vb::Build({InfoList()}), "LIST"));
    }
    for (const auto& t : top) {
      if (t.id == "bext" || t.id == "BEXT") {
        EXPECT_EQ(t.size, c.bextSize);
        const Bytes b = st::ChunkData(out, t.id);
        if (c.bextSize > 858) {  // what lies past the image is the source's
          EXPECT_TRUE(std::equal(b.begin() + 858, b.end(), source_bext.begin() + 858));
        }
      }
      if (t.id == "cmcd" || t.id == "CMCD") {
        EXPECT_EQ(t.size, c.cmcdSize);
        const Bytes b = st::ChunkData(out, t.id);
        if (c.cmcdSize > 2048) {
          EXPECT_TRUE(std::equal(b.begin() + 2048, b.end(), source_cmcd.begin() + 2048));
        }
      }
    }
    const auto back = Reread(s.target);
    EXPECT_EQ(back->BextInfo.GetDescription(), st::kDescription);
    EXPECT_EQ(back->CmcdInfo.GetCmcdVersion(), 123);
    EXPECT_EQ(back->CmcdInfo.Get(bwf::CmcdField::ProductionCode), st::Cut(st::FieldEdit(0), 0));
    if (c.cmcdSize >= 2048) {
      EXPECT_EQ(back->CmcdInfo.Get(bwf::CmcdField::StationComment2), st::FieldEdit(35));
    }
    EXPECT_TRUE(s.Leftovers().empty()) << testing::PrintToString(s.Leftovers());
  }
}

// A power cut at any point of every save of the layout table, over an existing file, to a new
// name and over the source itself: the target, or else its backup, holds the old file or the new
// one, whole.
TEST(BwfSave, PowerCutAtAnyPointLeavesAWholeFile) {
  for (const LayoutCase& c : LayoutCases()) {
    for (const char* target : {"existing", "new", "source"}) {
      SCOPED_TRACE(std::string(c.name) + ", " + target);
      Scene s(vb::Build(c.chunks));
      if (target == std::string("source")) s.target = s.source;
      if (target == std::string("existing")) {
        st::WriteBytes(s.target, vb::Build({vb::Fmt(), vb::Data(10)}));
      }
      std::optional<Bytes> before;
      if (fs::exists(s.target)) before = st::ReadBytes(s.target);
      st::EditEverything(*s.model);
      vant::testing::PowerCutRecorder recorder(s.dir.path());
      ASSERT_EQ(s.Save(), 0);
      const auto faults = vant::testing::Prove(
          recorder, vant::testing::TargetNames(s.target, true),
          vant::testing::ReplacedWhole(s.target, before, st::ReadBytes(s.target), true));
      EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    }
  }
}

// A `bext` smaller than the image is written up to its end and no further: the chunk after it is
// the source's.
TEST(BwfSave, SmallBextIsNeverWrittenPastItsEnd) {
  const Bytes src = vb::Build({vb::Fmt(), vb::Bext("old", 300), vb::Data(100)});
  Scene s(src);
  s.model->BextImage.bytes.fill('Z');
  ASSERT_EQ(s.Save(), 0);
  const Bytes out = st::ReadBytes(s.target);
  EXPECT_EQ(st::ChunkData(out, "bext"), Bytes(300, 'Z'));
  EXPECT_EQ(st::ChunkData(out, "data"), Bytes(100, 0x11));
}

// Cue points, play list and labels with one attachment added and one deleted; labels longer than
// the 16 bytes the model keeps are copied whole.
TEST(BwfSave, MarkersAndAttachments) {
  const std::string long_label = "a label much longer than sixteen bytes, kept whole";
  std::vector<Chunk> chunks = vb::FullVantChunks(4000);
  chunks[4] = vb::CueChunk(
      {{1, 0}, {2, 48}, {3, 96}, {4, 100}, {vb::Note(1), 0}, {vb::Note(2), 0}, {7, 9}});
  chunks[5] = vb::Plst({{2, 100, 1}, {vb::Note(2), 5, 1}});
  chunks[6].subs.insert(chunks[6].subs.begin() + 6, vb::Labl(7, long_label));
  chunks[6].subs.push_back(vb::Raw("note", Bytes{1, 2, 3, 4}));  // neither labl nor file: dropped
  Scene s(vb::Build(chunks));
  const fs::path added = s.dir.path() / "added.csv";
  st::WriteBytes(added, Bytes{'x', ',', 'y', '\r', '\n', 'z'});
  uint32_t id = 0;
  ASSERT_EQ(AddAttachment(*s.model, added, id), 3);
  SetDeleteList(*s.model, DeleteAttachment(*s.model, vb::kSjisCsvName) + "\r\n");
  ASSERT_EQ(s.Save(), 0);

  const Bytes out = st::ReadBytes(s.target);
  const Bytes cue = st::ChunkData(out, "cue ");
  ASSERT_EQ(cue.size(), 4u + 24 * 7);
  EXPECT_EQ(cue[0], 7);  // four marks, NOT1, the long label's point, NOT3; NOT2 is gone
  EXPECT_EQ(st::ChunkData(out, "plst"),
            st::ChunkData(vb::Build({vb::Plst({{2, 100, 1}})}), "plst"));

  const Chunk want =
      vb::List("adtl", {vb::Labl(1, "BC$START"), vb::Labl(2, "BC$STANDBY"), vb::Labl(3, "BC$END"),
                        vb::Labl(4, "BC$STOP"), vb::Labl(vb::Note(1), "BC$NOTE1"),
                        vb::Labl(7, long_label), vb::Labl(vb::Note(3), "BC$NOTE3"),
                        vb::File(vb::Note(1), "contact.pdf", vb::PdfBytes()),
                        vb::File(vb::Note(3), "added.csv", st::ReadBytes(added))});
  EXPECT_EQ(st::ChunkData(out, "LIST"), st::ChunkData(vb::Build({want}), "LIST"));

  const auto back = Reread(s.target);
  back->MarkerCount = static_cast<int>(back->CuePointCount);
  std::vector<std::string> csv;
  back->GetCsvList(csv);
  EXPECT_EQ(csv, std::vector<std::string>{"added.csv"});
  EXPECT_EQ(back->GetEndPos(), 96);
}

// An attachment deleted and a new one added under its freed number in the same save: the shared
// cue point goes with the deletion, the new label and file stay and read back as an attachment.
TEST(BwfSave, NumberFreedAndReusedInOneSave) {
  std::vector<Chunk> chunks = vb::FullVantChunks(400);
  Scene s(vb::Build(chunks));
  SetDeleteList(*s.model, DeleteAttachment(*s.model, "contact.pdf"));
  const fs::path added = s.dir.path() / "new.pdf";
  st::WriteBytes(added, Bytes{'%', 'P', 'D', 'F'});
  uint32_t id = 0;
  ASSERT_EQ(AddAttachment(*s.model, added, id), 1);
  ASSERT_EQ(s.Save(), 0);
  const auto back = Reread(s.target);
  back->MarkerCount = static_cast<int>(back->CuePointCount);
  std::vector<std::string> pdf;
  back->GetPdfList(pdf);
  EXPECT_EQ(pdf, std::vector<std::string>{"new.pdf"});
  EXPECT_EQ(ExtractPdfTo(*back, "new.pdf", s.dir.path() / "x.pdf"),
            (s.dir.path() / "x.pdf").string());
  EXPECT_EQ(st::ReadBytes(s.dir.path() / "x.pdf"), st::ReadBytes(added));

  // The saved file, opened again: its NOTE1 has no cue point now, yet its number stays taken, so
  // a further attachment neither shares its cue id nor hides it.
  auto again = st::OpenModel(s.target, s.temp_folder);
  const fs::path third = s.dir.path() / "third.pdf";
  st::WriteBytes(third, Bytes{'%', '3'});
  EXPECT_EQ(AddAttachment(*again, third, id), 3);  // NOTE2 is the stored CSV
  ASSERT_EQ(SaveToFile(*again, s.target, s.target), 0);
  const auto last = Reread(s.target);
  last->MarkerCount = static_cast<int>(last->CuePointCount);
  last->GetPdfList(pdf);
  EXPECT_EQ(pdf, (std::vector<std::string>{"new.pdf", "third.pdf"}));
}

// What the owner sees of a save that works: the progress in order, the message loop during the
// copy, one notice and one message, the model's file open again; over the open source itself too.
TEST(BwfSave, ProgressNoticeAndReopenedModel) {
  for (bool over_source : {false, true}) {
    SCOPED_TRACE(over_source);
    Scene s(vb::Build(vb::FullVantChunks(3 * 1024 * 1024)));
    if (over_source) s.target = s.source;
    const Bytes old = st::ReadBytes(s.source);
    st::EditEverything(*s.model);
    ASSERT_EQ(s.Save(), 0);
    EXPECT_EQ(s.progress.caption, "書き込み中　");
    EXPECT_FALSE(s.progress.shown);
    EXPECT_TRUE(std::is_sorted(s.progress.values.begin(), s.progress.values.end()));
    EXPECT_EQ(s.progress.values.front(), 0);
    EXPECT_EQ(s.progress.values.back(), 99);
    for (int v : {5, 10, 20, 50, 70, 80, 90}) {
      EXPECT_NE(std::find(s.progress.values.begin(), s.progress.values.end(), v),
                s.progress.values.end())
          << v;
    }
    EXPECT_GE(s.progress.pumps, 3);  // once at the start, and during each of the two copies
    EXPECT_EQ(s.progress.timers, 1);
    EXPECT_EQ(s.notices.editions, std::vector<int>{2});
    EXPECT_EQ(s.model->GetState(), TBWFChunck::kOpen);
    // The handle is open again on the model's own path: over the source, on the new file.
    TBextInfo b;
    s.model->GetBextChunk(b);
    EXPECT_EQ(b.GetDescription(), over_source ? st::kDescription : "remarks here");
    EXPECT_EQ(st::ChunkData(st::ReadBytes(s.target), "data"), st::ChunkData(old, "data"));
    EXPECT_TRUE(s.Leftovers().empty());
  }
}

// A file already named like the backup is left alone; a target inside the temporary folder gets
// a temporary file of another name.
TEST(BwfSave, ExistingBackupNameAndTargetInTheTemporaryFolder) {
  const Bytes src = vb::Build(vb::FullVantChunks(1000));
  {
    Scene s(src);
    st::WriteBytes(s.target, Bytes{'o', 'l', 'd'});
    st::WriteBytes(s.target.string() + "~", Bytes{'m', 'i', 'n', 'e'});
    s.kept = {"out.wav~"};
    ASSERT_EQ(s.Save(), 0);
    EXPECT_EQ(st::ReadBytes(s.target.string() + "~"), (Bytes{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(st::ChunkData(st::ReadBytes(s.target), "data"), st::ChunkData(src, "data"));
    EXPECT_TRUE(s.Leftovers().empty()) << testing::PrintToString(s.Leftovers());
  }
  {
    Scene s(src);
    s.target = s.temp_folder / "vant-save-XXXXXX.tmp";
    ASSERT_EQ(s.Save(), 0);
    EXPECT_EQ(st::ChunkData(st::ReadBytes(s.target), "data"), st::ChunkData(src, "data"));
    EXPECT_TRUE(s.Leftovers().empty()) << testing::PrintToString(s.Leftovers());
  }
}

// The save's staged files keep their locks until they leave their names: the copy beside the
// target until its rename over the target, the file in the temporary folder until its removal.
// A cleaner that took a lock in between would remove a live file.
TEST(BwfSave, StagedFilesAreLockedUntilTheyLeaveTheirNames) {
  for (bool exists : {false, true}) {
    SCOPED_TRACE(exists);
    Scene s(vb::Build(vb::FullVantChunks(1000)));
    if (exists) st::WriteBytes(s.target, Bytes{'o', 'l', 'd'});
    vant::testing::StagedLockLayer layer({".part", ".tmp"});
    ASSERT_EQ(s.Save(), 0) << testing::PrintToString(s.notes.lines);
    EXPECT_EQ(layer.seen,
              (std::vector<std::string>{"rename *.part: locked", "remove *.tmp: locked"}));
  }
}

// A target name as long as a folder entry can hold, new and over an existing file.
TEST(BwfSave, LongestTargetName) {
  std::string name;
  for (int i = 0; i < 83; ++i) name += "音";  // 249 bytes
  name += ".wav";
  for (bool exists : {false, true}) {
    SCOPED_TRACE(exists);
    Scene s(vb::Build(vb::FullVantChunks(1000)), name);
    if (exists) st::WriteBytes(s.target, Bytes{'o', 'l', 'd'});
    ASSERT_EQ(s.Save(), 0) << testing::PrintToString(s.notes.lines);
    EXPECT_EQ(st::ChunkData(st::ReadBytes(s.target), "data"), Bytes(1000, 0x11));
    EXPECT_TRUE(s.Leftovers().empty()) << testing::PrintToString(s.Leftovers());
  }
}

// Every failure: the target keeps its bytes, no success message, no notice, nothing left behind.
TEST(BwfSave, FaultsLeaveTheTargetAsItWas) {
  using F = FaultyLayer;
  struct Case {
    const char* name;
    F::Op op;
    int nth;
    const char* match;  // a part of the failing file's path
    int error;
    int result;
    std::string message;
    const char* target = "out.wav";  // "=": the source itself; "tmp/...": in the temporary folder
  };
  const std::string copy_msg = std::string("E:") + kMsgSaveCopy;
  const std::string temp_full = std::string("W:") + kMsgSaveTempShort;
  const std::string target_full = std::string("W:") + kMsgSaveTargetShort;
  const Case cases[] = {
      {"temporary folder not writable", F::kCreateTemp, 1, "vant-save-", EACCES, -1,
       "W:保存用ファイルをオープンできません。"},
      {"no space in the middle of the copy", F::kCopy, 2, "vant-save-", ENOSPC, kSaveNoRoom,
       temp_full},
      {"no space writing the cue points", F::kWrite, 2, "vant-save-", ENOSPC, kSaveNoRoom,
       temp_full},
      {"over quota writing the cue points", F::kWrite, 2, "vant-save-", EDQUOT, kSaveNoRoom,
       temp_full},
      {"the temporary file fails otherwise", F::kWrite, 2, "vant-save-", EIO, -1,
       "E:書き込みエラーが発生しました。"},
      {"the new file cannot be closed", F::kClose, 1, "vant-save-", EIO, -1,
       "E:書き込みエラーが発生しました。"},
      {"the source cannot be read", F::kRead, 1, "source.wav", EIO, -1,
       "E:読み出しエラーが発生しました。"},
      {"no room beside the target", F::kCreateTemp, 1, ".out.wav.", ENOSPC, kSaveNoRoom,
       target_full},
      {"the copy beside the target fills the disc", F::kCopy, 2, ".part", ENOSPC, kSaveNoRoom,
       target_full},
      {"the copy beside the target fails", F::kCopy, 2, ".part", EIO, -1, copy_msg},
      {"the copy's last blocks find no room", F::kFsync, 1, ".part", EDQUOT, kSaveNoRoom,
       target_full},
      {"the copy cannot be synced", F::kFsync, 1, ".part", EIO, -1, copy_msg},
      {"the copy cannot be closed", F::kClose, 1, ".part", EIO, -1, copy_msg},
      {"the target cannot be renamed", F::kRename, 1, "out.wav>", EACCES, 1,
       "E:ファイル名の変更ができません。"},
      {"the copy cannot be moved in", F::kRename, 1, ".part>", EIO, 1, copy_msg},
      {"the folder cannot be synced", F::kSyncFolder, 1, "", EIO, 1, copy_msg},
      {"over the source, the copy cannot be synced", F::kFsync, 1, ".part", EIO, -1, copy_msg, "="},
      {"in the temporary folder, rename fails", F::kRename, 1, "", EIO, 1,
       "E:ファイル名の変更ができません。", "tmp/out.wav"},
  };
  const Bytes src = vb::Build(vb::FullVantChunks(600 * 1024));
  const Bytes old_target = vb::Build({vb::Fmt(), vb::Data(10)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s(src);
    if (std::string(c.target) == "=") s.target = s.source;
    if (std::string(c.target).starts_with("tmp/")) s.target = s.temp_folder / "out.wav";
    if (s.target != s.source) st::WriteBytes(s.target, old_target);
    const Bytes before = st::ReadBytes(s.target);
    st::EditEverything(*s.model);
    FaultyLayer layer(c.op, c.nth, c.match, c.error);
    EXPECT_EQ(s.Save(), c.result);
    EXPECT_TRUE(layer.fired);
    EXPECT_EQ(st::ReadBytes(s.target), before);
    EXPECT_EQ(s.notes.lines, std::vector<std::string>{c.message});
    EXPECT_TRUE(s.notices.editions.empty());
    // A stop closes the progress window at once; a failed replacement still starts its timer.
    EXPECT_EQ(s.progress.values.back(), c.result < 0 ? 100 : 99);
    EXPECT_EQ(s.progress.timers, c.result < 0 ? 0 : 1);
    EXPECT_TRUE(s.Leftovers().empty()) << testing::PrintToString(s.Leftovers());
    EXPECT_TRUE(fs::exists(s.source));
  }
}

// The planned length is the length of the file the save then writes, and planning changes
// nothing. A plain WAV of 576,044 bytes grows by 2,958 bytes: a new `bext` (866), a `cmcd`
// (2,056) and empty `cue `, `plst` and `LIST` `adtl` chunks (12 each).
TEST(BwfSave, PlannedSizeIsWhatTheSaveWrites) {
  struct Case {
    const char* name;
    Bytes source;
    int pending;      // attachments of 1,001 bytes added before the save
    int64_t planned;  // -1: measured from the saved file
  } cases[] = {
      {"plain WAV", vb::Build({vb::Fmt(), vb::Data(576000)}), 0, 576044 + 2958},
      {"plain WAV, two attachments", vb::Build({vb::Fmt(), vb::Data(576000)}), 2, -1},
      {"full commercial", vb::Build(vb::FullVantChunks(48000)), 0, -1},
      {"full commercial, one attachment", vb::Build(vb::FullVantChunks(48000)), 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s(c.source);
    std::vector<fs::path> pending;
    for (int i = 0; i < c.pending; ++i) {
      pending.push_back(s.dir.path() / ("sheet" + std::to_string(i) + ".csv"));
      st::WriteBytes(pending.back(), Bytes(1001, 'x'));
    }
    const size_t markers = s.model->ScanMarkers.size(), entries = s.model->ListTable.size();
    const int64_t planned = PlannedSaveSize(*s.model, s.source, pending);
    EXPECT_EQ(s.model->ScanMarkers.size(), markers);
    EXPECT_EQ(s.model->ListTable.size(), entries);
    EXPECT_TRUE(s.notes.lines.empty());
    for (const fs::path& p : pending) {
      uint32_t id = 0;
      ASSERT_GT(AddAttachment(*s.model, p, id), 0);
    }
    ASSERT_EQ(s.Save(), 0);
    EXPECT_EQ(planned, static_cast<int64_t>(fs::file_size(s.target)));
    if (c.planned >= 0) {
      EXPECT_EQ(planned, c.planned);
    }
  }
  Scene gone(vb::Build({vb::Fmt(), vb::Data(100)}));
  fs::remove(gone.source);
  EXPECT_EQ(PlannedSaveSize(*gone.model, gone.source), -1);
  EXPECT_TRUE(gone.notes.lines.empty());
}

// Failures found before anything is written: no temporary file is ever made.
TEST(BwfSave, RefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    std::function<void(Scene&)> arrange;
    std::string message;
  };
  const Case cases[] = {
      {"a pending attachment vanished",
       [](Scene& s) {
         const fs::path p = s.dir.path() / "gone.pdf";
         st::WriteBytes(p, Bytes{1});
         uint32_t id;
         AddAttachment(*s.model, p, id);
         fs::remove(p);
       },
       "E:ファイルが見つかりません。\n/tmp/vant-save-"},
      {"the source is shorter than its chunks",
       [](Scene& s) { fs::resize_file(s.source, 4000); },  // inside the samples
       "E:読み出しエラーが発生しました。"},
      {"the source changed since the scan",
       [](Scene& s) {
         st::WriteBytes(s.source, vb::Build({vb::Fmt(), vb::Data(8)}));
       },
       "E:読み出しエラーが発生しました。"},
      {"the model was never scanned", [](Scene& s) { s.model->ClearChunkTable(); },
       "E:読み出しエラーが発生しました。"},
      {"the target is read-only", [](Scene& s) { chmod(s.target.c_str(), 0444); },
       std::string("W:") + kMsgSaveReadOnly},
      {"the result would pass the form-size limit",
       [](Scene& s) {
         const fs::path p = s.dir.path() / "huge.pdf";
         st::WriteBytes(p, Bytes{1});
         fs::resize_file(p, 268435456);  // sparse
         uint32_t id;
         AddAttachment(*s.model, p, id);
       },
       std::string("E:") + kMsgSaveTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s(vb::Build(vb::FullVantChunks(4000)));
    st::WriteBytes(s.target, Bytes{'k', 'e', 'e', 'p'});
    c.arrange(s);
    FaultyLayer counting;
    EXPECT_EQ(s.Save(), -1);
    EXPECT_EQ(counting.temps, 0);
    EXPECT_EQ(st::ReadBytes(s.target), (Bytes{'k', 'e', 'e', 'p'}));
    ASSERT_EQ(s.notes.lines.size(), 1u);
    EXPECT_TRUE(s.notes.lines[0].starts_with(c.message)) << s.notes.lines[0];
    EXPECT_TRUE(s.notices.editions.empty());
  }
}

// Past the directory's limit the chunks a save carries as they are travel as runs, so a file of
// very many chunks is saved whole; where the tables still cannot hold what a save would keep
// (runs broken up without end, cue points or labels past the limit), the save is refused.
TEST(BwfSave, ChunksPastTheTablesAreCarriedOrTheSaveIsRefused) {
  const uint32_t limit = bwf::kScanTableLimit;
  const Chunk junk = vb::Raw("junk", {});
  std::vector<Chunk> fill(limit, junk);  // with `fmt ` one past the limit
  auto with = [&](std::vector<Chunk> tail) {
    std::vector<Chunk> chunks = {vb::Fmt()};
    chunks.insert(chunks.end(), fill.begin(), fill.end());
    chunks.insert(chunks.end(), tail.begin(), tail.end());
    return vb::Build(chunks);
  };
  const Chunk oldCue = vb::CueChunk({{7, 70}});
  const Chunk oldList = vb::List("adtl", {vb::Labl(7, "OLD")});
  std::vector<Chunk> broken;
  for (uint32_t i = 0; i < limit; ++i) {
    broken.push_back(junk);
    broken.push_back(vb::Raw("cue ", {}));
  }
  broken.push_back(vb::Data(400, 0x5A));
  std::vector<vb::Cue> cues;
  std::vector<Chunk> labels;
  for (uint32_t i = 1; i <= limit + 1; ++i) cues.push_back({i, i});
  for (uint32_t i = 1; i <= limit + 1; ++i) labels.push_back(vb::Labl(1, "x"));

  struct Case {
    const char* what;
    Bytes bytes;
    bool saved;
  };
  const Case cases[] = {
      {"cue points, lists and samples among the runs",
       with({junk, oldCue, junk, junk, oldCue, vb::Data(400, 0x5A), junk, oldList, junk}), true},
      {"runs broken up past any limit", with(broken), false},
      {"more cue points than the table holds",
       vb::Build({vb::Fmt(), vb::Data(400, 0x5A), vb::CueChunk(cues)}), false},
      {"more labels than the table holds",
       vb::Build({vb::Fmt(), vb::Data(400, 0x5A), vb::List("adtl", labels)}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene s(c.bytes);
    s.notes.lines.clear();
    if (!c.saved) {
      EXPECT_EQ(s.Save(), -1);
      EXPECT_EQ(s.notes.lines, std::vector<std::string>{"E:読み出しエラーが発生しました。"});
      EXPECT_FALSE(fs::exists(s.target));
      continue;
    }
    ASSERT_EQ(s.Save(), 0) << testing::PrintToString(s.notes.lines);
    const Bytes out = st::ReadBytes(s.target);
    bool whole = false;
    const auto ids = st::Ids(st::Walk(out, &whole));
    EXPECT_TRUE(whole);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "junk"), limit + 5);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "cue "), 1);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "LIST"), 1);
    EXPECT_EQ(st::ChunkData(out, "data"), Bytes(400, 0x5A));
    // The new cue chunk holds the file's one cue point, labelled as before.
    TBWFChunck back(s.target, TBWFChunck::kKeepOpen);
    ReadModelInOrder(back);
    ASSERT_EQ(back.CuePointCount, 1u);
    EXPECT_EQ(back.Markers[0].Label(), "OLD");
  }
}
