#include "skinlist.h"

#include <span>
#include <string_view>

#include "skinpack.h"

void LoadSkinList(g32::TBitmap32List& list, const unsigned char* begin, const unsigned char* end) {
  std::string_view pack(reinterpret_cast<const char*>(begin), size_t(end - begin));
  auto items = vant::skinpack::Split(pack);
  if (!items) throw ESkinPackError("Damaged skin pack");
  g32::TBitmap32Collection* bitmaps = list.GetBitmaps();
  bitmaps->Clear();
  for (std::string_view data : *items) {
    g32::TBitmap32Item* item = bitmaps->Add();
    if (data.empty()) continue;
    try {
      item->GetBitmap()->ReadData(
          std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    } catch (const std::exception& e) {
      throw ESkinPackError(std::string("Damaged skin picture: ") + e.what());
    }
  }
}

TSkinModule::TSkinModule(vant::TComponent* owner, const char* name, const unsigned char* begin,
                         const unsigned char* end)
    : vant::TComponent(owner) {
  SetName(name);
  LoadSkinList(Bitmap32List, begin, end);
}
