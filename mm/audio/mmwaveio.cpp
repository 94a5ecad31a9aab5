#include "mmwaveio.h"

#include "filelayer.h"
#include "mmpcmsup.h"
#include "mmresources.h"
#include "replacingfile.h"
#include "tempfiles.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <system_error>

using vant::riff::ChunkInfo;
using vant::riff::Le16;
using vant::riff::Le32;
using vant::riff::MakeFourCC;
using vant::riff::Mode;
using vant::riff::PutLe32;
using vant::riff::RiffFile;
using vant::wio::MulDivNearest;
using vant::wio::RoundUpToBlock;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRiffId = MakeFourCC('R', 'I', 'F', 'F');
constexpr uint32_t kListId = MakeFourCC('L', 'I', 'S', 'T');
constexpr uint32_t kInfoType = MakeFourCC('I', 'N', 'F', 'O');
constexpr uint32_t kFmtId = MakeFourCC('f', 'm', 't', ' ');
constexpr uint32_t kFactId = MakeFourCC('f', 'a', 'c', 't');
constexpr uint32_t kDispId = MakeFourCC('D', 'I', 'S', 'P');
constexpr uint32_t kCueId = MakeFourCC('c', 'u', 'e', ' ');
constexpr uint32_t kPlstId = MakeFourCC('p', 'l', 's', 't');

// A `fmt ` shorter than a full PCM record, or absurdly long, is no format.
constexpr uint32_t kMinFmtBytes = 16;
constexpr uint32_t kMaxFmtBytes = 64 * 1024;
constexpr uint32_t kHeaderOnlyFormatBytes = 36;
// The start of the names of whole-file writes' new files.
constexpr std::string_view kTempStem = "w";

uint32_t FixedBytes() { return static_cast<uint32_t>(sizeof(TWAVEIOCB)); }

int64_t BlockAlign(const TWAVEIOCB* cb) { return cb->wfx ? cb->wfx->nBlockAlign : 0; }

int64_t RoundDownToBlock(int64_t n, int64_t align) { return align > 0 ? n / align * align : n; }

// Exactly `n` bytes at `offset`, or false.
bool ReadAt(RiffFile& f, uint64_t offset, void* buffer, size_t n) {
  if (f.Seek(static_cast<int64_t>(offset)) < 0) return false;
  return n == 0 || f.Read(buffer, n) == static_cast<int64_t>(n);
}

bool WriteAt(RiffFile& f, uint64_t offset, const void* buffer, size_t n) {
  if (f.Seek(static_cast<int64_t>(offset)) < 0) return false;
  return f.Write(buffer, n) == static_cast<int64_t>(n);
}

bool WriteLe32(RiffFile& f, uint32_t v) {
  uint8_t b[4];
  PutLe32(b, v);
  return f.Write(b, 4) == 4;
}

bool WriteChunk(RiffFile& f, uint32_t id, const void* data, uint32_t size) {
  if (!WriteLe32(f, id) || !WriteLe32(f, size)) return false;
  if (size > 0 && f.Write(data, size) != static_cast<int64_t>(size)) return false;
  const uint8_t pad = 0;
  return (size & 1u) == 0 || f.Write(&pad, 1) == 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Conversions on a block

namespace {
// The relation n·mul/div rounded to nearest; with a byte-rate override the byte rate takes the
// place of `rateField` and the result comes from floating point.
int64_t Convert(const TWAVEIOCB* cb, int64_t n, double mul, double div, bool mulIsRate,
                bool divIsRate, bool toBytes) {
  if (cb == nullptr || !cb->wfx) return 0;
  const WAVEFORMATEX& f = *cb->wfx;
  int64_t result;
  if (cb->dBytesPerSec != 0 && (mulIsRate || divIsRate)) {
    const double m = mulIsRate ? cb->dBytesPerSec : mul;
    const double d = divIsRate ? cb->dBytesPerSec : div;
    if (d == 0) return 0;
    result = std::llround(static_cast<double>(n) * m / d);
  } else {
    const int64_t m = mulIsRate ? f.nAvgBytesPerSec : static_cast<int64_t>(mul);
    const int64_t d = divIsRate ? f.nAvgBytesPerSec : static_cast<int64_t>(div);
    result = MulDivNearest(n, m, d);
  }
  return toBytes ? RoundUpToBlock(result, f.nBlockAlign) : result;
}

double Rate(const TWAVEIOCB* cb) { return cb && cb->wfx ? cb->wfx->nSamplesPerSec : 0; }
}  // namespace

int64_t wioBytesToSamplesEx(const TWAVEIOCB* cb, int64_t bytes) {
  return Convert(cb, bytes, Rate(cb), 0, false, true, false);
}
int64_t wioBytesToTimeEx(const TWAVEIOCB* cb, int64_t bytes) {
  return Convert(cb, bytes, 1000, 0, false, true, false);
}
int64_t wioSamplesToBytesEx(const TWAVEIOCB* cb, int64_t samples) {
  return Convert(cb, samples, 0, Rate(cb), true, false, true);
}
int64_t wioSamplesToTimeEx(const TWAVEIOCB* cb, int64_t samples) {
  return Convert(cb, samples, 1000, Rate(cb), false, false, false);
}
int64_t wioTimeToSamplesEx(const TWAVEIOCB* cb, int64_t ms) {
  return Convert(cb, ms, Rate(cb), 1000, false, false, false);
}
int64_t wioTimeToBytesEx(const TWAVEIOCB* cb, int64_t ms) {
  return Convert(cb, ms, 0, 1000, true, false, true);
}

// ---------------------------------------------------------------------------------------------
// Files and names

bool wioGetFullPathName(std::string& name) {
  if (name.empty()) return false;
  std::error_code ec;
  const fs::path full = fs::absolute(fs::path(name), ec).lexically_normal();
  if (ec) return false;
  name = full.string();
  return true;
}

bool wioFileExists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::exists(fs::path(name), ec);
}

