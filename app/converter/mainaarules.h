#pragma once
// The converter main window's rules that need no window: the field checks run before a save,
// the length lamp's judgement, the display formats of a file's format, and the volume bar's
// geometry. Texts are UTF-8 as the fields hold them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orlune {

// Whether the system can take the path as given (shorter than PATH_MAX, no NUL byte); a longer
// one is refused, never cut, since a cut path could name another file.
bool PathFits(std::string_view path);

// CMLength: empty, or single-byte digits and "." that convert to a number.
bool IsValidLength(std::string_view text);
// CreationDate, Limitation: empty, or single-byte text with exactly two "/" (the first at index
// 4) that converts to a date under "yyyy/mm/dd".
bool IsValidDate(std::string_view text);
// CommonCode: no character is double-byte in CP932. A character CP932 cannot hold counts as
// double-byte, since it could not be stored as a single byte either.
bool IsSingleByte(std::string_view text);

// The stated length as the lamp reads it: a decimal number, 0 when it does not convert.
double StatedLength(std::string_view text);
// The length lamp: kind 3 off; kind 2 off unless the file has a cue chunk; otherwise on when the
// marked and the stated length, each in whole milliseconds, differ by less than 5 and the
// marked one is not 0.
bool LengthLampOn(int file_kind, bool cue_present, std::optional<double> cm_length,
                  std::string_view stated);

// "1:PCM" for tag 1, else "<tag>:その他".
std::string FileTypeText(int format_tag);
// "STEREO" for 2 channels, else "MONO".
std::string ChannelsText(int channels);
// The rate in kHz with "%4.1f".
std::string SamplingText(uint32_t rate);
// The marked length with "%4.2f" when the file has a start mark, else empty.
std::string ActualLengthText(bool has_start_mark, std::optional<double> cm_length);

// The volume bar: 20 pixels of dead margin on the left and 4 on the right of a bar `width`
// wide; usable height 1..24.
struct VolumeBar {
  int width;
  bool Accepts(int x, int y) const { return y >= 1 && y <= 24 && x >= 20 && x < width - 4; }
  // The volume (0..32767) of a bar-relative x inside the usable span.
  int VolumeAt(int x) const { return int((int64_t(x) - 20) * 32768 / (width - 24)); }
  // The handle's offset from the bar's left edge for a volume.
  int HandleOffset(int volume) const { return int(int64_t(volume) * (width - 24) / 32768) + 20; }
};

// The position bar: usable 2 <= x < w - h - 2 at 1 <= y <= 20, h half the handle's width.
struct PositionBar {
  int width;
  int handle_width;
  int Half() const { return handle_width / 2; }
  bool Accepts(int x, int y) const { return y >= 1 && y <= 20 && x >= 2 && x < width - Half() - 2; }
  int Range() const { return width - Half(); }
  // The handle's offset for a played fraction.
  int HandleOffset(double fraction) const { return int((width - handle_width) * fraction); }
};

}  // namespace orlune
