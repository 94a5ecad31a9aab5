#pragma once
// Conversion chains between any two wave formats through the compression manager (a direct
// stream, or steps through intermediate PCM formats), and the two converter stages every audio
// file's chain carries: TMMACMConverter/TMMPCMConverter convert through such a chain,
// TMMADPCMConverter decodes Microsoft, IMA and DVI ADPCM with the engine's own codecs.
#include <cstdint>
#include <memory>
#include <vector>

#include "mmacm.h"
#include "mmantex.h"
#include "mmdspcomponent.h"
#include "mmenums.h"
#include "mmwavefmt.h"
#include "mmwaveformat.h"

VANT_DECLARE_EXCEPTION(EMMConverterError, vant::Exception);
VANT_DECLARE_EXCEPTION(EMMADPCMError, vant::Exception);

// One conversion step. The unconverted bytes a stream leaves are kept in Carry, a buffer of the
// stage's own, and put in front of the next call's bytes.
struct TACMStage {
  uint8_t* SrcBuffer = nullptr;
  uint8_t* DstBuffer = nullptr;
  uint32_t SrcSize = 0;
  uint32_t DstSize = 0;
  uint32_t Carried = 0;
  HACMSTREAM Stream = nullptr;
  ACMSTREAMHEADER Header{};
  std::vector<uint8_t> Carry;  // Carried bytes, then room to join them with new ones
  std::vector<uint8_t> Dst;    // owns DstBuffer
};

struct TACMConvert {
  uint8_t* SrcBuffer = nullptr;  // the caller puts the next source block here
  uint8_t* DstBuffer = nullptr;  // the last stage's output
  uint32_t SrcSize = 0;          // largest source block, a multiple of the source block align
  uint32_t DstSize = 0;
  uint32_t BytesConverted = 0;  // output of the last conversion
  uint32_t BytesTaken = 0;      // of that output, consumed by the user
  bool Pending = false;         // some stage kept source bytes for the next call
  bool Starved = false;         // some stage used input but produced nothing yet
  bool OwnsSource = false;
  std::vector<uint8_t> OwnSource;
  std::vector<std::unique_ptr<TACMStage>> Stages;
};
using PACMConvert = TACMConvert*;

bool acmMustConvert(const WAVEFORMATEX* a, const WAVEFORMATEX* b);
// PCM as it is; else the PCM format the manager suggests for decoding it (tag 0 when none).
WAVEFORMATEX acmSuggestPCMFormat(const WAVEFORMATEX* pwfx);
// A PCM format for pwfx constrained by the positive parameters; a copy of pwfx when none.
WAVEFORMATEX acmSuggestPCMFormatEx(const WAVEFORMATEX* pwfx, int bits, int channels, int rate);
bool acmQueryConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target, bool realtime);
// Output bytes for n source bytes; -1 when no stream can be opened.
int64_t acmSizeOutputData(const WAVEFORMATEX* source, const WAVEFORMATEX* target, uint32_t n);

// Nil when no chain can be built. buffer (may be nil) is the caller's source buffer of size
// bytes; without one the chain owns a source buffer.
PACMConvert acmBeginConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target, uint8_t* buffer,
                            uint32_t size, bool realtime);
// Converts n bytes from the source buffer; the output bytes of the last stage, -1 on failure.
int64_t acmDoConvert(PACMConvert chain, uint32_t n);
// The same for the last block of a stream.
int64_t acmEndConvert(PACMConvert chain, uint32_t n);
// Throws away everything held inside; 1 (0 for nil).
int acmFlushConvert(PACMConvert chain);
void acmDoneConvert(PACMConvert& chain);

enum TMMConvertQuality { cqHigh, cqLow };
enum TMMRequiredParam { rpBits, rpChannels, rpSampleRate };
using TMMRequiredParams = uint8_t;  // bit set of TMMRequiredParam
inline constexpr TMMRequiredParams RequiredBit(TMMRequiredParam p) { return uint8_t(1u << p); }
inline constexpr TMMRequiredParams kAllRequired =
    RequiredBit(rpBits) | RequiredBit(rpChannels) | RequiredBit(rpSampleRate);

