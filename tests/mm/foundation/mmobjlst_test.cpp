#include "mmobjlst.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "faultylayer.h"
#include "powercut.h"
#include "scratchfolder.h"

namespace {

// A stored class of the test: one int32, and a count of live instances to catch leaks and
// double frees.
struct Item : vant::TPersistent {
  static inline int live = 0;
  int32_t key = 0;
  Item() { ++live; }
  explicit Item(int32_t k) : key(k) { ++live; }
  ~Item() override { --live; }
  std::string ClassName() const override { return "TTestItem"; }
  void Load(TStream& s) { key = s.ReadValue<int32_t>(); }
  void Store(TStream& s) const { s.WriteValue<int32_t>(key); }
};

struct LongNamed : Item {
  std::string ClassName() const override { return std::string(70, 'L'); }
};

class SortedItems : public TSortedObjectList {
 public:
  using TSortedObjectList::TSortedObjectList;
  const void* KeyOf(const vant::TObject* o) const override {
    return &static_cast<const Item*>(o)->key;
  }
  int16_t Compare(const void* a, const void* b) const override {
    const int32_t x = *static_cast<const int32_t*>(a), y = *static_cast<const int32_t*>(b);
    return static_cast<int16_t>((x > y) - (x < y));
  }
};

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const bool registered = [] {
  DoRegisterClass<Item>();
  DoRegisterClass<LongNamed>();
  return true;
}();

int32_t KeyAt(const TObjectList& l, int32_t i) { return static_cast<Item*>(l.Get(i))->key; }

class ObjectListTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(Item::live, 0) << "objects leaked or freed twice"; }
};

TEST_F(ObjectListTest, WritesTheObjStreamByteForByte) {
  TObjectList list;
  for (int32_t k : {1, 2, 0x01020304}) list.AddObject(new Item(k));
  TMemoryStream s;
  list.WriteData(s);
  const std::string item = std::string("\x09TTestItem", 10);
  const std::string expected = std::string("OBJ\0\x01\x03\x00", 7) + item +
                               std::string("\1\0\0\0", 4) + item + std::string("\2\0\0\0", 4) +
                               item + "\x04\x03\x02\x01";
  EXPECT_EQ(s.Data(), expected);
}

TEST_F(ObjectListTest, ReadsAHandWrittenStreamAndTakesItsOwnership) {
  // Case of the class name differs from the registration: the look-up ignores it.
  const std::string bytes = std::string("OBJ\0\x00\x02\x00", 7) + "\x09TTESTITEM" +
                            std::string("\x07\0\0\0", 4) + "\x09ttestitem" +
                            std::string("\xff\xff\xff\xff", 4);
  TObjectList list;
  list.AddObject(new Item(99));  // freed by the owning list it belonged to, not leaked
  list.ReadObjectContainer(bytes);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(KeyAt(list, 0), 7);
  EXPECT_EQ(KeyAt(list, 1), -1);
  EXPECT_FALSE(list.GetOwnsObjects());
  list.SetOwnsObjects(true);  // the test frees them through the list
}

TEST_F(ObjectListTest, RoundTripsThroughAFile) {
  const auto path = std::filesystem::temp_directory_path() / "vant-objlst-test.obj";
  {
    TObjectList list;
    for (int32_t k : {5, 6, 7}) list.AddObject(new Item(k));
    list.SaveToFile(path);
  }
  TObjectList back(path);
  ASSERT_EQ(back.Count(), 3);
  EXPECT_EQ(KeyAt(back, 2), 7);
  std::filesystem::remove(path);
  EXPECT_THROW(TObjectList{path}, EStreamError);  // "Unable to load Object stream"
}

// A power cut at any point of a save over an earlier list and to a new name: the old list or
// the new one is there, whole, and the new one once the save has returned.
TEST_F(ObjectListTest, PowerCutAtAnyPointOfASave) {
  for (bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "over a list" : "new");
    vant::testing::ScratchFolder dir("vant-cut");
    const auto path = dir.path() / "list.obj";
    std::optional<vant::testing::DiskBytes> before;
    if (existing) {
      TObjectList old;
      old.AddObject(new Item(1));
      old.SaveToFile(path);
      std::ifstream in(path, std::ios::binary);
      before = vant::testing::DiskBytes(std::istreambuf_iterator<char>(in), {});
    }
    vant::testing::PowerCutRecorder recorder(dir.path());
    {
      TObjectList list;
      for (int32_t k : {5, 6, 7}) list.AddObject(new Item(k));
      list.SaveToFile(path);
    }
    std::ifstream in(path, std::ios::binary);
    const vant::testing::DiskBytes after(std::istreambuf_iterator<char>(in), {});
    const auto faults = vant::testing::Prove(recorder, vant::testing::TargetNames(path),
                                             vant::testing::ReplacedWhole(path, before, after));
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
  }
}

