// The field operations that the five attribute kinds (library, type,
// implemented interface, member, parameter) add to IChange. Each set marks its
// field as changed. A kind offers only the fields it has; the others raise
// error 5, and callers use only the fields of the kind they hold.
#pragma once

#include <cstdint>
#include <string>

#include "changes/hub/IChange.h"
#include "foundation/ErrorRecord.h"
#include "platform/automation/Variant.h"
#include "typelib/CustomVarTypeInfo.h"

namespace zephrin {

class IAttributeChange : public IChange {
public:
    // The mask bits of the fields whose values differ from other's.
    virtual int32_t DiffMask(IAttributeChange& other) = 0;
    // The mask bits of the fields set on this change.
    virtual int32_t ChangeMask() = 0;

    virtual int32_t Flags() { return Unsupported<int32_t>(); }
    virtual void Flags(int32_t) { Unsupported<void>(); }
    virtual bool FlagsSet(int32_t) { return Unsupported<bool>(); }
    // Sets or clears one flag bit and marks the flags changed.
    virtual void SetFlags(int32_t, bool) { Unsupported<void>(); }
    virtual ole::GUID Guid() { return Unsupported<ole::GUID>(); }
    virtual void Guid(const ole::GUID&) { Unsupported<void>(); }
    virtual int16_t MajorVersion() { return Unsupported<int16_t>(); }
    virtual void MajorVersion(int16_t) { Unsupported<void>(); }
    virtual int16_t MinorVersion() { return Unsupported<int16_t>(); }
    virtual void MinorVersion(int16_t) { Unsupported<void>(); }
    virtual int32_t Lcid() { return Unsupported<int32_t>(); }
    virtual void Lcid(int32_t) { Unsupported<void>(); }
    virtual ole::ComPtr<CustomVarTypeInfo> VarTypeInfo() { return Unsupported<ole::ComPtr<CustomVarTypeInfo>>(); }
    virtual void VarTypeInfo(CustomVarTypeInfo*) { Unsupported<void>(); }
    virtual int16_t Alignment() { return Unsupported<int16_t>(); }
    virtual void Alignment(int16_t) { Unsupported<void>(); }
    virtual ole::Variant Value() { return Unsupported<ole::Variant>(); }
    virtual void Value(const ole::Variant&) { Unsupported<void>(); }
    virtual int32_t MemberId() { return Unsupported<int32_t>(); }
    virtual void MemberId(int32_t) { Unsupported<void>(); }
    virtual std::u16string DllName() { return Unsupported<std::u16string>(); }
    virtual void DllName(const std::u16string&) { Unsupported<void>(); }
    virtual int32_t InvokeKind() { return Unsupported<int32_t>(); }
    virtual void InvokeKind(int32_t) { Unsupported<void>(); }

private:
    template <class T>
    [[noreturn]] static T Unsupported() {
        RaiseError(kErrInvalidArgument);
    }
};

}  // namespace zephrin
