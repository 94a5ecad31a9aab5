#pragma once
// The audio chain. Every audio component is a link with at most one Input (pulled from with
// BufferLoad) and one Output (pushed to with BufferReady). A playback device drives the chain:
// it pulls filled buffers from its Input side, pushes played ones to its Output side, and walks
// the chain to tell every component between it and the next device that the stream opened,
// started, paused, restarted, was reset, looped, stopped or closed.
#include <cstdint>
#include <functional>
#include <string>

#include "mmobj.h"
#include "mmwaveformat.h"
#include "waveout.h"

VANT_DECLARE_EXCEPTION(EAbstractError, vant::Exception);

// Block sizes of the stages that read ahead on their own (pitch, compression manager).
inline constexpr int32_t QUEUE_READ_SIZE = 65536;
inline constexpr int32_t QUEUE_WRITE_SIZE = 65536;

struct TMMLoopRec {
  int32_t dwLooping;    // -1 while the device loops
  int32_t dwLoopCount;  // the device's LoopCount (0 = endless)
  int32_t dwLoopsLeft;  // handed to the source before a pull, taken back after it
  int32_t dwLooped;     // set to -1 by a source that wrapped to its start filling this header
};
using PMMLoopRec = TMMLoopRec*;

// The buffer header that travels the chain. A device allocates it with its data directly
// behind it in one block.
struct TMMWaveHdr {
  vant::audio::WaveHdr wh;
  int32_t dwOwnerStream;  // for the stream-buffer device only
  // bytes recorded, saved around the device write (the platform may change the original)
  uint32_t dwSavedBytes;
  // The header being heard when this one came back; taps show that one.
  TMMWaveHdr* lpNowPlaying;
  TMMLoopRec LoopRec;
};
using PMMWaveHdr = TMMWaveHdr*;

using TMMBufferEvent = std::function<void(vant::TObject* Sender, PMMWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(vant::TObject* Sender, PMMWaveHdr lpWaveHdr, bool& MoreBuffers)>;

enum TMMPort { poInput, poOutput };

class TMMCustomDSPComponent : public TMMNonVisualComponent {
 public:
  using TMMNonVisualComponent::TMMNonVisualComponent;
};

class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  explicit TMMDSPComponent(vant::TComponent* owner);
  ~TMMDSPComponent() override;

  virtual void UpdateParams();
  virtual void DeconnectNotification(TMMDSPComponent* c, TMMPort port, const std::string& name);
  virtual void SetInput(TMMDSPComponent* value);
  virtual TMMDSPComponent* GetInput() const { return input_; }
  virtual void SetOutput(TMMDSPComponent* value);
  virtual TMMDSPComponent* GetOutput() const { return output_; }
  virtual void SetPWaveFormat(const WAVEFORMATEX* format);
  virtual WAVEFORMATEX* GetPWaveFormat() const { return format_.get(); }
  virtual int32_t GetBufferSize();
  virtual void SetBufferSize(int32_t size);
  virtual void ChangePWaveFormat(const WAVEFORMATEX* format);
  virtual void Opened();
  virtual void Closed();
  virtual void Started();
  virtual void Paused();
  virtual void Restarted();
  virtual void Stopped();
  virtual void Reseting();
  virtual void Looped();
  virtual void BufferReady(PMMWaveHdr lpWaveHdr);
  virtual void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers);
  virtual void SetInputPort(TMMDSPComponent* c, const std::string& name);
  virtual void SetOutputPort(TMMDSPComponent* c, const std::string& name);
  virtual bool CanConnectInput(vant::TComponent* c);
  virtual bool CanConnectOutput(vant::TComponent* c);

  void Loaded() override;
  std::string ClassName() const override { return "TMMDSPComponent"; }

  // Events (each class publishes those it needs).
  TMMBufferEvent OnBufferReady;
  TMMBufferLoadEvent OnBufferLoad;
  TMMBufferEvent OnBufferFilled;

  // Set by a component without an Input (Output) property for the moment it links itself.
  bool AcceptAsOutput = false;
  bool AcceptAsInput = false;

  const std::string& InputPortName() const { return input_port_; }
  const std::string& OutputPortName() const { return output_port_; }
  // Whether the class publishes an "Input" ("Output") property.
  bool PublishesInput() const { return publishes_input_; }
  bool PublishesOutput() const { return publishes_output_; }
  // The requested size, whatever the opened state.
  int32_t RequestedBufferSize() const { return buffer_size_; }
  bool IsOpened() const { return opened_; }
  bool IsStarted() const { return started_; }
  bool IsPaused() const { return paused_; }

 protected:
  void Notification(vant::TComponent* component, vant::TOperation operation) override;
  // The class's published link properties; set in the constructor of the class that publishes
  // them (data, not virtual calls, so they hold during destruction too).
  void PublishLinks(bool input, bool output) {
    publishes_input_ = input;
    publishes_output_ = output;
  }
  // Loading, reading or being destroyed: no propagation then.
  bool Quiet() const;

 private:
  TMMDSPComponent* input_ = nullptr;
  TMMDSPComponent* output_ = nullptr;
  TWaveFormatPtr format_;
  int32_t buffer_size_ = 2048;
  int32_t effective_size_ = 2048;
  bool opened_ = false;
  bool started_ = false;
  bool paused_ = false;
  bool publishes_input_ = false;
  bool publishes_output_ = false;
  std::string input_port_;
  std::string output_port_;
};

// DeconnectNotification on every living chain component.
void GlobalDeconnectNotification(TMMDSPComponent* c, TMMPort port, const std::string& name);
// Whether B may become A's Output, and whether A may become B's Input (for tools that offer
// link choices).
bool DSPOutConnectCheck(TMMDSPComponent* a, vant::TComponent* b);
bool DSPInpConnectCheck(vant::TComponent* a, TMMDSPComponent* b);

// A device: carries each lifecycle notification to the components it serves.
class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Reseting() override;
  void Looped() override;

  virtual void SetNumBuffers(int32_t value);
  virtual int32_t GetNumBuffers();
  virtual void SetDeviceID(int32_t value);
  virtual int32_t GetDeviceID();
  virtual void SetProductName(const std::string& value);
  virtual std::string GetProductName();
  virtual void SetCallBackMode(int value);
  virtual int GetCallBackMode();

  // True when the last Opened walk found another device upstream of this one.
  bool FedByDevice() const { return fed_by_device_; }
  std::string ClassName() const override { return "TMMCustomSoundComponent"; }

 protected:
  enum class Note { Opened, Closed, Started, Paused, Restarted, Stopped, Reseting, Looped };
  // Steps 1-3 of a notification: the components this device serves hear it, upstream first.
  void Walk(Note note);

 private:
  bool fed_by_device_ = false;
};

// The abstract playback device the audio player drives.
class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
 public:
  using TMMCustomSoundComponent::TMMCustomSoundComponent;
  virtual int64_t GetPosition();
  virtual void Open();
  virtual void Close();
  virtual void Reset();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();
  std::string ClassName() const override { return "TMMCustomWaveOutComponent"; }
};
