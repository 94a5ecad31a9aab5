#include "mmwaveout.h"

#include <algorithm>

#include "mmpcmsup.h"
#include "mmwavefmt.h"
#include "ui_dialogs.h"

namespace audio = vant::audio;

bool FIX_BUFFERS = true;

namespace {

std::string Msg(int n) { return LoadResStr(n); }

// The header a completion names: the platform header is the first member of ours.
PMMWaveHdr FromDevice(audio::WaveHdr* h) { return reinterpret_cast<PMMWaveHdr>(h); }

// Waits for the device (the original's 500 polls 10 ms apart) and its thread.
constexpr int kDeviceWaitMs = 5000;
constexpr int kThreadWaitMs = 5000;

}  // namespace

TMMWaveOut::TMMWaveOut(vant::TComponent* owner)
    : TMMRingWaveOut(owner, Limits{.device_wait_ms = kDeviceWaitMs,
                                   .stop_wait_ms = kDeviceWaitMs,
                                   .thread_wait_ms = kThreadWaitMs,
                                   .min_buffer_size = 32,
                                   .no_device_message = 161}) {
  num_devs_ = audio::waveOutGetNumDevs();
  SetDeviceID(0);
}

TMMWaveOut::~TMMWaveOut() { Shutdown(); }

// Errors: the device's own text for a failed call.

std::exception_ptr TMMWaveOut::OwnError(const std::string& text) const {
  return std::make_exception_ptr(EMMWaveOutError(text));
}

std::string TMMWaveOut::Prefix(Op op) const {
  switch (op) {
    case Op::Open:
      return "WaveOutOpen:\n\r";
    case Op::Close:
      return "WaveOutClose:\n\r";
    case Op::Start:
      return "WaveOutStart:\n\r";
    case Op::Thread:
      return "WaveOut:\n\r";
    case Op::Prepare:
    case Op::Unprepare:
    case Op::Write:
      return "WaveOutWrite:\n\r";
    case Op::Pause:
      return "WaveOutPause:\n\r";
    case Op::Restart:
      return "WaveOutRestart:\n\r";
    case Op::Reset:
      return "WaveOutReset:\n\r";
    case Op::Position:
      return "WaveOutGetPosition:\n\r";
  }
  return "WaveOut:\n\r";
}

std::string TMMWaveOut::FailureText(Op, uint32_t result) const {
  std::string text;
  if (audio::waveOutGetErrorText(result, &text) != audio::MMSYSERR_NOERROR || text.empty()) {
    text = Msg(86);
  }
  return text.substr(0, 255);
}

// Properties.

void TMMWaveOut::SetDeviceID(int32_t value) {
  CheckClosed();
  product_name_ = Msg(161);
  driver_version_ = 0;
  if (num_devs_ > 0 && value >= -1 && value < static_cast<int32_t>(num_devs_)) {
    audio::WaveOutCaps caps;
    if (audio::waveOutGetDevCaps(value, &caps) == audio::MMSYSERR_NOERROR) {
      product_name_ = caps.szPname;
      driver_version_ = caps.vDriverVersion;
    }
    device_id_ = value;
  } else {
    device_id_ = -2;
  }
}

void TMMWaveOut::SetNumBuffers(int32_t value) {
  if (value <= 1) return;
  SetRingSize(std::min(value, MAXOUTBUFFERS));
}

void TMMWaveOut::SetCallBackMode(int value) {
  CheckClosed();
  if (value == cmCallback && !_Win95_) {
    vant::GetDialogAnswerer().MessageBox(
        "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
        "Windows 95",
        "TMMWaveOut", vant::MB_OK);
    return;
  }
  SetMode(static_cast<TMMCBMode>(value));
}

void TMMWaveOut::SetPriority(TThreadPriority value) {
  priority_ = value;
  SetThreadPriority(value);
}

bool TMMWaveOut::QueryDevice(int32_t device, const WAVEFORMATEX* format) {
  if (!format || device < -1 || device >= static_cast<int32_t>(num_devs_)) return false;
  return audio::waveOutOpen(nullptr, device, format, nullptr, audio::WAVE_FORMAT_QUERY) ==
         audio::MMSYSERR_NOERROR;
}

// The device.

