#include "comresources.h"

#include "skinlist.h"

extern "C" const unsigned char vant_skin_comdata[];
extern "C" const unsigned char vant_skin_comdata_end[];

TComDataRes* ComDataRes = nullptr;

TComDataRes::TComDataRes(vant::TComponent* owner) : vant::TComponent(owner) {
  SetName("ComDataRes");
  LoadSkinList(Bitmap32List, vant_skin_comdata, vant_skin_comdata_end);
  ComDataRes = this;
}

TComDataRes::~TComDataRes() {
  if (ComDataRes == this) ComDataRes = nullptr;
}
