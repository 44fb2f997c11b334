// Codes the parts of the view's details pane share: the low byte of the edit
// kind (what the pane shows) and the invalid-field bits of its text fields.
#pragma once

#include <cstdint>

namespace zephrin::editor::details {

inline constexpr int32_t kEditLibrary = 1;
inline constexpr int32_t kEditType = 2;
inline constexpr int32_t kEditImplType = 4;
inline constexpr int32_t kEditMember = 8;
inline constexpr int32_t kEditParam = 16;  // with kEditMember

inline constexpr int32_t kInvalidVersion = 1;
inline constexpr int32_t kInvalidLcid = 2;
inline constexpr int32_t kInvalidMemberId = 4;
inline constexpr int32_t kInvalidConstVal = 8;
inline constexpr int32_t kInvalidDllName = 16;
inline constexpr int32_t kInvalidDllEntry = 32;
// (64 to 1024: the help page's fields.)
inline constexpr int32_t kInvalidAlignment = 2048;

}  // namespace zephrin::editor::details
