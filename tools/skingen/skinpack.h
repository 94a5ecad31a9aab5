#pragma once
// The skin pack: the pictures of one skin module in index order, as the generator writes them
// and the programs embed them. Layout: "VSKN", item count (u32 LE), then for each item its
// length (u32 LE) and its stored bitmap ("Data": width, height, top-down B G R A pixels); an
// empty item has length 0.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace vant::skinpack {

inline constexpr char kMagic[4] = {'V', 'S', 'K', 'N'};

// Splits a pack into its items' "Data" payloads (empty views for empty items); nullopt when the
// pack is damaged.
inline std::optional<std::vector<std::string_view>> Split(std::string_view pack) {
  auto u32 = [&](size_t at) {
    uint32_t v;
    std::memcpy(&v, pack.data() + at, 4);
    return v;
  };
  if (pack.size() < 8 || std::memcmp(pack.data(), kMagic, 4) != 0) return std::nullopt;
  uint32_t count = u32(4);
  size_t at = 8;
  std::vector<std::string_view> items;
  for (uint32_t i = 0; i < count; ++i) {
    if (pack.size() - at < 4) return std::nullopt;
    uint32_t len = u32(at);
    at += 4;
    if (pack.size() - at < len) return std::nullopt;
    items.push_back(pack.substr(at, len));
    at += len;
  }
  return items;
}

}  // namespace vant::skinpack
