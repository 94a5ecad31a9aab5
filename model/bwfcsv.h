#pragma once
// The commercial data of a file as one CSV record, for the parties of the delivery chain: the
// version, the 36 fields and the end marker "// End of Data" as comma text in CP932, ended by
// CR LF. An import copies only the columns of the importing edition.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "bwfchunk.h"

enum TEditionKey : uint32_t {
  EditionKeyPostProduction = 0x83F03594,  // version, 1, 3 and 6 to 34
  EditionKeyAgency = 0x936AC247,          // 2, 3, 33 and 34
  EditionKeyBroadcaster = 0xB8C74D27,     // 4, 35 and 36
};

inline constexpr const char* kMsgExportDone = "書き出しを実行しました。";
inline constexpr const char* kMsgExportFailed = "書き出しは完了しませんでした。";
inline constexpr const char* kMsgImportFailed = "取り込みは完了しませんでした。";
inline constexpr const char* kMsgImportInvalid = "取り込み データが不正です。";

// The record's line with its CR LF.
std::string CmcdCsvLine(const TCmcdInfo& cmcd);

enum class CsvImport { kDone, kTooFewValues };
// Copies the key's columns of a record text (line breaks separate values like blanks) into
// `cmcd`; with 36 values or fewer nothing changes.
CsvImport ImportCmcdCsvText(TCmcdInfo& cmcd, std::string_view text, uint32_t key);

// Writes the model's commercial data to `path` (through a new file renamed over it) and shows
// whether that worked. The key is not used. True when the file was written whole.
bool ExportCsv(TBWFChunck& chunk, const std::filesystem::path& path, uint32_t key);
// Reads a record into the model's commercial data; a missing or unreadable file and a record of
// 36 values or fewer show their messages and change nothing.
bool ImportCsv(TBWFChunck& chunk, const std::filesystem::path& path, uint32_t key);

// The framework's StrToIntDef: decimal (or "$"/"0x" hexadecimal) 32-bit text, else `fallback`.
int32_t StrToIntDef(std::string_view text, int32_t fallback);