bool TMMWaveOut::DeviceQuery() { return QueryDevice(device_id_, GetPWaveFormat()); }

uint32_t TMMWaveOut::DeviceOpen() {
  uint32_t flags = audio::CALLBACK_FUNCTION;
  if (mapped_ && device_id_ >= 0) flags |= audio::WAVE_MAPPED;
  audio::HWAVEOUT h = nullptr;
  const audio::MMRESULT r = audio::waveOutOpen(
      &h, device_id_, GetPWaveFormat(),
      [this](audio::HWAVEOUT, uint32_t msg, audio::WaveHdr* wh) {
        DriverCallback(msg, FromDevice(wh));
      },
      flags);
  handle_ = h;
  return r;
}

uint32_t TMMWaveOut::DeviceClose() { return audio::waveOutClose(GetHandle()); }
uint32_t TMMWaveOut::DevicePrepare(PMMWaveHdr hdr) {
  return audio::waveOutPrepareHeader(GetHandle(), &hdr->wh);
}
uint32_t TMMWaveOut::DeviceUnprepare(PMMWaveHdr hdr) {
  return audio::waveOutUnprepareHeader(GetHandle(), &hdr->wh);
}
uint32_t TMMWaveOut::DeviceWrite(PMMWaveHdr hdr) {
  return audio::waveOutWrite(GetHandle(), &hdr->wh);
}
uint32_t TMMWaveOut::DevicePause() { return audio::waveOutPause(GetHandle()); }
uint32_t TMMWaveOut::DeviceRestart() { return audio::waveOutRestart(GetHandle()); }
uint32_t TMMWaveOut::DeviceReset() { return audio::waveOutReset(GetHandle()); }

uint32_t TMMWaveOut::DevicePosition(uint32_t* samples) {
  audio::MMTime t;
  t.wType = audio::TIME_SAMPLES;
  audio::MMRESULT r = audio::waveOutGetPosition(GetHandle(), &t);
  if (r != audio::MMSYSERR_NOERROR || t.wType == audio::TIME_SAMPLES) {
    *samples = t.value;
    return r;
  }
  // A device that only counts bytes.
  t.wType = audio::TIME_BYTES;
  r = audio::waveOutGetPosition(GetHandle(), &t);
  *samples =
      static_cast<uint32_t>(wioBytesToSamples(GetPWaveFormat(), static_cast<int32_t>(t.value)));
  return r;
}

// The device goes through a restart and a pause before the refill, as it always did.
void TMMWaveOut::AfterReset() {
  Check(Op::Restart, DeviceRestart());
  Check(Op::Pause, DevicePause());
}

// The counter wraps at 32 bits or less; the wraps seen since the run began are added back.

void TMMWaveOut::CounterRead(uint32_t position) {
  if (WaveOutCounterWrapped(previous_position_, position, &wrap_period_)) ++wrap_count_;
  previous_position_ = position;
}

int64_t TMMWaveOut::CounterLost() const { return static_cast<int64_t>(wrap_count_) * wrap_period_; }

void TMMWaveOut::CounterRestarts() { previous_position_ = wrap_count_ = wrap_period_ = 0; }

// Free functions.

bool WaveOutCounterWrapped(uint32_t previous, uint32_t now, uint32_t* period) {
  if (static_cast<uint64_t>(now) + 65535u > previous) return false;
  *period = (previous & 0xFFF00000u) | 0xFFFFFu;
  return true;
}

bool WaveOutReady(int32_t device) {
  const int32_t count = static_cast<int32_t>(audio::waveOutGetNumDevs());
  if (device < -1 || device >= count) return false;
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 8, 1, 22050);
  audio::HWAVEOUT h = nullptr;
  if (audio::waveOutOpen(&h, device, &f, nullptr, audio::CALLBACK_NULL) !=
      audio::MMSYSERR_NOERROR) {
    return false;
  }
  audio::waveOutClose(h);
  return true;
}

std::string WaveOutGetDeviceName(int32_t device) {
  const int32_t count = static_cast<int32_t>(audio::waveOutGetNumDevs());
  if (device < -1 || device >= count) return "";
  audio::WaveOutCaps caps;
  if (audio::waveOutGetDevCaps(device, &caps) != audio::MMSYSERR_NOERROR) return "";
  return caps.szPname;
}
