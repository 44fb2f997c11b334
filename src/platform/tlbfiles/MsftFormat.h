// Constants of the MSFT type library format shared by its reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ole::msft {

inline constexpr uint32_t kSignature = 0x5446534D;  // "MSFT"
inline constexpr size_t kHeaderSize = 0x54;
inline constexpr size_t kTypeInfoSize = 0x64;       // one type info record
inline constexpr size_t kSegmentCount = 15;         // entries of the segment directory

// Segments, in the order of the segment directory.
enum Segment : int {
    kSegTypeInfo = 0,
    kSegImportInfo = 1,
    kSegImportFiles = 2,
    kSegRefTable = 3,
    kSegGuidHash = 4,
    kSegGuids = 5,
    kSegNameHash = 6,
    kSegNames = 7,
    kSegStrings = 8,
    kSegTypeDescs = 9,
    kSegArrayDescs = 10,
    kSegCustData = 11,
    kSegCdGuids = 12,
};

}  // namespace ole::msft
