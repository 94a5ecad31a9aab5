#pragma once
// The engine's low layer for wave files: a control block that describes one RIFF WAVE source
// (a file, a program resource, a RIFF image in memory, or a headerless raw file), the tolerant
// parse that fills it, and the routines that open, seek, read, write and close the source.
// Everything answers result codes; nothing throws.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mmriff.h"
#include "mmwavefmt.h"
#include "riffio.h"
#include "tempfiles.h"

// Result codes.
inline constexpr int kWioOk = 0;
inline constexpr int kWioNoFormat = 101;
inline constexpr int kWioMissingArgument = 104;
inline constexpr int kWioIOError = 106;
inline constexpr int kWioNoMemory = 107;

// Kinds of source (TWAVEIOCB::dwFlags).
inline constexpr uint32_t kWioFile = 1;
inline constexpr uint32_t kWioResource = 2;
inline constexpr uint32_t kWioMemory = 4;
inline constexpr uint32_t kWioHeaderOnly = 8;
inline constexpr uint32_t kWioRaw = 16;

inline constexpr uint32_t kWaveForm = vant::riff::MakeFourCC('W', 'A', 'V', 'E');

// One source. Counts and offsets are 64-bit so files of 2 GiB and more work.
struct TWAVEIOCB {
  uint32_t dwSize = 0;                          // bytes of the fixed part and the format record
  uint32_t dwFlags = 0;                         // kind of source
  std::unique_ptr<vant::riff::RiffFile> hmmio;  // open source, also for raw files; nil closed
  vant::riff::ChunkInfo ckRIFF;
  vant::riff::ChunkInfo ckDATA;
  std::span<const uint8_t> hResource;  // bytes of a resource while open
  int64_t dwFileSize = 0;
  int64_t dwDataBytes = 0;
  int64_t dwDataOffset = 0;
  int64_t dwDataSamples = 0;
  int64_t dwFirstSample = 0;
  int64_t dwLastSample = 0;  // reads stop before it
  int64_t dwBytesLeft = 0;
  int64_t dwPosition = 0;             // samples from dwFirstSample
  std::string lpFileName;             // file or resource name
  std::span<const uint8_t> lpMemory;  // the image of a memory source (the caller keeps it alive)
  std::unique_ptr<TDispList> lpDisp;
  std::unique_ptr<TInfoChunk> lpInfo;
  double dBytesPerSec = 0;  // byte-rate override; 0 uses the format's
  TWaveFormatPtr wfx;       // the format record as long as the `fmt ` chunk (at least 18 bytes)
  uint32_t wfxBytes = 0;

  // Write state.
  bool created = false;    // made by wioWriteFileInfo
  bool dirty = false;      // the data has been written to
  int64_t dataEnd = 0;     // where the data region ended when the file was parsed
  bool tailSaved = false;  // the chunks after the data, saved before a write could reach them
  std::vector<uint8_t> tail;
  // INFO lists, DISP and fact chunks before the data (id, header offset): a close writes them
  // afresh after the data and turns these into JUNK so that readers do not find stale copies.
  std::vector<std::pair<uint32_t, int64_t>> headChunks;
};
using PWAVEIOCB = std::unique_ptr<TWAVEIOCB>;

// Conversions on a block's format; a non-zero dBytesPerSec replaces the average byte rate.
int64_t wioBytesToSamplesEx(const TWAVEIOCB* cb, int64_t bytes);
int64_t wioBytesToTimeEx(const TWAVEIOCB* cb, int64_t bytes);
int64_t wioSamplesToBytesEx(const TWAVEIOCB* cb, int64_t samples);
int64_t wioSamplesToTimeEx(const TWAVEIOCB* cb, int64_t samples);
int64_t wioTimeToSamplesEx(const TWAVEIOCB* cb, int64_t ms);
int64_t wioTimeToBytesEx(const TWAVEIOCB* cb, int64_t ms);

