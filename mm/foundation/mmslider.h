#pragma once
// TMMCustomSlider / TMMSlider: a windowed slider whose thumb moves along a bevelled groove (the
// trench) between MinValue and MaxValue, with an optional tick scale, pictures at both ends and
// a logarithmic mode in which the thumb moves linearly in decibels. Reports value changes
// (OnChange), the start or step of a user's drag or key action (OnTrack) and its end
// (OnTrackEnd). Positions and drags are computed in 64 bits, so the whole integer range works.
#include <cstdint>
#include <memory>
#include <string>

#include "mmenums.h"
#include "mmobj.h"
#include "mmscale.h"
#include "ui_timer.h"

enum TMMThumbStyle { tsRect, tsOwnerDraw };
enum TMMGrooveStyle { gsRect, gsOwnerDraw };
enum TMMFocusAction { faNone, faFocusThumb, faFocusRect, faFocusColor, faAll };

using TMMThumbDrawEvent = std::function<void(vant::TObject* Sender, vant::TCanvas& aCanvas,
                                             const vant::TRect& aRect, bool Dragged, bool Focused)>;
using TMMGrooveDrawEvent =
    std::function<void(vant::TObject* Sender, vant::TCanvas& aCanvas, const vant::TRect& aRect)>;

class TMMCustomSlider : public TMMCustomControl {
 public:
  explicit TMMCustomSlider(vant::TComponent* owner);
  ~TMMCustomSlider() override;
  std::string ClassName() const override { return "TMMCustomSlider"; }

  // The outward position: in logarithmic mode a linear value whose decibels the thumb follows.
  int32_t GetPosition() const;
  void SetPosition(int32_t v);
  int32_t GetMinValue() const { return min_; }
  int32_t GetMaxValue() const { return max_; }
  void SetMinMax(int32_t min, int32_t max);
  void SetMinValue(int32_t v) { SetMinMax(v, max_); }
  void SetMaxValue(int32_t v) { SetMinMax(min_, v); }
  // The thumb's position, always linear between MinValue and MaxValue.
  int32_t ThumbPosition() const { return pos_; }
  int32_t GetLineSize() const { return line_size_; }
  void SetLineSize(int32_t v) { line_size_ = v; }
  int32_t GetPageSize() const { return page_size_; }
  void SetPageSize(int32_t v) { page_size_ = v; }
  bool GetLogarithmic() const { return logarithmic_; }
  void SetLogarithmic(bool v);
  int GetSensitivity() const { return sensitivity_; }
  void SetSensitivity(int v);  // -96 .. -20

  TMMOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TMMOrientation v);
  TMMBevel& Groove() { return *groove_; }
  int GetGrooveSize() const { return groove_size_; }
  void SetGrooveSize(int v);
  TMMGrooveStyle GetGrooveStyle() const { return groove_style_; }
  void SetGrooveStyle(TMMGrooveStyle v);
  vant::TColor GetGrooveColor() const { return groove_color_; }
  void SetGrooveColor(vant::TColor v);
  int GetThumbWidth() const { return thumb_width_; }
  void SetThumbWidth(int v);
  int GetThumbHeight() const { return thumb_height_; }
  void SetThumbHeight(int v);
  TMMThumbStyle GetThumbStyle() const { return thumb_style_; }
  void SetThumbStyle(TMMThumbStyle v);
  vant::TColor GetThumbColor() const { return thumb_color_; }
  void SetThumbColor(vant::TColor v);
  bool GetThumbBorder() const { return thumb_border_; }
  void SetThumbBorder(bool v);
  vant::TCursor GetThumbCursor() const { return thumb_cursor_; }
  void SetThumbCursor(vant::TCursor v) { thumb_cursor_ = v; }
  bool GetHandCursor() const { return hand_cursor_; }
  void SetHandCursor(bool v) { hand_cursor_ = v; }
  TMMFocusAction GetFocusAction() const { return focus_action_; }
  void SetFocusAction(TMMFocusAction v);
  vant::TColor GetFocusColor() const { return focus_color_; }
  void SetFocusColor(vant::TColor v);
  vant::TColor GetDisabledColor() const { return disabled_color_; }
  void SetDisabledColor(vant::TColor v);
  TMMScalePos GetScalePosition() const { return scale_pos_; }
  void SetScalePosition(TMMScalePos v);
  int GetScaleDistance() const { return scale_distance_; }
  void SetScaleDistance(int v);
  TMMScale& Scale() { return *scale_; }
  vant::TBitmap& PicLeft() { return *pic_left_; }
  vant::TBitmap& PicRight() { return *pic_right_; }

  // The thumb rectangle of the last paint.
  vant::TRect ThumbRect() const { return thumb_rect_; }
  bool Dragging() const { return dragging_; }
  bool Tracking() const { return tracking_; }
  bool Blink() const { return blink_; }

  vant::TNotifyEvent OnChange, OnTrack, OnTrackEnd, OnGetFocus, OnLostFocus;
  TMMThumbDrawEvent OnDrawThumb;
  TMMGrooveDrawEvent OnDrawGroove;

 protected:
  virtual void Change();
  virtual void Track();
  virtual void TrackEnd();
  void UpdatePosition(int64_t v, bool force);
  void Paint() override;
  void Resize() override;
  void KeyDown(uint16_t& key, vant::TShiftState s) override;
  void KeyUp(uint16_t& key, vant::TShiftState s) override;
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void DoEnter() override;
  void DoExit() override;
  void EnabledChanged() override;

 private:
  struct Layout;
  Layout Measure() const;
  vant::TRect WhereIsThumb(const vant::TRect& area) const;
  int64_t Range() const { return int64_t(max_) - min_; }
  bool Horizontal() const { return orientation_ == orHorizontal; }
  int ThumbLength() const { return Horizontal() ? thumb_width_ : thumb_height_; }
  int HalfThumbAcross() const { return (Horizontal() ? thumb_height_ : thumb_width_) / 2; }
  bool ScaleShown() const { return scale_->GetVisible(); }
  // The thumb's place after a change of the layout, and a repaint.
  void Relayout();
  void BlinkTick();
  void StopBlink();
  // The shared blink timer, owned by this slider from now on when its focus action blinks.
  void RestartBlink();
  void ResizeBackBuffer();

  int32_t min_ = 0, max_ = 10, pos_ = 0;
  int32_t line_size_ = 1, page_size_ = 5;
  bool logarithmic_ = false;
  int sensitivity_ = -24;
  TMMOrientation orientation_ = orHorizontal;
  std::unique_ptr<TMMBevel> groove_;
  int groove_size_ = 3;
  TMMGrooveStyle groove_style_ = gsRect;
  vant::TColor groove_color_ = vant::clBtnFace;
  int thumb_width_ = 11, thumb_height_ = 23;
  TMMThumbStyle thumb_style_ = tsRect;
  vant::TColor thumb_color_ = vant::clBtnFace;
  bool thumb_border_ = true;
  vant::TCursor thumb_cursor_ = 0;
  bool hand_cursor_ = false;
  vant::TCursor normal_cursor_ = vant::crDefault;
  bool over_thumb_ = false;
  TMMFocusAction focus_action_ = faFocusRect;
  vant::TColor focus_color_ = vant::clActiveCaption;
  vant::TColor disabled_color_ = 0xFFFFFF;
  TMMScalePos scale_pos_ = spBelowOrRight;
  int scale_distance_ = 10;
  std::unique_ptr<TMMScale> scale_;
  std::unique_ptr<vant::TBitmap> pic_left_, pic_right_;

  vant::TRect thumb_rect_;
  bool dragging_ = false;
  int drag_coord_ = 0;
  int32_t drag_pos_ = 0;
  bool tracking_ = false;
  bool blink_ = false;
  bool has_focus_ = false;
  std::shared_ptr<vant::TBitmap> back_;
};

class TMMSlider : public TMMCustomSlider {
 public:
  using TMMCustomSlider::TMMCustomSlider;
  std::string ClassName() const override { return "TMMSlider"; }
};
