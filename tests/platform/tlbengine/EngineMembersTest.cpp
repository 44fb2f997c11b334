// Members: adding, naming, deleting and reading functions and variables, DLL
// entries, help data and custom data at every level.
#include <algorithm>
#include <random>

#include "support/EngineTestSupport.h"

using namespace enginetest;

namespace {

const GUID kData = {0xDA7A0001, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(EngineMembers, BadFunctionDescriptionsAreRefusedWithThePlatformsErrors) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    EXPECT_EQ(E_INVALIDARG, foo->AddFuncDesc(0, nullptr));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL));
    EXPECT_EQ(E_INVALIDARG, AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, MEMBERID_NIL, 6));
    EXPECT_EQ(TYPE_E_BADMODULEKIND, AddFunc(foo.get(), 0, FUNC_DISPATCH));
    EXPECT_EQ(TYPE_E_INCONSISTENTPROPFUNCS, AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT));
    std::vector<ELEMDESC> broken{Elem(VT_PTR)};  // a pointer to nothing
    FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, broken);
    EXPECT_EQ(E_INVALIDARG, foo->AddFuncDesc(0, &f));
    EXPECT_EQ(0, Attr(Read(foo).get()).cFuncs);
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    EXPECT_EQ(TYPE_E_BADMODULEKIND, AddFunc(rec.get(), 0, FUNC_PUREVIRTUAL));
}

TEST(EngineMembers, AFunctionReadBackCanBeAddedAgainUnchanged) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    auto rec = NewType(lib.get(), u"Point", TKIND_RECORD);
    HREFTYPE toRec = RefTo(foo.get(), Read(rec).get());

    // HRESULT Draw([in] Point* pts[2][3], [in] SAFEARRAY(BSTR) names, [in, optional, defaultvalue("x")] BSTR tag)
    TypeDescs d;
    PARAMDESCEX def{};
    def.cBytes = 24;
    Variant x(u"x");
    def.varDefaultValue = x.get();
    std::vector<ELEMDESC> params{Elem(VT_PTR), Elem(VT_PTR),
                                 Elem(VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT |
                                                   PARAMFLAG_FHASCUSTDATA)};
    params[0].tdesc = d.Ptr(d.CArray(User(toRec), {{0, 2}, {1, 3}}));
    params[1].tdesc = d.SafeArray(Td(VT_BSTR));
    params[2].paramdesc.pparamdescex = &def;
    FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, params, 0x123);
    f.cParamsOpt = -1;
    f.wFuncFlags = FUNCFLAG_FHIDDEN;
    ASSERT_OK(foo->AddFuncDesc(0, &f));
    ASSERT_OK(SetNames(foo.get(), 0, {u"Draw", u"pts", u"names", u"tag"}));

    auto ti = Read(foo);
    FUNCDESC* got = nullptr;
    ASSERT_OK(ti->GetFuncDesc(0, &got));
    EXPECT_EQ(0x123, got->memid);
    EXPECT_EQ(-1, got->cParamsOpt);
    EXPECT_EQ(FUNCFLAG_FHIDDEN, got->wFuncFlags);
    const TYPEDESC& p0 = got->lprgelemdescParam[0].tdesc;
    ASSERT_EQ(VT_PTR, p0.vt);
    ASSERT_EQ(VT_CARRAY, p0.lptdesc->vt);
    const ARRAYDESC* ad = p0.lptdesc->lpadesc;
    ASSERT_EQ(2, ad->cDims);
    const SAFEARRAYBOUND* gb = ad->rgbounds;
    EXPECT_EQ(3u, gb[1].cElements);
    EXPECT_EQ(1, gb[1].lLbound);
    EXPECT_EQ(VT_USERDEFINED, ad->tdescElem.vt);
    EXPECT_EQ(toRec, ad->tdescElem.hreftype);
    EXPECT_EQ(VT_BSTR, got->lprgelemdescParam[1].tdesc.lptdesc->vt);
    const PARAMDESC& pd = got->lprgelemdescParam[2].paramdesc;
    EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, pd.wParamFlags);  // FHASCUSTDATA ignored
    ASSERT_NE(nullptr, pd.pparamdescex);
    EXPECT_EQ(u"x", BstrView(pd.pparamdescex->varDefaultValue.bstrVal));

    // The descriptor as read goes in again (with the same member id) before the next LayOut.
    ASSERT_OK(foo->AddFuncDesc(1, got));
    ti->ReleaseFuncDesc(got);
    EXPECT_EQ(2, Attr(ti.get()).cFuncs);
    FUNCDESC* copy = nullptr;
    ASSERT_OK(ti->GetFuncDesc(1, &copy));
    EXPECT_EQ(0x123, copy->memid);
    EXPECT_EQ(toRec, copy->lprgelemdescParam[0].tdesc.lptdesc->lpadesc->tdescElem.hreftype);
    ti->ReleaseFuncDesc(copy);

    // Parameter custom data is reported through PARAMFLAG_FHASCUSTDATA.
    Variant note(u"note");
    ASSERT_OK(foo->SetParamCustData(0, 2, kData, note.ptr()));
    ASSERT_OK(ti->GetFuncDesc(0, &got));
    EXPECT_NE(0, got->lprgelemdescParam[2].paramdesc.wParamFlags & PARAMFLAG_FHASCUSTDATA);
    ti->ReleaseFuncDesc(got);
}

