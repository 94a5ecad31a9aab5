#pragma once
// TMMCustomMarkerPanel / TMMMarkerPanel: a bevelled panel that maps a rectangle of integer values
// onto its client area, with a locator, range markers A and B, the markers of an attached list
// (dragged with a help locator showing where they would go) and dotted grids. Its state and
// arithmetic live in TMMMarkerGeometry; this shell paints the marks and drives the mouse. Every
// mark is part of the picture redrawn in Paint.
#include <functional>
#include <string>

#include "mmmarkergeom.h"
#include "mmobj.h"

using TMarkerChangeEvent = std::function<void(vant::TObject* Sender, int32_t& Value)>;
using TMarkersChangeEvent = std::function<void(vant::TObject* Sender, TMarkerShift Shift,
                                               int32_t& ValueA, int32_t& ValueB)>;
using TRangeChangeEvent = std::function<void(vant::TObject* Sender, int32_t Min, int32_t Max)>;

class TMMCustomMarkerPanel : public TMMCustomPanel {
 public:
  explicit TMMCustomMarkerPanel(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMCustomMarkerPanel"; }

  // The state in value units, kept in step with the control's size and bevel.
  const TMMMarkerGeometry& Geometry();
  void SetMarkerList(TMMMarkerList* list);
  TMMMarkerList* GetMarkerList() const { return geom_.MarkerList; }

  virtual void SetRangeAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y,
                           int32_t base_y);
  virtual void SetDispAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y);
  void SetMinMax(int32_t min, int32_t max) { SetDispAll(min, max, geom_.DispMinY, geom_.DispMaxY); }

  void SetLocator(int32_t v) { Apply(geom_.SetLocator(v)); }
  void SetMarkerA(int32_t v) { Apply(geom_.SetMarkerA(v)); }
  void SetMarkerB(int32_t v) { Apply(geom_.SetMarkerB(v)); }
  void SetHelpLocator(int32_t v) { Apply(geom_.SetHelpLocator(v)); }
  void SetGridWidthX(float w) { Apply(geom_.SetGridWidthX(w)); }
  void SetGridWidthY(float w) { Apply(geom_.SetGridWidthY(w)); }
  // Switches and plain settings: UseLocator, UseMarkers, DrawGridX, SnapToGrid, ...
  void Configure(const std::function<void(TMMMarkerGeometry&)>& change);
  // 0 help locator, 1 locator, 2 marker A, 3 marker B, 4 grid.
  void SetColors(int index, vant::TColor color);
  vant::TColor GetColors(int index) const { return colors_[index]; }
  // Marks with grips instead of plain lines; a change repaints.
  bool GetDrawGriff() const { return draw_griff_; }
  void SetDrawGriff(bool v);
  // Off: locator and range markers are drawn inverting what lies under them. A change repaints.
  bool GetDrawSolid() const { return draw_solid_; }
  void SetDrawSolid(bool v);
  // Dragging near an edge scrolls the visible range.
  bool GetAutoScroll() const { return auto_scroll_; }
  void SetAutoScroll(bool v) { auto_scroll_ = v; }
  // The hint away from the marks; setting it also sets Hint.
  const std::string& GetDefaultHint() const { return default_hint_; }
  void SetDefaultHint(const std::string& text);

  TMarkerShift CurrentAction() const { return action_; }

  vant::TNotifyEvent OnTrackBegin, OnTrack, OnTrackEnd;
  TMarkerChangeEvent OnHelpLocatorChanged, OnLocatorChanged, OnMarkerAChanged, OnMarkerBChanged;
  TMarkersChangeEvent OnMarkersChanged;
  TRangeChangeEvent OnRangeChanged;

  void SetBounds(int left, int top, int width, int height) override;

 protected:
  void Paint() override;
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;

  virtual void VLineDoted(vant::TCanvas& canvas, int x, int y1, int y2, vant::TColor color);
  virtual void HLineDoted(vant::TCanvas& canvas, int x1, int x2, int y, vant::TColor color);
  void DrawGrids(vant::TCanvas& canvas);
  void DrawAllMarkers(vant::TCanvas& canvas);
  virtual std::string GetHintText(int x) const;
  // The pointer over (x, y) while no press runs: a library cursor over a mark, else the user's.
  virtual vant::TCursor GetMouseCursor(int x, int y);
  vant::TCursor UserCursor() const { return user_cursor_; }
  // While the panel shows its own cursor and hint switch, the user's choices are kept apart.
  void ShowHintChanged() override;
  void CursorChanged() override;
  // Focus lost during a press: the press ends as if released where the pointer was last seen.
  void DoExit() override;
  virtual void CancelPress();

  virtual void TrackBegin();
  virtual void Track();
  virtual void TrackEnd();
  virtual void HelpLocatorChanged(int32_t v);
  virtual void LocatorChanged(int32_t v);
  virtual void MarkerAChanged(int32_t v);
  virtual void MarkerBChanged(int32_t v);
  virtual void MarkersChanged(TMarkerShift shift, int32_t a, int32_t b);
  virtual void RangeChanged();
  // Scrolls the visible range when v lies near an edge; answers whether it did.
  virtual bool AdjustVisibleRange(int32_t v);

  TMMMarkerGeometry& Geom() { return geom_; }

 private:
  void Apply(bool changed) {
    if (changed) Invalidate();
  }
  void Sync();
  void DrawMark(vant::TCanvas& canvas, int kind, int x, vant::TColor color, bool dotted);
  void DragTo(int x);
  // Cursor, hint and hint switch for a pointer hovering at (x, y).
  void ShowHover(int x, int y);

  TMMMarkerGeometry geom_;
  vant::TColor colors_[5];
  TMarkerShift action_ = mkNone;
  int32_t list_index_ = -1;
  bool dragging_ = false;
  vant::TMouseButton drag_button_ = vant::mbLeft;
  bool draw_griff_ = false, draw_solid_ = false, auto_scroll_ = true;
  std::string default_hint_;
  // The cursor and hint switch the user set, kept while the panel shows its own; changes of
  // either are the user's except while the panel makes them.
  vant::TCursor user_cursor_ = vant::crDefault;
  bool user_show_hint_ = false;
  bool users_change_ = true;

 protected:
  vant::TPoint last_mouse_{0, 0};
};

class TMMMarkerPanel : public TMMCustomMarkerPanel {
 public:
  explicit TMMMarkerPanel(vant::TComponent* owner) : TMMCustomMarkerPanel(owner) {}
  std::string ClassName() const override { return "TMMMarkerPanel"; }
};
