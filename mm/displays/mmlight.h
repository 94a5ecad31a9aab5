#pragma once
// TMMLight: three lights (bass red, middle green, treble yellow) whose brightness follows three
// frequency bands of the sound being heard. The lights are drawn once into an 8-bit palette
// canvas in animated colours; each slice only changes those colours, never a pixel.
#include <cstdint>

#include "exceptions.h"
#include "mmdibcv.h"
#include "mmdisplaydata.h"
#include "mmlightcore.h"
#include "mmspectrumcore.h"

VANT_DECLARE_EXCEPTION(EMMLightError, vant::Exception);

class TMMLight : public TMMDIBGraphicControl, public TMMDisplayData {
 public:
  explicit TMMLight(vant::TComponent* owner);
  ~TMMLight() override;
  std::string ClassName() const override { return "TMMLight"; }

  // ---- the display data interface ----
  void SetPCMWaveFormat(const WAVEFORMATEX& format) override;
  void RefreshPCMData(const void* slice) override;
  void ResetData() override;
  vant::TComponent* DisplayComponent() override { return this; }
  WAVEFORMATEX GetPCMWaveFormat() const;
  // FFTLength 16-bit values already transformed.
  void RefreshFFTData(const int16_t* data);
  // FFTLength / 2 powers used in place of re² + im².
  void RefreshMagnitudeData(const int32_t* data);

  // ---- properties ----
  TMMMode GetMode() const;
  void SetMode(TMMMode v);
  TMMBits GetBitLength() const { return core_.Input.Bits; }
  void SetBitLength(TMMBits v);
  TMMChannel GetChannel() const { return core_.Input.Channel; }
  void SetChannel(TMMChannel v) { core_.Input.Channel = v; }
  int GetSampleRate() const { return rate_; }
  void SetSampleRate(int v);
  int GetFFTLength() const { return core_.Input.FFTLength(); }
  void SetFFTLength(int v);
  TMMFFTWindow GetWindow() const { return core_.Input.GetWindow(); }
  void SetWindow(TMMFFTWindow v) { core_.Input.SetWindow(v); }
  TMMDecayMode GetDecayMode() const { return core_.GetDecayMode(); }
  void SetDecayMode(TMMDecayMode v) { core_.SetDecayMode(v); }
  int GetDecay() const { return core_.GetDecay(); }
  void SetDecay(int v) { core_.SetDecay(v); }
  // 0 AmplitudeScale, 1 GainBass, 2 GainMiddle, 3 GainTreble; each 0 .. 1,000.
  int GetAmplitude(int index) const { return amplitude_[index & 3]; }
  void SetAmplitude(int index, int v);
  TMMLightPeakMode GetPeakMode() const { return peak_mode_; }
  void SetPeakMode(TMMLightPeakMode v);
  TMMLightKind GetKind() const { return kind_; }
  void SetKind(TMMLightKind v);
  TMMLightArrange GetArrange() const { return arrange_; }
  void SetArrange(TMMLightArrange v);
  int GetTriangleDist() const { return triangle_dist_; }
  void SetTriangleDist(int v);
  float GetSphereHorz() const { return sphere_horz_; }
  void SetSphereHorz(float v);
  float GetSphereVert() const { return sphere_vert_; }
  void SetSphereVert(float v);
  // 1 .. 78: three spheres of rings must fit the animated colours.
  int GetZoneCount() const { return zone_count_; }
  void SetZoneCount(int v);

  const TMMLightBands& Bands() const { return bands_; }
  const TMMLightLayout& Layout() const { return layout_; }
  vant::TRect DrawingRect() const { return BeveledRect(); }

  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;

  vant::TNotifyEvent OnPcmOverflow;

 protected:
  void Paint() override;
  void Changed() override;
  void EnabledChanged() override;
  virtual void PcmOverflow();

 private:
  void SetupScale();
  void InitDIB();
  void InitializeData();
  void UpdateSlice();
  void NewData();
  void DrawLight();
  void DrawCurrentData();
  void DrawInitData();

  TMMSpectrumCore core_;
  TMMLightBands bands_;
  TMMLightLayout layout_;
  int rate_ = 11025;
  int amplitude_[4] = {100, 100, 100, 100};
  TMMLightPeakMode peak_mode_ = pmPeak;
  TMMLightKind kind_ = lkCircle;
  TMMLightArrange arrange_ = laLine;
  int triangle_dist_ = 10;
  float sphere_horz_ = 1, sphere_vert_ = 1;
  int zone_count_ = 60;
  int w_ = 4, h_ = 4;
  bool built_ = false;
};
