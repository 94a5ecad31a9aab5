#include "mmacmsup.h"

#include <algorithm>
#include <cstring>

#include "mmadpcm.h"
#include "mmobj.h"
#include "mmpcmsup.h"
#include "mmwavefmt.h"

namespace {

constexpr uint32_t kFormatBuffer = 1025;
constexpr char kUnableText[] = "Unable to convert to destination format";

uint32_t OpenFlags(bool realtime) { return realtime ? 0u : uint32_t{ACM_STREAMOPENF_NONREALTIME}; }

bool CanOpen(const WAVEFORMATEX* a, const WAVEFORMATEX* b, bool realtime) {
  return acmStreamOpen(nullptr, a, b, nullptr, ACM_STREAMOPENF_QUERY | OpenFlags(realtime)) ==
         MMSYSERR_NOERROR;
}

bool IsPCM(const WAVEFORMATEX* f) { return f && f->wFormatTag == WAVE_FORMAT_PCM; }

// A suggestion from src into an 18-byte record; false when the manager has none.
bool Suggest(const WAVEFORMATEX* src, WAVEFORMATEX& dst, uint32_t flags) {
  std::vector<uint8_t> buffer(kFormatBuffer, 0);
  std::memcpy(buffer.data(), &dst, sizeof dst);
  auto* f = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
  if (acmFormatSuggest(src, f, kFormatBuffer, flags) != MMSYSERR_NOERROR) return false;
  dst = *f;
  if (IsPCM(&dst)) dst.cbSize = 0;
  return true;
}

void FreeStage(TACMStage& s) {
  if (s.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
    s.Header.pbSrc = s.SrcBuffer;
    s.Header.cbSrcLength = static_cast<uint32_t>(s.Header.dwSrcUser);
    s.Header.cbDstLength = static_cast<uint32_t>(s.Header.dwDstUser);
    acmStreamUnprepareHeader(s.Stream, &s.Header);
  }
  if (s.Stream) acmStreamClose(s.Stream);
  s.Stream = nullptr;
}

bool AddStage(TACMConvert& c, const WAVEFORMATEX* a, const WAVEFORMATEX* b, bool realtime) {
  auto s = std::make_unique<TACMStage>();
  if (acmStreamOpen(&s->Stream, a, b, nullptr, OpenFlags(realtime)) != MMSYSERR_NOERROR)
    return false;
  if (!c.Stages.empty()) {
    s->SrcBuffer = c.Stages.back()->DstBuffer;
    s->SrcSize = c.Stages.back()->DstSize;
  } else if (c.SrcBuffer) {
    s->SrcBuffer = c.SrcBuffer;
    s->SrcSize = c.SrcSize;
  } else {
    c.OwnSource.assign(size_t{c.SrcSize} * 4, 0);
    c.OwnsSource = true;
    c.SrcBuffer = c.OwnSource.data();
    s->SrcBuffer = c.SrcBuffer;
    s->SrcSize = c.SrcSize;
  }
  uint32_t dst = 0;
  if (acmStreamSize(s->Stream, s->SrcSize, dst, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR ||
      dst == 0) {
    FreeStage(*s);
    return false;
  }
  s->Dst.assign(dst, 0);
  s->DstBuffer = s->Dst.data();
  s->DstSize = dst;
  // Carried bytes plus a full source block fit in the stage's own joining buffer.
  s->Carry.assign(size_t{s->SrcSize} * 2, 0);
  ACMSTREAMHEADER& h = s->Header;
  h.cbStruct = sizeof h;
  h.pbSrc = s->SrcBuffer;
  h.cbSrcLength = s->SrcSize * 2;
  h.dwSrcUser = h.cbSrcLength;
  h.pbDst = s->DstBuffer;
  h.cbDstLength = dst;
  h.dwDstUser = dst;
  if (acmStreamPrepareHeader(s->Stream, &h) != MMSYSERR_NOERROR) {
    FreeStage(*s);
    return false;
  }
  c.DstBuffer = s->DstBuffer;
  c.DstSize = s->DstSize;
  c.Stages.push_back(std::move(s));
  return true;
}

bool Connect(TACMConvert& c, const WAVEFORMATEX* a, const WAVEFORMATEX* b, bool realtime) {
  if (!acmUsable() || !a || !b || !acmMustConvert(a, b)) return false;
  if (CanOpen(a, b, realtime)) return AddStage(c, a, b, realtime);
  WAVEFORMATEX i{};
  const uint32_t base = ACM_FORMATSUGGESTF_WFORMATTAG;
  if (IsPCM(a)) {
    if (b->nChannels == a->nChannels && b->nSamplesPerSec == a->nSamplesPerSec) return false;
    pcmBuildWaveHeader(i, a->wBitsPerSample, b->nChannels, static_cast<int>(b->nSamplesPerSec));
    if (!Suggest(a, i, base | ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC))
      return false;
    if (!CanOpen(&i, b, realtime)) {
      i.wBitsPerSample = i.wBitsPerSample == 16 ? 8 : 16;
      if (!Suggest(a, i,
                   base | ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                       ACM_FORMATSUGGESTF_WBITSPERSAMPLE))
        return false;
    }
  } else {
    pcmBuildWaveHeader(i, 16, b->nChannels, static_cast<int>(b->nSamplesPerSec));
    if (!Suggest(a, i, base | ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC)) {
      pcmBuildWaveHeader(i, 16, b->nChannels, static_cast<int>(b->nSamplesPerSec));
      if (!Suggest(a, i, base)) return false;
    }
  }
  if (!CanOpen(a, &i, realtime) || !AddStage(c, a, &i, realtime)) return false;
  if (!acmMustConvert(&i, b)) return true;
  return Connect(c, &i, b, realtime);
}

int64_t Run(PACMConvert c, uint32_t n, bool end) {
  if (!c) return -1;
  n = std::min(n, c->SrcSize);
  c->Pending = false;
  c->Starved = false;
  for (auto& sp : c->Stages) {
    TACMStage& s = *sp;
    ACMSTREAMHEADER& h = s.Header;
    n = std::min(n, s.SrcSize);
    if (s.Carried > 0) {
      std::memcpy(s.Carry.data() + s.Carried, s.SrcBuffer, n);
      h.pbSrc = s.Carry.data();
    } else {
      h.pbSrc = s.SrcBuffer;
    }
    h.cbSrcLength = n + s.Carried;
    h.cbDstLength = static_cast<uint32_t>(h.dwDstUser);
    const uint32_t flags = end ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
    if (acmStreamConvert(s.Stream, &h, flags) != MMSYSERR_NOERROR) return -1;
    while (!(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE)) {
    }
    const uint32_t used = std::min(h.cbSrcLengthUsed, h.cbSrcLength);
    const uint32_t left = h.cbSrcLength - used;
    if (left > 0) {
      // Kept in the stage's own buffer; a stream that takes nothing cannot grow it past one
      // more source block.
      if (left > s.SrcSize) return -1;
      std::memmove(s.Carry.data(), h.pbSrc + used, left);
      c->Pending = true;
    }
    s.Carried = left;
    if (!end && used > 0 && h.cbDstLengthUsed == 0) c->Starved = true;
    n = h.cbDstLengthUsed;
  }
  c->BytesConverted = n;
  c->BytesTaken = 0;
  return n;
}

}  // namespace

bool acmMustConvert(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  if (!a || !b) return false;
  return !(a->wFormatTag == b->wFormatTag && a->wBitsPerSample == b->wBitsPerSample &&
           a->nChannels == b->nChannels && a->nSamplesPerSec == b->nSamplesPerSec);
}

WAVEFORMATEX acmSuggestPCMFormat(const WAVEFORMATEX* pwfx) {
  WAVEFORMATEX r{};
  if (!pwfx) return r;
  if (IsPCM(pwfx)) {
    r = *pwfx;
    r.cbSize = 0;
    return r;
  }
  if (!acmUsable()) return r;
  WAVEFORMATEX s{};
  s.wFormatTag = WAVE_FORMAT_PCM;
  if (Suggest(pwfx, s, ACM_FORMATSUGGESTF_WFORMATTAG) && CanOpen(pwfx, &s, true)) r = s;
  return r;
}

WAVEFORMATEX acmSuggestPCMFormatEx(const WAVEFORMATEX* pwfx, int bits, int channels, int rate) {
  WAVEFORMATEX r{};
  if (!pwfx) return r;
  r = *pwfx;
  if (IsPCM(pwfx) && (bits <= 0 || pwfx->wBitsPerSample == bits) &&
      (channels <= 0 || pwfx->nChannels == channels) &&
      (rate <= 0 || pwfx->nSamplesPerSec == static_cast<uint32_t>(rate)))
    return r;
  if (!acmUsable()) return r;
  WAVEFORMATEX s{};
  s.wFormatTag = WAVE_FORMAT_PCM;
  uint32_t flags = ACM_FORMATSUGGESTF_WFORMATTAG;
  if (bits > 0) {
    s.wBitsPerSample = static_cast<uint16_t>(bits);
    flags |= ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
  }
  if (channels > 0) {
    s.nChannels = static_cast<uint16_t>(channels);
    flags |= ACM_FORMATSUGGESTF_NCHANNELS;
  }
  if (rate > 0) {
    s.nSamplesPerSec = static_cast<uint32_t>(rate);
    flags |= ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
  }
  if (Suggest(pwfx, s, flags) && CanOpen(pwfx, &s, true)) r = s;
  return r;
}

bool acmQueryConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target, bool realtime) {
  if (!acmUsable() || !source || !target) return false;
  if (!acmMustConvert(source, target)) return true;
  // Building the chain answers it; its streams are closed again at once.
  PACMConvert c = acmBeginConvert(source, target, nullptr,
                                  std::max<uint32_t>(source->nBlockAlign, 1), realtime);
  const bool ok = c != nullptr;
  acmDoneConvert(c);
  return ok;
}

