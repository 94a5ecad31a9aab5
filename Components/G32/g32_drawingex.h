#pragma once
// Line clipping for the clipped line routines of TBitmap32.

namespace g32 {

// Clips the segment to the inclusive rectangle MinX..MaxX x MinY..MaxY; false when nothing of it
// remains. Works on integer pixels and, unchanged, on 16.16 fixed-point coordinates.
bool ClipLine(int& X1, int& Y1, int& X2, int& Y2, int MinX, int MinY, int MaxX, int MaxY);

}  // namespace g32
