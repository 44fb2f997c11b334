// The texts that name change targets, shared by every change kind's
// description and by the history.
#pragma once

#include <string>

#include "changes/hub/ChangeTarget.h"

namespace zephrin::modRecorder {

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
