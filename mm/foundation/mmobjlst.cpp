#include "mmobjlst.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>

#include "replacingfile.h"
#include "ui_clipboard.h"

namespace {

constexpr char kObjMagic[4] = {'O', 'B', 'J', '\0'};
constexpr size_t kMaxClassName = 63;

struct TClassEntry {
  TObjectLoadProc load;
  TObjectStoreProc store;
  TObjectFactory factory;
};

std::string Folded(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// Filled while units start up and read afterwards: no lock.
std::map<std::string, TClassEntry>& Registry() {
  static std::map<std::string, TClassEntry> registry;
  return registry;
}

const TClassEntry* FindClass(const std::string& name) {
  const auto it = Registry().find(Folded(name));
  return it == Registry().end() ? nullptr : &it->second;
}

[[noreturn]] void InvalidStream() { throw EStreamError("Invalid Object stream"); }

}  // namespace

// ---- registry and single objects ----

void DoRegisterClass(TObjectLoadProc load, TObjectStoreProc store, const std::string& name,
                     TObjectFactory factory) {
  Registry().try_emplace(Folded(name),
                         TClassEntry{std::move(load), std::move(store), std::move(factory)});
}

bool IsRegistered(const std::string& name) { return FindClass(name) != nullptr; }

void WriteObjectToStream(const vant::TObject* object, TStream& stream) {
  if (!object) throw EClassNotFound("Nil Source Class!");
  const std::string name = object->ClassName().substr(0, kMaxClassName);
  const TClassEntry* entry = FindClass(name);
  // A longer name is cut before the look-up, so it misses its own registration.
  if (!entry || name.size() != object->ClassName().size())
    throw EClassNotFound("Source Class <" + name + "> not registered");
  stream.WriteValue<uint8_t>(static_cast<uint8_t>(name.size()));
  stream.WriteBuffer(name.data(), static_cast<int32_t>(name.size()));
  entry->store(*object, stream);
}

vant::TObject* ReadObjectFromStream(TStream& stream) {
  const auto length = stream.ReadValue<uint8_t>();
  std::string name(length, '\0');
  stream.ReadBuffer(name.data(), length);
  const TClassEntry* entry = length <= kMaxClassName ? FindClass(name) : nullptr;
  if (!entry) throw EClassNotFound("Class <" + name + "> not registered");
  std::unique_ptr<vant::TObject> object(entry->factory());
  entry->load(*object, stream);
  return object.release();
}

vant::TObject* CopyOf(const vant::TObject* object) {
  if (!object) throw EClassNotFound("Nil Source Class!");
  TMemoryStream stream;
  WriteObjectToStream(object, stream);
  stream.SetPosition(0);
  return ReadObjectFromStream(stream);
}

uint32_t RegisterClipBoardType(const std::string& name) {
  return vant::RegisterClipboardFormat(name);
}

bool CopyObjectToClipboard(uint32_t format, const vant::TObject* object) {
  if (!object) throw EClassNotFound("Nil Source Class!");
  TMemoryStream stream;
  WriteObjectToStream(object, stream);
  vant::Clipboard().SetData(format, stream.Data());
  return true;
}

vant::TObject* PasteObjectFromClipboard(uint32_t format) {
  std::optional<std::string> bytes = vant::Clipboard().GetData(format);
  if (!bytes) return nullptr;
  TAbsMemStream stream(bytes->data(), static_cast<int32_t>(bytes->size()));
  return ReadObjectFromStream(stream);
}

// ---- TObjectList ----

TObjectList::TObjectList(bool owns, int32_t capacity) : owns_(owns) { SetCapacity(capacity); }

TObjectList::TObjectList(const std::filesystem::path& file) { LoadFromFile(file); }

TObjectList::~TObjectList() {
  OnChanging = nullptr;
  OnChange = nullptr;
  FreeAll();
}

void TObjectList::Error(int32_t index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void TObjectList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count()) Error(index);
}

void TObjectList::Grow() {
  SetCapacity(std::min(kMaxListSize, capacity_ + (capacity_ > 8 ? 16 : capacity_ > 4 ? 8 : 4)));
}

void TObjectList::SetCapacity(int32_t n) {
  if (n == capacity_) return;
  if (n < Count() || n > kMaxListSize) Error(n);
  std::vector<vant::TObject*> items;
  items.reserve(static_cast<size_t>(n));
  items.assign(items_.begin(), items_.end());
  items_.swap(items);
  capacity_ = n;
}

void TObjectList::SetCount(int32_t n) {
  if (n < 0 || n > kMaxListSize) Error(n);
  if (n > capacity_) SetCapacity(n);
  items_.resize(static_cast<size_t>(n), nullptr);
}

