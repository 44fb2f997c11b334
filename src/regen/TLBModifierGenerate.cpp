// TLBModifier: the generation pipeline. The library's attributes are copied,
// then the final list is walked three times: pass 1 creates every type, pass
// 2 fills each one (a reference to a type of an on-demand library may append
// that type to the list; the running walk then reaches it), pass 3 lays every
// type out.
#include <algorithm>
#include <optional>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modHourGlass.h"
#include "foundation/modSupport.h"
#include "platform/tlbfiles/FileReplacement.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "regen/TLBModifierGeneration.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;
using namespace regen_detail;
namespace helper = modITypeInfoHelper;

namespace {

bool IsDualDispatch(const ole::TYPEATTR& a) {
    return a.typekind == ole::TKIND_DISPATCH && (a.wTypeFlags & ole::TYPEFLAG_FDUAL);
}

// The kind a type is created with: a dual is created from its interface half.
ole::TYPEKIND CreatedKind(const ole::TYPEATTR& a) { return IsDualDispatch(a) ? ole::TKIND_INTERFACE : a.typekind; }

std::u16string FileNameOf(std::u16string path) {
    modSupport::ExtractFileName(path);
    return path;
}

}  // namespace

ComPtr<ole::ITypeLib> TLBModifier::GenerateDirect(std::u16string_view saveAs) { return RunGeneration(saveAs); }

ComPtr<tli::TypeLibInfo> TLBModifier::Generate(std::u16string_view saveAs) {
    ComPtr<ole::ITypeLib> lib = GenerateDirect(saveAs);
    return TliTypeLibInfo(lib.get());
}

ComPtr<ole::ITypeLib> TLBModifier::RunGeneration(std::u16string_view saveAs) {
    RequireStartingLib();
    if (gen_) RaiseError(kErrInvalidArgument);
    const modHourGlass::HourGlassGuard hourGlass = modHourGlass::ShowHourGlass();
    gen_ = std::make_unique<Generation>();
    ScopeGuard forget([this] { gen_.reset(); });
    Generation& g = *gen_;
    g.saving = !saveAs.empty();

    ole::SYSKIND syskind = ole::SYS_WIN32;
    {
        ole::TLIBATTR* attr = nullptr;
        CheckHr(startingITypeLib_->GetLibAttr(&attr));
        syskind = attr->syskind;
        startingITypeLib_->ReleaseTLibAttr(attr);
    }
    const std::u16string path(saveAs);
    CheckHr(ole::CreateTypeLib2(syskind, path.c_str(), g.lib.put()));
    CopyLibraryAttributes();

    // The fill of a built list may append types to it (on demand); the
    // walk of the starting types alone never grows.
    auto run = [&](auto& walk) {
        g.created.reserve(walk.size());
        for (const TypeListRecord& r : walk) CreateListedType(r, true);
        for (const TypeListRecord& r : walk) FillType(r);
    };
    if (listBuilt_) {
        NumberPositions();
        run(records_);
    } else {
        const ole::UINT n = startingITypeLib_->GetTypeInfoCount();
        g.ownWalk.reserve(n);
        for (ole::UINT i = 0; i < n; ++i) {
            TypeListRecord& r = g.ownWalk.emplace_back();
            r.LibNum = 1;
            r.TypeIndex = static_cast<int32_t>(i);
            r.Position = static_cast<int32_t>(i);
        }
        run(g.ownWalk);
    }
    LayOutAll();

    // The library's own help file and help string DLL, not the last ones in force.
    CheckHr(g.lib->SetHelpFileName(g.libHelpFile.c_str()));
    CheckHr(g.lib->SetHelpStringDll(g.libHelpStringDll.c_str()));
    if (g.saving) {
        const ole::HRESULT hr = g.lib->SaveAllChanges();
        // A failure of the file itself says which file and why.
        if (hr == ole::TYPE_E_IOERROR || hr == ole::TYPE_E_CANTCREATETMPFILE) RaiseError(hr, ole::GetLastFileWriteError());
        // A reference into a library without a GUID would be read back into another library.
        if (hr == ole::TYPE_E_LIBNOTREGISTERED && !ole::GetLibraryWithoutGuid().empty())
            RaiseError(hr, u"The library can't be saved: it refers to types of the library \"" +
                               ole::GetLibraryWithoutGuid() +
                               u"\", which has no GUID, so those references would be read back into another "
                               u"library.");
        CheckHr(hr);
    }
    ComPtr<ole::ITypeLib> result;
    CheckHr(g.lib.As(&result));
    return result;
}

