#pragma once
// Inside the manager: the stream kinds behind acmStreamOpen and what they share with the format
// tables (which tags FFmpeg can decode or encode, PCM sample layouts).
#include <cstdint>
#include <memory>

#include "acm.h"

namespace vant::acm {

// Whether a record is PCM the resampler takes: tag 1 with 8, 16, 24 or 32 bits, or tag 3 with
// 32 or 64 bits, 1 to 8 channels, a rate of 1 Hz to 768 kHz and a block align that matches.
bool IsLinear(const ACMWAVEFORMAT* f);
bool CanDecode(uint16_t tag);
bool CanEncode(uint16_t tag);

}  // namespace vant::acm

struct ACMStream {
  virtual ~ACMStream() = default;
  // Converts the header's source into its destination, setting both used lengths.
  virtual MMRESULT Convert(ACMSTREAMHEADER& h, uint32_t flags) = 0;
  // The destination bytes a source of n bytes may give (and the source for n destination bytes).
  virtual uint32_t DestinationFor(uint32_t n) const = 0;
  virtual uint32_t SourceFor(uint32_t n) const = 0;
  virtual void Reset() = 0;
};

namespace vant::acm {
// Nil with the reason in result when the conversion is not possible.
std::unique_ptr<ACMStream> MakeStream(const ACMWAVEFORMAT* src, const ACMWAVEFORMAT* dst,
                                      const WAVEFILTER* filter, MMRESULT& result);
}  // namespace vant::acm
