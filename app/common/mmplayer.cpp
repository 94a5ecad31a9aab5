#include "mmplayer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dispatch.h"
#include "progform.h"
#include "trace.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_messagewindow.h"
#include "wavpanel.h"

using namespace vant;

TMOPlayer* MOPlayer = nullptr;

// ---- energy envelope ---------------------------------------------------------------------------

namespace energy {
namespace {
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}
uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
}  // namespace

std::vector<uint8_t> Header(const std::string& load_name, int channels) {
  std::vector<uint8_t> h(kHeaderSize, 0);
  std::memcpy(h.data(), "ENERGY FILE", 11);
  const std::string name = std::filesystem::path(load_name).filename().string();
  // Zero-terminated inside its 512 bytes.
  std::memcpy(h.data() + 32, name.data(), std::min<size_t>(name.size(), 511));
  Put32(h, 544, 1);
  std::memcpy(h.data() + 548, "line", 4);
  Put32(h, 552, 0);
  Put32(h, 556, uint32_t(channels));
  Put32(h, 560, kBytesPerValue);
  Put32(h, 564, kFramesPerValue);
  return h;
}

void AppendValues(std::vector<uint8_t>& out, const int16_t* samples, int64_t frames, int channels,
                  const std::function<void(int64_t, int64_t)>& progress) {
  if (channels < 1) return;
  const int values = channels == 2 ? 2 : 1;
  const int64_t blocks = frames / kFramesPerValue;
  out.reserve(out.size() + size_t(blocks * values * kBytesPerValue));
  for (int64_t b = 0; b < blocks; ++b) {
    const int16_t* block = samples + b * kFramesPerValue * channels;
    for (int v = 0; v < values; ++v) {
      int64_t sum = 0;
      for (int f = 0; f < kFramesPerValue; ++f) sum += std::abs(int32_t(block[f * channels + v]));
      // A block of full-scale negative samples would make 32,768.
      const int16_t mean = int16_t(std::min<int64_t>(sum / kFramesPerValue, 32767));
      out.push_back(uint8_t(mean));
      out.push_back(uint8_t(uint16_t(mean) >> 8));
    }
    if (progress) progress(b, blocks);
  }
}

bool ReadHeader(const uint8_t* data, size_t size, Info& info) {
  if (!data || size < kHeaderSize) return false;
  info.channels = int(Get32(data + 556));
  info.bytes_per_value = int(Get32(data + 560));
  info.frames_per_value = int(Get32(data + 564));
  return info.channels > 0 && info.bytes_per_value > 0;
}
}  // namespace energy

// ---- window ------------------------------------------------------------------------------------

TMOPlayer::TMOPlayer(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("MOPlayer");
  SetCaption("MOPlayer");
  SetClientWidth(183);
  SetClientHeight(312);
  SetColor(TColor(0x8A8A8A));

  MMAudioPlayer = new TMMAudioPlayer(this);
  MMAudioPlayer->SetName("MMAudioPlayer");
  MMAudioPlayer->SetBufferSize(16000);
  MMAudioPlayer->SetNumBuffers(10);
  MMAudioPlayer->SetDeviceID(0);
  MMAudioPlayer->SetCallBackMode(cmWindow);
  MMAudioPlayer->SetVolume(32768);
  MMAudioPlayer->OnStop = [this](TObject* s) { MMAudioPlayerStop(s); };

  MMConnector1 = new TMMConnector(this);
  MMConnector1->SetName("MMConnector1");
  MMConnector1->SetInput(MMAudioPlayer);
  MMAudioPlayer->SetOutput(MMConnector1);
  TMMConnector::SetEnterIdle(false);

  MMHiTimer1 = new TMMHiTimer(this);
  MMHiTimer1->SetName("MMHiTimer1");
  MMHiTimer1->SetInterval(30);
  MMHiTimer1->SetPriority(tpLower);
  // The position it reports is seen at the display's frames: ticking there, with the meters,
  // a playing program wakes once per frame rather than for each timer.
  MMHiTimer1->SetAtFrames(true);
  MMHiTimer1->SetOnTimer([this](TObject* s) { MMHiTimer1Timer(s); });

  MMSlider = new TMMSlider(this);
  MMSlider->SetName("MMSlider");
  MMSlider->SetParent(this);
  MMSlider->SetBounds(42, 206, 123, 22);
  MMSlider->SetMaxValue(999999999);
  MMSlider->Scale().SetVisible(false);
  MMSlider->OnChange = [this](TObject* s) { MMSliderChange(s); };
  MMSlider->OnTrack = [this](TObject* s) { MMSliderTrack(s); };
  MMSlider->OnTrackEnd = [this](TObject* s) { MMSliderTrackEnd(s); };

  Label1 = new TLabel(this);
  Label1->SetName("Label1");
  Label1->SetParent(this);
  // The box of the layout, not the text's: a report every 30 ms must not measure and lay out
  // the label again (the window is never shown, and the times all fit the box).
  Label1->SetAutoSize(false);
  Label1->SetBounds(84, 14, 73, 19);
  Label1->Font().SetColor(clBlack);
  Label1->SetCaption("00:00.000");

  ScrollBar2 = new g32::TGaugeBar(this);
  ScrollBar2->SetName("ScrollBar2");
  ScrollBar2->SetParent(this);
  ScrollBar2->SetBounds(8, 250, 155, 15);
  ScrollBar2->SetMax(4096);
  ScrollBar2->SetPosition(0);
  ScrollBar2->SetColor(TColor(0xCAC8C8));
  ScrollBar2->Bar().SetShowHandleGrip(true);

  MMMemoryWave = new TMMMemoryWave(this);
  MMMemoryWave->SetName("MMMemoryWave");

  LoadThread = new TMMThread(this);
  LoadThread->SetName("LoadThread");
  LoadThread->SetPriority(tpLower);
  LoadThread->SetSynchronize(false);
  LoadThread->OnThread = [this](TObject* s) { LoadThreadThread(s); };
  LoadThread->OnTerminate = [this](TObject* s) { LoadThreadTerminate(s); };

  MMWaveOut1 = new TMMWaveOut(this);
  MMWaveOut1->SetName("MMWaveOut1");

  MMDesigner1 = new TMMDesigner(this);
  MMDesigner1->SetName("MMDesigner1");
  MMDesigner1->SetRuntimeHeight(-1);
  MMDesigner1->SetUpdate(false);

  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();
  MMHiTimer1->SetEnabled(false);
  MOPlayer = this;
}

