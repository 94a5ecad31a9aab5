#include "commatext.h"

#include "cp932.h"

namespace vant::text {
namespace {

constexpr char kQuote = '"';
constexpr char kDelimiter = ',';

bool IsBlank(unsigned char c) { return c >= 1 && c <= ' '; }

bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// The next character's start: a lead byte takes its trail byte with it. A lead byte without a
// trail byte (a fixed-width field cut inside a double-byte character) stands alone, so it never
// swallows the comma or quote that follows it.
size_t Next(std::string_view s, size_t i) {
  if (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() &&
      IsTrailByte(static_cast<unsigned char>(s[i + 1]))) {
    return i + 2;
  }
  return i + 1;
}

size_t SkipBlanks(std::string_view s, size_t i) {
  while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) i = Next(s, i);
  return i;
}

// From an opening quote at `i`: the value up to the closing quote, with doubled quotes made
// single; `i` ends past the closing quote, or at the end when there is none.
std::string ExtractQuoted(std::string_view s, size_t& i) {
  std::string value;
  ++i;
  while (i < s.size()) {
    if (s[i] == kQuote) {
      if (i + 1 < s.size() && s[i + 1] == kQuote) {
        value += kQuote;
        i += 2;
        continue;
      }
      ++i;
      return value;
    }
    size_t next = Next(s, i);
    value.append(s.substr(i, next - i));
    i = next;
  }
  return value;
}

}  // namespace

bool CommaTextNeedsQuotes(std::string_view value) {
  for (size_t i = 0; i < value.size(); i = Next(value, i)) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (c <= ' ' || c == kQuote || c == kDelimiter) return true;
  }
  return false;
}

std::string QuoteCommaValue(std::string_view value) {
  if (!CommaTextNeedsQuotes(value)) return std::string(value);
  std::string out;
  out.reserve(value.size() + 2);
  out += kQuote;
  for (char c : value) {
    if (c == kQuote) out += kQuote;
    out += c;
  }
  out += kQuote;
  return out;
}

std::string JoinCommaText(const std::vector<std::string>& values) {
  if (values.size() == 1 && values[0].empty()) return "\"\"";
  std::string out;
  for (size_t k = 0; k < values.size(); ++k) {
    if (k > 0) out += kDelimiter;
    out += QuoteCommaValue(values[k]);
  }
  return out;
}

std::vector<std::string> SplitCommaText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> values;
  size_t i = SkipBlanks(text, 0);
  while (i < text.size()) {
    if (text[i] == kQuote) {
      values.push_back(ExtractQuoted(text, i));
    } else {
      size_t start = i;
      while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ' &&
             text[i] != kDelimiter) {
        i = Next(text, i);
      }
      values.emplace_back(text.substr(start, i - start));
    }
    i = SkipBlanks(text, i);
    if (i < text.size() && text[i] == kDelimiter) i = SkipBlanks(text, i + 1);
  }
  return values;
}

}  // namespace vant::text
