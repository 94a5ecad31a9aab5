#include "mmobsrv.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace vant;

// An observer that appends its name to a shared log when notified.
struct Named : TMMObserver {
  Named(std::string n, std::string& log) : name(std::move(n)) {
    OnNotify = [this, &log](TObject* sender, TObject* data) {
      EXPECT_EQ(sender, this);
      log += name;
      last_data = data;
    };
  }
  std::string name;
  TObject* last_data = nullptr;
};

// An observable with observers a, b and c added in that order.
class ThreeObservers : public ::testing::Test {
 protected:
  ThreeObservers() {
    for (Named* o : {&a, &b, &c}) subject.AddObserver(o);
  }
  std::string log;
  TMMObservable subject;
  Named a{"a", log}, b{"b", log}, c{"c", log};
};

TEST_F(ThreeObservers, NotifiedNewestFirstSkippingLockedOnes) {
  TObject data;
  subject.NotifyObservers(&data);
  EXPECT_EQ(log, "cba");
  EXPECT_EQ(a.last_data, &data);

  log.clear();
  b.Lock();
  EXPECT_TRUE(b.GetLocked());
  subject.NotifyObservers(nullptr);
  EXPECT_EQ(log, "ca");
  b.UnLock();

  log.clear();
  subject.Lock();
  subject.NotifyObservers(nullptr);
  EXPECT_EQ(log, "");
  EXPECT_EQ(subject.LockCount(), 1);
  subject.Unlock();
  subject.NotifyObservers(nullptr);
  EXPECT_EQ(log, "cba");
}

TEST(Observers, AnObserverBelongsToOneObservableAtATime) {
  std::string log;
  Named a("a", log);
  TMMObservable first, second;
  first.AddObserver(&a);
  second.AddObserver(&a);
  EXPECT_EQ(a.GetObservable(), &second);
  EXPECT_EQ(first.Count(), 0);
  first.RemoveObserver(&a);  // not attached there: nothing
  EXPECT_EQ(a.GetObservable(), &second);
  first.AddObserver(nullptr);
  first.NotifyObservers(nullptr);
  EXPECT_EQ(log, "");
  second.NotifyObservers(nullptr);
  EXPECT_EQ(log, "a");
}

TEST(Observers, EitherSideMayGoFirst) {
  std::string log;
  auto* subject = new TMMObservable;
  Named kept("k", log);
  {
    Named gone("g", log);
    subject->AddObserver(&kept);
    subject->AddObserver(&gone);
  }  // a destroyed observer detaches itself
  EXPECT_EQ(subject->Count(), 1);
  subject->NotifyObservers(nullptr);
  EXPECT_EQ(log, "k");
  delete subject;  // the observers survive, detached
  EXPECT_EQ(kept.GetObservable(), nullptr);
}

TEST_F(ThreeObservers, AnObserverMayLeaveWhileBeingNotified) {
  c.OnNotify = [&](TObject*, TObject*) {
    log += "c";
    subject.RemoveObserver(&c);
    subject.RemoveObserver(&b);
  };
  subject.NotifyObservers(nullptr);
  EXPECT_EQ(log, "ca");
}

}  // namespace
