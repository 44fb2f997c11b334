#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/automation/BStr.h"
#include "platform/tlbengine/StdOle2.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "support/EngineTestSupport.h"

using namespace ole;

namespace {

const std::vector<std::pair<std::u16string, TYPEKIND>> kExpectedTypes = {
    {u"GUID", TKIND_RECORD},
    {u"DISPPARAMS", TKIND_RECORD},
    {u"EXCEPINFO", TKIND_RECORD},
    {u"IUnknown", TKIND_INTERFACE},
    {u"IDispatch", TKIND_INTERFACE},
    {u"IEnumVARIANT", TKIND_INTERFACE},
    {u"OLE_COLOR", TKIND_ALIAS},
    {u"OLE_XPOS_PIXELS", TKIND_ALIAS},
    {u"OLE_YPOS_PIXELS", TKIND_ALIAS},
    {u"OLE_XSIZE_PIXELS", TKIND_ALIAS},
    {u"OLE_YSIZE_PIXELS", TKIND_ALIAS},
    {u"OLE_XPOS_HIMETRIC", TKIND_ALIAS},
    {u"OLE_YPOS_HIMETRIC", TKIND_ALIAS},
    {u"OLE_XSIZE_HIMETRIC", TKIND_ALIAS},
    {u"OLE_YSIZE_HIMETRIC", TKIND_ALIAS},
    {u"OLE_XPOS_CONTAINER", TKIND_ALIAS},
    {u"OLE_YPOS_CONTAINER", TKIND_ALIAS},
    {u"OLE_XSIZE_CONTAINER", TKIND_ALIAS},
    {u"OLE_YSIZE_CONTAINER", TKIND_ALIAS},
    {u"OLE_HANDLE", TKIND_ALIAS},
    {u"OLE_OPTEXCLUSIVE", TKIND_ALIAS},
    {u"OLE_CANCELBOOL", TKIND_ALIAS},
    {u"OLE_ENABLEDEFAULTBOOL", TKIND_ALIAS},
    {u"OLE_TRISTATE", TKIND_ENUM},
    {u"FONTNAME", TKIND_ALIAS},
    {u"FONTSIZE", TKIND_ALIAS},
    {u"FONTBOLD", TKIND_ALIAS},
    {u"FONTITALIC", TKIND_ALIAS},
    {u"FONTUNDERSCORE", TKIND_ALIAS},
    {u"FONTSTRIKETHROUGH", TKIND_ALIAS},
    {u"IFont", TKIND_INTERFACE},
    {u"Font", TKIND_DISPATCH},
    {u"IFontDisp", TKIND_ALIAS},
    {u"StdFont", TKIND_COCLASS},
    {u"IPicture", TKIND_INTERFACE},
    {u"Picture", TKIND_DISPATCH},
    {u"IPictureDisp", TKIND_ALIAS},
    {u"StdPicture", TKIND_COCLASS},
    {u"LoadPictureConstants", TKIND_ENUM},
    {u"StdFunctions", TKIND_MODULE},
    {u"FontEvents", TKIND_DISPATCH},
    {u"IFontEventsDisp", TKIND_ALIAS},
};

ComPtr<ITypeLib> StdOle() {
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(GetBuiltinStdOle2(lib.put()), S_OK);
    return lib;
}

ComPtr<ITypeInfo> TypeNamed(ITypeLib* lib, std::u16string_view name) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        BStr n;
        if (SUCCEEDED(lib->GetDocumentation(static_cast<INT>(i), n.put(), nullptr, nullptr, nullptr)) &&
            n.view() == name) {
            ComPtr<ITypeInfo> ti;
            EXPECT_EQ(lib->GetTypeInfo(i, ti.put()), S_OK);
            return ti;
        }
    }
    ADD_FAILURE() << "no type " << ToUtf8(name);
    return {};
}

ComPtr<ITypeInfo> ImplType(ITypeInfo* ti, UINT index) {
    HREFTYPE href = 0;
    ComPtr<ITypeInfo> target;
    EXPECT_EQ(ti->GetRefTypeOfImplType(index, &href), S_OK);
    EXPECT_EQ(ti->GetRefTypeInfo(href, target.put()), S_OK);
    return target;
}

std::u16string NameOf(ITypeInfo* ti, MEMBERID memid = MEMBERID_NIL) {
    BStr n;
    EXPECT_EQ(ti->GetDocumentation(memid, n.put(), nullptr, nullptr, nullptr), S_OK);
    return n.str();
}

