// A module's version resource: the fixed block and the twelve standard strings of its first
// language and code page.
#pragma once
#include <windows.h>
#include <string>

class CVersionInfo
{
public:
    enum { eString_Count = 12 };
    static const wchar_t* const s_apszStringNames[eString_Count];

    bool Read(const wchar_t* pszPath);

    const VS_FIXEDFILEINFO& FixedInfo() const { return m_fixed; }
    // Empty when the resource has no such string.
    const std::wstring& GetString(const wchar_t* pszName) const;

private:
    VS_FIXEDFILEINFO m_fixed = {};
    std::wstring m_astrStrings[eString_Count];
};
