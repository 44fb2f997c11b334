// CustomTypeInfo: copying functions from one type into another (with names,
// help, DLL entries and custom data), the layout probe and temporary types.
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modTYPEDESC.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using ole::HRESULT;
using namespace typelib_detail;

namespace {

bool SharesIdWithAccessor(ole::ITypeInfo2* ti, ole::MEMBERID memid) {
    ole::UINT index = 0;
    for (ole::INVOKEKIND kind : {ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF})
        if (SUCCEEDED(ti->GetFuncIndexOfMemId(memid, kind, &index))) return true;
    return false;
}

}  // namespace

void CustomTypeInfo::CopyFuncDesc(ole::ICreateTypeInfo* dest, ole::ITypeInfo* source,
                                  std::span<MemberOrderEntry> entries, ole::UINT destIndex,
                                  std::u16string_view newName, bool& shareMemberID) {
    if (!dest || !source) RaiseError(kErrObjectNotSet);
    if (shareMemberID) {
        shareMemberID = false;
        if (entries.size() > 1) shareMemberID = SameObject(dest, source);
    }
    ComPtr<ole::ITypeInfo2> source2;
    CheckHr(ComPtr<ole::ITypeInfo>(source).As(&source2));
    ComPtr<ole::ICreateTypeInfo2> dest2;
    CheckHr(ComPtr<ole::ICreateTypeInfo>(dest).As(&dest2));
    ComPtr<ole::ITypeLib> sourceLib = modITypeInfoHelper::GetContainingTypeLib(source);
    ComPtr<ole::ITypeInfo> destRead;
    CheckHr(dest2.As(&destRead));
    bool isModule = false;
    {
        TypeAttr attr(destRead.get());
        isModule = attr->typekind == ole::TKIND_MODULE;
    }
    // A function added without an ID gets one of its own when it is first
    // read, so the accessors of one source property that are copied with
    // automatic IDs are kept together: the first one is read back at once and
    // the later ones take the ID it got.
    std::unordered_map<ole::MEMBERID, ole::MEMBERID> propertyIds;
    // The source properties whose Get is copied already: a put copied before
    // its Get is the accessor the copy's names are read from.
    std::unordered_set<ole::MEMBERID> getsCopied;

    for (size_t e = 0; e < entries.size(); ++e, ++destIndex) {
        const MemberOrderEntry& entry = entries[e];
        const ole::UINT sourceIndex = static_cast<ole::UINT>(entry.SourceIndex);
        FuncDescHolder held(source, sourceIndex);
        const ole::MEMBERID sourceId = held->memid;

        // Help data of the member. Its help files are those of the source's
        // library and stay there: the destination keeps its own. The help
        // string context goes with the member whether a library names a help
        // string DLL or not (a move of functions loses nothing). A
        // dispinterface declared over an interface has none for the
        // interface's functions it presents.
        ole::BSTR bDoc = nullptr;
        ole::DWORD helpContext = 0, helpStringContext = 0;
        CheckHr(source->GetDocumentation(sourceId, nullptr, &bDoc, &helpContext, nullptr));
        const std::u16string docString = TakeBstr(bDoc);
        const HRESULT contextHr = source2->GetDocumentation2(sourceId, 0, nullptr, &helpStringContext, nullptr);
        if (contextHr != ole::TYPE_E_ELEMENTNOTFOUND || modITypeInfoHelper::DispatchedChain(source).empty())
            CheckHr(contextHr);

        ole::FUNCDESC fd = *held;
        fd.memid = entry.NewMemID;
        // A method that shares its ID (and name) with a property accessor
        // stays on one ID with it, as the property's accessors do.
        const bool joined = held->invkind != ole::INVOKE_FUNC ||
                            (fd.memid == ole::MEMBERID_NIL && SharesIdWithAccessor(source2.get(), sourceId));
        if (fd.memid == ole::MEMBERID_NIL && joined)
            if (auto it = propertyIds.find(sourceId); it != propertyIds.end()) fd.memid = it->second;
        fd.oVft = entry.OrderKey;
        std::u16string dllName, entryName;
        ole::WORD ordinal = 0;
        bool hasEntry = false;
        if (isModule) {
            ole::BSTR d = nullptr, n = nullptr;
            if (SUCCEEDED(source->GetDllEntry(sourceId, held->invkind, &d, &n, &ordinal))) hasEntry = true;
            dllName = TakeBstr(d);
            entryName = TakeBstr(n);
        }

        // Types are rebuilt for the destination (references added there).
        TypeDescOwner owner;
        std::vector<ole::ELEMDESC> params;
        if (held->cParams > 0 && held->lprgelemdescParam)
            params.assign(held->lprgelemdescParam, held->lprgelemdescParam + held->cParams);
        for (ole::ELEMDESC& p : params) {
            ComPtr<CustomVarTypeInfo> vti = CustomVarTypeInfo::New();
            vti->DuplicateFromTypeDesc(p.tdesc, sourceLib.get(), source);
            modTYPEDESC::BuildTypeDesc(owner, dest, vti.get(), &p.tdesc);
        }
        {
            ComPtr<CustomVarTypeInfo> vti = CustomVarTypeInfo::New();
            vti->DuplicateFromTypeDesc(held->elemdescFunc.tdesc, sourceLib.get(), source);
            modTYPEDESC::BuildTypeDesc(owner, dest, vti.get(), &fd.elemdescFunc.tdesc);
        }
        fd.lprgelemdescParam = params.empty() ? nullptr : params.data();
        CheckHr(dest->AddFuncDesc(destIndex, &fd));
        ScopeGuard undoAdd([&] { (void)dest2->DeleteFuncDesc(destIndex); });
        if (fd.memid == ole::MEMBERID_NIL && joined) {
            FuncDescHolder added(destRead.get(), destIndex);
            propertyIds.emplace(sourceId, added->memid);
        }
        const ole::SHORT cParams = held->cParams;
        const ole::INVOKEKIND invkind = held->invkind;
        held.Release();
        owner.FreeTypeDesc();

        modITypeInfoHelper::CopyCustData(modITypeInfoHelper::GetFuncCustData(source2.get(), sourceIndex),
                                         modITypeInfoHelper::SetFuncCustData(dest2.get(), destIndex));
        if (isModule && hasEntry) {
            ole::DllEntryPoint point = entryName.empty() ? ole::DllEntryPoint(ordinal) : ole::DllEntryPoint(entryName);
            CheckHr(dest->DefineFuncAsDllEntry(destIndex, dllName.c_str(), point));
        }

        // Names: a put's value parameter stays unnamed, unless the source's
        // names are read from its puts (see NamesReadFromPut) or the copy's
        // are, the put going before its Get.
        const ole::UINT want = static_cast<ole::UINT>(cParams) + 1;
        std::vector<ole::BSTR> raw(want, nullptr);
        ole::UINT got = 0;
        const HRESULT namesHr = source->GetNames(sourceId, raw.data(), want, &got);
        std::vector<std::u16string> names;
        for (ole::UINT i = 0; i < got && i < want; ++i) names.emplace_back(ole::BstrView(raw[i]));
        for (ole::BSTR b : raw) ole::SysFreeString(b);
        CheckHr(namesHr);
        std::optional<std::u16string> valueName;
        if (got == want && (invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF))) {
            if (!getsCopied.contains(sourceId) || NamesReadFromPut(source, sourceId)) valueName = names.back();
            names.pop_back();
        }
        if (!newName.empty()) {
            if (names.empty())
                names.emplace_back(newName);
            else
                names[0] = std::u16string(newName);
        }
        if (!names.empty()) {
            std::vector<ole::LPOLESTR> ptrs;
            for (std::u16string& n : names) ptrs.push_back(n.data());
            const auto count = static_cast<ole::UINT>(ptrs.size());
            HRESULT hr = dest->SetFuncAndParamNames(destIndex, ptrs.data(), count);
            // A method and a property accessor of the source that share a
            // name and an ID are copied as they are.
            if (hr == ole::TYPE_E_AMBIGUOUSNAME && newName.empty() &&
                modITypeInfoHelper::IsOwnName(source, names[0], sourceId, invkind))
                hr = modITypeInfoHelper::SetFuncNamesSharingId(dest, destIndex, ptrs.data(), count);
            CheckHr(hr);
        }
        if (valueName) SetValueParamName(dest, destIndex, *valueName);
        if (invkind == ole::INVOKE_PROPERTYGET) getsCopied.insert(sourceId);

        if (helpContext != 0) CheckHr(dest->SetFuncHelpContext(destIndex, helpContext));
        if (helpStringContext != 0) CheckHr(dest2->SetFuncHelpStringContext(destIndex, helpStringContext));
        if (!docString.empty()) CheckHr(dest->SetFuncDocString(destIndex, docString.c_str()));
        for (ole::SHORT p = 0; p < cParams; ++p)
            modITypeInfoHelper::CopyCustData(
                modITypeInfoHelper::GetParamCustData(source2.get(), sourceIndex, static_cast<ole::UINT>(p)),
                modITypeInfoHelper::SetParamCustData(dest2.get(), destIndex, static_cast<ole::UINT>(p)));
        undoAdd.Dismiss();

        if (shareMemberID && e == 0 && !names.empty()) {
            const ole::MEMBERID id = modITypeInfoHelper::MemberIDFromName(source, names[0]);
            for (size_t k = 1; k < entries.size(); ++k) entries[k].NewMemID = id;
        }
    }
}

