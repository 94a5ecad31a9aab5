// Arbitrary bytes as a format record and its data: the engine's decoders on their own, then the
// data pulled through the ADPCM stage and the PCM stage (the compression manager's decoders and
// resampler behind it). No crash, no read or write outside a buffer, no hang.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mmacmsup.h"
#include "mmadpcm.h"
#include "mmantex.h"
#include "mmpcmsup.h"
#include "mmulaw.h"

namespace {

// Serves the data in pulls of a size the input chooses.
class Source : public TMMDSPComponent {
 public:
  Source(const WAVEFORMATEX* f, const uint8_t* data, size_t size, uint32_t piece)
      : TMMDSPComponent(nullptr), data_(data), size_(size), piece_(piece) {
    PublishLinks(false, true);
    SetPWaveFormat(f);
  }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    const uint32_t room = std::min(h->wh.dwBufferLength - h->wh.dwBytesRecorded, piece_);
    const size_t n = std::min<size_t>(room, size_ - pos_);
    std::memcpy(h->wh.lpData + h->wh.dwBytesRecorded, data_ + pos_, n);
    h->wh.dwBytesRecorded += static_cast<uint32_t>(n);
    pos_ += n;
    more = pos_ < size_;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  uint32_t piece_;
};

constexpr uint16_t kTags[] = {1, 2, 3, 6, 7, 0x11, 0x31, 0x33, 0x50, 0x55, 0x206};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  // The record: the tag from a list, the fields from the input, the extra bytes after it.
  std::vector<uint8_t> record(18 + 64, 0);
  auto* f = reinterpret_cast<WAVEFORMATEX*>(record.data());
  f->wFormatTag = kTags[data[0] % std::size(kTags)];
  f->nChannels = static_cast<uint16_t>(1 + data[1] % 4);
  static constexpr uint32_t kRates[] = {8000, 11025, 22050, 32000, 44100, 48000};
  f->nSamplesPerSec = kRates[data[2] % std::size(kRates)];
  f->nBlockAlign = static_cast<uint16_t>(data[3] | (data[4] & 0x0F) << 8);
  f->wBitsPerSample = static_cast<uint16_t>(data[5] % 33);
  f->nAvgBytesPerSec = f->nSamplesPerSec * std::max<uint16_t>(f->nBlockAlign, 1);
  const uint32_t piece = 1 + (data[6] | data[7] << 8);
  const size_t extra = std::min<size_t>(data[8] % 65, size - 12);
  f->cbSize = static_cast<uint16_t>(extra);
  std::memcpy(record.data() + 18, data + 12, extra);
  const uint8_t* body = data + 12 + extra;
  const size_t bytes = std::min<size_t>(size - 12 - extra, 16384);

  // The decoders directly.
  TADPCMWaveFormat adpcm{};
  WAVEFORMATEX pcm{};
  pcmBuildWaveHeader(pcm, 16, f->nChannels, 22050);
  if (adpcmBuildFormatHeader(&pcm, &adpcm.wfx, 16, 0, 0)) {
    std::vector<uint8_t> out(size_t(adpcm.wSamplesPerBlock) * pcm.nBlockAlign *
                             (bytes / adpcm.wfx.nBlockAlign + 1));
    adpcmDecode4Bit(&adpcm.wfx, &pcm, body, int64_t(bytes), out.data());
  }
  std::vector<uint8_t> out(bytes * 4 + 4);
  TIMA_PARAMS st{};
  WMIMATOPCM(body, out.data(), int64_t(bytes), st);
  WSDVITOPCM(body, out.data(), int64_t(bytes), st);
  for (size_t i = 0; i < bytes; ++i) Linear2uLaw(uLaw2Linear(body[i]), true);

  // The stages, with whatever record the input made.
  try {
    Source src(f, body, bytes, piece);
    TMMADPCMConverter dec(nullptr);
    TMMPCMConverter conv(nullptr);
    dec.SetInput(&src);
    conv.SetInput(&dec);
    dec.Opened();
    conv.Opened();
    dec.Started();
    conv.Started();
    std::vector<char> buf(2048);
    for (int i = 0; i < 256; ++i) {
      TMMWaveHdr h{};
      h.wh.lpData = buf.data();
      h.wh.dwBufferLength = static_cast<uint32_t>(buf.size());
      bool more = false;
      conv.BufferLoad(&h, more);
      if (!more && h.wh.dwBytesRecorded == 0) break;
    }
    conv.Closed();
    dec.Closed();
  } catch (const vant::Exception&) {
    // Refused records and failed conversions are reported this way.
  }
  return 0;
}
