// The four ways replay asks the user for a replacement target: each builds the
// choose-name request from the library, shows it through the chooser, and
// hands back the chosen name (and number). Each returns false when the user
// cancelled, and, without asking, when there is nothing to offer. Errors of the
// library reads are raised.
#pragma once

#include <cstdint>
#include <string>

#include "changes/history/INameChooser.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::modChooseName {

// Whether a history's recorded kind names type: its shown kind (NodeTypeKind,
// which this program records) or its own TYPEKIND (which other writers store:
// a dual as a dispinterface, an alias of a user-defined type as an alias). A
// type whose kind cannot be told matches nothing.
bool HasRecordedKind(ole::ITypeInfo* type, int32_t typeKind);

// The types of library that have the recorded kind typeKind, in library
// order; item number: the type's index.
ChooseNameRequest TypeRequest(ole::ITypeLib* library, int32_t typeKind, const std::u16string& name);
// invokeKind 0: every variable of type; otherwise every function of that
// INVOKEKIND. Item number: the MEMBERID.
ChooseNameRequest MemberRequest(ole::ITypeInfo* type, int32_t typeKind, int32_t invokeKind, const std::u16string& name);
// The parameters of the function memberId/invokeKind that the user can name:
// without a put's value parameter and without trailing [lcid] and [retval]
// parameters. Item number: the 0-based position.
ChooseNameRequest ParameterRequest(ole::ITypeInfo* type, int32_t memberId, int32_t invokeKind,
                                   const std::u16string& name);
// The first count implemented interfaces of type. Item number: the position.
ChooseNameRequest ImplementedTypeRequest(ole::ITypeInfo* type, int32_t count, const std::u16string& name);

bool ChooseType(INameChooser& chooser, ole::ITypeLib* library, int32_t typeKind, std::u16string& name);
bool ChooseMember(INameChooser& chooser, ole::ITypeInfo* type, int32_t typeKind, int32_t invokeKind,
                  std::u16string& name, int32_t& memberId);
bool ChooseParameter(INameChooser& chooser, ole::ITypeInfo* type, int32_t memberId, int32_t invokeKind,
                     std::u16string& name, int32_t& index);
bool ChooseImplementedType(INameChooser& chooser, ole::ITypeInfo* type, int32_t count, std::u16string& name,
                           int32_t& index);

}  // namespace zephrin::modChooseName
