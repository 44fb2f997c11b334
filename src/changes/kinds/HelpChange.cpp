#include "changes/kinds/HelpChange.h"

#include <vector>

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeRegeneration.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modStorableText.h"
#include "foundation/modSupport.h"
#include "regen/IModifyHelpData.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

using ole::ComPtr;
using typelib_detail::TakeBstr;

namespace {

constexpr int32_t kRegeneratedFields = HelpData::kHelpFile | HelpData::kHelpStringDll;

int32_t DiffMask(const HelpData& a, const HelpData& b) {
    return (a.DocString != b.DocString ? HelpData::kDocString : 0) |
           (a.HelpFile != b.HelpFile ? HelpData::kHelpFile : 0) |
           (a.HelpStringDll != b.HelpStringDll ? HelpData::kHelpStringDll : 0) |
           (a.HelpContext != b.HelpContext ? HelpData::kHelpContext : 0) |
           (a.HelpStringContext != b.HelpStringContext ? HelpData::kHelpStringContext : 0);
}

std::u16string FileName(std::u16string path) {
    modSupport::ExtractFileName(path);
    return path;
}

// The library's own help data (index -1) or that of its type at index.
HelpData ReadLibraryHelp(ole::ITypeLib* lib, ole::INT index) {
    HelpData help;
    ole::BSTR doc = nullptr, file = nullptr;
    ole::DWORD context = 0;
    const ole::HRESULT hr = lib->GetDocumentation(index, nullptr, &doc, &context, &file);
    help.DocString = TakeBstr(doc);
    help.HelpFile = TakeBstr(file);
    CheckHr(hr);
    help.HelpContext = context;
    if (ComPtr<ole::ITypeLib2> lib2 = ComPtr<ole::ITypeLib>(lib).As<ole::ITypeLib2>()) {
        ole::BSTR dll = nullptr;
        ole::DWORD stringContext = 0;
        const ole::HRESULT hr2 = lib2->GetDocumentation2(index, 0, nullptr, &stringContext, &dll);
        help.HelpStringDll = TakeBstr(dll);
        CheckHr(hr2);
        help.HelpStringContext = stringContext;
    }
    return help;
}

// A new, empty library with the attributes, custom data and help of lib;
// helpFile and helpStringDll are those the new library is to have.
ComPtr<ole::ITypeLib> NewHeader(ole::ITypeLib* lib, const std::u16string& helpFile,
                                const std::u16string& helpStringDll) {
    ole::TLIBATTR* attr = nullptr;
    CheckHr(lib->GetLibAttr(&attr));
    const ole::TLIBATTR a = *attr;
    lib->ReleaseTLibAttr(attr);
    ComPtr<ole::ICreateTypeLib2> header;
    CheckHr(ole::CreateTypeLib2(a.syskind, u"", header.put()));
    ole::BSTR name = nullptr;
    CheckHr(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
    const std::u16string libName = TakeBstr(name);
    const HelpData own = ReadLibraryHelp(lib, -1);
    CheckHr(header->SetGuid(a.guid));
    CheckHr(header->SetLcid(a.lcid));
    CheckHr(header->SetLibFlags(a.wLibFlags & ~ole::LIBFLAG_FHASDISKIMAGE));
    CheckHr(header->SetVersion(a.wMajorVerNum, a.wMinorVerNum));
    CheckHr(header->SetName(libName.c_str()));
    if (ComPtr<ole::ITypeLib2> lib2 = ComPtr<ole::ITypeLib>(lib).As<ole::ITypeLib2>())
        modITypeInfoHelper::CopyLibCustData(lib2.get(), header.get());
    CheckHr(header->SetHelpFileName(helpFile.c_str()));
    CheckHr(header->SetHelpStringDll(helpStringDll.c_str()));
    // The library's own description and contexts: those of a type or member
    // target are that item's.
    CheckHr(header->SetHelpContext(own.HelpContext));
    CheckHr(header->SetHelpStringContext(own.HelpStringContext));
    CheckHr(header->SetDocString(own.DocString.c_str()));
    ComPtr<ole::ITypeLib> result = header.As<ole::ITypeLib>();
    if (!result) RaiseError(kErrTypeMismatch);
    return result;
}

}  // namespace

// What a help file or help string DLL change asks of the regeneration.
struct HelpChange::Plan {
    bool regenerate = false;
    bool newHeader = false;
    int32_t helpGeneration = 0;
    int16_t providerMask = 0;  // Provider bits
    std::u16string libraryHelpFile;  // the new library's
    std::u16string libraryHelpStringDll;
};

// The help-data provider of one regeneration.
class HelpChange::Provider final : public ole::RefCounted<IModifyHelpData> {
public:
    static constexpr int16_t kReplaceFile = 1;     // a help file equal to the old one becomes the new one
    static constexpr int16_t kSetTypeFile = 2;     // the target type gets the new help file
    static constexpr int16_t kReplaceDll = 4;      // the same for help string DLLs
    static constexpr int16_t kSetTypeDll = 8;

