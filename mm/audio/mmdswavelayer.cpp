#include "mmdswavelayer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "timerservice.h"

namespace audio = vant::audio;

bool EXACTRETURN = true;
int32_t TIMEADJUST = 60;

struct TDSWaveOutStream {
  uint64_t serial = 0;
  std::unique_ptr<audio::StreamBuffer> buffer;
  int driver = 0;
  TDSWaveOutCallback callback;
  uint32_t fragment = 0;
  uint32_t size = 0;
  uint32_t block_align = 1;
  uint32_t bytes_per_second = 0;
  bool emulated = false;  // none of our outputs is; kept for the wait it would add

  std::deque<PMMWaveHdr> queue;  // written, not yet wholly copied into the ring
  // Copied into the ring, waiting to be heard. `end`: the stream byte after the header's last.
  struct Pending {
    PMMWaveHdr hdr;
    int64_t end;
    uint64_t token;
  };
  std::deque<Pending> pending;

  // Stream bytes, counted like the buffer's unrolled cursors from the top of the ring.
  uint32_t write_offset = 0;
  int64_t bytes_written = 0;
  int64_t bytes_played = 0;  // heard, as of the last refill step
  int64_t data_end = 0;      // the stream byte after the last header byte copied
  int32_t volume = 0;
  bool volume_pending = false;
  bool playing = false;
  bool paused = false;
  bool lost = false;  // the buffer's output went away: every call but close fails
};

