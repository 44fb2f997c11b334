#include "platform/tlbfiles/DecodeContext.h"

#include <limits>

namespace ole {

DecodeContext::DecodeContext(size_t imageSize) noexcept
    : budget_(imageSize > (std::numeric_limits<size_t>::max() - kBaseBudget) / kBytesPerImageByte
                  ? std::numeric_limits<size_t>::max()
                  : imageSize * kBytesPerImageByte + kBaseBudget) {}

bool DecodeContext::Charge(size_t n) noexcept {
    if (exhausted_ || n > budget_ - spent_) {
        exhausted_ = true;
        return false;
    }
    spent_ += n;
    return true;
}

size_t DecodeContext::CostOf(const std::u16string& s) noexcept { return s.size() * sizeof(char16_t); }

size_t DecodeContext::CostOf(const TypeDescData& t) noexcept {
    size_t cost = sizeof(TypeDescData) + t.bounds.size() * sizeof(SAFEARRAYBOUND);
    for (const TypeDescData& e : t.element) cost += CostOf(e);
    return cost;
}

size_t DecodeContext::CostOf(const Variant& v) noexcept {
    size_t cost = sizeof(Variant);
    if (v.vt() == VT_BSTR && v.get().bstrVal) cost += SysStringByteLen(v.get().bstrVal);
    return cost;
}

size_t DecodeContext::CostOf(const CustDataList& list) noexcept {
    size_t cost = 0;
    for (const CustDataEntry& e : list) cost += sizeof(GUID) + CostOf(e.value);
    return cost;
}

bool DecodeContext::ClaimMemberBlock(size_t offset, size_t length) {
    size_t end = offset + length;
    auto next = memberBlocks_.lower_bound(offset);
    if (next != memberBlocks_.end() && next->first < end) return false;
    if (next != memberBlocks_.begin() && std::prev(next)->second > offset) return false;
    memberBlocks_.emplace(offset, end);
    return true;
}

}  // namespace ole