// The built-in library, loaded for each test.
class StdOle2 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lib); }
    ComPtr<ITypeLib> lib = StdOle();
};

}  // namespace

TEST_F(StdOle2, DataNamesEveryReferencedTypeOnceAndInternally) {
    auto data = GetStdOle2Data();
    ASSERT_EQ(data->types.size(), kExpectedTypes.size());
    EXPECT_EQ(data->imports.size(), 0u);
    std::set<HREFTYPE> hrefs;
    for (const RefData& r : data->refs) {
        EXPECT_TRUE(hrefs.insert(r.href).second) << "duplicate href " << r.href;
        EXPECT_EQ(r.kind, RefKind::Internal);
        EXPECT_GE(r.typeIndex, 0);
        EXPECT_LT(r.typeIndex, static_cast<int>(data->types.size()));
    }
    // Every user-defined type and every impltype points at a ref of the table.
    auto check = [&](const TypeDescData& t, auto&& self) -> void {
        if (t.vt == VT_USERDEFINED) {
            EXPECT_TRUE(hrefs.count(t.href)) << "href " << t.href;
        }
        for (const TypeDescData& e : t.element) self(e, self);
    };
    for (const TypeData& t : data->types) {
        check(t.aliasType, check);
        for (const ImplTypeData& i : t.implTypes) EXPECT_TRUE(hrefs.count(i.href));
        for (const VarData& v : t.vars) check(v.type, check);
        for (const FuncData& f : t.funcs) {
            check(f.returnType, check);
            for (const ParamData& p : f.params) check(p.type, check);
        }
    }
    EXPECT_EQ(GetStdOle2Data(), data) << "the data is built once";
}

