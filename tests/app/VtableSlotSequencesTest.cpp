// Short edit sequences that rebuild a function of an interface and then
// delete another: each must leave a library that saves, reads back with the
// functions where they belong, and is written byte for byte alike by batch
// mode's run of the recorded history.
#include <sstream>

#include "app/EditSessionSupport.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/TypeChange.h"
#include "platform/tlbengine/TypeLibData.h"
#include "support/ReferenceDump.h"

namespace sessiontest {
namespace {

constexpr GUID kLibGuid = {0x51A7B0E1, 1, 2, {3, 4, 5, 6, 7, 8, 9, 1}};
constexpr GUID kIfaceGuid = {0x51A7B0E1, 1, 2, {3, 4, 5, 6, 7, 8, 9, 2}};

// A library "Slots" holding one interface built by fill, saved to file.
void WriteLibrary(const fs::path& file, const char16_t* name, bool dual,
                  const std::function<void(ICreateTypeInfo2*)>& fill) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Slots", ole::FromUtf8(file.string()));
    ASSERT_OK(lib->SetGuid(kLibGuid));
    ComPtr<ICreateTypeInfo2> type = NewType(lib.get(), name, TKIND_INTERFACE);
    ASSERT_OK(type->SetGuid(kIfaceGuid));
    if (dual) {
        ASSERT_OK(type->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    }
    ASSERT_OK(type->AddImplType(
        0, RefTo(type.get(), StdOle2Type(dual ? kIID_IDispatch : kIID_IUnknown).get())));
    fill(type.get());
    ASSERT_OK(type->LayOut());
    ASSERT_OK(lib->SaveAllChanges());
}

class VtableSlotSequences : public ::testing::Test {
protected:
    // Saves the session, reads the file back and checks the interface's
    // functions; then batch mode's replay must write the same bytes.
    void ExpectSavedAndReplayed(EditSession& session, const char16_t* type, const std::string& functions,
                                ITypeLib* newLibrary = nullptr) {
        try {
            session.Save("live.tlb");
        } catch (const ErrorRecord& e) {
            FAIL() << "save: " << e.what();
        }
        EXPECT_EQ(FunctionsOf(LoadFile(dir / "live.tlb").get(), type), functions);
        try {
            session.Replay("session.leh", "batch.tlb", newLibrary);
        } catch (const ErrorRecord& e) {
            FAIL() << "replay: " << e.what();
        }
        EXPECT_EQ(testsupport::ReadBytes(dir / "batch.tlb"), testsupport::ReadBytes(dir / "live.tlb"));
    }
    ChangeTarget Member(EditSession& s, const char16_t* type, const char16_t* name, int32_t kind = INVOKE_FUNC) {
        return MemberTarget(s.Lib(), type, name, kind);
    }
    void Delete(EditSession& s, ChangeTarget target) { s.Apply(modDeleteChange::GetDeleteChange(), target); }

