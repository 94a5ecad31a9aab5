#include "riffio.h"

#include "filelayer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {
using namespace vant::riff;
namespace fs = std::filesystem;

// Little-endian bytes of a chunk list, written by hand so the tests do not trust the writer.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& Id(const char* id) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(id[i]));
    return *this;
  }
  Bytes& U32(uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    return *this;
  }
  Bytes& Fill(size_t n, uint8_t b = 0xAA) {
    v.insert(v.end(), n, b);
    return *this;
  }
  uint32_t At32(size_t at) const {
    return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
  }
};

fs::path TempPath(const char* name) {
  return fs::temp_directory_path() / (std::string("riffio_") + std::to_string(::getpid()) + name);
}

// RIFF WAVE { "fmt " 16, "odd " 3 + pad, LIST adtl { "labl" 5 + pad }, "data" 4 }
Bytes SmallForm() {
  Bytes b;
  b.Id("RIFF").U32(0).Id("WAVE");
  b.Id("fmt ").U32(16).Fill(16, 1);
  b.Id("odd ").U32(3).Fill(3, 2).Fill(1, 0);
  b.Id("LIST").U32(4 + 8 + 6).Id("adtl").Id("labl").U32(5).Fill(5, 3).Fill(1, 0);
  b.Id("data").U32(4).Fill(4, 4);
  uint32_t form = static_cast<uint32_t>(b.v.size() - 8);
  std::memcpy(b.v.data() + 4, &form, 4);
  return b;
}

TEST(RiffIo, DescendFindsFormChunksAndListsWithinTheirParent) {
  Bytes b = SmallForm();
  auto f = RiffFile::OpenMemory(std::span<const uint8_t>(b.v));
  ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
  ASSERT_EQ(f->Descend(form, nullptr, Search::kRiff), Result::kOk);
  EXPECT_EQ(form.dataOffset, 8u);
  EXPECT_EQ(f->Tell(), 12u);

  ChunkInfo data{.id = MakeFourCC('d', 'a', 't', 'a')};
  ASSERT_EQ(f->Descend(data, &form, Search::kChunk), Result::kOk);
  EXPECT_EQ(data.size, 4u);
  EXPECT_EQ(data.dataOffset, b.v.size() - 4);

  // The search began at `data`'s data: nothing after it, and the position is restored.
  const uint64_t before = f->Tell();
  ChunkInfo fmt{.id = MakeFourCC('f', 'm', 't', ' ')};
  EXPECT_EQ(f->Descend(fmt, &form, Search::kChunk), Result::kChunkNotFound);
  EXPECT_EQ(f->Tell(), before);

  // From the top of the form: the odd chunk's pad byte is skipped on the way to the list.
  f->Seek(12);
  ChunkInfo list{.type = MakeFourCC('a', 'd', 't', 'l')};
  ASSERT_EQ(f->Descend(list, &form, Search::kList), Result::kOk);
  EXPECT_EQ(list.id, kList);
  EXPECT_EQ(f->Tell(), list.dataOffset + 4);
  ChunkInfo labl{.id = MakeFourCC('l', 'a', 'b', 'l')};
  ASSERT_EQ(f->Descend(labl, &list, Search::kChunk), Result::kOk);
  ASSERT_EQ(f->Ascend(labl), Result::kOk);
  EXPECT_EQ(f->Tell(), labl.dataOffset + 6);  // past the pad byte
  // `data` lies after the list: a search bounded by the list does not reach it.
  ChunkInfo data2{.id = MakeFourCC('d', 'a', 't', 'a')};
  EXPECT_EQ(f->Descend(data2, &list, Search::kChunk), Result::kChunkNotFound);
  ASSERT_EQ(f->Ascend(list), Result::kOk);
  EXPECT_EQ(f->Descend(data2, &form, Search::kHere), Result::kOk);
  EXPECT_EQ(data2.id, MakeFourCC('d', 'a', 't', 'a'));
}

