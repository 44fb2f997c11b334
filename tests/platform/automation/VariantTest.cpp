#include <gtest/gtest.h>

#include "platform/automation/CustData.h"
#include "platform/automation/Variant.h"

using namespace ole;

namespace {

struct IProbe : IUnknown {
    static constexpr IID kIID = {0x1D0A2B3C, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    virtual int Value() = 0;
};

// Counts live objects so that tests can see leaks and early frees.
int g_live = 0;

class Probe final : public RefCounted<IProbe, IDispatch> {
public:
    Probe() { ++g_live; }
    ~Probe() override { --g_live; }
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return QueryInterfaceFor<IProbe, IDispatch>(this, riid, ppv);
    }
    int Value() override { return 42; }
    HRESULT GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT GetIDsOfNames(const IID&, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
};

}  // namespace

TEST(ComPtr, CountsReferencesAndQueriesInterfaces) {
    {
        ComPtr<IProbe> probe = MakeCom<Probe>();
        ASSERT_TRUE(probe);
        EXPECT_EQ(g_live, 1);
        ComPtr<IDispatch> disp;
        ASSERT_EQ(probe.As(&disp), S_OK);
        ComPtr<IUnknown> unk1 = probe.As<IUnknown>();
        ComPtr<IUnknown> unk2 = disp.As<IUnknown>();
        EXPECT_EQ(unk1.get(), unk2.get()) << "one identity whichever route";
        ComPtr<IClassFactory> none;
        EXPECT_EQ(probe.As(&none), E_NOINTERFACE);
        EXPECT_FALSE(none);

        ComPtr<IProbe> copy = probe;
        IProbe* raw = copy.Detach();
        ComPtr<IProbe> again;
        again.Attach(raw);
        EXPECT_EQ(again->Value(), 42);
        IProbe** slot = again.put();  // releases
        EXPECT_EQ(*slot, nullptr);
        EXPECT_EQ(g_live, 1);
    }
    EXPECT_EQ(g_live, 0);
}

TEST(Variant, CopyOwnsItsOwnStringAndClearFreesIt) {
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_BSTR;
    a.bstrVal = SysAllocString(u"text");
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(a.bstrVal, b.bstrVal);
    EXPECT_TRUE(VariantEqual(a, b));
    ASSERT_EQ(VariantCopy(&b, &b), S_OK);  // self copy keeps the value
    EXPECT_EQ(BstrView(b.bstrVal), u"text");
    ASSERT_EQ(VariantClear(&a), S_OK);
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_EQ(BstrView(b.bstrVal), u"text");
    // Copying over a string frees the old one (ASan reports a leak otherwise).
    VARIANT c;
    VariantInit(&c);
    c.vt = VT_I4;
    c.lVal = 5;
    ASSERT_EQ(VariantCopy(&b, &c), S_OK);
    EXPECT_EQ(b.vt, VT_I4);
    EXPECT_EQ(VariantClear(&b), S_OK);
}

TEST(Variant, InterfacesAreCountedByCopyAndClear) {
    {
        ComPtr<IProbe> probe = MakeCom<Probe>();
        Variant v(static_cast<IUnknown*>(probe.get()));
        Variant w = v;
        EXPECT_EQ(v, w);
        Variant d = w;
        ASSERT_EQ(d.ChangeType(VT_DISPATCH), S_OK);
        EXPECT_EQ(d.vt(), VT_DISPATCH);
        EXPECT_EQ(Variant(u"x").ChangeType(VT_UNKNOWN), DISP_E_TYPEMISMATCH);
        Variant asText = w;
        EXPECT_EQ(asText.ChangeType(VT_BSTR), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(asText.vt(), VT_UNKNOWN) << "failed conversion leaves the value";
    }
    EXPECT_EQ(g_live, 0);
}

TEST(Variant, BadTypesAreRefused) {
    VARIANT v;
    VariantInit(&v);
    v.vt = 15;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    VARIANT w;
    VariantInit(&w);
    EXPECT_EQ(VariantCopy(&w, &v), DISP_E_BADVARTYPE);
    v.vt = VT_NULL | VT_BYREF;
    EXPECT_EQ(VariantCopy(&w, &v), DISP_E_BADVARTYPE);
    v.vt = VT_I4;
    EXPECT_EQ(VariantChangeType(&w, &v, 0, VT_VARIANT), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&w, &v, 0, VT_PTR), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(Variant, CopyIndDereferences) {
    BSTR s = SysAllocString(u"by ref");
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &s;
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantCopyInd(&out, &ref), S_OK);
    EXPECT_EQ(out.vt, VT_BSTR);
    EXPECT_NE(out.bstrVal, s);
    EXPECT_EQ(BstrView(out.bstrVal), u"by ref");
    VariantClear(&out);
    VariantClear(&ref);  // by-reference: nothing freed
    SysFreeString(s);

    Variant inner(int32_t{7});
    VARIANT vref;
    VariantInit(&vref);
    vref.vt = VT_VARIANT | VT_BYREF;
    vref.pvarVal = inner.ptr();
    Variant result;
    ASSERT_EQ(VariantChangeType(result.ptr(), &vref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(BstrView(result.get().bstrVal), u"7");
}

TEST(Variant, EqualityNeedsTheSameTypeAndValue) {
    EXPECT_EQ(Variant(int32_t{1}), Variant(int32_t{1}));
    EXPECT_FALSE(Variant(int32_t{1}) == Variant(int16_t{1}));
    EXPECT_FALSE(Variant(u"a") == Variant(u"A"));
    EXPECT_EQ(Variant(u""), Variant(static_cast<const OLECHAR*>(nullptr)));
    EXPECT_EQ(Variant::Null(), Variant::Null());
    EXPECT_FALSE(Variant::Null() == Variant());
    DECIMAL a{}, b{};
    ASSERT_EQ(DecimalFromText(u"1.5", &a), S_OK);
    b.Lo64 = 150;
    b.scale = 2;
    EXPECT_EQ(Variant(a), Variant(b)) << "1.5 and 1.50 are the same number";
    EXPECT_EQ(Variant(true), Variant(true));
    EXPECT_EQ(Variant::Currency(15000), Variant(CY{15000}));
}

TEST(SafeArray, ElementsBoundsAndOwnership) {
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, 0}};  // (1 To 3, 0 To 1)
    SAFEARRAY* psa = SafeArrayCreate(VT_BSTR, 2, bounds);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(psa), 2u);
    LONG lo = 0, hi = 0;
    ASSERT_EQ(SafeArrayGetLBound(psa, 1, &lo), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(psa, 1, &hi), S_OK);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 3);
    ASSERT_EQ(SafeArrayGetUBound(psa, 2, &hi), S_OK);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(SafeArrayGetLBound(psa, 3, &lo), DISP_E_BADINDEX);

