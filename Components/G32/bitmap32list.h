#pragma once
// Numbered TBitmap32 pictures kept in a collection, as the skin modules hold their pictures. The
// layout writer stores each item as its bitmap's "Data" ("Bitmap.Data"); an empty item has no
// stored properties at all.
#include <memory>
#include <vector>

#include "g32.h"

namespace g32 {

class TBitmap32Collection;

class TBitmap32Item : public TObject {
 public:
  explicit TBitmap32Item(TBitmap32Collection* Collection);
  ~TBitmap32Item() override;

  // The item's own bitmap (not a copy).
  TBitmap32* GetBitmap() { return bitmap_.get(); }
  const TBitmap32* GetBitmap() const { return bitmap_.get(); }
  // Copies with TBitmap32::Assign; the item keeps its own bitmap.
  void SetBitmap(const TBitmap32* Value) { bitmap_->Assign(Value); }
  TBitmap32Collection* Collection() const { return collection_; }
  int Index() const;
  // Whether "Bitmap.Data" is written for this item.
  bool DataIsStored() const { return bitmap_->DataIsStored(nullptr); }

 private:
  TBitmap32Collection* collection_;
  std::unique_ptr<TBitmap32> bitmap_;
};

class TBitmap32Collection : public TObject {
 public:
  // `Owner` is reported as the collection's owner (the list or its component).
  explicit TBitmap32Collection(TObject* Owner) : owner_(Owner) {}
  ~TBitmap32Collection() override;
  TBitmap32Collection(const TBitmap32Collection&) = delete;
  TBitmap32Collection& operator=(const TBitmap32Collection&) = delete;

  TBitmap32Item* Add();
  // Raises EListError outside 0..Count - 1.
  TBitmap32Item* Items(int Index) const;
  // Items cannot be assigned to one another: raises EConvertError.
  void SetItems(int Index, const TBitmap32Item* Value);
  int Count() const { return int(items_.size()); }
  void Delete(int Index);
  void Clear();
  // Makes this collection a copy of Source: as many items, each bitmap copied.
  void Assign(const TBitmap32Collection& Source);
  TObject* Owner() const { return owner_; }
  int IndexOf(const TBitmap32Item* Item) const;

 private:
  TObject* owner_;
  std::vector<std::unique_ptr<TBitmap32Item>> items_;
};

class TBitmap32List : public TObject {
 public:
  TBitmap32List() : bitmaps_(this) {}

  TBitmap32Collection* GetBitmaps() { return &bitmaps_; }
  // Copies the given collection's items; the caller keeps its collection.
  void SetBitmaps(const TBitmap32Collection& Value) { bitmaps_.Assign(Value); }
  // The item's bitmap itself: the caller must not free it and sees later changes.
  TBitmap32* GetBitmap(int Index) { return bitmaps_.Items(Index)->GetBitmap(); }
  // Copies Value into the item's bitmap.
  void SetBitmap(int Index, const TBitmap32* Value) { bitmaps_.Items(Index)->SetBitmap(Value); }

 private:
  TBitmap32Collection bitmaps_;
};

}  // namespace g32
