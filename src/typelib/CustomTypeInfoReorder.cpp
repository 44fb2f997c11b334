// CustomTypeInfo: reordering functions and variables and resetting member
// IDs. A type under construction cannot move or renumber members, so every
// member is copied into a temporary type of the same library in the wanted
// order, deleted from the type and copied back. Should a step fail once the
// type's members are gone, they are copied back from the temporary type as
// they were before anything else is undone.
#include <algorithm>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/VtableChecks.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;

namespace {

void SortByOrderKey(std::vector<MemberOrderEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const MemberOrderEntry& a, const MemberOrderEntry& b) { return a.OrderKey < b.OrderKey; });
}

[[noreturn]] void RaiseOrderSize() { RaiseError(kErrSubscriptOutOfRange, modSupport::LoadResStringById(790)); }

}  // namespace

namespace typelib_detail {

namespace {

struct VtableShape {
    uint32_t baseSize = 0;
    uint32_t slot = 4;
    bool dual = false;
};

VtableShape ShapeOf(ole::ITypeInfo* self) {
    VtableShape shape;
    {
        TypeAttr attr(self);
        shape.dual = (attr->wTypeFlags & ole::TYPEFLAG_FDUAL) != 0;
        if (attr->cImplTypes > 0) {
            ole::HREFTYPE href = 0;
            ComPtr<ole::ITypeInfo> base;
            CheckHr(self->GetRefTypeOfImplType(0, &href));
            CheckHr(self->GetRefTypeInfo(href, base.put()));
            shape.baseSize = TypeAttr(base.get())->cbSizeVft;
        }
    }
    ComPtr<ole::ITypeLib> lib;
    ole::UINT index = 0;
    CheckHr(self->GetContainingTypeLib(lib.put(), &index));
    ole::TLIBATTR* libAttr = nullptr;
    CheckHr(lib->GetLibAttr(&libAttr));
    shape.slot = libAttr->syskind == ole::SYS_WIN64 ? 8 : 4;
    lib->ReleaseTLibAttr(libAttr);
    return shape;
}

// The index in lib of ti's base, or -1 for none or one of another library.
int32_t BaseIndexIn(ole::ITypeLib* lib, ole::ITypeInfo* ti) {
    if (TypeAttr(ti)->cImplTypes == 0) return -1;
    ole::HREFTYPE href = 0;
    ComPtr<ole::ITypeInfo> base;
    CheckHr(ti->GetRefTypeOfImplType(0, &href));
    CheckHr(ti->GetRefTypeInfo(href, base.put()));
    ComPtr<ole::ITypeLib> baseLib;
    ole::UINT index = 0;
    if (FAILED(base->GetContainingTypeLib(baseLib.put(), &index)) || !SameObject(baseLib.get(), lib)) return -1;
    return static_cast<int32_t>(index);
}

}  // namespace

uint32_t CheckVtableOffsets(ole::ITypeInfo* self, std::span<const int16_t> offsets) {
    const VtableShape shape = ShapeOf(self);
    uint32_t end = shape.baseSize;
    for (int16_t offset : offsets) end = std::max<uint32_t>(end, static_cast<uint16_t>(offset) + shape.slot);
    if (end > kMaxVtableSize) RaiseError(ole::TYPE_E_SIZETOOBIG);
    if (shape.dual && end > shape.baseSize + shape.slot * static_cast<uint32_t>(offsets.size()))
        RaiseError(kErrInvalidArgument,
                   u"A dual interface can't leave a slot of its vtable empty: the dispatch half would be read with "
                   u"a function too many.");
    return end;
}

void CheckVtableFits(ole::ITypeInfo* self) {
    uint32_t end = 0;
    {
        TypeAttr attr(self);
        if (attr->typekind != ole::TKIND_INTERFACE) return;
        end = attr->cbSizeVft;
    }
    // The vtable ends after its last slot: every offset lies below its size.
    if (end > kMaxVtableSize) RaiseError(ole::TYPE_E_SIZETOOBIG);

    // The interfaces derived from self, directly or further down, lay their
    // own slots out after it when they are laid out again (at the latest when
    // the library is saved): none of them may then end past the limit.
    ComPtr<ole::ITypeLib> lib;
    ole::UINT selfIndex = 0;
    CheckHr(self->GetContainingTypeLib(lib.put(), &selfIndex));
    const uint32_t slot = ShapeOf(self).slot;
    const ole::UINT count = lib->GetTypeInfoCount();
    std::vector<ComPtr<ole::ITypeInfo>> types(count);
    std::vector<int32_t> bases(count, -1);
    for (ole::UINT i = 0; i < count; ++i) {
        if (i == selfIndex) continue;
        // A type that can't be read, or whose base can't be found, derives from nothing here.
        try {
            ComPtr<ole::ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib.get(), i);
            if (TypeAttr(ti.get())->typekind != ole::TKIND_INTERFACE) continue;
            bases[i] = BaseIndexIn(lib.get(), ti.get());
            types[i] = std::move(ti);
        } catch (const ErrorRecord&) {
            bases[i] = -1;
        }
    }
    // Where each vtable will end: its automatic slots follow its base's, its
    // explicit ones stay where they are.
    std::vector<int64_t> ends(count, -1);
    ends[selfIndex] = end;
    for (bool grown = true; grown;) {
        grown = false;
        for (ole::UINT i = 0; i < count; ++i) {
            if (ends[i] >= 0 || bases[i] < 0 || ends[static_cast<size_t>(bases[i])] < 0) continue;
            uint32_t derivedEnd = 0;
            {
                TypeAttr attr(types[i].get());
                derivedEnd = static_cast<uint32_t>(ends[static_cast<size_t>(bases[i])]) + slot * attr->cFuncs;
                for (ole::UINT k = 0; k < attr->cFuncs; ++k)
                    derivedEnd = std::max<uint32_t>(
                        derivedEnd, static_cast<uint16_t>(FuncDescHolder(types[i].get(), k)->oVft) + slot);
                // One already past the limit, and not grown, is left as it came.
                if (derivedEnd > kMaxVtableSize && derivedEnd > attr->cbSizeVft) RaiseError(ole::TYPE_E_SIZETOOBIG);
            }
            ends[i] = derivedEnd;
            grown = true;
        }
    }
}

