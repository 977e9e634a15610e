#include "kqModuleFileName.h"

#include <exception>

bool GetModuleFileNameString(HMODULE hModule, std::wstring& strPath)
{
    try {
        std::wstring strName(MAX_PATH, L'\0');
        for (;;) {
            DWORD cch = GetModuleFileNameW(hModule, &strName[0], static_cast<DWORD>(strName.size()));
            if (cch == 0)
                return false;
            if (cch < strName.size()) {
                strName.resize(cch);
                strPath.swap(strName);
                return true;
            }
            // The name filled the buffer completely, so it may have been cut short.
            if (strName.size() >= 32768)
                return false;
            strName.resize(strName.size() * 2);
        }
    } catch (const std::exception&) {
        return false;
    }
}
