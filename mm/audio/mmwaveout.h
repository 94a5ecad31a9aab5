#pragma once
// TMMWaveOut: plays its chain's stream on a wave-out device. It opens the device for the format
// that reaches it, fills a ring of headers by pulling from its Input, queues them, and as each
// comes back heard pushes it to its Output, refills it and queues it again until the source
// runs dry. The stop at the end of a stream always runs on the GUI thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "mmalloc.h"
#include "mmdspcomponent.h"
#include "mmutils.h"
#include "waveout.h"

VANT_DECLARE_EXCEPTION(EMMWaveOutError, vant::Exception);

enum TMMWaveOutState : uint8_t { wosClose = 1, wosOpen = 2, wosPlay = 4, wosPause = 8 };
using TMMWaveOutStates = uint8_t;

inline constexpr int MAXOUTBUFFERS = 500;
// The end-of-stream stop request a device posts to itself.
inline constexpr uint32_t MM_WOM_STOP = 0x8001;

// While true, headers stay prepared for a whole run and a returned header is taken from the
// ring rather than from the completion.
extern bool FIX_BUFFERS;

class TMMWaveOutThread;

class TMMWaveOut : public TMMCustomWaveOutComponent {
 public:
  explicit TMMWaveOut(vant::TComponent* owner);
  ~TMMWaveOut() override;
  std::string ClassName() const override { return "TMMWaveOut"; }

  // Device operations.
  int64_t GetPosition() override;
  // The upper 32 bits of GetPosition.
  int32_t GetPositionHigh() { return static_cast<int32_t>(GetPosition() >> 32); }
  void Open() override;
  void Close() override;
  void Reset() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  // Fires OnError, then raises EMMWaveOutError with `text`.
  [[noreturn]] virtual void Error(const std::string& text);

