#pragma once
// Shows a device-independent pixel surface that lives in the caller's memory: 8-bit indexed with
// a 256-entry colour table, or 24-bit blue-green-red, rows padded to 4 bytes, bottom-up or
// top-down. The view never owns or copies the pixels; changing the colour table changes what
// the next blit shows without touching them.
#include <cstdint>
#include <memory>
#include <span>

#include "ui_canvas.h"
#include "ui_types.h"

namespace vant {

class TDIBView {
 public:
  TDIBView();
  ~TDIBView();
  TDIBView(const TDIBView&) = delete;
  TDIBView& operator=(const TDIBView&) = delete;

  // Shows `bits` (not owned; must outlive the attachment): `bits_per_pixel` 8 or 24, rows
  // `scan_width` bytes apart; with `bottom_up` row 0 of the picture is the last row in memory.
  void Attach(uint8_t* bits, int width, int height, int bits_per_pixel, int scan_width,
              bool bottom_up);
  void Detach();
  bool Attached() const;
  int Width() const;
  int Height() const;

  // Colour table entries as 0x00RRGGBB (8-bit surfaces; ignored at 24 bits).
  void SetColorTable(const uint32_t* rgb, int count);
  void SetColorEntry(int index, uint32_t rgb);
  uint32_t ColorEntry(int index) const;

  // Copies the block at (src_x, src_y) of the size of `dest` onto `dest` of the canvas, within
  // the canvas's clip rectangle and the surface; what lies outside either is left alone.
  void BlitTo(TCanvas& canvas, const TRect& dest, int src_x, int src_y) const;
  // The same, for a caller that knows where it wrote: `changed` holds every rectangle of the
  // surface (picture coordinates, rows from the top) written since the last blit. A blit of the
  // same block to the same untouched place then reads nothing else; otherwise, as above.
  void BlitTo(TCanvas& canvas, const TRect& dest, int src_x, int src_y,
              std::span<const TRect> changed) const;
  // Stretches `src` of the surface onto `dest` of the canvas (nearest pixel, colour on colour).
  void StretchTo(TCanvas& canvas, const TRect& dest, const TRect& src) const;
  // The whole picture as a 32-bit bitmap (rows from the top).
  void ToBitmap(TBitmap& bitmap) const;

  // Source bytes the blits have read (compared or converted) since the attachment.
  uint64_t BytesRead() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vant
