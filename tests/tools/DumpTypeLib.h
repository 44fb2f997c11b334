// The dump routine shared by the tlbdump tool and the tests: prints a type
// library, read through this program's type library services, in the canonical
// text form of the reference dumper (same lines, order and number formatting),
// so that outputs can be compared byte for byte.
#pragma once

#include <string>

#include "platform/tlbengine/TypeLibInterfaces.h"

namespace tlbtools {

// The dump of a library.
std::string DumpTypeLib(ole::ITypeLib* tl);

// The text with each line ending in CR LF, as the reference dumper (a console
// program of the platform) prints it.
std::string WithCrLf(const std::string& text);

// Loads a file with LoadTypeLibEx and dumps it; a failed load gives the
// line "LOADFAIL 0x........". Returns the load result.
ole::HRESULT DumpTypeLibFile(const std::u16string& path, std::string* out);

}  // namespace tlbtools
