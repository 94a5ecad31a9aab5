#include "aabcresources.h"

extern "C" const unsigned char vant_skin_aabcdata[];
extern "C" const unsigned char vant_skin_aabcdata_end[];

TAABCDataRes* AABCDataRes = nullptr;

TAABCDataRes::TAABCDataRes(vant::TComponent* owner)
    : TSkinModule(owner, "AABCDataRes", vant_skin_aabcdata, vant_skin_aabcdata_end) {
  AABCDataRes = this;
}

TAABCDataRes::~TAABCDataRes() {
  if (AABCDataRes == this) AABCDataRes = nullptr;
}
