#include "changes/hub/VTICache.h"

#include <atomic>
#include <cstdio>
#include <limits>
#include <unordered_set>

#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "platform/automation/NameHash.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

namespace fs = std::filesystem;
using ole::ComPtr;

namespace {

constexpr ole::VARTYPE kBaseTypeMask = 0xCFFF;  // the VARTYPE without the array bits
// The smallest records of the three tables.
constexpr size_t kMinLibraryRecord = 30;
constexpr size_t kMinTypeRecord = 26;
constexpr size_t kMinVarTypeRecord = 12;

bool IsNullGuid(const ole::GUID& g) { return g == ole::GUID{}; }

ole::GUID GuidOf(const std::u16string& text) {
    ole::GUID g{};
    if (!ole::TryParseGuid(text, &g)) g = {};
    return g;
}

// "name (help string)" when the help string is not empty, else the name.
std::u16string DisplayName(const std::u16string& name, const std::u16string& help) {
    return help.empty() ? name : modSupport::LoadResStringFormat(786, {name, help});
}

std::u16string Hex(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%X", value);
    return ole::FromUtf8(text);
}

std::u16string PathText(const fs::path& path) { return ole::FromUtf8(path.string()); }
fs::path PathOf(std::u16string_view text) { return fs::path(ole::ToUtf8(text)); }

// The components of a path split on "/"; a leading "/" is a first, empty
// component (the root, which two absolute paths share).
std::vector<std::string> Components(const fs::path& path) {
    const std::string text = path.lexically_normal().generic_string();
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end > start || parts.empty()) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

ole::TYPEKIND KindOf(ole::ITypeInfo* ti) {
    ole::TYPEATTR* attr = nullptr;
    CheckHr(ti->GetTypeAttr(&attr));
    const ole::TYPEKIND kind = attr->typekind;
    ti->ReleaseTypeAttr(attr);
    return kind;
}

}  // namespace

// ---- Entries ----

ComPtr<ole::ITypeLib> CachedLibrary::GetTypeLib() {
    if (library_) return library_;
    ComPtr<ole::ITypeLib> lib;
    if (ole::FAILED(ole::LoadRegTypeLib(guid_, major_, minor_, lcid_, lib.put()))) lib = nullptr;
    for (const std::u16string* path : {&relativePath_, &path_}) {
        if (lib || path->empty()) continue;
        if (ole::FAILED(ole::LoadTypeLibEx(path->c_str(), ole::REGKIND_NONE, lib.put()))) lib = nullptr;
    }
    if (!lib)
        RaiseError(kErrFileNotFound, modSupport::LoadResStringFormat(
                                         791, {name_, path_, ole::GuidToString(guid_), static_cast<int32_t>(major_),
                                               static_cast<int32_t>(minor_), Hex(lcid_)}));
    library_ = lib;
    return lib;
}

ComPtr<ole::ITypeInfo> CachedType::Find(ole::ITypeLib* lib) const {
    if (!lib) return nullptr;
    // The type if its kind is the entry's; for a dual, whichever of its two
    // views has the entry's kind (a reference may name either view).
    const auto accept = [&](ComPtr<ole::ITypeInfo> ti) -> ComPtr<ole::ITypeInfo> {
        try {
            if (!ti || KindOf(ti.get()) == typeKind_) return ti;
            ComPtr<ole::ITypeInfo> half = ti;
            modITypeInfoHelper::ResolveDualInterface(half);
            if (half.get() != ti.get() && KindOf(half.get()) == typeKind_) return half;
        } catch (const ErrorRecord&) {
        }
        return nullptr;
    };
    ComPtr<ole::ITypeInfo> ti;
    if (hasGuid_ && ole::SUCCEEDED(lib->GetTypeInfoOfGuid(key_, ti.put())))
        if (ComPtr<ole::ITypeInfo> found = accept(ti)) return found;
    std::u16string name = name_;
    ComPtr<ole::ITypeComp> comp;
    ti = nullptr;
    if (!name.empty() && ole::SUCCEEDED(lib->GetTypeComp(comp.put())) && comp) {
        ComPtr<ole::ITypeComp> typeComp;
        if (ole::SUCCEEDED(comp->BindType(name.data(), 0, ti.put(), typeComp.put())))
            if (ComPtr<ole::ITypeInfo> found = accept(ti)) return found;
    }
    ti = nullptr;
    if (typeNumber_ >= 0 && static_cast<ole::UINT>(typeNumber_) < lib->GetTypeInfoCount() &&
        ole::SUCCEEDED(lib->GetTypeInfo(static_cast<ole::UINT>(typeNumber_), ti.put())))
        return accept(ti);
    return nullptr;
}

