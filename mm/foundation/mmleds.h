#pragma once
// LED and LCD read-outs: a lamp (TMMLED), a mono/stereo/multichannel indicator (TMMLEDMode), one
// seven-segment digit (TMMLEDDigit), a row of digits showing a signed integer (TMMLEDPanel) and
// a digit row with spin buttons (TMMLEDSpin). Digits are painted from the library's strips
// recoloured at run time and shared through one reference-counted cache.
#include <memory>
#include <string>

#include "mmenums.h"
#include "mmobj.h"
#include "mmspin.h"

enum TMMLEDSize {
  ls06x07,
  ls07x11,
  ls08x13,
  ls11x19,
  ls13x20,
  ls13x21,
  ls15x24,
  ls15x25,
  ls17x29,
  ls18x25,
  ls19x33,
  ls21x37,
  ls23x41
};
enum TMMLEDType { ltDigit, ltPeriod, ltColon, ltMinus };

// The process-wide cache of recoloured strips; exists while any entry does.
class TDigitCache {
 public:
  struct Key {
    TMMLEDType type;
    TMMLEDSize size;
    bool draw_inactive;
    vant::TColor background, lit, unlit;
    bool operator==(const Key&) const = default;
  };
  // One more reference to the strip for `key` (recoloured on first use).
  static std::shared_ptr<const vant::TBitmap> Get(const Key& key);
  // Drops one reference and clears `bitmap`; the last reference frees the strip.
  static void Release(std::shared_ptr<const vant::TBitmap>& bitmap);
  static size_t EntryCount();
  static bool Exists();
};

class TMMLED : public TMMGraphicControl {
 public:
  explicit TMMLED(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMLED"; }
  vant::TColor GetLEDColor() const { return led_color_; }
  void SetLEDColor(vant::TColor c);
  // Called instead of the lamp's own painting when assigned.
  std::function<void(vant::TObject*, vant::TCanvas&, vant::TRect)> OnPaint;

 protected:
  void Paint() override;
  void EnabledChanged() override;
  void TextChanged() override;

 private:
  vant::TColor led_color_ = vant::clLime;
};

class TMMLEDMode : public TMMGraphicControl {
 public:
  explicit TMMLEDMode(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMLEDMode"; }
  TMMMode GetMode() const { return mode_; }
  void SetMode(TMMMode m);
  bool GetDrawInactive() const { return draw_inactive_; }
  void SetDrawInactive(bool v);
  vant::TColor GetLEDColor() const { return led_color_; }
  void SetLEDColor(vant::TColor c);
  vant::TColor GetInactiveColor() const { return inactive_color_; }
  void SetInactiveColor(vant::TColor c);

 protected:
  void Paint() override;
  void EnabledChanged() override;
  void ColorChanged() override;

 private:
  void Recolour();
  TMMMode mode_ = mMono;
  bool draw_inactive_ = true;
  vant::TColor led_color_ = vant::clLime, inactive_color_ = vant::clGreen;
  vant::TBitmap strip_;
};

class TMMCustomLEDDigit : public TMMGraphicControl {
 public:
  explicit TMMCustomLEDDigit(vant::TComponent* owner);
  ~TMMCustomLEDDigit() override;
  std::string ClassName() const override { return "TMMCustomLEDDigit"; }

  int GetValue() const { return value_; }
  void SetValue(int v);
  int GetMinValue() const { return min_value_; }
  void SetMinValue(int v);
  int GetMaxValue() const { return max_value_; }
  void SetMaxValue(int v);
  bool GetZeroBlank() const { return zero_blank_; }
  void SetZeroBlank(bool v);
  bool GetDrawInactive() const { return draw_inactive_; }
  void SetDrawInactive(bool v);
  vant::TColor GetLEDColor() const { return led_color_; }
  void SetLEDColor(vant::TColor c);
  vant::TColor GetInactiveColor() const { return inactive_color_; }
  void SetInactiveColor(vant::TColor c);
  TMMLEDSize GetDigitSize() const { return size_; }
  void SetDigitSize(TMMLEDSize s);
  TMMLEDType GetDisplayType() const { return type_; }
  void SetDisplayType(TMMLEDType t);
  bool GetCascadeValues() const { return cascade_; }
  void SetCascadeValues(bool v) { cascade_ = v; }
  TMMCustomLEDDigit* GetConnect() const { return connect_; }
  void SetConnect(TMMCustomLEDDigit* d);
  void Increase();
  void Decrease();
  // The strip frame shown now (0: all segments unlit).
  int Frame() const;
  const vant::TBitmap* Strip() const { return strip_.get(); }

  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;
  vant::TNotifyEvent OnRollForward, OnRollBackward;

 protected:
  void Paint() override;
  void EnabledChanged() override;
  void ColorChanged() override;
  void Notification(vant::TComponent* component, vant::TOperation operation) override;
  virtual void RollForward();
  virtual void RollBackward();
  void UpdateStrip();