TEST(RiffIo, BrokenSizesEndTheWalkInsideTheFile) {
  struct Case {
    const char* what;
    uint32_t size;
    size_t bodyAfter;  // bytes present after the broken chunk's header
  };
  const Case cases[] = {
      {"size past the end", 1000, 10},
      {"size that wraps 32 bits", 0xFFFFFFF8u, 10},
      {"largest size", 0xFFFFFFFFu, 3},
      {"header cut short", 16, 0},
  };
  for (const auto& c : cases) {
    Bytes b;
    b.Id("RIFF").U32(0xFFFFFFF0u).Id("WAVE").Id("junk").U32(c.size).Fill(c.bodyAfter);
    b.Id("data").U32(0);  // a chunk a wrapped walk would land on
    if (c.bodyAfter == 0) b.v.resize(b.v.size() - 6);
    auto f = RiffFile::OpenMemory(std::span<const uint8_t>(b.v));
    ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
    ASSERT_EQ(f->Descend(form, nullptr, Search::kRiff), Result::kOk) << c.what;
    ChunkInfo data{.id = MakeFourCC('d', 'a', 't', 'a')};
    EXPECT_EQ(f->Descend(data, &form, Search::kChunk), Result::kChunkNotFound) << c.what;
    EXPECT_EQ(f->Tell(), 12u) << c.what;
  }
}

// Zero-filled space (a preallocated, sparse or cut-off file) holds no chunks: a walk that meets
// four zero bytes where an id belongs ends there, at the top of the file, in a form and in a list.
TEST(RiffIo, ZeroFilledSpaceEndsTheWalk) {
  struct Case {
    const char* what;
    Bytes bytes;
    uint64_t from;  // where the search starts
    int parent;     // 0 none, 1 the form at 0, 2 the list at 12
    Search search;
    FourCC want;  // id, or type for a form or list
  };
  Bytes zerosFirst;
  zerosFirst.Fill(8192, 0).Id("RIFF").U32(4).Id("WAVE");
  Bytes zerosInForm;
  zerosInForm.Id("RIFF").U32(4 + 4096 + 24).Id("WAVE").Fill(4096, 0).Id("fmt ").U32(16).Fill(16);
  Bytes zerosInList;
  zerosInList.Id("RIFF").U32(4 + 12 + 64 + 14).Id("WAVE");
  zerosInList.Id("LIST").U32(4 + 64 + 14).Id("adtl").Fill(64, 0).Id("labl").U32(6).Fill(6);
  const Case cases[] = {
      {"zeros before the form", zerosFirst, 0, 0, Search::kRiff, MakeFourCC('W', 'A', 'V', 'E')},
      {"zeros before fmt", zerosInForm, 12, 1, Search::kChunk, MakeFourCC('f', 'm', 't', ' ')},
      {"zeros before labl", zerosInList, 24, 2, Search::kChunk, MakeFourCC('l', 'a', 'b', 'l')},
      {"zeros where the next sub-chunk is", zerosInList, 24, 2, Search::kHere, 0},
  };
  for (const Case& c : cases) {
    auto f = RiffFile::OpenMemory(std::span<const uint8_t>(c.bytes.v));
    ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
    ChunkInfo list{.type = MakeFourCC('a', 'd', 't', 'l')};
    if (c.parent >= 1) {
      ASSERT_EQ(f->Descend(form, nullptr, Search::kRiff), Result::kOk) << c.what;
    }
    if (c.parent == 2) {
      ASSERT_EQ(f->Descend(list, &form, Search::kList), Result::kOk) << c.what;
    }
    const ChunkInfo* parent = c.parent == 1 ? &form : c.parent == 2 ? &list : nullptr;
    f->Seek(static_cast<int64_t>(c.from));
    ChunkInfo ck{.id = c.want, .type = c.want};
    EXPECT_EQ(f->Descend(ck, parent, c.search), Result::kChunkNotFound) << c.what;
    EXPECT_EQ(f->Tell(), c.from) << c.what;
  }
}

