#include "mmenvpoints.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr char kEnvMagic[4] = {'E', 'N', 'V', '\0'};
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

int32_t Clamp32(int64_t v, int64_t lo = kInt32Min, int64_t hi = kInt32Max) {
  return static_cast<int32_t>(std::clamp(v, lo, hi));
}

// a·b/c truncated toward zero, held inside 64 bits: the factors span up to 33 bits each, so the
// product needs 128 bits and the quotient may still not fit 32 (the caller clamps).
int64_t MulDivWide(int64_t a, int64_t b, int64_t c) {
  const __int128 q = static_cast<__int128>(a) * b / c;
  return static_cast<int64_t>(std::clamp<__int128>(q, INT64_MIN, INT64_MAX));
}

// v of the range a..b mapped onto c..d (truncated), then held inside c..d. An empty source
// range only shifts: stored ranges come from streams and may be anything.
int32_t MapInto(int32_t v, int32_t a, int32_t b, int32_t c, int32_t d) {
  const int64_t from = int64_t{v} - a;
  const int64_t mapped = a == b ? from : MulDivWide(from, int64_t{d} - c, int64_t{b} - a);
  return Clamp32(mapped + c, c, d);
}

// The y of the line through two points at position p (the line extends beyond them).
int32_t Interpolate(const TMMEnvelopePoint& p0, const TMMEnvelopePoint& p1, int64_t p) {
  if (p1.Position == p0.Position) return p0.Value;
  return Clamp32(p0.Value + MulDivWide(p - p0.Position, int64_t{p1.Value} - p0.Value,
                                       int64_t{p1.Position} - p0.Position));
}

const bool registered_at_start = [] {
  RegisterEnvelopePoint();
  return true;
}();

}  // namespace

void RegisterEnvelopePoint() {
  static const bool once = [] {
    DoRegisterClass<TMMEnvelopePoint>();
    return true;
  }();
  (void)once;
  (void)registered_at_start;
}

void TMMEnvelopePoint::Store(TStream& stream) const {
  stream.WriteValue<int32_t>(Position);
  stream.WriteValue<int32_t>(Value);
  stream.WriteValue<uint8_t>(Selected ? 1 : 0);
}

void TMMEnvelopePoint::Load(TStream& stream) {
  Position = stream.ReadValue<int32_t>();
  Value = stream.ReadValue<int32_t>();
  Selected = stream.ReadValue<uint8_t>() != 0;
}

// ---- the list ----

TMMEnvelopePointList::TMMEnvelopePointList() {
  RegisterEnvelopePoint();
  CreateInitPoints();
}

void TMMEnvelopePointList::PointsChanged() {
  Changing();
  Changed();
}

void TMMEnvelopePointList::CreateInitPoints() {
  BeginUpdate();
  FreeAll();
  AddObject(new TMMEnvelopePoint(ranges_.MinX, ranges_.BaseY));
  AddObject(new TMMEnvelopePoint(ranges_.MaxX, ranges_.BaseY));
  EndUpdate();
}

void TMMEnvelopePointList::Assign(const vant::TPersistent* source) {
  if (source == this) return;
  const auto* other = dynamic_cast<const TMMEnvelopePointList*>(source);
  if (source && !other) {
    TObjectList::Assign(source);
    return;
  }
  BeginUpdate();
  FreeAll();
  if (other)
    for (int32_t i = 0; i < other->Count(); ++i) {
      const TMMEnvelopePoint* p = other->GetPoint(i);
      AddObject(new TMMEnvelopePoint(p->Position, p->Value));
    }
  EndUpdate();
}

void TMMEnvelopePointList::WriteData(TStream& stream) const {
  stream.WriteBuffer(kEnvMagic, 4);
  stream.WriteValue<uint8_t>(GetOwnsObjects() ? 1 : 0);
  for (int32_t v : {ranges_.MinX, ranges_.MaxX, ranges_.MinY, ranges_.MaxY})
    stream.WriteValue<int32_t>(v);
  stream.WriteValue<int16_t>(static_cast<int16_t>(Count()));
  for (int32_t i = 0; i < Count(); ++i) WriteObjectToStream(Get(i), stream);
}

