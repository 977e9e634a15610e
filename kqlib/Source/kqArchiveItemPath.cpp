#include "kqArchiveItemPath.h"

namespace {

bool IsSeparator(wchar_t ch)
{
    return ch == L'\\' || ch == L'/';
}

wchar_t Upper(wchar_t ch)
{
    return (ch >= L'a' && ch <= L'z') ? static_cast<wchar_t>(ch - L'a' + L'A') : ch;
}

bool EqualsUpper(const std::wstring& strText, const wchar_t* pszUpper)
{
    size_t i = 0;
    for (; i < strText.size() && pszUpper[i]; ++i)
    {
        if (Upper(strText[i]) != pszUpper[i])
            return false;
    }
    return i == strText.size() && !pszUpper[i];
}

// Windows maps these names to devices in every folder, whatever follows the first dot; the
// superscript digits count as digits there too.
bool IsDeviceName(const std::wstring& strComponent)
{
    std::wstring strBase = strComponent.substr(0, strComponent.find(L'.'));
    while (!strBase.empty() && strBase.back() == L' ')
        strBase.pop_back();
    static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* pszName : kNames)
    {
        if (EqualsUpper(strBase, pszName))
            return true;
    }
    if (strBase.size() != 4)
        return false;
    std::wstring strStem = strBase.substr(0, 3);
    if (!EqualsUpper(strStem, L"COM") && !EqualsUpper(strStem, L"LPT"))
        return false;
    wchar_t chDigit = strBase[3];
    return (chDigit >= L'1' && chDigit <= L'9') || chDigit == 0x00B9 || chDigit == 0x00B2 || chDigit == 0x00B3;
}

bool IsSafeComponent(const std::wstring& strComponent)
{
    if (strComponent.empty())
        return false;
    // "..", and names such as "..." or ". ." that Windows trims down to a dot name.
    if (strComponent.find_first_not_of(L". ") == std::wstring::npos)
        return false;
    // Windows trims a trailing dot or blank, so the item would land under another item's name.
    if (strComponent.back() == L'.' || strComponent.back() == L' ')
        return false;
    return !IsDeviceName(strComponent);
}

}  // namespace

bool IsContainedItemPath(const std::wstring& strPath)
{
    if (strPath.empty() || IsSeparator(strPath[0]))
        return false;
    for (wchar_t ch : strPath)
    {
        if (ch == L':' || ch < 0x20)
            return false;
    }
    size_t posStart = 0;
    for (;;)
    {
        size_t posEnd = posStart;
        while (posEnd < strPath.size() && !IsSeparator(strPath[posEnd]))
            ++posEnd;
        if (!IsSafeComponent(strPath.substr(posStart, posEnd - posStart)))
            return false;
        if (posEnd == strPath.size())
            return true;
        posStart = posEnd + 1;
    }
}
