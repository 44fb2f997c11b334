// The member-ID format a host may impose on the members it lets the user
// edit: either the standard format (a high word by the kind of type and
// member) or up to three ranges of high words with a lowest low word each.
// The view asks the host's provider when a member ID is set, and the
// commands that add a member choose the new member's ID by it.
#pragma once

#include <cstdint>
#include <vector>

#include "changes/hub/ChangeTarget.h"

namespace zephrin::editor {

struct MemberIDRange {
    int32_t HighWord = 0;    // a member ID with its low 16 bits zero
    int32_t MinLowWord = 0;  // the lowest low word of the range
};

struct MemberIDFormat {
    bool StandardFormat = false;
    bool AllowNonPositive = false;
    int32_t RangeCount = 0;  // 0 to 3
    MemberIDRange Ranges[3];
};

// The host's provider of member-ID formats.
class IMemberIDConstraints {
public:
    virtual ~IMemberIDConstraints() = default;
    // The format for the member target names; an error means there is none.
    virtual MemberIDFormat GetMemberIDFormat(const ChangeTarget& target) = 0;
};

// True when id may be given to the member of target (a provider that can't
// answer accepts every ID). The standard format of an interface counts its
// inheritance depth, read from target's library.
bool MemberIDFitsConstraints(int32_t id, const ChangeTarget& target, IMemberIDConstraints& constraints);

// The ID for a new member of target's type, whose other members hold
// otherIds: the range's high word with the low word after the largest one in
// use (at least the range's lowest). -1 when there is no ID to set: no
// answer, the standard format, no ranges, or no range for the member's kind.
int32_t NextConstrainedMemberID(const ChangeTarget& target, IMemberIDConstraints& constraints,
                                const std::vector<int32_t>& otherIds);

}  // namespace zephrin::editor
