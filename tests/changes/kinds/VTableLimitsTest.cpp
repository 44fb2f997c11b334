// Vtable orders that the platform reads as this program does: a dual
// interface keeps no empty slot (the platform counts its dispatch half's
// functions by the vtable's size), and no offset passes 0x7FFF (offsets are
// stored signed). Each saved file is compared with the platform's own reading
// of it where the reference dumper is installed.
#include "changes/ChangesTestSupport.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/CopyMemberChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/TypeChange.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/ReferenceDump.h"
#include "support/TempDir.h"
#include "support/TypeLibBuilder.h"

namespace changestest {
namespace {

namespace fs = std::filesystem;
using typelib_detail::FuncDescHolder;
using typelib_detail::TypeAttr;
using Offsets = std::vector<int16_t>;

// library VtLib {
//   dual interface IDual : IDispatch { A(); B(); };
//   interface IPlain : IUnknown { C(); D(); };
//   interface IDispPlain : IDispatch { E(); F(); };
// }
ComPtr<ITypeLib> VtLib() {
    auto lib = NewLibrary(u"VtLib");
    EXPECT_OK(lib->SetGuid({0x7A1C0E55, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}}));
    auto dual = NewType(lib.get(), u"IDual", TKIND_INTERFACE);
    EXPECT_OK(dual->SetGuid({0x7A1C0E55, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 9}}));
    EXPECT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    EXPECT_OK(dual->AddImplType(0, RefTo(dual.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(dual.get(), 0, {.name = u"A", .memid = 1});
    AddFunc(dual.get(), 1, {.name = u"B", .memid = 2});
    auto plain = NewType(lib.get(), u"IPlain", TKIND_INTERFACE);
    EXPECT_OK(plain->SetGuid({0x7A1C0E55, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 10}}));
    EXPECT_OK(plain->AddImplType(0, RefTo(plain.get(), StdOle2Type(kIID_IUnknown).get())));
    AddFunc(plain.get(), 0, {.name = u"C"});
    AddFunc(plain.get(), 1, {.name = u"D"});
    auto disp = NewType(lib.get(), u"IDispPlain", TKIND_INTERFACE);
    EXPECT_OK(disp->SetGuid({0x7A1C0E55, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 11}}));
    EXPECT_OK(disp->AddImplType(0, RefTo(disp.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(disp.get(), 0, {.name = u"E"});
    AddFunc(disp.get(), 1, {.name = u"F"});
    return AsTypeLib(lib.get());
}

// library DerivedLib {
//   interface IBase : IDispatch { A(); B(); C(); };
//   interface IDerived : IBase { D(); };      (if withDerived)
//   interface IMid : IBase { };
//   dual interface ILeaf : IMid { E(); };
// }
ComPtr<ITypeLib> DerivedLib(bool withDerived) {
    auto lib = NewLibrary(u"DerivedLib");
    EXPECT_OK(lib->SetGuid({0x7A1C0E56, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}}));
    auto base = NewType(lib.get(), u"IBase", TKIND_INTERFACE);
    EXPECT_OK(base->SetGuid({0x7A1C0E56, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 9}}));
    EXPECT_OK(base->SetTypeFlags(TYPEFLAG_FOLEAUTOMATION));
    EXPECT_OK(base->AddImplType(0, RefTo(base.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(base.get(), 0, {.name = u"A"});
    AddFunc(base.get(), 1, {.name = u"B"});
    AddFunc(base.get(), 2, {.name = u"C"});
    if (withDerived) {
        auto derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
        EXPECT_OK(derived->SetGuid({0x7A1C0E56, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 10}}));
        EXPECT_OK(derived->AddImplType(0, RefTo(derived.get(), base.get())));
        AddFunc(derived.get(), 0, {.name = u"D"});
    }
    auto mid = NewType(lib.get(), u"IMid", TKIND_INTERFACE);
    EXPECT_OK(mid->SetGuid({0x7A1C0E56, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 11}}));
    EXPECT_OK(mid->AddImplType(0, RefTo(mid.get(), base.get())));
    auto leaf = NewType(lib.get(), u"ILeaf", TKIND_INTERFACE);
    EXPECT_OK(leaf->SetGuid({0x7A1C0E56, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 12}}));
    EXPECT_OK(leaf->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    EXPECT_OK(leaf->AddImplType(0, RefTo(leaf.get(), mid.get())));
    AddFunc(leaf.get(), 0, {.name = u"E", .memid = 1});
    return AsTypeLib(lib.get());
}

// The interface half's function offsets of type name.
Offsets VtableOffsets(ITypeLib* lib, const char16_t* name) {
    ComPtr<ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib, static_cast<UINT>(TypeTarget(lib, name).TypeIndex));
    Offsets offsets;
    for (UINT i = 0; i < TypeAttr(ti.get())->cFuncs; ++i) offsets.push_back(FuncDescHolder(ti.get(), i)->oVft);
    return offsets;
}

struct VTableLimits : ::testing::Test {
    VTableLimits() {
        RegisterFileServices();
        view.Attach(lib.get());
    }
    // Applies a reorder of type name's vtable to the live library; the error's
    // report text, or empty.
    std::u16string Reorder(const char16_t* name, Offsets offsets) {
        auto change = modReorderVTableChange::NewReorderVTableChange(false);
        change->Offsets(std::move(offsets));
        change->SynchronizeFuncDescs(false);
        ChangeTarget target = TypeTarget(lib.get(), name);
        try {
            change->Apply(view, nullptr, target, nullptr, 0);
        } catch (const ErrorRecord& e) {
            return ErrorReportText(e);
        }
        return {};
    }
    // Applies change to type name of the live library; the error's report
    // text, or empty.
    std::u16string ApplyTo(IChange& change, const char16_t* name) {
        ChangeTarget target = TypeTarget(lib.get(), name);
        try {
            change.Apply(view, nullptr, target, nullptr, 0);
        } catch (const ErrorRecord& e) {
            return ErrorReportText(e);
        }
        return {};
    }
    // Saves the live library, reloads it, and compares the program's reading
    // of the file with the platform's; the reloaded library.
    ComPtr<ITypeLib> SaveAndCompare(const std::string& name) {
        const fs::path file = dir.path() / (name + ".tlb");
        std::shared_ptr<const LibraryData> data;
        EXPECT_OK(GetLibraryData(view.ReadView().get(), true, &data));
        EXPECT_OK(WriteMsftTypeLib(*data, file.u16string()));
        std::string ours;
        EXPECT_OK(tlbtools::DumpTypeLibFile(file.u16string(), &ours));
        if (const std::optional<std::string> platform = testsupport::ReferenceDump(file)) {
            EXPECT_EQ(tlbtools::WithCrLf(ours), *platform) << name;
        }
        ComPtr<ITypeLib> reloaded;
        EXPECT_OK(LoadTypeLibEx(file.u16string().c_str(), REGKIND_NONE, reloaded.put()));
        return reloaded;
    }

    TempDir dir;
    ComPtr<ITypeLib> lib = VtLib();
    CustomTypeLib view;
};

TEST_F(VTableLimits, ADualInterfaceTakesNoEmptySlotAndIsReadAsItIsSaved) {
    ASSERT_EQ(VtableOffsets(lib.get(), u"IDual"), (Offsets{28, 32}));
    // A free slot in front of A, or between A and B, is refused and changes nothing.
    EXPECT_NE(Reorder(u"IDual", {32, 36}).find(u"dual interface"), std::u16string::npos);
    EXPECT_FALSE(Reorder(u"IDual", {28, 36}).empty());
    EXPECT_EQ(VtableOffsets(view.ReadView().get(), u"IDual"), (Offsets{28, 32}));
    // The slots traded keep the vtable whole.
    EXPECT_EQ(Reorder(u"IDual", {32, 28}), u"");
    EXPECT_EQ(VtableOffsets(view.ReadView().get(), u"IDual"), (Offsets{32, 28}));
    // A plain interface may leave a slot free.
    EXPECT_EQ(Reorder(u"IPlain", {16, 20}), u"");
    ComPtr<ITypeLib> reloaded = SaveAndCompare("dual");
    EXPECT_EQ(VtableOffsets(reloaded.get(), u"IDual"), (Offsets{32, 28}));
    EXPECT_EQ(VtableOffsets(reloaded.get(), u"IPlain"), (Offsets{16, 20}));
    // The dispatch half lists IDispatch's seven functions and the two own ones, all readable.
    ComPtr<ITypeInfo> dispatch;
    ASSERT_OK(reloaded->GetTypeInfo(static_cast<UINT>(TypeTarget(reloaded.get(), u"IDual").TypeIndex), dispatch.put()));
    ASSERT_EQ(TypeAttr(dispatch.get())->cFuncs, 9);
    for (UINT i = 0; i < 9; ++i) EXPECT_NO_THROW(FuncDescHolder(dispatch.get(), i)) << i;
}

// A function deleted from a dual interface whose slots were traded may not
// leave its slot empty: only the function in the last slot can go.
TEST_F(VTableLimits, ADeleteFromAReorderedDualLeavesNoEmptySlot) {
    ASSERT_EQ(Reorder(u"IDual", {32, 28}), u"");
    const auto remove = [&](const char16_t* name) -> std::u16string {
        ChangeTarget target = MemberTarget(view.ReadView().get(), u"IDual", name);
        try {
            modDeleteChange::GetDeleteChange()->Apply(view, nullptr, target, nullptr, 0);
        } catch (const ErrorRecord& e) {
            return ErrorReportText(e);
        }
        return {};
    };
    // B sits in the first slot: refused, and nothing changes.
    EXPECT_NE(remove(u"B").find(u"dual interface"), std::u16string::npos);
    EXPECT_EQ(VtableOffsets(view.ReadView().get(), u"IDual"), (Offsets{32, 28}));
    // A sits in the last one.
    EXPECT_EQ(remove(u"A"), u"");
    EXPECT_EQ(VtableOffsets(view.ReadView().get(), u"IDual"), (Offsets{28}));
    ComPtr<ITypeLib> reloaded = SaveAndCompare("dualdelete");
    EXPECT_EQ(VtableOffsets(reloaded.get(), u"IDual"), (Offsets{28}));
    ComPtr<ITypeInfo> dispatch;
    ASSERT_OK(reloaded->GetTypeInfo(static_cast<UINT>(TypeTarget(reloaded.get(), u"IDual").TypeIndex), dispatch.put()));
    ASSERT_EQ(TypeAttr(dispatch.get())->cFuncs, 8);
    for (UINT i = 0; i < 8; ++i) EXPECT_NO_THROW(FuncDescHolder(dispatch.get(), i)) << i;
}

// An interface with an empty slot in its vtable is not made dual.
TEST_F(VTableLimits, AnInterfaceWithAnEmptySlotIsNotMadeDual) {
    ASSERT_EQ(Reorder(u"IDispPlain", {32, 36}), u"");
    ChangeTarget target = TypeTarget(view.ReadView().get(), u"IDispPlain");
    auto captured = TypeChange::New();
    captured->InitFromTarget(target);
    auto change = std::dynamic_pointer_cast<TypeChange>(captured->Clone());
    change->SetFlags(TYPEFLAG_FDUAL, true);
    std::u16string error;
    try {
        change->Apply(view, captured.get(), target, nullptr, 0);
    } catch (const ErrorRecord& e) {
        error = ErrorReportText(e);
    }
    EXPECT_NE(error.find(u"dual interface"), std::u16string::npos) << Utf8(error);
    ComPtr<ITypeLib> live = view.ReadView();
    ComPtr<ITypeInfo> type;
    ASSERT_OK(live->GetTypeInfo(static_cast<UINT>(TypeTarget(live.get(), u"IDispPlain").TypeIndex), type.put()));
    EXPECT_EQ(TypeAttr(type.get())->wTypeFlags & TYPEFLAG_FDUAL, 0);
    EXPECT_EQ(VtableOffsets(live.get(), u"IDispPlain"), (Offsets{32, 36}));
    SaveAndCompare("madedual");
}

TEST_F(VTableLimits, NoOffsetPassesTheSignedSixteenBitRange) {
    // C at 0x7FF8 ends the vtable at 0x7FFC: the largest one laid out.
    EXPECT_EQ(Reorder(u"IPlain", {0x7FF8, 12}), u"");
    // One slot more would end it past 0x7FFF; an offset past it reads negative.
    const std::u16string tooBig = Reorder(u"IPlain", {0x7FFC, 12});
    EXPECT_NE(tooBig.find(u"Size too big"), std::u16string::npos) << Utf8(tooBig);
    EXPECT_NE(Reorder(u"IPlain", {static_cast<int16_t>(-32768), 12}).find(u"Size too big"), std::u16string::npos);
    EXPECT_EQ(VtableOffsets(view.ReadView().get(), u"IPlain"), (Offsets{0x7FF8, 12}));
    ComPtr<ITypeLib> reloaded = SaveAndCompare("largest");
    EXPECT_EQ(VtableOffsets(reloaded.get(), u"IPlain"), (Offsets{0x7FF8, 12}));
    EXPECT_EQ(TypeAttr(modITypeInfoHelper::GetInterfaceTypeInfo(reloaded.get(), 1).get())->cbSizeVft, 0x7FFC);
}

// The platform's creation calls take slots past 0x7FFF; every edit that
// would lay one out there is refused with the message a too large vtable
// gets, and the live library stays as it was.
TEST_F(VTableLimits, NoEditLaysASlotOutPastTheSignedSixteenBitRange) {
    // D in the last slot: IPlain's vtable ends at 0x7FFC.
    ASSERT_EQ(Reorder(u"IPlain", {12, 0x7FF8}), u"");
    const std::string before = Dump(view.ReadView().get());
    const auto refused = [&](const std::u16string& text) {
        EXPECT_NE(text.find(u"Size too big"), std::u16string::npos) << Utf8(text);
        EXPECT_EQ(Dump(view.ReadView().get()), before);
    };
    // A method, a property's Get and Let, would take the slots from 0x7FFC on.
    for (const int32_t kinds : {int32_t{INVOKE_FUNC}, int32_t{INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT}}) {
        SCOPED_TRACE(kinds);
        auto add = modAddMemberChange::NewAddMemberChange(false);
        add->InvokeKind(kinds);
        refused(ApplyTo(*add, u"IPlain"));
    }
    // So would a copy of another interface's method.
    auto copy = modCopyMemberChange::NewCopyMemberChange(false);
    copy->VarTypeInfo(TypeDescOf(lib.get(), u"IDispPlain").get());
    copy->SourceMemberId(MemberTarget(lib.get(), u"IDispPlain", u"E").MemberId);
    copy->InvokeKinds(INVOKE_FUNC);
    refused(ApplyTo(*copy, u"IPlain"));
    // An interface rebased onto IPlain would lay its own functions out after it.
    auto rebase = modTypeChange::NewTypeChange(false);
    ChangeTarget target = TypeTarget(lib.get(), u"IDispPlain");
    rebase->InitFromTarget(target);
    ComPtr<CustomVarTypeInfo> base = CustomVarTypeInfo::New();
    base->CurrentITypeLib(lib.get());
    base->SetType(0, testsupport::TypeNamed(InfoOf(lib.get()).get(), u"IPlain").get());
    rebase->VarTypeInfo(base.get());
    refused(ApplyTo(*rebase, u"IDispPlain"));

    // With D back in its own slot, each of them fits.
    ASSERT_EQ(Reorder(u"IPlain", {12, 16}), u"");
    auto add = modAddMemberChange::NewAddMemberChange(false);
    add->InvokeKind(INVOKE_FUNC);
    EXPECT_EQ(ApplyTo(*add, u"IPlain"), u"");
    EXPECT_EQ(ApplyTo(*copy, u"IPlain"), u"");
    EXPECT_EQ(ApplyTo(*rebase, u"IDispPlain"), u"");
    EXPECT_EQ(VtableOffsets(view.ReadView().get(), u"IDispPlain"), (Offsets{28, 32}));
}

// A base's vtable that grows over the slots of interfaces derived from it,
// directly or through one without functions, is refused; the library stays as
// it was, and a history replaying the reorder is refused alike.
TEST(VTableLimitsDerived, ABaseDoesNotGrowOverTheInterfacesDerivedFromIt) {
    RegisterFileServices();
    for (const bool withDerived : {true, false}) {
        ComPtr<ITypeLib> lib = DerivedLib(withDerived);
        CustomTypeLib view;
        view.Attach(lib.get());
        ASSERT_EQ(VtableOffsets(lib.get(), u"ILeaf"), (Offsets{40}));
        auto reorder = [&](Offsets offsets, bool synchronize) -> std::u16string {
            auto change = modReorderVTableChange::NewReorderVTableChange(false);
            change->Offsets(std::move(offsets));
            change->SynchronizeFuncDescs(synchronize);
            ChangeTarget target = TypeTarget(lib.get(), u"IBase");
            try {
                change->Apply(view, nullptr, target, nullptr, 0);
            } catch (const ErrorRecord& e) {
                return ErrorReportText(e);
            }
            return {};
        };
        const std::string before = Dump(view.ReadView().get());
        // C at 0x7FF8 would end IBase's vtable at 0x7FFC, over D at 40 (and
        // lay IDerived out to 0x8000); without IDerived, over the leaf's E,
        // below a base without functions of its own.
        const std::u16string refused = reorder({28, 32, 0x7FF8}, false);
        EXPECT_NE(refused.find(withDerived ? u"IDerived" : u"ILeaf"), std::u16string::npos) << Utf8(refused);
        EXPECT_EQ(Dump(view.ReadView().get()), before);
        EXPECT_FALSE(reorder({28, 44, 32}, false).empty());
        EXPECT_EQ(Dump(view.ReadView().get()), before);
        // Orders that keep the vtable's size leave the derived slots free.
        EXPECT_EQ(reorder({36, 28, 32}, false), u"");
        EXPECT_EQ(VtableOffsets(lib.get(), u"IBase"), (Offsets{36, 28, 32}));
        EXPECT_EQ(reorder({2, 0, 1}, true), u"");
        EXPECT_EQ(VtableOffsets(lib.get(), u"ILeaf"), (Offsets{40}));
    }
}

// library GrownLib {
//   interface IBase : IUnknown { A() at 12; B() at 0x7FDC; };
//   interface IDerived : IBase { derivedCount functions in automatic slots };
// }
ComPtr<ITypeLib> GrownLib(UINT derivedCount) {
    auto lib = NewLibrary(u"GrownLib");
    EXPECT_OK(lib->SetGuid({0x7A1C0E57, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}}));
    auto base = NewType(lib.get(), u"IBase", TKIND_INTERFACE);
    EXPECT_OK(base->SetGuid({0x7A1C0E57, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 9}}));
    EXPECT_OK(base->AddImplType(0, RefTo(base.get(), StdOle2Type(kIID_IUnknown).get())));
    AddFunc(base.get(), 0, {.name = u"A", .oVft = 12});
    AddFunc(base.get(), 1, {.name = u"B", .oVft = 0x7FDC});
    auto derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
    EXPECT_OK(derived->SetGuid({0x7A1C0E57, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 10}}));
    EXPECT_OK(derived->AddImplType(0, RefTo(derived.get(), base.get())));
    for (UINT i = 0; i < derivedCount; ++i)
        AddFunc(derived.get(), i, {.name = u"D" + std::u16string(1, static_cast<char16_t>(u'0' + i))});
    EXPECT_OK(base->LayOut());
    EXPECT_OK(derived->LayOut());
    return AsTypeLib(lib.get());
}

