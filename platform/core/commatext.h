#pragma once
// Comma text: the one-line list format of the component framework's string lists. The
// commercial-data record and the disc listing are written and read with these rules, byte for
// byte, so records made by the original programs keep their meaning.
//
// Writing: values joined by commas; a value holding a byte at or below the blank (32), a double
// quote or a comma is put in double quotes with inner quotes doubled; a list of one empty value
// is written "".
// Reading: blanks and control bytes before a value are skipped; a quoted value runs to its closing
// quote ("" inside is one quote); any other value ends at a comma or at a byte at or below the
// blank, so blanks separate unquoted values; after a value blanks and one comma are consumed.
// Bytes compare unsigned and CP932 double-byte characters are stepped over whole, so Shift-JIS
// bytes are never taken for blanks or delimiters. A NUL byte ends the text.
#include <string>
#include <string_view>
#include <vector>

namespace vant::text {

std::string JoinCommaText(const std::vector<std::string>& values);
std::vector<std::string> SplitCommaText(std::string_view text);

// The quoting rule alone, for writers that build a line value by value.
bool CommaTextNeedsQuotes(std::string_view value);
std::string QuoteCommaValue(std::string_view value);

}  // namespace vant::text
