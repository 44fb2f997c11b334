#include "platform/automation/CustData.h"

#include <cstdlib>

namespace ole {

void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb ? cb : 1); }

void* CoTaskMemRealloc(void* pv, size_t cb) { return std::realloc(pv, cb ? cb : 1); }

void CoTaskMemFree(void* pv) { std::free(pv); }

void ClearCustData(CUSTDATA* pCustData) {
    if (!pCustData) return;
    if (pCustData->prgCustData) {
        for (DWORD i = 0; i < pCustData->cCustData; ++i) VariantClear(&pCustData->prgCustData[i].varValue);
        CoTaskMemFree(pCustData->prgCustData);
    }
    pCustData->prgCustData = nullptr;
    pCustData->cCustData = 0;
}

}  // namespace ole
