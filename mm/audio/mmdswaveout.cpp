#include "mmdswaveout.h"

#include <algorithm>
#include <atomic>
#include <deque>

#include "dispatch.h"
#include "globalmem.h"
#include "mmdspthread.h"
#include "mmwavefmt.h"
#include "trace.h"
#include "ui_dialogs.h"

namespace audio = vant::audio;
using vant::Screen;
using vant::Trace;

TThreadPriority DSWAVEOUT_PRIORITY = tpHigher;

namespace {

// Bounds of the waits for the layer (100 polls 10 ms apart), the stop (500 ms) and the thread.
constexpr int kDeviceWaitMs = 1000;
constexpr int kStopWaitMs = 500;
constexpr int kThreadWaitMs = 1000;

std::string Msg(int n) { return LoadResStr(n); }

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

struct TMMDSWaveOut::Token {
  TMMDSWaveOut* device;
};

// The completion thread of cmThread: processes returned headers in order.
class TMMDSWaveOutThread final : public TMMDSPThread {
 public:
  explicit TMMDSWaveOutThread(TMMDSWaveOut* device) : TMMDSPThread(device), device_(device) {}
  ~TMMDSWaveOutThread() override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    cv_.notify_all();
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
      }
      try {
        device_->ProcessWaveHeader(item.hdr, item.epoch);
      } catch (...) {
        device_->PostError(std::current_exception());
      }
    }
  }

 private:
  struct Item {
    PMMWaveHdr hdr = nullptr;
    uint64_t epoch = 0;
  };
  TMMDSWaveOut* device_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  bool quit_ = false;
  bool ready_ = false;
};

TMMDSWaveOut::TMMDSWaveOut(vant::TComponent* owner)
    : TMMCustomWaveOutComponent(owner), token_(std::make_shared<Token>(Token{this})) {
  PublishLinks(true, true);
  drivers_ = DSWaveOutGetDrivers();
  SetDeviceID(0);
}

TMMDSWaveOut::~TMMDSWaveOut() {
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

// Errors: a prefix and a library message, never the platform's text.

void TMMDSWaveOut::Error(const std::string& text) {
  if (OnError) OnError(this);
  throw EMMDSWaveOutError(text);
}

void TMMDSWaveOut::NoteFailure(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const EMMDSWaveOutError&) {
  } catch (...) {
    if (OnError) OnError(this);
  }
}

void TMMDSWaveOut::Check(const char* prefix, uint32_t result, int message) {
  if (result != DSWAVE_OK) Error(prefix + Msg(message));
}

// Properties.

void TMMDSWaveOut::SetDeviceID(int32_t value) {
  if (!Has(dssClose)) Error(Msg(60));
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
  if (!Has(dssClose)) Error(Msg(60));
  num_buffers_ = value;
}

void TMMDSWaveOut::SetBufferSize(int32_t size) {
  size = std::max(size, 256);
  if (size == GetBufferSize()) return;
  if (!Has(dssClose)) Error(Msg(60));
  FreeWaveHeaders();
  TMMCustomWaveOutComponent::SetBufferSize(size);
}

void TMMDSWaveOut::SetCallBackMode(int value) {
  if (!Has(dssClose)) Error(Msg(60));
  if (value == cmCallback) {
    vant::GetDialogAnswerer().MessageBox("\"CallBacks\" are not supported with DirectSound",
                                         "TMMDSWaveOut", vant::MB_OK);
    return;
  }
  mode_ = static_cast<TMMCBMode>(value);
}

void TMMDSWaveOut::SetLooping(bool value) {
  if (value == looping_) return;
  looping_ = value;
  loops_left_ = loop_count_;
}

void TMMDSWaveOut::SetLoopCount(uint16_t value) {
  if (value == loop_count_) return;
  loop_count_ = value;
  loops_left_ = value;
}

void TMMDSWaveOut::SetVolume(int32_t value) {
  volume_ = std::clamp(value, audio::STREAM_VOLUME_MIN, audio::STREAM_VOLUME_MAX);
  if (handle_) Check("DSWaveOutSetVolume:\n\r", DSWaveOutSetVolume(handle_, volume_), 74);
}

int32_t TMMDSWaveOut::GetVolume() {
  if (handle_) DSWaveOutGetVolume(handle_, &volume_);
  return volume_;
}

