#pragma once
// Markers of the marker panel: records kept in the order of their offsets, each with an
// identifier, an optional partner, a name shown as a hint, and its look. Every change is
// announced through TMMObject's notification; the list is copied only with Assign.
#include <cstdint>
#include <random>
#include <string>

#include "mmobj.h"
#include "mmrecordlist.h"

// A counted name stored inside the record, so records copy whole.
struct TMMMarkerName {
  static constexpr size_t kMaxLength = 63;
  uint8_t Length = 0;
  char Text[kMaxLength] = {};
  std::string Str() const { return std::string(Text, Length); }
  void Assign(const std::string& s);
};

struct TMMMarker {
  int32_t ID = 0;
  int32_t ConnectedID = 0;  // 0 or below: no partner
  int32_t Offset = 0;       // the sort key
  TMMMarkerName Name;
  bool Locked = false;  // drawn and hinted, never dragged
  bool Visible = false;
  uint32_t Color = 0;
};

class TMMMarkerList : public TMMObject {
 public:
  static constexpr int32_t kMaxListSize = TMMRecordList<TMMMarker>::kMaxListSize;

  TMMMarkerList() = default;
  ~TMMMarkerList() override;
  std::string ClassName() const override { return "TMMMarkerList"; }

  int32_t Count() const { return list_.Count(); }
  int32_t Capacity() const { return list_.Capacity(); }
  // The record in place.
  TMMMarker& Get(int32_t index) { return list_.Item(index); }
  const TMMMarker& Get(int32_t index) const { return list_.Get(index); }
  TMMMarker& First() { return Get(0); }
  TMMMarker& Last() { return Get(Count() - 1); }
  void Put(int32_t index, const TMMMarker& marker);

  int32_t Add(const TMMMarker& marker);
  // In offset order, after the markers of an equal offset.
  int32_t AddMarker(const TMMMarker& marker);
  void Insert(int32_t index, const TMMMarker& marker);
  void Delete(int32_t index);
  int32_t Remove(const TMMMarker& marker);
  virtual void Clear();
  void Exchange(int32_t i, int32_t j);
  void Move(int32_t from, int32_t to);
  void Expand() { list_.Expand(); }
  void SetCapacity(int32_t n) { list_.SetCapacity(n); }
  // New records are zero-filled; no notification.
  void SetCount(int32_t n) { list_.SetCount(n); }

  // The first record with the marker's offset, else -1.
  int32_t IndexOf(const TMMMarker& marker) const;
  // -1 for an empty list; else the first marker beyond offset, Count when none is.
  int32_t LocateMarker(int32_t offset) const;
  // The last marker at exactly offset, else -1.
  int32_t FindMarker(int32_t offset) const;
  bool QueryMarker(int32_t offset) const { return FindMarker(offset) < 0; }
  int32_t FindConnectedMarker(int32_t index) const;
  // An identifier above 0 that no marker uses.
  int32_t FindFreeID();

  // Moves the marker and re-sorts, as one change.
  void SetOffset(int32_t index, int32_t offset);
  void SetColor(int32_t index, uint32_t color);
  void Sort();
  void Assign(const vant::TPersistent* source) override;

 private:
  TMMRecordList<TMMMarker> list_;
  // Our own generator: identifiers never disturb the process's random sequence.
  std::mt19937 random_{std::random_device{}()};
};
