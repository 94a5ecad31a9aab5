#include "mmdesign.h"

#include <algorithm>

#include "ui_control.h"
#include "ui_form.h"

using namespace vant;

std::vector<std::unique_ptr<TPropRec>>& PropList() {
  static std::vector<std::unique_ptr<TPropRec>> list;
  return list;
}

std::vector<std::unique_ptr<TPropRec>>& ExcPropList() {
  static std::vector<std::unique_ptr<TPropRec>> list;
  return list;
}

TMMDesigner::TMMDesigner(TComponent* owner) : TMMNonVisualComponent(owner) {
  // A form, or a data module that a form owns.
  root_ = owner;
  if (auto* form = dynamic_cast<TForm*>(owner)) {
    form_ = form;
  } else if (dynamic_cast<TDataModule*>(owner) && owner->GetOwner()) {
    form_ = dynamic_cast<TForm*>(owner->GetOwner());
  }
  if (!form_) {
    root_ = nullptr;
    active_ = false;
  }
}

void TMMDesigner::SetUpdate(bool v) {
  if (!v) return;
  SetActive(false);
  SetActive(true);
}

void TMMDesigner::SetShowButton(bool v) {
  if (v == show_button_) return;
  show_button_ = v;
  if (form_) form_->Invalidate();
}

void TMMDesigner::Loaded() {
  TMMNonVisualComponent::Loaded();
  if (form_ && !HasState(csDesigning) && runtime_height_ > 0)
    form_->SetClientHeight(runtime_height_);
}

// ---- rules -------------------------------------------------------------------------------------

bool TMMDesigner::Allowed(int index) const {
  const auto& list = PropList();
  return index >= 0 && index < int(list.size()) && !HiddenGroups.count(list[index]->group);
}

bool TMMDesigner::HasException(const TPropRec& rule, TComponent* out, TComponent* in) const {
  for (const auto& e : ExcPropList()) {
    if (e->type != rule.type || e->prop_name != rule.prop_name) continue;
    if (e->out_class && (!out || !e->out_class(out))) continue;
    if (e->in_class && (!in || !e->in_class(in))) continue;
    if (e->check && !e->check(out, in)) continue;
    return true;
  }
  return false;
}

bool TMMDesigner::Matches(const TPropRec& rule, TComponent* out, TComponent* in) const {
  if (out && !(rule.out_class && rule.out_class(out))) return false;
  if (in && !(rule.in_class && rule.in_class(in))) return false;
  TComponent* holder = rule.Holder(out, in);
  if (holder && !(rule.link.get && rule.link.get(holder))) return false;
  return !HasException(rule, out, in);
}

int TMMDesigner::FindProp(TPropType type, TComponent* out, int start, TComponent* in) const {
  const auto& list = PropList();
  for (int i = std::max(start + 1, 0); i < int(list.size()); ++i) {
    if (list[i]->type == type && Allowed(i) && Matches(*list[i], out, in)) return i;
  }
  return -1;
}

int TMMDesigner::FindConnectProp(TComponent* out, TComponent* in) const {
  // Without one end there is no property to look at, on the other end or on it.
  if (out == nullptr || in == nullptr) return -1;
  int first = -1;
  for (TPropType type : {ptOutput, ptInput}) {
    for (int i = FindProp(type, out, -1, in); i >= 0; i = FindProp(type, out, i, in)) {
      const TPropRec& rule = *PropList()[i];
      if (rule.check && !rule.check(out, in)) continue;
      // A property still free wins over one that would be taken away from another component.
      if (*rule.link.get(rule.Holder(out, in)) == nullptr) return i;
      if (first < 0) first = i;
    }
  }
  return first;
}

bool TMMDesigner::Connect(TComponent* out, TComponent* in) {
  const int i = FindConnectProp(out, in);
  if (i < 0) return false;
  const TPropRec& rule = *PropList()[i];
  rule.link.set(rule.Holder(out, in), rule.type == ptOutput ? in : out);
  return true;
}

int TMMDesigner::FindRef(TComponent* out, TComponent* in) const {
  if (out == nullptr || in == nullptr) return -1;
  const auto& list = PropList();
  for (int i = 0; i < int(list.size()); ++i) {
    const TPropRec& rule = *list[i];
    if (!rule.link.get || !rule.out_class || !rule.in_class || !rule.out_class(out) ||
        !rule.in_class(in))
      continue;
    const auto value = rule.link.get(rule.Holder(out, in));
    if (value && *value == (rule.type == ptOutput ? in : out)) return i;
  }
  return -1;
}

