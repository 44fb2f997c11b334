#include "TliTestLibrary.h"

#include "platform/oleauto/Guid.h"

namespace tlitest {

void AddFunc(ICreateTypeInfo* type, UINT index, const Func& f, FUNCKIND kind) {
    std::vector<ELEMDESC> elems(f.params.size());
    std::vector<PARAMDESCEX> defaults(f.params.size());
    for (size_t i = 0; i < f.params.size(); ++i) {
        elems[i] = {};
        elems[i].tdesc = f.params[i].type;
        elems[i].paramdesc.wParamFlags = f.params[i].flags;
        if (f.params[i].defaultValue) {
            defaults[i].cBytes = 24;
            defaults[i].varDefaultValue = f.params[i].defaultValue->get();
            elems[i].paramdesc.pparamdescex = &defaults[i];
        }
    }
    FUNCDESC fd{};
    fd.memid = f.memid;
    fd.funckind = kind;
    fd.invkind = f.invkind;
    fd.callconv = CC_STDCALL;
    fd.cParams = static_cast<SHORT>(f.params.size());
    fd.cParamsOpt = f.cParamsOpt;
    fd.lprgelemdescParam = elems.empty() ? nullptr : elems.data();
    fd.elemdescFunc.tdesc = f.ret;
    fd.wFuncFlags = f.flags;
    ASSERT_OK(type->AddFuncDesc(index, &fd));
    std::vector<std::u16string> names{f.name};
    for (const Param& p : f.params) names.push_back(p.name);
    if (f.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) names.pop_back();
    std::vector<LPOLESTR> ptrs;
    for (auto& n : names) ptrs.push_back(n.data());
    ASSERT_OK(type->SetFuncAndParamNames(index, ptrs.data(), static_cast<UINT>(ptrs.size())));
}

void AddVar(ICreateTypeInfo* type, UINT index, const std::u16string& name, TYPEDESC t, VARKIND kind,
            const VARIANT* value, MEMBERID memid) {
    VARDESC vd{};
    vd.memid = memid;
    vd.varkind = kind;
    vd.elemdescVar.tdesc = t;
    VARIANT copy{};
    if (value) {
        copy = *value;
        vd.lpvarValue = &copy;
    }
    ASSERT_OK(type->AddVarDesc(index, &vd));
    ASSERT_OK(type->SetVarName(index, name.c_str()));
}

ComPtr<ICreateTypeLib2> NewLibrary(const std::u16string& name, const std::u16string& file) {
    ComPtr<ICreateTypeLib2> lib;
    EXPECT_OK(CreateTypeLib2(SYS_WIN32, file.c_str(), lib.put()));
    if (lib) {
        EXPECT_OK(lib->SetName(name.c_str()));
    }
    return lib;
}

ComPtr<ICreateTypeInfo2> NewType(ICreateTypeLib2* lib, const std::u16string& name, TYPEKIND kind) {
    ComPtr<ICreateTypeInfo> cti;
    EXPECT_OK(lib->CreateTypeInfo(name.c_str(), kind, cti.put()));
    return cti.As<ICreateTypeInfo2>();
}

ComPtr<ITypeLib> StdOle2() {
    ComPtr<ITypeLib> lib;
    EXPECT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, lib.put()));
    return lib;
}

ComPtr<ITypeInfo> StdOle2Type(const GUID& iid) {
    ComPtr<ITypeInfo> ti;
    ComPtr<ITypeLib> lib = StdOle2();
    if (lib) {
        EXPECT_OK(lib->GetTypeInfoOfGuid(iid, ti.put()));
    }
    return ti;
}

HREFTYPE RefTo(ICreateTypeInfo* from, ITypeInfo* to) {
    HREFTYPE href = 0;
    EXPECT_OK(from->AddRefTypeInfo(to, &href));
    return href;
}

ComPtr<ITypeInfo> AsTypeInfo(IUnknown* p) {
    ComPtr<ITypeInfo> ti;
    EXPECT_OK(p->QueryInterface(ITypeInfo::kIID, ti.put_void()));
    return ti;
}