// A save that fails, before or while writing, leaves the file that was there as it was (and no
// stray file beside it); one that succeeds keeps the file's mode.
TEST_F(ObjectListTest, AFailedSaveLeavesTheOldFile) {
  using Fault = vant::testing::FaultyLayer;
  struct Case {
    const char* what;
    std::function<vant::TObject*()> object;  // added to the list (owned by it)
    Fault::Op fails;
  };
  const Case cases[] = {
      {"an object of an unregistered class", [] { return new TObjectList; }, Fault::kNone},
      {"a nil object", [] { return nullptr; }, Fault::kNone},
      {"the disk is full", [] { return new Item(2); }, Fault::kWrite},
      {"the new file cannot be synced", [] { return new Item(2); }, Fault::kFsync},
      {"the new file cannot be moved in", [] { return new Item(2); }, Fault::kRename},
      {"no new file can be made", [] { return new Item(2); }, Fault::kCreateTemp},
  };
  vant::testing::ScratchFolder dir("objlst");
  const auto path = dir.path() / "list.obj";
  {
    TObjectList old;
    for (int32_t k : {1, 2}) old.AddObject(new Item(k));
    old.SaveToFile(path);
  }
  ::chmod(path.c_str(), 0640);
  const std::string before = ReadFile(path);
  ASSERT_EQ(before.size(), 7u + 2 * 14);
  for (const Case& c : cases) {
    TObjectList list;
    list.AddObject(new Item(1));
    list.AddObject(c.object());
    Fault layer(c.fails);
    EXPECT_THROW(list.SaveToFile(path), vant::Exception) << c.what;
    EXPECT_EQ(ReadFile(path), before) << c.what;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.what;
  }
  TObjectList three;
  for (int32_t k : {1, 2, 3}) three.AddObject(new Item(k));
  three.SaveToFile(path);
  EXPECT_EQ(ReadFile(path).size(), 7u + 3 * 14);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ObjectListTest, BadStreamsRaiseAndLeaveTheListAsItWas) {
  const std::string item = std::string("\x09TTestItem\x01\0\0\0", 14);
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"magic", std::string("OBX\0\x01\x01\x00", 7) + item},
      {"negative count", std::string("OBJ\0\x01\xff\xff", 7)},
      {"count beyond the data", std::string("OBJ\0\x01\x10\x00", 7) + item},
      {"truncated record", std::string("OBJ\0\x01\x02\x00", 7) + item + item.substr(0, 12)},
      {"truncated header", std::string("OBJ\0\x01", 5)},
      {"unknown class",
       std::string("OBJ\0\x01\x01\x00", 7) + "\x05TNone" + std::string("\0\0\0\0", 4)},
      {"name longer than 63", std::string("OBJ\0\x01\x01\x00", 7) + "\x46" + std::string(70, 'L')},
  };
  for (const auto& c : cases) {
    TObjectList list;
    list.AddObject(new Item(42));
    EXPECT_THROW(list.ReadObjectContainer(c.bytes), EStreamError) << c.what;
    ASSERT_EQ(list.Count(), 1) << c.what;
    EXPECT_EQ(KeyAt(list, 0), 42) << c.what;
    EXPECT_TRUE(list.GetOwnsObjects()) << c.what;
  }
}

TEST_F(ObjectListTest, WritingRefusesNilUnregisteredAndOverlongClasses) {
  TMemoryStream s;
  EXPECT_THROW(WriteObjectToStream(nullptr, s), EClassNotFound);
  LongNamed longer;  // registered under its full 70 characters; the look-up uses 63
  try {
    WriteObjectToStream(&longer, s);
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(std::string(e.what()), "Source Class <" + std::string(63, 'L') + "> not registered");
  }
  TObjectList plain;
  EXPECT_THROW(WriteObjectToStream(&plain, s), EClassNotFound);
  EXPECT_EQ(s.Data().size(), 0u);
  EXPECT_THROW(CopyOf(nullptr), EClassNotFound);
  Item original(9);
  std::unique_ptr<vant::TObject> copy(CopyOf(&original));
  EXPECT_EQ(static_cast<Item*>(copy.get())->key, 9);
}

TEST_F(ObjectListTest, NotifiesChangesButNotAnEmptyClear) {
  TObjectList list;
  int changes = 0;
  list.OnChange = [&](vant::TObject*) { ++changes; };
  list.Clear();
  EXPECT_EQ(changes, 0);
  auto* a = new Item(1);
  auto* b = new Item(2);
  list.AddObject(a);
  list.AddObject(b);
  list.Exchange(0, 1);
  list.Move(0, 1);  // a delete and an insert
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(list.Get(1), b);
  list.FreeObject(b);
  Item outsider(3);
  EXPECT_THROW(list.FreeObject(&outsider), EListError);
  EXPECT_THROW(list.Get(1), EListError);
  EXPECT_THROW(list.Insert(3, nullptr), EListError);
  list.SetCount(3);  // nil entries, packed away
  list.Pack();
  EXPECT_EQ(list.Count(), 1);
}

