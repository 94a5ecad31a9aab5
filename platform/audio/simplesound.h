#pragma once
// The simple sound call: one PCM sound at a time on the default output. Playing a sound stops
// the one before it; a synchronous sound returns once it was heard, an asynchronous one at once,
// and a looping one plays until it is stopped or replaced.
#include <cstdint>
#include <vector>

#include "waveout.h"

namespace vant::audio {

enum class SoundMode { Sync, Async, Loop };

// False when there is nothing to play or no device takes the format.
bool PlaySimpleSound(const WaveFormatEx& format, std::vector<uint8_t> pcm, SoundMode mode);
void StopSimpleSound();
// Whether a sound started here is still being heard (a looping one until it is stopped).
bool SimpleSoundPlaying();

}  // namespace vant::audio
