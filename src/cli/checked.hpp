// How every part of the programs says that something could not be had: a value, or the reason there is
// none, in Spanish, worded to follow the name of what was read (an option, a query parameter).
#pragma once

#include <string>

namespace muller::cli {

template <class T>
struct Checked {
  T value{};
  std::string problem;  // empty when value is good
};

}  // namespace muller::cli
