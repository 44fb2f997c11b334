// The regeneration engine: writes a brand-new type library from a starting
// library plus modification requests. A caller creates one TLBModifier, sets
// the starting library (StartingLib or StartingLibDirect), records requests,
// then calls exactly one of GenerateDirect, Generate,
// GenerateDirectFindUnresolved and GenerateDirectTestUnresolved.
//
// References between types are resolved by type name against the final type
// list, so the new library keeps working references however its types were
// reordered, replaced, removed or taken in from other libraries.
//
// Every failure raises an error record; a generation that fails writes no
// file and leaves an existing file untouched.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "regen/IExternalTypeRedirection.h"
#include "regen/IModifyCustData.h"
#include "regen/IModifyHelpData.h"
#include "typelib/modTYPEDESC.h"

namespace zephrin {

// One type of the final list: which library (1 = the starting library) and
// which of its types, where it goes in the new library, and how its flags are
// adjusted.
struct TypeListRecord {
    static constexpr int16_t kAddProxy = 1;  // give the type TYPEFLAG_FPROXY
    static constexpr int16_t kDropDual = 2;  // remove TYPEFLAG_FDUAL
    int32_t LibNum = 0;
    int32_t TypeIndex = 0;
    int32_t Position = 0;
    int16_t Flags = 0;
};

class TLBModifier final : private TypeReferenceMapper {
public:
    // AddExtraLibrary flags.
    static constexpr int32_t kExtraOnDemand = 1;  // types enter the list when referenced
    static constexpr int32_t kExtraAllTypes = 2;  // every type is appended now
    static constexpr int32_t kExtraProxy = 4;     // the types added get TYPEFLAG_FPROXY
    static constexpr int32_t kExtraNoDual = 8;    // the types added lose TYPEFLAG_FDUAL
    // AddExtraType flags.
    static constexpr int32_t kTypeProxy = 1;
    static constexpr int32_t kTypeNoDual = 2;
    // HelpGeneration bits.
    static constexpr int32_t kNoTypeHelpFile = 1;          // types and members carry no help file
    static constexpr int32_t kNoTypeHelpStringDll = 2;     // types carry no help string DLL
    static constexpr int32_t kMapHelpToStartingLib = 4;    // a library's own help files become the new one's
    static constexpr int32_t kMapHelpStringDllToStartingLib = 8;  // the same for the help string DLL alone
    static constexpr int32_t kNoDocStringWithDll = 16;     // no doc strings where a help string DLL is in force
    static constexpr int32_t kLibraryHasHelpStringDll = 32;  // set by the engine while generating

    TLBModifier();
    ~TLBModifier() override;
    TLBModifier(const TLBModifier&) = delete;
    TLBModifier& operator=(const TLBModifier&) = delete;

    // ---- Generation ----
    // The new library; written to saveAs, or kept in memory when saveAs is empty.
    ole::ComPtr<ole::ITypeLib> GenerateDirect(std::u16string_view saveAs);
    ole::ComPtr<tli::TypeLibInfo> Generate(std::u16string_view saveAs);
    // An in-memory generation in which every reference that can't be resolved
    // points at a placeholder of the unresolved-types library ("MISSING").
    // unresolvedTypes is in/out: null or a library made by an earlier call;
    // out, the library of placeholders (null when none was needed and none
    // given). A failed generation leaves the caller's library as it was.
    ole::ComPtr<ole::ITypeLib> GenerateDirectFindUnresolved(ole::ComPtr<ole::ITypeLib>& unresolvedTypes);
    // GenerateDirect(saveAs), refused (813) while any reference still reaches
    // a placeholder of unresolvedTypes.
    ole::ComPtr<ole::ITypeLib> GenerateDirectTestUnresolved(ole::ITypeLib* unresolvedTypes,
                                                           std::u16string_view saveAs);

    // ---- Starting library (set once, before every request) ----
    void StartingLib(tli::TypeLibInfo* library);
    ole::ComPtr<tli::TypeLibInfo> StartingLib() const { return startingLib_; }
    void StartingLibDirect(ole::ITypeLib* library);

    // ---- Callbacks and help generation ----
    int32_t HelpGeneration() const { return helpGeneration_; }
    void HelpGeneration(int32_t value) { helpGeneration_ = value; }
    ole::ComPtr<IModifyHelpData> HelpModifier() const { return helpModifier_; }
    void HelpModifier(IModifyHelpData* value) { helpModifier_ = ole::ComPtr<IModifyHelpData>(value); }
    ole::ComPtr<IExternalTypeRedirection> RedirectionWatcher() const { return redirectionWatcher_; }
    void RedirectionWatcher(IExternalTypeRedirection* value) {
        redirectionWatcher_ = ole::ComPtr<IExternalTypeRedirection>(value);
    }
    ole::ComPtr<IModifyCustData> CustDataModifier() const { return custDataModifier_; }
    void CustDataModifier(IModifyCustData* value) { custDataModifier_ = ole::ComPtr<IModifyCustData>(value); }

