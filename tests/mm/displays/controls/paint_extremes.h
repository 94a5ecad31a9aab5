#pragma once
// Paints a display control once with a property at each end of int (and next to 0): whatever
// value a setter accepts, the paint must finish with work bounded by the control's pixels.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>

#include "ui_form.h"

namespace vant {

template <class C>
using ExtremeSetter = std::function<void(C&, int)>;

template <class C>
void PaintExtremes(TForm& form, const char* control,
                   std::initializer_list<std::pair<const char*, ExtremeSetter<C>>> properties) {
  for (const auto& [name, set] : properties)
    for (int value : {0, -1, 1, INT_MAX, INT_MIN}) {
      SCOPED_TRACE(std::string(control) + "." + name + " = " + std::to_string(value));
      auto* c = new C(&form);
      c->SetParent(&form);
      c->SetBounds(10, 10, 200, 100);
      set(*c, value);
      if constexpr (requires { c->SetValue(100); }) c->SetValue(100);
      TBitmap shot;
      c->PaintTo(shot);
      EXPECT_EQ(shot.Width(), c->GetWidth());
      delete c;
    }
}

}  // namespace vant
