#include "typelib/CustomVarTypeInfo.h"

#include <algorithm>

#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using ole::HRESULT;
using namespace typelib_detail;

namespace {

// A TYPEDESC chain longer than this is taken as corrupt rather than walked on.
constexpr int kMaxTypeDescDepth = 1024;

bool ValidBounds(const BoundsTable& bounds) {
    if (bounds.empty() || bounds.size() > 0xFFFF) return false;
    for (const BoundsRow& row : bounds) {
        const int64_t count = int64_t{row[1]} - int64_t{row[0]} + 1;
        if (count < 1 || count > 0xFFFFFFFFll) return false;
    }
    return true;
}

}  // namespace

ComPtr<CustomVarTypeInfo> CustomVarTypeInfo::New() { return ComPtr<CustomVarTypeInfo>(new CustomVarTypeInfo()); }

ComPtr<CustomVarTypeInfo> CustomVarTypeInfo::CopyAtLevel(tli::VarTypeInfo* source, ole::ITypeLib* lib, int16_t level) {
    ComPtr<CustomVarTypeInfo> copy = New();
    copy->Duplicate(source);
    copy->CurrentITypeLib(lib);
    if (copy->IsArray())
        copy->ArrayPointerLevel(level);
    else
        copy->PointerLevel(level);
    return copy;
}

ComPtr<CustomVarTypeInfo> CustomVarTypeInfo::CopyWithPointers(tli::VarTypeInfo* source, ole::ITypeLib* lib,
                                                              int16_t delta) {
    ComPtr<CustomVarTypeInfo> copy = New();
    copy->Duplicate(source);
    copy->CurrentITypeLib(lib);
    if (copy->IsArray())
        copy->ArrayPointerLevel(static_cast<int16_t>(std::max(0, copy->ArrayPointerLevel() + delta)));
    else
        copy->PointerLevel(static_cast<int16_t>(std::max(0, copy->PointerLevel() + delta)));
    return copy;
}

void CustomVarTypeInfo::Clear() {
    ClearArrayData();
    varType_ = 0;
    typeInfo_ = nullptr;
    pointerLevel_ = 0;
}

void CustomVarTypeInfo::ClearArrayData() {
    arrayKind_ = 0;
    bounds_.clear();
    arrayPointerLevel_ = 0;
}

ComPtr<tli::VarTypeInfo> CustomVarTypeInfo::GetVarTypeInfo() { return ComPtr<tli::VarTypeInfo>(this); }

void CustomVarTypeInfo::SetType(ole::VARTYPE vt, tli::TypeInfo* tinfo) {
    if (vt != 0) {
        varType_ = vt;
        typeInfo_ = nullptr;
    } else {
        typeInfo_ = ComPtr<tli::TypeInfo>(tinfo);
        varType_ = 0;
    }
}

void CustomVarTypeInfo::SetSafeArrayData(int16_t pointerLevel) {
    bounds_.clear();
    arrayKind_ = kSafeArray;
    arrayPointerLevel_ = pointerLevel;
}

void CustomVarTypeInfo::SetFixedArrayData(const BoundsTable& bounds, int16_t pointerLevel) {
    if (!ValidBounds(bounds)) RaiseError(kErrInvalidArgument);
    bounds_ = bounds;
    arrayKind_ = kFixedArray;
    arrayPointerLevel_ = pointerLevel;
}

void CustomVarTypeInfo::CurrentTypeLib(tli::TypeLibInfo* lib) {
    ComPtr<ole::ITypeLib> itl;
    if (lib) CheckHr(lib->get_ITypeLib(itl.put()));
    currentITypeLib_ = itl;
}

void CustomVarTypeInfo::CurrentITypeLib(ole::ITypeLib* lib) { currentITypeLib_ = ComPtr<ole::ITypeLib>(lib); }

void CustomVarTypeInfo::Duplicate(tli::VarTypeInfo* source) {
    if (!source) RaiseError(kErrObjectNotSet);
    Clear();
    ole::VARTYPE v = 0;
    CheckHr(source->get_VarType(&v));
    varType_ = static_cast<ole::VARTYPE>(v & 0xCFFF);
    if (varType_ == 0) CheckHr(source->get_TypeInfo(typeInfo_.put()));
    arrayKind_ = static_cast<ole::VARTYPE>(v & kArrayMask);
    ole::SHORT level = 0;
    if (arrayKind_ != 0) {
        CheckHr(source->get_ElementPointerLevel(&level));
        pointerLevel_ = level;
        if (arrayKind_ == kFixedArray) {
            std::vector<tli::ArrayBound> bounds;
            ole::SHORT dims = 0;
            CheckHr(source->ArrayBounds(&bounds, &dims));
            if (dims != 0) {
                bounds_.clear();
                for (const tli::ArrayBound& b : bounds) bounds_.push_back({b.lower, b.upper});
            }
        }
        CheckHr(source->get_PointerLevel(&level));
        arrayPointerLevel_ = level;
    } else {
        CheckHr(source->get_PointerLevel(&level));
        pointerLevel_ = level;
    }
}

