#pragma once
// TVersionConv: the version window, shown modally by a right click on the main window's top
// strip. It has no picture of its own: the main window copies the splash's title picture into
// it at its first activation, and the window takes the picture's size.
#include "bitmap32list.h"
#include "image32_widget.h"
#include "ui_form.h"

class TVersionConv : public vant::TForm {
 public:
  explicit TVersionConv(vant::TComponent* owner);
  ~TVersionConv() override;
  std::string ClassName() const override { return "TVersionConv"; }

  // Copies `picture` into TitleImage and fits the window around it.
  void SetPicture(const g32::TBitmap32* picture);

  g32::TImage32* TitleImage;
};

// The program-wide reference, set while the window exists.
extern TVersionConv* VersionConv;
