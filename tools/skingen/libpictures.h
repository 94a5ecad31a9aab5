#pragma once
// The media library's own pictures (LED digit and symbol strips, the mode lamp, the spin
// button's glyphs, the wave file symbol of the media dialogs), drawn by the skin generator into the
// pack "mmlib" in this order; the library finds each by its name.
#include <array>
#include <string_view>

namespace vant::libpictures {

inline constexpr std::array<std::string_view, 32> kNames = {
    "LCD_06X07",   "LCD_07X11",  "LCD_08X13",  "LCD_11X19",  "LCD_13X20",   "LCD_13X21",
    "LCD_15X24",   "LCD_15X25",  "LCD_17X29",  "LCD_18X25",  "LCD_19X33",   "LCD_21X37",
    "LCD_23X41",   "LCDS_06X07", "LCDS_07X11", "LCDS_08X13", "LCDS_11X19",  "LCDS_13X20",
    "LCDS_13X21",  "LCDS_15X24", "LCDS_15X25", "LCDS_17X29", "LCDS_18X25",  "LCDS_19X33",
    "LCDS_21X37",  "LCDS_23X41", "LCD_MODE",   "MMSPINUPV",  "MMSPINDOWNV", "MMSPINUPH",
    "MMSPINDOWNH", "BMP_WAVE"};

// Frame sizes (width, height) of the digit sizes in the order of the names above.
inline constexpr std::array<std::array<int, 2>, 13> kDigitFrames = {{{4, 7},
                                                                     {5, 9},
                                                                     {7, 13},
                                                                     {9, 19},
                                                                     {11, 20},
                                                                     {11, 21},
                                                                     {13, 24},
                                                                     {13, 25},
                                                                     {15, 29},
                                                                     {15, 23},
                                                                     {17, 33},
                                                                     {19, 37},
                                                                     {21, 41}}};

}  // namespace vant::libpictures