void CustomVarTypeInfo::DuplicateFromTypeDesc(const ole::TYPEDESC& tdesc, ole::ITypeLib* itl, ole::ITypeInfo* iti) {
    Clear();
    int16_t count = 0;
    const ole::TYPEDESC* cur = &tdesc;
    for (int depth = 0;; ++depth) {
        if (!cur || depth > kMaxTypeDescDepth) RaiseError(kErrInvalidArgument);
        switch (cur->vt) {
            case ole::VT_PTR:
                ++count;
                cur = cur->lptdesc;
                continue;
            case ole::VT_SAFEARRAY:
                arrayKind_ = kSafeArray;
                bounds_.clear();
                arrayPointerLevel_ = count;
                count = 0;
                cur = cur->lptdesc;
                continue;
            case ole::VT_CARRAY: {
                const ole::ARRAYDESC* a = cur->lpadesc;
                if (!a) RaiseError(kErrInvalidArgument);
                arrayKind_ = kFixedArray;
                arrayPointerLevel_ = count;
                count = 0;
                bounds_.clear();
                const ole::SAFEARRAYBOUND* b = a->rgbounds;
                for (ole::USHORT i = 0; i < a->cDims; ++i) {
                    const int64_t upper = int64_t{b[i].cElements} + b[i].lLbound - 1;
                    bounds_.push_back({b[i].lLbound, static_cast<int32_t>(upper)});
                }
                cur = &a->tdescElem;
                continue;
            }
            case ole::VT_USERDEFINED: {
                if (!iti) RaiseError(kErrObjectNotSet);
                currentITypeLib_ = ComPtr<ole::ITypeLib>(itl);
                ComPtr<ole::ITypeInfo> ref;
                CheckHr(iti->GetRefTypeInfo(cur->hreftype, ref.put()));
                typeInfo_ = VTableInterfaceOrSelf(TliTypeInfo(ref.get()));
                break;
            }
            default:
                varType_ = cur->vt;
                break;
        }
        break;
    }
    pointerLevel_ = count;
}

int16_t CustomVarTypeInfo::GetArrayBounds(BoundsTable& out) const {
    if (arrayKind_ == kSafeArray) RaiseError(tli::TLI_E_NOARRAYBOUNDS);
    if (arrayKind_ != kFixedArray) RaiseError(tli::TLI_E_NOTANARRAY);
    if (bounds_.empty()) RaiseError(tli::TLI_E_NOARRAYBOUNDS);
    out = bounds_;
    return static_cast<int16_t>(bounds_.size());
}

ComPtr<tli::TypeLibInfo> CustomVarTypeInfo::ExternalLibrary() const {
    if (!typeInfo_) return nullptr;
    ComPtr<tli::TypeLibInfo> parent;
    if (FAILED(typeInfo_->get_Parent(parent.put())) || !parent) return nullptr;
    if (!currentITypeLib_) return parent;
    ComPtr<ole::ITypeLib> lib;
    if (FAILED(parent->get_ITypeLib(lib.put()))) return nullptr;
    if (SameObject(lib.get(), currentITypeLib_.get())) return nullptr;
    return parent;
}

// ---- tli::VarTypeInfo ----

HRESULT CustomVarTypeInfo::QueryInterface(const ole::IID& riid, void** ppv) {
    return ole::QueryInterfaceFor<tli::VarTypeInfo>(this, riid, ppv);
}

HRESULT CustomVarTypeInfo::get_Me(tli::VarTypeInfo** out) {
    if (!out) return ole::E_POINTER;
    *out = this;
    AddRef();
    return ole::S_OK;
}

HRESULT CustomVarTypeInfo::get_TypeInfo(tli::TypeInfo** out) {
    if (!out) return ole::E_POINTER;
    return typeInfo_.CopyTo(out);
}

HRESULT CustomVarTypeInfo::get_TypeInfoNumber(ole::LONG* out) {
    if (!out) return ole::E_POINTER;
    *out = -1;
    if (varType_ != 0) return ole::S_OK;
    if (!typeInfo_) return modSupport::ErrToHResult(ErrorRecord(kErrObjectNotSet));
    return typeInfo_->get_TypeInfoNumber(out);
}

HRESULT CustomVarTypeInfo::get_TypedVariant(ole::VARIANT* out) {
    if (out) ole::VariantInit(out);
    return modSupport::ErrToHResult(ErrorRecord(kErrInvalidArgument));
}

HRESULT CustomVarTypeInfo::get_IsExternalType(bool* out) {
    if (!out) return ole::E_POINTER;
    *out = static_cast<bool>(ExternalLibrary());
    return ole::S_OK;
}

HRESULT CustomVarTypeInfo::get_TypeLibInfoExternal(tli::TypeLibInfo** out) {
    if (!out) return ole::E_POINTER;
    *out = ExternalLibrary().Detach();
    return ole::S_OK;
}

HRESULT CustomVarTypeInfo::get_PointerLevel(ole::SHORT* out) {
    if (!out) return ole::E_POINTER;
    *out = IsArray() ? arrayPointerLevel_ : pointerLevel_;
    return ole::S_OK;
}

HRESULT CustomVarTypeInfo::get_VarType(ole::VARTYPE* out) {
    if (!out) return ole::E_POINTER;
    *out = static_cast<ole::VARTYPE>(varType_ | arrayKind_);
    return ole::S_OK;
}

HRESULT CustomVarTypeInfo::ArrayBounds(std::vector<tli::ArrayBound>* bounds, ole::SHORT* dims) {
    if (!bounds || !dims) return ole::E_POINTER;
    bounds->clear();
    *dims = 0;
    return Guarded([&] {
        BoundsTable table;
        const int16_t n = GetArrayBounds(table);
        for (const BoundsRow& row : table) bounds->push_back({row[0], row[1]});
        *dims = n;
    });
}

HRESULT CustomVarTypeInfo::get_ElementPointerLevel(ole::SHORT* out) {
    if (!out) return ole::E_POINTER;
    *out = 0;
    if (!IsArray()) return tli::TLI_E_NOTANARRAY;
    *out = pointerLevel_;
    return ole::S_OK;
}

}  // namespace zephrin
