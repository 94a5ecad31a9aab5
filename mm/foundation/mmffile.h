#pragma once
// TMMFastFile keeps many small files inside one container file mapped into memory: files are
// copied in, found by a short case-insensitive name, read through handles that point straight
// into the mapping, renamed and deleted; deleted space is reclaimed by packing the survivors into
// a new container when the container is closed.
//
// The container is untrusted input: every header and directory field is checked against the
// file's real size when it is opened, and a container that fails is refused as "Not a FastFile".
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "exceptions.h"
#include "mmobj.h"

VANT_DECLARE_EXCEPTION(EMMFastFileError, vant::Exception);

#pragma pack(push, 1)
// One directory slot as stored in the container (22 bytes, little-endian, no padding).
struct TFileEntry {
  uint8_t name_length;  // 0 .. 12
  char name[12];
  int32_t size;
  int32_t offset;  // from the start of the container
  uint8_t deleted;  // 0 live, 1 deleted

  std::string Name() const;
};
#pragma pack(pop)
static_assert(sizeof(TFileEntry) == 22);

// A file handle: its 1-based slot in the component's handle table; 0 is no handle.
using TFastFileHandle = int;

class TMMFastFile : public TMMNonVisualComponent {
 public:
  static constexpr int kSignatureSize = 8;
  static constexpr int kHeaderSize = 16;
  static constexpr int kCopyPiece = 16384;
  static constexpr int kMaxNameLength = 12;

  explicit TMMFastFile(vant::TComponent* owner);
  ~TMMFastFile() override;
  std::string ClassName() const override { return "TMMFastFile"; }

  const std::string& GetFileName() const { return file_name_; }
  void SetFileName(const std::string& name);
  int32_t GetMaxFiles() const { return max_files_; }
  void SetMaxFiles(int32_t n);
  int32_t GetMaxHandles() const { return max_handles_; }
  void SetMaxHandles(int32_t n);
  vant::TNotifyEvent OnChange;
  vant::TNotifyEvent OnHandlesLost;

  // The file exists and begins with the eight bytes "FASTFILE".
  static bool IsFastFile(const std::string& path);
  // Creates (truncates) an empty container for `max_files` files.
  static void CreateFastFile(const std::string& path, int32_t max_files);

  bool IsOpen() const { return base_ != nullptr; }
  void Init();
  void Done();
  // Remaps the open container to `size` bytes (a larger size lengthens the file).
  void UpdateFastFile(int64_t size);
  // Writes the live files into a new container and puts it in place of the old one in one step.
  void Pack();

  // Live files, counted in directory order.
  int GetCount() const;
  TFileEntry GetFileEntries(int index) const;
  std::string GetFiles(int index) const;
  std::string GetFilesByName(const std::string& name) const;
  bool FileExists(const std::string& name) const;
  int32_t FileSize(const std::string& name);
  std::string AddFile(const std::string& path);
  void RemoveFile(const std::string& name);
  void RenameFile(const std::string& old_name, const std::string& new_name);
  // Copies a file out; `target` may name a folder, then the file keeps its stored name there.
  void ExtractFile(const std::string& name, const std::string& target);

  TFastFileHandle FileOpen(const std::string& name);
  void FileClose(TFastFileHandle h);
  int32_t FileRead(TFastFileHandle h, void* buffer, int32_t count);
  // Origin 0 from the start, 1 from the current position, 2 back from the end.
  int32_t FileSeek(TFastFileHandle h, int32_t offset, int origin);
  // The address of the file's byte at `offset` inside the mapping (nullptr for a count below 1).
  // Valid until the container is remapped (see OnHandlesLost).
  const uint8_t* FileLock(TFastFileHandle h, int32_t offset, int32_t count);
  void FileUnlock(TFastFileHandle h, int32_t offset, int32_t count);

  // Tests only: called at each numbered step of packing, so a test can stop the process there.
  static std::function<void(int step)> PackStepHook;

 protected:
  virtual void Change();
  virtual void HandlesLost();
  void Loaded() override;

 private:
  // The bytes of an empty container for `max_files` files.
  static std::vector<uint8_t> EmptyContainer(int32_t max_files);
  struct Handle {
    bool in_use = false;
    int32_t position = 0;  // absolute offset in the container
    int32_t size = 0;
    int32_t entry = 0;  // index of the directory slot; survives a remap
  };

  void RequireOpen() const;
  void Map(int fd, int64_t size);
  void UnmapView();
  void Unmap();
  void ValidateMapping() const;
  int32_t Count() const;
  void SetCount(int32_t n);
  TFileEntry& Entry(int index) const;
  int FindEntry(const std::string& name) const;
  void BuildIndex();
  void Unindex(int slot);
  int LiveIndex(int index) const;
  Handle& ValidHandle(TFastFileHandle h);
  int32_t EntryEnd(int index) const { return Entry(index + 1).offset; }

  std::string file_name_;
  int32_t max_files_ = 50;
  int32_t max_handles_ = 10;
  int fd_ = -1;
  uint8_t* base_ = nullptr;
  int64_t mapped_size_ = 0;
  std::vector<Handle> handles_;
  int deleted_count_ = 0;
  // Live entries by upper-case name, the first in directory order for each; a container made
  // elsewhere may hold one name twice, and then removing or renaming one rebuilds the index.
  std::unordered_map<std::string, int> index_;
  bool names_repeat_ = false;
};
