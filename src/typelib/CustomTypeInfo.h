// The editable view of one type of the library a CustomTypeLib holds. Every
// operation writes at once into the type's creation interface. Operations
// that fail halfway leave the type as it was and raise the first error.
//
// This header declares the class; its operations are spread over several
// sources: CustomTypeInfo.cpp (state, attributes, alias, implemented
// interfaces, base type, names, GUIDs, version, alignment, layout) and
// CustomTypeInfoCopyFuncs.cpp (copying functions between types, the layout
// probe). Member-level operations (adding, editing, reordering, flattening
// and copying members) go into further sources of their own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/oleauto/TypeLibInterfaces.h"
#include "platform/oleauto/Unknown.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

// One member of a type being copied or reordered.
struct MemberOrderEntry {
    int16_t OrderKey = 0;     // functions: the copy's vtable offset (0: the layout assigns one)
    int16_t SourceIndex = 0;  // the member's index in the type the copy is taken from
    int32_t NewMemID = -1;    // the copy's member ID (-1: the layout assigns one)
};

// True for member IDs that the layout assigns: functions 0x60000000 to
// 0x7FFFFFFF, variables 0x40000000 to 0x7FFFFFFF.
constexpr bool IsAutomaticFuncMemID(int32_t id) { return id >= 0x60000000; }
constexpr bool IsAutomaticVarMemID(int32_t id) { return id >= 0x40000000; }

class CustomTypeInfo {
public:
    // Codes of SetBaseType.
    static constexpr int32_t kBaseIUnknown = 0;
    static constexpr int32_t kBaseIDispatch = 1;
    static constexpr int32_t kBaseCustom = 2;

    CustomTypeInfo() = default;
    CustomTypeInfo(const CustomTypeInfo&) = delete;
    CustomTypeInfo& operator=(const CustomTypeInfo&) = delete;

    // Model use only (CustomTypeLib): binds the object to a type of library.
    void Init(ole::ICreateTypeLib2* library, ole::ICreateTypeInfo* type);

    // ---- Attributes ----
    // TYPEFLAGS, widened with their sign.
    int32_t Attributes();
    // Only the flags a type of this kind may carry are written; an interface's
    // FREPLACEABLE and FDISPATCHABLE stay; FDUAL brings FOLEAUTOMATION.
    void Attributes(int32_t newFlags);

    // ---- Alias ----
    // TKIND_ALIAS only (error 5). A description that leads back to this alias
    // raises TYPE_E_CIRCULARTYPE.
    void SetAlias(tli::VarTypeInfo* vtInfo);

    // ---- Implemented interfaces (coclass) and base type ----
    // Appends an interface; returns its index.
    int32_t AddImplType(tli::TypeInfo* typeInfo, int32_t flags);
    // Deleting the default source interface passes FDEFAULT to the first
    // interface with FDEFAULTVTABLE.
    void DeleteImplType(int32_t implType);
    // Replaces the interface at implType, keeping its place, flags and custom data.
    void SetImplTypeType(int32_t implType, tli::TypeInfo* typeInfo);
    // Sets IMPLTYPEFLAGS, keeping one default incoming, one default source and
    // one default vtable source interface; newFlags comes back as applied.
    void SetImplTypeFlags(int32_t implType, int32_t& newFlags);
    // kBaseIUnknown, kBaseIDispatch or kBaseCustom (customTInfo); any other
    // code means no base. Interfaces are rebased keeping their functions.
    void SetBaseType(int32_t baseType, tli::TypeInfo* customTInfo);

    // ---- Views ----
    ole::ComPtr<ole::ITypeInfo> ITypeInfo();
    // The TypeLib Information view (a dual as its interface half).
    ole::ComPtr<tli::TypeInfo> TypeInfo();

    // ---- Names, GUIDs, version, alignment, layout ----
    void SetAlignment(int16_t cbAlignment);
    void SetTypeInfoName(std::u16string_view newName);
    // Registry form with braces; other text raises the conversion's HRESULT.
    void SetTypeInfoGUID(std::u16string_view newGuid);
    void SetGuidDirect(const ole::GUID& guid);
    void SetVersion(int16_t majorVersion, int16_t minorVersion);
    void LayOut();

    // ---- State ----
    ole::TYPEKIND TypeKind() const { return typeKind_; }
    int32_t FuncCount() const { return cFuncs_; }
    int32_t VarCount() const { return cVars_; }
    int32_t ImplTypeCount() const { return cImplTypes_; }
    const ole::ComPtr<ole::ICreateTypeInfo2>& CreateTypeInfo() const { return type_; }
    const ole::ComPtr<ole::ICreateTypeLib2>& Library() const { return library_; }

private:
    // One implemented interface as it stands: type, flags and custom data.
    struct ImplEntry {
        ole::ComPtr<ole::ITypeInfo> type;
        int32_t flags = 0;
        std::vector<std::pair<ole::GUID, ole::Variant>> custData;
    };
    ImplEntry ReadImplEntry(ole::UINT index);
    // Deletes the interfaces from index on and appends entries in their place.
    void ReplaceImplTypesFrom(ole::UINT index, const std::vector<ImplEntry>& entries);
    // Appends one interface at the end (index = present count).
    void AppendImplEntry(ole::UINT index, const ImplEntry& entry);

    // Gives an interface a new base (or none) while keeping its functions.
    void RebaseInterface(const ole::ComPtr<ole::ITypeInfo>& newBase);

    // ---- CustomTypeInfoCopyFuncs.cpp ----
    // Copies the functions entries describe (SourceIndex in source) into dest
    // at destIndex, destIndex + 1, ...: descriptor with the entry's member ID
    // and vtable offset, names (newName, when not empty, replacing the
    // member's), help, DLL entry and custom data. shareMemberID in: whether
    // the accessors copied are to share the first one's member ID.
    void CopyFuncDesc(ole::ICreateTypeInfo* dest, ole::ITypeInfo* source, std::span<MemberOrderEntry> entries,
                      ole::UINT destIndex, std::u16string_view newName, bool& shareMemberID);
    // Whether the type lays out with one more automatic function (the trial
    // function is removed again; the type is not laid out afterwards).
    bool TryLayOut();
    // A new type of that kind in the library, named after the present time.
    ole::ComPtr<ole::ICreateTypeInfo2> CreateTemporaryType(ole::TYPEKIND kind, std::u16string& name);

    ole::ComPtr<ole::ICreateTypeLib2> library_;
    ole::ComPtr<ole::ICreateTypeInfo2> type_;
    ole::TYPEKIND typeKind_ = ole::TKIND_ENUM;
    int32_t cFuncs_ = 0;
    int32_t cVars_ = 0;
    int16_t cImplTypes_ = 0;
};

}  // namespace zephrin
