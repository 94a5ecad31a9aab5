#pragma once
// The viewer's data without windows: the quick listing of a folder that the change watch
// compares, the full scan that reads every listed file into a model, the texts of one row and the
// lines of the listing CSV. The main window (bwfmainmo.h) only shows what these produce.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bwfchunk.h"
#include "folderwatch.h"

namespace viewer {

// 1 for a name ending in ".WAV", 2 for ".BWF" (any case), else 0.
int FileTypeOf(std::string_view name);

// ASCII letters compared without regard to case; other bytes as unsigned.
int CompareText(std::string_view a, std::string_view b);
inline bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

// One listed file as the watch sees it.
struct ListingEntry {
  std::filesystem::path path;
  int64_t mtime = 0;  // last write, nanoseconds since the epoch
  uint64_t size = 0;
};
using Listing = std::vector<ListingEntry>;

bool SameEntry(const ListingEntry& a, const ListingEntry& b);

// The WAV and BWF files of a folder (regular files only), in name order without regard to case,
// so numbers never depend on the order the file system hands them out. A missing or unreadable
// folder gives an empty listing.
Listing ListWaveFiles(const std::filesystem::path& folder);

// Whether the watch listing shows a change against the last scan's: another number of files, or,
// at the first differing entry, a file that exists with more than 2,906 bytes (a header being
// written is not yet a change).
bool ListingChanged(const Listing& scan, const Listing& watch);

// Asks whether some process holds a file open for writing; nullopt when that cannot be told.
using WriterCheck = std::function<std::optional<bool>(const std::filesystem::path&)>;

enum class WriteProgress { kFinished, kWriting, kUnknown };

// What is known of a file's writers: first the kernel's notices (written to and not closed yet,
// or closed after writing), checked against the lease where it answers, since a second writer
// may still hold the file or the notices may have begun in the middle of a copy. Without either
// (no notices on this file system, a file of another owner) unknown.
WriteProgress WriteProgressOf(const ListingEntry& e, const vant::FolderWatch* watch,
                              const WriterCheck& writing);

// Whether a file of the watch listing is finished: as WriteProgressOf, and where that cannot be
// told, when it looked the same at the poll before (`previous`), since a file that is still being
// copied changes its size or time between two polls.
bool FileFinished(const ListingEntry& e, const Listing& previous, const vant::FolderWatch* watch,
                  const WriterCheck& writing);

// Whether a file still looks as the poll that took it for finished saw it (`polled`): a copy that
// opens and closes the file for each piece leaves it closed between pieces, so only a size and
// time that held still since that poll, the settling time before the rescan, end the copy.
bool HeldStill(const ListingEntry& e, const Listing& polled);

// How long a wave file whose RIFF header promises more bytes than it holds must stand still
// (by its last write) before it is listed: a copy writes the header first, and a copy that
// pauses longer than this is taken for a damaged file.
inline constexpr int64_t kShortFileStillNanos = 30'000'000'000;

// Whether a listed file may be read into a row at `now` (nanoseconds since the epoch): it holds
// all that its RIFF header promises, or it has not been written to for kShortFileStillNanos.
bool WholeOrStill(const ListingEntry& e, int64_t now);

// Whether every file of `watch` is finished, judged by the lease and the two polls alone.
bool ListingSettled(const Listing& previous, const Listing& watch);

// The result of a full scan.
struct ScanResult {
  std::vector<std::unique_ptr<TBWFChunck>> models;  // 48 kHz PCM files in listing order
  std::string advertiser;                           // CP932
  Listing listing;
};

// Reads every listed file of the folder; keeps the 48 kHz PCM ones. The advertiser is the
// client name of the first kept file, or of the last file read while none is kept. Files for
// which `hold` is true (still being written) are left out, of the listing too, until a later scan.
ScanResult ScanModels(const std::filesystem::path& folder,
                      const std::function<bool(const ListingEntry&)>& hold = {});

// The texts of one model as the rows and the listing show them (field texts in CP932).
struct ModelTexts {
  std::string fileName;  // native (UTF-8)
  std::string title;
  std::string length;
  bool lengthRed = false;
  bool stereo = false;
  std::string codes[4];  // ItemNumber, CommonCode, ProductionCode, StationCode
  std::string limitation;
  bool attached = false;
  bool commented = false;
};
ModelTexts TextsOf(const TBWFChunck& model);

// The framework's StrToFloatDef: the whole text (blanks around it allowed) as a number, else `def`.
double StrToFloatDef(std::string_view text, double def);

// Whether a stated length and a measured one differ by more than 4 ms (both cut to whole ms).
bool LengthMismatch(double measured_seconds, std::string_view stated);

// The lines of the listing CSV (CP932), without line ends: the header line with the volume label
// and advertiser (both CP932), the column names, then one line per model.
std::vector<std::string> ListingCsvLines(const std::string& volume_label,
                                         const std::string& advertiser,
                                         const std::vector<std::unique_ptr<TBWFChunck>>& models);

// Writes the lines with CR LF to a new file beside `target` and renames it over `target`.
// True only when every byte was written and the rename succeeded.
bool WriteCsvFile(const std::filesystem::path& target, const std::vector<std::string>& lines);

}  // namespace viewer