namespace {

// The layer's state; lives as long as the process, so late timer callbacks find it.
struct Layer {
  std::recursive_mutex lock;
  std::vector<HDSWAVEOUT> streams;
  vant::TimerService* service = nullptr;  // the one the refill timer runs on
  vant::TimerId refill = 0;
  int playing = 0;
  uint64_t last_serial = 0;
  uint64_t last_token = 0;
};

Layer& L() {
  static Layer* layer = new Layer;
  return *layer;
}

bool Alive(HDSWAVEOUT h) {
  auto& s = L().streams;
  return h && std::find(s.begin(), s.end(), h) != s.end();
}

HDSWAVEOUT FindSerial(uint64_t serial) {
  for (HDSWAVEOUT s : L().streams) {
    if (s->serial == serial) return s;
  }
  return nullptr;
}

void Report(HDSWAVEOUT s, uint32_t msg, PMMWaveHdr hdr) {
  if (hdr) {
    std::atomic_ref<uint32_t> flags(hdr->wh.dwFlags);
    flags.fetch_and(~audio::WHDR_INQUEUE);
    flags.fetch_or(audio::WHDR_DONE);
  }
  if (s->callback) s->callback(s, msg, hdr);
}

// The buffer's cursors unrolled: the play cursor never moves back and never wraps, so bytes
// played never fall nor skip a ring, however late a refill step or deep the backend's queue.
int64_t PlayedNow(const TDSWaveOutStream& s) {
  // Paused too: what the ring had handed out before the pause is still being heard.
  if (!s.playing) return s.bytes_played;
  int64_t play = 0;
  s.buffer->GetStreamPosition(&play, nullptr);
  return play;
}

// Reports the pending headers up to and including the one with `token` (all with 0).
void ReportUpTo(HDSWAVEOUT s, uint64_t token) {
  while (!s->pending.empty()) {
    const auto p = s->pending.front();
    s->pending.pop_front();
    Report(s, audio::MM_WOM_DONE, p.hdr);
    if (p.token == token) return;
  }
}

void ReportHeard(HDSWAVEOUT s, int64_t played) {
  while (!s->pending.empty() && s->pending.front().end <= played) {
    ReportUpTo(s, s->pending.front().token);
  }
}

void ArmDoneTimer(HDSWAVEOUT s, uint64_t token, int64_t delay_ms);

// Rounded up, so a report never comes before the sound: 0 only when nothing is left to hear.
int64_t DelayMs(const TDSWaveOutStream& s, int64_t bytes_left) {
  if (bytes_left <= 0) return 0;
  return (bytes_left * 1000 + s.bytes_per_second - 1) / s.bytes_per_second;
}

void DoneTimerFired(uint64_t serial, uint64_t token) {
  std::lock_guard lock(L().lock);
  HDSWAVEOUT s = FindSerial(serial);
  if (!s) return;
  auto it = std::find_if(s->pending.begin(), s->pending.end(),
                         [&](const auto& p) { return p.token == token; });
  if (it == s->pending.end()) return;  // reported already, or given back by a reset
  const int64_t left = it->end - PlayedNow(*s);
  if (left <= 0) {
    ReportUpTo(s, token);
  } else if (s->playing && !s->paused) {
    // Not heard yet (the sound fell behind the clock): wait for the rest. A paused stream's
    // headers are reported by the refill steps after the restart.
    ArmDoneTimer(s, token, DelayMs(*s, left));
  }
}

void ArmDoneTimer(HDSWAVEOUT s, uint64_t token, int64_t delay_ms) {
  if (delay_ms < 1) {
    ReportUpTo(s, token);
    return;
  }
  vant::TimerService& service = vant::GetTimerService();
  const uint64_t serial = s->serial;
  const vant::TimerId id =
      service.StartPeriodic(static_cast<int>(std::min<int64_t>(delay_ms, 1 << 30)),
                            [&service, serial, token](vant::TimerId self) {
                              service.Kill(self);  // one shot: this run is its last
                              DoneTimerFired(serial, token);
                            });
  if (id == 0) ReportUpTo(s, token);
}

// A header wholly copied into the ring, its last byte at stream byte `end` - 1.
void HeaderCopied(HDSWAVEOUT s, PMMWaveHdr hdr, int64_t end) {
  const uint64_t token = ++L().last_token;
  s->pending.push_back({hdr, end, token});
  if (!EXACTRETURN) {
    ReportUpTo(s, token);
    return;
  }
  int64_t delay = DelayMs(*s, end - PlayedNow(*s));
  if (s->emulated && delay > 0) delay += TIMEADJUST;
  ArmDoneTimer(s, token, delay);
}

// Copies the next fragment's worth of the queue (silence where it runs out) to the write offset.
bool WriteFragment(HDSWAVEOUT s) {
  uint8_t* out = s->buffer->Lock(s->write_offset, s->fragment);
  if (!out) return false;
  uint32_t filled = 0;
  while (filled < s->fragment && !s->queue.empty()) {
    PMMWaveHdr hdr = s->queue.front();
    const uint32_t offset = static_cast<uint32_t>(hdr->wh.reserved);
    const uint32_t n = std::min(hdr->wh.dwBufferLength - offset, s->fragment - filled);
    if (n > 0) std::memcpy(out + filled, hdr->wh.lpData + offset, n);
    filled += n;
    hdr->wh.reserved = offset + n;
    s->data_end = s->bytes_written + filled;
    if (hdr->wh.reserved >= hdr->wh.dwBufferLength) {
      s->queue.pop_front();
      HeaderCopied(s, hdr, s->bytes_written + filled);
    }
  }
  std::memset(out + filled, s->buffer->SilenceByte(), s->fragment - filled);
  s->buffer->Unlock();
  s->write_offset = (s->write_offset + s->fragment) % s->size;
  s->bytes_written += s->fragment;
  return true;
}

void RefillStep(HDSWAVEOUT s) {
  if (!s->playing || s->paused) return;
  if (s->volume_pending) {
    s->buffer->SetVolume(s->volume);
    s->volume_pending = false;
  }
  int64_t read = 0;
  s->buffer->GetStreamPosition(&s->bytes_played, &read);
  ReportHeard(s, s->bytes_played);
  if (read > s->bytes_written) {
    // The refill fell behind the renderer: go on where it has not read yet, rather than write
    // where it will only come round again a buffer later.
    s->write_offset = static_cast<uint32_t>(read % s->size);
    s->bytes_written = read;
  }
  // Free space counts from what the renderer has read: the backend keeps a deep queue, so the
  // listener lags the renderer by most of the ring, and the ring must stay filled ahead of the
  // renderer. What was read but not heard yet may be written over, unless a stop calls it back
  // to be read again (a sound server's queue, which the ring leaves room for). Every free
  // fragment: the timer service drops ticks that fall due while it is late, where a burst of
  // ticks would have caught up.
  const int64_t kept = s->buffer->CallsBackOnStop() ? s->bytes_played : read;
  while (static_cast<int64_t>(s->size) - (s->bytes_written - kept) >= s->fragment) {
    if (!WriteFragment(s)) return;
  }
}

void GiveBackAll(HDSWAVEOUT s);

void RefillTick() {
  std::lock_guard lock(L().lock);
  for (HDSWAVEOUT s : L().streams) {
    // Lost: every header comes back, and the next call fails, which ends the play.
    if (!s->lost && s->buffer->OutputLost()) {
      s->lost = true;
      GiveBackAll(s);
    }
    if (!s->lost) RefillStep(s);
  }
}

// The refill timer starts with the first playing stream and stops with the last. Stopping
// returns the timer to kill once the lock is released (a tick may be waiting for the lock).
void BeginPlaying(HDSWAVEOUT s) {
  s->playing = true;
  Layer& l = L();
  if (l.playing++ > 0) return;
  l.service = &vant::GetTimerService();
  l.service->BeginPeriod(1);
  l.refill = l.service->StartPeriodic(DSWAVEOUT_REFILL_MS, [](vant::TimerId) { RefillTick(); });
}

struct TimerToKill {
  vant::TimerService* service = nullptr;
  vant::TimerId id = 0;
  ~TimerToKill() {
    if (!service) return;
    service->Kill(id);
    service->EndPeriod(1);
  }
};

void EndPlaying(HDSWAVEOUT s, TimerToKill& kill) {
  if (!s->playing) return;
  s->playing = false;
  Layer& l = L();
  if (--l.playing > 0) return;
  kill.service = std::exchange(l.service, nullptr);
  kill.id = std::exchange(l.refill, 0);
}

// The first write, or a restart of a stream paused before it: from the top of the ring.
void StartFromTop(HDSWAVEOUT s) {
  BeginPlaying(s);
  s->buffer->SetVolume(audio::STREAM_VOLUME_MIN);
  s->volume_pending = true;
  s->buffer->Stop();
  s->buffer->SetCurrentPosition(0);
  for (int i = 0; i < 4; ++i) RefillStep(s);
  s->buffer->Play();
}

void ResetLocked(HDSWAVEOUT s, TimerToKill& kill) {
  EndPlaying(s, kill);
  s->buffer->SetVolume(audio::STREAM_VOLUME_MIN);
  s->buffer->Stop();
  s->buffer->SetCurrentPosition(0);
  s->write_offset = 0;
  s->bytes_written = s->bytes_played = s->data_end = 0;
  s->buffer->Clear();
  GiveBackAll(s);
}

// Every header not yet given back, in the order written: those heard-pending first.
void GiveBackAll(HDSWAVEOUT s) {
  std::deque<PMMWaveHdr> back;
  for (const auto& p : s->pending) back.push_back(p.hdr);
  back.insert(back.end(), s->queue.begin(), s->queue.end());
  s->pending.clear();
  s->queue.clear();
  for (PMMWaveHdr hdr : back) Report(s, audio::MM_WOM_DONE, hdr);
}

// Runs `op` on a live stream under the lock; DSWAVE_FAILED for a stream not open.
template <typename Op>
uint32_t WithStream(HDSWAVEOUT h, Op op) {
  std::lock_guard lock(L().lock);
  if (!Alive(h)) return DSWAVE_FAILED;
  return op(h);
}

// The same for a call that needs the output: DSWAVE_FAILED once it was lost too.
template <typename Op>
uint32_t WithOutput(HDSWAVEOUT h, Op op) {
  return WithStream(h, [&](HDSWAVEOUT s) { return s->lost ? DSWAVE_FAILED : op(s); });
}

uint32_t Answer(audio::MMRESULT r) {
  return r == audio::MMSYSERR_NOERROR ? DSWAVE_OK : DSWAVE_FAILED;
}

}  // namespace

