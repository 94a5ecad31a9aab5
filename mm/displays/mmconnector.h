#pragma once
// TMMConnector: a chain link behind a playback device that hands the displays slices of the
// audio being heard. It keeps a copy of each played buffer (converted to PCM when needed) and
// releases one slice after another, each when its sound is heard, measured on the microsecond
// clock from the buffer's arrival. Connectors refresh together from one shared message loop on
// the GUI thread, or each from its own 20 ms timer.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "exceptions.h"
#include "mmdisplaydata.h"
#include "mmdspcomponent.h"
#include "mmhtimer.h"
#include "mmtimer.h"

VANT_DECLARE_EXCEPTION(EMMConnectorError, vant::Exception);
// The framework has run out of a system resource (here: a timer).
VANT_DECLARE_EXCEPTION(EOutOfResources, vant::Exception);

enum TMMTriggerMethod { tmMessage, tmTimer };
// Values match the slopes of the PCM crossing search.
enum TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };

class TMMCustomLevel;
class TMMDisplayConversion;

// The display kinds, in the order one refresh pass serves them.
enum class TMMDisplayKind { Level, Meter, Oscope, Light, Spectrum, Spectrogram };

class TMMConnector : public TMMDSPComponent {
 public:
  explicit TMMConnector(vant::TComponent* owner);
  ~TMMConnector() override;
  std::string ClassName() const override { return "TMMConnector"; }

  // Properties.
  bool GetEnabled() const { return enabled_.load(); }
  void SetEnabled(bool value);
  bool GetAutoConvert() const { return auto_convert_; }
  void SetAutoConvert(bool value) { auto_convert_ = value; }
  bool GetAutoTrigger() const { return auto_trigger_.load(); }
  void SetAutoTrigger(bool value);
  bool GetSynchronize() const { return synchronize_.load(); }
  void SetSynchronize(bool value) { synchronize_ = value; }
  int32_t GetSpeed() const { return speed_; }
  void SetSpeed(int32_t value);
  TMMTriggerMethod GetTriggerMethod() const { return method_.load(); }
  void SetTriggerMethod(TMMTriggerMethod value);
  TMMTriggerMode GetTriggerMode() const { return trigger_mode_.load(); }
  void SetTriggerMode(TMMTriggerMode value) { trigger_mode_ = value; }
  int32_t GetTriggerLevel() const { return trigger_level_.load(); }
  void SetTriggerLevel(int32_t value) { trigger_level_ = value; }
  bool GetRefreshOnStop() const { return refresh_on_stop_; }
  void SetRefreshOnStop(bool value) { refresh_on_stop_ = value; }
  bool GetRealTime() const { return real_time_.load(); }
  // Raises EMMConnectorError (message 60) when changed while the chain is open.
  void SetRealTime(bool value);
  // Process-wide, shared by every connector.
  static bool GetEnterIdle();
  static void SetEnterIdle(bool value);

  // Display slots (index from 1). Setting the connector itself or the display already in the
  // slot does nothing; a display sitting in the other slot of its kind is refused (the four
  // spectrum slots only check their own).
  TMMCustomLevel* GetLevel(int index) const;
  void SetLevel(int index, TMMCustomLevel* value);
  // Every kind by its data interface (index from 1: two slots each, four spectra).
  TMMDisplayData* GetDisplay(TMMDisplayKind kind, int index) const;
  void SetDisplay(TMMDisplayKind kind, int index, TMMDisplayData* value);
  void SetMeter(int index, TMMDisplayData* v) { SetDisplay(TMMDisplayKind::Meter, index, v); }
  void SetOscope(int index, TMMDisplayData* v) { SetDisplay(TMMDisplayKind::Oscope, index, v); }
  void SetLight(int index, TMMDisplayData* v) { SetDisplay(TMMDisplayKind::Light, index, v); }
  void SetSpectrum(int index, TMMDisplayData* v) { SetDisplay(TMMDisplayKind::Spectrum, index, v); }
  void SetSpectrogram(int index, TMMDisplayData* v) {
    SetDisplay(TMMDisplayKind::Spectrogram, index, v);
  }

