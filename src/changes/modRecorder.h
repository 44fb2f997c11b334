// The change kind factory and the shared texts of change targets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "changes/ChangeKind.h"
#include "changes/ChangeTarget.h"
#include "changes/IChange.h"

namespace zephrin::modRecorder {

// A new, empty change of the kind with that code (made by the kind's creator
// with forceHeap false; the shared object of a stateless kind). Null for a
// code that is no kind, and for a kind not registered in the factory table.
ChangePtr CreateChangeFromKind(uint8_t code);
// The kinds the factory table holds, in code order.
std::vector<ChangeKind> RegisteredChangeKinds();

// Fills the target's missing type, implemented-interface, member and parameter
// names from its library (the type at TypeIndex; a dual as its interface
// half). Nothing for a library target or a target without library. Failing
// reads raise their error.
void FillTargetNames(ChangeTarget& target);

// The text that names a target in the change kinds' descriptions: "library",
// "<type kind> <type>", "implied interface <name>", "<type kind> <member
// kind> <type>.<member>", "parameter <name> of <type>.<member>" and the texts
// of the special parameters. Missing names are taken from the library first
// (the target itself is not changed); names that cannot be read stay empty.
std::u16string DescribeTarget(const ChangeTarget& target);

}  // namespace zephrin::modRecorder
