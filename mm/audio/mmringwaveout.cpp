#include "mmringwaveout.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>

#include "dispatch.h"
#include "mmdspmeter.h"
#include "mmdspthread.h"
#include "mmwavefmt.h"
#include "trace.h"
#include "ui_dialogs.h"

namespace audio = vant::audio;
using vant::Screen;
using vant::Trace;

namespace {

std::string Msg(int n) { return LoadResStr(n); }

uint32_t HeaderFlags(PMMWaveHdr h) { return std::atomic_ref<uint32_t>(h->wh.dwFlags).load(); }

// Restores the cursor however the block is left.
class HourGlass {
 public:
  explicit HourGlass(bool show) : show_(show) {
    if (show_) {
      previous_ = Screen->GetCursor();
      Screen->SetCursor(vant::crHourGlass);
    }
  }
  ~HourGlass() {
    if (show_) Screen->SetCursor(previous_);
  }

 private:
  bool show_;
  vant::TCursor previous_ = vant::crDefault;
};

}  // namespace

// Lets posted work find the device only while it lives.
struct TMMRingWaveOut::Token {
  TMMRingWaveOut* device;
};

// The completion thread of cmThread: processes returned headers in order at the device's
// priority.
class TMMRingWaveOutThread final : public TMMDSPThread {
 public:
  TMMRingWaveOutThread(TMMRingWaveOut* device, int wait_ms)
      : TMMDSPThread(device), device_(device), wait_ms_(wait_ms) {}
  ~TMMRingWaveOutThread() override {
    Quit();
    Terminate();
    Resume();      // a thread never started then ends at once
    WaitForEnd();  // it may be inside a refill of the device that is going away
  }

  void Push(PMMWaveHdr hdr, uint64_t epoch) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({hdr, epoch});
    }
    cv_.notify_all();
  }
  // Drops what is pending and waits until no completion is being processed.
  bool Flush() {
    {
      std::lock_guard lock(mutex_);
      queue_.clear();
    }
    return WaitServingGui(
        [this] {
          std::lock_guard lock(mutex_);
          return !busy_;
        },
        wait_ms_);
  }
  void Quit() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    cv_.notify_all();
  }
  bool WaitReady() {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(wait_ms_), [this] { return ready_; });
  }

 protected:
  void Execute() override {
    {
      std::lock_guard lock(mutex_);
      ready_ = true;
    }
    cv_.notify_all();
    for (;;) {
      Item item;
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return quit_ || !queue_.empty(); });
        if (quit_) break;
        item = queue_.front();
        queue_.pop_front();
        busy_ = true;
      }
      device_->ProcessOffGui(item.hdr, item.epoch);
      {
        std::lock_guard lock(mutex_);
        busy_ = false;
      }
      cv_.notify_all();
    }
  }

 private:
  struct Item {
    PMMWaveHdr hdr = nullptr;
    uint64_t epoch = 0;
  };
  TMMRingWaveOut* device_;
  const int wait_ms_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  bool busy_ = false;
  bool quit_ = false;
  bool ready_ = false;
};

TMMRingWaveOut::TMMRingWaveOut(vant::TComponent* owner, const Limits& limits)
    : TMMCustomWaveOutComponent(owner),
      limits_(limits),
      token_(std::make_shared<Token>(Token{this})) {
  PublishLinks(true, true);
}

TMMRingWaveOut::~TMMRingWaveOut() = default;

void TMMRingWaveOut::Shutdown() {
  Destroying();
  if (handle_) Close();
  if (handle_) {
    // A completion was being processed on the completion thread, so the close was left
    // pending: let that thread finish and go, then close for good.
    thread_.reset();
    {
      std::lock_guard lock(cs_);
      depth_ = 0;
      stop_pending_ = false;
    }
    close_pending_ = false;
    closing_ = false;
    Close();
  }
  token_->device = nullptr;
  thread_.reset();
  FreeWaveHeaders();
}

// Errors.

void TMMRingWaveOut::Error(const std::string& text) {
  if (OnError) OnError(this);
  std::rethrow_exception(OwnError(text));
}

void TMMRingWaveOut::NoteFailure(const std::exception_ptr& e) {
  if (!IsOwnError(e) && OnError) OnError(this);
}

void TMMRingWaveOut::Fail(Op op, uint32_t result) { Error(Prefix(op) + FailureText(op, result)); }

