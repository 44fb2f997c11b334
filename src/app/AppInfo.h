#pragma once

namespace zephrin::app {
inline constexpr const char* kProgramName = "Zephrin Type Library Editor";
inline constexpr const char* kProgramVersion = "0.1.0";
}  // namespace zephrin::app
