// The change kinds of history file tests and the history fuzzer: the kinds
// the factory makes. Every other code makes nothing, so that files naming it
// are refused.
#pragma once

#include "changes/hub/ChangeKind.h"
#include "changes/history/modRecorder.h"

namespace testsupport {

inline zephrin::ChangePtr CreateTestChange(uint8_t code) { return zephrin::modRecorder::CreateChangeFromKind(code); }

}  // namespace testsupport
