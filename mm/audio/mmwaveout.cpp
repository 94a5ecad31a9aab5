#include "mmwaveout.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>

#include "dispatch.h"
#include "mmdspmeter.h"
#include "mmdspthread.h"
#include "mmpcmsup.h"
#include "mmwavefmt.h"
#include "trace.h"
#include "ui_dialogs.h"

namespace audio = vant::audio;
using vant::Screen;
using vant::Trace;

bool FIX_BUFFERS = true;

namespace {

// Bounds of the waits for the device (the original's 500 polls 10 ms apart) and its thread.
constexpr int kDeviceWaitMs = 5000;
constexpr int kThreadWaitMs = 5000;

std::string Msg(int n) { return LoadResStr(n); }

// The header a completion names: the platform header is the first member of ours.
PMMWaveHdr FromDevice(audio::WaveHdr* h) { return reinterpret_cast<PMMWaveHdr>(h); }

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
struct TMMWaveOut::Token {
  TMMWaveOut* device;
};

// The completion thread of cmThread: processes returned headers in order at `Priority`.
class TMMWaveOutThread final : public TMMDSPThread {
 public:
  explicit TMMWaveOutThread(TMMWaveOut* device) : TMMDSPThread(device), device_(device) {}
  ~TMMWaveOutThread() override {
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
        kThreadWaitMs);
  }
  void Quit() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    cv_.notify_all();
  }
  bool WaitReady(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return ready_; });
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
  TMMWaveOut* device_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  bool busy_ = false;
  bool quit_ = false;
  bool ready_ = false;
};

TMMWaveOut::TMMWaveOut(vant::TComponent* owner)
    : TMMCustomWaveOutComponent(owner), token_(std::make_shared<Token>(Token{this})) {
  PublishLinks(true, true);
  num_devs_ = audio::waveOutGetNumDevs();
  SetDeviceID(0);
}

TMMWaveOut::~TMMWaveOut() {
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

void TMMWaveOut::Error(const std::string& text) {
  if (OnError) OnError(this);
  throw EMMWaveOutError(text);
}

void TMMWaveOut::NoteFailure(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const EMMWaveOutError&) {
  } catch (...) {
    if (OnError) OnError(this);
  }
}

void TMMWaveOut::DeviceError(const char* prefix, audio::MMRESULT result) {
  std::string text;
  if (audio::waveOutGetErrorText(result, &text) != audio::MMSYSERR_NOERROR || text.empty()) {
    text = Msg(86);
  }
  Error(prefix + text.substr(0, 255));
}

void TMMWaveOut::Check(const char* prefix, audio::MMRESULT result) {
  if (result != audio::MMSYSERR_NOERROR) DeviceError(prefix, result);
}

// Properties.

void TMMWaveOut::SetDeviceID(int32_t value) {
  if (!Has(wosClose)) Error(Msg(60));
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
  if (!Has(wosClose)) Error(Msg(60));
  num_buffers_ = std::min(value, MAXOUTBUFFERS);
}

void TMMWaveOut::SetBufferSize(int32_t size) {
  if (size == GetBufferSize()) return;
  if (!Has(wosClose)) Error(Msg(60));
  FreeWaveHeaders();
  allocator_.Discard();
  TMMCustomWaveOutComponent::SetBufferSize(std::max(size, 32));
}

void TMMWaveOut::SetCallBackMode(int value) {
  if (!Has(wosClose)) Error(Msg(60));
  if (value == cmCallback && !_Win95_) {
    vant::GetDialogAnswerer().MessageBox(
        "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
        "Windows 95",
        "TMMWaveOut", vant::MB_OK);
    return;
  }
  mode_ = static_cast<TMMCBMode>(value);
}

void TMMWaveOut::SetLooping(bool value) {
  if (value == looping_) return;
  looping_ = value;
  loops_left_ = loop_count_;
}

