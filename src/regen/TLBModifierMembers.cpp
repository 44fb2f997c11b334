// TLBModifier: copying the members of a type into its new type. Descriptors
// are copied as the source holds them (so flags, defaults and offsets carry
// over); only types that name a user-defined type are rebuilt, through
// BuildTypeDesc with this engine mapping the reference.
#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "regen/TLBModifierGeneration.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;
using namespace regen_detail;
namespace helper = modITypeInfoHelper;

namespace {

// An item's custom data copied as read (no modifier to consult): get reads the
// items (a call of the source's ITypeInfo2), and the setter makeSet makes is
// only made when there are items to set.
template <class Get, class MakeSet>
void CopyItemCustData(Get get, MakeSet makeSet) {
    struct Items {
        ole::CUSTDATA data{};
        ~Items() { ole::ClearCustData(&data); }
    } items;
    CheckHr(get(&items.data));
    if (items.data.cCustData > 0) helper::SetCustDataItems(items.data, makeSet());
}

// The names of a function as GetNames hands them out, kept until the list
// goes, and as the name array SetFuncAndParamNames takes. Most functions
// have few parameters: their names need no allocation of the list's own.
class NameList {
public:
    explicit NameList(ole::UINT size) : size_(size) {
        if (size > kInline) {
            heap_.assign(size, nullptr);
            heapPointers_.assign(size, nullptr);
        }
    }
    ~NameList() {
        ole::BSTR* names = Out();
        for (ole::UINT i = 0; i < size_; ++i) ole::SysFreeString(names[i]);
    }
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;

    ole::BSTR* Out() { return size_ > kInline ? heap_.data() : inline_.data(); }
    // The first n names, a null one as "".
    ole::LPOLESTR* Pointers(ole::UINT n) {
        ole::LPOLESTR* pointers = size_ > kInline ? heapPointers_.data() : inlinePointers_.data();
        ole::BSTR* names = Out();
        for (ole::UINT i = 0; i < n; ++i) pointers[i] = names[i] ? names[i] : empty_;
        return pointers;
    }
    ole::UINT count = 0;  // what GetNames reported

private:
    static constexpr ole::UINT kInline = 16;
    ole::UINT size_;
    std::array<ole::BSTR, kInline> inline_{};
    std::array<ole::LPOLESTR, kInline> inlinePointers_{};
    std::vector<ole::BSTR> heap_;
    std::vector<ole::LPOLESTR> heapPointers_;
    ole::OLECHAR empty_[1] = {};
};

// The name of the member with id, as the source holds it (null when it has
// none or it can't be read).
ole::BStr NameOfMember(ole::ITypeInfo* ti, ole::MEMBERID id) {
    ole::BStr name;
    ole::UINT got = 0;
    if (FAILED(ti->GetNames(id, name.put(), 1, &got)) || got == 0) name.Reset();
    return name;
}

}  // namespace

namespace regen_detail {

bool HasUserDefinedType(const ole::TYPEDESC& desc) {
    // The whole chain is looked at, however deep the engine let it be: a
    // reference at its end that went unmapped would point nowhere.
    for (const ole::TYPEDESC* t = &desc; t;) {
        switch (t->vt) {
            case ole::VT_USERDEFINED:
                return true;
            case ole::VT_PTR:
            case ole::VT_SAFEARRAY:
                t = t->lptdesc;
                break;
            case ole::VT_CARRAY:
                t = t->lpadesc ? &t->lpadesc->tdescElem : nullptr;
                break;
            default:
                return false;
        }
    }
    return false;
}

std::u16string MemberName(ole::ITypeInfo* ti, ole::UINT index, bool isVar) {
    ole::MEMBERID id = ole::MEMBERID_NIL;
    if (isVar) {
        ole::VARDESC* vd = nullptr;
        if (FAILED(ti->GetVarDesc(index, &vd))) return {};
        id = vd->memid;
        ti->ReleaseVarDesc(vd);
    } else {
        ole::FUNCDESC* fd = nullptr;
        if (FAILED(ti->GetFuncDesc(index, &fd))) return {};
        id = fd->memid;
        ti->ReleaseFuncDesc(fd);
    }
    return NameOfMember(ti, id).str();
}

}  // namespace regen_detail

