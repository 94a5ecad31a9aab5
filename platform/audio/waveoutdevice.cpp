#include "waveoutdevice.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include "trace.h"

namespace vant::audio {
namespace {

// Bound of the waits for callbacks to run (reset, close): a caller's callback that blocks for
// longer than this is a fault of its own, and we must not hang the GUI thread behind it.
constexpr int kDeliveryWaitMs = 5000;
// Bound of the wait for the backend's answer to a discard: a pause, stop or seek never holds its
// caller longer; a later answer still takes the output back before anything more is rendered.
constexpr int kDiscardWaitMs = 80;
// What every call but close answers once the backend lost its output.
constexpr MMRESULT kLostResult = MMSYSERR_NODRIVER;

void SetFlags(WaveHdr* hdr, uint32_t set, uint32_t clear) {
  std::atomic_ref<uint32_t> flags(hdr->dwFlags);
  uint32_t v = flags.load();
  while (!flags.compare_exchange_weak(v, (v & ~clear) | set)) {
  }
}

uint32_t Flags(WaveHdr* hdr) { return std::atomic_ref<uint32_t>(hdr->dwFlags).load(); }

}  // namespace

WaveOutDevice::WaveOutDevice(const WaveFormatEx& format, WaveOutCallback callback)
    : format_(format), callback_(std::move(callback)) {}

WaveOutDevice::~WaveOutDevice() {
  // Only reached without a Close when the process tears down its handles: stop quietly, the
  // caller's callback may already be gone.
  std::unique_ptr<BackendStream> stream;
  {
    std::lock_guard lock(mutex_);
    stream = std::move(stream_);
  }
  stream.reset();
  if (driver_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      outbox_.Clear();
      quit_ = true;
    }
    wake_driver_.notify_all();
    if (driver_.get_id() == std::this_thread::get_id()) {
      driver_.detach();
    } else {
      driver_.join();
    }
  }
}