void TMMRingWaveOut::Check(Op op, uint32_t result) {
  if (result != 0) Fail(op, result);
}

void TMMRingWaveOut::CheckClosed() {
  if (!Has(wosClose)) Error(Msg(60));
}

// Properties.

void TMMRingWaveOut::SetRingSize(int32_t value) {
  CheckClosed();
  num_buffers_ = value;
}

void TMMRingWaveOut::SetMode(TMMCBMode mode) { mode_ = mode; }

void TMMRingWaveOut::SetBufferSize(int32_t size) {
  size = std::max(size, limits_.min_buffer_size);
  if (size == GetBufferSize()) return;
  CheckClosed();
  FreeWaveHeaders();
  allocator_.Discard();
  TMMCustomWaveOutComponent::SetBufferSize(size);
}

void TMMRingWaveOut::SetLooping(bool value) {
  if (value == looping_) return;
  looping_ = value;
  loops_left_ = loop_count_;
}

void TMMRingWaveOut::SetLoopCount(uint16_t value) {
  if (value == loop_count_) return;
  loop_count_ = value;
  loops_left_ = value;
}

void TMMRingWaveOut::SetThreadPriority(TThreadPriority value) {
  if (thread_) thread_->SetPriority(value);
}

void TMMRingWaveOut::SetPWaveFormat(const WAVEFORMATEX* format) {
  Close();
  TMMCustomWaveOutComponent::SetPWaveFormat(format);
}

// State.

void TMMRingWaveOut::SetState(TMMWaveOutStates s) {
  {
    std::lock_guard lock(state_mutex_);
    state_ = s;
  }
  state_cv_.notify_all();
}

bool TMMRingWaveOut::WaitForState(TMMWaveOutStates wanted, int timeout_ms) {
  std::unique_lock lock(state_mutex_);
  return state_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return state_.load() == wanted; });
}

// Chain overrides.

void TMMRingWaveOut::Opened() { Open(); }
void TMMRingWaveOut::Closed() { Close(); }
void TMMRingWaveOut::Started() { Start(); }
void TMMRingWaveOut::Paused() { Pause(); }
void TMMRingWaveOut::Restarted() { Restart(); }
void TMMRingWaveOut::Stopped() { Stop(); }
void TMMRingWaveOut::BufferReady(PMMWaveHdr) {}

void TMMRingWaveOut::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  StartDSPMeter();
  struct MeterEnd {
    ~MeterEnd() { StopDSPMeter(); }
  } meter_end;
  const uint32_t capacity = static_cast<uint32_t>(GetBufferSize());
  lpWaveHdr->wh.dwBufferLength = capacity;
  lpWaveHdr->wh.dwBytesRecorded = 0;
  TMMLoopRec& loop = lpWaveHdr->LoopRec;
  loop.dwLooping = looping_ ? -1 : 0;
  if (looping_) {
    loop.dwLoopCount = loop_count_;
    loop.dwLoopsLeft = loops_left_;
    loop.dwLooped = 0;
  }
  // The pull of the chain base, without its OnBufferFilled: this device fires that event once,
  // just before the header goes to the device.
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (GetInput()) GetInput()->BufferLoad(lpWaveHdr, MoreBuffers);
  // A source must not make the device play past the block it was given.
  lpWaveHdr->wh.dwBytesRecorded = std::min(lpWaveHdr->wh.dwBytesRecorded, capacity);
  lpWaveHdr->wh.dwBufferLength = lpWaveHdr->wh.dwBytesRecorded;
  if (looping_) loops_left_ = loop.dwLoopsLeft;
}

// Headers: each with its data directly behind it in one block.

void TMMRingWaveOut::AllocWaveHeader(int index) {
  if (ring_[index]) return;
  const int32_t size = GetBufferSize();
  void* block = allocator_.AllocBuffer(0, sizeof(TMMWaveHdr) + size);
  if (!block) Error(Msg(64));
  auto* hdr = static_cast<PMMWaveHdr>(block);
  std::memset(hdr, 0, sizeof(TMMWaveHdr));
  hdr->wh.lpData = reinterpret_cast<char*>(hdr + 1);
  hdr->wh.dwBufferLength = static_cast<uint32_t>(size);
  ring_[index] = hdr;
}

int32_t TMMRingWaveOut::LoadWaveHeader(PMMWaveHdr hdr) {
  bool more = false;
  BufferLoad(hdr, more);
  source_had_more_ = more;
  const int32_t bytes = static_cast<int32_t>(hdr->wh.dwBytesRecorded);
  more_buffers_ = more && bytes > 0;
  return bytes;
}