  // Chain overrides.
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Reseting() override;
  void BufferReady(PMMWaveHdr lpWaveHdr) override;
  void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) override;
  void ChangeDesigning(bool value) override;

  // Takes a copy of a buffer that starts to be heard now (any thread).
  virtual void NewBuffer(const void* data, int64_t bytes);
  // One refresh pass on demand: at once on the GUI thread, posted from any other.
  virtual void Trigger();

  // The peak sample of each channel of the current buffer; without data, the silence value.
  void GetPeak(int16_t& left, int16_t& right);

  // The PCM format the displays are given (format tag 0 while there is none).
  WAVEFORMATEX GetDisplayFormat() const;
  // Slices released to the displays of `kind` since the tap started.
  int64_t GetRefreshCount(TMMDisplayKind kind) const;

  vant::TNotifyEvent OnTrigger;

 protected:
  void Notification(vant::TComponent* component, vant::TOperation operation) override;

 private:
  struct Shared;
  static constexpr int kKinds = 6;
  static constexpr int kMaxSlots = 4;
  struct Kind {
    std::array<TMMDisplayData*, kMaxSlots> slot{};
    std::array<vant::TComponent*, kMaxSlots> component{};  // what each slot's display is
    int slot_count = 2;
    bool fresh = false;
    // One offset per display for the kind whose displays step on their own (spectrogram), else
    // one for the kind in [0].
    std::array<int64_t, kMaxSlots> offset{};
    std::atomic<int64_t> count{0};
  };

  Kind& KindOf(TMMDisplayKind k) { return kinds_[static_cast<int>(k)]; }
  const Kind& KindOf(TMMDisplayKind k) const { return kinds_[static_cast<int>(k)]; }
  bool HasDisplay(const Kind& k) const;
  bool Holds(const vant::TComponent* c) const;
  template <class F>
  void ForEachDisplay(F&& f);
  void SetWaveParams();
  // One refresh pass; answers whether a slice is already due for the next one.
  bool ProcessData();
  bool ServeKind(int kind, int64_t elapsed);
  bool ServeSpectrograms(Kind& k, int64_t elapsed);
  bool Due(int64_t offset, int64_t elapsed) const;
  void MarkFresh();
  void ResetDisplays();
  void UpdatePauseTimer(bool on);
  void PostStart();
  void StartRunning();
  void StopRunning();
  void LeaveAutoTrigger();
  static void Loop();
  void FreeBuffers();
  bool Designing() const { return HasState(vant::csDesigning); }
  void Register();
  void Unregister();
  static void RecalcSpeed();
  static void HandleMessage(vant::TMessage& m);
  static TMMConnector* Find(intptr_t serial);

  std::atomic<bool> enabled_{true};
  bool auto_convert_ = true;
  std::atomic<bool> auto_trigger_{true};
  std::atomic<bool> synchronize_{true};
  int32_t speed_ = 5000;
  std::atomic<TMMTriggerMethod> method_{tmMessage};
  std::atomic<TMMTriggerMode> trigger_mode_{tmNone};
  std::atomic<int32_t> trigger_level_{0};
  bool refresh_on_stop_ = true;
  std::atomic<bool> real_time_{true};

  // Guards the buffer, its length, the stamp and the kinds between the device's thread and the
  // thread releasing slices; lives as long as the connector.
  mutable std::recursive_mutex cs_;
  std::array<Kind, kKinds> kinds_;
  WAVEFORMATEX display_format_{};
  bool input_pcm_ = false;
  std::unique_ptr<TMMDisplayConversion> conversion_;
  std::unique_ptr<uint8_t[]> copy_;
  int64_t copy_size_ = 0;
  uint8_t* data_ = nullptr;  // the copy, or the conversion's output
  int64_t capacity_ = 0;
  int64_t data_length_ = 0;
  uint8_t silence_ = 0;
  int64_t stamp_ = 0;

  std::atomic<bool> tap_started_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> paused_{false};
  std::atomic<int32_t> pending_triggers_{0};
  // Set by the pause timer's tick (its time), taken by the next pass: fresh silence from there.
  std::atomic<int64_t> pause_tick_{0};
  vant::PMMTimeEvent pause_event_ = nullptr;
  std::unique_ptr<vant::TMMHiTimer> timer_;
  intptr_t serial_ = 0;  // names the connector in its messages
  bool registered_ = false;
  bool in_loop_ = false;  // counted among the shared loop's active connectors
  static Shared* shared_;
};
