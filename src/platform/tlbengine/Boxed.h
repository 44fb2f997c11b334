// An optional value kept on the heap: one pointer in its owner, whether or not
// the value is there. For what most parameters and members lack (a default
// value, a constant) or what a type description only sometimes has (the
// target of a pointer, array or safe array), where an inline std::optional
// would make every one of them larger.
//
// It reads as an optional (has_value, *, ->, reset, emplace) and, for a type
// description's target, as a list of at most one entry (size, empty, [0],
// push_back, resize, range-for).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

namespace ole {

template <class T>
class Boxed {
public:
    Boxed() noexcept = default;
    Boxed(const T& x) : p_(std::make_unique<T>(x)) {}
    Boxed(T&& x) : p_(std::make_unique<T>(std::move(x))) {}
    Boxed(const Boxed& o) : p_(o.p_ ? std::make_unique<T>(*o.p_) : nullptr) {}
    Boxed(Boxed&& o) noexcept = default;
    Boxed& operator=(const Boxed& o) {
        if (this != &o) p_ = o.p_ ? std::make_unique<T>(*o.p_) : nullptr;
        return *this;
    }
    Boxed& operator=(Boxed&& o) noexcept = default;
    Boxed& operator=(const T& x) {
        if (p_)
            *p_ = x;
        else
            p_ = std::make_unique<T>(x);
        return *this;
    }
    Boxed& operator=(T&& x) {
        if (p_)
            *p_ = std::move(x);
        else
            p_ = std::make_unique<T>(std::move(x));
        return *this;
    }
    // Empty when the optional is.
    Boxed& operator=(std::optional<T>&& x) {
        if (x)
            *this = std::move(*x);
        else
            p_.reset();
        return *this;
    }
    ~Boxed() = default;

    // As an optional.
    bool has_value() const noexcept { return p_ != nullptr; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T& operator*() noexcept { return *p_; }
    const T& operator*() const noexcept { return *p_; }
    T* operator->() noexcept { return p_.get(); }
    const T* operator->() const noexcept { return p_.get(); }
    T& value() {
        if (!p_) throw std::logic_error("Boxed: no value");
        return *p_;
    }
    const T& value() const {
        if (!p_) throw std::logic_error("Boxed: no value");
        return *p_;
    }
    void reset() noexcept { p_.reset(); }
    template <class... A>
    T& emplace(A&&... a) {
        p_ = std::make_unique<T>(std::forward<A>(a)...);
        return *p_;
    }

    // As a list of at most one entry.
    bool empty() const noexcept { return p_ == nullptr; }
    size_t size() const noexcept { return p_ ? 1 : 0; }
    T& operator[](size_t) noexcept { return *p_; }
    const T& operator[](size_t) const noexcept { return *p_; }
    T& at(size_t i) {
        if (i != 0 || !p_) throw std::out_of_range("Boxed::at");
        return *p_;
    }
    const T& at(size_t i) const {
        if (i != 0 || !p_) throw std::out_of_range("Boxed::at");
        return *p_;
    }
    T& front() noexcept { return *p_; }
    const T& front() const noexcept { return *p_; }
    T* begin() noexcept { return p_.get(); }
    T* end() noexcept { return p_.get() + size(); }
    const T* begin() const noexcept { return p_.get(); }
    const T* end() const noexcept { return p_.get() + size(); }
    void clear() noexcept { p_.reset(); }
    // Only 0 and 1 are sizes a box can have.
    void resize(size_t n) {
        if (n > 1) throw std::length_error("Boxed::resize");
        if (n == 0)
            p_.reset();
        else if (!p_)
            p_ = std::make_unique<T>();
    }
    void push_back(T x) {
        if (p_) throw std::length_error("Boxed::push_back");
        p_ = std::make_unique<T>(std::move(x));
    }
    template <class... A>
    T& emplace_back(A&&... a) {
        if (p_) throw std::length_error("Boxed::emplace_back");
        return emplace(std::forward<A>(a)...);
    }

private:
    std::unique_ptr<T> p_;
};

}  // namespace ole