bool wioFileDelete(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::remove(fs::path(name), ec);
}

int wioExtractPath(std::string& name) {
  while (!name.empty() && name.back() != '/') name.pop_back();
  return name.empty() ? 0 : static_cast<int>(name.size() - 1);
}

int wioRemoveStaleTemps(const std::string& folder) {
  return vant::RemoveStaleOwnedTemps(fs::path(folder), ".tmp",
                                     [](std::string_view stem) { return stem == kTempStem; });
}

bool wioFileCreateTemp(std::string& name, vant::StagedHold& hold) {
  if (name.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    name = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    if (name.back() != '/') name += '/';
  }
  if (!wioGetFullPathName(name)) return false;
  // A name that is itself a folder keeps all of it; otherwise only its folder.
  std::error_code ec;
  if (fs::is_directory(fs::path(name), ec)) {
    if (name.back() != '/') name += '/';
  } else {
    wioExtractPath(name);
  }
  // Created exclusively: an existing file is never replaced or removed. The name carries this
  // process's id, so what a killed write left is found and removed by the next one.
  wioRemoveStaleTemps(name);
  vant::FileLayer& io = vant::GetFileLayer();
  fs::path made;
  const int fd = io.CreateTemp(fs::path(name), vant::OwnedTempPrefix(kTempStem), ".tmp", made);
  if (fd < 0) return false;
  hold = vant::StagedHold(fd);
  io.Close(fd);
  name = made.string();
  return true;
}

bool wioFileReplace(const std::string& from, const std::string& to) {
  return vant::ReplaceWithFile(from, to);
}

