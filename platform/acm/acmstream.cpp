#include "acmstream.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "trace.h"

namespace vant::acm {

namespace {

constexpr uint32_t kMaxRate = 768000;

// FFmpeg's own messages join our diagnostics in the trace sink instead of the program's
// standard error. A line may come in pieces; each thread keeps its own until the line ends.
void TraceFFmpeg(void* avcl, int level, const char* format, va_list args) {
  if (level > av_log_get_level()) return;
  thread_local std::string pending;
  thread_local int prefix = 1;
  char piece[1024];
  av_log_format_line2(avcl, level, format, args, piece, sizeof piece, &prefix);
  pending += piece;
  for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
    vant::Trace(std::string_view(pending).substr(0, end));
    pending.erase(0, end + 1);
  }
}

void RouteFFmpegLog() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(TraceFFmpeg); });
}

AVCodecID CodecOf(uint16_t tag) {
  switch (tag) {
    case kAcmTagADPCM:
      return AV_CODEC_ID_ADPCM_MS;
    case kAcmTagALaw:
      return AV_CODEC_ID_PCM_ALAW;
    case kAcmTagMuLaw:
      return AV_CODEC_ID_PCM_MULAW;
    case kAcmTagIMA:
      return AV_CODEC_ID_ADPCM_IMA_WAV;
    case kAcmTagGSM610:
      return AV_CODEC_ID_GSM_MS;
    case kAcmTagMPEG:
      return AV_CODEC_ID_MP2;
    case kAcmTagMP3:
      return AV_CODEC_ID_MP3;
    default:
      return AV_CODEC_ID_NONE;
  }
}

// The sample layout of a linear record; 24-bit data travels as 32-bit inside (see Packing).
AVSampleFormat SampleFormatOf(const ACMWAVEFORMAT& f) {
  if (f.wFormatTag == kAcmTagFloat) {
    return f.wBitsPerSample == 32   ? AV_SAMPLE_FMT_FLT
           : f.wBitsPerSample == 64 ? AV_SAMPLE_FMT_DBL
                                    : AV_SAMPLE_FMT_NONE;
  }
  switch (f.wBitsPerSample) {
    case 8:
      return AV_SAMPLE_FMT_U8;
    case 16:
      return AV_SAMPLE_FMT_S16;
    case 24:
    case 32:
      return AV_SAMPLE_FMT_S32;
    default:
      return AV_SAMPLE_FMT_NONE;
  }
}

bool SameShape(const ACMWAVEFORMAT& a, const ACMWAVEFORMAT& b) {
  return a.wFormatTag == b.wFormatTag && a.wBitsPerSample == b.wBitsPerSample &&
         a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec;
}

// libswresample between two linear layouts, with 24-bit samples widened and packed around it.
class Resampler {
 public:
  ~Resampler() { swr_free(&swr_); }

