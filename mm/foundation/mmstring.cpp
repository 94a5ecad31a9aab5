#include "mmstring.h"

#include <algorithm>

#include "cp932.h"

namespace mm {

int StrPosEx(std::string_view sub, std::string_view s, int n) {
  if (n < 1 || sub.empty() || s.empty()) return 0;
  size_t at = 0;
  for (;;) {
    size_t found = s.find(sub, at);
    if (found == std::string_view::npos) return 0;
    if (--n == 0) return static_cast<int>(found) + 1;
    at = found + 1;
  }
}

int PosEx(int from, std::string_view sub, std::string_view s) {
  const size_t start = static_cast<size_t>(std::max(from, 1)) - 1;
  if (sub.empty() || start >= s.size()) return 0;
  size_t found = s.find(sub, start);
  return found == std::string_view::npos ? 0 : static_cast<int>(found - start) + 1;
}

int PosRight(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  size_t found = s.rfind(sub);
  return found == std::string_view::npos ? 0 : static_cast<int>(found) + 1;
}

void DeleteLeft(std::string& s, char ch) {
  size_t at = s.find(ch);
  if (at != std::string::npos) s.erase(0, at);
}

void DeleteRight(std::string& s, char ch) {
  size_t at = s.rfind(ch);
  if (at == std::string::npos)
    s.clear();
  else
    s.erase(at + 1);
}

std::string LeftEnd(std::string_view s, char ch) {
  size_t at = s.find(ch);
  return at == std::string_view::npos ? std::string() : std::string(s.substr(0, at));
}

std::string RightEnd(std::string_view s, char ch) {
  size_t at = s.rfind(ch);
  return at == std::string_view::npos ? std::string() : std::string(s.substr(at + 1));
}

std::string LeftStr(std::string_view s, int n) {
  return std::string(s.substr(0, static_cast<size_t>(std::max(n, 0))));
}

std::string RightStr(std::string_view s, int n) {
  const size_t k = std::min(s.size(), static_cast<size_t>(std::max(n, 0)));
  return std::string(s.substr(s.size() - k));
}

namespace {
enum class Side { kLeft, kRight, kEnds };
std::string Pad(std::string_view s, char ch, int len, Side side) {
  const size_t want = static_cast<size_t>(std::max(len, 0));
  if (s.size() >= want) return std::string(s);
  const size_t fill = want - s.size();
  const size_t before = side == Side::kLeft ? fill : side == Side::kRight ? 0 : fill / 2;
  return std::string(before, ch) + std::string(s) + std::string(fill - before, ch);
}
}  // namespace

std::string PadLeft(std::string_view s, char ch, int len) { return Pad(s, ch, len, Side::kLeft); }
std::string PadRight(std::string_view s, char ch, int len) { return Pad(s, ch, len, Side::kRight); }
std::string PadEnds(std::string_view s, char ch, int len) { return Pad(s, ch, len, Side::kEnds); }

std::string Replicate(std::string_view s, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += s;
  return out;
}

namespace {
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool Equal(std::string_view s1, std::string_view s2) {
  if (s1.size() != s2.size()) return false;
  for (size_t i = 0; i < s1.size(); ++i) {
    const auto c = static_cast<unsigned char>(s1[i]);
    if (vant::text::IsLeadByte(c) && i + 1 < s1.size()) {
      // A double-byte character matches only byte for byte.
      if (s1[i] != s2[i] || s1[i + 1] != s2[i + 1]) return false;
      ++i;
    } else if (AsciiUpper(s1[i]) != AsciiUpper(s2[i])) {
      return false;
    }
  }
  return true;
}

std::string Replace(std::string_view s, char old_ch, char new_ch) {
  std::string out(s);
  std::replace(out.begin(), out.end(), old_ch, new_ch);
  return out;
}

int32_t HexToInt(std::string_view s) {
  std::string eight = PadLeft(s.substr(0, 8), '0', 8);
  uint32_t v = 0;
  for (char c : eight) {
    int d = 0;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return static_cast<int32_t>(v);
}

std::string IntToBin(uint32_t value, int digits) {
  std::string out;
  for (int bit = digits - 1; bit >= 0; --bit) out += (bit < 32 && (value >> bit) & 1u) ? '1' : '0';
  return out;
}

char DUpCase(char ch) {
  switch (static_cast<unsigned char>(ch)) {
    case 228:
      return static_cast<char>(196);
    case 246:
      return static_cast<char>(214);
    case 252:
      return static_cast<char>(220);
    default:
      return AsciiUpper(ch);
  }
}

std::string DUpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = DUpCase(c);
  return out;
}

namespace {
std::string Transform(std::string_view s, uint16_t key, bool encrypt) {
  std::string out(s.size(), '\0');
  uint16_t k = key;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto in = static_cast<uint8_t>(s[i]);
    const auto o = static_cast<uint8_t>(in ^ (k >> 8));
    out[i] = static_cast<char>(o);
    const uint16_t c = encrypt ? o : in;
    k = static_cast<uint16_t>((k + c) * 52845u + 22719u);
  }
  return out;
}
}  // namespace

std::string Encrypt(std::string_view s, uint16_t key) { return Transform(s, key, true); }
std::string Decrypt(std::string_view s, uint16_t key) { return Transform(s, key, false); }

}  // namespace mm
