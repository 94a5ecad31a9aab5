// Time, level and size formatting of the toolbox (mmutils.h).
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mmhelpers.h"
#include "mmmuldiv.h"
#include "mmutils.h"

using mm::detail::FormatText;

void TimeDecode(int64_t time_ms, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec) {
  if (time_ms <= 0) {
    hour = min = sec = msec = 0;
    return;
  }
  const int64_t minutes = time_ms / 60000, rest = time_ms % 60000;
  hour = static_cast<uint16_t>(minutes / 60);
  min = static_cast<uint16_t>(minutes % 60);
  sec = static_cast<uint16_t>(rest / 1000);
  msec = static_cast<uint16_t>(rest % 1000);
}

std::string TimeToMask(int64_t time_ms) {
  uint16_t h, m, s, ms;
  TimeDecode(time_ms, h, m, s, ms);
  return FormatText("%2.2d%2.2d%5.5d", h, m, s * 1000 + ms);
}

int64_t MaskToTime(std::string_view mask) {
  const std::string text(mask);
  char* end = nullptr;
  const long long n = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') return 0;
  return n / 10000000 * 3600000 + n % 10000000 / 100000 * 60000 + n % 10000000 % 100000;
}

std::string TimeToStringEx(int64_t time_ms, bool with_ms) {
  if (time_ms < 0) return "-" + TimeToStringEx(-time_ms, with_ms);
  const long long t = time_ms;
  const long long d = t / 86400000, h = t / 3600000 % 24, m = t / 60000 % 60, s = t / 1000 % 60;
  const long long ms = t % 1000;
  std::string text;
  if (t < 3600000)
    text = FormatText("%lld:%2.2lld", t / 60000, s);
  else if (t < 86400000)
    text = FormatText("%lld:%2.2lld:%2.2lld", h, m, s);
  else
    text = FormatText("%lld:%2.2lld:%2.2lld:%2.2lld", d, h, m, s);
  if (with_ms) text += FormatText(".%3.3lld", ms);
  return text;
}

std::string TimeToString64Ex(int64_t time_ms, bool with_ms) {
  return TimeToStringEx(time_ms, with_ms);
}

std::string TimeToString64(uint32_t low, uint32_t high, bool with_ms) {
  return TimeToStringEx(static_cast<int64_t>((uint64_t{high} << 32) | low), with_ms);
}

std::string TimeToString(int64_t time_ms) { return TimeToStringEx(time_ms, true); }

char DecimalSeparator() {
  const lconv* lc = std::localeconv();
  return (lc && lc->decimal_point && *lc->decimal_point) ? *lc->decimal_point : '.';
}

std::string CheckFloat(std::string_view text) {
  const char sep = DecimalSeparator();
  std::string out(text);
  for (char& c : out)
    if ((c == ',' || c == '.' || c == ';') && c != sep) c = sep;
  return out;
}

double StrToFloatEx(std::string_view text, char decimal_char) {
  std::string t(text);
  const char other = decimal_char == ',' ? '.' : decimal_char == '.' ? ',' : '\0';
  if (other)
    if (size_t at = t.find(other); at != std::string::npos) t[at] = decimal_char;
  // Read with the C library in its own terms: the decimal character becomes the locale's.
  std::string c_text = t;
  const char sep = DecimalSeparator();
  if (decimal_char != sep) {
    if (c_text.find(sep) != std::string::npos)
      throw EConvertError("'" + t + "' is not a valid floating point value");
    for (char& c : c_text)
      if (c == decimal_char) c = sep;
  }
  size_t first = c_text.find_first_not_of(" \t");
  size_t last = c_text.find_last_not_of(" \t");
  c_text = first == std::string::npos ? "" : c_text.substr(first, last - first + 1);
  char* end = nullptr;
  const double v = std::strtod(c_text.c_str(), &end);
  if (c_text.empty() || *end != '\0' || std::isnan(v) || std::isinf(v))
    throw EConvertError("'" + t + "' is not a valid floating point value");
  return v;
}

float DBToLin(float db) { return std::pow(10.0f, db / 20.0f); }

float LinToDB(float x) { return x < 0.000001f ? -120.0f : 20.0f * std::log10(std::fabs(x)); }

int32_t DBToVolume(float db, int32_t max_volume) {
  return static_cast<int32_t>(std::nearbyint(max_volume * std::pow(10.0, db / 20.0)));
}

float VolumeToDB(int32_t volume, int32_t max_volume) {
  if (volume == 0) return -110.0f;
  return static_cast<float>(20.0 * std::log10(std::fabs(static_cast<double>(volume)) /
                                              (max_volume > 1 ? max_volume : 1)));
}

std::string VolumeToStringShort(int32_t volume, int32_t max_volume, int32_t digits) {
  if (volume == 0) return "-Inf";
  return FormatText("%2.*f", digits, static_cast<double>(VolumeToDB(volume, max_volume)));
}

std::string VolumeToString(int32_t volume, int32_t max_volume, int32_t digits) {
  return VolumeToStringShort(volume, max_volume, digits) + " dB";
}

std::string PanningToString(int32_t pan, int32_t range) {
  if (range == 0) return "50:50";
  const int64_t r = range, p = pan;
  return FormatText("%lld:%lld", static_cast<long long>((r - p) * 50 / r),
                    static_cast<long long>((p + r) * 50 / r));
}

void CalcVolume(int32_t range, int32_t volume, int32_t pan, int32_t& left, int32_t& right) {
  left = right = volume;
  if (range == 0 || pan == 0) return;
  const int32_t other = MulDiv32RN(range - std::abs(pan), volume, range);
  (pan < 0 ? right : left) = other;
}

int32_t CombineVolume(int32_t a, int32_t b, int32_t max) {
  if (max == 0) return 0;
  const int32_t v = MulDiv32RN(a, b, max);
  return v < max ? v : max;
}

std::string FormatBigNumber(int64_t n) {
  const long long v = n;
  if (v < 1000) return FormatText("%lld", v);
  if (v < 1000000) return FormatText("%lld.%3.3lld", v / 1000, v % 1000);
  if (v < 1000000000)
    return FormatText("%lld.%3.3lld.%3.3lld", v / 1000000, v / 1000 % 1000, v % 1000);
  return FormatText("%lld.%3.3lld.%3.3lld.%3.3lld", v / 1000000000, v / 1000000 % 1000,
                    v / 1000 % 1000, v % 1000);
}

std::string BytesToString(int64_t bytes) {
  const double b = static_cast<double>(bytes);
  std::string text;
  if (bytes >= (int64_t{1} << 30))
    text = FormatText("%.1f Gb", b / (1 << 30));
  else if (bytes >= 1024000)
    text = FormatText("%.1f Mb", b / (1 << 20));
  else
    text = FormatText("%.1f Kb", b / 1024);
  // The size always shows '.', whatever the locale's separator.
  const char sep = DecimalSeparator();
  if (sep != '.')
    for (char& c : text)
      if (c == sep) c = '.';
  return text;
}