void TMMWaveOut::SetLoopCount(uint16_t value) {
  if (value == loop_count_) return;
  loop_count_ = value;
  loops_left_ = value;
}

void TMMWaveOut::SetPriority(TThreadPriority value) {
  priority_ = value;
  if (thread_) thread_->SetPriority(value);
}

void TMMWaveOut::SetPWaveFormat(const WAVEFORMATEX* format) {
  Close();
  TMMCustomWaveOutComponent::SetPWaveFormat(format);
}

bool TMMWaveOut::QueryDevice(int32_t device, const WAVEFORMATEX* format) {
  if (!format || device < -1 || device >= static_cast<int32_t>(num_devs_)) return false;
  return audio::waveOutOpen(nullptr, device, format, nullptr, audio::WAVE_FORMAT_QUERY) ==
         audio::MMSYSERR_NOERROR;
}

// State.

void TMMWaveOut::SetState(TMMWaveOutStates s) {
  {
    std::lock_guard lock(state_mutex_);
    state_ = s;
  }
  state_cv_.notify_all();
}

bool TMMWaveOut::WaitForState(TMMWaveOutStates wanted, int timeout_ms) {
  std::unique_lock lock(state_mutex_);
  return state_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return state_.load() == wanted; });
}

// Chain overrides.

void TMMWaveOut::Opened() { Open(); }
void TMMWaveOut::Closed() { Close(); }
void TMMWaveOut::Started() { Start(); }
void TMMWaveOut::Paused() { Pause(); }
void TMMWaveOut::Restarted() { Restart(); }
void TMMWaveOut::Stopped() { Stop(); }
void TMMWaveOut::BufferReady(PMMWaveHdr) {}

void TMMWaveOut::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
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

// Headers.

void TMMWaveOut::AllocWaveHeader(int index) {
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

int32_t TMMWaveOut::LoadWaveHeader(PMMWaveHdr hdr) {
  bool more = false;
  BufferLoad(hdr, more);
  source_had_more_ = more;
  const int32_t bytes = static_cast<int32_t>(hdr->wh.dwBytesRecorded);
  more_buffers_ = more && bytes > 0;
  return bytes;
}

void TMMWaveOut::QueueWaveHeader(PMMWaveHdr hdr) {
  if (OnBufferFilled) OnBufferFilled(this, hdr);
  if (stopping_) return;
  if (!(HeaderFlags(hdr) & audio::WHDR_PREPARED) || !FIX_BUFFERS) {
    Check("WaveOutWrite:\n\r", audio::waveOutPrepareHeader(handle_, &hdr->wh));
  }
  hdr->dwSavedBytes = hdr->wh.dwBytesRecorded;
  // Counted before the write: the header may come back before waveOutWrite returns.
  ++queued_;
  const audio::MMRESULT r = audio::waveOutWrite(handle_, &hdr->wh);
  if (r != audio::MMSYSERR_NOERROR) {
    --queued_;
    DeviceError("WaveOutWrite:\n\r", r);
  }
  hdr->wh.dwBytesRecorded = hdr->dwSavedBytes;
}

int32_t TMMWaveOut::QueueRing() {
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

void TMMWaveOut::UnPrepareWaveHeaders() {
  for (int i = 0; i < MAXOUTBUFFERS; ++i) {
    PMMWaveHdr hdr = ring_[i];
    if (!hdr || !handle_) continue;
    // Every header came back before the reset returned; one that did not is marked done so it
    // can be given up.
    if (!(HeaderFlags(hdr) & audio::WHDR_DONE)) {
      std::atomic_ref<uint32_t>(hdr->wh.dwFlags).fetch_or(audio::WHDR_DONE);
    }
    audio::waveOutUnprepareHeader(handle_, &hdr->wh);
  }
}

void TMMWaveOut::FreeWaveHeaders() {
  for (PMMWaveHdr& hdr : ring_) {
    if (!hdr) continue;
    void* block = hdr;
    allocator_.FreeBuffer(block);
    hdr = nullptr;
  }
}

// Completions.

void TMMWaveOut::DriverCallback(uint32_t msg, audio::WaveHdr* wh) {
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
          if (thread_) thread_->Push(FromDevice(wh), epoch);
          break;
        case cmCallback:
          ProcessOffGui(FromDevice(wh), epoch);
          break;
        default:
          PostToGui(audio::MM_WOM_DONE, FromDevice(wh), epoch);
          break;
      }
      break;
    }
    default:
      break;
  }
}

