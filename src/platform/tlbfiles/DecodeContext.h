// What reading one type library image has decoded so far, and what it may
// still build. Both file readers (MSFT and SLTG) use one.
//
// A file can point many times at one item: every function at one 64 KB
// string, every type at one custom data chain, every parameter at one type
// description. A reader decodes such an item once, keeps it here under its
// offset, and copies it into the model for each use (a name or string is
// decoded for its first use and kept from its second). Every byte of model the
// reader builds, first decoded or copied, is charged to one budget that is
// proportional to the image:
//
//     budget = kBytesPerImageByte * image size + kBaseBudget
//
// so a 1 MB image builds at most 129 MB of LibraryData (allocator overhead
// counted), and the time spent is proportional to that: crafted 1 MB files
// that spend the whole budget take 0.1 to 0.5 s to read. Work that builds
// nothing (walking an SLTG help-string tree) is charged one unit per step. Real libraries need 4 to 11
// model bytes per image byte (11 for a 1.1 MB browser object model library);
// the densest legitimate content, parameter lists whose 255-character names
// are shared, about 50. A file that needs more than its budget is refused as
// corrupt (TYPE_E_CANTLOADLIBRARY).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/tlbengine/TypeLibData.h"

namespace ole {

class DecodeContext {
public:
    static constexpr size_t kBytesPerImageByte = 128;
    static constexpr size_t kBaseBudget = size_t{1} << 20;

    explicit DecodeContext(size_t imageSize) noexcept;

    // Charges n units. False when the budget cannot pay them; from then on
    // the budget stays spent and every later charge fails too.
    [[nodiscard]] bool Charge(size_t n) noexcept {
        if (exhausted_ || n > budget_ - spent_) {
            exhausted_ = true;
            return false;
        }
        spent_ += n;
        return true;
    }
    bool exhausted() const noexcept { return exhausted_; }
    size_t spent() const noexcept { return spent_; }

    // What the allocator adds to a block: its header and rounding.
    static constexpr size_t kBlockOverhead = 16;
    // A part of a member kept in a block of its own (a DLL entry, a default value).
    template <class T>
    static constexpr size_t BoxCost() noexcept {
        return sizeof(T) + kBlockOverhead;
    }
    // Array bounds: the list's own block and the block of its n items.
    static constexpr size_t BoundsCost(size_t n) noexcept {
        return sizeof(std::vector<SAFEARRAYBOUND>) + kBlockOverhead + n * sizeof(SAFEARRAYBOUND) + kBlockOverhead;
    }

    // What one more copy of an item costs in the model (heap bytes included).
    static size_t CostOf(const std::u16string& s) noexcept;
    static size_t CostOf(const TypeDescData& t) noexcept;
    static size_t CostOf(const Variant& v) noexcept;
    static size_t CostOf(const CustDataList& list) noexcept;

    // Copies a type description into a new (empty) one, more cheaply than
    // assignment: chains are mostly single elements without bounds.
    static void CopyTypeDesc(const TypeDescData& from, TypeDescData& to);

    // Copies a cached item into *out for one more use; false (and *out
    // untouched) when the budget cannot pay for the copy.
    template <class T>
    [[nodiscard]] bool Use(const T& item, T* out) {
        if (!Charge(CostOf(item))) return false;
        *out = item;
        return true;
    }

    // Items decoded once, by their offset. Each reader keys a cache by the
    // offsets it meets (file, segment or block offsets); entries stay at one
    // address until the context goes away.
    template <class T>
    class Cache {
    public:
        const T* Find(int64_t key) const {
            auto it = items_.find(key);
            return it == items_.end() ? nullptr : &it->second;
        }
        const T& Add(int64_t key, T item) { return items_.insert_or_assign(key, std::move(item)).first->second; }

    private:
        std::unordered_map<int64_t, T> items_;
    };

    // Names and strings by offset. Most texts of a file are used once, so a
    // reader may keep a text only from its second use on: Find tells whether
    // the offset was met before (and counts it as met from then on).
    class TextCache {
    public:
        // Indexes offsets below limit directly (others through a map).
        void Reserve(size_t limit) { slots_.assign(limit / 4 + 1, 0); }
        const std::u16string* Find(int64_t offset, bool* metBefore) {
            uint32_t& slot = Slot(offset);
            *metBefore = slot != 0;
            if (slot == 0) slot = 1;
            return slot >= 2 ? &texts_[slot - 2] : nullptr;
        }
        const std::u16string& Keep(int64_t offset, std::u16string text);

    private:
        uint32_t& Slot(int64_t offset) {
            if (offset >= 0 && offset % 4 == 0 && static_cast<uint64_t>(offset / 4) < slots_.size())
                return slots_[static_cast<size_t>(offset / 4)];
            return other_[offset];
        }
        // 0: not met; 1: met, not kept; k + 2: kept as texts_[k].
        std::vector<uint32_t> slots_;             // by offset / 4
        std::unordered_map<int64_t, uint32_t> other_;
        std::deque<std::u16string> texts_;
    };

    // A decoded type description, the depth of its chain (the levels it adds
    // to whatever description refers to it) and what a copy of it costs.
    struct TypeDescEntry {
        TypeDescData desc;
        int height = 0;
        size_t cost = 0;
    };

    TextCache names;
    TextCache strings;
    Cache<TypeDescEntry> typeDescs;
    Cache<TypeDescEntry> arrayDescs;
    Cache<Variant> values;
    Cache<CustDataList> custData;

    // Records that [offset, offset + length) of the image holds one type's
    // members. False when another type already claims any byte of it: no two
    // types of a well-formed file share members.
    [[nodiscard]] bool ClaimMemberBlock(size_t offset, size_t length);

private:
    size_t budget_;
    size_t spent_ = 0;
    bool exhausted_ = false;
    std::map<size_t, size_t> memberBlocks_;  // first byte -> one past the last
    size_t memberBlocksEnd_ = 0;             // the largest "one past the last"
};

}  // namespace ole
