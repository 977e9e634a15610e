#include "kqShellFolder.h"

#include <windows.h>
#include <shlobj.h>

#include <exception>

bool GetShellFolderPath(int nFolder, unsigned long dwType, std::wstring& strPath)
{
    wchar_t szPath[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, nFolder, nullptr, dwType, szPath)) || !szPath[0])
        return false;
    szPath[MAX_PATH - 1] = L'\0';
    try {
        strPath = szPath;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
