#include "typelib/CustParameterInfo.h"

#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using ole::HRESULT;
using namespace typelib_detail;

ComPtr<CustParameterInfo> CustParameterInfo::New() { return ComPtr<CustParameterInfo>(new CustParameterInfo()); }

CustParameterInfo::~CustParameterInfo() {
    if (func_) type_->ReleaseFuncDesc(func_);
}

void CustParameterInfo::InitParameter(ole::ITypeInfo* type, ole::UINT funcIndex) {
    if (!type) RaiseError(kErrObjectNotSet);
    ole::FUNCDESC* fd = nullptr;
    CheckHr(type->GetFuncDesc(funcIndex, &fd));
    if (!fd) RaiseError(ole::E_UNEXPECTED);
    if (fd->cParams <= 0 || !fd->lprgelemdescParam) {
        type->ReleaseFuncDesc(fd);
        RaiseError(kErrSubscriptOutOfRange);
    }
    if (func_) type_->ReleaseFuncDesc(func_);
    type_ = ComPtr<ole::ITypeInfo>(type);
    func_ = fd;
    varTypeInfo_ = nullptr;
    nameLoaded_ = flagsLoaded_ = false;
}

const ole::ELEMDESC& CustParameterInfo::LastParam() const {
    if (!func_) RaiseError(kErrObjectNotSet);
    return func_->lprgelemdescParam[func_->cParams - 1];
}

ole::USHORT CustParameterInfo::LoadFlags() {
    if (!flagsLoaded_) {
        flags_ = LastParam().paramdesc.wParamFlags;
        flagsLoaded_ = true;
    }
    return flags_;
}

HRESULT CustParameterInfo::QueryInterface(const ole::IID& riid, void** ppv) {
    return ole::QueryInterfaceFor<tli::ParameterInfo, tli::CustomDataCollection>(this, riid, ppv);
}

HRESULT CustParameterInfo::get_Me(tli::ParameterInfo** out) {
    if (!out) return ole::E_POINTER;
    *out = this;
    AddRef();
    return ole::S_OK;
}

HRESULT CustParameterInfo::get_Name(std::u16string* out) {
    if (!out) return ole::E_POINTER;
    out->clear();
    return Guarded([&] {
        if (!nameLoaded_) {
            (void)LastParam();
            const ole::UINT want = static_cast<ole::UINT>(func_->cParams) + 1;
            std::vector<ole::BSTR> names(want, nullptr);
            ole::UINT got = 0;
            const HRESULT hr = type_->GetNames(func_->memid, names.data(), want, &got);
            std::u16string last;
            if (SUCCEEDED(hr) && got == want) last.assign(ole::BstrView(names[want - 1]));
            for (ole::BSTR b : names) ole::SysFreeString(b);
            CheckHr(hr);
            name_ = std::move(last);
            nameLoaded_ = true;
        }
        *out = name_;
    });
}

HRESULT CustParameterInfo::get_Optional(bool* out) {
    if (!out) return ole::E_POINTER;
    *out = false;
    return ole::S_OK;
}

HRESULT CustParameterInfo::get_VarTypeInfo(tli::VarTypeInfo** out) {
    if (!out) return ole::E_POINTER;
    *out = nullptr;
    return Guarded([&] {
        if (!varTypeInfo_) {
            const ole::ELEMDESC& p = LastParam();
            ComPtr<ole::ITypeLib> lib;
            ole::UINT index = 0;
            CheckHr(type_->GetContainingTypeLib(lib.put(), &index));
            ComPtr<CustomVarTypeInfo> vti = CustomVarTypeInfo::New();
            vti->DuplicateFromTypeDesc(p.tdesc, lib.get(), type_.get());
            varTypeInfo_ = vti;
            LoadFlags();
        }
        *out = varTypeInfo_->GetVarTypeInfo().Detach();
    });
}

HRESULT CustParameterInfo::get_Default(bool* out) {
    if (!out) return ole::E_POINTER;
    *out = false;
    return ole::S_OK;
}

HRESULT CustParameterInfo::get_DefaultValue(ole::VARIANT* out) {
    if (out) ole::VariantInit(out);
    return tli::TLI_E_NODEFAULTVALUE;
}

HRESULT CustParameterInfo::get_HasCustomData(bool* out) {
    if (!out) return ole::E_POINTER;
    *out = false;
    return Guarded([&] { *out = (LoadFlags() & ole::PARAMFLAG_FHASCUSTDATA) != 0; });
}

HRESULT CustParameterInfo::get_CustomDataCollection(tli::CustomDataCollection** out) {
    if (!out) return ole::E_POINTER;
    *out = this;
    AddRef();
    return ole::S_OK;
}

HRESULT CustParameterInfo::get_Flags(ole::USHORT* out) {
    if (!out) return ole::E_POINTER;
    *out = 0;
    return Guarded([&] { *out = LoadFlags(); });
}

HRESULT CustParameterInfo::get_Me(tli::CustomDataCollection** out) { return get_CustomDataCollection(out); }

HRESULT CustParameterInfo::NewEnum(tli::CustomDataEnum** out) {
    if (!out) return ole::E_POINTER;
    *out = nullptr;
    if (!custData_) {
        HRESULT hr = tli::CreateCustomDataCollection(nullptr, custData_.put());
        if (FAILED(hr)) return hr;
    }
    return custData_->NewEnum(out);
}

HRESULT CustParameterInfo::get_Item(ole::LONG index, tli::CustomDataItem** out) {
    if (!out) return ole::E_POINTER;
    *out = nullptr;
    if (!custData_) return ole::TYPE_E_ELEMENTNOTFOUND;
    return custData_->get_Item(index, out);
}

HRESULT CustParameterInfo::get_Count(ole::LONG* out) {
    if (!out) return ole::E_POINTER;
    *out = 0;
    if (!custData_) return ole::S_OK;
    return custData_->get_Count(out);
}

}  // namespace zephrin