// Files and names.
bool wioGetFullPathName(std::string& name);
bool wioFileExists(const std::string& name);
bool wioFileDelete(const std::string& name);
// Cuts the name after its last '/', keeping the separator; the separator's index, 0 for none.
int wioExtractPath(std::string& name);
// Creates a new empty file "w<pid>.XXXXXX.tmp" in the folder of `name` (the temporary folder
// when empty) and returns its name; never replaces an existing file. Removes first what writes
// of processes that are gone left in that folder. `hold` keeps the file's lock (tempfiles.h):
// the caller keeps it until the file is renamed or removed.
bool wioFileCreateTemp(std::string& name, vant::StagedHold& hold);
// Removes from `folder` the files of wioFileCreateTemp whose process is gone (this user's
// regular files only); how many went.
int wioRemoveStaleTemps(const std::string& folder);
// Puts a finished file `from` in the place of `to` for good (vant::ReplaceWithFile).
bool wioFileReplace(const std::string& from, const std::string& to);
bool wioIsWaveFile(const std::string& name, uint32_t kind);

// Opening and parsing.
int wioReadFileInfo(PWAVEIOCB& block, const std::string& name, uint32_t formType, uint32_t kind);
int wioCreateFileInfo(PWAVEIOCB& block, const WAVEFORMATEX* format);
int wioCopyFileInfo(TWAVEIOCB* target, const TWAVEIOCB* source);
int wioBuildFileInfoFromMem(PWAVEIOCB& block, const void* data, int64_t size);
int wioBuildFileInfoFromResource(PWAVEIOCB& block, const std::string& name);
int wioBuildFileInfoFromRAWEx(PWAVEIOCB& block, const std::string& name, int64_t dataOffset,
                              const WAVEFORMATEX* format);
int wioBuildFileInfoFromRAW(PWAVEIOCB& block, const std::string& name, int64_t dataOffset, int bits,
                            int channels, int rate);
int wioFreeFileInfo(PWAVEIOCB& block);

// Reading and writing.
int wioWriteFileInfo(TWAVEIOCB* block, const std::string& name);
int wioWaveOpen(TWAVEIOCB* block);
int wioWaveClose(TWAVEIOCB* block);
int wioSetIOBufferSize(TWAVEIOCB* block, int64_t size);
int wioWaveSetFirstSample(TWAVEIOCB* block, int64_t sample);
int wioWaveSetLastSample(TWAVEIOCB* block, int64_t sample);
int wioWaveSetPosition(TWAVEIOCB* block, int64_t sample);
int64_t wioWaveReadData(TWAVEIOCB* block, void* buffer, int64_t bytes);
int64_t wioWaveReadSamples(TWAVEIOCB* block, void* buffer, int64_t samples);
int64_t wioWaveReadDataDirect(TWAVEIOCB* block, void* buffer, int64_t bytes);
int64_t wioWaveWriteData(TWAVEIOCB* block, const void* data, int64_t bytes);
int64_t wioWaveWriteSamples(TWAVEIOCB* block, const void* data, int64_t samples);
int64_t wioWaveWriteDataDirect(TWAVEIOCB* block, const void* data, int64_t bytes);

// Whole files.
int wioWaveLoadFile(const std::string& name, TWaveFormatPtr& format, std::vector<uint8_t>& data,
                    int64_t& size);
int wioWaveSaveFile(const std::string& name, const WAVEFORMATEX* format, const void* data,
                    int64_t size);
int wioWaveCopyUselessChunks(TWAVEIOCB* source, TWAVEIOCB* target);

// Opens a source and checks that it is a RIFF form of `formType`; 0 or 106 (closed again).
// For a memory source `memory` is the image; for a resource the name is looked up.
int wioFileOpen(std::unique_ptr<vant::riff::RiffFile>& handle, vant::riff::ChunkInfo& chunk,
                uint32_t kind, uint32_t formType, const std::string& name,
                std::span<const uint8_t> memory = {});
void wioFileClose(std::unique_ptr<vant::riff::RiffFile>& handle);
