#pragma once
// The framework's date-time values and their text forms. A TDateTime counts days since
// 1899-12-30 (the fraction is the time of day). Formats are explicit strings, never the
// machine's locale, so text written by the programs is the same everywhere.
#include <cstdint>
#include <string>

#include "ui_component.h"

namespace vant {

using TDateTime = double;

// The formats DateToStr, TimeToStr, DateTimeToStr and StrToDate use unless given one. They
// start as the Japanese desktop's: "yyyy/mm/dd" and "h:nn:ss".
struct TFormatSettings {
  std::string ShortDateFormat = "yyyy/mm/dd";
  std::string LongTimeFormat = "h:nn:ss";
  char DateSeparator = '/';
  char TimeSeparator = ':';
};
TFormatSettings& FormatSettings();

// Raises EConvertError for a date that does not exist.
TDateTime EncodeDate(int year, int month, int day);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
void DecodeDate(TDateTime t, int& year, int& month, int& day);
void DecodeTime(TDateTime t, int& hour, int& min, int& sec, int& msec);

// Format letters: yyyy yy, mm m (month; minutes right after h), dd d, hh h, nn n, ss s, zzz,
// '/' and ':' the separators, text in quotes as it is; anything else is copied.
std::string FormatDateTime(const std::string& format, TDateTime t);
std::string DateToStr(TDateTime t);
std::string TimeToStr(TDateTime t);
// The date, then the time when it is not midnight.
std::string DateTimeToStr(TDateTime t);

// Reads a date written in the order of `format` (ShortDateFormat when empty) with its
// separator; one- or two-digit years fall in the current century.
bool TryStrToDate(const std::string& text, TDateTime& out, const std::string& format = "");
// As TryStrToDate; raises EConvertError "'<text>' is not a valid date".
TDateTime StrToDate(const std::string& text, const std::string& format = "");

// Seconds since the epoch (UTC) as local date-time, and the local date-time now.
TDateTime UnixToDateTime(int64_t seconds);
TDateTime Now();

}  // namespace vant