void CheckDerivedVtables(ole::ITypeInfo* self, uint32_t end) {
    if (end <= TypeAttr(self)->cbSizeVft) return;
    ComPtr<ole::ITypeLib> lib;
    ole::UINT selfIndex = 0;
    CheckHr(self->GetContainingTypeLib(lib.put(), &selfIndex));
    const ole::UINT count = lib->GetTypeInfoCount();
    // The library's interfaces (a dual's interface half) and their bases.
    std::vector<ComPtr<ole::ITypeInfo>> types(count);
    std::vector<int32_t> bases(count, -1);
    for (ole::UINT i = 0; i < count; ++i) {
        ComPtr<ole::ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib.get(), i);
        if (TypeAttr(ti.get())->typekind != ole::TKIND_INTERFACE) continue;
        bases[i] = BaseIndexIn(lib.get(), ti.get());
        types[i] = std::move(ti);
    }
    // Those derived from self, directly or further down; each keeps its
    // offsets, so none may start inside self's new vtable.
    std::vector<bool> derived(count, false);
    derived[selfIndex] = true;
    for (bool grown = true; grown;) {
        grown = false;
        for (ole::UINT i = 0; i < count; ++i) {
            if (derived[i] || bases[i] < 0 || !derived[static_cast<size_t>(bases[i])]) continue;
            derived[i] = grown = true;
            const ole::UINT funcs = TypeAttr(types[i].get())->cFuncs;
            for (ole::UINT k = 0; k < funcs; ++k) {
                if (static_cast<uint16_t>(FuncDescHolder(types[i].get(), k)->oVft) >= end) continue;
                RaiseError(kErrInvalidArgument,
                           u"The vtable of " + modITypeInfoHelper::GetTypeInfoName(self) +
                               u" can't grow over the functions of " +
                               modITypeInfoHelper::GetTypeInfoName(types[i].get()) +
                               u", which derives from it: move that interface's functions first.");
            }
        }
    }
}

}  // namespace typelib_detail

