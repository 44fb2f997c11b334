// TLBModifier: mapping a reference from a copied item to a type into the new
// library. Redirection requests apply first; the type is then found by name
// in the final list (so reordered, replaced and extra types are found at
// their new places), pulled in from an on-demand library, or referenced where
// it lies.
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "regen/TLBModifierGeneration.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;
using namespace regen_detail;

namespace {

[[noreturn]] void RaiseRes(int32_t resId) { RaiseError(kErrInvalidArgument, modSupport::LoadResStringById(resId)); }

}  // namespace

bool TLBModifier::IsExternalTypeInfo(ole::ITypeInfo* ti) const {
    return LibraryKey(ContainingLib(ti).get()) != startingKey_;
}

bool TLBModifier::IsUnresolvedLibrary(ole::ITypeLib* lib) {
    Generation& g = *gen_;
    ole::IUnknown* key = LibraryKey(lib);
    auto it = g.unresolvedLibraries.find(key);
    if (it != g.unresolvedLibraries.end()) return it->second;
    const bool marked = modITypeInfoHelper::IsUnresolvedTypesLib(lib);
    g.keepAlive.emplace_back(lib);
    g.unresolvedLibraries.emplace(key, marked);
    return marked;
}

void TLBModifier::NotifyRedirection(tli::TypeInfo* source, tli::TypeInfo* dest) {
    if (!redirectionWatcher_) return;
    using W = IExternalTypeRedirection;
    const ole::LONG flags =
        (IsExternalTypeInfo(ITypeInfoOf(source).get()) ? W::kSourceElsewhere : W::kSourceInStartingLib) +
        (IsExternalTypeInfo(ITypeInfoOf(dest).get()) ? W::kDestElsewhere : W::kDestInStartingLib);
    // The watcher only observes: its result is not used.
    (void)redirectionWatcher_->OnTypeRedirection(flags, source, dest);
}

ComPtr<ole::ITypeInfo> TLBModifier::ImportRedirection::TypeNamed(const std::u16string& name) {
    if (!namesRead) {
        const ole::UINT n = destLib->GetTypeInfoCount();
        for (ole::UINT i = 0; i < n; ++i) {
            ole::BSTR text = nullptr;
            CheckHr(destLib->GetDocumentation(static_cast<ole::INT>(i), &text, nullptr, nullptr, nullptr));
            names.emplace(FoldName(TakeBstr(text)), i);
        }
        namesRead = true;
    }
    auto at = names.find(FoldName(name));
    if (at == names.end()) return nullptr;
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(destLib->GetTypeInfo(at->second, ti.put()));
    return ti;
}