// Every reader walks a form's chunks alike. Only eight zero bytes are unwritten space; a chunk
// whose id alone is zero is stepped over (ffprobe reads the samples after it, as the walk does).
TEST(RiffIo, TheWalkStepsOverAZeroIdAndStopsAtZeroSpace) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<std::pair<std::string, uint64_t>> seen;  // id and data offset
  };
  Bytes zeroId;
  zeroId.Id("fmt ").U32(16).Fill(16).U32(0).U32(8).Fill(8, 0).Id("data").U32(4).Fill(4);
  Bytes zeroOdd;
  zeroOdd.U32(0).U32(1).Fill(2, 0).Id("data").U32(2).Fill(2);
  Bytes zeroSpace;
  zeroSpace.Id("fmt ").U32(16).Fill(16).Fill(8, 0).Id("data").U32(4).Fill(4);
  Bytes cut;
  cut.Id("data").U32(100).Fill(10);
  Bytes shortHeader;
  shortHeader.Id("fmt ").U32(2).Fill(2).Id("dat");
  const Case cases[] = {
      {"an id of zero with a size",
       zeroId,
       {{"fmt ", 8}, {std::string(4, '\0'), 32}, {"data", 48}}},
      {"an id of zero with an odd size", zeroOdd, {{std::string(4, '\0'), 8}, {"data", 18}}},
      {"eight zero bytes", zeroSpace, {{"fmt ", 8}}},
      {"a size past the file", cut, {{"data", 8}}},
      {"a header cut short", shortHeader, {{"fmt ", 8}}},
  };
  for (const Case& c : cases) {
    auto f = RiffFile::OpenMemory(std::span<const uint8_t>(c.bytes.v));
    ChunkWalk walk(*f, 0, UINT64_MAX);
    std::vector<std::pair<std::string, uint64_t>> seen;
    ChunkInfo ck;
    while (walk.Next(ck)) {
      EXPECT_LE(ck.DataEnd(), c.bytes.v.size()) << c.what;
      seen.emplace_back(FourCCToString(ck.id), ck.dataOffset);
    }
    EXPECT_EQ(seen, c.seen) << c.what;
    // Descend walks the same way.
    f->Seek(0);
    ChunkInfo data{.id = MakeFourCC('d', 'a', 't', 'a')};
    const bool found =
        std::any_of(seen.begin(), seen.end(), [](const auto& s) { return s.first == "data"; });
    EXPECT_EQ(f->Descend(data, nullptr, Search::kChunk),
              found ? Result::kOk : Result::kChunkNotFound)
        << c.what;
  }
}

// A found chunk never holds more than the file: its size is cut to the bytes that are there,
// reads and the step to the next chunk end at the file's end, and a dirty ascend still writes
// the real size over the header's claim.
TEST(RiffIo, ChunkSizesAreCutToTheFile) {
  struct Case {
    const char* what;
    uint32_t claimed;
    size_t present;
    uint32_t size;
  };
  const Case cases[] = {
      {"0xFFFFFFF0 in a 48 KB file", 0xFFFFFFF0u, 48 * 1024, 48 * 1024},
      {"largest size", 0xFFFFFFFFu, 3, 3},
      {"past the end", 1000, 5, 5},
      {"no data at all", 100, 0, 0},
      {"exactly what is there", 16, 16, 16},
      {"less than is there", 4, 16, 4},
  };
  for (const Case& c : cases) {
    Bytes b;
    b.Id("RIFF").U32(0xFFFFFFF0u).Id("WAVE").Id("data").U32(c.claimed).Fill(c.present);
    auto f = RiffFile::OpenMemory(std::span<const uint8_t>(b.v));
    ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
    ASSERT_EQ(f->Descend(form, nullptr, Search::kRiff), Result::kOk) << c.what;
    EXPECT_EQ(form.size, b.v.size() - 8) << c.what;
    ChunkInfo data{.id = MakeFourCC('d', 'a', 't', 'a')};
    ASSERT_EQ(f->Descend(data, &form, Search::kChunk), Result::kOk) << c.what;
    EXPECT_EQ(data.size, c.size) << c.what;
    std::vector<uint8_t> all(c.present + 8);
    EXPECT_EQ(f->ReadIn(data, all.data(), all.size()), c.size) << c.what;
    ASSERT_EQ(f->Ascend(data), Result::kOk);
    EXPECT_LE(f->Tell(), b.v.size() + 1) << c.what;
  }

  const fs::path path = TempPath("cut.wav");
  {
    Bytes b;
    b.Id("RIFF").U32(0xFFFFFFF0u).Id("WAVE").Id("data").U32(0xFFFFFFF0u).Fill(6);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.v.data()), static_cast<std::streamsize>(b.v.size()));
    auto f = RiffFile::Open(path, Mode::kReadWrite);
    ChunkInfo data{.id = MakeFourCC('d', 'a', 't', 'a')};
    f->Seek(12);
    ASSERT_EQ(f->Descend(data, nullptr, Search::kChunk), Result::kOk);
    EXPECT_EQ(data.size, 6u);
    f->Seek(0, Whence::kEnd);
    data.flags |= ChunkInfo::kDirty;
    ASSERT_EQ(f->Ascend(data), Result::kOk);
  }
  std::ifstream in(path, std::ios::binary);
  Bytes back;
  back.v.assign(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(back.At32(16), 6u);
  fs::remove(path);
}

