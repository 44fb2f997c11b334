// CustomTypeInfo: flattening an interface onto its standard base, copying a
// member from another type, and copying variables between types.
#include <algorithm>
#include <optional>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/BaseTICache.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modMarbrel.h"
#include "typelib/modTYPEDESC.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/VtableChecks.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;
using modITypeInfoHelper::VarIndexOfMemId;

namespace {

// Inheritance chains longer than this are taken as circular.
constexpr size_t kMaxChain = 4096;

bool IsStandardBase(ole::ITypeInfo* ti) {
    BaseTICache& cache = BaseTICache::Instance();
    if (SameObject(ti, cache.IUnknown().get()) || SameObject(ti, cache.IDispatch().get())) return true;
    TypeAttr attr(ti);
    return attr->guid == ole::IUnknown::kIID || attr->guid == ole::IDispatch::kIID;
}

struct ChainEntry {
    ComPtr<ole::ITypeInfo> type;
    int32_t funcCount = 0;
};

}  // namespace

void CustomTypeInfo::MakeUniqueMemberName(std::u16string& name) {
    modMarbrel::MakeUniqueName(modMarbrel::MemberNamePredicate(ITypeInfo().get()), name, false);
}

void CustomTypeInfo::CopyVarDesc(ole::ICreateTypeInfo* dest, ole::ITypeInfo* source,
                                 std::span<MemberOrderEntry> entries, ole::UINT destIndex,
                                 std::u16string_view newName) {
    if (!dest || !source) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo2> source2;
    CheckHr(ComPtr<ole::ITypeInfo>(source).As(&source2));
    ComPtr<ole::ICreateTypeInfo2> dest2;
    CheckHr(ComPtr<ole::ICreateTypeInfo>(dest).As(&dest2));
    ComPtr<ole::ITypeLib> sourceLib = modITypeInfoHelper::GetContainingTypeLib(source);

    for (size_t e = 0; e < entries.size(); ++e, ++destIndex) {
        const MemberOrderEntry& entry = entries[e];
        const ole::UINT sourceIndex = static_cast<ole::UINT>(entry.SourceIndex);
        ole::VARDESC* held = nullptr;
        CheckHr(source->GetVarDesc(sourceIndex, &held));
        ScopeGuard release([&] {
            if (held) source->ReleaseVarDesc(held);
            held = nullptr;
        });
        const ole::MEMBERID sourceId = held->memid;

        // The help files stay those of each library, as in CopyFuncDesc.
        ole::BSTR bName = nullptr, bDoc = nullptr;
        ole::DWORD helpContext = 0, helpStringContext = 0;
        CheckHr(source->GetDocumentation(sourceId, &bName, &bDoc, &helpContext, nullptr));
        const std::u16string name = TakeBstr(bName);
        const std::u16string docString = TakeBstr(bDoc);
        CheckHr(source2->GetDocumentation2(sourceId, 0, nullptr, &helpStringContext, nullptr));

        ole::VARDESC vd = *held;
        vd.memid = entry.NewMemID;
        TypeDescOwner owner;
        {
            ComPtr<CustomVarTypeInfo> vti = CustomVarTypeInfo::New();
            vti->DuplicateFromTypeDesc(held->elemdescVar.tdesc, sourceLib.get(), source);
            modTYPEDESC::BuildTypeDesc(owner, dest, vti.get(), &vd.elemdescVar.tdesc);
        }
        CheckHr(dest->AddVarDesc(destIndex, &vd));
        ScopeGuard undoAdd([&] { (void)dest2->DeleteVarDesc(destIndex); });
        release.Rollback();
        owner.FreeTypeDesc();

        modITypeInfoHelper::CopyCustData(modITypeInfoHelper::GetVarCustData(source2.get(), sourceIndex),
                                         modITypeInfoHelper::SetVarCustData(dest2.get(), destIndex));
        if (helpContext != 0) CheckHr(dest->SetVarHelpContext(destIndex, helpContext));
        if (helpStringContext != 0) CheckHr(dest2->SetVarHelpStringContext(destIndex, helpStringContext));
        if (!docString.empty()) CheckHr(dest->SetVarDocString(destIndex, docString.c_str()));
        const std::u16string finalName = newName.empty() ? name : std::u16string(newName);
        CheckHr(dest->SetVarName(destIndex, finalName.c_str()));
        undoAdd.Dismiss();
    }
}

