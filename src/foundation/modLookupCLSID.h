// Finding a class's GUID by its name in the type library of a shared object.
#pragma once

#include <string_view>

#include "platform/automation/OleTypes.h"

namespace zephrin::modLookupCLSID {

// Sets clsid to the GUID of the type called name in the type library of the
// file at path: the file itself when it is an executable image or a type
// library file, else the file beside it with the same name and the extension
// ".tlb" (a shared object holds no type library). Whatever kind the type is,
// its GUID is taken. Raises the loader's HRESULT when the library can't be
// loaded and TYPE_E_ELEMENTNOTFOUND when no type has that name; clsid is then
// left as it was.
void LookupCLSIDInDll(ole::GUID& clsid, std::u16string_view path, std::u16string_view name);

}  // namespace zephrin::modLookupCLSID
