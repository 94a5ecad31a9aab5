// The engine's codecs beside FFmpeg's decoders on one minute of stereo audio at 44.1 kHz, and
// the PCM converter stage beside libswresample alone on the same conversion, same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "mmacmsup.h"
#include "mmadpcm.h"
#include "mmantex.h"
#include "mmpcmsup.h"
#include "mmulaw.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFrames = kRate * 60;

std::vector<int16_t> Signal() {
  std::vector<int16_t> s(size_t(kFrames) * 2);
  for (int i = 0; i < kFrames; ++i) {
    s[2 * i] = int16_t(12000 * std::sin(0.031 * i) + 3000 * std::sin(0.0007 * i * (i % 977)));
    s[2 * i + 1] = int16_t(9000 * std::sin(0.017 * i));
  }
  return s;
}

struct MsAdpcm {
  TADPCMWaveFormat fmt{};
  WAVEFORMATEX pcm{};
  std::vector<uint8_t> data;
  MsAdpcm() {
    pcmBuildWaveHeader(pcm, 16, 2, kRate);
    adpcmBuildFormatHeader(&pcm, &fmt.wfx, 16, 0, 0);
    const auto s = Signal();
    data.resize(size_t(fmt.wfx.nBlockAlign) * (kFrames / fmt.wSamplesPerBlock + 1));
    data.resize(
        size_t(adpcmEncode4Bit(&pcm, &fmt.wfx, s.data(), int64_t(s.size()) * 2, data.data())));
  }
};
const MsAdpcm& Adpcm() {
  static MsAdpcm a;
  return a;
}

std::vector<uint8_t> ULaw() {
  const auto s = Signal();
  std::vector<uint8_t> u(s.size());
  for (size_t i = 0; i < s.size(); ++i) u[i] = Linear2uLaw(s[i], false);
  return u;
}