namespace {

// The file wioIsWaveFile last found to be a wave, kept for the wioReadFileInfo that follows (a
// reader class is chosen by checking the file, then loads it), so that the file is opened and
// read once. It is taken once, and only while the name holds the same, unchanged file.
struct CheckedWave {
  std::mutex lock;
  std::string name;
  struct stat st {};
  PWAVEIOCB block;
};

CheckedWave& LastChecked() {
  static CheckedWave checked;
  return checked;
}

bool StatOf(const std::string& name, struct stat& st) {
  return vant::GetFileLayer().Stat(name, st) == 0 && S_ISREG(st.st_mode);
}

bool Unchanged(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

int ParseSource(PWAVEIOCB& block, const std::string& name, std::span<const uint8_t> memory,
                uint32_t formType, uint32_t kind);

}  // namespace

bool wioIsWaveFile(const std::string& name, uint32_t kind) {
  if (name.empty()) return false;
  std::string full = name;
  struct stat st {};
  // Taken before the file is read: a change while it is read makes the kept parse stale.
  const bool keep = kind == kWioFile && wioGetFullPathName(full) && StatOf(full, st);
  PWAVEIOCB block;
  if (wioReadFileInfo(block, name, kWaveForm, kind) != kWioOk) return false;
  if (keep) {
    CheckedWave& checked = LastChecked();
    std::lock_guard guard(checked.lock);
    checked.name = full;
    checked.st = st;
    checked.block = std::move(block);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Opening

int wioFileOpen(std::unique_ptr<RiffFile>& handle, ChunkInfo& chunk, uint32_t kind,
                uint32_t formType, const std::string& name, std::span<const uint8_t> memory) {
  handle.reset();
  switch (kind) {
    case kWioResource: {
      const auto bytes = FindResourceBytes("WAVE", name);
      if (!bytes.empty()) handle = RiffFile::OpenMemory(bytes);
      break;
    }
    case kWioMemory:
      if (!memory.empty()) handle = RiffFile::OpenMemory(memory);
      break;
    default:
      // For reading: the first write opens it for writing (see Write), so a file that is only
      // read is never opened for writing.
      handle = RiffFile::Open(name, Mode::kRead);
      break;
  }
  if (!handle) return kWioIOError;
  uint8_t hdr[12];
  if (!ReadAt(*handle, 0, hdr, sizeof hdr) || Le32(hdr) != kRiffId || Le32(hdr + 8) != formType) {
    handle.reset();
    return kWioIOError;
  }
  chunk = ChunkInfo{};
  chunk.id = kRiffId;
  chunk.size = handle->FormSize(0, Le32(hdr + 4));
  chunk.type = formType;
  chunk.dataOffset = 8;
  handle->Seek(12);
  return kWioOk;
}

void wioFileClose(std::unique_ptr<RiffFile>& handle) { handle.reset(); }

namespace {

struct Walk {
  int64_t fileSize = 0;
  int64_t riffEnd = 0;
  std::vector<uint8_t> fmt;
  bool haveFmt = false, badFmt = false;
  vant::riff::SamplesPick samples;
  int64_t dataOffset = 0, dataSize = 0, dataEnd = 0;
  bool haveFact = false, haveInfo = false, factRead = false;
  uint32_t factCount = 0;
  std::vector<std::pair<uint32_t, int64_t>> headChunks;
};

// Walks the chunks of the RIFF form; 0 or a result code. The lists are filled as found, up to a
// second `fmt ` or `fact`, or a data chunk after one that held samples: what follows those belongs
// to no wave this parse describes. The samples are picked by the walk every reader shares, which
// goes on past that point until they are settled.
int WalkChunks(RiffFile& f, const ChunkInfo& riff, TInfoChunk* info, TDispList* disp, Walk& w) {
  w.fileSize = static_cast<int64_t>(f.Size());
  w.riffEnd = std::min<int64_t>(8 + int64_t{riff.size}, w.fileSize);
  vant::riff::ChunkWalk walk(f, 12, static_cast<uint64_t>(w.riffEnd));
  bool listsDone = false;
  ChunkInfo ck;
  while (!(listsDone && w.samples.settled) && walk.Next(ck)) {
    const bool dataBefore = w.samples.found;
    w.samples.See(ck);
    if (listsDone) continue;
    const uint32_t id = ck.id;
    const int64_t size = ck.size;
    const int64_t dataOff = static_cast<int64_t>(ck.dataOffset);
    const int64_t pos = dataOff - 8;
    switch (id) {
      case kListId: {
        if (size < 4) break;
        uint8_t type[4];
        if (!ReadAt(f, static_cast<uint64_t>(dataOff), type, 4)) return kWioIOError;
        if (Le32(type) != kInfoType || w.haveInfo) break;  // the first LIST INFO wins
        w.haveInfo = true;
        if (!dataBefore) w.headChunks.emplace_back(id, pos);
        std::vector<uint8_t> body(static_cast<size_t>(size - 4));
        if (!ReadAt(f, static_cast<uint64_t>(dataOff + 4), body.data(), body.size())) {
          return kRiffIOError;
        }
        if (size >= 5) {
          const int r = RiffReadINFOBody(body, info);
          if (r != kRiffOk) return r;
        }
        break;
      }
      case kDispId: {
        if (!dataBefore) w.headChunks.emplace_back(id, pos);
        std::vector<uint8_t> body(static_cast<size_t>(size));
        if (!ReadAt(f, static_cast<uint64_t>(dataOff), body.data(), body.size())) {
          return kRiffIOError;
        }
        const int r = RiffReadDISPBody(body, disp);
        if (r != kRiffOk) return r;
        break;
      }
      case kFmtId:
        if (w.haveFmt) {
          listsDone = true;
          break;
        }
        w.haveFmt = true;
        if (size < kMinFmtBytes || size > kMaxFmtBytes) {
          w.badFmt = true;
          break;
        }
        w.fmt.resize(static_cast<size_t>(size));
        if (!ReadAt(f, static_cast<uint64_t>(dataOff), w.fmt.data(), w.fmt.size())) {
          return kWioIOError;
        }
        break;
      case vant::riff::kData:
        if (dataBefore && w.samples.chunk.size != 0) listsDone = true;
        break;
      case kFactId: {
        if (w.haveFact) {
          listsDone = true;
          break;
        }
        w.haveFact = true;
        if (!dataBefore) w.headChunks.emplace_back(id, pos);
        uint8_t count[4];
        if (size >= 4 && ReadAt(f, static_cast<uint64_t>(dataOff), count, 4)) {
          w.factCount = Le32(count);
          w.factRead = true;
        }
        break;
      }
      default:
        break;
    }
  }
  if (w.samples.found) {
    w.dataOffset = static_cast<int64_t>(w.samples.chunk.dataOffset);
    // A size of 0xFFFFFFFF is a pipe's "unknown": the samples run to the end of the file, which
    // may lie beyond 4 GiB.
    w.dataSize = w.samples.chunk.size == UINT32_MAX ? w.fileSize - w.dataOffset
                                                    : int64_t{w.samples.chunk.size};
    w.dataEnd = w.dataOffset + w.dataSize;
  }
  return kWioOk;
}

// The format as found, checked and made consistent; nil when it cannot describe data.
TWaveFormatPtr CheckedFormat(const std::vector<uint8_t>& bytes) {
  TWaveFormatPtr f = AllocWaveFormat(bytes.size());
  if (!f) return nullptr;
  std::memcpy(f.get(), bytes.data(), bytes.size());
  // The extra size never claims bytes the chunk did not have.
  f->cbSize = bytes.size() >= sizeof(WAVEFORMATEX)
                  ? static_cast<uint16_t>(std::min<size_t>(f->cbSize, bytes.size() - 18))
                  : 0;
  if (f->nChannels == 0 || f->nSamplesPerSec == 0) return nullptr;
  if (f->wFormatTag == WAVE_FORMAT_PCM) {
    if (f->wBitsPerSample == 0) {
      // Take the depth from a block align that holds 1 to 4 bytes per channel.
      const int perChannel = f->nBlockAlign % f->nChannels == 0 ? f->nBlockAlign / f->nChannels : 0;
      if (perChannel < 1 || perChannel > 4) return nullptr;
      f->wBitsPerSample = static_cast<uint16_t>(perChannel * 8);
    }
    const uint32_t align = (f->wBitsPerSample + 7u) / 8u * f->nChannels;
    if (align == 0 || align > 0xFFFF) return nullptr;
    f->nBlockAlign = static_cast<uint16_t>(align);
    f->nAvgBytesPerSec = align * f->nSamplesPerSec;
  }
  if (f->nBlockAlign == 0) return nullptr;
  return f;
}

// The samples the data holds. A block-coded format counts its whole blocks, not its average
// byte rate, which some writers fill with a figure of their own; its fact count, when it lies
// within the last block, says how much of that block is sound. The byte rate the blocks give
// then serves every conversion of the block.
int64_t SamplesOfData(TWAVEIOCB& cb, const Walk& w) {
  const WAVEFORMATEX& f = *cb.wfx;
  const uint32_t perBlock = wioSamplesPerBlock(&f);
  if (perBlock == 0) return wioBytesToSamplesEx(&cb, cb.dwDataBytes);
  cb.dBytesPerSec = double(f.nBlockAlign) * f.nSamplesPerSec / perBlock;
  const int64_t whole = cb.dwDataBytes / f.nBlockAlign * perBlock;
  const int64_t fact = w.factCount;
  return w.factRead && fact <= whole && fact > whole - perBlock ? fact : whole;
}

int ParseSource(PWAVEIOCB& block, const std::string& name, std::span<const uint8_t> memory,
                uint32_t formType, uint32_t kind) {
  block.reset();
  std::unique_ptr<RiffFile> file;
  ChunkInfo riff;
  if (wioFileOpen(file, riff, kind, formType, name, memory) != kWioOk) return kWioIOError;
  auto info = std::make_unique<TInfoChunk>();
  auto disp = std::make_unique<TDispList>();
  RiffInitINFO(info);
  RiffInitDISP(disp);
  Walk w;
  const int r = WalkChunks(*file, riff, info.get(), disp.get(), w);
  if (r != kWioOk) return r;

  auto cb = std::make_unique<TWAVEIOCB>();
  cb->lpFileName = name;
  cb->lpMemory = kind == kWioMemory ? memory : std::span<const uint8_t>{};
  cb->lpInfo = std::move(info);
  cb->lpDisp = std::move(disp);
  cb->dwFileSize = w.fileSize;
  cb->ckRIFF = riff;
  cb->ckRIFF.size = static_cast<uint32_t>(w.riffEnd - 8);
  if (kind == kWioHeaderOnly) {
    cb->dwFlags = kWioHeaderOnly;
    cb->wfx = AllocWaveFormat(kHeaderOnlyFormatBytes);
    cb->wfxBytes = kHeaderOnlyFormatBytes;
    cb->dwSize = FixedBytes() + cb->wfxBytes;
    block = std::move(cb);
    return kWioOk;
  }
  if (!w.haveFmt || w.badFmt) return kWioNoFormat;
  cb->wfx = CheckedFormat(w.fmt);
  if (!cb->wfx) return kWioNoFormat;
  cb->wfxBytes = static_cast<uint32_t>(std::max<size_t>(w.fmt.size(), sizeof(WAVEFORMATEX)));
  cb->dwSize = FixedBytes() + cb->wfxBytes;
  cb->dwFlags = kind;
  if (w.samples.found) {
    cb->dwDataOffset = w.dataOffset;
    cb->dwDataBytes = RoundDownToBlock(w.dataSize, cb->wfx->nBlockAlign);
    cb->dataEnd = w.dataEnd;
    cb->headChunks = std::move(w.headChunks);
    cb->ckDATA.id = w.samples.chunk.id;
    cb->ckDATA.size = static_cast<uint32_t>(std::min<int64_t>(w.dataSize, 0xFFFFFFFF));
    cb->ckDATA.dataOffset = static_cast<uint64_t>(w.dataOffset);
  }
  cb->dwDataSamples = cb->dwLastSample = SamplesOfData(*cb, w);
  block = std::move(cb);
  return kWioOk;
}

}  // namespace

int wioReadFileInfo(PWAVEIOCB& block, const std::string& name, uint32_t formType, uint32_t kind) {
  if (kind == kWioFile && formType == kWaveForm) {
    CheckedWave& checked = LastChecked();
    std::unique_lock guard(checked.lock);
    if (checked.block) {
      PWAVEIOCB kept = std::move(checked.block);
      std::string full = name;
      struct stat st {};
      if (wioGetFullPathName(full) && full == checked.name && StatOf(full, st) &&
          Unchanged(st, checked.st)) {
        kept->lpFileName = name;
        block = std::move(kept);
        return kWioOk;
      }
    }
  }
  return ParseSource(block, name, {}, formType, kind);
}

int wioBuildFileInfoFromMem(PWAVEIOCB& block, const void* data, int64_t size) {
  block.reset();
  if (data == nullptr || size <= 0) return kWioIOError;
  const std::span<const uint8_t> image(static_cast<const uint8_t*>(data),
                                       static_cast<size_t>(size));
  return ParseSource(block, "POINTER://", image, kWaveForm, kWioMemory);
}

int wioBuildFileInfoFromResource(PWAVEIOCB& block, const std::string& name) {
  return ParseSource(block, name, {}, kWaveForm, kWioResource);
}

int wioCreateFileInfo(PWAVEIOCB& block, const WAVEFORMATEX* format) {
  block.reset();
  if (format == nullptr) return kWioMissingArgument;
  auto cb = std::make_unique<TWAVEIOCB>();
  cb->wfx = wioCopyWaveFormat(format);
  if (!cb->wfx) return kWioNoMemory;
  cb->wfxBytes = wioSizeOfWaveFormat(format);
  cb->dwSize = FixedBytes() + cb->wfxBytes;
  RiffInitINFO(cb->lpInfo);
  RiffInitDISP(cb->lpDisp);
  block = std::move(cb);
  return kWioOk;
}

int wioCopyFileInfo(TWAVEIOCB* target, const TWAVEIOCB* source) {
  if (target == nullptr || source == nullptr) return kWioMissingArgument;
  if (!target->lpInfo) RiffInitINFO(target->lpInfo);
  if (!target->lpDisp) RiffInitDISP(target->lpDisp);
  if (source->lpInfo && RiffCopyInfo(target->lpInfo.get(), source->lpInfo.get()) != kRiffOk) {
    return kWioNoFormat;
  }
  if (source->lpDisp && RiffCopyDISP(target->lpDisp.get(), source->lpDisp.get()) != kRiffOk) {
    return kWioNoFormat;
  }
  return kWioOk;
}

int wioBuildFileInfoFromRAWEx(PWAVEIOCB& block, const std::string& name, int64_t dataOffset,
                              const WAVEFORMATEX* format) {
  block.reset();
  if (format == nullptr || name.empty()) return kWioMissingArgument;
  auto file = RiffFile::Open(name, Mode::kRead);
  if (!file) return kWioIOError;
  auto cb = std::make_unique<TWAVEIOCB>();
  cb->wfx = wioCopyWaveFormat(format);
  if (!cb->wfx) return kWioNoMemory;
  cb->wfxBytes = wioSizeOfWaveFormat(format);
  cb->dwSize = FixedBytes() + cb->wfxBytes;
  cb->dwFlags = kWioRaw;
  cb->dwFileSize = static_cast<int64_t>(file->Size());
  cb->dwDataOffset = std::clamp<int64_t>(dataOffset, 0, cb->dwFileSize);
  cb->dwDataBytes = cb->dwFileSize - cb->dwDataOffset;
  cb->dataEnd = cb->dwFileSize;
  cb->dwDataSamples = cb->dwLastSample = wioBytesToSamplesEx(cb.get(), cb->dwDataBytes);
  cb->lpFileName = name;
  RiffInitINFO(cb->lpInfo);
  RiffInitDISP(cb->lpDisp);
  block = std::move(cb);
  return kWioOk;
}

int wioBuildFileInfoFromRAW(PWAVEIOCB& block, const std::string& name, int64_t dataOffset, int bits,
                            int channels, int rate) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, bits, channels, rate);
  return wioBuildFileInfoFromRAWEx(block, name, dataOffset, &f);
}

int wioFreeFileInfo(PWAVEIOCB& block) {
  if (!block) return kWioMissingArgument;
  block.reset();  // closes the handle and frees the lists with it
  return kWioOk;
}

// ---------------------------------------------------------------------------------------------
// Reading and writing

int wioWriteFileInfo(TWAVEIOCB* block, const std::string& name) {
  if (block == nullptr || name.empty() || !block->wfx) return kWioMissingArgument;
  auto file = RiffFile::Open(name, Mode::kCreate);
  if (!file) return kWioIOError;
  const WAVEFORMATEX& f = *block->wfx;
  // PCM is written as the 16-byte record without its extra-size field.
  const uint32_t fmtBytes = f.wFormatTag == WAVE_FORMAT_PCM ? 16 : wioSizeOfWaveFormat(&f);
  const bool ok = WriteLe32(*file, kRiffId) && WriteLe32(*file, 0) && WriteLe32(*file, kWaveForm) &&
                  WriteChunk(*file, kFmtId, block->wfx.get(), fmtBytes) &&
                  WriteLe32(*file, vant::riff::kData) && WriteLe32(*file, 0);
  if (!ok) {
    file.reset();
    wioFileDelete(name);
    return kWioIOError;
  }
  block->dwDataOffset = static_cast<int64_t>(file->Tell());
  block->ckRIFF = ChunkInfo{kRiffId, 0, kWaveForm, 8, ChunkInfo::kDirty};
  block->ckDATA = ChunkInfo{vant::riff::kData, 0, 0, static_cast<uint64_t>(block->dwDataOffset),
                            ChunkInfo::kDirty};
  block->hmmio = std::move(file);
  block->lpFileName = name;
  block->dwFlags = kWioFile;
  block->created = true;
  block->dirty = true;  // even an empty file gets its sizes written on close
  block->tailSaved = true;
  block->tail.clear();
  block->dataEnd = block->dwDataOffset;
  block->dwDataSamples = block->dwLastSample = wioBytesToSamplesEx(block, block->dwDataBytes);
  block->dwFirstSample = 0;
  return kWioOk;
}

int wioWaveOpen(TWAVEIOCB* block) {
  if (block == nullptr) return kWioMissingArgument;
  if (!block->hmmio) {
    if (block->dwFlags == kWioRaw) {
      block->hmmio = RiffFile::Open(block->lpFileName, Mode::kRead);
      if (!block->hmmio) return kWioIOError;
    } else if (block->dwFlags == kWioHeaderOnly) {
      return kWioIOError;
    } else {
      if (wioFileOpen(block->hmmio, block->ckRIFF, block->dwFlags, kWaveForm, block->lpFileName,
                      block->lpMemory) != kWioOk) {
        return kWioIOError;
      }
      if (block->dwFlags == kWioResource)
        block->hResource = FindResourceBytes("WAVE", block->lpFileName);
    }
  }
  return wioWaveSetPosition(block, block->dwPosition) == kWioOk ? kWioOk : kWioIOError;
}

namespace {

// The chunks saved from after the data, less the ones a close writes afresh.
std::vector<uint8_t> KeptTail(const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> out;
  size_t off = 0;
  while (off + 8 <= tail.size()) {
    const uint32_t id = Le32(tail.data() + off);
    const uint64_t size = Le32(tail.data() + off + 4);
    const uint64_t whole = 8 + size + (size & 1);
    if (off + 8 + size > tail.size()) break;  // a chunk cut short is not kept
    const bool infoList = id == kListId && size >= 4 && Le32(tail.data() + off + 8) == kInfoType;
    if (id != kFactId && id != kDispId && !infoList) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(whole, tail.size() - off));
      out.insert(out.end(), tail.begin() + off, tail.begin() + off + n);
      if (n < whole) out.push_back(0);
    }
    off += static_cast<size_t>(whole);
  }
  return out;
}

