#include "typelib/CustomTypeLib.h"

#include <mutex>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "typelib/BaseTICache.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using ole::HRESULT;
using namespace typelib_detail;

namespace {

LibraryCopier& Copier() {
    static LibraryCopier copier;
    return copier;
}

constexpr std::u16string_view kNullGuidText = u"{00000000-0000-0000-0000-000000000000}";

ole::GUID ParseGuid(std::u16string_view text) {
    const std::u16string s(text);
    ole::GUID g{};
    CheckHr(ole::IIDFromString(s.c_str(), &g));
    return g;
}

}  // namespace

void SetLibraryCopier(LibraryCopier copier) { Copier() = std::move(copier); }

CustomTypeLib::CustomTypeLib() : info_(TliTypeLibInfo(nullptr)) {}

void CustomTypeLib::CreateLibrary() {
    ComPtr<ole::ICreateTypeLib2> lib;
    CheckHr(ole::CreateTypeLib2(ole::SYS_WIN32, u"", lib.put()));
    ComPtr<ole::ITypeLib2> read;
    CheckHr(lib.As(&read));
    CheckHr(lib->SetVersion(1, 0));
    create_ = lib;
    read_ = read;
    stale_ = true;
}

void CustomTypeLib::RequireLibrary() const {
    if (!create_ || !read_) RaiseError(kErrObjectNotSet);
}

void CustomTypeLib::SyncTypeLibInfo() {
    CheckHr(info_->putref_ITypeLib(read_.get()));
    stale_ = false;
}

bool CustomTypeLib::HasLibName() { return !LibName().empty(); }

// ---- Generation ----

ComPtr<ole::ITypeLib> CustomTypeLib::GenerateDirect(bool fAutoAddBases) {
    if (!HasLibName()) RaiseError(kErrInvalidArgument, u"LibName and GUID must be set.");
    const ole::UINT count = read_->GetTypeInfoCount();
    for (ole::UINT i = 0; i < count; ++i) {
        ComPtr<ole::ITypeInfo> ti;
        CheckHr(read_->GetTypeInfo(i, ti.put()));
        ComPtr<ole::ICreateTypeInfo2> cti;
        CheckHr(ti.As(&cti));
        if (fAutoAddBases) {
            try {
                ole::TYPEKIND kind = ole::TKIND_ENUM;
                CheckHr(read_->GetTypeInfoType(i, &kind));
                ComPtr<ole::ITypeInfo> base;
                if (kind == ole::TKIND_INTERFACE)
                    base = BaseTICache::Instance().IUnknown();
                else if (kind == ole::TKIND_DISPATCH)
                    base = BaseTICache::Instance().IDispatch();
                if (base) {
                    ComPtr<ole::ITypeInfo> editable;
                    CheckHr(cti.As(&editable));
                    bool hasBase = false;
                    {
                        TypeAttr attr(editable.get());
                        hasBase = attr->cImplTypes != 0;
                    }
                    if (!hasBase) {
                        ole::HREFTYPE href = 0;
                        CheckHr(cti->AddRefTypeInfo(base.get(), &href));
                        CheckHr(cti->AddImplType(0, href));
                    }
                }
            } catch (const ErrorRecord&) {
                // A base that cannot be added does not stop the generation.
            }
        }
        CheckHr(cti->LayOut());
    }
    return ComPtr<ole::ITypeLib>(read_);
}

ComPtr<tli::TypeLibInfo> CustomTypeLib::Generate(bool fAutoAddBases) {
    ComPtr<ole::ITypeLib> lib = GenerateDirect(fAutoAddBases);
    return TliTypeLibInfo(lib.get());
}

void CustomTypeLib::RestorePrimaryExternalFiles() {
    RequireLibrary();
    ole::BSTR file = nullptr;
    CheckHr(read_->GetDocumentation(-1, nullptr, nullptr, nullptr, &file));
    std::u16string helpFile = TakeBstr(file);
    modSupport::ExtractFileName(helpFile);
    ole::BSTR dll = nullptr;
    CheckHr(read_->GetDocumentation2(-1, 0, nullptr, nullptr, &dll));
    const std::u16string helpStringDll = TakeBstr(dll);
    CheckHr(create_->SetHelpFileName(helpFile.c_str()));
    CheckHr(create_->SetHelpStringDll(helpStringDll.c_str()));
}