TEST_F(StdOle2, IsTheStandardLibraryWithItsTypesInOrder) {

    TLIBATTR* la = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
    EXPECT_EQ(la->guid, kStdOleLibGuid);
    EXPECT_EQ(la->wMajorVerNum, 2);
    EXPECT_EQ(la->wMinorVerNum, 0);
    EXPECT_EQ(la->lcid, 0u);
    EXPECT_EQ(la->syskind, SYS_WIN32);
    lib->ReleaseTLibAttr(la);

    BStr name, doc;
    ASSERT_EQ(lib->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.view(), u"stdole");
    EXPECT_EQ(doc.view(), u"OLE Automation");

    ASSERT_EQ(lib->GetTypeInfoCount(), kExpectedTypes.size());
    for (UINT i = 0; i < kExpectedTypes.size(); ++i) {
        BStr n;
        TYPEKIND kind{};
        ASSERT_EQ(lib->GetDocumentation(static_cast<INT>(i), n.put(), nullptr, nullptr, nullptr), S_OK);
        ASSERT_EQ(lib->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(n.view(), kExpectedTypes[i].first) << "type " << i;
        EXPECT_EQ(kind, kExpectedTypes[i].second) << ToUtf8(kExpectedTypes[i].first);
    }

    // The platform's attributes of the types the editor leans on (-1: not checked).
    struct Expected {
        std::u16string name;
        int flags, cFuncs, cVars, cImplTypes, cbSizeVft, cbSizeInstance;
        GUID guid = GUID_NULL;
    };
    const Expected expected[] = {
        {u"GUID", TYPEFLAG_FHIDDEN, 0, 4, 0, -1, 16},
        {u"DISPPARAMS", TYPEFLAG_FRESTRICTED, -1, -1, -1, -1, -1},
        {u"EXCEPINFO", TYPEFLAG_FRESTRICTED, -1, -1, -1, -1, -1},
        {u"IUnknown", -1, 3, 0, 0, 12, -1, kIID_IUnknown},
        {u"IDispatch", TYPEFLAG_FRESTRICTED | TYPEFLAG_FDISPATCHABLE, 4, 0, 1, 28, -1, kIID_IDispatch},
        {u"OLE_COLOR", TYPEFLAG_FHIDDEN, -1, -1, -1, -1, -1},
        {u"FONTSIZE", -1, -1, -1, -1, -1, 8},
        {u"IPictureDisp", 0, -1, -1, -1, -1, -1},
        {u"Font", TYPEFLAG_FDISPATCHABLE, 0, 8, 1, 28, -1},
        {u"FontEvents", TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE, -1, -1, -1, -1, -1},
        {u"StdFont", -1, -1, -1, 2, -1, -1},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(ToUtf8(e.name));
        TYPEATTR a = enginetest::Attr(TypeNamed(lib.get(), e.name).get());
        const int got[] = {a.wTypeFlags, a.cFuncs, a.cVars, a.cImplTypes, a.cbSizeVft, static_cast<int>(a.cbSizeInstance)};
        const int want[] = {e.flags, e.cFuncs, e.cVars, e.cImplTypes, e.cbSizeVft, e.cbSizeInstance};
        for (int k = 0; k < 6; ++k) {
            if (want[k] != -1) {
                EXPECT_EQ(got[k], want[k]) << "field " << k;
            }
        }
        if (e.guid != GUID_NULL) {
            EXPECT_EQ(a.guid, e.guid);
        }
    }
}

TEST_F(StdOle2, EveryCallAndEveryRouteGivesTheSameObjects) {
    ComPtr<ITypeLib> first = StdOle();
    ComPtr<ITypeLib> second = StdOle();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), second.get());

    ComPtr<ITypeInfo> dispatch, unknown, byGuid;
    ASSERT_EQ(first->GetTypeInfo(4, dispatch.put()), S_OK);
    ASSERT_EQ(second->GetTypeInfo(3, unknown.put()), S_OK);
    ASSERT_EQ(first->GetTypeInfoOfGuid(kIID_IDispatch, byGuid.put()), S_OK);
    EXPECT_EQ(byGuid.get(), dispatch.get());
    EXPECT_EQ(ImplType(dispatch.get(), 0).get(), unknown.get());

    ComPtr<ITypeLib> containing;
    UINT index = 99;
    ASSERT_EQ(unknown->GetContainingTypeLib(containing.put(), &index), S_OK);
    EXPECT_EQ(containing.get(), first.get());
    EXPECT_EQ(index, 3u);

    // IFontDisp names the Font dispinterface of the same library.
    ComPtr<ITypeInfo> fontDisp = TypeNamed(first.get(), u"IFontDisp");
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(fontDisp->GetTypeAttr(&ta), S_OK);
    ASSERT_EQ(ta->tdescAlias.vt, VT_USERDEFINED);
    ComPtr<ITypeInfo> font;
    EXPECT_EQ(fontDisp->GetRefTypeInfo(ta->tdescAlias.hreftype, font.put()), S_OK);
    fontDisp->ReleaseTypeAttr(ta);
    EXPECT_EQ(font.get(), TypeNamed(first.get(), u"Font").get());
}

TEST_F(StdOle2, IsReadOnly) {
    EXPECT_FALSE(lib.As<ICreateTypeLib2>());
    ComPtr<ITypeInfo> ti = TypeNamed(lib.get(), u"IFont");
    EXPECT_FALSE(ti.As<ICreateTypeInfo2>());
    EXPECT_TRUE(ti.As<ITypeInfo2>());
}

