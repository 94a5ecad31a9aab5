#include "mmconnector.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <vector>

#include "dispatch.h"
#include "mmdisplayconvert.h"
#include "mmlevel.h"
#include "mmpcmsup.h"
#include "mmutils.h"
#include "mmwavefmt.h"
#include "timerservice.h"
#include "ui_application.h"
#include "ui_messagewindow.h"
#include "ui_timer.h"

using vant::HWND;
using vant::MessageWindow;
using vant::TComponent;
using vant::TMessage;

namespace {

constexpr uint32_t kStartMessage = 0xB1F5;
constexpr uint32_t kTriggerMessage = 0xB1F6;
constexpr uint32_t kLoopMessage = 0xB1F7;
constexpr int64_t kNoTick = std::numeric_limits<int64_t>::min();
// Buffers up to this size keep the displays fed once per buffer period while paused.
constexpr int32_t kPauseBufferLimit = 8191;
// Rounds one wake may run before the event loop gets its turn again (about 0.1 s of slices).
constexpr int kCatchUpRounds = 100;

bool g_enter_idle = false;
intptr_t g_next_serial = 0;
// The shared window's handle, for triggers posted from other threads (0 while there is none).
std::atomic<HWND> g_window{0};

}  // namespace

// What every connector shares; lives on the GUI thread from the first registered connector to
// the last.
struct TMMConnector::Shared {
  std::vector<TMMConnector*> list;
  int active = 0;  // connectors refreshed by the loop
  int32_t max_speed = 0;
  std::unique_ptr<MessageWindow> window;
  // The loop's yield: a timer on the GUI thread runs the next wake at the display's next
  // frame, so the event loop itself runs between wakes, and the program wakes no more often
  // than what the displays draw can be seen (their pictures go out in the same wake).
  std::unique_ptr<vant::TTimer> yield;
  std::shared_ptr<std::atomic<bool>> loop_queued = std::make_shared<std::atomic<bool>>(false);

  void PostLoop() {
    if (!loop_queued->exchange(true)) MessageWindow::Post(window->Handle(), kLoopMessage);
  }
  void StartYield() {
    if (!yield) {
      yield = std::make_unique<vant::TTimer>(nullptr);
      yield->SetEnabled(false);
      yield->SetInterval(1);
      yield->SetAtFrames(true);
      yield->OnTimer = [](vant::TObject*) { TMMConnector::Loop(); };
    }
    yield->SetEnabled(true);
  }
  void StopYield() {
    if (yield) yield->SetEnabled(false);
  }
};

TMMConnector::Shared* TMMConnector::shared_ = nullptr;

TMMConnector::TMMConnector(TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
  kinds_[static_cast<int>(TMMDisplayKind::Spectrum)].slot_count = 4;
  pause_tick_ = kNoTick;
  timer_ = std::make_unique<vant::TMMHiTimer>(nullptr);
  timer_->SetEnabled(false);
  timer_->SetInterval(20);
  timer_->SetOnTimer([this](vant::TObject*) { Trigger(); });
  serial_ = ++g_next_serial;
  if (!Designing()) Register();
}

TMMConnector::~TMMConnector() {
  Destroying();
  Stopped();
  UpdatePauseTimer(false);
  if (registered_) Unregister();
  timer_.reset();
}

void TMMConnector::Register() {
  if (registered_) return;
  vant::GetTimerService().BeginPeriod(1);
  if (!shared_) {
    shared_ = new Shared;
    shared_->window = std::make_unique<MessageWindow>(&TMMConnector::HandleMessage);
    g_window = shared_->window->Handle();
  }
  shared_->list.push_back(this);
  registered_ = true;
  RecalcSpeed();
}

void TMMConnector::Unregister() {
  vant::GetTimerService().EndPeriod(1);
  auto& list = shared_->list;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  registered_ = false;
  if (list.empty()) {
    shared_->StopYield();
    // The last connector may be freed from a pass the yield timer runs: free it afterwards.
    if (shared_->yield) vant::GetDispatcher().Post([t = shared_->yield.release()] { delete t; });
    g_window = 0;
    delete shared_;  // the window drops whatever is still queued for it
    shared_ = nullptr;
  } else {
    RecalcSpeed();
  }
}

