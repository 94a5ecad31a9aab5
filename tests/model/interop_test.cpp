// Files written by public tools (tests/fixtures/make-interop.sh) read as the model should.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "bwfchunk.h"
#include "modeltest.h"

namespace {

using mt::RecordingNotifier;

const std::string kRiffMsg =
    "W:RIFF情報に異常があるか、処理できないファイルサイズです。処理を中止します。";
const std::string kFormatMsg = "W:規定外のフォーマットです。処理を中止します。";
const std::string kRateMsg = "W:規定外のサンプリング周波数です。処理を続けます。";

struct Case {
  const char* file;
  int check;                       // CheckFormat
  std::vector<std::string> notes;  // its messages
  int kind;                        // GetFileKind after reading
  uint32_t dataSize;
  std::vector<std::string> chunks;  // top-level directory of the scan
  uint32_t cuePoints;
};

TEST(Interop, ToolMadeFilesReadAsExpected) {
  const std::vector<std::string> fd = {"fmt ", "data"};
  const Case cases[] = {
      {"sox-plain.wav", 0, {}, 3, 1920, fd, 0},
      {"sox-odd8.wav", 0, {kRateMsg}, 3, 3, fd, 0},
      {"sox-empty.wav", 0, {}, 3, 0, fd, 0},
      {"sox-44k.wav", 0, {kRateMsg}, 3, 1764, fd, 0},
      {"sox-24bit-ext.wav", -1, {kFormatMsg}, 3, 1440, {"fmt ", "fact", "data"}, 0},
      {"sox-float.wav", -1, {kFormatMsg}, 3, 960, {"fmt ", "fact", "data"}, 0},
      {"sox-ulaw.wav", -1, {kFormatMsg}, 3, 80, {"fmt ", "fact", "data"}, 0},
      {"ffmpeg-info.wav", 0, {}, 3, 1920, {"fmt ", "LIST", "data"}, 0},
      {"ffmpeg-bext637.wav", 0, {}, 2, 1920, {"fmt ", "bext", "data"}, 0},
      {"ffmpeg-bextlong.wav", 0, {}, 2, 1920, {"fmt ", "bext", "data"}, 0},
      // Its data chunk claims 0xFFFFFFFF bytes; sndfile-info: "data : 4294967295 (should be
      // 1920)". The model takes what the file holds.
      {"ffmpeg-piped.wav", -1, {kRiffMsg}, 3, 1920, fd, 0},
      {"ffmpeg-rf64.wav", -1, {kRiffMsg}, 0, 0, {}, 0},
      {"python-odd.wav", 0, {}, 3, 5, fd, 0},
      {"sndfile-cue.wav", 0, {}, 2, 1920, {"fmt ", "bext", "cue ", "data"}, 2},
  };
  RecordingNotifier notes;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto path = std::filesystem::path(VANT_SOURCE_DIR) / "tests/fixtures/interop" / c.file;
    ASSERT_TRUE(std::filesystem::exists(path));
    notes.lines.clear();
    TBWFChunck m(path, TBWFChunck::kReopenPerRead);
    EXPECT_EQ(m.CheckFormat(), c.check);
    EXPECT_EQ(notes.lines, c.notes);
    ReadModelInOrder(m);
    EXPECT_EQ(m.GetFileKind(), c.kind);
    EXPECT_EQ(m.DataPos.size, c.dataSize);
    EXPECT_EQ(m.CuePointCount, c.cuePoints);
    EXPECT_FALSE(m.GetCMLength().has_value());  // no marks in any of them
    m.ScanChunks(path);
    std::vector<std::string> ids;
    for (const auto& e : m.ChunkTable) ids.push_back(vant::riff::FourCCToString(e.id));
    EXPECT_EQ(ids, c.chunks);
    EXPECT_EQ(m.ScanMarkers.size(), c.cuePoints);
    EXPECT_TRUE(notes.lines == c.notes) << "reading showed no further message";
  }
}

TEST(Interop, BroadcastExtensionFieldsFromTools) {
  const auto dir = std::filesystem::path(VANT_SOURCE_DIR) / "tests/fixtures/interop";
  auto read = [&](const char* name) {
    auto m = std::make_unique<TBWFChunck>(dir / name, TBWFChunck::kKeepOpen);
    ReadModelInOrder(*m);
    return m;
  };
  auto history = [](const TBWFChunck& m) {
    return TBWFChunck::GetFieldText(m.BextInfo.Field(bwf::BextField::CodingHistory));
  };
  // 637 bytes (odd, padded): CodingHistory holds the 35 bytes that are there; the rest is zero.
  auto b637 = read("ffmpeg-bext637.wav");
  EXPECT_EQ(history(*b637), "A=PCM,F=48000,W=16,M=stereo,T=abcd");
  // More than 858 bytes: the first 858 are kept, CodingHistory cut at its 256 bytes.
  auto longer = read("ffmpeg-bextlong.wav");
  EXPECT_EQ(history(*longer).size(), 256u);
  EXPECT_EQ(history(*longer).substr(0, 28), "A=PCM,F=48000,W=16,M=stereo,");

  auto sf = read("sndfile-cue.wav");
  EXPECT_EQ(sf->BextInfo.GetDescription(), "libsndfile bext");
  EXPECT_EQ(TBWFChunck::GetFieldText(sf->BextInfo.Field(bwf::BextField::Originator)),
            "make-interop");
  EXPECT_EQ(sf->Markers[0].cue.dwName, 1u);
  EXPECT_EQ(sf->Markers[0].cue.dwSampleOffset, 48u);
  EXPECT_EQ(sf->Markers[1].cue.dwSampleOffset, 240u);
  EXPECT_EQ(sf->FindMarker("BC$START"), -1);

  auto ext = read("sox-24bit-ext.wav");
  EXPECT_EQ(ext->WaveFormat.wFormatTag, 0xFFFE);
  EXPECT_EQ(ext->WaveFormat.cbSize, 22);
  EXPECT_EQ(ext->WaveFormat.wBitsPerSample, 24);
}

}  // namespace
