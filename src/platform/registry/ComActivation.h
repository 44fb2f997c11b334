// Creating registered in-process classes: CLSID\{...}\InprocServer32 names the
// shared object, <ProgID>\CLSID gives the class ID of a ProgID. Out-of-process
// servers cannot be started here.
#pragma once

#include <string>

#include "platform/automation/OleTypes.h"
#include "platform/automation/Unknown.h"

namespace ole {

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;

// The class ID registered for a ProgID. CO_E_CLASSSTRING when the ProgID is not
// registered or its class ID is not valid text.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);

// The class factory (or other interface) of a registered in-process class. The
// shared object stays loaded for the rest of the process. A class registered
// only out of process gives REGDB_E_CLASSNOTREG; a shared object that can't be
// loaded 0x8007007E, one without "DllGetClassObject" 0x8007007F.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid, void** ppv);

// Creates an object of a registered in-process class through its class factory.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);

// The description of the last failure of the three functions above on this
// thread (empty after a success).
std::u16string GetLastActivationError();

}  // namespace ole
