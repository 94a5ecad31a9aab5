#include <sstream>
#include <string>

#include "g32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g32::TBitmap32 b;
  try {
    b.ReadData(std::span(data, size));
  } catch (const g32::EReadError&) {
  }
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    b.ReadData(in);
  } catch (const g32::EReadError&) {
  }
  return 0;
}
