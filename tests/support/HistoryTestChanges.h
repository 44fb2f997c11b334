// The change kinds of history file tests and the history fuzzer: the
// attribute kinds (codes 6, 10, 14, 18, 22) as the factory makes them, and a
// stateless "Delete" (code 25) standing in for the real one. Every other code
// makes nothing, so that files naming it are refused.
#pragma once

#include <memory>
#include <string>

#include "changes/ChangeKind.h"
#include "changes/IChangeListener.h"
#include "changes/StatelessChange.h"
#include "changes/modRecorder.h"

namespace testsupport {

using zephrin::ChangeKind;
using zephrin::ChangePtr;
using zephrin::ChangeTarget;
using zephrin::IChange;

class TestDeleteChange : public zephrin::StatelessChange {
public:
    bool Apply(zephrin::CustomTypeLib&, IChange*, ChangeTarget& target, zephrin::IChangeListener* listener,
               int32_t flags) override {
        if (listener) zephrin::NotifyListener(*listener, ChangeKind::DeleteChange, target, *this, flags);
        return true;
    }
    std::u16string Describe(ChangeTarget& target) override {
        return u"Delete " + zephrin::modRecorder::DescribeTarget(target);
    }
};

inline ChangePtr CreateTestChange(uint8_t code) {
    static const ChangePtr deleteChange = std::make_shared<TestDeleteChange>();
    switch (static_cast<ChangeKind>(code)) {
        case ChangeKind::DeleteChange: return deleteChange;
        case ChangeKind::LibChange:
        case ChangeKind::TypeChange:
        case ChangeKind::ImplTypeChange:
        case ChangeKind::MemberChange:
        case ChangeKind::ParamChange: return zephrin::modRecorder::CreateChangeFromKind(code);
        default: return nullptr;
    }
}

}  // namespace testsupport
