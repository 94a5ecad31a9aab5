// Fade lists (interpolation, the ramp over streamed data, clipping) and cut lists (regions,
// lookup, change notification); both share the bounded record list.
#include "mmfade.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mmcutlist.h"
#include "mmpcmsup.h"

namespace {

WAVEFORMATEX Pcm(uint16_t channels, uint16_t bits) {
  const uint16_t align = channels * bits / 8;
  return {WAVE_FORMAT_PCM, channels, 48000, 48000u * align, align, bits, 0};
}

TMMFadePoint Point(int64_t pos, int32_t vol, int32_t left = -1, int32_t right = -1) {
  return {pos, vol, left < 0 ? vol : left, right < 0 ? vol : right, 0};
}

TMMFadeList List(std::initializer_list<TMMFadePoint> points) {
  TMMFadeList l;
  for (const auto& p : points) l.Add(p);
  return l;
}

std::vector<int16_t> Samples16(size_t n, int16_t v) { return std::vector<int16_t>(n, v); }

TEST(FadeList, RampsFromSilenceToFullOverItsSpanWhateverTheSliceSize) {
  for (int64_t slice : {int64_t{48000}, int64_t{16000}, int64_t{998}}) {
    TMMFadeList l = List({Point(0, 0), Point(48000, 16384)});
    EXPECT_EQ(l.CalcFadeVolume(24000), 8192);
    auto s = Samples16(24000 + 100, 16000);
    const auto f = Pcm(1, 16);
    for (int64_t done = 0; done < int64_t(s.size() * 2); done += slice) {
      const int64_t n = std::min<int64_t>(slice, s.size() * 2 - done);
      EXPECT_FALSE(pcmVolumeFade(&f, reinterpret_cast<char*>(s.data()) + done, n, l));
    }
    EXPECT_EQ(s[0], 0);
    for (size_t k : {size_t{6000}, size_t{12000}, size_t{18000}}) {
      EXPECT_NEAR(s[k], 16000.0 * k / 24000, 4) << "slice " << slice << " sample " << k;
    }
    // Past the last point the data is left as it is.
    EXPECT_EQ(s[24050], 16000);
    EXPECT_EQ(l.CurPosition, int64_t(s.size() * 2));
  }
}

// Slices that cut frames, and samples, in two ramp the stream as one pass does, every sample
// included, when each slice may look at the start of the next. Without that view the first byte
// of a sample cut in two leaves unscaled (it cannot be scaled without the second): only those
// samples may then differ.
TEST(FadeList, SlicesThatAreNotWholeFramesRampAsOnePass) {
  const auto f = Pcm(2, 16);
  auto fresh = [] {
    // Half volume, a ramp up to unity, then down to silence.
    TMMFadeList l = List({Point(0, 8192), Point(4000, 8192), Point(12000, 16384), Point(20000, 0)});
    l.CurLeftVolume = l.CurRightVolume = 8192;
    return l;
  };
  std::vector<int16_t> in(5200 * 2);
  for (size_t i = 0; i < in.size(); i += 2) {
    in[i] = 10000;
    in[i + 1] = int16_t(-7000 + int(i % 97));
  }
  std::vector<int16_t> whole = in;
  TMMFadeList one = fresh();
  pcmVolumeFade(&f, whole.data(), int64_t(whole.size()) * 2, one);
  EXPECT_EQ(whole[0], 5000);  // 10,000 at half volume
  EXPECT_EQ(whole[1998], 5000);
  EXPECT_EQ(whole[2 * 2000], 10000 * 12288 >> 14);  // half way up the ramp
  for (bool view : {true, false}) {
    for (int64_t slice :
         {int64_t{7}, int64_t{3}, int64_t{6}, int64_t{1}, int64_t{4}, int64_t{998}}) {
      SCOPED_TRACE(::testing::Message() << "slice " << slice << (view ? ", next in view" : ""));
      std::vector<int16_t> got = in;
      TMMFadeList l = fresh();
      auto* bytes = reinterpret_cast<char*>(got.data());
      const int64_t total = int64_t(got.size()) * 2;
      for (int64_t done = 0; done < total; done += slice) {
        const int64_t n = std::min(slice, total - done);
        pcmVolumeFade(&f, bytes + done, n, l, view ? total - done - n : 0);
      }
      EXPECT_EQ(l.CurPosition, total);
      int worst = 0, worst_cut = 0;
      for (size_t i = 0; i < got.size(); ++i) {
        const bool cut = (2 * int64_t(i) + 1) % slice == 0;
        const int diff = std::abs(got[i] - whole[i]);
        (cut ? worst_cut : worst) = std::max(cut ? worst_cut : worst, diff);
      }
      EXPECT_EQ(worst, 0);
      if (view) {
        EXPECT_EQ(worst_cut, 0);
      } else {
        EXPECT_LE(worst_cut, 255);
      }
    }
  }
  // The ramp's first sample, cut in two by one-byte slices that see the next byte, comes out 1.
  std::vector<int16_t> ramp(8, 16);
  TMMFadeList up = List({Point(0, 0), Point(16, 16384)});
  up.CurLeftVolume = up.CurRightVolume = 1024;
  std::vector<int16_t> ramp_whole = ramp;
  TMMFadeList up_whole = up;
  pcmVolumeFade(&f, ramp_whole.data(), 16, up_whole);
  auto* rb = reinterpret_cast<char*>(ramp.data());
  for (int64_t b = 0; b < 16; ++b) pcmVolumeFade(&f, rb + b, 1, up, 15 - b);
  EXPECT_EQ(ramp, ramp_whole);
  EXPECT_EQ(ramp[0], 1);
}

TEST(FadeList, CalcFadeVolumeInterpolatesAndContinuesTheLastLine) {
  TMMFadeList l = List({Point(1000, 0), Point(2000, 1000), Point(4000, 3000)});
  struct {
    int64_t pos;
    int32_t volume;
  } cases[] = {{0, 0}, {1000, 0}, {1500, 500}, {2000, 1000}, {3000, 2000}, {6000, 5000}};
  for (auto c : cases) EXPECT_EQ(l.CalcFadeVolume(c.pos), c.volume) << c.pos;
  // Positions beyond 2^31 bytes do not wrap.
  TMMFadeList big = List({Point(0, 0), Point(int64_t{6} << 30, 16384)});
  EXPECT_EQ(big.CalcFadeVolume(int64_t{3} << 30), 8192);
  EXPECT_EQ(TMMFadeList().CalcFadeVolume(5), 0);
}

TEST(FadeList, PointsGoInOnlyStrictlyInsideAndOffExistingOnes) {
  TMMFadeList l = List({Point(0, 0), Point(100, 1000), Point(400, 4000)});
  EXPECT_FALSE(l.AddFadePoint(Point(0, 5), false));    // at the first
  EXPECT_FALSE(l.AddFadePoint(Point(100, 5), false));  // on a point
  EXPECT_FALSE(l.AddFadePoint(Point(500, 5), false));  // after the last
  EXPECT_TRUE(l.AddFadePoint(Point(250, 5), true));    // volume from the curve
  ASSERT_EQ(l.Count(), 4);
  EXPECT_EQ(l[2].Position, 250);
  EXPECT_EQ(l[2].Volume, 2500);
  EXPECT_EQ(l.FindFadePoint(250), 2);
  EXPECT_EQ(l.FindFadePoint(251), -1);
  EXPECT_TRUE(TMMFadeList().QueryFadePoint(Point(7, 0)));
}

TEST(FadeList, CopiesPointsFromAndToAnEnvelope) {
  TMMEnvelopePointList env;
  env.SetRanges({0, 4000, 0, 32768, 16384});
  env.AddPoint(TMMEnvelopePoint(1000, 8000), false);
  TMMFadeList fades;
  fades.AssignEnvelope(env);
  ASSERT_EQ(fades.Count(), 3);
  EXPECT_EQ(fades[1].Position, 1000);
  EXPECT_EQ(fades[1].Volume, 8000);
  EXPECT_EQ(fades[2].Position, 4000);

  // Back, with the end volumes kept: the envelope's ends take the fade points there.
  fades.Put(0, {0, 0, 0, 0, 1});
  fades.Put(2, {4000, 32768, 0, 0, 0});
  TMMEnvelopePointList back;
  back.SetRanges({0, 4000, 0, 32768, 16384});
  back.AddPoint(TMMEnvelopePoint(3000, 1), false);
  fades.AssignToEnvelope(back);
  ASSERT_EQ(back.Count(), 3);
  const int32_t expected[3][2] = {{0, 0}, {1000, 8000}, {4000, 32768}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back.GetPoint(i)->Position, expected[i][0]);
    EXPECT_EQ(back.GetPoint(i)->Value, expected[i][1]);
    EXPECT_FALSE(back.GetPoint(i)->Selected);
  }
}

