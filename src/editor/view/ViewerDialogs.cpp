#include "editor/view/ViewerDialogs.h"

#include "dialogs/frmGenerateGuid.h"
#include "dialogs/frmTypeOrder.h"
#include "dialogs/frmVTableOrder.h"
#include "dialogs/frmVarOrder.h"
#include "editor/pickers/frmCustData.h"
#include "editor/pickers/frmExternalTypes.h"

namespace zephrin::editor {

SpecifiedType ViewerDialogs::SpecifyParamType(QWidget* owner, int32_t usage, int32_t constraint, int32_t paramUsage,
                                              ole::ITypeLib* library, dialogs::LibraryCollection& referenced,
                                              tli::VarTypeInfo* current, int32_t& paramFlags, bool optionalVariant) {
    return frmSpecifyType::GetParamType(owner, usage, constraint, paramUsage, library, referenced, current, paramFlags,
                                        optionalVariant);
}

SpecifiedType ViewerDialogs::ImportType(QWidget* owner, ole::ITypeLib* library, dialogs::LibraryCollection& referenced) {
    return frmSpecifyType::GetImportType(owner, library, referenced);
}

SpecifiedType ViewerDialogs::ImportLibrary(QWidget* owner, ole::ITypeLib* library,
                                           dialogs::LibraryCollection& referenced) {
    return frmSpecifyType::GetImportLibrary(owner, library, referenced);
}

SpecifiedType ViewerDialogs::RedirectType(QWidget* owner, ole::ITypeLib* library,
                                          dialogs::LibraryCollection& referenced, tli::VarTypeInfo* from) {
    return frmSpecifyType::GetRedirectType(owner, library, referenced, from);
}

SpecifiedType ViewerDialogs::RedirectLibrary(QWidget* owner, ole::ITypeLib* library,
                                             dialogs::LibraryCollection& referenced, tli::VarTypeInfo* from) {
    return frmSpecifyType::GetRedirectLibrary(owner, library, referenced, from);
}

std::shared_ptr<ReorderVTableChange> ViewerDialogs::VTableOrder(ChangeTarget& target, QWidget* owner) {
    return dialogs::frmVTableOrder::GetReorderVTableChange(target, owner);
}

std::shared_ptr<ReorderVarsChange> ViewerDialogs::VarOrder(ChangeTarget& target, QWidget* owner) {
    return dialogs::frmVarOrder::GetReorderVarsChange(target, owner);
}

std::shared_ptr<ReorderTypesChange> ViewerDialogs::TypeOrder(ChangeTarget& target, QWidget* owner) {
    return dialogs::frmTypeOrder::GetReorderTypesChange(target, owner);
}

std::shared_ptr<CustDataChange> ViewerDialogs::CustData(ChangeTarget& target, QWidget* owner, int32_t constraint,
                                                        bool& hex) {
    return frmCustData::GetCustDataChange(target, owner, constraint, hex);
}

void ViewerDialogs::ExternalTypes(IExternalTypesView& view, QWidget* owner, bool internalize, bool redirect,
                                  bool changeTypes) {
    frmExternalTypes::ShowExternalTypes(view, owner, internalize, redirect, changeTypes);
}

bool StandardViewerDialogs::ChangeGuid(QWidget* owner, ole::GUID& guid) {
    return dialogs::frmGenerateGuid::ChangeGuid(guid, owner, true);
}

bool StandardViewerDialogs::ChangeNonNullGuid(QWidget* owner, ole::GUID& guid) {
    return dialogs::frmGenerateGuid::ChangeGuid(guid, owner, false);
}

SpecifiedType StandardViewerDialogs::SpecifyType(QWidget* owner, int32_t usage, int32_t constraint,
                                                 ole::ITypeLib* library, dialogs::LibraryCollection& referenced,
                                                 tli::VarTypeInfo* current) {
    return frmSpecifyType::GetType(owner, usage, constraint, library, referenced, current);
}

}  // namespace zephrin::editor
