#include "mobuttons.h"

#include "moresources.h"

namespace viewer {

namespace {

void BlendFully(g32::TImage32& image) {
  image.GetBitmap()->SetDrawMode(g32::dmBlend);
  image.GetBitmap()->SetMasterAlpha(255);
}

void ShowGroupPicture(g32::TImage32& image, int offset) {
  if (TagGroup(image.GetTag()) == 4) ShowSkinItem(image, TagIndex(image.GetTag()) + offset);
}

}  // namespace

void ShowSkinItem(g32::TImage32& image, int item) {
  if (MODataRes) image.SetBitmap(MODataRes->Bitmap32List.GetBitmap(item));
  BlendFully(image);
}

void ImageButtonDown(g32::TImage32& image) { ShowGroupPicture(image, 1); }

void ImageButtonMove(g32::TImage32& image) { ShowGroupPicture(image, 0); }

void ImageButtonUp(g32::TImage32& image, const std::function<void(int, int)>& run) {
  BlendFully(image);
  if (run) run(TagGroup(image.GetTag()), TagIndex(image.GetTag()));
}

void BindImageButton(g32::TImage32& image, std::function<void(int, int)> run) {
  g32::TImage32* b = &image;
  image.OnMouseDown = [b](vant::TObject*, vant::TMouseButton, vant::TShiftState, int, int,
                          g32::TCustomLayer*) { ImageButtonDown(*b); };
  image.OnMouseMove = [b](vant::TObject*, vant::TShiftState, int, int, g32::TCustomLayer*) {
    ImageButtonMove(*b);
  };
  image.OnMouseUp = [b, run = std::move(run)](vant::TObject*, vant::TMouseButton, vant::TShiftState,
                                              int, int,
                                              g32::TCustomLayer*) { ImageButtonUp(*b, run); };
}

}  // namespace viewer