TEST_F(StdOle2, BaseInterfacesHaveTheirStandardShape) {
    ComPtr<ITypeInfo> unknown = TypeNamed(lib.get(), u"IUnknown");
    ComPtr<ITypeInfo> dispatch = TypeNamed(lib.get(), u"IDispatch");

    EXPECT_EQ(ImplType(dispatch.get(), 0).get(), unknown.get());

    // Invoke: the eighth vtable slot, restricted, with its records by reference.
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(dispatch->GetFuncDesc(3, &fd), S_OK);
    EXPECT_EQ(fd->memid, 0x60010003);
    EXPECT_EQ(fd->oVft, 24);
    EXPECT_EQ(fd->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(fd->wFuncFlags, FUNCFLAG_FRESTRICTED);
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(fd->cParams, 8);
    const TYPEDESC& dispParams = fd->lprgelemdescParam[4].tdesc;
    ASSERT_EQ(dispParams.vt, VT_PTR);
    ASSERT_EQ(dispParams.lptdesc->vt, VT_USERDEFINED);
    ComPtr<ITypeInfo> record;
    EXPECT_EQ(dispatch->GetRefTypeInfo(dispParams.lptdesc->hreftype, record.put()), S_OK);
    EXPECT_EQ(record.get(), TypeNamed(lib.get(), u"DISPPARAMS").get());
    EXPECT_EQ(fd->lprgelemdescParam[7].paramdesc.wParamFlags, PARAMFLAG_FOUT);
    dispatch->ReleaseFuncDesc(fd);

    std::vector<std::u16string> names = enginetest::NamesOf(dispatch.get(), 0x60010003);
    ASSERT_EQ(names.size(), 9u);
    EXPECT_EQ(names[0], u"Invoke");
    EXPECT_EQ(names[8], u"puArgErr");
}

TEST_F(StdOle2, GuidData4IsAnEightByteArrayFromZeroToSeven) {
    ComPtr<ITypeInfo> guid = TypeNamed(lib.get(), u"GUID");

    VARDESC* vd = nullptr;
    ASSERT_EQ(guid->GetVarDesc(3, &vd), S_OK);
    EXPECT_EQ(NameOf(guid.get(), vd->memid), u"Data4");
    EXPECT_EQ(vd->oInst, 8u);
    const TYPEDESC& t = vd->elemdescVar.tdesc;
    ASSERT_EQ(t.vt, VT_CARRAY);
    ASSERT_EQ(t.lpadesc->cDims, 1);
    EXPECT_EQ(t.lpadesc->rgbounds[0].lLbound, 0);
    EXPECT_EQ(t.lpadesc->rgbounds[0].cElements, 8u);
    EXPECT_EQ(t.lpadesc->tdescElem.vt, VT_UI1);
    guid->ReleaseVarDesc(vd);
}

TEST_F(StdOle2, DispinterfacesAreDispatchOnlyAndNotDual) {
    ComPtr<ITypeInfo> dispatch = TypeNamed(lib.get(), u"IDispatch");

    ComPtr<ITypeInfo> font = TypeNamed(lib.get(), u"Font");
    EXPECT_EQ(ImplType(font.get(), 0).get(), dispatch.get());
    HREFTYPE half = 0;
    EXPECT_EQ(font->GetRefTypeOfImplType(static_cast<UINT>(-1), &half), TYPE_E_ELEMENTNOTFOUND);

    VARDESC* vd = nullptr;
    ASSERT_EQ(font->GetVarDesc(1, &vd), S_OK);
    EXPECT_EQ(vd->varkind, VAR_DISPATCH);
    EXPECT_EQ(vd->memid, 2);
    EXPECT_EQ(vd->elemdescVar.tdesc.vt, VT_CY);
    font->ReleaseVarDesc(vd);

    ComPtr<ITypeInfo> events = TypeNamed(lib.get(), u"FontEvents");
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(events->GetFuncDesc(0, &fd), S_OK);
    EXPECT_EQ(fd->memid, 9);
    EXPECT_EQ(fd->funckind, FUNC_DISPATCH);
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_VOID);
    ASSERT_EQ(fd->cParams, 1);
    EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
    events->ReleaseFuncDesc(fd);

    // The coclass exposes the dispinterface by default and the vtable interface beside it.
    ComPtr<ITypeInfo> stdFont = TypeNamed(lib.get(), u"StdFont");
    INT flags = -1;
    EXPECT_EQ(stdFont->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    EXPECT_EQ(ImplType(stdFont.get(), 0).get(), font.get());
    EXPECT_EQ(ImplType(stdFont.get(), 1).get(), TypeNamed(lib.get(), u"IFont").get());
}

TEST_F(StdOle2, LoadPictureIsAnOleaut32EntryWithDefaults) {
    ComPtr<ITypeInfo> module = TypeNamed(lib.get(), u"StdFunctions");
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(module->GetFuncDesc(0, &fd), S_OK);
    EXPECT_EQ(fd->funckind, FUNC_STATIC);
    EXPECT_EQ(fd->cParamsOpt, 1);
    ASSERT_EQ(fd->cParams, 5);
    const PARAMDESC& width = fd->lprgelemdescParam[1].paramdesc;
    EXPECT_EQ(width.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
    ASSERT_NE(width.pparamdescex, nullptr);
    EXPECT_EQ(width.pparamdescex->varDefaultValue.vt, VT_INT);
    EXPECT_EQ(fd->lprgelemdescParam[4].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);

    BStr dll, entry, doc;
    WORD ordinal = 1;
    EXPECT_EQ(module->GetDllEntry(fd->memid, INVOKE_FUNC, dll.put(), entry.put(), &ordinal), S_OK);
    EXPECT_EQ(dll.view(), u"oleaut32.dll");
    EXPECT_EQ(entry.view(), u"OleLoadPictureFileEx");
    DWORD context = 0;
    EXPECT_EQ(module->GetDocumentation(fd->memid, nullptr, doc.put(), &context, nullptr), S_OK);
    EXPECT_EQ(doc.view(), u"Loads a picture from a file");
    EXPECT_EQ(context, 10101u);
    module->ReleaseFuncDesc(fd);
}

TEST_F(StdOle2, DualInterfaceOnTheBuiltInIDispatchDispatchesTheInheritedMethods) {
    ComPtr<ITypeInfo> dispatch, guidRecord;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kIID_IDispatch, dispatch.put()), S_OK);
    ASSERT_EQ(lib->GetTypeInfo(0, guidRecord.put()), S_OK);

    ComPtr<ICreateTypeLib2> created = testsupport::NewLibrary(u"Shapes");
    ASSERT_TRUE(created);
    ComPtr<ICreateTypeInfo2> create = testsupport::NewType(created.get(), u"IShape", TKIND_INTERFACE);
    ASSERT_EQ(create->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION), S_OK);
    ASSERT_EQ(create->AddImplType(0, testsupport::RefTo(create.get(), dispatch.get())), S_OK);
    testsupport::TypeDescs d;
    ASSERT_NO_FATAL_FAILURE(testsupport::AddFunc(
        create.get(), 0,
        {u"Area", INVOKE_PROPERTYGET, testsupport::Vt(VT_HRESULT),
         {{u"value", d.Ptr(testsupport::Vt(VT_R8)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}}));
    ASSERT_EQ(create->LayOut(), S_OK);

    ComPtr<ITypeLib> reading = created.As<ITypeLib>();
    ComPtr<ITypeInfo> view;
    ASSERT_EQ(reading->GetTypeInfo(0, view.put()), S_OK);
    TYPEATTR a = enginetest::Attr(view.get());
    EXPECT_EQ(a.typekind, TKIND_DISPATCH);
    EXPECT_EQ(a.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE), TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(a.cbSizeVft, 28);
    ASSERT_EQ(a.cFuncs, 8);
    EXPECT_EQ(ImplType(view.get(), 0).get(), dispatch.get());

    // As the platform shows them: the inherited methods restricted, HRESULT
    // results shown as void, other results kept, offsets and IDs kept.
    struct Expected {
        std::u16string name;
        MEMBERID memid;
        SHORT oVft;
        VARTYPE ret;
        SHORT cParams;
    };
    const Expected expected[] = {
        {u"QueryInterface", 0x60000000, 0, VT_VOID, 2}, {u"AddRef", 0x60000001, 4, VT_UI4, 0},
        {u"Release", 0x60000002, 8, VT_UI4, 0},         {u"GetTypeInfoCount", 0x60010000, 12, VT_VOID, 1},
        {u"GetTypeInfo", 0x60010001, 16, VT_VOID, 3},   {u"GetIDsOfNames", 0x60010002, 20, VT_VOID, 5},
        {u"Invoke", 0x60010003, 24, VT_VOID, 8},        {u"Area", 0x60020000, 28, VT_R8, 0},
    };
    for (UINT i = 0; i < 8; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(view->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(NameOf(view.get(), f->memid), expected[i].name) << i;
        EXPECT_EQ(f->funckind, FUNC_DISPATCH) << i;
        EXPECT_EQ(f->memid, expected[i].memid) << i;
        EXPECT_EQ(f->oVft, expected[i].oVft) << i;
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, expected[i].ret) << i;
        EXPECT_EQ(f->cParams, expected[i].cParams) << i;
        EXPECT_EQ(f->wFuncFlags, i < 7 ? FUNCFLAG_FRESTRICTED : 0) << i;
        if (i == 0) {
            // riid still names the built-in GUID record.
            const TYPEDESC& riid = f->lprgelemdescParam[0].tdesc;
            ASSERT_EQ(riid.vt, VT_PTR);
            ASSERT_EQ(riid.lptdesc->vt, VT_USERDEFINED);
            ComPtr<ITypeInfo> target;
            EXPECT_EQ(view->GetRefTypeInfo(riid.lptdesc->hreftype, target.put()), S_OK);
            EXPECT_EQ(target.get(), guidRecord.get());
        }
        view->ReleaseFuncDesc(f);
    }
}