// An interface derived from another lays its automatic slots out after its
// base's: an edit that grows the base may not push the derived one's slots
// past 0x7FFF, where the saved file would read them back negative.
TEST(VTableLimitsDerived, ABaseDoesNotPushADerivedVtablePastTheSignedSixteenBitRange) {
    RegisterFileServices();
    {
        // IDerived ends at 0x7FFC: one slot more in IBase would end it past 0x7FFF.
        ComPtr<ITypeLib> lib = GrownLib(7);
        CustomTypeLib view;
        view.Attach(lib.get());
        const std::string before = Dump(view.ReadView().get());
        const auto apply = [&](IChange& change, const char16_t* name) -> std::u16string {
            ChangeTarget target = TypeTarget(view.ReadView().get(), name);
            try {
                change.Apply(view, nullptr, target, nullptr, 0);
            } catch (const ErrorRecord& e) {
                return ErrorReportText(e);
            }
            return {};
        };
        for (const int32_t kinds : {int32_t{INVOKE_FUNC}, int32_t{INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT}}) {
            SCOPED_TRACE(kinds);
            auto add = modAddMemberChange::NewAddMemberChange(false);
            add->InvokeKind(kinds);
            const std::u16string refused = apply(*add, u"IBase");
            EXPECT_NE(refused.find(u"Size too big"), std::u16string::npos) << Utf8(refused);
            EXPECT_EQ(Dump(view.ReadView().get()), before);
        }
        auto copy = modCopyMemberChange::NewCopyMemberChange(false);
        copy->VarTypeInfo(TypeDescOf(lib.get(), u"IDerived").get());
        copy->SourceMemberId(MemberTarget(lib.get(), u"IDerived", u"D0").MemberId);
        copy->InvokeKinds(INVOKE_FUNC);
        const std::u16string refused = apply(*copy, u"IBase");
        EXPECT_NE(refused.find(u"Size too big"), std::u16string::npos) << Utf8(refused);
        EXPECT_EQ(Dump(view.ReadView().get()), before);
    }
    {
        // With one function less in IDerived, the slot fits, and the file reads it as laid out.
        ComPtr<ITypeLib> lib = GrownLib(6);
        CustomTypeLib view;
        view.Attach(lib.get());
        auto add = modAddMemberChange::NewAddMemberChange(false);
        add->InvokeKind(INVOKE_FUNC);
        ChangeTarget target = TypeTarget(lib.get(), u"IBase");
        ASSERT_NO_THROW(add->Apply(view, nullptr, target, nullptr, 0));
        TempDir dir;
        const fs::path file = dir.path() / "grown.tlb";
        std::shared_ptr<const LibraryData> data;
        ASSERT_OK(GetLibraryData(view.ReadView().get(), true, &data));
        ASSERT_OK(WriteMsftTypeLib(*data, file.u16string()));
        ComPtr<ITypeLib> reloaded;
        ASSERT_OK(LoadTypeLibEx(file.u16string().c_str(), REGKIND_NONE, reloaded.put()));
        EXPECT_EQ(VtableOffsets(reloaded.get(), u"IBase"), (Offsets{12, 0x7FDC, 0x7FE0}));
        EXPECT_EQ(VtableOffsets(reloaded.get(), u"IDerived"),
                  (Offsets{0x7FE4, 0x7FE8, 0x7FEC, 0x7FF0, 0x7FF4, 0x7FF8}));
    }
}

// A vtable order read from a history may name any offsets: one among the
// slots an interface inherits would give its function the slot of a base's,
// and is refused, leaving the live library as it was.
TEST_F(VTableLimits, NoFunctionTakesAnInheritedSlot) {
    const std::string before = Dump(view.ReadView().get());
    for (const Offsets& offsets : {Offsets{8, 12}, Offsets{24, 28}, Offsets{28, 4}}) {
        const std::u16string refused = Reorder(u"IDispPlain", offsets);
        EXPECT_NE(refused.find(u"inherits"), std::u16string::npos) << Utf8(refused);
        EXPECT_EQ(Dump(view.ReadView().get()), before);
    }
    EXPECT_NE(Reorder(u"IPlain", {4, 8}).find(u"inherits"), std::u16string::npos);
    EXPECT_EQ(Dump(view.ReadView().get()), before);
    // The first own slot is the base's end.
    EXPECT_EQ(Reorder(u"IDispPlain", {32, 28}), u"");
    EXPECT_EQ(VtableOffsets(view.ReadView().get(), u"IDispPlain"), (Offsets{32, 28}));
}

}  // namespace
}  // namespace changestest
