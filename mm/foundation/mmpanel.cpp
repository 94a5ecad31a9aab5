#include "mmpanel.h"

using namespace vant;

TMMPanel::TMMPanel(TComponent* owner) : TMMCustomPanel(owner) {
  SetAlignment(taCenter);
  SetColor(clBtnFace);
  SetParentColor(false);
  SetDragCursor(crDrag);
  SetDragMode(dmManual);
  SetTabStop(false);
}

TMMBorder::TMMBorder(vant::TComponent* owner) : TMMGraphicControl(owner) {
  SetBounds(0, 0, 185, 41);
  SetColor(vant::clWindow);
  SetParentColor(true);
}
