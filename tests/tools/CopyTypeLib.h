// Re-creating a library through the creation interfaces, as tlbcopy and the
// copy-and-save benchmark do: library attributes, every type with its
// attributes, implemented interfaces, functions, variables, names, help data,
// DLL entries, custom data, aliases, and references both inside the library
// and into other libraries. Dual interfaces are re-created from their
// interface half.
#pragma once

#include <string>

#include "platform/tlbengine/TypeLibInterfaces.h"

namespace tlbtools {

// Copies everything src holds into dst (a new, empty library) and lays out
// every type. On failure returns the failing call's result and describes the
// call in *error (when given).
ole::HRESULT CopyTypeLib(ole::ITypeLib* src, ole::ICreateTypeLib2* dst, std::string* error = nullptr);

}  // namespace tlbtools
