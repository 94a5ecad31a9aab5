#include "g32_bytemaps.h"

#include <algorithm>

namespace g32 {

bool TByteMap::SetSize(int NewWidth, int NewHeight) {
  if (NewWidth < 1) NewWidth = 0;
  if (NewHeight < 1) NewHeight = 0;
  if (NewWidth == Width() && NewHeight == Height()) return false;
  bytes_.resize(size_t(NewWidth) * size_t(NewHeight));
  StoreSize(NewWidth, NewHeight);
  Changed();
  return true;
}

void TByteMap::Clear(uint8_t FillValue) {
  std::fill(bytes_.begin(), bytes_.end(), FillValue);
  Changed();
}

void TByteMap::ReadFrom(const TBitmap32* Source, TConversionType Conversion) {
  if (!Source) throw Exception("The source is nil");
  BeginUpdate();
  try {
    SetSize(Source);
  } catch (...) {
    EndUpdate();
    throw;
  }
  const TColor32* p = Source->Bits();
  const size_t n = bytes_.size();
  for (size_t i = 0; i < n; ++i) {
    const TColor32 c = p[i];
    uint8_t v = 0;
    switch (Conversion) {
      case ctRed:
        v = uint8_t(RedComponent(c));
        break;
      case ctGreen:
        v = uint8_t(GreenComponent(c));
        break;
      case ctBlue:
        v = uint8_t(BlueComponent(c));
        break;
      case ctAlpha:
        v = uint8_t(AlphaComponent(c));
        break;
      case ctUniformRGB:
        v = uint8_t((RedComponent(c) + GreenComponent(c) + BlueComponent(c)) / 3);
        break;
      case ctWeightedRGB:
        v = uint8_t(Intensity(c));
        break;
    }
    bytes_[i] = v;
  }
  EndUpdate();
  Changed();
}

namespace {

// Inside the bitmap's update bracket: the map's size, then each pixel from its byte.
template <typename F>
void WriteEach(const TByteMap& Map, TBitmap32* Dest, F f) {
  if (!Dest) throw Exception("Destination is nil");
  Dest->BeginUpdate();
  try {
    Dest->SetSize(&Map);
  } catch (...) {
    Dest->EndUpdate();
    throw;
  }
  TColor32* p = Dest->Bits();
  const std::vector<uint8_t>& bytes = Map.Bytes();
  for (size_t i = 0; i < bytes.size(); ++i) p[i] = f(bytes[i], p[i]);
  Dest->EndUpdate();
  Dest->Changed();
}

}  // namespace

void TByteMap::WriteTo(TBitmap32* Dest, TConversionType Conversion) const {
  WriteEach(*this, Dest, [Conversion](TColor32 v, TColor32 p) -> TColor32 {
    switch (Conversion) {
      case ctRed:
        return (p & 0xFF00FFFF) | v << 16;
      case ctGreen:
        return (p & 0xFFFF00FF) | v << 8;
      case ctBlue:
        return (p & 0xFFFFFF00) | v;
      case ctAlpha:
        return (p & 0x00FFFFFF) | v << 24;
      default:
        return Gray32(uint8_t(v), 255);
    }
  });
}

void TByteMap::WriteTo(TBitmap32* Dest, const TPalette32& Palette) const {
  WriteEach(*this, Dest, [&Palette](TColor32 v, TColor32) { return Palette[v]; });
}

void TByteMap::Assign(const TCustomMap* Source) {
  if (auto* map = dynamic_cast<const TByteMap*>(Source)) {
    if (map == this) return;
    BeginUpdate();
    StoreSize(map->Width(), map->Height());
    bytes_ = map->bytes_;
    EndUpdate();
    Changed();
  } else if (auto* bmp = dynamic_cast<const TBitmap32*>(Source)) {
    ReadFrom(bmp, ctWeightedRGB);
  } else {
    throw EConvertError(std::string("Cannot assign a ") + (Source ? "TCustomMap" : "nil") +
                        " to a TByteMap");
  }
}

void TByteMap::AssignTo(TCustomMap* Dest) const {
  if (auto* bmp = dynamic_cast<TBitmap32*>(Dest)) {
    WriteTo(bmp, ctUniformRGB);
    return;
  }
  if (auto* map = dynamic_cast<TByteMap*>(Dest)) {
    map->Assign(this);
    return;
  }
  throw EConvertError("Cannot assign a TByteMap to a TCustomMap");
}

}  // namespace g32