TEST(EngineMembers, NamesFollowThePlatformsRules) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4, VT_I4}, 1));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_I4}, 2));
    ASSERT_OK(AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, {VT_I4}, 2));
    ASSERT_OK(AddFunc(foo.get(), 3, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, {VT_I4}, 3));

    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, SetNames(foo.get(), 0, {u"Add", u"a", u"b", u"c"}));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, SetNames(foo.get(), 1, {u"Size", u"value"}));  // a put's value is unnamed
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, SetNames(foo.get(), 4, {u"X"}));
    EXPECT_EQ(E_INVALIDARG, foo->SetFuncAndParamNames(0, nullptr, 1));
    std::u16string only = u"Add";
    LPOLESTR one[] = {only.data()};
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, foo->SetFuncAndParamNames(0, one, 0));
    ASSERT_OK(SetNames(foo.get(), 0, {u"Add", u"a", u"b"}));
    ASSERT_OK(SetNames(foo.get(), 1, {u"Size"}));
    ASSERT_OK(SetNames(foo.get(), 2, {u"SIZE"}));                               // get and put share a name
    EXPECT_EQ(TYPE_E_AMBIGUOUSNAME, SetNames(foo.get(), 3, {u"size"}));        // a second get may not
    EXPECT_EQ(TYPE_E_AMBIGUOUSNAME, SetNames(foo.get(), 3, {u"add"}));
    // Blank names on several functions at once.
    ASSERT_OK(SetNames(foo.get(), 0, {u""}));
    ASSERT_OK(SetNames(foo.get(), 3, {u""}));
    ASSERT_OK(SetNames(foo.get(), 3, {u"Add", u"index"}));
    // Only the engine's own addition names a put's value.
    auto naming = foo.As<ICreateTypeInfoValueName>();
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, naming->SetValueParamName(2, u"value"));  // a Get
    ASSERT_OK(naming->SetValueParamName(1, u"value"));

    auto ti = Read(foo);
    EXPECT_EQ((std::vector<std::u16string>{u"Add", u"index"}), NamesOf(ti.get(), 3));
    EXPECT_EQ((std::vector<std::u16string>{u"Size", u"value"}), NamesOf(ti.get(), 2));  // first member with the id
    EXPECT_EQ(1u, NamesOf(ti.get(), 3, 1).size());
    std::u16string n0 = u"ADD", n1 = u"INDEX", bad = u"nothing";
    LPOLESTR names[] = {n0.data(), n1.data()};
    MEMBERID ids[2] = {};
    ASSERT_OK(ti->GetIDsOfNames(names, 2, ids));
    EXPECT_EQ(3, ids[0]);
    EXPECT_EQ(0, ids[1]);
    names[1] = bad.data();
    EXPECT_EQ(DISP_E_UNKNOWNNAME, ti->GetIDsOfNames(names, 2, ids));
    names[0] = bad.data();
    EXPECT_EQ(DISP_E_UNKNOWNNAME, ti->GetIDsOfNames(names, 1, ids));
}

