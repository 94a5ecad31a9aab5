// The framework's own painted controls with every number they have (place, size, the scaling a
// form gives them, the font) at the ends of int: each paint stays within the work of a few
// pictures, keeps a size a screen can show and holds only the control's colours.
#include <gtest/gtest.h>

#include "paint_table.h"
#include "ui_fixture.h"
#include "ui_form.h"
#include "ui_stdctrls.h"

namespace vant {
namespace {

using painttable::Geometry;
using painttable::Paint;

class FrameworkPaintTable : public UiTest {
 protected:
  // A control of 120 x 40 on the form, given `setup`.
  template <class C>
  std::function<C*()> Maker(std::function<void(C&)> setup = {}) {
    return [this, setup] {
      auto* c = new C(&form_);
      c->SetParent(&form_);
      c->SetBounds(10, 10, 120, 40);
      if (setup) setup(*c);
      return c;
    };
  }
  TForm form_{nullptr};
};

TEST_F(FrameworkPaintTable, PanelLabelBevelAndButton) {
  Paint<TPanel>(
      {"TPanel", Maker<TPanel>([](TPanel& c) { c.SetCaption("Ag"); }), Geometry<TPanel>()});
  Paint<TLabel>(
      {"TLabel", Maker<TLabel>([](TLabel& c) { c.SetCaption("Ag"); }), Geometry<TLabel>()});
  Paint<TLabel>({"word-wrapped TLabel", Maker<TLabel>([](TLabel& c) {
                   c.SetCaption("Ag Ag Ag Ag");
                   c.SetWordWrap(true);
                 }),
                 Geometry<TLabel>()});
  Paint<TBevel>({"TBevel", Maker<TBevel>(), Geometry<TBevel>()});
  Paint<TSpeedButton>({"TSpeedButton",
                       Maker<TSpeedButton>([](TSpeedButton& c) { c.SetCaption("Ag"); }),
                       Geometry<TSpeedButton>()});
}

}  // namespace
}  // namespace vant