    // ---- Requests ----
    // newOrder[k] is the new 0-based position of the starting library's type
    // k. Must come before any request that changes the final list (810); the
    // order must be a permutation of the positions (811).
    void ReorderStartingTypes(std::span<const int32_t> newOrder);
    void AddExtraLibrary(tli::TypeLibInfo* newLib, int32_t flags);
    void AddExtraType(tli::TypeInfo* newType, int32_t flags);
    // References into sourceLib are looked up by GUID in destLib instead.
    void RedirectImportLib(tli::TypeLibInfo* sourceLib, tli::TypeLibInfo* destLib);
    // References to sourceType go to destType. With fReplacement the source
    // leaves the final list (destType null or of the same library) or destType
    // takes its place. A destType of another kind is refused (815), unless
    // sourceType is a placeholder of the unresolved-types library.
    void RedirectType(tli::TypeInfo* sourceType, tli::TypeInfo* destType, bool fReplacement);
    void SetLibVersion(int16_t major, int16_t minor);
    // Registry form with braces; "" stands for the starting library's GUID.
    std::u16string LibGUID() const;
    void LibGUID(std::u16string_view guid);
    std::u16string TypeInfoGUID(std::u16string_view typeInfoName) const;
    void TypeInfoGUID(std::u16string_view typeInfoName, std::u16string_view guid);

    // The final list in order (empty while no request has built it).
    std::vector<TypeListRecord> FinalTypeList() const;

private:
    struct LibraryEntry {
        ole::ComPtr<tli::TypeLibInfo> info;
        ole::ComPtr<ole::ITypeLib> lib;
        bool added = false;     // named by AddExtraLibrary
        bool allTypes = false;  // added with kExtraAllTypes
    };
    struct TypeRedirection {
        ole::ComPtr<ole::ITypeLib> sourceLib;  // keeps the key's library alive
        ole::ComPtr<tli::TypeInfo> source;
        ole::ComPtr<tli::TypeInfo> dest;  // null: replaced by nothing
    };
    struct ImportRedirection {
        ole::ComPtr<ole::ITypeLib> sourceLib;
        ole::ComPtr<tli::TypeLibInfo> dest;
        ole::ComPtr<ole::ITypeLib> destLib;
        // destLib's types by folded name, read when first needed.
        std::unordered_map<std::u16string, ole::UINT> names;
        bool namesRead = false;
        // The type of destLib named name (case-insensitive), or null.
        ole::ComPtr<ole::ITypeInfo> TypeNamed(const std::u16string& name);
    };
    using TypeKey = std::pair<ole::IUnknown*, ole::UINT>;
    struct Generation;

    // ---- Requests and the final list (TLBModifier.cpp) ----
    void RequireStartingLib() const;
    void SetStartingLib(ole::ITypeLib* library);
    void EnsureTypeList();
    void BuildTypeList(std::span<const int32_t> inverseOrder);
    int32_t RegisterLibrary(ole::ITypeLib* lib, tli::TypeLibInfo* info);
    int32_t LibraryNumber(ole::IUnknown* key) const;
    TypeListRecord& AppendRecord(int32_t libNum, int32_t typeIndex, int16_t flags, const std::u16string& name);
    void RemoveRecord(std::list<TypeListRecord>::iterator record);
    void NumberPositions();
    const TypeListRecord* FindRecord(std::u16string_view name) const;
    ole::ComPtr<ole::ITypeInfo> ListedType(const TypeListRecord& record) const;
    static ole::GUID ValidateGuidString(std::u16string_view text);

    // ---- The pipeline (TLBModifierGenerate.cpp) ----
    ole::ComPtr<ole::ITypeLib> RunGeneration(std::u16string_view saveAs);
    void CopyLibraryAttributes();
    ole::ComPtr<ole::ITypeInfo> SourceItem(const TypeListRecord& record) const;
    void CreateListedType(const TypeListRecord& record, bool guidOverride);
    void FillType(const TypeListRecord& record);
    void CopyCoClass(tli::TypeInfo* source, ole::ITypeInfo2* source2, ole::ICreateTypeInfo2* dest);
    void CopyBaseInterface(tli::TypeInfo* source, ole::ICreateTypeInfo2* dest);
    void LayOutAll();
    struct LibraryHelp {
        std::u16string helpFile;  // file name only
        std::u16string helpStringDll;
        bool hasLib2 = false;
    };
    const LibraryHelp& LibraryHelpOf(ole::ITypeLib* lib);
    // Puts a help file and help string DLL in force for what is created next
    // (null: leave that one as it is).
    void PutHelpInForce(const std::u16string* helpFile, const std::u16string* helpStringDll);
    std::u16string MapHelpFile(std::u16string helpFile, ole::ITypeLib* ownLib);
    std::u16string MapHelpStringDll(std::u16string helpStringDll, ole::ITypeLib* ownLib);
    void CopyCustData(const CustDataContext& context, const std::function<void(ole::CUSTDATA&)>& get,
                      const std::function<void(const ole::GUID&, ole::VARIANT&)>& set);

