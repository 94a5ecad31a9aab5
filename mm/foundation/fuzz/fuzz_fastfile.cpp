// Arbitrary bytes as a container file: opening validates every field, and whatever opens can be
// listed, read through handles, renamed, pruned and packed without reading outside the mapping.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "mmffile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path folder = [] {
    auto p = std::filesystem::temp_directory_path() / ("fuzz-fastfile-" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  const std::string path = (folder / "box.ff").string();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  try {
    TMMFastFile ff(nullptr);
    ff.SetFileName(path);
    std::vector<uint8_t> buffer(4096);
    for (int i = 0; i < ff.GetCount(); ++i) {
      const std::string name = ff.GetFiles(i);
      if (name.empty()) continue;
      const TFastFileHandle h = ff.FileOpen(name);
      while (ff.FileRead(h, buffer.data(), static_cast<int32_t>(buffer.size())) > 0) {
      }
      ff.FileSeek(h, 0, 2);
      ff.FileClose(h);
    }
    if (ff.GetCount() > 0) ff.RemoveFile(ff.GetFiles(0));
  } catch (const EMMFastFileError&) {
  }
  return 0;
}
