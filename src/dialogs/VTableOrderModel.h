// The logic of the vtable order dialog: the own slots of an interface (those
// after the slots of its base), each holding one function or standing empty
// ("Missing Entry"), which the user moves, inserts and deletes; and the byte
// offset of every function that ReorderVTableChange takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::dialogs {

class VTableOrderModel {
public:
    static constexpr int16_t kEmptySlot = -1;

    // inheritedSlots: the slots of the base interface. offsets: each function's
    // byte offset, by function index. texts: each function's text. slotSize:
    // the bytes of a slot (a pointer of the library's platform). The rows are
    // the functions in slot order, sorted by offset (never by index, so no two
    // functions share a slot), with an empty row for each slot left free
    // between them; each function's offset is that of its row's slot. With
    // automatic, the interface takes its slots one after the other from its
    // base: no slot is left free, whatever offsets it read before. A dual
    // interface takes no new empty slot (the platform would read its
    // dispatch half with a function too many).
    VTableOrderModel(int inheritedSlots, std::vector<int16_t> offsets, std::vector<std::u16string> texts,
                     int slotSize = 4, bool automatic = false, bool dual = false);

    // The largest vtable, in bytes (offsets are stored signed).
    static constexpr int kMaxVtableSize = 0x7FFF;

    // The interface half of type typeIndex of lib; nothing for a type without
    // functions. Slots are automatic when the interface can be laid out with
    // a function added.
    static std::optional<VTableOrderModel> ForInterface(ole::ITypeLib* lib, ole::UINT typeIndex);

    int Count() const { return static_cast<int>(rows_.size()); }
    // The function index of a row, or kEmptySlot.
    int16_t FunctionAt(int row) const { return rows_.at(static_cast<size_t>(row)); }
    // A function row's text, or "Missing Entry".
    std::u16string TextAt(int row) const;
    // The row first selected: the function with the lowest offset.
    int FirstRow() const;
    // The slot number and byte offset of a row, counted from the start of the
    // whole vtable (inherited slots included).
    int SlotNumber(int row) const { return inheritedSlots_ + row; }
    int SlotOffset(int row) const { return SlotNumber(row) * slotSize_; }

    bool CanMoveUp(int row) const { return row >= 1 && row < Count(); }
    // Never on the last row; on the one before only for a function, so an
    // empty slot never ends the vtable.
    bool CanMoveDown(int row) const;
    bool CanDelete(int row) const { return row >= 0 && row < Count() && FunctionAt(row) == kEmptySlot; }
    // Not on a dual, nor where the vtable would pass its largest size.
    bool CanInsert(int row) const;

    // Each returns the row selected afterwards. A step the Can... checks
    // refuse raises error 5 and changes nothing.
    int Move(int row, bool up);
    // An empty slot at row; the functions from there on move down one slot.
    int Insert(int row);
    // Removes the empty slot at row; the functions after it move up one slot.
    int Delete(int row);

    int EmptySlots() const { return static_cast<int>(rows_.size() - offsets_.size()); }
    // What ReorderVTableChange takes: the offsets, and whether the functions'
    // records follow the new order (no empty slot left).
    const std::vector<int16_t>& Offsets() const { return offsets_; }
    bool SynchronizeFuncDescs() const { return EmptySlots() == 0; }

private:
    void Shift(int fromOffset, int by);

    int inheritedSlots_;
    int slotSize_;
    bool dual_;
    std::vector<int16_t> offsets_;
    std::vector<std::u16string> texts_;
    std::vector<int16_t> rows_;
};

}  // namespace zephrin::dialogs
