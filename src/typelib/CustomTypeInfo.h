// The editable view of one type of the library a CustomTypeLib holds. Every
// operation writes at once into the type's creation interface. Operations
// that fail halfway leave the type as it was and raise the first error.
// A name or string (help text, DLL name, string value) with a character the
// library file can't hold is refused before anything is written (error 5,
// naming the character; modStorableText), as is such a custom data value.
// The object keeps nothing of the type but its kind: counts and members are
// read from the library when needed, so any number of objects may wrap one
// type and each sees the edits made through the others.
//
// This header declares the class; its operations are spread over several
// sources: CustomTypeInfo.cpp (state, attributes, alias, implemented
// interfaces, base type, names, GUIDs, version, alignment, layout) and
// CustomTypeInfoCopyFuncs.cpp (copying functions between types, the layout
// probe); member-level operations in CustomTypeInfoMembers.cpp (adding),
// CustomTypeInfoEdits.cpp (member and parameter edits), CustomTypeInfoHelp.cpp
// (member help and custom data), CustomTypeInfoRebuild.cpp (the member
// rebuild engine), CustomTypeInfoReorder.cpp (reordering, member ID reset)
// and CustomTypeInfoFlatten.cpp (flattening, copying members).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "foundation/ScopeGuard.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/FuncData.h"
#include "typelib/FuncRebuildData.h"
#include "typelib/HelpData.h"
#include "typelib/ModifyData.h"
#include "typelib/ParamData.h"
#include "typelib/VarRebuildData.h"

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
    // Appends an interface; returns its index. Here and in SetImplTypeType a
    // type that is neither an interface nor a dispinterface is refused (error 5).
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
    // A base that is not an interface (a dual counts) is refused (error 5),
    // and so (TYPE_E_AMBIGUOUSNAME) is one holding a name of the type's members.
    void SetBaseType(int32_t baseType, tli::TypeInfo* customTInfo);

    // ---- Views ----
    ole::ComPtr<ole::ITypeInfo> ITypeInfo();
    // The TypeLib Information view (a dual as its interface half).
    ole::ComPtr<tli::TypeInfo> TypeInfo();

    // ---- Names, GUIDs, version, alignment, layout ----
    void SetAlignment(int16_t cbAlignment);
    // The value last given to SetAlignment, which may be wider than the one
    // the type reads back (that one where the engine doesn't tell).
    int16_t AlignmentSetting();
    void SetTypeInfoName(std::u16string_view newName);
    // Registry form with braces; other text raises the conversion's HRESULT.
    void SetTypeInfoGUID(std::u16string_view newGuid);
    void SetGuidDirect(const ole::GUID& guid);
    void SetVersion(int16_t majorVersion, int16_t minorVersion);
    void LayOut();

    // ---- Adding members (CustomTypeInfoMembers.cpp) ----
    // Adds a function (module: static with a DLL entry; interface: pure
    // virtual; dispinterface: dispatch). The caller lays the type out.
    // params: FOPT is added to each element with a default value.
    void AddFunctionEx(std::u16string_view name, tli::VarTypeInfo* vtInfoReturn, std::span<ParamData> params,
                       const FuncData& funcData);
    static FuncData DefaultFuncData();
    void AddFunction(std::u16string_view name, tli::VarTypeInfo* vtInfoReturn, std::span<ParamData> params,
                     int32_t invokeKind, int32_t memID, int16_t flags, int32_t callConv, std::u16string_view dllName,
                     const ole::Variant& dllEntry);
    // A constant of an enum (as VT_INT, at insertPosition unless -1 or beyond
    // the end) or of a module (of the value's type, always appended).
    void AddConstant(std::u16string_view name, const ole::Variant& value, int16_t flags, int32_t insertPosition);
    // A data member of a record or union (at insertPosition) or of a
    // dispinterface (appended).
    void AddProperty(std::u16string_view name, tli::VarTypeInfo* vtInfo, int32_t memID, int16_t flags,
                     int32_t insertPosition);

    // ---- Member and parameter edits (CustomTypeInfoEdits.cpp) ----
    // invKind: INVOKEKIND bits, 0 for every accessor. paramID: 0-based.
    // Where invKind is optional (RemoveParamArray, InsertParameter,
    // DeleteParameter, SetParameterName, ModifyMemberHelpData), 0 acts on the
    // member's method where it has one, else on every accessor; a method's
    // kind acts on the method alone, a property accessor's on the accessors
    // alone (a method and a property accessor may share a member ID).
    void SetMemberReturnType(int32_t memberID, tli::VarTypeInfo* vtInfoReturn);
    void SetConstantValue(int32_t memberID, const ole::Variant& constVal);
    // Flags that would give a function a second return value or locale
    // parameter, or a return value that is not last, are refused (error 5).
    void SetParameterType(int32_t memberID, int32_t paramID, ParamData& paramData, int32_t invKind,
                          int32_t newInvKind);
    void RemoveParamArray(int32_t memberID, int32_t invKind = 0);
    // A second return value or locale parameter, a return value that would
    // not be last and a parameter after the return value are refused (error 5).
    // An automatic name another parameter has already is numbered.
    void InsertParameter(int32_t memberID, int32_t newParamId, ParamData& paramData, bool fAutoName,
                         int32_t invKind = 0);
    void DeleteParameter(int32_t memberID, int32_t paramID, int32_t invKind = 0);
    // A new member ID that another member (or the type itself, for
    // SetMemberID) has raises TYPE_E_DUPLICATEID.
    void SetMemberID(int32_t memberID, int32_t newMemberID);
    // A default flag set here leaves the member that had it, or the edit fails whole.
    void ModifyMember(int32_t memberID, int32_t invKind, ModifyData& modifyData);
    // An empty name is refused (error 5), and so (TYPE_E_AMBIGUOUSNAME) is a
    // name that another member of the type or of its base interfaces has.
    void SetMemberName(int32_t memberID, std::u16string_view newName);
    // An empty name leaves the parameter unnamed; a name another parameter of
    // the function has is refused (TYPE_E_AMBIGUOUSNAME).
    void SetParameterName(int32_t memberID, int32_t paramID, std::u16string_view newParamName, int32_t invKind = 0);
    // A dispinterface declared over an interface ("dispinterface D { interface I; }")
    // stores no functions: it presents those of I's chain, as dispatch
    // functions (a return value parameter shown as what the function returns,
    // an HRESULT returned shown as nothing, a locale parameter last not
    // shown). The edits of its members and parameters act on the interface of
    // this library that declares the function, where the dispinterface shows
    // them: names, types (SetMemberReturnType and ModifyMember set the return
    // type shown, which a method gains or loses as its return value
    // parameter), IDs, flags, parameters inserted and deleted, ParamArray,
    // help, the functions deleted, and RequireMember's lookup. A function of a
    // type in another library is refused (error 5). ResetMemberIDs acts on I;
    // AddFunctionEx, AddProperty and CopyMember refuse such a dispinterface
    // (error 5).
    void DeleteMember(int32_t memberID, int32_t invKind);
    // DeleteMember, SetMemberName, SetParameterName and ModifyMemberHelpData
    // change nothing and raise nothing for a member ID the type doesn't have.
    // A caller that must not report such an edit as done asks first: raises
    // TYPE_E_ELEMENTNOTFOUND unless memberID is a variable of the type or a
    // function with one of the invoke kinds in invKind (0: any). Inherited
    // members don't count. Two lookups, nothing copied.
    void RequireMember(int32_t memberID, int32_t invKind = 0);

    // For a dispinterface declared over an interface: the type of this library
    // that declares memberID in the interface's chain (error 5 for one of
    // another library, TYPE_E_ELEMENTNOTFOUND for none), and the interface
    // itself (error 5 when it lies in another library). Null for any other type.
    std::unique_ptr<CustomTypeInfo> DispatchedDeclarer(int32_t memberID);
    std::unique_ptr<CustomTypeInfo> DispatchedInterface();

    // ---- Member help (CustomTypeInfoHelp.cpp) ----
    // Sets the fields of hd that changeFields selects on every accessor of
    // the member. HelpFile and HelpStringDll are the library's.
    void ModifyMemberHelpData(int32_t memberID, const HelpData& hd, int32_t changeFields, int32_t invKind = 0);

    // ---- Layout probe (CustomTypeInfoRebuild.cpp) ----
    // Interfaces only (otherwise false, offset untouched). When the type lays
    // out with one more automatic function: false and offset 0, for the
    // layout to assign; otherwise true and offset = the type's cbSizeVft.
    bool NextVTableOffset(int16_t& offset);

    // ---- Reordering and member ID reset (CustomTypeInfoReorder.cpp) ----
    // offsets: one entry per function, by present index.
    void ReorderVTable(std::span<const int16_t> offsets, bool fSynchronizeFuncDescs);
    // newOrder: one entry per variable, by present index. True when rebuilt.
    bool ReorderVars(std::span<const int16_t> newOrder);
    void ResetMemberIDs(bool fIncludeExplicit);

    // ---- Flattening and copying members (CustomTypeInfoFlatten.cpp) ----
    // Interfaces only: brings every inherited function of the library's
    // interfaces into the type, which then derives from the standard base.
    bool Flatten();
    // Copies a variable, a function or every accessor of a property of a
    // type of the same kind under a name free in this type.
    void CopyMember(tli::TypeInfo* sourceTypeInfo, int32_t sourceMemberID, std::u16string& newMemberName,
                    int32_t& newMemberID, int32_t& invokeKindsAdded, int32_t varPosition);
    // Makes name free among the type's member names (MakeUniqueName with
    // IsMemberNameFree bound to the type): kept when free, else numbered.
    void MakeUniqueMemberName(std::u16string& name);

    // ---- State ----
    ole::TYPEKIND TypeKind() const { return typeKind_; }
    // The type's counts as the library reports them now.
    int32_t FuncCount();
    int32_t VarCount();
    int32_t ImplTypeCount();
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
    // Whether the type lays out with one more automatic function. The trial
    // function is removed again and, after a successful trial layout, the type
    // is laid out again, so it reports what it did before; a caller that lays
    // the type out itself afterwards may pass false to skip that layout.
    bool TryLayOut(bool restoreLayout = true);
    // Whether the interface's functions take automatic vtable slots (false for
    // any other kind): whether it lays out with one more automatic function.
    // Functions that sit on the automatic slots with explicit offsets (as a
    // library read from a file holds them) are given automatic ones first: the
    // platform leaves an explicit slot where it is when a function in front
    // of it goes, where an automatic one moves up, so the two can't be mixed.
    // Every edit that adds, rebuilds or deletes a function of an interface
    // asks this before it decides the slots of what it writes. The interfaces
    // of the library built on one with automatic slots are given automatic
    // ones likewise, so that they follow its vtable.
    bool AutomaticSlots();
    bool AutomaticSlots(bool withDerived);
    void GiveDerivedAutomaticSlots();
    // A new type of that kind in the library, named after the present time.
    ole::ComPtr<ole::ICreateTypeInfo2> CreateTemporaryType(ole::TYPEKIND kind, std::u16string& name);
    // A temporary type that holds the type's members while they are rebuilt.
    struct TemporaryType {
        std::u16string name;
        ole::ComPtr<ole::ICreateTypeInfo2> create;
        ole::ComPtr<ole::ITypeInfo> read;
    };
    // Creates the temporary type and registers, on rollback, what undoes it: the
    // temporary type is deleted, then the library's help files come back and
    // the type is laid out again.
    void BeginTemporaryType(ScopeGuard& rollback, ole::TYPEKIND kind, TemporaryType& temp);
    // Deletes the temporary type and dismisses the rollback. Should the deletion
    // fail, the rollback can still restore the type from it.
    void EndTemporaryType(ScopeGuard& rollback, TemporaryType& temp);

    // ---- CustomTypeInfoEdits.cpp ----
    // Error 5 for a dispinterface declared over an interface, which takes no
    // members of its own.
    void RefuseOwnMembers();
    // On the interface that declares a function a dispinterface presents: the
    // return type the dispinterface shows for it (of the accessor of invKind,
    // the first there is for 0) becomes type. Registers on undo how to give
    // the old one back.
    void SetPresentedReturnType(int32_t memberID, int32_t invKind, tli::VarTypeInfo* type, ScopeGuard& undo);

    // ---- CustomTypeInfoMembers.cpp ----
    static int32_t CountParameters(std::span<const ParamData> params, int32_t invokeKind);

    // ---- CustomTypeInfoHelp.cpp ----
    HelpData GetMemberHelpData(ole::ITypeInfo2* ti, ole::MEMBERID memberID);
    void SetLibraryHelpFiles(const HelpData& hd);
    void SetVarHelpData(ole::UINT varIndex, const HelpData& hd);
    void SetFuncHelpData(ole::UINT funcIndex, const HelpData& hd);
    void SetVarHelpDataMasked(ole::UINT varIndex, const HelpData& hd, int32_t mask);
    void SetFuncHelpDataMasked(ole::UINT funcIndex, const HelpData& hd, int32_t mask);
    static void MergeHelpData(HelpData& dest, const HelpData& source, int32_t mask);
    void CopyVarCustData(ole::ITypeInfo2* source, ole::UINT sourceIndex, ole::UINT destIndex);
    void CopyFuncCustData(ole::ITypeInfo2* source, ole::UINT sourceIndex, ole::UINT destIndex);
    void CopyParamCustData(ole::ITypeInfo2* source, ole::UINT sourceFunc, ole::UINT sourceParam, ole::UINT destFunc,
                           ole::UINT destParam);
    // The library's help file and help string DLL, to put back after a failure.
    std::pair<std::u16string, std::u16string> LibraryHelpFiles();
    ole::ComPtr<ole::ITypeInfo2> ITypeInfo2();

    // ---- CustomTypeInfoRebuild.cpp ----
    // Re-creates the accessors of a function (invKind 0: all) with the
    // changes fields selects, at their places; paramIndex counts from 1
    // (0: the return type). On failure the type is restored. beforeCommit,
    // when given, runs once the rebuilt member is in place and laid out; an
    // error it raises undoes the rebuild as well.
    void RebuildFunction(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t invKind, int32_t paramIndex,
                         ParamData& paramData, FuncRebuildData& request, int32_t fields,
                         const std::function<void()>& beforeCommit = {});
    void RebuildVariable(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t varIndex, tli::VarTypeInfo* vtInfo,
                         VarRebuildData& request, int32_t fields, const std::function<void()>& beforeCommit = {});

    // ---- CustomTypeInfoEdits.cpp ----
    void RenameMemberOrParameter(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t position,
                                 std::u16string_view newName, int32_t invKind = 0);
    // The invoke kinds an edit given invKind acts on: 0 for 0 (the method, or
    // every accessor), the method's kind for a method, every accessor's for
    // an accessor.
    static int32_t KindsOf(int32_t invKind);
    void MakeParameterName(std::u16string& name, ole::ITypeInfo2* ti, const std::u16string& functionName);
    // Each registers on undo how to give the flag back.
    bool ClearFuncFlagOnOthers(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t invKind, int32_t flag,
                               ScopeGuard& undo);
    bool ClearVarFlagOnOthers(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t flag, ScopeGuard& undo);

    // ---- CustomTypeInfoReorder.cpp ----
    // newIds, when given, are the functions' member IDs (by present index).
    void RebuildFunctions(std::span<const int16_t> order, bool fReorder, bool fSynchronizeFuncDescs, bool fResetIDs,
                          bool fIncludeExplicit, std::span<const ole::MEMBERID> newIds = {});
    bool RebuildVariables(std::span<const int16_t> order, bool hasOrder, bool fResetIDs, bool fIncludeExplicit);

    // ---- CustomTypeInfoFlatten.cpp ----
    // Copies the variables entries describe (SourceIndex in source) into dest
    // at destIndex, destIndex + 1, ...: descriptor with the entry's member
    // ID, name (newName when not empty), help and custom data.
    void CopyVarDesc(ole::ICreateTypeInfo* dest, ole::ITypeInfo* source, std::span<MemberOrderEntry> entries,
                     ole::UINT destIndex, std::u16string_view newName);

    ole::ComPtr<ole::ICreateTypeLib2> library_;
    ole::ComPtr<ole::ICreateTypeInfo2> type_;
    ole::TYPEKIND typeKind_ = ole::TKIND_ENUM;
};

}  // namespace zephrin
