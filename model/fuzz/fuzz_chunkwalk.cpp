// Arbitrary bytes through every reader that looks for a wave's samples: the model's readers (the
// disc viewer lists files through them), the chunk scan the save rests on, and the audio engine's
// parse. They walk the chunks alike, so they must agree on where the samples lie and how many
// bytes they hold; a disagreement aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bwfchunk.h"
#include "fuzzinput.h"
#include "mmwaveio.h"

namespace {

struct Samples {
  bool found = false;
  uint64_t offset = 0;
  uint64_t size = 0;
  bool operator==(const Samples&) const = default;
};

void Disagree(const char* who, const Samples& a, const Samples& b) {
  std::fprintf(stderr, "model: found %d at %llu, %llu bytes; %s: found %d at %llu, %llu bytes\n",
               a.found, static_cast<unsigned long long>(a.offset),
               static_cast<unsigned long long>(a.size), who, b.found,
               static_cast<unsigned long long>(b.offset), static_cast<unsigned long long>(b.size));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteFuzzInput(data, size);
  if (path.empty()) return 0;

  TBWFChunck m(path, TBWFChunck::kKeepOpen);
  Samples model;
  model.found = m.ReadDataChunk() == 1;
  if (model.found) model = {true, m.DataPos.offset, m.DataPos.size};

  m.ScanChunks(path);
  const Samples scan{m.GetDataChunkPos() != 0, m.GetDataChunkPos(), m.GetDataChunkSize()};
  if (!(scan == model)) Disagree("scan", model, scan);

  PWAVEIOCB cb;
  const int r = wioBuildFileInfoFromMem(cb, data, static_cast<int64_t>(size));
  if (r == kWioOk) {
    Samples parse;
    if (cb->ckDATA.id != 0) {
      parse = {true, cb->ckDATA.dataOffset, static_cast<uint64_t>(cb->ckDATA.size)};
    }
    if (!(parse == model)) Disagree("parse", model, parse);
  } else if (r == kWioIOError && model.found) {
    Disagree("parse (no wave)", model, Samples{});
  }
  return 0;
}
