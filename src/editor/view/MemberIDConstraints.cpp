#include "editor/view/MemberIDConstraints.h"

#include <algorithm>

#include "foundation/ErrorRecord.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::editor {

namespace {

constexpr uint32_t kHighMask = 0xFFFF0000u;
constexpr int32_t kFunctionBits = 0x60000000;
constexpr int32_t kVariableBits = 0x40000000;

int32_t HighOf(int32_t id) { return static_cast<int32_t>(static_cast<uint32_t>(id) & kHighMask); }

bool HoldsFunctionsAndVariables(int32_t typeKind) {
    return typeKind == ole::TKIND_MODULE || typeKind == ole::TKIND_DISPATCH;
}

// The kind bits of the member: a function, or a variable or constant.
int32_t KindBits(const ChangeTarget& target) { return target.InvokeKind != 0 ? kFunctionBits : kVariableBits; }

bool AskFormat(const ChangeTarget& target, IMemberIDConstraints& constraints, MemberIDFormat& format) {
    try {
        format = constraints.GetMemberIDFormat(target);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

bool MemberIDFitsConstraints(int32_t id, const ChangeTarget& target, IMemberIDConstraints& constraints) {
    MemberIDFormat format;
    if (!AskFormat(target, constraints, format)) return true;
    if (format.StandardFormat) {
        int32_t expected = kVariableBits;
        if (HoldsFunctionsAndVariables(target.TypeKind)) expected = KindBits(target);
        if (target.TypeKind == ole::TKIND_INTERFACE)
            expected = kFunctionBits + (modITypeInfoHelper::GetInheritanceDepth(
                                            target.Library.get(), static_cast<ole::UINT>(target.TypeIndex))
                                        << 16);
        return HighOf(id) == expected;
    }
    if (format.AllowNonPositive && id <= 0) return true;
    if (format.RangeCount <= 0) return true;
    for (int32_t i = 0; i < std::min(format.RangeCount, 3); ++i) {
        const MemberIDRange& range = format.Ranges[i];
        if (range.HighWord != HighOf(id)) continue;
        if (HoldsFunctionsAndVariables(target.TypeKind) && range.HighWord != 0 &&
            (range.HighWord & kFunctionBits) != KindBits(target))
            continue;
        return (id & 0xFFFF) >= range.MinLowWord;
    }
    return false;
}

int32_t NextConstrainedMemberID(const ChangeTarget& target, IMemberIDConstraints& constraints,
                                const std::vector<int32_t>& otherIds) {
    MemberIDFormat format;
    if (!AskFormat(target, constraints, format) || format.StandardFormat || format.RangeCount <= 0) return -1;
    int32_t low = 0;
    for (const int32_t other : otherIds) low = std::max(low, (other & 0xFFFF) + 1);
    const MemberIDRange* chosen = nullptr;
    for (int32_t i = 0; i < std::min(format.RangeCount, 3) && !chosen; ++i) {
        const MemberIDRange& range = format.Ranges[i];
        if (!HoldsFunctionsAndVariables(target.TypeKind) || range.HighWord == 0 ||
            (range.HighWord & kFunctionBits) == KindBits(target))
            chosen = &range;
    }
    if (!chosen) return -1;
    low = std::max(low, chosen->MinLowWord);
    if (low > 0xFFFF) return -1;
    return HighOf(chosen->HighWord) | low;
}

}  // namespace zephrin::editor