void CustomTypeInfo::ReorderVTable(std::span<const int16_t> offsets, bool fSynchronizeFuncDescs) {
    if (typeKind_ != ole::TKIND_INTERFACE) RaiseError(kErrInvalidArgument);
    // Synchronised functions take their slots one after the other.
    ComPtr<ole::ITypeInfo> self = ITypeInfo();
    uint32_t end = 0;
    if (!fSynchronizeFuncDescs) {
        // Offsets given one by one (a history may hold any) start after the
        // inherited slots: below them a function would take a base's slot.
        const uint32_t inherited = ShapeOf(self.get()).baseSize;
        for (int16_t offset : offsets)
            if (static_cast<uint16_t>(offset) < inherited)
                RaiseError(kErrInvalidArgument,
                           u"A function can't take a vtable slot that the interface inherits from its base.");
        end = CheckVtableOffsets(self.get(), offsets);
    } else {
        const VtableShape shape = ShapeOf(self.get());
        end = shape.baseSize + shape.slot * TypeAttr(self.get())->cFuncs;
        if (end > kMaxVtableSize) RaiseError(ole::TYPE_E_SIZETOOBIG);
    }
    // Interfaces derived from this one keep their offsets.
    CheckDerivedVtables(self.get(), end);
    RebuildFunctions(offsets, true, fSynchronizeFuncDescs, false, false);
}

bool CustomTypeInfo::ReorderVars(std::span<const int16_t> newOrder) {
    return RebuildVariables(newOrder, true, false, false);
}

void CustomTypeInfo::ResetMemberIDs(bool fIncludeExplicit) {
    if (auto dispatched = DispatchedInterface()) return dispatched->ResetMemberIDs(fIncludeExplicit);
    switch (typeKind_) {
        case ole::TKIND_ENUM:
        case ole::TKIND_RECORD:
        case ole::TKIND_UNION:
            RebuildVariables({}, false, true, fIncludeExplicit);
            break;
        case ole::TKIND_MODULE:
        case ole::TKIND_DISPATCH: {
            // The functions' IDs, to give back should the variables fail.
            std::vector<ole::MEMBERID> ids;
            {
                ComPtr<ole::ITypeInfo> self = ITypeInfo();
                TypeAttr attr(self.get());
                for (ole::UINT i = 0; i < attr->cFuncs; ++i) ids.push_back(FuncDescHolder(self.get(), i)->memid);
            }
            RebuildFunctions({}, false, false, true, fIncludeExplicit);
            try {
                RebuildVariables({}, false, true, fIncludeExplicit);
            } catch (...) {
                ScopeGuard restore([&] { RebuildFunctions({}, false, false, false, false, ids); });
                throw;
            }
            break;
        }
        case ole::TKIND_INTERFACE:
            RebuildFunctions({}, false, false, true, fIncludeExplicit);
            break;
        case ole::TKIND_COCLASS:
            break;
        default:
            RaiseError(kErrInvalidArgument);
    }
}

