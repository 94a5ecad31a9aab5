#pragma once
// Buffered RIFF file I/O over a file or a memory image: open, read, write, seek, and the chunk
// walk (descend, create chunk, ascend with size patch and pad byte).
//
// Offsets and positions are 64-bit. A chunk's size field is 32-bit as in the file. Every search
// of Descend stays inside the parent chunk and the file's real length, in 64-bit arithmetic, so a
// damaged size can end a walk but never wrap it or move it outside the file; ReadIn bounds a read
// by a chunk's data and the file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vant::riff {

using FourCC = uint32_t;

// 'a' | 'b' << 8 | 'c' << 16 | 'd' << 24: the id as its four bytes appear in a file.
constexpr FourCC MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
// Little-endian fields as RIFF stores them.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, static_cast<uint16_t>(v));
  PutLe16(p + 2, static_cast<uint16_t>(v >> 16));
}

// The first four characters of `s`, padded with blanks when shorter.
FourCC StringToFourCC(std::string_view s);
// The four bytes of an id as a string (bytes kept as they are, zeros included).
std::string FourCCToString(FourCC id);

inline constexpr FourCC kRiff = MakeFourCC('R', 'I', 'F', 'F');
inline constexpr FourCC kList = MakeFourCC('L', 'I', 'S', 'T');

// Result codes of the chunk operations.
enum class Result : int {
  kOk = 0,
  kChunkNotFound,  // no matching chunk before the end of the parent or the file
  kCannotRead,
  kCannotWrite,
  kCannotSeek,
  kCannotExpand,  // a write past the end of a fixed memory image
  kReadOnly,
};
const char* ResultText(Result r);

// One chunk as found or created. For a RIFF or LIST chunk `dataOffset` points at the form or list
// type, which `size` counts, as in the file.
struct ChunkInfo {
  FourCC id = 0;
  uint32_t size = 0;
  FourCC type = 0;  // form or list type of a RIFF or LIST chunk
  uint64_t dataOffset = 0;
  uint32_t flags = 0;

  static constexpr uint32_t kDirty = 1;  // Ascend rewrites the size from the position
  uint64_t DataEnd() const { return dataOffset + size; }
  // Offset of the next chunk: data end plus the pad byte of an odd size.
  uint64_t NextOffset() const { return dataOffset + size + (size & 1u); }
};

// The ids of a wave's samples, in the two spellings the readers accept.
inline constexpr FourCC kData = MakeFourCC('d', 'a', 't', 'a');
inline constexpr FourCC kDataUpper = MakeFourCC('D', 'A', 'T', 'A');

enum class Mode { kRead, kReadWrite, kCreate };

enum class Search {
  kHere,   // take the chunk header at the current position
  kChunk,  // the first chunk with `ck.id`
  kRiff,   // the first RIFF chunk with form type `ck.type`
  kList,   // the first LIST chunk with list type `ck.type`
};

enum class Whence { kSet, kCur, kEnd };

// What tells a file's contents apart cheaply: its size, its modification time and its number of
// names (0 once it was deleted or replaced by another file under its name).
struct FileStamp {
  int64_t size = -1;
  int64_t mtimeNs = 0;
  int64_t links = 0;
};

class RiffFile;

// The chunks from a position up to an end, in file order, by the rules every reader of a wave
// shares (the form's readers, the chunk scan, the audio engine's parse):
// - a header counts only when its 8 bytes lie whole before the end;
// - eight zero bytes (id and size both zero) are space that was never written (a preallocated,
//   sparse or cut-off file): the walk ends there, where it would otherwise step through
//   gigabytes of zeros 8 bytes at a time; a chunk whose id alone is zero is a chunk like another;
// - a size is cut to what the file holds after the header;
// - the step to the next header (size plus the pad byte of an odd size) is 64-bit, so a huge size
//   moves past the end instead of wrapping back into the file.
// Next gives `ck` with its id, its cut size and its data offset (after the header; for a RIFF or
// LIST chunk at the form or list type), and leaves the file's position where it was read.
class ChunkWalk {
 public:
  ChunkWalk(RiffFile& f, uint64_t from, uint64_t end);
  bool Next(ChunkInfo& ck);
  // Where the next header would be.
  uint64_t Position() const { return p_; }

 private:
  RiffFile& f_;
  uint64_t p_, end_, fileEnd_;
};

// Picks a wave's samples from the chunks a walk visits: the first `data` chunk, or the first
// `DATA` when no chunk is spelled in lower case. Settled once a `data` chunk was seen.
struct SamplesPick {
  ChunkInfo chunk;
  bool found = false;
  bool settled = false;
  void See(const ChunkInfo& ck) {
    if (settled || (ck.id != kData && (ck.id != kDataUpper || found))) return;
    chunk = ck;
    found = true;
    settled = ck.id == kData;
  }
};