void TMMConnector::ChangeDesigning(bool value) {
  TMMDSPComponent::ChangeDesigning(value);
  if (!value) Register();
}

void TMMConnector::RecalcSpeed() {
  if (!shared_) return;
  int32_t s = 0;
  for (TMMConnector* c : shared_->list) s = std::max(s, c->speed_);
  shared_->max_speed = s;
}

TMMConnector* TMMConnector::Find(intptr_t serial) {
  if (!shared_) return nullptr;
  for (TMMConnector* c : shared_->list)
    if (c->serial_ == serial) return c;
  return nullptr;
}

bool TMMConnector::GetEnterIdle() { return g_enter_idle; }
void TMMConnector::SetEnterIdle(bool value) { g_enter_idle = value; }

// ---- Properties ------------------------------------------------------------------------------

void TMMConnector::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (Designing()) return;
  if (!value) {
    StopRunning();
    ResetDisplays();
  } else if (tap_started_ && real_time_) {
    PostStart();
  }
}

void TMMConnector::SetAutoTrigger(bool value) {
  if (value == auto_trigger_) return;
  auto_trigger_ = value;
  if (Designing()) return;
  if (!value) {
    // Leaves the loop or its timer; stays running, so that Trigger keeps working by hand.
    LeaveAutoTrigger();
  } else if (tap_started_ && enabled_ && real_time_) {
    PostStart();
  }
}

void TMMConnector::SetRealTime(bool value) {
  if (value == real_time_) return;
  if (IsOpened()) throw EMMConnectorError(LoadResStr(60));
  real_time_ = value;
}

void TMMConnector::SetSpeed(int32_t value) {
  speed_ = MinMax(value, 1, 5000);
  if (!Designing()) RecalcSpeed();
}

void TMMConnector::SetTriggerMethod(TMMTriggerMethod value) {
  if (value == method_) return;
  if (method_ == tmTimer) timer_->SetEnabled(false);
  method_ = value;
}

// ---- Display slots ---------------------------------------------------------------------------

bool TMMConnector::HasDisplay(const Kind& k) const {
  return std::any_of(k.slot.begin(), k.slot.begin() + k.slot_count, [](auto* d) { return d; });
}

TMMCustomLevel* TMMConnector::GetLevel(int index) const {
  return dynamic_cast<TMMCustomLevel*>(GetDisplay(TMMDisplayKind::Level, index));
}

void TMMConnector::SetLevel(int index, TMMCustomLevel* value) {
  SetDisplay(TMMDisplayKind::Level, index, value);
}

TMMDisplayData* TMMConnector::GetDisplay(TMMDisplayKind kind, int index) const {
  const Kind& k = KindOf(kind);
  if (index < 1 || index > k.slot_count) return nullptr;
  std::lock_guard lock(cs_);
  return k.slot[index - 1];
}

void TMMConnector::SetDisplay(TMMDisplayKind kind, int index, TMMDisplayData* value) {
  Kind& k = KindOf(kind);
  if (index < 1 || index > k.slot_count) return;
  const int i = index - 1;
  TComponent* comp = value ? value->DisplayComponent() : nullptr;
  if (value && comp == this) return;
  {
    std::lock_guard lock(cs_);
    if (k.slot[i] == value) return;
    if (value && kind != TMMDisplayKind::Spectrum) {
      for (int j = 0; j < k.slot_count; ++j)
        if (j != i && k.slot[j] == value) return;
    }
    TComponent* old = k.component[i];
    k.slot[i] = value;
    k.component[i] = comp;
    k.fresh = false;
    if (old && !Holds(old)) {
      old->RemoveFreeNotification(this);
      RemoveFreeNotification(old);
    }
  }
  if (comp) comp->FreeNotification(this);
  if (value) SetWaveParams();
}