TEST(FadeList, SortOrdersByPosition) {
  TMMFadeList l;
  const int64_t positions[] = {90, 10, 50, 30, 70, 20, 80, 40, 60, 0, 100,
                               5,  95, 15, 85, 25, 75, 35, 65, 45, 55};
  for (int64_t p : positions) l.Add(Point(p, 0));
  l.Sort();
  for (int32_t i = 1; i < l.Count(); ++i) EXPECT_LT(l[i - 1].Position, l[i].Position);
  TMMFadeList copy;
  l.Put(3, TMMFadePoint{l[3].Position, 7, 7, 7, 1});
  copy.Assign(&l);
  ASSERT_EQ(copy.Count(), l.Count());
  EXPECT_EQ(copy[3].Volume, 7);
  EXPECT_FALSE(copy.Selected(3));
}

TEST(FadeList, IndexesAndSizesOutsideTheLimitsRaise) {
  TMMFadeList l;
  EXPECT_THROW(l.Get(0), EListError);
  EXPECT_THROW(l.First(), EListError);
  EXPECT_THROW(l.Insert(1, Point(0, 0)), EListError);
  EXPECT_THROW(l.SetCount(-1), EListError);
  l.SetCount(3);
  EXPECT_EQ(l[2].Position, 0);
  EXPECT_THROW(l.SetCapacity(2), EListError);
  EXPECT_THROW(l.Delete(3), EListError);
  // Growth steps: +4 below 5, +8 up to 8, +16 from 9.
  TMMFadeList g;
  std::vector<int32_t> capacities;
  for (int i = 0; i < 17; ++i) {
    g.Add(Point(i, 0));
    if (capacities.empty() || capacities.back() != g.Capacity()) capacities.push_back(g.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{4, 8, 16, 32}));
}

