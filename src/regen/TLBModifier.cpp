// TLBModifier: the starting library, the requests and the final type list.
#include "regen/TLBModifier.h"

#include <algorithm>

#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "regen/TLBModifierGeneration.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;
using namespace regen_detail;

namespace {

[[noreturn]] void RaiseRes(int32_t number, int32_t resId) {
    RaiseError(number, modSupport::LoadResStringById(resId));
}

}  // namespace

namespace regen_detail {

std::u16string FoldName(std::u16string_view name) {
    std::u16string key(name);
    for (char16_t& c : key)
        if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 32);
    return key;
}

ole::IUnknown* LibraryKey(ole::ITypeLib* lib) {
    if (!lib) RaiseError(kErrObjectNotSet);
    ComPtr<ole::IUnknown> unk;
    CheckHr(lib->QueryInterface(ole::IUnknown::kIID, unk.put_void()));
    // The library outlives the key: every caller holds a reference to it.
    return unk.get();
}

ComPtr<ole::ITypeLib> ContainingLib(ole::ITypeInfo* ti, ole::UINT* index) {
    if (!ti) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeLib> lib;
    ole::UINT i = 0;
    CheckHr(ti->GetContainingTypeLib(lib.put(), &i));
    if (!lib) RaiseError(kErrObjectNotSet);
    if (index) *index = i;
    return lib;
}

void RaiseCallbackError(ole::HRESULT hr) {
    const auto bits = static_cast<uint32_t>(hr);
    if ((bits & 0xFFFF0000u) == 0x800A0000u) RaiseError(static_cast<int32_t>(bits & 0xFFFFu));
    CheckHr(hr);
    RaiseError(kErrInternal);
}

void RaiseNamed(ole::HRESULT hr, std::u16string description) {
    // Where it failed, then what failed: the platform's own text for the code.
    description += u": " + ErrorReportText(ErrorRecord(hr));
    throw ErrorRecord(hr, std::move(description));
}

