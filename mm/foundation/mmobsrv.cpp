#include "mmobsrv.h"

#include <algorithm>

namespace vant {

TMMObserver::~TMMObserver() {
  if (observable_) observable_->RemoveObserver(this);
}

void TMMObserver::Notify(TObject* Data) {
  if (lock_count_ == 0) DoNotify(Data);
}

void TMMObserver::DoNotify(TObject* Data) {
  if (OnNotify) OnNotify(this, Data);
}

TMMObservable::~TMMObservable() {
  while (!observers_.empty()) RemoveObserver(observers_.back());
}

void TMMObservable::AddObserver(TMMObserver* observer) {
  if (!observer) return;
  if (observer->observable_) observer->observable_->RemoveObserver(observer);
  observers_.push_back(observer);
  observer->observable_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* observer) {
  if (!observer || observer->observable_ != this) return;
  std::erase(observers_, observer);
  observer->observable_ = nullptr;
}

void TMMObservable::NotifyObservers(TObject* Data) {
  if (lock_count_ != 0) return;
  // An observer may remove itself or others while being notified: re-check the bound each step.
  for (size_t i = observers_.size(); i-- > 0;) {
    if (i < observers_.size()) observers_[i]->Notify(Data);
  }
}

}  // namespace vant
