#pragma once
// The mouse wheel over an area of the viewer's window turned into whole steps of the listing,
// wherever in the area the pointer is: over a row's fields as over the bar beside the rows.
#include <functional>

#include "ui_control.h"

namespace viewer {

// Every wheel turn over `area` or any control inside it (as they are now) calls `scroll` with
// the rows to move: positive downwards, the desktop's lines per notch for each notch. The fields
// inside never scroll themselves.
void RouteWheel(vant::TControl& area, std::function<void(int rows)> scroll);

}  // namespace viewer
