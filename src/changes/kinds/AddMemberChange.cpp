#include "changes/kinds/AddMemberChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/VtableChecks.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modMarbrel.h"

namespace zephrin {

namespace {

using typelib_detail::CheckVtableFits;
using typelib_detail::FuncDescHolder;
using typelib_detail::TypeAttr;

constexpr int32_t kAccessorBits = ole::INVOKE_PROPERTYGET | ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF;
constexpr int32_t kFlagsIn = ole::PARAMFLAG_FIN;
constexpr int32_t kFlagsInOut = ole::PARAMFLAG_FIN | ole::PARAMFLAG_FOUT;
constexpr int32_t kFlagsRetval = ole::PARAMFLAG_FOUT | ole::PARAMFLAG_FRETVAL;

bool HoldsVariables(int32_t typeKind) {
    return typeKind == ole::TKIND_ENUM || typeKind == ole::TKIND_RECORD || typeKind == ole::TKIND_UNION;
}

ole::ComPtr<CustomVarTypeInfo> TypeOf(ole::VARTYPE vt) {
    ole::ComPtr<CustomVarTypeInfo> type = CustomVarTypeInfo::New();
    type->SetType(vt, nullptr);
    return type;
}

// The name base from the string table, numbered until no member of type has it.
std::u16string UniqueMemberName(ole::ITypeInfo* type, int32_t resourceId) {
    std::u16string name = modSupport::LoadResStringById(resourceId);
    modMarbrel::MakeUniqueName(modMarbrel::MemberNamePredicate(type), name, true);
    return name;
}

// A function's DLL name; empty when it has none or it cannot be read.
std::u16string DllNameOf(ole::ITypeInfo* type, ole::MEMBERID memberId, ole::INVOKEKIND kind) {
    ole::BSTR dll = nullptr, entry = nullptr;
    ole::WORD ordinal = 0;
    if (ole::FAILED(type->GetDllEntry(memberId, kind, &dll, &entry, &ordinal))) return {};
    ole::SysFreeString(entry);
    return typelib_detail::TakeBstr(dll);
}

// The DLL name of a module's last function, else the placeholder.
std::u16string ModuleDllName(ole::ITypeInfo* type) {
    std::u16string dll;
    try {
        TypeAttr attr(type);
        if (attr->cFuncs != 0) {
            FuncDescHolder last(type, attr->cFuncs - 1U);
            dll = DllNameOf(type, last->memid, last->invkind);
        }
    } catch (const ErrorRecord&) {
        dll.clear();
    }
    return dll.empty() ? modSupport::LoadResStringById(629) : dll;
}

// On rollback, removes the functions added at the end of the type.
void RemoveAddedFunctionsOnFailure(ScopeGuard& rollback, const std::shared_ptr<CustomTypeInfo>& ti) {
    const int32_t count = ti->FuncCount();
    rollback.OnFailure([ti, count] {
        const ole::ComPtr<ole::ICreateTypeInfo2>& create = ti->CreateTypeInfo();
        for (int32_t n = ti->FuncCount(); n > count; --n)
            CheckHr(create->DeleteFuncDesc(static_cast<ole::UINT>(n - 1)));
        (void)create->LayOut();
    });
}

// The parameter of a function description as a ParamData (without its name).
ParamData ParamOf(const ole::ELEMDESC& elem, ole::ITypeLib* lib, ole::ITypeInfo* type) {
    ParamData p;
    p.Flags = elem.paramdesc.wParamFlags;
    if ((p.Flags & ole::PARAMFLAG_FHASDEFAULT) && elem.paramdesc.pparamdescex)
        p.DefaultValue = ole::Variant(elem.paramdesc.pparamdescex->varDefaultValue);
    const ole::ComPtr<CustomVarTypeInfo> t = CustomVarTypeInfo::New();
    t->DuplicateFromTypeDesc(elem.tdesc, lib, type);
    p.VTInfo = t->GetVarTypeInfo();
    return p;
}

// True for a user-defined type that resolves to a record.
bool IsRecord(CustomVarTypeInfo& type) {
    if (type.BaseVarType() != 0 || !type.TypeInfo()) return false;
    ole::VARTYPE vt = 0;
    return modSupport::ResolveTypeKind(type.TypeInfo().get(), vt) == ole::TKIND_RECORD;
}

// The target whose type takes the functions added. A dispinterface declared
// over an interface has the interface's functions: a function added to it
// goes to the interface, an accessor added to its property to the type of the
// interface's chain that declares the property (types of this library).
// Otherwise the target itself.
ChangeTarget FunctionHolder(CustomTypeLib& library, const ChangeTarget& target) {
    const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
    if (!ti) RaiseError(typelib_detail::kErrObjectNotSet);
    const std::unique_ptr<CustomTypeInfo> holder =
        target.Kind == kTargetMember ? ti->DispatchedDeclarer(target.MemberId) : ti->DispatchedInterface();
    if (!holder) return target;
    ChangeTarget on = target;
    ole::ComPtr<ole::ITypeLib> lib;
    ole::UINT index = 0;
    CheckHr(holder->ITypeInfo()->GetContainingTypeLib(lib.put(), &index));
    on.TypeIndex = static_cast<int32_t>(index);
    on.TypeKind = holder->TypeKind();
    return on;
}

}  // namespace

bool AddMemberChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                            int32_t flags) {
    RequireTargetKind(ChangeKind::AddMemberChange, target);
    const int32_t kinds = invokeKind_;
    if (target.Kind != kTargetType && target.Kind != kTargetMember) RaiseError(kErrInvalidArgument);
    if (kinds != 0 && (kinds & (ole::INVOKE_FUNC | kAccessorBits)) == 0) RaiseError(kErrInvalidArgument);
    if (target.Kind == kTargetMember && kinds != 0 && kinds != ole::INVOKE_PROPERTYGET &&
        kinds != ole::INVOKE_PROPERTYPUT && kinds != ole::INVOKE_PROPERTYPUTREF)
        RaiseError(kErrInvalidArgument);
    if (kinds == 0 && !HoldsVariables(target.TypeKind) && target.TypeKind != ole::TKIND_MODULE &&
        target.TypeKind != ole::TKIND_DISPATCH)
        RaiseError(kErrInvalidArgument);

    ChangeTarget copy = target;
    ScopeGuard rollback;
    if (useLibraryHelpFiles_) changes_detail::RestoreLibraryHelpFiles(library, rollback);
    if (kinds == 0)
        AddDataMember(library, target, rollback);
    else if (target.Kind == kTargetMember)
        AddAccessor(library, FunctionHolder(library, target), rollback);
    else
        AddFunction(library, FunctionHolder(library, target), rollback);
    rollback.Dismiss();
    if (listener) NotifyListener(*listener, ChangeKind::AddMemberChange, copy, *this, flags);
    return true;
}

