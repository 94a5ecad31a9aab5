// The compression manager component: format records, descriptions, the settings store, the
// choosers and whole-file conversion.
#include "mmacmdlg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "mmriff.h"
#include "mmulaw.h"
#include "mmwaveio.h"
#include "scratchfolder.h"
#include "ui_dialogs.h"
#include "wavebuilder.h"

namespace {

using namespace wavetest;

template <class T>
T At(const WAVEFORMATEX* f, size_t off) {
  T v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(f) + off, sizeof v);
  return v;
}

TEST(AcmRecords, BuiltRecords) {
  auto gsm = acmBuildGSM610Header(16000);
  EXPECT_EQ(gsm->nAvgBytesPerSec, 0u);
  EXPECT_EQ(acmBuildGSM610Header(8000)->nAvgBytesPerSec, 1625u);
  EXPECT_EQ(At<uint16_t>(gsm.get(), 18), 320);

  auto adpcm = acmBuildADPCMHeader(44100, 2);
  EXPECT_EQ(adpcm->nBlockAlign, 2048);
  EXPECT_EQ(At<uint16_t>(adpcm.get(), 18), 2036);
  EXPECT_EQ(wioSizeOfWaveFormat(adpcm.get()), 50u);  // what a file stores

  auto mp3 = acmBuildMP3Header(22050, 64, 2);
  EXPECT_EQ(mp3->nAvgBytesPerSec, 8000u);
  EXPECT_EQ(At<uint16_t>(mp3.get(), 24), 208);
  EXPECT_EQ(mp3->cbSize, 12);

  // Layer 2: 417-byte frames of 1,152 samples at 44.1 kHz, 128 kbit/s.
  auto mp2 = acmBuildMPEGHeader(2, 44100, 128000, 1);
  EXPECT_EQ(mp2->nBlockAlign, 417);
  EXPECT_NEAR(double(mp2->nAvgBytesPerSec), 417.0 * 44100 / 1152, 20.0);
  EXPECT_EQ(At<uint16_t>(mp2.get(), 24), 8);
  EXPECT_EQ(acmBuildMPEGHeader(1, 44100, 128000, 1), nullptr);

  auto ts = acmBuildTrueSpeechHeader();
  EXPECT_EQ(ts->wFormatTag, 0x22);
  EXPECT_EQ(At<uint16_t>(ts.get(), 20), 240);
}

TEST(AcmRecords, SettingsStoreRoundTripAndShortRecordRefused) {
  vant::testing::ScratchFolder dir;
  const char* old = getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  auto adpcm = acmBuildADPCMHeader(22050, 1);
  acmSaveFormatToRegistry(adpcm.get(), HKEY_CURRENT_USER, "Software\\QORA\\ACMTEST", "Format");
  auto back = acmGetFormatFromRegistry(HKEY_CURRENT_USER, "Software\\QORA\\ACMTEST", "Format");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::memcmp(back.get(), adpcm.get(), 50), 0);
  // A record claiming more extra bytes than were stored.
  WAVEFORMATEX lying = *adpcm;
  lying.cbSize = 200;
  SaveInRegistryBinary(HKEY_CURRENT_USER, "Software\\QORA\\ACMTEST", "Bad", &lying, 18);
  EXPECT_EQ(acmGetFormatFromRegistry(HKEY_CURRENT_USER, "Software\\QORA\\ACMTEST", "Bad"), nullptr);
  EXPECT_EQ(acmGetFormatFromRegistry(HKEY_CURRENT_USER, "Software\\QORA\\ACMTEST", "None"),
            nullptr);
  if (old)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

