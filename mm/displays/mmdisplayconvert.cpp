#include "mmdisplayconvert.h"

#include <cstring>

// No compression manager is linked yet: every non-PCM stream is one the displays cannot show.
struct TMMDisplayConversion::Impl {};

TMMDisplayConversion::TMMDisplayConversion(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TMMDisplayConversion::~TMMDisplayConversion() = default;

bool TMMDisplayConversion::Suggest(const WAVEFORMATEX*, WAVEFORMATEX& pcm) {
  std::memset(&pcm, 0, sizeof pcm);
  return false;
}

bool TMMDisplayConversion::Query(const WAVEFORMATEX*, const WAVEFORMATEX&) { return false; }

std::unique_ptr<TMMDisplayConversion> TMMDisplayConversion::Begin(const WAVEFORMATEX*,
                                                                  const WAVEFORMATEX&, int64_t) {
  return nullptr;
}

int64_t TMMDisplayConversion::Convert(const void*, int64_t) { return 0; }
uint8_t* TMMDisplayConversion::Output() const { return nullptr; }
int64_t TMMDisplayConversion::Capacity() const { return 0; }
