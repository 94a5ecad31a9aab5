#pragma once
// The GUI thread's message queue as the layers below the UI see it. Worker threads post work to
// the GUI thread through it; long operations on the GUI thread let it run with ProcessMessages.
// platform/ui installs the Qt-backed dispatcher at start-up; without it (tests of the lower
// layers) a plain queue serves, drained by ProcessMessages on the thread that created it.
#include <functional>
#include <memory>

namespace vant {

class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  // Queues `fn` to run on the GUI thread. Safe from any thread; never runs `fn` inline.
  virtual void Post(std::function<void()> fn) = 0;
  // Runs what is pending (GUI thread only; elsewhere it does nothing).
  virtual void ProcessMessages() = 0;
  virtual bool IsGuiThread() const = 0;
  // Blocks up to `timeout_ms` until something may be pending (a post arrived), without running it.
  // The default only sleeps a little; a dispatcher that can wake on posts overrides it.
  virtual void WaitForMessages(int timeout_ms);
  // True once the application is being torn down: waits that pump messages stop at once.
  virtual bool IsTerminating() const { return false; }
};

// A locked queue owned by the thread that constructs it.
class QueueDispatcher final : public Dispatcher {
 public:
  QueueDispatcher();
  ~QueueDispatcher() override;
  void Post(std::function<void()> fn) override;
  void ProcessMessages() override;
  bool IsGuiThread() const override;
  void WaitForMessages(int timeout_ms) override;
  // Waits up to `timeout_ms` for something to be posted, then runs what is pending.
  void WaitAndProcess(int timeout_ms);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The process-wide dispatcher. Until SetDispatcher is called, a QueueDispatcher owned by the
// first thread that asks.
Dispatcher& GetDispatcher();
// Installs `d` (not owned); nullptr restores the default queue.
void SetDispatcher(Dispatcher* d);

}  // namespace vant
