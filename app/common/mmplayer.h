#pragma once
// TMOPlayer: the hidden window that holds the playback chain (audio player -> connector -> the
// main window's level meters), the 30 ms position report, a seek bar and the slider whose label
// shows the play position. Both programs create it; the converter drives it. It also carries a
// load thread that reads a file into a memory wave and builds the energy envelope a waveform
// frame draws (no flow of the programs starts it).
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mmaudioplayer.h"
#include "mmconnector.h"
#include "mmdesign.h"
#include "mmhtimer.h"
#include "mmlevel.h"
#include "mmslider.h"
#include "mmthread.h"
#include "mmwavefile.h"
#include "mmwaveout.h"
#include "rangebars_widget.h"
#include "ui_form.h"
#include "ui_stdctrls.h"

class TWavPanel;
class TPROGForm;

// Posted to the application's main window when the load thread has ended.
constexpr uint32_t UM_LOADCOMPLETE = vant::WM_USER + 420;

// The energy envelope: a 568-byte header, then per full block of 384 sample frames the mean
// magnitude of each channel (two signed 16-bit values for stereo, one for mono).
namespace energy {
constexpr size_t kHeaderSize = 568;
constexpr int kFramesPerValue = 384;
constexpr int kBytesPerValue = 2;
// The header for a file of `channels` channels; `load_name`'s name part is stored in it.
std::vector<uint8_t> Header(const std::string& load_name, int channels);
// Appends the values of `frames` frames of 16-bit samples; `progress` gets block and count.
void AppendValues(std::vector<uint8_t>& out, const int16_t* samples, int64_t frames, int channels,
                  const std::function<void(int64_t block, int64_t blocks)>& progress = {});
// The header fields a reader needs; false when the envelope is shorter than its header.
struct Info {
  int channels = 0, bytes_per_value = 0, frames_per_value = 0;
};
bool ReadHeader(const uint8_t* data, size_t size, Info& info);
}  // namespace energy

class TMOPlayer : public vant::TForm {
 public:
  explicit TMOPlayer(vant::TComponent* owner);
  ~TMOPlayer() override;
  std::string ClassName() const override { return "TMOPlayer"; }

  using TPositionCallback =
      std::function<void(const std::string& text, int32_t ms, double fraction)>;
  // Slots 1 and 2; others are ignored.
  void SetPositionCallback(int slot, TPositionCallback callback);
  // Slot 1 is the connector's Level1, slot 2 its Level2; others are ignored.
  void ConnectLevel(int slot, TMMCustomLevel* level);
  // Plays from `ms`; 0 keeps the player's current position.
  void PlayFrom(int32_t ms);
  // Sets the seek bar to 4096 * a / b.
  void ShowPosition(int a, int b);
  // Plays the whole file from the seek bar value `v` (of 4096) of the current play length.
  void SeekTo(int v);
  // The slider label's text for a position: hours, minutes, seconds and hundredths.
  static std::string PositionText(int32_t ms);

  // Layout components.
  TMMAudioPlayer* MMAudioPlayer;
  TMMConnector* MMConnector1;
  vant::TMMHiTimer* MMHiTimer1;
  TMMSlider* MMSlider;
  vant::TLabel* Label1;
  g32::TGaugeBar* ScrollBar2;
  TMMMemoryWave* MMMemoryWave;
  vant::TMMThread* LoadThread;
  TMMWaveOut* MMWaveOut1;
  TMMDesigner* MMDesigner1;

  // A label whose text mirrors Label1 (the waveform frame's time label), or none.
  vant::TLabel* DisplayControl = nullptr;
  // Shown in the display control when playback stops; emptied by every open and seek.
  std::string StopCaption;
  // The file the load thread reads and the name that goes into the energy header.
  std::string LoadPath, LoadName;
  // The frame that receives the energy envelope, or none.
  TWavPanel* WaveFrame = nullptr;
  // The progress window the load thread reports to, or none.
  TPROGForm* Progress = nullptr;
  std::vector<uint8_t> EnergyHeader;
  bool SliderTracking() const { return tracking_; }

  // Event handlers.
  void MMHiTimer1Timer(vant::TObject* Sender);
  void MMAudioPlayerStop(vant::TObject* Sender);
  void MMSliderChange(vant::TObject* Sender);
  void MMSliderTrack(vant::TObject* Sender);
  void MMSliderTrackEnd(vant::TObject* Sender);
  void LoadThreadThread(vant::TObject* Sender);
  void LoadThreadTerminate(vant::TObject* Sender);

 private:
  // Runs `fn` on the GUI thread while this window lives.
  void OnGui(std::function<void()> fn);
  void SetLoadProgress(int percent);

  std::array<TPositionCallback, 2> callbacks_;
  bool tracking_ = false;
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

// The program-wide reference, set while the window exists.
extern TMOPlayer* MOPlayer;