int64_t acmSizeOutputData(const WAVEFORMATEX* source, const WAVEFORMATEX* target, uint32_t n) {
  if (!acmUsable() || !source || !target) return -1;
  HACMSTREAM s = nullptr;
  if (acmStreamOpen(&s, source, target, nullptr, 0) != MMSYSERR_NOERROR) return -1;
  uint32_t out = 0;
  const MMRESULT r = acmStreamSize(s, n, out, ACM_STREAMSIZEF_SOURCE);
  acmStreamClose(s);
  return r == MMSYSERR_NOERROR ? int64_t{out} : -1;
}

PACMConvert acmBeginConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target, uint8_t* buffer,
                            uint32_t size, bool realtime) {
  if (!acmUsable() || !source || !target) return nullptr;
  auto c = std::make_unique<TACMConvert>();
  const uint32_t align = std::max<uint32_t>(source->nBlockAlign, 1);
  c->SrcSize = size / align * align;
  if (c->SrcSize == 0) return nullptr;
  c->SrcBuffer = buffer;
  PACMConvert p = c.release();
  if (!Connect(*p, source, target, realtime) || p->Stages.empty()) {
    acmDoneConvert(p);
    return nullptr;
  }
  p->SrcBuffer = p->Stages.front()->SrcBuffer;
  return p;
}