bool CachedLibrary::Names(ole::ITypeLib* lib) const {
    ole::TLIBATTR* attr = nullptr;
    if (!lib || ole::FAILED(lib->GetLibAttr(&attr)) || !attr) return false;
    const bool same = attr->guid == guid_;
    lib->ReleaseTLibAttr(attr);
    return same;
}

ComPtr<ole::ITypeInfo> CachedType::GetTypeInfo(ole::ITypeLib* context) {
    ComPtr<ole::ITypeLib> lib(context);
    // A library never imports its own LIBID: a record of the library being
    // edited, whatever its version, ties the type to that library.
    const bool external = library_ && !library_->Names(context);
    if (external) {
        if (type_) return type_;
        lib = library_->GetTypeLib();
    }
    ComPtr<ole::ITypeInfo> ti = Find(lib.get());
    if (!ti) {
        std::u16string libName, libHelp;
        if (lib) {
            ole::BSTR name = nullptr, help = nullptr;
            if (ole::SUCCEEDED(lib->GetDocumentation(-1, &name, &help, nullptr, nullptr))) {
                libName = modSupport::MakeNonNullString(name);
                libHelp = modSupport::MakeNonNullString(help);
            }
            ole::SysFreeString(name);
            ole::SysFreeString(help);
        }
        RaiseError(kErrSubscriptOutOfRange,
                   modSupport::LoadResStringFormat(792, {modAttributeStrings::TypeKindText(typeKind_), name_,
                                                         DisplayName(libName, libHelp)}));
    }
    if (external) type_ = ti;
    return ti;
}

ComPtr<tli::VarTypeInfo> CachedVarType::GetVarTypeInfo(ole::ITypeLib* context) {
    ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
    v->CurrentITypeLib(context);
    const ole::VARTYPE base = varType_ & kBaseTypeMask;
    if (base == 0) {
        ComPtr<tli::TypeInfo> ti;
        if (type_) ti = typelib_detail::TliTypeInfo(type_->GetTypeInfo(context).get());
        v->SetType(0, ti.get());
    } else {
        v->SetType(base, nullptr);
    }
    if (varType_ & CustomVarTypeInfo::kSafeArray) {
        v->PointerLevel(elementPointerLevel_);
        v->SetSafeArrayData(pointerLevel_);
    } else if (varType_ & CustomVarTypeInfo::kFixedArray) {
        v->PointerLevel(elementPointerLevel_);
        v->SetFixedArrayData(bounds_, pointerLevel_);
    } else {
        v->PointerLevel(pointerLevel_);
    }
    return v->GetVarTypeInfo();
}

// ---- Adding entries ----

std::shared_ptr<ICachedVarType> VTICache::AddVarType(tli::VarTypeInfo* v) {
    if (!v) RaiseError(kErrInvalidArgument);
    auto entry = std::make_shared<CachedVarType>();
    CheckHr(v->get_VarType(&entry->varType_));
    if ((entry->varType_ & kBaseTypeMask) == 0) {
        ComPtr<tli::TypeInfo> ti;
        CheckHr(v->get_TypeInfo(ti.put()));
        if (ti) {
            bool external = false;
            CheckHr(v->get_IsExternalType(&external));
            entry->type_ = AddType(ti.get(), external);
        }
    }
    CheckHr(v->get_PointerLevel(&entry->pointerLevel_));
    if (entry->varType_ & (CustomVarTypeInfo::kSafeArray | CustomVarTypeInfo::kFixedArray))
        CheckHr(v->get_ElementPointerLevel(&entry->elementPointerLevel_));
    if (entry->varType_ & CustomVarTypeInfo::kFixedArray) {
        std::vector<tli::ArrayBound> bounds;
        ole::SHORT dims = 0;
        if (ole::SUCCEEDED(v->ArrayBounds(&bounds, &dims)))
            for (const tli::ArrayBound& b : bounds) entry->bounds_.push_back({b.lower, b.upper});
    }
    entry->owner_ = id_;
    varTypes_.push_back(entry);
    return entry;
}