  bool Init(AVSampleFormat inFmt, const AVChannelLayout& inLayout, int inRate,
            const ACMWAVEFORMAT& out) {
    swr_free(&swr_);
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, out.nChannels);
    out_bytes_ = out.wBitsPerSample / 8;
    out_channels_ = out.nChannels;
    packed24_ = out.wFormatTag == kAcmTagPCM && out.wBitsPerSample == 24;
    in_fmt_ = inFmt;
    in_channels_ = inLayout.nb_channels;
    in_rate_ = inRate;
    // Mono spreads to every channel at full level and stereo folds to mono as the mean, as
    // the engine's own channel routines do; other layouts keep the resampler's mixing.
    const int ins = inLayout.nb_channels, outs = out.nChannels;
    std::vector<double> matrix;
    if ((ins == 1 && outs > 1) || (ins == 2 && outs == 1)) {
      matrix.assign(size_t(ins) * outs, ins == 1 ? 1.0 : 0.5);
    }
    AVChannelLayout source{};
    av_channel_layout_copy(&source, &inLayout);
    const int ok = swr_alloc_set_opts2(&swr_, &outLayout, SampleFormatOf(out),
                                       static_cast<int>(out.nSamplesPerSec), &source, inFmt, inRate,
                                       0, nullptr);
    av_channel_layout_uninit(&outLayout);
    av_channel_layout_uninit(&source);
    if (ok >= 0 && !matrix.empty() && swr_set_matrix(swr_, matrix.data(), ins) < 0) {
      swr_free(&swr_);
      return false;
    }
    if (ok < 0 || swr_init(swr_) < 0) {
      swr_free(&swr_);
      return false;
    }
    return true;
  }
  bool Matches(AVSampleFormat fmt, const AVChannelLayout& layout, int rate) const {
    return swr_ && fmt == in_fmt_ && layout.nb_channels == in_channels_ && rate == in_rate_;
  }
  bool Ready() const { return swr_ != nullptr; }
  void Clear() { swr_free(&swr_); }

  // Converts frames of input (nil: flush) into at most capacity output frames; the rest stays
  // buffered inside for the next call. The output frames written.
  int Run(const uint8_t* const* in, int frames, uint8_t* out, int capacity) {
    if (!swr_ || capacity <= 0) {
      if (swr_ && in && frames > 0)
        swr_convert(swr_, nullptr, 0, const_cast<const uint8_t**>(in), frames);
      return 0;
    }
    uint8_t* target = out;
    if (packed24_) {
      scratch_.resize(static_cast<size_t>(capacity) * out_channels_ * 4);
      target = scratch_.data();
    }
    const int n =
        swr_convert(swr_, &target, capacity, const_cast<const uint8_t**>(in), in ? frames : 0);
    if (n <= 0) return 0;
    if (packed24_) {
      const size_t samples = static_cast<size_t>(n) * out_channels_;
      for (size_t i = 0; i < samples; ++i) std::memcpy(out + 3 * i, scratch_.data() + 4 * i + 1, 3);
    }
    return n;
  }
  int Flush(uint8_t* out, int capacity) { return Run(nullptr, 0, out, capacity); }
  int64_t Buffered() const { return swr_ ? swr_get_delay(swr_, in_rate_) : 0; }
  int OutFrameBytes() const { return out_bytes_ * out_channels_; }

 private:
  SwrContext* swr_ = nullptr;
  AVSampleFormat in_fmt_ = AV_SAMPLE_FMT_NONE;
  int in_channels_ = 0;
  int in_rate_ = 0;
  int out_bytes_ = 0;
  int out_channels_ = 0;
  bool packed24_ = false;
  std::vector<uint8_t> scratch_;
};

// The destination capacity of a header in whole frames.
}  // namespace

int CapacityFrames(const ACMSTREAMHEADER& h, uint32_t frameBytes) {
  return static_cast<int>(std::min<uint64_t>(h.cbDstLength / frameBytes, 1u << 30));
}

namespace {

// PCM to PCM: rate, width and channel changes.
class PcmStream final : public ACMStream {
 public:
  PcmStream(const ACMWAVEFORMAT& src, const ACMWAVEFORMAT& dst) : src_(src), dst_(dst) {}
  bool Open() {
    av_channel_layout_default(&layout_, src_.nChannels);
    return rs_.Init(SampleFormatOf(src_), layout_, static_cast<int>(src_.nSamplesPerSec), dst_);
  }
  ~PcmStream() override { av_channel_layout_uninit(&layout_); }