// Data size, pad, [fact], kept chunks, DISP, LIST INFO, RIFF size; the new end of the file.
int64_t FinishWrite(TWAVEIOCB* cb) {
  RiffFile& f = *cb->hmmio;
  const int64_t dataBytes = cb->dwDataBytes;
  const bool pcm = cb->wfx->wFormatTag == WAVE_FORMAT_PCM;
  for (const auto& [id, at] : cb->headChunks) {
    if (id == kFactId && pcm) continue;  // no new fact replaces it
    static constexpr uint8_t kJunk[4] = {'J', 'U', 'N', 'K'};
    if (!WriteAt(f, static_cast<uint64_t>(at), kJunk, 4)) return -1;
  }
  uint8_t size[4];
  PutLe32(size, static_cast<uint32_t>(std::min<int64_t>(dataBytes, 0xFFFFFFFF)));
  if (!WriteAt(f, static_cast<uint64_t>(cb->dwDataOffset - 4), size, 4)) return -1;
  if (f.Seek(cb->dwDataOffset + dataBytes) < 0) return -1;
  const uint8_t pad = 0;
  if ((dataBytes & 1) && f.Write(&pad, 1) != 1) return -1;
  if (!pcm) {
    uint8_t count[4];
    PutLe32(count, static_cast<uint32_t>(std::min<int64_t>(cb->dwDataSamples, 0xFFFFFFFF)));
    if (!WriteChunk(f, kFactId, count, 4)) return -1;
  }
  const std::vector<uint8_t> kept = KeptTail(cb->tail);
  if (!kept.empty() && f.Write(kept.data(), kept.size()) != static_cast<int64_t>(kept.size())) {
    return -1;
  }
  if (cb->lpDisp && RiffWriteDISP(f, cb->lpDisp.get()) != kRiffOk) return -1;
  if (cb->lpInfo && RiffWriteINFO(f, cb->lpInfo.get()) != kRiffOk) return -1;
  const int64_t end = static_cast<int64_t>(f.Tell());
  PutLe32(size, static_cast<uint32_t>(std::min<int64_t>(end - 8, 0xFFFFFFFF)));
  if (!WriteAt(f, 4, size, 4)) return -1;
  return end;
}

}  // namespace