TMOPlayer::~TMOPlayer() {
  alive_->store(false);
  // The load thread may still be reading; it must not outlive what it writes to.
  LoadThread->OnTerminate = nullptr;
  LoadThread->Terminate();
  if (MOPlayer == this) MOPlayer = nullptr;
}

void TMOPlayer::SetPositionCallback(int slot, TPositionCallback callback) {
  if (slot == 1 || slot == 2) callbacks_[slot - 1] = std::move(callback);
}

void TMOPlayer::ConnectLevel(int slot, TMMCustomLevel* level) {
  if (slot == 1 || slot == 2) MMConnector1->SetLevel(slot, level);
}

void TMOPlayer::PlayFrom(int32_t ms) {
  if (!LoadThread->GetTerminated()) {
    MessageDlg("ファイルの読み込み中です。", mtWarning, mbOK);
    return;
  }
  if (ms != 0) {
    MMAudioPlayer->Stop();
    MMAudioPlayer->SetPosition(ms);
  }
  MMHiTimer1->SetEnabled(true);
  MMAudioPlayer->Play();
}

namespace {
// A share worked out in floating point, as an int: beyond the int range it stays at its limit
// (the receiver clamps it further), never wraps to the other end.
int32_t TruncToInt(double v) {
  return int32_t(std::clamp(std::trunc(v), double(INT32_MIN), double(INT32_MAX)));
}
}  // namespace

void TMOPlayer::ShowPosition(int a, int b) {
  // The bar clamps what lies outside its range; an empty range puts it at the start.
  ScrollBar2->SetPosition(b == 0 ? 0 : TruncToInt(double(ScrollBar2->GetMax()) * a / b));
}

void TMOPlayer::SeekTo(int v) {
  const int32_t ms = TruncToInt(double(MMAudioPlayer->GetPlayLength()) * v / 4096);
  StopCaption.clear();
  if (!LoadThread->GetTerminated()) {
    PlayFrom(ms);  // the warning, nothing else
    return;
  }
  // The audio file takes a new play length only while it is not playing.
  MMAudioPlayer->Stop();
  MMAudioPlayer->SetPlayLength(MMAudioPlayer->GetFileLength());
  // PlayFrom(0) keeps the current position; a seek to the start must play from the start.
  if (ms == 0) MMAudioPlayer->SetPosition(0);
  PlayFrom(ms);
}

std::string TMOPlayer::PositionText(int32_t ms) {
  const uint32_t p = uint32_t(std::max(ms, 0));
  const uint32_t s = p / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%02u", s / 3600, s / 60 % 60, s % 60,
                p % 1000 * 100 / 1000);
  return text;
}