// As the platform reads a saved library: a member without a name reports no
// names at all, even when its parameters are named.
TEST(EngineMembers, AMemberWithoutANameHasNoNames) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4, VT_I4}, 1));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}, 2));
    ASSERT_OK(SetNames(foo.get(), 0, {u"", u"a", u"b"}));
    auto rec = NewType(lib.get(), u"Pair", TKIND_RECORD);
    ASSERT_OK(AddVar(rec.get(), 0, VAR_PERINSTANCE, VT_I4, nullptr, nullptr, 5));
    ASSERT_OK(AddVar(rec.get(), 1, VAR_PERINSTANCE, VT_I4, u"second", nullptr, 6));
    for (auto [ti, memid] : {std::pair{Read(foo), 1}, {Read(foo), 2}, {Read(rec), 5}}) {
        BSTR names[4] = {};
        UINT count = 99;
        ASSERT_OK(ti->GetNames(memid, names, 4, &count));
        EXPECT_EQ(0u, count) << memid;
        EXPECT_EQ(nullptr, names[0]);
    }
    EXPECT_EQ(std::vector<std::u16string>{u"second"}, NamesOf(Read(rec).get(), 6));
}

TEST(EngineMembers, DeletingAMemberShiftsTheRestWithTheirNamesHelpAndCustomData) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    for (UINT i = 0; i < 3; ++i) {
        ASSERT_OK(AddFunc(foo.get(), i, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}, 10 + i));
        std::u16string name = u"F" + std::u16string(1, static_cast<char16_t>(u'0' + i));
        ASSERT_OK(SetNames(foo.get(), i, {name, u"p"}));
        ASSERT_OK(foo->SetFuncDocString(i, (u"doc " + name).c_str()));
        ASSERT_OK(foo->SetFuncHelpContext(i, 100 + i));
        ASSERT_OK(foo->SetFuncHelpStringContext(i, 200 + i));
        Variant v(static_cast<int32_t>(i));
        ASSERT_OK(foo->SetFuncCustData(i, kData, v.ptr()));
        ASSERT_OK(foo->SetParamCustData(i, 0, kData, v.ptr()));
    }
    ASSERT_OK(foo->DeleteFuncDesc(0));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, foo->DeleteFuncDesc(2));
    auto ti = Read(foo);
    EXPECT_EQ(2, Attr(ti.get()).cFuncs);
    BStr name, doc;
    DWORD ctx = 0;
    ASSERT_OK(ti->GetDocumentation(11, name.put(), doc.put(), &ctx, nullptr));
    EXPECT_EQ(u"F1", name.view());
    EXPECT_EQ(u"doc F1", doc.view());
    EXPECT_EQ(101u, ctx);
    DWORD sctx = 0;
    ASSERT_OK(ti->GetDocumentation2(11, 0, nullptr, &sctx, nullptr));
    EXPECT_EQ(201u, sctx);
    Variant v;
    ASSERT_OK(ti->GetFuncCustData(0, kData, v.put()));
    EXPECT_EQ(1, v.get().lVal);
    ASSERT_OK(ti->GetParamCustData(1, 0, kData, v.put()));
    EXPECT_EQ(2, v.get().lVal);
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, ti->GetDocumentation(10, nullptr, nullptr, nullptr, nullptr));
    UINT index = 9;
    ASSERT_OK(ti->GetFuncIndexOfMemId(12, INVOKE_FUNC, &index));
    EXPECT_EQ(1u, index);
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, ti->GetFuncIndexOfMemId(12, INVOKE_PROPERTYGET, &index));

    ASSERT_OK(foo->DeleteFuncDescByMemId(12, INVOKE_FUNC));
    EXPECT_EQ(1, Attr(ti.get()).cFuncs);
}

TEST(EngineMembers, MemberDocumentationReportsTheLibrarysHelpFiles) {
    auto lib = NewLib();
    ASSERT_OK(lib->SetHelpFileName(u"lib.hlp"));
    ASSERT_OK(lib->SetHelpStringDll(u"lib.dll"));
    auto en = NewType(lib.get(), u"Colors", TKIND_ENUM);
    Variant one = Variant::Int(1);
    ASSERT_OK(AddVar(en.get(), 0, VAR_CONST, VT_INT, u"Red", one.ptr(), 5));
    ASSERT_OK(en->SetVarDocString(0, u"red"));
    ASSERT_OK(en->SetVarHelpContext(0, 7));
    ASSERT_OK(en->SetVarHelpStringContext(0, 8));
    auto ti = Read(en);
    BStr name, doc, file, dll;
    DWORD ctx = 0;
    ASSERT_OK(ti->GetDocumentation(5, name.put(), doc.put(), &ctx, file.put()));
    EXPECT_EQ(u"Red", name.view());
    EXPECT_EQ(u"red", doc.view());
    EXPECT_EQ(7u, ctx);
    EXPECT_EQ(u"lib.hlp", file.view());
    ASSERT_OK(ti->GetDocumentation2(5, 0, doc.put(), &ctx, dll.put()));
    EXPECT_EQ(8u, ctx);
    EXPECT_EQ(u"lib.dll", dll.view());
}

