// The sample library "Shapes", built through the creation interfaces: one of
// every type kind, with the parameter, array and alias shapes readers must
// report.
#pragma once

#include "support/TypeLibBuilder.h"

namespace testsupport {

inline constexpr GUID kShapesLibGuid = {0x6A1C0E55, 0x1B0D, 0x4E6C, {0x8F, 0x11, 0x20, 0x33, 0x44, 0x55, 0x66, 0x01}};
inline constexpr GUID kShapeIid = {0x6A1C0E55, 0x1B0D, 0x4E6C, {0x8F, 0x11, 0x20, 0x33, 0x44, 0x55, 0x66, 0x02}};
inline constexpr GUID kCountDataGuid = {0x6A1C0E55, 0x1B0D, 0x4E6C, {0x8F, 0x11, 0x20, 0x33, 0x44, 0x55, 0x66, 0x03}};

// library Shapes (v1.2, LCID 0x409, hidden, "Sample shapes") {
//   enum Colors { Red = 0, Green = 1 };
//   module Kernel { const long Answer = 42; const BSTR Greeting = "hi";
//     [dllname("kernel32.dll"), entry("Beep")] void Beep([in] long freq);
//     [dllname("kernel32.dll"), entry(7)] long ByOrdinal(); };
//   struct Matrix { long* cells[2][3]; SAFEARRAY(long*)* rows; IDispatch* owner;
//                   IShape* shape; long one[1..4]; };
//   [dual, oleautomation] interface IShape : IDispatch {
//     [propget] HRESULT Name([out, retval] BSTR* name);
//     [propput] HRESULT Name([in] BSTR);
//     HRESULT Area([in] double scale, [in, lcid] long lcid, [out, retval] double* area);
//     HRESULT Fill([in, optional, defaultvalue(5)] long count, [in, optional] VARIANT extra);  (cParamsOpt 1)
//     [vararg] HRESULT Sum([in] SAFEARRAY(VARIANT)* values);
//     [hidden, restricted] HRESULT _Hidden();
//     HRESULT Zoom([in] long factor);
//     HRESULT Early([in, optional] VARIANT first, [in] long second); };
//   dispinterface DShapeEvents { properties: VARIANT_BOOL Visible; methods: void Clicked(); };
//   typedef long* LongPtr; typedef IShape ShapeAlias; typedef LongPtr LongPtrAlias;
//   coclass Shape { [default] interface IShape; [default, source] dispinterface DShapeEvents; };
// }
// The parameter count of Fill carries custom data {kCountDataGuid} = "tenth".
// file: where SaveAllChanges writes it ("" for in memory).
inline ComPtr<ICreateTypeLib2> BuildShapes(const std::u16string& file = u"") {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Shapes", file);
    if (!lib) return lib;
    EXPECT_OK(lib->SetGuid(kShapesLibGuid));
    EXPECT_OK(lib->SetVersion(1, 2));
    EXPECT_OK(lib->SetLcid(0x409));
    EXPECT_OK(lib->SetLibFlags(LIBFLAG_FHIDDEN));
    EXPECT_OK(lib->SetDocString(u"Sample shapes"));

    auto colors = NewType(lib.get(), u"Colors", TKIND_ENUM);
    auto kernel = NewType(lib.get(), u"Kernel", TKIND_MODULE);
    auto matrix = NewType(lib.get(), u"Matrix", TKIND_RECORD);
    auto shape = NewType(lib.get(), u"IShape", TKIND_INTERFACE);
    auto events = NewType(lib.get(), u"DShapeEvents", TKIND_DISPATCH);
    auto longPtr = NewType(lib.get(), u"LongPtr", TKIND_ALIAS);
    auto shapeAlias = NewType(lib.get(), u"ShapeAlias", TKIND_ALIAS);
    auto longPtrAlias = NewType(lib.get(), u"LongPtrAlias", TKIND_ALIAS);
    auto coclass = NewType(lib.get(), u"Shape", TKIND_COCLASS);
    ComPtr<ITypeInfo> dispatch = StdOle2Type(kIID_IDispatch);
    if (!colors || !kernel || !matrix || !shape || !events || !longPtr || !shapeAlias || !longPtrAlias ||
        !coclass || !dispatch)
        return nullptr;
    TypeDescs td;

    const Variant red = Variant::Int(0), green = Variant::Int(1), answer(int32_t{42}), greeting(u"hi");
    AddVar(colors.get(), 0, u"Red", Vt(VT_INT), VAR_CONST, &red);
    AddVar(colors.get(), 1, u"Green", Vt(VT_INT), VAR_CONST, &green);
    AddVar(kernel.get(), 0, u"Answer", Vt(VT_I4), VAR_CONST, &answer);
    AddVar(kernel.get(), 1, u"Greeting", Vt(VT_BSTR), VAR_CONST, &greeting);
    AddFunc(kernel.get(), 0, {.name = u"Beep", .ret = Vt(VT_VOID), .params = {{u"freq", Vt(VT_I4)}}, .kind = FUNC_STATIC});
    AddFunc(kernel.get(), 1, {.name = u"ByOrdinal", .ret = Vt(VT_I4), .kind = FUNC_STATIC});
    EXPECT_OK(kernel->DefineFuncAsDllEntry(0, u"kernel32.dll", DllEntryPoint(std::u16string(u"Beep"))));
    EXPECT_OK(kernel->DefineFuncAsDllEntry(1, u"kernel32.dll", DllEntryPoint(WORD{7})));

    AddVar(matrix.get(), 0, u"cells", td.CArray(td.Ptr(Vt(VT_I4)), {{0, 2}, {0, 3}}));
    AddVar(matrix.get(), 1, u"rows", td.Ptr(td.SafeArray(td.Ptr(Vt(VT_I4)))));
    AddVar(matrix.get(), 2, u"owner", td.Ptr(User(RefTo(matrix.get(), dispatch.get()))));
    AddVar(matrix.get(), 3, u"shape", td.Ptr(User(RefTo(matrix.get(), shape.get()))));
    AddVar(matrix.get(), 4, u"one", td.CArray(Vt(VT_I4), {{1, 4}}));

    EXPECT_OK(shape->SetGuid(kShapeIid));
    EXPECT_OK(shape->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    EXPECT_OK(shape->AddImplType(0, RefTo(shape.get(), dispatch.get())));
    const USHORT retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, optional = PARAMFLAG_FIN | PARAMFLAG_FOPT;
    AddFunc(shape.get(), 0, {u"Name", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"name", td.Ptr(Vt(VT_BSTR)), retval}}});
    AddFunc(shape.get(), 1,
            {u"Name", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"", Vt(VT_BSTR)}}, 0, FuncIdAt(shape.get(), 0)});
    AddFunc(shape.get(), 2,
            {.name = u"Area",
             .params = {{u"scale", Vt(VT_R8)},
                        {u"lcid", Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FLCID},
                        {u"area", td.Ptr(Vt(VT_R8)), retval}}});
    AddFunc(shape.get(), 3,
            {.name = u"Fill",
             .params = {{u"count", Vt(VT_I4), optional | PARAMFLAG_FHASDEFAULT, Variant(int32_t{5})},
                        {u"extra", Vt(VT_VARIANT), optional}},
             .cParamsOpt = 1});
    AddFunc(shape.get(), 4, {.name = u"Sum", .params = {{u"values", td.Ptr(td.SafeArray(Vt(VT_VARIANT)))}}, .cParamsOpt = -1});
    AddFunc(shape.get(), 5, {.name = u"_Hidden", .flags = FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED});
    AddFunc(shape.get(), 6, {.name = u"Zoom", .params = {{u"factor", Vt(VT_I4)}}});
    AddFunc(shape.get(), 7, {.name = u"Early", .params = {{u"first", Vt(VT_VARIANT), optional}, {u"second", Vt(VT_I4)}}});
    Variant tenth(u"tenth");
    EXPECT_OK(shape->SetParamCustData(3, 0, kCountDataGuid, tenth.ptr()));

    EXPECT_OK(events->AddImplType(0, RefTo(events.get(), dispatch.get())));
    AddVar(events.get(), 0, u"Visible", Vt(VT_BOOL), VAR_DISPATCH);
    AddFunc(events.get(), 0, {.name = u"Clicked", .ret = Vt(VT_VOID), .kind = FUNC_DISPATCH});

    TYPEDESC alias = td.Ptr(Vt(VT_I4));
    EXPECT_OK(longPtr->SetTypeDescAlias(&alias));
    alias = User(RefTo(shapeAlias.get(), shape.get()));
    EXPECT_OK(shapeAlias->SetTypeDescAlias(&alias));
    alias = User(RefTo(longPtrAlias.get(), longPtr.get()));
    EXPECT_OK(longPtrAlias->SetTypeDescAlias(&alias));

    EXPECT_OK(coclass->AddImplType(0, RefTo(coclass.get(), shape.get())));
    EXPECT_OK(coclass->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
    EXPECT_OK(coclass->AddImplType(1, RefTo(coclass.get(), events.get())));
    EXPECT_OK(coclass->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));

    for (auto* t : {colors.get(), kernel.get(), matrix.get(), shape.get(), events.get(), longPtr.get(),
                    shapeAlias.get(), longPtrAlias.get(), coclass.get()})
        EXPECT_OK(t->LayOut());
    return lib;
}

}  // namespace testsupport