void AddMemberChange::AddDataMember(CustomTypeLib& library, const ChangeTarget& target, ScopeGuard& rollback) {
    ole::ComPtr<ole::ITypeInfo> type;
    CheckHr(changes_detail::TargetLibrary(target)->GetTypeInfo(static_cast<ole::UINT>(target.TypeIndex), type.put()));
    const int32_t typeKind = target.TypeKind;
    const bool constant = typeKind == ole::TKIND_ENUM || typeKind == ole::TKIND_MODULE;
    const int32_t resourceId = typeKind == ole::TKIND_ENUM     ? 626
                               : typeKind == ole::TKIND_MODULE ? 628
                               : typeKind == ole::TKIND_DISPATCH ? 625
                                                                 : 627;
    int32_t position = -1;
    if (HoldsVariables(typeKind)) {
        position = 0;
        if (target.Kind == kTargetMember) {
            ole::ComPtr<ole::ITypeInfo2> type2;
            CheckHr(type.As(&type2));
            position = modITypeInfoHelper::VarIndexOfMemId(type2.get(), target.MemberId) + 1;
        }
    } else if (target.Kind == kTargetMember) {
        position = 0;
    }
    const std::u16string name = UniqueMemberName(type.get(), resourceId);

    const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
    const int32_t count = ti->VarCount();
    if (constant)
        ti->AddConstant(name, ole::Variant(int32_t{0}), 0, position);
    else
        ti->AddProperty(name, TypeOf(ole::VT_I4).get(), ole::MEMBERID_NIL, 0, position);
    // Where the model put it: at the position in an enum, record or union, else at the end.
    const int32_t index = HoldsVariables(typeKind) && position >= 0 && position <= count ? position : count;
    rollback.OnFailure([ti, index] {
        CheckHr(ti->CreateTypeInfo()->DeleteVarDesc(static_cast<ole::UINT>(index)));
        (void)ti->CreateTypeInfo()->LayOut();
    });
    ti->LayOut();
    newMemberId_ = modITypeInfoHelper::MemberIDFromName(type.get(), name);
    newMemberName_ = name;
}

