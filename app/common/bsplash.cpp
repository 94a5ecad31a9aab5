#include "bsplash.h"

#include "skinlist.h"
#include "ui_application.h"

using namespace vant;

extern "C" const unsigned char vant_skin_splash[];
extern "C" const unsigned char vant_skin_splash_end[];

TVANTSplash* VANTSplash = nullptr;

TVANTSplash::TVANTSplash(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("VANTSplash");
  SetBorderStyle(bsNone);
  SetBorderIcons({});
  SetFormStyle(fsStayOnTop);
  SetPosition(poScreenCenter);
  SetClientWidth(480);
  SetClientHeight(250);
  Font().SetName("ＭＳ Ｐゴシック");
  Font().SetHeight(-12);

  TitleImage = new g32::TImage32(this);
  TitleImage->SetName("TitleImage");
  TitleImage->SetParent(this);
  TitleImage->SetBounds(0, 0, 480, 250);
  TitleImage->SetBitmapAlign(g32::baTopLeft);
  TitleImage->SetScaleMode(g32::smNormal);
  TitleImage->SetAutoSize(true);

  LoadSkinList(Bitmap32List, vant_skin_splash, vant_skin_splash_end);
  OnCreate = [this](TObject* s) { FormCreate(s); };
  DesignPixelsPerInch = 96;
  ScreenPixelsPerInch = Screen->PixelsPerInch();
  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();
  VANTSplash = this;
}

TVANTSplash::~TVANTSplash() {
  if (VANTSplash == this) VANTSplash = nullptr;
}

void TVANTSplash::FormCreate(TObject*) { ScaleBy(DesignPixelsPerInch, ScreenPixelsPerInch); }

void TVANTSplash::ShowPicture(int index) {
  TitleImage->SetBitmap(Bitmap32List.GetBitmap(index));
  TitleImage->SetAutoSize(true);
  SetClientWidth(TitleImage->GetWidth());
  SetClientHeight(TitleImage->GetHeight());
}
