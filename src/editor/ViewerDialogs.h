// The dialogs the library editor view opens, behind one interface so that
// tests can answer them. The program uses StandardViewerDialogs.
#pragma once

#include <cstdint>

#include "dialogs/modRefInfo.h"
#include "editor/frmSpecifyType.h"
#include "platform/automation/Guid.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbinf/TliInterfaces.h"

class QWidget;

namespace zephrin::editor {

class ViewerDialogs {
public:
    virtual ~ViewerDialogs() = default;
    // True when the user accepted another GUID, then held in guid.
    virtual bool ChangeGuid(QWidget* owner, ole::GUID& guid) = 0;
    // A type for usage (the type-usage code) under constraint, starting at
    // current, from library and the referenced libraries (which the user may
    // extend); not accepted when cancelled, else the type (null: none).
    virtual SpecifiedType SpecifyType(QWidget* owner, int32_t usage, int32_t constraint, ole::ITypeLib* library,
                                      dialogs::LibraryCollection& referenced, tli::VarTypeInfo* current) = 0;
    // A parameter's type as SpecifyType, for paramUsage (the parameter-usage
    // code); paramFlags in and, when accepted, out.
    virtual SpecifiedType SpecifyParamType(QWidget* owner, int32_t usage, int32_t constraint, int32_t paramUsage,
                                           ole::ITypeLib* library, dialogs::LibraryCollection& referenced,
                                           tli::VarTypeInfo* current, int32_t& paramFlags, bool optionalVariant);
};

class StandardViewerDialogs final : public ViewerDialogs {
public:
    bool ChangeGuid(QWidget* owner, ole::GUID& guid) override;
    SpecifiedType SpecifyType(QWidget* owner, int32_t usage, int32_t constraint, ole::ITypeLib* library,
                              dialogs::LibraryCollection& referenced, tli::VarTypeInfo* current) override;
};

}  // namespace zephrin::editor
