// The records and functions the pack exports under fixed, unmangled names, for the
// programs that link the pack in instead of loading it.
#pragma once

#include "host/ufnutils.h"

// The identifier the pack registers under, {6d1f0a3e-52b4-4c8e-9a57-3b0c2e71f4a9}.
inline constexpr PackId kMatpackId = {
    0x6d1f0a3e, 0x52b4, 0x4c8e, {0x9a, 0x57, 0x3b, 0x0c, 0x2e, 0x71, 0xf4, 0xa9}};

extern "C" {
MATPACK_API extern sFunctionDescriptor theUfn[];
MATPACK_API extern const int32_t numFuncs;
MATPACK_API extern sString string_TOL;
MATPACK_API extern sIdentifier identifier_TOL;
MATPACK_API extern sCons TOLLIST;
MATPACK_API extern sCons ORIGINLIST;
MATPACK_API extern sCons BOTHLIST;
MATPACK_API HRESULT WS_STDCALL DllRegisterServer();
MATPACK_API HRESULT WS_STDCALL DllUnregisterServer();
MATPACK_API int WS_STDCALL DllMain(void* module, unsigned long reason, void* reserved);
}
