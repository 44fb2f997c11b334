// A bounds-checked little-endian reader over a byte span. A read past the end
// returns zero and marks the reader failed; later reads do nothing. Parsers
// check ok() once per record or file and turn a failure into one HRESULT.
// The field reads are forced inline: readers make one for every field of a
// file, and a call for each costs the MSFT reader a fifth of its time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace ole {

class ByteReader {
public:
    ByteReader() noexcept = default;
    explicit ByteReader(std::span<const std::byte> data, size_t pos = 0) noexcept : data_(data), pos_(pos) {
        if (pos_ > data_.size()) Fail();
    }

    bool ok() const noexcept { return ok_; }
    void Fail() noexcept {
        ok_ = false;
        pos_ = data_.size();
    }
    size_t pos() const noexcept { return pos_; }
    size_t size() const noexcept { return data_.size(); }
    size_t remaining() const noexcept { return ok_ ? data_.size() - pos_ : 0; }
    std::span<const std::byte> data() const noexcept { return data_; }

    // Moves to an absolute position (failing when it lies past the end).
    void Seek(size_t pos) noexcept {
        if (!ok_ || pos > data_.size()) return Fail();
        pos_ = pos;
    }
    void Skip(size_t n) noexcept {
        if (!Has(n)) return Fail();
        pos_ += n;
    }
    // True when n more bytes can be read (does not fail the reader).
    [[gnu::always_inline]] bool Has(size_t n) const noexcept { return ok_ && n <= data_.size() - pos_; }

    [[gnu::always_inline]] uint8_t U8() noexcept { return Read<uint8_t>(); }
    [[gnu::always_inline]] uint16_t U16() noexcept { return Read<uint16_t>(); }
    [[gnu::always_inline]] uint32_t U32() noexcept { return Read<uint32_t>(); }
    [[gnu::always_inline]] uint64_t U64() noexcept { return Read<uint64_t>(); }
    [[gnu::always_inline]] int16_t I16() noexcept { return static_cast<int16_t>(U16()); }
    [[gnu::always_inline]] int32_t I32() noexcept { return static_cast<int32_t>(U32()); }
    [[gnu::always_inline]] int64_t I64() noexcept { return static_cast<int64_t>(U64()); }

    // n bytes at the cursor (empty and failed when they are not all there).
    std::span<const std::byte> Bytes(size_t n) noexcept {
        if (!Has(n)) {
            Fail();
            return {};
        }
        auto s = data_.subspan(pos_, n);
        pos_ += n;
        return s;
    }

    // A reader over [offset, offset + length) of this reader's data; a failed
    // reader when the range does not fit.
    ByteReader Sub(size_t offset, size_t length) const noexcept {
        ByteReader r;
        if (!ok_ || offset > data_.size() || length > data_.size() - offset) {
            r.ok_ = false;
            return r;
        }
        r.data_ = data_.subspan(offset, length);
        return r;
    }
    // A reader over this data starting at offset.
    ByteReader At(size_t offset) const noexcept {
        ByteReader r(data_);
        if (!ok_) r.Fail();
        r.Seek(offset);
        return r;
    }

private:
    template <class T>
    [[gnu::always_inline]] T Read() noexcept {
        if (!Has(sizeof(T))) {
            Fail();
            return T{};
        }
        T v{};
        const auto* p = reinterpret_cast<const unsigned char*>(data_.data()) + pos_;
        for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(static_cast<T>(p[i]) << (8 * i));
        pos_ += sizeof(T);
        return v;
    }

    std::span<const std::byte> data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace ole
