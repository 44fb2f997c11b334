// Small helpers shared by the type library model's sources.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/modStorableText.h"
#include "foundation/modSupport.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "platform/automation/Variant.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/HelpData.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::typelib_detail {

using ole::FAILED;
using ole::SUCCEEDED;
using modStorableText::RequireStorable;

// Error 91: object variable not set.
inline constexpr int32_t kErrObjectNotSet = 91;

// The TypeLib Information application object, with alias resolution off.
ole::ComPtr<tli::TLIApplication> TliApp();

// A TypeLib Information view of exactly that type.
ole::ComPtr<tli::TypeInfo> TliTypeInfo(ole::ITypeInfo* type);
// A TypeLib Information view of exactly that library (null: an empty view).
ole::ComPtr<tli::TypeLibInfo> TliTypeLibInfo(ole::ITypeLib* lib);
// The ITypeInfo behind a view.
ole::ComPtr<ole::ITypeInfo> ITypeInfoOf(tli::TypeInfo* type);

// Unless the type is an alias, its vtable interface when it has one (the
// interface half of a dual dispinterface); otherwise the type itself. Errors
// of the lookup are ignored.
ole::ComPtr<tli::TypeInfo> VTableInterfaceOrSelf(const ole::ComPtr<tli::TypeInfo>& type);

// True when both point at the same object (compared as IUnknown).
bool SameObject(ole::IUnknown* a, ole::IUnknown* b);

// A name no type of the library uses yet, made of the present date and time.
std::u16string TemporaryTypeName();

// Runs f, turning a raised error record into its HRESULT (for methods of
// interfaces the model implements).
template <class F>
ole::HRESULT Guarded(F&& f) noexcept {
    try {
        std::forward<F>(f)();
        return ole::S_OK;
    } catch (...) {
        return modSupport::ErrToHResult();
    }
}

// TYPEATTR read and released at scope end.
class TypeAttr {
public:
    explicit TypeAttr(ole::ITypeInfo* ti);
    ~TypeAttr();
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    const ole::TYPEATTR* operator->() const { return attr_; }
    const ole::TYPEATTR& operator*() const { return *attr_; }

private:
    ole::ComPtr<ole::ITypeInfo> ti_;
    ole::TYPEATTR* attr_ = nullptr;
};

// FUNCDESC read and released at scope end.
class FuncDescHolder {
public:
    FuncDescHolder() = default;
    FuncDescHolder(ole::ITypeInfo* ti, ole::UINT index) { Take(ti, index); }
    ~FuncDescHolder() { Release(); }
    FuncDescHolder(const FuncDescHolder&) = delete;
    FuncDescHolder& operator=(const FuncDescHolder&) = delete;
    void Take(ole::ITypeInfo* ti, ole::UINT index);
    void Release() noexcept;
    const ole::FUNCDESC* operator->() const { return desc_; }
    const ole::FUNCDESC& operator*() const { return *desc_; }
    const ole::FUNCDESC* get() const { return desc_; }

private:
    ole::ComPtr<ole::ITypeInfo> ti_;
    ole::FUNCDESC* desc_ = nullptr;
};

// Takes a BSTR over as text.
std::u16string TakeBstr(ole::BSTR b);

// Up to max names of a member (GetNames); a failure raises its HRESULT.
std::vector<std::u16string> ReadNames(ole::ITypeInfo* ti, ole::MEMBERID memid, ole::UINT max);

// Whether the platform reads a property's names from one of its puts or
// putrefs: one is stored before its Get, or it has none. A member's names
// are those of the accessor stored first, a put's value parameter among them.
bool NamesReadFromPut(ole::ITypeInfo* ti, ole::MEMBERID memid);
// Names the value parameter of the put or putref at index (an empty name
// leaves it unnamed). The creation interfaces leave that parameter unnamed;
// this engine's own addition names it.
void SetValueParamName(ole::ICreateTypeInfo* cti, ole::UINT index, const std::u16string& name);

// The custom data of one item, read into values that outlive the read.
using CustItems = std::vector<std::pair<ole::GUID, ole::Variant>>;
CustItems ReadCust(const modITypeInfoHelper::GetCustDataFn& get);
void WriteCust(const CustItems& items, const modITypeInfoHelper::SetCustDataFn& set);

// Raises error 5, naming the character, when a text of hd can't be stored.
inline void RequireStorableHelp(const HelpData& hd) {
    RequireStorable(hd.DocString);
    RequireStorable(hd.HelpFile);
    RequireStorable(hd.HelpStringDll);
}

// The member fields of hd that hold something: with the masked setters, the
// mask that gives a re-added member its saved help back as it was, a help
// string context included where the library names no help string DLL.
inline int32_t MemberFieldsSet(const HelpData& hd) {
    return (hd.DocString.empty() ? 0 : HelpData::kDocString) | (hd.HelpContext ? HelpData::kHelpContext : 0) |
           (hd.HelpStringContext ? HelpData::kHelpStringContext : 0);
}

}  // namespace zephrin::typelib_detail