// A form size that ends inside one of the form's chunks, or before the samples, counts only part
// of the form (libsndfile and ffprobe read such a file to its end), so the form runs to the end of
// the file; one that ends between two chunks after the samples is kept, so that bytes after a
// whole wave stay outside it.
TEST(RiffIo, AFormSizeEndingInsideAChunkOrBeforeTheSamplesRunsToTheFileEnd) {
  struct Case {
    const char* what;
    uint32_t stated;
    bool whole;  // the form found runs to the end of the file
  };
  // "fmt " at 12 (16 bytes), "odd " at 36 (3 + pad), "data" at 48 (4), 8 bytes after them.
  const Case cases[] = {
      {"inside the fmt chunk", 20, true},
      {"inside a chunk header", 4 + 24 + 4, true},
      {"before the pad byte of an odd chunk", 4 + 24 + 8 + 3, true},
      {"inside the last chunk", 4 + 24 + 12 + 6, true},
      {"between two chunks before the samples", 4 + 24 + 12, true},
      {"right after fmt", 4 + 24, true},
      {"no chunk at all", 4, true},
      {"less than the form type", 0, true},
      {"at the end of the samples", 4 + 24 + 12 + 12, false},
      {"past the end of the file", 0xFFFFFFF0u, true},
  };
  for (const Case& c : cases) {
    Bytes b;
    b.Id("RIFF").U32(c.stated).Id("WAVE").Id("fmt ").U32(16).Fill(16, 1);
    b.Id("odd ").U32(3).Fill(3, 2).Fill(1, 0).Id("data").U32(4).Fill(4, 4).Id("late").U32(0);
    auto f = RiffFile::OpenMemory(std::span<const uint8_t>(b.v));
    ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
    ASSERT_EQ(f->Descend(form, nullptr, Search::kRiff), Result::kOk) << c.what;
    EXPECT_EQ(form.size, c.whole ? b.v.size() - 8 : c.stated) << c.what;
    f->Seek(0);
    ChunkInfo here{};
    ASSERT_EQ(f->Descend(here), Result::kOk) << c.what;
    EXPECT_EQ(here.size, form.size) << c.what;
  }
}

