#pragma once
// Commercial files for the viewer's tests, written with the model tests' independent builder.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bwfformat.h"
#include "vantbuilder.h"

// Tests name only the fields that matter for a case; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace viewertest {

struct Cm {
  uint32_t rate = 48000;
  uint16_t channels = 2;
  uint16_t tag = 1;
  std::string title;  // CP932
  std::string length = "30";
  std::string client;  // CP932
  std::string itemNumber;
  std::string commonCode;
  std::string limitation;
  std::string comment;               // Comment1
  uint32_t lengthSamples = 1440000;  // BC$STANDBY at 0, BC$END here
  bool attachment = false;
  size_t dataBytes = 4000;
};

inline vb::Bytes CmBytes(const Cm& c) {
  TCmcdInfo info;
  info.SetCmcdVersion(100);
  info.Set(bwf::CmcdField::CMTitle, c.title);
  info.Set(bwf::CmcdField::CMLength, c.length);
  info.Set(bwf::CmcdField::ClientName, c.client);
  info.Set(bwf::CmcdField::ItemNumber, c.itemNumber);
  info.Set(bwf::CmcdField::CommonCode, c.commonCode);
  info.Set(bwf::CmcdField::Limitation, c.limitation);
  info.Set(bwf::CmcdField::Comment1, c.comment);
  std::vector<vb::Cue> cues = {{2, 0}, {3, c.lengthSamples}};
  std::vector<vb::Chunk> labels = {vb::Labl(2, "BC$STANDBY"), vb::Labl(3, "BC$END")};
  if (c.attachment) {
    cues.push_back({vb::Note(1), 0});
    labels.push_back(vb::Labl(vb::Note(1), "BC$NOTE1"));
    labels.push_back(vb::File(vb::Note(1), "contact.pdf", vb::PdfBytes()));
  }
  return vb::Build({
      vb::Fmt(c.rate, c.channels, 16, c.tag),
      vb::Bext("viewer test"),
      vb::Raw("cmcd", vb::Bytes(info.bytes.begin(), info.bytes.end())),
      vb::Data(c.dataBytes),
      vb::CueChunk(cues),
      vb::List("adtl", labels),
  });
}

inline void WriteBytes(const std::filesystem::path& p, const vb::Bytes& b) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline void WriteCm(const std::filesystem::path& p, const Cm& c = {}) { WriteBytes(p, CmBytes(c)); }

// Files "CM01.wav" ... with titles "T01" ...
inline void WriteNumbered(const std::filesystem::path& folder, int count) {
  for (int i = 1; i <= count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "CM%02d.wav", i);
    Cm c;
    c.title = std::string("T") + (name + 2);
    c.title.resize(3);
    WriteCm(folder / name, c);
  }
}

}  // namespace viewertest
