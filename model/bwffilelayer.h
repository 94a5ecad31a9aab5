#pragma once
// The file operations of the save and of `ReplacingFile` go through the programs' file layer
// (filelayer.h); these names are the model's for it.
#include "filelayer.h"

using TBWFFileLayer = vant::FileLayer;
using TBWFPosixFileLayer = vant::PosixFileLayer;

// The process-wide layer the save uses (the programs' one): POSIX unless a test installed another.
inline TBWFFileLayer& GetBWFFileLayer() { return vant::GetFileLayer(); }
inline void SetBWFFileLayer(TBWFFileLayer* layer) { vant::SetFileLayer(layer); }
