#pragma once
// Plays a wave file through a TMMAudioPlayer on SDL's driver of the environment (disk, or pulse
// towards a test's own server) or another backend, with the program's player settings, until it
// stops by itself.
// `during`, when given, runs once the play has started and may drive the player meanwhile.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "playfile.h"
#include "sdlbackend.h"

namespace vant {

// Plays `wave` until the player stops by itself, which it must do once.
inline void PlayFile(const std::string& wave, bool use_dsound, const PlayerDriver& during,
                     bool program_reader, audio::Backend* backend) {
  EXPECT_EQ(PlayUntilStopped(wave, use_dsound, during, program_reader, backend), 1);
}

// The same on SDL's driver of the environment, or on `backend` when given.
inline void PlayFileOnSdl(const std::string& wave, bool use_dsound, const PlayerDriver& during = {},
                          bool program_reader = false,
                          std::unique_ptr<audio::Backend> backend = nullptr) {
  if (!backend) backend = std::make_unique<audio::SdlBackend>();
  PlayFile(wave, use_dsound, during, program_reader, backend.get());
  backend.reset();  // SDL closes what it wrote to
}

}  // namespace vant
