#pragma once
// Chunk lookups shared by the readers and the scan: the RIFF form "WAVE" from offset 0, and a
// chunk inside it under either spelling of its id.
#include <algorithm>

#include "bwfformat.h"
#include "riffio.h"
#include "trace.h"

namespace bwf {

// Finds the RIFF form "WAVE" at the start of the file; a form further on is no wave, as for the
// audio engine's parse.
inline bool FindWaveForm(vant::riff::RiffFile& f, vant::riff::ChunkInfo& form) {
  f.Seek(0);
  form = {};
  return f.Descend(form) == vant::riff::Result::kOk && form.id == vant::riff::kRiff &&
         form.type == kWave;
}

// Finds `id`, else `other`, each searched from `from` inside `parent`.
inline bool FindEither(vant::riff::RiffFile& f, const vant::riff::ChunkInfo& parent, uint64_t from,
                       FourCC id, FourCC other, vant::riff::ChunkInfo& ck) {
  for (FourCC want : {id, other}) {
    f.Seek(static_cast<int64_t>(from));
    ck = {};
    ck.id = want;
    if (f.Descend(ck, &parent, vant::riff::Search::kChunk) == vant::riff::Result::kOk) return true;
    if (id == other) break;
  }
  return false;
}

// Finds the first LIST "adtl" inside the form, from its start.
inline bool FindAdtl(vant::riff::RiffFile& f, const vant::riff::ChunkInfo& form,
                     vant::riff::ChunkInfo& list) {
  f.Seek(static_cast<int64_t>(form.dataOffset + 4));
  list = {};
  list.type = kAdtl;
  return f.Descend(list, &form, vant::riff::Search::kList) == vant::riff::Result::kOk;
}

// From the position, the next chunk inside `parent` whose id is `id` or `other`, visiting every
// chunk in file order so that both spellings are found where they lie.
inline bool NextSubChunk(vant::riff::RiffFile& f, const vant::riff::ChunkInfo& parent, FourCC id,
                         FourCC other, vant::riff::ChunkInfo& ck) {
  for (;;) {
    ck = {};
    if (f.Descend(ck, &parent) != vant::riff::Result::kOk) return false;
    if (ck.id == id || ck.id == other) return true;
    f.Ascend(ck);
  }
}

// Reads the 32-bit count at the position (traced with `countFormat` when given), then calls
// fn(record bytes, file offset) for each record, at most `limit` of them and no more than the
// chunk and the file hold whole. Returns the number of records handed to fn.
template <class Fn>
uint32_t ForEachRecord(vant::riff::RiffFile& f, const vant::riff::ChunkInfo& ck,
                       uint32_t recordSize, uint32_t limit, const char* countFormat, Fn&& fn) {
  uint8_t b[kCuePointSize] = {};
  if (f.ReadIn(ck, b, 4) != 4) return 0;
  const uint32_t n = Le32(b);
  if (countFormat) vant::TraceF(countFormat, n);
  const uint64_t end = std::min<uint64_t>(ck.DataEnd(), f.Size());
  const uint64_t room = end > f.Tell() ? (end - f.Tell()) / recordSize : 0;
  const auto count = static_cast<uint32_t>(std::min<uint64_t>({n, room, limit}));
  uint32_t i = 0;
  for (; i < count; ++i) {
    const uint64_t at = f.Tell();
    if (f.ReadIn(ck, b, recordSize) != static_cast<int64_t>(recordSize)) break;
    fn(static_cast<const uint8_t*>(b), at);
  }
  return i;
}

}  // namespace bwf
