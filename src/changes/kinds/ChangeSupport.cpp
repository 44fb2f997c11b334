#include "changes/kinds/ChangeSupport.h"

#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::changes_detail {

ole::ITypeLib* TargetLibrary(const ChangeTarget& target) {
    if (!target.Library) RaiseError(typelib_detail::kErrObjectNotSet);
    return target.Library.get();
}

ole::ComPtr<tli::TypeInfo> NamedType(tli::VarTypeInfo* type) {
    if (!type) RaiseError(typelib_detail::kErrObjectNotSet);
    ole::ComPtr<tli::TypeInfo> info;
    CheckHr(type->get_TypeInfo(info.put()));
    if (!info) RaiseError(kErrInvalidArgument);
    return info;
}

ole::ComPtr<ole::ITypeInfo> TargetTypeInfo(const ChangeTarget& target) {
    ole::ITypeLib* lib = TargetLibrary(target);
    if (target.TypeIndex < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    return modITypeInfoHelper::GetInterfaceTypeInfo(lib, static_cast<ole::UINT>(target.TypeIndex));
}

void RestoreLibraryHelpFiles(CustomTypeLib& library, ScopeGuard& rollback) {
    const ole::ComPtr<ole::ITypeLib2> read = library.ReadView();
    if (!read) RaiseError(typelib_detail::kErrObjectNotSet);
    ole::BSTR file = nullptr, dll = nullptr;
    CheckHr(read->GetDocumentation(-1, nullptr, nullptr, nullptr, &file));
    const std::u16string helpFile = typelib_detail::TakeBstr(file);
    CheckHr(read->GetDocumentation2(-1, 0, nullptr, nullptr, &dll));
    const std::u16string helpStringDll = typelib_detail::TakeBstr(dll);
    rollback.OnFailure([create = library.CreateView(), helpFile, helpStringDll] {
        CheckHr(create->SetHelpFileName(helpFile.c_str()));
        CheckHr(create->SetHelpStringDll(helpStringDll.c_str()));
    });
    library.RestorePrimaryExternalFiles();
}

void PutOrder(HistoryFileWriter& out, const std::vector<int16_t>& order) {
    if (order.size() > 0x7FFF) RaiseError(kErrOverflow);
    out.PutInteger(static_cast<int16_t>(order.size()));
    for (int16_t v : order) out.PutInteger(v);
}

std::vector<int16_t> GetOrder(HistoryFileReader& in) {
    const int16_t count = in.GetIntegerCount(2);
    std::vector<int16_t> order(static_cast<size_t>(count));
    for (int16_t& v : order) v = in.GetInteger();
    return order;
}

void PutByteBoolean(HistoryFileWriter& out, bool value) { out.PutByte(value ? 0xFF : 0); }

}  // namespace zephrin::changes_detail
