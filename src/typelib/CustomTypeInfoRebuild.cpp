// CustomTypeInfo: the member rebuild engine. A type under construction cannot
// change most attributes of a member in place, so an edit re-creates the
// member: the changed copy is added right behind it, names, help, DLL entry
// and custom data move to the copy, the old member is deleted and the type
// laid out. A failure undoes what was done and raises the first error again.
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modTYPEDESC.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;

namespace {

constexpr std::array<ole::INVOKEKIND, 4> kKinds = {ole::INVOKE_FUNC, ole::INVOKE_PROPERTYGET,
                                                   ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF};
// Function flags each invoke kind may carry.
constexpr std::array<int32_t, 4> kKindFlagMask = {0xBC3, 0xFF7, 0x1FFD, 0x1FFD};
// Flags shared by every accessor of a property, and the others.
constexpr int32_t kPropertyWideFlags = 0x1534;
constexpr int32_t kAccessorFlags = 0xEACB;
constexpr int32_t kDefaultFlags = ole::FUNCFLAG_FUIDEFAULT | ole::FUNCFLAG_FDEFAULTBIND;

// FDISPLAYBIND, FDEFAULTBIND and FIMMEDIATEBIND need FBINDABLE; FIMMEDIATEBIND
// needs FREQUESTEDIT (the same bits for functions and variables).
int32_t WithImpliedFlags(int32_t flags) {
    if (flags & (ole::FUNCFLAG_FDISPLAYBIND | ole::FUNCFLAG_FDEFAULTBIND | ole::FUNCFLAG_FIMMEDIATEBIND))
        flags |= ole::FUNCFLAG_FBINDABLE;
    if (flags & ole::FUNCFLAG_FIMMEDIATEBIND) flags |= ole::FUNCFLAG_FREQUESTEDIT;
    return flags;
}

bool IsPut(ole::INVOKEKIND kind) { return (kind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0; }

// How many names a function takes: its own and one per parameter, except a
// put's value parameter.
size_t MaxNames(const ole::FUNCDESC& fd) {
    const size_t params = fd.cParams > 0 ? static_cast<size_t>(fd.cParams) : 0;
    return IsPut(fd.invkind) ? std::max<size_t>(params, 1) : params + 1;
}

// One accessor of the function being rebuilt.
struct AccessorWork {
    ole::INVOKEKIND Kind = ole::INVOKE_FUNC;
    int32_t Index = -1;     // present index; -1: absent or not taking part
    int32_t NewIndex = -1;  // the replacement's index while both exist; Index once the old one is gone
    FuncDescHolder Held;
    ole::FUNCDESC Desc{};
    std::vector<ole::ELEMDESC> Params;
    std::u16string DllName;
    ole::DllEntryPoint DllEntry;
    bool HasDllEntry = false;
    // What the original had, to put it back should it be gone already.
    std::u16string OldDllName;
    ole::DllEntryPoint OldDllEntry;
    bool OldHasDllEntry = false;
    CustItems FuncCust;
    std::vector<CustItems> ParamCust;
    bool NamesBlanked = false;
    bool Secondary = false;
    int32_t Fields = 0;
    int32_t NewFlags = 0;
    size_t BlankCount = 0;
    int32_t OriginalParams = 0;
};

// sharingId: the function keeps a name it shares with a function of the same
// ID and another invoke kind (a method and a property accessor stored so).
void SetNames(ole::ICreateTypeInfo* cti, ole::UINT index, const std::vector<std::u16string>& names, size_t count,
              bool sharingId = false) {
    count = std::max<size_t>(count, 1);
    std::vector<std::u16string> copy(count);
    for (size_t i = 0; i < count && i < names.size(); ++i) copy[i] = names[i];
    std::vector<ole::LPOLESTR> ptrs;
    for (std::u16string& n : copy) ptrs.push_back(n.data());
    const auto n = static_cast<ole::UINT>(ptrs.size());
    CheckHr(sharingId ? modITypeInfoHelper::SetFuncNamesSharingId(cti, index, ptrs.data(), n)
                      : cti->SetFuncAndParamNames(index, ptrs.data(), n));
}

// The number of names worth passing: up to the last non-empty one.
size_t NamedCount(const std::vector<std::u16string>& names) {
    size_t n = names.size();
    while (n > 1 && names[n - 1].empty()) --n;
    return n;
}

}  // namespace

// ---- Layout probe ----

bool CustomTypeInfo::NextVTableOffset(int16_t& offset) {
    if (typeKind_ != ole::TKIND_INTERFACE) return false;
    if (AutomaticSlots()) {
        offset = 0;
        return false;
    }
    TypeAttr attr(ITypeInfo().get());
    offset = static_cast<int16_t>(attr->cbSizeVft);
    return true;
}

// ---- Functions ----

void CustomTypeInfo::RebuildFunction(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t invKind,
                                     int32_t paramIndex, ParamData& paramData, FuncRebuildData& request,
                                     int32_t fields, const std::function<void()>& beforeCommit) {
    if (!ti) RaiseError(kErrObjectNotSet);
    // A method and a property accessor that share a name and this ID stay
    // together: one of them given an ID of its own would leave two members
    // of one name.
    std::u16string sharedName;
    const int32_t sharingAccessor = modITypeInfoHelper::AccessorSharingMethodName(ti, memberID, &sharedName);
    if (sharingAccessor != 0 && (fields & FuncRebuildData::kMemID) && request.MemID != memberID)
        modITypeInfoHelper::RaiseSharedMethodName(ti, sharedName, sharingAccessor);
    // The copy takes an automatic slot only where every function does.
    const bool autoOffsets = AutomaticSlots();

    ScopeGuard rollback;
    if (autoOffsets) rollback.OnFailure([this] { CheckHr(type_->LayOut()); });
    const auto libraryFiles = LibraryHelpFiles();
    const HelpData originalHelp = GetMemberHelpData(ti, memberID);
    HelpData help = originalHelp;
    if (fields & HelpData::kAllFields) MergeHelpData(help, request.Help, fields & HelpData::kAllFields);
    rollback.OnFailure([this, libraryFiles] {
        CheckHr(library_->SetHelpFileName(libraryFiles.first.c_str()));
        CheckHr(library_->SetHelpStringDll(libraryFiles.second.c_str()));
    });
    SetLibraryHelpFiles(help);

    if (fields & FuncRebuildData::kFlags) request.Flags = WithImpliedFlags(request.Flags);

    // Which accessors take part, with which changes.
    std::array<AccessorWork, 4> work;
    int32_t kindSet = 0;
    const int32_t requested = invKind & 15;
    for (size_t k = 0; k < 4; ++k) work[k].Kind = kKinds[k];
    if (invKind == 0) {
        kindSet = 15;
        for (size_t k = 0; k < 4; ++k) {
            work[k].Fields = fields;
            work[k].NewFlags = request.Flags;
        }
    } else if (requested == ole::INVOKE_FUNC) {
        kindSet = ole::INVOKE_FUNC;
        work[0].Fields = fields;
        work[0].NewFlags = request.Flags;
    } else {
        kindSet = requested;
        int32_t shared = fields & 0x13C0;
        if (paramIndex != 0) shared |= fields & FuncRebuildData::kType;
        for (size_t k = 0; k < 4; ++k) {
            if (shared != 0 && !(kindSet & kKinds[k])) {
                work[k].Secondary = true;
                work[k].Fields = shared;
                work[k].NewFlags = request.Flags & kPropertyWideFlags;
            } else {
                work[k].Fields = fields;
                work[k].NewFlags = request.Flags;
            }
        }
        // The other accessors join; a plain function of the ID is no accessor.
        if (shared != 0) kindSet |= ole::INVOKE_PROPERTYGET | ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF;
    }
    if (fields & FuncRebuildData::kFlags)
        for (size_t k = 0; k < 4; ++k) work[k].NewFlags &= kKindFlagMask[k];

    // Lookup.
    std::vector<AccessorWork*> found;
    for (size_t k = 0; k < 4; ++k) {
        AccessorWork& w = work[k];
        if (!(kindSet & w.Kind)) continue;
        ole::UINT index = 0;
        if (FAILED(ti->GetFuncIndexOfMemId(memberID, w.Kind, &index))) continue;
        w.Index = static_cast<int32_t>(index);
        if (typeKind_ == ole::TKIND_MODULE) {
            ole::BSTR dll = nullptr, entryName = nullptr;
            ole::WORD ordinal = 0;
            if (SUCCEEDED(ti->GetDllEntry(memberID, w.Kind, &dll, &entryName, &ordinal))) {
                w.HasDllEntry = true;
                w.DllName = TakeBstr(dll);
                std::u16string name = TakeBstr(entryName);
                w.DllEntry = name.empty() ? ole::DllEntryPoint(ordinal) : ole::DllEntryPoint(std::move(name));
            }
            w.OldDllName = w.DllName;
            w.OldDllEntry = w.DllEntry;
            w.OldHasDllEntry = w.HasDllEntry;
            if (w.Fields & FuncRebuildData::kDllName) {
                w.DllName = request.DllName;
                w.HasDllEntry = true;
            }
            if (w.Fields & FuncRebuildData::kDllEntry) {
                w.DllEntry = request.DllEntry;
                w.HasDllEntry = true;
            }
        }
        w.Held.Take(ti, index);
        w.Desc = *w.Held;
        w.OriginalParams = w.Desc.cParams;
        if (autoOffsets) w.Desc.oVft = 0;
        found.push_back(&w);
        if (w.Kind == ole::INVOKE_FUNC) break;
    }
    if (found.empty()) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    // Positions are checked against the first accessor the caller asked for.
    AccessorWork* first = found.front();
    for (AccessorWork* w : found)
        if (!w->Secondary) {
            first = w;
            break;
        }
    AccessorWork& primary = *first;

    // Position check.
    const int32_t n = primary.Desc.cParams;
    // A Get without a return value parameter returns the value itself: all
    // its parameters are ordinary ones, as a function's are.
    const bool primaryIsFunc =
        primary.Kind == ole::INVOKE_FUNC ||
        (primary.Kind == ole::INVOKE_PROPERTYGET && !modITypeInfoHelper::HasRetvalParam(primary.Desc));
    const int32_t change = primary.Fields & 0xE0;
    if (change != 0) {
        int32_t limit = n;
        int32_t lowest = 0;
        if (change & FuncRebuildData::kInsertParam) {
            limit = primaryIsFunc ? n + 1 : n;
            lowest = 1;
        } else if (change & FuncRebuildData::kDeleteParam) {
            limit = primaryIsFunc ? n : n - 1;
            lowest = 1;
        }
        if (paramIndex > limit || paramIndex < lowest) RaiseError(ole::TYPE_E_OUTOFBOUNDS);
    }

    // Names as read, and as the copies take them.
    ole::UINT maxRead = 1;
    for (AccessorWork* w : found) maxRead = std::max<ole::UINT>(maxRead, static_cast<ole::UINT>(w->Desc.cParams) + 1);
    const std::vector<std::u16string> namesRead = ReadNames(ti, memberID, maxRead);
    std::vector<std::u16string> names = namesRead;
    if (names.size() < maxRead) names.resize(maxRead);
    if (change & FuncRebuildData::kInsertParam)
        modSupport::InsertStringAt(names, paramData.Name, static_cast<size_t>(paramIndex));
    else if (change & FuncRebuildData::kDeleteParam)
        modSupport::RemoveStringAt(names, static_cast<size_t>(paramIndex));
    const size_t newNameCount = NamedCount(names);
    // Where the property's names are read from a put, its puts keep the
    // value's name (the last of theirs).
    const bool valueInPuts = NamesReadFromPut(ti, memberID);
    const auto setValueName = [&](ole::INVOKEKIND kind, ole::UINT index, const std::vector<std::u16string>& from,
                                  int32_t params) {
        if (valueInPuts && IsPut(kind) && params > 0 && static_cast<size_t>(params) < from.size())
            SetValueParamName(type_.get(), index, from[static_cast<size_t>(params)]);
    };

    // Undo, newest state first: copies removed, names given back, descriptors
    // released (declared after what it refers to, so it runs before they go).
    ScopeGuard undo([&] {
        // An accessor whose original is gone already gets it back in front of its copy.
        for (AccessorWork* w : found) {
            if (w->NewIndex == -1 || w->NewIndex != w->Index || !w->Held.get()) continue;
            const ole::UINT at = static_cast<ole::UINT>(w->Index);
            ole::FUNCDESC original = *w->Held;
            if (autoOffsets) original.oVft = 0;
            CheckHr(type_->AddFuncDesc(at, &original));
            w->NewIndex = w->Index + 1;
            for (AccessorWork* o : found)
                if (o != w && o->Index > w->Index) {
                    ++o->Index;
                    if (o->NewIndex != -1) ++o->NewIndex;
                }
            w->NamesBlanked = true;
            WriteCust(w->FuncCust, modITypeInfoHelper::SetFuncCustData(type_.get(), at));
            for (size_t p = 0; p < w->ParamCust.size(); ++p)
                WriteCust(w->ParamCust[p],
                          modITypeInfoHelper::SetParamCustData(type_.get(), at, static_cast<ole::UINT>(p)));
            SetFuncHelpDataMasked(at, originalHelp, MemberFieldsSet(originalHelp));
            if (typeKind_ == ole::TKIND_MODULE && w->OldHasDllEntry)
                CheckHr(type_->DefineFuncAsDllEntry(at, w->OldDllName.c_str(), w->OldDllEntry));
        }
        for (AccessorWork* w : found) {
            w->Held.Release();
            if (w->NewIndex != -1 && w->NewIndex != w->Index) {
                CheckHr(type_->DeleteFuncDesc(static_cast<ole::UINT>(w->NewIndex)));
                for (AccessorWork* o : found)
                    if (o != w && o->Index > w->Index) {
                        --o->Index;
                        if (o->NewIndex != -1) --o->NewIndex;
                    }
                w->NewIndex = -1;
            }
        }
        for (AccessorWork* w : found)
            if (w->NamesBlanked && w->NewIndex != w->Index) {
                SetNames(type_.get(), static_cast<ole::UINT>(w->Index), namesRead, w->BlankCount, sharingAccessor != 0);
                setValueName(w->Kind, static_cast<ole::UINT>(w->Index), namesRead, w->OriginalParams);
            }
    });

    // The old accessors give up their names before the copies take them.
    for (AccessorWork* w : found) {
        w->BlankCount = std::min(std::max<size_t>(namesRead.size(), 1), MaxNames(w->Desc));
        SetNames(type_.get(), static_cast<ole::UINT>(w->Index), {}, w->BlankCount);
        w->NamesBlanked = true;
    }

    // The copies, each right behind its original.
    ole::PARAMDESCEX defaultValue{};
    defaultValue.cBytes = 24;
    TypeDescOwner owner;
    // A property given an automatic ID keeps its accessors together: the
    // later copies take the ID the first one got.
    ole::MEMBERID givenId = ole::MEMBERID_NIL;
    for (AccessorWork* w : found) {
        ole::FUNCDESC& d = w->Desc;
        const int32_t oldCParams = d.cParams;
        // An accessor that takes part for its property may have fewer
        // parameters (a get without the put's value): it keeps them.
        const bool beyond = paramIndex > oldCParams + ((w->Fields & FuncRebuildData::kInsertParam) ? 1 : 0);
        if (beyond && !w->Secondary && paramIndex != 0) RaiseError(ole::TYPE_E_OUTOFBOUNDS);
        if ((w->Fields & 0xE0) && !(beyond && paramIndex != 0)) {
            if (paramIndex == 0) {
                if (w->Fields & FuncRebuildData::kType) {
                    if (!paramData.VTInfo) RaiseError(kErrInvalidArgument);
                    modTYPEDESC::BuildTypeDesc(owner, type_.get(), paramData.VTInfo.get(), &d.elemdescFunc.tdesc);
                }
            } else {
                const bool insert = (w->Fields & FuncRebuildData::kInsertParam) != 0;
                const bool remove = !insert && (w->Fields & FuncRebuildData::kDeleteParam) != 0;
                const int hidden = modITypeInfoHelper::HiddenParamCount(d);
                const ole::ELEMDESC* src = d.lprgelemdescParam;
                const size_t at = static_cast<size_t>(paramIndex - 1);
                w->Params.assign(src, src + oldCParams);
                bool describe = true;
                ole::USHORT previousFlags = 0;
                if (insert) {
                    w->Params.insert(w->Params.begin() + static_cast<ptrdiff_t>(at), ole::ELEMDESC{});
                    d.cParams = static_cast<ole::SHORT>(oldCParams + 1);
                } else if (remove) {
                    const ole::USHORT removed = w->Params[at].paramdesc.wParamFlags;
                    w->Params.erase(w->Params.begin() + static_cast<ptrdiff_t>(at));
                    if (!(removed & ole::PARAMFLAG_FRETVAL)) {
                        if (d.cParamsOpt == -1 && paramIndex == oldCParams - hidden)
                            d.cParamsOpt = 0;
                        else if ((removed & 0x30) == ole::PARAMFLAG_FOPT && d.cParamsOpt > 0 &&
                                 oldCParams - hidden - d.cParamsOpt < paramIndex)
                            --d.cParamsOpt;
                    }
                    d.cParams = static_cast<ole::SHORT>(oldCParams - 1);
                    describe = false;
                } else {
                    previousFlags = w->Params[at].paramdesc.wParamFlags;
                    // The last parameter of an accessor taking part for its
                    // property is its own when it is a return value or a put's value.
                    describe = !(w->Secondary && paramIndex == oldCParams &&
                                 ((previousFlags & ole::PARAMFLAG_FRETVAL) || IsPut(d.invkind)));
                }
                if (describe) {
                    if (!paramData.VTInfo) RaiseError(kErrInvalidArgument);
                    ole::ELEMDESC& e = w->Params[at];
                    modTYPEDESC::BuildTypeDesc(owner, type_.get(), paramData.VTInfo.get(), &e.tdesc);
                    e.paramdesc.pparamdescex = nullptr;
                    if (paramData.Flags & ole::PARAMFLAG_FHASDEFAULT) paramData.Flags |= ole::PARAMFLAG_FOPT;
                    e.paramdesc.wParamFlags = static_cast<ole::USHORT>(paramData.Flags & 0xFFFF);
                    if (paramData.Flags & ole::PARAMFLAG_FHASDEFAULT) {
                        defaultValue.varDefaultValue = paramData.DefaultValue.get();  // borrowed for the call
                        e.paramdesc.pparamdescex = &defaultValue;
                    }
                    const bool oldCounted = !insert && (previousFlags & 0x30) == ole::PARAMFLAG_FOPT &&
                                            paramIndex > oldCParams - hidden - d.cParamsOpt;
                    const bool newCounted = (paramData.Flags & 0x30) == ole::PARAMFLAG_FOPT &&
                                            paramData.DefaultValue.vt() != ole::VT_NULL;
                    if (paramData.ParamArray && (paramData.Flags & 0x30) != ole::PARAMFLAG_FOPT)
                        d.cParamsOpt = -1;
                    else if (d.cParamsOpt >= 0 && newCounted && !oldCounted)
                        ++d.cParamsOpt;
                    else if (d.cParamsOpt > 0 && oldCounted && !newCounted)
                        --d.cParamsOpt;
                }
                d.lprgelemdescParam = w->Params.empty() ? nullptr : w->Params.data();
            }
        }
        if (w->Fields & FuncRebuildData::kMemID) d.memid = request.MemID != ole::MEMBERID_NIL ? request.MemID : givenId;
        if (w->Fields & FuncRebuildData::kInvokeKind) d.invkind = static_cast<ole::INVOKEKIND>(request.InvokeKind);
        if (w->Fields & FuncRebuildData::kFlags) {
            if (!w->Secondary) {
                for (int32_t bit : {ole::FUNCFLAG_FUIDEFAULT, ole::FUNCFLAG_FDEFAULTBIND})
                    if ((w->NewFlags & bit) && !(d.wFuncFlags & bit)) request.NewDefaultFlags |= bit;
                d.wFuncFlags = static_cast<ole::WORD>(w->NewFlags);
            } else {
                d.wFuncFlags = static_cast<ole::WORD>((d.wFuncFlags & kAccessorFlags) | w->NewFlags);
            }
        }
        if (w->Fields & FuncRebuildData::kDropParamArray) d.cParamsOpt = 0;

        const ole::UINT newIndex = static_cast<ole::UINT>(w->Index + 1);
        CheckHr(type_->AddFuncDesc(newIndex, &d));
        // Reading the copy fixes its automatic ID.
        if ((w->Fields & FuncRebuildData::kMemID) && d.memid == ole::MEMBERID_NIL)
            givenId = FuncDescHolder(ti, newIndex)->memid;
        w->NewIndex = w->Index + 1;
        for (AccessorWork* o : found)
            if (o != w && o->Index > w->Index) {
                ++o->Index;
                if (o->NewIndex != -1) ++o->NewIndex;
            }
        const ole::UINT oldIndex = static_cast<ole::UINT>(w->Index);
        const int32_t newCParams = d.cParams;
        const size_t maxNames = MaxNames(d);
        w->Params.clear();
        owner.FreeTypeDesc();

        CopyFuncCustData(ti, oldIndex, newIndex);
        for (int32_t p = 0; p < newCParams; ++p) {
            int32_t q = p;
            if (w->Fields & FuncRebuildData::kInsertParam) {
                if (p == paramIndex - 1) continue;
                if (p > paramIndex - 1) q = p - 1;
            } else if ((w->Fields & FuncRebuildData::kDeleteParam) && p >= paramIndex - 1) {
                q = p + 1;
            }
            if (q >= oldCParams) continue;
            CopyParamCustData(ti, oldIndex, static_cast<ole::UINT>(q), newIndex, static_cast<ole::UINT>(p));
        }
        SetFuncHelpData(newIndex, help);
        if (typeKind_ == ole::TKIND_MODULE && w->HasDllEntry)
            CheckHr(type_->DefineFuncAsDllEntry(newIndex, w->DllName.c_str(), w->DllEntry));
        SetNames(type_.get(), newIndex, names, std::min(newNameCount, maxNames), sharingAccessor != 0);
        setValueName(d.invkind, newIndex, names, newCParams);
    }
    // The originals go; the copies stand where they stood. Their custom data
    // is noted first, in case one has to come back.
    for (AccessorWork* w : found) {
        const ole::UINT at = static_cast<ole::UINT>(w->Index);
        w->FuncCust = ReadCust(modITypeInfoHelper::GetFuncCustData(ti, at));
        for (ole::SHORT p = 0; p < w->Held->cParams; ++p)
            w->ParamCust.push_back(ReadCust(modITypeInfoHelper::GetParamCustData(ti, at, static_cast<ole::UINT>(p))));
    }
    for (AccessorWork* w : found) {
        CheckHr(type_->DeleteFuncDesc(static_cast<ole::UINT>(w->Index)));
        w->NewIndex = w->Index;
        for (AccessorWork* o : found)
            if (o != w && o->Index > w->Index) {
                --o->Index;
                if (o->NewIndex != -1) --o->NewIndex;
            }
    }
    // A type that cannot be laid out with the rebuilt member gets the old one back.
    CheckHr(type_->LayOut());
    if (beforeCommit) beforeCommit();
    undo.Dismiss();
    rollback.Dismiss();
    for (AccessorWork* w : found) w->Held.Release();
}

// ---- Variables ----

void CustomTypeInfo::RebuildVariable(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t varIndex,
                                     tli::VarTypeInfo* vtInfo, VarRebuildData& request, int32_t fields,
                                     const std::function<void()>& beforeCommit) {
    if (!ti) RaiseError(kErrObjectNotSet);
    if (varIndex < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    const ole::UINT index = static_cast<ole::UINT>(varIndex);
    const auto libraryFiles = LibraryHelpFiles();
    const HelpData original = GetMemberHelpData(ti, memberID);
    HelpData help = original;
    if (fields & HelpData::kAllFields) MergeHelpData(help, request.Help, fields & HelpData::kAllFields);
    const std::vector<std::u16string> names = ReadNames(ti, memberID, 1);
    const std::u16string name = names.empty() ? std::u16string() : names[0];

    // The original descriptor is held to the end: a late failure re-adds it.
    ole::VARDESC* held = nullptr;
    ScopeGuard release([&] {
        if (held) ti->ReleaseVarDesc(held);
    });
    ScopeGuard rollback([this, libraryFiles] {
        CheckHr(library_->SetHelpFileName(libraryFiles.first.c_str()));
        CheckHr(library_->SetHelpStringDll(libraryFiles.second.c_str()));
    });
    SetLibraryHelpFiles(help);
    CheckHr(ti->GetVarDesc(index, &held));
    ole::VARDESC vd = *held;
    TypeDescOwner owner;
    if (fields & VarRebuildData::kType) {
        if (!vtInfo) RaiseError(kErrInvalidArgument);
        modTYPEDESC::BuildTypeDesc(owner, type_.get(), vtInfo, &vd.elemdescVar.tdesc);
    }
    if (fields & VarRebuildData::kMemID) vd.memid = request.MemID;
    if (fields & VarRebuildData::kFlags) {
        request.Flags = WithImpliedFlags(request.Flags);
        for (int32_t bit : {ole::VARFLAG_FUIDEFAULT, ole::VARFLAG_FDEFAULTBIND})
            if ((request.Flags & bit) && !(vd.wVarFlags & bit)) request.NewDefaultFlags |= bit;
        vd.wVarFlags = static_cast<ole::WORD>(request.Flags);
    }
    if (fields & VarRebuildData::kValue) {
        // Only a constant has a value (the field shares its place with the offset).
        if (vd.varkind != ole::VAR_CONST) RaiseError(kErrInvalidArgument);
        vd.lpvarValue = request.Value.ptr();
    }

    bool added = false, unnamed = false, deleted = false, laidOut = false;
    ScopeGuard undo([&] {
        if (deleted) {
            // Put the original back in front of the copy.
            CheckHr(type_->AddVarDesc(index, held));
            CopyVarCustData(ti, index + 1, index);
            SetVarHelpDataMasked(index, original, MemberFieldsSet(original));
            deleted = false;
        }
        if (added) CheckHr(type_->DeleteVarDesc(index + 1));
        if (unnamed) CheckHr(type_->SetVarName(index, name.c_str()));
        // Offsets and size laid out with the rebuilt variable go with it.
        if (laidOut) CheckHr(type_->LayOut());
    });
    CheckHr(type_->AddVarDesc(index + 1, &vd));
    added = true;
    owner.FreeTypeDesc();
    CopyVarCustData(ti, index, index + 1);
    SetVarHelpData(index + 1, help);
    CheckHr(type_->SetVarName(index, u""));
    unnamed = true;
    CheckHr(type_->SetVarName(index + 1, name.c_str()));
    CheckHr(type_->DeleteVarDesc(index));
    deleted = true;
    CheckHr(type_->LayOut());
    laidOut = true;
    if (beforeCommit) beforeCommit();
    undo.Dismiss();
    rollback.Dismiss();
}

}  // namespace zephrin
