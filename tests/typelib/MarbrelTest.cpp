// Unique names, the leading-underscore order, parameter option masks, type
// and value equality and the object-type test, on libraries built through the
// creation interfaces and read through the TypeLib Information objects.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "platform/oleauto/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/modMarbrel.h"
#include "typelib/modPrototype.h"

namespace zephrin {
namespace {

using namespace ole;
using namespace modMarbrel;

// ---- Unique names ----

// A predicate over a set of taken names that counts its calls.
struct Taken {
    std::set<std::u16string> names;
    size_t calls = 0;
    NamePredicate Predicate() {
        return [this](const std::u16string& n) {
            ++calls;
            return !names.contains(n);
        };
    }
};

std::u16string Unique(std::set<std::u16string> taken, std::u16string name, bool force = false) {
    Taken t{std::move(taken)};
    MakeUniqueName(t.Predicate(), name, force);
    return name;
}

TEST(MakeUniqueName, StripsTrailingDigitsAndCountsUpFromOne) {
    EXPECT_EQ(Unique({}, u"Item"), u"Item");
    EXPECT_EQ(Unique({u"Item"}, u"Item"), u"Item1");
    EXPECT_EQ(Unique({u"Item", u"Item1"}, u"Item"), u"Item2");
    EXPECT_EQ(Unique({u"Item12"}, u"Item12"), u"Item1");
    EXPECT_EQ(Unique({u"Item12", u"Item1"}, u"Item12"), u"Item2");
    EXPECT_EQ(Unique({u"123"}, u"123"), u"1231");
    EXPECT_EQ(Unique({u""}, u""), u"1");
    std::set<std::u16string> taken{u"Name"};
    for (int i = 1; i <= 9; ++i) taken.insert(u"Name" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
    EXPECT_EQ(Unique(taken, u"Name"), u"Name10");
}

TEST(MakeUniqueName, ForceAlwaysAppendsANumberToTheWholeName) {
    EXPECT_EQ(Unique({}, u"Item12", true), u"Item121");
    EXPECT_EQ(Unique({u"Item121"}, u"Item12", true), u"Item122");
    EXPECT_EQ(Unique({}, u"Enum", true), u"Enum1");
}

TEST(MakeUniqueName, GivesUpAfterAMillionCandidatesLeavingTheNameAlone) {
    Taken none;
    NamePredicate refuseAll = [&](const std::u16string&) {
        ++none.calls;
        return false;
    };
    std::u16string name = u"Busy7";
    try {
        MakeUniqueName(refuseAll, name, false);
        ADD_FAILURE() << "no error raised";
    } catch (const ErrorRecord& e) {
        EXPECT_EQ(e.Number, kErrInvalidArgument);
        EXPECT_NE(e.Description.find(u"Busy"), std::u16string::npos);
    }
    EXPECT_EQ(name, u"Busy7");
    EXPECT_EQ(none.calls, 1u + kMaxUniqueNameCandidates);

    // The last candidate tried is the millionth.
    name = u"N";
    MakeUniqueName([](const std::u16string& n) { return n == u"N1000000"; }, name, true);
    EXPECT_EQ(name, u"N1000000");
}

TEST(MakeUniqueName, ErrorsOfThePredicatePropagate) {
    std::u16string name = u"Item";
    NamePredicate failing = [](const std::u16string& n) -> bool {
        if (n == u"Item3") RaiseError(kErrOutOfMemory);
        return false;
    };
    EXPECT_THROW(MakeUniqueName(failing, name, false), ErrorRecord);
    EXPECT_EQ(name, u"Item");
}

// ---- Libraries for the type queries ----

class TypeDescs {
public:
    static TYPEDESC Base(VARTYPE vt) {
        TYPEDESC t{};
        t.vt = vt;
        return t;
    }
    static TYPEDESC User(HREFTYPE href) {
        TYPEDESC t{};
        t.vt = VT_USERDEFINED;
        t.hreftype = href;
        return t;
    }
    TYPEDESC Ptr(TYPEDESC inner) { return Wrap(VT_PTR, inner); }
    TYPEDESC SafeArray(TYPEDESC elem) { return Wrap(VT_SAFEARRAY, elem); }
    TYPEDESC CArray(TYPEDESC elem, LONG lower, ULONG count) {
        arrays_.push_back(std::make_unique<ARRAYDESC>());
        ARRAYDESC* ad = arrays_.back().get();
        ad->tdescElem = elem;
        ad->cDims = 1;
        ad->rgbounds[0].lLbound = lower;
        ad->rgbounds[0].cElements = count;
        TYPEDESC t{};
        t.vt = VT_CARRAY;
        t.lpadesc = ad;
        return t;
    }

private:
    TYPEDESC Wrap(VARTYPE vt, TYPEDESC inner) {
        nodes_.push_back(std::make_unique<TYPEDESC>(inner));
        TYPEDESC t{};
        t.vt = vt;
        t.lptdesc = nodes_.back().get();
        return t;
    }
    std::vector<std::unique_ptr<TYPEDESC>> nodes_;
    std::vector<std::unique_ptr<ARRAYDESC>> arrays_;
};

ComPtr<ITypeInfo> StdOle2Type(const GUID& iid) {
    ComPtr<ITypeLib> std;
    ComPtr<ITypeInfo> ti;
    EXPECT_EQ(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, std.put()), S_OK);
    if (std) {
        EXPECT_EQ(std->GetTypeInfoOfGuid(iid, ti.put()), S_OK);
    }
    return ti;
}

ComPtr<ICreateTypeInfo> NewType(ICreateTypeLib2* lib, const char16_t* name, TYPEKIND kind) {
    ComPtr<ICreateTypeInfo> t;
    EXPECT_EQ(lib->CreateTypeInfo(name, kind, t.put()), S_OK);
    return t;
}

HREFTYPE RefTo(ICreateTypeInfo* from, ICreateTypeInfo* to) {
    HREFTYPE href = 0;
    EXPECT_EQ(from->AddRefTypeInfo(ComPtr<ICreateTypeInfo>(to).As<ITypeInfo>().get(), &href), S_OK);
    return href;
}

HREFTYPE RefTo(ICreateTypeInfo* from, ITypeInfo* to) {
    HREFTYPE href = 0;
    EXPECT_EQ(from->AddRefTypeInfo(to, &href), S_OK);
    return href;
}

struct Arg {
    const char16_t* name;
    TYPEDESC type;
    USHORT flags = PARAMFLAG_FIN;
};

void AddFunc(ICreateTypeInfo* type, UINT index, const char16_t* name, INVOKEKIND invkind, std::vector<Arg> args,
             SHORT cParamsOpt = 0, FUNCKIND kind = FUNC_PUREVIRTUAL, VARTYPE ret = VT_HRESULT) {
    std::vector<ELEMDESC> elems(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        elems[i] = {};
        elems[i].tdesc = args[i].type;
        elems[i].paramdesc.wParamFlags = args[i].flags;
    }
    FUNCDESC fd{};
    fd.memid = MEMBERID_NIL;
    fd.funckind = kind;
    fd.invkind = invkind;
    fd.callconv = CC_STDCALL;
    fd.cParams = static_cast<SHORT>(args.size());
    fd.cParamsOpt = cParamsOpt;
    fd.lprgelemdescParam = elems.empty() ? nullptr : elems.data();
    fd.elemdescFunc.tdesc.vt = ret;
    ASSERT_EQ(type->AddFuncDesc(index, &fd), S_OK);
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(name)};
    for (const Arg& a : args) names.push_back(const_cast<LPOLESTR>(a.name));
    if (invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) names.pop_back();
    ASSERT_EQ(type->SetFuncAndParamNames(index, names.data(), static_cast<UINT>(names.size())), S_OK);
}

void AddField(ICreateTypeInfo* type, UINT index, const char16_t* name, TYPEDESC t) {
    VARDESC vd{};
    vd.memid = MEMBERID_NIL;
    vd.varkind = VAR_PERINSTANCE;
    vd.elemdescVar.tdesc = t;
    ASSERT_EQ(type->AddVarDesc(index, &vd), S_OK) << ToUtf8(name);
    ASSERT_EQ(type->SetVarName(index, name), S_OK);
}

ComPtr<tli::Members> MembersOf(ICreateTypeInfo* type) {
    ComPtr<tli::TLIApplication> app;
    ComPtr<tli::TypeInfo> view;
    ComPtr<tli::Members> members;
    EXPECT_EQ(tli::GetTLIApplication(app.put()), S_OK);
    EXPECT_EQ(app->TypeInfoFromITypeInfo(ComPtr<ICreateTypeInfo>(type).As<ITypeInfo>().get(), view.put()), S_OK);
    EXPECT_EQ(view->get_Members(members.put()), S_OK);
    return members;
}

std::vector<std::u16string> NamesInOrder(tli::Members* members) {
    std::vector<std::u16string> names;
    LONG count = 0;
    EXPECT_EQ(members->get_Count(&count), S_OK);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<tli::MemberInfo> m;
        std::u16string name;
        EXPECT_EQ(members->get_Item(i, m.put()), S_OK);
        EXPECT_EQ(m->get_Name(&name), S_OK);
        names.push_back(name);
    }
    return names;
}