bool CustomTypeInfo::TryLayOut(bool restoreLayout) {
    return modITypeInfoHelper::ProbeLayOut(type_.get(), ITypeInfo().get(), restoreLayout);
}

bool CustomTypeInfo::AutomaticSlots() { return AutomaticSlots(true); }

bool CustomTypeInfo::AutomaticSlots(bool withDerived) {
    if (typeKind_ != ole::TKIND_INTERFACE) return false;
    // The first probe also fixes the automatic member IDs still open, so the
    // second one's trial in front of the functions can't shift them.
    if (!TryLayOut()) return false;
    if (!modITypeInfoHelper::ProbeAutomaticSlots(type_.get(), ITypeInfo().get())) {
        // Every function is copied out and back with an automatic slot, in its
        // place, with its ID, names, help and custom data; the offsets stay.
        RebuildFunctions({}, false, false, false, false);
    }
    // The interfaces of the library built on this one follow its vtable as it
    // grows or shrinks only where their own slots are automatic; the library
    // is written so for those whose slots sit where automatic ones would.
    if (withDerived) GiveDerivedAutomaticSlots();
    return true;
}

void CustomTypeInfo::GiveDerivedAutomaticSlots() {
    ComPtr<ole::ITypeLib> lib;
    CheckHr(library_.As(&lib));
    // Types are told apart by their place in the library: a reference may
    // hand out another object for the same type.
    ole::UINT selfIndex = 0;
    {
        ComPtr<ole::ITypeLib> home;
        CheckHr(ITypeInfo()->GetContainingTypeLib(home.put(), &selfIndex));
    }
    const auto isSelf = [&](ole::ITypeInfo* ti) {
        ComPtr<ole::ITypeLib> home;
        ole::UINT index = 0;
        return SUCCEEDED(ti->GetContainingTypeLib(home.put(), &index)) && index == selfIndex &&
               SameObject(home.get(), lib.get());
    };
    const ole::UINT count = lib->GetTypeInfoCount();
    for (ole::UINT i = 0; i < count; ++i) {
        ole::TYPEKIND kind = ole::TKIND_ENUM;
        ComPtr<ole::ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || FAILED(lib->GetTypeInfo(i, ti.put()))) continue;
        if (kind == ole::TKIND_DISPATCH) {
            // A dual's vtable half.
            ole::HREFTYPE half = 0;
            ComPtr<ole::ITypeInfo> vtable;
            if (FAILED(ti->GetRefTypeOfImplType(static_cast<ole::UINT>(-1), &half)) ||
                FAILED(ti->GetRefTypeInfo(half, vtable.put())))
                continue;
            ti = vtable;
        } else if (kind != ole::TKIND_INTERFACE) {
            continue;
        }
        if (i == selfIndex) continue;
        bool derived = false;
        ComPtr<ole::ITypeInfo> cur = ti;
        for (ole::UINT depth = 0; depth < count && !derived; ++depth) {
            ole::HREFTYPE href = 0;
            ComPtr<ole::ITypeInfo> base;
            if (FAILED(cur->GetRefTypeOfImplType(0, &href)) || FAILED(cur->GetRefTypeInfo(href, base.put())) || !base)
                break;
            derived = isSelf(base.get());
            cur = base;
        }
        ComPtr<ole::ICreateTypeInfo2> cti;
        if (!derived || FAILED(ti.As(&cti))) continue;
        CustomTypeInfo other;
        other.Init(library_.get(), cti.get());
        (void)other.AutomaticSlots(false);  // every interface built on this one is found here
    }
}

