#include "editor/ViewerDialogs.h"

#include "dialogs/UiServices.h"
#include "dialogs/frmGenerateGuid.h"

namespace zephrin::editor {

bool StandardViewerDialogs::ChangeGuid(QWidget* owner, ole::GUID& guid) {
    return dialogs::frmGenerateGuid::ChangeGuid(guid, owner, true);
}

bool StandardViewerDialogs::SpecifyType(QWidget*, int32_t, int32_t, ole::ITypeLib*, tli::VarTypeInfo*,
                                        ole::ComPtr<tli::VarTypeInfo>&) {
    dialogs::Services().Beep();
    return false;
}

}  // namespace zephrin::editor
