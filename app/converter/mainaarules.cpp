#include "mainaarules.h"

#include <limits.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cp932.h"
#include "ui_datetime.h"

namespace orlune {
namespace {

// The text as CP932 bytes; nullopt when a character has no CP932 form.
std::optional<std::string> Bytes(std::string_view text) {
  std::string out;
  if (!vant::text::ToCp932(text, out)) return std::nullopt;
  return out;
}

bool AllSingleByte(std::string_view text) {
  auto b = Bytes(text);
  if (!b) return false;
  for (unsigned char c : *b)
    if (vant::text::IsLeadByte(c)) return false;
  return true;
}

// A decimal number written with digits and at most one "."; nullopt otherwise.
std::optional<double> Decimal(std::string_view text) {
  std::string s(text);
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty()) return std::nullopt;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool sign = i == 0 && (c == '+' || c == '-');
    if (!sign && !(c >= '0' && c <= '9') && c != '.') return std::nullopt;
  }
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::string Format(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

}  // namespace

bool IsValidLength(std::string_view text) {
  if (text.empty()) return true;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
  return Decimal(text).has_value();
}

bool IsValidDate(std::string_view text) {
  if (text.empty()) return true;
  if (!AllSingleByte(text)) return false;
  int slashes = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '/') continue;
    if (++slashes == 1 && i != 4) return false;
    if (slashes > 2) return false;
  }
  if (slashes != 2) return false;
  vant::TDateTime d;
  return vant::TryStrToDate(std::string(text), d, "yyyy/mm/dd");
}

bool IsSingleByte(std::string_view text) { return AllSingleByte(text); }

double StatedLength(std::string_view text) { return Decimal(text).value_or(0.0); }

bool PathFits(std::string_view path) {
  return path.size() < size_t(PATH_MAX) && path.find('\0') == std::string_view::npos;
}

bool LengthLampOn(int file_kind, bool cue_present, std::optional<double> cm_length,
                  std::string_view stated) {
  if (file_kind == 3) return false;
  if (file_kind == 2 && !cue_present) return false;
  const int64_t a = int64_t(cm_length.value_or(0.0) * 1000);
  const int64_t b = int64_t(StatedLength(stated) * 1000);
  return std::llabs(a - b) < 5 && a != 0;
}

std::string FileTypeText(int format_tag) {
  if (format_tag == 1) return "1:PCM";
  return std::to_string(format_tag) + ":その他";
}

std::string ChannelsText(int channels) { return channels == 2 ? "STEREO" : "MONO"; }

std::string SamplingText(uint32_t rate) { return Format("%4.1f", rate * 0.001); }

std::string ActualLengthText(bool has_start_mark, std::optional<double> cm_length) {
  if (!has_start_mark) return {};
  return Format("%4.2f", cm_length.value_or(0.0));
}

}  // namespace orlune