namespace {

class VarDescHolder {
public:
    VarDescHolder(ole::ITypeInfo* ti, ole::UINT index) : ti_(ti) { CheckHr(ti->GetVarDesc(index, &desc_)); }
    ~VarDescHolder() {
        if (desc_) ti_->ReleaseVarDesc(desc_);
    }
    VarDescHolder(const VarDescHolder&) = delete;
    VarDescHolder& operator=(const VarDescHolder&) = delete;
    const ole::VARDESC& operator*() const { return *desc_; }

private:
    ole::ITypeInfo* ti_;
    ole::VARDESC* desc_ = nullptr;
};

// The error of a member whose name the platform refused, naming the members
// of the source that share it.
[[noreturn]] void RaiseMemberNameError(ole::HRESULT hr, ole::ITypeInfo* source, const std::u16string& name,
                                       ole::UINT index, bool isVar) {
    std::u16string description = u"Type '" + TypeName(source) + u"', member '" + name + u"'";
    if (hr == ole::TYPE_E_AMBIGUOUSNAME || hr == ole::TYPE_E_NAMECONFLICT) {
        TypeAttr attr(source);
        const std::u16string key = FoldName(name);
        for (ole::UINT k = 0; k < attr->cFuncs + attr->cVars; ++k) {
            const bool var = k >= attr->cFuncs;
            const ole::UINT i = var ? k - attr->cFuncs : k;
            if (var == isVar && i == index) continue;
            const std::u16string other = MemberName(source, i, var);
            if (!other.empty() && FoldName(other) == key) description += u" and member '" + other + u"'";
        }
        description += u": the names clash";
    }
    RaiseNamed(hr, std::move(description));
}

// Whether the source reads its function of memid and invkind under name
// because name is that function's own, or that of a function of the same ID
// and another invoke kind.
bool ReadUnderSharedId(ole::ITypeInfo* source, std::u16string_view name, ole::MEMBERID memid,
                       ole::INVOKEKIND invkind) {
    if (helper::IsOwnName(source, name, memid, invkind)) return true;
    for (ole::INVOKEKIND kind :
         {ole::INVOKE_FUNC, ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF})
        if (kind != invkind && helper::IsOwnName(source, name, memid, kind)) return true;
    return false;
}

}  // namespace

void TLBModifier::CopyTypeMembers(tli::TypeInfo* source, ole::ITypeInfo* sourceTi, ole::ICreateTypeInfo2* dest,
                                  bool clearVtableOffsets) {
    ole::UINT cVars = 0, cFuncs = 0;
    bool isModule = false;
    {
        TypeAttr attr(sourceTi);
        cVars = attr->cVars;
        cFuncs = attr->cFuncs;
        isModule = attr->typekind == ole::TKIND_MODULE;
    }
    // The member objects are only made for the help-data provider.
    ComPtr<tli::Members> members;
    if (helpModifier_) CheckHr(source->get_Members(members.put()));
    auto memberAt = [&](ole::UINT k) {
        ComPtr<tli::MemberInfo> m;
        if (members) CheckHr(members->get_Item(static_cast<ole::LONG>(k + 1), m.put()));
        return m;
    };
    if (cVars + cFuncs == 0) return;
    MemberSource from;
    from.ti = sourceTi;
    from.ti2 = ComPtr<ole::ITypeInfo>(sourceTi).As<ole::ITypeInfo2>();
    from.lib = ContainingLib(sourceTi);
    from.type = source;
    if (from.ti2) (void)source->get_TypeInfoNumber(&from.typeIndex);
    // Where the engine takes it, room for every member at once: the lists then
    // grow once, not once for each member. Without it they grow as they must.
    ComPtr<ole::ICreateTypeInfoRoom> room;
    if (SUCCEEDED(dest->QueryInterface(ole::ICreateTypeInfoRoom::kIID, room.put_void())))
        (void)room->ReserveMembers(cFuncs, cVars);
    for (ole::UINT v = 0; v < cVars; ++v) CopyVariable(from, v, dest, memberAt(v).get());
    for (ole::UINT f = 0; f < cFuncs; ++f)
        CopyFunction(from, f, dest, memberAt(cVars + f).get(), isModule, clearVtableOffsets);
}

