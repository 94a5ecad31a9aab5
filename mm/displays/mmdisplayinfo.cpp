#include "mmdisplayinfo.h"

#include <algorithm>
#include <cstring>

using vant::TRect;

void TMMInfoBox::Begin(TMMDIBCanvas& c) {
  c.DIB_InitDrawing();
  const size_t bytes = static_cast<size_t>(c.ScanWidth()) * c.GetHeight();
  saved_.assign(c.Surface(), c.Surface() + bytes);
  c.DIB_DoneDrawing();
  active_ = true;
}

void TMMInfoBox::Restore(TMMDIBCanvas& c) {
  const size_t bytes = static_cast<size_t>(c.ScanWidth()) * c.GetHeight();
  if (saved_.size() == bytes) std::memcpy(c.Surface(), saved_.data(), bytes);
}

void TMMInfoBox::Draw(TMMDIBCanvas& c, vant::TCanvas& dc, const TRect& rect, vant::TPoint p,
                      const std::string& text) {
  if (!active_) return;
  const int w = c.GetWidth(), h = c.GetHeight();
  dc.Font().SetName("MS Sans Serif");
  dc.Font().SetSize(8);
  dc.Font().SetStyle(0);
  dc.Font().SetColor(vant::clInfoText);
  const int tw = dc.TextWidth(text) + 4, th = dc.TextHeight("W") + 2;
  TRect box = vant::Rect(p.X, p.Y + 15, p.X + tw, p.Y + 15 + th);
  if (box.Bottom > h) {
    box.Top -= 40;
    box.Bottom -= 40;
  }
  if (box.Right > w) {
    box.Left -= box.Right - w;
    box.Right = w;
  }
  if (box.Top < 0) {
    box.Bottom -= box.Top;
    box.Top = 0;
  }
  box_ = box;
  c.DIB_InitDrawing();
  Restore(c);
  c.DIB_SetTColor(vant::clBlack);
  c.DIB_FILLRECT(box);
  c.DIB_SetTColor(kInfoBoxColor);
  c.DIB_FILLRECT(vant::Rect(box.Left + 1, box.Top + 1, box.Right - 1, box.Bottom - 1));
  c.DIB_BitBlt(&dc, vant::Rect(rect.Left, rect.Top, w, h), 0, 0);
  c.DIB_DoneDrawing();
  dc.Brush().Style = vant::bsClear;
  dc.TextOut(rect.Left + box.Left + 2, rect.Top + box.Top + 1, text);
  dc.Brush().Style = vant::bsSolid;
}

void TMMInfoBox::End(TMMDIBCanvas& c, vant::TCanvas& dc, const TRect& rect) {
  if (!active_) return;
  c.DIB_InitDrawing();
  Restore(c);
  c.DIB_BitBlt(&dc, vant::Rect(rect.Left, rect.Top, c.GetWidth(), c.GetHeight()), 0, 0);
  c.DIB_DoneDrawing();
  saved_.clear();
  saved_.shrink_to_fit();
  active_ = false;
}
