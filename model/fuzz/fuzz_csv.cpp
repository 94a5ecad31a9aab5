// Arbitrary bytes as a commercial-data CSV record, with each edition's key, and comma text read
// back after writing: no crash, and what is written reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bwfcsv.h"
#include "commatext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (uint32_t key : {EditionKeyPostProduction, EditionKeyAgency, EditionKeyBroadcaster}) {
    TCmcdInfo cmcd;
    ImportCmcdCsvText(cmcd, text, key);
  }
  auto values = vant::text::SplitCommaText(text);
  // A trailing empty value is not kept by the format; anything else must survive a round trip.
  if (!values.empty() && !values.back().empty()) {
    if (vant::text::SplitCommaText(vant::text::JoinCommaText(values)) != values) std::abort();
  }
  return 0;
}
