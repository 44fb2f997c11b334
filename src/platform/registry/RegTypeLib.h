// Registered type libraries: TypeLib\{guid}\<major>.<minor>\<lcid>\win32 under
// the classes root. ole::QueryPathOfRegTypeLib and ole::LoadRegTypeLib
// (declared with the type library interfaces) read the default registry
// through FindRegisteredTypeLib.
#pragma once

#include <string>
#include <string_view>

#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace reg {

class Registry;

// A version key's name: "major.minor", each side 1 to 4 hexadecimal digits
// (either case) with nothing else, as the platform writes them ("1.a" is 1.10,
// "1.10" is 1.16). False, and nothing set, for any other name.
bool ParseVersionKey(std::string_view name, ole::WORD* major, ole::WORD* minor);
// A locale key's name: 1 to 8 hexadecimal digits ("409", "0").
bool ParseLcidKey(std::string_view name, ole::LCID* lcid);

// Finds the file of a registered library, as the platform does:
// - version keys are "major.minor" in hexadecimal ("1.a" is 1.10); the exact
//   version wins, else the highest minor above the one asked for with the same major;
// - the LCID subkey is taken exactly, else on its primary language, else 0;
// - below it "win32", then "win16", then "win64";
// - names are compared without regard to case.
// *path receives the local file (Registry::mapPath). TYPE_E_LIBNOTREGISTERED
// when nothing matches.
ole::HRESULT FindRegisteredTypeLib(const Registry& registry, const ole::GUID& guid, ole::WORD major,
                                   ole::WORD minor, ole::LCID lcid, std::string* path);

// The lookup imported references are resolved with: LoadRegTypeLib.
ole::HRESULT ResolveRegisteredImport(const ole::GUID& lib, ole::WORD major, ole::WORD minor, ole::LCID lcid,
                                     ole::ITypeLib** out);

}  // namespace reg
