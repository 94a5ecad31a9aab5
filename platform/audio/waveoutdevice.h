#pragma once
// One open wave-out device: the queue of written headers, the heard position, and the driver
// thread that returns headers to the caller. The free functions of waveout.h forward here.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "audiobackend.h"
#include "fifo.h"
#include "outputmap.h"
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
  void TakeBack(int64_t bytes) override;
  // Every queued header comes back at once; from then on the calls answer MMSYSERR_NODRIVER
  // (close excepted), so the caller's error path ends the play.
  void Lost() override;

 private:
  struct Entry {
    WaveHdr* hdr;
    int64_t start;  // stream offsets of the header's bytes
    int64_t end;
  };
  struct Message {
    uint32_t msg;
    WaveHdr* hdr;
  };

  void DriverLoop();
  // The heard position now, between renders too.
  void AdvanceHeardNowLocked();
  // Returns the headers heard to their end; every queued header.
  void ReturnHeardLocked();
  void ReturnAllLocked();
  // How long until the first queued header is heard to its end, when that can be told.
  std::optional<std::chrono::microseconds> UntilNextReturnLocked();
  void PostLocked(uint32_t msg, WaveHdr* hdr);
  // Moves the heard stream position up to output offset `heard_output`.
  void AdvanceHeardLocked(int64_t heard_output);
  // Has the backend drop what it holds unheard; its answer takes the output back, and the
  // renderer goes on from the first stream byte not heard. Waits a little for that answer, never
  // for long: the backend answers on its own thread. An error once the backend was lost.
  MMRESULT DiscardUnheard(bool hold);
  bool OnDriverThreadLocked() const;
  bool WaitDeliveredLocked(std::unique_lock<std::mutex>& lock, uint64_t seq, int timeout_ms);

  const WaveFormatEx format_;
  const WaveOutCallback callback_;
  std::unique_ptr<BackendStream> stream_;

  std::mutex mutex_;
  std::condition_variable wake_driver_;
  std::condition_variable delivered_cv_;
  std::condition_variable discarded_cv_;
  // Neither grows on the renderer's thread: Write makes room.
  Fifo<Entry> queue_;     // written, not yet heard to the end
  Fifo<Message> outbox_;  // due to the caller, in order
  OutputMap map_;  // output bytes back to stream bytes
  uint64_t posted_ = 0;
  uint64_t delivered_ = 0;
  int64_t written_ = 0;   // stream bytes written since open or reset
  int64_t rendered_ = 0;  // stream bytes handed to the renderer
  int64_t heard_ = 0;     // stream bytes heard
  int64_t output_ = 0;    // bytes rendered, silence included
  int64_t latency_ = 0;
  bool paused_ = false;
  bool resetting_ = false;  // a reset is discarding what the backend holds
  int discards_ = 0;        // asked of the backend and not answered yet
  bool lost_ = false;       // the backend lost its output for good
  bool closing_ = false;
  bool quit_ = false;
  bool rendered_news_ = false;  // a render the driver has not looked at yet
  std::thread::id driver_id_;
  std::thread driver_;
};

}  // namespace vant::audio