void TMMRingWaveOut::QueueWaveHeader(PMMWaveHdr hdr) {
  if (OnBufferFilled) OnBufferFilled(this, hdr);
  if (stopping_) return;
  if (!(HeaderFlags(hdr) & audio::WHDR_PREPARED) || !FixedBuffers()) {
    Check(Op::Prepare, DevicePrepare(hdr));
  }
  hdr->dwSavedBytes = hdr->wh.dwBytesRecorded;
  // Counted before the write: the header may come back before the write returns.
  ++queued_;
  const uint32_t r = DeviceWrite(hdr);
  if (r != 0) {
    --queued_;
    Fail(Op::Write, r);
  }
  hdr->wh.dwBytesRecorded = hdr->dwSavedBytes;
}

int32_t TMMRingWaveOut::QueueRing() {
  more_buffers_ = true;
  int32_t n = 0;
  for (int i = 0; i < num_buffers_ && more_buffers_; ++i) {
    AllocWaveHeader(i);
    if (LoadWaveHeader(ring_[i]) < 1) break;
    QueueWaveHeader(ring_[i]);
    ++n;
  }
  return n;
}

void TMMRingWaveOut::UnPrepareWaveHeaders() {
  for (PMMWaveHdr hdr : ring_) {
    if (!hdr || !handle_) continue;
    // Every header came back before the reset returned; one that did not is marked done so it
    // can be given up, whatever the device answers.
    std::atomic_ref<uint32_t>(hdr->wh.dwFlags).fetch_or(audio::WHDR_DONE);
    DeviceUnprepare(hdr);
  }
}

void TMMRingWaveOut::FreeWaveHeaders() {
  for (PMMWaveHdr& hdr : ring_) {
    if (!hdr) continue;
    void* block = hdr;
    allocator_.FreeBuffer(block);
    hdr = nullptr;
  }
}

// Completions.

void TMMRingWaveOut::DriverCallback(uint32_t msg, PMMWaveHdr hdr) {
  switch (msg) {
    case audio::MM_WOM_OPEN:
      SetState(wosOpen);
      break;
    case audio::MM_WOM_CLOSE:
      SetState(wosClose);
      break;
    case audio::MM_WOM_DONE: {
      uint64_t epoch;
      {
        std::lock_guard lock(epoch_mutex_);
        if (resetting_) {
          if (queued_.fetch_sub(1) == 1) resetting_ = false;
          return;
        }
        if (stopping_) {
          --queued_;
          return;
        }
        epoch = epoch_.load();
        // Counted in flight before it leaves the queue: the end-of-stream check (queued, then in
        // flight) never sees neither while this buffer is on its way to being processed.
        ++in_flight_;
        --queued_;
      }
      switch (mode_) {
        case cmThread:
          if (thread_) thread_->Push(hdr, epoch);
          break;
        case cmCallback:
          ProcessOffGui(hdr, epoch);
          break;
        default:
          PostToGui(audio::MM_WOM_DONE, hdr, epoch);
          break;
      }
      break;
    }
    default:
      break;
  }
}

void TMMRingWaveOut::NewEpoch() {
  std::lock_guard lock(epoch_mutex_);
  ++epoch_;
  in_flight_ = 0;
}

void TMMRingWaveOut::PostToGui(uint32_t msg, PMMWaveHdr hdr, uint64_t epoch) {
  std::shared_ptr<Token> token = token_;
  void* h = handle_;
  vant::GetDispatcher().Post([token, msg, h, hdr, epoch] {
    if (token->device) token->device->WaveOutHandler(msg, h, hdr, epoch);
  });
}

void TMMRingWaveOut::ProcessOffGui(PMMWaveHdr hdr, uint64_t epoch) {
  // Taken first: a failure belongs to the run that was playing when the header was taken up.
  const uint64_t run = run_.load();
  try {
    ProcessWaveHeader(hdr, epoch);
  } catch (...) {
    PostError(std::current_exception(), run);
  }
}

void TMMRingWaveOut::PostError(std::exception_ptr error, uint64_t run) {
  // Nothing more is processed; closing belongs to the GUI thread, never to a thread the close
  // would have to join.
  stopping_ = true;
  std::shared_ptr<Token> token = token_;
  vant::GetDispatcher().Post([token, error, run] {
    // Once the device has been opened or started again, the failed run is over and its error
    // must not end the new one.
    if (!token->device || token->device->run_.load() != run) return;
    token->device->Close();
    std::rethrow_exception(error);
  });
}