    LONG idx[2] = {3, 1};
    BSTR text = SysAllocString(u"cell");
    ASSERT_EQ(SafeArrayPutElement(psa, idx, text), S_OK);
    ASSERT_EQ(SafeArrayPutElement(psa, idx, text), S_OK);  // replaces and frees the earlier copy
    SysFreeString(text);
    BSTR got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(psa, idx, &got), S_OK);
    EXPECT_EQ(BstrView(got), u"cell");
    SysFreeString(got);
    LONG outside[2] = {0, 0};
    EXPECT_EQ(SafeArrayGetElement(psa, outside, &got), DISP_E_BADINDEX);

    // The leftmost index varies fastest.
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(BstrView(static_cast<BSTR*>(data)[5]), u"cell");
    ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = psa;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_NE(copy.parray, psa);
    EXPECT_TRUE(VariantEqual(copy, v));
    ASSERT_EQ(SafeArrayPutElement(copy.parray, idx, nullptr), S_OK);
    EXPECT_FALSE(VariantEqual(copy, v));
    VariantClear(&copy);
    ASSERT_EQ(SafeArrayDestroyData(psa), S_OK);
    EXPECT_EQ(VariantClear(&v), S_OK);

    SAFEARRAY* vec = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    Variant item(u"in a variant array");
    LONG i = 1;
    ASSERT_EQ(SafeArrayPutElement(vec, &i, item.ptr()), S_OK);
    Variant back;
    ASSERT_EQ(SafeArrayGetElement(vec, &i, back.ptr()), S_OK);
    EXPECT_EQ(back, item);
    VARTYPE vt = 0;
    ASSERT_EQ(SafeArrayGetVartype(vec, &vt), S_OK);
    EXPECT_EQ(vt, VT_VARIANT);
    EXPECT_EQ(SafeArrayDestroy(vec), S_OK);
    EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, bounds), nullptr);
}

TEST(CustData, ClearFreesValuesAndZeroesTheBlock) {
    CUSTDATA cd;
    cd.cCustData = 2;
    cd.prgCustData = static_cast<CUSTDATAITEM*>(CoTaskMemAlloc(2 * sizeof(CUSTDATAITEM)));
    Variant(u"value").Detach(&cd.prgCustData[0].varValue);
    Variant(true).Detach(&cd.prgCustData[1].varValue);
    cd.prgCustData[0].guid = GUID_NULL;
    cd.prgCustData[1].guid = IUnknown::kIID;
    ClearCustData(&cd);
    EXPECT_EQ(cd.cCustData, 0u);
    EXPECT_EQ(cd.prgCustData, nullptr);
    ClearCustData(&cd);
    ClearCustData(nullptr);
}
