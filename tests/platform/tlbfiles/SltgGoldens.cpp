#include "SltgGoldens.h"

#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"

#include <cstdio>
#include <sstream>

namespace ole::sltgtest {
namespace {

TypeDescData T(VARTYPE vt, HREFTYPE href = 0)
{
    TypeDescData t;
    t.vt = vt;
    t.href = href;
    return t;
}
TypeDescData Wrap(VARTYPE vt, TypeDescData e)
{
    TypeDescData t = T(vt);
    t.SetElement(std::move(e));
    return t;
}
TypeDescData Ptr(TypeDescData e) { return Wrap(VT_PTR, std::move(e)); }
TypeDescData Udt(HREFTYPE h) { return T(VT_USERDEFINED, h); }
TypeDescData SafeArray(TypeDescData e) { return Wrap(VT_SAFEARRAY, std::move(e)); }
TypeDescData CArray(TypeDescData e, std::vector<SAFEARRAYBOUND> b)
{
    TypeDescData t = Wrap(VT_CARRAY, std::move(e));
    t.MutableBounds() = std::move(b);
    return t;
}

GUID G(uint32_t d1, uint16_t d2) { return GUID{d1, d2, 0x4A5B, {0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}}; }

VarData Const(std::u16string name, MEMBERID id, VARTYPE vt, Variant value)
{
    VarData v;
    v.name = std::move(name);
    v.memid = id;
    v.varkind = VAR_CONST;
    v.type = T(vt);
    v.constValue = std::move(value);
    return v;
}
VarData Field(std::u16string name, MEMBERID id, TypeDescData type, ULONG offset)
{
    VarData v;
    v.name = std::move(name);
    v.memid = id;
    v.varkind = VAR_PERINSTANCE;
    v.type = std::move(type);
    v.oInst = offset;
    return v;
}
ParamData Param(std::u16string name, TypeDescData type, USHORT flags)
{
    ParamData p;
    p.name = std::move(name);
    p.type = std::move(type);
    p.flags = flags;
    return p;
}
FuncData Func(std::u16string name, MEMBERID id, FUNCKIND kind, INVOKEKIND inv, TypeDescData ret, SHORT oVft,
              std::vector<ParamData> params)
{
    FuncData f;
    f.name = std::move(name);
    f.memid = id;
    f.funckind = kind;
    f.invkind = inv;
    f.returnType = std::move(ret);
    f.oVft = oVft;
    f.params = std::move(params);
    return f;
}
TypeData Type(std::u16string name, TYPEKIND kind, GUID guid, WORD flags, ULONG size, WORD align, WORD vft = 0)
{
    TypeData t;
    t.name = std::move(name);
    t.kind = kind;
    t.guid = guid;
    t.flags = flags;
    t.cbSizeInstance = size;
    t.cbAlignment = align;
    t.alignmentSetting = align;
    t.cbSizeVft = vft;
    return t;
}
RefData Internal(HREFTYPE h, int index)
{
    RefData r;
    r.href = h;
    r.kind = RefKind::Internal;
    r.typeIndex = index;
    return r;
}
RefData Imported(HREFTYPE h, int lib, int index)
{
    RefData r;
    r.href = h;
    r.kind = RefKind::Imported;
    r.importLib = lib;
    r.byGuid = false;
    r.importTypeIndex = index;
    return r;
}
LibraryData Library(std::u16string name, GUID guid)
{
    LibraryData l;
    l.name = std::move(name);
    l.guid = guid;
    l.lcid = 0x409;
    l.syskind = SYS_WIN32;
    return l;
}
void FinishTypes(LibraryData& l)
{
    for (auto& t : l.types) t.lcid = l.lcid;
}

// Every kind of data type: enum, record, union, aliases, a module.
LibraryData Kinds(bool full)
{
    LibraryData l = Library(u"SltgKinds", G(0x5E170001, 1));
    l.majorVersion = 1;
    l.minorVersion = 2;
    l.docString = u"Kinds of types";
    l.helpFile = u"kinds.hlp";
    l.libFlags = LIBFLAG_FHIDDEN;
    l.lcid = 0;
    if (full) {
        l.helpContext = 7;
        l.lcid = 7;
    }

    TypeData e = Type(u"Colour", TKIND_ENUM, G(0x5E170002, 2), 0, 4, 4);
    e.vars.push_back(Const(u"Red", 0x40000000, VT_I4, Variant::Int(0)));
    e.vars.push_back(Const(u"Green", 0x40000001, VT_I4, Variant::Int(300)));
    e.vars.push_back(Const(u"Big", 0x40000002, VT_I4, Variant::Int(70000)));
    e.vars.push_back(Const(u"Minus", 0x40000003, VT_I4, Variant::Int(-1)));
    l.types.push_back(e);

    TypeData r = Type(u"Point", TKIND_RECORD, G(0x5E170003, 3), 0, 24, 4);
    r.vars.push_back(Field(u"x", 0x40000000, T(VT_I4), 0));
    r.vars.push_back(Field(u"y", 0x40000001, T(VT_I4), 4));
    r.vars.push_back(Field(u"tag", 0x40000002, Ptr(T(VT_I2)), 8));
    r.vars.push_back(Field(u"cells", 0x40000003, CArray(T(VT_I2), {{3, 0}, {2, 1}}), 12));
    if (full) {
        r.vars.push_back(Field(u"colour", 0x40000004, Udt(0), 24));
        r.vars.push_back(Field(u"self", 0x40000005, Ptr(Udt(4)), 28));
        r.vars.back().docString = u"Next point \u00BB 1\u20AC";
        r.vars.back().helpContext = 12;
        r.cbSizeInstance = 32;
    }
    l.types.push_back(r);

    TypeData u = Type(u"Either", TKIND_UNION, GUID{}, 0, 8, 8);
    u.vars.push_back(Field(u"a", 0x40000000, T(VT_I4), 0));
    u.vars.push_back(Field(u"b", 0x40000001, T(VT_R8), 0));
    if (full) l.types.push_back(u);

    TypeData a = Type(u"Handle", TKIND_ALIAS, GUID{}, 0, 4, 4);
    a.aliasType = T(VT_I4);
    l.types.push_back(a);

    TypeData ap = Type(u"PointPtr", TKIND_ALIAS, GUID{}, 0, 4, 4);
    ap.aliasType = Ptr(Udt(4));
    TypeData ac = Type(u"ColourAlias", TKIND_ALIAS, GUID{}, 0, 4, 4);
    ac.aliasType = Udt(0);
    l.types.push_back(ap);
    l.types.push_back(ac);

    TypeData m = Type(u"Helpers", TKIND_MODULE, G(0x5E170004, 4), 0, 0, 4);
    m.vars.push_back(Const(u"Version", 0x40000000, VT_BSTR, Variant(std::u16string_view(u"1.0"))));
    FuncData add = Func(u"Add", 0x60000000, FUNC_STATIC, INVOKE_FUNC, T(VT_I4), 0,
                        {Param(u"a", T(VT_I4), PARAMFLAG_FIN), Param(u"b", T(VT_I4), PARAMFLAG_FIN)});
    add.callconv = CC_STDCALL;
    m.funcs.push_back(add);
    l.types.push_back(m);

    l.refs.push_back(Internal(0, 0));
    l.refs.push_back(Internal(4, 1));
    FinishTypes(l);
    return l;
}

ImportLibData StdOle()
{
    ImportLibData i;
    i.guid = kStdOleLibGuid;
    i.majorVersion = 2;
    i.minorVersion = 0;
    i.fileName = u"stdole2.tlb";
    return i;
}

// Interfaces, a dispinterface, a dual interface and a coclass, with help
// strings and references to the standard library.
LibraryData Objects(bool full)
{
    LibraryData l = Library(u"SltgObjects", G(0x5E170010, 0x10));
    l.lcid = full ? 9 : 0;
    l.majorVersion = 3;
    l.docString = u"Shapes and pens";
    l.imports.push_back(StdOle());
    l.refs.push_back(Imported(1, 0, 3));  // IUnknown
    l.refs.push_back(Imported(5, 0, 4));  // IDispatch
    l.refs.push_back(Internal(0, 0));
    l.refs.push_back(Internal(4, 1));
    l.refs.push_back(Internal(8, 2));

    TypeData s = Type(u"IShape", TKIND_INTERFACE, G(0x5E170011, 0x11), TYPEFLAG_FHIDDEN | TYPEFLAG_FOLEAUTOMATION, 4, 4, 32);
    if (full) s.docString = u"A shape on the page";
    s.helpContext = 100;
    s.majorVersion = 1;
    s.minorVersion = 5;
    s.implTypes.push_back({1, 0, {}});
    FuncData area = Func(u"Area", 0x60010000, FUNC_PUREVIRTUAL, INVOKE_FUNC, T(VT_HRESULT), 12,
                         {Param(u"value", Ptr(T(VT_R8)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)});
    if (full) {
        area.docString = u"The area of the shape";
        area.helpContext = 101;
    }
    s.funcs.push_back(area);
    FuncData move = Func(u"Move", 0x60010001, FUNC_PUREVIRTUAL, INVOKE_FUNC, T(VT_HRESULT), 16,
                         {Param(u"dx", T(VT_I4), PARAMFLAG_FIN), Param(u"dy", T(VT_I4), PARAMFLAG_FIN),
                          Param(u"how", T(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT)});
    move.cParamsOpt = 1;
    s.funcs.push_back(move);
    s.funcs.push_back(Func(u"Name", 0x60010002, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, T(VT_HRESULT), 20,
                           {Param(u"value", Ptr(T(VT_BSTR)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)}));
    s.funcs.push_back(Func(u"Name", 0x60010002, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, T(VT_HRESULT), 24,
                           {Param(u"", T(VT_BSTR), PARAMFLAG_FIN)}));
    FuncData use = Func(u"Use", 0x60010004, FUNC_PUREVIRTUAL, INVOKE_FUNC, T(VT_HRESULT), 28,
                        {Param(u"other", Ptr(Udt(0)), PARAMFLAG_FIN), Param(u"lcid", T(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FLCID),
                         Param(u"io", Ptr(T(VT_VARIANT)), PARAMFLAG_FIN | PARAMFLAG_FOUT),
                         Param(u"list", Ptr(Ptr(Udt(8))), PARAMFLAG_FIN), Param(u"names", SafeArray(T(VT_BSTR)), PARAMFLAG_FIN)});
    if (full) use.params.push_back(Param(u"", Ptr(Ptr(Udt(8))), PARAMFLAG_FIN | PARAMFLAG_FOUT));
    use.flags = FUNCFLAG_FHIDDEN;
    use.callconv = CC_CDECL;
    s.funcs.push_back(use);
    l.types.push_back(s);

    TypeData d = Type(u"DShapeEvents", TKIND_DISPATCH, G(0x5E170012, 0x12), TYPEFLAG_FDISPATCHABLE, 4, 4, 28);
    if (full) d.docString = u"Events of a shape";
    d.implTypes.push_back({5, 0, {}});
    FuncData changed = Func(u"Changed", 1, FUNC_DISPATCH, INVOKE_FUNC, T(VT_VOID), 0, {Param(u"what", T(VT_BSTR), PARAMFLAG_FIN)});
    changed.docString = u"The shape changed";
    changed.helpContext = 200;
    if (full) d.funcs.push_back(changed);
    VarData count;
    count.name = u"Count";
    count.memid = 2;
    count.varkind = VAR_DISPATCH;
    count.type = T(VT_I4);
    count.flags = VARFLAG_FREADONLY;
    if (full) {
        count.docString = u"How many";
        count.helpContext = 201;
    }
    d.vars.push_back(count);
    l.types.push_back(d);

    TypeData p = Type(u"IPen", TKIND_INTERFACE, G(0x5E170013, 0x13), TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, 4, 4, 32);
    p.implTypes.push_back({5, 0, {}});
    p.funcs.push_back(Func(u"Width", 1, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, T(VT_HRESULT), 28,
                           {Param(u"value", Ptr(T(VT_I4)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)}));
    l.types.push_back(p);

    TypeData c = Type(u"Shape", TKIND_COCLASS, G(0x5E170014, 0x14), TYPEFLAG_FCANCREATE, 4, 4);
    if (full) c.docString = u"A shape";
    c.implTypes.push_back({0, IMPLTYPEFLAG_FDEFAULT, {}});
    c.implTypes.push_back({4, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, {}});
    c.implTypes.push_back({8, 0, {}});
    l.types.push_back(c);
    FinishTypes(l);
    return l;
}

// Inheritance inside the library (also from a dual interface), property
// accessors of every kind, type flags in both flag bytes, impltype flags.
LibraryData Inheritance(bool full)
{
    LibraryData l = Library(u"SltgInheritance", G(0x5E170020, 0x20));
    l.lcid = full ? 0x0C : 0;
    l.majorVersion = 1;
    l.minorVersion = 7;
    l.libFlags = LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL;
    l.helpFile = u"inherit.chm";
    l.imports.push_back(StdOle());
    l.refs.push_back(Imported(1, 0, 3));  // IUnknown
    l.refs.push_back(Imported(5, 0, 4));  // IDispatch
    l.refs.push_back(Internal(0, 0));     // IBase
    l.refs.push_back(Internal(4, 1));     // IDerived
    l.refs.push_back(Internal(8, 2));     // IDualBase (the coclass's view)
    l.refs.push_back(Internal(12, 3));    // IDualDerived
    RefData half = Internal(10, 2);       // IDualBase's vtable half, base of IDualDerived
    half.dualInterface = true;
    l.refs.push_back(half);

    TypeData b = Type(u"IBase", TKIND_INTERFACE, G(0x5E170021, 0x21), TYPEFLAG_FOLEAUTOMATION, 4, 4, 16);
    b.implTypes.push_back({1, 0, {}});
    b.funcs.push_back(Func(u"Ping", 0x60010000, FUNC_PUREVIRTUAL, INVOKE_FUNC, T(VT_HRESULT), 12, {}));
    l.types.push_back(b);

    TypeData d = Type(u"IDerived", TKIND_INTERFACE, G(0x5E170022, 0x22),
                      TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FRESTRICTED, 4, 4, 24);
    d.majorVersion = 2;
    d.minorVersion = 3;
    d.helpContext = 0x12345;
    d.implTypes.push_back({0, 0, {}});
    FuncData pong = Func(u"Pong", 0x60020000, FUNC_PUREVIRTUAL, INVOKE_FUNC, T(VT_VOID), 16,
                         {Param(u"times", T(VT_UI2), PARAMFLAG_FIN), Param(u"base", Ptr(Udt(0)), PARAMFLAG_FOUT)});
    pong.callconv = CC_CDECL;
    pong.flags = FUNCFLAG_FRESTRICTED | FUNCFLAG_FSOURCE;
    d.funcs.push_back(pong);
    d.funcs.push_back(Func(u"Level", 0x60020001, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, T(VT_I4), 20, {}));
    l.types.push_back(d);

    WORD dualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    TypeData db = Type(u"IDualBase", TKIND_INTERFACE, G(0x5E170023, 0x23), dualFlags | TYPEFLAG_FHIDDEN, 4, 4, 32);
    db.implTypes.push_back({5, 0, {}});
    db.funcs.push_back(Func(u"Value", 0, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, T(VT_HRESULT), 28,
                            {Param(u"v", Ptr(T(VT_VARIANT)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)}));
    l.types.push_back(db);

    TypeData dd = Type(u"IDualDerived", TKIND_INTERFACE, G(0x5E170024, 0x24), dualFlags, 4, 4, 40);
    dd.implTypes.push_back({10, 0, {}});
    dd.funcs.push_back(Func(u"Value", 0, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, T(VT_HRESULT), 32,
                            {Param(u"v", T(VT_VARIANT), PARAMFLAG_FIN)}));
    dd.funcs.push_back(Func(u"Value", 0, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUTREF, T(VT_HRESULT), 36,
                            {Param(u"v", T(VT_DISPATCH), PARAMFLAG_FIN)}));
    l.types.push_back(dd);

    TypeData c = Type(u"Thing", TKIND_COCLASS, G(0x5E170025, 0x25),
                      TYPEFLAG_FCANCREATE | TYPEFLAG_FAPPOBJECT | TYPEFLAG_FCONTROL | TYPEFLAG_FLICENSED |
                          TYPEFLAG_FPREDECLID | TYPEFLAG_FAGGREGATABLE | TYPEFLAG_FREPLACEABLE,
                      4, 4);
    c.majorVersion = 4;
    c.implTypes.push_back({12, IMPLTYPEFLAG_FDEFAULT, {}});
    c.implTypes.push_back({4, IMPLTYPEFLAG_FRESTRICTED | IMPLTYPEFLAG_FDEFAULTVTABLE, {}});
    c.implTypes.push_back({8, 0, {}});
    l.types.push_back(c);

    TypeData m = Type(u"Api", TKIND_MODULE, G(0x5E170026, 0x26), 0, 0, 4);
    m.funcs.push_back(Func(u"Start", 0x60000000, FUNC_STATIC, INVOKE_FUNC, T(VT_BOOL), 0,
                           {Param(u"name", T(VT_LPSTR), PARAMFLAG_FIN), Param(u"wide", T(VT_LPWSTR), PARAMFLAG_FIN)}));
    FuncData stop = Func(u"Stop", 0x60000001, FUNC_STATIC, INVOKE_FUNC, T(VT_VOID), 0,
                         {Param(u"code", T(VT_I8), PARAMFLAG_FIN | PARAMFLAG_FOPT), Param(u"when", T(VT_DATE), PARAMFLAG_FIN | PARAMFLAG_FOPT)});
    stop.callconv = CC_CDECL;
    stop.cParamsOpt = 2;
    m.funcs.push_back(stop);
    m.vars.push_back(Const(u"Greeting", 0x40000000, VT_BSTR, Variant(std::u16string_view(u"Hello, \"world\""))));
    m.vars.push_back(Const(u"Empty", 0x40000001, VT_BSTR, Variant(std::u16string_view(u""))));
    m.vars.push_back(Const(u"Mask", 0x40000002, VT_UI4, Variant::Int(static_cast<INT>(0x80000000u))));
    l.types.push_back(m);
    FinishTypes(l);
    return l;
}

// What older compilers store and the reference dumper does not show: help
// strings of types and members, and a dual whose stored flags lack
// FDISPATCHABLE; and an LCID with a sub-language (0x409), read as 0. Its
// IDispatch comes from stdole version 1.0.
LibraryData Older()
{
    LibraryData l = Library(u"SltgOlder", G(0x5E170030, 0x30));
    l.docString = u"Older form";
    l.imports.push_back(StdOle());
    l.imports.back().majorVersion = 1;
    l.imports.back().fileName = u"stdole32.tlb";
    l.refs.push_back(Imported(1, 0, 4));  // IDispatch
    TypeData e = Type(u"Tone", TKIND_ENUM, G(0x5E170031, 0x31), 0, 4, 4);
    e.docString = u"Tones of a pen";
    e.vars.push_back(Const(u"Loud", 0x40000000, VT_I4, Variant::Int(1)));
    e.vars.back().docString = u"A loud tone";
    l.types.push_back(e);
    TypeData p = Type(u"IOldPen", TKIND_INTERFACE, G(0x5E170032, 0x32), TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION, 4, 4, 32);
    p.docString = u"An old pen";
    p.implTypes.push_back({1, 0, {}});
    p.funcs.push_back(Func(u"Width", 1, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, T(VT_HRESULT), 28,
                           {Param(u"value", Ptr(T(VT_I4)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)}));
    p.funcs.back().docString = u"The pen width";
    l.types.push_back(p);
    FinishTypes(l);
    return l;
}

// References whose index lies past the type's reference table (an alias
// whose type has no table at all among them): the library reads, and each
// such reference leads nowhere.
LibraryData Nowhere()
{
    LibraryData l = Library(u"SltgNowhere", G(0x5E170040, 0x40));
    l.lcid = 0;
    l.imports.push_back(StdOle());
    l.refs = {Internal(0, 0), Internal(4, 1), Internal(12, 3), Imported(1, 0, 3)};
    RefData nowhere;
    nowhere.href = 3;
    nowhere.kind = RefKind::Missing;
    l.refs.push_back(nowhere);
    TypeData e = Type(u"Shade", TKIND_ENUM, G(0x5E170041, 0x41), 0, 4, 4);
    e.vars.push_back(Const(u"Light", 0x40000000, VT_I4, Variant::Int(0)));
    l.types.push_back(e);
    TypeData known = Type(u"ShadeAlias", TKIND_ALIAS, GUID{}, 0, 4, 4);
    known.aliasType = Udt(0);
    l.types.push_back(known);
    TypeData lost = Type(u"Lost", TKIND_ALIAS, GUID{}, 0, 4, 4);
    lost.aliasType = Udt(3);
    l.types.push_back(lost);
    TypeData i = Type(u"IPaint", TKIND_INTERFACE, G(0x5E170042, 0x42), 0, 4, 4, 20);
    i.implTypes.push_back({1, 0, {}});
    i.funcs.push_back(Func(u"Fill", 0x60010000, FUNC_PUREVIRTUAL, INVOKE_FUNC, T(VT_HRESULT), 12,
                           {Param(u"shade", Udt(0), PARAMFLAG_FIN), Param(u"where", Ptr(Udt(3)), PARAMFLAG_FIN)}));
    i.funcs.push_back(Func(u"Mix", 0x60010001, FUNC_PUREVIRTUAL, INVOKE_FUNC, T(VT_HRESULT), 16,
                           {Param(u"shade", Udt(4), PARAMFLAG_FIN)}));
    l.types.push_back(i);
    TypeData d = Type(u"DPaint", TKIND_DISPATCH, G(0x5E170043, 0x43), TYPEFLAG_FDISPATCHABLE, 4, 4, 28);
    d.implTypes.push_back({3, 0, {}});
    VarData tone = Field(u"Tone", 1, Udt(0), 0);
    tone.varkind = VAR_DISPATCH;
    d.vars.push_back(tone);
    l.types.push_back(d);
    TypeData c = Type(u"Painter", TKIND_COCLASS, G(0x5E170044, 0x44), TYPEFLAG_FCANCREATE, 4, 4);
    c.implTypes.push_back({12, IMPLTYPEFLAG_FDEFAULT, {}});
    c.implTypes.push_back({3, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, {}});
    l.types.push_back(c);
    FinishTypes(l);
    return l;
}

// Two plain dispinterfaces whose implemented-type records hold their variable
// counts (2, past DFirst's one-entry reference table; 1, DSecond's entry for
// an alias) and whose base is the library's IDispatch, the first reference to
// it in any type (IHost's second entry). Read-only variables with and without
// a flags word; vtable words 0xFFFF (dispatch functions, read as 0) and with
// their low bit set (read without it). (The platform fails to read a function
// of DFirst, whatever it holds, so it has none.)
LibraryData Dispatch()
{
    LibraryData l = Library(u"SltgDispatch", G(0x5E170050, 0x50));
    l.lcid = 0;
    l.imports.push_back(StdOle());
    l.refs = {Imported(1, 0, 3), Imported(5, 0, 4), Internal(0, 0), Internal(4, 1)};  // IUnknown, IDispatch
    TypeData level = Type(u"Level", TKIND_ALIAS, GUID{}, 0, 4, 4);
    level.aliasType = T(VT_I4);
    l.types.push_back(level);
    TypeData host = Type(u"IHost", TKIND_INTERFACE, G(0x5E170051, 0x51), 0, 4, 4, 16);
    host.implTypes.push_back({1, 0, {}});
    host.funcs.push_back(Func(u"Attach", 0x60010000, FUNC_PUREVIRTUAL, INVOKE_FUNC, T(VT_HRESULT), 12,
                              {Param(u"to", Ptr(Udt(5)), PARAMFLAG_FIN)}));
    l.types.push_back(host);
    auto property = [](std::u16string name, MEMBERID id, TypeDescData type, WORD flags) {
        VarData v = Field(std::move(name), id, std::move(type), 0);
        v.varkind = VAR_DISPATCH;
        v.flags = flags;
        return v;
    };
    TypeData first = Type(u"DFirst", TKIND_DISPATCH, G(0x5E170052, 0x52), TYPEFLAG_FDISPATCHABLE, 4, 4, 28);
    first.implTypes.push_back({5, 0, {}});
    first.vars.push_back(property(u"Count", 1, Udt(0), VARFLAG_FREADONLY));
    first.vars.push_back(property(u"Hidden", 2, T(VT_BSTR), VARFLAG_FREADONLY | VARFLAG_FHIDDEN));
    l.types.push_back(first);
    TypeData second = Type(u"DSecond", TKIND_DISPATCH, G(0x5E170053, 0x53), TYPEFLAG_FDISPATCHABLE, 4, 4, 28);
    second.implTypes.push_back({5, 0, {}});
    second.vars.push_back(property(u"Host", 1, Ptr(Udt(4)), 0));
    second.funcs.push_back(Func(u"Tune", 2, FUNC_DISPATCH, INVOKE_FUNC, T(VT_VOID), 0, {Param(u"level", Udt(0), PARAMFLAG_FIN)}));
    l.types.push_back(second);
    FinishTypes(l);
    return l;
}

}  // namespace

Golden DispatchForm() { return {"dispatch", Dispatch(), BuildOptions{.olderForms = true}}; }

Golden OlderForm() { return {"older", Older()}; }

Golden NowhereForm() { return {"nowhere", Nowhere()}; }

std::vector<Golden> Goldens() { return {{"kinds", Kinds(false)}, {"objects", Objects(false)}, {"inheritance", Inheritance(false)}}; }

std::vector<Golden> FullDescriptions() { return {{"kinds", Kinds(true)}, {"objects", Objects(true)}, {"inheritance", Inheritance(true)}}; }

}  // namespace ole::sltgtest

namespace ole::sltgtest {
namespace {

std::string Ref(const LibraryData& lib, HREFTYPE h)
{
    for (const auto& r : lib.refs) {
        if (r.href != h) continue;
        if (r.kind == RefKind::Internal)
            return "own#" + std::to_string(r.typeIndex) + (r.dualInterface ? "(vtable)" : "");
        if (r.kind == RefKind::Imported) {
            const auto& i = lib.imports.at(static_cast<size_t>(r.importLib));
            return "import " + GuidToUtf8(i.guid) + " v" + std::to_string(i.majorVersion) + "." +
                   std::to_string(i.minorVersion) + " lcid " + std::to_string(i.lcid) + " " + ToUtf8(i.fileName) +
                   (r.byGuid ? " guid " + GuidToUtf8(r.typeGuid) : " #" + std::to_string(r.importTypeIndex));
        }
        return "other";
    }
    return "missing";
}

std::string Type(const LibraryData& lib, const TypeDescData& t)
{
    switch (t.vt) {
    case VT_PTR: return "ptr(" + Type(lib, t.element.at(0)) + ")";
    case VT_SAFEARRAY: return "safearray(" + Type(lib, t.element.at(0)) + ")";
    case VT_CARRAY: {
        std::string s = "carray(";
        for (const auto& b : t.Bounds()) s += "[" + std::to_string(b.lLbound) + "+" + std::to_string(b.cElements) + "]";
        return s + Type(lib, t.element.at(0)) + ")";
    }
    case VT_USERDEFINED: return "udt(" + Ref(lib, t.href) + ")";
    default: return "vt" + std::to_string(t.vt);
    }
}

std::string Value(const std::optional<Variant>& v)
{
    if (!v) return "none";
    return "vt" + std::to_string(v->vt()) + ":" + ToUtf8(v->ToText());
}

}  // namespace

std::string Describe(const LibraryData& lib)
{
    std::ostringstream o;
    o << "library " << ToUtf8(lib.name) << " " << GuidToUtf8(lib.guid) << " v" << lib.majorVersion << "." << lib.minorVersion
      << " lcid " << lib.lcid << " sys " << lib.syskind << " flags " << lib.libFlags << " doc \"" << ToUtf8(lib.docString)
      << "\" help \"" << ToUtf8(lib.helpFile) << "\" ctx " << lib.helpContext << "\n";
    for (size_t i = 0; i < lib.types.size(); ++i) {
        const auto& t = lib.types[i];
        o << "type " << i << " " << ToUtf8(t.name) << " kind " << t.kind << " " << GuidToUtf8(t.guid) << " flags " << t.flags
          << " v" << t.majorVersion << "." << t.minorVersion << " lcid " << t.lcid << " doc \"" << ToUtf8(t.docString)
          << "\" ctx " << t.helpContext << " size " << t.cbSizeInstance << " align " << t.cbAlignment << "/"
          << t.alignmentSetting << " vft " << t.cbSizeVft << "\n";
        if (t.kind == TKIND_ALIAS) o << "  alias " << Type(lib, t.aliasType) << "\n";
        for (const auto& it : t.implTypes) o << "  impl " << Ref(lib, it.href) << " flags " << it.flags << "\n";
        for (const auto& f : t.funcs) {
            o << "  func " << ToUtf8(f.name) << " id " << f.memid << " kind " << f.funckind << " inv " << f.invkind
              << " cc " << f.callconv << " opt " << f.cParamsOpt << " vft " << f.oVft << " flags " << f.flags << " ret "
              << Type(lib, f.returnType) << "/" << f.returnFlags << " doc \"" << ToUtf8(f.docString) << "\" ctx "
              << f.helpContext << "\n";
            for (const auto& p : f.params)
                o << "    param " << ToUtf8(p.name) << " " << Type(lib, p.type) << " flags " << p.flags << "\n";
        }
        for (const auto& v : t.vars)
            o << "  var " << ToUtf8(v.name) << " id " << v.memid << " kind " << v.varkind << " flags " << v.flags << " "
              << Type(lib, v.type) << "/" << v.elemFlags << " at " << v.oInst << " value " << Value(v.constValue)
              << " doc \"" << ToUtf8(v.docString) << "\" ctx " << v.helpContext << "\n";
    }
    return o.str();
}

}  // namespace ole::sltgtest