void TMMRingWaveOut::WaveOutHandler(uint32_t msg, void* h, PMMWaveHdr hdr, uint64_t epoch) {
  if (h != handle_ || !h) return;  // a message of an earlier opening
  try {
    if (msg == MM_WOM_STOP) {
      if (epoch == run_.load()) Stop();  // for a stop, `epoch` is the run that posted it
    } else if (msg == audio::MM_WOM_DONE && !stopping_) {
      ProcessWaveHeader(hdr, epoch);
    }
  } catch (...) {
    // OnError has fired where the failure arose.
    Close();
    throw;  // to the application's exception handler
  }
}

void TMMRingWaveOut::ProcessWaveHeader(PMMWaveHdr msg_hdr, uint64_t epoch) {
  {
    std::lock_guard lock(epoch_mutex_);
    if (epoch != epoch_.load()) return;
    --in_flight_;
  }
  {
    std::lock_guard lock(cs_);
    if (!Has(wosPlay) || resetting_ || stopping_) return;
    ++depth_;
  }
  std::exception_ptr failure;
  try {
    const bool fixed = FixedBuffers();
    PMMWaveHdr hdr = fixed ? ring_[ring_index_] : msg_hdr;
    // Only the header we expect, and only once the device is done with it.
    if (hdr && hdr == msg_hdr && (HeaderFlags(hdr) & audio::WHDR_DONE)) {
      if (!fixed) Check(Op::Unprepare, DeviceUnprepare(hdr));
      DoBufferReady(hdr);
      const uint32_t position = GetSamplePosition();
      {
        std::lock_guard lock(cs_);
        CounterRead(position);
      }
      // The wrap is reported when the header that carries it has been heard, also when the
      // source has nothing more to refill with (a short sound loops inside the ring).
      if (looping_ && hdr->LoopRec.dwLooped && !stop_pending_ && !resetting_) {
        {
          std::lock_guard lock(cs_);
          loop_base_ = position;
          hdr->LoopRec.dwLooped = 0;
        }
        TMMCustomSoundComponent::Looped();
        if (OnLooping) OnLooping(this);
      }
      // A reset that began meanwhile (thread mode) refills the ring itself, from the new place.
      if (more_buffers_ && !stop_pending_ && !resetting_) {
        if (LoadWaveHeader(hdr) <= 0 && source_had_more_ && !stop_pending_) Error(Msg(81));
        if (!stop_pending_ && hdr->wh.dwBytesRecorded > 0) QueueWaveHeader(hdr);
      }
    }
  } catch (...) {
    NoteFailure(std::current_exception());
    failure = std::current_exception();
  }
  bool post = false;
  {
    std::lock_guard lock(cs_);
    --depth_;
    post = EndOfStreamLocked();
  }
  if (post) PostEndOfStream(failure != nullptr);
  if (failure) std::rethrow_exception(failure);
}

bool TMMRingWaveOut::EndOfStreamLocked() {
  // A paused stream whose last buffers came back (a device that could not call back what it
  // had handed on) ends only once it is restarted: the pause holds until then.
  if (depth_ != 0 || stop_posted_ || (!stop_pending_ && Has(wosPause))) return false;
  if (!stop_pending_ && (queued_.load() != 0 || in_flight_.load() != 0)) return false;
  stop_posted_ = true;
  stopping_ = true;
  return true;
}

void TMMRingWaveOut::PostEndOfStream(bool failed) {
  const uint32_t r = DevicePause();
  PostToGui(MM_WOM_STOP, nullptr, run_.load());
  if (!failed && r != 0) Fail(Op::Pause, r);
}

PMMWaveHdr TMMRingWaveOut::NowPlaying(PMMWaveHdr, PMMWaveHdr next) const { return next; }

void TMMRingWaveOut::DoBufferReady(PMMWaveHdr hdr) {
  StartDSPMeter();
  ring_index_ = headers_in_use_ > 0 ? (ring_index_ + 1) % headers_in_use_ : 0;
  hdr->wh.dwBytesRecorded = hdr->dwSavedBytes;
  PMMWaveHdr next = ring_[ring_index_];
  if (next) next->wh.dwBytesRecorded = next->dwSavedBytes;
  hdr->lpNowPlaying = NowPlaying(hdr, next);
  TMMCustomWaveOutComponent::BufferReady(hdr);
  StopDSPMeter();
}

