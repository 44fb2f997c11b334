// The help record of a library, type or member. Its fields are selected
// throughout the system by the bits below (a member's help edits, the member
// rebuild's change mask, the help-data provider). For a member, HelpFile and
// HelpStringDll are those of the library.
#pragma once

#include <cstdint>
#include <string>

namespace zephrin {

struct HelpData {
    static constexpr int32_t kDocString = 1;
    static constexpr int32_t kHelpFile = 2;
    static constexpr int32_t kHelpStringDll = 4;
    static constexpr int32_t kHelpContext = 8;
    static constexpr int32_t kHelpStringContext = 16;
    static constexpr int32_t kAllFields = 0x1F;

    std::u16string DocString;
    std::u16string HelpFile;
    std::u16string HelpStringDll;
    uint32_t HelpContext = 0;
    uint32_t HelpStringContext = 0;
};

}  // namespace zephrin
