// Loading a class from a shared object named by path, without registration,
// and unloading the shared object again when it says it can go.
#pragma once

#include <string_view>

#include "platform/automation/OleTypes.h"
#include "platform/automation/Unknown.h"

namespace zephrin::modCOMDllLoader {

// A loaded shared object; null means not loaded. The caller's variable is the
// only record of it.
using ModuleHandle = void*;

// The class factory of clsid from the shared object at path. When module is
// null the object is loaded first and module receives it; a module already
// loaded is used as it is; one loaded by this call is unloaded again (module
// back to null) when the call fails. Errors (raised as ErrorRecord): 0x8007007E when the
// object can't be loaded, 0x8007007F when it has no "DllGetClassObject" (the
// loader's text as description), else the HRESULT of DllGetClassObject. An
// exception of the object's own comes out as an error record of this program,
// so that the object can be unloaded while it is reported.
ole::ComPtr<ole::IClassFactory> GetDllClassObject(std::u16string_view path, const ole::CLSID& clsid,
                                                  ModuleHandle& module);

// Asks the loaded object's "DllCanUnloadNow"; only on S_OK it is unloaded and
// module set to null. A null module does nothing. A missing entry point raises
// 0x8007007F and leaves the object loaded.
void UnloadDllIfUnused(ModuleHandle& module);

}  // namespace zephrin::modCOMDllLoader
