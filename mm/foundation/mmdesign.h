#pragma once
// TMMDesigner: knows which link properties may join two audio components of a form, joins and
// parts them, and draws the components' ports and the lines between joined components. At run
// time its one visible effect is RuntimeHeight, which sets the form's client height.
//
// The rules live in a process-wide registry (PropList, with exceptions in ExcPropList). Our
// components have no run-time type information: a rule names the classes by a test and reaches
// its property through a link accessor the component's unit supplies.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mmobj.h"
#include "ui_canvas.h"
#include "ui_form.h"

// ptInput: the property lives on the input end and refers to what feeds it; ptOutput: it lives
// on the output end and refers to what it feeds.
enum TPropType { ptInput, ptOutput };

using TClassTest = std::function<bool(const vant::TComponent*)>;
// May refuse a connection of the output end `out` with the input end `in`.
using TConnectCheck = std::function<bool(vant::TComponent* out, vant::TComponent* in)>;

// The property of a rule on one component: read (nullopt when the component has no such
// property) and write.
struct TLinkAccess {
  std::function<std::optional<vant::TComponent*>(vant::TComponent*)> get;
  std::function<void(vant::TComponent*, vant::TComponent*)> set;
};

template <class T>
TClassTest ClassIs() {
  return [](const vant::TComponent* c) { return dynamic_cast<const T*>(c) != nullptr; };
}

struct TPropRec {
  TPropRec(TPropType type, std::string group, TClassTest out_class, std::string prop_name,
           TClassTest in_class, TLinkAccess link = {}, TConnectCheck check = {})
      : type(type),
        group(std::move(group)),
        out_class(std::move(out_class)),
        prop_name(std::move(prop_name)),
        in_class(std::move(in_class)),
        link(std::move(link)),
        check(std::move(check)) {}
  TPropType type;
  std::string group;
  TClassTest out_class;  // empty: any class (exceptions only)
  std::string prop_name;
  TClassTest in_class;
  TLinkAccess link;
  TConnectCheck check;
  // The component that holds the property: the output end for ptOutput, else the input end.
  vant::TComponent* Holder(vant::TComponent* out, vant::TComponent* in) const {
    return type == ptOutput ? out : in;
  }
};

// The process-wide registry; the programs add nothing, so it stays empty.
std::vector<std::unique_ptr<TPropRec>>& PropList();
std::vector<std::unique_ptr<TPropRec>>& ExcPropList();

