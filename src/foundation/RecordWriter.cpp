#include "foundation/RecordWriter.h"

#include <string>

#include "foundation/ErrorRecord.h"
#include "platform/automation/BStr.h"

namespace zephrin {

void RecordWriter::PutInteger(int16_t value) {
    const auto u = static_cast<uint16_t>(value);
    PutByte(static_cast<uint8_t>(u));
    PutByte(static_cast<uint8_t>(u >> 8));
}

void RecordWriter::PutLong(int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) PutByte(static_cast<uint8_t>(u >> shift));
}

void RecordWriter::PutGuid(const ole::GUID& guid) {
    PutLong(static_cast<int32_t>(guid.Data1));
    PutInteger(static_cast<int16_t>(guid.Data2));
    PutInteger(static_cast<int16_t>(guid.Data3));
    for (uint8_t b : guid.Data4) PutByte(b);
}

void RecordWriter::PutString(std::u16string_view text) {
    // One byte per UTF-16 unit in the code page, so the count is known before converting.
    if (text.size() > kMaxStringBytes)
        RaiseError(kErrOverflow, u"A text of " + ole::FromUtf8(std::to_string(text.size())) +
                                     u" characters is longer than the 32,767 a history file can hold.");
    const std::string bytes = ole::ToAnsi(text);
    PutInteger(static_cast<int16_t>(bytes.size()));
    PutBytes(std::as_bytes(std::span(bytes.data(), bytes.size())));
}

}  // namespace zephrin
