#include "typelib/TypeLibSupport.h"

#include <chrono>
#include <ctime>
#include <cstdio>

#include "foundation/ScopeGuard.h"

namespace zephrin::typelib_detail {

using ole::ComPtr;

ComPtr<tli::TLIApplication> TliApp() {
    static const ComPtr<tli::TLIApplication> app = [] {
        ComPtr<tli::TLIApplication> a;
        CheckHr(tli::GetTLIApplication(a.put()));
        CheckHr(a->put_ResolveAliases(false));
        return a;
    }();
    return app;
}

ComPtr<tli::TypeInfo> TliTypeInfo(ole::ITypeInfo* type) {
    if (!type) RaiseError(kErrObjectNotSet);
    ComPtr<tli::TypeInfo> out;
    CheckHr(TliApp()->TypeInfoFromITypeInfo(type, out.put()));
    return out;
}

ComPtr<tli::TypeLibInfo> TliTypeLibInfo(ole::ITypeLib* lib) {
    ComPtr<tli::TypeLibInfo> out;
    CheckHr(TliApp()->TypeLibInfoFromITypeLib(lib, out.put()));
    return out;
}

ComPtr<ole::ITypeInfo> ITypeInfoOf(tli::TypeInfo* type) {
    if (!type) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo> out;
    CheckHr(type->get_ITypeInfo(out.put()));
    if (!out) RaiseError(kErrObjectNotSet);
    return out;
}

ComPtr<tli::TypeInfo> VTableInterfaceOrSelf(const ComPtr<tli::TypeInfo>& type) {
    if (!type) return type;
    // Only a dual dispinterface has a vtable interface apart from itself (an
    // alias has none), so one look at the type does.
    ComPtr<tli::TypeInfo> vt;
    if (SUCCEEDED(type->get_VTableInterface(vt.put())) && vt) return vt;
    return type;
}

bool SameObject(ole::IUnknown* a, ole::IUnknown* b) {
    if (!a || !b) return a == b;
    ComPtr<ole::IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(ole::IUnknown::kIID, ua.put_void()))) return false;
    if (FAILED(b->QueryInterface(ole::IUnknown::kIID, ub.put_void()))) return false;
    return ua.get() == ub.get();
}

std::u16string TemporaryTypeName() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    gmtime_r(&t, &tm);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d %02d%02d%02d.%06lld", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long long>(micros));
    std::u16string out;
    for (const char* p = buf; *p; ++p) out.push_back(static_cast<char16_t>(*p));
    return out;
}

TypeAttr::TypeAttr(ole::ITypeInfo* ti) : ti_(ti) {
    if (!ti) RaiseError(kErrObjectNotSet);
    CheckHr(ti->GetTypeAttr(&attr_));
    if (!attr_) RaiseError(ole::E_UNEXPECTED);
}

TypeAttr::~TypeAttr() {
    if (attr_) ti_->ReleaseTypeAttr(attr_);
}

void FuncDescHolder::Take(ole::ITypeInfo* ti, ole::UINT index) {
    Release();
    if (!ti) RaiseError(kErrObjectNotSet);
    ole::FUNCDESC* fd = nullptr;
    CheckHr(ti->GetFuncDesc(index, &fd));
    if (!fd) RaiseError(ole::E_UNEXPECTED);
    ti_ = ComPtr<ole::ITypeInfo>(ti);
    desc_ = fd;
}

void FuncDescHolder::Release() noexcept {
    if (desc_) ti_->ReleaseFuncDesc(desc_);
    desc_ = nullptr;
    ti_ = nullptr;
}

std::u16string TakeBstr(ole::BSTR b) {
    std::u16string s(ole::BstrView(b));
    ole::SysFreeString(b);
    return s;
}

std::vector<std::u16string> ReadNames(ole::ITypeInfo* ti, ole::MEMBERID memid, ole::UINT max) {
    std::vector<ole::BSTR> raw(max, nullptr);
    ole::UINT got = 0;
    const ole::HRESULT hr = ti->GetNames(memid, raw.data(), max, &got);
    std::vector<std::u16string> names;
    for (ole::UINT i = 0; i < got && i < max; ++i) names.emplace_back(ole::BstrView(raw[i]));
    for (ole::BSTR b : raw) ole::SysFreeString(b);
    CheckHr(hr);
    return names;
}

bool NamesReadFromPut(ole::ITypeInfo* ti, ole::MEMBERID memid) {
    const ole::ComPtr<ole::ITypeInfo2> ti2 = ole::ComPtr<ole::ITypeInfo>(ti).As<ole::ITypeInfo2>();
    if (!ti2) return false;
    const auto indexOf = [&](ole::INVOKEKIND kind) {
        ole::UINT index = 0;
        return SUCCEEDED(ti2->GetFuncIndexOfMemId(memid, kind, &index)) ? static_cast<int64_t>(index) : -1;
    };
    const int64_t get = indexOf(ole::INVOKE_PROPERTYGET);
    for (ole::INVOKEKIND kind : {ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF})
        if (const int64_t put = indexOf(kind); put >= 0 && (get < 0 || put < get)) return true;
    return false;
}

void SetValueParamName(ole::ICreateTypeInfo* cti, ole::UINT index, const std::u16string& name) {
    ole::ComPtr<ole::ICreateTypeInfoValueName> naming;
    CheckHr(cti->QueryInterface(ole::ICreateTypeInfoValueName::kIID, naming.put_void()));
    CheckHr(naming->SetValueParamName(index, name.c_str()));
}

CustItems ReadCust(const modITypeInfoHelper::GetCustDataFn& get) {
    ole::CUSTDATA cd{};
    ScopeGuard clear([&] { ole::ClearCustData(&cd); });
    get(cd);
    CustItems items;
    for (ole::DWORD i = 0; i < cd.cCustData; ++i)
        items.emplace_back(cd.prgCustData[i].guid, ole::Variant(cd.prgCustData[i].varValue));
    return items;
}

void WriteCust(const CustItems& items, const modITypeInfoHelper::SetCustDataFn& set) {
    for (const auto& [guid, value] : items) {
        ole::Variant v(value);
        set(guid, v.get());
    }
}

}  // namespace zephrin::typelib_detail