  // Chain overrides: a walk reaching this device from upstream opens, starts, ... it.
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void BufferReady(PMMWaveHdr lpWaveHdr) override;
  void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) override;
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  void SetBufferSize(int32_t size) override;

  // Properties.
  void SetNumBuffers(int32_t value) override;
  int32_t GetNumBuffers() override { return num_buffers_; }
  void SetDeviceID(int32_t value) override;
  int32_t GetDeviceID() override { return device_id_; }
  void SetProductName(const std::string&) override {}
  std::string GetProductName() override { return product_name_; }
  void SetCallBackMode(int value) override;
  int GetCallBackMode() override { return mode_; }
  uint32_t GetDriverVersion() const { return driver_version_; }
  bool GetLooping() const { return looping_; }
  void SetLooping(bool value);
  uint16_t GetLoopCount() const { return loop_count_; }
  void SetLoopCount(uint16_t value);
  TMMTimeFormats GetTimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats value) { time_format_ = value; }
  bool GetShowHourGlass() const { return show_hourglass_; }
  void SetShowHourGlass(bool value) { show_hourglass_ = value; }
  bool GetMapped() const { return mapped_; }
  void SetMapped(bool value) { mapped_ = value; }
  TThreadPriority GetPriority() const { return priority_; }
  void SetPriority(TThreadPriority value);

  TMMWaveOutStates GetState() const { return state_.load(); }
  vant::audio::HWAVEOUT GetHandle() const { return handle_; }
  int32_t HeadersInUse() const { return headers_in_use_; }
  int32_t QueuedCount() const { return queued_.load(); }
  // Samples the device reports as heard (0 while closed).
  uint32_t GetSamplePosition();
  // Whether `device` would play `format`, asked without opening it.
  bool QueryDevice(int32_t device, const WAVEFORMATEX* format);

  vant::TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;

 private:
  friend class TMMWaveOutThread;
  struct Token;

  void DriverCallback(uint32_t msg, vant::audio::WaveHdr* hdr);
  void WaveOutHandler(uint32_t msg, vant::audio::HWAVEOUT h, PMMWaveHdr hdr, uint64_t epoch);
  void ProcessWaveHeader(PMMWaveHdr hdr, uint64_t epoch);
  void DoBufferReady(PMMWaveHdr hdr);
  void DoStopped();
  void DoClosed();
  void PostToGui(uint32_t msg, PMMWaveHdr hdr, uint64_t epoch);
  // Processes a completion off the GUI thread; a failure goes to the GUI thread as an error of
  // the current run.
  void ProcessOffGui(PMMWaveHdr hdr, uint64_t epoch);
  void PostError(std::exception_ptr error, uint64_t run);

  void AllocWaveHeader(int index);
  int32_t LoadWaveHeader(PMMWaveHdr hdr);
  void QueueWaveHeader(PMMWaveHdr hdr);
  // Fills and queues ring entries 0, 1, ... while the source has more; answers how many.
  int32_t QueueRing();
  void UnPrepareWaveHeaders();
  void FreeWaveHeaders();
  void DeviceError(const char* prefix, vant::audio::MMRESULT result);
  // Raises unless `result` is success.
  void Check(const char* prefix, vant::audio::MMRESULT result);
  void InitThread();
  void DoneThread();
  bool WaitForState(TMMWaveOutStates wanted, int timeout_ms);
  void SetState(TMMWaveOutStates s);
  void AddState(TMMWaveOutStates s) { state_.fetch_or(s); }
  void RemoveState(TMMWaveOutStates s) { state_.fetch_and(static_cast<uint8_t>(~s)); }
  bool Has(TMMWaveOutStates s) const { return (state_.load() & s) != 0; }
  // Fires OnError for a failure that did not come through Error (which fired it already).
  void NoteFailure(const std::exception_ptr& e);

  std::shared_ptr<Token> token_;
  vant::audio::HWAVEOUT handle_ = nullptr;
  std::atomic<TMMWaveOutStates> state_{wosClose};
  std::mutex state_mutex_;
  std::condition_variable state_cv_;

  PMMWaveHdr ring_[MAXOUTBUFFERS] = {};
  int32_t ring_index_ = 0;
  TMMCBMode mode_ = cmWindow;
  uint32_t num_devs_ = 0;
  int32_t device_id_ = 0;
  std::string product_name_;
  uint32_t driver_version_ = 0;

  std::recursive_mutex cs_;  // queued count, loop base, pausing, processing depth, position
  int32_t depth_ = 0;
  bool stop_pending_ = false;
  bool close_pending_ = false;
  std::atomic<bool> stopping_{false};
  bool closing_ = false;
  std::atomic<bool> resetting_{false};
  bool stop_posted_ = false;
  std::atomic<uint64_t> epoch_{0};
  // Counts Open and Start: an end-of-stream stop or a failure carries the run that posted it, so
  // one still queued when the program opens or starts the device again does not end the new run.
  std::atomic<uint64_t> run_{0};
  // Completions of the current epoch handed to the GUI or the completion thread and not yet
  // processed: the stream has ended only when none is left and nothing is queued.
  std::atomic<int32_t> in_flight_{0};
  // Orders hand-offs against a new epoch; never held while calling the device.
  std::mutex epoch_mutex_;
  void NewEpoch();

  bool looping_ = false;
  uint16_t loop_count_ = 0;
  int32_t loops_left_ = 0;
  int64_t pause_offset_ = 0;
  int64_t loop_base_ = 0;
  uint32_t previous_position_ = 0;
  uint32_t wrap_count_ = 0;
  uint32_t wrap_period_ = 0;
  bool more_buffers_ = false;
  bool source_had_more_ = false;

  int32_t num_buffers_ = 10;
  int32_t headers_in_use_ = 0;
  std::atomic<int32_t> queued_{0};
  TMMTimeFormats time_format_ = tfByte;
  bool show_hourglass_ = true;
  bool mapped_ = false;
  vant::TMMAllocator allocator_;
  TThreadPriority priority_ = tpHigher;
  std::unique_ptr<TMMWaveOutThread> thread_;
};

// Whether a device's sample counter went from `previous` to `now` by wrapping (it fell by
// 65,535 or more); then `*period` is the counter's period guessed from `previous`.
bool WaveOutCounterWrapped(uint32_t previous, uint32_t now, uint32_t* period);
// Whether `device` exists and opens for 8-bit mono 22,050 Hz PCM.
bool WaveOutReady(int32_t device);
// The product name of `device`; empty when there is none.
std::string WaveOutGetDeviceName(int32_t device);
