#pragma once
// TMMPanel: the library's published bevelled panel, the framed container of every program
// window. All its behaviour is TMMCustomPanel's; it only fixes the published defaults.
#include "mmobj.h"

class TMMPanel : public TMMCustomPanel {
 public:
  explicit TMMPanel(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMPanel"; }
};