class TMMACMConverter : public TMMDSPComponent {
 public:
  explicit TMMACMConverter(vant::TComponent* owner);
  ~TMMACMConverter() override;

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMConvertQuality GetQuality() const { return quality_; }
  void SetQuality(TMMConvertQuality value);
  // No conversion needed, or the conversion is possible.
  bool GetCanConvert() const { return !must_convert_ || can_convert_; }
  bool MustConvert() const { return must_convert_; }
  const WAVEFORMATEX* InputFormat() const { return input_format_.get(); }
  const WAVEFORMATEX* TargetFormat() const { return target_.get(); }

  virtual void SuggestFormat();
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  void ChangePWaveFormat(const WAVEFORMATEX* format) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Reseting() override;
  void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) override;
  void BufferReady(PMMWaveHdr lpWaveHdr) override;
  void Loaded() override;
  std::string ClassName() const override { return "TMMACMConverter"; }

 protected:
  void PrepareConversion();
  void SetTarget(const WAVEFORMATEX* format) { target_ = wioCopyWaveFormat(format); }
  const WAVEFORMATEX* Requested() const { return requested_.get(); }
  void StoreRequested(const WAVEFORMATEX* format) { requested_ = wioCopyWaveFormat(format); }

 private:
  bool Converting() const { return enabled_ && must_convert_; }
  void CopyOut(PMMWaveHdr h);
  [[noreturn]] void Fail();

  bool enabled_ = true;
  TMMConvertQuality quality_ = cqLow;
  bool opened_ = false;
  bool started_ = false;
  uint32_t block_size_ = 0;
  TWaveFormatPtr input_format_;
  TWaveFormatPtr requested_;
  TWaveFormatPtr target_;
  bool must_convert_ = false;
  bool can_convert_ = false;
  PACMConvert chain_ = nullptr;
  bool more_upstream_ = false;
  bool upstream_ended_ = false;
  TMMWaveHdr hdr_{};
};

class TMMPCMConverter : public TMMACMConverter {
 public:
  explicit TMMPCMConverter(vant::TComponent* owner);

  bool GetAutoConvert() const { return auto_convert_; }
  void SetAutoConvert(bool value);
  TMMBits GetBitLength() const { return bits_; }
  void SetBitLength(TMMBits value);
  TMMMode GetMode() const { return mode_; }
  void SetMode(TMMMode value);
  int32_t GetSampleRate() const { return rate_; }
  void SetSampleRate(int32_t value);
  TMMRequiredParams GetRequired() const { return required_; }
  void SetRequired(TMMRequiredParams value);

  void SuggestFormat() override;
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  std::string ClassName() const override { return "TMMPCMConverter"; }

 private:
  void Recompute();
  bool auto_convert_ = true;
  TMMBits bits_ = b8Bit;
  TMMMode mode_ = mMono;
  int32_t rate_ = 11025;
  TMMRequiredParams required_ = kAllRequired;
};

class TMMADPCMConverter : public TMMDSPComponent {
 public:
  explicit TMMADPCMConverter(vant::TComponent* owner);
  ~TMMADPCMConverter() override;

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMBits GetBitLength() const { return bits_; }
  void SetBitLength(TMMBits value);
  bool GetCanConvert() const { return !must_decode_ || can_decode_; }
  bool MustDecode() const { return must_decode_; }

  // The component's format follows its input; a format set from outside is ignored.
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  void ChangePWaveFormat(const WAVEFORMATEX* format) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Reseting() override;
  void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) override;
  void Loaded() override;
  std::string ClassName() const override { return "TMMADPCMConverter"; }

 private:
  void PrepareConversion();
  // Decodes n whole-block bytes of the input buffer into the output buffer; the bytes written.
  int64_t Decode(uint32_t n);
  void FreeBuffers();

  bool enabled_ = true;
  TMMBits bits_ = b16Bit;
  bool opened_ = false;
  bool started_ = false;
  TWaveFormatPtr input_format_;
  TWaveFormatPtr target_;
  bool must_decode_ = false;
  bool can_decode_ = false;
  std::vector<uint8_t> in_;  // whole blocks; a short block waits at the front
  uint32_t in_size_ = 0;     // whole blocks the buffer takes per pull
  uint32_t in_kept_ = 0;     // bytes of a short block kept from the last pull
  std::vector<uint8_t> out_;
  uint32_t out_bytes_ = 0;
  uint32_t out_taken_ = 0;
  bool more_upstream_ = false;
  bool upstream_ended_ = false;
  TIMA_PARAMS ima_{};
  TMMWaveHdr hdr_{};
};