ComPtr<tli::TypeInfo> TLBModifier::ApplyTypeRedirection(ComPtr<tli::TypeInfo> type) {
    if (!typeRedirections_.empty()) {
        ole::UINT index = 0;
        ComPtr<ole::ITypeLib> lib = ContainingLib(ITypeInfoOf(type.get()).get(), &index);
        auto it = typeRedirections_.find({LibraryKey(lib.get()), index});
        if (it != typeRedirections_.end()) {
            if (!it->second.dest) {
                const bool placeholder = mode_ == Mode::TestUnresolved &&
                                         ((unresolvedTypes_ && LibraryKey(lib.get()) == LibraryKey(unresolvedTypes_.get())) ||
                                          IsUnresolvedLibrary(lib.get()));
                if (placeholder) RaiseRes(813);
                RaiseError(kErrInvalidArgument,
                           modSupport::LoadResStringFormat(808, {TypeName(ITypeInfoOf(type.get()).get())}));
            }
            // A placeholder may be sent to a type of any kind, since it stands
            // for types of several; a base interface or a coclass's entry
            // still takes an interface only.
            const Generation& g = *gen_;
            if (g.refContext == Generation::kBaseInterface || g.fillingKind == ole::TKIND_COCLASS) {
                ole::TYPEKIND destKind{};
                CheckHr(it->second.dest->get_TypeKind(&destKind));
                if (destKind != ole::TKIND_INTERFACE && destKind != ole::TKIND_DISPATCH)
                    RaiseError(kErrInvalidArgument,
                               modSupport::LoadResStringFormat(
                                   815, {QualifiedTypeName(ITypeInfoOf(type.get()).get()),
                                         QualifiedTypeName(ITypeInfoOf(it->second.dest.get()).get())}));
            }
            NotifyRedirection(type.get(), it->second.dest.get());
            type = it->second.dest;
        }
    }
    if (!importRedirections_.empty()) {
        ComPtr<ole::ITypeInfo> ti = ITypeInfoOf(type.get());
        auto it = importRedirections_.find(LibraryKey(ContainingLib(ti.get()).get()));
        if (it != importRedirections_.end()) {
            ole::GUID guid{};
            bool interfaceHalf = false;
            {
                TypeAttr attr(ti.get());
                guid = attr->guid;
                interfaceHalf = attr->typekind == ole::TKIND_INTERFACE && (attr->wTypeFlags & ole::TYPEFLAG_FDUAL);
            }
            // Records, enums, aliases and modules often have no GUID: those
            // are found by name.
            ComPtr<ole::ITypeInfo> found;
            if (guid == ole::GUID{})
                found = it->second.TypeNamed(TypeName(ti.get()));
            else if (FAILED(it->second.destLib->GetTypeInfoOfGuid(guid, found.put())))
                found = nullptr;
            if (found) {
                ComPtr<tli::TypeInfo> replacement = TliTypeInfo(found.get());
                // A reference to a dual's interface half stays one.
                if (interfaceHalf) replacement = VTableInterfaceOrSelf(replacement);
                if (TypeKindsMatch(replacement.get(), type.get())) {
                    NotifyRedirection(type.get(), replacement.get());
                    type = replacement;
                }
            }
        }
    }
    return type;
}

ole::HREFTYPE TLBModifier::MapReferencedType(tli::TypeInfo* type, ole::ICreateTypeInfo* newType) {
    if (!type || !newType) RaiseError(kErrObjectNotSet);
    Generation& g = *gen_;
    ComPtr<tli::TypeInfo> mapped = ApplyTypeRedirection(ComPtr<tli::TypeInfo>(type));
    ComPtr<ole::ITypeInfo> ti = ITypeInfoOf(mapped.get());
    ole::UINT index = 0;
    ComPtr<ole::ITypeLib> lib = ContainingLib(ti.get(), &index);
    ole::IUnknown* key = LibraryKey(lib.get());
    // A saved library may not import a library that exists only in memory
    // for its unresolved types.
    if (g.saving && IsUnresolvedLibrary(lib.get())) RaiseRes(813);

    ComPtr<ole::ITypeInfo> target = ti;
    if (!listBuilt_) {
        if (key == startingKey_) target = g.createdRead.at(index);
    } else if (const int32_t libNum = LibraryNumber(key)) {
        const std::u16string name = TypeName(ti.get());
        const TypeListRecord* record = FindRecord(name);
        if (record) {
            if (record->LibNum != libNum) {
                ComPtr<tli::TypeInfo> listed = TliTypeInfo(ListedType(*record).get());
                if (!TypeKindsMatch(listed.get(), mapped.get()))
                    RaiseError(kErrInvalidArgument, modSupport::LoadResStringFormat(809, {name}));
            }
            target = g.createdRead.at(static_cast<size_t>(record->Position));
        } else if (libNum == 1) {
            // A starting type that left the list: referencing it would import
            // the library being replaced.
            RaiseError(kErrInvalidArgument, modSupport::LoadResStringFormat(808, {name}));
        } else if (onDemand_) {
            auto flags = onDemandFlags_.find(libNum);
            const TypeListRecord& added =
                AppendRecord(libNum, static_cast<int32_t>(index), flags == onDemandFlags_.end() ? 0 : flags->second, name);
            CreateListedType(added, false);
            target = g.createdRead.at(static_cast<size_t>(added.Position));
        }
    }
    ole::HREFTYPE href = 0;
    CheckHr(newType->AddRefTypeInfo(target.get(), &href));
    return href;
}

