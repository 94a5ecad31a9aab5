#pragma once
// The viewer's image buttons: a TImage32 whose Tag is group x 100 + index shows skin item `index`
// normally and `index` + 1 while pressed; releasing it runs the action of its group. Group 4 takes
// its pictures from TMODataRes.
#include <functional>

#include "image32_widget.h"

namespace viewer {

inline int TagGroup(intptr_t tag) { return static_cast<int>(tag / 100); }
inline int TagIndex(intptr_t tag) { return static_cast<int>(tag % 100); }

// Gives the image a copy of TMODataRes item `item`, blended at full master alpha.
void ShowSkinItem(g32::TImage32& image, int item);

// Wires the press, move and release rules; `run` gets the group and index on release.
void BindImageButton(g32::TImage32& image, std::function<void(int group, int index)> run);

// The handlers themselves, for controls that act as the button (the row number on it).
void ImageButtonDown(g32::TImage32& image);
void ImageButtonMove(g32::TImage32& image);
void ImageButtonUp(g32::TImage32& image, const std::function<void(int group, int index)>& run);

}  // namespace viewer
