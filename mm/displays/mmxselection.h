#pragma once
// TMMXSelection: the column range and locator a display marks over its picture, shared by the
// displays that draw in columns (the oscilloscope and the spectrogram). Columns count from the
// picture's left edge; -1 means none. The hit tests take the control's bevel and width, since
// the mouse speaks in control coordinates.
#include <algorithm>
#include <utility>

class TMMXSelection {
 public:
  int SelectionStart() const { return sel_start_; }
  int SelectionEnd() const { return sel_end_; }
  int GetLocator() const { return locator_; }

 protected:
  // A column kept inside a picture `width` wide; anything negative stays "none".
  static int LimitColumn(int x, int width) { return x < 0 ? -1 : std::min(x, width); }

  // Orders the range and folds an empty one to none; true when the stored range changed.
  bool StoreSelection(int min, int max) {
    if (max < min) std::swap(min, max);
    if (max - min <= 0) min = max = -1;
    if (min == sel_start_ && max == sel_end_) return false;
    sel_start_ = min;
    sel_end_ = max;
    return true;
  }

  // True when the locator moved.
  bool StoreLocator(int x, int width) {
    x = LimitColumn(x, width);
    if (x == locator_) return false;
    locator_ = x;
    return true;
  }

  void ClearSelection() { sel_start_ = sel_end_ = locator_ = -1; }

  // The grips are a few pixels wide so a mouse can catch a one-column line.
  bool HitLocator(int x, int bevel, int width) const {
    return locator_ >= 0 && Inside(x, width) && bevel + locator_ - 3 <= x &&
           x <= bevel + locator_ + 3;
  }
  bool HitSelectStart(int x, int bevel, int width) const {
    return sel_start_ >= 0 && Inside(x, width) && bevel + sel_start_ - 3 <= x &&
           x <= bevel + sel_start_ + 2;
  }
  bool HitSelectEnd(int x, int bevel, int width) const {
    return sel_end_ >= 0 && Inside(x, width) && bevel + sel_end_ - 2 <= x &&
           x <= bevel + sel_end_ + 3;
  }
  bool HitInSelection(int x, int bevel, int width) const {
    return sel_start_ >= 0 && Inside(x, width) && bevel + sel_start_ <= x && x <= bevel + sel_end_;
  }

  int sel_start_ = -1, sel_end_ = -1, locator_ = -1;

 private:
  static bool Inside(int x, int width) { return x >= 0 && x <= width; }
};