void TMMDesigner::FindRefs(TComponent* c,
                           std::vector<std::pair<TComponent*, TComponent*>>& list) const {
  list.clear();
  if (c == nullptr || c->GetOwner() == nullptr) return;
  TComponent* owner = c->GetOwner();
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TComponent* other = owner->Component(i);
    if (other == c) continue;
    if (FindRef(c, other) >= 0) list.emplace_back(c, other);
    if (FindRef(other, c) >= 0) list.emplace_back(other, c);
  }
}

bool TMMDesigner::RemoveRef(TComponent* out, TComponent* in) {
  const int i = FindRef(out, in);
  if (i < 0) return false;
  const TPropRec& rule = *PropList()[i];
  rule.link.set(rule.Holder(out, in), nullptr);
  return true;
}

int TMMDesigner::RemoveRefs(TComponent* c) {
  std::vector<std::pair<TComponent*, TComponent*>> joins;
  FindRefs(c, joins);
  int removed = 0;
  // A pair may be joined through several rules (both ends' properties): each goes, once.
  const int rules = int(PropList().size());
  for (const auto& [out, in] : joins)
    for (int n = 0; n < rules && RemoveRef(out, in); ++n) ++removed;
  return removed;
}

std::vector<TComponent*> TMMDesigner::Components() const {
  std::vector<TComponent*> list;
  if (root_) {
    for (int i = 0; i < root_->ComponentCount(); ++i) list.push_back(root_->Component(i));
  }
  return list;
}

void TMMDesigner::GetConnected(TComponent* c, std::vector<TComponent*>& list) const {
  list.clear();
  if (!c || !c->GetOwner()) return;
  auto add = [&](TComponent* x) {
    if (x && x != c && std::find(list.begin(), list.end(), x) == list.end()) list.push_back(x);
  };
  TComponent* owner = c->GetOwner();
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TComponent* other = owner->Component(i);
    if (other == c) continue;
    for (const auto& rule : PropList()) {
      // c's own output-side property refers to other, or other's input-side property to c.
      if (rule->type == ptOutput && rule->out_class && rule->out_class(c) && rule->link.get) {
        if (auto v = rule->link.get(c); v && *v == other) add(other);
      }
      if (rule->type == ptInput && rule->in_class && rule->in_class(other) && rule->link.get) {
        if (auto v = rule->link.get(other); v && *v == c) add(other);
      }
    }
  }
}

bool TMMDesigner::RemoveSide(TComponent* c, TPropType side) {
  // c's own property of that side, when it holds a reference.
  for (const auto& rule : PropList()) {
    if (rule->type != side || !rule->link.get) continue;
    const TClassTest& own = side == ptOutput ? rule->out_class : rule->in_class;
    if (!own || !own(c)) continue;
    if (auto v = rule->link.get(c); v && *v) {
      rule->link.set(c, nullptr);
      return true;
    }
  }
  // Else the first property of another component that refers to c.
  const TPropType other_side = side == ptInput ? ptOutput : ptInput;
  for (TComponent* other : Components()) {
    if (other == c) continue;
    for (const auto& rule : PropList()) {
      if (rule->type != other_side || !rule->link.get) continue;
      const TClassTest& own = other_side == ptOutput ? rule->out_class : rule->in_class;
      if (!own || !own(other)) continue;
      if (auto v = rule->link.get(other); v && *v == c) {
        rule->link.set(other, nullptr);
        return true;
      }
    }
  }
  return false;
}

void TMMDesigner::RebuildLists() {
  inputs_.clear();
  outputs_.clear();
  connections_.clear();
  const auto all = Components();
  const auto& list = PropList();
  for (TComponent* x : all) {
    for (int i = 0; i < int(list.size()); ++i) {
      const TPropRec& rule = *list[i];
      if (!Allowed(i) || !rule.link.get) continue;
      const bool x_is_out = rule.type == ptOutput;
      const TClassTest& own = x_is_out ? rule.out_class : rule.in_class;
      const TClassTest& far = x_is_out ? rule.in_class : rule.out_class;
      if (!own || !own(x) || !far) continue;
      const auto value = rule.link.get(x);
      if (!value) continue;
      for (TComponent* y : all) {
        if (y == x || !far(y)) continue;
        TComponent* out = x_is_out ? x : y;
        TComponent* in = x_is_out ? y : x;
        if (HasException(rule, out, in) || (rule.check && !rule.check(out, in))) continue;
        outputs_.insert(out);
        inputs_.insert(in);
        if (*value == y) connections_.emplace_back(out, in);
      }
    }
  }
}