class TMMDesigner : public TMMNonVisualComponent {
 public:
  explicit TMMDesigner(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMDesigner"; }

  bool GetActive() const { return active_; }
  void SetActive(bool v) { active_ = v; }
  vant::TColor GetColor() const { return color_; }
  void SetColor(vant::TColor v) { color_ = v; }
  int GetLineWidth() const { return line_width_; }
  void SetLineWidth(int v) { line_width_ = v; }
  int GetMargin() const { return margin_; }
  void SetMargin(int v) { margin_ = v; }
  bool GetAutoUpdate() const { return auto_update_; }
  void SetAutoUpdate(bool v) { auto_update_ = v; }
  // An action: true switches Active off and on again; always reads false.
  bool GetUpdate() const { return false; }
  void SetUpdate(bool v);
  bool GetSound() const { return sound_; }
  void SetSound(bool v) { sound_ = v; }
  int GetRuntimeHeight() const { return runtime_height_; }
  void SetRuntimeHeight(int v) { runtime_height_ = v; }
  // The button in the form's caption (drawn by a design environment only); a change makes the
  // form's frame repaint.
  bool GetShowButton() const { return show_button_; }
  void SetShowButton(bool v);
  // Where a non-visual component's 28 x 28 icon sits on the form (0,0 when not given).
  std::map<const vant::TComponent*, vant::TPoint> IconPositions;
  // The groups whose rules are not used.
  std::set<std::string> HiddenGroups;

  // The form worked on (none: the designer stays inactive) and the component whose components
  // it shows.
  vant::TForm* Form() const { return form_; }
  vant::TComponent* Root() const { return root_; }

  // Outside design time with a positive RuntimeHeight, sets the form's client height to it.
  void Loaded() override;

  // Rule queries (indices into PropList; -1 when none).
  bool Allowed(int index) const;
  int FindProp(TPropType type, vant::TComponent* out, int start, vant::TComponent* in) const;
  bool HasException(const TPropRec& rule, vant::TComponent* out, vant::TComponent* in) const;
  // Both ends are needed: a missing one connects nothing.
  int FindConnectProp(vant::TComponent* out, vant::TComponent* in) const;
  bool CanConnect(vant::TComponent* out, vant::TComponent* in) const {
    return FindConnectProp(out, in) >= 0;
  }
  bool Connect(vant::TComponent* out, vant::TComponent* in);
  // The rule whose property joins `out` to `in` now (whichever end holds it), or -1.
  int FindRef(vant::TComponent* out, vant::TComponent* in) const;
  // Every join of c with another component of its owner, as (output end, input end) pairs.
  void FindRefs(vant::TComponent* c,
                std::vector<std::pair<vant::TComponent*, vant::TComponent*>>& list) const;
  // Clears the property that joins `out` to `in`; false when none does.
  bool RemoveRef(vant::TComponent* out, vant::TComponent* in);
  // Clears every property that joins c with another component (before c goes away); answers
  // how many were cleared.
  int RemoveRefs(vant::TComponent* c);
  // Every other component of c's owner that c feeds or that feeds c through a rule.
  void GetConnected(vant::TComponent* c, std::vector<vant::TComponent*>& list) const;
  bool RemoveInput(vant::TComponent* c) { return RemoveSide(c, ptInput); }
  bool RemoveOutput(vant::TComponent* c) { return RemoveSide(c, ptOutput); }

  // Port flags and joined pairs of the root's components, from the rules.
  void RebuildLists();
  bool HasInput(vant::TComponent* c) const;
  bool HasOutput(vant::TComponent* c) const;
  const std::vector<std::pair<vant::TComponent*, vant::TComponent*>>& Connections() const {
    return connections_;
  }

  // Geometry in the form's client area.
  vant::TRect GetComponentPos(vant::TComponent* c) const;
  static vant::TRect InputPort(const vant::TRect& r) { return Port(r.Left, r); }
  static vant::TRect OutputPort(const vant::TRect& r) { return Port(r.Right, r); }
  // The legs of a line from the source's right edge to the target's left edge.
  std::vector<vant::TPoint> ConnectionPath(const vant::TRect& from, const vant::TRect& to) const;
  // The component whose input port (tried first) or output port holds `p`.
  vant::TComponent* FindTarget(vant::TPoint p, bool& input) const;

  void DrawPorts(vant::TCanvas& canvas);
  void DrawConnection(vant::TCanvas& canvas, const vant::TRect& from, const vant::TRect& to,
                      bool arrow);
  // Ports and lines of every joined pair (after RebuildLists).
  void DrawAll(vant::TCanvas& canvas);

 private:
  // The row through the middle of `r`, where lines and ports meet it.
  static int MidRow(const vant::TRect& r) { return vant::AddSat(r.Top, r.Height() / 2); }
  static vant::TRect Port(int x, const vant::TRect& r) {
    const int y = MidRow(r);
    return {vant::SubSat(x, 2), vant::SubSat(y, 2), vant::AddSat(x, 3), vant::AddSat(y, 3)};
  }
  bool Matches(const TPropRec& rule, vant::TComponent* out, vant::TComponent* in) const;
  bool RemoveSide(vant::TComponent* c, TPropType side);
  std::vector<vant::TComponent*> Components() const;

  bool active_ = true;
  vant::TColor color_ = 0xFF;
  int line_width_ = 1;
  int margin_ = 6;
  bool auto_update_ = true;
  bool sound_ = true;
  int runtime_height_ = -1;
  bool show_button_ = false;
  vant::TForm* form_ = nullptr;
  vant::TComponent* root_ = nullptr;
  std::set<vant::TComponent*> inputs_, outputs_;
  std::vector<std::pair<vant::TComponent*, vant::TComponent*>> connections_;
};
