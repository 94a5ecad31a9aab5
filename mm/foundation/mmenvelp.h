#pragma once
// TMMEnvelope: a marker panel that shows and edits an envelope, a polyline of points over the
// panel's value range. Double clicks add and delete points; clicks (with Shift or Ctrl) and a
// rubber band select them; dragging moves the selection without passing unselected neighbours
// or leaving the range. The points and their rules live in TMMEnvelopePointList.
#include <functional>
#include <memory>
#include <string>

#include "mmdibcv.h"
#include "mmenvpoints.h"
#include "mmmarkerpanel.h"
#include "mmobsrv.h"

enum TMMEnvelopeKind { ekRectangle, ekCircle, ekOwnerDraw };
using TMMEnvelopeDrawPoint = std::function<void(vant::TObject* Sender, vant::TCanvas& Canvas,
                                                vant::TRect& Rect, bool Selected)>;

class TMMEnvelope : public TMMMarkerPanel {
 public:
  explicit TMMEnvelope(vant::TComponent* owner);
  ~TMMEnvelope() override;
  std::string ClassName() const override { return "TMMEnvelope"; }

  TMMEnvelopePointList& Points() { return points_; }
  void SetPoints(const TMMEnvelopePointList& points) { points_.Assign(&points); }
  int32_t Count() const { return points_.Count(); }
  // The point under a pixel, or -1.
  int32_t FindPointAtPos(int x, int y);
  // Sets the flag of every point whose pixel lies in the rectangle (bounds inclusive).
  void SelectArea(const vant::TRect& rect, bool selected);

  void SetBounds(int left, int top, int width, int height) override;
  void SetRangeAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y,
                   int32_t base_y) override;

  TMMEnvelopeKind GetKind() const { return kind_; }
  void SetKind(TMMEnvelopeKind k);
  int32_t GetPointSize() const { return point_size_; }
  // Stored even, 4 to 20.
  void SetPointSize(int32_t n);
  // 0 mid line, 1 line, 2 point, 3 selected point.
  void SetEnvColor(int index, vant::TColor c);
  bool DrawMidLine = true;

  void AddObserver(vant::TMMObserver* o) { observers_.AddObserver(o); }
  void RemoveObserver(vant::TMMObserver* o) { observers_.RemoveObserver(o); }

  vant::TNotifyEvent OnChange;
  TMMEnvelopeDrawPoint OnDrawPoint;

 protected:
  void Paint() override;
  void VLineDoted(vant::TCanvas& canvas, int x, int y1, int y2, vant::TColor color) override;
  void HLineDoted(vant::TCanvas& canvas, int x1, int x2, int y, vant::TColor color) override;
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  virtual void Changed();
  vant::TCursor GetMouseCursor(int x, int y) override;
  void CancelPress() override;
  virtual void DrawPoint(vant::TCanvas& canvas, vant::TRect& rect, bool selected);

 private:
  void PressPoint(int32_t i, vant::TShiftState s, int x, int y);
  bool OutsideCorral(int x);
  vant::TRect BandRect() const;

  // The picture is composed off screen and reaches the window in one copy.
  std::unique_ptr<TMMDIBCanvas> dib_;
  TMMEnvelopePointList points_;
  vant::TMMObservable observers_;
  TMMEnvelopeKind kind_ = ekRectangle;
  int32_t point_size_ = 6;
  vant::TColor env_colors_[4] = {vant::clBlack, vant::clBlack, vant::clWhite, vant::clBlack};
  int32_t anchor_ = 0;
  int32_t pressed_ = -1;
  bool reselect_ = false;
  int32_t origin_x_ = 0, origin_y_ = 0;
  int32_t min_dx_ = 0, max_dx_ = 0, min_dy_ = 0, max_dy_ = 0;
  vant::TMouseButton button_ = vant::mbLeft;
  bool pressed_active_ = false, moving_ = false, band_ = false;
  vant::TPoint band_start_{0, 0}, band_end_{0, 0};
};