void TMMWaveOut::NewEpoch() {
  std::lock_guard lock(epoch_mutex_);
  ++epoch_;
  in_flight_ = 0;
}

void TMMWaveOut::PostToGui(uint32_t msg, PMMWaveHdr hdr, uint64_t epoch) {
  std::shared_ptr<Token> token = token_;
  audio::HWAVEOUT h = handle_;
  vant::GetDispatcher().Post([token, msg, h, hdr, epoch] {
    if (token->device) token->device->WaveOutHandler(msg, h, hdr, epoch);
  });
}

void TMMWaveOut::ProcessOffGui(PMMWaveHdr hdr, uint64_t epoch) {
  // Taken first: a failure belongs to the run that was playing when the header was taken up.
  const uint64_t run = run_.load();
  try {
    ProcessWaveHeader(hdr, epoch);
  } catch (...) {
    PostError(std::current_exception(), run);
  }
}

void TMMWaveOut::PostError(std::exception_ptr error, uint64_t run) {
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

void TMMWaveOut::WaveOutHandler(uint32_t msg, audio::HWAVEOUT h, PMMWaveHdr hdr, uint64_t epoch) {
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

void TMMWaveOut::ProcessWaveHeader(PMMWaveHdr msg_hdr, uint64_t epoch) {
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
    PMMWaveHdr hdr = FIX_BUFFERS ? ring_[ring_index_] : msg_hdr;
    // Only the header we expect, and only once the device is done with it.
    if (hdr && hdr == msg_hdr && (HeaderFlags(hdr) & audio::WHDR_DONE)) {
      if (!FIX_BUFFERS)
        Check("WaveOutWrite:\n\r", audio::waveOutUnprepareHeader(handle_, &hdr->wh));
      DoBufferReady(hdr);
      const uint32_t position = GetSamplePosition();
      {
        std::lock_guard lock(cs_);
        if (WaveOutCounterWrapped(previous_position_, position, &wrap_period_)) ++wrap_count_;
        previous_position_ = position;
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
    if (depth_ == 0 && (stop_pending_ || (queued_.load() == 0 && in_flight_.load() == 0)) &&
        !stop_posted_) {
      stop_posted_ = true;
      stopping_ = true;
      post = true;
    }
  }
  if (post) {
    const audio::MMRESULT r = audio::waveOutPause(handle_);
    PostToGui(MM_WOM_STOP, nullptr, run_.load());
    if (!failure && r != audio::MMSYSERR_NOERROR) DeviceError("WaveOutPause:\n\r", r);
  }
  if (failure) std::rethrow_exception(failure);
}

void TMMWaveOut::DoBufferReady(PMMWaveHdr hdr) {
  StartDSPMeter();
  ring_index_ = headers_in_use_ > 0 ? (ring_index_ + 1) % headers_in_use_ : 0;
  hdr->wh.dwBytesRecorded = hdr->dwSavedBytes;
  PMMWaveHdr now = ring_[ring_index_];
  hdr->lpNowPlaying = now;
  if (now) now->wh.dwBytesRecorded = now->dwSavedBytes;
  TMMCustomWaveOutComponent::BufferReady(hdr);
  StopDSPMeter();
}

// Position.

uint32_t TMMWaveOut::GetSamplePosition() {
  if (Has(wosClose) || !handle_) return 0;
  audio::MMTime t;
  t.wType = audio::TIME_SAMPLES;
  Check("WaveOutGetPosition:\n\r", audio::waveOutGetPosition(handle_, &t));
  if (t.wType == audio::TIME_SAMPLES) return t.value;
  t.wType = audio::TIME_BYTES;
  Check("WaveOutGetPosition:\n\r", audio::waveOutGetPosition(handle_, &t));
  return static_cast<uint32_t>(wioBytesToSamples(GetPWaveFormat(), static_cast<int32_t>(t.value)));
}

int64_t TMMWaveOut::GetPosition() {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (Has(wosClose) || !f || close_pending_) return 0;
  const uint32_t samples_now = GetSamplePosition();
  int64_t samples;
  {
    std::lock_guard lock(cs_);
    samples = static_cast<int64_t>(samples_now) + pause_offset_ +
              static_cast<int64_t>(wrap_count_) * wrap_period_ - loop_base_;
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

void TMMWaveOut::Open() {
  if (num_devs_ == 0) Error(Msg(161));
  if (device_id_ == -2) Error(Msg(61));
  if (!GetPWaveFormat()) Error("WaveOutOpen:\n\r" + Msg(89));
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
    if (!QueryDevice(device_id_, GetPWaveFormat())) Error("WaveOutOpen:\n\r" + Msg(70));
    handle_ = nullptr;
    close_pending_ = false;
    TMMCustomWaveOutComponent::Opened();
    if (mode_ == cmThread) InitThread();
    uint32_t flags = audio::CALLBACK_FUNCTION;
    if (mapped_ && device_id_ >= 0) flags |= audio::WAVE_MAPPED;
    Check("WaveOutOpen:\n\r",
          audio::waveOutOpen(
              &handle_, device_id_, GetPWaveFormat(),
              [this](audio::HWAVEOUT, uint32_t msg, audio::WaveHdr* h) { DriverCallback(msg, h); },
              flags));
    if (!WaitForState(wosOpen, kDeviceWaitMs)) Error("WaveOutOpen:\n\r" + Msg(162));
    if (OnOpen) OnOpen(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    SetState(wosOpen);
    Close();
    SetState(wosClose);
    throw;
  }
}

void TMMWaveOut::Start() {
  if (Has(wosClose)) Open();
  if (Has(wosClose) || Has(wosPlay)) return;
  {
    std::lock_guard lock(cs_);
    pause_offset_ = loop_base_ = 0;
    previous_position_ = wrap_count_ = wrap_period_ = 0;
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
      HourGlass busy(show_hourglass_ &&
                     static_cast<int64_t>(GetBufferSize()) * num_buffers_ > 100000);
      Check("WaveOutPause:\n\r", audio::waveOutPause(handle_));
      TMMCustomWaveOutComponent::Started();
      queued = QueueRing();
      headers_in_use_ = queued;
      AddState(wosPlay);
    }
    if (queued == 0) {
      TMMCustomWaveOutComponent::Stopped();
      Error("WaveOutStart:\n\r" + Msg(80));
    }
    if (!Has(wosPause)) Check("WaveOutRestart:\n\r", audio::waveOutRestart(handle_));
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

void TMMWaveOut::Pause() {
  if (Has(wosClose)) Open();
  if (Has(wosClose) || Has(wosPause)) return;
  try {
    if (Has(wosPlay)) {
      std::lock_guard lock(cs_);
      Check("WaveOutPause:\n\r", audio::waveOutPause(handle_));
      if (FedByDevice()) {
        pause_offset_ += GetSamplePosition();
        resetting_ = true;
        Check("WaveOutReset:\n\r", audio::waveOutReset(handle_));
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

void TMMWaveOut::Restart() {
  if (!Has(wosPlay) || !Has(wosPause)) return;
  try {
    resetting_ = false;
    TMMCustomWaveOutComponent::Restarted();
    Check("WaveOutRestart:\n\r", audio::waveOutRestart(handle_));
    RemoveState(wosPause);
    if (OnRestart) OnRestart(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    Close();
    throw;
  }
}

void TMMWaveOut::Reset() {
  if (!(Has(wosPlay) || Has(wosPause)) || resetting_) return;
  try {
    resetting_ = true;
    Check("WaveOutPause:\n\r", audio::waveOutPause(handle_));
    // Completions delivered before the reset but not handled yet are stale from now on.
    NewEpoch();
    if (thread_ && !thread_->Flush()) Trace("TMMWaveOut: completion thread busy past the reset");
    Check("WaveOutReset:\n\r", audio::waveOutReset(handle_));
    // The reset returned every header; nothing can clear the mark any more.
    resetting_ = false;
    Check("WaveOutRestart:\n\r", audio::waveOutRestart(handle_));
    Check("WaveOutPause:\n\r", audio::waveOutPause(handle_));
    {
      std::lock_guard lock(cs_);
      ring_index_ = 0;
      queued_ = 0;
      pause_offset_ = 0;
      previous_position_ = wrap_count_ = wrap_period_ = 0;
      loop_base_ = 0;
    }
    TMMCustomWaveOutComponent::Reseting();
    headers_in_use_ = QueueRing();
    if (!Has(wosPause)) Check("WaveOutRestart:\n\r", audio::waveOutRestart(handle_));
    if (headers_in_use_ == 0) Stop();
  } catch (...) {
    NoteFailure(std::current_exception());
    resetting_ = false;
    Close();
    throw;
  }
}

void TMMWaveOut::Stop() {
  if (!(Has(wosPlay) || Has(wosPause))) return;
  try {
    {
      std::lock_guard lock(cs_);
      stopping_ = true;
      resetting_ = true;
      wrap_count_ = wrap_period_ = 0;
    }
    Check("WaveOutReset:\n\r", audio::waveOutReset(handle_));
    DoStopped();
  } catch (...) {
    NoteFailure(std::current_exception());
    Close();
    throw;
  }
}

void TMMWaveOut::DoStopped() {
  {
    std::lock_guard lock(cs_);
    if (depth_ > 0) {
      stop_pending_ = true;
      return;
    }
  }
  RemoveState(wosPlay | wosPause);
  DoneDSPMeter();
  WaitServingGui([this] { return queued_.load() <= 0; }, kDeviceWaitMs);
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

void TMMWaveOut::Close() {
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
      const audio::MMRESULT r = audio::waveOutClose(handle_);
      if (r != audio::MMSYSERR_NOERROR) DeviceError("WaveOutClose:\n\r", r);
      closed = WaitForState(wosClose, kDeviceWaitMs);
      std::lock_guard lock(cs_);
      wrap_count_ = wrap_period_ = 0;
    } else {
      SetState(wosClose);
    }
    TMMCustomWaveOutComponent::Closed();
    DoneThread();
    DoClosed();
    if (!closed) Error("WaveOutClose:\n\r" + Msg(163));
  } catch (...) {
    NoteFailure(std::current_exception());
    closing_ = false;
  }
}

void TMMWaveOut::DoClosed() {
  handle_ = nullptr;
  SetState(wosClose);
  closing_ = false;
  if (!HasState(vant::csDestroying) && OnClose) OnClose(this);
}

void TMMWaveOut::InitThread() {
  try {
    thread_ = std::make_unique<TMMWaveOutThread>(this);
  } catch (const std::exception&) {
    Error("WaveOut:\n\r" + Msg(88));
  }
  thread_->SetPriority(priority_);
  thread_->Resume();
  if (!thread_->WaitReady(kThreadWaitMs)) {
    thread_.reset();
    Error("WaveOut:\n\r" + Msg(88));
  }
}

void TMMWaveOut::DoneThread() { thread_.reset(); }

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
