#pragma once
// Observers: a TMMObservable keeps a list of TMMObserver objects and notifies them, the newest
// first. The audio engine's wave object and the envelope editor own observables. GUI thread only.
#include <cstdint>
#include <functional>
#include <vector>

#include "ui_component.h"

namespace vant {

class TMMObservable;

using TMMObsNotifyEvent = std::function<void(TObject* Sender, TObject* Data)>;

class TMMObserver : public TObject {
 public:
  TMMObserver() = default;
  // Detaches from its observable.
  ~TMMObserver() override;
  TMMObserver(const TMMObserver&) = delete;
  TMMObserver& operator=(const TMMObserver&) = delete;
  std::string ClassName() const override { return "TMMObserver"; }

  // Fires OnNotify(this, Data) unless the observer is locked.
  virtual void Notify(TObject* Data);
  void Lock() { ++lock_count_; }
  void UnLock() { --lock_count_; }
  bool GetLocked() const { return lock_count_ != 0; }
  TMMObservable* GetObservable() const { return observable_; }

  TMMObsNotifyEvent OnNotify;

 protected:
  void DoNotify(TObject* Data);

 private:
  friend class TMMObservable;
  TMMObservable* observable_ = nullptr;
  int32_t lock_count_ = 0;
};

class TMMObservable : public TObject {
 public:
  TMMObservable() = default;
  // Detaches every observer, the last added first; the observers live on.
  ~TMMObservable() override;
  TMMObservable(const TMMObservable&) = delete;
  TMMObservable& operator=(const TMMObservable&) = delete;
  std::string ClassName() const override { return "TMMObservable"; }

  // Moves `observer` here from the observable it is attached to (nothing for nullptr).
  void AddObserver(TMMObserver* observer);
  // Only an observer attached here is removed.
  void RemoveObserver(TMMObserver* observer);
  // Unless locked, calls Notify(Data) of every observer, the last added first.
  void NotifyObservers(TObject* Data);
  void Lock() { ++lock_count_; }
  void Unlock() { --lock_count_; }
  int32_t LockCount() const { return lock_count_; }
  int Count() const { return static_cast<int>(observers_.size()); }

 private:
  std::vector<TMMObserver*> observers_;
  int32_t lock_count_ = 0;
};

}  // namespace vant
