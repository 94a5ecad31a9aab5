#include "mmwaveio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mmpcmsup.h"
#include "mmresources.h"
#include "wavebuilder.h"

namespace {

using namespace wavetest;

const Bytes kStereo16 = Fmt(1, 2, 44100, 16);
const Bytes kMono16 = Fmt(1, 1, 8000, 16);

int16_t SampleAt(const Bytes& b, size_t frameBytes, size_t frame) {
  return int16_t(b[frame * frameBytes] | b[frame * frameBytes + 1] << 8);
}

class WaveFile : public ::testing::Test {
 protected:
  std::string Put(const Bytes& bytes, const std::string& name = "t.wav") {
    return dir_.Put(bytes, name);
  }
  TempDir dir_;
};

TEST_F(WaveFile, IndexRampReadsTheSampleAskedFor) {
  const std::string name =
      Put(Riff({Chunk("fmt ", kStereo16), Chunk("data", Ramp16(1000, 2)),
                Chunk("LIST", Concat({{'I', 'N', 'F', 'O'}, Chunk("INAM", Text("Ramp"))}))}));
  PWAVEIOCB cb;
  ASSERT_EQ(wioReadFileInfo(cb, name, kWaveForm, kWioFile), kWioOk);
  EXPECT_EQ(cb->dwDataBytes, 4000);
  EXPECT_EQ(cb->dwDataSamples, 1000);
  EXPECT_EQ(cb->dwDataOffset, 44);
  EXPECT_FALSE(cb->hmmio);
  EXPECT_EQ(
      RiffInfoText(*cb->lpInfo, *RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M'))),
      "Ramp");

  ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
  ASSERT_EQ(wioWaveSetPosition(cb.get(), 500), kWioOk);
  Bytes buf(16);
  ASSERT_EQ(wioWaveReadData(cb.get(), buf.data(), 16), 16);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(SampleAt(buf, 4, i), 500 + int(i));
  EXPECT_EQ(cb->dwPosition, 504);

  // Past the end clamps to the last sample; then the data is used up.
  ASSERT_EQ(wioWaveSetPosition(cb.get(), 5000), kWioOk);
  EXPECT_EQ(cb->dwPosition, 999);
  ASSERT_EQ(wioWaveReadData(cb.get(), buf.data(), 16), 4);
  EXPECT_EQ(SampleAt(buf, 4, 0), 999);
  EXPECT_EQ(wioWaveReadData(cb.get(), buf.data(), 16), -1);
  EXPECT_EQ(cb->dwPosition, 1000);
  EXPECT_EQ(wioWaveSetPosition(cb.get(), -1), kWioIOError);

  // A window of samples 100 to 199: position 0 is sample 100, and reads stop at 200.
  ASSERT_EQ(wioWaveSetLastSample(cb.get(), 200), kWioOk);
  ASSERT_EQ(wioWaveSetFirstSample(cb.get(), 100), kWioOk);
  EXPECT_EQ(wioWaveSetFirstSample(cb.get(), 200), kWioMissingArgument);
  EXPECT_EQ(wioWaveSetLastSample(cb.get(), 1001), kWioMissingArgument);
  ASSERT_EQ(wioWaveSetPosition(cb.get(), 0), kWioOk);
  Bytes all(1000);
  EXPECT_EQ(wioWaveReadSamples(cb.get(), all.data(), 250), 100);
  EXPECT_EQ(SampleAt(all, 4, 0), 100);
  EXPECT_EQ(SampleAt(all, 4, 99), 199);

  // Closing keeps nothing of the position; reopening seeks to the kept one.
  EXPECT_EQ(wioWaveClose(cb.get()), kWioOk);
  EXPECT_EQ(cb->dwPosition, 0);
  EXPECT_EQ(wioWaveClose(cb.get()), kWioOk);
  EXPECT_EQ(wioWaveReadData(cb.get(), buf.data(), 4), -1);
  EXPECT_EQ(wioFreeFileInfo(cb), kWioOk);
  EXPECT_EQ(wioFreeFileInfo(cb), kWioMissingArgument);
}

TEST_F(WaveFile, MalformedFilesParseTolerantly) {
  Bytes oddRamp = Ramp16(1000, 2);
  oddRamp.push_back(7);
  const Bytes info = Chunk("LIST", Concat({{'I', 'N', 'F', 'O'}, Chunk("INAM", Text("Late"))}));
  const struct {
    const char* what;
    Bytes file;
    int result;
    int64_t dataBytes;
  } rows[] = {
      {"data larger than the file",
       Riff({Chunk("fmt ", kStereo16), Chunk("data", oddRamp, 100000, false)}), kWioOk, 4000},
      {"pipe sizes 0xFFFFFFFF",
       Riff({Chunk("fmt ", kStereo16), Chunk("data", Ramp16(1000, 2), 0xFFFFFFFF)}, 0xFFFFFFFF),
       kWioOk, 4000},
      {"second fmt ends the file",
       Riff(
           {Chunk("fmt ", kStereo16), Chunk("data", Ramp16(100, 2)), Chunk("fmt ", kMono16), info}),
       kWioOk, 400},
      {"second data ends the file",
       Riff(
           {Chunk("fmt ", kStereo16), Chunk("data", Ramp16(100, 2)), Chunk("data", Ramp16(50, 2))}),
       kWioOk, 400},
      // The first data chunk holds the samples, for every reader of the system alike.
      {"empty data then real data",
       Riff({Chunk("fmt ", kStereo16), Chunk("data", {}), Chunk("data", Ramp16(50, 2))}), kWioOk,
       0},
      // libsndfile and ffprobe read the 400 bytes the data chunk states.
      {"trailing bytes after the form are no samples",
       Concat({Riff({Chunk("fmt ", kStereo16), Chunk("data", Ramp16(100, 2))}), Bytes(12, 1)}),
       kWioOk, 400},
      {"a form size that ends inside the fmt chunk",
       Riff({Chunk("fmt ", kStereo16), Chunk("data", Ramp16(1000, 2))}, 20), kWioOk, 4000},
      {"odd 8-bit data: the pad byte is no sample",
       Riff({Chunk("fmt ", Fmt(1, 1, 8000, 8)), Chunk("data", {1, 2, 3}), info}), kWioOk, 3},
      {"zero rate", Riff({Chunk("fmt ", Fmt(1, 2, 0, 16)), Chunk("data", Ramp16(10, 2))}),
       kWioNoFormat, 0},
      {"zero channels", Riff({Chunk("fmt ", Fmt(1, 0, 8000, 16)), Chunk("data", Ramp16(10, 1))}),
       kWioNoFormat, 0},
      {"fmt of 14 bytes",
       Riff({Chunk("fmt ", Bytes(kMono16.begin(), kMono16.begin() + 14)), Chunk("data", {0, 0})}),
       kWioNoFormat, 0},
      {"fmt over 64 KiB",
       Riff({Chunk("fmt ", Concat({kMono16, Bytes(70000, 0)})), Chunk("data", {0, 0})}),
       kWioNoFormat, 0},
      {"compressed format with block align 0",
       Riff({Chunk("fmt ", Fmt(2, 1, 8000, 4, 0, 4000)), Chunk("data", {0, 0})}), kWioNoFormat, 0},
      {"no fmt", Riff({Chunk("data", Ramp16(10, 1))}), kWioNoFormat, 0},
      {"not RIFF", Bytes{'R', 'I', 'F', 'X', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, kWioIOError, 0},
      {"another form", Riff({Chunk("fmt ", kMono16)}, -1, "AVI "), kWioIOError, 0},
      {"shorter than a header", Bytes{'R', 'I', 'F', 'F'}, kWioIOError, 0},
  };
  for (const auto& row : rows) {
    const std::string name = Put(row.file);
    PWAVEIOCB cb;
    EXPECT_EQ(wioReadFileInfo(cb, name, kWaveForm, kWioFile), row.result) << row.what;
    if (row.result != kWioOk) {
      EXPECT_FALSE(cb) << row.what;
      continue;
    }
    ASSERT_TRUE(cb) << row.what;
    EXPECT_EQ(cb->dwDataBytes, row.dataBytes) << row.what;
    // Nothing after the end of the walk was read.
    const auto* inam = RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M'));
    if (std::string(row.what).find("second") != std::string::npos) {
      EXPECT_EQ(RiffInfoText(*cb->lpInfo, *inam), "") << row.what;
    }
  }
}

TEST_F(WaveFile, PcmFieldsAreRecomputed) {
  // Wrong block align and byte rate; a PCM depth of 0 taken from a plausible block align.
  PWAVEIOCB cb;
  ASSERT_EQ(
      wioReadFileInfo(
          cb, Put(Riff({Chunk("fmt ", Fmt(1, 2, 44100, 16, 7, 3)), Chunk("data", Ramp16(10, 2))})),
          kWaveForm, kWioFile),
      kWioOk);
  EXPECT_EQ(cb->wfx->nBlockAlign, 4);
  EXPECT_EQ(cb->wfx->nAvgBytesPerSec, 176400u);
  EXPECT_EQ(cb->dwDataSamples, 10);
  ASSERT_EQ(
      wioReadFileInfo(
          cb, Put(Riff({Chunk("fmt ", Fmt(1, 2, 44100, 0, 4, 0)), Chunk("data", Ramp16(10, 2))})),
          kWaveForm, kWioFile),
      kWioOk);
  EXPECT_EQ(cb->wfx->wBitsPerSample, 16);
  EXPECT_EQ(
      wioReadFileInfo(
          cb, Put(Riff({Chunk("fmt ", Fmt(1, 2, 44100, 0, 3, 0)), Chunk("data", Ramp16(10, 2))})),
          kWaveForm, kWioFile),
      kWioNoFormat);
  // Header only: no format kept, a zero record of 36 bytes.
  ASSERT_EQ(wioReadFileInfo(cb, Put(Riff({Chunk("fmt ", kMono16)})), kWaveForm, kWioHeaderOnly),
            kWioOk);
  EXPECT_EQ(cb->dwFlags, kWioHeaderOnly);
  EXPECT_EQ(cb->wfxBytes, 36u);
  EXPECT_EQ(cb->wfx->nChannels, 0);
}

// The chunk ids of a file in order.
std::vector<std::string> ChunkIds(const Bytes& b) {
  std::vector<std::string> ids;
  for (size_t off = 12; off + 8 <= b.size();) {
    ids.emplace_back(b.begin() + long(off), b.begin() + long(off) + 4);
    const uint32_t size = Le32(b, off + 4);
    off += 8 + size + (size & 1);
  }
  return ids;
}

TEST_F(WaveFile, CreatedFilesHoldFormatDataFactDispAndInfo) {
  const struct {
    WAVEFORMATEX format;
    std::vector<std::string> ids;
  } rows[] = {{{1, 1, 8000, 16000, 2, 16, 0}, {"fmt ", "data", "DISP", "LIST"}},
              {{7, 1, 8000, 8000, 1, 8, 0}, {"fmt ", "data", "fact", "DISP", "LIST"}}};
  for (const auto& row : rows) {
    const std::string name = (dir_ / "new.wav").string();
    PWAVEIOCB cb;
    ASSERT_EQ(wioCreateFileInfo(cb, &row.format), kWioOk);
    RiffModifyINFO(cb->lpInfo.get(),
                   RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M')), kRiffChanged,
                   0, std::string("Odd"));
    RiffInsertDISP(cb->lpDisp.get(),
                   RiffCreateDISP(kRiffChanged, kDispText, std::nullopt, Text("Shown")));
    RiffInsertDISP(cb->lpDisp.get(), RiffCreateDISP(kRiffChanged, 2, std::nullopt, Text("Never")));
    ASSERT_EQ(wioWriteFileInfo(cb.get(), name), kWioOk);
    const Bytes ramp = Ramp16(101, 1);  // 202 bytes: 202 8-bit samples, 101 16-bit samples
    EXPECT_EQ(wioWaveWriteData(cb.get(), ramp.data(), 100), 100);
    EXPECT_EQ(wioWaveWriteData(cb.get(), ramp.data() + 100, 102), 102);
    EXPECT_EQ(cb->dwDataSamples, 202 / row.format.nBlockAlign);
    ASSERT_EQ(wioWaveClose(cb.get()), kWioOk);

    const Bytes file = ReadFile(name);
    EXPECT_EQ(ChunkIds(file), row.ids) << row.format.wFormatTag;
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    // PCM leaves out the extra-size field; other formats keep it.
    const uint32_t fmtBytes = row.format.wFormatTag == 1 ? 16 : 18;
    EXPECT_EQ(Le32(file, 16), fmtBytes);
    if (row.format.wFormatTag != 1) {
      EXPECT_EQ(Le32(file, 20 + fmtBytes + 8 + 202 + 8), 202u);  // the fact count
    }

    PWAVEIOCB back;
    ASSERT_EQ(wioReadFileInfo(back, name, kWaveForm, kWioFile), kWioOk);
    EXPECT_EQ(back->dwDataBytes, 202);
    EXPECT_EQ(RiffInfoText(*back->lpInfo,
                           *RiffFindPIINFO(back->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M'))),
              "Odd");
    ASSERT_EQ(back->lpDisp->entries.size(), 1u);
    EXPECT_EQ(*RiffDispData(*back->lpDisp->entries[0]), Text("Shown"));
    ASSERT_EQ(wioWaveOpen(back.get()), kWioOk);
    Bytes data(202);
    EXPECT_EQ(wioWaveReadData(back.get(), data.data(), 202), 202);
    EXPECT_EQ(data, ramp);
  }
}

TEST_F(WaveFile, WritingIntoAnExistingFileKeepsTheChunksAfterTheData) {
  const Bytes cue = Chunk("cue ", Bytes(28, 5));
  const Bytes adtl = Chunk("LIST", Concat({{'a', 'd', 't', 'l'}, Chunk("labl", Text("BC$START"))}));
  const Bytes info = Chunk("LIST", Concat({{'I', 'N', 'F', 'O'}, Chunk("INAM", Text("Kept"))}));
  const std::string name =
      Put(Riff({Chunk("fmt ", kMono16), Chunk("data", Ramp16(100, 1)), cue, adtl, info}));
  PWAVEIOCB cb;
  ASSERT_EQ(wioReadFileInfo(cb, name, kWaveForm, kWioFile), kWioOk);
  ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
  ASSERT_EQ(wioWaveSetPosition(cb.get(), 90), kWioOk);
  Bytes more;
  for (int i = 0; i < 50; ++i) Put16(more, uint32_t(1000 + i));
  EXPECT_EQ(wioWaveWriteData(cb.get(), more.data(), int64_t(more.size())), 100);
  EXPECT_EQ(cb->dwDataSamples, 140);
  ASSERT_EQ(wioWaveClose(cb.get()), kWioOk);

  const Bytes file = ReadFile(name);
  EXPECT_EQ(ChunkIds(file), (std::vector<std::string>{"fmt ", "data", "cue ", "LIST", "LIST"}));
  EXPECT_EQ(Le32(file, 4), file.size() - 8);
  EXPECT_NE(std::search(file.begin(), file.end(), adtl.begin(), adtl.end()), file.end());
  EXPECT_NE(std::search(file.begin(), file.end(), cue.begin(), cue.end()), file.end());
  ASSERT_EQ(wioReadFileInfo(cb, name, kWaveForm, kWioFile), kWioOk);
  EXPECT_EQ(cb->dwDataSamples, 140);
  ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
  Bytes data(280);
  ASSERT_EQ(wioWaveReadData(cb.get(), data.data(), 280), 280);
  EXPECT_EQ(SampleAt(data, 2, 89), 89);
  EXPECT_EQ(SampleAt(data, 2, 90), 1000);
  EXPECT_EQ(SampleAt(data, 2, 139), 1049);
  EXPECT_EQ(
      RiffInfoText(*cb->lpInfo, *RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M'))),
      "Kept");
}

TEST_F(WaveFile, WholeFileSaveAndLoad) {
  const std::string name = (dir_ / "whole.wav").string();
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  const Bytes ramp = Ramp16(300, 2);
  ASSERT_EQ(wioWaveSaveFile(name, &f, ramp.data(), int64_t(ramp.size())), kWioOk);
  TWaveFormatPtr format;
  std::vector<uint8_t> data;
  int64_t size = 0;
  ASSERT_EQ(wioWaveLoadFile(name, format, data, size), kWioOk);
  EXPECT_EQ(size, int64_t(ramp.size()));
  EXPECT_EQ(data, ramp);
  EXPECT_EQ(format->nSamplesPerSec, 48000u);
  EXPECT_EQ(wioWaveLoadFile((dir_ / "none.wav").string(), format, data, size), kWioIOError);
  EXPECT_FALSE(format);
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(wioWaveSaveFile((dir_ / "no/such/dir.wav").string(), &f, ramp.data(), 4), kWioIOError);
  EXPECT_EQ(wioWaveSaveFile(name, nullptr, ramp.data(), 4), kWioMissingArgument);
  EXPECT_TRUE(wioIsWaveFile(name, kWioFile));
  EXPECT_FALSE(wioIsWaveFile("", kWioFile));
}

TEST_F(WaveFile, MemoryResourceAndRawSources) {
  const Bytes image = Riff({Chunk("fmt ", kMono16), Chunk("data", Ramp16(64, 1))});
  PWAVEIOCB cb;
  EXPECT_EQ(wioBuildFileInfoFromMem(cb, nullptr, 10), kWioIOError);
  ASSERT_EQ(wioBuildFileInfoFromMem(cb, image.data(), int64_t(image.size())), kWioOk);
  EXPECT_EQ(cb->dwFlags, kWioMemory);
  ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
  ASSERT_EQ(wioWaveSetPosition(cb.get(), 40), kWioOk);
  Bytes buf(2);
  ASSERT_EQ(wioWaveReadData(cb.get(), buf.data(), 2), 2);
  EXPECT_EQ(SampleAt(buf, 2, 0), 40);
  EXPECT_EQ(wioWaveWriteData(cb.get(), buf.data(), 2), 0);  // a fixed image is not written

  RegisterResource("WAVE", "RAMP", image);
  ASSERT_EQ(wioBuildFileInfoFromResource(cb, "RAMP"), kWioOk);
  ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
  ASSERT_EQ(wioWaveSetPosition(cb.get(), 63), kWioOk);
  ASSERT_EQ(wioWaveReadData(cb.get(), buf.data(), 2), 2);
  EXPECT_EQ(SampleAt(buf, 2, 0), 63);
  EXPECT_EQ(wioBuildFileInfoFromResource(cb, "MISSING"), kWioIOError);

  // A headerless file read from byte 44 on, as 16-bit mono.
  const std::string raw = Put(image, "raw.pcm");
  ASSERT_EQ(wioBuildFileInfoFromRAW(cb, raw, 44, 16, 1, 8000), kWioOk);
  EXPECT_EQ(cb->dwFlags, kWioRaw);
  EXPECT_EQ(cb->dwDataSamples, 64);
  ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
  ASSERT_EQ(wioWaveSetPosition(cb.get(), 7), kWioOk);
  ASSERT_EQ(wioWaveReadData(cb.get(), buf.data(), 2), 2);
  EXPECT_EQ(SampleAt(buf, 2, 0), 7);
  EXPECT_EQ(wioWaveReadDataDirect(cb.get(), buf.data(), 2), -1);
  EXPECT_EQ(wioWaveWriteData(cb.get(), buf.data(), 2), -1);
  EXPECT_EQ(wioBuildFileInfoFromRAW(cb, (dir_ / "none").string(), 0, 16, 1, 8000), kWioIOError);
}

// A whole-file write killed before it replaced its target leaves its "w" file; the next one into
// that folder removes it, and only it: a name of another shape, a live process's file and a link
// stay.
TEST_F(WaveFile, AWriteRemovesWhatKilledWritesLeft) {
  const std::string keep = Put(Bytes{1, 2, 3}, "keep.wav");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string left = keep;
    vant::StagedHold hold;
    ::_exit(wioFileCreateTemp(left, hold) ? 0
                                          : 1);  // ended before its own clean-up, as a kill does
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto names = [&] {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
      out.insert(e.path().filename().string());
    return out;
  };
  const std::set<std::string> before = names();
  ASSERT_EQ(before.size(), 2u);
  const std::string ended = std::to_string(child), live = std::to_string(::getpid());
  const std::vector<std::string> theirs = {"wAbC123.tmp", "w" + live + ".AbC123.tmp",
                                           "w" + ended + ".AbC12.tmp", "xw" + ended + ".AbC123.tmp",
                                           "w" + ended + ".AbC123.tmp.wav"};
  for (const std::string& name : theirs) Put(Bytes{'m', 'i', 'n', 'e'}, name);
  std::filesystem::create_symlink(keep, dir_.path() / ("w" + ended + ".XyZ789.tmp"));

  std::string next = keep;
  vant::StagedHold hold;
  ASSERT_TRUE(wioFileCreateTemp(next, hold));
  std::set<std::string> now = names();
  now.erase(std::filesystem::path(next).filename().string());
  std::set<std::string> expected(theirs.begin(), theirs.end());
  expected.insert({"keep.wav", "w" + ended + ".XyZ789.tmp"});
  EXPECT_EQ(now, expected);
  for (const std::string& name : theirs)
    EXPECT_EQ(ReadFile((dir_.path() / name).string()), (Bytes{'m', 'i', 'n', 'e'})) << name;
  EXPECT_EQ(ReadFile(keep), (Bytes{1, 2, 3}));
}

TEST_F(WaveFile, TemporaryFilesNeverReplaceAFile) {
  const std::string keep = Put(Bytes{1, 2, 3}, "keep.wav");
  std::string a = keep, b = keep;
  vant::StagedHold hold_a, hold_b;
  ASSERT_TRUE(wioFileCreateTemp(a, hold_a));
  ASSERT_TRUE(wioFileCreateTemp(b, hold_b));
  EXPECT_NE(a, b);
  EXPECT_EQ(std::filesystem::path(a).parent_path(), dir_.path());
  EXPECT_EQ(std::filesystem::path(a).filename().string().substr(0, 1), "w");
  EXPECT_TRUE(wioFileExists(a));
  EXPECT_EQ(ReadFile(keep), (Bytes{1, 2, 3}));
  // Each stays locked as its maker's while its hold lives, so no cleaner of any process takes it.
  const auto locked = [](const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (fd >= 0) ::close(fd);
    return held;
  };
  EXPECT_TRUE(locked(a));
  EXPECT_TRUE(locked(b));
  hold_b.Release();
  EXPECT_FALSE(locked(b));
  EXPECT_TRUE(wioFileDelete(a));
  EXPECT_FALSE(wioFileExists(a));

  std::string path = "/a/b/c.wav";
  EXPECT_EQ(wioExtractPath(path), 4);
  EXPECT_EQ(path, "/a/b/");
  path = "plain";
  EXPECT_EQ(wioExtractPath(path), 0);
  EXPECT_EQ(path, "");
}

TEST(WaveConversionsEx, ByteRateOverrideAndBlocks) {
  PWAVEIOCB cb;
  WAVEFORMATEX adpcm{2, 1, 22050, 11155, 512, 4, 0};
  ASSERT_EQ(wioCreateFileInfo(cb, &adpcm), kWioOk);
  EXPECT_EQ(wioSamplesToBytesEx(cb.get(), 1) % 512, 0);
  EXPECT_EQ(wioBytesToTimeEx(cb.get(), 11155), 1000);
  cb->dBytesPerSec = 11025.0;
  EXPECT_EQ(wioBytesToSamplesEx(cb.get(), 11025), 22050);
  EXPECT_EQ(wioBytesToTimeEx(cb.get(), 5513), 500);    // 500.045 rounds to nearest
  EXPECT_EQ(wioTimeToBytesEx(cb.get(), 1000), 11264);  // 11025 up to whole blocks
  const int64_t threeHours = int64_t(22050) * 3600 * 3;
  EXPECT_EQ(wioSamplesToTimeEx(cb.get(), threeHours), int64_t(3600) * 3 * 1000);
  EXPECT_EQ(wioBytesToSamplesEx(nullptr, 5), 0);
}

}  // namespace

namespace {

TEST_F(WaveFile, FilesBeyondFourGigabytesSeekAndRead) {
  // A sparse file: a piped header, then samples 1..4 at sample 2,400,000,000 (4.8 GB in).
  const int64_t sample = 2400000000LL;
  const std::string name =
      Put(Riff({Chunk("fmt ", kMono16), Chunk("data", {}, 0xFFFFFFFF)}, 0xFFFFFFFF));
  {
    std::fstream f(name, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(44 + 2 * sample);
    const char marks[8] = {1, 0, 2, 0, 3, 0, 4, 0};
    f.write(marks, 8);
  }
  PWAVEIOCB cb;
  ASSERT_EQ(wioReadFileInfo(cb, name, kWaveForm, kWioFile), kWioOk);
  EXPECT_EQ(cb->dwDataBytes, 2 * sample + 8);
  EXPECT_EQ(cb->dwDataSamples, sample + 4);
  ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
  ASSERT_EQ(wioWaveSetPosition(cb.get(), sample + 1), kWioOk);
  EXPECT_EQ(cb->dwBytesLeft, 6);
  Bytes buf(8);
  ASSERT_EQ(wioWaveReadData(cb.get(), buf.data(), 8), 6);
  EXPECT_EQ(SampleAt(buf, 2, 0), 2);
  EXPECT_EQ(SampleAt(buf, 2, 2), 4);
  EXPECT_EQ(cb->dwPosition, sample + 4);
}

}  // namespace

namespace {

TEST_F(WaveFile, CompressedSeeksLandOnWholeBlocks) {
  // Four 512-byte blocks, each filled with its own number.
  Bytes data;
  for (int b = 0; b < 4; ++b) data.insert(data.end(), 512, uint8_t(b + 1));
  const Bytes fmt = Concat({Fmt(0x11, 1, 22050, 4, 512, 11100), {2, 0, 0xF9, 0x03}});
  PWAVEIOCB cb;
  ASSERT_EQ(
      wioReadFileInfo(
          cb, Put(Riff({Chunk("fmt ", fmt), Chunk("fact", Bytes(4, 0)), Chunk("data", data)})),
          kWaveForm, kWioFile),
      kWioOk);
  EXPECT_EQ(cb->wfx->cbSize, 2);
  ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
  // A seek lands on the start of the block that holds the sample (1,017 samples a block),
  // never on the block after it.
  const struct {
    int64_t sample;
    uint8_t block;
    int64_t bytesLeft, position;
  } rows[] = {{700, 1, 2048, 0}, {1500, 2, 1536, 1017}, {5000, 4, 512, 3051}};
  for (const auto& row : rows) {
    ASSERT_EQ(wioWaveSetPosition(cb.get(), row.sample), kWioOk) << row.sample;
    EXPECT_EQ(cb->dwBytesLeft, row.bytesLeft) << row.sample;
    EXPECT_EQ(cb->dwPosition, row.position) << row.sample;
    Bytes buf(4);
    ASSERT_EQ(wioWaveReadData(cb.get(), buf.data(), 4), 4) << row.sample;
    EXPECT_EQ(buf[0], row.block) << row.sample;
  }
}

}  // namespace

namespace {

TEST_F(WaveFile, EditedInfoBeforeTheDataIsNotShadowedByTheOldList) {
  const Bytes info = Chunk("LIST", Concat({{'I', 'N', 'F', 'O'}, Chunk("INAM", Text("Old"))}));
  const Bytes disp = Chunk("DISP", Concat({{1, 0, 0, 0}, Text("Shown")}));
  const Bytes fact = Chunk("fact", {8, 0, 0, 0});
  const struct {
    uint16_t tag;
    std::vector<std::string> ids;
  } rows[] = {
      {1, {"fmt ", "JUNK", "JUNK", "fact", "data", "DISP", "LIST"}},
      {7, {"fmt ", "JUNK", "JUNK", "JUNK", "data", "fact", "DISP", "LIST"}},
  };
  for (const auto& row : rows) {
    const std::string name = Put(Riff(
        {Chunk("fmt ", Fmt(row.tag, 1, 8000, 8)), info, disp, fact, Chunk("data", Bytes(8, 1))}));
    PWAVEIOCB cb;
    ASSERT_EQ(wioReadFileInfo(cb, name, kWaveForm, kWioFile), kWioOk);
    RiffModifyINFO(cb->lpInfo.get(),
                   RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M')), kRiffChanged,
                   0, std::string("New"));
    ASSERT_EQ(wioWaveOpen(cb.get()), kWioOk);
    ASSERT_EQ(wioWaveSetPosition(cb.get(), 7), kWioOk);
    ASSERT_EQ(wioWaveWriteData(cb.get(), Bytes(4, 2).data(), 4), 4);
    ASSERT_EQ(wioWaveClose(cb.get()), kWioOk);
    EXPECT_EQ(ChunkIds(ReadFile(name)), row.ids) << row.tag;

    ASSERT_EQ(wioReadFileInfo(cb, name, kWaveForm, kWioFile), kWioOk);
    EXPECT_EQ(RiffInfoText(*cb->lpInfo,
                           *RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M'))),
              "New");
    EXPECT_EQ(cb->lpDisp->entries.size(), 1u);
    EXPECT_EQ(cb->dwDataBytes, 11);
  }
}

}  // namespace