 private:
  int value_ = 0, min_value_ = 0, max_value_ = 9;
  bool zero_blank_ = false, draw_inactive_ = true, cascade_ = false;
  vant::TColor led_color_ = vant::clLime, inactive_color_ = vant::clGreen;
  TMMLEDSize size_ = ls13x21;
  TMMLEDType type_ = ltDigit;
  TMMCustomLEDDigit* connect_ = nullptr;
  std::shared_ptr<const vant::TBitmap> strip_;
  int frame_width_ = 11, frame_height_ = 21;
};

class TMMLEDDigit : public TMMCustomLEDDigit {
 public:
  using TMMCustomLEDDigit::TMMCustomLEDDigit;
  std::string ClassName() const override { return "TMMLEDDigit"; }
};

class TMMLEDPanel : public TMMCustomPanel {
 public:
  explicit TMMLEDPanel(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMLEDPanel"; }

  int GetNumDigits() const { return static_cast<int>(digits_.size()); }
  void SetNumDigits(int n);  // 1 .. 9
  TMMLEDSize GetDigitSize() const { return size_; }
  void SetDigitSize(TMMLEDSize s);
  int GetLEDSpace() const { return space_; }
  void SetLEDSpace(int v);
  int GetMinValue() const { return min_value_; }
  void SetMinValue(int v);
  int GetMaxValue() const { return max_value_; }
  void SetMaxValue(int v);
  int GetValue() const { return value_; }
  void SetValue(int v);
  bool GetZeroBlank() const { return zero_blank_; }
  void SetZeroBlank(bool v);
  bool GetDrawInactive() const { return draw_inactive_; }
  void SetDrawInactive(bool v);
  vant::TColor GetLEDColor() const { return led_color_; }
  void SetLEDColor(vant::TColor c);
  vant::TColor GetInactiveColor() const { return inactive_color_; }
  void SetInactiveColor(vant::TColor c);
  // Digit 0 is the ones digit.
  TMMLEDDigit* Digit(int i) const { return digits_[static_cast<size_t>(i)]; }

  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;
  vant::TNotifyEvent OnChange;

 protected:
  void Change();
  void BevelChanged() override;
  void EnabledChanged() override;
  void ColorChanged() override;
  void AdjustSize();

 private:
  void MakeDigits(int n);
  void ShowValue();
  void ForEachDigit(const std::function<void(TMMLEDDigit*)>& fn);
  std::vector<TMMLEDDigit*> digits_;
  TMMLEDSize size_ = ls13x21;
  int space_ = 1, min_value_ = 0, max_value_ = 100, value_ = 0;
  bool zero_blank_ = false, draw_inactive_ = true, adjusting_ = false;
  vant::TColor led_color_ = vant::clLime, inactive_color_ = vant::clGreen;
};

class TMMLEDSpin : public TMMWinControl {
 public:
  explicit TMMLEDSpin(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMLEDSpin"; }
  TMMLEDPanel* Panel() const { return panel_; }
  TMMSpinButton* Spin() const { return spin_; }

  int GetValue() const { return panel_->GetValue(); }
  void SetValue(int v);
  int GetMinValue() const { return panel_->GetMinValue(); }
  void SetMinValue(int v);
  int GetMaxValue() const { return panel_->GetMaxValue(); }
  void SetMaxValue(int v);
  int GetSpace() const { return space_; }
  void SetSpace(int v);

  // The digits' properties, kept by the panel.
  int GetNumDigits() const { return panel_->GetNumDigits(); }
  void SetNumDigits(int n);
  TMMLEDSize GetDigitSize() const { return panel_->GetDigitSize(); }
  void SetDigitSize(TMMLEDSize s);
  int GetLEDSpace() const { return panel_->GetLEDSpace(); }
  void SetLEDSpace(int v);
  bool GetZeroBlank() const { return panel_->GetZeroBlank(); }
  void SetZeroBlank(bool v) { panel_->SetZeroBlank(v); }
  bool GetDrawInactive() const { return panel_->GetDrawInactive(); }
  void SetDrawInactive(bool v) { panel_->SetDrawInactive(v); }
  vant::TColor GetLEDColor() const { return panel_->GetLEDColor(); }
  void SetLEDColor(vant::TColor c) { panel_->SetLEDColor(c); }
  vant::TColor GetInactiveColor() const { return panel_->GetInactiveColor(); }
  void SetInactiveColor(vant::TColor c) { panel_->SetInactiveColor(c); }
  // The frame around the digits; a change lays the control out again.
  TMMBevel& Bevel() { return panel_->Bevel(); }
  void SetBevel(const TMMBevel& b) { panel_->SetBevel(b); }

  // The buttons' properties, kept by the spin button.
  int32_t GetIncrement() const { return spin_->GetIncrement(); }
  void SetIncrement(int32_t v) { spin_->SetIncrement(v); }
  bool GetButtonFace() const { return spin_->GetButtonFace(); }
  void SetButtonFace(bool v);
  bool GetMiddleButton() const { return spin_->GetMiddleButton(); }
  void SetMiddleButton(bool v);
  const vant::TBitmap& GetUpGlyph() const { return spin_->GetUpGlyph(); }
  void SetUpGlyph(const vant::TBitmap& b) { spin_->SetUpGlyph(b); }
  const vant::TBitmap& GetDownGlyph() const { return spin_->GetDownGlyph(); }
  void SetDownGlyph(const vant::TBitmap& b) { spin_->SetDownGlyph(b); }
  int GetUpNumGlyphs() const { return spin_->GetUpNumGlyphs(); }
  void SetUpNumGlyphs(int n) { spin_->SetUpNumGlyphs(n); }
  int GetDownNumGlyphs() const { return spin_->GetDownNumGlyphs(); }
  void SetDownNumGlyphs(int n) { spin_->SetDownNumGlyphs(n); }
  // The spin button's frame; a change lays the control out again.
  TMMBevel& SpinBevel() { return spin_->Bevel(); }
  void SetSpinBevel(const TMMBevel& b) { spin_->SetBevel(b); }

  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;

  vant::TNotifyEvent OnChange, OnUpClick, OnDownClick;

 protected:
  void Change();
  void EnabledChanged() override;
  void ColorChanged() override;
  void DoEnter() override;
  void AdjustSize();

 private:
  TMMLEDPanel* panel_ = nullptr;
  TMMSpinButton* spin_ = nullptr;
  int space_ = 2;
  bool adjusting_ = false;
};
