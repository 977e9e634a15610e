// Which loaded module holds a code address, without changing any module's load count.
#pragma once
#include <windows.h>

// Asks the system (GetModuleHandleExW of the system folder's kernel32.dll); where that call
// does not exist, falls back to FindModuleOfAddressInSnapshot. nullptr when no module holds it.
HMODULE FindModuleOfAddress(const void* pAddress);
// Enumerates the process's modules and picks the one whose image range holds the address.
HMODULE FindModuleOfAddressInSnapshot(const void* pAddress);
// The module that the library's own code is linked into.
HMODULE GetLibraryModule();
