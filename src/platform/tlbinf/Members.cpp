// Member lists, members, their parameter lists and parameters.
#include <algorithm>
#include <unordered_map>

#include "platform/tlbinf/TliSupport.h"

namespace tli::detail {
namespace {

using ole::FUNCDESC;
using ole::ITypeInfo;
using ole::VARDESC;

class MemberInfoObject final : public ole::RefCounted<MemberInfo> {
public:
    MemberInfoObject(std::shared_ptr<const TypeSnapshot> snap, bool isFunc, unsigned index)
        : snap_(std::move(snap)), isFunc_(isFunc), index_(index) {
        invokeKinds_ = isFunc_ ? Func().invkind
                               : (Var().varkind == ole::VAR_CONST ? INVOKE_CONST | ole::INVOKE_PROPERTYGET
                                                                   : ole::INVOKE_PROPERTYGET | ole::INVOKE_PROPERTYPUT);
    }
    // A grouped entry: the first member of the group, reporting the group's invoke kinds.
    MemberInfoObject(const MemberInfoObject& first, LONG invokeKinds)
        : snap_(first.snap_), isFunc_(first.isFunc_), index_(first.index_), invokeKinds_(invokeKinds),
          names_(first.names_), namesLoaded_(first.namesLoaded_) {}

    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<MemberInfo>(this, riid, ppv);
    }
    HRESULT get_Name(std::u16string* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (HRESULT hr = LoadNames(); FAILED(hr)) return hr;
        if (!names_.empty()) *out = names_[0];
        return S_OK;
    }
    HRESULT get_MemberId(MEMBERID* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = Id();
        return S_OK;
    }
    HRESULT get_InvokeKind(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = invokeKinds_;
        return S_OK;
    }
    HRESULT get_DescKind(ole::DESCKIND* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = isFunc_ ? ole::DESCKIND_FUNCDESC : ole::DESCKIND_VARDESC;
        return S_OK;
    }
    HRESULT get_MemberNumber(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = static_cast<LONG>(index_);
        return S_OK;
    }
    HRESULT get_AttributeMask(SHORT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = static_cast<SHORT>(isFunc_ ? Func().wFuncFlags : Var().wVarFlags);
        return S_OK;
    }
    HRESULT get_HelpString(std::u16string* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        ole::BSTR doc = nullptr;
        HRESULT hr = snap_->ti->GetDocumentation(Id(), nullptr, &doc, nullptr, nullptr);
        std::u16string text = TakeBstr(doc);
        if (SUCCEEDED(hr)) *out = std::move(text);
        return hr;
    }
    HRESULT get_HelpContext(DWORD* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return snap_->ti->GetDocumentation(Id(), nullptr, nullptr, out, nullptr);
    }
    HRESULT get_HelpStringDll(std::u16string* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (!snap_->ti2) return ole::E_NOINTERFACE;
        ole::BSTR dll = nullptr;
        HRESULT hr = snap_->ti2->GetDocumentation2(Id(), 0, nullptr, nullptr, &dll);
        std::u16string text = TakeBstr(dll);
        if (SUCCEEDED(hr)) *out = std::move(text);
        return hr;
    }
    HRESULT get_HelpStringContext(DWORD* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (!snap_->ti2) return ole::E_NOINTERFACE;
        return snap_->ti2->GetDocumentation2(Id(), 0, nullptr, out, nullptr);
    }
    HRESULT get_ReturnType(VarTypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (!isFunc_) return NewVarTypeInfo(Var().elemdescVar.tdesc, snap_->ti.get(), out);
        const FUNCDESC& f = Func();
        if (HidesRetval()) return NewVarTypeInfo(f.lprgelemdescParam[f.cParams - 1].tdesc, snap_->ti.get(), out);
        return NewVarTypeInfo(f.elemdescFunc.tdesc, snap_->ti.get(), out);
    }
    HRESULT get_Parameters(Parameters** out) override;
    HRESULT get_Value(VARIANT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (isFunc_ || Var().varkind != ole::VAR_CONST || !Var().lpvarValue) return ole::TYPE_E_WRONGTYPEKIND;
        return ole::VariantCopy(out, Var().lpvarValue);
    }
    HRESULT GetDllEntry(std::u16string* dllName, std::u16string* entryName, WORD* ordinal) override {
        if (!dllName || !entryName || !ordinal) return E_POINTER;
        dllName->clear();
        entryName->clear();
        *ordinal = 0;
        if (!isFunc_) return ole::TYPE_E_WRONGTYPEKIND;
        ole::BSTR dll = nullptr, entry = nullptr;
        WORD ord = 0;
        HRESULT hr = snap_->ti->GetDllEntry(Id(), Func().invkind, &dll, &entry, &ord);
        std::u16string d = TakeBstr(dll), e = TakeBstr(entry);
        if (FAILED(hr)) return hr;
        *ordinal = e.empty() ? ord : 0;
        *dllName = std::move(d);
        *entryName = std::move(e);
        return S_OK;
    }

