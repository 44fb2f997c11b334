// The plain data model of a type library: what a created library holds, what
// a file reader produces and what the file writer consumes. The engine's
// library and type objects (ITypeLib, ITypeInfo, ...) wrap it.
//
// Conventions:
// - Text is UTF-16; an empty string means "none".
// - A dual interface is held once, as its interface half: typekind
//   TKIND_INTERFACE with TYPEFLAG_FDUAL, its own functions (FUNC_PUREVIRTUAL,
//   with vtable offsets) and impltype 0 = its base interface. The engine
//   derives the dispatch view. (An MSFT file stores it as TKIND_DISPATCH with
//   FDUAL: readers convert, the writer converts back.)
// - HREFTYPE values inside the model (TypeDescData::href, ImplTypeData::href)
//   are keys of LibraryData::refs. Their numeric values are the producer's
//   choice (a reader may keep the file's values); they must be unique, and
//   neither 0xFFFFFFFF nor 0xFFFFFFFE.
// - Sizes and offsets (cbSizeInstance, cbSizeVft, oVft, oInst) are those of
//   the library's SYSKIND (pointer 4 bytes for SYS_WIN32), whatever the host.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/Boxed.h"
#include "platform/tlbengine/CompactVector.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbengine/TypeLibTypes.h"
#include "platform/automation/Unknown.h"
#include "platform/automation/Variant.h"

namespace ole {

// One custom data item.
struct CustDataEntry {
    GUID guid{};    // key
    Variant value;  // a simple automation value (not VT_EMPTY)
};
// Custom data of one item, in the order the keys were first set; a key occurs once.
using CustDataList = CompactVector<CustDataEntry>;

struct TypeDescNode;

// A type description (a TYPEDESC chain as a value). The small fields come
// last: a member declared [[no_unique_address]] leaves its last two bytes to
// the 16-bit flags that follow it (a parameter's, a return type's).
struct TypeDescData {
    Boxed<TypeDescNode> element;           // VT_PTR, VT_SAFEARRAY, VT_CARRAY: exactly one entry, the target type
    HREFTYPE href = 0;                     // VT_USERDEFINED: key in LibraryData::refs
    VARTYPE vt = VT_EMPTY;                 // VT_PTR/VT_SAFEARRAY/VT_CARRAY/VT_USERDEFINED or a plain VT

    // VT_CARRAY: one entry per dimension, first declared first. A fixed array
    // always has its element type, so the bounds are kept with it: every
    // other description (nearly all of them) carries no room for them.
    const CompactVector<SAFEARRAYBOUND>& Bounds() const noexcept;
    // The bounds to set; makes the element's place when there is none yet.
    CompactVector<SAFEARRAYBOUND>& MutableBounds();
    // Sets the target type, keeping the bounds.
    TypeDescData& SetElement(TypeDescData target);
};

// The target of a type description, with the bounds of the fixed array it
// is the element of (empty for any other).
struct TypeDescNode : TypeDescData {
    TypeDescNode() = default;
    TypeDescNode(TypeDescData type) : TypeDescData(std::move(type)) {}
    CompactVector<SAFEARRAYBOUND> arrayBounds;
};

inline const CompactVector<SAFEARRAYBOUND>& TypeDescData::Bounds() const noexcept {
    static const CompactVector<SAFEARRAYBOUND> none;
    return element ? element->arrayBounds : none;
}

inline CompactVector<SAFEARRAYBOUND>& TypeDescData::MutableBounds() {
    if (!element) element.emplace();
    return element->arrayBounds;
}

inline TypeDescData& TypeDescData::SetElement(TypeDescData target) {
    if (!element) return element.emplace(std::move(target));
    static_cast<TypeDescData&>(*element) = std::move(target);
    return *element;
}

struct ParamData {
    std::u16string name;                 // "" = unnamed
    [[no_unique_address]] TypeDescData type; // parameter type
    USHORT flags = 0;                    // PARAMFLAGS as stored (never PARAMFLAG_FHASCUSTDATA: the engine reports it)
    Boxed<Variant> defaultValue;         // PARAMDESCEX value; present only with PARAMFLAG_FHASDEFAULT
    CustDataList custData;               // parameter custom data
};

// Where a module function is found.
struct DllEntryData {
    std::u16string dllName;              // DLL name ("" = none)
    DllEntryPoint entry;                 // entry name ("" = none) or ordinal
};

struct FuncData {
    MEMBERID memid = MEMBERID_NIL;       // created functions get an automatic id when added
    FUNCKIND funckind = FUNC_PUREVIRTUAL;
    INVOKEKIND invkind = INVOKE_FUNC;
    CALLCONV callconv = CC_STDCALL;
    SHORT cParamsOpt = 0;                // -1 = vararg, else number of optional parameters, as given
    SHORT oVft = 0;                      // vtable byte offset (interfaces); 0 elsewhere
    bool oVftAuto = false;               // oVft was given as 0: set when added, placed again by every LayOut
    WORD flags = 0;                      // FUNCFLAGS
    [[no_unique_address]] TypeDescData returnType; // elemdescFunc type
    USHORT returnFlags = 0;              // elemdescFunc PARAMFLAGS/IDLFLAGS
    std::vector<ParamData> params;       // in order
    CompactVector<SCODE> scodes;         // lprgscode (normally empty)
    std::u16string name;                 // member name ("" = none)
    std::u16string docString;            // help string
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    Boxed<DllEntryData> dll;             // module functions (a file may give any function an entry): none = neither
    CustDataList custData;               // function custom data

