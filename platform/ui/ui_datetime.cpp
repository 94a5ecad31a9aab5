#include "ui_datetime.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace vant {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysIn(int y, int m) {
  static const int k[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : k[m - 1];
}

// Days from 0001-01-01 (day 1) to the date, proleptic Gregorian.
int64_t DayNumber(int y, int m, int d) {
  int64_t yy = y - 1;
  int64_t n = yy * 365 + yy / 4 - yy / 100 + yy / 400;
  for (int i = 1; i < m; ++i) n += DaysIn(y, i);
  return n + d;
}
constexpr int64_t kDelta = 693594;  // DayNumber(1899, 12, 30)

std::string Pad(int v, int width) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*d", width, v);
  return b;
}

// Splits a time of day rounded to the millisecond.
void Split(TDateTime t, int64_t& days, int64_t& ms_of_day) {
  int64_t ms = static_cast<int64_t>(std::llround(t * 86400000.0));
  days = ms / 86400000;
  ms_of_day = ms % 86400000;
  if (ms_of_day < 0) ms_of_day += 86400000, --days;
}

}  // namespace

TFormatSettings& FormatSettings() {
  static TFormatSettings s;
  return s;
}

bool TryEncodeDate(int y, int m, int d, TDateTime& out) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysIn(y, m)) return false;
  out = static_cast<TDateTime>(DayNumber(y, m, d) - kDelta);
  return true;
}

TDateTime EncodeDate(int y, int m, int d) {
  TDateTime t;
  if (!TryEncodeDate(y, m, d, t)) throw EConvertError("Invalid argument to date encode");
  return t;
}

TDateTime EncodeTime(int h, int n, int s, int ms) {
  if (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59 || ms < 0 || ms > 999)
    throw EConvertError("Invalid argument to time encode");
  return (((h * 60 + n) * 60 + s) * 1000 + ms) / 86400000.0;
}

void DecodeDate(TDateTime t, int& y, int& m, int& d) {
  int64_t days, ms;
  Split(t, days, ms);
  int64_t n = days + kDelta;  // day number from 0001-01-01 = 1
  if (n < 1) {
    y = m = d = 0;
    return;
  }
  int64_t n0 = n - 1;
  int64_t y400 = n0 / 146097;
  n0 %= 146097;
  int64_t y100 = std::min<int64_t>(n0 / 36524, 3);
  n0 -= y100 * 36524;
  int64_t y4 = n0 / 1461;
  n0 %= 1461;
  int64_t y1 = std::min<int64_t>(n0 / 365, 3);
  n0 -= y1 * 365;
  y = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
  m = 1;
  while (n0 >= DaysIn(y, m)) n0 -= DaysIn(y, m++);
  d = static_cast<int>(n0 + 1);
}

void DecodeTime(TDateTime t, int& h, int& n, int& s, int& ms) {
  int64_t days, x;
  Split(t, days, x);
  ms = static_cast<int>(x % 1000);
  x /= 1000;
  s = static_cast<int>(x % 60);
  x /= 60;
  n = static_cast<int>(x % 60);
  h = static_cast<int>(x / 60);
}

std::string FormatDateTime(const std::string& f, TDateTime t) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(t, y, mo, d);
  DecodeTime(t, h, mi, s, ms);
  std::string out;
  bool after_hour = false;
  for (size_t i = 0; i < f.size();) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
    size_t run = 1;
    while (i + run < f.size() && std::tolower(static_cast<unsigned char>(f[i + run])) == c) ++run;
    switch (c) {
      case 'y':
        out += run <= 2 ? Pad(y % 100, 2) : Pad(y, 4);
        break;
      case 'm':
        out += Pad(after_hour ? mi : mo, run >= 2 ? 2 : 1);
        break;
      case 'd':
        out += Pad(d, run >= 2 ? 2 : 1);
        break;
      case 'h':
        out += Pad(h, run >= 2 ? 2 : 1);
        after_hour = true;
        i += run;
        continue;
      case 'n':
        out += Pad(mi, run >= 2 ? 2 : 1);
        break;
      case 's':
        out += Pad(s, run >= 2 ? 2 : 1);
        break;
      case 'z':
        out += Pad(ms, run >= 3 ? 3 : 1);
        break;
      case '/':
        out += std::string(run, FormatSettings().DateSeparator);
        break;
      case ':':
        out += std::string(run, FormatSettings().TimeSeparator);
        break;
      case '"':
      case '\'': {
        size_t end = f.find(f[i], i + 1);
        if (end == std::string::npos) end = f.size();
        out += f.substr(i + 1, end - i - 1);
        i = end + 1;
        continue;
      }
      default:
        out += f.substr(i, run);
        break;
    }
    // Only another field ends "right after the hour": separators and spaces do not.
    if (std::isalpha(static_cast<unsigned char>(c))) after_hour = false;
    i += run;
  }
  return out;
}

std::string DateToStr(TDateTime t) { return FormatDateTime(FormatSettings().ShortDateFormat, t); }
std::string TimeToStr(TDateTime t) { return FormatDateTime(FormatSettings().LongTimeFormat, t); }

std::string DateTimeToStr(TDateTime t) {
  int h, n, s, ms;
  DecodeTime(t, h, n, s, ms);
  std::string r = DateToStr(t);
  if (h || n || s || ms) r += " " + TimeToStr(t);
  return r;
}

bool TryStrToDate(const std::string& text, TDateTime& out, const std::string& format) {
  const std::string& f = format.empty() ? FormatSettings().ShortDateFormat : format;
  // The order of year, month and day as the format gives them.
  std::string order;
  for (char c : f) {
    char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if ((l == 'y' || l == 'm' || l == 'd') && order.find(l) == std::string::npos) order += l;
  }
  if (order.size() != 3) return false;
  char sep = FormatSettings().DateSeparator;
  int values[3];
  int digits[3];
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (i >= text.size() || text[i] != sep) return false;
      ++i;
    }
    int v = 0, n = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && n < 5)
      v = v * 10 + (text[i++] - '0'), ++n;
    if (n == 0) return false;
    values[k] = v;
    digits[k] = n;
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size()) return false;
  int y = 0, m = 0, d = 0;
  for (int k = 0; k < 3; ++k) {
    if (order[k] == 'y') {
      y = values[k];
      if (digits[k] <= 2) {
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        y += (tm.tm_year + 1900) / 100 * 100;
      }
    }
    if (order[k] == 'm') m = values[k];
    if (order[k] == 'd') d = values[k];
  }
  return TryEncodeDate(y, m, d, out);
}

TDateTime StrToDate(const std::string& text, const std::string& format) {
  TDateTime t;
  if (!TryStrToDate(text, t, format)) throw EConvertError("'" + text + "' is not a valid date");
  return t;
}

TDateTime UnixToDateTime(int64_t seconds) {
  std::time_t tt = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&tt, &tm);
  return EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
         EncodeTime(tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59), 0);
}

TDateTime Now() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  return UnixToDateTime(ms / 1000) + (ms % 1000) / 86400000.0;
}

}  // namespace vant
