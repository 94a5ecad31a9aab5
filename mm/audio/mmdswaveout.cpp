#include "mmdswaveout.h"

#include <algorithm>

#include "ui_dialogs.h"

namespace audio = vant::audio;

TThreadPriority DSWAVEOUT_PRIORITY = tpHigher;

namespace {

std::string Msg(int n) { return LoadResStr(n); }

}  // namespace

TMMDSWaveOut::TMMDSWaveOut(vant::TComponent* owner)
    // Waits for the layer (100 polls 10 ms apart), the stop (500 ms) and the thread.
    : TMMRingWaveOut(owner, Limits{.device_wait_ms = 1000,
                                   .stop_wait_ms = 500,
                                   .thread_wait_ms = 1000,
                                   .min_buffer_size = 256,
                                   .no_device_message = 50}) {
  drivers_ = DSWaveOutGetDrivers();
  SetDeviceID(0);
}

TMMDSWaveOut::~TMMDSWaveOut() { Shutdown(); }

// Errors: a prefix and a library message, never the platform's text.

std::exception_ptr TMMDSWaveOut::OwnError(const std::string& text) const {
  return std::make_exception_ptr(EMMDSWaveOutError(text));
}

std::string TMMDSWaveOut::Prefix(Op op) const {
  switch (op) {
    case Op::Open:
      return "DSWaveOutOpen:\n\r";
    case Op::Close:
      return "DSWaveOutClose:\n\r";
    case Op::Start:
      return "DSWaveOutStarted:\n\r";
    case Op::Thread:
      return "DSWaveOut:\n\r";
    case Op::Prepare:
      return "DSWaveOutPrepareHeader:\n\r";
    case Op::Unprepare:
      return "DSWaveOutUnprepareHeader:\n\r";
    case Op::Write:
      return "DSWaveOutWrite:\n\r";
    case Op::Pause:
      return "DSWaveOutPause:\n\r";
    case Op::Restart:
      return "DSWaveOutRestart:\n\r";
    case Op::Reset:
      return "DSWaveOutReset:\n\r";
    case Op::Position:
      return "DSWaveOutGetPosition:\n\r";
  }
  return "DSWaveOut:\n\r";
}

std::string TMMDSWaveOut::FailureText(Op op, uint32_t) const {
  switch (op) {
    case Op::Open:
      return Msg(71);
    case Op::Close:
      return Msg(72);
    case Op::Prepare:
      return Msg(67);
    case Op::Unprepare:
      return Msg(68);
    case Op::Write:
      return Msg(69);
    case Op::Pause:
      return Msg(78);
    case Op::Restart:
      return Msg(79);
    case Op::Reset:
      return Msg(77);
    case Op::Position:
      return Msg(66);
    case Op::Start:
    case Op::Thread:
      break;
  }
  return Msg(86);
}

void TMMDSWaveOut::CheckStream(const char* prefix, uint32_t result, int message) {
  if (result != DSWAVE_OK) Error(prefix + Msg(message));
}

// Properties.

void TMMDSWaveOut::SetDeviceID(int32_t value) {
  CheckClosed();
  if (value >= 0 && value < static_cast<int32_t>(drivers_.size())) {
    device_id_ = value;
    product_name_ = drivers_[value].description;
  } else {
    device_id_ = -2;
    product_name_ = Msg(50);
  }
}

void TMMDSWaveOut::SetNumBuffers(int32_t value) {
  if (value < 2 || value > MAXOUTBUFFERS) return;
  SetRingSize(value);
}

void TMMDSWaveOut::SetCallBackMode(int value) {
  CheckClosed();
  if (value == cmCallback) {
    vant::GetDialogAnswerer().MessageBox("\"CallBacks\" are not supported with DirectSound",
                                         "TMMDSWaveOut", vant::MB_OK);
    return;
  }
  SetMode(static_cast<TMMCBMode>(value));
}

void TMMDSWaveOut::SetVolume(int32_t value) {
  volume_ = std::clamp(value, audio::STREAM_VOLUME_MIN, audio::STREAM_VOLUME_MAX);
  if (handle_) CheckStream("DSWaveOutSetVolume:\n\r", DSWaveOutSetVolume(GetHandle(), volume_), 74);
}

