#pragma once
// Text conversion between CP932 (what files, fields and CSV records hold) and UTF-8 (what the
// screen and the file system see).
#include <string>
#include <string_view>

namespace vant::text {

// True for a CP932 lead byte (0x81-0x9F, 0xE0-0xFC).
bool IsLeadByte(unsigned char c);

// CP932 to UTF-8. Never fails: a dangling lead byte at the end (a fixed-width field cut inside a
// double-byte character) and bytes CP932 cannot map become U+FFFD, so a damaged field still shows.
std::string ToUtf8(std::string_view cp932);

// UTF-8 to CP932. Returns false, leaving `out` with what converted, when the text holds a
// character CP932 cannot hold or is not valid UTF-8; nothing is dropped silently.
bool ToCp932(std::string_view utf8, std::string& out);

// UTF-8 to CP932 for text known to be representable; characters that are not become '?'.
std::string ToCp932Lossy(std::string_view utf8);

// Length in bytes of the longest prefix of `cp932` that is at most `limit` bytes and does not end
// inside a double-byte character.
size_t CharBoundary(std::string_view cp932, size_t limit);

}  // namespace vant::text
