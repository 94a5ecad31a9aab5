#include "comresources.h"

extern "C" const unsigned char vant_skin_comdata[];
extern "C" const unsigned char vant_skin_comdata_end[];

TComDataRes* ComDataRes = nullptr;

TComDataRes::TComDataRes(vant::TComponent* owner)
    : TSkinModule(owner, "ComDataRes", vant_skin_comdata, vant_skin_comdata_end) {
  ComDataRes = this;
}

TComDataRes::~TComDataRes() {
  if (ComDataRes == this) ComDataRes = nullptr;
}