  MMRESULT Convert(ACMSTREAMHEADER& h, uint32_t flags) override {
    if (flags & ACM_STREAMCONVERTF_START) Reset();
    const uint32_t frames = h.cbSrcLength / src_.nBlockAlign;
    const uint8_t* in = h.pbSrc;
    if (src_.wFormatTag == kAcmTagPCM && src_.wBitsPerSample == 24) {
      // Widened to 32 bits, the low byte zero.
      wide_.assign(static_cast<size_t>(frames) * src_.nChannels * 4, 0);
      for (size_t i = 0; i < static_cast<size_t>(frames) * src_.nChannels; ++i)
        std::memcpy(wide_.data() + 4 * i + 1, h.pbSrc + 3 * i, 3);
      in = wide_.data();
    }
    const int cap = CapacityFrames(h, dst_.nBlockAlign);
    int written = rs_.Run(&in, static_cast<int>(frames), h.pbDst, cap);
    if (flags & ACM_STREAMCONVERTF_END)
      written +=
          rs_.Flush(h.pbDst + static_cast<size_t>(written) * dst_.nBlockAlign, cap - written);
    h.cbSrcLengthUsed = frames * src_.nBlockAlign;
    h.cbDstLengthUsed = static_cast<uint32_t>(written) * dst_.nBlockAlign;
    return MMSYSERR_NOERROR;
  }
  uint32_t DestinationFor(uint32_t n) const override {
    const uint64_t frames = n / src_.nBlockAlign;
    // The resampler's filter may hold back, and later give, a few dozen frames.
    const uint64_t out = frames * dst_.nSamplesPerSec / src_.nSamplesPerSec + 64;
    return static_cast<uint32_t>(std::min<uint64_t>(out * dst_.nBlockAlign, UINT32_MAX));
  }
  uint32_t SourceFor(uint32_t n) const override {
    const uint64_t frames =
        uint64_t{n / dst_.nBlockAlign} * src_.nSamplesPerSec / dst_.nSamplesPerSec;
    return static_cast<uint32_t>(std::min<uint64_t>(frames * src_.nBlockAlign, UINT32_MAX));
  }
  void Reset() override {
    rs_.Init(SampleFormatOf(src_), layout_, static_cast<int>(src_.nSamplesPerSec), dst_);
  }

 private:
  ACMWAVEFORMAT src_, dst_;
  AVChannelLayout layout_{};
  Resampler rs_;
  std::vector<uint8_t> wide_;
};

// Frames in one ADPCM block of the given size; 0 for a block too small for its headers.
uint64_t AdpcmBlockFrames(uint32_t align, uint32_t channels) {
  channels = std::max<uint32_t>(channels, 1);
  if (align < 7 * channels) return 0;
  return uint64_t{align - 7 * channels} * 2 / channels + 2;
}

// A compressed tag to PCM at its own rate and channels.
class DecodeStream final : public ACMStream {
 public:
  DecodeStream(const ACMWAVEFORMAT* src, const ACMWAVEFORMAT& dst) : dst_(dst) {
    const uint32_t bytes = acmFormatBytes(src);
    src_record_.assign(reinterpret_cast<const uint8_t*>(src),
                       reinterpret_cast<const uint8_t*>(src) + bytes);
    src_ = *src;
  }
  ~DecodeStream() override {
    av_parser_close(parser_);
    avcodec_free_context(&ctx_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
  }

  bool Open() {
    const AVCodec* codec = avcodec_find_decoder(CodecOf(src_.wFormatTag));
    if (!codec) return false;
    if (src_.wFormatTag == kAcmTagADPCM && AdpcmBlockFrames(src_.nBlockAlign, src_.nChannels) == 0)
      return false;
    ctx_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!ctx_ || !frame_ || !packet_) return false;
    av_channel_layout_default(&ctx_->ch_layout, src_.nChannels);
    ctx_->sample_rate = static_cast<int>(src_.nSamplesPerSec);
    ctx_->block_align = src_.nBlockAlign;
    ctx_->bits_per_coded_sample = src_.wBitsPerSample;
    ctx_->bit_rate = int64_t{src_.nAvgBytesPerSec} * 8;
    const size_t extra = src_record_.size() - sizeof(ACMWAVEFORMAT);
    if (extra > 0) {
      ctx_->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
      if (!ctx_->extradata) return false;
      std::memcpy(ctx_->extradata, src_record_.data() + sizeof(ACMWAVEFORMAT), extra);
      ctx_->extradata_size = static_cast<int>(extra);
    }
    if (avcodec_open2(ctx_, codec, nullptr) < 0) return false;
    framed_ = src_.wFormatTag == kAcmTagMPEG || src_.wFormatTag == kAcmTagMP3;
    if (framed_ && !(parser_ = av_parser_init(codec->id))) return false;
    return true;
  }

