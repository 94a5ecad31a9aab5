#pragma once
// TComDataRes: the skin module both programs share (transport buttons, volume and position
// bars, the exit button, the three format lamps, the round play-from-mark buttons). Created once
// at start-up; image controls receive copies of its pictures, so the list never changes.
#include "skinlist.h"

class TComDataRes : public TSkinModule {
 public:
  explicit TComDataRes(vant::TComponent* owner);
  ~TComDataRes() override;
  std::string ClassName() const override { return "TComDataRes"; }
};

// The program-wide reference, set while a module exists.
extern TComDataRes* ComDataRes;
