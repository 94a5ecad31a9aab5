#include "simplesound.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace vant::audio {

namespace {

// The sound being played and its device. A looping sound keeps two headers over the same data
// queued, each written again as it comes back, so the device never runs dry between passes.
struct Sound {
  std::mutex mutex;
  std::condition_variable heard;
  std::vector<uint8_t> data;
  WaveHdr hdr[2]{};
  int queued = 0;
  HWAVEOUT device = nullptr;
  bool loop = false;
  bool stopping = false;
  bool done = false;
};

std::mutex& CurrentMutex() {
  static std::mutex m;
  return m;
}

std::unique_ptr<Sound>& Current() {
  static std::unique_ptr<Sound> current;
  return current;
}

void Finish(std::unique_ptr<Sound> sound) {
  if (!sound) return;
  {
    std::lock_guard lock(sound->mutex);
    sound->stopping = true;
  }
  waveOutReset(sound->device);  // returns the headers; the callback sees `stopping`
  for (WaveHdr& h : sound->hdr) waveOutUnprepareHeader(sound->device, &h);
  waveOutClose(sound->device);
}

}  // namespace

bool PlaySimpleSound(const WaveFormatEx& format, std::vector<uint8_t> pcm, SoundMode mode) {
  StopSimpleSound();
  if (pcm.empty() || format.nBlockAlign == 0 || format.nAvgBytesPerSec == 0) return false;
  auto sound = std::make_unique<Sound>();
  sound->data = std::move(pcm);
  sound->data.resize(sound->data.size() - sound->data.size() % format.nBlockAlign);
  if (sound->data.empty()) return false;
  sound->loop = mode == SoundMode::Loop;
  Sound* s = sound.get();
  auto callback = [s](HWAVEOUT h, uint32_t msg, WaveHdr* hdr) {
    if (msg != MM_WOM_DONE) return;
    std::lock_guard lock(s->mutex);
    if (s->loop && !s->stopping && waveOutWrite(h, hdr) == MMSYSERR_NOERROR) return;
    if (--s->queued > 0) return;
    s->done = true;
    s->heard.notify_all();
  };
  if (waveOutOpen(&s->device, WAVE_MAPPER, &format, callback, CALLBACK_FUNCTION) !=
      MMSYSERR_NOERROR)
    return false;
  const int headers = s->loop ? 2 : 1;
  for (int i = 0; i < headers; ++i) {
    WaveHdr& h = s->hdr[i];
    h.lpData = reinterpret_cast<char*>(s->data.data());
    h.dwBufferLength = static_cast<uint32_t>(s->data.size());
    bool ok = waveOutPrepareHeader(s->device, &h) == MMSYSERR_NOERROR;
    if (ok) {
      std::lock_guard lock(s->mutex);
      ok = waveOutWrite(s->device, &h) == MMSYSERR_NOERROR;
      s->queued += ok ? 1 : 0;
    }
    if (!ok) {
      Finish(std::move(sound));
      return false;
    }
  }
  if (mode == SoundMode::Sync) {
    // Bounded by twice the sound's length and two seconds more.
    const auto length =
        std::chrono::milliseconds(int64_t(s->data.size()) * 1000 / format.nAvgBytesPerSec);
    std::unique_lock lock(s->mutex);
    s->heard.wait_for(lock, 2 * length + std::chrono::seconds(2), [s] { return s->done; });
    lock.unlock();
    Finish(std::move(sound));
    return true;
  }
  std::lock_guard lock(CurrentMutex());
  Current() = std::move(sound);
  return true;
}

void StopSimpleSound() {
  std::unique_ptr<Sound> sound;
  {
    std::lock_guard lock(CurrentMutex());
    sound = std::move(Current());
  }
  Finish(std::move(sound));
}

bool SimpleSoundPlaying() {
  std::lock_guard lock(CurrentMutex());
  Sound* s = Current().get();
  if (s == nullptr) return false;
  std::lock_guard sound_lock(s->mutex);
  return !s->done;
}

}  // namespace vant::audio