TEST(AcmRecords, Descriptions) {
  auto adpcm = acmBuildADPCMHeader(22050, 2);
  std::string name, text;
  ASSERT_EQ(acmGetFormatDescription(adpcm.get(), name, text), 1);
  EXPECT_EQ(name, "Microsoft ADPCM");
  EXPECT_NE(text.find("22.050 kHz"), std::string::npos);
  EXPECT_EQ(acmGetFormatDescription(nullptr, name, text), 0);
  VOLUMEWAVEFILTER v{{sizeof v, kAcmFilterVolume, 0, {}}, 0x8000};
  ASSERT_EQ(acmGetFilterDescription(&v.wfltr, name, text), 1);
  EXPECT_EQ(name, "Volume");
  EXPECT_EQ(text, "50% Volume");
  WAVEFILTER odd{sizeof odd, 77, 0, {}};
  ASSERT_EQ(acmGetFilterDescription(&odd, name, text), 1);
  EXPECT_EQ(name, "Unknown FilterTag");
  EXPECT_EQ(text, "Unknown Filter");
}

struct FakeChooser : AcmChooser {
  MMRESULT answer = ACMERR_CANCELED;
  int asked = 0;
  MMRESULT ChooseFormat(ACMFORMATCHOOSE& c) override {
    ++asked;
    if (answer == MMSYSERR_NOERROR) {
      ACMWAVEFORMAT f{1, 1, 8000, 8000, 1, 8, 0};
      std::memcpy(c.pwfx, &f, sizeof f);
    }
    return answer;
  }
  MMRESULT ChooseFilter(ACMFILTERCHOOSE&) override { return answer; }
};

TEST(AcmComponent, ChoosersCancelQuietlyAndFailLoudly) {
  TMMACM acm(nullptr);
  ASSERT_TRUE(acm.ACMPresent());
  EXPECT_EQ(acm.NumDrivers(), 1);
  EXPECT_EQ(acm.NumFilters(), 2);
  EXPECT_EQ(acm.Title, "Select...");
  FakeChooser chooser;
  SetAcmChooser(&chooser);
  EXPECT_FALSE(acm.ChooseFormat(nullptr, "x"));
  EXPECT_FALSE(acm.ChooseFilter(nullptr, "x"));
  chooser.answer = MMSYSERR_NOERROR;
  EXPECT_TRUE(acm.ChooseFormat(nullptr, "x"));
  EXPECT_EQ(acm.GetPWaveFormat()->nSamplesPerSec, 8000u);
  chooser.answer = MMSYSERR_ERROR;
  chooser.asked = 0;
  EXPECT_THROW(acm.ChooseFormat(nullptr, "x"), EMMACMError);
  EXPECT_EQ(chooser.asked, 2);  // tried once more first
  SetAcmChooser(nullptr);
}

TEST(AcmComponent, EnumeratesTagsWhileTheHandlerContinues) {
  TMMACM acm(nullptr);
  std::vector<uint32_t> tags;
  acm.OnCodecEnum = [&](vant::TObject*, uint32_t tag, const std::string&, bool& go) {
    tags.push_back(tag);
    go = true;
  };
  EXPECT_TRUE(acm.EnumerateCodecs());
  for (uint32_t t : {1u, 2u, 3u, 6u, 7u, 0x11u, 0x31u, 0x50u, 0x55u})
    EXPECT_NE(std::find(tags.begin(), tags.end(), t), tags.end()) << t;
  int formats = 0;
  acm.OnFormatEnum = [&](vant::TObject*, const WAVEFORMATEX* f, const std::string&, bool& go) {
    EXPECT_EQ(f->wFormatTag, 7);
    go = ++formats < 3;
  };
  EXPECT_TRUE(acm.EnumerateFormats(7));
  EXPECT_EQ(formats, 3);
}

