// Reads the sequential binary records of RecordWriter back, checking every
// read against what is left: a read past the end raises error 62 "Input past
// end of file"; content that breaks the format (a negative length, a count
// larger than the rest of the data can hold, a value out of range) is refused
// with error 5 and the format text the reader was made with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/automation/OleTypes.h"

namespace zephrin {

class RecordReader {
public:
    RecordReader(std::span<const std::byte> bytes, std::u16string formatError)
        : bytes_(bytes), formatError_(std::move(formatError)) {}
    virtual ~RecordReader() = default;

    uint8_t GetByte();
    int16_t GetInteger();
    int32_t GetLong();
    // An Integer Boolean: any value other than 0 is True.
    bool GetBoolean() { return GetInteger() != 0; }
    // A Byte Boolean: any value other than 0 is True.
    bool GetByteBoolean() { return GetByte() != 0; }
    ole::GUID GetGuid();
    // An Integer count, then that many bytes; a negative count is refused.
    std::u16string GetString();
    std::span<const std::byte> GetBytes(size_t count);

    // A Long count of records of at least minRecordSize bytes each; refused
    // when negative or more than the bytes left could hold.
    int32_t GetCount(size_t minRecordSize) { return CheckCount(GetLong(), minRecordSize); }
    // The same for an Integer count.
    int16_t GetIntegerCount(size_t minRecordSize) {
        return static_cast<int16_t>(CheckCount(GetInteger(), minRecordSize));
    }
    int32_t CheckCount(int32_t count, size_t minRecordSize);

    size_t Position() const { return pos_; }
    size_t Remaining() const { return bytes_.size() - pos_; }

    // Raises error 5 with the format text.
    [[noreturn]] void Refuse() const;

private:
    // Raises error 62 unless count more bytes are there.
    void Need(size_t count) const;

    std::span<const std::byte> bytes_;
    size_t pos_ = 0;
    std::u16string formatError_;
};

}  // namespace zephrin
