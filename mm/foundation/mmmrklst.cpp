#include "mmmrklst.h"

#include <algorithm>
#include <cstring>

namespace {
int64_t OffsetOf(const TMMMarker& m) { return m.Offset; }
}  // namespace

void TMMMarkerName::Assign(const std::string& s) {
  Length = static_cast<uint8_t>(std::min(s.size(), kMaxLength));
  std::memset(Text, 0, sizeof Text);
  std::memcpy(Text, s.data(), Length);
}

TMMMarkerList::~TMMMarkerList() {
  OnChanging = nullptr;
  OnChange = nullptr;
}

void TMMMarkerList::Put(int32_t index, const TMMMarker& marker) {
  list_.Get(index);
  Changing();
  list_.Put(index, marker);
  Changed();
}

int32_t TMMMarkerList::Add(const TMMMarker& marker) {
  Changing();
  const int32_t i = list_.Add(marker);
  Changed();
  return i;
}

int32_t TMMMarkerList::AddMarker(const TMMMarker& marker) {
  const int32_t i = LocateMarker(marker.Offset);
  if (i < 0 || i == Count()) return Add(marker);
  Insert(i, marker);
  return i;
}

void TMMMarkerList::Insert(int32_t index, const TMMMarker& marker) {
  if (index < 0 || index > Count()) list_.Get(index);  // raises
  Changing();
  list_.Insert(index, marker);
  Changed();
}

void TMMMarkerList::Delete(int32_t index) {
  list_.Get(index);
  Changing();
  list_.Delete(index);
  Changed();
}

int32_t TMMMarkerList::Remove(const TMMMarker& marker) {
  const int32_t i = IndexOf(marker);
  if (i >= 0) Delete(i);
  return i;
}

void TMMMarkerList::Clear() {
  Changing();
  list_.Clear();
  Changed();
}

void TMMMarkerList::Exchange(int32_t i, int32_t j) {
  list_.Get(i);
  list_.Get(j);
  Changing();
  std::swap(list_.Item(i), list_.Item(j));
  Changed();
}

void TMMMarkerList::Move(int32_t from, int32_t to) {
  if (from == to) return;
  const TMMMarker m = list_.Get(from);
  list_.Get(to);
  Delete(from);
  Insert(to, m);
}

int32_t TMMMarkerList::IndexOf(const TMMMarker& marker) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (list_.Get(i).Offset == marker.Offset) return i;
  return -1;
}

int32_t TMMMarkerList::LocateMarker(int32_t offset) const { return list_.Locate(offset, OffsetOf); }

int32_t TMMMarkerList::FindMarker(int32_t offset) const {
  const int32_t i = LocateMarker(offset);
  return i > 0 && list_.Get(i - 1).Offset == offset ? i - 1 : -1;
}

int32_t TMMMarkerList::FindConnectedMarker(int32_t index) const {
  const int32_t id = list_.Get(index).ConnectedID;
  if (id <= 0) return -1;
  for (int32_t i = 0; i < Count(); ++i)
    if (list_.Get(i).ID == id) return i;
  return -1;
}

int32_t TMMMarkerList::FindFreeID() {
  std::uniform_int_distribution<int32_t> draw(1, 2147483646);
  for (;;) {
    const int32_t id = draw(random_);
    bool used = false;
    for (int32_t i = 0; i < Count() && !used; ++i) used = list_.Get(i).ID == id;
    if (!used) return id;
  }
}

void TMMMarkerList::SetOffset(int32_t index, int32_t offset) {
  list_.Get(index);
  BeginUpdate();
  list_.Item(index).Offset = offset;
  Sort();
  EndUpdate();
}

void TMMMarkerList::SetColor(int32_t index, uint32_t color) {
  if (list_.Get(index).Color == color) return;
  Changing();
  list_.Item(index).Color = color;
  Changed();
}

void TMMMarkerList::Sort() {
  Changing();
  list_.Sort(OffsetOf, TMMRecordList<TMMMarker>::FirstGap::kAtMostNinth);
  Changed();
}

void TMMMarkerList::Assign(const vant::TPersistent* source) {
  if (source == this) return;
  if (source && !dynamic_cast<const TMMMarkerList*>(source)) {
    TMMObject::Assign(source);
    return;
  }
  const auto* other = static_cast<const TMMMarkerList*>(source);
  BeginUpdate();
  Clear();
  if (other)
    for (int32_t i = 0; i < other->Count(); ++i) Add(other->Get(i));
  Sort();
  EndUpdate();
}