    // For the parameter objects and the member lists.
    const TypeSnapshot& Snap() const { return *snap_; }
    bool IsFunc() const { return isFunc_; }
    unsigned Index() const { return index_; }
    const FUNCDESC& Func() const { return *snap_->funcs[index_]; }
    const VARDESC& Var() const { return *snap_->vars[index_]; }
    MEMBERID Id() const { return isFunc_ ? Func().memid : Var().memid; }
    // True when the last parameter is [retval], and so not listed.
    bool HidesRetval() const {
        const FUNCDESC& f = Func();
        return f.cParams > 0 && f.lprgelemdescParam &&
               (f.lprgelemdescParam[f.cParams - 1].paramdesc.wParamFlags & ole::PARAMFLAG_FRETVAL);
    }
    LONG ListedParams() const {
        if (!isFunc_ || Func().cParams <= 0 || !Func().lprgelemdescParam) return 0;
        return Func().cParams - (HidesRetval() ? 1 : 0);
    }
    // Member name, then the stored parameter names; read once.
    HRESULT LoadNames() {
        if (namesLoaded_) return S_OK;
        const unsigned max = isFunc_ ? static_cast<unsigned>(std::max<SHORT>(Func().cParams, 0)) + 1 : 1;
        std::vector<ole::BSTR> buf(max, nullptr);
        ole::UINT got = 0;
        HRESULT hr = snap_->ti->GetNames(Id(), buf.data(), max, &got);
        if (got > max) got = max;
        std::vector<std::u16string> names;
        names.reserve(got);
        for (ole::UINT i = 0; i < max; ++i) {
            if (i < got) names.push_back(TakeBstr(buf[i]));
            else ole::SysFreeString(buf[i]);
        }
        if (FAILED(hr)) return hr;
        names_ = std::move(names);
        namesLoaded_ = true;
        return S_OK;
    }
    const std::vector<std::u16string>& Names() const { return names_; }

private:
    std::shared_ptr<const TypeSnapshot> snap_;
    bool isFunc_;
    unsigned index_;
    LONG invokeKinds_ = 0;
    std::vector<std::u16string> names_;
    bool namesLoaded_ = false;
};

class ParameterInfoObject final : public ole::RefCounted<ParameterInfo> {
public:
    ParameterInfoObject(ComPtr<MemberInfoObject> member, unsigned index) : member_(std::move(member)), index_(index) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<ParameterInfo>(this, riid, ppv);
    }
    HRESULT get_Me(ParameterInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = this;
        AddRef();
        return S_OK;
    }
    HRESULT get_Name(std::u16string* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (HRESULT hr = member_->LoadNames(); FAILED(hr)) return hr;
        const auto& names = member_->Names();
        if (index_ + 1 < names.size()) *out = names[index_ + 1];
        return S_OK;
    }
    HRESULT get_Optional(bool* out) override { return Flag(ole::PARAMFLAG_FOPT, out); }
    HRESULT get_VarTypeInfo(VarTypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return NewVarTypeInfo(Elem().tdesc, member_->Snap().ti.get(), out);
    }
    HRESULT get_Default(bool* out) override { return Flag(ole::PARAMFLAG_FHASDEFAULT, out); }
    HRESULT get_DefaultValue(VARIANT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        const ole::PARAMDESC& pd = Elem().paramdesc;
        if (!(pd.wParamFlags & ole::PARAMFLAG_FHASDEFAULT) || !pd.pparamdescex) return TLI_E_NODEFAULTVALUE;
        return ole::VariantCopy(out, &pd.pparamdescex->varDefaultValue);
    }
    HRESULT get_HasCustomData(bool* out) override { return Flag(ole::PARAMFLAG_FHASCUSTDATA, out); }
    HRESULT get_CustomDataCollection(CustomDataCollection** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        ole::CUSTDATA data{};
        if (const auto& ti2 = member_->Snap().ti2) {
            HRESULT hr = ti2->GetAllParamCustData(member_->Index(), index_, &data);
            if (FAILED(hr)) return hr;
        }
        HRESULT hr = CreateCustomDataCollection(&data, out);
        ole::ClearCustData(&data);
        return hr;
    }
    HRESULT get_Flags(USHORT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = Elem().paramdesc.wParamFlags;
        return S_OK;
    }

private:
    const ole::ELEMDESC& Elem() const { return member_->Func().lprgelemdescParam[index_]; }
    HRESULT Flag(USHORT bit, bool* out) const {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = (Elem().paramdesc.wParamFlags & bit) != 0;
        return S_OK;
    }