// ---- Library ----

void TLBModifier::CopyLibraryAttributes() {
    Generation& g = *gen_;
    ComPtr<ole::ITypeLib2> source2 = startingITypeLib_.As<ole::ITypeLib2>();
    if (source2) {
        CustDataContext context;
        context.ItemKind = CustDataContext::kLibrary;
        context.Source = source2.get();
        context.Destination = g.lib.get();
        CopyCustData(context, helper::GetLibCustData(source2.get()), helper::SetLibCustData(g.lib.get()));
    }
    CheckHr(g.lib->SetGuid(ValidateGuidString(LibGUID())));
    ole::TLIBATTR* attr = nullptr;
    CheckHr(startingITypeLib_->GetLibAttr(&attr));
    const ole::LCID lcid = attr->lcid;
    // The new library has no disk image until it is saved.
    const auto libFlags = static_cast<ole::UINT>(attr->wLibFlags & ~ole::LIBFLAG_FHASDISKIMAGE);
    startingITypeLib_->ReleaseTLibAttr(attr);
    CheckHr(g.lib->SetLcid(lcid));
    CheckHr(g.lib->SetLibFlags(libFlags));
    std::u16string name;
    CheckHr(startingLib_->get_Name(&name));
    CheckHr(g.lib->SetName(name.c_str()));
    CheckHr(g.lib->SetVersion(static_cast<ole::WORD>(majorVersion_), static_cast<ole::WORD>(minorVersion_)));

    HelpData help;
    ole::BSTR doc = nullptr, file = nullptr;
    CheckHr(startingITypeLib_->GetDocumentation(-1, nullptr, &doc, &help.HelpContext, &file));
    const std::u16string docString = TakeBstr(doc);
    help.HelpFile = FileNameOf(TakeBstr(file));
    if (source2) {
        ole::BSTR dll = nullptr;
        ole::DWORD context = 0;
        if (SUCCEEDED(source2->GetDocumentation2(-1, 0, nullptr, &context, &dll))) {
            help.HelpStringDll = TakeBstr(dll);
            help.HelpStringContext = context;
        }
    }
    const bool noDocWithDll = (helpGeneration_ & kNoDocStringWithDll) != 0;
    if (help.HelpStringDll.empty() || !noDocWithDll) help.DocString = docString;
    if (helpModifier_) {
        CheckCallback(helpModifier_->ModifyLibHelp(startingLib_.get(), help));
        RequireStorableHelp(help);
    }

    CheckHr(g.lib->SetHelpFileName(help.HelpFile.c_str()));
    if (help.HelpContext != 0) CheckHr(g.lib->SetHelpContext(help.HelpContext));
    CheckHr(g.lib->SetHelpStringDll(help.HelpStringDll.c_str()));
    if (!help.HelpStringDll.empty())
        helpGeneration_ |= kLibraryHasHelpStringDll;
    else
        helpGeneration_ &= ~kLibraryHasHelpStringDll;
    if (help.HelpStringContext != 0) CheckHr(g.lib->SetHelpStringContext(help.HelpStringContext));
    if (!help.DocString.empty() && !(!help.HelpStringDll.empty() && noDocWithDll))
        CheckHr(g.lib->SetDocString(help.DocString.c_str()));
    g.libHelpFile = g.inForceHelpFile = help.HelpFile;
    g.libHelpStringDll = g.inForceHelpStringDll = help.HelpStringDll;
}

// ---- Help files ----

