#pragma once
// G.711 µ-law (format tag 7): sample conversion and the format record.
#include <cstdint>

#include "mmwaveformat.h"

inline constexpr uint16_t WAVE_FORMAT_MULAW = 0x0007;

// Bias 132, magnitude clipped to 32,635; with zeroTrap a code of 0 becomes 2.
uint8_t Linear2uLaw(int sample, bool zeroTrap);
int16_t uLaw2Linear(uint8_t code);
// Tag 7, 8 bits, one byte per sample.
void Build_uLawHeader(WAVEFORMATEX& wfx, int channels, int rate);
