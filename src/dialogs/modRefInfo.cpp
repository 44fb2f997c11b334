#include "dialogs/modRefInfo.h"

#include <algorithm>

#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "platform/automation/BStr.h"

namespace zephrin::dialogs {

using namespace ole;

namespace {

const std::u16string& RegistrationInvalidText() {
    static const std::u16string text = modSupport::LoadResStringById(744);
    return text;
}

const std::u16string& NotRegisteredText() {
    static const std::u16string text = modSupport::LoadResStringById(745);
    return text;
}

char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

int CompareNoCase(const std::u16string& a, const std::u16string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The library's name and doc string.
void ReadNames(ITypeLib* typeLib, std::u16string* name, std::u16string* doc) {
    BStr nameText, docText;
    CheckHr(typeLib->GetDocumentation(MEMBERID_NIL, nameText.put(), doc ? docText.put() : nullptr, nullptr, nullptr));
    *name = std::u16string(nameText.view());
    if (doc) *doc = std::u16string(docText.view());
}

}  // namespace

void RefInfo::SetChecked(bool checked) {
    if (checked)
        flags_ |= kChecked;
    else
        flags_ &= ~kChecked;
}

HRESULT RefInfo::GetITypeLib(ComPtr<ITypeLib>* out) {
    *out = nullptr;
    if (!typeLib_) {
        if (path_.empty()) return TYPE_E_CANTLOADLIBRARY;
        ComPtr<ITypeLib> loaded;
        const HRESULT hr = LoadTypeLibEx(path_.c_str(), REGKIND_NONE, loaded.put());
        if (FAILED(hr)) return hr;
        typeLib_ = loaded;
    }
    *out = typeLib_;
    return S_OK;
}

std::u16string RefInfo::LibraryName() { return name_.empty() ? RegistrationInvalidText() : name_; }

std::u16string RefInfo::DisplayText() {
    if (!description_.empty()) return description_;
    if (!(flags_ & kLoadTried)) VerifyRegistration();
    return LibraryName();
}

std::u16string RefInfo::Location() {
    if (!path_.empty()) return path_;
    if (!(flags_ & kPathLooked)) {
        flags_ |= kPathLooked;
        BStr found;
        if (SUCCEEDED(QueryPathOfRegTypeLib(guid_, major_, minor_, lcid_, found.put())) && !found.view().empty()) {
            path_ = std::u16string(found.view());
            return path_;
        }
    }
    return NotRegisteredText();
}

bool RefInfo::VerifyRegistration() {
    if (flags_ & kLoadTried) return (flags_ & kValid) != 0;
    flags_ |= kLoadTried;
    if (path_.empty()) return false;
    ComPtr<ITypeLib> loaded;
    if (FAILED(LoadTypeLibEx(path_.c_str(), REGKIND_NONE, loaded.put()))) return false;
    TLIBATTR* attr = nullptr;
    if (FAILED(loaded->GetLibAttr(&attr)) || !attr) return false;
    const bool same = attr->guid == guid_ && attr->wMajorVerNum == major_ && attr->wMinorVerNum == minor_ &&
                      attr->lcid == lcid_;
    loaded->ReleaseTLibAttr(attr);
    if (!same) return false;
    BStr nameText;
    if (FAILED(loaded->GetDocumentation(MEMBERID_NIL, nameText.put(), nullptr, nullptr, nullptr))) return false;
    name_ = std::u16string(nameText.view());
    typeLib_ = loaded;
    flags_ |= kValid;
    return true;
}

bool RefInfo::SameLibrary(const RefInfo& other) const {
    return guid_ == other.guid_ && major_ == other.major_ && minor_ == other.minor_ && lcid_ == other.lcid_;
}

int RefInfo::CompareForSort(RefInfo& other) {
    if (IsCurrentLibrary() != other.IsCurrentLibrary()) return IsCurrentLibrary() ? -1 : 1;
    if (WasReferenced() != other.WasReferenced()) return WasReferenced() ? -1 : 1;
    return CompareNoCase(DisplayText(), other.DisplayText());
}

RefInfo* RefInfoList::FindReferenced(const RefInfo& record) const {
    for (RefInfo* other : buckets_[BucketOf(record.guid_)])
        if (record.MatchesReferenced(*other)) return other;
    return nullptr;
}

RefInfo* RefInfoList::Insert(std::unique_ptr<RefInfo> record) {
    RefInfo* raw = record.get();
    records_.reserve(records_.size() + 1);
    order_.reserve(order_.size() + 1);
    buckets_[BucketOf(raw->guid_)].push_back(raw);
    records_.push_back(std::move(record));
    order_.push_back(raw);
    return raw;
}

RefInfo* RefInfoList::AddLibraryRef(bool isReferenced, bool isCurrent, ITypeLib* typeLib, const std::u16string& path) {
    if (!typeLib) throw ErrorRecord(5);
    auto record = std::make_unique<RefInfo>();
    TLIBATTR* attr = nullptr;
    CheckHr(typeLib->GetLibAttr(&attr));
    record->guid_ = attr->guid;
    record->major_ = attr->wMajorVerNum;
    record->minor_ = attr->wMinorVerNum;
    record->lcid_ = attr->lcid;
    typeLib->ReleaseTLibAttr(attr);
    // An entry whose own file is not this library does not stand for it: the
    // library is listed beside it, so that it can be checked.
    if (!isReferenced)
        for (RefInfo* other : buckets_[BucketOf(record->guid_)])
            if (record->SameLibrary(*other) && other->VerifyRegistration()) return other;
    ReadNames(typeLib, &record->name_, &record->description_);
    record->typeLib_ = ComPtr<ITypeLib>(typeLib);
    record->flags_ = RefInfo::kLoadTried | RefInfo::kValid;
    record->path_ = path;
    if (isReferenced) record->flags_ |= RefInfo::kReferenced | RefInfo::kChecked;
    if (isCurrent) record->flags_ |= RefInfo::kCurrent;
    return Insert(std::move(record));
}

RefInfo* RefInfoList::AddRegisteredRef(bool isReferenced, const std::u16string& description, const std::u16string& path,
                                       const GUID& guid, WORD major, WORD minor, LCID lcid) {
    auto record = std::make_unique<RefInfo>();
    record->guid_ = guid;
    record->major_ = major;
    record->minor_ = minor;
    record->lcid_ = lcid;
    if (!isReferenced && FindReferenced(*record)) return nullptr;
    record->description_ = description;
    record->path_ = path;
    if (isReferenced) record->flags_ |= RefInfo::kReferenced | RefInfo::kChecked;
    return Insert(std::move(record));
}

void RefInfoList::SortRefInfos() {
    std::stable_sort(order_.begin(), order_.end(), [](RefInfo* a, RefInfo* b) { return a->CompareForSort(*b) < 0; });
    for (size_t i = 0; i < order_.size(); ++i) order_[i]->position_ = static_cast<int32_t>(i);
}

bool RefInfoList::ApplyReferenceChanges(LibraryCollection& libraries) {
    bool changed = false;
    for (RefInfo* record : order_) {
        if (record->IsCurrentLibrary() || record->WasReferenced() == record->Checked()) continue;
        if (record->WasReferenced()) {
            auto found = std::find_if(libraries.begin(), libraries.end(),
                                      [&](const ComPtr<ITypeLib>& lib) { return lib.get() == record->typeLib_.get(); });
            if (!record->typeLib_ || found == libraries.end()) continue;
            libraries.erase(found);
            changed = true;
        } else {
            ComPtr<ITypeLib> lib;
            if (FAILED(record->GetITypeLib(&lib))) continue;
            libraries.push_back(lib);
            changed = true;
        }
    }
    return changed;
}

}  // namespace zephrin::dialogs
