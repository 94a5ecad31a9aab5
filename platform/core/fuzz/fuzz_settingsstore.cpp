// Any bytes as a settings file: reading never fails, and a write keeps every value that could be
// read before it.
#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "settingsstore.h"
#include "tempfiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path dir = [] {
    auto p = *vant::MakeTempName(vant::TempFolder(), "fuzz-settings-");
    std::filesystem::create_directories(p);
    static std::filesystem::path to_remove = p;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(to_remove, ec);
    });
    return p;
  }();
  const auto file = dir / "VANTCM.conf";
  // A new file each time, as an editor or another program replaces it: rewritten in place within
  // one tick of the file system's clock and at the same size, it would look unchanged.
  std::ofstream(dir / "next", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::filesystem::rename(dir / "next", file);
  vant::SettingsStore store(file);
  const auto names = store.Names();
  std::vector<vant::SettingsStore::Value> before;
  for (const auto& n : names) before.push_back(store.Get(n));
  if (!store.SetInteger("FuzzWritten", 1)) return 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (strcasecmp(names[i].c_str(), "FuzzWritten") == 0 &&
        names[i].find('\0') == std::string::npos)
      continue;
    const auto after = store.Get(names[i]);
    const auto& b = before[i];
    if (after.type != b.type || after.integer != b.integer || after.bytes != b.bytes) std::abort();
  }
  if (store.GetInteger("FuzzWritten") != 1) std::abort();
  return 0;
}
