#pragma once
// TMMLabel: a windowless label with three-dimensional text effects: shadow and highlight layers
// offset in one of eight directions (optionally extruded), a bitmap texture inside the letters,
// rotation and a bevel; it can act as a push button that looks pressed while held.
#include <string>

#include "mmobj.h"

enum TMMLabelStyle { lsNone, lsCustom, lsRaised, lsSunken, lsShadow, lsFlying };
enum TMMLabelDirection {
  ldNone,
  ldUp,
  ldUpRight,
  ldRight,
  ldDownRight,
  ldDown,
  ldDownLeft,
  ldLeft,
  ldUpLeft
};
enum TMMLabelOption { loNormal, loExtrude };

// Offset in pixels per depth step of a direction.
vant::TPoint LabelDirectionOffset(TMMLabelDirection d);

class TMMLabel : public TMMGraphicControl {
 public:
  explicit TMMLabel(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMLabel"; }

  vant::TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(vant::TAlignment a);
  vant::TBitmap& Bitmap() { return bitmap_; }
  int GetDepthHighlight() const { return depth_highlight_; }
  void SetDepthHighlight(int v);  // 0 .. 20
  int GetDepthShadow() const { return depth_shadow_; }
  void SetDepthShadow(int v);
  TMMLabelDirection GetDirectionHighlight() const { return dir_highlight_; }
  void SetDirectionHighlight(TMMLabelDirection v);
  TMMLabelDirection GetDirectionShadow() const { return dir_shadow_; }
  void SetDirectionShadow(TMMLabelDirection v);
  vant::TColor GetColourHighlight() const { return colour_highlight_; }
  void SetColourHighlight(vant::TColor v);
  vant::TColor GetColourShadow() const { return colour_shadow_; }
  void SetColourShadow(vant::TColor v);
  TMMLabelOption GetStyleHighlight() const { return style_highlight_; }
  void SetStyleHighlight(TMMLabelOption v);
  TMMLabelOption GetStyleShadow() const { return style_shadow_; }
  void SetStyleShadow(TMMLabelOption v);
  TMMLabelStyle GetEffectStyle() const { return effect_; }
  // Applies the style's preset of directions, depths and colours.
  void SetEffectStyle(TMMLabelStyle v);
  bool GetAsButton() const { return as_button_; }
  // True selects the raised look.
  void SetAsButton(bool v);
  int GetAngle() const { return angle_; }
  // 0 .. 360; a non-zero angle also left-justifies the caption.
  void SetAngle(int v);

 protected:
  void Paint() override;
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;

 private:
  template <class T>
  void Set(T& field, T v, bool custom);
  bool Inside(int x, int y) const;
  void DrawCaption(vant::TCanvas& c, vant::TRect caption_rect, vant::TPoint start, int dx, int dy,
                   vant::TColor colour);
  void DrawLayer(vant::TCanvas& c, vant::TRect caption_rect, vant::TPoint start, int depth,
                 TMMLabelDirection d, TMMLabelOption o, vant::TColor colour);

  vant::TAlignment alignment_ = vant::taLeftJustify;
  vant::TBitmap bitmap_;
  int depth_highlight_ = 1, depth_shadow_ = 1;
  TMMLabelDirection dir_highlight_ = ldUpLeft, dir_shadow_ = ldDownRight;
  vant::TColor colour_highlight_ = 0xFFFFFF, colour_shadow_ = 0x808080;
  TMMLabelOption style_highlight_ = loNormal, style_shadow_ = loNormal;
  TMMLabelStyle effect_ = lsRaised;
  bool as_button_ = false;
  int angle_ = 0;
  double sin_ = 0, cos_ = 1, sin2_ = 0, cos2_ = 1;
  bool applying_preset_ = false;
};
