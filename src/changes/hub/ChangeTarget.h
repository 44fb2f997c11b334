// The record that names what a change applies to: the library, a type, an
// implemented interface of a type, a member or a parameter. Every change
// operation and every listener notification receives it by reference. An empty
// string or a null library means that the field is not given.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"

namespace zephrin {

// ChangeTarget::Kind.
enum TargetKind : int32_t {
    kTargetLibrary = 1,
    kTargetType = 2,
    kTargetImplType = 3,
    kTargetMember = 4,
    kTargetParam = 5,
};

// ChangeTarget::SpecialParam: the role of a parameter that has no name of its own.
enum SpecialParamKind : int16_t {
    kParamNamed = 0,
    kParamReturnValue = 1,    // the [retval] parameter
    kParamRightHandSide = 2,  // the value parameter of a property put or putref
    kParamLcid = 4,           // the [lcid] parameter
};

struct ChangeTarget {
    int32_t Kind = 0;  // TargetKind
    // The library the target lies in (in replay: the library being replayed on).
    ole::ComPtr<ole::ITypeLib> Library;
    // Set by a change that replaced the library by a regenerated one; whoever
    // keeps the library continues with this one.
    ole::ComPtr<ole::ITypeLib> ReplacementLibrary;
    int32_t TypeIndex = 0;
    std::u16string TypeName;
    // The kind the editor shows for the type (NodeTypeKind); history keeps its low byte.
    int32_t TypeKind = 0;
    // Implemented interface: its index in the type; member and parameter: the MEMBERID.
    int32_t MemberId = 0;
    // Implemented interface: its name; member and parameter: the member's name.
    std::u16string MemberName;
    // Member and parameter: the INVOKEKIND (0 for a variable or constant).
    int32_t InvokeKind = 0;
    std::u16string ParamName;
    int16_t ParamIndex = 0;    // 0-based
    int16_t SpecialParam = 0;  // SpecialParamKind
    // The companion library of unresolved types, or null.
    ole::ComPtr<ole::ITypeLib> UnresolvedLibrary;
};

}  // namespace zephrin