void AddMemberChange::AddFunction(CustomTypeLib& library, const ChangeTarget& target, ScopeGuard& rollback) {
    const int32_t kinds = invokeKind_;
    const ole::ComPtr<ole::ITypeInfo> type = changes_detail::TargetTypeInfo(target);
    const bool isModule = target.TypeKind == ole::TKIND_MODULE;
    const bool property = (kinds & ole::INVOKE_FUNC) == 0;
    int32_t first = ole::INVOKE_FUNC;
    ole::VARTYPE valueType = ole::VT_I4;
    if (property) {
        const bool get = (kinds & ole::INVOKE_PROPERTYGET) != 0;
        if (kinds & ole::INVOKE_PROPERTYPUTREF) {
            first = get ? ole::INVOKE_PROPERTYGET : ole::INVOKE_PROPERTYPUTREF;
            valueType = ole::VT_DISPATCH;
        } else {
            first = get ? ole::INVOKE_PROPERTYGET : ole::INVOKE_PROPERTYPUT;
        }
    }
    const std::u16string name = UniqueMemberName(type.get(), !property ? (isModule ? 623 : 624) : 625);
    const ole::ComPtr<CustomVarTypeInfo> returnType = TypeOf(isModule && !property ? ole::VT_VOID : ole::VT_HRESULT);
    std::vector<ParamData> params;
    ole::ComPtr<CustomVarTypeInfo> value;
    if (property) {
        value = TypeOf(valueType);
        params.emplace_back();
        params[0].VTInfo = value->GetVarTypeInfo();
        params[0].Name = modSupport::LoadResStringById(763);
    }

    const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
    FuncData fd = CustomTypeInfo::DefaultFuncData();
    if (isModule) {
        fd.DllName = ModuleDllName(type.get());
        fd.DllEntry = ole::Variant(modSupport::LoadResStringById(630));
    }
    RemoveAddedFunctionsOnFailure(rollback, ti);
    const bool offsets = ti->NextVTableOffset(fd.VTableOffset);
    for (int32_t bit = first; bit < 16; bit *= 2) {
        if (!(kinds & bit)) continue;
        if (property) {
            const bool get = bit == ole::INVOKE_PROPERTYGET;
            value->PointerLevel(get ? 1 : 0);
            params[0].Flags = get ? kFlagsRetval : kFlagsIn;
        }
        fd.InvokeKind = bit;
        ti->AddFunctionEx(name, returnType.get(), params, fd);
        if (offsets) fd.VTableOffset = static_cast<int16_t>(fd.VTableOffset + 4);
        // The later accessors join the property under the ID the first one got.
        if (property && fd.MemID == ole::MEMBERID_NIL) fd.MemID = modITypeInfoHelper::MemberIDFromName(type.get(), name);
    }
    ti->LayOut();
    CheckVtableFits(ti->ITypeInfo().get());
    newMemberId_ = modITypeInfoHelper::MemberIDFromName(type.get(), name);
    newMemberName_ = name;
}