int64_t acmDoConvert(PACMConvert chain, uint32_t n) { return Run(chain, n, false); }
int64_t acmEndConvert(PACMConvert chain, uint32_t n) { return Run(chain, n, true); }

int acmFlushConvert(PACMConvert chain) {
  if (!chain) return 0;
  chain->BytesTaken = chain->BytesConverted;
  chain->Pending = false;
  chain->Starved = false;
  for (auto& s : chain->Stages) {
    s->Carried = 0;
    s->Header.pbSrc = s->SrcBuffer;
    s->Header.cbSrcLength = 0;
    s->Header.cbDstLength = static_cast<uint32_t>(s->Header.dwDstUser);
    acmStreamConvert(s->Stream, &s->Header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
    acmStreamReset(s->Stream);
  }
  return 1;
}

void acmDoneConvert(PACMConvert& chain) {
  if (!chain) return;
  for (auto it = chain->Stages.rbegin(); it != chain->Stages.rend(); ++it) FreeStage(**it);
  delete chain;
  chain = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TMMACMConverter

TMMACMConverter::TMMACMConverter(vant::TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
}

TMMACMConverter::~TMMACMConverter() { acmDoneConvert(chain_); }

void TMMACMConverter::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  PrepareConversion();
}

void TMMACMConverter::SetQuality(TMMConvertQuality value) {
  if (value == quality_) return;
  quality_ = value;
  PrepareConversion();
}

void TMMACMConverter::SuggestFormat() { SetTarget(requested_.get()); }

void TMMACMConverter::PrepareConversion() {
  must_convert_ = false;
  can_convert_ = false;
  const WAVEFORMATEX* in = input_format_.get();
  if (in && enabled_) {
    SuggestFormat();
    if (target_ && acmMustConvert(in, target_.get())) {
      must_convert_ = true;
      if (acmQueryConvert(in, target_.get(), quality_ == cqLow)) {
        can_convert_ = true;
        TMMDSPComponent::SetPWaveFormat(target_.get());
        return;
      }
    }
  }
  TMMDSPComponent::SetPWaveFormat(in);
}

void TMMACMConverter::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (Quiet()) {
    TMMDSPComponent::SetPWaveFormat(format);
    return;
  }
  StoreRequested(format);
  PrepareConversion();
}

