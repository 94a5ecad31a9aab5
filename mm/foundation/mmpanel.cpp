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