// ---- Types ----

ComPtr<tli::TypeInfo> CustomTypeLib::GetTypeInfo(std::u16string_view tinfoName) {
    if (tinfoName.empty() || tinfoName.front() != u'{') {
        SyncIfStale();
        ComPtr<tli::TypeInfos> types;
        CheckHr(info_->get_TypeInfos(types.put()));
        ComPtr<tli::TypeInfo> type;
        CheckHr(types->NamedItem(tinfoName, type.put()));
        return type;
    }
    const ole::GUID guid = ParseGuid(tinfoName);
    RequireLibrary();
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(read_->GetTypeInfoOfGuid(guid, ti.put()));
    return TliTypeInfo(ti.get());
}

std::shared_ptr<CustomTypeInfo> CustomTypeLib::WrapTypeInfo(ComPtr<tli::TypeInfo> typeInfo) {
    typeInfo = VTableInterfaceOrSelf(typeInfo);
    ComPtr<ole::ITypeInfo> ti = ITypeInfoOf(typeInfo.get());
    ComPtr<ole::ICreateTypeInfo2> cti;
    CheckHr(ti.As(&cti));
    auto wrapped = std::make_shared<CustomTypeInfo>();
    wrapped->Init(create_.get(), cti.get());
    return wrapped;
}

std::shared_ptr<CustomTypeInfo> CustomTypeLib::AddCustomTypeInfo(std::u16string_view name, ole::TYPEKIND tkind,
                                                                 std::u16string_view guid) {
    RequireStorable(name);
    EnsureLibrary();
    const std::u16string typeName(name);
    ComPtr<ole::ICreateTypeInfo> created;
    CheckHr(create_->CreateTypeInfo(typeName.c_str(), tkind, created.put()));
    ScopeGuard rollback([&] {
        created = nullptr;
        CheckHr(create_->DeleteTypeInfo(typeName.c_str()));
    });
    ComPtr<ole::ICreateTypeInfo2> created2;
    CheckHr(created.As(&created2));
    if (guid != kNullGuidText) CheckHr(created2->SetGuid(ParseGuid(guid)));
    auto wrapped = std::make_shared<CustomTypeInfo>();
    wrapped->Init(create_.get(), created2.get());
    rollback.Dismiss();
    return wrapped;
}

std::shared_ptr<CustomTypeInfo> CustomTypeLib::GetCustomTypeInfo(std::u16string_view tinfoName) {
    return WrapTypeInfo(GetTypeInfo(tinfoName));
}

