#pragma once
// TMMRingWaveOut: what the playback devices share towards their chain. It opens the device for
// the format that reaches it, fills a ring of headers by pulling from its Input, queues them,
// and as each comes back heard pushes it to its Output, refills it and queues it again until
// the source runs dry. The stop at the end of a stream, and a failure met off the GUI thread,
// always end on the GUI thread. A derived device supplies the calls of its own layer (open,
// write, pause, reset, position, ...) and the text of their failures.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "mmalloc.h"
#include "mmdspcomponent.h"
#include "mmutils.h"

enum TMMWaveOutState : uint8_t { wosClose = 1, wosOpen = 2, wosPlay = 4, wosPause = 8 };
using TMMWaveOutStates = uint8_t;

inline constexpr int MAXOUTBUFFERS = 500;
// The end-of-stream stop request a device posts to itself.
inline constexpr uint32_t MM_WOM_STOP = 0x8001;

class TMMRingWaveOutThread;

class TMMRingWaveOut : public TMMCustomWaveOutComponent {
 public:
  ~TMMRingWaveOut() override;
  std::string ClassName() const override { return "TMMRingWaveOut"; }

  // Device operations.
  int64_t GetPosition() override;
  void Open() override;
  void Close() override;
  void Reset() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  // Fires OnError, then raises the device's own exception with `text`.
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
  int32_t GetNumBuffers() override { return num_buffers_; }
  int32_t GetDeviceID() override { return device_id_; }
  void SetProductName(const std::string&) override {}
  std::string GetProductName() override { return product_name_; }
  int GetCallBackMode() override { return mode_; }
  bool GetLooping() const { return looping_; }
  void SetLooping(bool value);
  uint16_t GetLoopCount() const { return loop_count_; }
  void SetLoopCount(uint16_t value);
  TMMTimeFormats GetTimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats value) { time_format_ = value; }

  TMMWaveOutStates GetState() const { return state_.load(); }
  int32_t HeadersInUse() const { return headers_in_use_; }
  int32_t QueuedCount() const { return queued_.load(); }
  // Samples the device reports as heard (0 while closed).
  uint32_t GetSamplePosition();

  vant::TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;

 protected:
  // What differs between devices only in degree.
  struct Limits {
    int device_wait_ms;  // for the device to report it opened or closed
    int stop_wait_ms;    // for the queued headers to come back at a stop
    int thread_wait_ms;  // for the completion thread to start or finish a completion
    int32_t min_buffer_size;
    int no_device_message;  // library message when the system has no device at all
  };
  // What a failure is about: a device call, or starting the ring or the completion thread.
  // Each device words its messages its own way.
  enum class Op {
    Open,
    Close,
    Start,
    Thread,
    Prepare,
    Unprepare,
    Write,
    Pause,
    Restart,
    Reset,
    Position
  };

  TMMRingWaveOut(vant::TComponent* owner, const Limits& limits);
  // Closes the device and lets its threads go; the derived destructor calls it, while the
  // device calls still reach its layer.
  void Shutdown();

  // The device's own layer. Each call answers 0 on success, otherwise a code of that layer.
  // DeviceOpen opens `handle_` for the current format and device, its completions going to
  // DriverCallback.
  virtual bool HasDevices() const = 0;
  virtual bool DeviceQuery() = 0;
  virtual uint32_t DeviceOpen() = 0;
  virtual uint32_t DeviceClose() = 0;
  virtual uint32_t DevicePrepare(PMMWaveHdr hdr) = 0;
  virtual uint32_t DeviceUnprepare(PMMWaveHdr hdr) = 0;
  virtual uint32_t DeviceWrite(PMMWaveHdr hdr) = 0;
  virtual uint32_t DevicePause() = 0;
  virtual uint32_t DeviceRestart() = 0;
  virtual uint32_t DeviceReset() = 0;
  virtual uint32_t DevicePosition(uint32_t* samples) = 0;
  // "<call>:\n\r", the start of every message about `op`.
  virtual std::string Prefix(Op op) const = 0;
  // What a failed call answering `result` is reported as, after its prefix.
  virtual std::string FailureText(Op op, uint32_t result) const = 0;
  // The device's own exception, carrying `text`, and whether `e` is one.
  virtual std::exception_ptr OwnError(const std::string& text) const = 0;
  virtual bool IsOwnError(const std::exception_ptr& e) const = 0;
  template <class E>
  static bool Holds(const std::exception_ptr& e) {
    try {
      std::rethrow_exception(e);
    } catch (const E&) {
      return true;
    } catch (...) {
      return false;
    }
  }

  // Hooks where the devices differ on purpose; the defaults suit a device without them.
  // Whether a header stays prepared for a whole run and a completion is taken from the ring.
  virtual bool FixedBuffers() const { return true; }
  // The header a tap shows as being heard when `hdr` (followed by `next`) came back.
  virtual PMMWaveHdr NowPlaying(PMMWaveHdr hdr, PMMWaveHdr next) const;
  virtual bool ShowsHourGlass() const { return true; }
  virtual TThreadPriority ThreadPriority() const { return tpHigher; }
  // Run with the ring lock held: the counter was read as `position` once a header was heard;
  // the samples to add to it for what the counter lost by wrapping; the counter restarts.
  virtual void CounterRead(uint32_t) {}
  virtual int64_t CounterLost() const { return 0; }
  virtual void CounterRestarts() {}
  // After the reset that flushed the ring, before the refill.
  virtual void AfterReset() {}

  // Raises unless `result` is success.
  void Check(Op op, uint32_t result);
  void Fail(Op op, uint32_t result);
  // Raises unless the device is closed.
  void CheckClosed();
  void SetRingSize(int32_t value);
  void SetMode(TMMCBMode mode);
  void SetThreadPriority(TThreadPriority value);
  // Called by the layer, on whatever thread it reports from.
  void DriverCallback(uint32_t msg, PMMWaveHdr hdr);
  bool Has(TMMWaveOutStates s) const { return (state_.load() & s) != 0; }

  void* handle_ = nullptr;
  int32_t device_id_ = 0;
  std::string product_name_;

 private:
  friend class TMMRingWaveOutThread;
  struct Token;

  void WaveOutHandler(uint32_t msg, void* h, PMMWaveHdr hdr, uint64_t epoch);
  void ProcessWaveHeader(PMMWaveHdr hdr, uint64_t epoch);
  void DoBufferReady(PMMWaveHdr hdr);
  // Whether the stream has ended (nothing queued or on its way), marking the stop as posted;
  // under the ring lock. PostEndOfStream then stops the device and posts the stop.
  bool EndOfStreamLocked();
  void PostEndOfStream(bool failed);
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
  void InitThread();
  bool WaitForState(TMMWaveOutStates wanted, int timeout_ms);
  void SetState(TMMWaveOutStates s);
  void AddState(TMMWaveOutStates s) { state_.fetch_or(s); }
  void RemoveState(TMMWaveOutStates s) { state_.fetch_and(static_cast<uint8_t>(~s)); }
  // Fires OnError for a failure that did not come through Error (which fired it already).
  void NoteFailure(const std::exception_ptr& e);
  void NewEpoch();

  const Limits limits_;
  std::shared_ptr<Token> token_;
  std::atomic<TMMWaveOutStates> state_{wosClose};
  std::mutex state_mutex_;
  std::condition_variable state_cv_;

  PMMWaveHdr ring_[MAXOUTBUFFERS] = {};
  int32_t ring_index_ = 0;
  TMMCBMode mode_ = cmWindow;

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
  vant::TMMAllocator allocator_;
  std::unique_ptr<TMMRingWaveOutThread> thread_;
};
