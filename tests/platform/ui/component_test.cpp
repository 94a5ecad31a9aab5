#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui_component.h"

namespace vant {
namespace {

// Records its own destruction so tests can check the order owners free components in.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string n, std::vector<std::string>* log)
      : TComponent(owner), log_(log) {
    SetName(n);
  }
  ~Probe() override { log_->push_back(GetName()); }
  std::vector<std::pair<std::string, TOperation>> seen;

 protected:
  void Notification(TComponent* c, TOperation op) override { seen.emplace_back(c->GetName(), op); }

 private:
  std::vector<std::string>* log_;
};

TEST(Component, OwnerFreesOwnedInReverseOrderOfCreation) {
  std::vector<std::string> log;
  auto* root = new Probe(nullptr, "root", &log);
  new Probe(root, "a", &log);
  auto* b = new Probe(root, "b", &log);
  new Probe(b, "b1", &log);
  new Probe(root, "c", &log);
  delete root;
  // A destructor body runs before the owned components go: siblings go last created first.
  EXPECT_EQ(log, (std::vector<std::string>{"root", "c", "b", "b1", "a"}));
}

TEST(Component, FreedComponentLeavesItsOwnerAndNotifiesWatchers) {
  std::vector<std::string> log;
  Probe root(nullptr, "root", &log);
  Probe watcher(nullptr, "watcher", &log);
  auto* a = new Probe(&root, "a", &log);
  a->FreeNotification(&watcher);
  EXPECT_EQ(root.ComponentCount(), 1);
  delete a;
  EXPECT_EQ(root.ComponentCount(), 0);
  ASSERT_FALSE(watcher.seen.empty());
  EXPECT_EQ(watcher.seen.back(), std::make_pair(std::string("a"), opRemove));
}

TEST(Component, NamesAreUniqueAmongSiblingsWithoutRegardToCase) {
  std::vector<std::string> log;
  Probe root(nullptr, "root", &log);
  auto* a = new Probe(&root, "Panel1", &log);
  EXPECT_EQ(root.FindComponent("PANEL1"), a);
  auto* b = new Probe(&root, "", &log);
  EXPECT_THROW(b->SetName("panel1"), EComponentError);
  EXPECT_NO_THROW(b->SetName("Panel2"));
}

TEST(Component, LoadingAndDesigningReachOwnedComponents) {
  std::vector<std::string> log;
  Probe root(nullptr, "root", &log);
  auto* a = new Probe(&root, "a", &log);
  root.SetLoading(true);
  EXPECT_TRUE(a->HasState(csLoading));
  a->Loaded();
  EXPECT_FALSE(a->HasState(csLoading));
  EXPECT_TRUE(root.HasState(csLoading));
  root.SetDesigning(true);
  EXPECT_TRUE(a->HasState(csDesigning));
  root.SetDesigning(false, false);
  EXPECT_TRUE(a->HasState(csDesigning));
  EXPECT_FALSE(root.HasState(csDesigning));
}

}  // namespace
}  // namespace vant