// ---- Member names and their order ----

class MemberNames : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateTypeLib2(SYS_WIN32, u"", lib_.put()), S_OK);
        ASSERT_EQ(lib_->SetName(u"Names"), S_OK);
        type_ = NewType(lib_.get(), u"IThing", TKIND_INTERFACE);
        ComPtr<ITypeInfo> dispatch = StdOle2Type(IDispatch::kIID);
        ASSERT_TRUE(type_ && dispatch);
        ASSERT_EQ(type_->AddImplType(0, RefTo(type_.get(), dispatch.get())), S_OK);
        UINT i = 0;
        for (const char16_t* name : {u"Zoom", u"__Item", u"_NewEnum", u"Item", u"_Item", u"Name", u"apple", u"Item1"})
            AddFunc(type_.get(), i++, name, INVOKE_FUNC, {});
        ASSERT_EQ(type_->LayOut(), S_OK);
    }
    ComPtr<ICreateTypeLib2> lib_;
    ComPtr<ICreateTypeInfo> type_;
};

TEST_F(MemberNames, NewMemberNamesSkipEveryNameTheTypeAnswers) {
    ComPtr<ITypeInfo> ti = type_.As<ITypeInfo>();
    EXPECT_FALSE(IsMemberNameFree(ti.get(), u"Item"));
    EXPECT_FALSE(IsMemberNameFree(ti.get(), u"ITEM"));
    EXPECT_FALSE(IsMemberNameFree(ti.get(), u"Invoke"));  // inherited from IDispatch
    EXPECT_TRUE(IsMemberNameFree(ti.get(), u"Count"));
    EXPECT_TRUE(IsMemberNameFree(ti.get(), u""));

    std::u16string name = u"item";
    MakeUniqueName(MemberNamePredicate(ti.get()), name, false);
    EXPECT_EQ(name, u"item2");
    name = u"Count";
    MakeUniqueName(MemberNamePredicate(ti.get()), name, true);
    EXPECT_EQ(name, u"Count1");
}

