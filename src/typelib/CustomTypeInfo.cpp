// CustomTypeInfo: state, attributes, alias, implemented interfaces, base type,
// names, GUIDs, version, alignment and layout.
#include "typelib/CustomTypeInfo.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "typelib/BaseTICache.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modMarbrel.h"
#include "typelib/modTYPEDESC.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/VtableChecks.h"

namespace zephrin {

using ole::ComPtr;
using ole::HRESULT;
using namespace typelib_detail;

namespace {

constexpr int32_t kImplDefault = ole::IMPLTYPEFLAG_FDEFAULT;
constexpr int32_t kImplSource = ole::IMPLTYPEFLAG_FSOURCE;
constexpr int32_t kImplRestricted = ole::IMPLTYPEFLAG_FRESTRICTED;
constexpr int32_t kImplDefaultVtable = ole::IMPLTYPEFLAG_FDEFAULTVTABLE;

// Everything a rebase or an alias check follows stops after this many steps.
constexpr int kMaxChain = 4096;

// What a coclass implements: an interface or a dispinterface (error 5 for any other kind).
ComPtr<ole::ITypeInfo> ImplementableType(tli::TypeInfo* typeInfo) {
    if (!typeInfo) RaiseError(kErrInvalidArgument);
    ComPtr<ole::ITypeInfo> ti = ITypeInfoOf(typeInfo);
    TypeAttr attr(ti.get());
    if (attr->typekind != ole::TKIND_INTERFACE && attr->typekind != ole::TKIND_DISPATCH)
        RaiseError(kErrInvalidArgument, u"A coclass can implement only interfaces and dispinterfaces.");
    return ti;
}

// A base of self: an interface (a dual counts), and one that holds none of
// the names of self's own members (error 5, TYPE_E_AMBIGUOUSNAME).
void CheckBase(ole::ITypeInfo* self, ole::ITypeInfo* base) {
    if (SameObject(base, self)) RaiseError(ole::TYPE_E_CIRCULARTYPE);
    {
        TypeAttr attr(base);
        if (attr->typekind != ole::TKIND_INTERFACE &&
            !(attr->typekind == ole::TKIND_DISPATCH && (attr->wTypeFlags & ole::TYPEFLAG_FDUAL)))
            RaiseError(kErrInvalidArgument);
    }
    TypeAttr attr(self);
    std::vector<ole::MEMBERID> ids;
    for (ole::UINT i = 0; i < attr->cFuncs; ++i) ids.push_back(FuncDescHolder(self, i)->memid);
    for (ole::UINT i = 0; i < attr->cVars; ++i) {
        ole::VARDESC* vd = nullptr;
        CheckHr(self->GetVarDesc(i, &vd));
        ids.push_back(vd->memid);
        self->ReleaseVarDesc(vd);
    }
    for (const ole::MEMBERID id : ids) {
        if (id == ole::MEMBERID_NIL) continue;  // a variable not laid out yet
        ole::BSTR name = nullptr;
        CheckHr(self->GetDocumentation(id, &name, nullptr, nullptr, nullptr));
        if (!modMarbrel::IsMemberNameFree(base, TakeBstr(name))) RaiseError(ole::TYPE_E_AMBIGUOUSNAME);
    }
}

}  // namespace

void CustomTypeInfo::Init(ole::ICreateTypeLib2* library, ole::ICreateTypeInfo* type) {
    if (!library || !type) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ICreateTypeInfo2> type2;
    CheckHr(ComPtr<ole::ICreateTypeInfo>(type).As(&type2));
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(type2.As(&ti));
    TypeAttr attr(ti.get());
    library_ = ComPtr<ole::ICreateTypeLib2>(library);
    type_ = type2;
    typeKind_ = attr->typekind;
}

int32_t CustomTypeInfo::FuncCount() {
    TypeAttr attr(ITypeInfo().get());
    return attr->cFuncs;
}

int32_t CustomTypeInfo::VarCount() {
    TypeAttr attr(ITypeInfo().get());
    return attr->cVars;
}

int32_t CustomTypeInfo::ImplTypeCount() {
    TypeAttr attr(ITypeInfo().get());
    return attr->cImplTypes;
}

// ---- Attributes ----

int32_t CustomTypeInfo::Attributes() {
    ole::SHORT mask = 0;
    CheckHr(TliTypeInfo(ITypeInfo().get())->get_AttributeMask(&mask));
    return mask;
}

void CustomTypeInfo::Attributes(int32_t newFlags) {
    int32_t kept = 0;
    if (typeKind_ == ole::TKIND_INTERFACE || typeKind_ == ole::TKIND_DISPATCH) {
        TypeAttr attr(ITypeInfo().get());
        kept = attr->wTypeFlags & (ole::TYPEFLAG_FREPLACEABLE | ole::TYPEFLAG_FDISPATCHABLE);
    }
    int32_t allowed = 0;
    switch (typeKind_) {
        case ole::TKIND_ENUM:
        case ole::TKIND_RECORD:
        case ole::TKIND_MODULE:
        case ole::TKIND_ALIAS:
        case ole::TKIND_UNION:
            allowed = 0x210;
            break;
        case ole::TKIND_INTERFACE:
            allowed = 0x63D0;
            if (newFlags & ole::TYPEFLAG_FDUAL) newFlags |= ole::TYPEFLAG_FOLEAUTOMATION;
            break;
        case ole::TKIND_DISPATCH:
            allowed = 0x4290;
            break;
        case ole::TKIND_COCLASS:
            allowed = 0x63F;
            break;
        default:
            break;
    }
    const ole::UINT flags = static_cast<ole::UINT>((newFlags & allowed) | kept);
    ole::UINT oldFlags = 0;
    if (typeKind_ == ole::TKIND_INTERFACE) oldFlags = TypeAttr(ITypeInfo().get())->wTypeFlags;
    CheckHr(type_->SetTypeFlags(flags));
    // An interface made dual keeps no empty slot in a vtable set by hand.
    if (typeKind_ == ole::TKIND_INTERFACE && (flags & ole::TYPEFLAG_FDUAL) && !(oldFlags & ole::TYPEFLAG_FDUAL) &&
        !TryLayOut()) {
        ScopeGuard undo([&] { CheckHr(type_->SetTypeFlags(oldFlags)); });
        ComPtr<ole::ITypeInfo> ti = ITypeInfo();
        std::vector<int16_t> offsets;
        for (ole::UINT i = 0; i < TypeAttr(ti.get())->cFuncs; ++i) offsets.push_back(FuncDescHolder(ti.get(), i)->oVft);
        CheckVtableOffsets(ti.get(), offsets);
        undo.Dismiss();
    }
}

// ---- Alias ----

void CustomTypeInfo::SetAlias(tli::VarTypeInfo* vtInfo) {
    if (typeKind_ != ole::TKIND_ALIAS) RaiseError(kErrInvalidArgument);
    if (!vtInfo) RaiseError(kErrInvalidArgument);
    // An alias of a chain of aliases that comes back here would never end.
    ole::VARTYPE vt = 0;
    CheckHr(vtInfo->get_VarType(&vt));
    if ((vt & 0xCFFF) == 0) {
        ComPtr<tli::TypeInfo> target;
        CheckHr(vtInfo->get_TypeInfo(target.put()));
        ComPtr<ole::ITypeInfo> self = ITypeInfo();
        ComPtr<ole::ITypeInfo> cur = target ? ITypeInfoOf(target.get()) : nullptr;
        std::unordered_set<ole::IUnknown*> seen;
        for (int steps = 0; cur; ++steps) {
            if (SameObject(cur.get(), self.get())) RaiseError(ole::TYPE_E_CIRCULARTYPE);
            ComPtr<ole::IUnknown> id;
            (void)cur.As(&id);
            if (!seen.insert(id.get()).second || steps > kMaxChain) RaiseError(ole::TYPE_E_CIRCULARTYPE);
            TypeAttr attr(cur.get());
            if (attr->typekind != ole::TKIND_ALIAS) break;
            const ole::TYPEDESC* td = &attr->tdescAlias;
            for (int depth = 0; td && td->vt != ole::VT_USERDEFINED && depth < kMaxChain; ++depth) {
                if (td->vt == ole::VT_PTR || td->vt == ole::VT_SAFEARRAY)
                    td = td->lptdesc;
                else if (td->vt == ole::VT_CARRAY)
                    td = td->lpadesc ? &td->lpadesc->tdescElem : nullptr;
                else
                    td = nullptr;
            }
            ComPtr<ole::ITypeInfo> next;
            if (td && td->vt == ole::VT_USERDEFINED && FAILED(cur->GetRefTypeInfo(td->hreftype, next.put())))
                next = nullptr;
            cur = next;
        }
    }
    TypeDescOwner owner;
    ole::TYPEDESC* desc = modTYPEDESC::BuildTypeDesc(owner, type_.get(), vtInfo);
    CheckHr(type_->SetTypeDescAlias(desc));
}

// ---- Implemented interfaces ----

CustomTypeInfo::ImplEntry CustomTypeInfo::ReadImplEntry(ole::UINT index) {
    ComPtr<ole::ITypeInfo> ti = ITypeInfo();
    ImplEntry e;
    ole::HREFTYPE href = 0;
    CheckHr(ti->GetRefTypeOfImplType(index, &href));
    CheckHr(ti->GetRefTypeInfo(href, e.type.put()));
    ole::INT flags = 0;
    CheckHr(ti->GetImplTypeFlags(index, &flags));
    e.flags = flags;
    ComPtr<ole::ITypeInfo2> ti2;
    CheckHr(ti.As(&ti2));
    ole::CUSTDATA cd{};
    ScopeGuard clear([&] { ole::ClearCustData(&cd); });
    CheckHr(ti2->GetAllImplTypeCustData(index, &cd));
    for (ole::DWORD i = 0; i < cd.cCustData; ++i)
        e.custData.emplace_back(cd.prgCustData[i].guid, ole::Variant(cd.prgCustData[i].varValue));
    return e;
}

void CustomTypeInfo::AppendImplEntry(ole::UINT index, const ImplEntry& entry) {
    ole::HREFTYPE href = 0;
    CheckHr(type_->AddRefTypeInfo(entry.type.get(), &href));
    CheckHr(type_->AddImplType(index, href));
    if (entry.flags != 0) CheckHr(type_->SetImplTypeFlags(index, entry.flags));
    for (const auto& [guid, value] : entry.custData) {
        ole::Variant v(value);
        CheckHr(type_->SetImplTypeCustData(index, guid, v.ptr()));
    }
}

void CustomTypeInfo::ReplaceImplTypesFrom(ole::UINT index, const std::vector<ImplEntry>& entries) {
    ole::UINT count = 0;
    {
        TypeAttr attr(ITypeInfo().get());
        count = attr->cImplTypes;
    }
    for (ole::UINT i = count; i > index; --i) CheckHr(type_->DeleteImplType(i - 1));
    for (size_t k = 0; k < entries.size(); ++k) AppendImplEntry(index + static_cast<ole::UINT>(k), entries[k]);
}

int32_t CustomTypeInfo::AddImplType(tli::TypeInfo* typeInfo, int32_t flags) {
    if (typeKind_ != ole::TKIND_COCLASS) RaiseError(kErrInvalidArgument);
    ComPtr<ole::ITypeInfo> ti = ImplementableType(typeInfo);
    ole::HREFTYPE href = 0;
    CheckHr(type_->AddRefTypeInfo(ti.get(), &href));
    const ole::UINT index = static_cast<ole::UINT>(ImplTypeCount());
    CheckHr(type_->AddImplType(index, href));
    ScopeGuard rollback([&] { (void)type_->DeleteImplType(index); });
    if (flags != 0) CheckHr(type_->SetImplTypeFlags(index, flags));
    rollback.Dismiss();
    return static_cast<int32_t>(index);
}

void CustomTypeInfo::DeleteImplType(int32_t implType) {
    if (typeKind_ != ole::TKIND_COCLASS) RaiseError(kErrInvalidArgument);
    const int32_t count = ImplTypeCount();
    if (implType < 0 || implType >= count) RaiseError(kErrSubscriptOutOfRange);
    const ole::UINT index = static_cast<ole::UINT>(implType);
    // The interfaces from implType on, to put back should a step fail.
    std::vector<ImplEntry> before;
    for (ole::UINT i = index; i < static_cast<ole::UINT>(count); ++i) before.push_back(ReadImplEntry(i));
    const int32_t oldFlags = before.front().flags;
    CheckHr(type_->DeleteImplType(index));
    ScopeGuard rollback([&] { ReplaceImplTypesFrom(index, before); });
    const int32_t remaining = count - 1;
    if (remaining > 0 && (oldFlags & (kImplDefault | kImplSource)) == (kImplDefault | kImplSource) &&
        !(oldFlags & kImplDefaultVtable)) {
        ComPtr<ole::ITypeInfo> ti = ITypeInfo();
        for (ole::UINT i = 0; i < static_cast<ole::UINT>(remaining); ++i) {
            ole::INT flags = 0;
            CheckHr(ti->GetImplTypeFlags(i, &flags));
            if (flags & kImplDefaultVtable) {
                CheckHr(type_->SetImplTypeFlags(i, flags | kImplDefault));
                break;
            }
        }
    }
    rollback.Dismiss();
}

void CustomTypeInfo::SetImplTypeType(int32_t implType, tli::TypeInfo* typeInfo) {
    if (typeKind_ != ole::TKIND_COCLASS) RaiseError(kErrInvalidArgument);
    const int32_t count = ImplTypeCount();
    if (implType < 0 || implType >= count) RaiseError(kErrSubscriptOutOfRange);
    ComPtr<ole::ITypeInfo> replacement = ImplementableType(typeInfo);
    const ole::UINT index = static_cast<ole::UINT>(implType);
    std::vector<ImplEntry> before;
    for (ole::UINT i = index; i < static_cast<ole::UINT>(count); ++i) before.push_back(ReadImplEntry(i));
    std::vector<ImplEntry> after = before;
    after.front().type = replacement;
    ScopeGuard rollback([&] { ReplaceImplTypesFrom(index, before); });
    ReplaceImplTypesFrom(index, after);
    rollback.Dismiss();
}

void CustomTypeInfo::SetImplTypeFlags(int32_t implType, int32_t& newFlags) {
    if (typeKind_ != ole::TKIND_COCLASS) RaiseError(kErrInvalidArgument);
    const int32_t count = ImplTypeCount();
    if (implType < 0 || implType >= count) RaiseError(kErrSubscriptOutOfRange);
    const ole::UINT index = static_cast<ole::UINT>(implType);
    if (count == 1) {
        if (newFlags & kImplDefaultVtable) newFlags |= kImplDefault | kImplSource;
        if ((newFlags & kImplDefault) && (newFlags & kImplRestricted)) newFlags &= ~kImplRestricted;
        CheckHr(type_->SetImplTypeFlags(index, newFlags & 15));
        return;
    }
    ComPtr<ole::ITypeInfo> ti = ITypeInfo();
    std::vector<int32_t> original(static_cast<size_t>(count));
    for (size_t i = 0; i < original.size(); ++i) {
        ole::INT f = 0;
        CheckHr(ti->GetImplTypeFlags(static_cast<ole::UINT>(i), &f));
        original[i] = f;
    }
    const int32_t old = original[index];
    if (((old ^ newFlags) & 15) == 0) return;
    std::vector<int32_t> flags = original;
    auto others = [&](auto&& pred) -> int {
        for (size_t i = 0; i < flags.size(); ++i)
            if (i != index && pred(flags[i])) return static_cast<int>(i);
        return -1;
    };

    if (newFlags & kImplDefaultVtable) newFlags |= kImplSource;
    bool wantDefaultSource = false;
    if (!(newFlags & kImplSource)) {
        if ((old & kImplSource) && (old & kImplDefault)) wantDefaultSource = true;
        if (newFlags & kImplDefault) {
            int i = others([](int32_t f) { return !(f & kImplSource) && (f & kImplDefault); });
            if (i >= 0) flags[i] &= ~kImplDefault;
        }
    } else if (!(newFlags & kImplDefaultVtable)) {
        if (!(newFlags & kImplDefault)) {
            if (old & kImplDefault) wantDefaultSource = true;
        } else {
            int i = others([](int32_t f) { return (f & kImplDefault) && (f & kImplSource); });
            if (i >= 0) flags[i] &= ~kImplDefault;
        }
    } else {
        bool existingDefault = false;
        for (size_t i = 0; i < flags.size(); ++i) {
            if (i == index || !(flags[i] & kImplSource)) continue;
            if (flags[i] & kImplDefaultVtable) {
                flags[i] &= ~(kImplDefaultVtable | kImplDefault);
            } else if (flags[i] & kImplDefault) {
                if (newFlags & kImplDefault)
                    flags[i] &= ~kImplDefault;
                else
                    existingDefault = true;
            }
        }
        if (!existingDefault) newFlags |= kImplDefault;
    }
    if (wantDefaultSource) {
        int i = others([](int32_t f) { return (f & (kImplSource | kImplDefaultVtable)) != 0; });
        if (i >= 0) flags[i] |= kImplDefault;
    }
    if ((newFlags & kImplDefault) && (newFlags & kImplRestricted)) newFlags &= ~kImplRestricted;
    flags[index] = newFlags;

    ScopeGuard rollback;
    for (size_t i = 0; i < flags.size(); ++i) {
        if (i != index && flags[i] == original[i]) continue;
        const ole::UINT at = static_cast<ole::UINT>(i);
        CheckHr(type_->SetImplTypeFlags(at, flags[i] & 15));
        rollback.OnFailure([this, at, f = original[at]] { CheckHr(type_->SetImplTypeFlags(at, f)); });
    }
    rollback.Dismiss();
}

// ---- Base type ----

void CustomTypeInfo::SetBaseType(int32_t baseType, tli::TypeInfo* customTInfo) {
    bool rebase = false;
    int32_t implCount = 0;
    {
        TypeAttr attr(ITypeInfo().get());
        implCount = attr->cImplTypes;
        rebase = typeKind_ == ole::TKIND_INTERFACE && (implCount != 0 || attr->cFuncs > 0);
    }
    if (typeKind_ != ole::TKIND_DISPATCH && typeKind_ != ole::TKIND_INTERFACE) RaiseError(kErrInvalidArgument);
    if (typeKind_ == ole::TKIND_DISPATCH && baseType == kBaseCustom && !customTInfo) RaiseError(kErrInvalidArgument);

    ComPtr<ole::ITypeInfo> newBase;
    switch (baseType) {
        case kBaseIUnknown:
            newBase = BaseTICache::Instance().IUnknown();
            break;
        case kBaseIDispatch:
            newBase = BaseTICache::Instance().IDispatch();
            break;
        case kBaseCustom:
            if (customTInfo) newBase = ITypeInfoOf(customTInfo);
            break;
        default:
            break;
    }
    if (newBase) CheckBase(ITypeInfo().get(), newBase.get());

    // A dispinterface given a custom base first takes IDispatch, which goes
    // again should the custom base fail.
    ScopeGuard rollback;
    if (typeKind_ == ole::TKIND_DISPATCH) {
        if (baseType == kBaseCustom) {
            if (implCount == 0) {
                SetBaseType(kBaseIDispatch, nullptr);
                rollback.OnFailure([this] { CheckHr(type_->DeleteImplType(0)); });
                implCount = 1;
            }
        }
        if (implCount >= 2) RaiseError(kErrInvalidArgument);
    }

    if (!rebase) {
        if (newBase) {
            ole::HREFTYPE href = 0;
            CheckHr(type_->AddRefTypeInfo(newBase.get(), &href));
            CheckHr(type_->AddImplType(static_cast<ole::UINT>(implCount), href));
        }
        rollback.Dismiss();
        return;
    }
    RebaseInterface(newBase);
}

void CustomTypeInfo::RebaseInterface(const ComPtr<ole::ITypeInfo>& newBase) {
    ComPtr<ole::ITypeInfo> self = ITypeInfo();
    if (newBase && SameObject(newBase.get(), self.get())) RaiseError(ole::TYPE_E_CIRCULARTYPE);

    int32_t funcCount = 0;
    bool hadBase = false;
    ole::UINT oldFlags = 0;
    {
        TypeAttr attr(self.get());
        funcCount = attr->cFuncs;
        hadBase = attr->cImplTypes != 0;
        oldFlags = attr->wTypeFlags;
    }

    if (oldFlags & ole::TYPEFLAG_FDUAL) {
        bool ok = false;
        if (newBase) {
            if (SameObject(newBase.get(), BaseTICache::Instance().IDispatch().get())) {
                ok = true;
            } else {
                TypeAttr attr(newBase.get());
                ok = (attr->wTypeFlags & ole::TYPEFLAG_FDISPATCHABLE) != 0;
            }
        }
        if (!ok) RaiseError(kErrInvalidArgument, modSupport::LoadResStringById(787));
    }
    const ole::UINT newFlags = oldFlags & 0xE7FF;

    // Everything the undo steps below refer to lives as long as the guard.
    std::optional<ImplEntry> oldBase;
    std::vector<MemberOrderEntry> entries;
    std::vector<ole::MEMBERID> originalIds;
    std::vector<int16_t> originalOffsets, positionOf;
    std::u16string tempName;
    ComPtr<ole::ICreateTypeInfo2> temp;
    ComPtr<ole::ITypeInfo> tempRead;
    bool tempDeleted = false;
    bool probe = false;
    if (hadBase) oldBase = ReadImplEntry(0);

    auto addBase = [](ole::ICreateTypeInfo* to, ole::ITypeInfo* base) {
        ole::HREFTYPE href = 0;
        CheckHr(to->AddRefTypeInfo(base, &href));
        CheckHr(to->AddImplType(0, href));
    };

    ScopeGuard rollback;
    // Whatever fails, the type ends laid out as it was.
    rollback.OnFailure([this] { (void)type_->LayOut(); });

    if (funcCount == 0) {
        if (hadBase) {
            CheckHr(type_->DeleteImplType(0));
            rollback.OnFailure([this, &oldBase] { AppendImplEntry(0, *oldBase); });
        }
        CheckHr(type_->SetTypeFlags(newFlags));
        rollback.OnFailure([this, oldFlags] { CheckHr(type_->SetTypeFlags(oldFlags)); });
        if (newBase) {
            addBase(type_.get(), newBase.get());
            rollback.OnFailure([this] { CheckHr(type_->DeleteImplType(0)); });
        }
        CheckHr(type_->LayOut());
        CheckVtableFits(self.get());
        rollback.Dismiss();
        return;
    }

    probe = TryLayOut();
    entries.resize(static_cast<size_t>(funcCount));
    originalIds.resize(entries.size());
    originalOffsets.resize(entries.size());
    for (int32_t i = 0; i < funcCount; ++i) {
        FuncDescHolder fd(self.get(), static_cast<ole::UINT>(i));
        entries[i].OrderKey = fd->oVft;
        entries[i].SourceIndex = static_cast<int16_t>(i);
        entries[i].NewMemID = IsAutomaticFuncMemID(fd->memid) ? ole::MEMBERID_NIL : fd->memid;
        originalIds[i] = fd->memid;
        originalOffsets[i] = fd->oVft;
    }
    if (probe)
        std::stable_sort(entries.begin(), entries.end(),
                         [](const MemberOrderEntry& a, const MemberOrderEntry& b) { return a.OrderKey < b.OrderKey; });
    // Where each original function stands in the temporary type.
    positionOf.resize(entries.size());
    for (size_t p = 0; p < entries.size(); ++p) {
        positionOf[entries[p].SourceIndex] = static_cast<int16_t>(p);
        entries[p].OrderKey = 0;
    }

    temp = CreateTemporaryType(ole::TKIND_INTERFACE, tempName);
    rollback.OnFailure([this, &temp, &tempName, &tempDeleted] {
        temp = nullptr;
        if (!tempDeleted) CheckHr(library_->DeleteTypeInfo(tempName.c_str()));
    });
    CheckHr(temp->SetTypeFlags(newFlags));
    if (newBase) addBase(temp.get(), newBase.get());
    bool share = false;
    CopyFuncDesc(temp.get(), self.get(), entries, 0, {}, share);
    CheckHr(temp->LayOut());

    // From here on the type itself changes; the temporary type holds its
    // functions, so a failure copies them back as they were.
    CheckHr(temp.As(&tempRead));
    for (int32_t i = funcCount; i > 0; --i) {
        CheckHr(type_->DeleteFuncDesc(static_cast<ole::UINT>(i - 1)));
        if (i == funcCount)
            rollback.OnFailure([this, &tempRead, &positionOf, &originalIds, &originalOffsets, probe] {
                // Drop what is left of the originals, then copy all of them back.
                TypeAttr attr(ITypeInfo().get());
                for (ole::UINT k = attr->cFuncs; k > 0; --k) CheckHr(type_->DeleteFuncDesc(k - 1));
                std::vector<MemberOrderEntry> restore(positionOf.size());
                for (size_t k = 0; k < restore.size(); ++k) {
                    restore[k].SourceIndex = positionOf[k];
                    restore[k].NewMemID = originalIds[k];
                    restore[k].OrderKey = probe ? int16_t{0} : originalOffsets[k];
                }
                bool noShare = false;
                CopyFuncDesc(type_.get(), tempRead.get(), restore, 0, {}, noShare);
            });
    }
    for (size_t p = 0; p < entries.size(); ++p) entries[p].SourceIndex = static_cast<int16_t>(p);
    if (hadBase) {
        CheckHr(type_->DeleteImplType(0));
        rollback.OnFailure([this, &oldBase] { AppendImplEntry(0, *oldBase); });
    }
    CheckHr(type_->SetTypeFlags(newFlags));
    rollback.OnFailure([this, oldFlags] { CheckHr(type_->SetTypeFlags(oldFlags)); });
    if (newBase) {
        addBase(type_.get(), newBase.get());
        rollback.OnFailure([this] { CheckHr(type_->DeleteImplType(0)); });
    }
    rollback.OnFailure([this] {
        TypeAttr attr(ITypeInfo().get());
        for (ole::UINT k = attr->cFuncs; k > 0; --k) CheckHr(type_->DeleteFuncDesc(k - 1));
    });
    share = false;
    CopyFuncDesc(type_.get(), tempRead.get(), entries, 0, {}, share);
    CheckHr(type_->LayOut());
    // Automatic slots follow the new base, and may end past the largest vtable.
    CheckVtableFits(self.get());
    // Should the temporary type stay, the type is put back from it: keep it
    // readable until it is gone.
    CheckHr(library_->DeleteTypeInfo(tempName.c_str()));
    tempDeleted = true;
    rollback.Dismiss();
    tempRead = nullptr;
    temp = nullptr;
}

// ---- Views ----

ComPtr<ole::ITypeInfo> CustomTypeInfo::ITypeInfo() {
    if (!type_) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(type_.As(&ti));
    return ti;
}

ComPtr<tli::TypeInfo> CustomTypeInfo::TypeInfo() { return VTableInterfaceOrSelf(TliTypeInfo(ITypeInfo().get())); }

// ---- Names, GUIDs, version, alignment, layout ----

void CustomTypeInfo::SetAlignment(int16_t cbAlignment) {
    // The alignment a record reads back comes with its layout: laid out now,
    // the type reads what a save stores, and a regeneration copies that.
    // Failing, the type keeps the alignment it was set to.
    const bool laidOut = typeKind_ == ole::TKIND_RECORD || typeKind_ == ole::TKIND_UNION;
    const auto before = static_cast<ole::WORD>(AlignmentSetting());
    CheckHr(type_->SetAlignment(static_cast<ole::WORD>(cbAlignment)));
    if (!laidOut) return;
    ScopeGuard restore([&] { (void)type_->SetAlignment(before); });
    CheckHr(type_->LayOut());
    restore.Dismiss();
}

int16_t CustomTypeInfo::AlignmentSetting() {
    ComPtr<ole::ICreateTypeInfoAlignment> engine;
    ole::WORD setting = 0;
    if (SUCCEEDED(type_->QueryInterface(ole::ICreateTypeInfoAlignment::kIID, engine.put_void())) &&
        SUCCEEDED(engine->GetAlignmentSetting(&setting)))
        return static_cast<int16_t>(setting);
    return static_cast<int16_t>(TypeAttr(ITypeInfo().get())->cbAlignment);
}

void CustomTypeInfo::SetTypeInfoName(std::u16string_view newName) {
    RequireStorable(newName);
    const std::u16string name(newName);
    CheckHr(type_->SetName(name.c_str()));
}

void CustomTypeInfo::SetTypeInfoGUID(std::u16string_view newGuid) {
    const std::u16string text(newGuid);
    ole::GUID guid{};
    CheckHr(ole::IIDFromString(text.c_str(), &guid));
    CheckHr(type_->SetGuid(guid));
}

void CustomTypeInfo::SetGuidDirect(const ole::GUID& guid) { CheckHr(type_->SetGuid(guid)); }

void CustomTypeInfo::SetVersion(int16_t majorVersion, int16_t minorVersion) {
    CheckHr(type_->SetVersion(static_cast<ole::WORD>(majorVersion), static_cast<ole::WORD>(minorVersion)));
}

void CustomTypeInfo::LayOut() { CheckHr(type_->LayOut()); }

}  // namespace zephrin
