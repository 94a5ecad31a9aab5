#pragma once
// The enumerations and integer types the audio components, devices, controls and displays share.
// Kept apart from the rest of the toolbox so that a unit needing only these includes nothing else.
#include <cstdint>

enum TMMMode { mMono, mStereo, mMultiChannel };
enum TMMChannel { chBoth, chLeft, chRight };
enum TMMBits { b8Bit, b16Bit };
enum TMMSampleRate { sr11025, sr22050, sr44100 };
enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };
enum TMMCBMode { cmWindow, cmCallback, cmThread };
enum TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };
// Sliders and spin buttons lie one way or the other.
enum TMMOrientation { orVertical, orHorizontal };
// Ticks grow from a common inner edge or radius, or from a common outer one (scales, meters).
enum TMMScaleOrigin { soInner, soOuter };
// Which side of a slider or level bar a tick scale stands on.
enum TMMScalePos { spAboveOrLeft, spBelowOrRight, spBoth };
enum TMMFFTWindow {
  fwRectangular,
  fwHamming,
  fwHanning,
  fwBlackman,
  fwGaussian,
  fwWelch,
  fwParzen
};

using TMMDeviceId = int32_t;
constexpr TMMDeviceId MapperId = -1;
constexpr TMMDeviceId InvalidId = -2;
using TMMVolumeRange = int32_t;   // 0 .. 16384
using TMMEffectVolume = int32_t;  // -200 .. 200
using TMMFeedBack = int32_t;      // -100 .. 100
