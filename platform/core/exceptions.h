#pragma once
// Base of every exception the libraries raise. Each component family derives its own class
// (EMMThreadError, EMMWaveOutError, ...) carrying the library's message text.
#include <stdexcept>
#include <string>

namespace vant {

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Declares `class Name : public Base` with the inherited constructors.
// Base may be qualified (vant::Exception): the alias lets the constructors be inherited.
#define VANT_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {               \
    using BaseClass_ = Base;               \
                                           \
   public:                                 \
    using BaseClass_::BaseClass_;          \
  }

}  // namespace vant
