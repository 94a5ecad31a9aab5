#include "mmlight.h"

#include <algorithm>
#include <cmath>

#include "mmdisplaysize.h"
#include "mmpcmsup.h"
#include "mmutils.h"

using vant::TRect;

TMMLight::TMMLight(vant::TComponent* owner) : TMMDIBGraphicControl(owner) {
  SetRealize(true);
  core_.LogAmp = false;
  core_.MagnitudeScale = 1.0;  // AmplitudeScale 100
  core_.SetSize(4, 4);
  SetFFTLength(128);
  SetColor(vant::clBlack);
  built_ = true;
  SetBounds(GetLeft(), GetTop(), 194, 90);
}

TMMLight::~TMMLight() { Destroying(); }

// ---- the display data interface --------------------------------------------------------------

void TMMLight::SetPCMWaveFormat(const WAVEFORMATEX& format) {
  if (!pcmIsValidFormat(&format)) throw EMMLightError(LoadResStr(62));
  SetSampleRate(static_cast<int>(format.nSamplesPerSec));
  core_.Input.Bits = static_cast<TMMBits>(format.wBitsPerSample / 8 - 1);
  core_.Input.Channels = std::max<int>(format.nChannels, 1);
  UpdateSlice();
}

WAVEFORMATEX TMMLight::GetPCMWaveFormat() const {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, (core_.Input.Bits + 1) * 8, core_.Input.Channels, rate_);
  return f;
}

void TMMLight::UpdateSlice() { SetSliceBytes(core_.Input.SliceBytes()); }

void TMMLight::RefreshPCMData(const void* slice) {
  if (!GetEnabled() || !GetVisible() || !slice) return;
  core_.Input.Order = 0;  // no tilt
  const int overflows = core_.Input.Transform(static_cast<const uint8_t*>(slice), core_.FFTData());
  for (int i = 0; i < overflows; ++i) PcmOverflow();
  core_.CalcMagnitude(false);
  NewData();
}

void TMMLight::RefreshFFTData(const int16_t* data) {
  if (!GetEnabled() || !GetVisible() || !data) return;
  std::copy_n(data, GetFFTLength(), core_.FFTData());
  core_.CalcMagnitude(false);
  NewData();
}

void TMMLight::RefreshMagnitudeData(const int32_t* data) {
  if (!GetEnabled() || !GetVisible() || !data) return;
  core_.SetMagnitudeData(data);
  core_.CalcMagnitude(true);
  NewData();
}

void TMMLight::NewData() {
  bands_.CalcValues(core_.Magnitudes(), peak_mode_);
  FastDraw([this](bool) { DrawLight(); }, false);
}

void TMMLight::ResetData() {
  InitializeData();
  Invalidate();
}

void TMMLight::InitializeData() {
  for (auto& b : bands_.Band) {
    b.Shown = -1;
    b.Value = 0;
  }
  core_.InitializeData();
}

void TMMLight::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

// ---- properties ------------------------------------------------------------------------------

TMMMode TMMLight::GetMode() const {
  const int c = core_.Input.Channels;
  return c == 1 ? mMono : c == 2 ? mStereo : mMultiChannel;
}

void TMMLight::SetMode(TMMMode v) {
  core_.Input.Channels = v + 1;
  UpdateSlice();
}

void TMMLight::SetBitLength(TMMBits v) {
  core_.Input.Bits = v;
  UpdateSlice();
}

void TMMLight::SetSampleRate(int v) {
  if (v == rate_) return;
  rate_ = MinMax(v, 8000, 100000);
  SetupScale();
  InitDIB();
}

void TMMLight::SetFFTLength(int v) {
  v = SpectrumFFTLength(v);
  if (v == GetFFTLength() && built_) return;
  core_.Input.SetFFTLength(v);
  SetupScale();
  UpdateSlice();
  InitDIB();
}

void TMMLight::SetAmplitude(int index, int v) {
  v = MinMax(v, 0, 1000);
  int& field = amplitude_[index & 3];
  if (v == field) return;
  field = v;
  core_.MagnitudeScale = amplitude_[0] / 100.0;
  InitializeData();
}

void TMMLight::SetPeakMode(TMMLightPeakMode v) {
  peak_mode_ = v;
  Invalidate();
}

void TMMLight::SetKind(TMMLightKind v) {
  if (v == kind_) return;
  kind_ = v;
  InitDIB();
}

void TMMLight::SetArrange(TMMLightArrange v) {
  if (v == arrange_) return;
  arrange_ = v;
  InitDIB();
}

void TMMLight::SetTriangleDist(int v) {
  // Wider than any control, the spacing leaves no light; the layout's sums stay in int.
  v = std::clamp(v, 2, 32767);
  if (v == triangle_dist_) return;
  triangle_dist_ = v;
  InitDIB();
}

