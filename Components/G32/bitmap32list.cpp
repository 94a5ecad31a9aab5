#include "bitmap32list.h"

namespace g32 {

TBitmap32Item::TBitmap32Item(TBitmap32Collection* Collection)
    : collection_(Collection), bitmap_(std::make_unique<TBitmap32>()) {}

TBitmap32Item::~TBitmap32Item() = default;

int TBitmap32Item::Index() const { return collection_ ? collection_->IndexOf(this) : -1; }

TBitmap32Collection::~TBitmap32Collection() = default;

TBitmap32Item* TBitmap32Collection::Add() {
  items_.push_back(std::make_unique<TBitmap32Item>(this));
  return items_.back().get();
}

TBitmap32Item* TBitmap32Collection::Items(int Index) const {
  if (Index < 0 || Index >= Count()) ListIndexError(Index);
  return items_[size_t(Index)].get();
}

void TBitmap32Collection::SetItems(int Index, const TBitmap32Item*) {
  Items(Index);
  throw EConvertError("Cannot assign a TBitmap32Item to a TBitmap32Item");
}

void TBitmap32Collection::Delete(int Index) {
  Items(Index);
  items_.erase(items_.begin() + Index);
}

void TBitmap32Collection::Clear() { items_.clear(); }

void TBitmap32Collection::Assign(const TBitmap32Collection& Source) {
  if (&Source == this) return;
  Clear();
  for (const auto& item : Source.items_) Add()->SetBitmap(item->GetBitmap());
}

int TBitmap32Collection::IndexOf(const TBitmap32Item* Item) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == Item) return int(i);
  return -1;
}

}  // namespace g32