void TMMACMConverter::ChangePWaveFormat(const WAVEFORMATEX* format) {
  input_format_ = wioCopyWaveFormat(format);
  if (Quiet()) return;
  PrepareConversion();
}

void TMMACMConverter::Loaded() {
  TMMDSPComponent::Loaded();
  PrepareConversion();
}

void TMMACMConverter::Fail() {
  can_convert_ = false;
  throw EMMConverterError(kUnableText);
}

void TMMACMConverter::Opened() {
  if (!opened_ && enabled_) {
    if (must_convert_) {
      if (!can_convert_) Fail();
      block_size_ = static_cast<uint32_t>(std::min<int32_t>(
          8192, std::max<int32_t>(GetBufferSize(), std::max(QUEUE_READ_SIZE, QUEUE_WRITE_SIZE))));
      chain_ = acmBeginConvert(input_format_.get(), GetPWaveFormat(), nullptr, block_size_,
                               quality_ == cqLow);
      if (!chain_) Fail();
    }
    opened_ = true;
  }
  TMMDSPComponent::Opened();
}

void TMMACMConverter::Closed() {
  Stopped();
  opened_ = false;
  acmDoneConvert(chain_);
  TMMDSPComponent::Closed();
}

void TMMACMConverter::Started() {
  TMMDSPComponent::Started();
  started_ = true;
  more_upstream_ = false;
  upstream_ended_ = false;
}

void TMMACMConverter::Stopped() {
  started_ = false;
  if (chain_) chain_->BytesTaken = chain_->BytesConverted;
  TMMDSPComponent::Stopped();
}

void TMMACMConverter::Reseting() {
  TMMDSPComponent::Reseting();
  acmFlushConvert(chain_);
  upstream_ended_ = false;
}

void TMMACMConverter::CopyOut(PMMWaveHdr h) {
  const uint32_t have = chain_->BytesConverted - chain_->BytesTaken;
  const uint32_t room = h->wh.dwBufferLength - h->wh.dwBytesRecorded;
  const uint32_t n = std::min(have, room);
  if (n == 0) return;
  std::memcpy(h->wh.lpData + h->wh.dwBytesRecorded, chain_->DstBuffer + chain_->BytesTaken, n);
  h->wh.dwBytesRecorded += n;
  chain_->BytesTaken += n;
}

void TMMACMConverter::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (!Converting() || !chain_) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  TMMDSPComponent* input = GetInput();
  if (!input || !opened_ || !started_) return;
  int failures = 0;
  for (;;) {
    CopyOut(lpWaveHdr);
    if (lpWaveHdr->LoopRec.dwLooped || !started_ ||
        lpWaveHdr->wh.dwBytesRecorded >= lpWaveHdr->wh.dwBufferLength)
      break;
    uint32_t got = 0;
    if (!upstream_ended_) {
      hdr_ = TMMWaveHdr{};
      hdr_.wh.lpData = reinterpret_cast<char*>(chain_->SrcBuffer);
      hdr_.wh.dwBufferLength = chain_->SrcSize;
      hdr_.LoopRec = lpWaveHdr->LoopRec;
      more_upstream_ = false;
      input->BufferLoad(&hdr_, more_upstream_);
      lpWaveHdr->LoopRec = hdr_.LoopRec;
      got = std::min(hdr_.wh.dwBytesRecorded, chain_->SrcSize);
      if (!more_upstream_ || got == 0) upstream_ended_ = true;
    }
    if (got > 0 && started_ && !upstream_ended_) {
      const int64_t r = acmDoConvert(chain_, got);
      if (r < 0) Fail();
      if (r > 0) continue;
      // Nothing yet from a stream that still has input coming: it may need more first, but
      // not for ever.
      if (++failures >= 5) Fail();
      continue;
    }
    if (!started_) break;
    const int64_t r = acmEndConvert(chain_, got);
    if (r < 0) Fail();
    if (r == 0) break;
  }
  MoreBuffers = more_upstream_ || chain_->BytesConverted > chain_->BytesTaken || chain_->Pending;
}

