// Stands in for the crash callback program: writes its command line (UTF-16) to the file
// named by KQ_CALLBACK_OUT.
#include <windows.h>

int wmain()
{
    wchar_t szOut[MAX_PATH];
    if (!GetEnvironmentVariableW(L"KQ_CALLBACK_OUT", szOut, ARRAYSIZE(szOut)))
        return 1;
    const wchar_t* pszCommandLine = GetCommandLineW();
    HANDLE hFile = CreateFileW(szOut, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 2;
    DWORD cbWritten = 0;
    WriteFile(hFile, pszCommandLine, static_cast<DWORD>(lstrlenW(pszCommandLine) * sizeof(wchar_t)), &cbWritten,
              nullptr);
    CloseHandle(hFile);
    return 0;
}