const TLBModifier::LibraryHelp& TLBModifier::LibraryHelpOf(ole::ITypeLib* lib) {
    Generation& g = *gen_;
    if (lib && lib == g.lastHelpLib) return *g.lastHelp;
    ole::IUnknown* key = LibraryKey(lib);
    auto it = g.libraryHelp.find(key);
    if (it != g.libraryHelp.end()) {
        g.lastHelpLib = lib;
        g.lastHelp = &it->second;
        return it->second;
    }
    LibraryHelp help;
    ole::BSTR file = nullptr;
    if (SUCCEEDED(lib->GetDocumentation(-1, nullptr, nullptr, nullptr, &file)))
        help.helpFile = FileNameOf(TakeBstr(file));
    else
        ole::SysFreeString(file);
    if (ComPtr<ole::ITypeLib2> lib2 = ComPtr<ole::ITypeLib>(lib).As<ole::ITypeLib2>()) {
        help.hasLib2 = true;
        ole::BSTR dll = nullptr;
        if (SUCCEEDED(lib2->GetDocumentation2(-1, 0, nullptr, nullptr, &dll)))
            help.helpStringDll = TakeBstr(dll);
        else
            ole::SysFreeString(dll);
    }
    g.keepAlive.emplace_back(lib);
    const LibraryHelp& added = g.libraryHelp.emplace(key, std::move(help)).first->second;
    g.lastHelpLib = lib;
    g.lastHelp = &added;
    return added;
}

std::u16string TLBModifier::MapHelpFile(std::u16string helpFile, ole::ITypeLib* ownLib) {
    modSupport::ExtractFileName(helpFile);
    if ((helpGeneration_ & kMapHelpToStartingLib) && ownLib && helpFile == LibraryHelpOf(ownLib).helpFile)
        return gen_->libHelpFile;
    return helpFile;
}

std::u16string TLBModifier::MapHelpStringDll(std::u16string helpStringDll, ole::ITypeLib* ownLib) {
    if ((helpGeneration_ & (kMapHelpToStartingLib | kMapHelpStringDllToStartingLib)) && ownLib &&
        helpStringDll == LibraryHelpOf(ownLib).helpStringDll)
        return gen_->libHelpStringDll;
    return helpStringDll;
}

void TLBModifier::PutHelpInForce(const std::u16string* helpFile, const std::u16string* helpStringDll) {
    Generation& g = *gen_;
    if (helpFile && *helpFile != g.inForceHelpFile) {
        CheckHr(g.lib->SetHelpFileName(helpFile->c_str()));
        g.inForceHelpFile = *helpFile;
    }
    if (helpStringDll && *helpStringDll != g.inForceHelpStringDll) {
        CheckHr(g.lib->SetHelpStringDll(helpStringDll->c_str()));
        g.inForceHelpStringDll = *helpStringDll;
    }
}

// ---- Custom data ----

void TLBModifier::CopyCustData(const CustDataContext& context, const std::function<void(ole::CUSTDATA&)>& get,
                               const std::function<void(const ole::GUID&, ole::VARIANT&)>& set) {
    if (!custDataModifier_) {
        helper::CopyCustData(get, set);
        return;
    }
    IModifyCustData* modifier = custDataModifier_.get();
    helper::CopyCustDataModified(
        get, set,
        [&](ole::CUSTDATA& data) {
            bool owns = false;
            CheckCallback(modifier->ModifyCustData(context, data, owns));
            return owns;
        },
        [&](ole::CUSTDATA& data) { CheckCallback(modifier->FreeCustData(data)); });
}

// ---- Pass 1: creating a type ----

ComPtr<ole::ITypeInfo> TLBModifier::SourceItem(const TypeListRecord& record) const {
    if (listBuilt_) return ListedType(record);
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(startingITypeLib_->GetTypeInfo(static_cast<ole::UINT>(record.TypeIndex), ti.put()));
    return ti;
}