void TMMACMConverter::BufferReady(PMMWaveHdr lpWaveHdr) {
  TMMDSPComponent* output = GetOutput();
  if (!opened_ || !started_ || !output || !Converting() || !chain_) {
    TMMDSPComponent::BufferReady(lpWaveHdr);
    return;
  }
  const uint8_t* data = reinterpret_cast<const uint8_t*>(lpWaveHdr->wh.lpData);
  uint32_t left = lpWaveHdr->wh.dwBytesRecorded;
  const uint32_t piece = static_cast<uint32_t>(std::max<int32_t>(GetBufferSize(), 1));
  while (left > 0 && started_) {
    const uint32_t n = std::min({left, block_size_, chain_->SrcSize});
    std::memcpy(chain_->SrcBuffer, data, n);
    data += n;
    left -= n;
    const int64_t r = acmDoConvert(chain_, n);
    if (r < 0 || (r == 0 && !chain_->Pending && !chain_->Starved)) Fail();
    uint32_t off = 0;
    while (off < static_cast<uint32_t>(r) && started_) {
      const uint32_t m = std::min(piece, static_cast<uint32_t>(r) - off);
      hdr_ = TMMWaveHdr{};
      hdr_.wh.lpData = reinterpret_cast<char*>(chain_->DstBuffer + off);
      hdr_.wh.dwBufferLength = m;
      hdr_.wh.dwBytesRecorded = m;
      output->BufferReady(&hdr_);
      off += m;
    }
    chain_->BytesTaken = chain_->BytesConverted;
  }
}

// ---------------------------------------------------------------------------------------------
// TMMPCMConverter

TMMPCMConverter::TMMPCMConverter(vant::TComponent* owner) : TMMACMConverter(owner) {}

void TMMPCMConverter::SuggestFormat() {
  if (!GetEnabled()) return;
  const WAVEFORMATEX* in = InputFormat();
  WAVEFORMATEX t{};
  if (in) {
    // PCM wider than the engine's sample routines take (8 and 16 bits) goes to 16 bits, as its
    // extensible form does.
    t = IsPCM(in) && !pcmIsValidFormat(in) && in->wBitsPerSample > 16
            ? acmSuggestPCMFormatEx(in, 16, 0, 0)
            : acmSuggestPCMFormat(in);
    if (!auto_convert_ && t.wFormatTag != 0) {
      int bits = t.wBitsPerSample, channels = t.nChannels;
      int rate = static_cast<int>(t.nSamplesPerSec);
      if (required_ & RequiredBit(rpBits)) bits = (bits_ + 1) * 8;
      if (required_ & RequiredBit(rpChannels)) channels = mode_ + 1;
      if (required_ & RequiredBit(rpSampleRate)) rate = rate_;
      pcmBuildWaveHeader(t, bits, channels, rate);
    }
  } else {
    pcmBuildWaveHeader(t, (bits_ + 1) * 8, mode_ + 1, rate_);
  }
  SetTarget(t.wFormatTag != 0 ? &t : nullptr);
}

void TMMPCMConverter::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (!format || Quiet()) {
    if (Quiet()) TMMDSPComponent::SetPWaveFormat(format);
    return;
  }
  if (!pcmIsValidFormat(format)) {
    if (HasState(vant::csDesigning)) return;
    throw EMMConverterError(LoadResStr(62));
  }
  TMMACMConverter::SetPWaveFormat(format);
}

void TMMPCMConverter::Recompute() {
  SuggestFormat();
  const WAVEFORMATEX* t = TargetFormat();
  TWaveFormatPtr copy = wioCopyWaveFormat(t ? t : InputFormat());
  if (copy) SetPWaveFormat(copy.get());
}

void TMMPCMConverter::SetAutoConvert(bool value) {
  if (value == auto_convert_) return;
  auto_convert_ = value;
  Recompute();
}

void TMMPCMConverter::SetBitLength(TMMBits value) {
  if (value == bits_) return;
  bits_ = value;
  Recompute();
}

void TMMPCMConverter::SetMode(TMMMode value) {
  if (value == mode_ || (value != mMono && value != mStereo)) return;
  mode_ = value;
  Recompute();
}