ComPtr<ITypeLib> AsTypeLib(IUnknown* p) {
    ComPtr<ITypeLib> lib;
    EXPECT_OK(p->QueryInterface(ITypeLib::kIID, lib.put_void()));
    return lib;
}

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
//     HRESULT Fill([in, optional, defaultvalue(5)] long count, [in, optional] VARIANT extra);
//     [vararg] HRESULT Sum([in] SAFEARRAY(VARIANT)* values);
//     [hidden, restricted] HRESULT _Hidden();
//     HRESULT Zoom([in] long factor); };
//   dispinterface DShapeEvents { properties: VARIANT_BOOL Visible; methods: void Clicked(); };
//   typedef long* LongPtr; typedef IShape ShapeAlias; typedef LongPtr LongPtrAlias;
//   coclass Shape { [default] interface IShape; [default, source] dispinterface DShapeEvents; };
// }
// The parameter count of Fill carries custom data {kCountDataGuid} = "tenth".
ComPtr<ICreateTypeLib2> BuildShapes(const std::u16string& file) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Shapes", file);
    if (!lib) return lib;
    EXPECT_OK(lib->SetGuid(kSampleLibGuid));
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
    ComPtr<ITypeInfo> shapeTi = AsTypeInfo(shape.get());
    TypeDescs td;

    Variant red = Variant::Int(0), green = Variant::Int(1);
    AddVar(colors.get(), 0, u"Red", td.Base(VT_INT), VAR_CONST, red.ptr());
    AddVar(colors.get(), 1, u"Green", td.Base(VT_INT), VAR_CONST, green.ptr());

    Variant answer(int32_t{42}), greeting(u"hi");
    AddVar(kernel.get(), 0, u"Answer", td.Base(VT_I4), VAR_CONST, answer.ptr());
    AddVar(kernel.get(), 1, u"Greeting", td.Base(VT_BSTR), VAR_CONST, greeting.ptr());
    AddFunc(kernel.get(), 0, {u"Beep", INVOKE_FUNC, td.Base(VT_VOID), {{u"freq", td.Base(VT_I4)}}}, FUNC_STATIC);
    AddFunc(kernel.get(), 1, {u"ByOrdinal", INVOKE_FUNC, td.Base(VT_I4), {}}, FUNC_STATIC);
    EXPECT_OK(kernel->DefineFuncAsDllEntry(0, u"kernel32.dll", DllEntryPoint(std::u16string(u"Beep"))));
    EXPECT_OK(kernel->DefineFuncAsDllEntry(1, u"kernel32.dll", DllEntryPoint(WORD{7})));

    AddVar(matrix.get(), 0, u"cells", td.CArray(td.Ptr(td.Base(VT_I4)), {{0, 2}, {0, 3}}), VAR_PERINSTANCE);
    AddVar(matrix.get(), 1, u"rows", td.Ptr(td.SafeArray(td.Ptr(td.Base(VT_I4)))), VAR_PERINSTANCE);
    AddVar(matrix.get(), 2, u"owner", td.Ptr(td.User(RefTo(matrix.get(), dispatch.get()))), VAR_PERINSTANCE);
    AddVar(matrix.get(), 3, u"shape", td.Ptr(td.User(RefTo(matrix.get(), shapeTi.get()))), VAR_PERINSTANCE);
    AddVar(matrix.get(), 4, u"one", td.CArray(td.Base(VT_I4), {{1, 4}}), VAR_PERINSTANCE);

    EXPECT_OK(shape->SetGuid(kShapeIid));
    EXPECT_OK(shape->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    EXPECT_OK(shape->AddImplType(0, RefTo(shape.get(), dispatch.get())));
    const TYPEDESC hr = td.Base(VT_HRESULT);
    AddFunc(shape.get(), 0,
            {u"Name", INVOKE_PROPERTYGET, hr, {{u"name", td.Ptr(td.Base(VT_BSTR)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(shape.get(), 1, {u"Name", INVOKE_PROPERTYPUT, hr, {{u"", td.Base(VT_BSTR)}}});
    AddFunc(shape.get(), 2,
            {u"Area",
             INVOKE_FUNC,
             hr,
             {{u"scale", td.Base(VT_R8)},
              {u"lcid", td.Base(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FLCID},
              {u"area", td.Ptr(td.Base(VT_R8)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(shape.get(), 3,
            {u"Fill",
             INVOKE_FUNC,
             hr,
             {{u"count", td.Base(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, Variant(int32_t{5})},
              {u"extra", td.Base(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT}},
             1});
    AddFunc(shape.get(), 4,
            {u"Sum", INVOKE_FUNC, hr, {{u"values", td.Ptr(td.SafeArray(td.Base(VT_VARIANT)))}}, -1});
    AddFunc(shape.get(), 5, {u"_Hidden", INVOKE_FUNC, hr, {}, 0, MEMBERID_NIL, FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED});
    AddFunc(shape.get(), 6, {u"Zoom", INVOKE_FUNC, hr, {{u"factor", td.Base(VT_I4)}}});
    Variant tenth(u"tenth");
    EXPECT_OK(shape->SetParamCustData(3, 0, kCountDataGuid, tenth.ptr()));

    EXPECT_OK(events->AddImplType(0, RefTo(events.get(), dispatch.get())));
    AddVar(events.get(), 0, u"Visible", td.Base(VT_BOOL), VAR_DISPATCH);
    AddFunc(events.get(), 0, {u"Clicked", INVOKE_FUNC, td.Base(VT_VOID), {}}, FUNC_DISPATCH);

    TYPEDESC a1 = td.Ptr(td.Base(VT_I4));
    EXPECT_OK(longPtr->SetTypeDescAlias(&a1));
    TYPEDESC a2 = td.User(RefTo(shapeAlias.get(), shapeTi.get()));
    EXPECT_OK(shapeAlias->SetTypeDescAlias(&a2));
    TYPEDESC a3 = td.User(RefTo(longPtrAlias.get(), AsTypeInfo(longPtr.get()).get()));
    EXPECT_OK(longPtrAlias->SetTypeDescAlias(&a3));

    EXPECT_OK(coclass->AddImplType(0, RefTo(coclass.get(), shapeTi.get())));
    EXPECT_OK(coclass->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
    EXPECT_OK(coclass->AddImplType(1, RefTo(coclass.get(), AsTypeInfo(events.get()).get())));
    EXPECT_OK(coclass->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));

    for (auto* t : {colors.get(), kernel.get(), matrix.get(), shape.get(), events.get(), longPtr.get(),
                    shapeAlias.get(), longPtrAlias.get(), coclass.get()})
        EXPECT_OK(t->LayOut());
    return lib;
}

tli::TLIApplication* App() {
    static ComPtr<tli::TLIApplication> app = [] {
        ComPtr<tli::TLIApplication> a;
        EXPECT_OK(tli::GetTLIApplication(a.put()));
        return a;
    }();
    return app.get();
}

ComPtr<tli::TypeLibInfo> InfoOf(ITypeLib* lib) {
    ComPtr<tli::TypeLibInfo> info;
    EXPECT_OK(App()->TypeLibInfoFromITypeLib(lib, info.put()));
    return info;
}

ComPtr<tli::TypeInfo> TypeNamed(tli::TypeLibInfo* lib, std::u16string_view name) {
    ComPtr<tli::TypeInfos> types;
    ComPtr<tli::TypeInfo> t;
    EXPECT_OK(lib->get_TypeInfos(types.put()));
    if (types) {
        EXPECT_OK(types->NamedItem(name, t.put())) << ToUtf8(name);
    }
    return t;
}

ComPtr<tli::MemberInfo> MemberNamed(tli::Members* members, std::u16string_view name, LONG invokeKind) {
    LONG count = 0;
    EXPECT_OK(members->get_Count(&count));
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<tli::MemberInfo> m;
        EXPECT_OK(members->get_Item(i, m.put()));
        LONG kind = 0;
        EXPECT_OK(m->get_InvokeKind(&kind));
        if (NameOf(m.get()) == name && (invokeKind == 0 || kind == invokeKind)) return m;
    }
    ADD_FAILURE() << "no member " << ToUtf8(name);
    return nullptr;
}

std::u16string NameOf(tli::TypeInfo* t) {
    std::u16string s;
    EXPECT_OK(t->get_Name(&s));
    return s;
}
std::u16string NameOf(tli::MemberInfo* m) {
    std::u16string s;
    EXPECT_OK(m->get_Name(&s));
    return s;
}
std::u16string NameOf(tli::ParameterInfo* p) {
    std::u16string s;
    EXPECT_OK(p->get_Name(&s));
    return s;
}
std::u16string NameOf(tli::TypeLibInfo* l) {
    std::u16string s;
    EXPECT_OK(l->get_Name(&s));
    return s;
}

std::vector<std::u16string> Names(tli::Members* members) {
    std::vector<std::u16string> out;
    LONG count = 0;
    EXPECT_OK(members->get_Count(&count));
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<tli::MemberInfo> m;
        EXPECT_OK(members->get_Item(i, m.put()));
        if (m) out.push_back(NameOf(m.get()));
    }
    return out;
}

VARTYPE VarTypeOf(tli::VarTypeInfo* v) {
    VARTYPE vt = 0xFFFF;
    EXPECT_OK(v->get_VarType(&vt));
    return vt;
}

SHORT PointerLevelOf(tli::VarTypeInfo* v) {
    SHORT level = -1;
    EXPECT_OK(v->get_PointerLevel(&level));
    return level;
}

}  // namespace tlitest