std::u16string TypeName(ole::ITypeInfo* ti) {
    ole::BSTR name = nullptr;
    CheckHr(ti->GetDocumentation(ole::MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
    return TakeBstr(name);
}

std::u16string QualifiedTypeName(ole::ITypeInfo* ti) {
    ComPtr<ole::ITypeLib> lib = ContainingLib(ti);
    ole::BSTR name = nullptr;
    CheckHr(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
    return TakeBstr(name) + u"." + TypeName(ti);
}

}  // namespace regen_detail

TLBModifier::TLBModifier() = default;
TLBModifier::~TLBModifier() = default;

// ---- Starting library ----

void TLBModifier::RequireStartingLib() const {
    if (!startingLib_) RaiseRes(kErrInvalidArgument, 801);
}

void TLBModifier::SetStartingLib(ole::ITypeLib* library) {
    if (startingLib_) RaiseRes(kErrInvalidArgument, 802);
    if (!library) RaiseError(kErrObjectNotSet);
    ComPtr<tli::TypeLibInfo> info = TliTypeLibInfo(library);
    ole::SHORT major = 0, minor = 0;
    CheckHr(info->get_MajorVersion(&major));
    CheckHr(info->get_MinorVersion(&minor));
    startingITypeLib_ = ComPtr<ole::ITypeLib>(library);
    startingKey_ = LibraryKey(library);
    startingLib_ = info;
    majorVersion_ = major;
    minorVersion_ = minor;
}

void TLBModifier::StartingLib(tli::TypeLibInfo* library) {
    if (startingLib_) RaiseRes(kErrInvalidArgument, 802);
    if (!library) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeLib> lib;
    CheckHr(library->get_ITypeLib(lib.put()));
    SetStartingLib(lib.get());
}

void TLBModifier::StartingLibDirect(ole::ITypeLib* library) { SetStartingLib(library); }

// ---- The final type list ----

int32_t TLBModifier::LibraryNumber(ole::IUnknown* key) const {
    auto it = libraryNumbers_.find(key);
    return it == libraryNumbers_.end() ? 0 : it->second;
}

int32_t TLBModifier::RegisterLibrary(ole::ITypeLib* lib, tli::TypeLibInfo* info) {
    ole::IUnknown* key = LibraryKey(lib);
    if (int32_t known = LibraryNumber(key)) return known;
    ComPtr<tli::TypeLibInfo> view = info ? ComPtr<tli::TypeLibInfo>(info) : TliTypeLibInfo(lib);
    const auto number = static_cast<int32_t>(libraries_.size() + 1);
    libraries_.push_back({view, ComPtr<ole::ITypeLib>(lib), false});
    libraryNumbers_.emplace(key, number);
    CheckHr(view->put_LibNum(number));
    return number;
}

TypeListRecord& TLBModifier::AppendRecord(int32_t libNum, int32_t typeIndex, int16_t flags,
                                          const std::u16string& name) {
    TypeListRecord& r = records_.emplace_back();
    r.LibNum = libNum;
    r.TypeIndex = typeIndex;
    r.Position = static_cast<int32_t>(records_.size() - 1);
    r.Flags = flags;
    // Two types of one library that share a name both stay in the list; the
    // platform refuses the second when it is created.
    names_.emplace(FoldName(name), &r);
    byOrigin_.emplace(std::make_pair(libNum, typeIndex), std::prev(records_.end()));
    return r;
}

// Positions of the records that follow are renumbered when the list is next
// walked (NumberPositions), so that removing many types stays linear.
void TLBModifier::RemoveRecord(std::list<TypeListRecord>::iterator record) {
    auto name = names_.find(FoldName(TypeName(ListedType(*record).get())));
    if (name != names_.end() && name->second == &*record) names_.erase(name);
    byOrigin_.erase({record->LibNum, record->TypeIndex});
    records_.erase(record);
}

void TLBModifier::NumberPositions() {
    int32_t position = 0;
    for (TypeListRecord& r : records_) r.Position = position++;
}

const TypeListRecord* TLBModifier::FindRecord(std::u16string_view name) const {
    auto it = names_.find(FoldName(name));
    return it == names_.end() ? nullptr : it->second;
}

ComPtr<ole::ITypeInfo> TLBModifier::ListedType(const TypeListRecord& record) const {
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(libraries_.at(static_cast<size_t>(record.LibNum - 1))
                .lib->GetTypeInfo(static_cast<ole::UINT>(record.TypeIndex), ti.put()));
    return ti;
}

void TLBModifier::BuildTypeList(std::span<const int32_t> inverseOrder) {
    if (listBuilt_) return;
    RequireStartingLib();
    libraries_.clear();
    libraryNumbers_.clear();
    RegisterLibrary(startingITypeLib_.get(), startingLib_.get());
    const ole::UINT n = startingITypeLib_->GetTypeInfoCount();
    names_.reserve(n * 6 / 5 + 32);
    for (ole::UINT i = 0; i < n; ++i) {
        const auto index = inverseOrder.empty() ? static_cast<int32_t>(i) : inverseOrder[i];
        ole::BSTR name = nullptr;
        CheckHr(startingITypeLib_->GetDocumentation(index, &name, nullptr, nullptr, nullptr));
        AppendRecord(1, index, 0, TakeBstr(name));
    }
    listBuilt_ = true;
}

void TLBModifier::EnsureTypeList() { BuildTypeList({}); }

std::vector<TypeListRecord> TLBModifier::FinalTypeList() const {
    std::vector<TypeListRecord> list(records_.begin(), records_.end());
    for (size_t i = 0; i < list.size(); ++i) list[i].Position = static_cast<int32_t>(i);
    return list;
}

// ---- Requests ----

void TLBModifier::ReorderStartingTypes(std::span<const int32_t> newOrder) {
    RequireStartingLib();
    if (listBuilt_) RaiseRes(kErrInvalidArgument, 810);
    const size_t n = startingITypeLib_->GetTypeInfoCount();
    if (newOrder.size() != n) RaiseRes(kErrSubscriptOutOfRange, 811);
    // The order must name every position exactly once.
    std::vector<int32_t> inverse(n, -1);
    for (size_t k = 0; k < n; ++k) {
        const int32_t position = newOrder[k];
        if (position < 0 || static_cast<size_t>(position) >= n || inverse[static_cast<size_t>(position)] != -1)
            RaiseRes(kErrSubscriptOutOfRange, 811);
        inverse[static_cast<size_t>(position)] = static_cast<int32_t>(k);
    }
    BuildTypeList(inverse);
}

void TLBModifier::AddExtraLibrary(tli::TypeLibInfo* newLib, int32_t flags) {
    RequireStartingLib();
    if (!newLib) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeLib> lib;
    CheckHr(newLib->get_ITypeLib(lib.put()));
    if (!lib) RaiseError(kErrObjectNotSet);
    EnsureTypeList();
    // A library keeps the number it has; asking again for a library already
    // taken in (or for the starting library) changes nothing. One met so far
    // only through a type (AddExtraType, a replacement) is taken in now.
    const int32_t known = LibraryNumber(LibraryKey(lib.get()));
    if (known == 1 || (known && libraries_[static_cast<size_t>(known - 1)].added)) return;
    const int32_t number = known ? known : RegisterLibrary(lib.get(), nullptr);
    LibraryEntry& entry = libraries_[static_cast<size_t>(number - 1)];
    entry.added = true;
    const auto recordFlags = static_cast<int16_t>(((flags & kExtraProxy) ? TypeListRecord::kAddProxy : 0) |
                                                  ((flags & kExtraNoDual) ? TypeListRecord::kDropDual : 0));
    if (flags & kExtraAllTypes) {
        entry.allTypes = true;
        const ole::UINT n = lib->GetTypeInfoCount();
        for (ole::UINT i = 0; i < n; ++i) {
            ole::BSTR name = nullptr;
            CheckHr(lib->GetDocumentation(static_cast<ole::INT>(i), &name, nullptr, nullptr, nullptr));
            const std::u16string text = TakeBstr(name);
            if (!FindRecord(text)) AppendRecord(number, static_cast<int32_t>(i), recordFlags, text);
        }
    } else if (flags & kExtraOnDemand) {
        onDemand_ = true;
        if (recordFlags) onDemandFlags_[number] = recordFlags;
    }
}

void TLBModifier::AddExtraType(tli::TypeInfo* newType, int32_t flags) {
    RequireStartingLib();
    ComPtr<ole::ITypeInfo> ti = ITypeInfoOf(newType);
    EnsureTypeList();
    ole::UINT index = 0;
    ComPtr<ole::ITypeLib> lib = ContainingLib(ti.get(), &index);
    const std::u16string name = TypeName(ti.get());
    const int32_t known = LibraryNumber(LibraryKey(lib.get()));
    if (FindRecord(name) || (known && libraries_[static_cast<size_t>(known - 1)].allTypes))
        RaiseRes(kErrInvalidArgument, 804);
    const int32_t number = known ? known : RegisterLibrary(lib.get(), nullptr);
    const auto recordFlags = static_cast<int16_t>(((flags & kTypeProxy) ? TypeListRecord::kAddProxy : 0) |
                                                  ((flags & kTypeNoDual) ? TypeListRecord::kDropDual : 0));
    AppendRecord(number, static_cast<int32_t>(index), recordFlags, name);
}

void TLBModifier::RedirectImportLib(tli::TypeLibInfo* sourceLib, tli::TypeLibInfo* destLib) {
    if (!sourceLib || !destLib) RaiseError(kErrObjectNotSet);
    ImportRedirection r;
    CheckHr(sourceLib->get_ITypeLib(r.sourceLib.put()));
    CheckHr(destLib->get_ITypeLib(r.destLib.put()));
    if (!r.sourceLib || !r.destLib) RaiseError(kErrObjectNotSet);
    r.dest = ComPtr<tli::TypeLibInfo>(destLib);
    ole::IUnknown* key = LibraryKey(r.sourceLib.get());
    if (importRedirections_.count(key)) RaiseRes(kErrInvalidArgument, 805);
    importRedirections_.emplace(key, std::move(r));
}

void TLBModifier::RedirectType(tli::TypeInfo* sourceType, tli::TypeInfo* destType, bool fReplacement) {
    if (!destType && !fReplacement) RaiseRes(kErrInvalidArgument, 807);
    if (!sourceType) RaiseError(kErrObjectNotSet);
    TypeRedirection r;
    r.source = VTableInterfaceOrSelf(ComPtr<tli::TypeInfo>(sourceType));
    if (destType) r.dest = VTableInterfaceOrSelf(ComPtr<tli::TypeInfo>(destType));
    // A type stands only for one of its kind: an interface redirected to an
    // enum would leave coclasses implementing the enum. A placeholder for an
    // unresolved type stands for a type of unknown kind and may go anywhere.
    if (r.dest) {
        ComPtr<ole::ITypeInfo> source = ITypeInfoOf(r.source.get()), dest = ITypeInfoOf(r.dest.get());
        if (!modITypeInfoHelper::IsUnresolvedTypesLib(ContainingLib(source.get()).get()) &&
            !TypeKindsMatch(r.dest.get(), r.source.get()))
            RaiseError(kErrInvalidArgument,
                       modSupport::LoadResStringFormat(815, {QualifiedTypeName(source.get()),
                                                             QualifiedTypeName(dest.get())}));
    }
    // Both halves of a dual share their library and index: the request is
    // keyed by those, so a reference through either half is redirected.
    ole::UINT index = 0;
    r.sourceLib = ContainingLib(ITypeInfoOf(r.source.get()).get(), &index);
    const TypeKey key{LibraryKey(r.sourceLib.get()), index};
    if (typeRedirections_.count(key)) RaiseRes(kErrInvalidArgument, 806);
    ComPtr<tli::TypeInfo> dest = r.dest;
    typeRedirections_.emplace(key, std::move(r));
    if (!fReplacement) return;
    try {
        EnsureTypeList();
        const int32_t sourceNum = LibraryNumber(key.first);
        auto found = byOrigin_.find({sourceNum, static_cast<int32_t>(index)});
        // A source that is not in the list changes nothing in it; the request
        // still steers the mapping of references.
        if (!sourceNum || found == byOrigin_.end()) return;
        TypeListRecord& record = *found->second;
        if (!dest) {
            RemoveRecord(found->second);
            return;
        }
        ole::UINT destIndex = 0;
        ComPtr<ole::ITypeInfo> destTi = ITypeInfoOf(dest.get());
        ComPtr<ole::ITypeLib> destLib = ContainingLib(destTi.get(), &destIndex);
        if (LibraryKey(destLib.get()) == key.first) {
            RemoveRecord(found->second);
            return;
        }
        const std::u16string sourceName = TypeName(ListedType(record).get());
        const std::u16string destName = TypeName(destTi.get());
        const bool renamed = FoldName(sourceName) != FoldName(destName);
        if (renamed && FindRecord(destName)) RaiseRes(kErrInvalidArgument, 804);
        const int32_t destNum = RegisterLibrary(destLib.get(), nullptr);
        const auto at = found->second;
        byOrigin_.erase(found);
        record.LibNum = destNum;
        record.TypeIndex = static_cast<int32_t>(destIndex);
        byOrigin_.emplace(std::make_pair(destNum, record.TypeIndex), at);
        if (renamed) {
            auto old = names_.find(FoldName(sourceName));
            if (old != names_.end() && old->second == &record) names_.erase(old);
            names_.emplace(FoldName(destName), &record);
        }
    } catch (...) {
        typeRedirections_.erase(key);
        throw;
    }
}

void TLBModifier::SetLibVersion(int16_t major, int16_t minor) {
    majorVersion_ = major;
    minorVersion_ = minor;
}

ole::GUID TLBModifier::ValidateGuidString(std::u16string_view text) {
    const std::u16string s(text);
    ole::GUID g{};
    if (FAILED(ole::IIDFromString(s.c_str(), &g))) RaiseRes(kErrInvalidArgument, 800);
    return g;
}

std::u16string TLBModifier::LibGUID() const {
    RequireStartingLib();
    if (!libGuid_.empty()) return libGuid_;
    std::u16string guid;
    CheckHr(startingLib_->get_Guid(&guid));
    return guid;
}

void TLBModifier::LibGUID(std::u16string_view guid) {
    if (!guid.empty()) ValidateGuidString(guid);
    libGuid_ = std::u16string(guid);
}

std::u16string TLBModifier::TypeInfoGUID(std::u16string_view typeInfoName) const {
    RequireStartingLib();
    if (auto it = guidOverrides_.find(FoldName(typeInfoName)); it != guidOverrides_.end()) return it->second;
    ComPtr<tli::TypeInfo> type;
    if (!listBuilt_) {
        ComPtr<tli::TypeInfos> types;
        CheckHr(startingLib_->get_TypeInfos(types.put()));
        CheckHr(types->NamedItem(typeInfoName, type.put()));
    } else {
        const TypeListRecord* record = FindRecord(typeInfoName);
        if (!record) CheckHr(ole::TYPE_E_ELEMENTNOTFOUND);
        type = TliTypeInfo(ListedType(*record).get());
    }
    std::u16string guid;
    CheckHr(type->get_Guid(&guid));
    return guid;
}

void TLBModifier::TypeInfoGUID(std::u16string_view typeInfoName, std::u16string_view guid) {
    if (!guid.empty()) ValidateGuidString(guid);
    const std::u16string key = FoldName(typeInfoName);
    guidOverrides_.erase(key);
    if (!guid.empty()) guidOverrides_.emplace(key, std::u16string(guid));
}

}  // namespace zephrin

namespace zephrin {

void InstallLibraryCopier() {
    SetLibraryCopier([](ole::ITypeLib* source) {
        TLBModifier modifier;
        modifier.StartingLibDirect(source);
        return modifier.GenerateDirect(u"");
    });
}

}  // namespace zephrin