    ComPtr<MemberInfoObject> member_;
    unsigned index_;
};

class ParametersObject final : public ole::RefCounted<Parameters> {
public:
    explicit ParametersObject(ComPtr<MemberInfoObject> member) : member_(std::move(member)) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<Parameters>(this, riid, ppv);
    }
    HRESULT get_Count(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = member_->ListedParams();
        return S_OK;
    }
    HRESULT get_Item(LONG index, ParameterInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (index < 1 || index > member_->ListedParams()) return ole::TYPE_E_ELEMENTNOTFOUND;
        return GiveOut(ComPtr<ParameterInfo>(new ParameterInfoObject(member_, static_cast<unsigned>(index - 1))), out);
    }
    HRESULT get_OptionalCount(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (member_->IsFunc()) *out = member_->Func().cParamsOpt;
        return S_OK;
    }
    HRESULT get_ParamArray(bool* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = member_->IsFunc() && member_->Func().cParamsOpt == -1;
        return S_OK;
    }

private:
    ComPtr<MemberInfoObject> member_;
};

HRESULT MemberInfoObject::get_Parameters(Parameters** out) {
    if (HRESULT hr = Start(out); FAILED(hr)) return hr;
    return GiveOut(ComPtr<Parameters>(new ParametersObject(ComPtr<MemberInfoObject>(this))), out);
}

// A stable merge sort that stays within bounds whatever the comparison answers.
HRESULT SortMembers(std::vector<ComPtr<MemberInfoObject>>& items, CustomSort* sort) {
    HRESULT failure = S_OK;
    auto before = [&](const ComPtr<MemberInfoObject>& a, const ComPtr<MemberInfoObject>& b) {
        if (FAILED(failure)) return false;
        LONG r = 0;
        HRESULT hr = sort->Compare(b.get(), a.get(), &r);
        if (FAILED(hr)) {
            failure = hr;
            return false;
        }
        return r > 0;  // a goes first only when b sorts after it
    };
    std::vector<ComPtr<MemberInfoObject>> work(items), tmp(items.size());
    for (size_t width = 1; width < work.size() && SUCCEEDED(failure); width *= 2) {
        for (size_t lo = 0; lo < work.size(); lo += 2 * width) {
            const size_t mid = std::min(lo + width, work.size()), hi = std::min(lo + 2 * width, work.size());
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) tmp[k++] = before(work[j], work[i]) ? work[j++] : work[i++];
            while (i < mid) tmp[k++] = work[i++];
            while (j < hi) tmp[k++] = work[j++];
        }
        work.swap(tmp);
    }
    if (FAILED(failure)) return failure;
    items = std::move(work);
    return S_OK;
}

