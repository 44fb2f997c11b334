// The dialogs the library editor view opens, behind one interface so that
// tests can answer them. The program uses StandardViewerDialogs.
#pragma once

#include <cstdint>
#include <memory>

#include "changes/hub/ChangeTarget.h"
#include "dialogs/modRefInfo.h"
#include "editor/pickers/frmSpecifyType.h"
#include "platform/automation/Guid.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbinf/TliInterfaces.h"

class QWidget;

namespace zephrin {
class CustDataChange;
class ReorderTypesChange;
class ReorderVarsChange;
class ReorderVTableChange;
}  // namespace zephrin

namespace zephrin::editor {

class IExternalTypesView;

class ViewerDialogs {
public:
    virtual ~ViewerDialogs() = default;
    // True when the user accepted another GUID, then held in guid.
    virtual bool ChangeGuid(QWidget* owner, ole::GUID& guid) = 0;
    // The same where the null GUID is no answer (a host's filter may say so).
    virtual bool ChangeNonNullGuid(QWidget* owner, ole::GUID& guid) { return ChangeGuid(owner, guid); }
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

    // The menu commands' dialogs. Each answers as the program's own dialog does.
    // A type to take into library, or a library given as one of its types.
    virtual SpecifiedType ImportType(QWidget* owner, ole::ITypeLib* library, dialogs::LibraryCollection& referenced);
    virtual SpecifiedType ImportLibrary(QWidget* owner, ole::ITypeLib* library,
                                        dialogs::LibraryCollection& referenced);
    // A type to redirect from to, or a library (given as one of its types) to
    // redirect from's library to.
    virtual SpecifiedType RedirectType(QWidget* owner, ole::ITypeLib* library, dialogs::LibraryCollection& referenced,
                                       tli::VarTypeInfo* from);
    virtual SpecifiedType RedirectLibrary(QWidget* owner, ole::ITypeLib* library,
                                          dialogs::LibraryCollection& referenced, tli::VarTypeInfo* from);
    // The order dialogs: the new order as a change, null when cancelled.
    virtual std::shared_ptr<ReorderVTableChange> VTableOrder(ChangeTarget& target, QWidget* owner);
    virtual std::shared_ptr<ReorderVarsChange> VarOrder(ChangeTarget& target, QWidget* owner);
    virtual std::shared_ptr<ReorderTypesChange> TypeOrder(ChangeTarget& target, QWidget* owner);
    // The custom data of target as a change, null when cancelled; hex, the
    // dialog's hexadecimal display, in and out.
    virtual std::shared_ptr<CustDataChange> CustData(ChangeTarget& target, QWidget* owner, int32_t constraint,
                                                     bool& hex);
    // The external types dialog over view, until it is closed.
    virtual void ExternalTypes(IExternalTypesView& view, QWidget* owner, bool internalize, bool redirect,
                               bool changeTypes);
};

class StandardViewerDialogs final : public ViewerDialogs {
public:
    bool ChangeGuid(QWidget* owner, ole::GUID& guid) override;
    bool ChangeNonNullGuid(QWidget* owner, ole::GUID& guid) override;
    SpecifiedType SpecifyType(QWidget* owner, int32_t usage, int32_t constraint, ole::ITypeLib* library,
                              dialogs::LibraryCollection& referenced, tli::VarTypeInfo* current) override;
};

}  // namespace zephrin::editor