void TLBModifier::CreateListedType(const TypeListRecord& record, bool guidOverride) {
    Generation& g = *gen_;
    ComPtr<ole::ITypeInfo> item = SourceItem(record);
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    ole::GUID guid{};
    {
        TypeAttr attr(item.get());
        kind = CreatedKind(*attr);
        guid = attr->guid;
    }
    // The type is created while its help file and help string DLL are in force.
    const bool withFile = !(helpGeneration_ & kNoTypeHelpFile);
    const bool withDll = !(helpGeneration_ & kNoTypeHelpStringDll);
    ole::BStr nameText, fileText;
    CheckHr(item->GetDocumentation(ole::MEMBERID_NIL, nameText.put(), nullptr, nullptr,
                                   withFile ? fileText.put() : nullptr));
    const std::u16string name = nameText.str();
    std::u16string file = fileText.str();
    if (withFile || withDll) {
        HelpData help;
        ComPtr<ole::ITypeLib> ownLib = ContainingLib(item.get());
        if (withFile) help.HelpFile = MapHelpFile(std::move(file), ownLib.get());
        if (withDll && LibraryHelpOf(ownLib.get()).hasLib2)
            help.HelpStringDll = MapHelpStringDll(LibraryHelpOf(ownLib.get()).helpStringDll, ownLib.get());
        if (helpModifier_) {
            CheckCallback(helpModifier_->ModifyTypeHelp(TliTypeInfo(item.get()).get(), 6, help));
            RequireStorableHelp(help);
        }
        PutHelpInForce(withFile ? &help.HelpFile : nullptr, withDll ? &help.HelpStringDll : nullptr);
    }

    ComPtr<ole::ICreateTypeInfo> created;
    const ole::HRESULT hr = g.lib->CreateTypeInfo(name.c_str(), kind, created.put());
    if (FAILED(hr)) {
        std::u16string description = u"Type '" + name + u"'";
        if (hr == ole::TYPE_E_NAMECONFLICT) {
            const std::u16string key = FoldName(name);
            for (const ComPtr<ole::ITypeInfo>& other : g.createdRead) {
                const std::u16string otherName = TypeName(other.get());
                if (FoldName(otherName) == key) description += u" and type '" + otherName + u"'";
            }
            description += u": the names clash";
        }
        RaiseNamed(hr, std::move(description));
    }
    ComPtr<ole::ICreateTypeInfo2> created2;
    CheckHr(created.As(&created2));
    ComPtr<ole::ITypeInfo> createdRead;
    CheckHr(created.As(&createdRead));
    g.created.push_back(created2);
    g.createdRead.push_back(createdRead);

    if (guidOverride && !guidOverrides_.empty()) {
        if (auto it = guidOverrides_.find(FoldName(name)); it != guidOverrides_.end())
            guid = ValidateGuidString(it->second);
    }
    const ole::HRESULT guidHr = created2->SetGuid(guid);
    if (FAILED(guidHr)) {
        ComPtr<ole::ITypeLib> newLib;
        CheckHr(g.lib.As(&newLib));
        ComPtr<ole::ITypeInfo> holder;
        if (SUCCEEDED(newLib->GetTypeInfoOfGuid(guid, holder.put())) && holder)
            RaiseError(kErrInvalidArgument, modSupport::LoadResStringFormat(812, {name, TypeName(holder.get())}));
        CheckHr(guidHr);
    }
}

// ---- Pass 2: filling a type ----

