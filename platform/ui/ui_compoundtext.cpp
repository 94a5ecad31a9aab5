#include "ui_compoundtext.h"

#include <iconv.h>

#include <cstdint>

namespace vant {

namespace {

// The length of the UTF-8 sequence that begins with `lead` (1 for a stray byte).
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

uint32_t CodePoint(const std::string& s) {
  const auto b = [&](size_t i) { return uint32_t(static_cast<unsigned char>(s[i])); };
  switch (s.size()) {
    case 2:
      return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
    case 3:
      return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
    case 4:
      return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
    default:
      return b(0);
  }
}

// The JIS X 0208 bytes of one character with their high bits set (its EUC-JP form), or "".
std::string JisX0208(iconv_t cd, const std::string& ch) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char out[8];
  char* in = const_cast<char*>(ch.data());
  size_t in_left = ch.size(), out_left = sizeof out;
  char* o = out;
  if (iconv(cd, &in, &in_left, &o, &out_left) == size_t(-1)) return {};
  const size_t n = sizeof out - out_left;
  const auto u = [&](size_t i) { return static_cast<unsigned char>(out[i]); };
  if (n != 2 || u(0) < 0xA1 || u(0) > 0xFE || u(1) < 0xA1 || u(1) > 0xFE) return {};
  return std::string(out, 2);
}

}  // namespace

std::string CompoundText(const std::string& utf8) {
  enum class Right { kLatin1, kJis, kUnknown };
  static const std::string kJis = "\x1b$)B", kLatin1 = "\x1b-A";
  static const std::string kUtf8In = "\x1b%G", kUtf8Out = "\x1b%@";
  iconv_t cd = iconv_open("EUC-JP", "UTF-8");
  std::string out;
  Right right = Right::kLatin1;  // the right half holds Latin-1 at the start of compound text
  bool in_utf8 = false;
  auto leave_utf8 = [&] {
    if (!in_utf8) return;
    out += kUtf8Out;
    in_utf8 = false;
    right = Right::kUnknown;  // designate again: not every reader restores it
  };
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = std::min(SequenceLength(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
    const std::string ch = utf8.substr(i, n);
    i += n;
    const uint32_t cp = CodePoint(ch);
    if (cp < 0x80) {
      leave_utf8();
      if (cp >= 0x20 || cp == '\t' || cp == '\n') out += char(cp);
      continue;
    }
    if (cp >= 0xA0 && cp <= 0xFF) {
      leave_utf8();
      if (right != Right::kLatin1) out += kLatin1;
      right = Right::kLatin1;
      out += char(cp);
      continue;
    }
    if (const std::string jis = JisX0208(cd, ch); !jis.empty()) {
      leave_utf8();
      if (right != Right::kJis) out += kJis;
      right = Right::kJis;
      out += jis;
      continue;
    }
    if (!in_utf8) out += kUtf8In;
    in_utf8 = true;
    out += ch;
  }
  leave_utf8();
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return out;
}

}  // namespace vant