bool TMMConnector::Holds(const TComponent* c) const {
  for (const Kind& k : kinds_)
    for (int j = 0; j < k.slot_count; ++j)
      if (k.component[j] == c) return true;
  return false;
}

void TMMConnector::Notification(TComponent* component, vant::TOperation operation) {
  TMMDSPComponent::Notification(component, operation);
  if (operation != vant::opRemove || !component) return;
  std::lock_guard lock(cs_);
  // By component: the display's other bases may already be gone while it is being freed.
  for (Kind& k : kinds_) {
    for (int j = 0; j < k.slot_count; ++j) {
      if (k.component[j] == component) {
        k.slot[j] = nullptr;
        k.component[j] = nullptr;
      }
    }
  }
}

template <class F>
void TMMConnector::ForEachDisplay(F&& f) {
  std::vector<TMMDisplayData*> all;
  {
    std::lock_guard lock(cs_);
    for (Kind& k : kinds_)
      for (int j = 0; j < k.slot_count; ++j)
        if (k.slot[j] && std::find(all.begin(), all.end(), k.slot[j]) == all.end())
          all.push_back(k.slot[j]);
  }
  for (TMMDisplayData* d : all) f(d);
}

void TMMConnector::ResetDisplays() {
  ForEachDisplay([](TMMDisplayData* d) { d->ResetData(); });
}

// ---- Formats ---------------------------------------------------------------------------------

void TMMConnector::SetPWaveFormat(const WAVEFORMATEX* format) {
  TMMDSPComponent::SetPWaveFormat(format);
  SetWaveParams();
}

void TMMConnector::SetWaveParams() {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (!f) return;
  WAVEFORMATEX shown{};
  {
    std::lock_guard lock(cs_);
    if (!tap_started_) {
      if (f->wFormatTag == WAVE_FORMAT_PCM) {
        input_pcm_ = true;
        display_format_ = *f;
        display_format_.cbSize = 0;
      } else {
        input_pcm_ = false;
        const bool convertible = auto_convert_ &&
                                 TMMDisplayConversion::Suggest(f, display_format_) &&
                                 TMMDisplayConversion::Query(f, display_format_);
        if (!convertible) return;
      }
    }
    silence_ = display_format_.wBitsPerSample == 8 ? 128 : 0;
    shown = display_format_;
  }
  ForEachDisplay([&shown](TMMDisplayData* d) { d->SetPCMWaveFormat(shown); });
}

WAVEFORMATEX TMMConnector::GetDisplayFormat() const {
  std::lock_guard lock(cs_);
  return display_format_;
}

int64_t TMMConnector::GetRefreshCount(TMMDisplayKind kind) const { return KindOf(kind).count; }

// ---- The stream ------------------------------------------------------------------------------

void TMMConnector::FreeBuffers() {
  std::lock_guard lock(cs_);
  conversion_.reset();
  copy_.reset();
  copy_size_ = 0;
  data_ = nullptr;
  capacity_ = 0;
  data_length_ = 0;
}

void TMMConnector::Started() {
  TMMDSPComponent::Started();
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (Designing() || !f || tap_started_) return;
  FreeBuffers();
  {
    std::lock_guard lock(cs_);
    const int64_t size = std::max<int32_t>(GetBufferSize(), 0);
    if (f->wFormatTag == WAVE_FORMAT_PCM) {
      input_pcm_ = true;
      display_format_ = *f;
      display_format_.cbSize = 0;
      copy_ = std::make_unique<uint8_t[]>(size);
      copy_size_ = size;
      data_ = copy_.get();
      capacity_ = size;
    } else if (auto_convert_) {
      input_pcm_ = false;
      copy_ = std::make_unique<uint8_t[]>(size);
      copy_size_ = size;
      if (TMMDisplayConversion::Suggest(f, display_format_)) {
        conversion_ = TMMDisplayConversion::Begin(f, display_format_, copy_.get(), size);
      }
      if (conversion_) {
        data_ = conversion_->Output();
        capacity_ = conversion_->Capacity();
      } else {
        copy_.reset();
        copy_size_ = 0;
        display_format_ = {};
      }
    }
    for (Kind& k : kinds_) {
      k.fresh = false;
      k.count = 0;
    }
    if (!data_) return;
    tap_started_ = true;
  }
  RecalcSpeed();
  SetWaveParams();
  if (enabled_ && real_time_) PostStart();
}