int wioWaveClose(TWAVEIOCB* block) {
  if (block == nullptr) return kWioMissingArgument;
  int result = kWioOk;
  if (block->hmmio && block->dwFlags != kWioRaw && block->dirty && block->wfx) {
    const int64_t end = FinishWrite(block);
    block->hmmio.reset();
    std::error_code ec;
    if (end < 0 || (block->dwFlags == kWioFile &&
                    (fs::resize_file(block->lpFileName, static_cast<uintmax_t>(end), ec), ec))) {
      result = kWioIOError;
    } else {
      block->dwFileSize = end;
      block->headChunks.clear();
    }
    block->dwLastSample = block->dwDataSamples;
    block->dataEnd = block->dwDataOffset + block->dwDataBytes;
    block->ckDATA.size = static_cast<uint32_t>(std::min<int64_t>(block->dwDataBytes, 0xFFFFFFFF));
  }
  block->hmmio.reset();
  block->hResource = {};
  block->dirty = false;
  block->created = false;
  block->tailSaved = false;
  block->tail.clear();
  block->dwBytesLeft = 0;
  block->dwPosition = 0;
  return result;
}

int wioSetIOBufferSize(TWAVEIOCB* block, int64_t size) {
  if (block == nullptr) return kWioMissingArgument;
  if (block->dwFlags == kWioResource || block->dwFlags == kWioMemory || block->dwFlags == kWioRaw) {
    return kWioOk;
  }
  if (!block->hmmio || size < 0) return kWioNoFormat;
  return kWioOk;  // the RIFF layer sizes its own buffer
}