bool CustomTypeInfo::Flatten() {
    if (typeKind_ != ole::TKIND_INTERFACE) RaiseError(kErrInvalidArgument);
    ComPtr<ole::ITypeInfo> self = ITypeInfo();

    std::vector<ChainEntry> chain;
    ole::UINT oldFlags = 0;
    bool hadBase = false;
    {
        TypeAttr attr(self.get());
        chain.push_back({self, attr->cFuncs});
        oldFlags = attr->wTypeFlags;
        hadBase = attr->cImplTypes != 0;
    }
    int32_t total = chain[0].funcCount;
    // The type's own probe decides how its functions are put back on failure.
    const bool selfAutoSlots = TryLayOut();
    bool probe = selfAutoSlots;
    bool standardBase = false;
    ComPtr<ole::ITypeInfo> cur = self;
    for (;;) {
        if (chain.size() > kMaxChain) RaiseError(ole::TYPE_E_CIRCULARTYPE);
        if (probe && cur != self) probe = modITypeInfoHelper::CanLayOut(cur.get());
        ole::HREFTYPE href = 0;
        if (FAILED(cur->GetRefTypeOfImplType(0, &href))) break;
        ComPtr<ole::ITypeInfo> base;
        CheckHr(cur->GetRefTypeInfo(href, base.put()));
        modITypeInfoHelper::ResolveDualInterface(base);
        if (IsStandardBase(base.get())) {
            chain.push_back({base, 0});
            standardBase = true;
            break;
        }
        for (const ChainEntry& c : chain)
            if (SameObject(c.type.get(), base.get())) RaiseError(ole::TYPE_E_CIRCULARTYPE);
        TypeAttr attr(base.get());
        chain.push_back({base, attr->cFuncs});
        total += attr->cFuncs;
        cur = base;
    }
    const size_t flattened = standardBase ? chain.size() - 1 : chain.size();
    if (flattened < 2) return false;
    ComPtr<ole::ITypeInfo> stdBase = standardBase ? chain.back().type : nullptr;

    // Deepest base first, the type's own functions last.
    std::vector<MemberOrderEntry> entries;
    std::vector<size_t> firstOf(flattened);
    std::vector<MemberOrderEntry> own;  // the type's functions as they are, for a rollback
    for (size_t c = flattened; c-- > 0;) {
        firstOf[c] = entries.size();
        for (int32_t i = 0; i < chain[c].funcCount; ++i) {
            FuncDescHolder fd(chain[c].type.get(), static_cast<ole::UINT>(i));
            MemberOrderEntry e;
            e.SourceIndex = static_cast<int16_t>(i);
            e.NewMemID = IsAutomaticFuncMemID(fd->memid) ? ole::MEMBERID_NIL : fd->memid;
            e.OrderKey = probe ? int16_t{0} : fd->oVft;
            entries.push_back(e);
            if (c == 0) {
                MemberOrderEntry o;
                o.SourceIndex = static_cast<int16_t>(entries.size() - 1);
                o.NewMemID = fd->memid;
                o.OrderKey = selfAutoSlots ? int16_t{0} : fd->oVft;
                own.push_back(o);
            }
        }
    }

    std::optional<ImplEntry> oldBase;
    if (hadBase) oldBase = ReadImplEntry(0);
    auto addBase = [](ole::ICreateTypeInfo* to, ole::ITypeInfo* base) {
        ole::HREFTYPE href = 0;
        CheckHr(to->AddRefTypeInfo(base, &href));
        CheckHr(to->AddImplType(0, href));
    };
    TemporaryType tmp;
    ScopeGuard rollback;
    BeginTemporaryType(rollback, ole::TKIND_INTERFACE, tmp);
    ComPtr<ole::ICreateTypeInfo2>& temp = tmp.create;
    ComPtr<ole::ITypeInfo>& tempRead = tmp.read;
    CheckHr(temp->SetTypeFlags(oldFlags & 0xE7FF));
    if (stdBase) addBase(temp.get(), stdBase.get());
    for (size_t c = flattened; c-- > 0;) {
        if (chain[c].funcCount == 0) continue;
        std::span<MemberOrderEntry> part(entries.data() + firstOf[c], static_cast<size_t>(chain[c].funcCount));
        bool share = false;
        CopyFuncDesc(temp.get(), chain[c].type.get(), part, static_cast<ole::UINT>(firstOf[c]), {}, share);
    }
    CheckHr(temp->LayOut());
    CheckHr(temp.As(&tempRead));

    // The type changes from here; its own functions come back from the temporary type.
    rollback.OnFailure([&] {
        {
            TypeAttr attr(self.get());
            for (ole::UINT k = attr->cFuncs; k > 0; --k) CheckHr(type_->DeleteFuncDesc(k - 1));
        }
        bool noShare = false;
        CopyFuncDesc(type_.get(), tempRead.get(), own, 0, {}, noShare);
    });
    for (int32_t i = chain[0].funcCount; i > 0; --i) CheckHr(type_->DeleteFuncDesc(static_cast<ole::UINT>(i - 1)));
    if (hadBase) {
        CheckHr(type_->DeleteImplType(0));
        rollback.OnFailure([this, &oldBase] { AppendImplEntry(0, *oldBase); });
    }
    CheckHr(type_->SetTypeFlags(oldFlags & 0xE7FF));
    rollback.OnFailure([this, oldFlags] { CheckHr(type_->SetTypeFlags(oldFlags)); });
    if (stdBase) {
        addBase(type_.get(), stdBase.get());
        rollback.OnFailure([this] { CheckHr(type_->DeleteImplType(0)); });
    }
    rollback.OnFailure([&] {
        TypeAttr attr(self.get());
        for (ole::UINT k = attr->cFuncs; k > 0; --k) CheckHr(type_->DeleteFuncDesc(k - 1));
    });
    for (size_t p = 0; p < entries.size(); ++p) entries[p].SourceIndex = static_cast<int16_t>(p);
    if (total != 0) {
        bool share = false;
        CopyFuncDesc(type_.get(), tempRead.get(), entries, 0, {}, share);
    }
    CheckHr(type_->LayOut());
    CheckVtableFits(self.get());
    EndTemporaryType(rollback, tmp);
    return true;
}

