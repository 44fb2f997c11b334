#include "changes/kinds/AttributeChange.h"

#include "foundation/modSupport.h"
#include "typelib/modMarbrel.h"

namespace zephrin {

std::u16string AttributeChange::Items(int32_t mask, std::initializer_list<std::pair<int32_t, int32_t>> words) {
    std::u16string items;
    for (const auto& [bit, id] : words) {
        if (!(mask & bit)) continue;
        if (!items.empty()) items += modSupport::LoadResStringById(719);
        items += modSupport::LoadResStringById(id);
    }
    return items;
}

bool AttributeChange::SameType(const ole::ComPtr<CustomVarTypeInfo>& a,
                               const ole::ComPtr<CustomVarTypeInfo>& b) {
    return modMarbrel::VarTypeInfoEquals(a.get(), b.get());
}

ole::ComPtr<CustomVarTypeInfo> AttributeChange::LiveType(tli::VarTypeInfo* type, ole::ITypeLib* lib) {
    if (!type) return nullptr;
    ole::ComPtr<CustomVarTypeInfo> live = CustomVarTypeInfo::New();
    live->Duplicate(type);
    live->CurrentITypeLib(lib);
    return live;
}

ole::ComPtr<CustomVarTypeInfo> AttributeChange::BoundType(const std::shared_ptr<ICachedVarType>& entry,
                                                          ole::ITypeLib* context) {
    if (!entry) return nullptr;
    return LiveType(entry->GetVarTypeInfo(context).get(), context);
}

}  // namespace zephrin
