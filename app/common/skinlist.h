#pragma once
// Fills a skin module's picture list from a skin pack compiled into the program (see
// tools/skingen/skinpack.h): one item per picture, in index order, an empty item where the pack
// has none.
#include "bitmap32list.h"
#include "exceptions.h"
#include "ui_component.h"

VANT_DECLARE_EXCEPTION(ESkinPackError, vant::Exception);

// Replaces the list's items with the pack's pictures; raises ESkinPackError when the pack or one
// of its pictures is damaged (a build fault, never a user's file).
void LoadSkinList(g32::TBitmap32List& list, const unsigned char* begin, const unsigned char* end);

// A skin module: a non-visual component that owns one picture list, filled from its pack when
// it is made and never changed afterwards (image controls receive copies).
class TSkinModule : public vant::TComponent {
 public:
  TSkinModule(vant::TComponent* owner, const char* name, const unsigned char* begin,
              const unsigned char* end);
  g32::TBitmap32List Bitmap32List;
};
