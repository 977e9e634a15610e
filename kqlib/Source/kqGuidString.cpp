#include "kqGuidString.h"
#include <cwchar>

bool FormatGuid(const GUID& guid, wchar_t* pszBuffer, size_t cchBuffer)
{
    if (!pszBuffer || cchBuffer < kGuidStringChars + 1)
        return false;
    int cch = swprintf(pszBuffer, cchBuffer, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                       static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                       guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                       guid.Data4[6], guid.Data4[7]);
    return cch == static_cast<int>(kGuidStringChars);
}

std::wstring FormatGuid(const GUID& guid)
{
    wchar_t szText[kGuidStringChars + 1];
    if (!FormatGuid(guid, szText, kGuidStringChars + 1))
        return std::wstring();
    try {
        return std::wstring(szText);
    } catch (...) {
        return std::wstring();
    }
}