TEST_F(MemberNames, MemberListsSortAsIfLeadingUnderscoresWereNotThere) {
    ComPtr<tli::Members> members = MembersOf(type_.get());
    ASSERT_EQ(members->putref_CustomSort(LeadingUnderscoreCustomSort().get()), S_OK);
    EXPECT_EQ(NamesInOrder(members.get()), (std::vector<std::u16string>{u"apple", u"Item", u"_Item", u"__Item", u"Item1",
                                                                       u"Name", u"_NewEnum", u"Zoom"}));
    EXPECT_EQ(LeadingUnderscoreCustomSort(), LeadingUnderscoreCustomSort());
}

TEST(LeadingUnderscoreOrder, EqualKeysOrderByUnderscoreCount) {
    EXPECT_GT(CompareLeadingUnderscore(u"_a", u"A"), 0);
    EXPECT_LT(CompareLeadingUnderscore(u"A", u"_a"), 0);
    EXPECT_EQ(CompareLeadingUnderscore(u"__", u"_"), 1);
    EXPECT_EQ(CompareLeadingUnderscore(u"Item", u"Item"), 0);
    EXPECT_EQ(CompareLeadingUnderscore(u"item", u"ITEM"), 0);
    EXPECT_LT(CompareLeadingUnderscore(u"_Item", u"__Item"), 0);
    EXPECT_LT(CompareLeadingUnderscore(u"__Alpha", u"beta"), 0);
    EXPECT_LT(CompareLeadingUnderscore(u"", u"_"), 0);
    EXPECT_LT(CompareLeadingUnderscore(u"\u00C9t\u00E9", u"\u00E9T\u00C9z"), 0);  // Latin-1 letters fold too

    std::u16string_view key = u"untouched";
    int32_t count = 0;
    StripLeadingUnderscores(u"plain", key, count);
    EXPECT_EQ(key, u"untouched");
    EXPECT_EQ(count, 0);
    StripLeadingUnderscores(u"___x", key, count);
    EXPECT_EQ(key, u"x");
    EXPECT_EQ(count, 3);
}

