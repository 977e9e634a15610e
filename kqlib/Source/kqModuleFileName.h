// The full file name of a loaded module, however long. Writes no trace: the trace output asks
// for it while it is being set up.
#pragma once
#include <windows.h>
#include <string>

// hModule null: the process's executable. False when the system gives no name, the name is
// longer than any Windows path, or memory runs out.
bool GetModuleFileNameString(HMODULE hModule, std::wstring& strPath);