// A 16-bit mono file of a tone with an INFO list and a DISP chunk before its data.
std::filesystem::path MakeSource(const std::filesystem::path& dir) {
  Bytes pcm;
  for (int i = 0; i < 22050; ++i) Put16(pcm, uint16_t(int16_t(9000 * std::sin(i * 0.05))));
  Bytes info;
  PutId(info, "INFO");
  const Bytes inam = Chunk("INAM", Text("Spot title"));
  info.insert(info.end(), inam.begin(), inam.end());
  Bytes disp;
  Put32(disp, 1);
  const Bytes t = Text("Display text");
  disp.insert(disp.end(), t.begin(), t.end());
  auto p = dir / "source.wav";
  WriteFile(p, Riff({Chunk("fmt ", Fmt(1, 1, 22050, 16)), Chunk("LIST", info), Chunk("DISP", disp),
                     Chunk("data", pcm)}));
  return p;
}

size_t FilesIn(const std::filesystem::path& dir) {
  return size_t(std::distance(std::filesystem::directory_iterator(dir),
                              std::filesystem::directory_iterator()));
}

TEST(AcmComponent, ProcessFileKeepsListsAndLeavesNoTemporaryFile) {
  vant::testing::ScratchFolder dir;
  TMMACM acm(nullptr);
  acm.Source = MakeSource(dir.path()).string();
  const auto target = (dir.path() / "out.wav").string();
  WriteFile(target, Text("old target"));
  auto adpcm = acmBuildADPCMHeader(22050, 1);
  acm.SetPWaveFormat(adpcm.get());
  int64_t last = 0;
  acm.OnProgress = [&](vant::TObject*, int64_t done, int64_t total, bool&) {
    EXPECT_EQ(total, 44100);
    last = done;
  };
  ASSERT_TRUE(acm.ConvertFile(target));
  EXPECT_EQ(last, 44100);
  EXPECT_EQ(FilesIn(dir.path()), 2u);
  PWAVEIOCB cb;
  ASSERT_EQ(wioReadFileInfo(cb, target, kWaveForm, kWioFile), kWioOk);
  EXPECT_EQ(cb->wfx->wFormatTag, 2);
  EXPECT_EQ(wioSizeOfWaveFormat(cb->wfx.get()), 50u);
  EXPECT_GT(cb->dwDataBytes, 22050 / 2);
  ASSERT_TRUE(cb->lpInfo);
  EXPECT_EQ(
      RiffInfoText(*cb->lpInfo, *RiffFindPIINFO(cb->lpInfo.get(), mmioFourCC('I', 'N', 'A', 'M'))),
      "Spot title");
  ASSERT_TRUE(cb->lpDisp);
  EXPECT_EQ(cb->lpDisp->entries.size(), 1u);
}

TEST(AcmComponent, CancelledOrImpossibleProcessLeavesTargetAsItWas) {
  vant::testing::ScratchFolder dir;
  TMMACM acm(nullptr);
  acm.Source = MakeSource(dir.path()).string();
  const auto target = (dir.path() / "out.wav").string();
  WriteFile(target, Text("old target"));
  acm.OnProgress = [](vant::TObject*, int64_t, int64_t, bool& cancel) { cancel = true; };
  WAVEFORMATEX mulaw{};
  Build_uLawHeader(mulaw, 1, 22050);
  try {
    acm.ProcessFile(target, &mulaw, nullptr);
    FAIL() << "no exception";
  } catch (const EMMACMError& e) {
    EXPECT_STREQ(e.what(), "Conversion aborted!");
  }
  EXPECT_EQ(FilesIn(dir.path()), 2u);
  EXPECT_EQ(std::filesystem::file_size(target), Text("old target").size());
  WAVEFORMATEX bogus{0x1234, 1, 22050, 22050, 1, 8, 0};
  try {
    acm.ProcessFile(target, &bogus, nullptr);
    FAIL() << "no exception";
  } catch (const EMMACMError& e) {
    EXPECT_STREQ(e.what(), "This format is not valid for conversion");
  }
}

