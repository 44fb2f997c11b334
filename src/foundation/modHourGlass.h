// The wait cursor shown for the duration of a long operation. The core knows
// no screen: the user interface installs a MousePointerHook that reads and
// sets the screen's pointer, and without one (batch mode, tests) showing the
// wait cursor does nothing.
#pragma once

#include <cstdint>
#include <functional>

namespace zephrin::modHourGlass {

// The pointer shape numbers of the screen: 0 default, 11 the hourglass.
inline constexpr int16_t kDefaultPointer = 0;
inline constexpr int16_t kHourGlassPointer = 11;

struct MousePointerHook {
    std::function<int16_t()> Get;
    std::function<void(int16_t)> Set;
};

// Installs the hook (an empty hook removes it).
void SetMousePointerHook(MousePointerHook hook);

// Shows the wait cursor until it goes out of scope. Only the outermost of
// nested guards changes the pointer, and it restores the previous pointer only
// when the pointer is still the hourglass (a pointer someone else set meanwhile
// is left alone).
class HourGlassGuard {
public:
    HourGlassGuard() = default;
    HourGlassGuard(const HourGlassGuard&) = delete;
    HourGlassGuard& operator=(const HourGlassGuard&) = delete;
    HourGlassGuard(HourGlassGuard&& other) noexcept : armed_(other.armed_), previous_(other.previous_) {
        other.armed_ = false;
    }
    HourGlassGuard& operator=(HourGlassGuard&&) = delete;
    ~HourGlassGuard();

    bool Armed() const { return armed_; }

private:
    friend HourGlassGuard ShowHourGlass();
    bool armed_ = false;
    int16_t previous_ = kDefaultPointer;
};

[[nodiscard]] HourGlassGuard ShowHourGlass();

}  // namespace zephrin::modHourGlass