  MMRESULT Convert(ACMSTREAMHEADER& h, uint32_t flags) override {
    if (flags & ACM_STREAMCONVERTF_START) Reset();
    out_ = h.pbDst;
    cap_ = CapacityFrames(h, dst_.nBlockAlign);
    written_ = 0;
    // What the resampler still holds from the last call goes first.
    if (rs_.Ready()) {
      static const uint8_t kNothing = 0;
      const uint8_t* none = &kNothing;
      Put(rs_.Run(&none, 0, Out(), cap_ - written_));
    }
    const bool end = flags & ACM_STREAMCONVERTF_END;
    uint32_t used = 0;
    if (framed_) {
      Parse(h.pbSrc, h.cbSrcLength);
      if (end) Parse(nullptr, 0);
      used = h.cbSrcLength;
    } else {
      const uint32_t align = std::max<uint32_t>(src_.nBlockAlign, 1);
      // Whole blocks; at the end a short last block too, as far as the codec decodes it.
      const uint32_t whole = h.cbSrcLength / align * align;
      const uint32_t step = src_.wFormatTag == kAcmTagALaw || src_.wFormatTag == kAcmTagMuLaw
                                ? std::max<uint32_t>(whole, align)
                                : align;
      for (used = 0; used + align <= whole; used += std::min(step, whole - used))
        Decode(h.pbSrc + used, std::min(step, whole - used));
      if (end && used < h.cbSrcLength) {
        Decode(h.pbSrc + used, h.cbSrcLength - used);
        used = h.cbSrcLength;
      }
    }
    if (end) {
      Decode(nullptr, 0);
      avcodec_flush_buffers(ctx_);
      if (rs_.Ready()) Put(rs_.Flush(Out(), cap_ - written_));
    }
    h.cbSrcLengthUsed = used;
    h.cbDstLengthUsed = static_cast<uint32_t>(written_) * dst_.nBlockAlign;
    return MMSYSERR_NOERROR;
  }

  uint32_t DestinationFor(uint32_t n) const override {
    const uint64_t frames = FramesFor(n);
    return static_cast<uint32_t>(std::min<uint64_t>(frames * dst_.nBlockAlign, UINT32_MAX));
  }
  uint32_t SourceFor(uint32_t n) const override {
    const uint64_t perBlock = std::max<uint64_t>(FramesFor(src_.nBlockAlign), 1);
    return static_cast<uint32_t>(std::min<uint64_t>(
        uint64_t{n / dst_.nBlockAlign} / perBlock * src_.nBlockAlign, UINT32_MAX));
  }
  void Reset() override {
    avcodec_flush_buffers(ctx_);
    if (parser_) {
      av_parser_close(parser_);
      parser_ = av_parser_init(ctx_->codec_id);
    }
    // Made again from the next decoded frame.
    rs_.Clear();
  }

 private:
  // Decoded frames for n source bytes, with room for a codec's look-ahead.
  uint64_t FramesFor(uint32_t n) const {
    const uint32_t align = std::max<uint32_t>(src_.nBlockAlign, 1);
    const uint64_t blocks = (n + align - 1) / align;
    switch (src_.wFormatTag) {
      case kAcmTagALaw:
      case kAcmTagMuLaw:
        return n / std::max<uint32_t>(src_.nChannels, 1) + 64;
      case kAcmTagADPCM:
        // The decoder takes a block's samples from its size, whatever the record declares:
        // a 7-byte header per channel holding two samples, then two samples a byte.
        return blocks * AdpcmBlockFrames(align, src_.nChannels) + 64;
      case kAcmTagIMA:
      case kAcmTagGSM610:
        return blocks * align * 2 / std::max<uint32_t>(src_.nChannels, 1) + 64;
      default: {
        // MPEG: one frame of 1,152 samples for every 24 bytes at the least bit rate it allows.
        return (uint64_t{n} / 24 + 2) * 1152;
      }
    }
  }
  uint8_t* Out() { return out_ + static_cast<size_t>(written_) * dst_.nBlockAlign; }
  void Put(int frames) { written_ += frames; }

