#pragma once
// The envelope's data: points (position, value, selected) in strictly ascending positions over a
// value range, the "ENV" stream that records the range it was written with and remaps on
// reading, and the editing rules the envelope editor applies (adding, deleting, selecting,
// scaling and moving points without passing unselected neighbours or leaving the range).
// No drawing here: the editor control stands on it.
#include <cstdint>
#include <string>

#include "mmobjlst.h"

class TMMEnvelopePoint : public vant::TPersistent {
 public:
  TMMEnvelopePoint() = default;
  TMMEnvelopePoint(int32_t position, int32_t value, bool selected = false)
      : Position(position), Value(value), Selected(selected) {}
  std::string ClassName() const override { return "TMMEnvelopePoint"; }
  // 9 bytes: position, value (int32 each), selected.
  void Store(TStream& stream) const;
  void Load(TStream& stream);

  int32_t Position = 0;
  int32_t Value = 0;
  bool Selected = false;
};

// Registers the point class with the object stream (done once; safe to repeat).
void RegisterEnvelopePoint();

struct TMMEnvelopeRanges {
  int32_t MinX = 0, MaxX = 1000, MinY = 0, MaxY = 1000, BaseY = 500;
};

class TMMEnvelopePointList : public TObjectList {
 public:
  // Starts with the two end points at BaseY.
  TMMEnvelopePointList();
  std::string ClassName() const override { return "TMMEnvelopePointList"; }

  TMMEnvelopePoint* GetPoint(int32_t i) const { return static_cast<TMMEnvelopePoint*>(Get(i)); }
  void PutPoint(int32_t i, TMMEnvelopePoint* point) { Put(i, point); }
  // Another point list (or none): unselected copies of its points.
  void Assign(const vant::TPersistent* source) override;
  void ReadData(TStream& stream) override;
  void WriteData(TStream& stream) const override;

  // The range the points live in; change it through SetRanges, which remaps.
  const TMMEnvelopeRanges& Ranges() const { return ranges_; }
  void SetRanges(const TMMEnvelopeRanges& ranges);
  bool MoveFirstPoint = true;
  bool MoveLastPoint = true;
  int32_t FirstMovable() const { return MoveFirstPoint ? 0 : 1; }
  int32_t LastMovable() const { return Count() - (MoveLastPoint ? 1 : 2); }

  void CreateInitPoints();
  // Every point but the ends goes; then Reset.
  void ClearPoints();
  // Every value to BaseY.
  void Reset();
  int32_t LocatePoint(int32_t position) const;
  int32_t FindPoint(int32_t position) const;
  bool QueryPoint(const TMMEnvelopePoint& point) const;
  // Inserts a copy in order; with interpolate its value comes from the polyline.
  bool AddPoint(const TMMEnvelopePoint& point, bool interpolate);
  void DelPoint(int32_t i);
  int32_t Get_YValue(int32_t position) const;
  void Scale(float factor);
  void RemapPoints(int32_t old_min_x, int32_t old_max_x, int32_t old_min_y, int32_t old_max_y);

  bool GetSelected(int32_t i) const;
  void SetSelected(int32_t i, bool selected);
  void SelectRange(int32_t i, int32_t j, bool selected);
  void SelectAll(bool selected) { SelectRange(0, Count() - 1, selected); }
  int32_t GetSelectedCount() const;
  void DeleteSelected();

  // Narrows the four limits (each towards 0) by what selected point i allows.
  void GetMaxRange(int32_t i, int32_t& min_dx, int32_t& max_dx, int32_t& min_dy,
                   int32_t& max_dy) const;
  void QueryPolyMove(int32_t& min_dx, int32_t& max_dx, int32_t& min_dy, int32_t& max_dy) const;
  void PolyShift(int32_t dx, int32_t dy);

 protected:
  // Announces a change of the points' contents (not of the list's order).
  void PointsChanged();

 private:
  TMMEnvelopeRanges ranges_;
};