TEST(FadeVolume, ConstantVolumesScaleAndClipWithoutTheGlobalFlag) {
  Overflow = false;
  const auto f16 = Pcm(1, 16);
  TMMFadeList l = List({Point(0, 32768), Point(1000, 32768)});
  l.CurLeftVolume = l.CurRightVolume = 32768;
  std::vector<int16_t> s = {20000, 1000, -20000, -1000};
  EXPECT_TRUE(pcmVolumeFade(&f16, s.data(), 8, l));
  EXPECT_EQ(s, (std::vector<int16_t>{32767, 2000, -32768, -2000}));
  EXPECT_FALSE(pcmVolumeFade(&f16, s.data() + 1, 2, l)) << "2000 doubled fits";
  EXPECT_FALSE(Overflow.load());

  const auto f8 = Pcm(1, 8);
  TMMFadeList l8 = List({Point(0, 32768), Point(1000, 32768)});
  l8.CurLeftVolume = l8.CurRightVolume = 32768;
  std::vector<uint8_t> b = {228, 138, 28};
  EXPECT_TRUE(pcmVolumeFade(&f8, b.data(), 3, l8));
  EXPECT_EQ(b, (std::vector<uint8_t>{255, 148, 0}));
}

TEST(FadeVolume, SilentSegmentsAndPanningAndNonPcm) {
  const auto f8 = Pcm(1, 8);
  TMMFadeList quiet = List({Point(0, 0), Point(10, 0)});
  std::vector<uint8_t> b(6, 200);
  pcmVolumeFade(&f8, b.data(), 6, quiet);
  EXPECT_EQ(b, std::vector<uint8_t>(6, 128));

  // Stereo with the left channel panned to half: each channel its own volume.
  const auto f16 = Pcm(2, 16);
  TMMFadeList pan = List({Point(0, 16384, 8192, 16384), Point(400, 16384, 8192, 16384)});
  pan.CurLeftVolume = 8192;
  pan.CurRightVolume = 16384;
  std::vector<int16_t> s = {1000, 1000, -3000, -3000};
  pcmVolumeFade(&f16, s.data(), 8, pan);
  EXPECT_EQ(s, (std::vector<int16_t>{500, 1000, -1500, -3000}));

  WAVEFORMATEX adpcm = f16;
  adpcm.wFormatTag = 2;
  EXPECT_FALSE(pcmVolumeFade(&adpcm, s.data(), 8, quiet));
  EXPECT_EQ(s[0], 500);
}

// ---- cut list ----

TMMCutRegion Region(int32_t start, int32_t length) {
  return {start, start * 4, length, length * 4, 0};
}

TEST(CutList, RegionsStaySortedAndDoNotStartInsideEachOther) {
  TMMCutList l;
  int changes = 0;
  l.OnChange = [&](vant::TObject*) { ++changes; };
  EXPECT_TRUE(l.AddRegion(Region(1000, 500)));
  EXPECT_TRUE(l.AddRegion(Region(100, 100)));
  EXPECT_TRUE(l.AddRegion(Region(3000, 10)));
  EXPECT_FALSE(l.AddRegion(Region(1200, 10))) << "starts inside 1000..1499";
  EXPECT_TRUE(l.AddRegion(Region(1500, 10))) << "right after it";
  ASSERT_EQ(l.Count(), 4);
  EXPECT_EQ(l[0].dwStartSample, 100);
  EXPECT_EQ(l[1].dwStartSample, 1000);
  EXPECT_EQ(l[2].dwStartSample, 1500);
  EXPECT_EQ(changes, 4);

  EXPECT_EQ(l.FindRegion(1499), 1);
  EXPECT_EQ(l.FindRegion(1509), 2);
  EXPECT_EQ(l.FindRegion(1510), -1);
  EXPECT_EQ(l.FindRegion(99), -1);
  EXPECT_EQ(l.FindRegion(5000), -1);

  l.SetParams(0, 0, 50);
  EXPECT_EQ(changes, 5) << "both fields in one change";
  EXPECT_EQ(l.IndexOf(Region(0, 50)), 0);
  EXPECT_EQ(l.Remove(Region(1500, 10)), 2);
  EXPECT_EQ(l.Remove(Region(1500, 10)), -1);
  EXPECT_THROW(l.SetParams(9, 0, 0), EListError);

  TMMCutList copy;
  copy.Assign(&l);
  EXPECT_EQ(copy.Count(), l.Count());
  copy.Assign(nullptr);
  EXPECT_EQ(copy.Count(), 0);
}

}  // namespace
