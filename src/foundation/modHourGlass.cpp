#include "foundation/modHourGlass.h"

#include <utility>

namespace zephrin::modHourGlass {
namespace {

MousePointerHook& Hook() {
    static MousePointerHook hook;
    return hook;
}

bool Installed() { return Hook().Get && Hook().Set; }

}  // namespace

void SetMousePointerHook(MousePointerHook hook) { Hook() = std::move(hook); }

HourGlassGuard ShowHourGlass() {
    HourGlassGuard guard;
    if (!Installed()) return guard;
    const int16_t current = Hook().Get();
    if (current == kHourGlassPointer) return guard;
    Hook().Set(kHourGlassPointer);
    guard.previous_ = current;
    guard.armed_ = true;
    return guard;
}

HourGlassGuard::~HourGlassGuard() {
    if (!armed_ || !Installed()) return;
    try {
        if (Hook().Get() == kHourGlassPointer) Hook().Set(previous_);
    } catch (...) {
    }
}

}  // namespace zephrin::modHourGlass
