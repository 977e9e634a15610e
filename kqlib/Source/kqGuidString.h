// The standard 38-character text form of a GUID: braces, upper-case hex digits.
#pragma once
#include <windows.h>
#include <string>

constexpr size_t kGuidStringChars = 38;

// Writes the text and a terminating zero; false when the buffer holds fewer than 39 characters.
bool FormatGuid(const GUID& guid, wchar_t* pszBuffer, size_t cchBuffer);
// The text form; empty only when memory runs out.
std::wstring FormatGuid(const GUID& guid);
