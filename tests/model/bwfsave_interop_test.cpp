// Saved files judged by public tools: every readable fixture, hand-made and tool-made, is edited
// in every field, gains one attachment, loses one where it has one, is saved and read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "notifyrecorder.h"
#include "savetest.h"
#include "scratchfolder.h"

namespace fs = std::filesystem;
using vb::Bytes;

namespace {

// Runs a command through the shell; its exit code, with standard output in `out`.
int Shell(const std::string& command, std::string& out) {
  out.clear();
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Matches(const std::string& text, const std::regex& re) {
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
       ++it) {
    out.push_back((*it)[1].str());
  }
  return out;
}

struct Source {
  std::string name;
  Bytes bytes;
};

std::vector<Source> Sources() {
  std::vector<Source> out;
  out.push_back({"hand-full", vb::Build(vb::FullVantChunks(48000 * 4))});
  out.push_back({"hand-plain", vb::Build({vb::Fmt(), vb::Data(4800, 0x35)})});
  // Layouts of metadata editors and audio tools: lists and chunks of their own after the samples
  // or after the associated data.
  const vb::Chunk info = vb::List("INFO", {vb::Raw("INAM", vb::Bytes{'n', 'a', 'm', 'e', 0}),
                                           vb::Raw("IART", vb::Bytes{'o', 'd', 'd', 0, 'x'})});
  std::vector<vb::Chunk> full = vb::FullVantChunks(48000 * 4);
  std::vector<vb::Chunk> info_after_data = full;
  info_after_data.insert(info_after_data.begin() + 4, info);
  out.push_back({"hand-info-after-data", vb::Build(info_after_data)});
  std::vector<vb::Chunk> info_after_adtl = full;
  info_after_adtl.push_back(info);
  info_after_adtl.push_back(vb::Raw("xtra", vb::Bytes{9, 8, 7}));
  out.push_back({"hand-info-and-unknown-after-adtl", vb::Build(info_after_adtl)});
  out.push_back({"hand-bext-after-data",
                 vb::Build({vb::Fmt(), vb::Data(4800, 0x35), vb::Bext("after", 900), info})});
  const fs::path dir = fs::path(VANT_SOURCE_DIR) / "tests/fixtures/interop";
  for (const char* f :
       {"sox-plain.wav", "sox-odd8.wav", "sox-empty.wav", "sox-44k.wav", "ffmpeg-info.wav",
        "ffmpeg-bext637.wav", "ffmpeg-bextlong.wav", "python-odd.wav", "sndfile-cue.wav"}) {
    out.push_back({f, st::ReadBytes(dir / f)});
  }
  return out;
}

}  // namespace

