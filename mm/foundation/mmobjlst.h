#pragma once
// Owned object lists and their "OBJ" stream. Objects of registered classes (each with a load and
// a store procedure) are written to and read from any stream, copied and exchanged through the
// clipboard. Streams are untrusted: a reader that fails leaves its list as it was.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mmerrors.h"
#include "mmobj.h"
#include "mmstream.h"

// ---- class registry ----

using TObjectLoadProc = std::function<void(vant::TObject& object, TStream& stream)>;
using TObjectStoreProc = std::function<void(const vant::TObject& object, TStream& stream)>;
using TObjectFactory = std::function<vant::TObject*()>;

// Registers `name` (compared without regard to case) with its procedures and a factory that
// makes a bare instance for loading. A second registration under a known name is ignored.
void DoRegisterClass(TObjectLoadProc load, TObjectStoreProc store, const std::string& name,
                     TObjectFactory factory);
// A class T with `void Load(TStream&)`, `void Store(TStream&) const` and a default constructor.
template <class T>
void DoRegisterClass() {
  DoRegisterClass([](vant::TObject& o, TStream& s) { static_cast<T&>(o).Load(s); },
                  [](const vant::TObject& o, TStream& s) { static_cast<const T&>(o).Store(s); },
                  T().ClassName(), [] { return new T(); });
}
bool IsRegistered(const std::string& name);

// Counted class name (cut to 63 characters) and the object's data.
void WriteObjectToStream(const vant::TObject* object, TStream& stream);
// A new object of the stored class; EClassNotFound for a name the registry does not know.
vant::TObject* ReadObjectFromStream(TStream& stream);
vant::TObject* CopyOf(const vant::TObject* object);

uint32_t RegisterClipBoardType(const std::string& name);
bool CopyObjectToClipboard(uint32_t format, const vant::TObject* object);
// A new object, or nullptr when the clipboard holds nothing of the format.
vant::TObject* PasteObjectFromClipboard(uint32_t format);

// ---- lists ----

class TObjectList : public TMMObject {
 public:
  static constexpr int32_t kMaxListSize = 32767;

  TObjectList() = default;
  TObjectList(bool owns, int32_t capacity);
  explicit TObjectList(const std::filesystem::path& file);
  ~TObjectList() override;
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;
  std::string ClassName() const override { return "TObjectList"; }

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  int32_t Capacity() const { return capacity_; }
  bool GetOwnsObjects() const { return owns_; }
  void SetOwnsObjects(bool owns) { owns_ = owns; }

  virtual vant::TObject* Get(int32_t index) const;
  // Replaces the reference; the old object is neither freed nor announced.
  virtual void Put(int32_t index, vant::TObject* object);
  vant::TObject* First() const { return Get(0); }
  vant::TObject* Last() const { return Get(Count() - 1); }
  virtual int32_t IndexOf(const vant::TObject* object) const;

  // Appends; answers the count before.
  virtual int32_t AddObject(vant::TObject* object);
  // Appends every object of `list` as one change. Refused (EListError) when both lists own
  // their objects: one of them would free what the other still holds.
  virtual void AddObjects(const TObjectList& list);
  virtual void Insert(int32_t index, vant::TObject* object);

  // Take references out without freeing them.
  void Delete(int32_t index);
  int32_t Remove(const vant::TObject* object);
  virtual void Clear();
  void DeleteAll() { Clear(); }

  virtual void FreeItem(vant::TObject* object);
  void FreeAt(int32_t index);
  virtual void FreeAll();
  void FreeObject(vant::TObject* object);

  void Exchange(int32_t i, int32_t j);
  void Move(int32_t from, int32_t to);
  void Pack();
  void SetCapacity(int32_t n);
  void SetCount(int32_t n);

  virtual void ReadData(TStream& stream);
  virtual void WriteData(TStream& stream) const;
  void SaveToFile(const std::filesystem::path& file) const;
  void LoadFromFile(const std::filesystem::path& file);

  // The binary property "ObjectContainer" of a form stream: stored only for a non-empty list.
  bool HasObjectContainer() const { return Count() > 0; }
  std::string WriteObjectContainer() const;
  void ReadObjectContainer(const std::string& bytes);

 protected:
  [[noreturn]] static void Error(int32_t index);
  void Grow();
  void CheckIndex(int32_t index) const;
  // Inserts at index without checks or notification.
  void RawInsert(int32_t index, vant::TObject* object);
  // Reads the objects of an "OBJ" or "ENV" body into `out` (owned by it until the caller takes
  // them); raises EStreamError and frees them on any fault.
  static void ReadObjects(TStream& stream, int32_t count, std::vector<vant::TObject*>& out);
  static void FreeObjects(std::vector<vant::TObject*>& objects);
  // Replaces the contents by `objects` after a successful read, as one change, and takes the
  // stream's ownership flag.
  void TakeObjects(std::vector<vant::TObject*>& objects, bool owns);
  static void ReadMagic(TStream& stream, const char (&magic)[4]);

 private:
  std::vector<vant::TObject*> items_;
  int32_t capacity_ = 0;
  bool owns_ = true;
};

enum TDuplicates : uint8_t { dupIgnore = 0, dupAccept = 1, dupError = 2 };

// Kept in the order of KeyOf under Compare, which a descendant supplies.
class TSortedObjectList : public TObjectList {
 public:
  explicit TSortedObjectList(TDuplicates duplicates = dupIgnore) : duplicates_(duplicates) {}
  std::string ClassName() const override { return "TSortedObjectList"; }
  TDuplicates GetDuplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates d) { duplicates_ = d; }

  virtual const void* KeyOf(const vant::TObject* object) const { return object; }
  virtual int16_t Compare(const void* key1, const void* key2) const = 0;
  // Whether `key` is present; `index` is where it is or would go.
  virtual bool Search(const void* key, int32_t& index) const;

  void Put(int32_t index, vant::TObject* object) override;
  // Answers the object's index, or -1 when a dupIgnore list refused (and freed, when it owns
  // its objects) a duplicate.
  int32_t AddObject(vant::TObject* object) override;
  int32_t IndexOf(const vant::TObject* object) const override;
  // Ignores index: the object goes to its sorted place.
  void Insert(int32_t index, vant::TObject* object) override;
  void ReadData(TStream& stream) override;
  void WriteData(TStream& stream) const override;

 private:
  // -1 when refused.
  int32_t InsertSorted(vant::TObject* object);
  TDuplicates duplicates_;
};

// A stream over a fixed block of memory it does not own.
class TAbsMemStream : public TStream {
 public:
  TAbsMemStream(void* memory, int32_t size) : memory_(static_cast<char*>(memory)), size_(size) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;

 private:
  char* memory_;
  int32_t size_;
  int32_t pos_ = 0;
};
