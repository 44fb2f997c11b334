// Reading libraries through the TypeLib Information objects, for tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "platform/tlbinf/TliInterfaces.h"
#include "support/TypeLibBuilder.h"

namespace testsupport {

template <class T>
T* RawPointer(T* p) {
    return p;
}
template <class T>
T* RawPointer(const ComPtr<T>& p) {
    return p.get();
}

// What a property getter hands out (an object comes in a ComPtr, a VARIANT in
// a Variant); a failing getter or a missing object fails the test.
template <class Obj, class I, class V>
auto Get(const Obj& obj, HRESULT (I::*getter)(V*)) {
    using Out = std::conditional_t<std::is_pointer_v<V>, ComPtr<std::remove_pointer_t<V>>,
                                   std::conditional_t<std::is_same_v<V, VARIANT>, Variant, V>>;
    Out out{};
    I* p = RawPointer(obj);
    if (!p) {
        ADD_FAILURE() << "no object to read";
    } else if constexpr (std::is_pointer_v<V> || std::is_same_v<V, VARIANT>) {
        EXPECT_OK((p->*getter)(out.put()));
    } else {
        EXPECT_OK((p->*getter)(&out));
    }
    return out;
}

inline tli::TLIApplication* App() {
    static ComPtr<tli::TLIApplication> app = [] {
        ComPtr<tli::TLIApplication> a;
        EXPECT_OK(tli::GetTLIApplication(a.put()));
        return a;
    }();
    return app.get();
}

inline ComPtr<tli::TypeLibInfo> InfoOf(ITypeLib* lib) {
    ComPtr<tli::TypeLibInfo> info;
    EXPECT_OK(App()->TypeLibInfoFromITypeLib(lib, info.put()));
    return info;
}

inline ComPtr<tli::TypeInfo> TypeNamed(tli::TypeLibInfo* lib, std::u16string_view name) {
    ComPtr<tli::TypeInfo> t;
    if (ComPtr<tli::TypeInfos> types = Get(lib, &tli::TypeLibInfo::get_TypeInfos)) {
        EXPECT_OK(types->NamedItem(name, t.put())) << ToUtf8(name);
    }
    return t;
}

template <class T>
std::u16string NameOf(const T& object) {
    return Get(object, &std::remove_pointer_t<decltype(RawPointer(object))>::get_Name);
}

// The members of a type (grouped: accessors of a property joined).
inline ComPtr<tli::Members> MembersOf(tli::TypeInfo* type, bool grouped = false) {
    ComPtr<tli::Members> m;
    if (!type) ADD_FAILURE() << "no type";
    else EXPECT_OK(grouped ? type->GetGroupedMembers(m.put()) : type->get_Members(m.put()));
    return m;
}

// The first member of that name (and invoke kind, unless 0).
inline ComPtr<tli::MemberInfo> MemberNamed(tli::Members* members, std::u16string_view name, LONG invokeKind = 0) {
    const LONG count = Get(members, &tli::Members::get_Count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<tli::MemberInfo> m;
        EXPECT_OK(members->get_Item(i, m.put()));
        if (m && NameOf(m) == name && (invokeKind == 0 || Get(m, &tli::MemberInfo::get_InvokeKind) == invokeKind))
            return m;
    }
    ADD_FAILURE() << "no member " << ToUtf8(name);
    return nullptr;
}

inline std::vector<std::u16string> Names(tli::Members* members) {
    std::vector<std::u16string> out;
    const LONG count = Get(members, &tli::Members::get_Count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<tli::MemberInfo> m;
        EXPECT_OK(members->get_Item(i, m.put()));
        if (m) out.push_back(NameOf(m));
    }
    return out;
}

// The description of a member's type (a field's type, a function's return).
inline ComPtr<tli::VarTypeInfo> TypeOfMember(tli::Members* members, std::u16string_view name) {
    ComPtr<tli::MemberInfo> m = MemberNamed(members, name);
    return m ? Get(m, &tli::MemberInfo::get_ReturnType) : nullptr;
}

}  // namespace testsupport
