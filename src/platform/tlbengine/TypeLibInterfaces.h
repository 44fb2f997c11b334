// The type library reading and creation interfaces, and the entry points that
// create or load libraries.
#pragma once

#include <string>
#include <variant>

#include "platform/automation/BStr.h"
#include "platform/automation/CustData.h"
#include "platform/automation/NameHash.h"
#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/TypeLibTypes.h"
#include "platform/automation/Unknown.h"
#include "platform/automation/Variant.h"

namespace ole {

struct ITypeLib;
struct ITypeInfo;
struct DISPPARAMS;  // late-bound call arguments; this system never invokes
struct EXCEPINFO;

// A DLL entry point: its name, or its 16-bit ordinal.
using DllEntryPoint = std::variant<std::u16string, WORD>;

struct ITypeComp : IUnknown {
    static constexpr IID kIID = {0x00020403, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    // Binds a member name. On a miss: S_OK with *pDescKind = DESCKIND_NONE.
    virtual HRESULT Bind(LPOLESTR szName, ULONG lHashVal, WORD wFlags, ITypeInfo** ppTInfo, DESCKIND* pDescKind,
                         BINDPTR* pBindPtr) = 0;
    // Binds a type name. lHashVal 0 is accepted. On a miss: S_OK, both outputs null.
    virtual HRESULT BindType(LPOLESTR szName, ULONG lHashVal, ITypeInfo** ppTInfo, ITypeComp** ppTComp) = 0;
};

struct ITypeInfo : IUnknown {
    static constexpr IID kIID = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) = 0;
    virtual HRESULT GetVarDesc(UINT index, VARDESC** ppVarDesc) = 0;
    virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    virtual HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                     DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                                WORD* pwOrdinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND invKind, void** ppv) = 0;
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) = 0;
    virtual HRESULT GetMops(MEMBERID memid, BSTR* pBstrMops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* pTypeAttr) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* pFuncDesc) = 0;
    virtual void ReleaseVarDesc(VARDESC* pVarDesc) = 0;
};

struct ITypeInfo2 : ITypeInfo {
    static constexpr IID kIID = {0x00020412, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT GetTypeKind(TYPEKIND* pTypeKind) = 0;
    virtual HRESULT GetTypeFlags(ULONG* pTypeFlags) = 0;
    virtual HRESULT GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) = 0;
    virtual HRESULT GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) = 0;
    virtual HRESULT GetCustData(REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT GetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT GetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT GetImplTypeCustData(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT GetDocumentation2(MEMBERID memid, LCID lcid, BSTR* pbstrHelpString,
                                      DWORD* pdwHelpStringContext, BSTR* pbstrHelpStringDll) = 0;
    virtual HRESULT GetAllCustData(CUSTDATA* pCustData) = 0;
    virtual HRESULT GetAllFuncCustData(UINT index, CUSTDATA* pCustData) = 0;
    virtual HRESULT GetAllParamCustData(UINT indexFunc, UINT indexParam, CUSTDATA* pCustData) = 0;
    virtual HRESULT GetAllVarCustData(UINT index, CUSTDATA* pCustData) = 0;
    virtual HRESULT GetAllImplTypeCustData(UINT index, CUSTDATA* pCustData) = 0;
};

struct ITypeLib : IUnknown {
    static constexpr IID kIID = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** ppTComp) = 0;
    // index -1 describes the library itself.
    virtual HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) = 0;
    virtual HRESULT IsName(LPOLESTR szNameBuf, ULONG lHashVal, INT* pfName) = 0;
    virtual HRESULT FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                             USHORT* pcFound) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;
};

