// A pool of records of one type that keep their addresses for as long as they live.
//
// Records are taken one by one and may be given back one by one; destroying the pool (or
// Clear) destroys every record still taken at once. Owners whose records refer to one
// another by address and are dropped together (the records of one library, the items of
// one history list) keep them here.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "foundation/ErrorRecord.h"

namespace zephrin {

template <class T>
class FixedSizeAllocator {
public:
    // elementsPerBlock below 1 raises error 5.
    explicit FixedSizeAllocator(size_t elementsPerBlock = 32) : perBlock_(elementsPerBlock) {
        if (elementsPerBlock < 1) RaiseError(kErrInvalidArgument);
    }
    FixedSizeAllocator(const FixedSizeAllocator&) = delete;
    FixedSizeAllocator& operator=(const FixedSizeAllocator&) = delete;
    ~FixedSizeAllocator() { Clear(); }

    // A new record built from args (value-initialised without them). The most recently
    // freed slot is reused first.
    template <class... Args>
    T* Allocate(Args&&... args) {
        Slot* slot = free_;
        if (!slot) {
            if (fresh_ == 0) {
                blocks_.push_back(std::make_unique<Slot[]>(perBlock_));
                fresh_ = perBlock_;
            }
            slot = &blocks_.back()[perBlock_ - fresh_];
        }
        T* record = ::new (static_cast<void*>(slot->storage)) T(std::forward<Args>(args)...);
        if (slot == free_) free_ = slot->nextFree;
        else --fresh_;
        slot->live = true;
        slot->nextFree = nullptr;
        ++count_;
        return record;
    }

    // Destroys a record taken from this pool and makes its slot free. Null, or a record
    // already freed, is ignored.
    void Free(T* record) noexcept {
        if (!record) return;
        Slot* slot = reinterpret_cast<Slot*>(reinterpret_cast<std::byte*>(record) - offsetof(Slot, storage));
        if (!slot->live) return;
        record->~T();
        slot->live = false;
        slot->nextFree = free_;
        free_ = slot;
        --count_;
    }

    // Destroys every record still taken and gives all memory back.
    void Clear() noexcept {
        for (size_t b = 0; b < blocks_.size(); ++b) {
            const size_t used = b + 1 == blocks_.size() ? perBlock_ - fresh_ : perBlock_;
            for (size_t k = 0; k < used; ++k) {
                Slot& slot = blocks_[b][k];
                if (slot.live) {
                    std::launder(reinterpret_cast<T*>(slot.storage))->~T();
                    slot.live = false;
                }
            }
        }
        blocks_.clear();
        free_ = nullptr;
        fresh_ = 0;
        count_ = 0;
    }

    size_t Count() const noexcept { return count_; }
    size_t ElementsPerBlock() const noexcept { return perBlock_; }
    size_t BlockCount() const noexcept { return blocks_.size(); }

private:
    struct Slot {
        alignas(T) std::byte storage[sizeof(T)];
        Slot* nextFree = nullptr;
        bool live = false;
    };

    std::vector<std::unique_ptr<Slot[]>> blocks_;
    Slot* free_ = nullptr;
    size_t fresh_ = 0;  // slots of the newest block never handed out
    size_t perBlock_;
    size_t count_ = 0;
};

}  // namespace zephrin