// An empty list has nothing to clear, whatever room it keeps: no notification either way.
TEST_F(ObjectListTest, ClearOfAnEmptyListIsSilentWhateverItsRoom) {
  struct Case {
    const char* what;
    std::function<void(TObjectList&)> empty;
  };
  const Case cases[] = {
      {"new, without room", [](TObjectList&) {}},
      {"made with room", [](TObjectList& l) { l.SetCapacity(8); }},
      {"after freeing its last item",
       [](TObjectList& l) {
         l.AddObject(new Item(1));
         l.FreeAt(0);
       }},
      {"after taking its last item out",
       [](TObjectList& l) {
         Item kept(2);
         l.AddObject(&kept);
         l.Remove(&kept);
       }},
  };
  for (const Case& c : cases) {
    TObjectList list;
    c.empty(list);
    ASSERT_EQ(list.Count(), 0) << c.what;
    int changing = 0, changes = 0;
    list.OnChanging = [&](vant::TObject*) { ++changing; };
    list.OnChange = [&](vant::TObject*) { ++changes; };
    list.Clear();
    list.DeleteAll();
    list.FreeAll();
    EXPECT_EQ(changing, 0) << c.what;
    EXPECT_EQ(changes, 0) << c.what;
  }
}

TEST_F(ObjectListTest, AddObjectsRefusesToShareOwnedObjects) {
  TObjectList owner, other, borrower(false, 0);
  owner.AddObject(new Item(1));
  EXPECT_THROW(other.AddObjects(owner), EListError);
  EXPECT_EQ(other.Count(), 0);
  borrower.AddObjects(owner);
  EXPECT_EQ(borrower.Get(0), owner.Get(0));
}

TEST_F(ObjectListTest, SortedListPoliciesForDuplicates) {
  {
    SortedItems ignore(dupIgnore);
    for (int32_t k : {9, 5, 7}) ignore.AddObject(new Item(k));
    EXPECT_EQ(ignore.AddObject(new Item(5)), -1);  // refused and freed by the owning list
    ASSERT_EQ(ignore.Count(), 3);
    EXPECT_EQ(KeyAt(ignore, 0), 5);
    EXPECT_EQ(KeyAt(ignore, 2), 9);
    EXPECT_THROW(ignore.Put(0, nullptr), EListError);
  }
  {
    SortedItems accept(dupAccept);
    auto* first = new Item(5);
    auto* second = new Item(5);
    accept.AddObject(first);
    EXPECT_EQ(accept.AddObject(second), 0);
    EXPECT_EQ(accept.Get(0), second);  // a new equal entry goes before the existing ones
  }
  {
    SortedItems error(dupError);
    error.AddObject(new Item(5));
    Item dup(5);
    EXPECT_THROW(error.AddObject(&dup), EListError);
  }
}

TEST_F(ObjectListTest, SortedStreamKeepsPolicyAndResorts) {
  const std::string item = "\x09TTestItem";
  const std::string bytes = std::string("OBJ\0\x00\x01\x03\x00", 8) + item +
                            std::string("\3\0\0\0", 4) + item + std::string("\1\0\0\0", 4) + item +
                            std::string("\3\0\0\0", 4);
  SortedItems list(dupAccept);
  list.ReadObjectContainer(bytes);
  EXPECT_EQ(list.GetDuplicates(), dupIgnore);  // the stream's policy: the second 3 is dropped
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(KeyAt(list, 0), 1);
  TMemoryStream out;
  list.WriteData(out);
  EXPECT_EQ(out.Data().substr(0, 8), std::string("OBJ\0\x00\x01\x02\x00", 8));
  // A policy byte beyond dupError is refused.
  std::string bad = bytes;
  bad[4] = 3;
  EXPECT_THROW(list.ReadObjectContainer(bad), EStreamError);
  EXPECT_EQ(list.Count(), 2);
}

TEST_F(ObjectListTest, AbsMemStreamStaysInsideItsBlock) {
  char block[4] = {1, 2, 3, 4};
  TAbsMemStream s(block, 4);
  char out[8];
  EXPECT_EQ(s.Read(out, -1), 0);
  EXPECT_EQ(s.Read(out, 3), 3);
  EXPECT_THROW(s.Read(out, 2), EStreamError);
  EXPECT_THROW(s.Seek(1, soFromEnd), EStreamError);
  EXPECT_EQ(s.Seek(-4, soFromEnd), 0);
  EXPECT_THROW(s.Write(out, 5), EStreamError);
  EXPECT_EQ(s.Write("zz", 2), 2);
  EXPECT_EQ(block[1], 'z');
}

}  // namespace