TEST(RiffIo, ReadInStopsAtTheChunkAndTheFile) {
  Bytes b = SmallForm();
  auto f = RiffFile::OpenMemory(std::span<const uint8_t>(b.v));
  ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
  ASSERT_EQ(f->Descend(form, nullptr, Search::kRiff), Result::kOk);
  ChunkInfo odd{.id = MakeFourCC('o', 'd', 'd', ' ')};
  ASSERT_EQ(f->Descend(odd, &form, Search::kChunk), Result::kOk);
  uint8_t buf[64];
  std::memset(buf, 0x55, sizeof buf);
  EXPECT_EQ(f->ReadIn(odd, buf, sizeof buf), 3);
  EXPECT_EQ(buf[2], 2);
  EXPECT_EQ(buf[3], 0x55);
  EXPECT_EQ(f->ReadIn(odd, buf, sizeof buf), 0);

  // A chunk that claims more than the file holds reads to the file's end.
  Bytes cut;
  cut.Id("RIFF").U32(100).Id("WAVE").Id("data").U32(1000).Fill(5);
  auto g = RiffFile::OpenMemory(std::span<const uint8_t>(cut.v));
  ChunkInfo data{.id = MakeFourCC('d', 'a', 't', 'a')};
  g->Seek(12);
  ASSERT_EQ(g->Descend(data, nullptr, Search::kChunk), Result::kOk);
  EXPECT_EQ(g->ReadIn(data, buf, sizeof buf), 5);
  EXPECT_EQ(g->Read(buf, 1), 0);
}

TEST(RiffIo, CreateAndAscendWriteSizesAndPadOnFileAndMemory) {
  const fs::path path = TempPath("create.wav");
  auto write = [](RiffFile& f) {
    ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
    ASSERT_EQ(f.CreateChunk(form, Search::kRiff), Result::kOk);
    ChunkInfo odd{.id = MakeFourCC('o', 'd', 'd', ' ')};
    ASSERT_EQ(f.CreateChunk(odd), Result::kOk);
    ASSERT_EQ(f.Write("abc", 3), 3);
    ASSERT_EQ(f.Ascend(odd), Result::kOk);
    EXPECT_EQ(odd.size, 3u);
    ChunkInfo list{.type = MakeFourCC('a', 'd', 't', 'l')};
    ASSERT_EQ(f.CreateChunk(list, Search::kList), Result::kOk);
    ASSERT_EQ(f.Ascend(list), Result::kOk);  // an empty list holds its type only
    f.Seek(0, Whence::kEnd);
    ASSERT_EQ(f.Ascend(form), Result::kOk);
  };
  std::vector<uint8_t> fromFile;
  {
    auto f = RiffFile::Open(path, Mode::kCreate);
    ASSERT_TRUE(f);
    write(*f);
  }
  {
    std::ifstream in(path, std::ios::binary);
    fromFile.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto m = RiffFile::CreateMemory();
  write(*m);
  std::vector<uint8_t> fromMemory(m->Image().begin(), m->Image().end());

  Bytes want;
  want.Id("RIFF").U32(4 + 12 + 12).Id("WAVE");
  want.Id("odd ").U32(3);
  for (uint8_t c : {'a', 'b', 'c', '\0'}) want.v.push_back(c);
  want.Id("LIST").U32(4).Id("adtl");
  EXPECT_EQ(fromFile, want.v);
  EXPECT_EQ(fromMemory, want.v);

  // Reopened read-write: a found chunk marked dirty gets its size rewritten from the position.
  {
    auto f = RiffFile::Open(path, Mode::kReadWrite);
    ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
    ASSERT_EQ(f->Descend(form, nullptr, Search::kRiff), Result::kOk);
    f->Seek(0, Whence::kEnd);
    ASSERT_EQ(f->Write("12345", 5), 5);
    form.flags |= ChunkInfo::kDirty;
    ASSERT_EQ(f->Ascend(form), Result::kOk);
    EXPECT_EQ(form.size, 4u + 12 + 12 + 5);
    EXPECT_EQ(f->Size(), 8u + form.size + 1);  // padded
  }
  fs::remove(path);
}

// A file opened for reading becomes writable only on request, and only while its name still
// holds the same file: a file put in its place is never written through the old handle's name.
TEST(RiffIo, AFileOpenedForReadingIsMadeWritableOnlyWhileItIsTheSameFile) {
  const fs::path path = TempPath("rw.wav"), other = TempPath("rw-other.wav");
  std::ofstream(path, std::ios::binary) << "RIFF0000WAVE";
  auto f = RiffFile::Open(path, Mode::kRead);
  ASSERT_TRUE(f);
  EXPECT_FALSE(f->Writable());
  EXPECT_EQ(f->Write("x", 1), -1);
  ASSERT_TRUE(f->MakeWritable());
  f->Seek(4);
  EXPECT_EQ(f->Write("1234", 4), 4);
  f.reset();
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "RIFF1234WAVE");

  auto g = RiffFile::Open(path, Mode::kRead);
  std::ofstream(other, std::ios::binary) << "RIFF0000WAVE";
  fs::rename(other, path);
  EXPECT_FALSE(g->MakeWritable());
  EXPECT_EQ(g->Write("x", 1), -1);
  const std::vector<uint8_t> bytes(16, 0);
  EXPECT_FALSE(RiffFile::OpenMemory(std::span<const uint8_t>(bytes))->MakeWritable());
  fs::remove(path);
}

