// The class exported by the test shared object (zephrin_testcom): its class ID
// and the one interface it implements beside IUnknown.
#pragma once

#include "platform/automation/Unknown.h"

namespace testcom {

// {5A1E0001-7C2B-4D10-9E3A-0123456789AB}
inline constexpr ole::CLSID kCLSID_TestAdder = {0x5A1E0001, 0x7C2B, 0x4D10, {0x9E, 0x3A, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
inline constexpr char kProgID[] = "Zephrin.TestAdder";
inline constexpr char kClassName[] = "TestAdder";

struct ITestAdder : ole::IUnknown {
    // {5A1E0002-7C2B-4D10-9E3A-0123456789AB}
    static constexpr ole::IID kIID = {0x5A1E0002, 0x7C2B, 0x4D10, {0x9E, 0x3A, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
    virtual ole::HRESULT Add(ole::LONG a, ole::LONG b, ole::LONG* sum) = 0;
    // Objects and server locks alive in the shared object.
    virtual ole::LONG LiveCount() = 0;
};

}  // namespace testcom