void CustomTypeInfo::CopyMember(tli::TypeInfo* sourceTypeInfo, int32_t sourceMemberID,
                                std::u16string& newMemberName, int32_t& newMemberID, int32_t& invokeKindsAdded,
                                int32_t varPosition) {
    if (!sourceTypeInfo) RaiseError(kErrObjectNotSet);
    RefuseOwnMembers();
    RequireStorable(newMemberName);
    ComPtr<tli::TypeInfo> sourceView = VTableInterfaceOrSelf(ComPtr<tli::TypeInfo>(sourceTypeInfo));
    ComPtr<ole::ITypeInfo> source = ITypeInfoOf(sourceView.get());
    ComPtr<ole::ITypeInfo2> source2;
    CheckHr(source.As(&source2));
    {
        TypeAttr attr(source.get());
        if (attr->typekind != typeKind_) RaiseError(kErrTypeMismatch, modSupport::LoadResStringById(788));
    }
    ComPtr<ole::ITypeInfo> self = ITypeInfo();
    int32_t funcCount = 0, varCount = 0;
    ole::WORD vtableSize = 0;
    {
        TypeAttr attr(self.get());
        funcCount = attr->cFuncs;
        varCount = attr->cVars;
        vtableSize = attr->cbSizeVft;
    }
    const int32_t varIndex = VarIndexOfMemId(source2.get(), sourceMemberID);
    const bool isVar = varIndex >= 0;
    ole::MEMBERID newId = sourceMemberID;
    if (isVar ? IsAutomaticVarMemID(newId) : IsAutomaticFuncMemID(newId)) newId = ole::MEMBERID_NIL;
    // An explicit ID this type already uses is left to the layout.
    if (newId != ole::MEMBERID_NIL && SUCCEEDED(self->GetDocumentation(newId, nullptr, nullptr, nullptr, nullptr)))
        newId = ole::MEMBERID_NIL;
    if (isVar) {
        if (varPosition == -1) varPosition = varCount;
        if (varPosition < 0 || varPosition > varCount) RaiseError(kErrSubscriptOutOfRange);
    }
    std::u16string name = modITypeInfoHelper::MemberNameFromID(source.get(), sourceMemberID);
    MakeUniqueMemberName(name);

    int32_t kinds = 0;
    std::vector<MemberOrderEntry> entries;
    if (!isVar) {
        const bool autoSlots = typeKind_ != ole::TKIND_INTERFACE || AutomaticSlots();
        int32_t nextOffset = vtableSize;
        for (ole::INVOKEKIND kind : {ole::INVOKE_FUNC, ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT,
                                     ole::INVOKE_PROPERTYPUTREF}) {
            ole::UINT index = 0;
            if (FAILED(source2->GetFuncIndexOfMemId(sourceMemberID, kind, &index))) continue;
            MemberOrderEntry e;
            e.SourceIndex = static_cast<int16_t>(index);
            e.NewMemID = newId;
            e.OrderKey = autoSlots ? int16_t{0} : static_cast<int16_t>(nextOffset);
            if (!autoSlots) nextOffset += 4;
            entries.push_back(e);
            kinds |= kind;
            if (kind == ole::INVOKE_FUNC) break;
        }
        if (entries.empty()) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    }

    ScopeGuard rollback([this] { (void)type_->LayOut(); });
    if (!isVar) {
        // Accessors copied before a failure are removed again.
        rollback.OnFailure([&] {
            TypeAttr attr(self.get());
            for (ole::UINT k = attr->cFuncs; k > static_cast<ole::UINT>(funcCount); --k)
                CheckHr(type_->DeleteFuncDesc(k - 1));
        });
        bool share = true;
        CopyFuncDesc(type_.get(), source.get(), entries, static_cast<ole::UINT>(funcCount), name, share);
    } else {
        rollback.OnFailure([&] {
            TypeAttr attr(self.get());
            if (attr->cVars > varCount) CheckHr(type_->DeleteVarDesc(static_cast<ole::UINT>(varPosition)));
        });
        MemberOrderEntry e;
        e.SourceIndex = static_cast<int16_t>(varIndex);
        e.NewMemID = newId;
        entries.push_back(e);
        CopyVarDesc(type_.get(), source.get(), entries, static_cast<ole::UINT>(varPosition), name);
    }
    CheckHr(type_->LayOut());
    CheckVtableFits(self.get());
    const ole::MEMBERID id = modITypeInfoHelper::MemberIDFromName(self.get(), name);
    rollback.Dismiss();
    newMemberName = name;
    newMemberID = id;
    invokeKindsAdded = kinds;
}

}  // namespace zephrin