TEST(RiffIo, ReadOnlyAndFixedImagesRefuseWrites) {
  std::vector<uint8_t> bytes(16, 0);
  auto ro = RiffFile::OpenMemory(std::span<const uint8_t>(bytes));
  EXPECT_EQ(ro->Write("x", 1), -1);
  ChunkInfo ck{.id = MakeFourCC('a', 'b', 'c', 'd')};
  EXPECT_EQ(ro->CreateChunk(ck), Result::kReadOnly);

  auto fixed = RiffFile::OpenMemory(std::span<uint8_t>(bytes));
  fixed->Seek(12);
  EXPECT_EQ(fixed->Write("1234", 4), 4);
  EXPECT_EQ(fixed->Write("5", 1), -1);  // would grow a fixed image
  EXPECT_EQ(bytes[15], '4');

  EXPECT_FALSE(RiffFile::Open(TempPath("missing/none.wav"), Mode::kRead));
  int err = 0;
  EXPECT_FALSE(RiffFile::Open(fs::temp_directory_path(), Mode::kRead, &err));
  EXPECT_EQ(err, EISDIR);
  auto f = RiffFile::Open("/proc/self/status", Mode::kRead);
  if (f) {
    EXPECT_EQ(f->Write("x", 1), -1);
  }
}

TEST(RiffIo, OffsetsBeyondFourGigabytes) {
  // A sparse file: a chunk header past 4 GiB must be found and read at its real offset.
  const fs::path path = TempPath("big.wav");
  const uint64_t far = (uint64_t{1} << 32) + 4096;
  {
    auto f = RiffFile::Open(path, Mode::kCreate);
    ASSERT_TRUE(f);
    Bytes b;
    b.Id("RIFF").U32(0xFFFFFFFFu).Id("WAVE").Id("data").U32(0xFFFFFFFFu);
    ASSERT_EQ(f->Write(b.v.data(), b.v.size()), static_cast<int64_t>(b.v.size()));
    ASSERT_EQ(f->Seek(static_cast<int64_t>(far)), static_cast<int64_t>(far));
    Bytes tail;
    tail.Id("tail").U32(2).Fill(2, 7);
    if (f->Write(tail.v.data(), tail.v.size()) < 0) {
      fs::remove(path);
      GTEST_SKIP() << "no sparse files here";
    }
  }
  auto f = RiffFile::Open(path, Mode::kRead);
  EXPECT_EQ(f->Size(), far + 10);
  f->Seek(12);
  ChunkInfo data{.id = MakeFourCC('d', 'a', 't', 'a')};
  ASSERT_EQ(f->Descend(data, nullptr, Search::kChunk), Result::kOk);
  // data ends at 20 + 0xFFFFFFFF, padded: 2^32 + 20. The tail lies further on, so seek to it.
  ASSERT_EQ(f->Seek(static_cast<int64_t>(far)), static_cast<int64_t>(far));
  ChunkInfo tail{};
  ASSERT_EQ(f->Descend(tail), Result::kOk);
  EXPECT_EQ(tail.dataOffset, far + 8);
  uint8_t two[4] = {};
  EXPECT_EQ(f->ReadIn(tail, two, sizeof two), 2);
  EXPECT_EQ(two[1], 7);
  fs::remove(path);
}

