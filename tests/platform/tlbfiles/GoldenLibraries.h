// The golden libraries: small libraries built through the creation interfaces
// that together cover every type kind, dual interfaces, the automation
// VARTYPEs in members, parameters, defaults and constants, arrays, pointers,
// references (own types, a dual's interface half, standard-library types),
// custom data at every level, help data and DLL entries. Their saved files
// and reference dumps are committed under tests/data/golden/.
#pragma once

#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"

namespace golden {

// Names of the golden libraries (file stems under tests/data/golden/).
const std::vector<std::string>& Names();

// Builds the named golden library as a new library that saves to path (not
// saved yet). Fails with the first failing call's result.
ole::HRESULT Build(const std::string& name, const std::u16string& path, ole::ICreateTypeLib2** out);

// The folder of the committed goldens.
std::string Folder();

}  // namespace golden