// Position.

uint32_t TMMRingWaveOut::GetSamplePosition() {
  if (Has(wosClose) || !handle_) return 0;
  uint32_t samples = 0;
  Check(Op::Position, DevicePosition(&samples));
  return samples;
}

int64_t TMMRingWaveOut::GetPosition() {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (Has(wosClose) || !f || close_pending_) return 0;
  const uint32_t samples_now = GetSamplePosition();
  int64_t samples;
  {
    std::lock_guard lock(cs_);
    samples = static_cast<int64_t>(samples_now) + pause_offset_ + CounterLost() - loop_base_;
  }
  samples = std::max<int64_t>(samples, 0);
  switch (time_format_) {
    case tfMillisecond:
      return static_cast<int64_t>(wioSamplesToTime64(f, static_cast<uint64_t>(samples)));
    case tfByte:
      return static_cast<int64_t>(wioSamplesToBytes64(f, static_cast<uint64_t>(samples)));
    default:
      return samples;
  }
}

// Device operations.

void TMMRingWaveOut::Open() {
  if (!HasDevices()) Error(Msg(limits_.no_device_message));
  if (device_id_ == -2) Error(Msg(61));
  if (!GetPWaveFormat()) Error(Prefix(Op::Open) + Msg(89));
  if (!Has(wosClose)) {
    Close();
    if (!Has(wosClose) || closing_) return;
  }
  closing_ = false;
  resetting_ = false;
  stopping_ = false;
  stop_posted_ = false;
  ++run_;
  try {
    if (!DeviceQuery()) Error(Prefix(Op::Open) + Msg(70));
    handle_ = nullptr;
    close_pending_ = false;
    TMMCustomWaveOutComponent::Opened();
    if (mode_ == cmThread) InitThread();
    Check(Op::Open, DeviceOpen());
    if (!WaitForState(wosOpen, limits_.device_wait_ms)) Error(Prefix(Op::Open) + Msg(162));
    if (OnOpen) OnOpen(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    SetState(wosOpen);
    Close();
    SetState(wosClose);
    throw;
  }
}

void TMMRingWaveOut::Start() {
  if (Has(wosClose)) Open();
  if (Has(wosClose) || Has(wosPlay)) return;
  {
    std::lock_guard lock(cs_);
    pause_offset_ = loop_base_ = 0;
    CounterRestarts();
    loops_left_ = loop_count_;
    depth_ = 0;
    stop_pending_ = false;
    stop_posted_ = false;
  }
  resetting_ = false;
  stopping_ = false;
  ring_index_ = 0;
  queued_ = 0;
  ++run_;
  NewEpoch();
  try {
    int32_t queued;
    {
      HourGlass busy(ShowsHourGlass() &&
                     static_cast<int64_t>(GetBufferSize()) * num_buffers_ > 100000);
      Check(Op::Pause, DevicePause());
      TMMCustomWaveOutComponent::Started();
      queued = QueueRing();
      headers_in_use_ = queued;
      AddState(wosPlay);
    }
    if (queued == 0) {
      TMMCustomWaveOutComponent::Stopped();
      Error(Prefix(Op::Start) + Msg(80));
    }
    if (!Has(wosPause)) Check(Op::Restart, DeviceRestart());
    InitDSPMeter();
    if (OnStart) OnStart(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    AddState(wosPlay);
    Close();
    SetState(wosClose);
    throw;
  }
}

void TMMRingWaveOut::Pause() {
  if (Has(wosClose)) Open();
  if (Has(wosClose) || Has(wosPause)) return;
  try {
    if (Has(wosPlay)) {
      std::lock_guard lock(cs_);
      Check(Op::Pause, DevicePause());
      if (FedByDevice()) {
        pause_offset_ += GetSamplePosition();
        resetting_ = true;
        Check(Op::Reset, DeviceReset());
        ring_index_ = 0;
        queued_ = 0;
      }
    }
    AddState(wosPause);
    TMMCustomWaveOutComponent::Paused();
    if (OnPause) OnPause(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    Close();
    throw;
  }
}

void TMMRingWaveOut::Restart() {
  if (!Has(wosPlay) || !Has(wosPause)) return;
  try {
    resetting_ = false;
    // The chain hears of it before the device plays again and its completions come.
    TMMCustomWaveOutComponent::Restarted();
    Check(Op::Restart, DeviceRestart());
    RemoveState(wosPause);
    bool post = false;
    if (!FedByDevice()) {
      std::lock_guard lock(cs_);
      post = EndOfStreamLocked();
    }
    if (post) PostEndOfStream(false);
    if (OnRestart) OnRestart(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    Close();
    throw;
  }
}

void TMMRingWaveOut::Reset() {
  if (!(Has(wosPlay) || Has(wosPause)) || resetting_) return;
  try {
    resetting_ = true;
    Check(Op::Pause, DevicePause());
    // Completions delivered before the reset but not handled yet are stale from now on.
    NewEpoch();
    if (thread_ && !thread_->Flush())
      Trace(ClassName() + ": completion thread busy past the reset");
    Check(Op::Reset, DeviceReset());
    // The reset returned every header; nothing can clear the mark any more.
    resetting_ = false;
    AfterReset();
    {
      std::lock_guard lock(cs_);
      ring_index_ = 0;
      queued_ = 0;
      pause_offset_ = 0;
      CounterRestarts();
      loop_base_ = 0;
    }
    TMMCustomWaveOutComponent::Reseting();
    headers_in_use_ = QueueRing();
    if (!Has(wosPause)) Check(Op::Restart, DeviceRestart());
    if (headers_in_use_ == 0) Stop();
  } catch (...) {
    NoteFailure(std::current_exception());
    resetting_ = false;
    Close();
    throw;
  }
}

void TMMRingWaveOut::Stop() {
  if (!(Has(wosPlay) || Has(wosPause))) return;
  try {
    {
      std::lock_guard lock(cs_);
      stopping_ = true;
      resetting_ = true;
      CounterRestarts();
    }
    Check(Op::Reset, DeviceReset());
    DoStopped();
  } catch (...) {
    NoteFailure(std::current_exception());
    Close();
    throw;
  }
}

void TMMRingWaveOut::DoStopped() {
  {
    std::lock_guard lock(cs_);
    if (depth_ > 0) {
      stop_pending_ = true;
      return;
    }
  }
  RemoveState(wosPlay | wosPause);
  DoneDSPMeter();
  WaitServingGui([this] { return queued_.load() <= 0; }, limits_.stop_wait_ms);
  TMMCustomWaveOutComponent::Stopped();
  UnPrepareWaveHeaders();
  FreeWaveHeaders();
  headers_in_use_ = 0;
  queued_ = 0;
  ring_index_ = 0;
  {
    std::lock_guard lock(cs_);
    stop_pending_ = false;
  }
  if (!HasState(vant::csDestroying) && OnStop) OnStop(this);
  if (close_pending_) Close();
}

void TMMRingWaveOut::Close() {
  if (Has(wosClose) || (closing_ && !close_pending_)) return;
  closing_ = true;
  try {
    if (Has(wosPlay) || Has(wosPause)) {
      try {
        Stop();
      } catch (...) {
        // Stop reported it; closing goes on.
      }
    }
    {
      std::lock_guard lock(cs_);
      if (stop_pending_) {
        close_pending_ = true;
        return;
      }
    }
    close_pending_ = false;
    bool closed = true;
    if (handle_) {
      Check(Op::Close, DeviceClose());
      closed = WaitForState(wosClose, limits_.device_wait_ms);
      std::lock_guard lock(cs_);
      CounterRestarts();
    } else {
      SetState(wosClose);
    }
    TMMCustomWaveOutComponent::Closed();
    thread_.reset();
    DoClosed();
    if (!closed) Error(Prefix(Op::Close) + Msg(163));
  } catch (...) {
    NoteFailure(std::current_exception());
    closing_ = false;
  }
}

void TMMRingWaveOut::DoClosed() {
  handle_ = nullptr;
  SetState(wosClose);
  closing_ = false;
  if (!HasState(vant::csDestroying) && OnClose) OnClose(this);
}

void TMMRingWaveOut::InitThread() {
  try {
    thread_ = std::make_unique<TMMRingWaveOutThread>(this, limits_.thread_wait_ms);
  } catch (const std::exception&) {
    Error(Prefix(Op::Thread) + Msg(88));
  }
  thread_->SetPriority(ThreadPriority());
  thread_->Resume();
  if (!thread_->WaitReady()) {
    thread_.reset();
    Error(Prefix(Op::Thread) + Msg(88));
  }
}
