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
    int32_t LibraryFlags = 0;      // 8: library flags that may change
    int32_t TypeFlags = 0;         // 9
    int32_t FuncFlags = 0;         // 10: locked function flags
    int32_t VarFlags = 0;          // 11: locked variable flags
    int32_t ImplTypeFlags = 0;     // 12
    ole::ComPtr<ole::IUnknown> RenameHook;           // 13
    ole::ComPtr<ole::IUnknown> MemberIDConstraints;  // 14: the host's member-ID constraints

    bool Enabled() const { return static_cast<int16_t>(FilterOn & 0xFFFF) != 0; }
};

}  // namespace zephrin::editor
