#pragma once
// Helpers of the save's tests: a model opened as the converter opens it, edits of every field, an
// independent walk of a saved file, recorders for progress and the viewer notice, and a file
// layer that fails one chosen call.
#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bwfattach.h"
#include "bwfchunk.h"
#include "bwffilelayer.h"
#include "bwfnotify.h"
#include "bwfsave.h"
#include "faultylayer.h"
#include "vantbuilder.h"

namespace st {

namespace fs = std::filesystem;

inline vb::Bytes ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return vb::Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& p, const vb::Bytes& b) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The model as the converter has it before a save: read in order, scanned, temporary folder set.
inline std::unique_ptr<TBWFChunck> OpenModel(const fs::path& path, const fs::path& temp_folder,
                                             int mode = TBWFChunck::kKeepOpen) {
  auto m = std::make_unique<TBWFChunck>(path, mode);
  ReadModelInOrder(*m);
  m->ScanChunks(path);
  m->TempFolder = temp_folder;
  m->BextImage = m->BextInfo;
  m->CmcdImage = m->CmcdInfo;
  return m;
}

// A distinct text for every `cmcd` field (as wide as the field allows) and a new Description.
inline std::string FieldEdit(int field) {
  return "E" + std::to_string(field) + "-edited-text-that-runs-past-narrow-fields";
}
inline const std::string kDescription = "new remarks for the saved file";
inline void EditEverything(TBWFChunck& m) {
  m.BextImage.SetDescription(kDescription);
  m.CmcdImage.SetCmcdVersion(123);
  for (int f = 0; f < bwf::kCmcdFieldCount; ++f) {
    m.CmcdImage.Set(static_cast<bwf::CmcdField>(f), FieldEdit(f));
  }
}
inline std::string Cut(const std::string& s, int field) {
  return s.substr(0, bwf::CmcdFields()[field].width);
}

// One top-level chunk of a file, read without the model.
struct TopChunk {
  std::string id;
  uint32_t size;
  uint64_t dataOffset;
};
// The chain of top-level chunks; `whole` tells that the form size is the length minus 8 and the
// chain ends exactly at the end of the bytes.
inline std::vector<TopChunk> Walk(const vb::Bytes& b, bool* whole = nullptr) {
  std::vector<TopChunk> out;
  auto le32 = [&](size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
  };
  size_t at = 12;
  while (b.size() >= 12 && at + 8 <= b.size()) {
    const uint32_t size = le32(at + 4);
    out.push_back({std::string(b.begin() + at, b.begin() + at + 4), size, at + 8});
    at += 8 + size + (size & 1u);
  }
  if (whole) {
    *whole = b.size() >= 12 && std::string(b.begin(), b.begin() + 4) == "RIFF" &&
             le32(4) == b.size() - 8 && at == b.size();
  }
  return out;
}
inline std::vector<std::string> Ids(const std::vector<TopChunk>& chunks) {
  std::vector<std::string> ids;
  for (const auto& c : chunks) ids.push_back(c.id);
  return ids;
}
// The data bytes of the first chunk with that id (case as given).
inline vb::Bytes ChunkData(const vb::Bytes& file, const std::string& id) {
  for (const auto& c : Walk(file)) {
    if (c.id == id) {
      const size_t end = std::min<size_t>(file.size(), c.dataOffset + c.size);
      return vb::Bytes(file.begin() + c.dataOffset, file.begin() + end);
    }
  }
  return {};
}

// Progress values and message-loop turns, while alive.
class ProgressRecorder : public TBWFProgress {
 public:
  ProgressRecorder() { SetBWFProgress(this); }
  ~ProgressRecorder() override { SetBWFProgress(nullptr); }
  void SetCaption(std::string_view t) override { caption = t; }
  void Show() override { shown = true; }
  void Hide() override { shown = false; }
  void SetProgress(int p) override { values.push_back(p); }
  void ProcessMessages() override { ++pumps; }
  void StartDelayTimer() override { ++timers; }
  std::string caption;
  bool shown = false;
  std::vector<int> values;
  int pumps = 0, timers = 0;
};

// Counts the notices a save sends to the viewer, while alive.
class NoticeRecorder {
 public:
  NoticeRecorder() {
    SetBWFViewerNotice(
        [this](const TBWFChunck&, int edition, const std::optional<vant::ipc::WindowRef>&) {
          editions.push_back(edition);
        });
  }
  ~NoticeRecorder() { SetBWFViewerNotice({}); }
  std::vector<int> editions;
};

// The POSIX layer with one chosen call failing (tests/support/faultylayer.h).
using FaultyLayer = vant::testing::FaultyLayer;

}  // namespace st