TEST(BwfSaveInterop, EveryFixtureRoundTrips) {
  for (const Source& src : Sources()) {
    SCOPED_TRACE(src.name);
    ASSERT_FALSE(src.bytes.empty());
    vant::testing::ScratchFolder dir("vant-save-interop");
    const fs::path source = dir.path() / "source.wav", target = dir.path() / "saved.wav";
    fs::create_directories(dir.path() / "tmp");
    st::WriteBytes(source, src.bytes);
    NotifyRecorder notes;
    st::NoticeRecorder notices;
    auto model = st::OpenModel(source, dir.path() / "tmp");
    ASSERT_EQ(model->CheckFormat(), 0);
    notes.lines.clear();

    st::EditEverything(*model);
    const fs::path memo = dir.path() / "memo.csv";
    st::WriteBytes(memo, Bytes{'a', ',', 0x83, 0x65, '\r', '\n'});
    uint32_t id = 0;
    ASSERT_GT(AddAttachment(*model, memo, id), 0);
    std::vector<std::string> before;
    model->GetPdfList(before);
    std::string deleted_name;
    if (!before.empty()) {
      deleted_name = before.front();
      SetDeleteList(*model, DeleteAttachment(*model, deleted_name));
    }
    ASSERT_EQ(SaveToFile(*model, target, source), 0) << testing::PrintToString(notes.lines);
    EXPECT_EQ(notices.editions.size(), 1u);

    // Our reader sees every edit.
    TBWFChunck back(target, TBWFChunck::kKeepOpen);
    ASSERT_EQ(back.CheckFormat(), 0);
    ReadModelInOrder(back);
    EXPECT_EQ(back.BextInfo.GetDescription(), st::kDescription);
    EXPECT_EQ(back.CmcdInfo.GetCmcdVersion(), 123);
    for (int f = 0; f < bwf::kCmcdFieldCount; ++f) {
      EXPECT_EQ(back.CmcdInfo.Get(static_cast<bwf::CmcdField>(f)), st::Cut(st::FieldEdit(f), f));
    }
    std::vector<std::string> csv, pdf;
    back.GetCsvList(csv);
    back.GetPdfList(pdf);
    EXPECT_NE(std::find(csv.begin(), csv.end(), "memo.csv"), csv.end());
    if (!deleted_name.empty()) {
      EXPECT_EQ(std::find(pdf.begin(), pdf.end(), deleted_name), pdf.end());
    }

    // The samples are the source's, as libsndfile reads them, and as bytes.
    const Bytes out = st::ReadBytes(target);
    const bool upper = st::ChunkData(out, "data").empty();
    EXPECT_EQ(st::ChunkData(out, upper ? "DATA" : "data"),
              st::ChunkData(src.bytes, upper ? "DATA" : "data"));
    std::string text;
    if (model->DataPos.size > 0) {
      EXPECT_EQ(Shell("sndfile-cmp '" + source.string() + "' '" + target.string() + "'", text), 0)
          << text;
    }

    // libsndfile walks every chunk where it should be.
    EXPECT_EQ(Shell("sndfile-info '" + target.string() + "'", text), 0);
    for (const char* bad : {"Resynching", "Exiting parser", "Unknown chunk marker", "Error"}) {
      EXPECT_EQ(text.find(bad), std::string::npos) << text;
    }

    // Every chunk of the source that the save does not write anew is there with its bytes, in
    // the source's order.
    std::vector<std::string> carried;
    for (const auto& c : st::Walk(src.bytes)) {
      const Bytes d(src.bytes.begin() + c.dataOffset,
                    src.bytes.begin() + std::min<size_t>(src.bytes.size(), c.dataOffset + c.size));
      const bool rewritten =
          c.id == "cue " || c.id == "CUE " || c.id == "plst" || c.id == "PLST" || c.id == "bext" ||
          c.id == "BEXT" || c.id == "cmcd" || c.id == "CMCD" ||
          (c.id == "LIST" && d.size() >= 4 && std::equal(d.begin(), d.begin() + 4, "adtl"));
      if (!rewritten) carried.push_back(std::string(d.begin(), d.end()));
    }
    std::vector<std::string> saved;
    for (const auto& c : st::Walk(out)) {
      saved.push_back(
          std::string(out.begin() + c.dataOffset,
                      out.begin() + std::min<size_t>(out.size(), c.dataOffset + c.size)));
    }
    auto next = saved.begin();
    for (const std::string& c : carried) {
      next = std::find(next, saved.end(), c);
      EXPECT_NE(next, saved.end()) << "a chunk of " << c.size() << " bytes is lost or out of order";
      if (next == saved.end()) break;
      ++next;
    }

    // ffprobe reads the new Description.
    EXPECT_EQ(Shell("ffprobe -v error -show_entries format_tags=comment -of default=nw=1:nk=1 '" +
                        target.string() + "'",
                    text),
              0);
    EXPECT_EQ(text, st::kDescription + "\n");

    // mediainfo's trace: the chunks we wrote, in the saved order; labels before files.
    ASSERT_EQ(Shell("mediainfo --Details=1 '" + target.string() + "'", text), 0);
    const auto top = Matches(text, std::regex("\n[0-9A-F]+ {4}Name: +([^\n]{4})"));
    const auto subs = Matches(text, std::regex("\n[0-9A-F]+ {5}Name: +([^\n]{4})"));
    bool whole = false;
    const auto ids = st::Ids(st::Walk(out, &whole));
    EXPECT_TRUE(whole);
    if (model->DataPos.size > 0) {
      EXPECT_EQ(top, ids);
    } else {  // mediainfo ends its trace at empty samples
      ASSERT_LE(top.size(), ids.size());
      EXPECT_TRUE(std::equal(top.begin(), top.end(), ids.begin()));
    }
    ASSERT_GE(ids.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(ids.end() - 3, ids.end()),
              (std::vector<std::string>{"cue ", "plst", "LIST"}));
    if (!model->Present.bext) {
      EXPECT_EQ(ids.front(), "bext");
    }
    EXPECT_EQ(
        std::count(ids.begin(), ids.end(), "cmcd") + std::count(ids.begin(), ids.end(), "CMCD"), 1);
    EXPECT_TRUE(std::is_sorted(
        subs.begin(), subs.end(),
        [](const std::string& a, const std::string& b) { return a == "labl" && b == "file"; }))
        << testing::PrintToString(subs);
    if (model->DataPos.size > 0) {
      ASSERT_FALSE(subs.empty());
      EXPECT_EQ(subs.back(), "file");
    }
  }
}