// ---- Type descriptions ----

// library Kinds {
//   interface IThing : IUnknown {}; dispinterface DEvents {}; coclass Thing { interface IThing; };
//   struct Rec { long x; };
//   typedef IThing* ThingPtr; typedef ThingPtr ThingPtrAgain; typedef long Number; typedef Rec RecAlias;
//   typedef IDispatch* Disp;
//   struct Fields { ... one field per case below ... };
// }
class TypeQueries : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateTypeLib2(SYS_WIN32, u"", lib_.put()), S_OK);
        ASSERT_EQ(lib_->SetName(u"Kinds"), S_OK);
        auto thing = NewType(lib_.get(), u"IThing", TKIND_INTERFACE);
        auto events = NewType(lib_.get(), u"DEvents", TKIND_DISPATCH);
        auto coclass = NewType(lib_.get(), u"Thing", TKIND_COCLASS);
        auto rec = NewType(lib_.get(), u"Rec", TKIND_RECORD);
        auto thingPtr = NewType(lib_.get(), u"ThingPtr", TKIND_ALIAS);
        auto thingPtrAgain = NewType(lib_.get(), u"ThingPtrAgain", TKIND_ALIAS);
        auto number = NewType(lib_.get(), u"Number", TKIND_ALIAS);
        auto recAlias = NewType(lib_.get(), u"RecAlias", TKIND_ALIAS);
        auto disp = NewType(lib_.get(), u"Disp", TKIND_ALIAS);
        fields_ = NewType(lib_.get(), u"Fields", TKIND_RECORD);
        ComPtr<ITypeInfo> unknown = StdOle2Type(IUnknown::kIID), dispatch = StdOle2Type(IDispatch::kIID);
        ASSERT_TRUE(fields_ && unknown && dispatch);

        ASSERT_EQ(thing->AddImplType(0, RefTo(thing.get(), unknown.get())), S_OK);
        ASSERT_EQ(events->AddImplType(0, RefTo(events.get(), dispatch.get())), S_OK);
        ASSERT_EQ(coclass->AddImplType(0, RefTo(coclass.get(), thing.get())), S_OK);
        AddField(rec.get(), 0, u"x", td_.Base(VT_I4));
        TYPEDESC a = td_.Ptr(td_.User(RefTo(thingPtr.get(), thing.get())));
        ASSERT_EQ(thingPtr->SetTypeDescAlias(&a), S_OK);
        a = td_.User(RefTo(thingPtrAgain.get(), thingPtr.get()));
        ASSERT_EQ(thingPtrAgain->SetTypeDescAlias(&a), S_OK);
        a = td_.Base(VT_I4);
        ASSERT_EQ(number->SetTypeDescAlias(&a), S_OK);
        a = td_.User(RefTo(recAlias.get(), rec.get()));
        ASSERT_EQ(recAlias->SetTypeDescAlias(&a), S_OK);
        a = td_.Base(VT_DISPATCH);
        ASSERT_EQ(disp->SetTypeDescAlias(&a), S_OK);

        ICreateTypeInfo* f = fields_.get();
        const std::pair<const char16_t*, TYPEDESC> fields[] = {
            {u"viaTwoAliases", td_.User(RefTo(f, thingPtrAgain.get()))},
            {u"numberAlias", td_.User(RefTo(f, number.get()))},
            {u"recAlias", td_.User(RefTo(f, recAlias.get()))},
            {u"rec", td_.User(RefTo(f, rec.get()))},
            {u"unknown", td_.Base(VT_UNKNOWN)},
            {u"dispatch", td_.Base(VT_DISPATCH)},
            {u"dispAlias", td_.User(RefTo(f, disp.get()))},
            {u"coclass", td_.Ptr(td_.User(RefTo(f, coclass.get())))},
            {u"events", td_.Ptr(td_.User(RefTo(f, events.get())))},
            {u"stdDispatch", td_.Ptr(td_.User(RefTo(f, dispatch.get())))},
            {u"thingArray", td_.SafeArray(td_.Ptr(td_.User(RefTo(f, thing.get()))))},
            {u"longRef", td_.Ptr(td_.Base(VT_I4))},
            {u"longRef2", td_.Ptr(td_.Base(VT_I4))},
            {u"longRefRef", td_.Ptr(td_.Ptr(td_.Base(VT_I4)))},
            {u"zeroToNine", td_.CArray(td_.Base(VT_I4), 0, 10)},
            {u"zeroToNine2", td_.CArray(td_.Base(VT_I4), 0, 10)},
            {u"oneToTen", td_.CArray(td_.Base(VT_I4), 1, 10)},
            {u"safeLongs", td_.SafeArray(td_.Base(VT_I4))},
            {u"safeLongs2", td_.SafeArray(td_.Base(VT_I4))},
            {u"safeLongRefs", td_.SafeArray(td_.Ptr(td_.Base(VT_I4)))},
            {u"rec2", td_.User(RefTo(f, rec.get()))},
        };
        UINT i = 0;
        for (const auto& [name, type] : fields) AddField(f, i++, name, type);
        for (ICreateTypeInfo* t : {rec.get(), fields_.get()}) ASSERT_EQ(t->LayOut(), S_OK);
        members_ = MembersOf(fields_.get());
    }
    ComPtr<tli::VarTypeInfo> Field(std::u16string_view name) {
        LONG count = 0;
        EXPECT_EQ(members_->get_Count(&count), S_OK);
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<tli::MemberInfo> m;
            std::u16string text;
            EXPECT_EQ(members_->get_Item(i, m.put()), S_OK);
            EXPECT_EQ(m->get_Name(&text), S_OK);
            if (text != name) continue;
            ComPtr<tli::VarTypeInfo> type;
            EXPECT_EQ(m->get_ReturnType(type.put()), S_OK);
            return type;
        }
        ADD_FAILURE() << "no field " << ToUtf8(name);
        return nullptr;
    }
    bool IsObject(std::u16string_view field) { return ResolveObjectTypeInfo(Field(field).get()); }
    bool Same(std::u16string_view a, std::u16string_view b) {
        return VarTypeInfoEquals(Field(a).get(), Field(b).get());
    }

    TypeDescs td_;
    ComPtr<ICreateTypeLib2> lib_;
    ComPtr<ICreateTypeInfo> fields_;
    ComPtr<tli::Members> members_;
};

