#pragma once
// A RIFF file's descriptive chunks in memory: the LIST `INFO` texts and the `DISP` chunks. Each
// entry keeps the value read from the file apart from a value the user changed, so an editor can
// show, compare and revert; writing takes the changed value where there is one.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "riffio.h"

// Result codes.
inline constexpr int kRiffOk = 0;
inline constexpr int kRiffNotEmptied = 1;  // RiffCopyDISP could not empty its target
inline constexpr int kRiffNilArgument = 2;
inline constexpr int kRiffIOError = 3;
inline constexpr int kRiffNoMemory = 4;

// Entry flags.
inline constexpr uint16_t kRiffRead = 0;     // the value read applies
inline constexpr uint16_t kRiffChanged = 1;  // the changed value applies
inline constexpr uint16_t kRiffDropped = 2;  // a change was dropped: the value read applies again

// Clipboard formats a DISP chunk may hold; others are kept but never written.
inline constexpr uint32_t kDispText = 1;
inline constexpr uint32_t kDispDIB = 8;

uint32_t mmioFourCC(char a, char b, char c, char d);

struct TInfoId {
  uint32_t id;
  const char* name;
  const char* description;
};
inline constexpr int kInfoIdCount = 23;
// The INFO ids in their fixed order.
const TInfoId& RiffInfoId(int index);

struct TInfoData {
  uint16_t index = 0;  // row of the id table
  uint16_t flags = kRiffRead;
  uint32_t offset = 0;  // of the read text inside TInfoChunk::raw; 0 when the file had none
  uint32_t length = 0;  // bytes of the read text's sub-chunk inside raw
  std::optional<std::string> changed;
};

struct TInfoChunk {
  std::vector<uint8_t> raw;  // the LIST INFO body as read, after the type
  std::vector<std::unique_ptr<TInfoData>> entries;
};

struct TDisp {
  uint32_t format = 0;
  uint16_t flags = kRiffRead;
  std::optional<std::vector<uint8_t>> read;
  std::optional<std::vector<uint8_t>> changed;
};

struct TDispList {
  std::vector<std::unique_ptr<TDisp>> entries;
};

// The text an entry applies (changed, else read); empty when it has none. The read text stops
// at its first zero and at the end of the raw bytes.
std::string RiffInfoText(const TInfoChunk& info, const TInfoData& entry);
// The data a DISP entry applies; nil when it has none.
const std::vector<uint8_t>* RiffDispData(const TDisp& entry);

// INFO.
int RiffInitINFO(std::unique_ptr<TInfoChunk>& info);
// The LIST chunk `ck` (file at any position): reads its body and parses it.
int RiffReadINFO(vant::riff::RiffFile& file, const vant::riff::ChunkInfo& ck, TInfoChunk* info);
// Parses a LIST INFO body (the bytes after the type) into `info`.
int RiffReadINFOBody(std::span<const uint8_t> body, TInfoChunk* info);
void RiffParseINFO(TInfoChunk* info);
// Appends LIST INFO at the file's position; nothing when no entry has text.
int RiffWriteINFO(vant::riff::RiffFile& file, const TInfoChunk* info);
// The bytes RiffWriteINFO writes (empty when no entry has text).
std::vector<uint8_t> RiffBuildINFO(const TInfoChunk& info);
int RiffCopyInfo(TInfoChunk* target, const TInfoChunk* source);
std::unique_ptr<TInfoData> RiffCreateINFO(uint16_t flags, uint16_t index, uint32_t offset,
                                          std::optional<std::string> text);
void RiffInsertINFO(TInfoChunk* info, std::unique_ptr<TInfoData> entry);
TInfoData* RiffFindPIINFO(TInfoChunk* info, uint32_t id);
int RiffFindaINFO(uint32_t id);
void RiffModifyINFO(TInfoChunk* info, TInfoData* entry, uint16_t flags, uint32_t offset,
                    std::optional<std::string> text);
int RiffFreeINFO(std::unique_ptr<TInfoChunk>& info);

// DISP.
int RiffInitDISP(std::unique_ptr<TDispList>& list);
int RiffReadDISP(vant::riff::RiffFile& file, const vant::riff::ChunkInfo& ck, TDispList* list);
int RiffReadDISPBody(std::span<const uint8_t> body, TDispList* list);
int RiffWriteDISP(vant::riff::RiffFile& file, const TDispList* list);
std::vector<uint8_t> RiffBuildDISP(const TDispList& list);
int RiffCopyDISP(TDispList* target, const TDispList* source);
std::unique_ptr<TDisp> RiffCreateDISP(uint16_t flags, uint32_t format,
                                      std::optional<std::vector<uint8_t>> read,
                                      std::optional<std::vector<uint8_t>> changed);
void RiffInsertDISP(TDispList* list, std::unique_ptr<TDisp> entry);
void RiffModifyDISP(TDispList* list, TDisp* entry, uint16_t flags,
                    std::optional<std::vector<uint8_t>> data);
// Frees every entry; with freeList the list itself too.
void RiffFreeDISP(std::unique_ptr<TDispList>& list, bool freeList);

// Plain chunk copies: the source positioned at the chunk's data, the target at the place to
// write. A LIST keeps its type.
bool RiffCopyChunk(vant::riff::RiffFile& source, vant::riff::RiffFile& target,
                   const vant::riff::ChunkInfo& ck);
bool RiffCopyList(vant::riff::RiffFile& source, vant::riff::RiffFile& target,
                  const vant::riff::ChunkInfo& ck);
