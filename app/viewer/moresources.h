#pragma once
// TMODataRes: the viewer's own skin pictures (background, row strip, its buttons), filled once at
// start-up from the pack the skin generator drew; image controls get copies, so the list never
// changes while the program runs.
//
// Items: 0 background 1016 x 639; 1 row strip 930 x 42; 2/3 folder, 4/5 list, 8/9 exit and
// 10/11 eject buttons 95 x 24 (normal, pressed); 6/7 row select button 21 x 38.
#include "skinlist.h"

class TMODataRes : public TSkinModule {
 public:
  explicit TMODataRes(vant::TComponent* owner);
  ~TMODataRes() override;
  std::string ClassName() const override { return "TMODataRes"; }
};

// The program-wide reference, set while one exists.
extern TMODataRes* MODataRes;