TEST_F(TypeQueries, ObjectTypesAreFoundThroughAliases) {
    EXPECT_TRUE(IsObject(u"viaTwoAliases"));
    EXPECT_TRUE(IsObject(u"unknown"));
    EXPECT_TRUE(IsObject(u"dispatch"));
    EXPECT_TRUE(IsObject(u"dispAlias"));
    EXPECT_TRUE(IsObject(u"coclass"));
    EXPECT_TRUE(IsObject(u"events"));
    EXPECT_TRUE(IsObject(u"stdDispatch"));
    EXPECT_FALSE(IsObject(u"numberAlias"));
    EXPECT_FALSE(IsObject(u"recAlias"));
    EXPECT_FALSE(IsObject(u"rec"));
    EXPECT_FALSE(IsObject(u"thingArray"));
    EXPECT_FALSE(IsObject(u"longRef"));
    EXPECT_FALSE(ResolveObjectTypeInfo(nullptr));
}

TEST_F(TypeQueries, EqualTypesNeedEqualPointersArraysAndBounds) {
    EXPECT_TRUE(Same(u"longRef", u"longRef2"));
    EXPECT_FALSE(Same(u"longRef", u"longRefRef"));
    EXPECT_TRUE(Same(u"zeroToNine", u"zeroToNine2"));
    EXPECT_FALSE(Same(u"zeroToNine", u"oneToTen"));
    EXPECT_TRUE(ArrayBoundsEqual(Field(u"zeroToNine").get(), Field(u"zeroToNine2").get()));
    EXPECT_TRUE(Same(u"safeLongs", u"safeLongs2"));
    EXPECT_FALSE(Same(u"safeLongs", u"safeLongRefs"));
    EXPECT_FALSE(Same(u"safeLongs", u"zeroToNine"));
    EXPECT_TRUE(Same(u"rec", u"rec2"));
    EXPECT_FALSE(Same(u"rec", u"recAlias"));
    EXPECT_FALSE(Same(u"dispatch", u"dispAlias"));

    ComPtr<tli::VarTypeInfo> one = Field(u"longRef");
    EXPECT_TRUE(VarTypeInfoEquals(one.get(), one.get()));
    EXPECT_TRUE(VarTypeInfoEquals(nullptr, nullptr));
    EXPECT_FALSE(VarTypeInfoEquals(one.get(), nullptr));
    EXPECT_FALSE(VarTypeInfoEquals(nullptr, one.get()));
}