  void Parse(const uint8_t* data, uint32_t size) {
    if (data) padded_.assign(data, data + size);
    padded_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const uint8_t* p = data ? padded_.data() : nullptr;
    int left = static_cast<int>(size);
    do {
      uint8_t* frame = nullptr;
      int frameSize = 0;
      const int n = av_parser_parse2(parser_, ctx_, &frame, &frameSize, p, left, AV_NOPTS_VALUE,
                                     AV_NOPTS_VALUE, 0);
      if (n < 0) break;
      if (p) p += n;
      left -= n;
      if (frameSize > 0) Send(frame, frameSize);
      if (!data) break;
    } while (left > 0);
  }

  void Decode(const uint8_t* data, uint32_t size) {
    if (!data) {
      Send(nullptr, 0);
      return;
    }
    padded_.assign(data, data + size);
    padded_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    Send(padded_.data(), static_cast<int>(size));
  }

  // A damaged packet gives nothing; the stream goes on with the next.
  void Send(uint8_t* data, int size) {
    packet_->data = data;
    packet_->size = size;
    if (avcodec_send_packet(ctx_, data ? packet_ : nullptr) < 0) return;
    while (avcodec_receive_frame(ctx_, frame_) >= 0) {
      if (!rs_.Matches(static_cast<AVSampleFormat>(frame_->format), frame_->ch_layout,
                       frame_->sample_rate) &&
          !rs_.Init(static_cast<AVSampleFormat>(frame_->format), frame_->ch_layout,
                    frame_->sample_rate, dst_)) {
        av_frame_unref(frame_);
        continue;
      }
      Put(rs_.Run(const_cast<const uint8_t* const*>(frame_->extended_data), frame_->nb_samples,
                  Out(), cap_ - written_));
      av_frame_unref(frame_);
    }
  }

  ACMWAVEFORMAT src_{}, dst_;
  std::vector<uint8_t> src_record_;
  AVCodecContext* ctx_ = nullptr;
  AVCodecParserContext* parser_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  bool framed_ = false;
  Resampler rs_;
  std::vector<uint8_t> padded_;
  uint8_t* out_ = nullptr;
  int cap_ = 0;
  int written_ = 0;
};

// The volume and echo filters on 8- or 16-bit PCM, the format unchanged.
class FilterStream final : public ACMStream {
 public:
  FilterStream(const ACMWAVEFORMAT& f, uint32_t tag, uint32_t volume, uint32_t delayMs)
      : f_(f), tag_(tag), volume_(volume) {
    if (tag_ == kAcmFilterEcho)
      history_.assign(
          std::max<uint64_t>(uint64_t{f.nSamplesPerSec} * delayMs / 1000, 1) * f.nChannels, 0);
  }
  MMRESULT Convert(ACMSTREAMHEADER& h, uint32_t flags) override {
    if (flags & ACM_STREAMCONVERTF_START) Reset();
    const uint32_t n = std::min(h.cbSrcLength, h.cbDstLength) / f_.nBlockAlign * f_.nBlockAlign;
    const bool eight = f_.wBitsPerSample == 8;
    const uint32_t samples = n / (eight ? 1 : 2);
    for (uint32_t i = 0; i < samples; ++i) {
      int v;
      if (eight) {
        v = (h.pbSrc[i] - 128) * 256;
      } else {
        int16_t s;
        std::memcpy(&s, h.pbSrc + 2 * i, 2);
        v = s;
      }
      int64_t out;
      if (tag_ == kAcmFilterVolume) {
        out = (int64_t{v} * volume_) >> 16;
      } else {
        int32_t& old = history_[pos_];
        out = v + ((int64_t{old} * volume_) >> 16);
        old = v;
        pos_ = (pos_ + 1) % history_.size();
      }
      const int c = static_cast<int>(std::clamp<int64_t>(out, -32768, 32767));
      if (eight) {
        h.pbDst[i] = static_cast<uint8_t>((c >> 8) + 128);
      } else {
        const int16_t s = static_cast<int16_t>(c);
        std::memcpy(h.pbDst + 2 * i, &s, 2);
      }
    }
    h.cbSrcLengthUsed = n;
    h.cbDstLengthUsed = n;
    return MMSYSERR_NOERROR;
  }
  uint32_t DestinationFor(uint32_t n) const override { return n; }
  uint32_t SourceFor(uint32_t n) const override { return n; }
  void Reset() override {
    std::fill(history_.begin(), history_.end(), 0);
    pos_ = 0;
  }

