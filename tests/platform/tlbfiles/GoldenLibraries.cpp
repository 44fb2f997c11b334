// The golden libraries, built through the creation interfaces.
#include "GoldenLibraries.h"

#include <deque>
#include <initializer_list>
#include <optional>
#include <stdexcept>

#include "platform/tlbengine/TypeLibData.h"
#include "support/TypeLibBuilder.h"

using namespace ole;

namespace golden {

namespace {

struct Failure {
    HRESULT hr;
};
void Check(HRESULT hr) {
    if (FAILED(hr)) throw Failure{hr};
}

constexpr GUID Guid(uint32_t n) { return GUID{0x5A170000u + n, 0x60D1, 0x4E2B, {0x9A, 0x51, 0, 0, 0, 0, 0x17, 0x01}}; }

// TYPEDESC chains with stable addresses for the duration of a build.
struct Descs : testsupport::TypeDescs {
    static TYPEDESC Vt(VARTYPE vt) { return testsupport::Vt(vt); }
    static TYPEDESC User(HREFTYPE href) { return testsupport::User(href); }
};

struct Param {
    std::u16string name;
    TYPEDESC type;
    USHORT flags = PARAMFLAG_FIN;
    std::optional<Variant> def = std::nullopt;
};

struct Func {
    std::u16string name;
    MEMBERID id = MEMBERID_NIL;
    INVOKEKIND invoke = INVOKE_FUNC;
    TYPEDESC ret{};
    std::vector<Param> params;
    SHORT cParamsOpt = 0;
    WORD flags = 0;
    SHORT oVft = 0;
    CALLCONV callconv = CC_STDCALL;
};

FUNCKIND KindFor(ICreateTypeInfo2* t) {
    ComPtr<ITypeInfo> ti = ComPtr<ICreateTypeInfo2>(t).As<ITypeInfo>();
    TYPEKIND k = TKIND_INTERFACE;
    TYPEATTR* ta = nullptr;
    Check(ti->GetTypeAttr(&ta));
    k = ta->typekind;
    ti->ReleaseTypeAttr(ta);
    return k == TKIND_MODULE ? FUNC_STATIC : k == TKIND_DISPATCH ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
}

void AddFunc(ICreateTypeInfo2* t, UINT index, const Func& f) {
    std::vector<ELEMDESC> elems(f.params.size());
    std::vector<PARAMDESCEX> defaults(f.params.size());
    for (size_t i = 0; i < f.params.size(); ++i) {
        elems[i].tdesc = f.params[i].type;
        elems[i].paramdesc.wParamFlags = f.params[i].flags;
        elems[i].paramdesc.pparamdescex = nullptr;
        if (f.params[i].def) {
            defaults[i].cBytes = 24;
            defaults[i].varDefaultValue = f.params[i].def->get();
            elems[i].paramdesc.pparamdescex = &defaults[i];
            elems[i].paramdesc.wParamFlags |= PARAMFLAG_FHASDEFAULT;
        }
    }
    FUNCDESC fd{};
    fd.memid = f.id;
    fd.lprgelemdescParam = elems.empty() ? nullptr : elems.data();
    fd.funckind = KindFor(t);
    fd.invkind = f.invoke;
    fd.callconv = f.callconv;
    fd.cParams = static_cast<SHORT>(f.params.size());
    fd.cParamsOpt = f.cParamsOpt;
    fd.oVft = f.oVft;
    fd.elemdescFunc.tdesc = f.ret;
    fd.wFuncFlags = f.flags;
    Check(t->AddFuncDesc(index, &fd));
    std::vector<std::u16string> names{f.name};
    size_t named = f.params.size();
    if ((f.invoke == INVOKE_PROPERTYPUT || f.invoke == INVOKE_PROPERTYPUTREF) && named > 0) --named;
    for (size_t i = 0; i < named; ++i) names.push_back(f.params[i].name);
    std::vector<LPOLESTR> list;
    for (auto& n : names) list.push_back(n.data());
    Check(t->SetFuncAndParamNames(index, list.data(), static_cast<UINT>(list.size())));
}

void AddVar(ICreateTypeInfo2* t, UINT index, const std::u16string& name, TYPEDESC type, MEMBERID id,
            VARKIND kind = VAR_PERINSTANCE, std::optional<Variant> value = std::nullopt, WORD flags = 0) {
    VARDESC vd{};
    vd.memid = id;
    vd.varkind = kind;
    vd.elemdescVar.tdesc = type;
    vd.wVarFlags = flags;
    Variant v = value ? *value : Variant();
    if (kind == VAR_CONST) vd.lpvarValue = v.ptr();
    Check(t->AddVarDesc(index, &vd));
    Check(t->SetVarName(index, name.c_str()));
}

ComPtr<ICreateTypeInfo2> NewType(ICreateTypeLib2* lib, const std::u16string& name, TYPEKIND kind, const GUID& g) {
    ComPtr<ICreateTypeInfo> ct;
    Check(lib->CreateTypeInfo(name.c_str(), kind, ct.put()));
    ComPtr<ICreateTypeInfo2> t;
    Check(ct.As(&t));
    if (g != GUID_NULL) Check(t->SetGuid(g));
    return t;
}

HREFTYPE RefTo(ICreateTypeInfo2* from, ICreateTypeInfo2* to) {
    ComPtr<ITypeInfo> ti = ComPtr<ICreateTypeInfo2>(to).As<ITypeInfo>();
    HREFTYPE h = 0;
    Check(from->AddRefTypeInfo(ti.get(), &h));
    return h;
}
HREFTYPE RefTo(ICreateTypeInfo2* from, ITypeInfo* to) {
    HREFTYPE h = 0;
    Check(from->AddRefTypeInfo(to, &h));
    return h;
}

// A type of the built-in standard library, by name.
ComPtr<ITypeInfo> StdType(std::u16string_view name) {
    ComPtr<ITypeLib> std;
    Check(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, std.put()));
    for (UINT i = 0; i < std->GetTypeInfoCount(); ++i) {
        BStr n;
        Check(std->GetDocumentation(static_cast<INT>(i), n.put(), nullptr, nullptr, nullptr));
        if (n.view() == name) {
            ComPtr<ITypeInfo> ti;
            Check(std->GetTypeInfo(i, ti.put()));
            return ti;
        }
    }
    throw Failure{TYPE_E_ELEMENTNOTFOUND};
}

ComPtr<ICreateTypeLib2> NewLibrary(const std::u16string& path, const std::u16string& name, uint32_t guid, LCID lcid) {
    ComPtr<ICreateTypeLib2> lib;
    Check(CreateTypeLib2(SYS_WIN32, path.c_str(), lib.put()));
    Check(lib->SetName(name.c_str()));
    Check(lib->SetGuid(Guid(guid)));
    Check(lib->SetLcid(lcid));
    Check(lib->SetVersion(1, 0));
    return lib;
}

Variant Cy(LONGLONG scaled) { return Variant::Currency(scaled); }
Variant Str(std::u16string_view s) { return Variant(s); }

// Every type kind, and every automation VARTYPE as a field, an alias target and a constant.
void BuildKinds(ICreateTypeLib2* lib) {
    Descs d;
    Check(lib->SetDocString(u"Every type kind and VARTYPE"));
    auto shade = NewType(lib, u"Shade", TKIND_ENUM, Guid(0x101));
    auto all = NewType(lib, u"AllTypes", TKIND_RECORD, Guid(0x102));
    auto either = NewType(lib, u"Either", TKIND_UNION, GUID_NULL);
    auto packed = NewType(lib, u"Packed", TKIND_RECORD, Guid(0x103));
    auto shadeAlias = NewType(lib, u"ShadeAlias", TKIND_ALIAS, GUID_NULL);
    auto handle = NewType(lib, u"Handle", TKIND_ALIAS, GUID_NULL);
    auto names = NewType(lib, u"Names", TKIND_ALIAS, Guid(0x104));
    auto color = NewType(lib, u"Tint", TKIND_ALIAS, GUID_NULL);
    auto native = NewType(lib, u"Native", TKIND_MODULE, Guid(0x105));

    AddVar(shade.get(), 0, u"Light", d.Vt(VT_INT), 0, VAR_CONST, Variant::Int(0));
    AddVar(shade.get(), 1, u"Dark", d.Vt(VT_INT), 1, VAR_CONST, Variant::Int(-1));
    AddVar(shade.get(), 2, u"Blinding", d.Vt(VT_INT), 2, VAR_CONST, Variant::Int(0x7FFFFFFF));
    AddVar(shade.get(), 3, u"Medium", d.Vt(VT_INT), 3, VAR_CONST, Variant::Int(0x4000000));

    const VARTYPE scalars[] = {VT_I1,  VT_UI1,   VT_I2,    VT_UI2,      VT_I4,      VT_UI4,   VT_I8,
                               VT_UI8, VT_INT,   VT_UINT,  VT_R4,       VT_R8,      VT_CY,    VT_DATE,
                               VT_BSTR, VT_BOOL, VT_ERROR, VT_DECIMAL,  VT_VARIANT, VT_UNKNOWN, VT_DISPATCH,
                               VT_LPSTR, VT_LPWSTR, VT_HRESULT};
    UINT k = 0;
    for (VARTYPE vt : scalars) {
        std::u16string name = u"f" + std::u16string(1, static_cast<char16_t>(u'a' + k % 26)) +
                              std::u16string(1, static_cast<char16_t>(u'a' + k / 26));
        AddVar(all.get(), k, name, d.Vt(vt), MEMBERID_NIL);
        ++k;
    }
    AddVar(all.get(), k++, u"pLong", d.Ptr(d.Vt(VT_I4)), MEMBERID_NIL);
    AddVar(all.get(), k++, u"ppText", d.Ptr(d.Ptr(d.Vt(VT_BSTR))), MEMBERID_NIL);
    AddVar(all.get(), k++, u"list", d.SafeArray(d.Vt(VT_BSTR)), MEMBERID_NIL);
    AddVar(all.get(), k++, u"grid", d.CArray(d.Vt(VT_I2), {{1, 3}, {0, 2}}), MEMBERID_NIL);
    AddVar(all.get(), k++, u"tone", d.User(RefTo(all.get(), shade.get())), MEMBERID_NIL);
    AddVar(all.get(), k++, u"id", d.User(RefTo(all.get(), StdType(u"GUID").get())), MEMBERID_NIL);
    AddVar(all.get(), k++, u"shades", d.CArray(d.User(RefTo(all.get(), shade.get())), {{0, 4}}), MEMBERID_NIL);
    AddVar(all.get(), k++, u"nested", d.SafeArray(d.Ptr(d.User(RefTo(all.get(), either.get())))), MEMBERID_NIL);

    AddVar(either.get(), 0, u"asLong", d.Vt(VT_I4), MEMBERID_NIL);
    AddVar(either.get(), 1, u"asDouble", d.Vt(VT_R8), MEMBERID_NIL);
    AddVar(either.get(), 2, u"asText", d.Vt(VT_BSTR), MEMBERID_NIL);

    Check(packed->SetAlignment(1));
    AddVar(packed.get(), 0, u"tag", d.Vt(VT_UI1), MEMBERID_NIL);
    AddVar(packed.get(), 1, u"value", d.Vt(VT_R8), MEMBERID_NIL);
    AddVar(packed.get(), 2, u"flag", d.Vt(VT_BOOL), MEMBERID_NIL);

    TYPEDESC a = d.User(RefTo(shadeAlias.get(), shade.get()));
    Check(shadeAlias->SetTypeDescAlias(&a));
    TYPEDESC h = d.Ptr(d.Vt(VT_VOID));
    Check(handle->SetTypeDescAlias(&h));
    TYPEDESC n = d.SafeArray(d.Vt(VT_BSTR));
    Check(names->SetTypeDescAlias(&n));
    TYPEDESC c = d.User(RefTo(color.get(), StdType(u"OLE_COLOR").get()));
    Check(color->SetTypeDescAlias(&c));

    // Module: DLL entries by name and by ordinal, constants of every storable VARTYPE.
    AddFunc(native.get(), 0,
            {u"Beep", 0x60000000, INVOKE_FUNC, d.Vt(VT_BOOL),
             {{u"frequency", d.Vt(VT_UI4)}, {u"duration", d.Vt(VT_UI4)}}});
    AddFunc(native.get(), 1,
            {u"Tick", 0x60000001, INVOKE_FUNC, d.Vt(VT_UI4), {}, 0, 0, 0, CC_CDECL});
    AddFunc(native.get(), 2,
            {u"Format", 0x60000002, INVOKE_FUNC, d.Vt(VT_INT),
             {{u"buffer", d.Vt(VT_LPSTR)}, {u"pattern", d.Vt(VT_LPWSTR)}, {u"args", d.SafeArray(d.Vt(VT_VARIANT))}},
             -1, 0, 0, CC_CDECL});
    Check(native->DefineFuncAsDllEntry(0, u"kernel32.dll", DllEntryPoint(std::u16string(u"Beep"))));
    Check(native->DefineFuncAsDllEntry(1, u"kernel32.dll", DllEntryPoint(WORD(402))));
    Check(native->DefineFuncAsDllEntry(2, u"kernel32.dll", DllEntryPoint(std::u16string(u"wsprintfA"))));
    UINT v = 0;
    auto constant = [&](const std::u16string& name, VARTYPE vt, Variant value) {
        AddVar(native.get(), v, name, d.Vt(vt), static_cast<MEMBERID>(0x40000000 + v), VAR_CONST, std::move(value));
        ++v;
    };
    constant(u"cI1", VT_I1, Variant(int8_t(-8)));
    constant(u"cUI1", VT_UI1, Variant(uint8_t(200)));
    constant(u"cI2", VT_I2, Variant(int16_t(-12345)));
    constant(u"cUI2", VT_UI2, Variant(uint16_t(54321)));
    constant(u"cI4", VT_I4, Variant(int32_t(-123456789)));
    constant(u"cUI4", VT_UI4, Variant(uint32_t(4000000000u)));
    constant(u"cSmall", VT_I4, Variant(int32_t(99)));
    constant(u"cINT", VT_INT, Variant::Int(-42));
    constant(u"cUINT", VT_UINT, Variant::UInt(42));
    constant(u"cI8", VT_I8, Variant(int64_t(-1234567890123LL)));
    constant(u"cUI8", VT_UI8, Variant(uint64_t(12345678901234ULL)));
    constant(u"cR4", VT_R4, Variant(1.25f));
    constant(u"cR8", VT_R8, Variant(-2.5e300));
    constant(u"cCY", VT_CY, Cy(123456789));
    constant(u"cDATE", VT_DATE, Variant::Date(45000.5));
    constant(u"cBSTR", VT_BSTR, Str(u"quote \" and \\ backslash"));
    constant(u"cEmpty", VT_BSTR, Str(u""));
    constant(u"cTrue", VT_BOOL, Variant(true));
    constant(u"cFalse", VT_BOOL, Variant(false));
    constant(u"cERROR", VT_ERROR, Variant::Error(static_cast<SCODE>(0x80020004)));
}

// Interfaces, a dual interface, a dispinterface and a coclass, with references
// to own types, to a dual's interface half and to standard-library types, and
// parameters of every kind.
void BuildInterfaces(ICreateTypeLib2* lib) {
    Descs d;
    Check(lib->SetDocString(u"Interfaces, duals and dispinterfaces"));
    auto shape = NewType(lib, u"IShape", TKIND_INTERFACE, Guid(0x201));
    auto widget = NewType(lib, u"IWidget", TKIND_INTERFACE, Guid(0x202));
    auto events = NewType(lib, u"DWidgetEvents", TKIND_DISPATCH, Guid(0x203));
    auto derived = NewType(lib, u"IGadget", TKIND_INTERFACE, Guid(0x204));
    auto cls = NewType(lib, u"Widget", TKIND_COCLASS, Guid(0x206));
    auto mode = NewType(lib, u"Mode", TKIND_ENUM, Guid(0x207));

    AddVar(mode.get(), 0, u"modeFast", d.Vt(VT_INT), 0, VAR_CONST, Variant::Int(0));
    AddVar(mode.get(), 1, u"modeSafe", d.Vt(VT_INT), 1, VAR_CONST, Variant::Int(1));

    ComPtr<ITypeInfo> unknown = StdType(u"IUnknown");
    ComPtr<ITypeInfo> dispatch = StdType(u"IDispatch");

    // IShape : IUnknown, laid out automatically; accessors, optional, lcid, retval, vararg.
    Check(shape->SetTypeFlags(TYPEFLAG_FOLEAUTOMATION));
    Check(shape->AddImplType(0, RefTo(shape.get(), unknown.get())));
    HREFTYPE modeRef = RefTo(shape.get(), mode.get());
    AddFunc(shape.get(), 0,
            {u"Area", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT),
             {{u"value", d.Ptr(d.Vt(VT_R8)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(shape.get(), 1,
            {u"Move", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT),
             {{u"x", d.Vt(VT_I4)},
              {u"y", d.Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int32_t(5))},
              {u"how", d.User(modeRef), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int32_t(1))},
              {u"locale", d.Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FLCID}}});
    AddFunc(shape.get(), 2,
            {u"Name", MEMBERID_NIL, INVOKE_PROPERTYGET, d.Vt(VT_HRESULT),
             {{u"value", d.Ptr(d.Vt(VT_BSTR)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(shape.get(), 3,
            {u"Name", testsupport::FuncIdAt(shape.get(), 2), INVOKE_PROPERTYPUT, d.Vt(VT_HRESULT),
             {{u"value", d.Vt(VT_BSTR)}}});
    AddFunc(shape.get(), 4,
            {u"Owner", MEMBERID_NIL, INVOKE_PROPERTYPUTREF, d.Vt(VT_HRESULT), {{u"value", d.Vt(VT_UNKNOWN)}}});
    AddFunc(shape.get(), 5,
            {u"Log", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT),
             {{u"format", d.Vt(VT_BSTR)}, {u"args", d.SafeArray(d.Vt(VT_VARIANT))}}, -1});
    AddFunc(shape.get(), 6,
            {u"Options", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT),
             {{u"a", d.Vt(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT},
              {u"b", d.Ptr(d.Vt(VT_VARIANT)), PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT}},
             2, FUNCFLAG_FHIDDEN});

    // IWidget: dual, derived from IDispatch; defaults of every storable VARTYPE.
    Check(widget->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    Check(widget->AddImplType(0, RefTo(widget.get(), dispatch.get())));
    HREFTYPE colorRef = RefTo(widget.get(), StdType(u"OLE_COLOR").get());
    HREFTYPE fontRef = RefTo(widget.get(), StdType(u"IFontDisp").get());
    HREFTYPE guidRef = RefTo(widget.get(), StdType(u"GUID").get());
    HREFTYPE selfRef = RefTo(widget.get(), widget.get());
    HREFTYPE shapeRef = RefTo(widget.get(), shape.get());
    AddFunc(widget.get(), 0,
            {u"Color", 1, INVOKE_PROPERTYGET, d.Vt(VT_HRESULT),
             {{u"value", d.Ptr(d.User(colorRef)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}, 0, FUNCFLAG_FBINDABLE});
    AddFunc(widget.get(), 1,
            {u"Color", 1, INVOKE_PROPERTYPUT, d.Vt(VT_HRESULT), {{u"value", d.User(colorRef)}}, 0,
             FUNCFLAG_FBINDABLE});
    AddFunc(widget.get(), 2,
            {u"Font", 2, INVOKE_PROPERTYGET, d.Vt(VT_HRESULT),
             {{u"value", d.Ptr(d.Ptr(d.User(fontRef))), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(widget.get(), 3,
            {u"Font", 2, INVOKE_PROPERTYPUTREF, d.Vt(VT_HRESULT), {{u"value", d.Ptr(d.User(fontRef))}}});
    AddFunc(widget.get(), 4,
            {u"Parent", 3, INVOKE_PROPERTYGET, d.Vt(VT_HRESULT),
             {{u"value", d.Ptr(d.Vt(VT_DISPATCH)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(widget.get(), 5,
            {u"Self", 4, INVOKE_PROPERTYGET, d.Vt(VT_HRESULT),
             {{u"value", d.Ptr(d.Ptr(d.User(selfRef))), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(widget.get(), 6,
            {u"Shape", 5, INVOKE_FUNC, d.Vt(VT_HRESULT),
             {{u"kind", d.Ptr(d.User(guidRef))},
              {u"value", d.Ptr(d.Ptr(d.User(shapeRef))), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(widget.get(), 7,
            {u"Resize", 6, INVOKE_FUNC, d.Vt(VT_HRESULT),
             {{u"i2", d.Vt(VT_I2), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int16_t(-2))},
              {u"i4", d.Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int32_t(-100000))},
              {u"r4", d.Vt(VT_R4), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(0.5f)},
              {u"r8", d.Vt(VT_R8), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(3.75)},
              {u"text", d.Vt(VT_BSTR), PARAMFLAG_FIN | PARAMFLAG_FOPT, Str(u"auto")},
              {u"flag", d.Vt(VT_BOOL), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(true)},
              {u"money", d.Vt(VT_CY), PARAMFLAG_FIN | PARAMFLAG_FOPT, Cy(25000)},
              {u"when", d.Vt(VT_DATE), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant::Date(36526.25)},
              {u"any", d.Vt(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int32_t(7))},
              {u"byte", d.Vt(VT_UI1), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(uint8_t(255))},
              {u"tiny", d.Vt(VT_I1), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int8_t(-3))},
              {u"word", d.Vt(VT_UI2), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(uint16_t(65535))},
              {u"dword", d.Vt(VT_UI4), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(uint32_t(0xFFFFFFF0u))},
              {u"big", d.Vt(VT_I8), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int64_t(-5))},
              {u"tint", d.User(colorRef), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int32_t(0xFF00))},
              {u"error", d.Vt(VT_ERROR), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant::Error(static_cast<SCODE>(0x80020004))},
              {u"nothing", d.Vt(VT_DISPATCH), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(static_cast<IDispatch*>(nullptr))}}});

    // DWidgetEvents: a plain dispinterface with methods and properties.
    AddFunc(events.get(), 0,
            {u"Click", 1, INVOKE_FUNC, d.Vt(VT_VOID), {{u"x", d.Vt(VT_I4)}, {u"y", d.Vt(VT_I4)}}});
    AddFunc(events.get(), 1,
            {u"Changed", 2, INVOKE_FUNC, d.Vt(VT_VOID), {{u"what", d.Vt(VT_BSTR)}}});
    AddVar(events.get(), 0, u"Enabled", d.Vt(VT_BOOL), 3, VAR_DISPATCH);
    AddVar(events.get(), 1, u"Caption", d.Vt(VT_BSTR), 4, VAR_DISPATCH, std::nullopt, VARFLAG_FREADONLY);

    // IGadget : IWidget (the dual's interface half as a base).
    Check(derived->AddImplType(0, RefTo(derived.get(), widget.get())));
    AddFunc(derived.get(), 0,
            {u"Spin", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT), {{u"turns", d.Vt(VT_R8)}}});

    // Widget: the default interface, a default source and a plain one.
    Check(cls->SetTypeFlags(TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL));
    Check(cls->AddImplType(0, RefTo(cls.get(), widget.get())));
    Check(cls->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
    Check(cls->AddImplType(1, RefTo(cls.get(), events.get())));
    Check(cls->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));
    Check(cls->AddImplType(2, RefTo(cls.get(), shape.get())));
    Check(cls->AddImplType(3, RefTo(cls.get(), StdType(u"IFontDisp").get())));
    Check(cls->SetImplTypeFlags(3, IMPLTYPEFLAG_FRESTRICTED));
}

// Help data and custom data at every level.
void BuildHelp(ICreateTypeLib2* lib) {
    Descs d;
    Check(lib->SetDocString(u"Help and custom data: caf\u00E9 \u20AC"));
    Check(lib->SetHelpFileName(u"golden.chm"));
    Check(lib->SetHelpContext(1000));
    Check(lib->SetHelpStringContext(1000));
    Check(lib->SetHelpStringDll(u"goldenres.dll"));
    Check(lib->SetLibFlags(LIBFLAG_FHIDDEN | LIBFLAG_FCONTROL));
    Check(lib->SetVersion(2, 5));
    Variant libValues[] = {Variant(int32_t(-7)), Str(u"library item"), Variant(uint32_t(0xDEADBEEF)), Variant(1.5f)};
    for (uint32_t i = 0; i < 4; ++i) Check(lib->SetCustData(Guid(0x900 + i), libValues[i].ptr()));

    auto iface = NewType(lib, u"IHelpful", TKIND_INTERFACE, Guid(0x301));
    auto rec = NewType(lib, u"Note", TKIND_RECORD, Guid(0x302));
    auto cls = NewType(lib, u"Helper", TKIND_COCLASS, Guid(0x303));
    auto mod = NewType(lib, u"HelpModule", TKIND_MODULE, Guid(0x304));

    Check(iface->SetDocString(u"An interface with help"));
    Check(iface->SetHelpContext(2000));
    Check(iface->SetHelpStringContext(2001));
    Check(iface->SetVersion(3, 1));
    Variant tv[] = {Variant::Int(12), Str(u"type item"), Variant::UInt(13)};
    for (uint32_t i = 0; i < 3; ++i) Check(iface->SetCustData(Guid(0x910 + i), tv[i].ptr()));
    Check(iface->AddImplType(0, RefTo(iface.get(), StdType(u"IUnknown").get())));
    AddFunc(iface.get(), 0,
            {u"Explain", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT),
             {{u"topic", d.Vt(VT_BSTR)}, {u"depth", d.Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FOPT, Variant(int32_t(1))}}});
    AddFunc(iface.get(), 1, {u"Quiet", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT), {}});
    AddFunc(iface.get(), 2, {u"Plain", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT), {}});
    Check(iface->SetFuncDocString(0, u"Explains a topic"));
    Check(iface->SetFuncHelpContext(0, 2100));
    Check(iface->SetFuncHelpStringContext(0, 2101));
    Variant fv[] = {Variant(int32_t(100)), Str(u"function item")};
    for (uint32_t i = 0; i < 2; ++i) Check(iface->SetFuncCustData(0, Guid(0x920 + i), fv[i].ptr()));
    Variant pv = Str(u"parameter item");
    Check(iface->SetParamCustData(0, 1, Guid(0x930), pv.ptr()));
    Check(iface->SetFuncHelpContext(1, 2200));
    Check(iface->SetFuncHelpStringContext(2, 2301));

    Check(rec->SetDocString(u"A record with help"));
    Check(rec->SetHelpContext(3000));
    AddVar(rec.get(), 0, u"text", d.Vt(VT_BSTR), MEMBERID_NIL);
    AddVar(rec.get(), 1, u"size", d.Vt(VT_I4), MEMBERID_NIL);
    Check(rec->SetVarDocString(0, u"The text"));
    Check(rec->SetVarHelpContext(0, 3100));
    Check(rec->SetVarHelpStringContext(1, 3201));
    Variant vv = Variant(2.25f);
    Check(rec->SetVarCustData(1, Guid(0x940), vv.ptr()));

    Check(cls->SetDocString(u"A class"));
    Check(cls->AddImplType(0, RefTo(cls.get(), iface.get())));
    Check(cls->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
    Variant iv = Str(u"implemented item");
    Check(cls->SetImplTypeCustData(0, Guid(0x950), iv.ptr()));

    Check(mod->SetDocString(u"A module"));
    AddFunc(mod.get(), 0, {u"Ping", 0x60000000, INVOKE_FUNC, d.Vt(VT_I4), {{u"count", d.Vt(VT_I4)}}});
    Check(mod->DefineFuncAsDllEntry(0, u"helper.dll", DllEntryPoint(std::u16string(u"PingW"))));
    Check(mod->SetFuncDocString(0, u"Pings"));
    AddVar(mod.get(), 0, u"Version", d.Vt(VT_BSTR), 0x40000000, VAR_CONST, Str(u"2.5"));
    Check(mod->SetVarDocString(0, u"The version"));
}

// What regeneration must keep beyond the other goldens: a help file named
// with its folder, explicit vtable offsets off the automatic slots, a DLL
// entry by ordinal, a dual with optional and default parameters, imported
// types (a base, a parameter and an alias target), and custom data at all
// six levels in one library.
void BuildRegen(ICreateTypeLib2* lib) {
    Descs d;
    Check(lib->SetDocString(u"What regeneration keeps"));
    Check(lib->SetHelpFileName(u"C:\\Help\\Files\\regen.chm"));
    Check(lib->SetHelpContext(10));
    Check(lib->SetHelpStringContext(10));
    Check(lib->SetHelpStringDll(u"regenres.dll"));
    Variant text = Str(u"tagged");
    Check(lib->SetCustData(Guid(0xA00), text.ptr()));

    auto mode = NewType(lib, u"Mode", TKIND_ENUM, Guid(0x501));
    auto offsets = NewType(lib, u"IOffsets", TKIND_INTERFACE, Guid(0x502));
    auto rich = NewType(lib, u"IRich", TKIND_INTERFACE, Guid(0x503));
    auto events = NewType(lib, u"DRichEvents", TKIND_DISPATCH, Guid(0x504));
    auto native = NewType(lib, u"Native", TKIND_MODULE, Guid(0x505));
    auto color = NewType(lib, u"Shade", TKIND_ALIAS, GUID_NULL);
    auto cls = NewType(lib, u"Rich", TKIND_COCLASS, Guid(0x506));

    AddVar(mode.get(), 0, u"ModeOff", d.Vt(VT_I4), MEMBERID_NIL, VAR_CONST, Variant::Int(0));
    AddVar(mode.get(), 1, u"ModeOn", d.Vt(VT_I4), MEMBERID_NIL, VAR_CONST, Variant::Int(1));
    Check(mode->SetVarHelpContext(1, 51));
    Check(mode->SetVarCustData(1, Guid(0xA01), text.ptr()));

    Check(offsets->AddImplType(0, RefTo(offsets.get(), StdType(u"IUnknown").get())));
    AddFunc(offsets.get(), 0, {u"Third", 0x60010000, INVOKE_FUNC, d.Vt(VT_HRESULT), {}, 0, 0, 20});
    AddFunc(offsets.get(), 1, {u"First", 0x60010001, INVOKE_FUNC, d.Vt(VT_HRESULT), {}, 0, 0, 12});
    AddFunc(offsets.get(), 2, {u"Far", 0x60010002, INVOKE_FUNC, d.Vt(VT_HRESULT), {}, 0, 0, 40});

    Check(rich->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    Check(rich->SetDocString(u"A dual"));
    Check(rich->SetHelpContext(60));
    Check(rich->SetHelpStringContext(61));
    Check(rich->SetCustData(Guid(0xA02), text.ptr()));
    Check(rich->AddImplType(0, RefTo(rich.get(), StdType(u"IDispatch").get())));
    const HREFTYPE guidRef = RefTo(rich.get(), StdType(u"GUID").get());
    AddFunc(rich.get(), 0, {u"Level", 1, INVOKE_PROPERTYGET, d.Vt(VT_HRESULT),
                            {{u"which", d.User(RefTo(rich.get(), mode.get()))},
                             {u"value", d.Ptr(d.Vt(VT_I4)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(rich.get(), 1, {u"Level", 1, INVOKE_PROPERTYPUT, d.Vt(VT_HRESULT),
                            {{u"which", d.User(RefTo(rich.get(), mode.get()))}, {u"value", d.Vt(VT_I4)}}});
    AddFunc(rich.get(), 2, {u"Find", 2, INVOKE_FUNC, d.Vt(VT_HRESULT),
                            {{u"id", d.Ptr(d.User(guidRef))},
                             {u"name", d.Vt(VT_BSTR), PARAMFLAG_FIN | PARAMFLAG_FOPT, Str(u"any")},
                             {u"extra", d.Vt(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT},
                             {u"lcid", d.Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FLCID},
                             {u"found", d.Ptr(d.User(RefTo(rich.get(), offsets.get()))),
                              PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    Check(rich->SetFuncDocString(2, u"Finds one"));
    Check(rich->SetFuncHelpContext(2, 62));
    Check(rich->SetFuncHelpStringContext(2, 63));
    Check(rich->SetFuncCustData(2, Guid(0xA03), text.ptr()));
    Check(rich->SetParamCustData(2, 1, Guid(0xA04), text.ptr()));

    Check(events->AddImplType(0, RefTo(events.get(), StdType(u"IDispatch").get())));
    AddFunc(events.get(), 0, {u"Changed", 1, INVOKE_FUNC, d.Vt(VT_VOID), {{u"to", d.Vt(VT_I4)}}});
    AddVar(events.get(), 0, u"Busy", d.Vt(VT_BOOL), 2, VAR_DISPATCH);

    AddFunc(native.get(), 0, {u"ByName", 0x60000000, INVOKE_FUNC, d.Vt(VT_I4), {{u"count", d.Vt(VT_I4)}}});
    AddFunc(native.get(), 1, {u"ByOrdinal", 0x60000001, INVOKE_FUNC, d.Vt(VT_VOID), {}});
    Check(native->DefineFuncAsDllEntry(0, u"regen.dll", DllEntryPoint(std::u16string(u"ByNameW"))));
    Check(native->DefineFuncAsDllEntry(1, u"regen.dll", DllEntryPoint(WORD{7})));

    TYPEDESC colorDesc = d.User(RefTo(color.get(), StdType(u"OLE_COLOR").get()));
    Check(color->SetTypeDescAlias(&colorDesc));

    Check(cls->AddImplType(0, RefTo(cls.get(), rich.get())));
    Check(cls->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
    Check(cls->AddImplType(1, RefTo(cls.get(), events.get())));
    Check(cls->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));
    Check(cls->SetImplTypeCustData(1, Guid(0xA05), text.ptr()));
}

// A custom data item of every value type SetCustData accepts, inline and
// out-of-line encodings both, on the library and on a type. (VT_HRESULT is
// left out: the platform stores and reads it, but does not list it.)
void BuildCustValues(ICreateTypeLib2* lib) {
    DECIMAL dec{};
    Check(DecimalFromDouble(123456789012.0, &dec));
    std::vector<Variant> values = {
        Variant(int8_t(-5)),
        Variant(uint8_t(200)),
        Variant(int16_t(-300)),
        Variant(uint16_t(60000)),
        Variant(int32_t(7)),
        Variant(int32_t(-100000)),
        Variant(uint32_t(0xFEDCBA98)),
        Variant::Int(0x7FFFFFFF),
        Variant::UInt(42),
        Variant(int64_t(-(int64_t(1) << 40))),
        Variant(uint64_t(0x8000000000000005ull)),
        Variant(0.5f),
        Variant(-2.75),
        Variant::Currency(123456),
        Variant::Date(45000.5),
        Str(u"text value"),
        Variant(true),
        Variant::Error(static_cast<SCODE>(0x80020004)),
        Variant(dec),
        Variant::Null(),
    };
    for (uint32_t i = 0; i < values.size(); ++i) Check(lib->SetCustData(Guid(0xB00 + i), values[i].ptr()));
    auto rec = NewType(lib, u"Carrier", TKIND_RECORD, Guid(0xB80));
    Check(rec->SetCustData(Guid(0xB81), values[18].ptr()));
    Check(rec->SetCustData(Guid(0xB82), values[9].ptr()));
    AddVar(rec.get(), 0, u"field", Descs::Vt(VT_I4), MEMBERID_NIL);
}

// Automatic member ids: fixed when the functions are first read (the ids
// stay with their functions when others are deleted), those not yet fixed
// taking the depth of a new base, an explicit id in the way sending the
// function to the first free id from the function count, a property whose put
// takes the id its get was given, and variables numbered when laid out.
void BuildMemberIds(ICreateTypeLib2* lib) {
    Descs d;
    auto order = NewType(lib, u"IOrder", TKIND_INTERFACE, Guid(0x601));
    auto events = NewType(lib, u"DOrderEvents", TKIND_DISPATCH, Guid(0x602));
    auto add = [&](ICreateTypeInfo2* t, UINT at, const char16_t* name, MEMBERID id = MEMBERID_NIL) {
        AddFunc(t, at, {name, id, INVOKE_FUNC, d.Vt(t == order.get() ? VT_HRESULT : VT_VOID), {}});
    };
    Check(order->AddImplType(0, RefTo(order.get(), StdType(u"IUnknown").get())));
    for (UINT i = 0; i < 4; ++i) add(order.get(), i, std::u16string(1, static_cast<char16_t>(u'A' + i)).c_str());
    add(order.get(), 4, u"E");
    (void)testsupport::FuncIdAt(order.get(), 0);
    Check(order->DeleteFuncDesc(0));
    Check(order->DeleteFuncDesc(0));
    add(order.get(), 3, u"F");
    add(order.get(), 4, u"G");
    add(order.get(), 4, u"H");
    add(order.get(), 6, u"I", 0x60020004);
    add(order.get(), 7, u"J");
    Check(order->DeleteImplType(0));
    Check(order->AddImplType(0, RefTo(order.get(), StdType(u"IDispatch").get())));
    AddFunc(order.get(), 8,
            {u"Count", MEMBERID_NIL, INVOKE_PROPERTYGET, d.Vt(VT_HRESULT),
             {{u"value", d.Ptr(d.Vt(VT_I4)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(order.get(), 9,
            {u"Count", testsupport::FuncIdAt(order.get(), 8), INVOKE_PROPERTYPUT, d.Vt(VT_HRESULT),
             {{u"value", d.Vt(VT_I4)}}});

    Check(events->AddImplType(0, RefTo(events.get(), StdType(u"IDispatch").get())));
    AddVar(events.get(), 0, u"Busy", d.Vt(VT_BOOL), MEMBERID_NIL, VAR_DISPATCH);
    AddVar(events.get(), 1, u"Level", d.Vt(VT_I4), MEMBERID_NIL, VAR_DISPATCH);
    add(events.get(), 0, u"Started");
    add(events.get(), 1, u"Stopped");
}

}  // namespace

// What creation calls leave as the platform leaves it: an interface stays
// dispatchable after its IDispatch base was replaced, and defaults given as
// INT and UINT are stored as I4 and UI4 (a VARIANT parameter keeps INT).
void BuildCalls(ICreateTypeLib2* lib) {
    Descs d;
    auto shape = NewType(lib, u"IShape", TKIND_INTERFACE, Guid(0x701));
    Check(shape->AddImplType(0, RefTo(shape.get(), StdType(u"IDispatch").get())));
    Check(shape->DeleteImplType(0));
    Check(shape->AddImplType(0, RefTo(shape.get(), StdType(u"IUnknown").get())));
    const USHORT opt = PARAMFLAG_FIN | PARAMFLAG_FOPT;
    AddFunc(shape.get(), 0,
            {u"Scale", MEMBERID_NIL, INVOKE_FUNC, d.Vt(VT_HRESULT),
             {{u"by", d.Vt(VT_INT), opt, Variant::Int(-2)},
              {u"times", d.Vt(VT_UINT), opt, Variant::UInt(3)},
              {u"any", d.Vt(VT_VARIANT), opt, Variant::Int(4)}}});
}

const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = {"kinds", "interfaces", "helpdata", "regen", "custvalues", "memberids", "calls"};
    return names;
}

std::string Folder() { return std::string(ZEPHRIN_TEST_DATA_DIR) + "/golden"; }

HRESULT Build(const std::string& name, const std::u16string& path, ICreateTypeLib2** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        ComPtr<ICreateTypeLib2> lib;
        if (name == "kinds") {
            lib = NewLibrary(path, u"GoldenKinds", 0x100, 0);
            BuildKinds(lib.get());
        } else if (name == "interfaces") {
            lib = NewLibrary(path, u"GoldenInterfaces", 0x200, 0x409);
            BuildInterfaces(lib.get());
        } else if (name == "helpdata") {
            lib = NewLibrary(path, u"GoldenHelp", 0x300, 0x407);
            BuildHelp(lib.get());
        } else if (name == "regen") {
            lib = NewLibrary(path, u"GoldenRegen", 0x400, 0);
            BuildRegen(lib.get());
        } else if (name == "custvalues") {
            lib = NewLibrary(path, u"GoldenCustValues", 0x600, 0);
            BuildCustValues(lib.get());
        } else if (name == "memberids") {
            lib = NewLibrary(path, u"GoldenMemberIds", 0x600, 0);
            BuildMemberIds(lib.get());
        } else if (name == "calls") {
            lib = NewLibrary(path, u"GoldenCalls", 0x700, 0);
            BuildCalls(lib.get());
        } else {
            return E_INVALIDARG;
        }
        *out = lib.Detach();
        return S_OK;
    } catch (const Failure& f) {
        return f.hr;
    }
}

}  // namespace golden