// ---- Member and parameter descriptions ----

// library Members {
//   [dual] interface IShape : IDispatch {
//     [propget] HRESULT Name([out, retval] BSTR* name);
//     [propput] HRESULT Name([in] BSTR);
//     HRESULT Fill([in, optional, defaultvalue] long count, [in, optional] VARIANT extra);  (cParamsOpt 1)
//     HRESULT Early([in, optional] VARIANT first, [in] long second); };
//   module Kernel { const long Answer = 42; [entry(7)] long ByOrdinal([in] long code); };
// }
class MemberDescriptions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateTypeLib2(SYS_WIN32, u"", lib_.put()), S_OK);
        ASSERT_EQ(lib_->SetName(u"Members"), S_OK);
        auto shape = NewType(lib_.get(), u"IShape", TKIND_INTERFACE);
        auto kernel = NewType(lib_.get(), u"Kernel", TKIND_MODULE);
        ComPtr<ITypeInfo> dispatch = StdOle2Type(IDispatch::kIID);
        ASSERT_TRUE(shape && kernel && dispatch);
        ASSERT_EQ(shape->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION), S_OK);
        ASSERT_EQ(shape->AddImplType(0, RefTo(shape.get(), dispatch.get())), S_OK);
        TypeDescs td;
        AddFunc(shape.get(), 0, u"Name", INVOKE_PROPERTYGET,
                {{u"name", td.Ptr(td.Base(VT_BSTR)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}});
        AddFunc(shape.get(), 1, u"Name", INVOKE_PROPERTYPUT, {{u"", td.Base(VT_BSTR)}});
        AddFunc(shape.get(), 2, u"Fill", INVOKE_FUNC,
                {{u"count", td.Base(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FOPT},
                 {u"extra", td.Base(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT}},
                1);
        AddFunc(shape.get(), 3, u"Early", INVOKE_FUNC,
                {{u"first", td.Base(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT}, {u"second", td.Base(VT_I4)}});
        Variant answer(int32_t{42});
        VARDESC vd{};
        vd.memid = MEMBERID_NIL;
        vd.varkind = VAR_CONST;
        vd.elemdescVar.tdesc.vt = VT_I4;
        vd.lpvarValue = answer.ptr();
        ASSERT_EQ(kernel->AddVarDesc(0, &vd), S_OK);
        ASSERT_EQ(kernel->SetVarName(0, u"Answer"), S_OK);
        AddFunc(kernel.get(), 0, u"ByOrdinal", INVOKE_FUNC, {{u"code", td.Base(VT_I4)}}, 0, FUNC_STATIC, VT_I4);
        ASSERT_EQ(kernel->DefineFuncAsDllEntry(0, u"kernel32.dll", DllEntryPoint(WORD{7})), S_OK);
        ASSERT_EQ(shape->LayOut(), S_OK);
        ASSERT_EQ(kernel->LayOut(), S_OK);
        itl_ = lib_.As<ITypeLib>();
    }
    MEMBERID IdOf(UINT typeIndex, const char16_t* name) {
        ComPtr<ITypeInfo> ti;
        EXPECT_EQ(itl_->GetTypeInfo(typeIndex, ti.put()), S_OK);
        MEMBERID id = MEMBERID_NIL;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(ti->GetIDsOfNames(names, 1, &id), S_OK);
        return id;
    }
    static std::u16string NameOf(tli::ParameterInfo* p) {
        std::u16string name;
        EXPECT_EQ(p->get_Name(&name), S_OK);
        return name;
    }
    static std::u16string NameOf(tli::MemberInfo* m) {
        std::u16string name;
        EXPECT_EQ(m->get_Name(&name), S_OK);
        return name;
    }
    ComPtr<ICreateTypeLib2> lib_;
    ComPtr<ITypeLib> itl_;
};

TEST_F(MemberDescriptions, ReturnValuesAndUnlistedParametersOfADualInterface) {
    const MEMBERID name = IdOf(0, u"Name");
    MemberDescription get = CreateCustParameterInfo(itl_.get(), 0, name, INVOKE_PROPERTYGET, 0);
    ASSERT_TRUE(get.Member && get.Type);
    EXPECT_EQ(get.Parameter, nullptr);
    EXPECT_EQ(NameOf(get.Member.get()), u"Name");
    LONG invkind = 0;
    EXPECT_EQ(get.Member->get_InvokeKind(&invkind), S_OK);
    EXPECT_EQ(invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(modPrototype::GetTypeString(get.Type.get(), false), u"BSTR*");

    // The [retval] the member does not list.
    MemberDescription retval = CreateCustParameterInfo(itl_.get(), 0, name, INVOKE_PROPERTYGET, 1);
    ASSERT_TRUE(retval.Parameter);
    EXPECT_EQ(NameOf(retval.Parameter.get()), u"name");
    USHORT flags = 0;
    EXPECT_EQ(retval.Parameter->get_Flags(&flags), S_OK);
    EXPECT_EQ(flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    EXPECT_EQ(modPrototype::GetTypeString(retval.Type.get(), false), u"BSTR*");

    MemberDescription value = CreateCustParameterInfo(itl_.get(), 0, name, INVOKE_PROPERTYPUT, 1);
    ASSERT_TRUE(value.Parameter);
    EXPECT_EQ(modPrototype::GetTypeString(value.Type.get(), false), u"BSTR");
    EXPECT_FALSE(value.BeyondRequired);

    EXPECT_THROW(CreateCustParameterInfo(itl_.get(), 0, name, INVOKE_PROPERTYGET, 2), ErrorRecord);
    EXPECT_THROW(CreateCustParameterInfo(itl_.get(), 0, name, INVOKE_PROPERTYPUTREF, 0), ErrorRecord);
}

TEST_F(MemberDescriptions, OptionalParametersKnowWhetherTheFunctionCountsThem) {
    const MEMBERID fill = IdOf(0, u"Fill"), early = IdOf(0, u"Early");
    MemberDescription count = CreateCustParameterInfo(itl_.get(), 0, fill, INVOKE_FUNC, 1);
    MemberDescription extra = CreateCustParameterInfo(itl_.get(), 0, fill, INVOKE_FUNC, 2);
    MemberDescription first = CreateCustParameterInfo(itl_.get(), 0, early, INVOKE_FUNC, 1);
    EXPECT_EQ(NameOf(count.Parameter.get()), u"count");
    EXPECT_FALSE(count.BeyondRequired);
    EXPECT_EQ(NameOf(extra.Parameter.get()), u"extra");
    EXPECT_TRUE(extra.BeyondRequired);
    EXPECT_EQ(modPrototype::GetTypeString(extra.Type.get(), false), u"VARIANT");
    EXPECT_FALSE(first.BeyondRequired);
}

TEST_F(MemberDescriptions, ModuleFunctionsAreFoundAfterTheConstants) {
    MemberDescription f = CreateCustParameterInfo(itl_.get(), 1, IdOf(1, u"ByOrdinal"), INVOKE_FUNC, 0);
    EXPECT_EQ(NameOf(f.Member.get()), u"ByOrdinal");
    EXPECT_EQ(modPrototype::GetTypeString(f.Type.get(), false), u"long");
    std::u16string dll, entry;
    WORD ordinal = 0;
    EXPECT_EQ(f.Member->GetDllEntry(&dll, &entry, &ordinal), S_OK);
    EXPECT_EQ(dll, u"kernel32.dll");
    EXPECT_EQ(entry, u"");
    EXPECT_EQ(ordinal, 7);
    MemberDescription code = CreateCustParameterInfo(itl_.get(), 1, IdOf(1, u"ByOrdinal"), INVOKE_FUNC, 1);
    EXPECT_EQ(NameOf(code.Parameter.get()), u"code");
}

// ---- Parameter option masks ----

struct Shape {
    INVOKEKIND invkind = INVOKE_FUNC;
    VARTYPE ret = VT_HRESULT;
    std::vector<USHORT> flags{};
    SHORT cParamsOpt = 0;
};

int32_t Mask(const Shape& s, int32_t index) {
    std::vector<ELEMDESC> params(s.flags.size());
    for (size_t i = 0; i < params.size(); ++i) {
        params[i] = {};
        params[i].tdesc.vt = VT_VARIANT;
        params[i].paramdesc.wParamFlags = s.flags[i];
    }
    FUNCDESC fd{};
    fd.invkind = s.invkind;
    fd.cParams = static_cast<SHORT>(params.size());
    fd.cParamsOpt = s.cParamsOpt;
    fd.lprgelemdescParam = params.empty() ? nullptr : params.data();
    fd.elemdescFunc.tdesc.vt = s.ret;
    return CalcParamOptionMask(fd, index);
}

TEST(ParamOptionMask, ShapesOfTheFunction) {
    EXPECT_EQ(Mask({INVOKE_FUNC, VT_HRESULT}, -1), 0x7F000);
    EXPECT_EQ(Mask({INVOKE_FUNC, VT_VOID}, 0), 0x7F000);
    EXPECT_EQ(Mask({INVOKE_FUNC, VT_I4}, -1), 0x7D000);
    EXPECT_EQ(Mask({INVOKE_PROPERTYGET, VT_I4}, -1), 0x7F000);

    // A property put's value parameter takes only 0x80, beside the ParamArray bit.
    EXPECT_EQ(Mask({INVOKE_PROPERTYPUT, VT_HRESULT, {PARAMFLAG_FIN, PARAMFLAG_FIN}}, 1), 0x80);
    EXPECT_EQ(Mask({INVOKE_PROPERTYPUTREF, VT_HRESULT, {PARAMFLAG_FIN, PARAMFLAG_FIN}, -1}, 1), 0x80080);

    // A lone [out, retval] of a method returning HRESULT.
    EXPECT_EQ(Mask({INVOKE_FUNC, VT_HRESULT, {PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}, 0), 0x30084F);
    // The [lcid] parameter before it.
    EXPECT_EQ(Mask({INVOKE_FUNC, VT_HRESULT, {PARAMFLAG_FIN | PARAMFLAG_FLCID, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}, 0),
              0x100820);
    // The last of a ParamArray function's ordinary parameters.
    EXPECT_EQ(Mask({INVOKE_FUNC, VT_HRESULT, {PARAMFLAG_FIN, PARAMFLAG_FIN}, -1}, 1), 0xA2810);
    // Out of range data is read as having no flags, never past the list.
    EXPECT_NO_THROW(Mask({INVOKE_FUNC, VT_HRESULT, {PARAMFLAG_FIN}, 5}, 0));

    FUNCDESC broken{};
    broken.cParams = 2;
    EXPECT_THROW(CalcParamOptionMask(broken, 0), ErrorRecord);
}

// ---- Values ----

Variant Typed(VARTYPE vt, LONGLONG bits) {
    Variant v;
    v.get().vt = vt;
    v.get().llVal = bits;
    return v;
}

TEST(VariantsEqual, SubstitutedIntegerTypesCompareByValue) {
    for (VARTYPE vt : {VT_I1, VT_UI2, VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8}) {
        Variant a = Typed(vt, 0x7F), b = Typed(vt, 0x7F), c = Typed(vt, 0x7E);
        EXPECT_TRUE(VariantsEqual(a.get(), b.get())) << vt;
        EXPECT_FALSE(VariantsEqual(a.get(), c.get())) << vt;
        EXPECT_EQ(a.vt(), vt);
        EXPECT_EQ(b.vt(), vt);
    }
    Variant big = Typed(VT_UI8, -1), bigToo = Typed(VT_UI8, -1);
    EXPECT_TRUE(VariantsEqual(big.get(), bigToo.get()));
    // The same bits under different type words are different values.
    EXPECT_FALSE(VariantsEqual(Typed(VT_I4, 5).get(), Typed(VT_INT, 5).get()));
    EXPECT_FALSE(VariantsEqual(Typed(VT_I8, 5).get(), Typed(VT_CY, 5).get()));
}

TEST(VariantsEqual, OtherTypes) {
    EXPECT_TRUE(VariantsEqual(Variant(u"abc").get(), Variant(u"abc").get()));
    EXPECT_FALSE(VariantsEqual(Variant(u"abc").get(), Variant(u"ABC").get()));
    EXPECT_FALSE(VariantsEqual(Variant(int32_t{1}).get(), Variant(int16_t{1}).get()));
    EXPECT_TRUE(VariantsEqual(Variant::Null().get(), Variant::Null().get()));
}

}  // namespace
}  // namespace zephrin