TEST(EngineMembers, ModuleEntriesKeepANameOrAnOrdinal) {
    auto lib = NewLib();
    auto mod = NewType(lib.get(), u"Kernel", TKIND_MODULE);
    ASSERT_OK(AddFunc(mod.get(), 0, FUNC_STATIC, INVOKE_FUNC, VT_I4, {}, 1));
    ASSERT_OK(AddFunc(mod.get(), 1, FUNC_STATIC, INVOKE_FUNC, VT_I4, {}, 2));
    ASSERT_OK(mod->DefineFuncAsDllEntry(0, u"k.dll", DllEntryPoint{std::u16string(u"Beep")}));
    ASSERT_OK(mod->DefineFuncAsDllEntry(1, u"k.dll", DllEntryPoint{WORD{42}}));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, mod->DefineFuncAsDllEntry(2, u"k.dll", DllEntryPoint{WORD{1}}));
    Variant text(u"hello");
    ASSERT_OK(AddVar(mod.get(), 0, VAR_CONST, VT_BSTR, u"Greeting", text.ptr()));
    Variant object(static_cast<IUnknown*>(nullptr));
    EXPECT_EQ(DISP_E_BADVARTYPE, AddVar(mod.get(), 1, VAR_CONST, VT_UNKNOWN, u"Obj", object.ptr()));

    auto ti = Read(mod);
    BStr dll, entry;
    WORD ordinal = 9;
    ASSERT_OK(ti->GetDllEntry(1, INVOKE_FUNC, dll.put(), entry.put(), &ordinal));
    EXPECT_EQ(u"k.dll", dll.view());
    EXPECT_EQ(u"Beep", entry.view());
    EXPECT_EQ(0, ordinal);
    ASSERT_OK(ti->GetDllEntry(2, INVOKE_FUNC, dll.put(), entry.put(), &ordinal));
    EXPECT_EQ(nullptr, entry.get());
    EXPECT_EQ(42, ordinal);
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, ti->GetDllEntry(2, INVOKE_PROPERTYGET, nullptr, nullptr, nullptr));

    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL));
    EXPECT_EQ(TYPE_E_BADMODULEKIND, foo->DefineFuncAsDllEntry(0, u"k.dll", DllEntryPoint{WORD{1}}));
    EXPECT_EQ(TYPE_E_BADMODULEKIND, Read(foo)->GetDllEntry(MEMBERID_NIL, INVOKE_FUNC, nullptr, nullptr, nullptr));
}

TEST(EngineMembers, VariableNamesAreUniqueAndDeletionShiftsTheirData) {
    auto lib = NewLib();
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    ASSERT_OK(AddVar(rec.get(), 0, VAR_PERINSTANCE, VT_I4, u"a"));
    ASSERT_OK(AddVar(rec.get(), 1, VAR_PERINSTANCE, VT_I4, u"b"));
    EXPECT_EQ(TYPE_E_AMBIGUOUSNAME, rec->SetVarName(1, u"A"));
    ASSERT_OK(rec->SetVarName(0, u""));
    ASSERT_OK(rec->SetVarName(1, u""));  // blank names do not clash
    ASSERT_OK(rec->SetVarName(1, u"a"));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, rec->SetVarName(2, u"c"));
    EXPECT_EQ(E_INVALIDARG, rec->SetVarName(0, nullptr));
    Variant v(int32_t{5});
    ASSERT_OK(rec->SetVarCustData(1, kData, v.ptr()));
    ASSERT_OK(rec->DeleteVarDesc(0));
    auto ti = Read(rec);
    EXPECT_EQ(std::vector<std::u16string>{u"a"}, NamesOf(ti.get(), VarAt(ti.get(), 0).memid));
    CUSTDATA all{};
    ASSERT_OK(ti->GetAllVarCustData(0, &all));
    EXPECT_EQ(1u, all.cCustData);
    ClearCustData(&all);
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, rec->DeleteVarDesc(1));
}

