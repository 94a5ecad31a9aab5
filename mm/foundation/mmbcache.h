#pragma once
// Off-screen bitmaps of equal size shared between controls (a slider's back buffer): one
// bitmap per size, counted by its holders. A holder that lets go never takes the bitmap away
// from the others.
#include <memory>

#include "ui_canvas.h"

// The cached bitmap of exactly this size (one more holder), or a new one.
std::shared_ptr<vant::TBitmap> LoadCacheBitmap(int width, int height);
// One holder less; the cache lets the bitmap go with its last holder. The caller's handle is
// cleared either way. Nothing for an empty handle or a bitmap the cache does not hold.
void RemoveCacheBitmap(std::shared_ptr<vant::TBitmap>& bitmap);
// How many bitmaps the cache holds (0: the cache is gone).
int CachedBitmapCount();
