// printf-style formatting into growable wide strings. Nothing is thrown: running out of
// memory, a missing or unusable format all come back as false.
#pragma once
#include <cstdarg>
#include <string>

// strOut = the formatted text. On false strOut's content is unspecified.
bool FormatString(std::wstring& strOut, const wchar_t* pszFormat, ...);
bool FormatStringV(std::wstring& strOut, const wchar_t* pszFormat, va_list args);

// Appends the formatted text to strOut. On false strOut's content is unspecified.
bool AppendFormatString(std::wstring& strOut, const wchar_t* pszFormat, ...);
bool AppendFormatStringV(std::wstring& strOut, const wchar_t* pszFormat, va_list args);