void TMMEnvelopePointList::ReadData(TStream& stream) {
  ReadMagic(stream, kEnvMagic);
  // The stored owns flag is not taken: the list always owns its points, else they would leak.
  stream.ReadValue<uint8_t>();
  int32_t stored[4];
  for (int32_t& v : stored) v = stream.ReadValue<int32_t>();
  const int32_t count = stream.ReadValue<int16_t>();
  if (count < 0) throw EStreamError("Invalid Object stream");
  // Never more points than the x range has positions; the rest stays unread.
  const auto n =
      static_cast<int32_t>(std::min<int64_t>(count, int64_t{ranges_.MaxX} - ranges_.MinX + 1));
  std::vector<vant::TObject*> objects;
  ReadObjects(stream, n, objects);
  bool usable = n >= 2 && stored[0] <= stored[1] && stored[2] <= stored[3];
  for (size_t i = 0; i < objects.size() && usable; ++i) {
    const auto* p = dynamic_cast<const TMMEnvelopePoint*>(objects[i]);
    if (!p) {
      FreeObjects(objects);
      throw EStreamError("Invalid Object stream");
    }
    usable = i == 0 || static_cast<const TMMEnvelopePoint*>(objects[i - 1])->Position < p->Position;
  }
  BeginUpdate();
  if (!usable) {
    // Too few points or points out of order: the default envelope instead.
    FreeObjects(objects);
    CreateInitPoints();
  } else {
    TakeObjects(objects, true);
    for (int32_t i = 0; i < Count(); ++i) GetPoint(i)->Selected = false;
    RemapPoints(stored[0], stored[1], stored[2], stored[3]);
  }
  EndUpdate();
}

void TMMEnvelopePointList::SetRanges(const TMMEnvelopeRanges& r) {
  TMMEnvelopeRanges n = r;
  if (n.MinX > n.MaxX) std::swap(n.MinX, n.MaxX);
  if (n.MinY > n.MaxY) std::swap(n.MinY, n.MaxY);
  n.MaxX = Clamp32(std::max<int64_t>(n.MaxX, int64_t{n.MinX} + 1));
  n.MaxY = Clamp32(std::max<int64_t>(n.MaxY, int64_t{n.MinY} + 1));
  n.BaseY = std::clamp(n.BaseY, n.MinY, n.MaxY);
  if (std::memcmp(&n, &ranges_, sizeof n) == 0) return;
  const TMMEnvelopeRanges old = ranges_;
  ranges_ = n;
  RemapPoints(old.MinX, old.MaxX, old.MinY, old.MaxY);
}

void TMMEnvelopePointList::RemapPoints(int32_t old_min_x, int32_t old_max_x, int32_t old_min_y,
                                       int32_t old_max_y) {
  BeginUpdate();
  const int32_t last = Count() - 1;
  for (int32_t i = 0; i <= last; ++i) {
    TMMEnvelopePoint* p = GetPoint(i);
    p->Position = i == 0 ? ranges_.MinX
                  : i == last
                      ? ranges_.MaxX
                      : MapInto(p->Position, old_min_x, old_max_x, ranges_.MinX, ranges_.MaxX);
    p->Value = MapInto(p->Value, old_min_y, old_max_y, ranges_.MinY, ranges_.MaxY);
  }
  // A narrower range can fold neighbours onto one position: drop the interior points that no
  // longer lie strictly after their predecessor and before the last point.
  for (int32_t i = 1; i < Count() - 1;) {
    const int32_t pos = GetPoint(i)->Position;
    if (pos <= GetPoint(i - 1)->Position || pos >= GetPoint(Count() - 1)->Position)
      FreeAt(i);
    else
      ++i;
  }
  PointsChanged();
  EndUpdate();
}

void TMMEnvelopePointList::ClearPoints() {
  BeginUpdate();
  for (int32_t i = Count() - 2; i >= 1; --i) FreeAt(i);
  Reset();
  EndUpdate();
}

void TMMEnvelopePointList::Reset() {
  for (int32_t i = 0; i < Count(); ++i) GetPoint(i)->Value = ranges_.BaseY;
  PointsChanged();
}

int32_t TMMEnvelopePointList::LocatePoint(int32_t position) const {
  const int32_t count = Count();
  if (count == 0) return -1;
  if (GetPoint(count - 1)->Position < position) return count;
  int32_t lo = 0, hi = count - 1;
  int32_t mid = hi / 2;
  while (hi > lo) {
    if (GetPoint(mid)->Position > position)
      hi = mid;
    else
      lo = mid + 1;
    mid = static_cast<int32_t>(static_cast<uint32_t>(lo + hi) >> 1);
  }
  return mid;
}

int32_t TMMEnvelopePointList::FindPoint(int32_t position) const {
  const int32_t i = LocatePoint(position);
  return i >= 1 && i <= Count() && GetPoint(i - 1)->Position == position ? i - 1 : -1;
}

bool TMMEnvelopePointList::QueryPoint(const TMMEnvelopePoint& point) const {
  if (Count() < 2) return true;
  return point.Position > GetPoint(0)->Position &&
         point.Position < GetPoint(Count() - 1)->Position && FindPoint(point.Position) < 0;
}

bool TMMEnvelopePointList::AddPoint(const TMMEnvelopePoint& point, bool interpolate) {
  if (!QueryPoint(point)) return false;
  const int32_t i = LocatePoint(point.Position);
  auto copy = std::make_unique<TMMEnvelopePoint>(point);
  if (i < 1 || i >= Count()) {
    AddObject(copy.release());
    return true;
  }
  if (interpolate) copy->Value = Interpolate(*GetPoint(i - 1), *GetPoint(i), point.Position);
  Insert(i, copy.release());
  return true;
}

