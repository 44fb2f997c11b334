#include "dialogs/OrderListModel.h"

#include <memory>
#include <utility>

#include "foundation/ErrorRecord.h"
#include "platform/tlbengine/TypeLibData.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::dialogs {

namespace {

using typelib_detail::FuncDescHolder;
using typelib_detail::TypeAttr;

// The library's own record of the type, when the library keeps one.
const ole::TypeData* TypeRecord(ole::ITypeLib* lib, ole::UINT typeIndex,
                                std::shared_ptr<const ole::LibraryData>& data) {
    if (ole::FAILED(ole::GetLibraryData(lib, false, &data)) || !data || typeIndex >= data->types.size()) return nullptr;
    return &data->types[typeIndex];
}

// The first name of a member, by its ID (for libraries without their own record).
std::u16string NameOfMember(ole::ITypeInfo* ti, ole::MEMBERID memid) {
    ole::BSTR name = nullptr;
    ole::UINT got = 0;
    if (ole::FAILED(ti->GetNames(memid, &name, 1, &got)) || got == 0) return {};
    return typelib_detail::TakeBstr(name);
}

}  // namespace

std::vector<std::u16string> VariableNames(ole::ITypeLib* lib, ole::UINT typeIndex, ole::ITypeInfo* ti) {
    const ole::UINT count = TypeAttr(ti)->cVars;
    std::shared_ptr<const ole::LibraryData> data;
    const ole::TypeData* record = TypeRecord(lib, typeIndex, data);
    std::vector<std::u16string> names;
    for (ole::UINT i = 0; i < count; ++i) {
        if (record && i < record->vars.size()) {
            names.push_back(record->vars[i].name);
            continue;
        }
        ole::VARDESC* vd = nullptr;
        CheckHr(ti->GetVarDesc(i, &vd));
        const ole::MEMBERID memid = vd->memid;
        ti->ReleaseVarDesc(vd);
        names.push_back(NameOfMember(ti, memid));
    }
    return names;
}

std::vector<std::u16string> FunctionNames(ole::ITypeLib* lib, ole::UINT typeIndex, ole::ITypeInfo* ti) {
    const ole::UINT count = TypeAttr(ti)->cFuncs;
    std::shared_ptr<const ole::LibraryData> data;
    const ole::TypeData* record = TypeRecord(lib, typeIndex, data);
    // A dual's record holds its interface half only when the counts agree.
    if (record && record->funcs.size() != count) record = nullptr;
    std::vector<std::u16string> names;
    for (ole::UINT i = 0; i < count; ++i)
        names.push_back(record ? record->funcs[i].name : NameOfMember(ti, FuncDescHolder(ti, i)->memid));
    return names;
}

OrderListModel::OrderListModel(std::vector<std::u16string> texts) {
    if (texts.size() > 0x7FFF) RaiseError(kErrOverflow);
    for (size_t i = 0; i < texts.size(); ++i) {
        rows_.push_back(Row{std::move(texts[i]), static_cast<int16_t>(i)});
        order_.push_back(static_cast<int16_t>(i));
    }
}

OrderListModel OrderListModel::ForVariables(ole::ITypeLib* lib, ole::UINT typeIndex) {
    ole::ComPtr<ole::ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib, typeIndex);
    return OrderListModel(VariableNames(lib, typeIndex, ti.get()));
}

OrderListModel OrderListModel::ForTypes(ole::ITypeLib* lib) {
    if (!lib) RaiseError(typelib_detail::kErrObjectNotSet);
    std::vector<std::u16string> names;
    const ole::UINT count = lib->GetTypeInfoCount();
    for (ole::UINT i = 0; i < count; ++i) {
        ole::BSTR name = nullptr;
        CheckHr(lib->GetDocumentation(static_cast<ole::INT>(i), &name, nullptr, nullptr, nullptr));
        names.push_back(typelib_detail::TakeBstr(name));
    }
    return OrderListModel(std::move(names));
}

int OrderListModel::Move(int row, bool up) {
    if (up ? !CanMoveUp(row) : !CanMoveDown(row)) RaiseError(kErrInvalidArgument);
    const int target = up ? row - 1 : row + 1;
    std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(target)]);
    order_[static_cast<size_t>(rows_[static_cast<size_t>(row)].Index)] = static_cast<int16_t>(row);
    order_[static_cast<size_t>(rows_[static_cast<size_t>(target)].Index)] = static_cast<int16_t>(target);
    return target;
}

}  // namespace zephrin::dialogs
