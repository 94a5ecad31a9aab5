#include "mmresources.h"

#include <map>
#include <mutex>
#include <utility>

namespace {
std::mutex g_lock;
std::map<std::pair<std::string, std::string>, std::span<const uint8_t>>& Table() {
  static std::map<std::pair<std::string, std::string>, std::span<const uint8_t>> table;
  return table;
}
}  // namespace

void RegisterResource(const std::string& type, const std::string& name,
                      std::span<const uint8_t> bytes) {
  std::lock_guard lock(g_lock);
  Table()[{type, name}] = bytes;
}

std::span<const uint8_t> FindResourceBytes(const std::string& type, const std::string& name) {
  std::lock_guard lock(g_lock);
  const auto it = Table().find({type, name});
  return it == Table().end() ? std::span<const uint8_t>{} : it->second;
}
