#pragma once
// TAABCDataRes: the converter's own skin module: the file and attachment buttons, the length
// lamp and the two page backgrounds of the main window (30 pictures).
#include "skinlist.h"

class TAABCDataRes : public TSkinModule {
 public:
  explicit TAABCDataRes(vant::TComponent* owner);
  ~TAABCDataRes() override;
  std::string ClassName() const override { return "TAABCDataRes"; }
};

// The program-wide reference, set while a module exists.
extern TAABCDataRes* AABCDataRes;