TEST(EngineMembers, CoclassImplementedInterfacesAppendAndCarryFlagsAndCustomData) {
    StdBases std;
    auto lib = NewLib();
    auto cls = NewType(lib.get(), u"Thing", TKIND_COCLASS);
    HREFTYPE a = RefTo(cls.get(), std.dispatch.get());
    HREFTYPE b = RefTo(cls.get(), std.unknown.get());
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, cls->AddImplType(1, a));
    ASSERT_OK(cls->AddImplType(0, a));
    ASSERT_OK(cls->AddImplType(1, b));
    ASSERT_OK(cls->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));
    Variant v(u"second");
    ASSERT_OK(cls->SetImplTypeCustData(1, kData, v.ptr()));
    ASSERT_OK(cls->DeleteImplType(0));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, cls->DeleteImplType(1));
    auto ti = Read(cls);
    INT flags = 0;
    ASSERT_OK(ti->GetImplTypeFlags(0, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, flags);
    HREFTYPE h = 0;
    ASSERT_OK(ti->GetRefTypeOfImplType(0, &h));
    ComPtr<ITypeInfo> target;
    ASSERT_OK(ti->GetRefTypeInfo(h, target.put()));
    EXPECT_EQ(std.unknown.get(), target.get());
    Variant got;
    ASSERT_OK(ti->GetImplTypeCustData(0, kData, got.put()));
    EXPECT_EQ(u"second", BstrView(got.get().bstrVal));

    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    EXPECT_EQ(TYPE_E_BADMODULEKIND, foo->SetImplTypeFlags(0, 1));
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.unknown.get())));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, foo->AddImplType(1, RefTo(foo.get(), std.dispatch.get())));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, foo->AddImplType(0, RefTo(foo.get(), std.dispatch.get())));
    Variant t(true);
    ASSERT_OK(foo->SetCustData(kData, t.ptr()));
    CUSTDATA all{};
    ASSERT_OK(Read(foo)->GetAllCustData(&all));
    ASSERT_EQ(1u, all.cCustData);
    EXPECT_EQ(VARIANT_TRUE, all.prgCustData[0].varValue.boolVal);
    ClearCustData(&all);
}

TEST(EngineMembers, LookupsStayRightThroughAppendsRenamesAndDeletions) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    auto ti = Read(foo);
    auto idOf = [&](std::u16string name) {
        LPOLESTR names[] = {name.data()};
        MEMBERID id = -2;
        return SUCCEEDED(ti->GetIDsOfNames(names, 1, &id)) ? id : -2;
    };
    auto nameOf = [](int i) { return u"M" + std::u16string(1, static_cast<char16_t>(u'a' + i)); };
    for (int i = 0; i < 20; ++i) {
        ASSERT_OK(AddFunc(foo.get(), static_cast<UINT>(i), FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 100 + i));
        ASSERT_OK(SetNames(foo.get(), static_cast<UINT>(i), {nameOf(i)}));
        EXPECT_EQ(100 + i, idOf(nameOf(i)));  // the tables are in use while the type grows
    }
    // Swap two names through a blank, as the rebuild engine does.
    ASSERT_OK(SetNames(foo.get(), 3, {u""}));
    ASSERT_OK(SetNames(foo.get(), 7, {nameOf(3)}));
    ASSERT_OK(SetNames(foo.get(), 3, {nameOf(7)}));
    EXPECT_EQ(107, idOf(nameOf(3)));
    EXPECT_EQ(103, idOf(nameOf(7)));
    // Property accessors sharing a name, added out of order.
    ASSERT_OK(AddFunc(foo.get(), 20, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_I4}, 200));
    ASSERT_OK(AddFunc(foo.get(), 21, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, {}, 200));
    ASSERT_OK(SetNames(foo.get(), 21, {u"Prop"}));
    ASSERT_OK(SetNames(foo.get(), 20, {u"Prop"}));
    UINT index = 0;
    ASSERT_OK(ti->GetFuncIndexOfMemId(200, INVOKE_PROPERTYGET, &index));
    EXPECT_EQ(21u, index);
    ASSERT_OK(foo->DeleteFuncDesc(0));
    EXPECT_EQ(-2, idOf(nameOf(0)));
    EXPECT_EQ(119, idOf(nameOf(19)));
    ASSERT_OK(ti->GetFuncIndexOfMemId(200, INVOKE_PROPERTYPUT, &index));
    EXPECT_EQ(19u, index);
    EXPECT_EQ(200, idOf(u"PROP"));
}

