#pragma once
// Test-side VANT file builder: a list of chunks to bytes, written independently of the model so
// that the model's reading is checked against a second reading of the layout. Sizes can be forced
// to broken values, and any chunk can be left unpadded.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vb {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
inline uint32_t Id(const char* s) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

struct Chunk {
  std::string id;                // four characters
  Bytes data;                    // for a LIST: filled from `subs` at build time
  std::string listType;          // non-empty: a LIST (or RIFF) with this type
  std::vector<Chunk> subs;       // sub-chunks of a LIST
  std::optional<uint32_t> size;  // forced size field
  bool pad = true;               // a pad byte after odd data
};

inline Bytes Serialize(const Chunk& c) {
  Bytes data = c.data;
  if (!c.listType.empty()) {
    data.clear();
    PutText(data, c.listType);
    for (const Chunk& s : c.subs) {
      Bytes sb = Serialize(s);
      data.insert(data.end(), sb.begin(), sb.end());
    }
  }
  Bytes out;
  PutText(out, c.id);
  Put32(out, c.size.value_or(static_cast<uint32_t>(data.size())));
  out.insert(out.end(), data.begin(), data.end());
  if (c.pad && (data.size() & 1)) out.push_back(0);
  return out;
}

// RIFF "WAVE" around the chunks; the form size is the real one unless forced.
inline Bytes Build(const std::vector<Chunk>& chunks, std::optional<uint32_t> formSize = {}) {
  Chunk form;
  form.id = "RIFF";
  form.listType = "WAVE";
  form.subs = chunks;
  form.size = formSize;
  return Serialize(form);
}

inline Chunk Raw(const char* id, Bytes data) {
  Chunk c;
  c.id = id;
  c.data = std::move(data);
  return c;
}
inline Chunk List(const char* type, std::vector<Chunk> subs) {
  Chunk c;
  c.id = "LIST";
  c.listType = type;
  c.subs = std::move(subs);
  return c;
}

// `fmt `: PCM by default; 18 bytes carry a zero extra size.
inline Chunk Fmt(uint32_t rate = 48000, uint16_t channels = 2, uint16_t bits = 16, uint16_t tag = 1,
                 size_t size = 16) {
  Bytes b;
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  Put32(b, rate * align);
  Put16(b, align);
  Put16(b, bits);
  b.resize(size, 0);
  return Raw("fmt ", b);
}

// `bext` of `size` bytes with a Description and a recognisable byte at 602 (CodingHistory).
inline Chunk Bext(const std::string& description, size_t size = 858, const char* id = "bext") {
  Bytes b(std::max<size_t>(size, 603), 0);
  std::memcpy(b.data(), description.data(), std::min<size_t>(description.size(), 256));
  b[602] = 'H';
  b.resize(size);
  return Raw(id, b);
}

// `cmcd` of `size` bytes: version, then texts at raw offsets.
inline Chunk Cmcd(uint16_t version, std::vector<std::pair<size_t, std::string>> fields,
                  size_t size = 2048, const char* id = "cmcd") {
  Bytes b(std::max<size_t>(size, 2048), 0);
  b[0] = static_cast<uint8_t>(version);
  b[1] = static_cast<uint8_t>(version >> 8);
  for (auto& [off, text] : fields) std::memcpy(b.data() + off, text.data(), text.size());
  b.resize(size);
  return Raw(id, b);
}

inline Chunk Data(size_t n, uint8_t fill = 0x11, const char* id = "data") {
  return Raw(id, Bytes(n, fill));
}

struct Cue {
  uint32_t id;
  uint32_t sampleOffset;
  uint32_t position = 0;
};
inline Chunk CueChunk(const std::vector<Cue>& cues, const char* id = "cue ") {
  Bytes b;
  Put32(b, static_cast<uint32_t>(cues.size()));
  for (const Cue& c : cues) {
    Put32(b, c.id);
    Put32(b, c.position);
    PutText(b, "data");
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, c.sampleOffset);
  }
  return Raw(id, b);
}

struct Play {
  uint32_t id, length, loops;
};
inline Chunk Plst(const std::vector<Play>& items, const char* id = "plst") {
  Bytes b;
  Put32(b, static_cast<uint32_t>(items.size()));
  for (const Play& p : items) {
    Put32(b, p.id);
    Put32(b, p.length);
    Put32(b, p.loops);
  }
  return Raw(id, b);
}

inline Chunk Labl(uint32_t cueId, const std::string& text, const char* id = "labl") {
  Bytes b;
  Put32(b, cueId);
  PutText(b, text);
  b.push_back(0);
  return Raw(id, b);
}

inline Chunk File(uint32_t cueId, const std::string& name, const Bytes& content,
                  const char* id = "file") {
  Bytes b;
  Put32(b, cueId);
  Put32(b, 0);
  PutText(b, name);
  b.push_back('\r');
  b.push_back('\n');
  b.insert(b.end(), content.begin(), content.end());
  return Raw(id, b);
}

inline uint32_t Note(int n) {
  const char id[4] = {'N', 'O', 'T', static_cast<char>('0' + n)};
  return Id(id);
}

// A temporary file that removes itself.
class TempFile {
 public:
  explicit TempFile(const Bytes& bytes, const std::string& name = "vant.wav") {
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("vb_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + "_" + name);
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() { std::filesystem::remove(path_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A full VANT file: fmt, bext, cmcd (Shift-JIS title), data, cue with the four marks and two
// attachments, plst, LIST adtl with labl and file. `dataBytes` of samples (48 kHz stereo 16-bit).
inline const std::string kSjisTitle = "\x83\x65\x83\x58\x83\x67";  // "テスト" in CP932
inline const std::string kSjisCsvName = "\x88\xea\x97\x97.csv";    // "一覧.csv" in CP932
inline Bytes PdfBytes() {
  Bytes pdf;
  PutText(pdf, "%PDF-1.4\r\n1 0 obj\r\n<<>>\r\nendobj\r\n%%EOF\r\n");
  return pdf;
}
inline std::vector<Chunk> FullVantChunks(size_t dataBytes = 48000 * 4 * 32) {
  return {
      Fmt(),
      Bext("remarks here"),
      Cmcd(100, {{2, "PC-0001"}, {748, kSjisTitle}, {876, "30"}}),
      Data(dataBytes),
      CueChunk({{1, 0}, {2, 48000}, {3, 1488000}, {4, 1500000}, {Note(1), 0}, {Note(2), 0}}),
      Plst({{2, 100, 1}, {3, 200, 2}}),
      List("adtl", {Labl(1, "BC$START"), Labl(2, "BC$STANDBY"), Labl(3, "BC$END"),
                    Labl(4, "BC$STOP"), Labl(Note(1), "BC$NOTE1"), Labl(Note(2), "BC$NOTE2"),
                    File(Note(1), "contact.pdf", PdfBytes()),
                    File(Note(2), kSjisCsvName, Bytes{'a', ',', 'b', '\r', '\n'})}),
  };
}

}  // namespace vb