bool TLBModifier::ReadMemberHelp(MemberSource& source, ole::MEMBERID memid, tli::MemberInfo* member,
                                 HelpData& help) {
    ole::ITypeLib* ownLib = source.lib.get();
    ole::BSTR doc = nullptr, file = nullptr;
    CheckHr(source.ti->GetDocumentation(memid, nullptr, &doc, &help.HelpContext, &file));
    std::u16string docString = TakeBstr(doc);
    std::u16string helpFile = TakeBstr(file);
    if (!(helpGeneration_ & kNoTypeHelpFile)) help.HelpFile = MapHelpFile(std::move(helpFile), ownLib);
    std::u16string dll;
    if (source.ti2) {
        ole::BSTR b = nullptr;
        ole::DWORD context = 0;
        if (SUCCEEDED(source.ti2->GetDocumentation2(memid, 0, nullptr, &context, &b))) {
            help.HelpStringContext = context;
            dll = TakeBstr(b);
        } else {
            ole::SysFreeString(b);
        }
    }
    bool dllInForce = (helpGeneration_ & kLibraryHasHelpStringDll) != 0;
    if (!(helpGeneration_ & kNoTypeHelpStringDll)) {
        if (!source.libHelp) source.libHelp = &LibraryHelpOf(ownLib);
        if (source.libHelp->hasLib2) {
            help.HelpStringDll = MapHelpStringDll(std::move(dll), ownLib);
            dllInForce = !help.HelpStringDll.empty();
        }
    }
    if (!((helpGeneration_ & kNoDocStringWithDll) && dllInForce)) help.DocString = std::move(docString);
    if (helpModifier_) {
        CheckCallback(helpModifier_->ModifyMemberHelp(source.type, member, help));
        RequireStorableHelp(help);
    }
    return dllInForce;
}

void TLBModifier::PutMemberHelpInForce(const HelpData& help) {
    PutHelpInForce(helpGeneration_ & kNoTypeHelpFile ? nullptr : &help.HelpFile,
                   helpGeneration_ & kNoTypeHelpStringDll ? nullptr : &help.HelpStringDll);
}

void TLBModifier::BuildMemberType(ole::ITypeInfo* sourceTi, ole::ICreateTypeInfo2* dest, ole::TYPEDESC& desc,
                                  ole::USHORT paramFlags) {
    Generation& g = *gen_;
    g.refContext = Generation::kMemberType;
    g.refFlags = paramFlags;
    // The members of a type name the same few types over and over. Without
    // redirections a type maps the same way each time, so the reference the
    // first mapping made is used again; placeholders of unresolved types
    // depend on where they are met and are mapped each time.
    ole::HREFTYPE sourceRef = 0;
    const bool reusable = typeRedirections_.empty() && importRedirections_.empty() &&
                          modTYPEDESC::PlainUserDefinedRef(desc, &sourceRef);
    if (reusable) {
        if (g.mappedSource.get() != sourceTi || g.mappedDest.get() != dest) {
            g.mappedSource = ComPtr<ole::ITypeInfo>(sourceTi);
            g.mappedDest = ComPtr<ole::ICreateTypeInfo2>(dest);
            g.mappedRefs.clear();
        }
        for (const auto& [from, to] : g.mappedRefs)
            if (from == sourceRef) {
                modTYPEDESC::RebuildWithRef(g.owner, desc, to);
                return;
            }
    }
    ComPtr<tli::VarTypeInfo> vti;
    CheckHr(tli::CreateVarTypeInfo(desc, sourceTi, vti.put()));
    g.madeUnresolved = false;
    modTYPEDESC::BuildTypeDesc(g.owner, dest, vti.get(), &desc, this);
    ole::HREFTYPE mapped = 0;
    if (reusable && !g.madeUnresolved && g.mappedRefs.size() < Generation::kMappedRefs &&
        modTYPEDESC::PlainUserDefinedRef(desc, &mapped))
        g.mappedRefs.emplace_back(sourceRef, mapped);
}

