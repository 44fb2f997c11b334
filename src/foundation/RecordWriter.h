// Sequential binary records, as the history file stores them: little-endian
// fields with no padding, built in memory and written out once. Byte = 1 byte,
// Integer = 16 bits, Long = 32 bits; a Boolean is an Integer 0 or -1; a String
// is an Integer byte count followed by that many Windows-1252 bytes (no
// terminator; characters outside the code page become '?').
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/automation/OleTypes.h"

namespace zephrin {

class RecordWriter {
public:
    // The longest String a record can hold, in bytes.
    static constexpr size_t kMaxStringBytes = 32767;

    void PutByte(uint8_t value) { bytes_.push_back(static_cast<std::byte>(value)); }
    void PutInteger(int16_t value);
    void PutLong(int32_t value);
    void PutBoolean(bool value) { PutInteger(value ? -1 : 0); }
    // Data1, Data2 and Data3 little-endian, then Data4 as it is.
    void PutGuid(const ole::GUID& guid);
    // Raises error 6 for a text above kMaxStringBytes bytes; nothing is written then.
    void PutString(std::u16string_view text);
    void PutBytes(std::span<const std::byte> bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }

    const std::vector<std::byte>& Bytes() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }

private:
    std::vector<std::byte> bytes_;
};

}  // namespace zephrin
