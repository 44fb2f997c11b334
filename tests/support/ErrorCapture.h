// Catching the error record an operation raises.
#pragma once

#include "foundation/ErrorRecord.h"

namespace testsupport {

// The error record f raised, or an empty record (Number 0) when it raised none.
template <class F>
zephrin::ErrorRecord RecordOf(F&& f) {
    try {
        f();
    } catch (const zephrin::ErrorRecord& e) {
        return e;
    }
    return zephrin::ErrorRecord();
}

// The number of the error record f raised (0 when none).
template <class F>
int32_t ErrorOf(F&& f) {
    return RecordOf(f).Number;
}

}  // namespace testsupport
