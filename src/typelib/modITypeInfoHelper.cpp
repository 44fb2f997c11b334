#include "typelib/modITypeInfoHelper.h"

#include <unordered_set>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modAttributeStrings.h"

namespace zephrin::modITypeInfoHelper {

using ole::ComPtr;
using ole::HRESULT;
using namespace typelib_detail;

namespace {

bool IsDualByAttr(ole::ITypeInfo* ti, ole::TYPEKIND* kind) {
    TypeAttr attr(ti);
    if (kind) *kind = attr->typekind;
    return (attr->wTypeFlags & ole::TYPEFLAG_FDUAL) != 0;
}

// The interface half of a dual dispinterface, or null.
ComPtr<ole::ITypeInfo> InterfaceHalf(ole::ITypeInfo* ti) {
    ole::HREFTYPE href = 0;
    CheckHr(ti->GetRefTypeOfImplType(static_cast<ole::UINT>(-1), &href));
    ComPtr<ole::ITypeInfo> half;
    CheckHr(ti->GetRefTypeInfo(href, half.put()));
    return half;
}

bool IsDual(ole::ITypeInfo* ti, ole::TYPEKIND* kind) {
    if (ComPtr<ole::ITypeInfo2> ti2 = ComPtr<ole::ITypeInfo>(ti).As<ole::ITypeInfo2>()) {
        ole::ULONG flags = 0;
        CheckHr(ti2->GetTypeFlags(&flags));
        if (kind) CheckHr(ti2->GetTypeKind(kind));
        return (flags & ole::TYPEFLAG_FDUAL) != 0;
    }
    return IsDualByAttr(ti, kind);
}

}  // namespace

ComPtr<ole::ITypeInfo2> GetInterfaceTypeInfo2(ole::ITypeLib* lib, ole::UINT index) {
    if (!lib) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(lib->GetTypeInfo(index, ti.put()));
    ComPtr<ole::ITypeInfo2> ti2;
    CheckHr(ti.As(&ti2));
    ole::ULONG flags = 0;
    CheckHr(ti2->GetTypeFlags(&flags));
    if (flags & ole::TYPEFLAG_FDUAL) {
        ole::TYPEKIND kind = ole::TKIND_ENUM;
        CheckHr(ti2->GetTypeKind(&kind));
        if (kind == ole::TKIND_DISPATCH) CheckHr(InterfaceHalf(ti2.get()).As(&ti2));
    }
    return ti2;
}

ComPtr<ole::ITypeInfo> GetInterfaceTypeInfo(ole::ITypeLib* lib, ole::UINT index) {
    return ComPtr<ole::ITypeInfo>(GetInterfaceTypeInfo2(lib, index));
}

ComPtr<ole::ITypeInfo> GetInterfaceTypeInfoOfGuid(ole::ITypeLib* lib, const ole::GUID& guid) {
    if (!lib) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(lib->GetTypeInfoOfGuid(guid, ti.put()));
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    if (IsDual(ti.get(), &kind) && kind == ole::TKIND_DISPATCH) ti = InterfaceHalf(ti.get());
    return ti;
}

void ResolveDualInterface2(ComPtr<ole::ITypeInfo2>& ti) {
    if (!ti) RaiseError(kErrObjectNotSet);
    ole::ULONG flags = 0;
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    CheckHr(ti->GetTypeFlags(&flags));
    CheckHr(ti->GetTypeKind(&kind));
    if ((flags & ole::TYPEFLAG_FDUAL) && kind == ole::TKIND_DISPATCH) {
        ComPtr<ole::ITypeInfo2> half;
        CheckHr(InterfaceHalf(ti.get()).As(&half));
        ti = half;
    }
}

void ResolveDualInterface(ComPtr<ole::ITypeInfo>& ti) {
    if (!ti) return;
    try {
        ole::TYPEKIND kind = ole::TKIND_ENUM;
        if (IsDual(ti.get(), &kind) && kind == ole::TKIND_DISPATCH) {
            ComPtr<ole::ITypeInfo> half = InterfaceHalf(ti.get());
            if (half) ti = half;
        }
    } catch (const ErrorRecord&) {
    }
}

ole::TYPEKIND GetEffectiveTypeKind(ole::ITypeLib* lib, ole::UINT index) {
    if (!lib) RaiseError(kErrObjectNotSet);
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    CheckHr(lib->GetTypeInfoType(index, &kind));
    if (kind == ole::TKIND_DISPATCH) {
        ComPtr<ole::ITypeInfo> ti;
        CheckHr(lib->GetTypeInfo(index, ti.put()));
        if (IsDual(ti.get(), nullptr)) kind = ole::TKIND_INTERFACE;
    }
    return kind;
}

ole::MEMBERID MemberIDFromName(ole::ITypeInfo* ti, std::u16string_view name) {
    if (!ti) RaiseError(kErrObjectNotSet);
    std::u16string n(name);
    ole::LPOLESTR names[1] = {n.data()};
    ole::MEMBERID id = ole::MEMBERID_NIL;
    CheckHr(ti->GetIDsOfNames(names, 1, &id));
    return id;
}

std::u16string MemberNameFromID(ole::ITypeInfo* ti, ole::MEMBERID memid) {
    if (!ti) RaiseError(kErrObjectNotSet);
    ole::BSTR name = nullptr;
    ole::UINT got = 0;
    CheckHr(ti->GetNames(memid, &name, 1, &got));
    return TakeBstr(got ? name : nullptr);
}

void GetMemberNames(ole::ITypeInfo* ti, ole::MEMBERID memid, int paramIndex, std::u16string& memberName,
                    std::u16string& paramName) {
    if (!ti) RaiseError(kErrObjectNotSet);
    if (paramIndex < 0) RaiseError(kErrSubscriptOutOfRange);
    const ole::UINT want = static_cast<ole::UINT>(paramIndex) + 2;
    std::vector<ole::BSTR> names(want, nullptr);
    ole::UINT got = 0;
    const HRESULT hr = ti->GetNames(memid, names.data(), want, &got);
    ScopeGuard freeNames([&] {
        for (ole::BSTR b : names) ole::SysFreeString(b);
    });
    CheckHr(hr);
    if (got > 0) memberName.assign(ole::BstrView(names[0]));
    if (got == want) paramName.assign(ole::BstrView(names[want - 1]));
}

void GetMemberAndParamIDs(ole::ITypeInfo* ti, std::u16string_view memberName, std::u16string_view paramName,
                          ole::MEMBERID& memberId, ole::MEMBERID& paramId) {
    if (!ti) RaiseError(kErrObjectNotSet);
    std::u16string m(memberName), p(paramName);
    ole::LPOLESTR names[2] = {m.data(), p.data()};
    ole::MEMBERID ids[2] = {ole::MEMBERID_NIL, ole::MEMBERID_NIL};
    CheckHr(ti->GetIDsOfNames(names, 2, ids));
    memberId = ids[0];
    paramId = ids[1];
}

bool IsOwnName(ole::ITypeInfo* ti, std::u16string_view name, ole::MEMBERID memid, ole::INVOKEKIND kind) {
    ComPtr<ole::ITypeComp> comp;
    if (!ti || name.empty() || FAILED(ti->GetTypeComp(comp.put())) || !comp) return false;
    std::u16string text(name);
    ComPtr<ole::ITypeInfo> bound;
    ole::DESCKIND desc = ole::DESCKIND_NONE;
    ole::BINDPTR ptr{};
    if (FAILED(comp->Bind(text.data(), 0, static_cast<ole::WORD>(kind), bound.put(), &desc, &ptr)) || !bound)
        return false;
    if (desc != ole::DESCKIND_FUNCDESC) {
        if (desc == ole::DESCKIND_VARDESC) bound->ReleaseVarDesc(ptr.lpvardesc);
        return false;
    }
    const bool own =
        SameObject(bound.get(), ti) && ptr.lpfuncdesc->memid == memid && ptr.lpfuncdesc->invkind == kind;
    bound->ReleaseFuncDesc(ptr.lpfuncdesc);
    return own;
}

int32_t AccessorSharingMethodName(ole::ITypeInfo2* ti, ole::MEMBERID memid, std::u16string* name) {
    ole::UINT index = 0;
    if (!ti || FAILED(ti->GetFuncIndexOfMemId(memid, ole::INVOKE_FUNC, &index))) return 0;
    ole::BSTR read = nullptr;
    ole::UINT got = 0;
    if (FAILED(ti->GetNames(memid, &read, 1, &got)) || got == 0) return 0;
    const std::u16string method = TakeBstr(read);
    if (!IsOwnName(ti, method, memid, ole::INVOKE_FUNC)) return 0;
    for (ole::INVOKEKIND kind : {ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF})
        if (SUCCEEDED(ti->GetFuncIndexOfMemId(memid, kind, &index)) && IsOwnName(ti, method, memid, kind)) {
            if (name) *name = method;
            return kind;
        }
    return 0;
}

void RaiseSharedMethodName(ole::ITypeInfo* ti, const std::u16string& name, int32_t accessor) {
    RaiseError(kErrInvalidArgument,
               modSupport::FormatPlaceholders(
                   u"Type '|1': the method '|2' and the |3accessor '|4' share their name and member ID, so an edit "
                   u"history can't tell them apart. Delete one of them before renaming the other, giving it another "
                   u"member ID or adding accessors to it.",
                   {GetTypeInfoName(ti), name, modAttributeStrings::InvokeKindText(accessor), name}));
}

ole::HRESULT SetFuncNamesSharingId(ole::ICreateTypeInfo* cti, ole::UINT index, ole::LPOLESTR* names, ole::UINT count) {
    const HRESULT hr = cti->SetFuncAndParamNames(index, names, count);
    ComPtr<ole::ICreateTypeInfoSharedName> shared;
    if (hr != ole::TYPE_E_AMBIGUOUSNAME ||
        FAILED(cti->QueryInterface(ole::ICreateTypeInfoSharedName::kIID, shared.put_void())))
        return hr;
    return shared->SetFuncAndParamNamesSharingId(index, names, count);
}

std::u16string GetImplTypeName(ole::ITypeInfo* ti, ole::UINT index) {
    if (!ti) RaiseError(kErrObjectNotSet);
    ole::HREFTYPE href = 0;
    CheckHr(ti->GetRefTypeOfImplType(index, &href));
    ComPtr<ole::ITypeInfo> ref;
    CheckHr(ti->GetRefTypeInfo(href, ref.put()));
    return GetTypeInfoName(ref.get());
}

std::u16string GetBaseTypeName(ole::ITypeInfo* ti, ole::UINT index) { return GetImplTypeName(ti, index); }

std::u16string GetTypeInfoName(ole::ITypeInfo* ti) {
    if (!ti) RaiseError(kErrObjectNotSet);
    ole::BSTR name = nullptr;
    CheckHr(ti->GetDocumentation(ole::MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
    return TakeBstr(name);
}

int32_t VarIndexOfMemId(ole::ITypeInfo2* ti, ole::MEMBERID memberID) {
    ole::UINT index = 0;
    if (ti && SUCCEEDED(ti->GetVarIndexOfMemId(memberID, &index))) return static_cast<int32_t>(index);
    return -1;
}

int GetInheritanceDepth(ole::ITypeLib* lib, ole::UINT index) {
    if (!lib) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo> cur;
    CheckHr(lib->GetTypeInfo(index, cur.put()));
    std::unordered_set<ole::IUnknown*> seen;
    ComPtr<ole::IUnknown> identity;
    (void)cur.As(&identity);
    seen.insert(identity.get());
    int depth = 0;
    for (;;) {
        ole::HREFTYPE href = 0;
        if (FAILED(cur->GetRefTypeOfImplType(0, &href))) break;
        ComPtr<ole::ITypeInfo> next;
        if (FAILED(cur->GetRefTypeInfo(href, next.put())) || !next) break;
        (void)next.As(&identity);
        if (!seen.insert(identity.get()).second) RaiseError(ole::TYPE_E_CIRCULARTYPE);
        ++depth;
        cur = next;
    }
    return depth;
}

ComPtr<ole::ITypeLib> GetContainingTypeLib(ole::ITypeInfo* ti) {
    if (!ti) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeLib> lib;
    ole::UINT index = 0;
    CheckHr(ti->GetContainingTypeLib(lib.put(), &index));
    return lib;
}

ComPtr<ole::ITypeLib2> GetContainingTypeLib2(ole::ITypeInfo* ti) {
    ComPtr<ole::ITypeLib2> lib2;
    CheckHr(GetContainingTypeLib(ti).As(&lib2));
    return lib2;
}

std::vector<ComPtr<ole::ITypeInfo2>> DispatchedChain(ole::ITypeInfo* type) {
    if (!type) RaiseError(kErrObjectNotSet);
    bool stored = false;
    {
        TypeAttr attr(type);
        if (attr->typekind != ole::TKIND_DISPATCH || (attr->wTypeFlags & ole::TYPEFLAG_FDUAL)) return {};
        stored = attr->cImplTypes >= 2;
    }
    // Stored, the dispinterface has IDispatch and the interface as its
    // implemented types; as its library hands it out, it names the interface
    // as a dual names its other half.
    ole::HREFTYPE href = 0;
    ComPtr<ole::ITypeInfo> link;
    if (FAILED(type->GetRefTypeOfImplType(stored ? 1 : static_cast<ole::UINT>(-1), &href))) return {};
    CheckHr(type->GetRefTypeInfo(href, link.put()));
    std::vector<ComPtr<ole::ITypeInfo2>> chain;
    for (int depth = 0; link && depth < 64; ++depth) {
        ComPtr<ole::ICreateTypeInfo2> create;
        ComPtr<ole::ITypeInfo2> read;
        if (SUCCEEDED(link.As(&create)))
            CheckHr(create.As(&read));
        else
            CheckHr(link.As(&read));
        chain.push_back(read);
        bool hasBase = false;
        {
            TypeAttr attr(read.get());
            hasBase = attr->typekind == ole::TKIND_INTERFACE && attr->cImplTypes > 0;
        }
        ComPtr<ole::ITypeInfo> base;
        if (!hasBase || FAILED(read->GetRefTypeOfImplType(0, &href)) || FAILED(read->GetRefTypeInfo(href, base.put())))
            break;
        link = base;
    }
    return chain;
}

namespace {

[[noreturn]] void RaiseForeignDeclarer(ole::ITypeInfo* declarer) {
    RaiseError(kErrInvalidArgument, u"The member belongs to " + GetTypeInfoName(declarer) +
                                        u" of another library, over which the dispinterface is declared; "
                                        u"it can't be changed in this library.");
}

}  // namespace

ComPtr<ole::ITypeInfo2> DispatchedDeclarer(ole::ITypeInfo* type, ole::MEMBERID memberID, ole::ITypeLib* home) {
    const std::vector<ComPtr<ole::ITypeInfo2>> chain = DispatchedChain(type);
    if (chain.empty()) return nullptr;
    for (const ComPtr<ole::ITypeInfo2>& read : chain) {
        bool declared = VarIndexOfMemId(read.get(), memberID) >= 0;
        for (ole::INVOKEKIND kind : {ole::INVOKE_FUNC, ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT,
                                     ole::INVOKE_PROPERTYPUTREF}) {
            ole::UINT index = 0;
            declared = declared || SUCCEEDED(read->GetFuncIndexOfMemId(memberID, kind, &index));
        }
        if (!declared) continue;
        if (!home) return read;
        ComPtr<ole::ICreateTypeInfo2> create;
        ComPtr<ole::ITypeLib> lib;
        ole::UINT index = 0;
        if (FAILED(read->GetContainingTypeLib(lib.put(), &index)) || !SameObject(lib.get(), home) ||
            FAILED(read.As(&create)))
            RaiseForeignDeclarer(read.get());
        return read;
    }
    RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
}

int HiddenParamCount(const ole::FUNCDESC& fd) {
    int count = (fd.invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) ? 1 : 0;
    int last = fd.cParams - 1;
    if (last < 0 || !fd.lprgelemdescParam) return count;
    if (fd.lprgelemdescParam[last].paramdesc.wParamFlags & ole::PARAMFLAG_FRETVAL) {
        ++count;
        --last;
    }
    if (last >= 0 && (fd.lprgelemdescParam[last].paramdesc.wParamFlags & ole::PARAMFLAG_FLCID)) ++count;
    return count;
}

bool HasRetvalParam(const ole::FUNCDESC& fd) {
    return fd.cParams > 0 && fd.lprgelemdescParam &&
           (fd.lprgelemdescParam[fd.cParams - 1].paramdesc.wParamFlags & ole::PARAMFLAG_FRETVAL) != 0;
}

bool PassesValueItself(ole::ITypeInfo* ti, const ole::FUNCDESC& fd) {
    if (TypeAttr(ti)->typekind != ole::TKIND_DISPATCH) return false;
    if (fd.invkind == ole::INVOKE_PROPERTYGET) return !HasRetvalParam(fd);
    return (fd.invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0 &&
           fd.elemdescFunc.tdesc.vt != ole::VT_HRESULT;
}

bool PropertyGetHasRetval(ole::ITypeLib* lib, ole::UINT index, ole::MEMBERID memid) {
    const ComPtr<ole::ITypeInfo2> info = GetInterfaceTypeInfo2(lib, index);
    ole::UINT at = 0;
    if (!info || ole::FAILED(info->GetFuncIndexOfMemId(memid, ole::INVOKE_PROPERTYGET, &at))) return false;
    return HasRetvalParam(*FuncDescHolder(info.get(), at));
}

namespace {

// Stand-ins for an editable type and the bases it has in its own library, in
// a scratch library: the same kind and base, and one plain function for each
// of the type's functions at the same vtable offset (an automatic one reads
// 0 or its slot, and either places it where the automatic rule does). An
// interface whose functions sit exactly in the slots of its last layout (one
// after the other, up to its vtable size) is taken to have automatic offsets:
// when its base has grown since, those slots are stale, and the type itself
// would take new ones rather than keep slots its base now uses. The same goes
// for automatic slots that start past the end of a base in the library being
// edited (that base has shrunk since); explicit offsets with a gap in front
// of them are kept as they are, and so is a gap behind a base of another
// library, which was left on purpose. Laying a stand-in out answers what
// laying the type out would; the type itself is touched only to tell a gap
// behind a base of its own library apart (see For).
class LayOutStandIns {
public:
    explicit LayOutStandIns(ole::ITypeInfo* ti) {
        ole::UINT index = 0;
        CheckHr(ti->GetContainingTypeLib(home_.put(), &index));
        ole::TLIBATTR* attr = nullptr;
        CheckHr(home_->GetLibAttr(&attr));
        const ole::SYSKIND syskind = attr->syskind;
        home_->ReleaseTLibAttr(attr);
        pointerSize_ = syskind == ole::SYS_WIN64 ? 8 : 4;
        CheckHr(ole::CreateTypeLib2(syskind, u"", scratch_.put()));
    }

    // Null when the type's base can't be read or its chain loops; other
    // failures are raised.
    ComPtr<ole::ICreateTypeInfo2> For(ole::ITypeInfo* ti, int depth = 0) {
        if (depth > 64) return nullptr;
        ole::TYPEKIND kind{};
        ole::UINT funcs = 0, impls = 0, vtableSize = 0, baseSize = 0;
        bool editableBase = false;
        {
            TypeAttr attr(ti);
            kind = attr->typekind;
            funcs = attr->cFuncs;
            impls = attr->cImplTypes;
            vtableSize = attr->cbSizeVft;
        }
        const std::u16string name = u"T" + modSupport::FormatItem(depth).Text;
        ComPtr<ole::ICreateTypeInfo> created;
        CheckHr(scratch_->CreateTypeInfo(name.c_str(), kind, created.put()));
        ComPtr<ole::ICreateTypeInfo2> standIn;
        CheckHr(created.As(&standIn));
        if (impls > 0 && (kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH)) {
            ole::HREFTYPE href = 0;
            ComPtr<ole::ITypeInfo> base;
            if (FAILED(ti->GetRefTypeOfImplType(0, &href)) || FAILED(ti->GetRefTypeInfo(href, base.put())) || !base)
                return nullptr;
            baseSize = TypeAttr(base.get())->cbSizeVft;
            ComPtr<ole::ITypeInfo> referenced = base;
            ComPtr<ole::ITypeLib> baseLib;
            ole::UINT baseIndex = 0;
            if (SUCCEEDED(base->GetContainingTypeLib(baseLib.put(), &baseIndex)) && SameObject(baseLib.get(), home_.get()) &&
                base.As<ole::ICreateTypeInfo2>()) {
                editableBase = true;
                ComPtr<ole::ICreateTypeInfo2> baseStandIn = For(base.get(), depth + 1);
                if (!baseStandIn) return nullptr;
                referenced = baseStandIn.As<ole::ITypeInfo>();
            }
            ole::HREFTYPE ref = 0;
            CheckHr(standIn->AddRefTypeInfo(referenced.get(), &ref));
            const HRESULT hr = standIn->AddImplType(0, ref);
            if (hr == ole::TYPE_E_CIRCULARTYPE) return nullptr;
            CheckHr(hr);
        }
        bool automatic = kind == ole::TKIND_INTERFACE && InLastLayoutSlots(ti, funcs, vtableSize);
        if (automatic && vtableSize - funcs * pointerSize_ > baseSize) {
            // Slots past the end of the base: behind a base of another
            // library, a gap left on purpose. Behind one of this library they
            // may be automatic slots of a base that has shrunk since, or
            // explicit offsets with a gap in front of them (a vtable order or
            // a deleted function leaves those); only the type itself knows.
            // A function added behind explicit offsets off their automatic
            // slots can't be laid out, so the trial on the type tells them
            // apart. A failed trial leaves the type as it was.
            ComPtr<ole::ICreateTypeInfo2> own;
            automatic = editableBase && SUCCEEDED(ComPtr<ole::ITypeInfo>(ti).As(&own)) && own &&
                        ProbeLayOut(own.get(), ti, true);
        }
        for (ole::UINT i = 0; i < funcs; ++i) {
            FuncDescHolder fd(ti, i);
            ole::FUNCDESC stub{};
            stub.memid = static_cast<ole::MEMBERID>(i + 1);
            stub.funckind = fd->funckind;
            stub.invkind = ole::INVOKE_FUNC;
            stub.callconv = fd->callconv;
            stub.oVft = automatic ? 0 : fd->oVft;
            stub.elemdescFunc.tdesc.vt = ole::VT_HRESULT;
            CheckHr(standIn->AddFuncDesc(i, &stub));
        }
        return standIn;
    }

private:
    // Whether function i sits at vtableSize - (funcs - i) slots, for every i.
    bool InLastLayoutSlots(ole::ITypeInfo* ti, ole::UINT funcs, ole::UINT vtableSize) const {
        if (funcs == 0 || vtableSize < funcs * pointerSize_) return false;
        const ole::UINT first = vtableSize - funcs * pointerSize_;
        for (ole::UINT i = 0; i < funcs; ++i)
            if (static_cast<ole::UINT>(static_cast<uint16_t>(FuncDescHolder(ti, i)->oVft)) != first + i * pointerSize_)
                return false;
        return true;
    }

    ComPtr<ole::ITypeLib> home_;
    ComPtr<ole::ICreateTypeLib2> scratch_;
    ole::UINT pointerSize_ = 4;
};

}  // namespace

bool CanLayOut(ole::ITypeInfo* ti) {
    if (!ti) RaiseError(kErrObjectNotSet);
    if (!ComPtr<ole::ITypeInfo>(ti).As<ole::ICreateTypeInfo2>()) return false;
    return TakesAutomaticSlots(ti);
}

namespace {

ole::ULONG PointerSizeOf(ole::ITypeLib* lib) {
    ole::TLIBATTR* attr = nullptr;
    CheckHr(lib->GetLibAttr(&attr));
    const ole::ULONG size = attr->syskind == ole::SYS_WIN64 ? 8 : 4;
    lib->ReleaseTLibAttr(attr);
    return size;
}

// An interface read from a file, on a base that is not being edited either,
// whose every function sits on the slot the automatic rule gives it: a
// function added behind them lays out, which is what its stand-ins would
// answer, so reading the offsets answers without building them. False where
// that can't be told this way.
bool SitsOnItsAutomaticSlots(ole::ITypeInfo* ti) {
    if (ComPtr<ole::ITypeInfo>(ti).As<ole::ICreateTypeInfo2>()) return false;
    ole::UINT funcs = 0, impls = 0;
    {
        TypeAttr attr(ti);
        if (attr->typekind != ole::TKIND_INTERFACE) return false;
        funcs = attr->cFuncs;
        impls = attr->cImplTypes;
    }
    ComPtr<ole::ITypeLib> home;
    ole::UINT index = 0;
    if (FAILED(ti->GetContainingTypeLib(home.put(), &index)) || !home) return false;
    const ole::ULONG ptr = PointerSizeOf(home.get());
    ole::ULONG baseVft = 0;
    if (impls > 0) {
        ole::HREFTYPE href = 0;
        ComPtr<ole::ITypeInfo> base;
        if (FAILED(ti->GetRefTypeOfImplType(0, &href)) || FAILED(ti->GetRefTypeInfo(href, base.put())) || !base ||
            base.As<ole::ICreateTypeInfo2>())
            return false;
        ComPtr<ole::ITypeLib> baseLib;
        ole::UINT baseIndex = 0;
        if (FAILED(base->GetContainingTypeLib(baseLib.put(), &baseIndex)) || !baseLib) return false;
        baseVft = TypeAttr(base.get())->cbSizeVft;
        // A base of a library for another platform: its slots at this
        // library's pointer size, as the layout counts them.
        const ole::ULONG basePtr = PointerSizeOf(baseLib.get());
        if (basePtr != ptr) baseVft = baseVft / basePtr * ptr;
        // The chain of bases must end, and be read to its end, as the
        // layout reads it (a damaged library may loop).
        ComPtr<ole::ITypeInfo> cur = base;
        for (int depth = 0;; ++depth) {
            if (depth > 64) return false;
            if (TypeAttr(cur.get())->cImplTypes == 0) break;
            ComPtr<ole::ITypeInfo> next;
            if (FAILED(cur->GetRefTypeOfImplType(0, &href)) || FAILED(cur->GetRefTypeInfo(href, next.put())) || !next)
                return false;
            cur = next;
        }
    }
    for (ole::UINT i = 0; i < funcs; ++i)
        if (static_cast<ole::ULONG>(static_cast<uint16_t>(FuncDescHolder(ti, i)->oVft)) != baseVft + ptr * i)
            return false;
    return baseVft + ptr * (funcs + 1) <= 0xFFFF;
}

}  // namespace

bool TakesAutomaticSlots(ole::ITypeInfo* ti) {
    if (!ti) RaiseError(kErrObjectNotSet);
    if (SitsOnItsAutomaticSlots(ti)) return true;
    LayOutStandIns standIns(ti);
    ComPtr<ole::ICreateTypeInfo2> standIn = standIns.For(ti);
    if (!standIn) return false;
    return ProbeLayOut(standIn.get(), standIn.As<ole::ITypeInfo>().get(), false);
}

namespace {

// The trial of ProbeLayOut and ProbeAutomaticSlots: a function added after
// the others, or in front of them.
bool ProbeWithTrial(ole::ICreateTypeInfo2* cti, ole::ITypeInfo* ti, bool restoreLayout, bool atFront) {
    ole::UINT count = 0;
    {
        TypeAttr attr(ti);
        count = atFront ? 0 : attr->cFuncs;
    }
    ole::FUNCDESC fd{};
    fd.memid = ole::MEMBERID_NIL;
    fd.funckind = ole::FUNC_PUREVIRTUAL;
    fd.invkind = ole::INVOKE_FUNC;
    fd.callconv = ole::CC_STDCALL;
    fd.elemdescFunc.tdesc.vt = ole::VT_HRESULT;
    CheckHr(cti->AddFuncDesc(count, &fd));
    // Should a step fail, the trial function goes and the type is laid out
    // again, so that it reports what it did before.
    ScopeGuard undo([cti] { CheckHr(cti->LayOut()); });
    bool trial = true;
    undo.OnFailure([&] {
        if (trial) CheckHr(cti->DeleteFuncDesc(count));
    });
    const bool ok = SUCCEEDED(cti->LayOut());
    CheckHr(cti->DeleteFuncDesc(count));
    trial = false;
    // A failed layout changed nothing; a successful one is laid out again
    // without the trial function, so the type reports what it did before.
    if (ok && restoreLayout) CheckHr(cti->LayOut());
    undo.Dismiss();
    return ok;
}

}  // namespace

bool ProbeLayOut(ole::ICreateTypeInfo2* cti, ole::ITypeInfo* ti, bool restoreLayout) {
    return ProbeWithTrial(cti, ti, restoreLayout, false);
}

bool ProbeAutomaticSlots(ole::ICreateTypeInfo2* cti, ole::ITypeInfo* ti) {
    return ProbeWithTrial(cti, ti, true, true);
}

bool LayOutTypeInfo(ole::ICreateTypeInfo* cti) { return cti && SUCCEEDED(cti->LayOut()); }

std::u16string AlignmentRefusal(ole::ITypeInfo* ti, int16_t cbAlignment) {
    ole::WORD widest = 8;
    ComPtr<ole::ICreateTypeInfoAlignment> natural;
    if (ti && SUCCEEDED(ti->QueryInterface(ole::ICreateTypeInfoAlignment::kIID, natural.put_void())))
        (void)natural->GetNaturalAlignment(&widest);
    if (widest == 0 || widest > 8) widest = 8;
    const bool storable = cbAlignment == 1 || cbAlignment == 2 || cbAlignment == 4 || cbAlignment == 8;
    if (storable && cbAlignment <= widest) return {};
    const std::u16string name = ti ? GetTypeInfoName(ti) : std::u16string();
    if (widest == 1)
        return modSupport::FormatPlaceholders(u"The fields of |1 align to 1 byte at most: its alignment can only be 1.",
                                              {name});
    std::u16string allowed;
    for (int a = 1; a <= widest; a *= 2) {
        if (!allowed.empty()) allowed += a == widest ? u" or " : u", ";
        allowed += modSupport::FormatPlaceholders(u"|1", {a});
    }
    return modSupport::FormatPlaceholders(u"The fields of |1 align to |2 bytes at most: its alignment can be |3.",
                                          {name, static_cast<int>(widest), allowed});
}

// ---- Custom data ----

namespace {

template <class T, class F>
GetCustDataFn MakeGetter(T* item, F f) {
    return [p = ComPtr<T>(item), f](ole::CUSTDATA& out) {
        if (!p) RaiseError(kErrObjectNotSet);
        CheckHr(f(p.get(), &out));
    };
}

template <class T, class F>
SetCustDataFn MakeSetter(T* item, F f) {
    return [p = ComPtr<T>(item), f](const ole::GUID& guid, ole::VARIANT& value) {
        if (!p) RaiseError(kErrObjectNotSet);
        // Every custom data value the model writes passes here.
        RequireStorable(value);
        CheckHr(f(p.get(), guid, &value));
    };
}

}  // namespace

GetCustDataFn GetLibCustData(ole::ITypeLib2* lib) {
    return MakeGetter(lib, [](ole::ITypeLib2* p, ole::CUSTDATA* cd) { return p->GetAllCustData(cd); });
}
GetCustDataFn GetTypeCustData(ole::ITypeInfo2* ti) {
    return MakeGetter(ti, [](ole::ITypeInfo2* p, ole::CUSTDATA* cd) { return p->GetAllCustData(cd); });
}
GetCustDataFn GetImplTypeCustData(ole::ITypeInfo2* ti, ole::UINT index) {
    return MakeGetter(ti, [index](ole::ITypeInfo2* p, ole::CUSTDATA* cd) { return p->GetAllImplTypeCustData(index, cd); });
}
GetCustDataFn GetVarCustData(ole::ITypeInfo2* ti, ole::UINT index) {
    return MakeGetter(ti, [index](ole::ITypeInfo2* p, ole::CUSTDATA* cd) { return p->GetAllVarCustData(index, cd); });
}
GetCustDataFn GetFuncCustData(ole::ITypeInfo2* ti, ole::UINT index) {
    return MakeGetter(ti, [index](ole::ITypeInfo2* p, ole::CUSTDATA* cd) { return p->GetAllFuncCustData(index, cd); });
}
GetCustDataFn GetParamCustData(ole::ITypeInfo2* ti, ole::UINT funcIndex, ole::UINT paramIndex) {
    return MakeGetter(ti, [funcIndex, paramIndex](ole::ITypeInfo2* p, ole::CUSTDATA* cd) {
        return p->GetAllParamCustData(funcIndex, paramIndex, cd);
    });
}
SetCustDataFn SetLibCustData(ole::ICreateTypeLib2* lib) {
    return MakeSetter(lib, [](ole::ICreateTypeLib2* p, const ole::GUID& g, ole::VARIANT* v) { return p->SetCustData(g, v); });
}
SetCustDataFn SetTypeCustData(ole::ICreateTypeInfo2* cti) {
    return MakeSetter(cti, [](ole::ICreateTypeInfo2* p, const ole::GUID& g, ole::VARIANT* v) { return p->SetCustData(g, v); });
}
SetCustDataFn SetImplTypeCustData(ole::ICreateTypeInfo2* cti, ole::UINT index) {
    return MakeSetter(cti, [index](ole::ICreateTypeInfo2* p, const ole::GUID& g, ole::VARIANT* v) {
        return p->SetImplTypeCustData(index, g, v);
    });
}
SetCustDataFn SetVarCustData(ole::ICreateTypeInfo2* cti, ole::UINT index) {
    return MakeSetter(cti, [index](ole::ICreateTypeInfo2* p, const ole::GUID& g, ole::VARIANT* v) {
        return p->SetVarCustData(index, g, v);
    });
}
SetCustDataFn SetFuncCustData(ole::ICreateTypeInfo2* cti, ole::UINT index) {
    return MakeSetter(cti, [index](ole::ICreateTypeInfo2* p, const ole::GUID& g, ole::VARIANT* v) {
        return p->SetFuncCustData(index, g, v);
    });
}
SetCustDataFn SetParamCustData(ole::ICreateTypeInfo2* cti, ole::UINT funcIndex, ole::UINT paramIndex) {
    return MakeSetter(cti, [funcIndex, paramIndex](ole::ICreateTypeInfo2* p, const ole::GUID& g, ole::VARIANT* v) {
        return p->SetParamCustData(funcIndex, paramIndex, g, v);
    });
}

void SetCustDataItems(ole::CUSTDATA& items, const SetCustDataFn& set) {
    for (ole::DWORD i = 0; i < items.cCustData; ++i) set(items.prgCustData[i].guid, items.prgCustData[i].varValue);
}

void CopyCustData(const GetCustDataFn& get, const SetCustDataFn& set) {
    ole::CUSTDATA cd{};
    ScopeGuard clear([&] { ole::ClearCustData(&cd); });
    get(cd);
    if (cd.cCustData > 0) SetCustDataItems(cd, set);
}

void CopyCustDataModified(const GetCustDataFn& get, const SetCustDataFn& set,
                          const std::function<bool(ole::CUSTDATA&)>& modify,
                          const std::function<void(ole::CUSTDATA&)>& release) {
    ole::CUSTDATA cd{};
    bool modifierOwns = false;
    ScopeGuard free([&] {
        if (modifierOwns && release)
            release(cd);
        else
            ole::ClearCustData(&cd);
    });
    get(cd);
    if (modify) modifierOwns = modify(cd);
    if (cd.cCustData > 0) SetCustDataItems(cd, set);
}

void CopyLibCustData(ole::ITypeLib2* source, ole::ICreateTypeLib2* dest) {
    CopyCustData(GetLibCustData(source), SetLibCustData(dest));
}

void MarkUnresolvedTypesLib(ole::ICreateTypeLib2* lib) {
    if (!lib) RaiseError(kErrObjectNotSet);
    ole::Variant v(true);
    CheckHr(lib->SetCustData(kUnresolvedTypesLibGuid, v.ptr()));
}

bool IsUnresolvedTypesLib(ole::ITypeLib* lib) {
    if (!lib) return false;
    ComPtr<ole::ITypeLib2> lib2 = ComPtr<ole::ITypeLib>(lib).As<ole::ITypeLib2>();
    if (!lib2) return false;
    ole::Variant v;
    if (FAILED(lib2->GetCustData(kUnresolvedTypesLibGuid, v.put()))) return false;
    if (v.vt() == ole::VT_EMPTY) return false;
    if (FAILED(v.ChangeType(ole::VT_BOOL))) return false;
    return v.get().boolVal != 0;
}

}  // namespace zephrin::modITypeInfoHelper
