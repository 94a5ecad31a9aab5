#include "waveout.h"

#include <map>
#include <memory>
#include <mutex>

#include "audiobackend.h"
#include "waveoutdevice.h"

namespace vant::audio {
namespace {

// Live handles. A call looks its handle up here and keeps the device alive while it runs, so a
// stale or foreign handle is answered with MMSYSERR_INVALHANDLE instead of touching freed memory.
struct Registry {
  std::mutex mutex;
  std::map<HWAVEOUT, std::shared_ptr<WaveOutDevice>> devices;
};

Registry& Handles() {
  static auto* registry = new Registry;  // outlives every static destructor that might close
  return *registry;
}

std::shared_ptr<WaveOutDevice> Find(HWAVEOUT h) {
  Registry& r = Handles();
  std::lock_guard lock(r.mutex);
  auto it = r.devices.find(h);
  return it == r.devices.end() ? nullptr : it->second;
}

template <typename F>
MMRESULT WithDevice(HWAVEOUT h, F&& f) {
  auto device = Find(h);
  return device ? f(*device) : MMSYSERR_INVALHANDLE;
}

// Device numbers as the engine uses them: the mapper is the default output, device 0.
bool ResolveDevice(int device, int* index) {
  const int count = GetBackend().DeviceCount();
  if (count <= 0) return false;
  if (device == WAVE_MAPPER) device = 0;
  if (device < 0 || device >= count) return false;
  *index = device;
  return true;
}

}  // namespace

bool IsPlayableFormat(const WaveFormatEx& f) {
  const bool pcm = f.wFormatTag == WAVE_FORMAT_PCM &&
                   (f.wBitsPerSample == 8 || f.wBitsPerSample == 16 || f.wBitsPerSample == 32);
  const bool flt = f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32;
  if (!pcm && !flt) return false;
  if (f.nChannels < 1 || f.nChannels > 8) return false;
  if (f.nSamplesPerSec < 1000 || f.nSamplesPerSec > 384000) return false;
  if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return false;
  return f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

uint32_t waveOutGetNumDevs() {
  const int n = GetBackend().DeviceCount();
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}

MMRESULT waveOutGetDevCaps(int device, WaveOutCaps* caps) {
  if (!caps) return MMSYSERR_INVALPARAM;
  int index = 0;
  if (waveOutGetNumDevs() == 0) return MMSYSERR_NODRIVER;
  if (!ResolveDevice(device, &index)) return MMSYSERR_BADDEVICEID;
  return GetBackend().GetCaps(index, caps) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

MMRESULT waveOutOpen(HWAVEOUT* out, int device, const WaveFormatEx* format,
                     WaveOutCallback callback, uint32_t flags) {
  const bool query = flags & WAVE_FORMAT_QUERY;
  if (!format || (!query && !out)) return MMSYSERR_INVALPARAM;
  const uint32_t kind = flags & CALLBACK_TYPEMASK;
  if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION) return MMSYSERR_INVALFLAG;
  if (kind == CALLBACK_FUNCTION && !callback) return MMSYSERR_INVALPARAM;
  if (out) *out = nullptr;
  if (waveOutGetNumDevs() == 0) return MMSYSERR_NODRIVER;
  int index = 0;
  if (!ResolveDevice(device, &index)) return MMSYSERR_BADDEVICEID;
  Backend& backend = GetBackend();
  if (!IsPlayableFormat(*format) || !backend.Supports(index, *format)) return WAVERR_BADFORMAT;
  if (query) return MMSYSERR_NOERROR;

  auto dev = std::make_shared<WaveOutDevice>(
      *format, kind == CALLBACK_FUNCTION ? std::move(callback) : WaveOutCallback());
  {
    // Registered before it opens: the open message may reach the caller, who may then use the
    // handle, before this call returns.
    Registry& r = Handles();
    std::lock_guard lock(r.mutex);
    r.devices[dev.get()] = dev;
  }
  const MMRESULT result = dev->Open(backend, index);
  if (result != MMSYSERR_NOERROR) {
    Registry& r = Handles();
    std::lock_guard lock(r.mutex);
    r.devices.erase(dev.get());
    return result;
  }
  *out = dev.get();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT h) {
  auto device = Find(h);
  if (!device) return MMSYSERR_INVALHANDLE;
  const MMRESULT result = device->Close();
  if (result == MMSYSERR_NOERROR) {
    Registry& r = Handles();
    std::lock_guard lock(r.mutex);
    r.devices.erase(h);
  }
  return result;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT h, WaveHdr* hdr) {
  return WithDevice(h, [&](WaveOutDevice& d) { return d.Prepare(hdr); });
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT h, WaveHdr* hdr) {
  return WithDevice(h, [&](WaveOutDevice& d) { return d.Unprepare(hdr); });
}

MMRESULT waveOutWrite(HWAVEOUT h, WaveHdr* hdr) {
  return WithDevice(h, [&](WaveOutDevice& d) { return d.Write(hdr); });
}

MMRESULT waveOutPause(HWAVEOUT h) {
  return WithDevice(h, [](WaveOutDevice& d) { return d.Pause(); });
}

MMRESULT waveOutRestart(HWAVEOUT h) {
  return WithDevice(h, [](WaveOutDevice& d) { return d.Restart(); });
}

MMRESULT waveOutReset(HWAVEOUT h) {
  return WithDevice(h, [](WaveOutDevice& d) { return d.Reset(); });
}

MMRESULT waveOutGetPosition(HWAVEOUT h, MMTime* time) {
  return WithDevice(h, [&](WaveOutDevice& d) { return d.GetPosition(time); });
}

MMRESULT waveOutGetErrorText(MMRESULT code, std::string* text) {
  static const std::map<MMRESULT, const char*> kTexts = {
      {MMSYSERR_NOERROR, "No error."},
      {MMSYSERR_ERROR, "The sound device reported an unspecified error."},
      {MMSYSERR_BADDEVICEID, "There is no sound output device with this number."},
      {MMSYSERR_NOTENABLED, "Unable to open device"},
      {MMSYSERR_ALLOCATED, "The sound device is already in use."},
      {MMSYSERR_INVALHANDLE, "The sound device handle is not valid."},
      {MMSYSERR_NODRIVER, "No sound output device is available."},
      {MMSYSERR_NOMEM, "Not enough memory for the sound device."},
      {MMSYSERR_NOTSUPPORTED, "The sound device does not support this operation."},
      {MMSYSERR_BADERRNUM, "The error number is not known."},
      {MMSYSERR_INVALFLAG, "An invalid flag was passed to the sound device."},
      {MMSYSERR_INVALPARAM, "An invalid parameter was passed to the sound device."},
      {MMSYSERR_HANDLEBUSY, "The sound device is busy in its own callback."},
      {WAVERR_BADFORMAT, "The sound device cannot play this wave format."},
      {WAVERR_STILLPLAYING, "Buffers are still queued on the sound device."},
      {WAVERR_UNPREPARED, "The buffer header was not prepared."},
  };
  auto it = kTexts.find(code);
  if (text) *text = it == kTexts.end() ? std::string() : it->second;
  return it == kTexts.end() ? MMSYSERR_BADERRNUM : MMSYSERR_NOERROR;
}

}  // namespace vant::audio