bool VTICache::Holds(const ICachedVarType* entry) const {
    const auto* own = dynamic_cast<const CachedVarType*>(entry);
    return own && own->owner_ == id_;
}

uint64_t VTICache::NewId() {
    static std::atomic<uint64_t> next{1};
    return next++;
}

ole::GUID VTICache::NameKey(const std::u16string& name, int16_t typeKind, const CachedLibrary* library) {
    ole::LCID lcid = library ? library->lcid_ : 0;
    if (lcid == 0) lcid = ole::GetUserDefaultLCID();
    ole::GUID key{};
    key.Data1 = (ole::LHashValOfNameSys(ole::SYS_WIN32, lcid, name.c_str()) & 0xFFFF) |
                static_cast<uint32_t>(static_cast<uint16_t>(typeKind)) * 0x7F0000u;
    return key;
}

std::shared_ptr<CachedType> VTICache::AddType(tli::TypeInfo* type, bool withLibrary) {
    if (!type) RaiseError(kErrInvalidArgument);
    auto entry = std::make_shared<CachedType>();
    std::u16string guidText;
    CheckHr(type->get_Guid(&guidText));
    ole::TYPEKIND kind{};
    CheckHr(type->get_TypeKind(&kind));
    ole::LONG number = 0;
    CheckHr(type->get_TypeInfoNumber(&number));
    CheckHr(type->get_Name(&entry->name_));
    entry->typeKind_ = static_cast<int16_t>(kind);
    entry->typeNumber_ = static_cast<int16_t>(number);
    if (withLibrary) {
        ComPtr<tli::TypeLibInfo> parent;
        CheckHr(type->get_Parent(parent.put()));
        if (parent) entry->library_ = AddLibrary(parent.get());
    }
    const ole::GUID guid = GuidOf(guidText);
    entry->hasGuid_ = !IsNullGuid(guid);
    entry->key_ = entry->hasGuid_ ? guid : NameKey(entry->name_, entry->typeKind_, entry->library_.get());

    auto& bucket = typeBuckets_[Bucket(entry->key_)];
    for (auto it = bucket.rbegin(); it != bucket.rend(); ++it) {
        const CachedType& t = **it;
        if (t.hasGuid_ == entry->hasGuid_ && t.library_ == entry->library_ && t.typeKind_ == entry->typeKind_ &&
            t.typeNumber_ == entry->typeNumber_ && t.name_ == entry->name_ && (!t.hasGuid_ || t.key_ == entry->key_))
            return *it;
    }
    types_.push_front(entry);
    bucket.push_back(entry);
    return entry;
}

std::shared_ptr<CachedLibrary> VTICache::AddLibrary(tli::TypeLibInfo* library) {
    if (!library) RaiseError(kErrInvalidArgument);
    auto entry = std::make_shared<CachedLibrary>();
    std::u16string guidText;
    CheckHr(library->get_Guid(&guidText));
    entry->guid_ = GuidOf(guidText);
    ole::SHORT major = 0, minor = 0;
    CheckHr(library->get_MajorVersion(&major));
    CheckHr(library->get_MinorVersion(&minor));
    CheckHr(library->get_LCID(&entry->lcid_));
    entry->major_ = static_cast<uint16_t>(major);
    entry->minor_ = static_cast<uint16_t>(minor);

    auto& bucket = libraryBuckets_[Bucket(entry->guid_)];
    for (auto it = bucket.rbegin(); it != bucket.rend(); ++it) {
        const CachedLibrary& l = **it;
        if (l.guid_ == entry->guid_ && l.major_ == entry->major_ && l.minor_ == entry->minor_ && l.lcid_ == entry->lcid_)
            return *it;
    }
    // Path and name are descriptive: a library that cannot tell them is kept without.
    if (ole::FAILED(library->get_ContainingFile(&entry->path_))) entry->path_.clear();
    std::u16string name, help;
    if (ole::SUCCEEDED(library->get_Name(&name)) && ole::SUCCEEDED(library->get_HelpString(&help)))
        entry->name_ = DisplayName(name, help);
    libraries_.push_front(entry);
    bucket.push_back(entry);
    return entry;
}

// ---- The history file's tables ----

