#pragma once
// TVANTSplash: the borderless stay-on-top title window shown while a program starts. It holds
// the four title pictures (0 the disc viewer's, 2 the converter's); the program copies its own
// into TitleImage, and the main window hides the splash 3,000 ms after it was created.
#include "bitmap32list.h"
#include "image32_widget.h"
#include "ui_form.h"

class TVANTSplash : public vant::TForm {
 public:
  explicit TVANTSplash(vant::TComponent* owner);
  ~TVANTSplash() override;
  std::string ClassName() const override { return "TVANTSplash"; }

  // Copies title picture `index` into TitleImage, which takes its size.
  void ShowPicture(int index);

  g32::TImage32* TitleImage;
  g32::TBitmap32List Bitmap32List;
  int DesignPixelsPerInch = 96;
  int ScreenPixelsPerInch = 96;
  // 0 unless the program sets it before the window is shown (the disc viewer sets 2).
  int EditionCode = 0;

  void FormCreate(vant::TObject* Sender);
};

// The program-wide reference, set while a splash exists.
extern TVANTSplash* VANTSplash;
