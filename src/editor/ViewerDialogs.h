// The dialogs the library editor view opens, behind one interface so that
// tests can answer them. The program uses StandardViewerDialogs.
#pragma once

#include <cstdint>

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
    // current; false when cancelled, else chosen holds the type (null: none).
    virtual bool SpecifyType(QWidget* owner, int32_t usage, int32_t constraint, ole::ITypeLib* library,
                             tli::VarTypeInfo* current, ole::ComPtr<tli::VarTypeInfo>& chosen) = 0;
};

class StandardViewerDialogs final : public ViewerDialogs {
public:
    bool ChangeGuid(QWidget* owner, ole::GUID& guid) override;
    // The type chooser is not part of this program yet: beeps and cancels.
    bool SpecifyType(QWidget* owner, int32_t usage, int32_t constraint, ole::ITypeLib* library,
                     tli::VarTypeInfo* current, ole::ComPtr<tli::VarTypeInfo>& chosen) override;
};

}  // namespace zephrin::editor
