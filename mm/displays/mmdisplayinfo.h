#pragma once
// The measuring box a display shows under the mouse while the left button is held: a white box
// with a black frame and one line of text (frequency, time, amplitude) drawn over the display's
// picture. The picture under it is kept when the box appears and put back as it moves and when
// it goes. Each display owns its own box.
#include <string>
#include <vector>

#include "mmdibcv.h"

inline constexpr vant::TColor kInfoBoxColor = 0xFFFFFF;

class TMMInfoBox {
 public:
  bool Active() const { return active_; }
  // Keeps the canvas picture (inside a drawing period of nothing else) and shows the box.
  void Begin(TMMDIBCanvas& c);
  // The kept picture with the box for `text` at canvas point `p`, copied to `dc` at `rect` (the
  // display's drawing rectangle).
  void Draw(TMMDIBCanvas& c, vant::TCanvas& dc, const vant::TRect& rect, vant::TPoint p,
            const std::string& text);
  // The kept picture back on the canvas and on `dc`; the box is gone.
  void End(TMMDIBCanvas& c, vant::TCanvas& dc, const vant::TRect& rect);
  // Forgets the kept picture without showing it (a disabled display draws nothing).
  void Cancel() {
    saved_.clear();
    active_ = false;
  }
  // Where the last box stood, in canvas coordinates.
  vant::TRect Box() const { return box_; }

 private:
  void Restore(TMMDIBCanvas& c);
  bool active_ = false;
  std::vector<uint8_t> saved_;
  vant::TRect box_{};
};
