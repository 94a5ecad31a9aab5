#pragma once
// The second kind of output: a looping stream buffer. The caller writes sound into a ring at
// offsets of its choosing and follows the play cursor; the backend's renderer reads the ring at
// that cursor, round and round, while the buffer plays. Volume (hundredths of a decibel), pan and
// playback rate apply while rendering, so changing them never touches what was written.
//
// Threads: the renderer takes the buffer's lock only to copy (or resample) one render's worth of
// frames; every other call holds it only for a copy or a few counters.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audiobackend.h"
#include "outputmap.h"
#include "waveout.h"

namespace vant::audio {

// An output a stream buffer can play on. Driver 0 is the system's default output.
struct StreamDriver {
  std::string description;  // UTF-8, as the backend names the output
  std::string module;       // the backend's own name of the output; empty for the default
};

// The outputs of the process's backend, default first; empty without any sound output.
std::vector<StreamDriver> ListStreamDrivers();

inline constexpr int32_t STREAM_VOLUME_MIN = -10000;  // silence
inline constexpr int32_t STREAM_VOLUME_MAX = 0;       // the sound as written
inline constexpr int32_t STREAM_PAN_LEFT = -10000;
inline constexpr int32_t STREAM_PAN_RIGHT = 10000;
inline constexpr uint32_t STREAM_RATE_MIN = 100;
inline constexpr uint32_t STREAM_RATE_MAX = 100000;

class StreamBuffer final : private RenderSource {
 public:
  // Opens a buffer of `bytes` (cut to whole frames, at least one) for `format` on `driver`,
  // filled with silence, stopped, at cursor 0. On failure returns null and sets `*error`.
  static std::unique_ptr<StreamBuffer> Create(int driver, const WaveFormatEx& format,
                                              uint32_t bytes, MMRESULT* error);
  // Stops rendering; no render is running or starts after it returns.
  ~StreamBuffer() override;
  StreamBuffer(const StreamBuffer&) = delete;
  StreamBuffer& operator=(const StreamBuffer&) = delete;

  uint32_t Size() const { return size_; }
  const WaveFormatEx& Format() const { return format_; }
  uint8_t SilenceByte() const { return silence_; }

  // Hands out `bytes` of scratch to fill for the region at `offset` (wrapping over the end);
  // Unlock copies what was written into the ring. One region at a time; null when `bytes`
  // exceeds the buffer or a region is locked already.
  uint8_t* Lock(uint32_t offset, uint32_t bytes);
  bool Unlock();
  // Fills the whole ring with silence.
  void Clear();

  // Plays round the ring, from the first byte not read yet, until Stop.
  void Play();
  // Stops reading the ring. Where the backend can call back what it holds, the sound stops now
  // and a later Play goes on from the first byte not heard; where it cannot, what was read
  // still reaches the listener, the play cursor follows it there, and Play goes on from the
  // first byte not read.
  void Stop();
  bool IsPlaying() const;
  // `play`: the byte the listener hears now; `write`: the first byte the renderer has not read
  // yet (writing between the two changes nothing audible any more). While playing the play
  // cursor only moves forward round the ring.
  void GetCurrentPosition(uint32_t* play, uint32_t* write) const;
  // The same cursors unrolled: bytes from the start of the ring as the last SetCurrentPosition
  // left it, growing on past the ring's size rather than wrapping, so how far the listener and
  // the renderer are apart stays plain however deep the backend's queue.
  void GetStreamPosition(int64_t* play, int64_t* write) const;
  // Whether a Stop calls back what was read and not heard yet (then the writer must leave it
  // alone: the next Play reads it again).
  bool CallsBackOnStop() const { return stream_ && stream_->CanDiscard(); }
  // Whether the backend lost what the buffer played through for good (a sound server that went
  // away): nothing more is heard, and the cursors stand still.
  bool OutputLost() const { return lost_.load(); }
  // Moves both cursors to `offset` (cut to a whole frame).
  void SetCurrentPosition(uint32_t offset);

  // Hundredths of a decibel, STREAM_VOLUME_MIN..STREAM_VOLUME_MAX; outside: MMSYSERR_INVALPARAM.
  MMRESULT SetVolume(int32_t volume);
  int32_t GetVolume() const;
  // STREAM_PAN_LEFT..STREAM_PAN_RIGHT: the other side is attenuated by the value in hundredths
  // of a decibel.
  MMRESULT SetPan(int32_t pan);
  int32_t GetPan() const;
  // Samples per second the ring is read at, STREAM_RATE_MIN..STREAM_RATE_MAX; 0 restores the
  // format's own rate.
  MMRESULT SetFrequency(uint32_t rate);
  uint32_t GetFrequency() const;

 private:
  StreamBuffer(const WaveFormatEx& format, uint32_t bytes);

  size_t Render(uint8_t* out, size_t bytes, int64_t latency_bytes, bool sound_only) override;
  // Takes a new volume or pan into the gains, heard from the first frame not heard yet.
  void GainsChanged();
  // The backend dropped the last `bytes` of output: the renderer reads them again.
  void TakeBack(int64_t bytes) override;
  void Lost() override { lost_ = true; }
  bool WaitCallbacksIdle(int) override { return true; }
  // The deep queue, but at most two fifths of the ring: SDL rounds the queue up to its period
  // (less than 1.6 times the queue), and one render must leave the writer room ahead of it.
  int QueueMs() const override;

  // Sets `field` under the lock when `value` lies in low..high.
  template <typename T>
  MMRESULT Store(T value, int64_t low, int64_t high, T& field);
  template <typename T>
  T Load(const T& field) const;

  // Ring frame the listener hears now (fractional, never wrapped).
  double HeardLocked() const;
  void CopyOutLocked(uint8_t* out, int64_t frames);
  void ResampleLocked(uint8_t* out, int64_t frames, double step);

  const WaveFormatEx format_;
  const uint32_t size_;
  const int64_t frames_;
  const uint8_t silence_;
  std::unique_ptr<BackendStream> stream_;

  std::atomic<bool> lost_{false};
  mutable std::mutex mutex_;
  std::vector<uint8_t> ring_;
  bool playing_ = false;
  double pos_ = 0;                // next ring frame the renderer reads (never wrapped)
  int64_t rendered_ = 0;          // output frames rendered so far
  int64_t latency_ = 0;           // output frames of the last render not heard yet
  mutable double heard_max_ = 0;  // the play cursor never goes back
  mutable OutputMap map_;  // output frames back to ring frames (never wrapped)
  int32_t volume_ = 0;
  int32_t pan_ = 0;
  // Volume and pan as one gain per channel (a playable format has at most 8).
  using Gains = std::array<double, 8>;
  Gains gains_{1, 1, 1, 1, 1, 1, 1, 1};
  uint32_t rate_ = 0;

  // The region handed out by Lock (touched by the writer only).
  std::vector<uint8_t> scratch_;
  uint32_t lock_offset_ = 0;
  bool locked_ = false;
};

}  // namespace vant::audio