ComPtr<ole::ICreateTypeInfo2> CustomTypeInfo::CreateTemporaryType(ole::TYPEKIND kind, std::u16string& name) {
    const std::u16string base = TemporaryTypeName();
    for (int attempt = 0;; ++attempt) {
        name = attempt == 0 ? base : base + u" " + modSupport::FormatItem(attempt).Text;
        ComPtr<ole::ICreateTypeInfo> created;
        const HRESULT hr = library_->CreateTypeInfo(name.c_str(), kind, created.put());
        if (hr == ole::TYPE_E_NAMECONFLICT && attempt < 1000) continue;
        CheckHr(hr);
        ComPtr<ole::ICreateTypeInfo2> out;
        const HRESULT qi = created.As(&out);
        if (FAILED(qi)) {
            (void)library_->DeleteTypeInfo(name.c_str());
            CheckHr(qi);
        }
        return out;
    }
}

void CustomTypeInfo::BeginTemporaryType(ScopeGuard& rollback, ole::TYPEKIND kind, TemporaryType& temp) {
    rollback.OnFailure([this] { (void)type_->LayOut(); });
    temp.create = CreateTemporaryType(kind, temp.name);
    rollback.OnFailure([this, &temp] {
        temp.read = nullptr;
        temp.create = nullptr;
        CheckHr(library_->DeleteTypeInfo(temp.name.c_str()));
    });
}

void CustomTypeInfo::EndTemporaryType(ScopeGuard& rollback, TemporaryType& temp) {
    CheckHr(library_->DeleteTypeInfo(temp.name.c_str()));
    rollback.Dismiss();
    temp.read = nullptr;
    temp.create = nullptr;
}

}  // namespace zephrin
