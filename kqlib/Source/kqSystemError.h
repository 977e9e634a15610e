// A Windows system error code as an HRESULT.
#pragma once
#include <windows.h>

// dwError as a Win32 HRESULT (0x8007xxxx); a value that already is an HRESULT (high bit set)
// stays as it is; 0, "no error recorded", gives hrNoError.
inline HRESULT HresultFromSystemError(DWORD dwError, HRESULT hrNoError)
{
    if (dwError == 0)
        return hrNoError;
    if (static_cast<LONG>(dwError) < 0)
        return static_cast<HRESULT>(dwError);
    return static_cast<HRESULT>((dwError & 0xFFFF) | 0x80070000);
}
