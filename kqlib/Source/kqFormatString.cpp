#include "kqFormatString.h"

#include <windows.h>
#include <cstdio>
#include <exception>

namespace {

// Formats into a fresh string first, so that an argument may point into the caller's output.
bool FormatInto(std::wstring& strText, const wchar_t* pszFormat, va_list args)
{
    if (!pszFormat)
        return false;
    va_list measureArgs;
    va_copy(measureArgs, args);
    int len = _vscwprintf(pszFormat, measureArgs);
    va_end(measureArgs);
    if (len < 0)
        return false;
    strText.assign(static_cast<size_t>(len) + 1, L'\0');
    va_list formatArgs;
    va_copy(formatArgs, args);
    int written = _vsnwprintf(&strText[0], static_cast<size_t>(len) + 1, pszFormat, formatArgs);
    va_end(formatArgs);
    if (written != len)
        return false;
    strText.resize(static_cast<size_t>(len));
    return true;
}

}  // namespace

bool FormatStringV(std::wstring& strOut, const wchar_t* pszFormat, va_list args)
{
    try {
        std::wstring strText;
        if (!FormatInto(strText, pszFormat, args))
            return false;
        strOut.swap(strText);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool FormatString(std::wstring& strOut, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    bool bOk = FormatStringV(strOut, pszFormat, args);
    va_end(args);
    return bOk;
}

bool AppendFormatStringV(std::wstring& strOut, const wchar_t* pszFormat, va_list args)
{
    try {
        std::wstring strText;
        if (!FormatInto(strText, pszFormat, args))
            return false;
        strOut += strText;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool AppendFormatString(std::wstring& strOut, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    bool bOk = AppendFormatStringV(strOut, pszFormat, args);
    va_end(args);
    return bOk;
}