    // ---- Members (TLBModifierMembers.cpp) ----
    // What the members of one source type share, looked up once for them all.
    struct MemberSource {
        ole::ITypeInfo* ti = nullptr;
        ole::ComPtr<ole::ITypeInfo2> ti2;     // null when the type doesn't answer ITypeInfo2
        ole::ComPtr<ole::ITypeLib> lib;       // the library holding it
        const LibraryHelp* libHelp = nullptr; // that library's help, once first asked for
        tli::TypeInfo* type = nullptr;
        int32_t typeIndex = -1;               // the type's number, for custom data
    };
    void CopyTypeMembers(tli::TypeInfo* source, ole::ITypeInfo* sourceTi, ole::ICreateTypeInfo2* dest,
                         bool clearVtableOffsets);
    void CopyVariable(MemberSource& source, ole::UINT index, ole::ICreateTypeInfo2* dest, tli::MemberInfo* member);
    void CopyFunction(MemberSource& source, ole::UINT index, ole::ICreateTypeInfo2* dest, tli::MemberInfo* member,
                      bool isModule, bool clearVtableOffsets);
    // Fills help with the member's help data; true when a help string DLL is
    // in force for it.
    bool ReadMemberHelp(MemberSource& source, ole::MEMBERID memid, tli::MemberInfo* member, HelpData& help);
    void PutMemberHelpInForce(const HelpData& help);
    void BuildMemberType(ole::ITypeInfo* sourceTi, ole::ICreateTypeInfo2* dest, ole::TYPEDESC& desc,
                         ole::USHORT paramFlags);

    // ---- Reference mapping (TLBModifierMapping.cpp) ----
    ole::ComPtr<tli::TypeInfo> GetVarTypeTypeInfo(tli::VarTypeInfo* vti) override;
    ole::HREFTYPE MapReferencedType(tli::TypeInfo* type, ole::ICreateTypeInfo* newType) override;
    ole::ComPtr<tli::TypeInfo> ApplyTypeRedirection(ole::ComPtr<tli::TypeInfo> type);
    ole::ComPtr<tli::TypeInfo> TypeInfosItemAsInterface(tli::ImpliedInterfaces* list, ole::LONG index);
    bool TypeKindsMatch(tli::TypeInfo* a, tli::TypeInfo* b) const;
    // The failed lookup of the reference being mapped, naming the type that
    // holds it and where.
    [[noreturn]] void RaiseUnresolvedReference(ole::HRESULT hr) const;
    bool IsExternalTypeInfo(ole::ITypeInfo* ti) const;
    void NotifyRedirection(tli::TypeInfo* source, tli::TypeInfo* dest);
    bool IsUnresolvedLibrary(ole::ITypeLib* lib);

    // ---- Unresolved types (TLBModifierUnresolved.cpp) ----
    ole::ComPtr<tli::TypeInfo> AddUnresolvedType(tli::VarTypeInfo* vti);
    ole::UINT GetUnresolvedPlaceholder(ole::TYPEKIND kind);

    ole::ComPtr<tli::TypeLibInfo> startingLib_;
    ole::ComPtr<ole::ITypeLib> startingITypeLib_;
    ole::IUnknown* startingKey_ = nullptr;
    std::map<std::u16string, std::u16string> guidOverrides_;  // by folded type name

    std::vector<LibraryEntry> libraries_;  // library number k is item k - 1
    std::unordered_map<ole::IUnknown*, int32_t> libraryNumbers_;
    bool listBuilt_ = false;
    std::list<TypeListRecord> records_;  // in final order
    std::unordered_map<std::u16string, TypeListRecord*> names_;  // by folded name
    // By (library number, type index).
    std::map<std::pair<int32_t, int32_t>, std::list<TypeListRecord>::iterator> byOrigin_;
    std::map<int32_t, int16_t> onDemandFlags_;  // by library number
    bool onDemand_ = false;

    std::map<ole::IUnknown*, ImportRedirection> importRedirections_;
    std::map<TypeKey, TypeRedirection> typeRedirections_;

    std::u16string libGuid_;
    int16_t majorVersion_ = 0;
    int16_t minorVersion_ = 0;
    int32_t helpGeneration_ = 0;
    ole::ComPtr<IModifyHelpData> helpModifier_;
    ole::ComPtr<IExternalTypeRedirection> redirectionWatcher_;
    ole::ComPtr<IModifyCustData> custDataModifier_;

    enum class Mode { Normal, FindUnresolved, TestUnresolved };
    Mode mode_ = Mode::Normal;
    ole::ComPtr<ole::ITypeLib> unresolvedTypes_;
    ole::ComPtr<ole::ICreateTypeLib2> unresolvedCreate_;

    std::unique_ptr<Generation> gen_;
};

// Installs the regeneration engine as the model's library copier (used by
// CustomTypeLib::Duplicate). Safe to call more than once.
void InstallLibraryCopier();

}  // namespace zephrin
