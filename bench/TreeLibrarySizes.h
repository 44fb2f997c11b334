// The sizes of the large library the tree and view benchmarks open (1,500
// interfaces of 12 methods and one of 2,000 methods, about 3.4 MB as a file),
// for the benchmarks that build the same library without the user interface.
#pragma once

namespace benchlib {

inline constexpr int kInterfaces = 1500;
inline constexpr int kMethods = 12;
inline constexpr int kLargeMethods = 2000;

}  // namespace benchlib
