#include "verformaa.h"

using namespace vant;

TVersionConv* VersionConv = nullptr;

TVersionConv::TVersionConv(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("VersionConv");
  SetCaption("バージョン情報");
  SetBorderStyle(bsSingle);
  SetBorderIcons({biSystemMenu});
  SetPosition(poScreenCenter);
  SetClientWidth(320);
  SetClientHeight(120);
  Font().SetName("ＭＳ Ｐゴシック");
  Font().SetHeight(-12);

  TitleImage = new g32::TImage32(this);
  TitleImage->SetName("TitleImage");
  TitleImage->SetParent(this);
  TitleImage->SetBounds(0, 0, 320, 120);
  TitleImage->SetBitmapAlign(g32::baTopLeft);
  TitleImage->SetScaleMode(g32::smNormal);
  TitleImage->SetAutoSize(true);

  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();
  VersionConv = this;
}

TVersionConv::~TVersionConv() {
  if (VersionConv == this) VersionConv = nullptr;
}

void TVersionConv::SetPicture(const g32::TBitmap32* picture) {
  TitleImage->SetBitmap(picture);
  TitleImage->SetAutoSize(true);
  SetClientWidth(TitleImage->GetWidth());
  SetClientHeight(TitleImage->GetHeight());
}