std::shared_ptr<ICachedVarType> VTICache::GetVarType(int32_t ordinal) {
    if (ordinal < 0 || static_cast<size_t>(ordinal) >= index_.size())
        RaiseError(kErrInvalidArgument, modSupport::LoadResStringById(710));
    return index_[static_cast<size_t>(ordinal)];
}

int32_t VTICache::OrdinalOf(const ICachedVarType* entry) const {
    if (!entry) return -1;
    const int32_t ordinal = entry->Ordinal();
    if (ordinal < 0 || static_cast<size_t>(ordinal) >= index_.size() || index_[static_cast<size_t>(ordinal)].get() != entry)
        return -1;
    return ordinal;
}

std::u16string VTICache::RelativePath(const fs::path& path, const fs::path& folder) {
    if (path.empty()) return {};
    std::vector<std::string> dirs = Components(path);
    const std::string file = dirs.back();
    dirs.pop_back();
    const std::vector<std::string> base = Components(folder);
    size_t common = 0;
    while (common < dirs.size() && common < base.size() && dirs[common] == base[common]) ++common;
    if (common == 0) return {};
    std::string relative;
    for (size_t i = common; i < base.size(); ++i) relative += "..\\";
    for (size_t i = common; i < dirs.size(); ++i) relative += dirs[i] + "\\";
    return ole::FromUtf8(relative + file);
}

void VTICache::DropUnused() {
    // A description that only the list holds belongs to no change any more
    // (its change was deleted, or replaced it when it was detached again).
    std::erase_if(varTypes_, [](const std::shared_ptr<CachedVarType>& v) { return v.use_count() == 1; });
    std::unordered_set<const CachedType*> usedTypes;
    for (const auto& v : varTypes_)
        if (v->type_) usedTypes.insert(v->type_.get());
    std::unordered_set<const CachedLibrary*> usedLibraries;
    for (const auto& type : types_)
        if (usedTypes.contains(type.get()) && type->library_) usedLibraries.insert(type->library_.get());
    const auto unusedType = [&](const std::shared_ptr<CachedType>& t) { return !usedTypes.contains(t.get()); };
    const auto unusedLibrary = [&](const std::shared_ptr<CachedLibrary>& l) {
        return !usedLibraries.contains(l.get());
    };
    std::erase_if(types_, unusedType);
    for (auto& bucket : typeBuckets_) std::erase_if(bucket, unusedType);
    std::erase_if(libraries_, unusedLibrary);
    for (auto& bucket : libraryBuckets_) std::erase_if(bucket, unusedLibrary);
}

void VTICache::SaveHistoryBody(HistoryFileWriter& out, const fs::path& folder, const RecordWriterFn& writeRecords) {
    DropUnused();
    int32_t n = 0;
    for (const auto& lib : libraries_) lib->ordinal_ = n++;
    n = 0;
    for (const auto& type : types_) type->ordinal_ = n++;
    n = 0;
    for (const auto& v : varTypes_) v->ordinal_ = n++;

    out.PutLong(static_cast<int32_t>(libraries_.size()));
    for (const auto& lib : libraries_) {
        out.PutGuid(lib->guid_);
        out.PutInteger(static_cast<int16_t>(lib->major_));
        out.PutInteger(static_cast<int16_t>(lib->minor_));
        out.PutLong(static_cast<int32_t>(lib->lcid_));
        out.PutString(lib->path_);
        out.PutString(RelativePath(PathOf(lib->path_), folder));
        out.PutString(lib->name_);
    }
    out.PutLong(static_cast<int32_t>(types_.size()));
    for (const auto& type : types_) {
        out.PutLong(type->library_ ? type->library_->ordinal_ + 1 : 0);
        out.PutGuid(type->hasGuid_ ? type->key_ : ole::GUID{});
        out.PutInteger(type->typeKind_);
        out.PutInteger(type->typeNumber_);
        out.PutString(type->name_);
    }
    out.PutLong(static_cast<int32_t>(varTypes_.size()));
    for (const auto& v : varTypes_) {
        if (v->bounds_.size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) RaiseError(kErrOverflow);
        out.PutLong(v->type_ ? v->type_->ordinal_ + 1 : 0);
        out.PutInteger(static_cast<int16_t>(v->varType_));
        out.PutInteger(v->pointerLevel_);
        out.PutInteger(v->elementPointerLevel_);
        out.PutInteger(static_cast<int16_t>(v->bounds_.size()));
        for (const BoundsRow& row : v->bounds_) out.PutLong(row[0]);
        for (const BoundsRow& row : v->bounds_) out.PutLong(row[1]);
    }
    if (!writeRecords) return;
    index_ = varTypes_;
    ScopeGuard dropIndex([&] { index_.clear(); });
    writeRecords(out);
}

