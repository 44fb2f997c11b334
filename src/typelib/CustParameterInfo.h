// Describes the last parameter of one function of a type (a trailing
// return-value, property-put value or LCID parameter that the TypeLib
// Information member does not list) as a TypeLib Information ParameterInfo.
// It is also an empty CustomDataCollection.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/CustomVarTypeInfo.h"

namespace zephrin {

class CustParameterInfo final : public ole::RefCounted<tli::ParameterInfo, tli::CustomDataCollection> {
public:
    static ole::ComPtr<CustParameterInfo> New();

    // Takes the type and the FUNCDESC of function funcIndex. A function
    // without parameters has no last parameter: error 9.
    void InitParameter(ole::ITypeInfo* type, ole::UINT funcIndex);

    // ---- tli::ParameterInfo ----
    ole::HRESULT QueryInterface(const ole::IID& riid, void** ppv) override;
    ole::HRESULT get_Me(tli::ParameterInfo** out) override;
    ole::HRESULT get_Name(std::u16string* out) override;
    ole::HRESULT get_Optional(bool* out) override;
    ole::HRESULT get_VarTypeInfo(tli::VarTypeInfo** out) override;
    ole::HRESULT get_Default(bool* out) override;
    ole::HRESULT get_DefaultValue(ole::VARIANT* out) override;
    ole::HRESULT get_HasCustomData(bool* out) override;
    ole::HRESULT get_CustomDataCollection(tli::CustomDataCollection** out) override;
    ole::HRESULT get_Flags(ole::USHORT* out) override;

    // ---- tli::CustomDataCollection ----
    ole::HRESULT get_Me(tli::CustomDataCollection** out) override;
    ole::HRESULT NewEnum(tli::CustomDataEnum** out) override;
    ole::HRESULT get_Item(ole::LONG index, tli::CustomDataItem** out) override;
    ole::HRESULT get_Count(ole::LONG* out) override;

private:
    CustParameterInfo() = default;
    ~CustParameterInfo() override;
    const ole::ELEMDESC& LastParam() const;
    ole::USHORT LoadFlags();

    ole::ComPtr<tli::CustomDataCollection> custData_;
    ole::ComPtr<ole::ITypeInfo> type_;
    ole::FUNCDESC* func_ = nullptr;
    ole::ComPtr<CustomVarTypeInfo> varTypeInfo_;
    std::u16string name_;
    bool nameLoaded_ = false;
    ole::USHORT flags_ = 0;
    bool flagsLoaded_ = false;
};

}  // namespace zephrin
