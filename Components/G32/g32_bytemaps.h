#pragma once
// An 8-bit map of Width x Height bytes, rows from the top, and its conversions to and from
// TBitmap32 (one channel, an average or the weighted intensity; a palette on the way out).
#include <cstdint>
#include <vector>

#include "g32.h"

namespace g32 {

enum TConversionType { ctRed, ctGreen, ctBlue, ctAlpha, ctUniformRGB, ctWeightedRGB };

class TByteMap : public TCustomMap {
 public:
  // Keeps the bytes in place (as a growable array does); new bytes are 0.
  bool SetSize(int NewWidth, int NewHeight) override;
  using TCustomMap::SetSize;
  bool Empty() const override { return bytes_.empty(); }
  void Clear(uint8_t FillValue);

  // Unchecked access.
  uint8_t GetValue(int X, int Y) const { return bytes_[size_t(Y) * Width() + X]; }
  void SetValue(int X, int Y, uint8_t V) { bytes_[size_t(Y) * Width() + X] = V; }
  uint8_t* GetValPtr(int X, int Y) { return bytes_.data() + size_t(Y) * Width() + X; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  void ReadFrom(const TBitmap32* Source, TConversionType Conversion);
  void WriteTo(TBitmap32* Dest, TConversionType Conversion) const;
  void WriteTo(TBitmap32* Dest, const TPalette32& Palette) const;

  // Another byte map: size and bytes; a bitmap: its weighted intensity; anything else
  // (nil included) raises EConvertError.
  void Assign(const TCustomMap* Source);
  // A bitmap receives the bytes as grey; anything else raises EConvertError.
  void AssignTo(TCustomMap* Dest) const;

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace g32