bool TMMDesigner::HasInput(TComponent* c) const { return inputs_.count(c) != 0; }
bool TMMDesigner::HasOutput(TComponent* c) const { return outputs_.count(c) != 0; }

// ---- geometry ----------------------------------------------------------------------------------

TRect TMMDesigner::GetComponentPos(TComponent* c) const {
  if (auto* control = dynamic_cast<TControl*>(c)) {
    TPoint origin{control->GetLeft(), control->GetTop()};
    for (TWinControl* parent = control->GetParent(); parent && parent != form_;
         parent = parent->GetParent()) {
      origin = {AddSat(origin.X, parent->GetLeft()), AddSat(origin.Y, parent->GetTop())};
    }
    return Bounds(origin.X, origin.Y, control->GetWidth(), control->GetHeight());
  }
  TPoint p;
  if (auto it = IconPositions.find(c); it != IconPositions.end()) p = it->second;
  // A data module's components sit 2 pixels further right and down.
  if (root_ && root_ != form_) p = {AddSat(p.X, 2), AddSat(p.Y, 2)};
  return Bounds(p.X, p.Y, 28, 28);
}

std::vector<TPoint> TMMDesigner::ConnectionPath(const TRect& from, const TRect& to) const {
  const int m = margin_, m2 = MulSat(2, margin_);
  const TPoint start{from.Right, MidRow(from)};
  const int target_y = MidRow(to);
  const int before_target = SubSat(to.Left, m);
  std::vector<TPoint> p{start};
  if (to.Left >= AddSat(from.Right, m2) || (to.Top == from.Top && to.Left >= from.Left)) {
    p.push_back({before_target, start.Y});
    p.push_back({before_target, target_y});
  } else {
    const int x = AddSat(std::max(from.Right, to.Right), m);
    const bool above = to.Top >= AddSat(from.Bottom, m2) ||
                       (to.Top < from.Top && AddSat(to.Bottom, m2) < from.Top);
    const int y = above ? SubSat(to.Top, m) : AddSat(to.Bottom, m);
    p.push_back({x, start.Y});
    p.push_back({x, y});
    p.push_back({before_target, y});
    p.push_back({before_target, target_y});
  }
  p.push_back({to.Left, target_y});
  return p;
}

TComponent* TMMDesigner::FindTarget(TPoint p, bool& input) const {
  auto inside = [&](const TRect& r) {
    return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
  };
  for (TComponent* c : Components()) {
    const TRect r = GetComponentPos(c);
    if (HasInput(c) && inside(InputPort(r))) return input = true, c;
    if (HasOutput(c) && inside(OutputPort(r))) return input = false, c;
  }
  return nullptr;
}

void TMMDesigner::DrawPorts(TCanvas& canvas) {
  canvas.Brush().Color = 0x800000;
  canvas.Brush().Style = bsSolid;
  for (TComponent* c : Components()) {
    if (auto* control = dynamic_cast<TControl*>(c); control && !control->Showing()) continue;
    const TRect r = GetComponentPos(c);
    if (HasInput(c)) canvas.FillRect(InputPort(r));
    if (HasOutput(c)) canvas.FillRect(OutputPort(r));
  }
}

void TMMDesigner::DrawConnection(TCanvas& canvas, const TRect& from, const TRect& to, bool arrow) {
  canvas.Pen().Color = color_;
  canvas.Pen().Width = line_width_;
  canvas.Pen().Mode = pmCopy;
  canvas.Polyline(ConnectionPath(from, to));
  if (!arrow) return;
  const int y = MidRow(to);
  canvas.MoveTo(SubSat(to.Left, 2), SubSat(y, 1));
  canvas.LineTo(SubSat(to.Left, 2), AddSat(y, 2));
  canvas.MoveTo(SubSat(to.Left, 3), SubSat(y, 2));
  canvas.LineTo(SubSat(to.Left, 3), AddSat(y, 3));
}

void TMMDesigner::DrawAll(TCanvas& canvas) {
  if (!active_) return;
  for (const auto& [out, in] : connections_) {
    DrawConnection(canvas, GetComponentPos(out), GetComponentPos(in), true);
  }
  // The ports stay visible where a line ends on them.
  DrawPorts(canvas);
}
