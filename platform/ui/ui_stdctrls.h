#pragma once
// The standard controls the windows use: labels, static text, edits, memos, list and combo
// boxes, buttons, check boxes, speed buttons, images and the plain panel. Edits and memos count
// their maximum length in CP932 bytes, the unit the file fields they feed are measured in.
#include <memory>
#include <string>

#include "ui_canvas.h"
#include "ui_control.h"
#include "ui_strings.h"

namespace vant {

enum TTextLayout { tlTop, tlCenter, tlBottom };

class TLabel : public TGraphicControl {
 public:
  explicit TLabel(TComponent* owner);
  std::string ClassName() const override { return "TLabel"; }
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  bool GetAutoSize() const { return auto_size_; }
  void SetAutoSize(bool v);
  bool GetTransparent() const { return transparent_; }
  void SetTransparent(bool v);
  bool GetWordWrap() const { return word_wrap_; }
  void SetWordWrap(bool v);
  TTextLayout GetLayout() const { return layout_; }
  void SetLayout(TTextLayout l);
  // Sizes an auto-sized label to its caption once loading is over.
  void Loaded() override;

 protected:
  void Paint() override;
  void TextChanged() override;
  void FontChanged() override;
  bool PaintsOverParent() const override { return transparent_; }
  void AdjustBounds();

 private:
  TAlignment alignment_ = taLeftJustify;
  bool auto_size_ = true;
  bool transparent_ = false;
  bool word_wrap_ = false;
  TTextLayout layout_ = tlTop;
};

enum TStaticBorderStyle { sbsNone, sbsSingle, sbsSunken };

class TStaticText : public TWinControl {
 public:
  explicit TStaticText(TComponent* owner);
  std::string ClassName() const override { return "TStaticText"; }
  TStaticBorderStyle GetBorderStyle() const { return border_; }
  void SetBorderStyle(TStaticBorderStyle s);
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment a);

 protected:
  void Paint() override;

 private:
  TStaticBorderStyle border_ = sbsNone;
  TAlignment alignment_ = taLeftJustify;
};

enum TImeMode { imDisable, imClose, imOpen, imDontCare };

class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);
  std::string ClassName() const override { return "TEdit"; }
  // 0: no limit. Typing or pasting beyond it keeps what fits, never half a character.
  int GetMaxLength() const { return max_length_; }
  void SetMaxLength(int bytes);
  bool GetReadOnly() const { return read_only_; }
  void SetReadOnly(bool v);
  TImeMode GetImeMode() const { return ime_; }
  void SetImeMode(TImeMode m);
  void SelectAll();
  TNotifyEvent OnChange;
  // Called when the widget's text changed (by the user or by SetText).
  void HandleEdited();

 protected:
  std::string ReadText() const override;
  void WriteText(const std::string& v) override;

 private:
  int max_length_ = 0;
  bool read_only_ = false;
  TImeMode ime_ = imDontCare;
  bool setting_ = false;
};

class TMemo : public TWinControl {
 public:
  explicit TMemo(TComponent* owner);
  std::string ClassName() const override { return "TMemo"; }
  int GetMaxLength() const { return max_length_; }
  void SetMaxLength(int bytes);
  bool GetReadOnly() const { return read_only_; }
  void SetReadOnly(bool v);
  bool GetWordWrap() const { return word_wrap_; }
  void SetWordWrap(bool v);
  // The lines; changing them changes the memo.
  TStrings& Lines() { return lines_; }
  TNotifyEvent OnChange;
  void HandleEdited();

 protected:
  std::string ReadText() const override;
  void WriteText(const std::string& v) override;

 private:
  TStrings lines_;
  int max_length_ = 0;
  bool read_only_ = false;
  bool word_wrap_ = true;
  bool setting_ = false;
};

class TListBox : public TWinControl {
 public:
  explicit TListBox(TComponent* owner);
  std::string ClassName() const override { return "TListBox"; }
  TStrings& Items() { return items_; }
  int GetItemIndex() const;
  void SetItemIndex(int i);
  void Clear() { items_.Clear(); }
  void HandleSelection();

 private:
  TStrings items_;
  bool setting_ = false;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList };

class TComboBox : public TWinControl {
 public:
  explicit TComboBox(TComponent* owner);
  std::string ClassName() const override { return "TComboBox"; }
  TStrings& Items() { return items_; }
  int GetItemIndex() const;
  void SetItemIndex(int i);
  TComboBoxStyle GetStyle() const { return style_; }
  void SetStyle(TComboBoxStyle s);
  TNotifyEvent OnChange;
  void HandleSelection();

 protected:
  std::string ReadText() const override;
  void WriteText(const std::string& v) override;

 private:
  TStrings items_;
  TComboBoxStyle style_ = csDropDown;
  bool setting_ = false;
};

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);
  std::string ClassName() const override { return "TButton"; }
  int GetModalResult() const { return modal_result_; }
  void SetModalResult(int r) { modal_result_ = r; }
  // Enter (Escape for the cancel button) that no control takes presses it.
  bool GetDefault() const { return default_; }
  void SetDefault(bool v);
  bool GetCancel() const { return cancel_; }
  void SetCancel(bool v) { cancel_ = v; }
  // Sets the owning form's ModalResult when it has one, then fires OnClick.
  void Click() override;

 protected:
  void TextChanged() override;

 private:
  int modal_result_ = 0;
  bool default_ = false;
  bool cancel_ = false;
};

// The bitmap button of the layouts; here a button with a caption.
class TBitBtn : public TButton {
 public:
  using TButton::TButton;
  std::string ClassName() const override { return "TBitBtn"; }
};

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* owner);
  std::string ClassName() const override { return "TCheckBox"; }
  bool GetChecked() const;
  // Fires OnClick when the state changes, as a click would.
  void SetChecked(bool v);
  void HandleToggled();

 protected:
  void TextChanged() override;

 private:
  bool setting_ = false;
};

// A windowless push button drawn by us.
class TSpeedButton : public TGraphicControl {
 public:
  explicit TSpeedButton(TComponent* owner);
  std::string ClassName() const override { return "TSpeedButton"; }
  bool GetFlat() const { return flat_; }
  void SetFlat(bool v);
  bool GetDown() const { return down_; }
  void SetDown(bool v);

 protected:
  void Paint() override;
  void MouseDown(TMouseButton b, TShiftState s, int x, int y) override;
  void MouseMove(TShiftState s, int x, int y) override;
  void MouseUp(TMouseButton b, TShiftState s, int x, int y) override;
  void EnabledChanged() override;

 private:
  bool flat_ = false;
  bool down_ = false;
  bool pressed_ = false;
};

class TImage : public TGraphicControl {
 public:
  explicit TImage(TComponent* owner);
  std::string ClassName() const override { return "TImage"; }
  TBitmap& Picture() { return picture_; }
  bool GetStretch() const { return stretch_; }
  void SetStretch(bool v);
  bool GetCenter() const { return center_; }
  void SetCenter(bool v);

 protected:
  void Paint() override;

 private:
  TBitmap picture_;
  bool stretch_ = false;
  bool center_ = false;
};

// A windowless area that its OnPaint handler draws on Canvas().
class TPaintBox : public TGraphicControl {
 public:
  explicit TPaintBox(TComponent* owner);
  std::string ClassName() const override { return "TPaintBox"; }
  TNotifyEvent OnPaint;

 protected:
  void Paint() override;
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

// The framework's decorative bevel: a box, frame or line, lowered or raised.
class TBevel : public TGraphicControl {
 public:
  explicit TBevel(TComponent* owner);
  std::string ClassName() const override { return "TBevel"; }
  TBevelShape GetShape() const { return shape_; }
  void SetShape(TBevelShape s);
  TBevelStyle GetStyle() const { return style_; }
  void SetStyle(TBevelStyle s);

 protected:
  void Paint() override;

 private:
  TBevelShape shape_ = bsBox;
  TBevelStyle style_ = bsLowered;
};

// A container of controls designed as a unit and placed on forms (the listing rows).
class TFrame : public TWinControl {
 public:
  explicit TFrame(TComponent* owner);
  std::string ClassName() const override { return "TFrame"; }
};

// The framework's plain panel.
class TPanel : public TCustomPanel {
 public:
  using TCustomPanel::TCustomPanel;
  std::string ClassName() const override { return "TPanel"; }
};

}  // namespace vant