 private:
  ACMWAVEFORMAT f_;
  uint32_t tag_;
  uint32_t volume_;
  std::vector<int32_t> history_;
  size_t pos_ = 0;
};

// PCM to a compressed tag at the same rate and channels, for whole-file conversion. Encoded
// packets wait in a queue until the caller's buffer takes them.
class EncodeStream final : public ACMStream {
 public:
  EncodeStream(const ACMWAVEFORMAT& src, const ACMWAVEFORMAT& dst) : src_(src), dst_(dst) {}
  ~EncodeStream() override {
    avcodec_free_context(&ctx_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    av_channel_layout_uninit(&layout_);
  }

  bool Open() {
    const AVCodec* codec = avcodec_find_encoder(CodecOf(dst_.wFormatTag));
    if (!codec || !codec->sample_fmts) return false;
    ctx_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!ctx_ || !frame_ || !packet_) return false;
    av_channel_layout_default(&ctx_->ch_layout, dst_.nChannels);
    av_channel_layout_default(&layout_, src_.nChannels);
    ctx_->sample_rate = static_cast<int>(dst_.nSamplesPerSec);
    ctx_->sample_fmt = codec->sample_fmts[0];
    ctx_->bit_rate = int64_t{dst_.nAvgBytesPerSec} * 8;
    if (dst_.wFormatTag == kAcmTagADPCM || dst_.wFormatTag == kAcmTagIMA)
      av_opt_set_int(ctx_->priv_data, "block_size", dst_.nBlockAlign, 0);
    if (avcodec_open2(ctx_, codec, nullptr) < 0) return false;
    // The packets must be the blocks the target record promises.
    if (dst_.nBlockAlign > 1 && ctx_->block_align > 0 && ctx_->block_align != dst_.nBlockAlign)
      return false;
    frame_size_ = ctx_->frame_size > 0 ? ctx_->frame_size : 1024;
    return rs_.Init(SampleFormatOf(src_), layout_, static_cast<int>(src_.nSamplesPerSec),
                    Staging());
  }

  MMRESULT Convert(ACMSTREAMHEADER& h, uint32_t flags) override {
    if (flags & ACM_STREAMCONVERTF_START) Reset();
    const uint32_t frames = h.cbSrcLength / src_.nBlockAlign;
    const uint8_t* in = h.pbSrc;
    const size_t bytes = av_get_bytes_per_sample(ctx_->sample_fmt);
    const size_t frameBytes = bytes * dst_.nChannels;
    // Source to the encoder's sample layout, interleaved, queued until a frame is full.
    std::vector<uint8_t> tmp(static_cast<size_t>(frames + 64) * frameBytes);
    uint8_t* t = tmp.data();
    int n = Interleaved(&in, static_cast<int>(frames), t, frames + 64);
    samples_.insert(samples_.end(), tmp.begin(), tmp.begin() + n * frameBytes);
    const bool end = flags & ACM_STREAMCONVERTF_END;
    while (samples_.size() >= frame_size_ * frameBytes) EncodeFrame(frame_size_);
    if (end) {
      if (!samples_.empty()) {
        const size_t left = samples_.size() / frameBytes;
        // An encoder of any frame size (the PCM-like codecs) takes the rest as it is: padding
        // it would add silence the source never had.
        const int caps = ctx_->codec->capabilities;
        const bool small =
            (caps & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) ||
            ctx_->frame_size == 0;
        if (!small) samples_.resize(frame_size_ * frameBytes, 0);
        EncodeFrame(small ? left : frame_size_);
      }
      Drain(nullptr);
    }
    const uint32_t give =
        static_cast<uint32_t>(std::min<size_t>(h.cbDstLength, queue_.size() - head_));
    std::memcpy(h.pbDst, queue_.data() + head_, give);
    head_ += give;
    if (head_ == queue_.size()) {
      queue_.clear();
      head_ = 0;
    }
    h.cbSrcLengthUsed = frames * src_.nBlockAlign;
    h.cbDstLengthUsed = give;
    return MMSYSERR_NOERROR;
  }
  uint32_t DestinationFor(uint32_t n) const override {
    // At least the bytes per second the record names, one block more, and room for a frame.
    const uint64_t seconds1000 = uint64_t{n} * 1000 / src_.nAvgBytesPerSec + 1;
    const uint64_t out = seconds1000 * dst_.nAvgBytesPerSec / 1000 * 2 + dst_.nBlockAlign + 8192;
    return static_cast<uint32_t>(std::min<uint64_t>(out, UINT32_MAX));
  }
  uint32_t SourceFor(uint32_t n) const override {
    return static_cast<uint32_t>(std::min<uint64_t>(
        uint64_t{n} * src_.nAvgBytesPerSec / std::max<uint32_t>(dst_.nAvgBytesPerSec, 1),
        UINT32_MAX));
  }
  void Reset() override {
    avcodec_flush_buffers(ctx_);
    samples_.clear();
    queue_.clear();
    head_ = 0;
    rs_.Init(SampleFormatOf(src_), layout_, static_cast<int>(src_.nSamplesPerSec), Staging());
  }

