// The two standard base interfaces of OLE Automation, IDispatch and IUnknown,
// as the ITypeInfo objects of the standard library "stdole2.tlb". Loaded on
// first use; a failed load is tried again on the next call.
#pragma once

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"

namespace zephrin {

class BaseTICache {
public:
    BaseTICache() = default;
    BaseTICache(const BaseTICache&) = delete;
    BaseTICache& operator=(const BaseTICache&) = delete;

    // The one program-wide instance.
    static BaseTICache& Instance();

    ole::ComPtr<ole::ITypeInfo> IDispatch();
    ole::ComPtr<ole::ITypeInfo> IUnknown();

private:
    void LoadBaseTypes();

    bool loaded_ = false;
    ole::ComPtr<ole::ITypeInfo> dispatch_;
    ole::ComPtr<ole::ITypeInfo> unknown_;
};

}  // namespace zephrin