void TLBModifier::FillType(const TypeListRecord& record) {
    Generation& g = *gen_;
    ComPtr<ole::ITypeInfo> item = SourceItem(record);
    ComPtr<tli::TypeInfo> listed = TliTypeInfo(item.get());
    // The item's attributes serve the whole fill unless a dual's interface
    // half is the source.
    std::optional<TypeAttr> itemAttr;
    itemAttr.emplace(item.get());
    const ole::TYPEKIND itemKind = (*itemAttr)->typekind;
    const ole::TYPEKIND kind = CreatedKind(**itemAttr);
    // A dual is filled from its interface half.
    ComPtr<ole::ITypeInfo> source = item;
    ComPtr<tli::TypeInfo> sourceTli = listed;
    if (itemKind != ole::TKIND_ALIAS) {
        ComPtr<tli::TypeInfo> half;
        if (SUCCEEDED(listed->get_VTableInterface(half.put())) && half) {
            sourceTli = half;
            source = ITypeInfoOf(half.get());
        }
    }
    ole::ICreateTypeInfo2* dest = g.created.at(static_cast<size_t>(record.Position)).get();
    ComPtr<ole::ITypeInfo2> source2 = source.As<ole::ITypeInfo2>();
    g.fillingKind = kind;

    if (source2) {
        CustDataContext context;
        context.ItemKind = CustDataContext::kType;
        context.TypeIndex = record.TypeIndex;
        context.Source = source2.get();
        context.Destination = dest;
        CopyCustData(context, helper::GetTypeCustData(source2.get()), helper::SetTypeCustData(dest));
    }

    // Help.
    HelpData help;
    const bool noDocWithDll = (helpGeneration_ & kNoDocStringWithDll) != 0;
    ole::BSTR doc = nullptr;
    CheckHr(source->GetDocumentation(ole::MEMBERID_NIL, nullptr, &doc, &help.HelpContext, nullptr));
    const std::u16string docString = TakeBstr(doc);
    if (source2) {
        ole::DWORD context = 0;
        if (SUCCEEDED(source2->GetDocumentation2(ole::MEMBERID_NIL, 0, nullptr, &context, nullptr)))
            help.HelpStringContext = context;
    }
    if (!noDocWithDll && !(helpGeneration_ & kNoTypeHelpStringDll)) {
        ComPtr<ole::ITypeLib> ownLib = ContainingLib(source.get());
        if (LibraryHelpOf(ownLib.get()).hasLib2)
            help.HelpStringDll = MapHelpStringDll(LibraryHelpOf(ownLib.get()).helpStringDll, ownLib.get());
    }
    if (g.libHelpStringDll.empty() || !noDocWithDll) help.DocString = docString;
    if (helpModifier_) {
        CheckCallback(helpModifier_->ModifyTypeHelp(listed.get(), 25, help));
        RequireStorableHelp(help);
    }
    if (help.HelpContext != 0) CheckHr(dest->SetHelpContext(help.HelpContext));
    if (help.HelpStringContext != 0) CheckHr(dest->SetHelpStringContext(help.HelpStringContext));
    if (!help.DocString.empty() && !(!help.HelpStringDll.empty() && noDocWithDll))
        CheckHr(dest->SetDocString(help.DocString.c_str()));

    // Flags, version and what the kind holds.
    std::optional<TypeAttr> sourceAttr;
    if (source.get() != item.get()) {
        itemAttr.reset();
        sourceAttr.emplace(source.get());
    }
    const TypeAttr& attr = sourceAttr ? *sourceAttr : *itemAttr;
    ole::UINT flags = attr->wTypeFlags;
    if (kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH) {
        if (record.Flags & TypeListRecord::kAddProxy) flags |= ole::TYPEFLAG_FPROXY;
        if (record.Flags & TypeListRecord::kDropDual) flags &= ~static_cast<ole::UINT>(ole::TYPEFLAG_FDUAL);
    }
    CheckHr(dest->SetTypeFlags(flags));
    CheckHr(dest->SetVersion(attr->wMajorVerNum, attr->wMinorVerNum));
    // Every kind keeps its alignment: records and unions lay their fields out
    // by it, and aliases and dispinterfaces report it.
    CheckHr(dest->SetAlignment(attr->cbAlignment));
    switch (kind) {
        case ole::TKIND_ENUM:
        case ole::TKIND_MODULE:
        case ole::TKIND_RECORD:
        case ole::TKIND_UNION:
            CopyTypeMembers(sourceTli.get(), source.get(), dest, false);
            break;
        case ole::TKIND_COCLASS:
            CopyCoClass(sourceTli.get(), source2.get(), dest);
            break;
        case ole::TKIND_INTERFACE:
            if (attr->cImplTypes > 0) CopyBaseInterface(sourceTli.get(), dest);
            // A source whose functions sit on automatic slots gets automatic
            // ones, so that they close up behind a deleted function and follow
            // a base that changes, as the editor treats them; any other keeps
            // its offsets.
            CopyTypeMembers(sourceTli.get(), source.get(), dest, helper::TakesAutomaticSlots(source.get()));
            break;
        case ole::TKIND_DISPATCH: {
            CopyBaseInterface(sourceTli.get(), dest);
            // A dispinterface declared over an interface names that interface
            // as implemented type -1 and reports its functions: it is copied
            // as such a declaration.
            // An interface that can't be found is reported (or replaced by a
            // placeholder) like any other reference, not left out.
            ole::HREFTYPE over = 0;
            if (SUCCEEDED(source->GetRefTypeOfImplType(static_cast<ole::UINT>(-1), &over))) {
                g.refContext = Generation::kBaseInterface;
                g.refFlags = 0;
                g.Refer(Generation::Reference::kDeclaredOver, source.get());
                ComPtr<ole::ITypeInfo> overType;
                const ole::HRESULT hr = source->GetRefTypeInfo(over, overType.put());
                ComPtr<tli::TypeInfo> overTli;
                if (SUCCEEDED(hr) && overType)
                    overTli = TliTypeInfo(overType.get());
                else if (mode_ == Mode::FindUnresolved)
                    overTli = AddUnresolvedType(nullptr);
                else
                    RaiseUnresolvedReference(FAILED(hr) ? hr : ole::TYPE_E_ELEMENTNOTFOUND);
                CheckHr(dest->AddImplType(attr->cImplTypes, MapReferencedType(overTli.get(), dest)));
            } else {
                CopyTypeMembers(sourceTli.get(), source.get(), dest, false);
            }
            break;
        }
        case ole::TKIND_ALIAS: {
            ole::TYPEDESC alias = attr->tdescAlias;
            if (HasUserDefinedType(alias)) {
                ComPtr<tli::VarTypeInfo> resolved;
                CheckHr(sourceTli->get_ResolvedType(resolved.put()));
                g.refContext = Generation::kMemberType;
                g.refFlags = 0;
                g.Refer(Generation::Reference::kAlias, source.get());
                modTYPEDESC::BuildTypeDesc(g.owner, dest, resolved.get(), &alias, this);
            }
            CheckHr(dest->SetTypeDescAlias(&alias));
            g.owner.FreeTypeDesc();
            break;
        }
        default:
            break;
    }
}