uint32_t DSWaveOutFragmentSize(uint32_t bytes_per_second) { return bytes_per_second / 16 & ~3u; }

uint32_t DSWaveOutBufferSize(uint32_t bytes_per_second, bool emulated) {
  return DSWaveOutFragmentSize(bytes_per_second) * (emulated ? 8 : 4);
}

std::vector<audio::StreamDriver> DSWaveOutGetDrivers() { return audio::ListStreamDrivers(); }

uint32_t DSWaveOutOpen(HDSWAVEOUT* out, int driver, const WAVEFORMATEX* format,
                       TDSWaveOutCallback callback, uint32_t flags) {
  if (!format || format->nBlockAlign == 0) return DSWAVE_FAILED;
  // Whole frames in every fragment, so the ring never splits one.
  uint32_t fragment = DSWaveOutFragmentSize(format->nAvgBytesPerSec);
  fragment -= fragment % format->nBlockAlign;
  if (fragment == 0) return DSWAVE_FAILED;
  const uint32_t size = fragment * 4;
  if (flags & audio::WAVE_FORMAT_QUERY) {
    auto& backend = audio::GetBackend();
    return driver >= 0 && driver < backend.DeviceCount() && audio::IsPlayableFormat(*format) &&
                   backend.Supports(driver, *format)
               ? DSWAVE_OK
               : DSWAVE_FAILED;
  }
  if ((flags & audio::CALLBACK_TYPEMASK) != audio::CALLBACK_FUNCTION || !out) return DSWAVE_FAILED;
  audio::MMRESULT error = audio::MMSYSERR_NOERROR;
  auto buffer = audio::StreamBuffer::Create(driver, *format, size, &error);
  if (!buffer) return DSWAVE_FAILED;
  buffer->SetVolume(audio::STREAM_VOLUME_MIN);
  auto s = std::make_unique<TDSWaveOutStream>();
  s->buffer = std::move(buffer);
  s->driver = driver;
  s->callback = std::move(callback);
  s->fragment = fragment;
  s->size = size;
  s->block_align = format->nBlockAlign;
  s->bytes_per_second = format->nAvgBytesPerSec;
  std::lock_guard lock(L().lock);
  s->serial = ++L().last_serial;
  HDSWAVEOUT h = s.release();
  L().streams.push_back(h);
  *out = h;
  Report(h, audio::MM_WOM_OPEN, nullptr);
  return DSWAVE_OK;
}

