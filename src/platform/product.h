#pragma once
// Fixed properties of the program, as the reports and the window show them.

namespace kavelo::product {

inline constexpr const char* kTitle = "Doveduzi Kavelo";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
// The comments of the version information: the build date of this version.
inline constexpr const char* kComments = "15/06/2011";

}  // namespace kavelo::product