// What the model's member rebuild does to change a property: probe, copy each
// accessor behind itself, move the names over through blanks, delete the old
// accessors, lay out.
TEST(EngineMembers, RebuildingAPropertyThroughCopiesKeepsItsIdNamesAndSlots) {
    StdBases std;
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.unknown.get())));
    TYPEDESC i4 = Td(VT_I4);
    std::vector<ELEMDESC> getParams{Elem(VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)};
    getParams[0].tdesc.lptdesc = &i4;
    FUNCDESC get = Func(FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, getParams);
    ASSERT_OK(foo->AddFuncDesc(0, &get));
    auto ti = Read(foo);
    const MEMBERID id = FuncAt(ti.get(), 0).memid;
    ASSERT_EQ(0x60010000, id);
    // The put joins the get's property by taking its id.
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_I4}, id));
    ASSERT_OK(SetNames(foo.get(), 0, {u"Value", u"result"}));
    ASSERT_OK(SetNames(foo.get(), 1, {u"Value"}));
    ASSERT_OK(foo->LayOut());

    // The probe succeeds, so the copies take automatic slots.
    ASSERT_OK(AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL));
    ASSERT_OK(foo->LayOut());
    ASSERT_OK(foo->DeleteFuncDesc(2));

    std::vector<std::u16string> names = NamesOf(ti.get(), id);
    ASSERT_EQ((std::vector<std::u16string>{u"Value", u"result"}), names);
    ASSERT_OK(SetNames(foo.get(), 0, {u"", u""}));
    ASSERT_OK(SetNames(foo.get(), 1, {u""}));
    for (UINT old : {0u, 2u}) {  // the put moved to 2 once the get's copy went in at 1
        FUNCDESC* desc = nullptr;
        ASSERT_OK(ti->GetFuncDesc(old, &desc));
        FUNCDESC copy = *desc;
        copy.oVft = 0;
        copy.wFuncFlags = FUNCFLAG_FBINDABLE;  // the edit
        ASSERT_OK(foo->AddFuncDesc(old + 1, &copy));
        ti->ReleaseFuncDesc(desc);
        std::vector<std::u16string> copyNames = names;
        if (old == 2) copyNames.pop_back();  // a put's value parameter stays unnamed
        ASSERT_OK(SetNames(foo.get(), old + 1, copyNames));
    }
    ASSERT_OK(foo->DeleteFuncDesc(0));
    ASSERT_OK(foo->DeleteFuncDesc(1));
    ASSERT_OK(foo->LayOut());

    ASSERT_EQ(2, Attr(ti.get()).cFuncs);
    for (UINT i = 0; i < 2; ++i) {
        FuncInfo f = FuncAt(ti.get(), i);
        EXPECT_EQ(id, f.memid);
        EXPECT_EQ(FUNCFLAG_FBINDABLE, f.flags);
        EXPECT_EQ(static_cast<SHORT>(12 + 4 * i), f.oVft);
    }
    EXPECT_EQ(INVOKE_PROPERTYGET, FuncAt(ti.get(), 0).invkind);
    EXPECT_EQ(names, NamesOf(ti.get(), id));
    EXPECT_EQ(20, Attr(ti.get()).cbSizeVft);
}