void TLBModifier::CopyVariable(MemberSource& source, ole::UINT index, ole::ICreateTypeInfo2* dest,
                               tli::MemberInfo* member) {
    Generation& g = *gen_;
    ole::ITypeInfo* sourceTi = source.ti;
    VarDescHolder held(sourceTi, index);
    const ole::MEMBERID memid = (*held).memid;
    HelpData help;
    const bool dllInForce = ReadMemberHelp(source, memid, member, help);

    ole::VARDESC vd = *held;
    // A variable's type is mapped as no parameter's: with flags 0.
    if (HasUserDefinedType(vd.elemdescVar.tdesc)) {
        g.Refer(Generation::Reference::kVariable, sourceTi, index);
        BuildMemberType(sourceTi, dest, vd.elemdescVar.tdesc, 0);
    }
    // Mapping may have made a type on demand under its own help values.
    PutMemberHelpInForce(help);
    // The name goes from the source's string to the new variable (none reads as "").
    const ole::BStr name = NameOfMember(sourceTi, memid);
    const ole::OLECHAR* nameText = name.get() ? name.get() : u"";
    if (const ole::HRESULT hr = dest->AddVarDesc(index, &vd); FAILED(hr))
        RaiseMemberNameError(hr, sourceTi, name.str(), index, true);
    g.owner.FreeTypeDesc();

    if (ole::ITypeInfo2* source2 = source.ti2.get()) {
        CustDataContext context;
        context.ItemKind = CustDataContext::kVariable;
        context.TypeIndex = source.typeIndex;
        context.ItemIndex = static_cast<int32_t>(index);
        context.Source = source2;
        context.Destination = dest;
        if (!custDataModifier_)
            CopyItemCustData([&](ole::CUSTDATA* cd) { return source2->GetAllVarCustData(index, cd); },
                             [&] { return helper::SetVarCustData(dest, index); });
        else
            CopyCustData(context, helper::GetVarCustData(source2, index), helper::SetVarCustData(dest, index));
    }
    if (help.HelpContext != 0) CheckHr(dest->SetVarHelpContext(index, help.HelpContext));
    if (help.HelpStringContext != 0) CheckHr(dest->SetVarHelpStringContext(index, help.HelpStringContext));
    if (!help.DocString.empty() && !(dllInForce && (helpGeneration_ & kNoDocStringWithDll)))
        CheckHr(dest->SetVarDocString(index, help.DocString.c_str()));
    if (const ole::HRESULT hr = dest->SetVarName(index, nameText); FAILED(hr))
        RaiseMemberNameError(hr, sourceTi, name.str(), index, true);
}

