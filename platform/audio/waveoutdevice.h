#pragma once
// One open wave-out device: the queue of written headers, the heard position, and the driver
// thread that returns headers to the caller. The free functions of waveout.h forward here.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "audiobackend.h"
#include "waveout.h"

namespace vant::audio {

class WaveOutDevice final : public RenderSource {
 public:
  WaveOutDevice(const WaveFormatEx& format, WaveOutCallback callback);
  ~WaveOutDevice() override;
  WaveOutDevice(const WaveOutDevice&) = delete;
  WaveOutDevice& operator=(const WaveOutDevice&) = delete;

  MMRESULT Open(Backend& backend, int device);
  MMRESULT Close();
  MMRESULT Prepare(WaveHdr* hdr);
  MMRESULT Unprepare(WaveHdr* hdr);
  MMRESULT Write(WaveHdr* hdr);
  MMRESULT Pause();
  MMRESULT Restart();
  MMRESULT Reset();
  MMRESULT GetPosition(MMTime* time);

  size_t Render(uint8_t* out, size_t bytes, int64_t latency_bytes, bool sound_only) override;
  bool WaitCallbacksIdle(int timeout_ms) override;

 private:
  struct Entry {
    WaveHdr* hdr;
    int64_t start;  // stream offsets of the header's bytes
    int64_t end;
  };
  // A stretch of rendered output that carried stream bytes, for mapping heard output to stream.
  struct Segment {
    int64_t output;  // output offset of its first byte
    int64_t stream;  // stream offset of its first byte
    int64_t length;
  };
  struct Message {
    uint32_t msg;
    WaveHdr* hdr;
  };

  void DriverLoop();
  // The heard position now, between renders too.
  void AdvanceHeardNowLocked();
  // Returns the headers heard to their end.
  void ReturnHeardLocked();
  // How long until the first queued header is heard to its end, when that can be told.
  std::optional<std::chrono::microseconds> UntilNextReturnLocked();
  void PostLocked(uint32_t msg, WaveHdr* hdr);
  // Moves the heard stream position up to output offset `heard_output`.
  void AdvanceHeardLocked(int64_t heard_output);
  // Has the backend drop what it holds unheard, and takes the last `bytes` of output back:
  // the renderer goes on from the first stream byte not heard.
  void DiscardUnheard(bool hold);
  void TakeBackLocked(int64_t bytes);
  bool OnDriverThreadLocked() const;
  bool WaitDeliveredLocked(std::unique_lock<std::mutex>& lock, uint64_t seq, int timeout_ms);

  const WaveFormatEx format_;
  const WaveOutCallback callback_;
  std::unique_ptr<BackendStream> stream_;

  std::mutex mutex_;
  std::condition_variable wake_driver_;
  std::condition_variable delivered_cv_;
  std::deque<Entry> queue_;     // written, not yet heard to the end
  std::deque<Message> outbox_;  // due to the caller, in order
  std::deque<Segment> history_;
  uint64_t posted_ = 0;
  uint64_t delivered_ = 0;
  int64_t written_ = 0;   // stream bytes written since open or reset
  int64_t rendered_ = 0;  // stream bytes handed to the renderer
  int64_t heard_ = 0;     // stream bytes heard
  int64_t output_ = 0;    // bytes rendered, silence included
  int64_t latency_ = 0;
  bool paused_ = false;
  bool resetting_ = false;  // a reset is discarding what the backend holds
  bool closing_ = false;
  bool quit_ = false;
  bool rendered_news_ = false;  // a render the driver has not looked at yet
  std::thread::id driver_id_;
  std::thread driver_;
};

}  // namespace vant::audio
