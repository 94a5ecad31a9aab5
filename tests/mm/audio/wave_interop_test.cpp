// The wave object and the wave file component against public tools: raw files that sox made
// and its own WAV of them, our saved and recorded files read by libsndfile and ffprobe.
#include <gtest/gtest.h>

#include <string>

#include "chainbuffer.h"
#include "memorysource.h"
#include "mmpcmsup.h"
#include "mmwave.h"
#include "mmwavefile.h"
#include "toolrun.h"
#include "wavebuilder.h"

namespace {

using namespace wavetest;

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// The format fields and data bytes of a wave file, as our parse finds them.
struct Parsed {
  WAVEFORMATEX format{};
  Bytes data;
};
Parsed Parse(const std::string& name) {
  TMMWave w;
  w.SetFileName(name);
  Parsed p;
  p.format = *w.GetPWaveFormat();
  p.format.cbSize = 0;
  p.data.resize(size_t(w.GetLengthBytes()));
  w.OpenFile();
  if (!p.data.empty()) {
    EXPECT_EQ(w.ReadDataBytes(p.data.data(), int64_t(p.data.size())), int64_t(p.data.size()));
  }
  w.CloseFile();
  return p;
}

// Nothing a reader would warn about.
void ExpectToolsReadCleanly(const std::string& name) {
  const std::string sf = RunTool("sndfile-info " + Quoted(name));
  EXPECT_EQ(sf.find("rror"), std::string::npos) << sf;
  EXPECT_EQ(sf.find("arning"), std::string::npos) << sf;
  EXPECT_EQ(sf.find("hould"), std::string::npos) << sf;  // "... should be ..."
  const std::string probe = RunTool("ffprobe -v warning -i " + Quoted(name));
  EXPECT_EQ(probe, "") << probe;
}

TEST(WaveObjectInterop, ImportFromRawEqualsSoxsWave) {
  TempDir dir;
  const struct {
    int bits, channels, rate;
    const char* encoding;
  } rows[] = {{16, 2, 22050, "signed"}, {8, 1, 8000, "unsigned"}, {16, 1, 48000, "signed"}};
  for (const auto& row : rows) {
    const std::string spec = " -r " + std::to_string(row.rate) + " -c " +
                             std::to_string(row.channels) + " -b " + std::to_string(row.bits) +
                             " -e " + row.encoding + " ";
    const std::string raw = (dir / "take.raw").string();
    const std::string soxWave = (dir / "sox.wav").string();
    RunTool("sox -n" + spec + Quoted(raw) + " synth 0.3 sine 440 sine 1000");
    RunTool("sox -t raw" + spec + Quoted(raw) + " " + Quoted(soxWave));
    TMMWave w;
    w.ImportFromRaw(raw, row.bits, row.channels, row.rate);
    const Parsed ours = Parse(w.GetFileName());
    const Parsed theirs = Parse(soxWave);
    EXPECT_EQ(std::memcmp(&ours.format, &theirs.format, sizeof(WAVEFORMATEX)), 0) << row.rate;
    EXPECT_EQ(ours.data, theirs.data) << row.rate;
    EXPECT_EQ(ours.data, ReadFile(raw));
    ExpectToolsReadCleanly(w.GetFileName());
  }
}

TEST(WaveObjectInterop, SavedFilesReadCleanly) {
  TempDir dir;
  const std::string source = (dir / "src.wav").string();
  RunTool("sox -n -r 44100 -c 2 -b 16 " + Quoted(source) + " synth 1.3 sine 300");
  TMMWave w;
  w.SetFileName(source);
  w.SetInfoChunk("INAM", "Saved");
  w.SetStartPos(1001);  // an odd part
  w.SetEndPos(50001);
  for (const char* name : {"copy.wav", "converted.wav"}) {
    const std::string target = (dir / name).string();
    if (std::string(name) == "copy.wav") {
      w.SaveToFile(target);
    } else {
      WAVEFORMATEX f{};
      pcmBuildWaveHeader(f, 8, 1, 22050);
      w.ConvertFile(target, &f);
    }
    ExpectToolsReadCleanly(target);
    const std::string sf = RunTool("sndfile-info " + Quoted(target));
    EXPECT_NE(sf.find("Saved"), std::string::npos) << sf;
  }
  EXPECT_NE(
      RunTool("sndfile-info " + Quoted((dir / "copy.wav").string())).find("Frames      : 49000"),
      std::string::npos);
}

TEST(WaveObjectInterop, RecordingReadsIdenticallyInLibsndfile) {
  TempDir dir;
  Bytes pcm = Ramp16(30001, 2);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] ^= uint8_t(i * 13);
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 32000);
  MemorySource feed(&f, pcm, 4000);
  TMMWaveFile rec(nullptr);
  rec.GetWave()->SetFileMustExist(false);
  rec.SetInput(&feed);
  const std::string name = (dir / "rec.wav").string();
  rec.SetFileName(name);
  rec.Opened();
  rec.Started();
  PullUntilDone(rec, 16000);
  rec.Stopped();
  rec.Closed();
  ExpectToolsReadCleanly(name);
  const std::string back = (dir / "back.raw").string();
  RunTool("sndfile-convert " + Quoted(name) + " " + Quoted(back));
  EXPECT_EQ(ReadFile(back), pcm);
  EXPECT_NE(RunTool("sndfile-info " + Quoted(name)).find("Sample Rate : 32000"), std::string::npos);
}

}  // namespace