vant::TObject* TObjectList::Get(int32_t index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

void TObjectList::Put(int32_t index, vant::TObject* object) {
  CheckIndex(index);
  items_[static_cast<size_t>(index)] = object;
}

int32_t TObjectList::IndexOf(const vant::TObject* object) const {
  const auto it = std::find(items_.begin(), items_.end(), object);
  return it == items_.end() ? -1 : static_cast<int32_t>(it - items_.begin());
}

void TObjectList::RawInsert(int32_t index, vant::TObject* object) {
  if (Count() == capacity_) {
    if (capacity_ == kMaxListSize) Error(index);
    Grow();
  }
  items_.insert(items_.begin() + index, object);
}

void TObjectList::Insert(int32_t index, vant::TObject* object) {
  if (index < 0 || index > Count()) Error(index);
  Changing();
  RawInsert(index, object);
  Changed();
}

int32_t TObjectList::AddObject(vant::TObject* object) {
  const int32_t n = Count();
  TObjectList::Insert(n, object);
  return n;
}

void TObjectList::AddObjects(const TObjectList& list) {
  if (owns_ && list.owns_) throw EListError("Cannot share the objects of an owning list");
  const std::vector<vant::TObject*> objects = list.items_;
  BeginUpdate();
  try {
    for (vant::TObject* o : objects) AddObject(o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TObjectList::Delete(int32_t index) {
  CheckIndex(index);
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

int32_t TObjectList::Remove(const vant::TObject* object) {
  const int32_t i = IndexOf(object);
  if (i >= 0) Delete(i);
  return i;
}

void TObjectList::Clear() {
  // An empty list has nothing to announce, even while it keeps room for entries.
  if (items_.empty()) return;
  Changing();
  std::vector<vant::TObject*>().swap(items_);
  capacity_ = 0;
  Changed();
}

void TObjectList::FreeItem(vant::TObject* object) {
  if (owns_) delete object;
}

void TObjectList::FreeAt(int32_t index) {
  FreeItem(Get(index));
  Delete(index);
}

void TObjectList::FreeAll() {
  for (vant::TObject*& o : items_) {
    FreeItem(o);
    o = nullptr;
  }
  Clear();
}

void TObjectList::FreeObject(vant::TObject* object) {
  const int32_t i = IndexOf(object);
  if (i < 0)
    throw EListError("TObject " + (object ? object->ClassName() : std::string("nil")) +
                     " not in item list");
  FreeAt(i);
}

void TObjectList::Exchange(int32_t i, int32_t j) {
  CheckIndex(i);
  CheckIndex(j);
  Changing();
  std::swap(items_[static_cast<size_t>(i)], items_[static_cast<size_t>(j)]);
  Changed();
}

void TObjectList::Move(int32_t from, int32_t to) {
  if (from == to) return;
  CheckIndex(from);
  CheckIndex(to);
  vant::TObject* object = items_[static_cast<size_t>(from)];
  Delete(from);
  Insert(to, object);
}

void TObjectList::Pack() {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (!items_[static_cast<size_t>(i)]) Delete(i);
}

void TObjectList::ReadMagic(TStream& stream, const char (&magic)[4]) {
  char bytes[4];
  stream.ReadBuffer(bytes, 4);
  if (std::memcmp(bytes, magic, 4) != 0) InvalidStream();
}

void TObjectList::FreeObjects(std::vector<vant::TObject*>& objects) {
  for (vant::TObject* o : objects) delete o;
  objects.clear();
}

void TObjectList::ReadObjects(TStream& stream, int32_t count, std::vector<vant::TObject*>& out) {
  // Every stored object takes at least its length byte: a count beyond the bytes left is a lie.
  if (count < 0 || count > stream.Remaining()) InvalidStream();
  out.reserve(static_cast<size_t>(count));
  try {
    for (int32_t i = 0; i < count; ++i) out.push_back(ReadObjectFromStream(stream));
  } catch (const EClassNotFound& e) {
    FreeObjects(out);
    throw EStreamError(e.what());
  } catch (...) {
    FreeObjects(out);
    throw;
  }
}

void TObjectList::TakeObjects(std::vector<vant::TObject*>& objects, bool owns) {
  // The old contents stay aside until every object went in, so a refusal restores them; they
  // are freed by the ownership they had, whatever the new one is.
  std::vector<vant::TObject*> old;
  old.swap(items_);
  const int32_t old_capacity = capacity_;
  const bool old_owns = owns_;
  owns_ = owns;
  capacity_ = 0;
  BeginUpdate();
  size_t taken = 0;
  try {
    SetCapacity(static_cast<int32_t>(std::min<size_t>(objects.size(), kMaxListSize)));
    for (; taken < objects.size(); ++taken) {
      vant::TObject* o = objects[taken];
      // A refused duplicate was freed by an owning list; otherwise nobody holds it.
      if (AddObject(o) < 0 && !owns_) delete o;
    }
  } catch (...) {
    for (vant::TObject* o : items_) delete o;
    for (size_t i = taken; i < objects.size(); ++i) delete objects[i];
    objects.clear();
    items_.swap(old);
    capacity_ = old_capacity;
    owns_ = old_owns;
    EndUpdate();
    throw;
  }
  objects.clear();
  if (old_owns)
    for (vant::TObject* o : old) delete o;
  EndUpdate();
}

void TObjectList::ReadData(TStream& stream) {
  ReadMagic(stream, kObjMagic);
  const bool owns = stream.ReadValue<uint8_t>() != 0;
  const int32_t count = stream.ReadValue<int16_t>();
  std::vector<vant::TObject*> objects;
  ReadObjects(stream, count, objects);
  TakeObjects(objects, owns);
}

void TObjectList::WriteData(TStream& stream) const {
  stream.WriteBuffer(kObjMagic, 4);
  stream.WriteValue<uint8_t>(owns_ ? 1 : 0);
  stream.WriteValue<int16_t>(static_cast<int16_t>(Count()));
  for (int32_t i = 0; i < Count(); ++i) WriteObjectToStream(Get(i), stream);
}

void TObjectList::SaveToFile(const std::filesystem::path& file) const {
  // The whole stream first: an object that cannot be written (an unregistered class) raises
  // before the file is touched. The file is then replaced whole or not at all.
  TMemoryStream stream;
  WriteData(stream);
  vant::ReplacingFile out(file);
  if (!out.IsOpen()) throw EFOpenError("Cannot create file " + file.string());
  if (!out.Write(stream.Data().data(), stream.Data().size()) || !out.Commit())
    throw EWriteError("Stream write error");
}

void TObjectList::LoadFromFile(const std::filesystem::path& file) {
  try {
    TFileStream stream(file, TFileStream::fmOpenRead);
    ReadData(stream);
  } catch (const std::exception&) {
    throw EStreamError("Unable to load Object stream");
  }
}

std::string TObjectList::WriteObjectContainer() const {
  TMemoryStream stream;
  WriteData(stream);
  return stream.Data();
}

void TObjectList::ReadObjectContainer(const std::string& bytes) {
  TMemoryStream stream(bytes);
  ReadData(stream);
}

// ---- TSortedObjectList ----

bool TSortedObjectList::Search(const void* key, int32_t& index) const {
  int32_t lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int32_t mid = static_cast<int32_t>(static_cast<uint32_t>(lo + hi) >> 1);
    const int16_t c = Compare(KeyOf(Get(mid)), key);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TSortedObjectList::Put(int32_t, vant::TObject*) {
  throw EListError("Cannot <Put> an Object in a sorted list!");
}

int32_t TSortedObjectList::InsertSorted(vant::TObject* object) {
  int32_t index = 0;
  if (Search(KeyOf(object), index)) {
    if (duplicates_ == dupIgnore) {
      FreeItem(object);
      return -1;
    }
    if (duplicates_ == dupError) throw EListError("Duplicate Object index");
  }
  TObjectList::Insert(index, object);
  return index;
}

int32_t TSortedObjectList::AddObject(vant::TObject* object) { return InsertSorted(object); }

void TSortedObjectList::Insert(int32_t, vant::TObject* object) { InsertSorted(object); }

int32_t TSortedObjectList::IndexOf(const vant::TObject* object) const {
  int32_t index = 0;
  return Search(KeyOf(object), index) ? index : -1;
}

void TSortedObjectList::ReadData(TStream& stream) {
  ReadMagic(stream, kObjMagic);
  const auto duplicates = stream.ReadValue<uint8_t>();
  if (duplicates > dupError) InvalidStream();
  const bool owns = stream.ReadValue<uint8_t>() != 0;
  const int32_t count = stream.ReadValue<int16_t>();
  std::vector<vant::TObject*> objects;
  ReadObjects(stream, count, objects);
  const TDuplicates old_duplicates = duplicates_;
  duplicates_ = static_cast<TDuplicates>(duplicates);
  try {
    TakeObjects(objects, owns);
  } catch (...) {
    duplicates_ = old_duplicates;
    throw;
  }
}

void TSortedObjectList::WriteData(TStream& stream) const {
  stream.WriteBuffer(kObjMagic, 4);
  stream.WriteValue<uint8_t>(duplicates_);
  stream.WriteValue<uint8_t>(GetOwnsObjects() ? 1 : 0);
  stream.WriteValue<int16_t>(static_cast<int16_t>(Count()));
  for (int32_t i = 0; i < Count(); ++i) WriteObjectToStream(Get(i), stream);
}

// ---- TAbsMemStream ----

int32_t TAbsMemStream::Read(void* buffer, int32_t count) {
  if (pos_ < 0 || count < 0) return 0;
  if (int64_t{pos_} + count > size_) throw EStreamError("MemStream reading behond limits");
  std::memcpy(buffer, memory_ + pos_, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int32_t TAbsMemStream::Write(const void* buffer, int32_t count) {
  if (pos_ < 0 || count < 0) return 0;
  if (int64_t{pos_} + count > size_) throw EStreamError("MemStream writing behond limits");
  std::memcpy(memory_ + pos_, buffer, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TAbsMemStream::Seek(int64_t offset, int origin) {
  const int64_t base = origin == soFromCurrent ? pos_ : origin == soFromEnd ? size_ : 0;
  const int64_t pos = base + offset;
  if (pos < 0 || pos > size_) throw EStreamError("MemStream seeking behond limits");
  pos_ = static_cast<int32_t>(pos);
  return pos_;
}
