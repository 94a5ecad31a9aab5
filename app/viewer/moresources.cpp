#include "moresources.h"

extern "C" const unsigned char vant_skin_modata[];
extern "C" const unsigned char vant_skin_modata_end[];

TMODataRes* MODataRes = nullptr;

TMODataRes::TMODataRes(vant::TComponent* owner)
    : TSkinModule(owner, "MODataRes", vant_skin_modata, vant_skin_modata_end) {
  MODataRes = this;
}

TMODataRes::~TMODataRes() {
  if (MODataRes == this) MODataRes = nullptr;
}
