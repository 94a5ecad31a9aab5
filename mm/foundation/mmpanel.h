#pragma once
// TMMPanel: the library's published bevelled panel, the framed container of every program
// window. All its behaviour is TMMCustomPanel's; it only fixes the published defaults.
#include "mmobj.h"

class TMMPanel : public TMMCustomPanel {
 public:
  explicit TMMPanel(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMPanel"; }
};

// TMMBorder: a plain framed area, the windowless base control with its bevel and background.
class TMMBorder : public TMMGraphicControl {
 public:
  explicit TMMBorder(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMBorder"; }
};