void TMMPCMConverter::SetSampleRate(int32_t value) {
  value = std::clamp<int32_t>(value, 8000, 88200);
  if (value == rate_) return;
  rate_ = value;
  Recompute();
}

void TMMPCMConverter::SetRequired(TMMRequiredParams value) {
  if (value == required_) return;
  required_ = value;
  Recompute();
}

// ---------------------------------------------------------------------------------------------
// TMMADPCMConverter

namespace {

bool IsNibbleTag(const WAVEFORMATEX* f) {
  return f &&
         ((f->wFormatTag == WAVE_FORMAT_ANTEX_IMA && f->wBitsPerSample == 4) ||
          f->wFormatTag == WAVE_FORMAT_ANTEX_ADPCME || f->wFormatTag == WAVE_FORMAT_ANTEX_DVI_OKI);
}

}  // namespace

TMMADPCMConverter::TMMADPCMConverter(vant::TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
}

TMMADPCMConverter::~TMMADPCMConverter() = default;

void TMMADPCMConverter::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  PrepareConversion();
}

void TMMADPCMConverter::SetBitLength(TMMBits value) {
  if (value == bits_) return;
  bits_ = value;
  PrepareConversion();
}

void TMMADPCMConverter::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (Quiet()) TMMDSPComponent::SetPWaveFormat(format);
}

void TMMADPCMConverter::ChangePWaveFormat(const WAVEFORMATEX* format) {
  input_format_ = wioCopyWaveFormat(format);
  if (Quiet()) return;
  PrepareConversion();
}

void TMMADPCMConverter::Loaded() {
  TMMDSPComponent::Loaded();
  PrepareConversion();
}

void TMMADPCMConverter::PrepareConversion() {
  must_decode_ = false;
  can_decode_ = false;
  target_.reset();
  const WAVEFORMATEX* in = input_format_.get();
  if (in && enabled_) {
    const int bits = (bits_ + 1) * 8;
    auto t = AllocWaveFormat(sizeof(TADPCMWaveFormat));
    bool built = false;
    if (in->wFormatTag == WAVE_FORMAT_ADPCM) {
      built = adpcmBuildFormatHeader(in, t.get(), bits, 0, 0);
    } else if (IsNibbleTag(in)) {
      pcmBuildWaveHeader(*t, bits, in->nChannels, static_cast<int>(in->nSamplesPerSec));
      built = true;
    }
    // Tags this stage has no decoder for pass through to the stage behind it, which converts
    // them through the compression manager.
    if (built && t->wFormatTag == WAVE_FORMAT_PCM) {
      must_decode_ = can_decode_ = true;
      target_ = std::move(t);
    }
  }
  if (enabled_ && must_decode_ && can_decode_) {
    TMMDSPComponent::SetPWaveFormat(target_.get());
  } else {
    TMMDSPComponent::SetPWaveFormat(in);
  }
}

void TMMADPCMConverter::FreeBuffers() {
  in_.clear();
  in_.shrink_to_fit();
  out_.clear();
  out_.shrink_to_fit();
  in_size_ = in_kept_ = out_bytes_ = out_taken_ = 0;
}

void TMMADPCMConverter::Opened() {
  if (!opened_ && enabled_ && must_decode_) {
    if (!can_decode_) throw EMMADPCMError(kUnableText);
    const WAVEFORMATEX* in = input_format_.get();
    const uint32_t align = std::max<uint32_t>(in->nBlockAlign, 1);
    // Whole blocks only: at least one, as many as 4,096 bytes hold.
    in_size_ = std::max<uint32_t>(4096 / align, 1) * align;
    uint64_t out = uint64_t{in_size_} * 4;
    if (in->wFormatTag == WAVE_FORMAT_ADPCM) {
      const auto* f = reinterpret_cast<const TADPCMWaveFormat*>(in);
      const uint32_t spb = in->cbSize >= 2 ? f->wSamplesPerBlock : 0;
      out = uint64_t{std::max<uint32_t>(spb, 2)} * target_->nBlockAlign * (in_size_ / align);
    }
    try {
      in_.assign(in_size_ + align, 0);
      out_.assign(out, 0);
    } catch (const std::bad_alloc&) {
      can_decode_ = false;
      FreeBuffers();
      throw EMMADPCMError(kUnableText);
    }
    in_kept_ = out_bytes_ = out_taken_ = 0;
    opened_ = true;
  } else if (!opened_ && enabled_) {
    opened_ = true;
  }
  TMMDSPComponent::Opened();
}

