#pragma once
// Plays a wave file through a TMMAudioPlayer on SDL's driver of the environment (disk, or pulse
// towards a test's own server) or another backend, with the program's player settings, until it
// stops by itself.
// `during`, when given, runs once the play has started and may drive the player meanwhile.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "audiobackend.h"
#include "dispatch.h"
#include "mmaudioplayer.h"
#include "mmwavefile.h"
#include "sdlbackend.h"
#include "testreader.h"

namespace vant {

using PlayerDriver = std::function<void(TMMAudioPlayer&, QueueDispatcher&)>;

// `program_reader`: the program's own wave reader instead of the tests' one.
// `backend`: the backend to play on; null for the process's default.
inline void PlayFile(const std::string& wave, bool use_dsound, const PlayerDriver& during,
                     bool program_reader, audio::Backend* backend) {
  if (program_reader) {
    RegisterAudioFileReaders();
  } else {
    DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("TestWaveReader"), 5);
  }
  QueueDispatcher gui;
  SetDispatcher(&gui);
  audio::SetBackend(backend);
  {
    TMMAudioPlayer player(nullptr);
    player.SetUseDSound(use_dsound);
    player.SetBufferSize(16000);
    player.SetNumBuffers(10);
    player.SetFileName(wave);
    int stops = 0;
    player.OnStop = [&](TObject*) { ++stops; };
    player.Play();
    if (during) during(player, gui);
    // A safety bound for a real-time driver, not a measure of speed.
    for (int i = 0; i < 3000 && stops == 0; ++i) gui.WaitAndProcess(20);
    EXPECT_EQ(stops, 1);
  }
  audio::SetBackend(nullptr);
  SetDispatcher(nullptr);
  DoneRegisteredAudioFiles();
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