// A source that holds no readable sound makes the conversion fail with the component's message
// and leaves the target as it was.
TEST(AcmComponent, ConvertFileFailsForUnreadableSources) {
  const Bytes pcm(200, 0);
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      {"empty", {}},
      {"header only", Riff({})},
      {"fmt without data", Riff({Chunk("fmt ", Fmt(1, 1, 22050, 16))})},
      {"no channels", Riff({Chunk("fmt ", Fmt(1, 0, 22050, 16)), Chunk("data", pcm)})},
      {"rate 0", Riff({Chunk("fmt ", Fmt(1, 1, 0, 16)), Chunk("data", pcm)})},
      {"block align 0", Riff({Chunk("fmt ", Fmt(7, 1, 8000, 8, 0)), Chunk("data", pcm)})},
      // A player may guess the frame of PCM from its depth, but a conversion that writes a
      // new file must not build it on a guess.
      {"PCM block align 0", Riff({Chunk("fmt ", Fmt(1, 1, 8000, 8, 0)), Chunk("data", pcm)})},
      {"PCM stereo block align 0",
       Riff({Chunk("fmt ", Fmt(1, 2, 8000, 16, 0)), Chunk("data", pcm)})},
      {"PCM block align beside its depth",
       Riff({Chunk("fmt ", Fmt(1, 1, 8000, 16, 4)), Chunk("data", pcm)})},
      {"PCM depth 0", Riff({Chunk("fmt ", Fmt(1, 1, 8000, 0, 2)), Chunk("data", pcm)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vant::testing::ScratchFolder dir;
    TMMACM acm(nullptr);
    acm.Source = (dir.path() / "source.wav").string();
    WriteFile(acm.Source, c.file);
    const auto target = (dir.path() / "out.wav").string();
    WriteFile(target, Text("old target"));
    // A target every readable source here converts to.
    WAVEFORMATEX pcm16{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    acm.SetPWaveFormat(&pcm16);
    try {
      acm.ConvertFile(target);
      ADD_FAILURE() << "no exception";
    } catch (const EMMACMError& e) {
      EXPECT_STREQ(e.what(), "Unable to convert wave file");
    }
    EXPECT_EQ(FilesIn(dir.path()), 2u);
    EXPECT_EQ(ReadFile(target), Text("old target"));
  }
}

// µ-law holds one byte per sample: the converted file has exactly the source's frames.
TEST(AcmComponent, ConversionToULawKeepsTheFrameCount) {
  vant::testing::ScratchFolder dir;
  TMMACM acm(nullptr);
  acm.Source = MakeSource(dir.path()).string();
  const auto target = (dir.path() / "out.wav").string();
  WAVEFORMATEX mulaw{};
  Build_uLawHeader(mulaw, 1, 22050);
  acm.SetPWaveFormat(&mulaw);
  ASSERT_TRUE(acm.ConvertFile(target));
  PWAVEIOCB cb;
  ASSERT_EQ(wioReadFileInfo(cb, target, kWaveForm, kWioFile), kWioOk);
  EXPECT_EQ(cb->wfx->wFormatTag, 7);
  EXPECT_EQ(cb->dwDataBytes, 22050);
}

TEST(AcmComponent, FilterFileHalvesTheLevel) {
  vant::testing::ScratchFolder dir;
  TMMACM acm(nullptr);
  acm.Source = MakeSource(dir.path()).string();
  const auto target = (dir.path() / "quiet.wav").string();
  VOLUMEWAVEFILTER v{{sizeof v, kAcmFilterVolume, 0, {}}, 0x8000};
  acm.SetPWaveFilter(&v.wfltr);
  ASSERT_TRUE(acm.FilterFile(target));
  TWaveFormatPtr f;
  std::vector<uint8_t> data;
  int64_t size = 0;
  ASSERT_EQ(wioWaveLoadFile(target, f, data, size), kWioOk);
  ASSERT_EQ(size, 44100);
  int peak = 0;
  for (int64_t i = 0; i < size; i += 2) {
    int16_t s;
    std::memcpy(&s, &data[i], 2);
    peak = std::max(peak, std::abs(int(s)));
  }
  EXPECT_NEAR(peak, 4500, 10);
}

}  // namespace