void TMMADPCMConverter::Closed() {
  Stopped();
  opened_ = false;
  FreeBuffers();
  TMMDSPComponent::Closed();
}

void TMMADPCMConverter::Started() {
  TMMDSPComponent::Started();
  started_ = true;
  more_upstream_ = upstream_ended_ = false;
  out_bytes_ = out_taken_ = 0;
  in_kept_ = 0;
  ima_ = {};
}

void TMMADPCMConverter::Stopped() {
  started_ = false;
  out_taken_ = out_bytes_;
  TMMDSPComponent::Stopped();
}

void TMMADPCMConverter::Reseting() {
  TMMDSPComponent::Reseting();
  out_taken_ = out_bytes_;
  in_kept_ = 0;
  ima_ = {};
}

int64_t TMMADPCMConverter::Decode(uint32_t n) {
  const WAVEFORMATEX* in = input_format_.get();
  if (in->wFormatTag == WAVE_FORMAT_ADPCM)
    return adpcmDecode4Bit(in, target_.get(), in_.data(), n, out_.data());
  const bool dvi = in->wFormatTag != WAVE_FORMAT_ANTEX_IMA;
  int64_t r = 0;
  if (in->nChannels == 1) {
    r = dvi ? WMDVITOPCM(in_.data(), out_.data(), n, ima_)
            : WMIMATOPCM(in_.data(), out_.data(), n, ima_);
  } else if (in->nChannels == 2) {
    r = dvi ? WSDVITOPCM(in_.data(), out_.data(), n, ima_)
            : WSIMATOPCM(in_.data(), out_.data(), n, ima_);
  }
  if (r > 0 && bits_ == b8Bit) r = pcmBitsPerSampleAlign(8, out_.data(), 16, out_.data(), r);
  return r;
}

void TMMADPCMConverter::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (!enabled_ || !must_decode_) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  TMMDSPComponent* input = GetInput();
  if (!input || !opened_ || !started_ || !can_decode_ || in_.empty()) return;
  lpWaveHdr->wh.dwBytesRecorded = 0;
  const uint32_t align = std::max<uint32_t>(input_format_->nBlockAlign, 1);
  for (;;) {
    const uint32_t room = lpWaveHdr->wh.dwBufferLength - lpWaveHdr->wh.dwBytesRecorded;
    const uint32_t n = std::min(room, out_bytes_ - out_taken_);
    std::memcpy(lpWaveHdr->wh.lpData + lpWaveHdr->wh.dwBytesRecorded, out_.data() + out_taken_, n);
    lpWaveHdr->wh.dwBytesRecorded += n;
    out_taken_ += n;
    if (lpWaveHdr->LoopRec.dwLooped || !started_ ||
        lpWaveHdr->wh.dwBytesRecorded >= lpWaveHdr->wh.dwBufferLength)
      break;
    uint32_t have = in_kept_;
    if (!upstream_ended_) {
      hdr_ = TMMWaveHdr{};
      hdr_.wh.lpData = reinterpret_cast<char*>(in_.data() + in_kept_);
      hdr_.wh.dwBufferLength = in_size_ - in_kept_;
      hdr_.LoopRec = lpWaveHdr->LoopRec;
      more_upstream_ = false;
      input->BufferLoad(&hdr_, more_upstream_);
      lpWaveHdr->LoopRec = hdr_.LoopRec;
      const uint32_t got = std::min(hdr_.wh.dwBytesRecorded, in_size_ - in_kept_);
      have += got;
      if (!more_upstream_ || got == 0) upstream_ended_ = true;
    }
    if (have == 0 || !started_) break;
    // A short block waits for the rest of it, unless nothing more will come.
    const uint32_t whole = upstream_ended_ ? have : have / align * align;
    if (whole == 0) {
      in_kept_ = have;
      continue;
    }
    const int64_t r = Decode(whole);
    in_kept_ = have - whole;
    if (in_kept_) std::memmove(in_.data(), in_.data() + whole, in_kept_);
    if (r <= 0) {
      if (upstream_ended_) break;
      can_decode_ = false;
      return;
    }
    out_bytes_ = static_cast<uint32_t>(r);
    out_taken_ = 0;
  }
  MoreBuffers = more_upstream_ || out_taken_ < out_bytes_;
}