void TMMConnector::Paused() {
  if (!Designing() && tap_started_ && !paused_) {
    paused_ = true;
    {
      std::lock_guard lock(cs_);
      if (data_) std::memset(data_, silence_, static_cast<size_t>(capacity_));
    }
    if (real_time_) UpdatePauseTimer(true);
  }
  TMMDSPComponent::Paused();
}

void TMMConnector::Restarted() {
  if (paused_) {
    paused_ = false;
    if (real_time_) UpdatePauseTimer(false);
  }
  TMMDSPComponent::Restarted();
}

void TMMConnector::Reseting() {
  if (tap_started_) {
    std::lock_guard lock(cs_);
    if (data_) std::memset(data_, silence_, static_cast<size_t>(capacity_));
  }
  TMMDSPComponent::Reseting();
}

void TMMConnector::Stopped() {
  if (!Designing() && tap_started_) {
    tap_started_ = false;
    StopRunning();
    paused_ = false;
    UpdatePauseTimer(false);
    FreeBuffers();
    if (refresh_on_stop_) ResetDisplays();
  }
  TMMDSPComponent::Stopped();
}

void TMMConnector::BufferReady(PMMWaveHdr lpWaveHdr) {
  if (lpWaveHdr) {
    const PMMWaveHdr heard = lpWaveHdr->lpNowPlaying;
    if (synchronize_ && heard && lpWaveHdr->wh.dwBytesRecorded > 0) {
      // At the end of a stream the ring's next header has been heard already and is not queued
      // again: nothing is being heard, and its old sound must not be shown.
      const uint32_t flags = std::atomic_ref<uint32_t>(heard->wh.dwFlags).load();
      if (flags & vant::audio::WHDR_INQUEUE) NewBuffer(heard->wh.lpData, heard->wh.dwBytesRecorded);
    } else {
      NewBuffer(lpWaveHdr->wh.lpData, lpWaveHdr->wh.dwBytesRecorded);
    }
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMConnector::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  if (lpWaveHdr) NewBuffer(lpWaveHdr->wh.lpData, lpWaveHdr->wh.dwBytesRecorded);
}

void TMMConnector::MarkFresh() {
  for (Kind& k : kinds_) {
    if (!HasDisplay(k)) continue;
    k.fresh = true;
    k.offset.fill(0);
  }
}

void TMMConnector::NewBuffer(const void* data, int64_t bytes) {
  if (!enabled_ || paused_ || !data || bytes <= 0) return;
  const int64_t now = TimeGetExactTime();
  {
    std::lock_guard lock(cs_);
    if (!data_ || !(input_pcm_ || conversion_)) return;
    const int64_t n = std::min(bytes, copy_size_);
    std::memcpy(copy_.get(), data, static_cast<size_t>(n));
    data_length_ = n;
    if (conversion_) {
      const int64_t out = conversion_->Convert(n);
      data_length_ = std::clamp<int64_t>(out, 0, capacity_);
      if (out <= 0) return;
    }
    stamp_ = now;
    MarkFresh();
  }
  if (!real_time_ && auto_trigger_) ProcessData();
}

void TMMConnector::GetPeak(int16_t& left, int16_t& right) {
  std::lock_guard lock(cs_);
  if (data_ && data_length_ > 0) {
    int l = 0, r = 0;
    PCMFINDPEAK(&display_format_, data_, data_length_, l, r);
    left = static_cast<int16_t>(l);
    right = static_cast<int16_t>(r);
  } else {
    left = right = silence_;
  }
}

// ---- Releasing slices ------------------------------------------------------------------------

bool TMMConnector::Due(int64_t offset, int64_t elapsed) const {
  if (offset == 0 || !synchronize_) return true;
  const int64_t bps = display_format_.nAvgBytesPerSec;
  if (bps <= 0) return true;
  // 64 bits: a million times an offset of a few kilobytes no longer fits 32.
  return elapsed >= 1000000 * offset / bps;
}

bool TMMConnector::ProcessData() {
  if (!enabled_ || !(running_ || (!real_time_ && tap_started_))) return false;
  bool behind = false;
  {
    std::lock_guard lock(cs_);
    if (!data_) return false;
    const int64_t tick = pause_tick_.exchange(kNoTick);
    if (tick != kNoTick && paused_) {
      stamp_ = tick;
      MarkFresh();
    }
    const int64_t elapsed = TimeGetExactTime() - stamp_;
    for (int kind = 0; kind < kKinds; ++kind) behind |= ServeKind(kind, elapsed);
  }
  if (OnTrigger) OnTrigger(this);
  return behind;
}

bool TMMConnector::ServeKind(int kind, int64_t elapsed) {
  Kind& k = kinds_[kind];
  if (!k.fresh) return false;
  if (kind == static_cast<int>(TMMDisplayKind::Spectrogram)) return ServeSpectrograms(k, elapsed);
  int64_t size = 0;
  for (int j = 0; j < k.slot_count; ++j)
    if (k.slot[j]) size = std::max<int64_t>(size, k.slot[j]->SliceBytes());
  if (!HasDisplay(k)) {
    k.fresh = false;
    return false;
  }
  const int64_t frame = std::max<int>(display_format_.nBlockAlign, 1);
  int64_t& offset = k.offset[0];
  int64_t step = size;
  int64_t cross = 0;
  if (kind == static_cast<int>(TMMDisplayKind::Oscope)) {
    // The deciding scope moves on by its own step only while it looks at overlapping slices.
    TMMDisplayData* scope = k.slot[0] ? k.slot[0] : k.slot[1];
    if (const int64_t own = scope->StepBytes(); own > 0) step = own;
    const TMMTriggerMode mode = trigger_mode_;
    if (mode != tmNone && !paused_ && offset < data_length_) {
      cross = pcmFindZeroCross(&display_format_, data_ + offset, data_length_ - offset, 0, mode,
                               trigger_level_);
    }
  }
  if (!Due(offset, elapsed)) return false;
  int64_t at = offset;
  offset += std::max(step, frame);  // a step below one frame would never end the buffer
  if (cross > 0) {
    at += cross;
    offset += cross;
  }
  if (at + size > data_length_) {
    k.fresh = false;
    return false;
  }
  for (int j = 0; j < k.slot_count; ++j)
    if (k.slot[j]) k.slot[j]->RefreshPCMData(data_ + at);
  ++k.count;
  return offset + size <= data_length_ && Due(offset, elapsed);
}

bool TMMConnector::ServeSpectrograms(Kind& k, int64_t elapsed) {
  const int64_t frame = std::max<int>(display_format_.nBlockAlign, 1);
  bool due = false, shown = false;
  for (int j = 0; j < k.slot_count; ++j) {
    TMMDisplayData* d = k.slot[j];
    if (!d || !Due(k.offset[j], elapsed)) continue;
    due = true;
    const int64_t at = k.offset[j];
    const int64_t own = d->StepBytes();
    k.offset[j] += std::max<int64_t>(own > 0 ? own : d->SliceBytes(), frame);
    if (at + d->SliceBytes() <= data_length_) {
      d->RefreshPCMData(data_ + at);
      shown = true;
    }
  }
  if (shown) {
    ++k.count;
  } else if (due || !HasDisplay(k)) {
    k.fresh = false;
  }
  return false;
}

// ---- Triggers --------------------------------------------------------------------------------

void TMMConnector::Trigger() {
  if (!enabled_) return;
  if (!running_ && (real_time_ || !tap_started_)) return;
  if (auto_trigger_ && method_ != tmTimer) return;
  if (vant::GetDispatcher().IsGuiThread()) {
    if (pending_triggers_ == 0) ProcessData();
    return;
  }
  // At most one trigger message waits at a time.
  int32_t none = 0;
  if (!pending_triggers_.compare_exchange_strong(none, 1)) return;
  if (!MessageWindow::Post(g_window, kTriggerMessage, 0, serial_)) pending_triggers_ = 0;
}

void TMMConnector::PostStart() {
  if (shared_) MessageWindow::Post(shared_->window->Handle(), kStartMessage, 0, serial_);
}

void TMMConnector::LeaveAutoTrigger() {
  timer_->SetEnabled(false);
  if (in_loop_) {
    in_loop_ = false;
    if (shared_) --shared_->active;
  }
}

void TMMConnector::StopRunning() {
  if (!running_) return;
  running_ = false;
  LeaveAutoTrigger();
}

void TMMConnector::HandleMessage(TMessage& m) {
  vant::Guarded([&m] {
    switch (m.Msg) {
      case kStartMessage:
        if (TMMConnector* c = Find(m.LParam)) c->StartRunning();
        break;
      case kTriggerMessage:
        if (TMMConnector* c = Find(m.LParam)) {
          c->pending_triggers_ = 0;
          c->ProcessData();
        }
        break;
      case kLoopMessage:
        Loop();
        break;
      default:
        break;
    }
  });
}

void TMMConnector::StartRunning() {
  if (!tap_started_) return;
  pending_triggers_ = 0;
  running_ = true;
  if (!auto_trigger_) return;
  if (method_ == tmTimer) {
    timer_->SetEnabled(true);
  } else if (!in_loop_) {
    in_loop_ = true;
    ++shared_->active;
    shared_->PostLoop();
  }
}

void TMMConnector::Loop() {
  if (!shared_) return;
  shared_->loop_queued->store(false);
  const bool terminating = vant::GetDispatcher().IsTerminating();
  bool behind = false;
  // Each wake serves every slice that has fallen due since the last one, a round per slice, so
  // the displays see all of the sound while the loop wakes only once per yield; what they draw
  // reaches the screen once per frame.
  for (int round = 0; round < kCatchUpRounds && shared_ && shared_->active > 0 && !terminating;
       ++round) {
    // By serial: a handler may free connectors during the pass.
    std::vector<intptr_t> serials;
    for (TMMConnector* c : shared_->list) serials.push_back(c->serial_);
    behind = false;
    for (intptr_t s : serials) {
      TMMConnector* c = Find(s);
      if (c && c->auto_trigger_ && c->method_ == tmMessage && c->enabled_ && c->running_) {
        behind |= c->ProcessData();
      }
    }
    if (!behind) break;
  }
  if (!shared_) return;
  if (shared_->active > 0 && !terminating && !shared_->list.empty()) {
    // Slices still due after the last round (the loop was held up long): the next wake follows
    // as soon as the event loop has run, not a yield later.
    if (behind) shared_->PostLoop();
    shared_->StartYield();
  } else {
    shared_->StopYield();
  }
}

// ---- Pause -----------------------------------------------------------------------------------

void TMMConnector::UpdatePauseTimer(bool on) {
  {
    std::lock_guard lock(cs_);
    for (Kind& k : kinds_) k.fresh = false;
  }
  pause_tick_ = kNoTick;
  if (pause_event_) {
    // Not under our lock: the tick runs under the timer service's.
    vant::MMTimeKillEvent(pause_event_);
    pause_event_ = nullptr;
  }
  if (!on) return;
  const int32_t size = GetBufferSize();
  int32_t period = 25;
  if (size <= kPauseBufferLimit) {
    period = wioBytesToTime(GetPWaveFormat(), size);
  }
  pause_event_ = vant::MMTimeSetEvent(
      period, false,
      [](vant::PMMTimeEvent, void* self) {
        static_cast<TMMConnector*>(self)->pause_tick_ = TimeGetExactTime();
      },
      this);
  if (!pause_event_) throw EOutOfResources("Out of system resources");
}
