#pragma once
// Tick scales beside sliders and level meters: evenly spaced ticks along one edge of a
// rectangle, every n-th one longer, optionally joined by a line, flat in up to three colour
// zones or three-dimensional (lowered or raised), or along an arc for round instruments. The
// owner sets Canvas (and, for zones and arcs, the zone ticks and angles) before each paint.
#include <string>

#include "exceptions.h"
#include "mmenums.h"
#include "ui_canvas.h"
#include "ui_component.h"

VANT_DECLARE_EXCEPTION(EMMScaleError, vant::Exception);

enum TMMScaleStyle { stColor, stLowered, stRaised };

class TMMCustomScale : public vant::TPersistent {
 public:
  TMMCustomScale() = default;
  std::string ClassName() const override { return "TMMCustomScale"; }
  // From any scale: Visible, Color, Style, TickCount, EnlargeEvery, Size, Origin and Connect
  // (not the zones, angles or canvas) as one change.
  void Assign(const vant::TPersistent* source) override;

  bool GetVisible() const { return visible_; }
  void SetVisible(bool v);
  // Degrees, taken modulo 360.
  int GetStartAngle() const { return start_angle_; }
  void SetStartAngle(int v);
  int GetEndAngle() const { return end_angle_; }
  void SetEndAngle(int v);
  // Setting Color sets the colours of all three zones.
  vant::TColor GetColor() const { return color_; }
  void SetColor(vant::TColor v);
  vant::TColor GetColor2() const { return color2_; }
  void SetColor2(vant::TColor v);
  vant::TColor GetColor3() const { return color3_; }
  void SetColor3(vant::TColor v);
  int GetZone2Tick() const { return zone2_; }
  void SetZone2Tick(int v);
  int GetZone3Tick() const { return zone3_; }
  void SetZone3Tick(int v);
  vant::TCanvas* GetCanvas() const { return canvas_; }
  void SetCanvas(vant::TCanvas* c) { canvas_ = c; }
  TMMScaleStyle GetStyle() const { return style_; }
  void SetStyle(TMMScaleStyle v);
  int GetTickCount() const { return tick_count_; }
  void SetTickCount(int v);  // at least 2
  int GetEnlargeEvery() const { return enlarge_every_; }
  void SetEnlargeEvery(int v);  // at least 1
  int GetSize() const { return size_; }
  void SetSize(int v);  // at least 1
  TMMScaleOrigin GetOrigin() const { return origin_; }
  void SetOrigin(TMMScaleOrigin v);
  bool GetConnect() const { return connect_; }
  void SetConnect(bool v);

  // Size, plus 1 with Connect, plus 1 more with Connect in a three-dimensional style.
  int GetScaleHeight() const;
  // A linear scale in `rect` (horizontal when wider than high). The ticks grow from the far
  // edge (bottom, right) for soInner with `flip` or soOuter without, else from the near edge.
  void DrawRect(vant::TCanvas* canvas, const vant::TRect& rect, bool flip);
  // Ticks on the circle of the smaller half-side around the centre, from StartAngle clockwise
  // to EndAngle.
  void DrawElliptic(vant::TCanvas* canvas, const vant::TRect& rect);
  // A line in `color` (stColor) or in the two tones of the three-dimensional styles.
  void ScaleLine(int x1, int y1, int x2, int y2, vant::TColor color);
  // The arc joining the ticks of DrawElliptic at `radius` around (cx, cy).
  void ScaleArc(double cx, double cy, double radius, vant::TColor color);

  vant::TNotifyEvent OnChange;

 protected:
  virtual void Changed();
  virtual void DoChange();
  vant::TCanvas& NeedCanvas();

 private:
  template <class T>
  void Set(T& field, T value);
  bool visible_ = true;
  int start_angle_ = 0, end_angle_ = 0;
  vant::TColor color_ = vant::clBlack, color2_ = vant::clBlack, color3_ = vant::clBlack;
  int zone2_ = 0, zone3_ = 0;
  vant::TCanvas* canvas_ = nullptr;
  TMMScaleStyle style_ = stColor;
  int tick_count_ = 11, enlarge_every_ = 5, size_ = 7;
  TMMScaleOrigin origin_ = soInner;
  bool connect_ = false;
};

// The published scale (a slider's Scale).
class TMMScale : public TMMCustomScale {
 public:
  std::string ClassName() const override { return "TMMScale"; }
};
