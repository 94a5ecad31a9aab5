#pragma once
// Plays a wave file through a TMMAudioPlayer with the program's player settings until it stops
// by itself, for the tests and for the helper program that plays in a process of its own.
// `during`, when given, runs once the play has started and may drive the player meanwhile.
#include <functional>
#include <string>

#include "audiobackend.h"
#include "dispatch.h"
#include "mmaudioplayer.h"
#include "mmwavefile.h"
#include "testreader.h"

namespace vant {

using PlayerDriver = std::function<void(TMMAudioPlayer&, QueueDispatcher&)>;

// `program_reader`: the program's own wave reader instead of the tests' one.
// `backend`: the backend to play on; null for the process's default.
// Answers how often the player told it stopped (once, when all went well).
inline int PlayUntilStopped(const std::string& wave, bool use_dsound, const PlayerDriver& during,
                            bool program_reader, audio::Backend* backend) {
  if (program_reader) {
    RegisterAudioFileReaders();
  } else {
    DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("TestWaveReader"), 5);
  }
  QueueDispatcher gui;
  SetDispatcher(&gui);
  audio::SetBackend(backend);
  int stops = 0;
  {
    TMMAudioPlayer player(nullptr);
    player.SetUseDSound(use_dsound);
    player.SetBufferSize(16000);
    player.SetNumBuffers(10);
    player.SetFileName(wave);
    player.OnStop = [&](TObject*) { ++stops; };
    player.Play();
    if (during) during(player, gui);
    // A safety bound for a real-time driver, not a measure of speed.
    for (int i = 0; i < 3000 && stops == 0; ++i) gui.WaitAndProcess(20);
  }
  audio::SetBackend(nullptr);
  SetDispatcher(nullptr);
  DoneRegisteredAudioFiles();
  return stops;
}

}  // namespace vant
