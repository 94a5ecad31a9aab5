#include "regeditbw.h"

#include <cstdio>

#include "ui_application.h"

using namespace vant;

namespace {

// The dialog stores folders without their trailing separator: "C:\" becomes "C:".
std::string WithoutTrailingSeparator(std::string s) {
  if (!s.empty() && (s.back() == '\\' || s.back() == '/')) s.pop_back();
  return s;
}

[[noreturn]] void DataTypeError(const std::string& name) {
  throw ERegistryException("Invalid data type for '" + name + "'");
}

TStaticText* Caption(TForm* form, TWinControl* parent, const char* name, const char* text, int x,
                     int y) {
  auto* t = new TStaticText(form);
  t->SetName(name);
  t->SetBounds(x, y, 100, 17);
  t->SetBorderStyle(sbsSunken);
  t->SetCaption(text);
  t->SetParent(parent);
  return t;
}

}  // namespace

TSysRegVANT::TSysRegVANT(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("SysRegVANT");
  SetCaption("レジストリ編集");
  SetBorderStyle(bsSingle);
  SetPosition(poScreenCenter);
  SetClientWidth(470);
  SetClientHeight(142);

  Panel1 = new TMMPanel(this);
  Panel1->SetName("Panel1");
  Panel1->SetParent(this);
  Panel1->SetAlign(alClient);

  DefaultPath = new TEdit(this);
  DefaultPath->SetName("DefaultPath");
  DefaultPath->SetBounds(123, 12, 282, 20);
  DefaultPath->SetParent(Panel1);
  StaticText1 = Caption(this, Panel1, "StaticText1", "BaseApplication", 11, 14);

  BaseAppName = new TEdit(this);
  BaseAppName->SetName("BaseAppName");
  BaseAppName->SetBounds(123, 34, 282, 20);
  BaseAppName->SetParent(Panel1);
  StaticText2 = Caption(this, Panel1, "StaticText2", "BaseApplication", 11, 36);

  SpeedButton1 = new TSpeedButton(this);
  SpeedButton1->SetName("SpeedButton1");
  SpeedButton1->SetBounds(413, 36, 45, 20);
  SpeedButton1->SetCaption("参照");
  SpeedButton1->SetParent(Panel1);
  SpeedButton1->OnClick = [this](TObject* s) { SpeedButton1Click(s); };

  DeviceType = new TComboBox(this);
  DeviceType->SetName("DeviceType");
  DeviceType->SetBounds(122, 56, 103, 20);
  DeviceType->SetStyle(csDropDownList);
  DeviceType->Items().Add("961FAS/RC40");
  DeviceType->Items().Add("681");
  DeviceType->SetParent(Panel1);
  StaticText3 = Caption(this, Panel1, "StaticText3", "Device Type", 11, 58);

  BitBtn1 = new TBitBtn(this);
  BitBtn1->SetName("BitBtn1");
  BitBtn1->SetBounds(168, 86, 60, 20);
  BitBtn1->SetCaption("登録");
  BitBtn1->SetParent(Panel1);
  BitBtn1->OnClick = [this](TObject* s) { BitBtn1Click(s); };

  BitBtn2 = new TBitBtn(this);
  BitBtn2->SetName("BitBtn2");
  BitBtn2->SetBounds(237, 86, 60, 20);
  BitBtn2->SetCaption("キャンセル");
  BitBtn2->SetParent(Panel1);
  BitBtn2->OnClick = [this](TObject* s) { BitBtn2Click(s); };

  OpenDialog1 = new TOpenDialog(this);
  OpenDialog1->SetName("OpenDialog1");

  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnShow = [this](TObject* s) { FormShow(s); };
  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();

  store_ = std::make_unique<SettingsStore>(SettingsStore::DefaultFile());
  LoadSettings();
}

TSysRegVANT::~TSysRegVANT() { DoDestroy(); }

std::string TSysRegVANT::WorkValueName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "WorkValue%03d", number);
  return name;
}

int32_t TSysRegVANT::ReadWorkInteger(int number) {
  std::string name = WorkValueName(number);
  SettingsStore::Value v = store_->Get(name);
  if (v.type == SettingsStore::Type::kNone) return 0;
  if (v.type != SettingsStore::Type::kInteger) DataTypeError(name);
  return static_cast<int32_t>(v.integer);
}

std::string TSysRegVANT::ReadWorkString(int number) {
  std::string name = WorkValueName(number);
  SettingsStore::Value v = store_->Get(name);
  if (v.type == SettingsStore::Type::kNone) return "";
  if (v.type != SettingsStore::Type::kString) DataTypeError(name);
  return v.bytes;
}

void TSysRegVANT::WriteWorkInteger(int number, int32_t value) {
  store_->SetInteger(WorkValueName(number), value);
}

void TSysRegVANT::WriteWorkString(int number, const std::string& text) {
  store_->SetString(WorkValueName(number), text);
}

void TSysRegVANT::LoadSettings() {
  if (!store_->Exists()) return;
  // Values of another type than the dialog expects are left out: nothing else reads them, and a
  // damaged entry must not keep the program from starting.
  if (auto s = store_->GetString("DefaultPath")) DefaultPath->SetText(*s);
  if (auto s = store_->GetString("BaseAppName")) BaseAppName->SetText(*s);
  if (auto i = store_->GetInteger("DeviceType")) DeviceType->SetItemIndex(static_cast<int>(*i));
}

void TSysRegVANT::SaveSettings() {
  store_->SetString("DefaultPath", WithoutTrailingSeparator(DefaultPath->GetText()));
  store_->SetString("BaseAppName", WithoutTrailingSeparator(BaseAppName->GetText()));
  store_->SetInteger("DeviceType", DeviceType->GetItemIndex());
}

void TSysRegVANT::FormCreate(TObject*) { ScaleBy(96, Screen->PixelsPerInch()); }

void TSysRegVANT::FormShow(TObject*) { LoadSettings(); }

void TSysRegVANT::SpeedButton1Click(TObject*) {
  OpenDialog1->InitialDir = "DataBase File";
  OpenDialog1->Title = "DataBase File";
  if (OpenDialog1->Execute()) BaseAppName->SetText(OpenDialog1->FileName);
}

void TSysRegVANT::BitBtn1Click(TObject*) {
  SaveSettings();
  Close();
}

void TSysRegVANT::BitBtn2Click(TObject*) { Close(); }
