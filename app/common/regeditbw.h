#pragma once
// TSysRegVANT: the one place both programs keep settings. Numbered values "WorkValue%03d"
// (strings and integers, kept apart by type) in the per-user store that stands for the key
// Software\QORA\VANTCM, read and written through four accessors; plus a small settings dialog
// for three named values ("DefaultPath", "BaseAppName", "DeviceType").
#include <cstdint>
#include <memory>
#include <string>

#include "exceptions.h"
#include "mmpanel.h"
#include "settingsstore.h"
#include "ui_dialogs.h"
#include "ui_form.h"
#include "ui_stdctrls.h"

// A value exists with another type than the accessor reads: "Invalid data type for '<name>'".
VANT_DECLARE_EXCEPTION(ERegistryException, vant::Exception);

class TSysRegVANT : public vant::TForm {
 public:
  // Creates the window and the store access (the per-user store file), then loads the dialog
  // values.
  explicit TSysRegVANT(vant::TComponent* owner);
  ~TSysRegVANT() override;
  std::string ClassName() const override { return "TSysRegVANT"; }

  // "WorkValue" and the number in three digits, zero-padded.
  static std::string WorkValueName(int number);
  // The value, or 0 / "" when the store or the value does not exist. A value of the other type
  // raises ERegistryException.
  int32_t ReadWorkInteger(int number);
  std::string ReadWorkString(int number);
  // Write the value, creating the store when missing; a store that cannot be written loses the
  // value silently.
  void WriteWorkInteger(int number, int32_t value);
  void WriteWorkString(int number, const std::string& text);

  void LoadSettings();
  void SaveSettings();

  vant::SettingsStore& Store() { return *store_; }

  // Layout components.
  TMMPanel* Panel1;
  vant::TEdit* DefaultPath;
  vant::TEdit* BaseAppName;
  vant::TComboBox* DeviceType;
  vant::TStaticText* StaticText1;
  vant::TStaticText* StaticText2;
  vant::TStaticText* StaticText3;
  vant::TSpeedButton* SpeedButton1;
  vant::TBitBtn* BitBtn1;
  vant::TBitBtn* BitBtn2;
  vant::TOpenDialog* OpenDialog1;

  void FormCreate(vant::TObject* Sender);
  void FormShow(vant::TObject* Sender);
  void SpeedButton1Click(vant::TObject* Sender);
  void BitBtn1Click(vant::TObject* Sender);
  void BitBtn2Click(vant::TObject* Sender);

 private:
  std::unique_ptr<vant::SettingsStore> store_;
};
