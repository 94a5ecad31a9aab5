#include "mmpitch.h"

#include <algorithm>
#include <cmath>

#include "mmmath.h"
#include "mmpcmsup.h"

TMMPitch::TMMPitch(vant::TComponent* owner) : TMMDSPComponent(owner) { PublishLinks(true, true); }

TMMPitch::~TMMPitch() {
  Destroying();
  Close();
}

void TMMPitch::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (enabled_) Reset();
}

void TMMPitch::SetPitch(float value) {
  pitch_ = static_cast<float>(MinMaxR(value, -50, 50));
  step_ = static_cast<uint32_t>(std::trunc((pitch_ + 50.0) * 65536.0 / 100.0 + 32768.0));
}

void TMMPitch::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (format && !HasState(vant::csDesigning) && !pcmIsValidFormat(format)) {
    throw EMMPitchError(LoadResStr(62));
  }
  TMMDSPComponent::SetPWaveFormat(format);
}

void TMMPitch::Open() {
  if (open_) return;
  const int32_t size = std::max(QUEUE_READ_SIZE, GetBufferSize());
  // Twice the capacity: a looping source may deliver more than one pull asked for.
  block_.assign(2 * static_cast<size_t>(size), 0);
  hdr_ = TMMWaveHdr{};
  hdr_.wh.lpData = block_.data();
  hdr_.wh.dwBufferLength = static_cast<uint32_t>(size);
  open_ = true;
  Reset();
}

void TMMPitch::Close() {
  if (!open_) return;
  open_ = false;
  std::vector<char>().swap(block_);
  hdr_ = TMMWaveHdr{};
}

void TMMPitch::Reset() {
  if (!open_) return;
  hdr_.wh.dwBytesRecorded = 0;
  hdr_.LoopRec.dwLooped = 0;
  read_offset_ = 0;
  fraction_ = 0;
  more_ = true;
  end_of_input_ = false;
}

void TMMPitch::Opened() {
  Open();
  TMMDSPComponent::Opened();
}

void TMMPitch::Closed() {
  Close();
  TMMDSPComponent::Closed();
}

void TMMPitch::Started() {
  Reset();
  TMMDSPComponent::Started();
}

void TMMPitch::Reseting() {
  Reset();
  TMMDSPComponent::Reseting();
}

void TMMPitch::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (!enabled_ || !open_ || (step_ == 65536 && Unread() <= 0)) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  ReadFromInput(lpWaveHdr, MoreBuffers);
}

void TMMPitch::ReadFromInput(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  lpWaveHdr->wh.dwBytesRecorded = 0;
  if (!GetInput()) return;
  const WAVEFORMATEX* format = GetPWaveFormat();
  const int64_t frame = format && format->nBlockAlign > 0 ? format->nBlockAlign : 1;
  int64_t room = lpWaveHdr->wh.dwBufferLength;
  int64_t produced = 0;
  for (;;) {
    int64_t unread = Unread();
    if (unread > 0) {
      produced += pcmPitchChange(format, block_.data() + read_offset_,
                                 lpWaveHdr->wh.lpData + produced, unread, room, fraction_, step_);
      // A step past the block's end lands in the next block: the offset runs past this one
      // and the refill starts that far into the next.
      read_offset_ = hdr_.wh.dwBytesRecorded - unread;
    }
    if (room < frame || end_of_input_) break;
    if (hdr_.LoopRec.dwLooped) {
      lpWaveHdr->LoopRec.dwLooped = -1;
      lpWaveHdr->LoopRec.dwLoopsLeft = hdr_.LoopRec.dwLoopsLeft;
      hdr_.LoopRec.dwLooped = 0;
    }
    hdr_.LoopRec.dwLooping = lpWaveHdr->LoopRec.dwLooping;
    if (hdr_.LoopRec.dwLooping) {
      hdr_.LoopRec.dwLoopCount = lpWaveHdr->LoopRec.dwLoopCount;
      hdr_.LoopRec.dwLoopsLeft = lpWaveHdr->LoopRec.dwLoopsLeft;
      hdr_.LoopRec.dwLooped = 0;
    }
    const int64_t skip = std::max<int64_t>(read_offset_ - hdr_.wh.dwBytesRecorded, 0);
    hdr_.wh.dwBytesRecorded = 0;
    more_ = true;
    TMMDSPComponent::BufferLoad(&hdr_, more_);
    if (!more_ || hdr_.wh.dwBytesRecorded == 0) end_of_input_ = true;
    read_offset_ = std::min<int64_t>(skip, hdr_.wh.dwBytesRecorded);
    if (hdr_.wh.dwBytesRecorded == 0) break;
  }
  MoreBuffers = more_ || Unread() > 0;
  lpWaveHdr->wh.dwBytesRecorded = static_cast<uint32_t>(produced);
}