 private:
  bool Planar() const { return av_sample_fmt_is_planar(ctx_->sample_fmt); }
  // The linear record of the encoder's own sample layout, interleaved.
  ACMWAVEFORMAT Staging() const {
    ACMWAVEFORMAT f = dst_;
    const AVSampleFormat packed = av_get_packed_sample_fmt(ctx_->sample_fmt);
    f.wFormatTag =
        (packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL) ? kAcmTagFloat : kAcmTagPCM;
    f.wBitsPerSample = static_cast<uint16_t>(av_get_bytes_per_sample(packed) * 8);
    f.nBlockAlign = static_cast<uint16_t>(f.nChannels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    f.cbSize = 0;
    return f;
  }
  int Interleaved(const uint8_t* const* in, int frames, uint8_t* out, int cap) {
    return rs_.Run(in, frames, out, cap);
  }
  void EncodeFrame(size_t frames) {
    const size_t frameBytes = av_get_bytes_per_sample(ctx_->sample_fmt) * dst_.nChannels;
    av_frame_unref(frame_);
    frame_->nb_samples = static_cast<int>(frames);
    frame_->format = ctx_->sample_fmt;
    frame_->sample_rate = ctx_->sample_rate;
    av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout);
    if (av_frame_get_buffer(frame_, 0) < 0) return;
    if (Planar()) {
      // Split the interleaved samples into the planes.
      const int bytes = av_get_bytes_per_sample(ctx_->sample_fmt);
      for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < dst_.nChannels; ++c)
          std::memcpy(frame_->extended_data[c] + i * bytes,
                      samples_.data() + (i * dst_.nChannels + c) * bytes, bytes);
    } else {
      std::memcpy(frame_->data[0], samples_.data(), frames * frameBytes);
    }
    samples_.erase(samples_.begin(),
                   samples_.begin() + std::min(samples_.size(), frames * frameBytes));
    Drain(frame_);
  }
  void Drain(AVFrame* f) {
    if (avcodec_send_frame(ctx_, f) < 0) return;
    while (avcodec_receive_packet(ctx_, packet_) >= 0) {
      queue_.insert(queue_.end(), packet_->data, packet_->data + packet_->size);
      av_packet_unref(packet_);
    }
    if (!f) avcodec_flush_buffers(ctx_);
  }

  ACMWAVEFORMAT src_, dst_;
  AVChannelLayout layout_{};
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  size_t frame_size_ = 0;
  Resampler rs_;
  std::vector<uint8_t> samples_;
  std::vector<uint8_t> queue_;
  size_t head_ = 0;
};

bool ValidRecord(const ACMWAVEFORMAT* f) {
  return f && f->nChannels >= 1 && f->nChannels <= 8 && f->nSamplesPerSec >= 1 &&
         f->nSamplesPerSec <= kMaxRate && f->nBlockAlign >= 1;
}

