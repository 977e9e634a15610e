#include "kqSystemLibrary.h"

#include <string>

HMODULE LoadSystemLibrary(const wchar_t* pszName)
{
    if (!pszName || !*pszName)
        return nullptr;
    wchar_t szSystem[MAX_PATH];
    UINT len = GetSystemDirectoryW(szSystem, ARRAYSIZE(szSystem));
    if (len == 0 || len >= ARRAYSIZE(szSystem))
        return nullptr;
    try {
        std::wstring strPath(szSystem, len);
        if (strPath.back() != L'\\')
            strPath += L'\\';
        strPath += pszName;
        return LoadLibraryExW(strPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (...) {
        return nullptr;
    }
}
