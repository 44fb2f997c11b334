// What the external types dialog asks of the editor view that opened it: the
// view's own commands that internalise, redirect and retype, the selection of
// an item, the current library and the companion library of unresolved types.
#pragma once

#include "changes/hub/ChangeTarget.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "platform/automation/Unknown.h"

class QWidget;

namespace zephrin::editor {

class IExternalTypesView {
public:
    virtual ~IExternalTypesView() = default;

    // Internalises type (code 0 this type, 1 the types it references in its
    // library, 2 the whole library; plus 4 as proxies).
    virtual void InternalizeTypes(int32_t code, tli::VarTypeInfo* type) = 0;
    // Redirects type (code 0 this type only, 1 every type referenced by GUID),
    // asking with owner; true when something changed.
    virtual bool RedirectTypes(int32_t code, tli::VarTypeInfo* type, QWidget* owner) = 0;
    // Shows the type picker for the selected item and applies the choice at
    // once; true when something changed.
    virtual bool SetTypeFromPicker() = 0;
    virtual ole::ComPtr<ole::ITypeLib> CurrentLibraryITypeLib() = 0;
    // Selects the target's item in the view (display level 0).
    virtual void SelectTarget(ChangeTarget& target) = 0;
    virtual ole::ComPtr<ole::ITypeLib> UnresolvedTypes() = 0;
    // Null, or an unresolved-types library; any other library is refused
    // with error 5.
    virtual void SetUnresolvedTypes(ole::ITypeLib* lib) = 0;
};

}  // namespace zephrin::editor