void AddMemberChange::AddAccessor(CustomTypeLib& library, const ChangeTarget& target, ScopeGuard& rollback) {
    const int32_t adding = invokeKind_;
    const bool targetHasGet = (target.InvokeKind & ole::INVOKE_PROPERTYGET) != 0;
    ole::INVOKEKIND source = ole::INVOKE_PROPERTYGET;
    if (adding == ole::INVOKE_PROPERTYGET)
        source = (target.InvokeKind & ole::INVOKE_PROPERTYPUT) ? ole::INVOKE_PROPERTYPUT : ole::INVOKE_PROPERTYPUTREF;
    else if (!targetHasGet)
        source = adding == ole::INVOKE_PROPERTYPUT ? ole::INVOKE_PROPERTYPUTREF : ole::INVOKE_PROPERTYPUT;

    ole::ITypeLib* lib = changes_detail::TargetLibrary(target);
    const ole::ComPtr<ole::ITypeInfo> type = changes_detail::TargetTypeInfo(target);
    ole::ComPtr<ole::ITypeInfo2> type2;
    CheckHr(type.As(&type2));
    // An accessor would join a method and a property accessor that share the
    // name and the ID, which no history could tell apart from them.
    std::u16string sharedName;
    const int32_t sharing = modITypeInfoHelper::AccessorSharingMethodName(type2.get(), target.MemberId, &sharedName);
    if (sharing != 0) modITypeInfoHelper::RaiseSharedMethodName(type.get(), sharedName, sharing);
    ole::UINT sourceIndex = 0;
    CheckHr(type2->GetFuncIndexOfMemId(target.MemberId, source, &sourceIndex));
    FuncDescHolder fd(type.get(), sourceIndex);
    const bool isModule = target.TypeKind == ole::TKIND_MODULE;
    std::u16string dllName;
    if (isModule) {
        dllName = DllNameOf(type.get(), target.MemberId, source);
        if (dllName.empty()) dllName = modSupport::LoadResStringById(629);
    }

    // A dispinterface's property whose accessors take and return the value
    // itself gets another such accessor: a Let or Set takes all the Get's
    // parameters and then the value, and returns nothing; a Get takes the
    // parameters but the value, and returns the value. An interface's or
    // module's Get that returns the value itself (it has no return value
    // parameter and returns neither an HRESULT nor nothing) gives a Let or
    // Set the same form, returning an HRESULT.
    const bool get = adding == ole::INVOKE_PROPERTYGET;
    const auto count = static_cast<size_t>(std::max<ole::SHORT>(fd->cParams, 0));
    const bool fromGet = source == ole::INVOKE_PROPERTYGET;
    const ole::VARTYPE returned = fd->elemdescFunc.tdesc.vt;
    const bool returnsValue = TypeAttr(type.get())->typekind != ole::TKIND_DISPATCH && fromGet && !get &&
                              !modITypeInfoHelper::HasRetvalParam(*fd) && returned != ole::VT_HRESULT &&
                              returned != ole::VT_VOID;
    const bool itself =
        returnsValue || (modITypeInfoHelper::PassesValueItself(type.get(), *fd) && (!get || count != 0));

    // Every parameter but the value comes from the source (all of a Get's
    // that returns the value itself).
    const std::vector<std::u16string> names = typelib_detail::ReadNames(type.get(), target.MemberId,
                                                                        static_cast<ole::UINT>(count + 1));
    if (names.empty()) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    const size_t copied = itself && fromGet ? count : count == 0 ? 0 : count - 1;
    std::vector<ParamData> params;
    for (size_t i = 0; i < copied; ++i) {
        params.push_back(ParamOf(fd->lprgelemdescParam[i], lib, type.get()));
        if (i + 1 < names.size()) params.back().Name = names[i + 1];
    }
    if (fd->cParamsOpt == -1 && !params.empty()) {
        size_t at = params.size() - 1;
        if ((params[at].Flags & ole::PARAMFLAG_FLCID) && at > 0) --at;
        params[at].ParamArray = true;
    }

    // The value parameter: the source's, one pointer level up or down (none
    // for a value passed itself), or a fixed type when there is no Get to
    // take it from; an array or a record goes by reference.
    if (itself ? !get : count != 0) {
        ParamData v;
        const ole::ComPtr<CustomVarTypeInfo> t = CustomVarTypeInfo::New();
        v.Flags = get ? kFlagsRetval : kFlagsIn;
        if (get)
            v.Name = modSupport::LoadResStringById(763);
        else if (!itself && count < names.size())
            v.Name = names[count];
        if (!get && !targetHasGet) {
            t->SetType(adding == ole::INVOKE_PROPERTYPUT ? ole::VT_I4 : ole::VT_DISPATCH, nullptr);
        } else {
            t->DuplicateFromTypeDesc(itself ? fd->elemdescFunc.tdesc : fd->lprgelemdescParam[count - 1].tdesc, lib,
                                     type.get());
            if (t->IsArray()) {
                if (t->ArrayPointerLevel() == 0) t->ArrayPointerLevel(1);
                if (v.Flags == kFlagsIn) v.Flags = kFlagsInOut;
            } else if (IsRecord(*t)) {
                if (t->PointerLevel() == 0) t->PointerLevel(1);
                if (v.Flags == kFlagsIn) v.Flags = kFlagsInOut;
            } else if (!itself) {
                t->PointerLevel(static_cast<int16_t>(std::max(0, t->PointerLevel() + (get ? 1 : -1))));
            }
        }
        v.VTInfo = t->GetVarTypeInfo();
        params.push_back(std::move(v));
    }
    // The return type: the source's; for a value passed itself, nothing from
    // a Let or Set, and the value from a Get (an array or a record as it is).
    const ole::ComPtr<CustomVarTypeInfo> returnType = CustomVarTypeInfo::New();
    if (itself && get) {
        returnType->DuplicateFromTypeDesc(fd->lprgelemdescParam[count - 1].tdesc, lib, type.get());
        if (returnType->IsArray())
            returnType->ArrayPointerLevel(0);
        else if (IsRecord(*returnType))
            returnType->PointerLevel(0);
    } else if (itself) {
        returnType->SetType(returnsValue ? ole::VT_HRESULT : ole::VT_VOID, nullptr);
    } else {
        returnType->DuplicateFromTypeDesc(fd->elemdescFunc.tdesc, lib, type.get());
    }
    fd.Release();

    const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
    FuncData data = CustomTypeInfo::DefaultFuncData();
    data.InvokeKind = adding;
    data.MemID = target.MemberId;  // the new accessor joins the property
    if (isModule) {
        data.DllName = dllName;
        data.DllEntry = ole::Variant(modSupport::LoadResStringById(630));
    }
    RemoveAddedFunctionsOnFailure(rollback, ti);
    (void)ti->NextVTableOffset(data.VTableOffset);
    ti->AddFunctionEx(names.front(), returnType.get(), params, data);
    ti->LayOut();
    CheckVtableFits(ti->ITypeInfo().get());
}

std::u16string AddMemberChange::Describe(ChangeTarget& target) {
    const int32_t id = target.Kind == kTargetType || invokeKind_ != 0 ? 621 : 622;
    return modSupport::LoadResStringFormat(id, {modAttributeStrings::MemberKindText(target.TypeKind, invokeKind_),
                                                modRecorder::DescribeTarget(target)});
}

ChangePtr AddMemberChange::Clone() {
    auto copy = modAddMemberChange::NewAddMemberChange(false);
    copy->invokeKind_ = invokeKind_;
    copy->useLibraryHelpFiles_ = useLibraryHelpFiles_;
    return copy;
}

void AddMemberChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutByte(static_cast<uint8_t>(invokeKind_ & 0xFF));
    changes_detail::PutByteBoolean(out, useLibraryHelpFiles_);
}

void AddMemberChange::Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache&) {
    invokeKind_ = in.GetByte();
    useLibraryHelpFiles_ = version >= 4 && in.GetByteBoolean();
    newMemberId_ = 0;
    newMemberName_.clear();
}

namespace modAddMemberChange {
std::shared_ptr<AddMemberChange> NewAddMemberChange(bool) { return std::make_shared<AddMemberChange>(); }
}  // namespace modAddMemberChange

}  // namespace zephrin
