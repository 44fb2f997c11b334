// What a host may restrict in the library editor view: the commands it
// offers and the attribute flags its panes let change. Fourteen 32-bit
// fields; the last two are object references. Nothing in the program sets
// one, so the view runs with the filter off (all zero).
#pragma once

#include <cstdint>

#include "platform/automation/Unknown.h"

namespace zephrin::editor {

struct CommandFilterRecord {
    int32_t FilterOn = 0;          // 1: a Boolean in the low 16 bits; the filter is in force
    int32_t PairCoclasses = 0;     // 2: a coclass and its default interface go together
    int32_t LibraryCommands = 0;   // 3: library commands; the low byte, the type kinds Add Type offers
    int32_t TypeCommands = 0;      // 4
    int32_t ImplTypeCommands = 0;  // 5
    int32_t MemberCommands = 0;    // 6
    int32_t ParamCommands = 0;     // 7
    int32_t LibraryFlags = 0;      // 8: library flags locked as they are
    int32_t TypeFlags = 0;         // 9: locked type flags
    int32_t FuncFlags = 0;         // 10: locked function flags
    int32_t VarFlags = 0;          // 11: locked variable flags
    int32_t ImplTypeFlags = 0;     // 12: locked implemented-type flags
    ole::ComPtr<ole::IUnknown> RenameHook;           // 13
    ole::ComPtr<ole::IUnknown> MemberIDConstraints;  // 14: the host's member-ID constraints

    bool Enabled() const { return static_cast<int16_t>(FilterOn & 0xFFFF) != 0; }
};

// Bits of the library commands (field 3).
inline constexpr int32_t kFilterLibLcid = 0x100;
inline constexpr int32_t kFilterLibIdentifier = 0x200;
inline constexpr int32_t kFilterLibVersion = 0x400;
inline constexpr int32_t kFilterLibAttributes = 0x800;
inline constexpr int32_t kFilterLibInternalize = 0x2000;  // internalising external types
// Bits of the type commands (field 4).
inline constexpr int32_t kFilterTypeRedirect = 0x8000;  // redirecting external types
inline constexpr int32_t kFilterTypeBaseType = 1 << 20;
inline constexpr int32_t kFilterTypeAliasTarget = 1 << 21;
inline constexpr int32_t kFilterTypeAttributes = 1 << 22;
inline constexpr int32_t kFilterTypeIdentifier = 1 << 23;
inline constexpr int32_t kFilterTypeVersion = 1 << 24;
inline constexpr int32_t kFilterTypeAlignment = 1 << 25;
// Bits of the implemented-interface commands (field 5).
inline constexpr int32_t kFilterImplAttributes = 1;
inline constexpr int32_t kFilterImplType = 2;
// Bits of the member commands (field 6).
inline constexpr int32_t kFilterMemberConstValue = 1 << 11;
inline constexpr int32_t kFilterMemberType = 1 << 12;
inline constexpr int32_t kFilterMemberId = 1 << 13;
inline constexpr int32_t kFilterMemberAttributes = 1 << 14;
inline constexpr int32_t kFilterMemberDllName = 1 << 16;
inline constexpr int32_t kFilterMemberDllEntry = 1 << 17;
// Bits of the parameter commands (field 7).
inline constexpr int32_t kFilterParamType = 1 << 11;
inline constexpr int32_t kFilterParamOptional = 1 << 12;
inline constexpr int32_t kFilterParamDefault = 1 << 13;

}  // namespace zephrin::editor
