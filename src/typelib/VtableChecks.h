// Checks of an interface's vtable offsets against what the platform reads as
// they are meant.
#pragma once

#include <cstdint>
#include <span>

#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::typelib_detail {

// The largest vtable an interface may have, in bytes: a file stores each
// vtable offset as a signed 16-bit number, so the platform reads one past
// 0x7FFF as negative. Its creation calls take such offsets all the same:
// edits that would make them are refused here, before they reach it.
inline constexpr uint32_t kMaxVtableSize = 0x7FFF;

// Raises an error for vtable offsets that the platform would read otherwise:
// an offset or a vtable size past 0x7FFF (Size too big; offsets are stored as
// signed 16-bit numbers), or a slot left empty in a dual interface (the
// platform counts the dispatch half's functions by the vtable's size, so it
// would list one function more than the type holds, and fail to read it).
// offsets are those of all the type's own functions. Returns where the vtable
// ends.
uint32_t CheckVtableOffsets(ole::ITypeInfo* self, std::span<const int16_t> offsets);

// Raises Size too big for an interface whose vtable, as it is laid out now,
// ends past kMaxVtableSize, or whose vtable makes that of an interface of its
// library derived from it end there once laid out again. Nothing for other
// kinds of type.
void CheckVtableFits(ole::ITypeInfo* self);

// Raises an error if self's vtable, ending at end, would grow over the
// functions of an interface of its library derived from it, directly or
// further down: those keep their offsets when a base changes its own.
void CheckDerivedVtables(ole::ITypeInfo* self, uint32_t end);

}  // namespace zephrin::typelib_detail
