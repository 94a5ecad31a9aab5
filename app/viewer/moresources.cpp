#include "moresources.h"

#include <string_view>

#include "exceptions.h"
#include "skinpack.h"

extern "C" const unsigned char vant_skin_modata[];
extern "C" const unsigned char vant_skin_modata_end[];

TMODataRes* MODataRes = nullptr;

TMODataRes::TMODataRes(vant::TComponent* owner)
    : TComponent(owner), list_(std::make_unique<g32::TBitmap32List>()) {
  SetName("MODataRes");
  Bitmap32List = list_.get();
  const std::string_view pack(reinterpret_cast<const char*>(vant_skin_modata),
                              static_cast<size_t>(vant_skin_modata_end - vant_skin_modata));
  auto items = vant::skinpack::Split(pack);
  if (!items || items->size() < kItemCount) throw vant::Exception("The viewer's skin is damaged");
  for (std::string_view data : *items) {
    g32::TBitmap32Item* item = Bitmap32List->GetBitmaps()->Add();
    if (!data.empty()) {
      item->GetBitmap()->ReadData(
          std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    }
  }
  MODataRes = this;
}

TMODataRes::~TMODataRes() {
  if (MODataRes == this) MODataRes = nullptr;
}
