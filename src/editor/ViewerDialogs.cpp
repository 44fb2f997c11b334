#include "editor/ViewerDialogs.h"

#include "dialogs/frmGenerateGuid.h"

namespace zephrin::editor {

SpecifiedType ViewerDialogs::SpecifyParamType(QWidget* owner, int32_t usage, int32_t constraint, int32_t paramUsage,
                                              ole::ITypeLib* library, dialogs::LibraryCollection& referenced,
                                              tli::VarTypeInfo* current, int32_t& paramFlags, bool optionalVariant) {
    return frmSpecifyType::GetParamType(owner, usage, constraint, paramUsage, library, referenced, current, paramFlags,
                                        optionalVariant);
}

bool StandardViewerDialogs::ChangeGuid(QWidget* owner, ole::GUID& guid) {
    return dialogs::frmGenerateGuid::ChangeGuid(guid, owner, true);
}

SpecifiedType StandardViewerDialogs::SpecifyType(QWidget* owner, int32_t usage, int32_t constraint,
                                                 ole::ITypeLib* library, dialogs::LibraryCollection& referenced,
                                                 tli::VarTypeInfo* current) {
    return frmSpecifyType::GetType(owner, usage, constraint, library, referenced, current);
}

}  // namespace zephrin::editor
