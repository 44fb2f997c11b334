#include "platform/tlbfiles/DecodeContext.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace ole {

DecodeContext::DecodeContext(size_t imageSize) noexcept
    : budget_(imageSize > (std::numeric_limits<size_t>::max() - kBaseBudget) / kBytesPerImageByte
                  ? std::numeric_limits<size_t>::max()
                  : imageSize * kBytesPerImageByte + kBaseBudget) {}

namespace {

// What the allocator adds to a block: its header and rounding.
constexpr size_t kBlockOverhead = DecodeContext::kBlockOverhead;

// A list with items holds them in one block and itself in another.
size_t ListBlocks(const CustDataList& list) noexcept {
    using Items = std::vector<CustDataEntry>;
    return list.empty() ? 0 : sizeof(Items) + kBlockOverhead + list.size() * sizeof(CustDataEntry) + kBlockOverhead;
}

}  // namespace

// Short texts live inside the string object (which its owner pays for).
size_t DecodeContext::CostOf(const std::u16string& s) noexcept {
    return s.size() < 8 ? s.size() : (s.size() + 1) * sizeof(char16_t) + kBlockOverhead;
}

size_t DecodeContext::CostOf(const TypeDescData& t) noexcept {
    size_t cost = sizeof(TypeDescData) + (t.Bounds().empty() ? 0 : BoundsCost(t.Bounds().size()));
    // A target is a node, which has room for a fixed array's bounds.
    for (const TypeDescData& e : t.element) cost += CostOf(e) + sizeof(TypeDescNode) - sizeof(TypeDescData) + kBlockOverhead;
    return cost;
}

void DecodeContext::CopyTypeDesc(const TypeDescData& from, TypeDescData& to) {
    to.vt = from.vt;
    to.href = from.href;
    if (!from.Bounds().empty()) to.MutableBounds() = from.Bounds();
    if (from.element.empty()) return;
    to.element.resize(1);
    CopyTypeDesc(from.element[0], to.element[0]);
}

size_t DecodeContext::CostOf(const Variant& v) noexcept {
    size_t cost = sizeof(Variant);
    if (v.vt() == VT_BSTR && v.get().bstrVal)
        cost += SysStringByteLen(v.get().bstrVal) + sizeof(uint32_t) + sizeof(char16_t) + kBlockOverhead;
    return cost;
}

size_t DecodeContext::CostOf(const CustDataList& list) noexcept {
    size_t cost = ListBlocks(list);
    for (const CustDataEntry& e : list) cost += CostOf(e.value) - sizeof(Variant);  // the rest of each value
    return cost;
}

const std::u16string& DecodeContext::TextCache::Keep(int64_t offset, std::u16string text) {
    uint32_t& slot = Slot(offset);
    if (slot >= 2) return texts_[slot - 2] = std::move(text);
    texts_.push_back(std::move(text));
    slot = static_cast<uint32_t>(texts_.size() + 1);
    return texts_.back();
}

bool DecodeContext::ClaimMemberBlock(size_t offset, size_t length) {
    size_t end = offset + length;
    if (offset >= memberBlocksEnd_) {
        // Writers store the blocks in order: after every block claimed so far.
        memberBlocks_.emplace_hint(memberBlocks_.end(), offset, end);
    } else {
        auto next = memberBlocks_.lower_bound(offset);
        if (next != memberBlocks_.end() && next->first < end) return false;
        if (next != memberBlocks_.begin() && std::prev(next)->second > offset) return false;
        memberBlocks_.emplace_hint(next, offset, end);
    }
    memberBlocksEnd_ = std::max(memberBlocksEnd_, end);
    return true;
}

}  // namespace ole
