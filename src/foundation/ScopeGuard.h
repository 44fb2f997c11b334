// Rollback of an operation that fails halfway.
//
// Each step of the operation registers its undo right after it succeeds. When the
// guard goes out of scope without Dismiss() (an error propagates, or an early return),
// it runs the undos in reverse order. Errors raised by an undo are swallowed, so the
// first error is the one the caller sees:
//
//     ScopeGuard rollback;
//     lib.AddType(...);   rollback.OnFailure([&] { lib.DeleteType(...); });
//     lib.SetName(...);   rollback.OnFailure([&] { lib.SetName(oldName); });
//     rollback.Dismiss();
#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace zephrin {

class ScopeGuard {
public:
    ScopeGuard() = default;
    explicit ScopeGuard(std::function<void()> undo) { OnFailure(std::move(undo)); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    ~ScopeGuard() { Rollback(); }

    // Registers one undo step. If storing it fails, the step is undone at once and the
    // failure propagates, so no completed step is left without its undo.
    void OnFailure(std::function<void()> undo) {
        try {
            undos_.push_back(std::move(undo));
        } catch (...) {
            RunQuietly(undo);
            throw;
        }
    }

    // The operation reached its end: keep its work.
    void Dismiss() noexcept { undos_.clear(); }

    // Runs the registered undos now, newest first, and forgets them.
    void Rollback() noexcept {
        while (!undos_.empty()) {
            auto undo = std::move(undos_.back());
            undos_.pop_back();
            RunQuietly(undo);
        }
    }

    bool Armed() const noexcept { return !undos_.empty(); }

private:
    static void RunQuietly(std::function<void()>& undo) noexcept {
        try {
            if (undo) undo();
        } catch (...) {
        }
    }

    std::vector<std::function<void()>> undos_;
};

}  // namespace zephrin