class RiffFile {
 public:
  // nullptr when the file cannot be opened or is no regular file (a FIFO is never waited on);
  // `error` (when given) gets errno, EISDIR for a folder, EINVAL for another kind of file.
  static std::unique_ptr<RiffFile> Open(const std::filesystem::path& path, Mode mode,
                                        int* error = nullptr);
  // A read-only image over bytes the caller keeps alive.
  static std::unique_ptr<RiffFile> OpenMemory(std::span<const uint8_t> bytes);
  // A writable image of fixed size over bytes the caller keeps alive; writes past its end fail.
  static std::unique_ptr<RiffFile> OpenMemory(std::span<uint8_t> bytes);
  // A growable image owned by the handle, starting with `initial`; see Image().
  static std::unique_ptr<RiffFile> CreateMemory(std::vector<uint8_t> initial = {});

  virtual ~RiffFile();
  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;

  // Bytes read (0 at the end), or -1 on an I/O error.
  int64_t Read(void* buffer, size_t count);
  // Like Read, but never past the data end of `ck` (nor the file's end).
  int64_t ReadIn(const ChunkInfo& ck, void* buffer, size_t count);
  // Bytes written (all of them), or -1.
  int64_t Write(const void* buffer, size_t count);
  // The new position, or -1 for a negative target. Seeking past the end is allowed; reads there
  // give 0 bytes and a write extends the file.
  int64_t Seek(int64_t offset, Whence whence = Whence::kSet);
  uint64_t Tell() const { return pos_; }
  // The real length of the file or image now.
  uint64_t Size() const;
  bool Writable() const;
  // Makes a file opened for reading writable: the same file (checked by its identity) is opened
  // again for writing, so that what is only read is never opened for writing. False when it
  // cannot be, or when its name now belongs to another file.
  bool MakeWritable();
  // The open file's stamp as the system has it now; false for a memory image.
  bool Stamp(FileStamp& stamp) const;

  // Finds a chunk from the current position, walking as ChunkWalk does. With `parent`, the
  // search ends at the parent's data end. On success the position is at the chunk's data (after
  // the type of a RIFF or LIST chunk) and `ck` describes it, its size cut to what the file holds
  // after its header; otherwise the position is where the search began.
  Result Descend(ChunkInfo& ck, const ChunkInfo* parent = nullptr, Search search = Search::kHere);
  // The size of the form whose header is at `header`, given the size it states: the stated one,
  // cut to the file. A stated size with its top bit set is taken byte-reversed (a writer that
  // stored it big-endian). A stated end that falls inside one of the form's chunks (a writer that
  // never went back to patch the size, or patched it wrong), or that comes before the form's
  // samples (a `data` chunk), counts only part of the form, which then runs to the end of the
  // file, as the tools read it; an end between two chunks after the samples is kept, so that
  // bytes appended after a whole wave stay outside it. Descend gives a RIFF form found outside
  // any parent this size.
  uint32_t FormSize(uint64_t header, uint32_t stated);
  // Leaves a chunk: when it is dirty, its size becomes position - dataOffset, written into its
  // header (always, since a found chunk's size may have been cut to the file), and an odd size
  // gets a zero pad byte; then the position moves to the next chunk.
  Result Ascend(ChunkInfo& ck);
  // Writes a chunk header (and for kRiff/kList the type) at the current position; the chunk is
  // dirty, so Ascend writes its real size. `search` kRiff or kList makes a RIFF or LIST chunk.
  Result CreateChunk(ChunkInfo& ck, Search kind = Search::kHere);

  // The bytes of a memory image (empty for a file).
  std::span<const uint8_t> Image() const;

 private:
  friend class ChunkWalk;
  class Backend;
  class FileBackend;
  class MemoryBackend;
  explicit RiffFile(std::unique_ptr<Backend> backend);

  // The cached block that holds `at`, read on first use; nullptr on a read error.
  const std::vector<uint8_t>* BlockAt(uint64_t at);
  bool ReadExact(uint64_t at, void* buffer, size_t count);
  bool WriteAt(uint64_t at, const void* buffer, size_t count);

  std::unique_ptr<Backend> backend_;
  uint64_t pos_ = 0;
  // Read cache: aligned blocks of the file as first read, so that walks which come back to the
  // head of a file, or pass over the same chunk again, read nothing twice while the handle is open.
  struct Block {
    uint64_t start = 0;
    std::vector<uint8_t> bytes;
  };
  std::vector<Block> blocks_;
};

}  // namespace vant::riff
