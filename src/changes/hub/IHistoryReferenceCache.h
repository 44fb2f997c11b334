// The cache through which changes in a history refer to libraries, types and
// type descriptions without holding them: a change swaps its live type
// descriptions for entries when it enters the history (DetachFromLibrary) and
// gets live ones back, resolved in the library being edited, before it is
// replayed (BindToLibrary). The history file writes and reads the entries as
// its reference tables. One cache belongs to each history engine.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

// One type description kept as a plain description.
class ICachedVarType {
public:
    virtual ~ICachedVarType() = default;
    // Its 0-based position in the type-description table while the history
    // file is written or read.
    virtual int32_t Ordinal() const = 0;
    // A live description of it in context, the library being edited.
    virtual ole::ComPtr<tli::VarTypeInfo> GetVarTypeInfo(ole::ITypeLib* context) = 0;
};

class IHistoryReferenceCache {
public:
    virtual ~IHistoryReferenceCache() = default;
    // A new entry describing type (each call makes its own entry).
    virtual std::shared_ptr<ICachedVarType> AddVarType(tli::VarTypeInfo* type) = 0;
    // True when entry is one of this cache's own. A change recorded while
    // another history replays it on the same hub still holds that history's
    // entry, which this cache must replace by one of its own.
    virtual bool Holds(const ICachedVarType* entry) const = 0;
    // The entry at a 0-based ordinal, while the history file is read or written.
    virtual std::shared_ptr<ICachedVarType> GetVarType(int32_t ordinal) = 0;
};

}  // namespace zephrin