int wioWaveSetFirstSample(TWAVEIOCB* block, int64_t sample) {
  if (block == nullptr || sample < 0 || sample >= block->dwLastSample) return kWioMissingArgument;
  block->dwFirstSample = sample;
  block->dwBytesLeft = wioSamplesToBytesEx(block, block->dwLastSample - sample);
  return kWioOk;
}

int wioWaveSetLastSample(TWAVEIOCB* block, int64_t sample) {
  if (block == nullptr || sample <= block->dwFirstSample || sample > block->dwDataSamples) {
    return kWioMissingArgument;
  }
  block->dwLastSample = sample;
  block->dwBytesLeft = wioSamplesToBytesEx(block, sample - block->dwFirstSample);
  return kWioOk;
}

namespace {

// The start of the block that holds `sample`: the byte position truncated, then rounded down to
// the block align. (Rounding the position up first would land a seek one block past its
// sample in compressed data.)
int64_t BlockOfSample(const TWAVEIOCB* cb, int64_t sample) {
  const WAVEFORMATEX& f = *cb->wfx;
  int64_t bytes;
  if (cb->dBytesPerSec != 0) {
    bytes = f.nSamplesPerSec ? static_cast<int64_t>(std::floor(static_cast<double>(sample) *
                                                               cb->dBytesPerSec / f.nSamplesPerSec))
                             : 0;
  } else {
    bytes = static_cast<int64_t>(
        vant::wio::MulDivTrunc(static_cast<uint64_t>(sample), f.nAvgBytesPerSec, f.nSamplesPerSec));
  }
  return RoundDownToBlock(bytes, f.nBlockAlign);
}

}  // namespace