void TMMLight::SetSphereHorz(float v) {
  if (std::isnan(v)) return;  // no number: the shading stays
  v = std::max(v, 0.0f);
  if (v == sphere_horz_) return;
  sphere_horz_ = v;
  InitDIB();
}

void TMMLight::SetSphereVert(float v) {
  if (std::isnan(v)) return;  // no number: the shading stays
  v = std::max(v, 0.0f);
  if (v == sphere_vert_) return;
  sphere_vert_ = v;
  InitDIB();
}

void TMMLight::SetZoneCount(int v) {
  v = std::clamp(v, 1, kLightMaxZones);
  if (v == zone_count_) return;
  zone_count_ = v;
  InitDIB();
}

void TMMLight::EnabledChanged() {
  TMMDIBGraphicControl::EnabledChanged();
  InitDIB();
}

// ---- geometry and set-up ---------------------------------------------------------------------

void TMMLight::SetBounds(int left, int top, int width, int height) {
  const int least = 2 * DisplayBevel(BevelExtend()) + 5;
  TMMDIBGraphicControl::SetBounds(left, top, std::max(width, least), std::max(height, least));
  Changed();
}

void TMMLight::Changed() {
  if (!built_) return;
  const TRect r = DrawingRect();
  w_ = DisplayExtent(r.Left, r.Right, 4);
  h_ = DisplayExtent(r.Top, r.Bottom, 4);
  DIBCanvas().SetBounds(0, 0, w_, h_);
  InitDIB();
  TMMDIBGraphicControl::Changed();
}

void TMMLight::Loaded() {
  TMMDIBGraphicControl::Loaded();
  SetupScale();
  InitDIB();
}

void TMMLight::SetupScale() {
  if (HasState(vant::csLoading)) return;
  bands_.Setup(rate_, GetFFTLength());
}

void TMMLight::InitDIB() {
  if (HasState(vant::csLoading) || !built_) return;
  TMMDIBCanvas& c = DIBCanvas();
  c.SetAnimCount(kind_ == lkCircle ? 3 : 3 * zone_count_);
  c.DIB_InitDrawing();
  c.DIB_SetTColor(GetColor());
  c.DIB_CLEAR();
  InitializeData();
  DrawInitData();
  c.DIB_DoneDrawing();
  Invalidate();
}

// ---- drawing ---------------------------------------------------------------------------------

void TMMLight::DrawInitData() {
  layout_.Compute(w_, h_, arrange_, triangle_dist_);
  if (layout_.Radius < 1) return;
  TMMDIBCanvas& c = DIBCanvas();
  for (int i = 0; i < 3; ++i) {
    const TMMLightRect& l = layout_.Light[i];
    const int width = l.Right - l.Left, height = l.Bottom - l.Top;
    const int rings = kind_ == lkCircle ? 1 : zone_count_;
    for (int j = 0; j < rings; ++j) {
      const int dx = static_cast<int>(static_cast<double>(width) / rings * 0.5 * j);
      const int dy = static_cast<int>(static_cast<double>(height) / rings * 0.5 * j);
      const int rx = width / 2 - dx, ry = height / 2 - dy;
      if (rx <= 0 || ry <= 0) break;
      c.DIB_SetColor(c.GetAnimColorIndex(kind_ == lkCircle ? i : j + i * zone_count_));
      c.DIB_FILLELLIPSE(l.Left + width / 2, l.Top + height / 2, static_cast<int16_t>(rx),
                        static_cast<int16_t>(ry));
    }
  }
}

void TMMLight::DrawCurrentData() {
  TMMDIBCanvas& c = DIBCanvas();
  bool animating = false;
  for (int i = 0; i < 3; ++i) {
    TMMLightBand& band = bands_.Band[i];
    const int b = LightBrightness(i, band.Value, amplitude_[i + 1] * 0.0005);
    if (b == band.Shown) continue;
    band.Shown = b;
    if (!animating) {
      c.BeginAnimate();
      animating = true;
    }
    auto color = [i](int v) -> vant::TColor {
      // TColor is red in the low byte.
      return i == 0 ? v : i == 1 ? v << 8 : v | (v << 8);
    };
    if (kind_ == lkCircle) {
      c.SetAnimColorValue(i, color(b));
    } else {
      for (int j = 0; j < zone_count_; ++j)
        c.SetAnimColorValue(j + i * zone_count_,
                            color(SphereIntensity(b, j, zone_count_, sphere_horz_, sphere_vert_)));
    }
  }
  if (animating) c.EndAnimate();
}

void TMMLight::DrawLight() {
  TMMDIBCanvas& c = DIBCanvas();
  const TRect r = DrawingRect();
  c.DIB_InitDrawing();
  DrawCurrentData();
  c.DIB_BitBlt(&Canvas(), vant::Rect(r.Left, r.Top, w_, h_), 0, 0);
  c.DIB_DoneDrawing();
}

void TMMLight::Paint() {
  TMMDIBGraphicControl::Paint();
  DrawLight();
}
