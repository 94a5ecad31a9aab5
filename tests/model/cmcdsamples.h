#pragma once
// Commercial data that a CSV record must carry through unchanged.
#include <iterator>
#include <string>

#include "bwfformat.h"

// Every field filled with something the record must carry through: commas, quotes, blanks,
// line breaks, CP932 text, texts of the full width and texts cut inside a character.
inline TCmcdInfo Awkward() {
  TCmcdInfo c;
  c.SetCmcdVersion(100);
  for (int f = 0; f < bwf::kCmcdFieldCount; ++f) {
    const auto field = static_cast<bwf::CmcdField>(f);
    const int width = bwf::Layout(field).width;
    static const std::string samples[] = {
        "plain",
        "a,b",
        "say \"hi\"",
        " lead and trail ",
        "line\r\nbreak",
        "\x83\x65\x83\x58\x83\x67",
        "\xB1\xB2\xB3",
        "tab\there",
        "",
        std::string(200, 'w'),
        std::string(201, '\x83'),
    };
    c.Set(field, samples[f % std::size(samples)].substr(0, static_cast<size_t>(width)));
  }
  c.Set(bwf::CmcdField::SpareCode, "");  // no edition imports it
  return c;
}