void TMOPlayer::MMHiTimer1Timer(TObject*) {
  // The timer runs on through the report: switching it off and on again around each one rebuilt
  // it 33 times a second. Its ticks come as messages to this thread, at most a few pending, so
  // a slow report cannot pile them up.
  if (!tracking_) {
    const int32_t position = MMAudioPlayer->GetPosition();
    const int32_t length = MMAudioPlayer->GetPlayLength();
    const double fraction = length == 0 ? 0.0 : double(position) / length;
    for (const TPositionCallback& callback : callbacks_) {
      if (callback) callback("", position, fraction);
    }
    MMSlider->SetPosition(position);
  }
  // Only while the player plays: its stop switched the timer off for good.
  if (!(MMAudioPlayer->GetState() & wosPlay)) MMHiTimer1->SetEnabled(false);
}

void TMOPlayer::MMAudioPlayerStop(TObject*) {
  MMHiTimer1->SetEnabled(false);
  if (DisplayControl && !StopCaption.empty()) DisplayControl->SetCaption(StopCaption);
}

void TMOPlayer::MMSliderChange(TObject*) {
  const std::string text = PositionText(MMSlider->GetPosition());
  // When the window showed which position: a listener's check compares it with what was heard.
  vant::TraceF("player: shows %d ms at %lld us", int(MMSlider->GetPosition()),
               static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count()));
  Label1->SetCaption(text);
  if (DisplayControl) DisplayControl->SetCaption(text);
}

void TMOPlayer::MMSliderTrack(TObject*) { tracking_ = true; }

void TMOPlayer::MMSliderTrackEnd(TObject*) {
  MMAudioPlayer->SetPosition(MMSlider->GetPosition());
  tracking_ = false;
}

// ---- load thread -------------------------------------------------------------------------------

void TMOPlayer::OnGui(std::function<void()> fn) {
  GetDispatcher().Post([alive = alive_, fn = std::move(fn)] {
    if (alive->load()) fn();
  });
}

void TMOPlayer::SetLoadProgress(int percent) {
  OnGui([this, percent] {
    if (Progress) Progress->SetProgress(percent);
  });
}

void TMOPlayer::LoadThreadThread(TObject*) {
  struct Ends {
    TMMThread* thread;
    ~Ends() { thread->Terminate(); }
  } ends{LoadThread};
  try {
    EnergyHeader = energy::Header(LoadName, 0);
    SetLoadProgress(5);

    std::ifstream file(LoadPath, std::ios::binary);
    if (!file) return;
    file.seekg(0, std::ios::end);
    const int64_t size = std::max<int64_t>(int64_t(file.tellg()), 0);
    file.seekg(0);
    std::string image(size_t(size), '\0');
    int64_t done = 0;
    int last_percent = 5;
    while (done < size && file) {
      const int64_t n = std::min<int64_t>(512, size - done);
      file.read(image.data() + done, n);
      done += file.gcount();
      // One message per step of the gauge, not per block.
      if (const int percent = 5 + int(45 * done / size); percent != last_percent)
        SetLoadProgress(last_percent = percent);
    }
    file.close();

    std::istringstream stream(std::move(image));
    TMMWave* wave = MMMemoryWave->GetWave();
    wave->LoadFromStream(stream);
    const WAVEFORMATEX* format = wave->GetPWaveFormat();
    if (!format) return;
    const int channels = format->nChannels;
    // Never past the data the image holds.
    const int64_t frames = std::min<int64_t>(wave->GetLengthSamples(),
                                             wave->GetLengthBytes() / (2 * std::max(channels, 1)));
    EnergyHeader = energy::Header(LoadName, channels);

    std::vector<uint8_t> envelope = EnergyHeader;
    // The envelope is built from 16-bit samples only; other data has no envelope.
    if (format->wBitsPerSample == 16 && wave->GetPWaveData()) {
      const auto* samples = reinterpret_cast<const int16_t*>(wave->GetPWaveData());
      int last = -1;
      energy::AppendValues(envelope, samples, frames, channels, [&](int64_t b, int64_t blocks) {
        const int percent = 50 + int(40 * b / blocks);
        if (percent != last) SetLoadProgress(last = percent);
      });
    }
    if (WaveFrame) {
      const uint32_t bytes = uint32_t(envelope.size() - energy::kHeaderSize);
      const int rate = int(format->nSamplesPerSec);
      OnGui([this, envelope = std::move(envelope), bytes, rate]() mutable {
        if (!WaveFrame) return;
        WaveFrame->SetEnergyStream(std::move(envelope));
        WaveFrame->SetEnergyData(bytes, rate);
      });
    }
  } catch (const std::exception&) {
  }
}

void TMOPlayer::LoadThreadTerminate(TObject*) {
  OnGui([] {
    if (TForm* main = Application->MainForm()) {
      main->SetTag(0);
      MessageWindow::Post(main->Handle(), UM_LOADCOMPLETE);
    }
  });
}
