// The dependency walk over a library that imports from two libraries and from
// the companion library of unresolved types: every reference in order, with
// its context, for a callback with and without context, and a failing callback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DialogTestSupport.h"
#include "dialogs/modDependencyWalker.h"
#include "foundation/ErrorRecord.h"
#include "typelib/modITypeInfoHelper.h"

namespace dialogstest {
namespace {

std::string Utf8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

std::string NameOf(ITypeInfo* ti) {
    BSTR name = nullptr;
    EXPECT_OK(ti->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
    std::string text = name ? Utf8(name) : std::string();
    SysFreeString(name);
    return text;
}

std::string NameOf(ITypeLib* lib) {
    BSTR name = nullptr;
    EXPECT_OK(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
    std::string text = name ? Utf8(name) : std::string();
    SysFreeString(name);
    return text;
}

// Writes each call as a line.
template <class Interface>
class Recorder : public RefCounted<Interface> {
public:
    std::vector<std::string> calls;
    int failAt = -1;  // the reference that fails, counted from 0

    HRESULT QueryInterface(const IID& riid, void** ppv) override { return QueryInterfaceFor<Interface>(this, riid, ppv); }
    HRESULT OnStartNewType(int32_t index) override {
        calls.push_back("start " + std::to_string(index));
        return S_OK;
    }
    HRESULT OnReferenceTypeInfo(ITypeInfo* type, int32_t kind, int32_t index, ITypeLib* lib, bool direct) override {
        if (failAt == 0) return E_FAIL;
        --failAt;
        TYPEATTR* attr = nullptr;
        EXPECT_OK(type->GetTypeAttr(&attr));
        const bool dispatch = attr->typekind == TKIND_DISPATCH;
        type->ReleaseTypeAttr(attr);
        calls.push_back("ref " + NameOf(type) + (dispatch ? " (dispatch)" : "") + " kind " + std::to_string(kind) +
                        " #" + std::to_string(index) + " in " + (lib ? NameOf(lib) : "-") +
                        (direct ? " direct" : " through"));
        return S_OK;
    }
    HRESULT OnSetContext(int32_t kind, int32_t memid, int32_t invkind, int32_t param, int32_t flags) {
        calls.push_back("ctx " + std::to_string(kind) + " " + std::to_string(memid) + " " + std::to_string(invkind) +
                        " " + std::to_string(param) + " " + std::to_string(flags));
        return S_OK;
    }
};

using Recorder2 = Recorder<ITypeInfoDependencyWalker2>;
using Recorder1 = Recorder<ITypeInfoDependencyWalker>;

ComPtr<ITypeInfo> TypeOf(ITypeLib* lib, UINT index) {
    ComPtr<ITypeInfo> ti;
    EXPECT_OK(lib->GetTypeInfo(index, ti.put()));
    return ti;
}

struct DependencyWalk : ::testing::Test {
    TempDir dir;
    TypeDescs td;
    ComPtr<ITypeLib> extA, extB, missing, main;

    ComPtr<ICreateTypeLib2> Library(const std::u16string& name) {
        return NewLibrary(name, (dir.path() / (Utf8(name) + ".tlb")).u16string());
    }
    ComPtr<ITypeLib> Saved(ICreateTypeLib2* lib, const std::u16string& name) {
        EXPECT_OK(lib->SaveAllChanges());
        ComPtr<ITypeLib> loaded;
        EXPECT_OK(LoadTypeLibEx((dir.path() / (Utf8(name) + ".tlb")).u16string().c_str(), REGKIND_NONE, loaded.put()));
        return loaded;
    }

    void SetUp() override {
        const ComPtr<ITypeInfo> unknown = StdOle2Type(kIID_IUnknown), dispatch = StdOle2Type(kIID_IDispatch);
        {  // ExtA: RecA, IExtA
            auto lib = Library(u"ExtA");
            EXPECT_OK(lib->SetGuid({0x5A000001, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}}));
            auto rec = NewType(lib.get(), u"RecA", TKIND_RECORD);
            AddVar(rec.get(), 0, u"x", Vt(VT_I4));
            auto ext = NewType(lib.get(), u"IExtA", TKIND_INTERFACE);
            EXPECT_OK(ext->AddImplType(0, RefTo(ext.get(), unknown.get())));
            extA = Saved(lib.get(), u"ExtA");
        }
        {  // ExtB: the dual IExtDual
            auto lib = Library(u"ExtB");
            EXPECT_OK(lib->SetGuid({0x5A000002, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}}));
            auto dual = NewType(lib.get(), u"IExtDual", TKIND_INTERFACE);
            EXPECT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
            EXPECT_OK(dual->AddImplType(0, RefTo(dual.get(), dispatch.get())));
            extB = Saved(lib.get(), u"ExtB");
        }
        {  // the unresolved types' companion, with one placeholder
            auto lib = Library(u"MISSING");
            EXPECT_OK(lib->SetGuid({0x5A000003, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}}));
            modITypeInfoHelper::MarkUnresolvedTypesLib(lib.get());
            auto thing = NewType(lib.get(), u"Thing", TKIND_RECORD);
            AddVar(thing.get(), 0, u"x", Vt(VT_I4));
            missing = Saved(lib.get(), u"MISSING");
        }
        ASSERT_TRUE(modITypeInfoHelper::IsUnresolvedTypesLib(missing.get()));
        const ComPtr<ITypeInfo> recA = TypeOf(extA.get(), 0), iExtA = TypeOf(extA.get(), 1),
                                extDual = TypeOf(extB.get(), 0), thing = TypeOf(missing.get(), 0);
        ASSERT_OK([&] {
            TYPEATTR* attr = nullptr;
            HRESULT hr = extDual->GetTypeAttr(&attr);
            if (attr) {
                hr = attr->typekind == TKIND_DISPATCH ? S_OK : E_UNEXPECTED;
                extDual->ReleaseTypeAttr(attr);
            }
            return hr;
        }());

        auto lib = Library(u"Main");
        auto colors = NewType(lib.get(), u"Colors", TKIND_ENUM);
        auto base = NewType(lib.get(), u"IBase", TKIND_INTERFACE);
        auto derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
        auto holder = NewType(lib.get(), u"Holder", TKIND_RECORD);
        auto uses = NewType(lib.get(), u"IUses", TKIND_INTERFACE);
        auto alias = NewType(lib.get(), u"AliasMissing", TKIND_ALIAS);
        auto coclass = NewType(lib.get(), u"Both", TKIND_COCLASS);
        auto props = NewType(lib.get(), u"DProps", TKIND_DISPATCH);
        auto mod = NewType(lib.get(), u"Mod", TKIND_MODULE);
        auto mainDual = NewType(lib.get(), u"IMainDual", TKIND_INTERFACE);

        const Variant one = Variant::Int(1);
        AddVar(colors.get(), 0, u"Red", Vt(VT_INT), VAR_CONST, &one);
        EXPECT_OK(base->AddImplType(0, RefTo(base.get(), unknown.get())));
        AddFunc(base.get(), 0, {.name = u"Go"});
        EXPECT_OK(derived->AddImplType(0, RefTo(derived.get(), base.get())));

        const HREFTYPE hRec = RefTo(holder.get(), recA.get());
        AddVar(holder.get(), 0, u"byValue", User(hRec));
        AddVar(holder.get(), 1, u"pointer", td.Ptr(User(hRec)));
        AddVar(holder.get(), 2, u"safe", td.SafeArray(User(hRec)));
        AddVar(holder.get(), 3, u"fixed", td.CArray(User(hRec), {{0, 2}}));
        AddVar(holder.get(), 4, u"plain", Vt(VT_I4));

        EXPECT_OK(uses->AddImplType(0, RefTo(uses.get(), iExtA.get())));
        AddFunc(uses.get(), 0,
                {.name = u"Value",
                 .invkind = INVOKE_PROPERTYPUT,
                 .params = {{u"i", Vt(VT_I4)}, {u"v", td.Ptr(User(RefTo(uses.get(), extDual.get())))}},
                 .memid = 3});
        AddFunc(uses.get(), 1, {.name = u"Get", .ret = td.Ptr(User(RefTo(uses.get(), thing.get()))), .memid = 4});

        TYPEDESC aliased = User(RefTo(alias.get(), thing.get()));
        EXPECT_OK(alias->SetTypeDescAlias(&aliased));

        EXPECT_OK(coclass->AddImplType(0, RefTo(coclass.get(), derived.get())));
        EXPECT_OK(coclass->AddImplType(1, RefTo(coclass.get(), extDual.get())));

        AddVar(props.get(), 0, u"Prop", User(RefTo(props.get(), recA.get())), VAR_DISPATCH, nullptr, 5);
        AddFunc(props.get(), 0,
                {.name = u"M",
                 .ret = Vt(VT_VOID),
                 .params = {{u"b", td.Ptr(User(RefTo(props.get(), base.get())))}},
                 .memid = 7,
                 .kind = FUNC_DISPATCH});

        AddFunc(mod.get(), 0,
                {.name = u"F",
                 .ret = User(RefTo(mod.get(), recA.get())),
                 .params = {{u"r", td.Ptr(User(RefTo(mod.get(), recA.get()))), PARAMFLAG_FIN | PARAMFLAG_FOUT}},
                 .memid = 0x60000000,
                 .kind = FUNC_STATIC});
        EXPECT_OK(mod->DefineFuncAsDllEntry(0, u"ext.dll", std::u16string(u"F")));

        EXPECT_OK(mainDual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
        EXPECT_OK(mainDual->AddImplType(0, RefTo(mainDual.get(), dispatch.get())));
        AddFunc(mainDual.get(), 0,
                {.name = u"Run", .params = {{u"d", td.Ptr(User(RefTo(mainDual.get(), derived.get())))}}, .memid = 9});
        main = Saved(lib.get(), u"Main");
    }
};

TEST_F(DependencyWalk, ReportsEveryReferenceInOrderWithItsContext) {
    auto walker = MakeCom<Recorder2>();
    modDependencyWalker::WalkTypeLib(main.get(), walker.get());
    const std::vector<std::string> expected = {
        "start 0",  // the enumeration: nothing more
        "start 1",  // IBase : IUnknown reports no base
        "start 2",
        "ctx 2 0 0 -1 0",
        "ref IBase kind 3 #1 in - direct",
        "start 3",
        "ctx 5 1073741824 0 -1 0",
        "ref RecA kind 1 #0 in ExtA direct",
        "ctx 5 1073741825 0 -1 0",
        "ref RecA kind 1 #0 in ExtA through",
        "ctx 5 1073741826 0 -1 0",
        "ref RecA kind 1 #0 in ExtA direct",
        "ctx 5 1073741827 0 -1 0",
        "ref RecA kind 1 #0 in ExtA through",
        "start 4",
        "ctx 2 0 0 -1 0",
        "ref IExtA kind 3 #1 in ExtA direct",
        "ctx 10 3 4 -2 1",  // the value parameter of a put with two parameters
        "ref IExtDual kind 4 #0 in ExtB through",
        "ctx 8 4 1 -1 0",
        "ref Thing kind 1 #0 in MISSING through",
        "start 5",
        "ctx 1 -1 0 -1 0",
        "ref Thing kind 1 #0 in MISSING direct",
        "start 6",
        "ctx 3 0 0 -1 0",
        "ref IDerived kind 3 #2 in - through",
        "ctx 3 1 0 -1 0",
        "ref IExtDual kind 4 #0 in ExtB through",
        "start 7",
        "ctx 4 5 0 -1 0",
        "ref RecA kind 1 #0 in ExtA direct",
        "ctx 10 7 1 0 1",
        "ref IBase kind 3 #1 in - through",
        "start 8",
        "ctx 7 1610612736 1 -1 0",
        "ref RecA kind 1 #0 in ExtA direct",
        "ctx 9 1610612736 1 0 3",
        "ref RecA kind 1 #0 in ExtA through",
        "start 9",  // the dual is walked through its interface half
        "ctx 10 9 1 0 1",
        "ref IDerived kind 3 #2 in - through",
    };
    EXPECT_EQ(walker->calls, expected);
}

TEST_F(DependencyWalk, AFirstVersionCallbackGetsTheSameCallsWithoutContext) {
    auto full = MakeCom<Recorder2>();
    modDependencyWalker::WalkTypeLib(main.get(), full.get());
    std::vector<std::string> withoutContext;
    for (const auto& call : full->calls) {
        if (call.rfind("ctx", 0) != 0) withoutContext.push_back(call);
    }
    auto walker = MakeCom<Recorder1>();
    modDependencyWalker::WalkTypeLib(main.get(), walker.get());
    EXPECT_EQ(walker->calls, withoutContext);
}

TEST_F(DependencyWalk, AFailingCallbackStopsTheWalkWithItsError) {
    auto walker = MakeCom<Recorder2>();
    walker->failAt = 1;
    try {
        modDependencyWalker::WalkTypeLib(main.get(), walker.get());
        FAIL() << "no error";
    } catch (const ErrorRecord& e) {
        EXPECT_EQ(e.Number, E_FAIL);
    }
    EXPECT_EQ(walker->calls.back(), "ctx 5 1073741824 0 -1 0");
    EXPECT_EQ(walker->calls.size(), 7u);
}

}  // namespace
}  // namespace dialogstest