std::shared_ptr<CustomTypeInfo> CustomTypeLib::GetCustomTypeInfoByNumber(int32_t typeInfoNumber) {
    RequireLibrary();
    if (typeInfoNumber < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(read_->GetTypeInfo(static_cast<ole::UINT>(typeInfoNumber), ti.put()));
    return WrapTypeInfo(TliTypeInfo(ti.get()));
}

void CustomTypeLib::DeleteTypeInfo(std::u16string_view tinfoName) {
    std::u16string name(tinfoName);
    if (!tinfoName.empty() && tinfoName.front() == u'{') CheckHr(GetTypeInfo(tinfoName)->get_Name(&name));
    RequireLibrary();
    CheckHr(create_->DeleteTypeInfo(name.c_str()));
}

// ---- Library attributes ----

void CustomTypeLib::MajorVersion(int16_t value) {
    if (value < 1) RaiseError(kErrInvalidArgument);
    EnsureLibrary();
    CheckHr(create_->SetVersion(static_cast<ole::WORD>(value), static_cast<ole::WORD>(minorVersion_)));
    majorVersion_ = value;
}

void CustomTypeLib::MinorVersion(int16_t value) {
    if (value < 0) RaiseError(kErrInvalidArgument);
    EnsureLibrary();
    CheckHr(create_->SetVersion(static_cast<ole::WORD>(majorVersion_), static_cast<ole::WORD>(value)));
    minorVersion_ = value;
}

int32_t CustomTypeLib::Attributes() {
    SyncIfStale();
    ole::SHORT mask = 0;
    CheckHr(info_->get_AttributeMask(&mask));
    return mask;
}

void CustomTypeLib::Attributes(int32_t value) {
    EnsureLibrary();
    CheckHr(create_->SetLibFlags(static_cast<ole::UINT>(value & 15)));
    stale_ = true;
}

int32_t CustomTypeLib::LCID() {
    SyncIfStale();
    ole::LCID lcid = 0;
    CheckHr(info_->get_LCID(&lcid));
    return static_cast<int32_t>(lcid);
}

void CustomTypeLib::LCID(int32_t value) {
    EnsureLibrary();
    CheckHr(create_->SetLcid(static_cast<ole::LCID>(value)));
    stale_ = true;
}

std::u16string CustomTypeLib::LibName() {
    SyncIfStale();
    std::u16string name;
    CheckHr(info_->get_Name(&name));
    return name;
}

void CustomTypeLib::LibName(std::u16string_view value) {
    // A library without a name can't be generated.
    if (value.empty()) RaiseError(kErrInvalidArgument, u"The library's name can't be empty.");
    RequireStorable(value);
    EnsureLibrary();
    const std::u16string name(value);
    CheckHr(create_->SetName(name.c_str()));
    stale_ = true;
}

std::u16string CustomTypeLib::Guid() {
    SyncIfStale();
    std::u16string text;
    CheckHr(info_->get_Guid(&text));
    return text;
}

void CustomTypeLib::Guid(std::u16string_view value) {
    const ole::GUID guid = ParseGuid(value);
    EnsureLibrary();
    CheckHr(create_->SetGuid(guid));
    stale_ = true;
}

void CustomTypeLib::SetGuidDirect(const ole::GUID& guid) {
    EnsureLibrary();
    CheckHr(create_->SetGuid(guid));
    stale_ = true;
}

// ---- Other libraries ----

void CustomTypeLib::Duplicate(tli::TypeLibInfo* tlInf) {
    if (!tlInf) RaiseError(kErrObjectNotSet);
    if (!Copier()) RaiseError(kErrInternal, u"No library copier is installed.");
    ComPtr<ole::ITypeLib> source;
    CheckHr(tlInf->get_ITypeLib(source.put()));
    if (!source) RaiseError(kErrObjectNotSet);
    ole::SHORT major = 0, minor = 0;
    CheckHr(tlInf->get_MajorVersion(&major));
    CheckHr(tlInf->get_MinorVersion(&minor));
    ComPtr<ole::ITypeLib> copy = Copier()(source.get());
    if (!copy) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeLib2> read;
    CheckHr(copy.As(&read));
    ComPtr<ole::ICreateTypeLib2> create;
    CheckHr(read.As(&create));
    create_ = create;
    read_ = read;
    majorVersion_ = major;
    minorVersion_ = minor;
    stale_ = true;
}

void CustomTypeLib::Attach(ole::ITypeLib* ptlib) {
    if (ptlib && read_ && SameObject(ptlib, read_.get())) return;
    if (!ptlib) {
        create_ = nullptr;
        read_ = nullptr;
        majorVersion_ = 1;
        minorVersion_ = 0;
        CheckHr(info_->putref_ITypeLib(nullptr));
        stale_ = false;
        return;
    }
    ComPtr<ole::ITypeLib2> read;
    ComPtr<ole::ICreateTypeLib2> create;
    if (FAILED(ComPtr<ole::ITypeLib>(ptlib).As(&read)) || FAILED(read.As(&create)))
        RaiseError(kErrTypeMismatch);
    create_ = create;
    read_ = read;
    stale_ = true;
    SyncTypeLibInfo();
    ole::SHORT major = 0, minor = 0;
    CheckHr(info_->get_MajorVersion(&major));
    CheckHr(info_->get_MinorVersion(&minor));
    majorVersion_ = major;
    minorVersion_ = minor;
}

}  // namespace zephrin
