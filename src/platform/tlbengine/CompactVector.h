// A vector for lists that are almost always empty (custom data, array bounds,
// error codes): one pointer in its owner, the elements on the heap only once
// there are some. A library holds one such list per parameter and member, so
// the 24 bytes of an empty std::vector add up; this keeps 8.
//
// Iterators are plain pointers; an empty list gives null ones.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace ole {

template <class T>
class CompactVector {
public:
    using value_type = T;
    using size_type = size_t;
    using iterator = T*;
    using const_iterator = const T*;
    using reference = T&;
    using const_reference = const T&;

    CompactVector() noexcept = default;
    CompactVector(std::initializer_list<T> items) { assign(items.begin(), items.end()); }
    CompactVector(std::vector<T> items) {
        if (!items.empty()) v_ = std::make_unique<std::vector<T>>(std::move(items));
    }
    CompactVector(const CompactVector& o) : v_(o.empty() ? nullptr : std::make_unique<std::vector<T>>(*o.v_)) {}
    CompactVector(CompactVector&& o) noexcept = default;
    CompactVector& operator=(const CompactVector& o) {
        if (this != &o) v_ = o.empty() ? nullptr : std::make_unique<std::vector<T>>(*o.v_);
        return *this;
    }
    CompactVector& operator=(CompactVector&& o) noexcept = default;
    ~CompactVector() = default;

    bool empty() const noexcept { return !v_ || v_->empty(); }
    size_t size() const noexcept { return v_ ? v_->size() : 0; }

    T* data() noexcept { return v_ ? v_->data() : nullptr; }
    const T* data() const noexcept { return v_ ? v_->data() : nullptr; }
    iterator begin() noexcept { return data(); }
    iterator end() noexcept { return data() + size(); }
    const_iterator begin() const noexcept { return data(); }
    const_iterator end() const noexcept { return data() + size(); }

    T& operator[](size_t i) noexcept { return (*v_)[i]; }
    const T& operator[](size_t i) const noexcept { return (*v_)[i]; }
    T& at(size_t i) {
        Check(i);
        return (*v_)[i];
    }
    const T& at(size_t i) const {
        Check(i);
        return (*v_)[i];
    }
    T& front() noexcept { return v_->front(); }
    const T& front() const noexcept { return v_->front(); }
    T& back() noexcept { return v_->back(); }
    const T& back() const noexcept { return v_->back(); }

    void clear() noexcept { v_.reset(); }
    void reserve(size_t n) {
        if (n > 0) Items().reserve(n);
    }
    void resize(size_t n) {
        if (n == 0)
            v_.reset();
        else
            Items().resize(n);
    }
    void push_back(const T& x) { Items().push_back(x); }
    void push_back(T&& x) { Items().push_back(std::move(x)); }
    template <class... A>
    T& emplace_back(A&&... a) {
        return Items().emplace_back(std::forward<A>(a)...);
    }
    template <class It>
    void assign(It first, It last) {
        if (first == last) {
            v_.reset();
            return;
        }
        auto items = std::make_unique<std::vector<T>>(first, last);
        v_ = std::move(items);
    }
    void assign(size_t n, const T& x) {
        if (n == 0)
            v_.reset();
        else
            v_ = std::make_unique<std::vector<T>>(n, x);
    }
    iterator insert(const_iterator pos, T x) {
        const auto at = Offset(pos);
        auto& items = Items();
        items.insert(items.begin() + at, std::move(x));
        return items.data() + at;
    }
    iterator erase(const_iterator pos) { return erase(pos, pos + 1); }
    iterator erase(const_iterator first, const_iterator last) {
        const auto from = Offset(first), to = Offset(last);
        if (from == to) return data() + from;
        v_->erase(v_->begin() + from, v_->begin() + to);
        if (v_->empty()) {
            v_.reset();
            return nullptr;
        }
        return v_->data() + from;
    }

    friend bool operator==(const CompactVector& a, const CompactVector& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (!(a[i] == b[i])) return false;
        return true;
    }

private:
    std::vector<T>& Items() {
        if (!v_) v_ = std::make_unique<std::vector<T>>();
        return *v_;
    }
    std::ptrdiff_t Offset(const_iterator pos) const noexcept { return v_ ? pos - v_->data() : 0; }
    void Check(size_t i) const {
        if (i >= size()) throw std::out_of_range("CompactVector::at");
    }

    std::unique_ptr<std::vector<T>> v_;
};

}  // namespace ole