// Members inserted and deleted anywhere, renamed and laid out, in a long
// pseudo-random sequence: every lookup by name and by id agrees with the
// member lists after each step. Property accessors share a name and an id,
// and variables without an id share MEMBERID_NIL until laid out (functions
// get theirs when added), so that chains of members with one key are edited
// too.
TEST(EngineMembers, LookupsFollowMembersInsertedAndDeletedInTheMiddle) {
    auto lib = NewLib();
    auto iface = NewType(lib.get(), u"IMany", TKIND_INTERFACE);
    auto rec = NewType(lib.get(), u"Many", TKIND_RECORD);
    auto fr = Read(iface), vr = Read(rec);
    struct Member {
        std::u16string name;
        MEMBERID id;
        INVOKEKIND invkind = INVOKE_FUNC;
    };
    std::vector<Member> funcs, vars;
    std::mt19937 rng(7);
    auto pick = [&](size_t n) { return static_cast<UINT>(rng() % n); };
    int serial = 0;
    MEMBERID nextId = 1000;
    auto idOf = [](ITypeInfo* ti, std::u16string name) {
        LPOLESTR names[] = {name.data()};
        MEMBERID id = -2;
        return SUCCEEDED(ti->GetIDsOfNames(names, 1, &id)) ? id : -2;
    };
    auto check = [&](ITypeInfo2* ti, const std::vector<Member>& list, bool isFunc) {
        for (UINT i = 0; i < list.size(); ++i) {
            const Member& m = list[i];
            ASSERT_EQ(m.id, isFunc ? FuncAt(ti, i).memid : VarAt(ti, i).memid);
            ASSERT_EQ(m.id, idOf(ti, m.name)) << "member " << i;
            UINT at = 99999;
            ASSERT_OK(isFunc ? ti->GetFuncIndexOfMemId(m.id, m.invkind, &at) : ti->GetVarIndexOfMemId(m.id, &at));
            UINT first = 0;  // the first member with that id and invoke kind
            while (list[first].id != m.id || list[first].invkind != m.invkind) ++first;
            ASSERT_EQ(first, at) << "member " << i;
        }
    };
    for (int step = 0; step < 1500; ++step) {
        const bool onFuncs = pick(3) != 0;
        std::vector<Member>& list = onFuncs ? funcs : vars;
        ICreateTypeInfo2* ct = onFuncs ? iface.get() : rec.get();
        const UINT action = list.size() < 8 ? 0 : pick(8) == 0 ? 6 : pick(6);
        if (action <= 2) {  // insert anywhere, with an explicit id or none; functions may come as a property
            const UINT at = pick(list.size() + 1);
            Member m{u"Name" + FromUtf8(std::to_string(serial++)), pick(2) == 0 ? MEMBERID_NIL : nextId++};
            const bool property = onFuncs && pick(3) == 0;
            if (onFuncs) {
                if (property) m.invkind = INVOKE_PROPERTYGET;
                ASSERT_OK(AddFunc(ct, at, FUNC_PUREVIRTUAL, m.invkind, VT_HRESULT, {}, m.id));
                ASSERT_OK(SetNames(ct, at, {m.name}));
                m.id = FuncAt(fr.get(), at).memid;
            } else {
                ASSERT_OK(AddVar(ct, at, VAR_PERINSTANCE, VT_I4, m.name.c_str(), nullptr, m.id));
            }
            list.insert(list.begin() + at, m);
            if (property) {
                const UINT putAt = at + 1 + pick(list.size() - at);
                Member put = m;
                put.invkind = INVOKE_PROPERTYPUT;
                ASSERT_OK(AddFunc(ct, putAt, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_I4}, m.id));
                ASSERT_OK(SetNames(ct, putAt, {m.name}));
                list.insert(list.begin() + putAt, put);
            }
        } else if (action <= 4) {  // delete anywhere
            const UINT at = pick(list.size());
            const Member gone = list[at];
            ASSERT_OK(onFuncs ? ct->DeleteFuncDesc(at) : ct->DeleteVarDesc(at));
            list.erase(list.begin() + at);
            if (std::none_of(list.begin(), list.end(), [&](const Member& m) { return m.name == gone.name; })) {
                EXPECT_EQ(-2, idOf(onFuncs ? fr.get() : vr.get(), gone.name));
            }
        } else if (action == 5) {  // rename; a name in use elsewhere is refused
            const UINT at = pick(list.size()), other = pick(list.size());
            const std::u16string fresh = u"Renamed" + FromUtf8(std::to_string(serial++));
            std::u16string taken = list[other].name;
            if (list[at].invkind == INVOKE_FUNC && list[at].name != taken) {
                EXPECT_EQ(TYPE_E_AMBIGUOUSNAME, onFuncs ? SetNames(ct, at, {taken}) : ct->SetVarName(at, taken.c_str()));
            }
            ASSERT_OK(onFuncs ? SetNames(ct, at, {fresh}) : ct->SetVarName(at, fresh.c_str()));
            list[at].name = fresh;
        } else {  // lay out: members without an id receive one
            ASSERT_OK(ct->LayOut());
            for (UINT i = 0; i < list.size(); ++i)
                list[i].id = onFuncs ? FuncAt(fr.get(), i).memid : VarAt(vr.get(), i).memid;
            for (const Member& m : list) ASSERT_NE(MEMBERID_NIL, m.id);
        }
        ASSERT_NO_FATAL_FAILURE(check(onFuncs ? fr.get() : vr.get(), list, onFuncs)) << "step " << step;
    }
}

