// Compressed files made by sox and ffmpeg played through the converter chain, compared with the
// tools' own decoding; our encoders' output checked with the tools.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "filepull.h"
#include "memorysource.h"
#include "mmacmsup.h"
#include "mmadpcm.h"
#include "mmantex.h"
#include "mmpcmsup.h"
#include "mmulaw.h"
#include "mmwavefile.h"
#include "mmwaveio.h"
#include "scratchfolder.h"

namespace {

std::string Fixture(const std::string& name) {
  return std::string(VANT_SOURCE_DIR) + "/tests/fixtures/acm/" + name;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& b) {
  std::vector<int16_t> s(b.size() / 2);
  std::memcpy(s.data(), b.data(), s.size() * 2);
  return s;
}

int RunTool(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

struct WaveData {
  TWaveFormatPtr format;
  std::vector<uint8_t> data;
};

WaveData Load(const std::string& path) {
  WaveData w;
  PWAVEIOCB cb;
  EXPECT_EQ(wioReadFileInfo(cb, path, kWaveForm, kWioFile), kWioOk) << path;
  if (!cb) return w;
  w.format = wioCopyWaveFormat(cb->wfx.get());
  EXPECT_EQ(wioWaveOpen(cb.get()), kWioOk);
  w.data.resize(size_t(cb->dwDataBytes));
  w.data.resize(
      size_t(std::max<int64_t>(wioWaveReadData(cb.get(), w.data.data(), cb->dwDataBytes), 0)));
  wioFreeFileInfo(cb);
  return w;
}

// Source -> ADPCM stage -> PCM stage (AutoConvert), as every file's chain is built.
std::vector<int16_t> PlayThroughChain(const WaveData& w) {
  MemorySource src(w.format.get(), w.data, 3000);
  TMMADPCMConverter dec(nullptr);
  TMMPCMConverter conv(nullptr);
  dec.SetInput(&src);
  conv.SetInput(&dec);
  EXPECT_TRUE(dec.GetCanConvert());
  EXPECT_TRUE(conv.GetCanConvert());
  EXPECT_EQ(conv.GetPWaveFormat()->wFormatTag, 1);
  EXPECT_EQ(conv.GetPWaveFormat()->wBitsPerSample, 16);
  return Samples(PullAll({&src, &dec, &conv}, 4096));
}

// Largest difference over the common part, after the best shift of `got` within `slack`
// samples (codecs with a start-up delay the tool trims).
int MaxDiff(const std::vector<int16_t>& want, const std::vector<int16_t>& got, int slack,
            int channels) {
  int best = 1 << 30;
  for (int shift = 0; shift <= slack; shift += channels) {
    const size_t n = std::min(want.size(), got.size() > size_t(shift) ? got.size() - shift : 0);
    if (n < want.size() * 9 / 10) break;
    int worst = 0;
    for (size_t i = 0; i < n && worst < best; ++i)
      worst = std::max(worst, std::abs(int(want[i]) - int(got[i + shift])));
    best = std::min(best, worst);
  }
  return best;
}

TEST(AcmInterop, EveryToolMadeFilePlaysThroughTheChainAsFfmpegDecodesIt) {
  const struct {
    const char* name;
    int slack;      // samples the tool trims at the start (the MPEG decoders' priming)
    int tolerance;  // largest sample difference (float decoders round their output)
    const char* reference = "ffmpeg";
  } cases[] = {
      // Microsoft ADPCM is decoded by our own codec, which decodes as sox and libsndfile do;
      // ffmpeg differs from them on sox's files.
      {"sox-msadpcm", 0, 0, "sox"}, {"ffmpeg-msadpcm", 0, 0}, {"sox-ima", 0, 0},
      {"ffmpeg-ima", 0, 0},         {"sox-ulaw", 0, 0},       {"ffmpeg-ulaw", 0, 0},
      {"sox-alaw", 0, 0},           {"ffmpeg-alaw", 0, 0},    {"sox-gsm", 0, 0},
      {"ffmpeg-gsm", 0, 0},         {"ffmpeg-mp3", 4800, 8},  {"ffmpeg-mp2", 4800, 1},
      {"ffmpeg-float", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const WaveData w = Load(Fixture(std::string(c.name) + ".wav"));
    ASSERT_TRUE(w.format);
    const auto want = Samples(ReadAll(Fixture(std::string(c.name) + "." + c.reference + ".raw")));
    const auto got = PlayThroughChain(w);
    ASSERT_FALSE(got.empty());
    if (c.slack == 0) {
      EXPECT_NEAR(double(got.size()), double(want.size()), 320.0 * 2);
    }
    EXPECT_LE(MaxDiff(want, got, c.slack, w.format->nChannels), c.tolerance);
  }
}

TEST(AcmInterop, OurMsAdpcmAndULawDecodersMatchSoxAndLibsndfile) {
  for (const char* name : {"sox-msadpcm", "ffmpeg-msadpcm", "sox-ulaw", "ffmpeg-ulaw"}) {
    SCOPED_TRACE(name);
    const WaveData w = Load(Fixture(std::string(name) + ".wav"));
    ASSERT_TRUE(w.format);
    std::vector<int16_t> ours;
    if (w.format->wFormatTag == WAVE_FORMAT_ADPCM) {
      WAVEFORMATEX pcm{};
      ASSERT_TRUE(adpcmBuildFormatHeader(w.format.get(), &pcm, 16, 0, 0));
      const auto* f = reinterpret_cast<const TADPCMWaveFormat*>(w.format.get());
      ours.resize((w.data.size() / w.format->nBlockAlign + 1) * f->wSamplesPerBlock * 2);
      ours.resize(size_t(adpcmDecode4Bit(w.format.get(), &pcm, w.data.data(),
                                         int64_t(w.data.size()), ours.data())) /
                  2);
    } else {
      for (uint8_t b : w.data) ours.push_back(uLaw2Linear(b));
    }
    for (const char* tool : {"sox", "sndfile"}) {
      const auto want = Samples(ReadAll(Fixture(std::string(name) + "." + tool + ".raw")));
      EXPECT_EQ(ours, want) << tool;
    }
  }
}

double SnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got) {
  const size_t n = std::min(ref.size(), got.size());
  double sig = 0, err = 0;
  for (size_t i = 0; i < n; ++i) {
    sig += double(ref[i]) * ref[i];
    err += double(ref[i] - got[i]) * (ref[i] - got[i]);
  }
  return n ? 10 * std::log10(sig / std::max(err, 1e-9)) : 0;
}

TEST(AcmInterop, OurEncodersAgreeWithTheTools) {
  vant::testing::ScratchFolder dir;
  const std::string d = dir.path().string();
  // A stereo sweep at 22,050 Hz.
  std::vector<int16_t> pcm(22050);
  for (size_t i = 0; i < pcm.size() / 2; ++i) {
    pcm[2 * i] = int16_t(9000 * std::sin(0.02 * i + 0.00001 * i * i));
    pcm[2 * i + 1] = int16_t(7000 * std::sin(0.05 * i));
  }
  WAVEFORMATEX in{};
  pcmBuildWaveHeader(in, 16, 2, 22050);
  TADPCMWaveFormat a{};
  ASSERT_TRUE(adpcmBuildFormatHeader(&in, &a.wfx, 16, 0, 0));
  std::vector<uint8_t> enc(size_t(a.wfx.nBlockAlign) * (pcm.size() / 2 / a.wSamplesPerBlock + 2));
  enc.resize(size_t(adpcmEncode4Bit(&in, &a.wfx, pcm.data(), int64_t(pcm.size()) * 2, enc.data())));
  ASSERT_EQ(wioWaveSaveFile(d + "/ours.wav", &a.wfx, enc.data(), int64_t(enc.size())), kWioOk);
  const std::string tools[] = {
      "sox '" + d + "/ours.wav' -t raw -e signed-integer -b 16 -L '" + d + "/sox.raw'",
      "sndfile-convert -pcm16 '" + d + "/ours.wav' '" + d + "/sf.wav' && sox '" + d +
          "/sf.wav' -t raw '" + d + "/sndfile.raw'",
      "ffmpeg -hide_banner -loglevel error -y -i '" + d + "/ours.wav' -f s16le '" + d +
          "/ffmpeg.raw'"};
  const char* outs[] = {"/sox.raw", "/sndfile.raw", "/ffmpeg.raw"};
  for (int t = 0; t < 3; ++t) {
    ASSERT_EQ(RunTool(tools[t]), 0) << tools[t];
    EXPECT_GT(SnrDb(pcm, Samples(ReadAll(d + outs[t]))), 20.0) << outs[t];
  }

  // µ-law: within one code of sox's encoding of the same samples.
  std::vector<int16_t> mono(8000);
  for (size_t i = 0; i < mono.size(); ++i)
    mono[i] = int16_t(32000 * std::sin(0.001 * i * i / 10) * (double(i) / mono.size()));
  WAVEFORMATEX m{};
  pcmBuildWaveHeader(m, 16, 1, 8000);
  ASSERT_EQ(wioWaveSaveFile(d + "/in.wav", &m, mono.data(), int64_t(mono.size()) * 2), kWioOk);
  ASSERT_EQ(RunTool("sox -D '" + d + "/in.wav' -t raw -e u-law '" + d + "/sox.ulaw'"), 0);
  const auto codes = ReadAll(d + "/sox.ulaw");
  ASSERT_EQ(codes.size(), mono.size());
  // A code's rank among the levels from the most negative up (both zeros count as one).
  auto level = [](uint8_t code) {
    const int v = uLaw2Linear(code);
    int r = 0;
    for (int c = 0; c < 256; ++c) r += uLaw2Linear(uint8_t(c)) < v && c != 0x7F;
    return r;
  };
  for (size_t i = 0; i < mono.size(); ++i) {
    ASSERT_LE(std::abs(level(Linear2uLaw(mono[i], false)) - level(codes[i])), 1)
        << i << " " << mono[i];
  }
}

// ffmpeg writes block-coded files with an average byte rate of 16,000 whatever their blocks
// hold. Their length comes from the blocks (and the fact chunk), so the wave reader and the
// audio file give the whole signal, as ffmpeg decodes it, and its length; the audio file's
// fade-out at the end of the play length does not mute the rest.
TEST(AcmInterop, BlockCodedFilesWithAFalseByteRatePlayWholeThroughTheAudioFile) {
  vant::testing::ScratchFolder dir;
  RegisterAudioFileReaders();
  for (const char* name : {"msadpcm-m8k", "msadpcm-s44k", "ima-m8k", "ima-s44k"}) {
    SCOPED_TRACE(name);
    const std::string wav =
        std::string(VANT_SOURCE_DIR) + "/tests/fixtures/blocks/" + name + ".wav";
    const std::string raw = (dir.path() / (std::string(name) + ".raw")).string();
    ASSERT_EQ(
        RunTool("ffmpeg -hide_banner -loglevel error -y -i '" + wav + "' -f s16le '" + raw + "'"),
        0);
    const std::vector<uint8_t> want = ReadAll(raw);
    PWAVEIOCB cb;
    ASSERT_EQ(wioReadFileInfo(cb, wav, kWaveForm, kWioFile), kWioOk);
    const int channels = cb->wfx->nChannels;
    const int rate = int(cb->wfx->nSamplesPerSec);
    ASSERT_EQ(cb->wfx->nAvgBytesPerSec, 16000u);  // the fixture still lies
    const int64_t frames = int64_t(want.size()) / (2 * channels);
    EXPECT_EQ(cb->dwDataSamples, frames);
    wioFreeFileInfo(cb);

    TMMAudioFile file(nullptr);
    const std::vector<uint8_t> got = PullWholeFile(file, wav, true);
    ASSERT_FALSE(file.GetEmpty());
    EXPECT_EQ(file.GetFile()->GetPlayTime(), std::llround(frames * 1000.0 / rate));
    // The samples, then the one silence block that ends the stream. The audio file's own
    // millisecond of rise at the start and of fall at the end aside, they are ffmpeg's.
    ASSERT_EQ(got.size(), want.size() + 4);
    const size_t edge = size_t(2 * channels) * size_t(rate / 500);
    EXPECT_TRUE(std::equal(want.begin() + edge, want.end() - edge, got.begin() + edge));
  }
  DoneRegisteredAudioFiles();
}

// Plain PCM wider than 16 bits (format tag 1, as sox writes it with -t wavpcm) plays as its
// extensible form does: the same samples, made 16 bits on the way for the stages behind (the
// pitch stage, the displays) that take 8 and 16 bits only.
TEST(AcmInterop, PlainWidePcmPlaysAsItsExtensibleForm) {
  vant::testing::ScratchFolder dir;
  RegisterAudioFileReaders();
  for (const char* bits : {"24", "32"}) {
    SCOPED_TRACE(bits);
    const std::string plain = (dir.path() / "plain.wav").string();
    const std::string extensible = (dir.path() / "extensible.wav").string();
    const std::string synth = " synth 0.2 sine 440 sine 660 gain -3";
    ASSERT_EQ(RunTool(std::string("sox -R -n -r 48000 -c 2 -b ") + bits + " -t wavpcm '" + plain +
                      "'" + synth),
              0);
    ASSERT_EQ(RunTool(std::string("sox -R -n -r 48000 -c 2 -b ") + bits + " '" + extensible + "'" +
                      synth),
              0);
    TMMAudioFile a(nullptr), b(nullptr);
    const std::vector<uint8_t> fromPlain = PullWholeFile(a, plain, false);
    const std::vector<uint8_t> fromExtensible = PullWholeFile(b, extensible, false);
    ASSERT_TRUE(a.GetPWaveFormat());
    EXPECT_EQ(a.GetPWaveFormat()->wBitsPerSample, 16);
    // 9,600 frames of 16-bit stereo, then the silence block of the end.
    EXPECT_EQ(fromPlain.size(), 9600u * 4 + 4);
    EXPECT_TRUE(fromPlain == fromExtensible);
  }
  DoneRegisteredAudioFiles();
}

// Our stereo IMA and DVI encoders' codes decoded by ffmpeg's IMA decoder give back the signal,
// each channel on its side. ffmpeg reads them from a headerless container of one byte per frame
// with the first channel in the high nibble (the DVI layout without its swapped pairs).
TEST(AcmInterop, OurStereoImaAndDviCodesDecodeInFfmpeg) {
  vant::testing::ScratchFolder dir;
  const int frames = 8000;
  std::vector<int16_t> pcm(size_t(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    pcm[2 * size_t(i)] = int16_t(std::lround(8000 * std::sin(2 * M_PI * 300 * i / 8000.0)));
    pcm[2 * size_t(i) + 1] = int16_t(std::lround(6000 * std::sin(2 * M_PI * 770 * i / 8000.0)));
  }
  for (bool dvi : {false, true}) {
    SCOPED_TRACE(dvi ? "DVI" : "IMA");
    std::vector<uint8_t> codes(frames);
    TIMA_PARAMS st{};
    ASSERT_EQ((dvi ? WSPCMTODVI : WSPCMTOIMA)(pcm.data(), codes.data(), frames * 4, st), frames);
    // Into the container's layout.
    std::vector<uint8_t> body(codes.size());
    for (size_t i = 0; i < codes.size(); ++i) {
      body[i] = dvi ? codes[i ^ 1] : uint8_t(codes[i] << 4 | codes[i] >> 4);
    }
    std::vector<uint8_t> file = {'K', 'V', 'A', 'G'};
    for (uint32_t v : {uint32_t(body.size()), 8000u}) {
      for (int k = 0; k < 4; ++k) file.push_back(uint8_t(v >> (8 * k)));
    }
    file.push_back(1);  // stereo
    file.push_back(0);
    file.insert(file.end(), body.begin(), body.end());
    const std::string in = (dir.path() / "codes.vag").string();
    const std::string out = (dir.path() / "back.raw").string();
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    ASSERT_EQ(RunTool("ffmpeg -hide_banner -loglevel error -y -f kvag -i '" + in +
                      "' -f s16le -c:a pcm_s16le '" + out + "'"),
              0);
    const auto back = Samples(ReadAll(out));
    ASSERT_EQ(back.size(), pcm.size());
    for (int c : {0, 1}) {
      std::vector<int16_t> want(frames), got(frames);
      for (int i = 0; i < frames; ++i) {
        want[size_t(i)] = pcm[2 * size_t(i) + c];
        got[size_t(i)] = back[2 * size_t(i) + c];
      }
      EXPECT_GT(SnrDb(want, got), 20.0) << "channel " << c;
    }
  }
}

}  // namespace