void VTICache::LoadHistoryBody(HistoryFileReader& in, const fs::path& folder, const RecordReaderFn& readRecords) {
    std::vector<std::shared_ptr<CachedLibrary>> libs(static_cast<size_t>(in.GetCount(kMinLibraryRecord)));
    for (size_t i = 0; i < libs.size(); ++i) {
        auto lib = libs[i] = std::make_shared<CachedLibrary>();
        lib->ordinal_ = static_cast<int32_t>(i);
        lib->guid_ = in.GetGuid();
        lib->major_ = static_cast<uint16_t>(in.GetInteger());
        lib->minor_ = static_cast<uint16_t>(in.GetInteger());
        lib->lcid_ = static_cast<ole::LCID>(in.GetLong());
        lib->path_ = in.GetString();
        std::u16string relative = in.GetString();
        lib->name_ = in.GetString();
        if (!relative.empty()) {
            // Written with "\" separators; "/" is accepted as well.
            for (char16_t& c : relative)
                if (c == u'\\') c = u'/';
            lib->relativePath_ = PathText((folder / PathOf(relative)).lexically_normal());
        }
    }
    std::vector<std::shared_ptr<CachedType>> types(static_cast<size_t>(in.GetCount(kMinTypeRecord)));
    for (size_t i = 0; i < types.size(); ++i) {
        auto type = types[i] = std::make_shared<CachedType>();
        type->ordinal_ = static_cast<int32_t>(i);
        const int32_t lib = in.GetLong();
        if (lib < 0 || static_cast<size_t>(lib) > libs.size()) in.Refuse();
        if (lib > 0) type->library_ = libs[static_cast<size_t>(lib - 1)];
        const ole::GUID guid = in.GetGuid();
        type->typeKind_ = in.GetInteger();
        type->typeNumber_ = in.GetInteger();
        type->name_ = in.GetString();
        type->hasGuid_ = !IsNullGuid(guid);
        type->key_ = type->hasGuid_ ? guid : NameKey(type->name_, type->typeKind_, type->library_.get());
    }
    std::vector<std::shared_ptr<CachedVarType>> varTypes(static_cast<size_t>(in.GetCount(kMinVarTypeRecord)));
    for (size_t i = 0; i < varTypes.size(); ++i) {
        auto v = varTypes[i] = std::make_shared<CachedVarType>();
        v->ordinal_ = static_cast<int32_t>(i);
        v->owner_ = id_;
        const int32_t type = in.GetLong();
        if (type < 0 || static_cast<size_t>(type) > types.size()) in.Refuse();
        if (type > 0) v->type_ = types[static_cast<size_t>(type - 1)];
        v->varType_ = static_cast<ole::VARTYPE>(in.GetInteger());
        v->pointerLevel_ = in.GetInteger();
        v->elementPointerLevel_ = in.GetInteger();
        v->bounds_.resize(static_cast<size_t>(in.GetIntegerCount(8)));
        for (BoundsRow& row : v->bounds_) row[0] = in.GetLong();
        for (BoundsRow& row : v->bounds_) row[1] = in.GetLong();
    }

    index_ = varTypes;
    ScopeGuard dropIndex([&] {
        index_.clear();
        in.Cache(nullptr);
    });
    in.Cache(this);
    if (readRecords) readRecords(in);

    // Everything was read: the entries join the cache.
    libraries_.insert(libraries_.end(), libs.begin(), libs.end());
    for (const auto& lib : libs) libraryBuckets_[Bucket(lib->guid_)].push_back(lib);
    types_.insert(types_.end(), types.begin(), types.end());
    for (const auto& type : types) typeBuckets_[Bucket(type->key_)].push_back(type);
    varTypes_.insert(varTypes_.end(), varTypes.begin(), varTypes.end());
}

}  // namespace zephrin