// Files whose sizes claim more or less than they hold (a stream written without knowing its
// length, a form size never patched) are saved with the bytes they hold and sizes that add up:
// libsndfile reads the saved file without a complaint, and both tools find every sample.
TEST(BwfSaveInterop, FilesWithWrongSizesAreSavedWithTheirRealOnes) {
  vb::Chunk claiming = vb::Data(48000, 0x21);
  claiming.size = 0xFFFFFFF0u;
  const struct {
    const char* what;
    Bytes bytes;
    int frames;
  } cases[] = {
      {"ffmpeg-piped.wav",
       st::ReadBytes(fs::path(VANT_SOURCE_DIR) / "tests/fixtures/interop/ffmpeg-piped.wav"), 480},
      {"data claiming 0xFFFFFFF0", vb::Build({vb::Fmt(), claiming}), 12000},
      {"a form size of 20", vb::Build({vb::Fmt(), vb::Data(48000, 0x21)}, 20), 12000},
      // The form ends right after fmt, or after the data header (an interrupted recording).
      {"a form size of 28", vb::Build({vb::Fmt(), vb::Data(48000, 0x21)}, 28), 12000},
      {"a form size of 36", vb::Build({vb::Fmt(), vb::Data(48000, 0x21)}, 36), 12000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    vant::testing::ScratchFolder dir("vant-save-interop");
    const fs::path source = dir.path() / "source.wav", target = dir.path() / "saved.wav";
    st::WriteBytes(source, c.bytes);
    NotifyRecorder notes;
    auto model = st::OpenModel(source, dir.path());
    notes.lines.clear();
    ASSERT_EQ(SaveToFile(*model, target, source), 0) << testing::PrintToString(notes.lines);
    std::string text;
    EXPECT_EQ(Shell("sndfile-info '" + target.string() + "'", text), 0);
    EXPECT_NE(text.find("Frames      : " + std::to_string(c.frames) + "\n"), std::string::npos)
        << text;
    for (const char* bad : {"should be", "Exiting parser", "Unknown chunk marker", "Error"}) {
      EXPECT_EQ(text.find(bad), std::string::npos) << text;
    }
    EXPECT_EQ(Shell("ffprobe -v error -show_entries stream=duration_ts -of default=nw=1:nk=1 '" +
                        target.string() + "'",
                    text),
              0);
    EXPECT_EQ(text, std::to_string(c.frames) + "\n");
  }
}
