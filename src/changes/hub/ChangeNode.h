// One history item: a recorded change with the names that find its target
// again. The history engine keeps them in order; the history file writes and
// reads them.
#pragma once

#include <cstdint>
#include <string>

#include "changes/hub/IChange.h"

namespace zephrin {

// An item as the history window knows it: 0 none, kEndItem the line after the
// last item, any other value one history item.
using PlaybackItem = int64_t;
inline constexpr PlaybackItem kEndItem = -1;

struct ChangeNode {
    // Bits of Flags.
    static constexpr int32_t kKindMask = 0xFF;  // the ChangeKind code
    static constexpr int32_t kCurrent = 0x100;  // the current position
    static constexpr int32_t kBreakpoint = 0x200;
    static constexpr int32_t kTargetKindShift = 12;    // bits 12-15: ChangeTarget::Kind
    static constexpr int32_t kSpecialParamShift = 16;  // bits 16-31: ChangeTarget::SpecialParam

    int32_t Flags = 0;
    std::u16string Text;  // the change's description
    std::u16string TypeName;
    std::u16string MemberName;  // a member's, or an implemented interface's name
    std::u16string ParamName;
    uint8_t IndexByte = 0;  // implemented interface: its index; member, parameter: INVOKEKIND
    uint8_t TypeKind = 0;   // the shown TYPEKIND of the type
    int16_t ParamIndex = 0;
    // The recorded change; it holds no live library objects while it is here.
    ChangePtr Change;
    // The engine's handle of the item (given when the engine takes the item in).
    PlaybackItem Id = 0;

    uint8_t KindCode() const { return static_cast<uint8_t>(Flags & kKindMask); }
    int32_t TargetKind() const { return (Flags >> kTargetKindShift) & 15; }
    int16_t SpecialParam() const { return static_cast<int16_t>(static_cast<uint32_t>(Flags) >> kSpecialParamShift); }
};

}  // namespace zephrin