struct ITypeLib2 : ITypeLib {
    static constexpr IID kIID = {0x00020411, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT GetCustData(REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT GetLibStatistics(ULONG* pcUniqueNames, ULONG* pcchUniqueNames) = 0;
    virtual HRESULT GetDocumentation2(INT index, LCID lcid, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                                      BSTR* pbstrHelpStringDll) = 0;
    virtual HRESULT GetAllCustData(CUSTDATA* pCustData) = 0;
};

struct ICreateTypeInfo : IUnknown {
    static constexpr IID kIID = {0x00020405, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT SetGuid(REFGUID guid) = 0;
    virtual HRESULT SetTypeFlags(UINT uTypeFlags) = 0;
    virtual HRESULT SetDocString(LPCOLESTR pStrDoc) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
    virtual HRESULT SetVersion(WORD wMajorVerNum, WORD wMinorVerNum) = 0;
    virtual HRESULT AddRefTypeInfo(ITypeInfo* pTInfo, HREFTYPE* phRefType) = 0;
    virtual HRESULT AddFuncDesc(UINT index, FUNCDESC* pFuncDesc) = 0;
    virtual HRESULT AddImplType(UINT index, HREFTYPE hRefType) = 0;
    virtual HRESULT SetImplTypeFlags(UINT index, INT implTypeFlags) = 0;
    virtual HRESULT SetAlignment(WORD cbAlignment) = 0;
    virtual HRESULT SetSchema(LPCOLESTR pStrSchema) = 0;
    virtual HRESULT AddVarDesc(UINT index, VARDESC* pVarDesc) = 0;
    virtual HRESULT SetFuncAndParamNames(UINT index, LPOLESTR* rgszNames, UINT cNames) = 0;
    virtual HRESULT SetVarName(UINT index, LPCOLESTR szName) = 0;
    virtual HRESULT SetTypeDescAlias(TYPEDESC* pTDescAlias) = 0;
    // The entry point is a name or an ordinal.
    virtual HRESULT DefineFuncAsDllEntry(UINT index, LPCOLESTR szDllName, const DllEntryPoint& entry) = 0;
    virtual HRESULT SetFuncDocString(UINT index, LPCOLESTR szDocString) = 0;
    virtual HRESULT SetVarDocString(UINT index, LPCOLESTR szDocString) = 0;
    virtual HRESULT SetFuncHelpContext(UINT index, DWORD dwHelpContext) = 0;
    virtual HRESULT SetVarHelpContext(UINT index, DWORD dwHelpContext) = 0;
    virtual HRESULT SetMops(UINT index, BSTR bstrMops) = 0;
    virtual HRESULT SetTypeIdldesc(IDLDESC* pIdlDesc) = 0;
    virtual HRESULT LayOut() = 0;
};

struct ICreateTypeInfo2 : ICreateTypeInfo {
    static constexpr IID kIID = {0x0002040E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT DeleteFuncDesc(UINT index) = 0;
    virtual HRESULT DeleteFuncDescByMemId(MEMBERID memid, INVOKEKIND invKind) = 0;
    virtual HRESULT DeleteVarDesc(UINT index) = 0;
    virtual HRESULT DeleteVarDescByMemId(MEMBERID memid) = 0;
    virtual HRESULT DeleteImplType(UINT index) = 0;
    virtual HRESULT SetCustData(REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT SetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT SetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT SetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT SetImplTypeCustData(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT SetHelpStringContext(ULONG dwHelpStringContext) = 0;
    virtual HRESULT SetFuncHelpStringContext(UINT index, ULONG dwHelpStringContext) = 0;
    virtual HRESULT SetVarHelpStringContext(UINT index, ULONG dwHelpStringContext) = 0;
    virtual HRESULT Invalidate() = 0;
    virtual HRESULT SetName(LPCOLESTR szName) = 0;
};

struct ICreateTypeLib : IUnknown {
    static constexpr IID kIID = {0x00020406, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT CreateTypeInfo(LPCOLESTR szName, TYPEKIND tkind, ICreateTypeInfo** ppCTInfo) = 0;
    virtual HRESULT SetName(LPCOLESTR szName) = 0;
    virtual HRESULT SetVersion(WORD wMajorVerNum, WORD wMinorVerNum) = 0;
    virtual HRESULT SetGuid(REFGUID guid) = 0;
    virtual HRESULT SetDocString(LPCOLESTR szDoc) = 0;
    virtual HRESULT SetHelpFileName(LPCOLESTR szHelpFileName) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
    virtual HRESULT SetLcid(LCID lcid) = 0;
    virtual HRESULT SetLibFlags(UINT uLibFlags) = 0;
    virtual HRESULT SaveAllChanges() = 0;
};

struct ICreateTypeLib2 : ICreateTypeLib {
    static constexpr IID kIID = {0x0002040F, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT DeleteTypeInfo(LPCOLESTR szName) = 0;
    virtual HRESULT SetCustData(REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT SetHelpStringContext(ULONG dwHelpStringContext) = 0;
    virtual HRESULT SetHelpStringDll(LPCOLESTR szFileName) = 0;
};

// This engine's own addition to the creation interfaces: room for members
// about to be added, so that a type built member by member (a copy of another
// type) allocates each list once. It changes nothing that can be read. Other
// engines don't answer to it, and callers go on without it.
struct ICreateTypeInfoRoom : IUnknown {
    static constexpr IID kIID = {0x5B1E0C74, 0x3D2A, 0x4F6E, {0x9A, 0x41, 0x7C, 0x0D, 0x52, 0xE8, 0x19, 0xA3}};
    // Room for cFuncs more functions and cVars more variables.
    virtual HRESULT ReserveMembers(UINT cFuncs, UINT cVars) = 0;
};

// This engine's own addition to the creation interfaces: a name for the value
// parameter (the last) of a property put or putref, which SetFuncAndParamNames
// leaves unnamed. The platform reads a member's names from the accessor stored
// first, and a Let or Set stored before its Get is read with its value
// parameter's name where the file holds one: for such a property that is the
// only place the value's name is read from. Other engines don't answer to it.
struct ICreateTypeInfoValueName : IUnknown {
    static constexpr IID kIID = {0x419CAAE9, 0xCFD9, 0x4328, {0xAD, 0x50, 0xF2, 0xA7, 0xE6, 0xB2, 0x5B, 0x2C}};
    // Names the value parameter of the put or putref at index; an empty name
    // leaves it unnamed. E_INVALIDARG for a null or too long name,
    // TYPE_E_ELEMENTNOTFOUND for an index beyond the functions or a function
    // that is no put or putref.
    virtual HRESULT SetValueParamName(UINT index, LPCOLESTR szName) = 0;
};

// This engine's own addition to the creation interfaces: naming a function as
// a library read from a file may have it named. Some compilers store a method
// and a property accessor under one name and one member ID, which
// SetFuncAndParamNames refuses for the second of them (TYPE_E_AMBIGUOUSNAME),
// as the platform does; a copy of such a library names that one through this.
// Other engines don't answer to it, and callers then report the refusal.
struct ICreateTypeInfoSharedName : IUnknown {
    static constexpr IID kIID = {0x8C2F41D6, 0x57B0, 0x4E93, {0xA1, 0x6E, 0x2B, 0x94, 0xD3, 0x0F, 0x7C, 0x58}};
    // SetFuncAndParamNames, except that the name may also be that of functions
    // of the same member ID (not MEMBERID_NIL) and of another invoke kind.
    virtual HRESULT SetFuncAndParamNamesSharingId(UINT index, LPOLESTR* rgszNames, UINT cNames) = 0;
};

// This engine's own addition to the creation interfaces: the alignment a
// record or union has by what it holds, the widest of its fields' own
// alignments. SetAlignment with a larger value stores this one, and the type
// can read back no more. Other engines don't answer to it.
struct ICreateTypeInfoAlignment : IUnknown {
    static constexpr IID kIID = {0x2E6B9D31, 0x74C8, 0x4A0F, {0x8B, 0x52, 0x19, 0xD6, 0xE3, 0x40, 0xA7, 0x6C}};
    // 1 for a record or union without fields; TYPE_E_WRONGTYPEKIND for other
    // kinds; the layout's error when a field's type can't be sized.
    virtual HRESULT GetNaturalAlignment(WORD* pcbAlignment) = 0;
    // The value SetAlignment last stored (which a later layout caps by the
    // natural one), to put back what an edit changed.
    virtual HRESULT GetAlignmentSetting(WORD* pcbAlignment) = 0;
};

// The library entry points below are defined by the file layer
// (platform/tlbfiles) and, for registered libraries, by the registry layer.

// Creates an empty in-memory library. szFile is the file SaveAllChanges
// writes; "" gives a library that is never saved. Null gives E_INVALIDARG.
HRESULT CreateTypeLib2(SYSKIND syskind, LPCOLESTR szFile, ICreateTypeLib2** ppctlib);

// Loads a library file (MSFT, SLTG or a PE image with a TYPELIB resource;
// "path\N" picks resource N). The same path gives the same library object.
// The bare names "stdole2.tlb" and "stdole32.tlb" give the built-in standard
// library, version 2.0 and 1.0.
HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);
HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
// Loads a library from bytes already in memory; path is reported as its file.
HRESULT LoadTypeLibFromMemory(const void* data, size_t size, LPCOLESTR path, ITypeLib** pptlib);
// Registered libraries, by GUID, version and locale.
HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, BSTR* lpbstrPathName);

}  // namespace ole