void TMMDSWaveOut::SetPan(int32_t value) {
  pan_ = std::clamp(value, audio::STREAM_PAN_LEFT, audio::STREAM_PAN_RIGHT);
  if (handle_) Check("DSWaveOutSetPan:\n\r", DSWaveOutSetPan(handle_, pan_), 75);
}

int32_t TMMDSWaveOut::GetPan() {
  if (handle_) DSWaveOutGetPan(handle_, &pan_);
  return pan_;
}

void TMMDSWaveOut::SetRate(int32_t value) {
  // Below the layer's lowest rate only 0 (the format's own) makes sense.
  rate_ = std::clamp<int32_t>(value, 0, audio::STREAM_RATE_MAX);
  if (rate_ > 0 && rate_ < static_cast<int32_t>(audio::STREAM_RATE_MIN)) {
    rate_ = audio::STREAM_RATE_MIN;
  }
  if (handle_) {
    Check("DSWaveOutSetPlayBackRate:\n\r", DSWaveOutSetPlayBackRate(handle_, rate_), 76);
  }
}

int32_t TMMDSWaveOut::GetRate() {
  if (handle_) {
    uint32_t rate = 0;
    if (DSWaveOutGetPlayBackRate(handle_, &rate) == DSWAVE_OK) rate_ = static_cast<int32_t>(rate);
  }
  return rate_;
}

void TMMDSWaveOut::ApplyStreamSettings() {
  Check("DSWaveOutSetVolume:\n\r", DSWaveOutSetVolume(handle_, volume_), 74);
  Check("DSWaveOutSetPan:\n\r", DSWaveOutSetPan(handle_, pan_), 75);
  Check("DSWaveOutSetPlayBackRate:\n\r", DSWaveOutSetPlayBackRate(handle_, rate_), 76);
}

void TMMDSWaveOut::SetPWaveFormat(const WAVEFORMATEX* format) {
  Close();
  TMMCustomWaveOutComponent::SetPWaveFormat(format);
}

// State.

void TMMDSWaveOut::SetState(TMMDSWaveOutStates s) {
  {
    std::lock_guard lock(state_mutex_);
    state_ = s;
  }
  state_cv_.notify_all();
}

bool TMMDSWaveOut::WaitForState(TMMDSWaveOutStates wanted, int timeout_ms) {
  std::unique_lock lock(state_mutex_);
  return state_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return state_.load() == wanted; });
}

// Chain overrides.

void TMMDSWaveOut::Opened() { Open(); }
void TMMDSWaveOut::Closed() { Close(); }
void TMMDSWaveOut::Started() { Start(); }
void TMMDSWaveOut::Paused() { Pause(); }
void TMMDSWaveOut::Restarted() { Restart(); }
void TMMDSWaveOut::Stopped() { Stop(); }
void TMMDSWaveOut::BufferReady(PMMWaveHdr) {}

void TMMDSWaveOut::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
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
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (GetInput()) GetInput()->BufferLoad(lpWaveHdr, MoreBuffers);
  lpWaveHdr->wh.dwBytesRecorded = std::min(lpWaveHdr->wh.dwBytesRecorded, capacity);
  lpWaveHdr->wh.dwBufferLength = lpWaveHdr->wh.dwBytesRecorded;
  if (looping_) loops_left_ = loop.dwLoopsLeft;
}

// Headers: straight from global memory, the data behind the header.

void TMMDSWaveOut::AllocWaveHeader(int index) {
  if (ring_[index]) return;
  const int32_t size = GetBufferSize();
  void* block = nullptr;
  try {
    block = vant::GlobalMemAlloc(sizeof(TMMWaveHdr) + size);
  } catch (const vant::OutOfMemoryError&) {
    Error(Msg(64));
  }
  auto* hdr = static_cast<PMMWaveHdr>(block);
  hdr->wh.lpData = reinterpret_cast<char*>(hdr + 1);
  hdr->wh.dwBufferLength = static_cast<uint32_t>(size);
  ring_[index] = hdr;
}

int32_t TMMDSWaveOut::LoadWaveHeader(PMMWaveHdr hdr) {
  bool more = false;
  BufferLoad(hdr, more);
  source_had_more_ = more;
  const int32_t bytes = static_cast<int32_t>(hdr->wh.dwBytesRecorded);
  more_buffers_ = more && bytes > 0;
  return bytes;
}

