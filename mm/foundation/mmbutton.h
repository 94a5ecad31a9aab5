#pragma once
// TMMSpeedButton: a flat windowless push button with a glyph and a caption, alone or in a group
// of which at most one stays down; a raised or etched face, a frame colour, and a checkered
// "down" pattern. TButtonGlyph keeps the glyph and the images of its states, shared through
// one cache of image lists per frame size.
#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mmobj.h"

enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TButtonState { bsUp, bsDisabled, bsDown, bsExclusive };
enum TMMBevelStyle { bsLowered, bsRaised };

// An image list of one frame size: slots that are used or free, and how many are used.
class TGlyphList {
 public:
  TGlyphList(int width, int height) : width_(width), height_(height) {}
  int Add(vant::TBitmap image);  // answers the slot
  void Delete(int index);
  const vant::TBitmap& Image(int index) const { return images_[static_cast<size_t>(index)]; }
  int Count() const { return count_; }
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  int width_, height_;
  std::vector<vant::TBitmap> images_;
  std::vector<bool> used_;
  int count_ = 0;
};

// The process-wide lists, one per frame size; a list goes when its last image is deleted.
class TGlyphCache {
 public:
  static std::shared_ptr<TGlyphList> GetList(int width, int height);
  static void ReturnList(std::shared_ptr<TGlyphList>& list);
  static size_t ListCount();
};

class TButtonGlyph {
 public:
  TButtonGlyph();
  ~TButtonGlyph();
  const vant::TBitmap& Glyph() const { return glyph_; }
  void AssignGlyph(const vant::TBitmap& bitmap);
  int NumGlyphs() const { return num_glyphs_; }
  void SetFrameCount(int n);
  vant::TColor TransparentColor() const { return transparent_; }
  void DropImages();
  // The image of `state` in the shared list (or -1 when there is no glyph).
  int FrameImage(TButtonState state);
  const vant::TBitmap* Image(int index) const;
  // Where glyph and text go in `client` (see the layout rules in the .cpp).
  void PlaceGlyphAndText(vant::TCanvas& canvas, const vant::TRect& client, const std::string& caption,
                         TButtonLayout layout, int margin, int spacing, vant::TPoint& glyph_pos,
                         vant::TRect& text_rect) const;
  vant::TRect DrawGlyphAndText(vant::TCanvas& canvas, const vant::TRect& client, TButtonState state,
                               int spacing, int margin, TButtonLayout layout,
                               const std::string& caption);
  std::function<void()> OnChange;

 private:
  vant::TBitmap glyph_;
  vant::TColor transparent_ = 0x008080;
  int num_glyphs_ = 1;
  std::array<int, 4> indices_{-1, -1, -1, -1};
  std::shared_ptr<TGlyphList> list_;
};

class TMMSpeedButton : public TMMGraphicControl {
 public:
  explicit TMMSpeedButton(vant::TComponent* owner);
  ~TMMSpeedButton() override;
  std::string ClassName() const override { return "TMMSpeedButton"; }

  const vant::TBitmap& GetGlyph() const { return glyph_.Glyph(); }
  void SetGlyph(const vant::TBitmap& bitmap);
  int GetNumGlyphs() const { return glyph_.NumGlyphs(); }
  void SetNumGlyphs(int n);
  int GetGroupIndex() const { return group_index_; }
  void SetGroupIndex(int v);
  bool GetDown() const { return down_; }
  void SetDown(bool v);
  bool GetAllowAllUp() const { return allow_all_up_; }
  void SetAllowAllUp(bool v);
  TButtonLayout GetLayout() const { return layout_; }
  void SetLayout(TButtonLayout v);
  int GetSpacing() const { return spacing_; }
  void SetSpacing(int v);
  int GetMargin() const { return margin_; }
  void SetMargin(int v);
  TMMBevelStyle GetBevel() const { return bevel_style_; }
  void SetBevel(TMMBevelStyle v);
  vant::TColor GetDownColor() const { return down_color_; }
  void SetDownColor(vant::TColor v);
  vant::TColor GetBevelColor() const { return bevel_color_; }
  void SetBevelColor(vant::TColor v);
  TButtonState State() const { return state_; }

  // No hint while the button is disabled.
  bool CanShowHint() const override { return GetEnabled(); }
  void Click() override;
  // The group notification: another button of `group` went down.
  void ButtonPressed(int group, TMMSpeedButton* sender);
  // An accelerator key: clicks and answers true when it is the caption's "&" character.
  bool DialogChar(char key);
  // Drops the cached images (the system colours changed).
  void SysColorChange() { glyph_.DropImages(); Invalidate(); }

 protected:
  void Paint() override;
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void EnabledChanged() override;
  void TextChanged() override;
  void FontChanged() override;
  // Draws the face and answers the content rectangle.
  vant::TRect DrawButtonFace(vant::TCanvas& canvas, const vant::TRect& client, bool pressed);
  void DrawGlyph(vant::TCanvas& canvas, const vant::TRect& content);
  void UpdateExclusive();
  // A disabled button shows the disabled state (applied at each paint).
  void SyncDisabledState();
  bool Inside(int x, int y) const;

  TButtonGlyph glyph_;
  TButtonState state_ = bsUp;
  bool dragging_ = false;

 private:
  int group_index_ = 0;
  bool down_ = false;
  bool allow_all_up_ = false;
  TButtonLayout layout_ = blGlyphLeft;
  int spacing_ = 4;
  int margin_ = -1;
  TMMBevelStyle bevel_style_ = bsRaised;
  vant::TColor down_color_ = 0xFFFFFF;
  vant::TColor bevel_color_ = 0;
};