    TempDir dir;
};

// A new library: an interface with a method and a Get/Let property, saved
// and opened again; then a Set for the property, its Get deleted, a parameter
// for the method, a second method.
TEST_F(VtableSlotSequences, APropertyGivenASetThenLosingItsGetLeavesTheInterfaceEditable) {
    {
        EditSession s(dir.path());
        s.Edit(modLibChange::NewLibChange(), LibraryTarget(s.Lib()), [](auto& c) { c.Guid(kLibGuid); });
        auto add = modAddTypeChange::NewAddTypeChange(false);
        add->TypeKind(TKIND_INTERFACE);
        s.Apply(add, LibraryTarget(s.Lib()));
        auto rename = modRenameChange::NewRenameChange(false);
        rename->NewName(u"ZIface");
        s.Apply(rename, TypeTarget(s.Lib(), u"Interface1"));
        s.Edit(modTypeChange::NewTypeChange(false), TypeTarget(s.Lib(), u"ZIface"),
               [](auto& c) { c.Guid(kIfaceGuid); });
        for (int32_t kinds : {int32_t{INVOKE_FUNC}, INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT}) {
            auto member = modAddMemberChange::NewAddMemberChange(false);
            member->InvokeKind(kinds);
            s.Apply(member, TypeTarget(s.Lib(), u"ZIface"));
        }
        auto name = modRenameChange::NewRenameChange(false);
        name->NewName(u"M1");
        s.Apply(name, Member(s, u"ZIface", u"Method1"));
        name = modRenameChange::NewRenameChange(false);
        name->NewName(u"P1");
        s.Apply(name, Member(s, u"ZIface", u"Property1", INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT));
        s.Save("first.tlb");
    }
    EditSession s(dir.path(), dir / "first.tlb");
    auto set = modAddMemberChange::NewAddMemberChange(false);
    set->InvokeKind(INVOKE_PROPERTYPUTREF);
    s.Apply(set, Member(s, u"ZIface", u"P1", INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT));
    Delete(s, Member(s, u"ZIface", u"P1", INVOKE_PROPERTYGET));
    auto insert = modInsertParamChange::NewInsertParamChange(false);
    insert->ParamForm(InsertParamChange::kRequired);
    s.Apply(insert, Member(s, u"ZIface", u"M1"));
    auto method = modAddMemberChange::NewAddMemberChange(false);
    method->InvokeKind(INVOKE_FUNC);
    s.Apply(method, TypeTarget(s.Lib(), u"ZIface"));
    ExpectSavedAndReplayed(s, u"ZIface", "M1:1@12/1 P1:4@16/1 P1:8@20/1 Method1:1@24/0");
}

// A dual interface with two Get/Let properties of VARIANT type: one Get made
// hidden, the other property deleted.
TEST_F(VtableSlotSequences, AHiddenGetThenADeletedPropertyLeavesADualInterfaceEditable) {
    TypeDescs td;
    WriteLibrary(dir / "in.tlb", u"IValues", true, [&](ICreateTypeInfo2* t) {
        const TYPEDESC pv = td.Ptr(Vt(VT_VARIANT));
        UINT i = 0;
        AddFunc(t, i++, {.name = u"Reset", .memid = 1});
        for (auto [name, id] : {std::pair<const char16_t*, MEMBERID>{u"FalseValue", 4}, {u"NullValue", 5}}) {
            AddFunc(t, i++, {.name = name, .invkind = INVOKE_PROPERTYGET,
                             .params = {{u"value", pv, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}, .memid = id});
            AddFunc(t, i++, {.name = name, .invkind = INVOKE_PROPERTYPUT, .params = {{u"value", pv}}, .memid = id});
        }
        AddFunc(t, i++, {.name = u"Finish", .memid = 6});
    });
    EditSession s(dir.path(), dir / "in.tlb");
    s.Edit(modMemberChange::NewMemberChange(false), Member(s, u"IValues", u"FalseValue", INVOKE_PROPERTYGET),
           [](auto& c) { c.Flags(c.Flags() | FUNCFLAG_FHIDDEN); });
    Delete(s, Member(s, u"IValues", u"NullValue", INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT));
    ExpectSavedAndReplayed(s, u"IValues", "Reset:1@28/0 FalseValue:2@32/1 FalseValue:4@36/1 Finish:1@40/0");
}

// A dual interface: a parameter retyped from long to short, then the other
// method deleted.
TEST_F(VtableSlotSequences, ARetypedParameterThenADeletedMethodLeavesADualInterfaceEditable) {
    WriteLibrary(dir / "in.tlb", u"IRetyped", true, [&](ICreateTypeInfo2* t) {
        AddFunc(t, 0, {.name = u"Other"});
        AddFunc(t, 1, {.name = u"Take", .params = {{u"count", Vt(VT_I4)}}});
        AddFunc(t, 2, {.name = u"Last"});
    });
    EditSession s(dir.path(), dir / "in.tlb");
    ChangeTarget param = ParamTarget(s.Lib(), u"IRetyped", u"Take", 0, kParamNamed, u"count");
    s.Edit(modParamChange::NewParamChange(false), param, [](auto& c) {
        ComPtr<CustomVarTypeInfo> shortType = CustomVarTypeInfo::New();
        shortType->SetType(VT_I2, nullptr);
        c.VarTypeInfo(shortType.get());
    });
    Delete(s, Member(s, u"IRetyped", u"Other"));
    ExpectSavedAndReplayed(s, u"IRetyped", "Take:1@28/1 Last:1@32/0");
}

// An interface whose second method's return value is deleted, then its first
// method.
TEST_F(VtableSlotSequences, ADeletedReturnValueThenADeletedFirstMethodLeavesTheInterfaceEditable) {
    TypeDescs td;
    WriteLibrary(dir / "in.tlb", u"IPlain", false, [&](ICreateTypeInfo2* t) {
        AddFunc(t, 0, {.name = u"First"});
        AddFunc(t, 1, {.name = u"Second",
                       .params = {{u"result", td.Ptr(Vt(VT_I4)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
        AddFunc(t, 2, {.name = u"Third"});
    });
    EditSession s(dir.path(), dir / "in.tlb");
    Delete(s, ParamTarget(s.Lib(), u"IPlain", u"Second", 0, kParamNamed, u"result"));
    Delete(s, Member(s, u"IPlain", u"First"));
    // The slots have closed up before anything lays the type out.
    EXPECT_EQ(FunctionsOf(s.Lib(), u"IPlain"), "Second:1@12/0 Third:1@16/0");
    ExpectSavedAndReplayed(s, u"IPlain", "Second:1@12/0 Third:1@16/0");
}

// A delete alone, in a dual interface read from a file: the functions behind
// it move up, so the dual keeps no empty slot (which would make the platform
// list one function more than the type holds).
TEST_F(VtableSlotSequences, ADeleteInADualReadFromAFileLeavesNoEmptySlot) {
    WriteLibrary(dir / "in.tlb", u"IDual", true, [&](ICreateTypeInfo2* t) {
        AddFunc(t, 0, {.name = u"Other"});
        AddFunc(t, 1, {.name = u"Take", .params = {{u"count", Vt(VT_I4)}}});
        AddFunc(t, 2, {.name = u"Last"});
    });
    EditSession s(dir.path(), dir / "in.tlb");
    Delete(s, Member(s, u"IDual", u"Other"));
    ExpectSavedAndReplayed(s, u"IDual", "Take:1@28/1 Last:1@32/0");
    const ComPtr<ITypeInfo> dispatch = TypeNamed(LoadFile(dir / "live.tlb").get(), u"IDual");
    EXPECT_EQ(typelib_detail::TypeAttr(dispatch.get())->cFuncs, 9u);  // IDispatch's seven and the two left
}

// An accessor of a property read from a file given an automatic member ID:
// the property's accessors keep one ID between them, and their names.
TEST_F(VtableSlotSequences, AnAccessorGivenAnAutomaticIdKeepsItsPropertyTogether) {
    TypeDescs td;
    WriteLibrary(dir / "in.tlb", u"IProp", false, [&](ICreateTypeInfo2* t) {
        AddFunc(t, 0, {.name = u"Go"});
        AddFunc(t, 1, {.name = u"Owner", .invkind = INVOKE_PROPERTYGET,
                       .params = {{u"value", td.Ptr(Vt(VT_DISPATCH)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}},
                       .memid = 24});
        AddFunc(t, 2, {.name = u"Owner", .invkind = INVOKE_PROPERTYPUTREF, .params = {{u"value", Vt(VT_DISPATCH)}},
                       .memid = 24});
    });
    EditSession s(dir.path(), dir / "in.tlb");
    s.Edit(modMemberChange::NewMemberChange(false), Member(s, u"IProp", u"Owner", INVOKE_PROPERTYPUTREF),
           [](auto& c) { c.MemberId(-1); });
    ExpectSavedAndReplayed(s, u"IProp", "Go:1@12/0 Owner:2@16/1 Owner:8@20/1");
    const ComPtr<ITypeInfo> ti = TypeNamed(LoadFile(dir / "live.tlb").get(), u"IProp");
    using typelib_detail::FuncDescHolder;
    const MEMBERID id = FuncDescHolder(ti.get(), 1)->memid;
    EXPECT_NE(id, 24);
    EXPECT_EQ(FuncDescHolder(ti.get(), 2)->memid, id);
}

// An interface on a base of its own library whose functions are given
// explicit offsets by a vtable order (not synchronised), leaving a gap behind
// the base: the file keeps every offset where the editor holds it.
class GapBehindABase : public VtableSlotSequences {
protected:
    // "IBase" on IUnknown with seven methods (its vtable ends at 40), and
    // "IDerived" on it with the given methods.
    void WriteLibrary(std::initializer_list<const char16_t*> derived) {
        ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Gaps", ole::FromUtf8((dir / "in.tlb").string()));
        ASSERT_OK(lib->SetGuid(kLibGuid));
        ComPtr<ICreateTypeInfo2> base = NewType(lib.get(), u"IBase", TKIND_INTERFACE);
        ASSERT_OK(base->SetGuid(kIfaceGuid));
        ASSERT_OK(base->AddImplType(0, RefTo(base.get(), StdOle2Type(kIID_IUnknown).get())));
        for (UINT i = 0; i < 7; ++i) {
            const std::u16string name = u"B" + std::u16string(1, static_cast<char16_t>(u'0' + i));
            AddFunc(base.get(), i, {.name = name.c_str()});
        }
        ASSERT_OK(base->LayOut());
        ComPtr<ICreateTypeInfo2> type = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
        GUID guid = kIfaceGuid;
        guid.Data4[7] = 3;
        ASSERT_OK(type->SetGuid(guid));
        ASSERT_OK(type->AddImplType(0, RefTo(type.get(), base.As<ITypeInfo>().get())));
        UINT index = 0;
        for (const char16_t* name : derived) AddFunc(type.get(), index++, {.name = name});
        ASSERT_OK(type->LayOut());
        ASSERT_OK(lib->SaveAllChanges());
    }
    void Reorder(EditSession& s, std::vector<int16_t> offsets) {
        auto order = modReorderVTableChange::NewReorderVTableChange(false);
        order->Offsets(std::move(offsets));
        order->SynchronizeFuncDescs(false);
        s.Apply(order, TypeTarget(s.Lib(), u"IDerived"));
    }
    // The saved file read back, by the program and by the platform, holds
    // the live library's offsets.
    void ExpectOffsetsKept(EditSession& s, const std::string& functions, const std::string& name, int offset) {
        ASSERT_EQ(FunctionsOf(s.Lib(), u"IDerived"), functions);
        ExpectSavedAndReplayed(s, u"IDerived", functions);
        const auto dump = testsupport::ReferenceDump(dir / "live.tlb");
        if (!dump) return;
        std::istringstream lines(*dump);
        bool found = false;
        for (std::string line; std::getline(lines, line);)
            if (line.find("  func ") == 0 && line.find("\"" + name + "\"") != std::string::npos)
                found = line.find(" vtoff=" + std::to_string(offset) + " ") != std::string::npos;
        EXPECT_TRUE(found) << *dump;
    }
};

TEST_F(GapBehindABase, AMethodMovedAwayFromTheBaseKeepsItsSlot) {
    WriteLibrary({u"Only"});
    EditSession s(dir.path(), dir / "in.tlb");
    ASSERT_EQ(FunctionsOf(s.Lib(), u"IDerived"), "Only:1@40/0");
    Reorder(s, {0x7FF8});
    ExpectOffsetsKept(s, "Only:1@32760/0", "Only", 0x7FF8);
    // A move by one slot is kept likewise.
    Reorder(s, {44});
    ExpectOffsetsKept(s, "Only:1@44/0", "Only", 44);
}

TEST_F(GapBehindABase, ADeleteAfterAnUnsynchronisedOrderLeavesItsGap) {
    WriteLibrary({u"First", u"Second", u"Third"});
    EditSession s(dir.path(), dir / "in.tlb");
    Reorder(s, {48, 44, 40});
    ASSERT_EQ(FunctionsOf(s.Lib(), u"IDerived"), "First:1@48/0 Second:1@44/0 Third:1@40/0");
    Delete(s, Member(s, u"IDerived", u"Third"));
    Delete(s, Member(s, u"IDerived", u"Second"));
    ExpectOffsetsKept(s, "First:1@48/0", "First", 48);
}

// A save that fails in the middle of telling such a gap apart, at any engine
// call on the type, leaves the live library as it was: the same functions at
// the same offsets, and a later save keeps them.
TEST_F(GapBehindABase, ASaveThatFailsWhileTellingTheGapApartLeavesTheLibraryAsItWas) {
    WriteLibrary({u"First", u"Second", u"Third"});
    EditSession s(dir.path(), dir / "in.tlb");
    Reorder(s, {48, 44, 40});
    Delete(s, Member(s, u"IDerived", u"Third"));
    Delete(s, Member(s, u"IDerived", u"Second"));
    const std::string before = FunctionsOf(s.Lib(), u"IDerived");
    ASSERT_EQ(before, "First:1@48/0");
    int failed = 0;
    for (const char* call : {"AddFuncDesc", "LayOut", "DeleteFuncDesc"}) {
        for (int skip = 0; skip < 3; ++skip) {
            SCOPED_TRACE(std::string(call) + " after " + std::to_string(skip));
            ole::testing::FailNextCall(call, E_OUTOFMEMORY, skip);
            try {
                s.Save("failed.tlb");
            } catch (...) {
                ++failed;
            }
            ole::testing::ClearInjectedFailures();
            EXPECT_EQ(FunctionsOf(s.Lib(), u"IDerived"), before);
            EXPECT_EQ(typelib_detail::TypeAttr(TypeNamed(s.Lib(), u"IDerived").get())->cbSizeVft, 52);
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(failed, 0);
    ExpectOffsetsKept(s, "First:1@48/0", "First", 48);
}

// An edit that fails after the functions of an interface read from a file,
// and of the interface built on it, were given automatic slots leaves the
// live library as it was: it saves to the same file as one never edited.
TEST_F(GapBehindABase, AFailedDeleteInABaseLeavesTheLibraryAsItWas) {
    WriteLibrary({u"First", u"Second"});
    {
        EditSession untouched(dir.path(), dir / "in.tlb");
        untouched.Save("untouched.tlb");
    }
    int failed = 0;
    for (const char* call : {"AddFuncDesc", "DeleteFuncDesc", "LayOut", "SetFuncAndParamNames"}) {
        for (int skip = 0; skip < 12; ++skip) {
            SCOPED_TRACE(std::string(call) + " after " + std::to_string(skip));
            EditSession s(dir.path(), dir / "in.tlb");
            const std::string base = FunctionsOf(s.Lib(), u"IBase"), derived = FunctionsOf(s.Lib(), u"IDerived");
            ole::testing::FailNextCall(call, E_OUTOFMEMORY, skip);
            bool refused = false;
            try {
                Delete(s, Member(s, u"IBase", u"B3"));
            } catch (...) {
                refused = true;
            }
            ole::testing::ClearInjectedFailures();
            if (!refused) continue;
            ++failed;
            EXPECT_EQ(FunctionsOf(s.Lib(), u"IBase"), base);
            EXPECT_EQ(FunctionsOf(s.Lib(), u"IDerived"), derived);
            s.Save("failed.tlb");
            EXPECT_EQ(testsupport::ReadBytes(dir / "failed.tlb"), testsupport::ReadBytes(dir / "untouched.tlb"));
            // A later edit of the library finds it as a fresh one would.
            Delete(s, Member(s, u"IBase", u"B0"));
            EditSession fresh(dir.path(), dir / "in.tlb");
            Delete(fresh, Member(fresh, u"IBase", u"B0"));
            EXPECT_EQ(FunctionsOf(s.Lib(), u"IDerived"), FunctionsOf(fresh.Lib(), u"IDerived"));
            EXPECT_EQ(FunctionsOf(s.Lib(), u"IBase"), FunctionsOf(fresh.Lib(), u"IBase"));
        }
    }
    EXPECT_GT(failed, 0);
}

// Other edits of a base read from a file, failing at any engine call, leave
// the live library as it was likewise.
TEST_F(GapBehindABase, FailedEditsOfABaseLeaveTheLibraryAsItWas) {
    WriteLibrary({u"First", u"Second"});
    {
        EditSession untouched(dir.path(), dir / "in.tlb");
        untouched.Save("untouched.tlb");
    }
    const std::vector<std::pair<const char*, std::function<void(EditSession&)>>> edits = {
        {"insert parameter",
         [&](EditSession& s) {
             auto insert = modInsertParamChange::NewInsertParamChange(false);
             insert->ParamForm(InsertParamChange::kRequired);
             s.Apply(insert, Member(s, u"IBase", u"B3"));
         }},
        {"add method",
         [&](EditSession& s) {
             auto method = modAddMemberChange::NewAddMemberChange(false);
             method->InvokeKind(INVOKE_FUNC);
             s.Apply(method, TypeTarget(s.Lib(), u"IBase"));
         }},
        {"hidden flag",
         [&](EditSession& s) {
             s.Edit(modMemberChange::NewMemberChange(false), Member(s, u"IBase", u"B3"),
                    [](auto& c) { c.Flags(c.Flags() | FUNCFLAG_FHIDDEN); });
         }},
    };
    int failed = 0;
    for (const auto& [what, edit] : edits) {
        for (const char* call : {"AddFuncDesc", "DeleteFuncDesc", "LayOut", "SetFuncAndParamNames"}) {
            for (int skip = 0; skip < 12; ++skip) {
                SCOPED_TRACE(std::string(what) + ": " + call + " after " + std::to_string(skip));
                EditSession s(dir.path(), dir / "in.tlb");
                const std::string base = FunctionsOf(s.Lib(), u"IBase"), derived = FunctionsOf(s.Lib(), u"IDerived");
                ole::testing::FailNextCall(call, E_OUTOFMEMORY, skip);
                bool refused = false;
                try {
                    edit(s);
                } catch (...) {
                    refused = true;
                }
                ole::testing::ClearInjectedFailures();
                if (!refused) continue;
                ++failed;
                EXPECT_EQ(FunctionsOf(s.Lib(), u"IBase"), base);
                EXPECT_EQ(FunctionsOf(s.Lib(), u"IDerived"), derived);
                s.Save("failed.tlb");
                EXPECT_EQ(testsupport::ReadBytes(dir / "failed.tlb"), testsupport::ReadBytes(dir / "untouched.tlb"));
            }
        }
    }
    EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace sessiontest