int wioWaveSetPosition(TWAVEIOCB* block, int64_t sample) {
  if (block == nullptr || sample < 0 || !block->wfx) return kWioIOError;
  sample = std::min(sample, std::max<int64_t>(block->dwLastSample - block->dwFirstSample - 1, 0));
  int64_t offset = BlockOfSample(block, block->dwFirstSample + sample);
  if (block->hmmio) {
    offset = RoundDownToBlock(std::min(offset, block->dwDataBytes), BlockAlign(block));
    RiffFile& f = *block->hmmio;
    if (block->dwFlags != kWioRaw) {
      // The data chunk's header must still be where the parse found it.
      uint8_t hdr[8];
      if (!ReadAt(f, static_cast<uint64_t>(block->dwDataOffset - 8), hdr, 8) ||
          (Le32(hdr) != vant::riff::kData && Le32(hdr) != vant::riff::kDataUpper)) {
        return kWioIOError;
      }
      block->ckDATA.id = Le32(hdr);
      block->ckDATA.size = Le32(hdr + 4);
      block->ckDATA.dataOffset = static_cast<uint64_t>(block->dwDataOffset);
    }
    if (f.Seek(block->dwDataOffset + offset) < 0) return kWioIOError;
    // Never more than the data holds: a rounded-up last block must not read into the next chunk.
    const int64_t end =
        std::min(wioSamplesToBytesEx(block, block->dwLastSample), block->dwDataBytes);
    block->dwBytesLeft = std::max<int64_t>(end - offset, 0);
  }
  block->dwPosition = wioBytesToSamplesEx(block, offset) - block->dwFirstSample;
  return kWioOk;
}

int64_t wioWaveReadData(TWAVEIOCB* block, void* buffer, int64_t bytes) {
  if (block == nullptr || !block->hmmio || buffer == nullptr || bytes < 0) return -1;
  if (block->dwBytesLeft <= 0) return -1;
  const int64_t want = std::min(bytes, block->dwBytesLeft);
  const int64_t got = block->hmmio->Read(buffer, static_cast<size_t>(want));
  if (got < 0) return -1;
  if (got < bytes) {
    block->dwBytesLeft = 0;
    if (got == 0) return 0;
  }
  block->dwBytesLeft = std::max<int64_t>(block->dwBytesLeft - got, 0);
  block->dwPosition =
      (block->dwLastSample - block->dwFirstSample) - wioBytesToSamplesEx(block, block->dwBytesLeft);
  return got;
}

int64_t wioWaveReadSamples(TWAVEIOCB* block, void* buffer, int64_t samples) {
  const int64_t got = wioWaveReadData(block, buffer, wioSamplesToBytesEx(block, samples));
  return got < 0 ? -1 : wioBytesToSamplesEx(block, got);
}

int64_t wioWaveReadDataDirect(TWAVEIOCB* block, void* buffer, int64_t bytes) {
  if (block == nullptr || block->dwFlags == kWioRaw) return -1;
  return wioWaveReadData(block, buffer, bytes);
}

