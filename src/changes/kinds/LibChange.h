// The change of the library's own attributes: its GUID, versions, LCID and
// library flags (kind 6, a library target).
#pragma once

#include <memory>

#include "changes/kinds/AttributeChange.h"

namespace zephrin {

class LibChange final : public AttributeChange {
public:
    // Mask bits (Flags is kFlagsBit).
    static constexpr int32_t kGuidBit = 0x1;
    static constexpr int32_t kMajorBit = 0x2;
    static constexpr int32_t kMinorBit = 0x4;
    static constexpr int32_t kLcidBit = 0x8;
    // With kGuidBit: not a user's edit of the LIBID but the GUID that a new
    // library had when a history began recording on it. A replay on a new
    // library gives it this GUID, so that every build from the history is
    // the same library; the history engine passes it over on a library read
    // from a file, which keeps its own.
    static constexpr int32_t kNewLibraryBit = 0x100;

    static std::shared_ptr<LibChange> New() { return std::make_shared<LibChange>(); }
    // The record of the GUID of the new library that target names (with its
    // other settings as they are, which a replay leaves alone).
    static std::shared_ptr<LibChange> NewLibraryIdentity(ChangeTarget& target);
    // The record holds the GUID alone: a mask with other fields (not written
    // by the program) is a plain change of all of them.
    bool IsNewLibraryIdentity() const { return mask_ == (kGuidBit | kNewLibraryBit); }

    // Sets the fields that differ from the baseline, in the order GUID, major,
    // minor, LCID, flags; a failure sets back every field already set.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Changed library settings (<fields>)"; a new library's GUID reads
    // "Identity of a new library (LIBID <GUID>)".
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget& target) override;
    ChangePtr Clone() override;
    // Always 28 bytes: GUID, LCID Long, then the Integers flags, mask, major, minor.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache&) override { bound_ = false; }

    int32_t DiffMask(IAttributeChange& other) override;
    ole::GUID Guid() override { return guid_; }
    void Guid(const ole::GUID& value) override { SetField(guid_, value, kGuidBit); }
    int16_t MajorVersion() override { return major_; }
    void MajorVersion(int16_t value) override { SetField(major_, value, kMajorBit); }
    int16_t MinorVersion() override { return minor_; }
    void MinorVersion(int16_t value) override { SetField(minor_, value, kMinorBit); }
    int32_t Lcid() override { return lcid_; }
    void Lcid(int32_t value) override { SetField(lcid_, value, kLcidBit); }

private:
    ole::GUID guid_{};
    int32_t lcid_ = 0;
    int16_t major_ = 0;
    int16_t minor_ = 0;
};

namespace modLibChange {
std::shared_ptr<IAttributeChange> NewLibChange();
}  // namespace modLibChange

}  // namespace zephrin
