#include "cp932.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <stdexcept>

namespace vant::text {
namespace {

// One iconv descriptor per direction and thread; iconv_t is not safe to share.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts as much as possible. On an unconvertible or incomplete sequence, stops and returns
  // the number of input bytes consumed; `complete` tells whether all input was used.
  size_t Run(std::string_view in, std::string& out, bool& complete) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char buf[1024];
    complete = true;
    while (left > 0) {
      char* dst = buf;
      size_t room = sizeof buf;
      size_t r = iconv(cd_, &src, &left, &dst, &room);
      out.append(buf, static_cast<size_t>(dst - buf));
      if (r == static_cast<size_t>(-1) && errno != E2BIG) {
        complete = false;
        break;
      }
    }
    return in.size() - left;
  }

 private:
  iconv_t cd_;
};

Converter& FromCp932() {
  thread_local Converter c("UTF-8", "CP932");
  return c;
}
Converter& ToCp932Conv() {
  thread_local Converter c("CP932", "UTF-8");
  return c;
}

}  // namespace

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::string ToUtf8(std::string_view cp932) {
  std::string out;
  out.reserve(cp932.size() * 3 / 2);
  while (!cp932.empty()) {
    bool complete = false;
    size_t used = FromCp932().Run(cp932, out, complete);
    cp932.remove_prefix(used);
    if (complete) break;
    // Skip one undecodable character (a whole pair when a lead byte has a trail) and mark it.
    size_t skip = (IsLeadByte(static_cast<unsigned char>(cp932[0])) && cp932.size() >= 2) ? 2 : 1;
    out += "\xEF\xBF\xBD";
    cp932.remove_prefix(skip);
  }
  return out;
}

bool ToCp932(std::string_view utf8, std::string& out) {
  out.clear();
  bool complete = false;
  ToCp932Conv().Run(utf8, out, complete);
  return complete;
}

std::string ToCp932Lossy(std::string_view utf8) {
  std::string out;
  while (!utf8.empty()) {
    bool complete = false;
    size_t used = ToCp932Conv().Run(utf8, out, complete);
    utf8.remove_prefix(used);
    if (complete) break;
    // Skip one UTF-8 sequence.
    size_t skip = 1;
    while (skip < utf8.size() && (static_cast<unsigned char>(utf8[skip]) & 0xC0) == 0x80) ++skip;
    out += '?';
    utf8.remove_prefix(skip);
  }
  return out;
}

size_t CharBoundary(std::string_view cp932, size_t limit) {
  size_t i = 0;
  while (i < cp932.size()) {
    size_t step = (IsLeadByte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size()) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

}  // namespace vant::text
