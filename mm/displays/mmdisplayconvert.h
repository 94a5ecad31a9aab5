#pragma once
// The one place where the connector turns a non-PCM stream into PCM for its displays: the
// compression manager's conversion chain, set up for one run and fed one played buffer at a time.
#include <cstdint>
#include <memory>

#include "mmwaveformat.h"

class TMMDisplayConversion {
 public:
  ~TMMDisplayConversion();
  TMMDisplayConversion(const TMMDisplayConversion&) = delete;
  TMMDisplayConversion& operator=(const TMMDisplayConversion&) = delete;

  // The PCM format suggested for `input`; false (and `pcm` cleared) when there is none.
  static bool Suggest(const WAVEFORMATEX* input, WAVEFORMATEX& pcm);
  // Whether a real-time conversion from `input` to `pcm` can be made.
  static bool Query(const WAVEFORMATEX* input, const WAVEFORMATEX& pcm);
  // A real-time conversion reading blocks of up to `size` bytes from the caller's `buffer`;
  // nullptr when it cannot be built.
  static std::unique_ptr<TMMDisplayConversion> Begin(const WAVEFORMATEX* input,
                                                     const WAVEFORMATEX& pcm, uint8_t* buffer,
                                                     int64_t size);

  // Converts the first `bytes` bytes of the buffer (cut to whole source blocks); answers the
  // PCM bytes now in Output(), 0 or less when nothing came out.
  int64_t Convert(int64_t bytes);
  uint8_t* Output() const;
  int64_t Capacity() const;

 private:
  struct Impl;
  explicit TMMDisplayConversion(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};
