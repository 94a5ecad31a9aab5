#pragma once
// Attachments of a VANT file: registering new ones for the next save, marking stored ones for
// deletion, and copying stored ones out to files.
//
// Names passed in are the stored CP932 names, as GetPdfList and GetCsvList give them (or a
// pending list line, whose path between "[" and "]" is native). A stored name is CP932 and comes
// from whoever made the file; it never reaches the file system as it stands. Extraction goes
// into a temporary folder of this run, under the name made safe (SafeAttachFileName), and that
// folder is removed when the program exits.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "bwfchunk.h"

// Message of a refused file name (not CP932, or too long for a name line).
inline constexpr const char* kMsgAttachNameInvalid =
    "ファイル名に使用できない文字が含まれているか、長すぎるため添付できません。";
inline constexpr const char* kMsgOpenForWriteFailed =
    "書き込み用ファイルのオープンに失敗しました。";
inline constexpr const char* kMsgWriteError = "書き込みエラーが発生しました。";
inline constexpr const char* kMsgReadError = "読み込みエラーが発生しました。";

// The name line of a file to attach: its file name in CP932. False when CP932 cannot hold the
// name or it is longer than a name line holds (259 bytes).
bool AttachNameOf(const std::filesystem::path& file, std::string& cp932_name);

// Registers `path` under the first free label number n (1..9) and returns n with its cue id;
// 0 when all nine are taken, -1 when the file's name cannot be stored (with a message). Nothing
// is added then.
int AddAttachment(TBWFChunck& chunk, const std::filesystem::path& path, uint32_t& cue_id);

// Marks the first stored attachment of that name (ignoring case) that is not yet deleted and
// returns its cue id as signed decimal text, or "" when there is none.
std::string DeleteAttachment(TBWFChunck& chunk, std::string_view name);
void MarkScanMarkerDeleted(TBWFChunck& chunk, uint32_t cue_id);
// Replaces the delete list with the lines of the text.
void SetDeleteList(TBWFChunck& chunk, std::string_view text);
// True when a line of the delete list is the decimal text of the id. Lines that are not numbers
// are ignored.
bool IsDeleted(const TBWFChunck& chunk, uint32_t cue_id);

// A list line of a pending attachment ("*...[path]", beginning with "*") gives its own path and
// nothing is written. Otherwise the stored PDF (CSV) attachment of that name is copied to `path`,
// which is returned; "" when there is none or the copy failed (with a message).
std::string ExtractPdfTo(TBWFChunck& chunk, std::string_view name,
                         const std::filesystem::path& path);
std::string ExtractCsvTo(TBWFChunck& chunk, std::string_view name,
                         const std::filesystem::path& path);
// The same into this run's temporary folder, under the stored name made safe.
std::string ExtractPdf(TBWFChunck& chunk, std::string_view name);
std::string ExtractCsv(TBWFChunck& chunk, std::string_view name);

// Copies one attachment's bytes (the `file` sub-chunk at data_offset: cue id, media type, name
// line, then the bytes) to a file. The file appears whole or not at all; a failed open, write
// or read shows its message and returns false.
bool SaveAttachData(TBWFChunck& chunk, const std::filesystem::path& path, uint64_t data_offset,
                    uint32_t size);

// A new empty file with that extension in this run's temporary folder; "temp~.<extension>" in
// the current folder when none can be made.
std::string MakeTempFileName(std::string_view extension);

// This run's folder for extracted attachments, made on first use and removed at exit.
std::filesystem::path AttachTempFolder();

// A stored CP932 name as one safe UTF-8 file name: separators, NUL and control characters
// become '_', "." and ".." and empty names become "attachment", at most 255 bytes.
std::string SafeAttachFileName(std::string_view cp932_name);
