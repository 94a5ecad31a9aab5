#pragma once
// Test-side RIFF builder sharing no code with the library: a list of chunks to bytes, with the
// sizes left for the test to break.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace wavetest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
inline void PutId(Bytes& b, const char* id) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(id[i]));
}

// id, size (the real one unless given), body, pad byte for an odd size.
inline Bytes Chunk(const char* id, const Bytes& body, int64_t statedSize = -1, bool pad = true) {
  Bytes b;
  PutId(b, id);
  Put32(b, statedSize >= 0 ? uint32_t(statedSize) : uint32_t(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (pad && (body.size() & 1)) b.push_back(0);
  return b;
}

inline Bytes Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                 int32_t blockAlign = -1, int64_t avgBytes = -1) {
  Bytes b;
  const uint16_t ba = blockAlign >= 0 ? uint16_t(blockAlign) : uint16_t(channels * bits / 8);
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, avgBytes >= 0 ? uint32_t(avgBytes) : uint32_t(ba) * rate);
  Put16(b, ba);
  Put16(b, bits);
  return b;
}

// 16-bit samples equal to their index (mod 65536), interleaved over the channels.
inline Bytes Ramp16(int frames, int channels) {
  Bytes b;
  for (int i = 0; i < frames * channels; ++i) Put16(b, uint32_t(i / channels) & 0xFFFF);
  return b;
}

inline Bytes Riff(const std::vector<Bytes>& chunks, int64_t statedSize = -1,
                  const char* form = "WAVE") {
  Bytes body;
  PutId(body, form);
  for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes b;
  PutId(b, "RIFF");
  Put32(b, statedSize >= 0 ? uint32_t(statedSize) : uint32_t(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

inline Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline void WriteFile(const std::filesystem::path& p, const Bytes& b) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline Bytes ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline uint32_t Le32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

// A fresh folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vant-wave-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` as a file of the folder; its full name.
  std::string Put(const Bytes& bytes, const std::string& name = "t.wav") const {
    WriteFile(path_ / name, bytes);
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace wavetest