TEST(RiffIo, FourCCText) {
  EXPECT_EQ(StringToFourCC("cue"), MakeFourCC('c', 'u', 'e', ' '));
  EXPECT_EQ(FourCCToString(MakeFourCC('N', 'O', 'T', '3')), "NOT3");
}

// A FIFO (or a device) is no RIFF file: refused at once, never waited on.
TEST(RiffIo, OnlyRegularFilesOpen) {
  const fs::path fifo = TempPath("fifo");
  fs::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (Mode mode : {Mode::kRead, Mode::kReadWrite}) {
    int error = 0;
    EXPECT_EQ(RiffFile::Open(fifo, mode, &error), nullptr);
    EXPECT_NE(error, 0);
  }
  fs::remove(fifo);
  EXPECT_EQ(RiffFile::Open("/dev/null", Mode::kRead), nullptr);
}

// The file layer, counting the reads that reach the file.
struct CountingLayer : vant::PosixFileLayer {
  CountingLayer() { vant::SetFileLayer(this); }
  ~CountingLayer() override { vant::SetFileLayer(nullptr); }
  int64_t ReadAt(int fd, void* b, size_t n, uint64_t off) override {
    ++reads;
    return PosixFileLayer::ReadAt(fd, b, n, off);
  }
  int reads = 0;
};

// A read of at least a page goes to the file in one call wherever it starts (a wave's data rarely
// starts on a page); small reads still come from the cached pages.
TEST(RiffIo, LargeReadsAreOneCallAtAnyOffset) {
  const fs::path p = TempPath("large.bin");
  std::vector<uint8_t> bytes(200000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  CountingLayer layer;
  auto f = RiffFile::Open(p, Mode::kRead);
  ASSERT_TRUE(f);
  struct Case {
    uint64_t at;
    size_t count;
    int64_t got;
  };
  for (const Case& c : {Case{44, 65536, 65536}, Case{4096, 8192, 8192}, Case{4095, 4097, 4097},
                        Case{199000, 65536, 1000}}) {
    std::vector<uint8_t> out(c.count, 0xEE);
    f->Seek(static_cast<int64_t>(c.at));
    const int before = layer.reads;
    ASSERT_EQ(f->Read(out.data(), out.size()), c.got) << c.at;
    EXPECT_EQ(layer.reads - before, 1) << c.at;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + c.got, bytes.begin() + c.at)) << c.at;
    EXPECT_EQ(f->Tell(), c.at + c.got);
  }
  // Small reads of one page: read once, then served from the cache.
  uint8_t small[8];
  f->Seek(150000);
  const int before = layer.reads;
  ASSERT_EQ(f->Read(small, 8), 8);
  f->Seek(150100);
  ASSERT_EQ(f->Read(small, 8), 8);
  EXPECT_EQ(layer.reads - before, 1);
  EXPECT_EQ(small[0], bytes[150100]);
  f.reset();
  fs::remove(p);
}

}  // namespace

namespace {

TEST(RiffIo, StampFollowsTheOpenFile) {
  const fs::path p = TempPath("stamp.bin");
  std::ofstream(p, std::ios::binary) << "abcd";
  auto f = RiffFile::Open(p, Mode::kRead);
  ASSERT_TRUE(f);
  FileStamp before;
  ASSERT_TRUE(f->Stamp(before));
  EXPECT_EQ(before.size, 4);
  EXPECT_EQ(before.links, 1);
  std::ofstream(p, std::ios::binary | std::ios::app) << "ef";  // changed in place
  FileStamp grown;
  ASSERT_TRUE(f->Stamp(grown));
  EXPECT_EQ(grown.size, 6);
  fs::remove(p);  // gone from its folder, still open here
  FileStamp gone;
  ASSERT_TRUE(f->Stamp(gone));
  EXPECT_EQ(gone.links, 0);
  FileStamp image;
  const uint8_t bytes[4] = {};
  EXPECT_FALSE(RiffFile::OpenMemory(std::span<const uint8_t>(bytes))->Stamp(image));
}

}  // namespace