// FFmpeg's decoder of a codec over whole packets of `packet` bytes.
void FfmpegDecode(benchmark::State& state, AVCodecID id, const std::vector<uint8_t>& data,
                  int packet, const uint8_t* extra = nullptr, int extraBytes = 0) {
  const AVCodec* codec = avcodec_find_decoder(id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  av_channel_layout_default(&ctx->ch_layout, 2);
  ctx->sample_rate = kRate;
  ctx->block_align = packet;
  ctx->bits_per_coded_sample = id == AV_CODEC_ID_PCM_MULAW ? 8 : 4;
  if (extra) {
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(extraBytes + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, extra, extraBytes);
    ctx->extradata_size = extraBytes;
  }
  avcodec_open2(ctx, codec, nullptr);
  std::vector<uint8_t> padded(data);
  padded.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  for (auto _ : state) {
    for (size_t at = 0; at + packet <= data.size(); at += packet) {
      pkt->data = padded.data() + at;
      pkt->size = packet;
      avcodec_send_packet(ctx, pkt);
      while (avcodec_receive_frame(ctx, frame) >= 0) {
        benchmark::DoNotOptimize(frame->data[0]);
        av_frame_unref(frame);
      }
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
}

void BM_Ours_MsAdpcm(benchmark::State& state) {
  const MsAdpcm& a = Adpcm();
  std::vector<uint8_t> out(size_t(kFrames + a.fmt.wSamplesPerBlock) * 4);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        adpcmDecode4Bit(&a.fmt.wfx, &a.pcm, a.data.data(), int64_t(a.data.size()), out.data()));
}
void BM_Ffmpeg_MsAdpcm(benchmark::State& state) {
  const MsAdpcm& a = Adpcm();
  FfmpegDecode(state, AV_CODEC_ID_ADPCM_MS, a.data, a.fmt.wfx.nBlockAlign,
               reinterpret_cast<const uint8_t*>(&a.fmt) + 18, 32);
}

// IMA: a stereo nibble stream of one byte per frame for ours; FFmpeg's IMA WAV decoder on
// blocks of the same minute.
void BM_Ours_Ima(benchmark::State& state) {
  std::vector<uint8_t> data(kFrames, 0x5A);
  std::vector<uint8_t> out(size_t(kFrames) * 4);
  for (auto _ : state) {
    TIMA_PARAMS st{};
    benchmark::DoNotOptimize(WSIMATOPCM(data.data(), out.data(), kFrames, st));
  }
}
void BM_Ffmpeg_Ima(benchmark::State& state) {
  constexpr int kBlock = 2048;  // 2 × 4 header bytes, then 4,080 frames' nibbles
  std::vector<uint8_t> data(size_t(kFrames / 4081 + 1) * kBlock, 0x5A);
  for (size_t b = 0; b < data.size(); b += kBlock) std::memset(&data[b], 0, 8);
  FfmpegDecode(state, AV_CODEC_ID_ADPCM_IMA_WAV, data, kBlock);
}

void BM_Ours_ULaw(benchmark::State& state) {
  const auto u = ULaw();
  std::vector<int16_t> out(u.size());
  for (auto _ : state) {
    for (size_t i = 0; i < u.size(); ++i) out[i] = uLaw2Linear(u[i]);
    benchmark::DoNotOptimize(out.data());
  }
}
void BM_Ffmpeg_ULaw(benchmark::State& state) {
  FfmpegDecode(state, AV_CODEC_ID_PCM_MULAW, ULaw(), 8192);
}

// 44.1 kHz stereo 16-bit to 48 kHz: the stage pulling from memory, and libswresample alone.
class Memory : public TMMDSPComponent {
 public:
  Memory(const WAVEFORMATEX* f, const std::vector<int16_t>& s) : TMMDSPComponent(nullptr), s_(s) {
    PublishLinks(false, true);
    SetPWaveFormat(f);
  }
  void Rewind() { pos_ = 0; }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    const size_t bytes = s_.size() * 2;
    const size_t n = std::min<size_t>(h->wh.dwBufferLength - h->wh.dwBytesRecorded, bytes - pos_);
    std::memcpy(h->wh.lpData + h->wh.dwBytesRecorded,
                reinterpret_cast<const uint8_t*>(s_.data()) + pos_, n);
    h->wh.dwBytesRecorded += uint32_t(n);
    pos_ += n;
    more = pos_ < bytes;
  }

 private:
  const std::vector<int16_t>& s_;
  size_t pos_ = 0;
};

void BM_Stage_Pcm44To48(benchmark::State& state) {
  const auto s = Signal();
  WAVEFORMATEX in{};
  pcmBuildWaveHeader(in, 16, 2, kRate);
  Memory src(&in, s);
  TMMPCMConverter conv(nullptr);
  conv.SetAutoConvert(false);
  conv.SetBitLength(b16Bit);
  conv.SetMode(mStereo);
  conv.SetSampleRate(48000);
  conv.SetInput(&src);
  std::vector<char> buf(16384);
  for (auto _ : state) {
    src.Rewind();
    conv.Opened();
    conv.Started();
    for (;;) {
      TMMWaveHdr h{};
      h.wh.lpData = buf.data();
      h.wh.dwBufferLength = uint32_t(buf.size());
      bool more = false;
      conv.BufferLoad(&h, more);
      if (!more && h.wh.dwBytesRecorded == 0) break;
    }
    conv.Stopped();
    conv.Closed();
  }
}

void BM_Swr_Pcm44To48(benchmark::State& state) {
  const auto s = Signal();
  AVChannelLayout stereo;
  av_channel_layout_default(&stereo, 2);
  std::vector<int16_t> out(16384);
  for (auto _ : state) {
    SwrContext* swr = nullptr;
    swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, 48000, &stereo, AV_SAMPLE_FMT_S16, kRate,
                        0, nullptr);
    swr_init(swr);
    // The same 8,192-byte input blocks the stage converts.
    for (size_t at = 0; at < s.size(); at += 4096) {
      const uint8_t* in = reinterpret_cast<const uint8_t*>(s.data() + at);
      uint8_t* o = reinterpret_cast<uint8_t*>(out.data());
      const int frames = int(std::min<size_t>(4096, s.size() - at) / 2);
      benchmark::DoNotOptimize(swr_convert(swr, &o, 8192, &in, frames));
    }
    uint8_t* o = reinterpret_cast<uint8_t*>(out.data());
    swr_convert(swr, &o, 8192, nullptr, 0);
    swr_free(&swr);
  }
}

}  // namespace

BENCHMARK(BM_Ours_MsAdpcm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ffmpeg_MsAdpcm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_Ima)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ffmpeg_Ima)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_ULaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ffmpeg_ULaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Pcm44To48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swr_Pcm44To48)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