void TLBModifier::CopyBaseInterface(tli::TypeInfo* source, ole::ICreateTypeInfo2* dest) {
    Generation& g = *gen_;
    ComPtr<tli::ImpliedInterfaces> implied;
    CheckHr(source->get_ImpliedInterfaces(implied.put()));
    ole::LONG count = 0;
    CheckHr(implied->get_Count(&count));
    if (count < 1) return;
    g.refContext = Generation::kBaseInterface;
    g.refFlags = 0;
    g.Refer(Generation::Reference::kBase, ITypeInfoOf(source).get());
    ComPtr<tli::TypeInfo> base = TypeInfosItemAsInterface(implied.get(), 1);
    CheckHr(dest->AddImplType(0, MapReferencedType(base.get(), dest)));
}

void TLBModifier::CopyCoClass(tli::TypeInfo* source, ole::ITypeInfo2* source2, ole::ICreateTypeInfo2* dest) {
    Generation& g = *gen_;
    ComPtr<tli::ImpliedInterfaces> implied;
    CheckHr(source->get_ImpliedInterfaces(implied.put()));
    ole::LONG count = 0;
    CheckHr(implied->get_Count(&count));
    ole::LONG typeIndex = 0;
    CheckHr(source->get_TypeInfoNumber(&typeIndex));
    const ComPtr<ole::ITypeInfo> sourceTi = ITypeInfoOf(source);
    for (ole::LONG i = 1; i <= count; ++i) {
        const auto index = static_cast<ole::UINT>(i - 1);
        ole::LONG flags = 0;
        CheckHr(implied->get_Flags(i, &flags));
        g.refContext = 0;
        g.refFlags = flags;
        g.Refer(Generation::Reference::kImplType, sourceTi.get(), index);
        ComPtr<tli::TypeInfo> entry = TypeInfosItemAsInterface(implied.get(), i);
        CheckHr(dest->AddImplType(index, MapReferencedType(entry.get(), dest)));
        if (source2) {
            CustDataContext context;
            context.ItemKind = CustDataContext::kImplType;
            context.TypeIndex = typeIndex;
            context.ItemIndex = static_cast<int32_t>(index);
            context.Source = source2;
            context.Destination = dest;
            CopyCustData(context, helper::GetImplTypeCustData(source2, index),
                         helper::SetImplTypeCustData(dest, index));
        }
        CheckHr(dest->SetImplTypeFlags(index, flags));
    }
}

// ---- Pass 3 ----

void TLBModifier::LayOutAll() {
    Generation& g = *gen_;
    for (size_t i = 0; i < g.created.size(); ++i) {
        const ole::HRESULT hr = g.created[i]->LayOut();
        if (FAILED(hr)) RaiseNamed(hr, u"Type '" + TypeName(g.createdRead[i].get()) + u"'");
    }
}

}  // namespace zephrin