void TMMDSWaveOut::QueueWaveHeader(PMMWaveHdr hdr) {
  if (OnBufferFilled) OnBufferFilled(this, hdr);
  if (stopping_) return;
  Check("DSWaveOutPrepareHeader:\n\r", DSWaveOutPrepareHeader(handle_, hdr), 67);
  // Counted before the write: the header may come back before the write returns.
  ++queued_;
  if (DSWaveOutWrite(handle_, hdr) != DSWAVE_OK) {
    --queued_;
    Error("DSWaveOutWrite:\n\r" + Msg(69));
  }
}

int32_t TMMDSWaveOut::QueueRing() {
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

void TMMDSWaveOut::UnPrepareWaveHeaders() {
  bool failed = false;
  for (PMMWaveHdr hdr : ring_) {
    if (hdr && handle_ && DSWaveOutUnprepareHeader(handle_, hdr) != DSWAVE_OK) failed = true;
  }
  if (failed) Error("DSWaveOutUnprepareHeader:\n\r" + Msg(68));
}

void TMMDSWaveOut::FreeWaveHeaders() {
  for (PMMWaveHdr& hdr : ring_) {
    vant::GlobalMemFree(hdr);
    hdr = nullptr;
  }
}

// Completions.

void TMMDSWaveOut::DriverCallback(uint32_t msg, PMMWaveHdr hdr) {
  switch (msg) {
    case audio::MM_WOM_OPEN:
      SetState(dssOpen);
      break;
    case audio::MM_WOM_CLOSE:
      SetState(dssClose);
      break;
    case audio::MM_WOM_DONE: {
      uint64_t epoch;
      {
        std::lock_guard lock(epoch_mutex_);
        if (resetting_ || stopping_) {
          --queued_;
          return;
        }
        epoch = epoch_.load();
        ++in_flight_;
        --queued_;
      }
      if (mode_ == cmThread) {
        if (thread_) thread_->Push(hdr, epoch);
      } else {
        PostToGui(audio::MM_WOM_DONE, hdr, epoch);
      }
      break;
    }
    default:
      break;
  }
}

void TMMDSWaveOut::NewEpoch() {
  std::lock_guard lock(epoch_mutex_);
  ++epoch_;
  in_flight_ = 0;
}

void TMMDSWaveOut::PostToGui(uint32_t msg, PMMWaveHdr hdr, uint64_t epoch) {
  std::shared_ptr<Token> token = token_;
  HDSWAVEOUT h = handle_;
  vant::GetDispatcher().Post([token, msg, h, hdr, epoch] {
    if (token->device) token->device->WaveOutHandler(msg, h, hdr, epoch);
  });
}

void TMMDSWaveOut::PostError(std::exception_ptr error) {
  stopping_ = true;
  std::shared_ptr<Token> token = token_;
  vant::GetDispatcher().Post([token, error] {
    if (token->device) token->device->Close();
    std::rethrow_exception(error);
  });
}

void TMMDSWaveOut::WaveOutHandler(uint32_t msg, HDSWAVEOUT h, PMMWaveHdr hdr, uint64_t epoch) {
  if (h != handle_ || !h) return;  // a message of an earlier opening
  try {
    if (msg == MM_WOM_STOP) {
      if (epoch == run_.load()) Stop();
    } else if (msg == audio::MM_WOM_DONE && !stopping_) {
      ProcessWaveHeader(hdr, epoch);
    }
  } catch (...) {
    Close();
    throw;
  }
}

void TMMDSWaveOut::ProcessWaveHeader(PMMWaveHdr msg_hdr, uint64_t epoch) {
  {
    std::lock_guard lock(epoch_mutex_);
    if (epoch != epoch_.load()) return;
    --in_flight_;
  }
  {
    std::lock_guard lock(cs_);
    if (!Has(dssPlay) || resetting_ || stopping_) return;
    ++depth_;
  }
  std::exception_ptr failure;
  try {
    PMMWaveHdr hdr = ring_[ring_index_];
    if (hdr && hdr == msg_hdr) {
      DoBufferReady(hdr);
      if (looping_ && hdr->LoopRec.dwLooped && !stop_pending_ && !resetting_) {
        {
          std::lock_guard lock(cs_);
          loop_base_ = GetSamplePosition();
          hdr->LoopRec.dwLooped = 0;
        }
        if (OnLooping) OnLooping(this);
      }
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
    const uint32_t r = DSWaveOutPause(handle_);
    PostToGui(MM_WOM_STOP, nullptr, run_.load());
    if (!failure) Check("DSWaveOutPause:\n\r", r, 78);
  }
  if (failure) std::rethrow_exception(failure);
}

void TMMDSWaveOut::DoBufferReady(PMMWaveHdr hdr) {
  ring_index_ = headers_in_use_ > 0 ? (ring_index_ + 1) % headers_in_use_ : 0;
  // Reported only once heard: the header itself is what plays now.
  hdr->lpNowPlaying = nullptr;
  TMMCustomWaveOutComponent::BufferReady(hdr);
}

// Position.

uint32_t TMMDSWaveOut::GetSamplePosition() {
  if (Has(dssClose) || !handle_) return 0;
  audio::MMTime t;
  t.wType = audio::TIME_SAMPLES;
  Check("DSWaveOutGetPosition:\n\r", DSWaveOutGetPosition(handle_, &t), 66);
  return t.value;
}

int64_t TMMDSWaveOut::GetPosition() {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (Has(dssClose) || !f || close_pending_) return 0;
  const uint32_t samples_now = GetSamplePosition();
  int64_t samples;
  {
    std::lock_guard lock(cs_);
    samples = static_cast<int32_t>(samples_now + pause_offset_ - loop_base_);
  }
  samples = std::max<int64_t>(samples, 0);
  switch (time_format_) {
    case tfMillisecond:
      return static_cast<int32_t>(wioSamplesToTime64(f, static_cast<uint64_t>(samples)));
    case tfByte:
      return static_cast<int32_t>(wioSamplesToBytes64(f, static_cast<uint64_t>(samples)));
    default:
      return samples;
  }
}

// Device operations.

void TMMDSWaveOut::Open() {
  if (drivers_.empty()) Error(Msg(50));
  if (device_id_ == -2) Error(Msg(61));
  if (!GetPWaveFormat()) Error("DSWaveOutOpen:\n\r" + Msg(89));
  if (!Has(dssClose)) {
    Close();
    if (!Has(dssClose) || closing_) return;
  }
  closing_ = false;
  resetting_ = false;
  stopping_ = false;
  stop_posted_ = false;
  try {
    if (DSWaveOutOpen(nullptr, device_id_, GetPWaveFormat(), nullptr, audio::WAVE_FORMAT_QUERY) !=
        DSWAVE_OK) {
      Error("DSWaveOutOpen:\n\r" + Msg(70));
    }
    handle_ = nullptr;
    close_pending_ = false;
    TMMCustomWaveOutComponent::Opened();
    if (mode_ == cmThread) InitThread();
    const uint32_t flags =
        audio::CALLBACK_FUNCTION | DSWAVE_CTRLVOLUME | DSWAVE_CTRLPAN | DSWAVE_CTRLFREQUENCY;
    Check("DSWaveOutOpen:\n\r",
          DSWaveOutOpen(
              &handle_, device_id_, GetPWaveFormat(),
              [this](HDSWAVEOUT, uint32_t msg, PMMWaveHdr h) { DriverCallback(msg, h); }, flags),
          71);
    ApplyStreamSettings();
    if (!WaitForState(dssOpen, kDeviceWaitMs)) Error("DSWaveOutOpen:\n\r" + Msg(162));
    if (OnOpen) OnOpen(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    SetState(dssOpen);
    Close();
    SetState(dssClose);
    throw;
  }
}

void TMMDSWaveOut::Start() {
  if (Has(dssClose)) Open();
  if (Has(dssClose) || Has(dssPlay)) return;
  {
    std::lock_guard lock(cs_);
    pause_offset_ = loop_base_ = 0;
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
      HourGlass busy(static_cast<int64_t>(GetBufferSize()) * num_buffers_ > 100000);
      Check("DSWaveOutPause:\n\r", DSWaveOutPause(handle_), 78);
      TMMCustomWaveOutComponent::Started();
      queued = QueueRing();
      headers_in_use_ = queued;
      AddState(dssPlay);
    }
    if (queued == 0) {
      TMMCustomWaveOutComponent::Stopped();
      Error("DSWaveOutStarted:\n\r" + Msg(80));
    }
    if (!Has(dssPause)) Check("DSWaveOutRestart:\n\r", DSWaveOutRestart(handle_), 79);
    if (OnStart) OnStart(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    AddState(dssPlay);
    Close();
    SetState(dssClose);
    throw;
  }
}

void TMMDSWaveOut::Pause() {
  if (Has(dssClose)) Open();
  if (Has(dssClose) || Has(dssPause)) return;
  try {
    if (Has(dssPlay)) {
      std::lock_guard lock(cs_);
      Check("DSWaveOutPause:\n\r", DSWaveOutPause(handle_), 78);
      if (FedByDevice()) {
        pause_offset_ += GetSamplePosition();
        resetting_ = true;
        Check("DSWaveOutReset:\n\r", DSWaveOutReset(handle_), 77);
        ring_index_ = 0;
        queued_ = 0;
      }
    }
    AddState(dssPause);
    TMMCustomWaveOutComponent::Paused();
    if (OnPause) OnPause(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    Close();
    throw;
  }
}

void TMMDSWaveOut::Restart() {
  if (!Has(dssPlay) || !Has(dssPause)) return;
  try {
    resetting_ = false;
    Check("DSWaveOutRestart:\n\r", DSWaveOutRestart(handle_), 79);
    RemoveState(dssPause);
    TMMCustomWaveOutComponent::Restarted();
    if (OnRestart) OnRestart(this);
  } catch (...) {
    NoteFailure(std::current_exception());
    Close();
    throw;
  }
}

void TMMDSWaveOut::Reset() {
  if (!(Has(dssPlay) || Has(dssPause)) || resetting_) return;
  try {
    resetting_ = true;
    if (!Has(dssPause)) Check("DSWaveOutPause:\n\r", DSWaveOutPause(handle_), 78);
    NewEpoch();
    // The layer gives every header back before the reset returns.
    Check("DSWaveOutReset:\n\r", DSWaveOutReset(handle_), 77);
    resetting_ = false;
    {
      std::lock_guard lock(cs_);
      ring_index_ = 0;
      queued_ = 0;
      pause_offset_ = 0;
      loop_base_ = 0;
    }
    TMMCustomWaveOutComponent::Reseting();
    headers_in_use_ = QueueRing();
    if (!Has(dssPause)) Check("DSWaveOutRestart:\n\r", DSWaveOutRestart(handle_), 79);
    if (headers_in_use_ == 0) Stop();
  } catch (...) {
    NoteFailure(std::current_exception());
    resetting_ = false;
    Close();
    throw;
  }
}

void TMMDSWaveOut::Stop() {
  if (!(Has(dssPlay) || Has(dssPause))) return;
  try {
    std::lock_guard lock(cs_);
    stopping_ = true;
    resetting_ = true;
    Check("DSWaveOutReset:\n\r", DSWaveOutReset(handle_), 77);
  } catch (...) {
    NoteFailure(std::current_exception());
    Close();
    throw;
  }
  DoStopped();
}

void TMMDSWaveOut::DoStopped() {
  {
    std::lock_guard lock(cs_);
    if (depth_ > 0) {
      stop_pending_ = true;
      return;
    }
  }
  RemoveState(dssPlay | dssPause);
  WaitServingGui([this] { return queued_.load() <= 0; }, kStopWaitMs);
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

void TMMDSWaveOut::Close() {
  if (Has(dssClose) || (closing_ && !close_pending_)) return;
  closing_ = true;
  try {
    if (Has(dssPlay) || Has(dssPause)) {
      try {
        Stop();
      } catch (...) {
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
      Check("DSWaveOutClose:\n\r", DSWaveOutClose(handle_), 72);
      closed = WaitForState(dssClose, kDeviceWaitMs);
    } else {
      SetState(dssClose);
    }
    TMMCustomWaveOutComponent::Closed();
    thread_.reset();
    DoClosed();
    if (!closed) Error("DSWaveOutClose:\n\r" + Msg(163));
  } catch (...) {
    NoteFailure(std::current_exception());
    closing_ = false;
  }
}

void TMMDSWaveOut::DoClosed() {
  handle_ = nullptr;
  SetState(dssClose);
  closing_ = false;
  if (!HasState(vant::csDestroying) && OnClose) OnClose(this);
}

void TMMDSWaveOut::InitThread() {
  try {
    thread_ = std::make_unique<TMMDSWaveOutThread>(this);
  } catch (const std::exception&) {
    Error("DSWaveOut:\n\r" + Msg(88));
  }
  thread_->SetPriority(DSWAVEOUT_PRIORITY);
  thread_->Resume();
  if (!thread_->WaitReady(kThreadWaitMs)) {
    thread_.reset();
    Error("DSWaveOut:\n\r" + Msg(88));
  }
}