int32_t TMMDSWaveOut::GetVolume() {
  if (handle_) DSWaveOutGetVolume(GetHandle(), &volume_);
  return volume_;
}

void TMMDSWaveOut::SetPan(int32_t value) {
  pan_ = std::clamp(value, audio::STREAM_PAN_LEFT, audio::STREAM_PAN_RIGHT);
  if (handle_) CheckStream("DSWaveOutSetPan:\n\r", DSWaveOutSetPan(GetHandle(), pan_), 75);
}

int32_t TMMDSWaveOut::GetPan() {
  if (handle_) DSWaveOutGetPan(GetHandle(), &pan_);
  return pan_;
}

void TMMDSWaveOut::SetRate(int32_t value) {
  // Below the layer's lowest rate only 0 (the format's own) makes sense.
  rate_ = std::clamp<int32_t>(value, 0, audio::STREAM_RATE_MAX);
  if (rate_ > 0 && rate_ < static_cast<int32_t>(audio::STREAM_RATE_MIN)) {
    rate_ = audio::STREAM_RATE_MIN;
  }
  if (handle_) {
    CheckStream("DSWaveOutSetPlayBackRate:\n\r", DSWaveOutSetPlayBackRate(GetHandle(), rate_), 76);
  }
}

int32_t TMMDSWaveOut::GetRate() {
  if (handle_) {
    uint32_t rate = 0;
    if (DSWaveOutGetPlayBackRate(GetHandle(), &rate) == DSWAVE_OK) {
      rate_ = static_cast<int32_t>(rate);
    }
  }
  return rate_;
}

void TMMDSWaveOut::ApplyStreamSettings() {
  CheckStream("DSWaveOutSetVolume:\n\r", DSWaveOutSetVolume(GetHandle(), volume_), 74);
  CheckStream("DSWaveOutSetPan:\n\r", DSWaveOutSetPan(GetHandle(), pan_), 75);
  CheckStream("DSWaveOutSetPlayBackRate:\n\r", DSWaveOutSetPlayBackRate(GetHandle(), rate_), 76);
}

// The layer.

bool TMMDSWaveOut::DeviceQuery() {
  return DSWaveOutOpen(nullptr, device_id_, GetPWaveFormat(), nullptr, audio::WAVE_FORMAT_QUERY) ==
         DSWAVE_OK;
}

uint32_t TMMDSWaveOut::DeviceOpen() {
  const uint32_t flags =
      audio::CALLBACK_FUNCTION | DSWAVE_CTRLVOLUME | DSWAVE_CTRLPAN | DSWAVE_CTRLFREQUENCY;
  HDSWAVEOUT h = nullptr;
  const uint32_t r = DSWaveOutOpen(
      &h, device_id_, GetPWaveFormat(),
      [this](HDSWAVEOUT, uint32_t msg, PMMWaveHdr hdr) { DriverCallback(msg, hdr); }, flags);
  handle_ = h;
  // The stream opens muted at its format's rate: it takes the device's settings at once.
  if (r == DSWAVE_OK) ApplyStreamSettings();
  return r;
}

uint32_t TMMDSWaveOut::DeviceClose() { return DSWaveOutClose(GetHandle()); }
uint32_t TMMDSWaveOut::DevicePrepare(PMMWaveHdr hdr) {
  return DSWaveOutPrepareHeader(GetHandle(), hdr);
}
uint32_t TMMDSWaveOut::DeviceUnprepare(PMMWaveHdr hdr) {
  return DSWaveOutUnprepareHeader(GetHandle(), hdr);
}
uint32_t TMMDSWaveOut::DeviceWrite(PMMWaveHdr hdr) { return DSWaveOutWrite(GetHandle(), hdr); }
uint32_t TMMDSWaveOut::DevicePause() { return DSWaveOutPause(GetHandle()); }
uint32_t TMMDSWaveOut::DeviceRestart() { return DSWaveOutRestart(GetHandle()); }
uint32_t TMMDSWaveOut::DeviceReset() { return DSWaveOutReset(GetHandle()); }

uint32_t TMMDSWaveOut::DevicePosition(uint32_t* samples) {
  audio::MMTime t;
  t.wType = audio::TIME_SAMPLES;
  const uint32_t r = DSWaveOutGetPosition(GetHandle(), &t);
  *samples = t.value;
  return r;
}
