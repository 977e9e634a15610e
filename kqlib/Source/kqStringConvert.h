// Assignment, appending and code-page conversion of text. 8-bit text is in the system ANSI
// code page unless a conversion names another. Nothing is thrown: out-of-memory and conversion errors come back as
// false, and on false the output's content is unspecified. A null text counts as empty.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

bool AssignString(const wchar_t* pszText, std::wstring& strOut);
bool AssignStringA(const char* pszText, std::string& strOut);
bool AppendString(std::wstring& strOut, const wchar_t* pszText);

// 8-bit (ANSI code page) to UTF-16 and back. The counted forms convert exactly cch units,
// embedded zeros included; text in another code page (CP_THREAD_ACP, say) names it.
bool ConvertToWide(const char* pszText, std::wstring& strOut);
bool ConvertToWide(const char* pchText, size_t cch, std::wstring& strOut, UINT uCodePage = CP_ACP);
bool ConvertToAnsi(const wchar_t* pszText, std::string& strOut);
bool ConvertToAnsi(const wchar_t* pchText, size_t cch, std::string& strOut);