uint32_t DSWaveOutClose(HDSWAVEOUT h) {
  std::unique_ptr<TDSWaveOutStream> gone;
  TimerToKill kill;
  {
    std::lock_guard lock(L().lock);
    if (!Alive(h)) return DSWAVE_FAILED;
    auto& list = L().streams;
    list.erase(std::find(list.begin(), list.end(), h));
    gone.reset(h);
    ResetLocked(h, kill);
    Report(h, audio::MM_WOM_CLOSE, nullptr);
  }
  // Outside the lock: the renderer is stopped and waited for.
  gone.reset();
  return DSWAVE_OK;
}

uint32_t DSWaveOutPrepareHeader(HDSWAVEOUT h, PMMWaveHdr hdr) {
  if (!hdr) return DSWAVE_FAILED;
  return WithStream(h, [&](HDSWAVEOUT) {
    std::atomic_ref<uint32_t>(hdr->wh.dwFlags).fetch_or(audio::WHDR_PREPARED);
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutUnprepareHeader(HDSWAVEOUT h, PMMWaveHdr hdr) {
  if (!hdr) return DSWAVE_FAILED;
  return WithStream(h, [&](HDSWAVEOUT s) {
    std::erase_if(s->pending, [&](const auto& p) { return p.hdr == hdr; });
    std::erase(s->queue, hdr);
    std::atomic_ref<uint32_t> flags(hdr->wh.dwFlags);
    flags.fetch_and(~(audio::WHDR_PREPARED | audio::WHDR_INQUEUE));
    flags.fetch_or(audio::WHDR_DONE);
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutWrite(HDSWAVEOUT h, PMMWaveHdr hdr) {
  if (!hdr) return DSWAVE_FAILED;
  return WithOutput(h, [&](HDSWAVEOUT s) {
    std::atomic_ref<uint32_t> flags(hdr->wh.dwFlags);
    flags.fetch_and(~audio::WHDR_DONE);
    flags.fetch_or(audio::WHDR_INQUEUE);
    hdr->wh.reserved = 0;
    s->queue.push_back(hdr);
    if (!s->playing && !s->paused) StartFromTop(s);
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutPause(HDSWAVEOUT h) {
  return WithOutput(h, [](HDSWAVEOUT s) {
    s->paused = true;
    s->buffer->Stop();
    s->buffer->SetVolume(audio::STREAM_VOLUME_MIN);
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutRestart(HDSWAVEOUT h) {
  return WithOutput(h, [](HDSWAVEOUT s) {
    if (!s->paused) return DSWAVE_OK;
    s->paused = false;
    if (!s->playing) {
      StartFromTop(s);
    } else {
      s->buffer->SetVolume(s->volume);
      s->volume_pending = false;
      s->buffer->Play();
    }
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutReset(HDSWAVEOUT h) {
  TimerToKill kill;
  return WithOutput(h, [&](HDSWAVEOUT s) {
    ResetLocked(s, kill);
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutGetPosition(HDSWAVEOUT h, audio::MMTime* time) {
  if (!time) return DSWAVE_FAILED;
  return WithOutput(h, [&](HDSWAVEOUT s) {
    if (time->wType != audio::TIME_SAMPLES) {
      time->wType = audio::TIME_SAMPLES;
      return DSWAVE_FAILED;
    }
    // The silence written after the last header is not part of the stream.
    time->value = static_cast<uint32_t>(std::min(PlayedNow(*s), s->data_end) / s->block_align);
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutSetVolume(HDSWAVEOUT h, int32_t volume) {
  return WithStream(h, [&](HDSWAVEOUT s) {
    // A paused or starting stream stays muted until it plays; the value waits till then.
    if (s->paused || s->volume_pending) {
      if (volume < audio::STREAM_VOLUME_MIN || volume > audio::STREAM_VOLUME_MAX) {
        return DSWAVE_FAILED;
      }
      s->volume = volume;
      return DSWAVE_OK;
    }
    if (s->buffer->SetVolume(volume) != audio::MMSYSERR_NOERROR) return DSWAVE_FAILED;
    s->volume = volume;
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutGetVolume(HDSWAVEOUT h, int32_t* volume) {
  return WithStream(h, [&](HDSWAVEOUT s) {
    *volume = s->volume;
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutSetPan(HDSWAVEOUT h, int32_t pan) {
  return WithStream(h, [&](HDSWAVEOUT s) { return Answer(s->buffer->SetPan(pan)); });
}

uint32_t DSWaveOutGetPan(HDSWAVEOUT h, int32_t* pan) {
  return WithStream(h, [&](HDSWAVEOUT s) {
    *pan = s->buffer->GetPan();
    return DSWAVE_OK;
  });
}

uint32_t DSWaveOutSetPlayBackRate(HDSWAVEOUT h, uint32_t rate) {
  return WithStream(h, [&](HDSWAVEOUT s) { return Answer(s->buffer->SetFrequency(rate)); });
}

uint32_t DSWaveOutGetPlayBackRate(HDSWAVEOUT h, uint32_t* rate) {
  return WithStream(h, [&](HDSWAVEOUT s) {
    *rate = s->buffer->GetFrequency();
    return DSWAVE_OK;
  });
}