namespace {

// The chunks after the data are read before the first write could reach them.
bool SaveTail(TWAVEIOCB* cb) {
  if (cb->tailSaved) return true;
  RiffFile& f = *cb->hmmio;
  const uint64_t at = f.Tell();
  const int64_t from = cb->dataEnd;
  const int64_t size = static_cast<int64_t>(f.Size());
  cb->tail.clear();
  if (from < size) {
    cb->tail.resize(static_cast<size_t>(size - from));
    if (!ReadAt(f, static_cast<uint64_t>(from), cb->tail.data(), cb->tail.size())) return false;
  }
  cb->tailSaved = true;
  return f.Seek(static_cast<int64_t>(at)) >= 0;
}

int64_t Write(TWAVEIOCB* cb, const void* data, int64_t bytes, bool updateBytesLeft) {
  if (cb == nullptr || !cb->hmmio || cb->dwFlags == kWioRaw || data == nullptr || bytes <= 0) {
    return -1;
  }
  if (!cb->hmmio->MakeWritable()) return 0;
  if (!SaveTail(cb)) return -1;
  const int64_t got = cb->hmmio->Write(data, static_cast<size_t>(bytes));
  if (got <= 0) return 0;
  cb->dirty = true;
  const int64_t offset = static_cast<int64_t>(cb->hmmio->Tell()) - cb->dwDataOffset;
  cb->dwPosition = wioBytesToSamplesEx(cb, offset);
  cb->dwDataBytes = std::max(cb->dwDataBytes, offset);
  if (cb->dwPosition > cb->dwDataSamples) cb->dwDataSamples = cb->dwLastSample = cb->dwPosition;
  if (updateBytesLeft) {
    cb->dwBytesLeft =
        std::max<int64_t>(wioSamplesToBytesEx(cb, cb->dwLastSample - cb->dwPosition), 0);
  }
  return got;
}

}  // namespace

int64_t wioWaveWriteData(TWAVEIOCB* block, const void* data, int64_t bytes) {
  return Write(block, data, bytes, true);
}

int64_t wioWaveWriteSamples(TWAVEIOCB* block, const void* data, int64_t samples) {
  const int64_t got = wioWaveWriteData(block, data, wioSamplesToBytesEx(block, samples));
  return got < 0 ? -1 : wioBytesToSamplesEx(block, got);
}

int64_t wioWaveWriteDataDirect(TWAVEIOCB* block, const void* data, int64_t bytes) {
  return Write(block, data, bytes, false);
}

// ---------------------------------------------------------------------------------------------
// Whole files

int wioWaveLoadFile(const std::string& name, TWaveFormatPtr& format, std::vector<uint8_t>& data,
                    int64_t& size) {
  format.reset();
  data.clear();
  size = 0;
  PWAVEIOCB cb;
  int r = wioReadFileInfo(cb, name, kWaveForm, kWioFile);
  if (r != kWioOk) return r;
  r = wioWaveOpen(cb.get());
  if (r != kWioOk) return r;
  try {
    data.resize(static_cast<size_t>(cb->dwDataBytes));
  } catch (const std::bad_alloc&) {
    return kWioNoMemory;
  }
  int64_t done = 0;
  while (done < cb->dwDataBytes) {
    const int64_t got = wioWaveReadData(cb.get(), data.data() + done, cb->dwDataBytes - done);
    if (got <= 0) break;
    done += got;
  }
  if (done != cb->dwDataBytes) {
    data.clear();
    return kWioIOError;
  }
  format = wioCopyWaveFormat(cb->wfx.get());
  if (!format) {
    data.clear();
    return kWioNoMemory;
  }
  size = done;
  return kWioOk;
}

int wioWaveSaveFile(const std::string& name, const WAVEFORMATEX* format, const void* data,
                    int64_t size) {
  PWAVEIOCB cb;
  int r = wioCreateFileInfo(cb, format);
  if (r == kWioOk) r = wioWriteFileInfo(cb.get(), name);
  if (r != kWioOk) return r;
  if (size > 0 && wioWaveWriteData(cb.get(), data, size) != size) r = kWioIOError;
  const int closed = wioWaveClose(cb.get());
  if (r == kWioOk) r = closed;
  if (r != kWioOk) wioFileDelete(name);
  return r;
}

int wioWaveCopyUselessChunks(TWAVEIOCB* source, TWAVEIOCB* target) {
  if (source == nullptr || target == nullptr || !target->hmmio) return kWioMissingArgument;
  std::unique_ptr<RiffFile> own;
  RiffFile* f = source->hmmio.get();
  if (f == nullptr) {
    ChunkInfo riff;
    if (wioFileOpen(own, riff, source->dwFlags, kWaveForm, source->lpFileName, source->lpMemory) !=
        kWioOk) {
      return kWioIOError;
    }
    f = own.get();
  }
  const int64_t riffEnd =
      std::min<int64_t>(8 + int64_t{source->ckRIFF.size}, static_cast<int64_t>(f->Size()));
  int64_t pos = 12;
  int result = kWioOk;
  while (pos + 8 <= riffEnd) {
    uint8_t hdr[8];
    if (!ReadAt(*f, static_cast<uint64_t>(pos), hdr, 8)) break;
    ChunkInfo ck{Le32(hdr), Le32(hdr + 4), 0, static_cast<uint64_t>(pos + 8), 0};
    if (ck.id != kCueId && ck.id != kPlstId) break;
    if (static_cast<int64_t>(ck.DataEnd()) > riffEnd) {
      result = kWioIOError;
      break;
    }
    if (!RiffCopyChunk(*f, *target->hmmio, ck)) {
      result = kWioIOError;
      break;
    }
    pos = static_cast<int64_t>(ck.NextOffset());
  }
  f->Seek(12);
  return result;
}