MMRESULT WaveOutDevice::Open(Backend& backend, int device) {
  MMRESULT error = MMSYSERR_ERROR;
  auto stream = backend.Open(device, format_, this, &error);
  if (!stream) return error == MMSYSERR_NOERROR ? MMSYSERR_ERROR : error;
  driver_ = std::thread([this] { DriverLoop(); });
  {
    std::lock_guard lock(mutex_);
    driver_id_ = driver_.get_id();
    stream_ = std::move(stream);
    PostLocked(MM_WOM_OPEN, nullptr);
  }
  wake_driver_.notify_one();
  // Outside our lock: the renderer holds its own lock while it calls Render, which takes ours.
  stream_->Start();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Close() {
  std::unique_ptr<BackendStream> stream;
  {
    std::unique_lock lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (OnDriverThreadLocked()) return MMSYSERR_HANDLEBUSY;
    if (!queue_.Empty()) return WAVERR_STILLPLAYING;
    // Headers already heard but not yet handed back are finished; let them arrive first.
    WaitDeliveredLocked(lock, posted_, kDeliveryWaitMs);
    closing_ = true;
    stream = std::move(stream_);
  }
  stream.reset();  // outside the lock: the renderer may be waiting for it
  {
    std::lock_guard lock(mutex_);
    PostLocked(MM_WOM_CLOSE, nullptr);
    quit_ = true;
  }
  wake_driver_.notify_one();
  driver_.join();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Prepare(WaveHdr* hdr) {
  if (!hdr) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(mutex_);
  if (Flags(hdr) & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  SetFlags(hdr, WHDR_PREPARED, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Unprepare(WaveHdr* hdr) {
  if (!hdr) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(mutex_);
  if (Flags(hdr) & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  SetFlags(hdr, 0, WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Write(WaveHdr* hdr) {
  if (!hdr || (!hdr->lpData && hdr->dwBufferLength > 0)) return MMSYSERR_INVALPARAM;
  BackendStream* stream = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (lost_) return kLostResult;
    const uint32_t flags = Flags(hdr);
    if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    SetFlags(hdr, WHDR_INQUEUE, WHDR_DONE);
    queue_.PushBack({hdr, written_, written_ + hdr->dwBufferLength});
    // Room for every header to come back from the renderer, which must not allocate.
    outbox_.Reserve(outbox_.Size() + queue_.Size() + 1);
    written_ += hdr->dwBufferLength;
    if (!paused_) stream = stream_.get();
  }
  // Outside our lock: the backend may render right away, which takes it.
  if (stream) stream->Kick();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Pause() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (lost_) return kLostResult;
    if (paused_) return MMSYSERR_NOERROR;
    paused_ = true;
  }
  // Where the backend can call back what it holds, the sound stops now and the restart goes on
  // from the first byte not heard. Where it cannot, what was rendered is still heard after the
  // pause, the position follows it there, and the restart goes on after it.
  return DiscardUnheard(true);
}

MMRESULT WaveOutDevice::Restart() {
  BackendStream* stream = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (lost_) return kLostResult;
    if (!paused_) return MMSYSERR_NOERROR;
    paused_ = false;
    stream = stream_.get();
  }
  if (stream) {
    stream->Resume();
    stream->Kick();
  }
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::DiscardUnheard(bool hold) {
  BackendStream* stream = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (lost_) return kLostResult;
    stream = stream_.get();
    if (!stream || !stream->CanDiscard()) return MMSYSERR_NOERROR;
    ++discards_;
  }
  // Only the caller's thread closes the device, so the stream outlives this call.
  stream->Discard(hold);
  std::unique_lock lock(mutex_);
  discarded_cv_.wait_for(lock, std::chrono::milliseconds(kDiscardWaitMs),
                         [this] { return discards_ == 0 || lost_; });
  return lost_ ? kLostResult : MMSYSERR_NOERROR;
}

void WaveOutDevice::TakeBack(int64_t bytes) {
  {
    std::lock_guard lock(mutex_);
    bytes = std::clamp<int64_t>(bytes, 0, latency_);
    output_ -= bytes;
    latency_ -= bytes;
    // The stream bytes rendered into the output taken back are rendered again later.
    if (const auto reached = map_.TakeBack(output_)) {
      rendered_ = std::min(rendered_, static_cast<int64_t>(*reached));
    }
    rendered_ = std::max(rendered_, heard_);
    discards_ = std::max(discards_ - 1, 0);
  }
  discarded_cv_.notify_all();
}

void WaveOutDevice::Lost() {
  {
    std::lock_guard lock(mutex_);
    if (lost_) return;
    lost_ = true;
    Trace("wave-out device: the sound system lost its output");
    ReturnAllLocked();
    map_.Clear();
    discards_ = 0;
  }
  wake_driver_.notify_one();
  discarded_cv_.notify_all();
}

MMRESULT WaveOutDevice::Reset() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    resetting_ = true;  // nothing more is rendered from the queue
  }
  // The sound stops now where the backend can call it back.
  const MMRESULT discarded = DiscardUnheard(false);
  std::unique_lock lock(mutex_);
  resetting_ = false;
  if (closing_) return MMSYSERR_INVALHANDLE;
  ReturnAllLocked();
  map_.Clear();
  written_ = rendered_ = heard_ = 0;
  const uint64_t target = posted_;
  wake_driver_.notify_one();
  // From inside a callback the headers can only come back after it returns.
  if (OnDriverThreadLocked()) return discarded;
  if (!WaitDeliveredLocked(lock, target, kDeliveryWaitMs)) {
    Trace("waveOutReset: callbacks did not return the headers in time");
    return MMSYSERR_ERROR;
  }
  return discarded;
}

MMRESULT WaveOutDevice::GetPosition(MMTime* time) {
  if (!time) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(mutex_);
  if (closing_) return MMSYSERR_INVALHANDLE;
  if (lost_) return kLostResult;
  AdvanceHeardNowLocked();
  const int64_t origin = stream_ ? stream_->CounterOriginFrames() : 0;
  const int64_t bytes = std::min(heard_, written_) + origin * format_.nBlockAlign;
  switch (time->wType) {
    case TIME_SAMPLES:
      time->value = static_cast<uint32_t>(bytes / format_.nBlockAlign);
      break;
    case TIME_MS:
      time->value = static_cast<uint32_t>(bytes * 1000 / format_.nAvgBytesPerSec);
      break;
    default:
      time->wType = TIME_BYTES;
      time->value = static_cast<uint32_t>(bytes);
      break;
  }
  return MMSYSERR_NOERROR;
}

size_t WaveOutDevice::Render(uint8_t* out, size_t bytes, int64_t latency_bytes, bool sound_only) {
  bool due = false;
  size_t done = 0;
  {
    std::lock_guard lock(mutex_);
    if (!paused_ && !closing_ && !resetting_ && !lost_) {
      for (size_t i = 0; i < queue_.Size(); ++i) {
        const Entry& e = queue_[i];
        if (done == bytes) break;
        if (e.end <= rendered_) continue;
        const size_t take = std::min<size_t>(e.end - rendered_, bytes - done);
        std::memcpy(out + done, e.hdr->lpData + (rendered_ - e.start), take);
        done += take;
        rendered_ += take;
      }
    }
    const bool unsigned8 = format_.wFormatTag == WAVE_FORMAT_PCM && format_.wBitsPerSample == 8;
    std::memset(out + done, unsigned8 ? 0x80 : 0, bytes - done);
    if (sound_only) {
      // Only the sound is played: the silence asked for is neither output nor unheard.
      latency_bytes -= static_cast<int64_t>(bytes - done);
      bytes = done;
    }
    map_.Append(output_, static_cast<int64_t>(done),
                static_cast<double>(rendered_ - static_cast<int64_t>(done)), 1.0);
    output_ += bytes;
    latency_ = std::max<int64_t>(latency_bytes, 0);
    AdvanceHeardLocked(output_ - latency_);
    const uint64_t before = posted_;
    ReturnHeardLocked();
    // Also wake the driver when it may now foresee when the first header's end is heard.
    due = posted_ != before;
    if (!due && !queue_.Empty() && stream_ && stream_->HeardMovesBetweenRenders()) {
      rendered_news_ = due = true;
    }
  }
  if (due) wake_driver_.notify_one();
  return done;
}

bool WaveOutDevice::WaitCallbacksIdle(int timeout_ms) {
  std::unique_lock lock(mutex_);
  if (OnDriverThreadLocked()) return false;
  return WaitDeliveredLocked(lock, posted_, timeout_ms);
}

void WaveOutDevice::AdvanceHeardNowLocked() {
  if (stream_) {
    AdvanceHeardLocked(output_ - latency_ + std::min(stream_->HeardSinceRender(), latency_));
  }
}

void WaveOutDevice::ReturnHeardLocked() {
  while (!queue_.Empty() && queue_.Front().end <= heard_) {
    PostLocked(MM_WOM_DONE, queue_.Front().hdr);
    queue_.PopFront();
  }
}

void WaveOutDevice::ReturnAllLocked() {
  while (!queue_.Empty()) {
    PostLocked(MM_WOM_DONE, queue_.Front().hdr);
    queue_.PopFront();
  }
}

std::optional<std::chrono::microseconds> WaveOutDevice::UntilNextReturnLocked() {
  // Nothing is heard while paused: no deadline then.
  if (!stream_ || closing_ || paused_ || lost_ || queue_.Empty() ||
      !stream_->HeardMovesBetweenRenders()) {
    return std::nullopt;
  }
  // The output offset at which the header's last byte is heard, once it has been rendered.
  const auto end = map_.OutputOf(static_cast<double>(queue_.Front().end));
  if (!end) return std::nullopt;
  const int64_t heard_output = output_ - latency_ + std::min(stream_->HeardSinceRender(), latency_);
  const int64_t bytes = std::max<int64_t>(*end - heard_output, 0);
  return std::chrono::microseconds(bytes * 1000000 / format_.nAvgBytesPerSec + 1);
}

void WaveOutDevice::AdvanceHeardLocked(int64_t heard_output) {
  if (const auto heard = map_.Advance(heard_output)) {
    heard_ = std::max(heard_, static_cast<int64_t>(*heard));
  }
}

void WaveOutDevice::PostLocked(uint32_t msg, WaveHdr* hdr) {
  outbox_.PushBack({msg, hdr});
  ++posted_;
}

bool WaveOutDevice::OnDriverThreadLocked() const {
  return driver_id_ == std::this_thread::get_id();
}

bool WaveOutDevice::WaitDeliveredLocked(std::unique_lock<std::mutex>& lock, uint64_t seq,
                                        int timeout_ms) {
  return delivered_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                [&] { return delivered_ >= seq; });
}

void WaveOutDevice::DriverLoop() {
  // Named as the timer service names its thread, so a look at the threads tells who wakes.
  pthread_setname_np(pthread_self(), "wave-out");
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto ready = [&] { return !outbox_.Empty() || quit_; };
    if (!ready()) {
      // Between renders the listener goes on hearing: return a header when its end is due,
      // not only at the next render. A render tells us when there is more to foresee.
      const auto woken = [&] { return ready() || rendered_news_; };
      if (const auto wait = UntilNextReturnLocked()) {
        wake_driver_.wait_for(lock, *wait, woken);
      } else {
        wake_driver_.wait(lock, woken);
      }
      rendered_news_ = false;
      if (!ready()) {
        AdvanceHeardNowLocked();
        ReturnHeardLocked();
      }
      continue;
    }
    if (outbox_.Empty()) break;  // told to quit, everything delivered
    const Message m = outbox_.Front();
    outbox_.PopFront();
    if (m.hdr) SetFlags(m.hdr, WHDR_DONE, WHDR_INQUEUE);
    lock.unlock();
    if (callback_) callback_(this, m.msg, m.hdr);
    lock.lock();
    ++delivered_;
    delivered_cv_.notify_all();
  }
}

}  // namespace vant::audio
