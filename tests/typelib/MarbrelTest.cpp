// Unique names, the leading-underscore order, parameter option masks, type
// and value equality and the object-type test, on libraries built through the
// creation interfaces and read through the TypeLib Information objects.
#include <gtest/gtest.h>

#include <set>

#include "support/ErrorCapture.h"
#include "support/ShapesLibrary.h"
#include "support/TliReading.h"
#include "typelib/modMarbrel.h"
#include "typelib/modPrototype.h"

namespace zephrin {
namespace {

using namespace testsupport;
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

TEST(MakeUniqueName, GivesUpAfterTheCapLeavingTheNameAlone) {
    size_t calls = 0;
    NamePredicate refuseAll = [&](const std::u16string&) { return ++calls, false; };
    std::u16string name = u"Busy7";
    const ErrorRecord e = RecordOf([&] { MakeUniqueName(refuseAll, name, false, 1000); });
    EXPECT_EQ(e.Number, kErrInvalidArgument);
    EXPECT_EQ(e.Description, u"No free name found for 'Busy' after 1,000 tries");
    EXPECT_EQ(name, u"Busy7");
    EXPECT_EQ(calls, 1001u);
    // The last candidate tried is the cap's.
    MakeUniqueName([](const std::u16string& n) { return n == u"Busy3"; }, name, false, 3);
    EXPECT_EQ(name, u"Busy3");
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

// ---- Member names and their order ----

ComPtr<tli::Members> MembersOfType(ICreateTypeInfo* type) {
    ComPtr<tli::TypeInfo> view;
    EXPECT_OK(App()->TypeInfoFromITypeInfo(AsTypeInfo(type).get(), view.put()));
    return MembersOf(view.get());
}

class MemberNames : public ::testing::Test {
protected:
    void SetUp() override {
        lib_ = NewLibrary(u"Names");
        type_ = NewType(lib_.get(), u"IThing", TKIND_INTERFACE);
        ASSERT_TRUE(type_);
        ASSERT_OK(type_->AddImplType(0, RefTo(type_.get(), StdOle2Type(IDispatch::kIID).get())));
        UINT i = 0;
        for (const char16_t* name : {u"Zoom", u"__Item", u"_NewEnum", u"Item", u"_Item", u"Name", u"apple", u"Item1"})
            AddFunc(type_.get(), i++, {name});
        ASSERT_OK(type_->LayOut());
    }
    ComPtr<ICreateTypeLib2> lib_;
    ComPtr<ICreateTypeInfo2> type_;
};

TEST_F(MemberNames, NewMemberNamesSkipEveryNameTheTypeAnswers) {
    ComPtr<ITypeInfo> ti = AsTypeInfo(type_.get());
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
    ComPtr<tli::Members> members = MembersOfType(type_.get());
    ASSERT_OK(members->putref_CustomSort(LeadingUnderscoreCustomSort().get()));
    EXPECT_EQ(Names(members.get()), (std::vector<std::u16string>{u"apple", u"Item", u"_Item", u"__Item", u"Item1",
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
        lib_ = NewLibrary(u"Kinds");
        auto thing = NewType(lib_.get(), u"IThing", TKIND_INTERFACE);
        auto events = NewType(lib_.get(), u"DEvents", TKIND_DISPATCH);
        auto coclass = NewType(lib_.get(), u"Thing", TKIND_COCLASS);
        auto rec = NewType(lib_.get(), u"Rec", TKIND_RECORD);
        ComPtr<ICreateTypeInfo2> aliases[5];
        const char16_t* aliasNames[] = {u"ThingPtr", u"ThingPtrAgain", u"Number", u"RecAlias", u"Disp"};
        for (int i = 0; i < 5; ++i) aliases[i] = NewType(lib_.get(), aliasNames[i], TKIND_ALIAS);
        auto fields = NewType(lib_.get(), u"Fields", TKIND_RECORD);
        ComPtr<ITypeInfo> unknown = StdOle2Type(IUnknown::kIID), dispatch = StdOle2Type(IDispatch::kIID);
        ASSERT_TRUE(fields && unknown && dispatch);

        ASSERT_OK(thing->AddImplType(0, RefTo(thing.get(), unknown.get())));
        ASSERT_OK(events->AddImplType(0, RefTo(events.get(), dispatch.get())));
        ASSERT_OK(coclass->AddImplType(0, RefTo(coclass.get(), thing.get())));
        AddVar(rec.get(), 0, u"x", Vt(VT_I4));
        TYPEDESC targets[] = {td_.Ptr(User(RefTo(aliases[0].get(), thing.get()))),
                              User(RefTo(aliases[1].get(), aliases[0].get())), Vt(VT_I4),
                              User(RefTo(aliases[3].get(), rec.get())), Vt(VT_DISPATCH)};
        for (int i = 0; i < 5; ++i) ASSERT_OK(aliases[i]->SetTypeDescAlias(&targets[i]));

        ICreateTypeInfo* f = fields.get();
        const std::pair<const char16_t*, TYPEDESC> cases[] = {
            {u"viaTwoAliases", User(RefTo(f, aliases[1].get()))},
            {u"numberAlias", User(RefTo(f, aliases[2].get()))},
            {u"recAlias", User(RefTo(f, aliases[3].get()))},
            {u"rec", User(RefTo(f, rec.get()))},
            {u"unknown", Vt(VT_UNKNOWN)},
            {u"dispatch", Vt(VT_DISPATCH)},
            {u"dispAlias", User(RefTo(f, aliases[4].get()))},
            {u"coclass", td_.Ptr(User(RefTo(f, coclass.get())))},
            {u"events", td_.Ptr(User(RefTo(f, events.get())))},
            {u"stdDispatch", td_.Ptr(User(RefTo(f, dispatch.get())))},
            {u"thingArray", td_.SafeArray(td_.Ptr(User(RefTo(f, thing.get()))))},
            {u"longRef", td_.Ptr(Vt(VT_I4))},
            {u"longRef2", td_.Ptr(Vt(VT_I4))},
            {u"longRefRef", td_.Ptr(td_.Ptr(Vt(VT_I4)))},
            {u"zeroToNine", td_.CArray(Vt(VT_I4), {{0, 10}})},
            {u"zeroToNine2", td_.CArray(Vt(VT_I4), {{0, 10}})},
            {u"oneToTen", td_.CArray(Vt(VT_I4), {{1, 10}})},
            {u"safeLongs", td_.SafeArray(Vt(VT_I4))},
            {u"safeLongs2", td_.SafeArray(Vt(VT_I4))},
            {u"safeLongRefs", td_.SafeArray(td_.Ptr(Vt(VT_I4)))},
            {u"rec2", User(RefTo(f, rec.get()))},
        };
        UINT i = 0;
        for (const auto& [name, type] : cases) AddVar(f, i++, name, type);
        ASSERT_OK(rec->LayOut());
        ASSERT_OK(fields->LayOut());
        members_ = MembersOfType(f);
    }
    ComPtr<tli::VarTypeInfo> Field(std::u16string_view name) { return TypeOfMember(members_.get(), name); }
    bool IsObject(std::u16string_view field) { return ResolveObjectTypeInfo(Field(field).get()); }
    bool Same(std::u16string_view a, std::u16string_view b) {
        return VarTypeInfoEquals(Field(a).get(), Field(b).get());
    }

    TypeDescs td_;
    ComPtr<ICreateTypeLib2> lib_;
    ComPtr<tli::Members> members_;
};

TEST_F(TypeQueries, ObjectTypesAreFoundThroughAliases) {
    for (const char16_t* field : {u"viaTwoAliases", u"unknown", u"dispatch", u"dispAlias", u"coclass", u"events",
                                  u"stdDispatch"})
        EXPECT_TRUE(IsObject(field)) << ToUtf8(field);
    for (const char16_t* field : {u"numberAlias", u"recAlias", u"rec", u"thingArray", u"longRef"})
        EXPECT_FALSE(IsObject(field)) << ToUtf8(field);
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

// ---- Member and parameter descriptions (on the sample library) ----

class MemberDescriptions : public ::testing::Test {
protected:
    void SetUp() override {
        ComPtr<ICreateTypeLib2> shapes = BuildShapes();
        ASSERT_TRUE(shapes);
        lib_ = AsTypeLib(shapes.get());
    }
    static constexpr UINT kKernel = 1, kShape = 3;
    MEMBERID IdOf(UINT typeIndex, const char16_t* name) {
        ComPtr<ITypeInfo> ti;
        EXPECT_OK(lib_->GetTypeInfo(typeIndex, ti.put()));
        MEMBERID id = MEMBERID_NIL;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_OK(ti->GetIDsOfNames(names, 1, &id));
        return id;
    }
    MemberDescription Describe(UINT type, const char16_t* member, INVOKEKIND kind, int32_t position) {
        return CreateCustParameterInfo(lib_.get(), type, IdOf(type, member), kind, position);
    }
    static std::u16string Text(const MemberDescription& d) { return modPrototype::GetTypeString(d.Type.get(), false); }
    ComPtr<ITypeLib> lib_;
};

TEST_F(MemberDescriptions, ReturnValuesAndUnlistedParametersOfADualInterface) {
    MemberDescription get = Describe(kShape, u"Name", INVOKE_PROPERTYGET, 0);
    ASSERT_TRUE(get.Member && get.Type);
    EXPECT_EQ(get.Parameter, nullptr);
    EXPECT_EQ(NameOf(get.Member), u"Name");
    EXPECT_EQ(Get(get.Member, &tli::MemberInfo::get_InvokeKind), INVOKE_PROPERTYGET);
    EXPECT_EQ(Text(get), u"BSTR*");

    // The [retval] the member does not list.
    MemberDescription retval = Describe(kShape, u"Name", INVOKE_PROPERTYGET, 1);
    ASSERT_TRUE(retval.Parameter);
    EXPECT_EQ(NameOf(retval.Parameter), u"name");
    EXPECT_EQ(Get(retval.Parameter, &tli::ParameterInfo::get_Flags), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    EXPECT_EQ(Text(retval), u"BSTR*");

    MemberDescription value = Describe(kShape, u"Name", INVOKE_PROPERTYPUT, 1);
    ASSERT_TRUE(value.Parameter);
    EXPECT_EQ(Text(value), u"BSTR");
    EXPECT_FALSE(value.BeyondRequired);

    EXPECT_THROW(Describe(kShape, u"Name", INVOKE_PROPERTYGET, 2), ErrorRecord);
    EXPECT_THROW(Describe(kShape, u"Name", INVOKE_PROPERTYPUTREF, 0), ErrorRecord);
}

TEST_F(MemberDescriptions, OptionalParametersKnowWhetherTheFunctionCountsThem) {
    // Fill([optional, defaultvalue(5)] long count, [optional] VARIANT extra), one counted optional.
    MemberDescription count = Describe(kShape, u"Fill", INVOKE_FUNC, 1), extra = Describe(kShape, u"Fill", INVOKE_FUNC, 2);
    EXPECT_EQ(NameOf(count.Parameter), u"count");
    EXPECT_FALSE(count.BeyondRequired);
    EXPECT_EQ(NameOf(extra.Parameter), u"extra");
    EXPECT_TRUE(extra.BeyondRequired);
    EXPECT_EQ(Text(extra), u"VARIANT");
    // Early([optional] VARIANT first, long second): optional, but not counted.
    EXPECT_FALSE(Describe(kShape, u"Early", INVOKE_FUNC, 1).BeyondRequired);
}

TEST_F(MemberDescriptions, ModuleFunctionsAreFoundAfterTheConstants) {
    MemberDescription f = Describe(kKernel, u"ByOrdinal", INVOKE_FUNC, 0);
    EXPECT_EQ(NameOf(f.Member), u"ByOrdinal");
    EXPECT_EQ(Text(f), u"long");
    std::u16string dll, entry;
    WORD ordinal = 0;
    EXPECT_OK(f.Member->GetDllEntry(&dll, &entry, &ordinal));
    EXPECT_EQ(dll, u"kernel32.dll");
    EXPECT_EQ(entry, u"");
    EXPECT_EQ(ordinal, 7);
    EXPECT_EQ(NameOf(Describe(kKernel, u"Beep", INVOKE_FUNC, 1).Parameter), u"freq");
}

// ---- Parameter option masks ----

struct Shape {
    INVOKEKIND invkind = INVOKE_FUNC;
    VARTYPE ret = VT_HRESULT;
    std::vector<USHORT> flags{};
    SHORT cParamsOpt = 0;
    FUNCKIND kind = FUNC_PUREVIRTUAL;
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
    fd.funckind = s.kind;
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
    // A dispatch Get that returns the value itself takes no return value
    // parameter; its index is an ordinary parameter, as a method's is. One
    // that returns a status (or holds a return value parameter) is a Get.
    EXPECT_EQ(Mask({INVOKE_PROPERTYGET, VT_BSTR, {}, 0, FUNC_DISPATCH}, -1), 0x7D000);
    EXPECT_EQ(Mask({INVOKE_PROPERTYGET, VT_BSTR, {PARAMFLAG_FIN}, 0, FUNC_DISPATCH}, 0),
              Mask({INVOKE_FUNC, VT_BSTR, {PARAMFLAG_FIN}}, 0));
    EXPECT_EQ(Mask({INVOKE_PROPERTYGET, VT_BSTR, {PARAMFLAG_FIN}, 0, FUNC_DISPATCH}, 0) & 0x2C00, 0x800);
    EXPECT_EQ(Mask({INVOKE_PROPERTYGET, VT_HRESULT, {PARAMFLAG_FIN}, 0, FUNC_DISPATCH}, 0),
              Mask({INVOKE_PROPERTYGET, VT_HRESULT, {PARAMFLAG_FIN}}, 0));
    EXPECT_EQ(Mask({INVOKE_PROPERTYGET, VT_I4, {PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}, 0, FUNC_DISPATCH}, 0),
              Mask({INVOKE_PROPERTYGET, VT_I4, {PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}, 0));

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

TEST(VariantsEqual, SubstitutedIntegerTypesCompareByValueOthersByTypeAndValue) {
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
    EXPECT_TRUE(VariantsEqual(Variant(u"abc").get(), Variant(u"abc").get()));
    EXPECT_FALSE(VariantsEqual(Variant(u"abc").get(), Variant(u"ABC").get()));
    EXPECT_FALSE(VariantsEqual(Variant(int32_t{1}).get(), Variant(int16_t{1}).get()));
    EXPECT_TRUE(VariantsEqual(Variant::Null().get(), Variant::Null().get()));
}

}  // namespace
}  // namespace zephrin