ComPtr<tli::TypeInfo> TLBModifier::GetVarTypeTypeInfo(tli::VarTypeInfo* vti) {
    if (!vti) RaiseError(kErrObjectNotSet);
    ComPtr<tli::TypeInfo> type;
    ole::HRESULT hr = vti->get_TypeInfo(type.put());
    if (SUCCEEDED(hr) && type) return type;
    if (mode_ == Mode::FindUnresolved) return AddUnresolvedType(vti);
    RaiseUnresolvedReference(FAILED(hr) ? hr : ole::TYPE_E_ELEMENTNOTFOUND);
}

ComPtr<tli::TypeInfo> TLBModifier::TypeInfosItemAsInterface(tli::ImpliedInterfaces* list, ole::LONG index) {
    ComPtr<tli::TypeInfo> item;
    const ole::HRESULT hr = list->get_Item(index, item.put());
    if (SUCCEEDED(hr) && item) return item;
    if (mode_ == Mode::FindUnresolved) return AddUnresolvedType(nullptr);
    RaiseUnresolvedReference(FAILED(hr) ? hr : ole::TYPE_E_ELEMENTNOTFOUND);
}

void TLBModifier::RaiseUnresolvedReference(ole::HRESULT hr) const {
    using R = Generation::Reference;
    const R& ref = gen_->reference;
    if (ref.what == R::kNone || !ref.source) {
        CheckHr(hr);
        RaiseError(kErrInternal);
    }
    const auto number = [](ole::UINT n) {
        std::u16string text;
        for (char c : std::to_string(n)) text += static_cast<char16_t>(c);
        return text;
    };
    std::u16string where;
    switch (ref.what) {
        case R::kBase:
            where = u"base interface";
            break;
        case R::kDeclaredOver:
            where = u"interface it is declared over";
            break;
        case R::kImplType:
            where = u"implemented interface " + number(ref.index + 1);
            break;
        case R::kAlias:
            where = u"alias target";
            break;
        case R::kVariable:
            where = u"member '" + MemberName(ref.source.get(), ref.index, true) + u"'";
            break;
        default: {
            where = u"member '" + MemberName(ref.source.get(), ref.index, false) + u"', ";
            if (ref.what == R::kReturn) {
                where += u"return type";
                break;
            }
            // The parameter by its name, or by its number when it has none.
            std::u16string name;
            ole::FUNCDESC* fd = nullptr;
            if (SUCCEEDED(ref.source->GetFuncDesc(ref.index, &fd))) {
                const ole::MEMBERID memid = fd->memid;
                ref.source->ReleaseFuncDesc(fd);
                const std::vector<std::u16string> names = ReadNames(ref.source.get(), memid, ref.param + 2);
                if (names.size() > ref.param + 1) name = names[ref.param + 1];
            }
            where += name.empty() ? u"parameter " + number(ref.param + 1) : u"parameter '" + name + u"'";
            break;
        }
    }
    RaiseNamed(hr, u"Type '" + TypeName(ref.source.get()) + u"', " + where + u": the type it refers to can't be found");
}

bool TLBModifier::TypeKindsMatch(tli::TypeInfo* a, tli::TypeInfo* b) const {
    auto kindOf = [](tli::TypeInfo* t) {
        ole::TYPEKIND k{};
        CheckHr(t->get_TypeKind(&k));
        if (k == ole::TKIND_DISPATCH) {
            ole::SHORT flags = 0;
            CheckHr(t->get_AttributeMask(&flags));
            if (static_cast<ole::WORD>(flags) & ole::TYPEFLAG_FDUAL) k = ole::TKIND_INTERFACE;
        }
        return k;
    };
    const ole::TYPEKIND ka = kindOf(a), kb = kindOf(b);
    ole::VARTYPE va = 0, vb = 0;
    const ole::TYPEKIND ra = ka == ole::TKIND_ALIAS ? modSupport::ResolveTypeKind(a, va) : ka;
    const ole::TYPEKIND rb = kb == ole::TKIND_ALIAS ? modSupport::ResolveTypeKind(b, vb) : kb;
    const bool aliasOfInterface =
        ka == ole::TKIND_ALIAS && (ra == ole::TKIND_INTERFACE || ra == ole::TKIND_DISPATCH);
    return va == vb && ra == rb && (ka == kb || !aliasOfInterface);
}

}  // namespace zephrin