void TMMEnvelopePointList::DelPoint(int32_t i) {
  if (i > 0 && i < Count() - 1) FreeAt(i);
}

int32_t TMMEnvelopePointList::Get_YValue(int32_t position) const {
  if (Count() == 0) return ranges_.BaseY;
  if (Count() == 1) return GetPoint(0)->Value;
  const int32_t i =
      std::clamp(LocatePoint(std::clamp(position, ranges_.MinX, ranges_.MaxX)), 1, Count() - 1);
  return Interpolate(*GetPoint(i - 1), *GetPoint(i), position);
}

void TMMEnvelopePointList::Scale(float factor) {
  float lo = -2147483648.0f, hi = 2147483648.0f;
  for (int32_t i = FirstMovable(); i <= LastMovable(); ++i) {
    const int32_t v = GetPoint(i)->Value;
    if (v == 0) continue;
    const float a = static_cast<float>(ranges_.MinY) / static_cast<float>(v);
    const float b = static_cast<float>(ranges_.MaxY) / static_cast<float>(v);
    lo = std::max(lo, std::min(a, b));
    hi = std::min(hi, std::max(a, b));
  }
  factor = std::clamp(factor, lo, std::max(lo, hi));
  if (factor == 1.0f) return;
  for (int32_t i = FirstMovable(); i <= LastMovable(); ++i) {
    TMMEnvelopePoint* p = GetPoint(i);
    p->Value =
        Clamp32(static_cast<int64_t>(std::nearbyint(static_cast<double>(p->Value) * factor)));
  }
  PointsChanged();
}

bool TMMEnvelopePointList::GetSelected(int32_t i) const {
  return i >= 0 && i < Count() && GetPoint(i)->Selected;
}

void TMMEnvelopePointList::SetSelected(int32_t i, bool selected) {
  if (i < FirstMovable() || i > LastMovable()) return;
  TMMEnvelopePoint* p = GetPoint(i);
  if (p->Selected == selected) return;
  p->Selected = selected;
  PointsChanged();
}

void TMMEnvelopePointList::SelectRange(int32_t i, int32_t j, bool selected) {
  if (i > j) std::swap(i, j);
  i = std::max(i, FirstMovable());
  j = std::min(j, LastMovable());
  for (int32_t k = i; k <= j; ++k) GetPoint(k)->Selected = selected;
  PointsChanged();
}

int32_t TMMEnvelopePointList::GetSelectedCount() const {
  int32_t n = 0;
  for (int32_t i = 0; i < Count(); ++i) n += GetPoint(i)->Selected ? 1 : 0;
  return n;
}

void TMMEnvelopePointList::DeleteSelected() {
  BeginUpdate();
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (GetPoint(i)->Selected) DelPoint(i);
  EndUpdate();
}

void TMMEnvelopePointList::GetMaxRange(int32_t i, int32_t& min_dx, int32_t& max_dx, int32_t& min_dy,
                                       int32_t& max_dy) const {
  const TMMEnvelopePoint* p = GetPoint(i);
  // Each limit only ever narrows, and never past 0.
  auto narrow_min = [](int32_t& limit, int64_t bound) {
    limit = Clamp32(std::max<int64_t>(limit, std::min<int64_t>(bound, 0)));
  };
  auto narrow_max = [](int32_t& limit, int64_t bound) {
    limit = Clamp32(std::min<int64_t>(limit, std::max<int64_t>(bound, 0)));
  };
  narrow_min(min_dy, int64_t{ranges_.MinY} - p->Value);
  narrow_max(max_dy, int64_t{ranges_.MaxY} - p->Value);
  if (i == 0 || i == Count() - 1) {
    narrow_min(min_dx, 0);
    narrow_max(max_dx, 0);
    return;
  }
  if (!GetPoint(i - 1)->Selected)
    narrow_min(min_dx, int64_t{GetPoint(i - 1)->Position} + 1 - p->Position);
  if (!GetPoint(i + 1)->Selected)
    narrow_max(max_dx, int64_t{GetPoint(i + 1)->Position} - (int64_t{p->Position} + 1));
}

void TMMEnvelopePointList::QueryPolyMove(int32_t& min_dx, int32_t& max_dx, int32_t& min_dy,
                                         int32_t& max_dy) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (GetPoint(i)->Selected) GetMaxRange(i, min_dx, max_dx, min_dy, max_dy);
}

void TMMEnvelopePointList::PolyShift(int32_t dx, int32_t dy) {
  for (int32_t i = 0; i < Count(); ++i) {
    TMMEnvelopePoint* p = GetPoint(i);
    if (!p->Selected) continue;
    p->Position = Clamp32(int64_t{p->Position} + dx);
    p->Value = Clamp32(int64_t{p->Value} + dy);
  }
  PointsChanged();
}
