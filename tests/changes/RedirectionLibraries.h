// Two libraries for taking in and redirecting imported types: BaseLib, saved
// as a file in two versions of one GUID, and UserLib, which uses its types.
#pragma once

#include <filesystem>

#include "changes/ChangesTestSupport.h"

namespace changestest {

constexpr GUID BaseLibId(uint32_t n) { return {0xBA5E0000 + n, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}}; }

// BaseLib: enum BaseKind; struct BasePoint; interface IBase : IUnknown { Ping(); }
// Version 2 has the same GUIDs and IBase gains Pong().
inline ComPtr<ITypeLib> BaseLibrary(const std::filesystem::path& file, WORD major) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"BaseLib", file.u16string());
    EXPECT_OK(lib->SetGuid(BaseLibId(1)));
    EXPECT_OK(lib->SetVersion(major, 0));
    auto kind = NewType(lib.get(), u"BaseKind", TKIND_ENUM);
    auto point = NewType(lib.get(), u"BasePoint", TKIND_RECORD);
    auto base = NewType(lib.get(), u"IBase", TKIND_INTERFACE);
    EXPECT_OK(kind->SetGuid(BaseLibId(2)));
    EXPECT_OK(point->SetGuid(BaseLibId(3)));
    EXPECT_OK(base->SetGuid(BaseLibId(4)));
    const Variant zero = Variant::Int(0);
    AddVar(kind.get(), 0, u"KindA", Vt(VT_INT), VAR_CONST, &zero);
    AddVar(point.get(), 0, u"x", Vt(VT_I4));
    EXPECT_OK(base->AddImplType(0, RefTo(base.get(), StdOle2Type(kIID_IUnknown).get())));
    AddFunc(base.get(), 0, {.name = u"Ping"});
    if (major > 1) AddFunc(base.get(), 1, {.name = u"Pong"});
    for (auto* t : {kind.get(), point.get(), base.get()}) EXPECT_OK(t->LayOut());
    EXPECT_OK(lib->SaveAllChanges());
    ComPtr<ITypeLib> loaded;
    EXPECT_OK(LoadTypeLibEx(file.u16string().c_str(), REGKIND_NONE, loaded.put()));
    return loaded;
}

// UserLib: interface IUser : IBase { Use([in] BaseKind, [in] BasePoint*); }
// struct LocalPoint; interfaces IOld, INew; interface IHolder { Take([in] IOld*); }
inline ComPtr<ITypeLib> UserLibrary(ITypeLib* base) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"UserLib");
    EXPECT_OK(lib->SetGuid(BaseLibId(10)));
    auto user = NewType(lib.get(), u"IUser", TKIND_INTERFACE);
    auto local = NewType(lib.get(), u"LocalPoint", TKIND_RECORD);
    auto oldOne = NewType(lib.get(), u"IOld", TKIND_INTERFACE);
    auto newOne = NewType(lib.get(), u"INew", TKIND_INTERFACE);
    auto holder = NewType(lib.get(), u"IHolder", TKIND_INTERFACE);
    EXPECT_OK(user->SetGuid(BaseLibId(11)));
    EXPECT_OK(oldOne->SetGuid(BaseLibId(12)));
    EXPECT_OK(newOne->SetGuid(BaseLibId(13)));
    EXPECT_OK(holder->SetGuid(BaseLibId(14)));
    const ComPtr<ITypeInfo> unknown = StdOle2Type(kIID_IUnknown);
    TypeDescs td;
    EXPECT_OK(user->AddImplType(0, RefTo(user.get(), TypeNamed(base, u"IBase").get())));
    AddFunc(user.get(), 0,
            {.name = u"Use",
             .params = {{u"k", User(RefTo(user.get(), TypeNamed(base, u"BaseKind").get()))},
                        {u"p", td.Ptr(User(RefTo(user.get(), TypeNamed(base, u"BasePoint").get())))}}});
    AddVar(local.get(), 0, u"x", Vt(VT_I4));
    AddVar(local.get(), 1, u"y", Vt(VT_I4));
    for (auto* t : {oldOne.get(), newOne.get(), holder.get()})
        EXPECT_OK(t->AddImplType(0, RefTo(t, unknown.get())));
    AddFunc(oldOne.get(), 0, {.name = u"A"});
    AddFunc(newOne.get(), 0, {.name = u"B"});
    AddFunc(holder.get(), 0, {.name = u"Take", .params = {{u"o", td.Ptr(User(RefTo(holder.get(), oldOne.get())))}}});
    for (auto* t : {user.get(), local.get(), oldOne.get(), newOne.get(), holder.get()}) EXPECT_OK(t->LayOut());
    return AsTypeLib(lib.get());
}

}  // namespace changestest