    const std::u16string& DllName() const noexcept {
        static const std::u16string none;
        return dll ? dll->dllName : none;
    }
    const DllEntryPoint& Entry() const noexcept {
        static const DllEntryPoint none;
        return dll ? dll->entry : none;
    }
};

struct VarData {
    MEMBERID memid = MEMBERID_NIL;       // MEMBERID_NIL until LayOut assigns one
    VARKIND varkind = VAR_PERINSTANCE;
    WORD flags = 0;                      // VARFLAGS
    USHORT elemFlags = 0;                // elemdescVar PARAMFLAGS/IDLFLAGS
    ULONG oInst = 0;                     // VAR_PERINSTANCE: byte offset in the record; VAR_DISPATCH: 0
    TypeDescData type;                   // elemdescVar type
    std::optional<Variant> constValue;   // VAR_CONST: the value
    std::u16string name;                 // "" = none
    std::u16string docString;
    Boxed<std::u16string> schema;        // lpstrSchema: none, or not empty (normally none)
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    CustDataList custData;               // variable custom data
};

struct ImplTypeData {
    HREFTYPE href = 0;                   // base or implemented interface: key in LibraryData::refs
    INT flags = 0;                       // IMPLTYPEFLAGS (coclasses)
    CustDataList custData;               // implemented-type custom data
};

struct TypeData {
    std::u16string name;
    TYPEKIND kind = TKIND_ENUM;          // a dual interface is TKIND_INTERFACE with FDUAL (see above)
    GUID guid{};                         // GUID_NULL = none
    WORD flags = 0;                      // TYPEFLAGS as reported for this (interface) half
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    LCID lcid = 0;                       // TYPEATTR.lcid (the library's)
    std::u16string docString;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    Boxed<std::u16string> schema;        // lpstrSchema: none, or not empty (normally none)
    WORD alignmentSetting = 4;           // SetAlignment value: record packing (0 = 64K, 1 = packed); new types 4
    WORD cbAlignment = 4;                // reported alignment
    ULONG cbSizeInstance = 0;            // reported size
    WORD cbSizeVft = 0;                  // reported vtable size (interface half for duals)
    USHORT idlFlags = 0;                 // idldescType.wIDLFlags
    std::vector<ImplTypeData> implTypes; // interface: base (0 or 1); dispinterface: IDispatch [, interface]; coclass: all
    std::vector<FuncData> funcs;         // in order
    std::vector<VarData> vars;           // in order
    TypeDescData aliasType;              // TKIND_ALIAS: the aliased type
    CustDataList custData;               // type custom data
};

// A library referenced by an imported type.
struct ImportLibData {
    GUID guid{};                         // library GUID
    LCID lcid = 0;
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    std::u16string fileName;             // file name without folder, e.g. u"stdole2.tlb" (a fallback hint)
};

enum class RefKind : uint8_t {
    Internal,  // a type of this library: typeIndex
    Live,      // a type of another library open in memory: live
    Imported,  // a type of another library named by an import entry: importLib + typeGuid or importTypeIndex
    Missing,   // the referenced type was deleted; following the reference fails
};

// The target of one HREFTYPE.
struct RefData {
    HREFTYPE href = 0;                   // the key used by TYPEDESCs and impltypes of this library
    RefKind kind = RefKind::Internal;
    bool dualInterface = false;          // refers to the interface half of a dual (else the library item)
    int typeIndex = -1;                  // Internal: index in LibraryData::types
    ComPtr<ITypeInfo> live;              // Live: the type object
    int importLib = -1;                  // Imported: index in LibraryData::imports
    bool byGuid = true;                  // Imported: found by typeGuid (else by importTypeIndex)
    GUID typeGuid{};                     // Imported: the type's GUID
    int importTypeIndex = -1;            // Imported: the type's index in the other library
    TYPEKIND importKind = TKIND_INTERFACE; // Imported: kind noted in the import entry
};

// A custom data item a file reader left out because its value has a type the
// reader cannot read. The rest of the library reads normally.
struct UnreadCustData {
    GUID guid{};                         // the item's key
    VARTYPE vt = VT_EMPTY;               // the value type found in the file
};

struct LibraryData {
    std::u16string name;
    GUID guid{};                         // GUID_NULL = none
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    WORD libFlags = 0;                   // LIBFLAGS as stored (the engine adds FHASDISKIMAGE for loaded libraries)
    bool reportsDiskImage = true;        // a loaded library reports LIBFLAG_FHASDISKIMAGE; the SLTG reader
                                         // clears it (the platform adds the flag to MSFT libraries only)
    std::u16string docString;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    std::u16string helpFile;             // help file name
    std::u16string helpStringDll;        // help string DLL name
    CustDataList custData;               // library custom data
    std::vector<TypeData> types;         // in library order
    std::vector<RefData> refs;           // every HREFTYPE used by the types
    std::vector<ImportLibData> imports;  // libraries named by Imported refs
    std::vector<UnreadCustData> unreadCustData; // items a reader left out (read from files only; never saved)
};

// ---- Entry points for the file readers and the writer ----

// Makes an empty editable library (what CreateTypeLib2 hands out; the file
// layer defines CreateTypeLib2 so that the library saves through its writer).
// E_INVALIDARG for a null out-pointer or a SYSKIND outside SYS_WIN16..SYS_WIN64.
HRESULT CreateEditableTypeLib(SYSKIND syskind, std::u16string path, ICreateTypeLib2** out);

// Wraps data read from a file in a read-only library: it answers ITypeLib and
// ITypeLib2 (not ICreateTypeLib2); its types answer ITypeInfo, ITypeInfo2 and
// ITypeComp (not ICreateTypeInfo2). path is reported as the library's file.
// A loaded library may be read from several threads at once (the file cache
// hands one object to every caller); a created library is used from one
// thread at a time while it is being edited.
HRESULT CreateLoadedTypeLib(std::shared_ptr<const LibraryData> data, std::u16string path, ITypeLib** out);

// The data of a library made by this engine (created or loaded). For a created
// library, layOut first lays out every type (failing with the first LayOut
// error) and the result is a snapshot: Internal refs carry current indexes,
// refs to deleted types become Missing. E_INVALIDARG for a foreign library.
HRESULT GetLibraryData(ITypeLib* lib, bool layOut, std::shared_ptr<const LibraryData>* out);

// The custom data items a file reader left out of lib, in the order read;
// none for a library made in memory. E_INVALIDARG for a foreign library.
HRESULT GetUnreadCustData(ITypeLib* lib, std::vector<UnreadCustData>* out);

// The file a library of this engine was loaded from or will be saved to.
HRESULT GetTypeLibFilePath(ITypeLib* lib, std::u16string* path);

// Resolves an imported reference's library by GUID, version and LCID. Set once
// by the file layer (already-loaded libraries, the built-in stdole2, then the
// registry, then the built-in stdole 1.0). Consulted lazily, when an Imported
// ref is first followed, and for the standard library's IDispatch
// ({00020430-0000-0000-C000-000000000046} 2.0).
using ImportResolver = std::function<HRESULT(const GUID& lib, WORD major, WORD minor, LCID lcid, ITypeLib** out)>;
void SetImportResolver(ImportResolver resolver);
// Calls the resolver; TYPE_E_CANTLOADLIBRARY when none is set.
HRESULT ResolveImportedLibrary(const GUID& lib, WORD major, WORD minor, LCID lcid, ITypeLib** out);

// Writes a laid-out library to path (the file writer). SaveAllChanges of a
// created library lays out every type, then calls it with the library's data
// and file name. Without a writer SaveAllChanges fails with E_NOTIMPL.
// The file layer's CreateTypeLib2 registers its writer and resolver first
// (RegisterFileServices), so created libraries save and find stdole2.
using TypeLibWriter = std::function<HRESULT(const LibraryData& data, const std::u16string& path)>;
void SetTypeLibWriter(TypeLibWriter writer);

// Well-known GUIDs.
inline constexpr GUID kStdOleLibGuid = {0x00020430, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID kIID_IDispatch = IDispatch::kIID;
inline constexpr GUID kIID_IUnknown = IUnknown::kIID;

// ---- Test hooks ----
namespace testing {
// Makes the named creation-interface method (e.g. "AddFuncDesc", "LayOut",
// "SetFuncAndParamNames", "CreateTypeInfo") return hr, after letting `skip`
// calls of it succeed. One armed failure per name; it fires once. A name
// shared by the library and its types ("SetName", "SetGuid", "SetCustData",
// ...) may be qualified: "ICreateTypeLib2::SetName", "ICreateTypeInfo2::SetName".
void FailNextCall(const char* methodName, HRESULT hr, int skip = 0);
// Disarms every pending failure.
void ClearInjectedFailures();
}  // namespace testing

}  // namespace ole
