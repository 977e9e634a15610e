#include "kqStringConvert.h"

#include <windows.h>
#include <climits>
#include <cstring>
#include <cwchar>
#include <exception>

bool AssignString(const wchar_t* pszText, std::wstring& strOut)
{
    try {
        // Through a copy: the text may point into strOut itself.
        std::wstring strText = pszText ? pszText : L"";
        strOut.swap(strText);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool AssignStringA(const char* pszText, std::string& strOut)
{
    try {
        std::string strText = pszText ? pszText : "";
        strOut.swap(strText);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool AppendString(std::wstring& strOut, const wchar_t* pszText)
{
    try {
        if (pszText) {
            std::wstring strText = pszText;
            strOut += strText;
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ConvertToWide(const char* pchText, size_t cch, std::wstring& strOut, UINT uCodePage)
{
    try {
        if (!pchText || cch == 0) {
            strOut.clear();
            return true;
        }
        if (cch > static_cast<size_t>(INT_MAX))
            return false;
        int cchWide = MultiByteToWideChar(uCodePage, 0, pchText, static_cast<int>(cch), nullptr, 0);
        if (cchWide <= 0)
            return false;
        std::wstring strText(static_cast<size_t>(cchWide), L'\0');
        if (MultiByteToWideChar(uCodePage, 0, pchText, static_cast<int>(cch), &strText[0], cchWide) != cchWide)
            return false;
        strOut.swap(strText);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ConvertToWide(const char* pszText, std::wstring& strOut)
{
    return ConvertToWide(pszText, pszText ? strlen(pszText) : 0, strOut);
}

bool ConvertToAnsi(const wchar_t* pchText, size_t cch, std::string& strOut)
{
    try {
        if (!pchText || cch == 0) {
            strOut.clear();
            return true;
        }
        if (cch > static_cast<size_t>(INT_MAX))
            return false;
        int cb = WideCharToMultiByte(CP_ACP, 0, pchText, static_cast<int>(cch), nullptr, 0, nullptr, nullptr);
        if (cb <= 0)
            return false;
        std::string strText(static_cast<size_t>(cb), '\0');
        if (WideCharToMultiByte(CP_ACP, 0, pchText, static_cast<int>(cch), &strText[0], cb, nullptr, nullptr) != cb)
            return false;
        strOut.swap(strText);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ConvertToAnsi(const wchar_t* pszText, std::string& strOut)
{
    return ConvertToAnsi(pszText, pszText ? wcslen(pszText) : 0, strOut);
}
