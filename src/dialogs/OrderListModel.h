// The logic of the variable order and type order dialogs: a list of names in
// their present order that the user moves one place at a time, and the order
// the change kinds take (for each original index, its new position).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::dialogs {

class OrderListModel {
public:
    struct Row {
        std::u16string Text;
        int16_t Index = 0;  // the entry's index when the list was made
    };

    // Rows in index order; the order starts as the identity.
    explicit OrderListModel(std::vector<std::u16string> texts);

    // The variables of type typeIndex of lib (the interface half of a dual),
    // each named by its own index, so that repeated or NIL member IDs still
    // give each row its own name.
    static OrderListModel ForVariables(ole::ITypeLib* lib, ole::UINT typeIndex);
    // The types of lib by name.
    static OrderListModel ForTypes(ole::ITypeLib* lib);

    int Count() const { return static_cast<int>(rows_.size()); }
    const Row& RowAt(int row) const { return rows_.at(static_cast<size_t>(row)); }
    bool CanMoveUp(int row) const { return row >= 1 && row < Count(); }
    bool CanMoveDown(int row) const { return row >= 0 && row + 1 < Count(); }
    // Moves the row one place and returns where it went. A move off the list
    // raises error 5 and changes nothing.
    int Move(int row, bool up);

    // For each original index, its new position (ReorderVarsChange and
    // ReorderTypesChange take it as it is).
    const std::vector<int16_t>& Order() const { return order_; }

private:
    std::vector<Row> rows_;
    std::vector<int16_t> order_;
};

// The names of the variables of a type by index; empty names where the
// library can't tell them.
std::vector<std::u16string> VariableNames(ole::ITypeLib* lib, ole::UINT typeIndex, ole::ITypeInfo* ti);
// The names of the functions of a type by index.
std::vector<std::u16string> FunctionNames(ole::ITypeLib* lib, ole::UINT typeIndex, ole::ITypeInfo* ti);

}  // namespace zephrin::dialogs
