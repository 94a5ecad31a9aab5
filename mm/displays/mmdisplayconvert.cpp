#include "mmdisplayconvert.h"

#include <algorithm>
#include <cstring>

#include "mmacmsup.h"

struct TMMDisplayConversion::Impl {
  PACMConvert chain = nullptr;
  ~Impl() { acmDoneConvert(chain); }
};

TMMDisplayConversion::TMMDisplayConversion(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TMMDisplayConversion::~TMMDisplayConversion() = default;

bool TMMDisplayConversion::Suggest(const WAVEFORMATEX* input, WAVEFORMATEX& pcm) {
  pcm = acmSuggestPCMFormat(input);
  return pcm.wFormatTag == WAVE_FORMAT_PCM;
}

bool TMMDisplayConversion::Query(const WAVEFORMATEX* input, const WAVEFORMATEX& pcm) {
  return acmQueryConvert(input, &pcm, true);
}

std::unique_ptr<TMMDisplayConversion> TMMDisplayConversion::Begin(const WAVEFORMATEX* input,
                                                                  const WAVEFORMATEX& pcm,
                                                                  uint8_t* buffer, int64_t size) {
  auto impl = std::make_unique<Impl>();
  const auto bytes = static_cast<uint32_t>(std::clamp<int64_t>(size, 0, UINT32_MAX));
  impl->chain = acmBeginConvert(input, &pcm, buffer, bytes, true);
  if (!impl->chain) return nullptr;
  return std::unique_ptr<TMMDisplayConversion>(new TMMDisplayConversion(std::move(impl)));
}

int64_t TMMDisplayConversion::Convert(int64_t bytes) {
  const auto n = static_cast<uint32_t>(std::clamp<int64_t>(bytes, 0, impl_->chain->SrcSize));
  return acmDoConvert(impl_->chain, n);
}

uint8_t* TMMDisplayConversion::Output() const { return impl_->chain->DstBuffer; }
int64_t TMMDisplayConversion::Capacity() const { return impl_->chain->DstSize; }
