// Custom data blocks returned by the GetAll*CustData calls, and the task
// allocator they use.
#pragma once

#include <cstddef>

#include "platform/automation/OleTypes.h"
#include "platform/automation/Variant.h"

namespace ole {

struct CUSTDATAITEM {
    GUID guid;
    VARIANTARG varValue;
};

struct CUSTDATA {
    DWORD cCustData;
    CUSTDATAITEM* prgCustData;
};

void* CoTaskMemAlloc(size_t cb);
void* CoTaskMemRealloc(void* pv, size_t cb);
void CoTaskMemFree(void* pv);

// Clears every value, frees the array and zeroes the fields. Null is ignored.
void ClearCustData(CUSTDATA* pCustData);

}  // namespace ole
