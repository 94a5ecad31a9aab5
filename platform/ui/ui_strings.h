#pragma once
// TStrings: the framework's list of strings, used by list boxes, combo boxes and memos. Its
// OnChange lets the owning control mirror every change into its widget.
#include <functional>
#include <string>
#include <vector>

#include "ui_component.h"

namespace vant {

class TStrings : public TPersistent {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int i) const { return items_.at(i); }
  const std::string& operator[](int i) const { return items_.at(i); }
  void SetString(int i, const std::string& s);
  int Add(const std::string& s);
  void Insert(int i, const std::string& s);
  void Delete(int i);
  void Clear();
  int IndexOf(const std::string& s) const;
  // Lines joined with "\n" (each line ends with one); setting splits on "\r\n", "\n" or "\r".
  std::string GetText() const;
  void SetText(const std::string& t);
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> v);
  void BeginUpdate() { ++updating_; }
  void EndUpdate();
  void Assign(const TPersistent* source) override;
  std::string ClassName() const override { return "TStrings"; }
  std::function<void(TStrings*)> OnChange;

 private:
  void Changed();
  std::vector<std::string> items_;
  int updating_ = 0;
};

}  // namespace vant
