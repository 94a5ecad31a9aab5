#pragma once
// TMOInfo: one of the ten rows of the viewer's listing. It shows one model of the main window's
// table (file name, title, length, channels, the chosen code, limitation and the attachment and
// comment marks) and hands that file to the converter from its select button.
#include <functional>

#include "image32_widget.h"
#include "mmpanel.h"
#include "ui_stdctrls.h"

class TMOInfo : public vant::TCustomControl {
 public:
  // The row's `Tag` is its number, 1 to 10.
  TMOInfo(vant::TComponent* owner, int tag);
  std::string ClassName() const override { return "TMOInfo"; }

  TMMPanel* Segment;
  g32::TImage32* BTSelect;
  vant::TLabel* BTLabel;
  g32::TImage32* BTFieldBase;
  vant::TMemo* FileName;
  vant::TMemo* Title;
  vant::TLabel* CMLength;
  vant::TLabel* Channels;
  vant::TMemo* CodeInfo;
  vant::TMemo* Limitation;
  vant::TLabel* Attachiment;
  vant::TLabel* Comment;

  // The index in the main window's table of the file this row shows.
  int FileIndex = 0;
  // Hands the file of `FileIndex` to the converter (the main window's OpenInConverter).
  std::function<void(int index)> OnOpenFile;

  void SetRow(int n);
  // The row number "%02d" on the button, in a smaller font where it would not fit.
  void ShowNumber(int n);
  void ExecRowButton(int index);

 private:
  int designed_number_size_ = 0;
};
