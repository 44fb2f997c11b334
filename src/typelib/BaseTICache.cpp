#include "typelib/BaseTICache.h"

#include "foundation/ErrorRecord.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;

BaseTICache& BaseTICache::Instance() {
    static BaseTICache cache;
    return cache;
}

ComPtr<ole::ITypeInfo> BaseTICache::IDispatch() {
    if (!loaded_) LoadBaseTypes();
    return dispatch_;
}

ComPtr<ole::ITypeInfo> BaseTICache::IUnknown() {
    if (!loaded_) LoadBaseTypes();
    return unknown_;
}

void BaseTICache::LoadBaseTypes() {
    ComPtr<tli::TypeLibInfo> lib;
    CheckHr(TliApp()->TypeLibInfoFromFile(u"stdole2.tlb", lib.put()));
    ComPtr<tli::TypeInfos> types;
    CheckHr(lib->get_TypeInfos(types.put()));
    ComPtr<tli::TypeInfo> dispatch;
    CheckHr(types->NamedItem(u"IDispatch", dispatch.put()));
    ComPtr<tli::ImpliedInterfaces> implied;
    CheckHr(dispatch->get_ImpliedInterfaces(implied.put()));
    ComPtr<tli::TypeInfo> unknown;
    CheckHr(implied->get_Item(1, unknown.put()));
    ComPtr<ole::ITypeInfo> d = ITypeInfoOf(dispatch.get());
    ComPtr<ole::ITypeInfo> u = ITypeInfoOf(unknown.get());
    dispatch_ = d;
    unknown_ = u;
    loaded_ = true;
}

}  // namespace zephrin
