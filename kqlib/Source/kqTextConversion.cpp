#include "kqTextConversion.h"
#include <windows.h>
#include <climits>
#include <new>

bool AnsiToWide(const std::string& strText, std::wstring& strWide)
{
    try
    {
        if (strText.empty())
        {
            strWide.clear();
            return true;
        }
        if (strText.size() > INT_MAX)
            return false;
        int cchText = static_cast<int>(strText.size());
        int cchWide = MultiByteToWideChar(CP_ACP, 0, strText.data(), cchText, nullptr, 0);
        if (cchWide <= 0)
            return false;
        std::wstring strResult(static_cast<size_t>(cchWide), L'\0');
        if (MultiByteToWideChar(CP_ACP, 0, strText.data(), cchText, &strResult[0], cchWide) != cchWide)
            return false;
        strWide.swap(strResult);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool WideToAnsi(const std::wstring& strText, std::string& strAnsi)
{
    try
    {
        if (strText.empty())
        {
            strAnsi.clear();
            return true;
        }
        if (strText.size() > INT_MAX)
            return false;
        int cchText = static_cast<int>(strText.size());
        int cbAnsi = WideCharToMultiByte(CP_ACP, 0, strText.data(), cchText, nullptr, 0, nullptr, nullptr);
        if (cbAnsi <= 0)
            return false;
        std::string strResult(static_cast<size_t>(cbAnsi), '\0');
        if (WideCharToMultiByte(CP_ACP, 0, strText.data(), cchText, &strResult[0], cbAnsi, nullptr, nullptr) != cbAnsi)
            return false;
        strAnsi.swap(strResult);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}