// The plain record of an extensible one whose samples are PCM or IEEE float; nothing for any
// other record.
bool Plain(const ACMWAVEFORMAT* f, ACMWAVEFORMAT& plain) {
  constexpr uint16_t kExtensible = 0xFFFE;
  if (!f || f->wFormatTag != kExtensible || f->cbSize < 22) return false;
  uint16_t sub;
  std::memcpy(&sub, reinterpret_cast<const uint8_t*>(f) + 24, 2);
  if (sub != kAcmTagPCM && sub != kAcmTagFloat) return false;
  plain = *f;
  plain.wFormatTag = sub;
  plain.cbSize = 0;
  return true;
}

}  // namespace

bool IsLinear(const ACMWAVEFORMAT* f) {
  ACMWAVEFORMAT plain;
  if (Plain(f, plain)) f = &plain;
  if (!ValidRecord(f)) return false;
  if (f->wFormatTag != kAcmTagPCM && f->wFormatTag != kAcmTagFloat) return false;
  if (SampleFormatOf(*f) == AV_SAMPLE_FMT_NONE) return false;
  return f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8;
}

bool CanDecode(uint16_t tag) {
  const AVCodecID id = CodecOf(tag);
  return id != AV_CODEC_ID_NONE && avcodec_find_decoder(id) != nullptr;
}

bool CanEncode(uint16_t tag) {
  const AVCodecID id = CodecOf(tag);
  return id != AV_CODEC_ID_NONE && avcodec_find_encoder(id) != nullptr;
}

std::unique_ptr<ACMStream> MakeStream(const ACMWAVEFORMAT* src, const ACMWAVEFORMAT* dst,
                                      const WAVEFILTER* filter, MMRESULT& result) {
  RouteFFmpegLog();
  result = ACMERR_NOTPOSSIBLE;
  // Extensible PCM and float records convert as their plain forms.
  ACMWAVEFORMAT plainSrc, plainDst;
  if (Plain(src, plainSrc)) src = &plainSrc;
  if (Plain(dst, plainDst)) dst = &plainDst;
  if (!ValidRecord(src) || !ValidRecord(dst)) {
    result = MMSYSERR_INVALPARAM;
    return nullptr;
  }
  if (filter) {
    if (!IsLinear(src) || src->wFormatTag != kAcmTagPCM || src->wBitsPerSample > 16 ||
        !SameShape(*src, *dst) || filter->cbStruct < sizeof(WAVEFILTER))
      return nullptr;
    if (filter->dwFilterTag == kAcmFilterVolume && filter->cbStruct >= sizeof(VOLUMEWAVEFILTER)) {
      const auto* v = reinterpret_cast<const VOLUMEWAVEFILTER*>(filter);
      return std::make_unique<FilterStream>(*src, kAcmFilterVolume, v->dwVolume, 0);
    }
    if (filter->dwFilterTag == kAcmFilterEcho && filter->cbStruct >= sizeof(ECHOWAVEFILTER)) {
      const auto* e = reinterpret_cast<const ECHOWAVEFILTER*>(filter);
      if (e->dwDelay == 0 || e->dwDelay > 10000) return nullptr;
      return std::make_unique<FilterStream>(*src, kAcmFilterEcho, e->dwVolume, e->dwDelay);
    }
    return nullptr;
  }
  if (IsLinear(src) && IsLinear(dst)) {
    auto s = std::make_unique<PcmStream>(*src, *dst);
    if (!s->Open()) return nullptr;
    result = MMSYSERR_NOERROR;
    return s;
  }
  if (IsLinear(dst) && CanDecode(src->wFormatTag)) {
    // A codec gives PCM at its own rate and channels; other changes are separate steps.
    if (dst->nChannels != src->nChannels || dst->nSamplesPerSec != src->nSamplesPerSec)
      return nullptr;
    auto s = std::make_unique<DecodeStream>(src, *dst);
    if (!s->Open()) return nullptr;
    result = MMSYSERR_NOERROR;
    return s;
  }
  if (IsLinear(src) && CanEncode(dst->wFormatTag)) {
    if (dst->nChannels != src->nChannels || dst->nSamplesPerSec != src->nSamplesPerSec)
      return nullptr;
    auto s = std::make_unique<EncodeStream>(*src, *dst);
    if (!s->Open()) return nullptr;
    result = MMSYSERR_NOERROR;
    return s;
  }
  return nullptr;
}

}  // namespace vant::acm
