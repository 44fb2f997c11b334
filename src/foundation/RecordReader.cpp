#include "foundation/RecordReader.h"

#include "foundation/ErrorRecord.h"
#include "platform/automation/BStr.h"

namespace zephrin {

void RecordReader::Need(size_t count) const {
    if (count > Remaining()) RaiseError(kErrInputPastEnd);
}

void RecordReader::Refuse() const { RaiseError(kErrInvalidArgument, formatError_); }

std::span<const std::byte> RecordReader::GetBytes(size_t count) {
    Need(count);
    const std::span<const std::byte> out = bytes_.subspan(pos_, count);
    pos_ += count;
    return out;
}

uint8_t RecordReader::GetByte() { return static_cast<uint8_t>(GetBytes(1)[0]); }

int16_t RecordReader::GetInteger() {
    const auto b = GetBytes(2);
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint8_t>(b[0]) | static_cast<uint8_t>(b[1]) << 8));
}

int32_t RecordReader::GetLong() {
    const auto b = GetBytes(4);
    uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = u << 8 | static_cast<uint8_t>(b[static_cast<size_t>(i)]);
    return static_cast<int32_t>(u);
}

ole::GUID RecordReader::GetGuid() {
    Need(16);
    ole::GUID guid{};
    guid.Data1 = static_cast<uint32_t>(GetLong());
    guid.Data2 = static_cast<uint16_t>(GetInteger());
    guid.Data3 = static_cast<uint16_t>(GetInteger());
    for (uint8_t& b : guid.Data4) b = GetByte();
    return guid;
}

std::u16string RecordReader::GetString() {
    const int16_t count = GetInteger();
    if (count < 0) Refuse();
    return ole::FromAnsi(GetBytes(static_cast<size_t>(count)));
}

int32_t RecordReader::CheckCount(int32_t count, size_t minRecordSize) {
    if (count < 0) Refuse();
    if (minRecordSize != 0 && static_cast<size_t>(count) > Remaining() / minRecordSize) Refuse();
    return count;
}

}  // namespace zephrin