class MembersObject final : public ole::RefCounted<Members> {
public:
    explicit MembersObject(std::vector<ComPtr<MemberInfoObject>> items) : original_(std::move(items)), items_(original_) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<Members>(this, riid, ppv);
    }
    HRESULT get_Count(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = static_cast<LONG>(items_.size());
        return S_OK;
    }
    HRESULT get_Item(LONG index, MemberInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (index < 1 || static_cast<size_t>(index) > items_.size()) return ole::TYPE_E_ELEMENTNOTFOUND;
        *out = items_[static_cast<size_t>(index - 1)].get();
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT GetMemberById(MEMBERID id, MemberInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        for (const auto& m : items_) {
            if (m->Id() == id) {
                *out = m.get();
                m->AddRef();
                return S_OK;
            }
        }
        return ole::TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT get_CustomSort(CustomSort** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return sort_.CopyTo(out);
    }
    HRESULT putref_CustomSort(CustomSort* sort) override {
        std::vector<ComPtr<MemberInfoObject>> items = original_;
        if (sort) {
            if (HRESULT hr = SortMembers(items, sort); FAILED(hr)) return hr;
        }
        items_ = std::move(items);
        sort_ = ComPtr<CustomSort>(sort);
        return S_OK;
    }

private:
    std::vector<ComPtr<MemberInfoObject>> original_;
    std::vector<ComPtr<MemberInfoObject>> items_;
    ComPtr<CustomSort> sort_;
};

HRESULT GroupMembers(std::vector<ComPtr<MemberInfoObject>>& items) {
    std::vector<ComPtr<MemberInfoObject>> firsts;
    std::vector<LONG> kinds;
    std::unordered_map<std::u16string, size_t> byName;
    byName.reserve(items.size());
    for (const auto& m : items) {
        if (HRESULT hr = m->LoadNames(); FAILED(hr)) return hr;
        LONG kind = 0;
        (void)m->get_InvokeKind(&kind);
        const std::u16string key = FoldName(m->Names().empty() ? std::u16string() : m->Names()[0]);
        auto [it, added] = byName.emplace(key, firsts.size());
        if (added) {
            firsts.push_back(m);
            kinds.push_back(kind);
        } else {
            kinds[it->second] |= kind;
        }
    }
    items.clear();
    items.reserve(firsts.size());
    for (size_t i = 0; i < firsts.size(); ++i)
        items.push_back(ComPtr<MemberInfoObject>(new MemberInfoObject(*firsts[i], kinds[i])));
    return S_OK;
}

}  // namespace

HRESULT NewMembers(ole::ITypeInfo* type, bool grouped, Members** out) {
    std::shared_ptr<const TypeSnapshot> snap;
    if (HRESULT hr = TypeSnapshot::Take(type, &snap); FAILED(hr)) return hr;
    std::vector<ComPtr<MemberInfoObject>> items;
    items.reserve(snap->vars.size() + snap->funcs.size());
    for (unsigned i = 0; i < snap->vars.size(); ++i) items.push_back(ComPtr<MemberInfoObject>(new MemberInfoObject(snap, false, i)));
    for (unsigned i = 0; i < snap->funcs.size(); ++i) items.push_back(ComPtr<MemberInfoObject>(new MemberInfoObject(snap, true, i)));
    if (grouped) {
        if (HRESULT hr = GroupMembers(items); FAILED(hr)) return hr;
    }
    return GiveOut(ComPtr<Members>(new MembersObject(std::move(items))), out);
}

}  // namespace tli::detail
