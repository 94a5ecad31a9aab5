#include "playerlink.h"

#include <algorithm>

#include "mmplayer.h"

namespace orlune {

namespace {
int32_t Ms(int64_t ms) { return int32_t(std::clamp<int64_t>(ms, INT32_MIN, INT32_MAX)); }
}  // namespace

void TMOPlayerLink::PlayFrom(int64_t ms) { player_.PlayFrom(Ms(std::max<int64_t>(ms, 0))); }
void TMOPlayerLink::ShowPosition(int x, int range) { player_.ShowPosition(x, range); }
void TMOPlayerLink::SeekTo() { player_.SeekTo(player_.ScrollBar2->GetPosition()); }

void TMOPlayerLink::SetPositionCallback(int slot, PositionCallback cb) {
  if (!cb) {
    player_.SetPositionCallback(slot, nullptr);
    return;
  }
  player_.SetPositionCallback(
      slot, [cb = std::move(cb)](const std::string& text, int32_t ms, double fraction) {
        cb(text, ms, fraction);
      });
}

void TMOPlayerLink::ConnectLevel(int slot, TMMCustomLevel* level) {
  player_.ConnectLevel(slot, level);
}

void TMOPlayerLink::Stop() { player_.MMAudioPlayer->Stop(); }
void TMOPlayerLink::Pause() { player_.MMAudioPlayer->Pause(); }
void TMOPlayerLink::Restart() { player_.MMAudioPlayer->Restart(); }

unsigned TMOPlayerLink::GetState() const {
  const TMMWaveOutStates state = player_.MMAudioPlayer->GetState();
  return ((state & wosPlay) ? kPlaying : 0u) | ((state & wosPause) ? kPaused : 0u);
}

void TMOPlayerLink::SetPlayLength(int64_t ms) { player_.MMAudioPlayer->SetPlayLength(Ms(ms)); }
int64_t TMOPlayerLink::GetFileLength() const { return player_.MMAudioPlayer->GetFileLength(); }
void TMOPlayerLink::SetVolume(int volume) { player_.MMAudioPlayer->SetVolume(volume); }
int TMOPlayerLink::GetVolume() const { return player_.MMAudioPlayer->GetVolume(); }

void TMOPlayerLink::SetFileName(const std::string& path) {
  player_.StopCaption.clear();
  player_.MMAudioPlayer->Stop();
  player_.MMAudioPlayer->FreeFile();
  player_.MMAudioPlayer->SetFileName(path);
}

}  // namespace orlune