void CustomTypeInfo::RebuildFunctions(std::span<const int16_t> order, bool fReorder, bool fSynchronizeFuncDescs,
                                      bool fResetIDs, bool fIncludeExplicit, std::span<const ole::MEMBERID> newIds) {
    if (typeKind_ != ole::TKIND_MODULE && typeKind_ != ole::TKIND_INTERFACE && typeKind_ != ole::TKIND_DISPATCH)
        RaiseError(kErrInvalidArgument);
    ComPtr<ole::ITypeInfo> self = ITypeInfo();
    int32_t count = 0;
    bool hasBase = false;
    ole::UINT flags = 0;
    {
        TypeAttr attr(self.get());
        count = attr->cFuncs;
        hasBase = attr->cImplTypes != 0;
        flags = attr->wTypeFlags;
    }
    if (count == 0) return;
    if (fReorder && order.size() != static_cast<size_t>(count)) RaiseOrderSize();
    if (fIncludeExplicit) fResetIDs = true;
    // Whether the interface takes automatic vtable slots: for the copies
    // when nothing is reordered, and for putting the functions back.
    const bool autoSlots = typeKind_ == ole::TKIND_INTERFACE && TryLayOut();

    std::vector<MemberOrderEntry> entries(static_cast<size_t>(count));
    std::vector<ole::MEMBERID> originalIds(entries.size());
    std::vector<int16_t> originalOffsets(entries.size());
    // Members are found by ID while copying: reading a function fixes its
    // automatic ID.
    for (int32_t i = 0; i < count; ++i) {
        FuncDescHolder fd(self.get(), static_cast<ole::UINT>(i));
        originalIds[i] = fd->memid;
        originalOffsets[i] = fd->oVft;
    }
    for (int32_t i = 0; i < count; ++i) {
        FuncDescHolder fd(self.get(), static_cast<ole::UINT>(i));
        MemberOrderEntry& e = entries[static_cast<size_t>(i)];
        e.SourceIndex = static_cast<int16_t>(i);
        e.NewMemID = fd->memid;
        if (fResetIDs && (fIncludeExplicit || IsAutomaticFuncMemID(fd->memid))) e.NewMemID = ole::MEMBERID_NIL;
        if (static_cast<size_t>(i) < newIds.size()) e.NewMemID = newIds[static_cast<size_t>(i)];
        e.OrderKey = fReorder ? order[static_cast<size_t>(i)] : fd->oVft;
    }
    if (fSynchronizeFuncDescs) {
        SortByOrderKey(entries);
        for (MemberOrderEntry& e : entries) e.OrderKey = 0;
    } else if (!fReorder && autoSlots) {
        for (MemberOrderEntry& e : entries) e.OrderKey = 0;
    }

    TemporaryType tmp;
    ScopeGuard rollback;
    BeginTemporaryType(rollback, typeKind_, tmp);
    ComPtr<ole::ICreateTypeInfo2>& temp = tmp.create;
    ComPtr<ole::ITypeInfo>& tempRead = tmp.read;
    CheckHr(temp->SetTypeFlags(flags & 0xE7FF));
    if (hasBase) {
        ole::HREFTYPE href = 0;
        ComPtr<ole::ITypeInfo> base;
        CheckHr(self->GetRefTypeOfImplType(0, &href));
        CheckHr(self->GetRefTypeInfo(href, base.put()));
        CheckHr(temp->AddRefTypeInfo(base.get(), &href));
    }
    // The temporary type holds the functions in their present order (with the
    // offsets they take); the entries give the order they come back in. A
    // property's names are read by member ID, from its first accessor: in the
    // present order that is the accessor the type reads them from, whatever
    // the new order puts first.
    std::vector<MemberOrderEntry> copies(entries.size());
    for (const MemberOrderEntry& e : entries) copies[static_cast<size_t>(e.SourceIndex)] = e;
    bool share = false;
    CopyFuncDesc(temp.get(), self.get(), copies, 0, {}, share);
    CheckHr(temp->LayOut());
    CheckHr(temp.As(&tempRead));

    // The type's functions go; from here a failure puts them back from the
    // temporary type, in their old order with their old IDs and offsets.
    rollback.OnFailure([&] {
        {
            TypeAttr attr(self.get());
            for (ole::UINT k = attr->cFuncs; k > 0; --k) CheckHr(type_->DeleteFuncDesc(k - 1));
        }
        std::vector<MemberOrderEntry> restore(originalIds.size());
        for (size_t k = 0; k < restore.size(); ++k) {
            restore[k].SourceIndex = static_cast<int16_t>(k);
            restore[k].NewMemID = originalIds[k];
            restore[k].OrderKey = autoSlots ? int16_t{0} : originalOffsets[k];
        }
        bool noShare = false;
        CopyFuncDesc(type_.get(), tempRead.get(), restore, 0, {}, noShare);
    });
    for (int32_t i = count; i > 0; --i) CheckHr(type_->DeleteFuncDesc(static_cast<ole::UINT>(i - 1)));
    share = false;
    CopyFuncDesc(type_.get(), tempRead.get(), entries, 0, {}, share);
    CheckHr(type_->LayOut());
    EndTemporaryType(rollback, tmp);
}