// The put of a property deleted from the middle and added again at the end
// is found by id and name, and the members between keep theirs.
TEST(EngineMembers, AnAccessorDeletedAndAddedBackIsFoundAgain) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    auto ti = Read(foo);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, {}, 5));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_I4}, 5));
    ASSERT_OK(AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 7));
    ASSERT_OK(SetNames(foo.get(), 0, {u"P"}));
    ASSERT_OK(SetNames(foo.get(), 1, {u"P"}));
    ASSERT_OK(SetNames(foo.get(), 2, {u"Q"}));
    UINT index = 0;
    ASSERT_OK(ti->GetFuncIndexOfMemId(7, INVOKE_FUNC, &index));  // the tables are in use
    ASSERT_OK(foo->DeleteFuncDesc(1));
    ASSERT_OK(AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_I4}, 5));
    ASSERT_OK(SetNames(foo.get(), 2, {u"P"}));
    ASSERT_OK(ti->GetFuncIndexOfMemId(5, INVOKE_PROPERTYPUT, &index));
    EXPECT_EQ(2u, index);
    ASSERT_OK(ti->GetFuncIndexOfMemId(7, INVOKE_FUNC, &index));
    EXPECT_EQ(1u, index);
    EXPECT_EQ(TYPE_E_AMBIGUOUSNAME, SetNames(foo.get(), 1, {u"P"}));
}

}  // namespace

namespace {

ComPtr<ICreateTypeInfoRoom> RoomOf(IUnknown* type) {
    ComPtr<ICreateTypeInfoRoom> room;
    EXPECT_OK(type->QueryInterface(ICreateTypeInfoRoom::kIID, room.put_void()));
    return room;
}

}  // namespace

// Room asked for ahead of the members changes nothing a reader sees: fewer or
// more members than asked for may follow, and an absurd amount is no error.
TEST(EngineMembers, RoomForMembersChangesNothingThatCanBeRead) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    auto room = RoomOf(foo.get());
    ASSERT_TRUE(room);
    ASSERT_OK(room->ReserveMembers(3, 0));
    EXPECT_EQ(0, Attr(Read(foo).get()).cFuncs);
    for (UINT i = 0; i < 5; ++i) {
        ASSERT_OK(AddFunc(foo.get(), i, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}));
        ASSERT_OK(SetNames(foo.get(), i, {u"M" + std::u16string(1, static_cast<char16_t>(u'0' + i)), u"value"}));
    }
    EXPECT_OK(room->ReserveMembers(~0u, ~0u));
    ASSERT_OK(foo->LayOut());
    auto read = Read(foo);
    ASSERT_EQ(5, Attr(read.get()).cFuncs);
    for (UINT i = 0; i < 5; ++i) {
        const MEMBERID id = FuncAt(read.get(), i).memid;
        EXPECT_EQ(NamesOf(read.get(), id),
                  (std::vector<std::u16string>{u"M" + std::u16string(1, static_cast<char16_t>(u'0' + i)), u"value"}));
    }

    // A record built with room lays out as its twin built without.
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    auto twin = NewType(lib.get(), u"Twin", TKIND_RECORD);
    ASSERT_OK(RoomOf(rec.get())->ReserveMembers(0, 8));
    for (auto* r : {rec.get(), twin.get()}) {
        ASSERT_OK(AddVar(r, 0, VAR_PERINSTANCE, VT_I4, u"a"));
        ASSERT_OK(AddVar(r, 1, VAR_PERINSTANCE, VT_R8, u"b"));
        ASSERT_OK(r->LayOut());
    }
    const TYPEATTR attr = Attr(Read(rec).get()), twinAttr = Attr(Read(twin).get());
    EXPECT_EQ(2, attr.cVars);
    EXPECT_EQ(twinAttr.cbSizeInstance, attr.cbSizeInstance);
    EXPECT_EQ(twinAttr.cbAlignment, attr.cbAlignment);
    EXPECT_EQ(VarAt(Read(twin).get(), 1).oInst, VarAt(Read(rec).get(), 1).oInst);

    // A deleted type takes no room; a loaded library's types can't be changed at all.
    ASSERT_OK(lib->DeleteTypeInfo(u"Rec"));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, RoomOf(rec.get())->ReserveMembers(1, 1));
    ComPtr<ITypeLib> stdole;
    ASSERT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, stdole.put()));
    ComPtr<ITypeInfo> loaded;
    ASSERT_OK(stdole->GetTypeInfo(0, loaded.put()));
    ComPtr<ICreateTypeInfoRoom> none;
    EXPECT_EQ(E_NOINTERFACE, loaded->QueryInterface(ICreateTypeInfoRoom::kIID, none.put_void()));
}
