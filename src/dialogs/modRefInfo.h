// The entries of the references dialog: the library being edited, the
// libraries referenced so far, the registered libraries and any file the user
// browses to. A list holds one record per library version, finds duplicates
// by library GUID, sorts the records for display and answers what the dialog
// shows of each (text, location, version, whether the registration is valid)
// and what it needs to apply a check mark (the record's ITypeLib).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation/Unknown.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::dialogs {

// Libraries handed between the references dialog and its caller; an entry is
// the library object itself, so a library is found by its address.
using LibraryCollection = std::vector<ole::ComPtr<ole::ITypeLib>>;

class RefInfo {
public:
    bool Checked() const { return (flags_ & kChecked) != 0; }
    void SetChecked(bool checked);
    // Referenced when the dialog opened.
    bool WasReferenced() const { return (flags_ & kReferenced) != 0; }
    bool IsCurrentLibrary() const { return (flags_ & kCurrent) != 0; }
    // Index in the sorted order, -1 before the first sort.
    int32_t ListPosition() const { return position_; }

    // The library: the one kept, else the file at the path loaded. Returns
    // the loader's HRESULT (S_OK with *out set).
    ole::HRESULT GetITypeLib(ole::ComPtr<ole::ITypeLib>* out);
    // The name the file gives the library, or "Library Registration Invalid".
    std::u16string LibraryName();
    // The description when there is one, else LibraryName().
    std::u16string DisplayText();
    // The file's path; for a record without one, the path the registry gives
    // its GUID and version, looked up once, else "Not a registered library".
    std::u16string Location();
    ole::WORD MajorVersion() const { return major_; }
    ole::WORD MinorVersion() const { return minor_; }
    ole::LCID Lcid() const { return lcid_; }
    const ole::GUID& Guid() const { return guid_; }
    // Whether the file at the path is the library registered: the same GUID,
    // version and LCID. The file is loaded once; later calls repeat the answer.
    bool VerifyRegistration();

    bool SameLibrary(const RefInfo& other) const;
    bool MatchesReferenced(const RefInfo& other) const { return other.WasReferenced() && SameLibrary(other); }
    // The library being edited first, then the libraries referenced at
    // opening, then by DisplayText without regard to case: <0, 0 or >0.
    int CompareForSort(RefInfo& other);

private:
    friend class RefInfoList;

    static constexpr uint32_t kReferenced = 0x01;
    static constexpr uint32_t kChecked = 0x02;
    static constexpr uint32_t kValid = 0x04;
    static constexpr uint32_t kLoadTried = 0x08;
    static constexpr uint32_t kPathLooked = 0x10;
    static constexpr uint32_t kCurrent = 0x20;

    ole::ComPtr<ole::ITypeLib> typeLib_;
    std::u16string description_;
    std::u16string path_;
    std::u16string name_;
    ole::GUID guid_{};
    ole::WORD major_ = 0;
    ole::WORD minor_ = 0;
    ole::LCID lcid_ = 0;
    int32_t position_ = -1;
    uint32_t flags_ = 0;
};

class RefInfoList {
public:
    RefInfoList() = default;
    RefInfoList(const RefInfoList&) = delete;
    RefInfoList& operator=(const RefInfoList&) = delete;

    // Adds a loaded library. An unreferenced library already listed (same
    // GUID, version and LCID) is not added again: its record is returned,
    // unless that record's file is not the library registered.
    // Throws the HRESULT of a failing read of the library's attributes or name.
    RefInfo* AddLibraryRef(bool isReferenced, bool isCurrent, ole::ITypeLib* typeLib, const std::u16string& path);
    // Adds a registered library, unless it is the same as a library
    // referenced at opening; returns the record, or null when not added.
    RefInfo* AddRegisteredRef(bool isReferenced, const std::u16string& description, const std::u16string& path,
                              const ole::GUID& guid, ole::WORD major, ole::WORD minor, ole::LCID lcid);

    // Orders the records for display and numbers their positions.
    void SortRefInfos();
    size_t Count() const { return order_.size(); }
    // The record at a position of the order (insertion order before sorting).
    RefInfo* At(size_t index) const { return index < order_.size() ? order_[index] : nullptr; }

    // Applies the check marks to libraries, the library being edited aside:
    // a library referenced at opening and now unchecked is removed, a library
    // now checked that was not referenced is loaded and added. A record whose
    // library cannot be removed or loaded is skipped. True when libraries changed.
    bool ApplyReferenceChanges(LibraryCollection& libraries);

    static constexpr size_t kBuckets = 127;
    static size_t BucketOf(const ole::GUID& guid) { return guid.Data1 % kBuckets; }

private:
    RefInfo* FindReferenced(const RefInfo& record) const;
    RefInfo* Insert(std::unique_ptr<RefInfo> record);

    std::vector<std::unique_ptr<RefInfo>> records_;
    std::vector<RefInfo*> order_;
    std::array<std::vector<RefInfo*>, kBuckets> buckets_;
};

}  // namespace zephrin::dialogs
