// The changes that rebuild the edited library (deleting a type, putting the
// types in a new order, clearing the dual flag) regenerate it in memory and
// then move the edited library to the result, which they name in the
// target's ReplacementLibrary for whoever keeps the library.
#pragma once

#include <cstdint>
#include <functional>

#include "changes/hub/ChangeTarget.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {
class CustomTypeLib;
class TLBModifier;
}  // namespace zephrin

namespace zephrin::changes_detail {

// A new library generated in memory from start with the requests that
// requests makes. A failure leaves start as it was.
ole::ComPtr<ole::ITypeLib> RegenerateInMemory(ole::ITypeLib* start,
                                              const std::function<void(TLBModifier&)>& requests);

// The TypeLib Information view of the type at index of lib
// (TYPE_E_ELEMENTNOTFOUND when there is none).
ole::ComPtr<tli::TypeInfo> TliTypeAt(ole::ITypeLib* lib, int32_t index);

// Attaches library to the regenerated library and names it in
// target.ReplacementLibrary. When attaching fails, library is attached to
// target.Library again before the error is raised.
void AdoptRegenerated(CustomTypeLib& library, ChangeTarget& target, ole::ITypeLib* regenerated);

}  // namespace zephrin::changes_detail