bool CustomTypeInfo::RebuildVariables(std::span<const int16_t> order, bool hasOrder, bool fResetIDs,
                                      bool fIncludeExplicit) {
    if (typeKind_ == ole::TKIND_INTERFACE || typeKind_ == ole::TKIND_COCLASS || typeKind_ == ole::TKIND_ALIAS)
        RaiseError(kErrInvalidArgument);
    if (fIncludeExplicit) fResetIDs = true;
    if (!hasOrder && !fResetIDs) return false;
    ComPtr<ole::ITypeInfo> self = ITypeInfo();
    int32_t count = 0;
    ole::UINT flags = 0;
    {
        TypeAttr attr(self.get());
        count = attr->cVars;
        flags = attr->wTypeFlags;
    }
    if (count == 0) return false;
    if (hasOrder) {
        if (order.size() != static_cast<size_t>(count)) RaiseOrderSize();
        bool identity = true;
        for (int32_t i = 0; i < count; ++i) identity &= order[static_cast<size_t>(i)] == i;
        if (identity && !fResetIDs) return false;
    }

    std::vector<MemberOrderEntry> entries(static_cast<size_t>(count));
    std::vector<ole::MEMBERID> originalIds(entries.size());
    bool pending = false;
    for (int32_t i = 0; i < count; ++i) {
        ole::VARDESC* vd = nullptr;
        CheckHr(self->GetVarDesc(static_cast<ole::UINT>(i), &vd));
        originalIds[i] = vd->memid;
        self->ReleaseVarDesc(vd);
        pending |= originalIds[i] == ole::MEMBERID_NIL;
    }
    // Members are found by ID while copying: lay out what was added since.
    if (pending) CheckHr(type_->LayOut());
    for (int32_t i = 0; i < count; ++i) {
        MemberOrderEntry& e = entries[static_cast<size_t>(i)];
        ole::VARDESC* vd = nullptr;
        CheckHr(self->GetVarDesc(static_cast<ole::UINT>(i), &vd));
        e.NewMemID = vd->memid;
        self->ReleaseVarDesc(vd);
        if (fResetIDs && (fIncludeExplicit || IsAutomaticVarMemID(e.NewMemID))) e.NewMemID = ole::MEMBERID_NIL;
        e.SourceIndex = static_cast<int16_t>(i);
        e.OrderKey = hasOrder ? order[static_cast<size_t>(i)] : static_cast<int16_t>(i);
    }
    if (hasOrder) SortByOrderKey(entries);
    std::vector<int16_t> positionOf(entries.size());
    for (size_t p = 0; p < entries.size(); ++p) positionOf[static_cast<size_t>(entries[p].SourceIndex)] = static_cast<int16_t>(p);

    TemporaryType tmp;
    ScopeGuard rollback;
    BeginTemporaryType(rollback, typeKind_, tmp);
    ComPtr<ole::ICreateTypeInfo2>& temp = tmp.create;
    ComPtr<ole::ITypeInfo>& tempRead = tmp.read;
    CheckHr(temp->SetTypeFlags(flags & 0xE7FF));
    CopyVarDesc(temp.get(), self.get(), entries, 0, {});
    CheckHr(temp->LayOut());
    CheckHr(temp.As(&tempRead));

    rollback.OnFailure([&] {
        {
            TypeAttr attr(self.get());
            for (ole::UINT k = attr->cVars; k > 0; --k) CheckHr(type_->DeleteVarDesc(k - 1));
        }
        std::vector<MemberOrderEntry> restore(positionOf.size());
        for (size_t k = 0; k < restore.size(); ++k) {
            restore[k].SourceIndex = positionOf[k];
            restore[k].NewMemID = originalIds[k];
        }
        CopyVarDesc(type_.get(), tempRead.get(), restore, 0, {});
    });
    for (int32_t i = count; i > 0; --i) CheckHr(type_->DeleteVarDesc(static_cast<ole::UINT>(i - 1)));
    for (size_t p = 0; p < entries.size(); ++p) entries[p].SourceIndex = static_cast<int16_t>(p);
    CopyVarDesc(type_.get(), tempRead.get(), entries, 0, {});
    CheckHr(type_->LayOut());
    EndTemporaryType(rollback, tmp);
    return true;
}

}  // namespace zephrin