    Provider(const HelpData& old, const HelpData& now, int16_t mask, int32_t typeIndex)
        : old_(old), new_(now), mask_(mask), typeIndex_(typeIndex) {}
    ole::HRESULT QueryInterface(const ole::IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<IModifyHelpData>(this, riid, ppv);
    }
    ole::HRESULT ModifyLibHelp(tli::TypeLibInfo*, HelpData&) override { return ole::S_OK; }
    ole::HRESULT ModifyTypeHelp(tli::TypeInfo* type, ole::LONG fieldMask, HelpData& help) override {
        if (fieldMask == (HelpData::kHelpFile | HelpData::kHelpStringDll) && (mask_ & (kSetTypeFile | kSetTypeDll))) {
            ole::LONG number = -1;
            if (const ole::HRESULT hr = type->get_TypeInfoNumber(&number); ole::FAILED(hr)) return hr;
            if (number == typeIndex_) {
                if (mask_ & kSetTypeFile) help.HelpFile = new_.HelpFile;
                if (mask_ & kSetTypeDll) help.HelpStringDll = new_.HelpStringDll;
            }
        }
        Replace(help);
        return ole::S_OK;
    }
    ole::HRESULT ModifyMemberHelp(tli::TypeInfo*, tli::MemberInfo*, HelpData& help) override {
        Replace(help);
        return ole::S_OK;
    }

private:
    void Replace(HelpData& help) const {
        if ((mask_ & kReplaceFile) && help.HelpFile == old_.HelpFile) help.HelpFile = new_.HelpFile;
        if ((mask_ & kReplaceDll) && help.HelpStringDll == old_.HelpStringDll) help.HelpStringDll = new_.HelpStringDll;
    }

