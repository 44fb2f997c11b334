#include "platform/tlbengine/StdOle2.h"

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ole {
namespace {

// Library order of the standard types. References between them are Internal
// refs whose HREFTYPE is the type's index times 0x64 (the offset an MSFT file
// would give the type).
enum TypeIndex : int {
    kGUID,
    kDISPPARAMS,
    kEXCEPINFO,
    kIUnknown,
    kIDispatch,
    kIEnumVARIANT,
    kOLE_COLOR,
    kOLE_XPOS_PIXELS,
    kOLE_YPOS_PIXELS,
    kOLE_XSIZE_PIXELS,
    kOLE_YSIZE_PIXELS,
    kOLE_XPOS_HIMETRIC,
    kOLE_YPOS_HIMETRIC,
    kOLE_XSIZE_HIMETRIC,
    kOLE_YSIZE_HIMETRIC,
    kOLE_XPOS_CONTAINER,
    kOLE_YPOS_CONTAINER,
    kOLE_XSIZE_CONTAINER,
    kOLE_YSIZE_CONTAINER,
    kOLE_HANDLE,
    kOLE_OPTEXCLUSIVE,
    kOLE_CANCELBOOL,
    kOLE_ENABLEDEFAULTBOOL,
    kOLE_TRISTATE,
    kFONTNAME,
    kFONTSIZE,
    kFONTBOLD,
    kFONTITALIC,
    kFONTUNDERSCORE,
    kFONTSTRIKETHROUGH,
    kIFont,
    kFont,
    kIFontDisp,
    kStdFont,
    kIPicture,
    kPicture,
    kIPictureDisp,
    kStdPicture,
    kLoadPictureConstants,
    kStdFunctions,
    kFontEvents,
    kIFontEventsDisp,
    kTypeCount
};

constexpr HREFTYPE HrefOf(int index) { return static_cast<HREFTYPE>(index) * 0x64; }

// GUID families of the standard types.
constexpr GUID OleGuid(uint32_t data1) {  // {665043xx-BE0F-101A-8BBB-00AA00300CAB}
    return {data1, 0xBE0F, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};
}
constexpr GUID ContainerGuid(uint32_t data1) {  // {BF03064x-9069-101B-AE2D-08002B2EC713}
    return {data1, 0x9069, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
}
constexpr GUID FontGuid(uint32_t data1) {  // {BEF6E00x-A874-101A-8BBA-00AA00300CAB}
    return {data1, 0xA874, 0x101A, {0x8B, 0xBA, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};
}
constexpr GUID PictureGuid(uint32_t data1) {  // {7BF8098x-BF32-101A-8BBB-00AA00300CAB}
    return {data1, 0xBF32, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};
}
constexpr GUID StdObjectGuid(uint32_t data1) {  // {0BE3520x-8F91-11CE-9DE3-00AA004BB851}
    return {data1, 0x8F91, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
}
constexpr GUID kIID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kGuidLoadPictureConstants = {0xE6C8FA08, 0xBD9F, 0x11D0, {0x98, 0x5E, 0x00, 0xC0, 0x4F, 0xC2, 0x99, 0x93}};
constexpr GUID kGuidStdFunctions = {0x91209AC0, 0x60F6, 0x11CF, {0x9C, 0x5D, 0x00, 0xAA, 0x00, 0xC1, 0x48, 0x9E}};
constexpr GUID kGuidFontEvents = {0x4EF6100A, 0xAF88, 0x11D0, {0x98, 0x46, 0x00, 0xC0, 0x4F, 0xC2, 0x99, 0x93}};

constexpr DWORD kStdFunctionsHelpContext = 10101;

// ---- Type descriptions ----

TypeDescData Vt(VARTYPE vt) {
    TypeDescData t;
    t.vt = vt;
    return t;
}
TypeDescData Ptr(TypeDescData target) {
    TypeDescData t;
    t.vt = VT_PTR;
    t.element.push_back(std::move(target));
    return t;
}
TypeDescData Udt(int index) {
    TypeDescData t;
    t.vt = VT_USERDEFINED;
    t.href = HrefOf(index);
    return t;
}
TypeDescData Array(TypeDescData element, ULONG count) {
    TypeDescData t;
    t.vt = VT_CARRAY;
    t.MutableBounds().push_back(SAFEARRAYBOUND{count, 0});
    t.SetElement(std::move(element));
    return t;
}

// ---- Members ----

ParamData Param(std::u16string name, USHORT flags, TypeDescData type, std::optional<Variant> defaultValue = {}) {
    ParamData p;
    p.name = std::move(name);
    p.flags = flags;
    p.type = std::move(type);
    p.defaultValue = std::move(defaultValue);
    return p;
}

constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr USHORT kOut = PARAMFLAG_FOUT;
constexpr USHORT kOutRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr USHORT kInOptDefault = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;

FuncData Func(std::u16string name, MEMBERID memid, FUNCKIND funckind, INVOKEKIND invkind, SHORT oVft, WORD flags,
              TypeDescData returnType, std::vector<ParamData> params) {
    FuncData f;
    f.name = std::move(name);
    f.memid = memid;
    f.funckind = funckind;
    f.invkind = invkind;
    f.callconv = CC_STDCALL;
    f.oVft = oVft;
    f.flags = flags;
    f.returnType = std::move(returnType);
    f.params = std::move(params);
    return f;
}

// A vtable method returning HRESULT.
FuncData Method(std::u16string name, MEMBERID memid, SHORT oVft, std::vector<ParamData> params, WORD flags = 0) {
    return Func(std::move(name), memid, FUNC_PUREVIRTUAL, INVOKE_FUNC, oVft, flags, Vt(VT_HRESULT), std::move(params));
}
// A vtable property accessor: get takes [out, retval] T*, put takes [in] T.
FuncData PropGet(std::u16string name, MEMBERID memid, SHORT oVft, std::u16string param, TypeDescData type) {
    return Func(std::move(name), memid, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, oVft, 0, Vt(VT_HRESULT),
                {Param(std::move(param), kOutRetval, Ptr(std::move(type)))});
}
FuncData PropPut(std::u16string name, MEMBERID memid, SHORT oVft, std::u16string param, TypeDescData type) {
    return Func(std::move(name), memid, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, oVft, 0, Vt(VT_HRESULT),
                {Param(std::move(param), kIn, std::move(type))});
}

VarData Field(std::u16string name, MEMBERID memid, TypeDescData type, ULONG oInst) {
    VarData v;
    v.name = std::move(name);
    v.memid = memid;
    v.varkind = VAR_PERINSTANCE;
    v.type = std::move(type);
    v.oInst = oInst;
    return v;
}
VarData DispProperty(std::u16string name, MEMBERID memid, TypeDescData type, WORD flags = 0) {
    VarData v;
    v.name = std::move(name);
    v.memid = memid;
    v.varkind = VAR_DISPATCH;
    v.flags = flags;
    v.type = std::move(type);
    return v;
}
VarData EnumValue(std::u16string name, MEMBERID memid, int32_t value) {
    VarData v;
    v.name = std::move(name);
    v.memid = memid;
    v.varkind = VAR_CONST;
    v.type = Vt(VT_INT);
    v.constValue = Variant(value);
    return v;
}

ImplTypeData Impl(int index, INT flags = 0) {
    ImplTypeData i;
    i.href = HrefOf(index);
    i.flags = flags;
    return i;
}

// ---- Types ----

TypeData Type(std::u16string name, TYPEKIND kind, const GUID& guid, WORD flags, WORD alignment, ULONG size,
              WORD sizeVft = 0) {
    TypeData t;
    t.name = std::move(name);
    t.kind = kind;
    t.guid = guid;
    t.flags = flags;
    t.alignmentSetting = alignment;
    t.cbAlignment = alignment;
    t.cbSizeInstance = size;
    t.cbSizeVft = sizeVft;
    return t;
}
TypeData Alias(std::u16string name, const GUID& guid, WORD flags, TypeDescData target, WORD size) {
    TypeData t = Type(std::move(name), TKIND_ALIAS, guid, flags, size, size);
    t.aliasType = std::move(target);
    return t;
}
TypeData Interface(std::u16string name, const GUID& guid, WORD flags, WORD sizeVft, std::vector<FuncData> funcs) {
    TypeData t = Type(std::move(name), TKIND_INTERFACE, guid, flags, 4, 4, sizeVft);
    t.funcs = std::move(funcs);
    return t;
}
TypeData DispInterface(std::u16string name, const GUID& guid, WORD flags, std::vector<FuncData> funcs,
                       std::vector<VarData> vars) {
    TypeData t = Type(std::move(name), TKIND_DISPATCH, guid, flags, 4, 4, 28);
    t.implTypes.push_back(Impl(kIDispatch));
    t.funcs = std::move(funcs);
    t.vars = std::move(vars);
    return t;
}
TypeData CoClass(std::u16string name, const GUID& guid, int defaultInterface, int vtableInterface) {
    TypeData t = Type(std::move(name), TKIND_COCLASS, guid, TYPEFLAG_FCANCREATE, 4, 4);
    t.implTypes.push_back(Impl(defaultInterface, IMPLTYPEFLAG_FDEFAULT));
    t.implTypes.push_back(Impl(vtableInterface));
    return t;
}

constexpr MEMBERID kVarId = 0x40000000;
constexpr MEMBERID kIUnknownId = 0x60000000;   // methods of an interface with no base
constexpr MEMBERID kDerivedId = 0x60010000;    // methods of an interface one level below IUnknown
constexpr WORD kHidden = TYPEFLAG_FHIDDEN;
constexpr WORD kRestricted = TYPEFLAG_FRESTRICTED;
constexpr WORD kDispatchable = TYPEFLAG_FDISPATCHABLE;

std::vector<TypeData> RecordTypes() {
    std::vector<TypeData> types;

    TypeData guid = Type(u"GUID", TKIND_RECORD, GUID_NULL, kHidden, 4, 16);
    guid.vars = {Field(u"Data1", kVarId + 0, Vt(VT_UI4), 0), Field(u"Data2", kVarId + 1, Vt(VT_UI2), 4),
                 Field(u"Data3", kVarId + 2, Vt(VT_UI2), 6), Field(u"Data4", kVarId + 3, Array(Vt(VT_UI1), 8), 8)};
    types.push_back(std::move(guid));

    TypeData dispParams = Type(u"DISPPARAMS", TKIND_RECORD, GUID_NULL, kRestricted, 4, 16);
    dispParams.vars = {Field(u"rgvarg", kVarId + 0, Ptr(Vt(VT_VARIANT)), 0),
                       Field(u"rgdispidNamedArgs", kVarId + 1, Ptr(Vt(VT_I4)), 4),
                       Field(u"cArgs", kVarId + 2, Vt(VT_UINT), 8), Field(u"cNamedArgs", kVarId + 3, Vt(VT_UINT), 12)};
    types.push_back(std::move(dispParams));

    TypeData excepInfo = Type(u"EXCEPINFO", TKIND_RECORD, GUID_NULL, kRestricted, 4, 32);
    excepInfo.vars = {Field(u"wCode", kVarId + 0, Vt(VT_UI2), 0),
                      Field(u"wReserved", kVarId + 1, Vt(VT_UI2), 2),
                      Field(u"bstrSource", kVarId + 2, Vt(VT_BSTR), 4),
                      Field(u"bstrDescription", kVarId + 3, Vt(VT_BSTR), 8),
                      Field(u"bstrHelpFile", kVarId + 4, Vt(VT_BSTR), 12),
                      Field(u"dwHelpContext", kVarId + 5, Vt(VT_UI4), 16),
                      Field(u"pvReserved", kVarId + 6, Ptr(Vt(VT_VOID)), 20),
                      Field(u"pfnDeferredFillIn", kVarId + 7, Ptr(Vt(VT_VOID)), 24),
                      Field(u"scode", kVarId + 8, Vt(VT_ERROR), 28)};
    types.push_back(std::move(excepInfo));
    return types;
}

std::vector<TypeData> BaseInterfaces() {
    std::vector<TypeData> types;
    constexpr WORD kRestrictedFunc = FUNCFLAG_FRESTRICTED;

    types.push_back(Interface(
        u"IUnknown", kIID_IUnknown, kHidden, 12,
        {Method(u"QueryInterface", kIUnknownId + 0, 0,
                {Param(u"riid", kIn, Ptr(Udt(kGUID))), Param(u"ppvObj", kOut, Ptr(Ptr(Vt(VT_VOID))))}, kRestrictedFunc),
         Func(u"AddRef", kIUnknownId + 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, 4, kRestrictedFunc, Vt(VT_UI4), {}),
         Func(u"Release", kIUnknownId + 2, FUNC_PUREVIRTUAL, INVOKE_FUNC, 8, kRestrictedFunc, Vt(VT_UI4), {})}));

    TypeData dispatch = Interface(
        u"IDispatch", kIID_IDispatch, kRestricted | kDispatchable, 28,
        {Method(u"GetTypeInfoCount", kDerivedId + 0, 12, {Param(u"pctinfo", kOut, Ptr(Vt(VT_UINT)))}, kRestrictedFunc),
         Method(u"GetTypeInfo", kDerivedId + 1, 16,
                {Param(u"itinfo", kIn, Vt(VT_UINT)), Param(u"lcid", kIn, Vt(VT_UI4)),
                 Param(u"pptinfo", kOut, Ptr(Ptr(Vt(VT_VOID))))},
                kRestrictedFunc),
         Method(u"GetIDsOfNames", kDerivedId + 2, 20,
                {Param(u"riid", kIn, Ptr(Udt(kGUID))), Param(u"rgszNames", kIn, Ptr(Ptr(Vt(VT_I1)))),
                 Param(u"cNames", kIn, Vt(VT_UINT)), Param(u"lcid", kIn, Vt(VT_UI4)),
                 Param(u"rgdispid", kOut, Ptr(Vt(VT_I4)))},
                kRestrictedFunc),
         Method(u"Invoke", kDerivedId + 3, 24,
                {Param(u"dispidMember", kIn, Vt(VT_I4)), Param(u"riid", kIn, Ptr(Udt(kGUID))),
                 Param(u"lcid", kIn, Vt(VT_UI4)), Param(u"wFlags", kIn, Vt(VT_UI2)),
                 Param(u"pdispparams", kIn, Ptr(Udt(kDISPPARAMS))), Param(u"pvarResult", kOut, Ptr(Vt(VT_VARIANT))),
                 Param(u"pexcepinfo", kOut, Ptr(Udt(kEXCEPINFO))), Param(u"puArgErr", kOut, Ptr(Vt(VT_UINT)))},
                kRestrictedFunc)});
    dispatch.implTypes.push_back(Impl(kIUnknown));
    types.push_back(std::move(dispatch));

    TypeData enumVariant = Interface(
        u"IEnumVARIANT", kIID_IEnumVARIANT, kHidden, 28,
        {Method(u"Next", kDerivedId + 0, 12,
                {Param(u"celt", kIn, Vt(VT_UI4)), Param(u"rgvar", kIn, Ptr(Vt(VT_VARIANT))),
                 Param(u"pceltFetched", kOut, Ptr(Vt(VT_UI4)))}),
         Method(u"Skip", kDerivedId + 1, 16, {Param(u"celt", kIn, Vt(VT_UI4))}),
         Method(u"Reset", kDerivedId + 2, 20, {}),
         Method(u"Clone", kDerivedId + 3, 24, {Param(u"ppenum", kOut, Ptr(Ptr(Udt(kIEnumVARIANT))))})});
    enumVariant.implTypes.push_back(Impl(kIUnknown));
    types.push_back(std::move(enumVariant));
    return types;
}

std::vector<TypeData> OleAliases() {
    std::vector<TypeData> types;
    types.push_back(Alias(u"OLE_COLOR", OleGuid(0x66504301), kHidden, Vt(VT_UI4), 4));
    types.push_back(Alias(u"OLE_XPOS_PIXELS", OleGuid(0x66504302), kHidden, Vt(VT_I4), 4));
    types.push_back(Alias(u"OLE_YPOS_PIXELS", OleGuid(0x66504303), kHidden, Vt(VT_I4), 4));
    types.push_back(Alias(u"OLE_XSIZE_PIXELS", OleGuid(0x66504304), kHidden, Vt(VT_I4), 4));
    types.push_back(Alias(u"OLE_YSIZE_PIXELS", OleGuid(0x66504305), kHidden, Vt(VT_I4), 4));
    types.push_back(Alias(u"OLE_XPOS_HIMETRIC", OleGuid(0x66504306), kHidden, Vt(VT_I4), 4));
    types.push_back(Alias(u"OLE_YPOS_HIMETRIC", OleGuid(0x66504307), kHidden, Vt(VT_I4), 4));
    types.push_back(Alias(u"OLE_XSIZE_HIMETRIC", OleGuid(0x66504308), kHidden, Vt(VT_I4), 4));
    types.push_back(Alias(u"OLE_YSIZE_HIMETRIC", OleGuid(0x66504309), kHidden, Vt(VT_I4), 4));
    types.push_back(Alias(u"OLE_XPOS_CONTAINER", ContainerGuid(0xBF030640), kHidden, Vt(VT_R4), 4));
    types.push_back(Alias(u"OLE_YPOS_CONTAINER", ContainerGuid(0xBF030641), kHidden, Vt(VT_R4), 4));
    types.push_back(Alias(u"OLE_XSIZE_CONTAINER", ContainerGuid(0xBF030642), kHidden, Vt(VT_R4), 4));
    types.push_back(Alias(u"OLE_YSIZE_CONTAINER", ContainerGuid(0xBF030643), kHidden, Vt(VT_R4), 4));
    types.push_back(Alias(u"OLE_HANDLE", OleGuid(0x66504313), kHidden, Vt(VT_INT), 4));
    types.push_back(Alias(u"OLE_OPTEXCLUSIVE", OleGuid(0x6650430B), kHidden, Vt(VT_BOOL), 2));
    types.push_back(Alias(u"OLE_CANCELBOOL", ContainerGuid(0xBF030644), kHidden, Vt(VT_BOOL), 2));
    types.push_back(Alias(u"OLE_ENABLEDEFAULTBOOL", ContainerGuid(0xBF030645), kHidden, Vt(VT_BOOL), 2));

    TypeData triState = Type(u"OLE_TRISTATE", TKIND_ENUM, OleGuid(0x6650430A), 0, 4, 4);
    triState.vars = {EnumValue(u"Unchecked", kVarId + 0, 0), EnumValue(u"Checked", kVarId + 1, 1),
                     EnumValue(u"Gray", kVarId + 2, 2)};
    types.push_back(std::move(triState));

    types.push_back(Alias(u"FONTNAME", OleGuid(0x6650430D), kHidden, Vt(VT_BSTR), 4));
    types.push_back(Alias(u"FONTSIZE", OleGuid(0x6650430E), kHidden, Vt(VT_CY), 8));
    types.push_back(Alias(u"FONTBOLD", OleGuid(0x6650430F), kHidden, Vt(VT_BOOL), 2));
    types.push_back(Alias(u"FONTITALIC", OleGuid(0x66504310), kHidden, Vt(VT_BOOL), 2));
    types.push_back(Alias(u"FONTUNDERSCORE", OleGuid(0x66504311), kHidden, Vt(VT_BOOL), 2));
    types.push_back(Alias(u"FONTSTRIKETHROUGH", OleGuid(0x66504312), kHidden, Vt(VT_BOOL), 2));
    return types;
}

std::vector<TypeData> FontTypes() {
    std::vector<TypeData> types;

    TypeData font = Interface(
        u"IFont", FontGuid(0xBEF6E002), kHidden, 100,
        {PropGet(u"Name", kDerivedId + 0, 12, u"pname", Vt(VT_BSTR)),
         PropPut(u"Name", kDerivedId + 0, 16, u"pname", Vt(VT_BSTR)),
         PropGet(u"Size", kDerivedId + 2, 20, u"psize", Vt(VT_CY)),
         PropPut(u"Size", kDerivedId + 2, 24, u"psize", Vt(VT_CY)),
         PropGet(u"Bold", kDerivedId + 4, 28, u"pbold", Vt(VT_BOOL)),
         PropPut(u"Bold", kDerivedId + 4, 32, u"pbold", Vt(VT_BOOL)),
         PropGet(u"Italic", kDerivedId + 6, 36, u"pitalic", Vt(VT_BOOL)),
         PropPut(u"Italic", kDerivedId + 6, 40, u"pitalic", Vt(VT_BOOL)),
         PropGet(u"Underline", kDerivedId + 8, 44, u"punderline", Vt(VT_BOOL)),
         PropPut(u"Underline", kDerivedId + 8, 48, u"punderline", Vt(VT_BOOL)),
         PropGet(u"Strikethrough", kDerivedId + 10, 52, u"pstrikethrough", Vt(VT_BOOL)),
         PropPut(u"Strikethrough", kDerivedId + 10, 56, u"pstrikethrough", Vt(VT_BOOL)),
         PropGet(u"Weight", kDerivedId + 12, 60, u"pweight", Vt(VT_I2)),
         PropPut(u"Weight", kDerivedId + 12, 64, u"pweight", Vt(VT_I2)),
         PropGet(u"Charset", kDerivedId + 14, 68, u"pcharset", Vt(VT_I2)),
         PropPut(u"Charset", kDerivedId + 14, 72, u"pcharset", Vt(VT_I2)),
         PropGet(u"hFont", kDerivedId + 16, 76, u"phfont", Udt(kOLE_HANDLE)),
         Method(u"Clone", kDerivedId + 17, 80, {Param(u"ppfont", kOut, Ptr(Ptr(Udt(kIFont))))}),
         Method(u"IsEqual", kDerivedId + 18, 84, {Param(u"pfontOther", kIn, Ptr(Udt(kIFont)))}),
         Method(u"SetRatio", kDerivedId + 19, 88,
                {Param(u"cyLogical", kIn, Vt(VT_I4)), Param(u"cyHimetric", kIn, Vt(VT_I4))}),
         Method(u"AddRefHfont", kDerivedId + 20, 92, {Param(u"hFont", kIn, Udt(kOLE_HANDLE))}),
         Method(u"ReleaseHfont", kDerivedId + 21, 96, {Param(u"hFont", kIn, Udt(kOLE_HANDLE))})});
    font.docString = u"Font Object";
    font.implTypes.push_back(Impl(kIUnknown));
    types.push_back(std::move(font));

    types.push_back(DispInterface(u"Font", FontGuid(0xBEF6E003), kDispatchable, {},
                                  {DispProperty(u"Name", 0, Vt(VT_BSTR)), DispProperty(u"Size", 2, Vt(VT_CY)),
                                   DispProperty(u"Bold", 3, Vt(VT_BOOL)), DispProperty(u"Italic", 4, Vt(VT_BOOL)),
                                   DispProperty(u"Underline", 5, Vt(VT_BOOL)),
                                   DispProperty(u"Strikethrough", 6, Vt(VT_BOOL)),
                                   DispProperty(u"Weight", 7, Vt(VT_I2)), DispProperty(u"Charset", 8, Vt(VT_I2))}));
    types.push_back(Alias(u"IFontDisp", GUID_NULL, 0, Udt(kFont), 4));
    types.push_back(CoClass(u"StdFont", StdObjectGuid(0x0BE35203), kFont, kIFont));
    return types;
}

// The parameters of IPicture::Render, in the given direction flags.
std::vector<ParamData> RenderParams(USHORT flags) {
    return {Param(u"hdc", flags, Vt(VT_INT)),
            Param(u"x", flags, Vt(VT_I4)),
            Param(u"y", flags, Vt(VT_I4)),
            Param(u"cx", flags, Vt(VT_I4)),
            Param(u"cy", flags, Vt(VT_I4)),
            Param(u"xSrc", flags, Udt(kOLE_XPOS_HIMETRIC)),
            Param(u"ySrc", flags, Udt(kOLE_YPOS_HIMETRIC)),
            Param(u"cxSrc", flags, Udt(kOLE_XSIZE_HIMETRIC)),
            Param(u"cySrc", flags, Udt(kOLE_YSIZE_HIMETRIC)),
            Param(u"prcWBounds", flags, Ptr(Vt(VT_VOID)))};
}

std::vector<TypeData> PictureTypes() {
    std::vector<TypeData> types;

    TypeData picture = Interface(
        u"IPicture", PictureGuid(0x7BF80980), kHidden, 72,
        {PropGet(u"Handle", kDerivedId + 0, 12, u"phandle", Udt(kOLE_HANDLE)),
         PropGet(u"hPal", kDerivedId + 1, 16, u"phpal", Udt(kOLE_HANDLE)),
         PropGet(u"Type", kDerivedId + 2, 20, u"ptype", Vt(VT_I2)),
         PropGet(u"Width", kDerivedId + 3, 24, u"pwidth", Udt(kOLE_XSIZE_HIMETRIC)),
         PropGet(u"Height", kDerivedId + 4, 28, u"pheight", Udt(kOLE_YSIZE_HIMETRIC)),
         Method(u"Render", kDerivedId + 5, 32, RenderParams(kIn)),
         PropPut(u"hPal", kDerivedId + 1, 36, u"phpal", Udt(kOLE_HANDLE)),
         PropGet(u"CurDC", kDerivedId + 7, 40, u"phdcOut", Vt(VT_INT)),
         Method(u"SelectPicture", kDerivedId + 8, 44,
                {Param(u"hdcIn", kIn, Vt(VT_INT)), Param(u"phdcOut", kOut, Ptr(Vt(VT_INT))),
                 Param(u"phbmpOut", kOut, Ptr(Udt(kOLE_HANDLE)))}),
         PropGet(u"KeepOriginalFormat", kDerivedId + 9, 48, u"pfkeep", Vt(VT_BOOL)),
         PropPut(u"KeepOriginalFormat", kDerivedId + 9, 52, u"pfkeep", Vt(VT_BOOL)),
         Method(u"PictureChanged", kDerivedId + 11, 56, {}),
         Method(u"SaveAsFile", kDerivedId + 12, 60,
                {Param(u"pstm", kIn, Ptr(Vt(VT_VOID))), Param(u"fSaveMemCopy", kIn, Vt(VT_BOOL)),
                 Param(u"pcbSize", kOut, Ptr(Vt(VT_I4)))}),
         PropGet(u"Attributes", kDerivedId + 13, 64, u"pdwAttr", Vt(VT_I4)),
         Method(u"SetHdc", kDerivedId + 14, 68, {Param(u"hdc", kIn, Udt(kOLE_HANDLE))})});
    picture.docString = u"Picture Object";
    picture.implTypes.push_back(Impl(kIUnknown));
    types.push_back(std::move(picture));

    constexpr WORD kReadOnly = VARFLAG_FREADONLY;
    types.push_back(DispInterface(
        u"Picture", PictureGuid(0x7BF80981), kDispatchable,
        {Func(u"Render", 6, FUNC_DISPATCH, INVOKE_FUNC, 0, 0, Vt(VT_VOID), RenderParams(PARAMFLAG_NONE))},
        {DispProperty(u"Handle", 0, Udt(kOLE_HANDLE), kReadOnly), DispProperty(u"hPal", 2, Udt(kOLE_HANDLE)),
         DispProperty(u"Type", 3, Vt(VT_I2), kReadOnly),
         DispProperty(u"Width", 4, Udt(kOLE_XSIZE_HIMETRIC), kReadOnly),
         DispProperty(u"Height", 5, Udt(kOLE_YSIZE_HIMETRIC), kReadOnly)}));
    types.push_back(Alias(u"IPictureDisp", GUID_NULL, 0, Udt(kPicture), 4));
    types.push_back(CoClass(u"StdPicture", StdObjectGuid(0x0BE35204), kPicture, kIPicture));

    TypeData loadConstants = Type(u"LoadPictureConstants", TKIND_ENUM, kGuidLoadPictureConstants, 0, 4, 4);
    loadConstants.vars = {EnumValue(u"Default", kVarId + 0, 0), EnumValue(u"Monochrome", kVarId + 1, 1),
                          EnumValue(u"VgaColor", kVarId + 2, 2), EnumValue(u"Color", kVarId + 3, 4)};
    types.push_back(std::move(loadConstants));
    return types;
}

TypeData StdFunctions() {
    TypeData module = Type(u"StdFunctions", TKIND_MODULE, kGuidStdFunctions, 0, 1, 2);
    module.docString = u"Functions for Standard OLE Objects";
    module.helpContext = kStdFunctionsHelpContext;

    FuncData load = Func(u"LoadPicture", kIUnknownId + 0, FUNC_STATIC, INVOKE_FUNC, 0, 0, Vt(VT_HRESULT),
                         {Param(u"filename", PARAMFLAG_FIN | PARAMFLAG_FOPT, Vt(VT_VARIANT)),
                          Param(u"widthDesired", kInOptDefault, Vt(VT_INT), Variant::Int(0)),
                          Param(u"heightDesired", kInOptDefault, Vt(VT_INT), Variant::Int(0)),
                          Param(u"flags", kInOptDefault, Udt(kLoadPictureConstants), Variant(int32_t{0})),
                          Param(u"retval", kOutRetval, Ptr(Ptr(Udt(kIPictureDisp))))});
    load.cParamsOpt = 1;
    load.docString = u"Loads a picture from a file";
    load.helpContext = kStdFunctionsHelpContext;
    load.dll = DllEntryData{u"oleaut32.dll", std::u16string(u"OleLoadPictureFileEx")};

    FuncData save = Func(u"SavePicture", kIUnknownId + 1, FUNC_STATIC, INVOKE_FUNC, 0, 0, Vt(VT_HRESULT),
                         {Param(u"Picture", kIn, Ptr(Udt(kIPictureDisp))), Param(u"filename", kIn, Vt(VT_BSTR))});
    save.docString = u"Saves a picture to a file";
    save.helpContext = kStdFunctionsHelpContext;
    save.dll = DllEntryData{u"oleaut32.dll", std::u16string(u"OleSavePictureFile")};

    module.funcs = {std::move(load), std::move(save)};
    return module;
}

std::vector<TypeData> FontEventTypes() {
    std::vector<TypeData> types;
    TypeData events = DispInterface(
        u"FontEvents", kGuidFontEvents, kHidden | kDispatchable,
        {Func(u"FontChanged", 9, FUNC_DISPATCH, INVOKE_FUNC, 0, 0, Vt(VT_VOID), {Param(u"PropertyName", kIn, Vt(VT_BSTR))})},
        {});
    events.docString = u"Event Interface for the Font Object";
    types.push_back(std::move(events));
    types.push_back(Alias(u"IFontEventsDisp", GUID_NULL, 0, Udt(kFontEvents), 4));
    return types;
}

// Adds one Internal ref for every type that a TYPEDESC or impltype names.
void CollectRefs(const TypeDescData& t, std::array<bool, kTypeCount>& used) {
    if (t.vt == VT_USERDEFINED) used[t.href / 0x64] = true;
    for (const TypeDescData& e : t.element) CollectRefs(e, used);
}

std::shared_ptr<LibraryData> NewStdOle(WORD major) {
    auto lib = std::make_shared<LibraryData>();
    lib->name = u"stdole";
    lib->guid = kStdOleLibGuid;
    lib->lcid = 0;
    lib->syskind = SYS_WIN32;
    lib->majorVersion = major;
    lib->minorVersion = 0;
    lib->docString = u"OLE Automation";
    return lib;
}

// Gives every type the library's LCID and adds the Internal refs.
void FinishStdOle(LibraryData& lib) {
    std::array<bool, kTypeCount> used{};
    for (TypeData& t : lib.types) {
        t.lcid = lib.lcid;
        CollectRefs(t.aliasType, used);
        for (const ImplTypeData& i : t.implTypes) used[i.href / 0x64] = true;
        for (const VarData& v : t.vars) CollectRefs(v.type, used);
        for (const FuncData& f : t.funcs) {
            CollectRefs(f.returnType, used);
            for (const ParamData& p : f.params) CollectRefs(p.type, used);
        }
    }
    for (int i = 0; i < kTypeCount; ++i) {
        if (!used[i]) continue;
        RefData r;
        r.href = HrefOf(i);
        r.kind = RefKind::Internal;
        r.typeIndex = i;
        lib.refs.push_back(std::move(r));
    }
}

std::shared_ptr<LibraryData> BuildStdOle2() {
    auto lib = NewStdOle(2);
    auto append = [&](std::vector<TypeData> more) {
        for (TypeData& t : more) lib->types.push_back(std::move(t));
    };
    append(RecordTypes());
    append(BaseInterfaces());
    append(OleAliases());
    append(FontTypes());
    append(PictureTypes());
    lib->types.push_back(StdFunctions());
    append(FontEventTypes());
    FinishStdOle(*lib);
    return lib;
}

// Version 1.0 holds the records and base interfaces of version 2.0, in the
// same order (so the same HREFTYPEs), with no type flags; the library itself
// is restricted.
std::shared_ptr<LibraryData> BuildStdOle32() {
    auto lib = NewStdOle(1);
    lib->libFlags = LIBFLAG_FRESTRICTED;
    lib->types = RecordTypes();
    for (TypeData& t : BaseInterfaces()) lib->types.push_back(std::move(t));
    for (TypeData& t : lib->types) t.flags = 0;
    FinishStdOle(*lib);
    return lib;
}

// One process-wide library object over the given data, created on the first
// call and never released, so every caller (and every reference resolved to
// it) sees the same object. A failed creation is retried on the next call.
class BuiltinLibrary {
public:
    BuiltinLibrary(std::shared_ptr<const LibraryData> (*data)(), std::u16string_view path) : data_(data), path_(path) {}

    HRESULT Get(ITypeLib** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!library_) {
            std::shared_ptr<const LibraryData> data;
            try {
                data = data_();
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            HRESULT hr = CreateLoadedTypeLib(std::move(data), std::u16string(path_), &library_);
            if (FAILED(hr)) {
                library_ = nullptr;
                return hr;
            }
        }
        library_->AddRef();
        *out = library_;
        return S_OK;
    }

private:
    std::shared_ptr<const LibraryData> (*data_)();
    std::u16string_view path_;
    std::mutex mutex_;
    ITypeLib* library_ = nullptr;
};

}  // namespace

std::shared_ptr<const LibraryData> GetStdOle2Data() {
    static const std::shared_ptr<const LibraryData> data = BuildStdOle2();
    return data;
}

std::shared_ptr<const LibraryData> GetStdOle32Data() {
    static const std::shared_ptr<const LibraryData> data = BuildStdOle32();
    return data;
}

HRESULT GetBuiltinStdOle2(ITypeLib** out) {
    static BuiltinLibrary library(GetStdOle2Data, kStdOle2File);
    return library.Get(out);
}

HRESULT GetBuiltinStdOle32(ITypeLib** out) {
    static BuiltinLibrary library(GetStdOle32Data, kStdOle32File);
    return library.Get(out);
}

}  // namespace ole
