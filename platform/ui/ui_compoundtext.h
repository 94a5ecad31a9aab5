#pragma once
// The X11 "compound text" form of a title, for window managers that read only the legacy
// WM_NAME property: the toolkit writes that property in the C library's locale, which under
// LANG=C turns a Japanese title into mojibake.
#include <string>

namespace vant {

// ASCII as it is, Latin-1 letters in the Latin-1 right half, Japanese in JIS X 0208 (the form
// the X library itself writes in a Japanese locale), anything else in a UTF-8 segment.
std::string CompoundText(const std::string& utf8);

}  // namespace vant