    HelpData old_;
    HelpData new_;
    int16_t mask_;
    int32_t typeIndex_;
};

HelpChange::Plan HelpChange::PlanRegeneration(const HelpChange& base, const ChangeTarget& target, int32_t mask) const {
    Plan plan;
    const HelpData library = ReadLibraryHelp(changes_detail::TargetLibrary(target), -1);
    plan.libraryHelpFile = FileName(library.HelpFile);
    plan.libraryHelpStringDll = library.HelpStringDll;
    const bool fileChanged = (mask & HelpData::kHelpFile) != 0;
    const bool dllChanged = (mask & HelpData::kHelpStringDll) != 0;
    if (target.Kind == kTargetLibrary) {
        plan.regenerate = plan.newHeader = true;
        if (fileChanged) {
            plan.libraryHelpFile = help_.HelpFile;
            if (helpFileScope_ == kScopeLibrary) plan.helpGeneration |= TLBModifier::kNoTypeHelpFile;
            if (helpFileScope_ == kScopeShared) plan.helpGeneration |= TLBModifier::kMapHelpToStartingLib;
        }
        if (dllChanged) {
            plan.libraryHelpStringDll = help_.HelpStringDll;
            if (helpStringDllScope_ == kScopeLibrary) plan.helpGeneration |= TLBModifier::kNoTypeHelpStringDll;
            if (helpStringDllScope_ == kScopeShared)
                plan.helpGeneration |= TLBModifier::kMapHelpStringDllToStartingLib;
        }
        return plan;
    }
    // A type or member: by scope, the library takes the new file (and every
    // item either uses it or keeps its own mapped), or the provider changes
    // the items that used the old one, or the target type alone.
    const bool member = target.Kind == kTargetMember;
    plan.regenerate = !member;
    if (fileChanged) {
        if (helpFileScope_ == kScopeLibrary) {
            plan.helpGeneration |= TLBModifier::kNoTypeHelpFile;
            plan.newHeader = true;
            plan.libraryHelpFile = help_.HelpFile;
        } else if (helpFileScope_ == kScopeShared && plan.libraryHelpFile == base.help_.HelpFile) {
            plan.helpGeneration |= TLBModifier::kMapHelpToStartingLib;
            plan.newHeader = true;
            plan.libraryHelpFile = help_.HelpFile;
        } else {
            plan.providerMask |= helpFileScope_ == kScopeShared ? Provider::kReplaceFile : Provider::kSetTypeFile;
        }
        if (helpFileScope_ != kScopeItem) plan.regenerate = true;
    }
    if (dllChanged) {
        if (helpStringDllScope_ == kScopeLibrary) {
            plan.helpGeneration |= TLBModifier::kNoTypeHelpStringDll;
            plan.newHeader = true;
            plan.libraryHelpStringDll = help_.HelpStringDll;
        } else if (helpStringDllScope_ == kScopeShared && plan.libraryHelpStringDll == base.help_.HelpStringDll) {
            plan.helpGeneration |= TLBModifier::kMapHelpStringDllToStartingLib;
            plan.newHeader = true;
            plan.libraryHelpStringDll = help_.HelpStringDll;
        } else {
            plan.providerMask |= helpStringDllScope_ == kScopeShared ? Provider::kReplaceDll : Provider::kSetTypeDll;
        }
        if (helpStringDllScope_ != kScopeItem) plan.regenerate = true;
    }
    return plan;
}

ComPtr<ole::ITypeLib> HelpChange::Regenerate(const Plan& plan, const HelpChange& base,
                                             const ChangeTarget& target) const {
    ole::ITypeLib* lib = changes_detail::TargetLibrary(target);
    TLBModifier engine;
    if (plan.newHeader) {
        const ComPtr<ole::ITypeLib> header = NewHeader(lib, plan.libraryHelpFile, plan.libraryHelpStringDll);
        engine.StartingLibDirect(header.get());
        // Every type of the edited library, in its order, into the new header.
        engine.AddExtraLibrary(typelib_detail::TliTypeLibInfo(lib).get(), TLBModifier::kExtraAllTypes);
    } else {
        engine.StartingLibDirect(lib);
    }
    engine.HelpGeneration(plan.helpGeneration);
    ComPtr<Provider> provider;
    if (plan.providerMask != 0) {
        provider = ole::MakeCom<Provider>(base.help_, help_, plan.providerMask, target.TypeIndex);
        engine.HelpModifier(provider.get());
    }
    return engine.GenerateDirect(u"");
}

void HelpChange::WriteInPlace(CustomTypeLib& library, ole::ITypeLib* lib, const ChangeTarget& target, int32_t mask,
                              const HelpChange& base) const {
    const HelpData& old = base.help_;
    if (target.Kind == kTargetMember) {
        library.GetCustomTypeInfoByNumber(target.TypeIndex)->ModifyMemberHelpData(target.MemberId, help_, mask,
                                                                                  target.InvokeKind);
        return;
    }
    // Three setters of the library or of the type; each is undone should a later one fail.
    std::function<ole::HRESULT(ole::DWORD)> setContext, setStringContext;
    std::function<ole::HRESULT(const std::u16string&)> setDoc;
    if (target.Kind == kTargetLibrary) {
        ComPtr<ole::ICreateTypeLib2> create = ComPtr<ole::ITypeLib>(lib).As<ole::ICreateTypeLib2>();
        if (!create) RaiseError(kErrTypeMismatch);
        setContext = [create](ole::DWORD v) { return create->SetHelpContext(v); };
        setStringContext = [create](ole::DWORD v) { return create->SetHelpStringContext(v); };
        setDoc = [create](const std::u16string& v) { return create->SetDocString(v.c_str()); };
    } else {
        if (target.TypeIndex < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
        ComPtr<ole::ITypeInfo> type;
        CheckHr(lib->GetTypeInfo(static_cast<ole::UINT>(target.TypeIndex), type.put()));
        ComPtr<ole::ICreateTypeInfo2> create = type.As<ole::ICreateTypeInfo2>();
        if (!create) RaiseError(kErrTypeMismatch);
        setContext = [create](ole::DWORD v) { return create->SetHelpContext(v); };
        setStringContext = [create](ole::DWORD v) { return create->SetHelpStringContext(v); };
        setDoc = [create](const std::u16string& v) { return create->SetDocString(v.c_str()); };
    }
    ScopeGuard undo;
    if (mask & HelpData::kHelpContext) {
        CheckHr(setContext(help_.HelpContext));
        undo.OnFailure([&] { CheckHr(setContext(old.HelpContext)); });
    }
    if (mask & HelpData::kHelpStringContext) {
        CheckHr(setStringContext(help_.HelpStringContext));
        undo.OnFailure([&] { CheckHr(setStringContext(old.HelpStringContext)); });
    }
    if (mask & HelpData::kDocString) CheckHr(setDoc(help_.DocString));
    undo.Dismiss();
}

bool HelpChange::Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
                       int32_t flags) {
    RequireTargetKind(ChangeKind::HelpChange, target);
    if (target.Kind != kTargetLibrary && target.Kind != kTargetType && target.Kind != kTargetMember)
        RaiseError(kErrInvalidArgument);
    std::shared_ptr<HelpChange> own;
    auto* base = dynamic_cast<HelpChange*>(captured);
    if (!base) {
        own = modHelpChange::NewHelpChange(false);
        own->InitFromTarget(target);
        base = own.get();
    }
    for (const int16_t scope : {helpFileScope_, helpStringDllScope_})
        if (scope < kScopeItem || scope > kScopeLibrary) RaiseError(kErrInvalidArgument);
    int32_t mask = DiffMask(help_, base->help_);
    // A member uses the library's help file and help string DLL: the file
    // keeps none of a member's own, so one given to the member alone is refused.
    if (target.Kind == kTargetMember &&
        (((mask & HelpData::kHelpFile) && helpFileScope_ == kScopeItem) ||
         ((mask & HelpData::kHelpStringDll) && helpStringDllScope_ == kScopeItem)))
        RaiseError(kErrInvalidArgument, u"A member uses the library's help file and help string DLL; a new one "
                                        u"can be given to all matching items or to all items, not to the member alone.");
    // Refused before anything is written or regenerated.
    if (mask & HelpData::kDocString) modStorableText::RequireStorable(help_.DocString);
    if (mask & HelpData::kHelpFile) modStorableText::RequireStorable(help_.HelpFile);
    if (mask & HelpData::kHelpStringDll) modStorableText::RequireStorable(help_.HelpStringDll);

    ScopeGuard rollback;
    ComPtr<ole::ITypeLib> current = target.Library;
    if (mask & kRegeneratedFields) {
        const Plan plan = PlanRegeneration(*base, target, mask);
        if (plan.regenerate) {
            const ComPtr<ole::ITypeLib> regenerated = Regenerate(plan, *base, target);
            const ComPtr<ole::ITypeLib> previous = target.Library;
            changes_detail::AdoptRegenerated(library, target, regenerated.get());
            rollback.OnFailure([&library, &target, previous] {
                target.ReplacementLibrary = nullptr;
                library.Attach(previous.get());
            });
            current = regenerated;
        }
    }
    if (mask & ~kRegeneratedFields) WriteInPlace(library, current.get(), target, mask & ~kRegeneratedFields, *base);
    rollback.Dismiss();

    // A replayed change keeps the fields it records, even where this library
    // had the values already.
    changeMask_ = mask | (bound_ ? changeMask_ : 0);
    base->help_ = help_;
    base->helpFileScope_ = helpFileScope_;
    base->helpStringDllScope_ = helpStringDllScope_;
    base->changeMask_ = 0;
    if (mask != 0 && listener) {
        ChangeTarget copy = target;
        NotifyListener(*listener, ChangeKind::HelpChange, copy, *this, flags);
    }
    return mask != 0;
}

std::u16string HelpChange::Describe(ChangeTarget& target) {
    std::u16string fields;
    for (auto [bit, id] : {std::pair{HelpData::kDocString, 651}, {HelpData::kHelpFile, 652},
                           {HelpData::kHelpContext, 654}, {HelpData::kHelpStringDll, 653},
                           {HelpData::kHelpStringContext, 655}}) {
        if (!(changeMask_ & bit)) continue;
        if (!fields.empty()) fields += modSupport::LoadResStringById(719);
        fields += modSupport::LoadResStringById(id);
    }
    return modSupport::LoadResStringFormat(650, {modRecorder::DescribeTarget(target), fields});
}

void HelpChange::InitFromTarget(ChangeTarget& target) {
    try {
        ole::ITypeLib* lib = changes_detail::TargetLibrary(target);
        HelpData help;
        if (target.Kind == kTargetMember) {
            ComPtr<ole::ITypeInfo> type = changes_detail::TargetTypeInfo(target);
            // A dispinterface declared over an interface shows the interface's
            // functions, with no help string context of its own: their help
            // is read, and edited, where they are declared.
            if (ComPtr<ole::ITypeInfo2> declarer =
                    modITypeInfoHelper::DispatchedDeclarer(type.get(), target.MemberId, nullptr))
                type = declarer;
            ole::BSTR doc = nullptr, file = nullptr;
            ole::DWORD context = 0;
            const ole::HRESULT hr = type->GetDocumentation(target.MemberId, nullptr, &doc, &context, &file);
            help.DocString = TakeBstr(doc);
            help.HelpFile = TakeBstr(file);
            CheckHr(hr);
            help.HelpContext = context;
            if (ComPtr<ole::ITypeInfo2> type2 = type.As<ole::ITypeInfo2>()) {
                ole::BSTR dll = nullptr;
                ole::DWORD stringContext = 0;
                const ole::HRESULT hr2 = type2->GetDocumentation2(target.MemberId, 0, nullptr, &stringContext, &dll);
                help.HelpStringDll = TakeBstr(dll);
                CheckHr(hr2);
                help.HelpStringContext = stringContext;
            }
        } else {
            help = ReadLibraryHelp(lib, target.Kind == kTargetLibrary ? -1 : target.TypeIndex);
        }
        help.HelpFile = FileName(help.HelpFile);
        help_ = std::move(help);
    } catch (const ErrorRecord&) {
    }
}

ChangePtr HelpChange::Clone() {
    auto copy = modHelpChange::NewHelpChange(false);
    *copy = *this;
    copy->bound_ = false;
    return copy;
}

bool HelpChange::Differs(IChange& other) {
    auto* o = dynamic_cast<HelpChange*>(&other);
    return !o || DiffMask(help_, o->help_) != 0;
}

void HelpChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutByte(static_cast<uint8_t>(changeMask_));
    out.PutByte(static_cast<uint8_t>(helpFileScope_));
    out.PutByte(static_cast<uint8_t>(helpStringDllScope_));
    out.PutLong(static_cast<int32_t>(help_.HelpContext));
    out.PutLong(static_cast<int32_t>(help_.HelpStringContext));
    out.PutString(help_.DocString);
    out.PutString(help_.HelpFile);
    out.PutString(help_.HelpStringDll);
}

void HelpChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    HelpChange loaded;
    loaded.changeMask_ = in.GetByte();
    loaded.helpFileScope_ = in.GetByte();
    loaded.helpStringDllScope_ = in.GetByte();
    if (loaded.helpFileScope_ > kScopeLibrary || loaded.helpStringDllScope_ > kScopeLibrary) in.Refuse();
    loaded.help_.HelpContext = static_cast<uint32_t>(in.GetLong());
    loaded.help_.HelpStringContext = static_cast<uint32_t>(in.GetLong());
    loaded.help_.DocString = in.GetString();
    loaded.help_.HelpFile = in.GetString();
    loaded.help_.HelpStringDll = in.GetString();
    *this = loaded;
}

void HelpChange::BindToLibrary(ole::ITypeLib*, IChange* current) {
    bound_ = true;
    auto* now = dynamic_cast<HelpChange*>(current);
    if (!now) return;
    if (!(changeMask_ & HelpData::kDocString)) help_.DocString = now->help_.DocString;
    if (!(changeMask_ & HelpData::kHelpFile)) help_.HelpFile = now->help_.HelpFile;
    if (!(changeMask_ & HelpData::kHelpStringDll)) help_.HelpStringDll = now->help_.HelpStringDll;
    if (!(changeMask_ & HelpData::kHelpContext)) help_.HelpContext = now->help_.HelpContext;
    if (!(changeMask_ & HelpData::kHelpStringContext)) help_.HelpStringContext = now->help_.HelpStringContext;
}

void HelpChange::DetachFromLibrary(IHistoryReferenceCache&) {
    bound_ = false;
    if (!(changeMask_ & HelpData::kDocString)) help_.DocString.clear();
    if (!(changeMask_ & HelpData::kHelpFile)) help_.HelpFile.clear();
    if (!(changeMask_ & HelpData::kHelpStringDll)) help_.HelpStringDll.clear();
}

namespace modHelpChange {
std::shared_ptr<HelpChange> NewHelpChange(bool) { return std::make_shared<HelpChange>(); }
}  // namespace modHelpChange

}  // namespace zephrin
