#pragma once
// TMMDSWaveOut: the second playback device. Towards its chain it behaves like TMMWaveOut (a ring
// of headers pulled from its Input, pushed to its Output as each comes back heard, refilled and
// queued again until the source runs dry; the end-of-stream stop runs on the GUI thread), but it
// plays through the stream-buffer layer (mmdswavelayer.h), with a volume in hundredths of a
// decibel, a pan and a playback rate of its own.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mmdspcomponent.h"
#include "mmdswavelayer.h"
#include "mmutils.h"
#include "mmwaveout.h"

VANT_DECLARE_EXCEPTION(EMMDSWaveOutError, vant::Exception);

enum TMMDSWaveOutState : uint8_t { dssClose = 1, dssOpen = 2, dssPlay = 4, dssPause = 8 };
using TMMDSWaveOutStates = uint8_t;

// Priority of the completion thread in cmThread.
extern TThreadPriority DSWAVEOUT_PRIORITY;

class TMMDSWaveOutThread;

class TMMDSWaveOut : public TMMCustomWaveOutComponent {
 public:
  explicit TMMDSWaveOut(vant::TComponent* owner);
  ~TMMDSWaveOut() override;
  std::string ClassName() const override { return "TMMDSWaveOut"; }

  // Device operations.
  int64_t GetPosition() override;
  void Open() override;
  void Close() override;
  void Reset() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  // Fires OnError, then raises EMMDSWaveOutError with `text`.
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
  // An index into the driver list; one outside it is kept as -2.
  void SetDeviceID(int32_t value) override;
  int32_t GetDeviceID() override { return device_id_; }
  void SetProductName(const std::string&) override {}
  std::string GetProductName() override { return product_name_; }
  void SetCallBackMode(int value) override;
  int GetCallBackMode() override { return mode_; }
  bool GetLooping() const { return looping_; }
  void SetLooping(bool value);
  uint16_t GetLoopCount() const { return loop_count_; }
  void SetLoopCount(uint16_t value);
  TMMTimeFormats GetTimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats value) { time_format_ = value; }
  // Hundredths of a decibel, -10,000..0.
  void SetVolume(int32_t value);
  int32_t GetVolume();
  // -10,000 (left) .. 10,000 (right).
  void SetPan(int32_t value);
  int32_t GetPan();
  // Samples per second, at most 100,000; 0 plays at the format's own rate.
  void SetRate(int32_t value);
  int32_t GetRate();

  const std::vector<vant::audio::StreamDriver>& Drivers() const { return drivers_; }
  TMMDSWaveOutStates GetState() const { return state_.load(); }
  HDSWAVEOUT GetHandle() const { return handle_; }
  int32_t QueuedCount() const { return queued_.load(); }
  // Samples the layer reports as heard (0 while closed).
  uint32_t GetSamplePosition();

  vant::TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;

 private:
  friend class TMMDSWaveOutThread;
  struct Token;

  void DriverCallback(uint32_t msg, PMMWaveHdr hdr);
  void WaveOutHandler(uint32_t msg, HDSWAVEOUT h, PMMWaveHdr hdr, uint64_t epoch);
  void ProcessWaveHeader(PMMWaveHdr hdr, uint64_t epoch);
  void DoBufferReady(PMMWaveHdr hdr);
  void DoStopped();
  void DoClosed();
  void PostToGui(uint32_t msg, PMMWaveHdr hdr, uint64_t epoch);
  void PostError(std::exception_ptr error);

  void AllocWaveHeader(int index);
  int32_t LoadWaveHeader(PMMWaveHdr hdr);
  void QueueWaveHeader(PMMWaveHdr hdr);
  int32_t QueueRing();
  void UnPrepareWaveHeaders();
  void FreeWaveHeaders();
  // Raises `prefix` + library message `message` unless `result` is success.
  void Check(const char* prefix, uint32_t result, int message);
  void ApplyStreamSettings();
  void InitThread();
  bool WaitForState(TMMDSWaveOutStates wanted, int timeout_ms);
  void SetState(TMMDSWaveOutStates s);
  void AddState(TMMDSWaveOutStates s) { state_.fetch_or(s); }
  void RemoveState(TMMDSWaveOutStates s) { state_.fetch_and(static_cast<uint8_t>(~s)); }
  bool Has(TMMDSWaveOutStates s) const { return (state_.load() & s) != 0; }
  void NoteFailure(const std::exception_ptr& e);
  void NewEpoch();

  std::shared_ptr<Token> token_;
  HDSWAVEOUT handle_ = nullptr;
  std::atomic<TMMDSWaveOutStates> state_{dssClose};
  std::mutex state_mutex_;
  std::condition_variable state_cv_;

  std::vector<vant::audio::StreamDriver> drivers_;
  PMMWaveHdr ring_[MAXOUTBUFFERS] = {};
  int32_t ring_index_ = 0;
  TMMCBMode mode_ = cmWindow;
  int32_t device_id_ = 0;
  std::string product_name_;

  std::recursive_mutex cs_;  // queued count, loop base, pausing, processing depth, position
  int32_t depth_ = 0;
  bool stop_pending_ = false;
  bool close_pending_ = false;
  std::atomic<bool> stopping_{false};
  bool closing_ = false;
  std::atomic<bool> resetting_{false};
  bool stop_posted_ = false;
  std::atomic<uint64_t> epoch_{0};
  std::atomic<uint64_t> run_{0};  // an end-of-stream stop only ends the run that posted it
  std::atomic<int32_t> in_flight_{0};
  std::mutex epoch_mutex_;  // never held while calling the layer

  bool looping_ = false;
  uint16_t loop_count_ = 0;
  int32_t loops_left_ = 0;
  int64_t pause_offset_ = 0;
  int64_t loop_base_ = 0;
  bool more_buffers_ = false;
  bool source_had_more_ = false;

  int32_t num_buffers_ = 10;
  int32_t headers_in_use_ = 0;
  std::atomic<int32_t> queued_{0};
  TMMTimeFormats time_format_ = tfByte;
  int32_t volume_ = 0;
  int32_t pan_ = 0;
  int32_t rate_ = 0;
  std::unique_ptr<TMMDSWaveOutThread> thread_;
};
