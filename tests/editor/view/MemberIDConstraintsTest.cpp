// The member-ID formats a host may impose: the standard format by kind of
// type and member, ranges, and the next ID for a new member.
#include <gtest/gtest.h>

#include "editor/view/MemberIDConstraints.h"
#include "foundation/ErrorRecord.h"

namespace {

using namespace zephrin;
using namespace zephrin::editor;

class FixedFormat : public IMemberIDConstraints {
public:
    MemberIDFormat format;
    bool fails = false;
    MemberIDFormat GetMemberIDFormat(const ChangeTarget&) override {
        if (fails) RaiseError(5);
        return format;
    }
};

ChangeTarget Member(int32_t typeKind, int32_t invokeKind) {
    ChangeTarget target;
    target.Kind = kTargetMember;
    target.TypeKind = typeKind;
    target.InvokeKind = invokeKind;
    return target;
}

TEST(MemberIDConstraints, TheStandardFormatFollowsTheKindOfTypeAndMember) {
    FixedFormat provider;
    provider.format.StandardFormat = true;
    EXPECT_TRUE(MemberIDFitsConstraints(0x40000003, Member(ole::TKIND_ENUM, 0), provider));
    EXPECT_FALSE(MemberIDFitsConstraints(0x60000003, Member(ole::TKIND_RECORD, 0), provider));
    EXPECT_TRUE(MemberIDFitsConstraints(0x60000010, Member(ole::TKIND_MODULE, 1), provider));
    EXPECT_FALSE(MemberIDFitsConstraints(0x40000010, Member(ole::TKIND_DISPATCH, 1), provider));
    EXPECT_TRUE(MemberIDFitsConstraints(0x40000010, Member(ole::TKIND_DISPATCH, 0), provider));
    EXPECT_FALSE(MemberIDFitsConstraints(5, Member(ole::TKIND_UNION, 0), provider));
    // The standard format gives no next ID; a provider that can't answer accepts all.
    EXPECT_EQ(NextConstrainedMemberID(Member(ole::TKIND_ENUM, 0), provider, {}), -1);
    provider.fails = true;
    EXPECT_TRUE(MemberIDFitsConstraints(5, Member(ole::TKIND_UNION, 0), provider));
    EXPECT_EQ(NextConstrainedMemberID(Member(ole::TKIND_ENUM, 0), provider, {}), -1);
}

TEST(MemberIDConstraints, RangesAcceptTheirHighWordFromTheirLowestLowWord) {
    FixedFormat provider;
    provider.format.RangeCount = 2;
    provider.format.Ranges[0] = {0x40000000, 0x10};
    provider.format.Ranges[1] = {0x60000000, 0x20};
    const ChangeTarget variable = Member(ole::TKIND_DISPATCH, 0);
    const ChangeTarget function = Member(ole::TKIND_DISPATCH, 1);
    EXPECT_TRUE(MemberIDFitsConstraints(0x40000010, variable, provider));
    EXPECT_FALSE(MemberIDFitsConstraints(0x4000000F, variable, provider));
    // A range of the other kind of member is skipped.
    EXPECT_FALSE(MemberIDFitsConstraints(0x60000030, variable, provider));
    EXPECT_TRUE(MemberIDFitsConstraints(0x60000030, function, provider));
    EXPECT_FALSE(MemberIDFitsConstraints(-5, function, provider));
    provider.format.AllowNonPositive = true;
    EXPECT_TRUE(MemberIDFitsConstraints(-5, function, provider));
    EXPECT_TRUE(MemberIDFitsConstraints(0, function, provider));
    // The next ID: after the largest low word in use, at least the range's lowest.
    EXPECT_EQ(NextConstrainedMemberID(variable, provider, {}), 0x40000010);
    EXPECT_EQ(NextConstrainedMemberID(function, provider, {0x60000025, 0x40000030}), 0x60000031);
    EXPECT_EQ(NextConstrainedMemberID(Member(ole::TKIND_ENUM, 0), provider, {3}), 0x40000010);
    provider.format.RangeCount = 1;
    EXPECT_EQ(NextConstrainedMemberID(function, provider, {}), -1);
    provider.format.RangeCount = 0;
    EXPECT_TRUE(MemberIDFitsConstraints(0x12345678, function, provider));
    EXPECT_EQ(NextConstrainedMemberID(function, provider, {}), -1);
}

}  // namespace
