// Files made by public tools read by our parse, and our files read by those tools.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "filepull.h"
#include "mmaudiofile.h"
#include "mmpcmsup.h"
#include "mmwavefile.h"
#include "mmwaveio.h"
#include "scratchfolder.h"
#include "toolrun.h"
#include "wavebuilder.h"

namespace {

using namespace wavetest;

std::string Fixture(const char* name) {
  return std::string(VANT_SOURCE_DIR) + "/tests/fixtures/interop/" + name;
}

std::string Info(TWAVEIOCB& cb, const char* id) {
  TInfoData* e = RiffFindPIINFO(cb.lpInfo.get(), mmioFourCC(id[0], id[1], id[2], id[3]));
  return RiffInfoText(*cb.lpInfo, *e);
}

TEST(WaveInterop, ToolMadeFilesParse) {
  const struct {
    const char* file;
    int64_t dataBytes;
    uint16_t blockAlign;
  } rows[] = {
      {"ffmpeg-info.wav", 1920, 4},   // LIST INFO before the data
      {"ffmpeg-piped.wav", 1920, 4},  // RIFF and data sizes 0xFFFFFFFF
      {"sox-odd8.wav", 3, 1},         // 3 bytes and a pad byte
      {"python-odd.wav", 5, 1},       // odd data without a pad byte
      {"sox-empty.wav", 0, 4},
  };
  for (const auto& row : rows) {
    PWAVEIOCB cb;
    ASSERT_EQ(wioReadFileInfo(cb, Fixture(row.file), kWaveForm, kWioFile), kWioOk) << row.file;
    EXPECT_EQ(cb->dwDataBytes, row.dataBytes) << row.file;
    EXPECT_EQ(cb->wfx->nBlockAlign, row.blockAlign) << row.file;
  }
  PWAVEIOCB cb;
  ASSERT_EQ(wioReadFileInfo(cb, Fixture("ffmpeg-info.wav"), kWaveForm, kWioFile), kWioOk);
  EXPECT_EQ(Info(*cb, "INAM"), "Info Title");  // 11 bytes and a pad byte
  EXPECT_EQ(Info(*cb, "IART"), "Someone");
}

TEST(WaveInterop, ToolsReadOurInfoAndFact) {
  TempDir dir;
  const std::string name = (dir / "ours.wav").string();
  WAVEFORMATEX mulaw{7, 1, 8000, 8000, 1, 8, 0};
  PWAVEIOCB cb;
  ASSERT_EQ(wioCreateFileInfo(cb, &mulaw), kWioOk);
  RiffModifyINFO(cb->lpInfo.get(), RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M')),
                 kRiffChanged, 0, std::string("Our Title"));
  RiffModifyINFO(cb->lpInfo.get(), RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'C', 'M', 'T')),
                 kRiffChanged, 0, std::string("Odd"));
  ASSERT_EQ(wioWriteFileInfo(cb.get(), name), kWioOk);
  const Bytes silence(801, 0xFF);  // mu-law silence, an odd count
  ASSERT_EQ(wioWaveWriteData(cb.get(), silence.data(), int64_t(silence.size())), 801);
  ASSERT_EQ(wioWaveClose(cb.get()), kWioOk);

  const std::string sf = RunTool("sndfile-info '" + name + "'");
  EXPECT_NE(sf.find("fact"), std::string::npos) << sf;
  EXPECT_NE(sf.find("Our Title"), std::string::npos) << sf;
  EXPECT_NE(sf.find("Frames      : 801"), std::string::npos) << sf;
  EXPECT_EQ(sf.find("rror"), std::string::npos) << sf;

  const std::string probe = RunTool(
      "ffprobe -v error -show_entries format_tags=title,comment:stream=codec_name,duration_ts "
      "-of default=nw=1 '" +
      name + "'");
  EXPECT_NE(probe.find("TAG:title=Our Title"), std::string::npos) << probe;
  EXPECT_NE(probe.find("TAG:comment=Odd"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_name=pcm_mulaw"), std::string::npos) << probe;
  EXPECT_NE(probe.find("duration_ts=801"), std::string::npos) << probe;
}

TEST(WaveInterop, FfmpegMetadataReadBack) {
  TempDir dir;
  const std::string name = (dir / "ff.wav").string();
  RunTool(
      "ffmpeg -v error -f lavfi -i anullsrc=r=8000:cl=mono -t 0.01 -metadata title=Odd "
      "-metadata comment=Even1 -c:a pcm_s16le -y '" +
      name + "'");
  PWAVEIOCB cb;
  ASSERT_EQ(wioReadFileInfo(cb, name, kWaveForm, kWioFile), kWioOk);
  EXPECT_EQ(Info(*cb, "INAM"), "Odd");
  EXPECT_EQ(Info(*cb, "ICMT"), "Even1");
  EXPECT_EQ(cb->dwDataSamples, 80);
}

// A whole file pulled through the wave reader, the stages and the audio file with its software
// volume off brings exactly the samples libsndfile reads from it, followed by the one silence
// block of the end.
TEST(AudioFileInterop, ReadFileDataDeliversTheSamplesLibsndfileReads) {
  vant::testing::ScratchFolder dir;
  const std::string wav = (dir.path() / "tone.wav").string();
  const std::string raw = (dir.path() / "tone.raw").string();
  RunTool("sox -n -r 48000 -c 2 -b 16 '" + wav + "' synth 1.5 sine 440 sine 660 gain -3");
  RunTool("sndfile-convert -pcm16 '" + wav + "' '" + raw + "'");
  std::ifstream in(raw, std::ios::binary);
  const std::vector<uint8_t> expected((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(expected.size(), 48000u * 4 * 3 / 2);

  RegisterAudioFileReaders();
  {
    TMMAudioFile file(nullptr);
    const std::vector<uint8_t> got = PullWholeFile(file, wav, false);
    ASSERT_EQ(got.size(), expected.size() + 4);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
  }
  DoneRegisteredAudioFiles();
}

}  // namespace
