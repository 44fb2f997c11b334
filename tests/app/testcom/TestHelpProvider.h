// The help-data provider of the application tests (zephrin_testprovider): it
// puts "Rewritten: " before every doc string it is handed. With
// ZEPHRIN_TEST_PROVIDER_LOG set it appends a line to that file when asked
// whether it can be unloaded ("free" or "busy") and when it is unloaded.
// ZEPHRIN_TEST_PROVIDER_THROW names an entry point (DllGetClassObject,
// CreateInstance, QueryInterface for IModifyHelpData, ModifyLibHelp,
// DllCanUnloadNow) that throws an exception of the provider's own; with
// ZEPHRIN_TEST_PROVIDER_FAIL set, ModifyLibHelp returns E_FAIL.
#pragma once

#include "platform/automation/Unknown.h"

namespace testprovider {

// {5A1E0101-7C2B-4D10-9E3A-0123456789AB}
inline constexpr ole::CLSID kCLSID = {0x5A1E0101, 0x7C2B, 0x4D10, {0x9E, 0x3A, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
inline constexpr char kClassName[] = "HelpRewriter";
inline constexpr char kPrefix[] = "Rewritten: ";

}  // namespace testprovider
