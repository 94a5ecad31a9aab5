#include "ui_strings.h"

#include <algorithm>

namespace vant {

void TStrings::Changed() {
  if (updating_ == 0 && OnChange) OnChange(this);
}

void TStrings::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) Changed();
}

void TStrings::SetString(int i, const std::string& s) {
  items_.at(i) = s;
  Changed();
}

int TStrings::Add(const std::string& s) {
  items_.push_back(s);
  Changed();
  return Count() - 1;
}

void TStrings::Insert(int i, const std::string& s) {
  if (i < 0 || i > Count())
    throw EComponentError("List index out of bounds (" + std::to_string(i) + ")");
  items_.insert(items_.begin() + i, s);
  Changed();
}

void TStrings::Delete(int i) {
  if (i < 0 || i >= Count())
    throw EComponentError("List index out of bounds (" + std::to_string(i) + ")");
  items_.erase(items_.begin() + i);
  Changed();
}

void TStrings::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

int TStrings::IndexOf(const std::string& s) const {
  auto it = std::find(items_.begin(), items_.end(), s);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

std::string TStrings::GetText() const {
  std::string t;
  for (const auto& s : items_) t += s + "\n";
  return t;
}

void TStrings::SetText(const std::string& t) {
  std::vector<std::string> v;
  std::string cur;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (c == '\r' || c == '\n') {
      v.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) v.push_back(cur);
  SetItems(std::move(v));
}

void TStrings::SetItems(std::vector<std::string> v) {
  items_ = std::move(v);
  Changed();
}

void TStrings::Assign(const TPersistent* source) {
  auto* s = dynamic_cast<const TStrings*>(source);
  if (!s) return TPersistent::Assign(source);
  if (s != this) SetItems(s->items_);
}

}  // namespace vant
