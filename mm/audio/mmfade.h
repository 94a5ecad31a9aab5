#pragma once
// Fade lists: sorted points (byte position, volume, volume after panning) and the routine that
// ramps PCM data between them as it streams past. The audio file and the wave object drive
// their volume, panning, fade-in and fade-out through one list each. Positions are 64-bit so
// that a long play length or a fade beyond 2 GB does not wrap.
#include <cstdint>

#include "mmenvpoints.h"
#include "mmobj.h"
#include "mmrecordlist.h"
#include "mmwaveformat.h"

struct TMMFadePoint {
  int64_t Position;    // bytes from the start of the data
  int32_t Volume;      // 16,384 unity, 0 silence, 32,768 twice the amplitude
  int32_t LeftVolume;  // the volume after panning
  int32_t RightVolume;
  uint32_t Selected;
};
using PMMFadePoint = TMMFadePoint*;

class TMMFadeList : public TMMObject {
 public:
  std::string ClassName() const override { return "TMMFadeList"; }

  int32_t Count() const { return list_.Count(); }
  int32_t Capacity() const { return list_.Capacity(); }
  int32_t Add(const TMMFadePoint& point) { return list_.Add(point); }
  void Insert(int32_t index, const TMMFadePoint& point) { list_.Insert(index, point); }
  void Delete(int32_t index) { list_.Delete(index); }
  const TMMFadePoint& Get(int32_t index) const { return list_.Get(index); }
  const TMMFadePoint& operator[](int32_t index) const { return list_.Get(index); }
  void Put(int32_t index, const TMMFadePoint& point) { list_.Put(index, point); }
  bool Selected(int32_t index) const { return list_.Get(index).Selected != 0; }
  const TMMFadePoint& First() const { return list_.First(); }
  const TMMFadePoint& Last() const { return list_.Last(); }
  void Clear() { list_.Clear(); }
  void Grow() { list_.Grow(); }
  void Expand() { list_.Expand(); }
  void SetCapacity(int32_t n) { list_.SetCapacity(n); }
  void SetCount(int32_t n) { list_.SetCount(n); }

  // -1 for an empty list, Count when position >= the last point's, else the index of the first
  // point after position.
  int32_t LocateFadePoint(int64_t position) const;
  // The index of the point exactly at position, else -1.
  int32_t FindFadePoint(int64_t position) const;
  // The volume on the line through the two points around position; beyond the last point the
  // last segment's line continues (held inside the 32-bit range).
  int32_t CalcFadeVolume(int64_t position) const;
  // Whether a point may go in at its position: strictly between the first and the last point
  // and not on an existing one (anything goes into an empty list).
  bool QueryFadePoint(const TMMFadePoint& point) const;
  // Inserts the point in order when QueryFadePoint allows it, taking its volume from the curve
  // when asked.
  bool AddFadePoint(TMMFadePoint point, bool volume_from_curve);
  void Sort();
  // Another fade list (or none): copies of its points, unselected.
  void Assign(const vant::TPersistent* source) override;
  // One point per envelope point: its position and value become position and volume (the
  // owner works out the panned volumes).
  void AssignEnvelope(const TMMEnvelopePointList& envelope);
  // The envelope's points become the fade points (position, volume, unselected). The envelope
  // keeps two end points at its range's edges: they take the volumes of the fade points there.
  void AssignToEnvelope(TMMEnvelopePointList& envelope) const;

  // Playback state that pcmVolumeFade advances: the owner sets it before the first ramp.
  bool Enabled = false;
  int32_t CurIndex = 0;
  int64_t CurPosition = 0;
  int32_t CurLeftVolume = 0;
  int32_t CurRightVolume = 0;

  // pcmVolumeFade's own memory between slices, so that slices of any size, whole frames or not,
  // ramp as one pass would: where the ramp under way began (on a frame's start) and towards
  // which point, where the last slice ended, and the first byte of a sample it cut in two.
  // A slice that does not start where the last one ended, with the volumes it left, begins a
  // new ramp from the current position and volumes.
  struct TRampState {
    bool Valid = false;
    int64_t Origin = 0;  // byte position of the ramp's first frame
    int32_t FromLeft = 0, FromRight = 0;
    TMMFadePoint Target{};
    int64_t End = -1;  // where the last slice ended, and the volumes it left
    int32_t EndLeft = 0, EndRight = 0;
    int32_t CutByte = -1;  // the first byte of a sample cut in two (at End - 1), else -1
    int32_t CutHigh = -1;  // the scaled second byte of a cut sample that was seen whole
  };
  TRampState RampState;

 private:
  TMMRecordList<TMMFadePoint> list_;
};

// Applies the list to `bytes` bytes of PCM data starting at the list's current position and
// advances it. Answers whether any sample had to be clipped; non-PCM data is left alone (false).
// `ahead` bytes after the slice may be read (the start of the next slice, not yet ramped): a
// sample the slice cuts in two can only come out as in one pass when its rest is in view, since
// its first byte leaves with this slice; without it, that byte leaves as it came.
bool pcmVolumeFade(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list,
                   int64_t ahead = 0);
bool pcmVolumeFade8(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list,
                    int64_t ahead = 0);
bool pcmVolumeFade16(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, TMMFadeList& list,
                     int64_t ahead = 0);