void TLBModifier::CopyFunction(MemberSource& source, ole::UINT index, ole::ICreateTypeInfo2* dest,
                               tli::MemberInfo* member, bool isModule, bool clearVtableOffsets) {
    Generation& g = *gen_;
    ole::ITypeInfo* sourceTi = source.ti;
    FuncDescHolder held(sourceTi, index);
    const ole::MEMBERID memid = held->memid;
    const ole::INVOKEKIND invkind = held->invkind;
    const ole::SHORT cParams = held->cParams;
    HelpData help;
    const bool dllInForce = ReadMemberHelp(source, memid, member, help);

    ole::FUNCDESC fd = *held;
    if (clearVtableOffsets) fd.oVft = 0;
    // The parameters' descriptors, in place for the usual few.
    std::array<ole::ELEMDESC, 8> fewParams;
    std::vector<ole::ELEMDESC> moreParams;
    std::span<ole::ELEMDESC> params;
    if (cParams > 0 && held->lprgelemdescParam) {
        const auto n = static_cast<size_t>(cParams);
        ole::ELEMDESC* to = fewParams.data();
        if (n > fewParams.size()) {
            moreParams.resize(n);
            to = moreParams.data();
        }
        std::copy(held->lprgelemdescParam, held->lprgelemdescParam + n, to);
        params = std::span<ole::ELEMDESC>(to, n);
    }
    for (size_t p = 0; p < params.size(); ++p) {
        if (!HasUserDefinedType(params[p].tdesc)) continue;
        g.Refer(Generation::Reference::kParam, sourceTi, index, static_cast<ole::UINT>(p));
        BuildMemberType(sourceTi, dest, params[p].tdesc, params[p].paramdesc.wParamFlags);
    }
    // The return type is mapped with flags 0, not those of the last parameter.
    if (HasUserDefinedType(fd.elemdescFunc.tdesc)) {
        g.Refer(Generation::Reference::kReturn, sourceTi, index);
        BuildMemberType(sourceTi, dest, fd.elemdescFunc.tdesc, 0);
    }
    fd.lprgelemdescParam = params.empty() ? nullptr : params.data();
    PutMemberHelpInForce(help);
    if (const ole::HRESULT hr = dest->AddFuncDesc(index, &fd); FAILED(hr))
        RaiseMemberNameError(hr, sourceTi, MemberName(sourceTi, index, false), index, false);
    g.owner.FreeTypeDesc();
    held.Release();

    if (ole::ITypeInfo2* source2 = source.ti2.get()) {
        CustDataContext context;
        context.ItemKind = CustDataContext::kFunction;
        context.TypeIndex = source.typeIndex;
        context.ItemIndex = static_cast<int32_t>(index);
        context.Source = source2;
        context.Destination = dest;
        if (!custDataModifier_)
            CopyItemCustData([&](ole::CUSTDATA* cd) { return source2->GetAllFuncCustData(index, cd); },
                             [&] { return helper::SetFuncCustData(dest, index); });
        else
            CopyCustData(context, helper::GetFuncCustData(source2, index), helper::SetFuncCustData(dest, index));
        context.ItemKind = CustDataContext::kParameter;
        for (ole::SHORT p = 0; p < cParams; ++p) {
            const auto param = static_cast<ole::UINT>(p);
            // The engine flags each parameter that has custom data: one without
            // has nothing to copy, unless a modifier may give it some.
            if (!custDataModifier_ && param < params.size() &&
                !(params[param].paramdesc.wParamFlags & ole::PARAMFLAG_FHASCUSTDATA))
                continue;
            context.ParamIndex = p;
            CopyCustData(context, helper::GetParamCustData(source2, index, param),
                         helper::SetParamCustData(dest, index, param));
        }
    }

    // Names: a put's value parameter has none of its own, unless the
    // property's names are read from its puts (the platform reads a member's
    // names from its accessor stored first). They go from the source's
    // strings to the new function without copies of their own; an unnamed
    // parameter before a named one (a null name) goes as an empty name.
    const ole::UINT want = static_cast<ole::UINT>(cParams > 0 ? cParams : 0) + 1;
    NameList names(want);
    CheckHr(sourceTi->GetNames(memid, names.Out(), want, &names.count));
    ole::UINT count = std::min(names.count, want);
    bool valueNamed = false;
    if ((invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) && count == want) {
        --count;
        valueNamed = NamesReadFromPut(sourceTi, memid);
    }
    if (count > 0) {
        const std::u16string_view name = ole::BstrView(names.Out()[0]);
        // A method and a property accessor that the source holds under one
        // name and one ID are copied as they are, where the engine takes them;
        // so is one stored under a name of its own that the platform never
        // reads: it reads the pair under the name of the other (stored first).
        ole::HRESULT hr = dest->SetFuncAndParamNames(index, names.Pointers(count), count);
        if (hr == ole::TYPE_E_AMBIGUOUSNAME && ReadUnderSharedId(sourceTi, name, memid, invkind))
            hr = helper::SetFuncNamesSharingId(dest, index, names.Pointers(count), count);
        if (FAILED(hr)) RaiseMemberNameError(hr, sourceTi, std::u16string(name), index, false);
    }
    if (valueNamed) SetValueParamName(dest, index, std::u16string(ole::BstrView(names.Out()[count])));

    if (help.HelpContext != 0) CheckHr(dest->SetFuncHelpContext(index, help.HelpContext));
    if (help.HelpStringContext != 0) CheckHr(dest->SetFuncHelpStringContext(index, help.HelpStringContext));
    if (!help.DocString.empty() && !(dllInForce && (helpGeneration_ & kNoDocStringWithDll)))
        CheckHr(dest->SetFuncDocString(index, help.DocString.c_str()));
    if (isModule) {
        ole::BSTR dll = nullptr, entry = nullptr;
        ole::WORD ordinal = 0;
        const ole::HRESULT hr = sourceTi->GetDllEntry(memid, invkind, &dll, &entry, &ordinal);
        const std::u16string dllName = TakeBstr(dll), entryName = TakeBstr(entry);
        if (SUCCEEDED(hr) && !dllName.empty()) {
            const ole::DllEntryPoint point =
                entryName.empty() ? ole::DllEntryPoint(ordinal) : ole::DllEntryPoint(entryName);
            CheckHr(dest->DefineFuncAsDllEntry(index, dllName.c_str(), point));
        }
    }
}

}  // namespace zephrin
