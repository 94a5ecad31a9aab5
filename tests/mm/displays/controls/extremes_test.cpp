// The display controls painted once with each geometry property at the ends of int (the needle
// meter's table is beside its other tests).
#include <gtest/gtest.h>

#include <climits>

#include "display_form_fixture.h"
#include "mmlevel.h"
#include "mmlevelscale.h"
#include "mmlight.h"
#include "mmoscope.h"
#include "mmspectrum.h"
#include "mmspgram.h"
#include "paint_extremes.h"

namespace vant {
namespace {

using ExtremesTest = DisplayFormTest;

TEST_F(ExtremesTest, EveryControlPaintsWithAnyGeometry) {
  PaintExtremes<TMMLevel>(form, "TMMLevel",
                          {{"SpotWidth", [](TMMLevel& l, int v) { l.SetSpotWidth(v); }},
                           {"SpotSpace", [](TMMLevel& l, int v) { l.SetSpotSpace(v); }},
                           {"Point1", [](TMMLevel& l, int v) { l.SetPoint1(v); }},
                           {"Point2", [](TMMLevel& l, int v) { l.SetPoint2(v); }},
                           {"NumPeaks", [](TMMLevel& l, int v) { l.SetNumPeaks(v); }},
                           {"Samples", [](TMMLevel& l, int v) { l.SetSamples(v); }},
                           {"DCOffsetL", [](TMMLevel& l, int v) { l.SetDCOffsetL(v); }},
                           {"Gain", [](TMMLevel& l, int v) { l.SetGain(v); }},
                           {"Sensitivy", [](TMMLevel& l, int v) { l.SetSensitivy(v); }}});
  PaintExtremes<TMMLevelScale>(form, "TMMLevelScale",
                               {{"ScaleTicks", [](TMMLevelScale& s, int v) { s.SetScaleTicks(v); }},
                                {"symmetric ScaleTicks",
                                 [](TMMLevelScale& s, int v) {
                                   s.SetDirection(dirSymetric);
                                   s.SetScaleTicks(v);
                                 }},
                                {"vertical ScaleTicks",
                                 [](TMMLevelScale& s, int v) {
                                   s.SetKind(lkVertical);
                                   s.SetScaleTicks(v);
                                 }},
                                {"Scale.TickCount",
                                 [](TMMLevelScale& s, int v) {
                                   s.Scale().SetVisible(true);
                                   s.Scale().SetTickCount(v);
                                 }},
                                {"Scale.Size",
                                 [](TMMLevelScale& s, int v) {
                                   s.Scale().SetVisible(true);
                                   s.Scale().SetSize(v);
                                 }},
                                {"Point1", [](TMMLevelScale& s, int v) { s.SetPoint1(v); }},
                                {"Point2", [](TMMLevelScale& s, int v) { s.SetPoint2(v); }}});
  PaintExtremes<TMMLight>(form, "TMMLight",
                          {{"TriangleDist", [](TMMLight& l, int v) { l.SetTriangleDist(v); }},
                           {"ZoneCount", [](TMMLight& l, int v) { l.SetZoneCount(v % 79); }},
                           {"FFTLength", [](TMMLight& l, int v) { l.SetFFTLength(v); }},
                           {"SampleRate", [](TMMLight& l, int v) { l.SetSampleRate(v); }}});
  PaintExtremes<TMMSpectrum>(
      form, "TMMSpectrum",
      {{"Space", [](TMMSpectrum& s, int v) { s.SetSpace(v); }},
       {"SpotSpace", [](TMMSpectrum& s, int v) { s.SetSpotSpace(v); }},
       {"SpotHeight", [](TMMSpectrum& s, int v) { s.SetSpotHeight(v); }},
       {"FFTLength", [](TMMSpectrum& s, int v) { s.SetFFTLength(v); }},
       {"FrequencyScale", [](TMMSpectrum& s, int v) { s.SetFrequencyScale(v); }},
       {"VerticalScale", [](TMMSpectrum& s, int v) { s.SetVerticalScale(v); }},
       {"SampleRate", [](TMMSpectrum& s, int v) { s.SetSampleRate(v); }},
       {"RefFreq", [](TMMSpectrum& s, int v) { s.SetRefFreq(v); }},
       {"NumPeaks", [](TMMSpectrum& s, int v) { s.SetNumPeaks(v); }}});
  PaintExtremes<TMMOscope>(form, "TMMOscope",
                           {{"BarWidth", [](TMMOscope& o, int v) { o.SetBarWidth(v); }},
                            {"Steps", [](TMMOscope& o, int v) { o.SetSteps(v); }},
                            {"Zoom", [](TMMOscope& o, int v) { o.SetZoom(v); }},
                            {"Gain", [](TMMOscope& o, int v) { o.SetGain(v); }},
                            {"FFTLength", [](TMMOscope& o, int v) { o.SetFFTLength(v); }},
                            {"Locator", [](TMMOscope& o, int v) { o.SetLocator(v); }},
                            {"SampleRate", [](TMMOscope& o, int v) { o.SetSampleRate(v); }}});
  PaintExtremes<TMMSpectrogram>(
      form, "TMMSpectrogram",
      {{"BarWidth", [](TMMSpectrogram& s, int v) { s.SetBarWidth(v); }},
       {"FFTLength", [](TMMSpectrogram& s, int v) { s.SetFFTLength(v); }},
       {"FrequencyBase", [](TMMSpectrogram& s, int v) { s.SetFrequencyBase(v); }},
       {"FrequencyScale", [](TMMSpectrogram& s, int v) { s.SetFrequencyScale(v); }},
       {"Locator", [](TMMSpectrogram& s, int v) { s.SetLocator(v); }},
       {"SampleRate", [](TMMSpectrogram& s, int v) { s.SetSampleRate(v); }},
       {"AmplitudeScale", [](TMMSpectrogram& s, int v) { s.SetAmplitudeScale(v); }},
       {"Sensitivy", [](TMMSpectrogram& s, int v) { s.SetSensitivy(v); }}});
}

}  // namespace
}  // namespace vant
