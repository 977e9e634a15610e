// Text helpers of the package tool: UTF-8 (settings files, messages, output) and UTF-16 (paths,
// the collection's wide strings), hexadecimal byte strings, and the tool's output streams.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Both return false for text that is not valid in its encoding.
bool Utf8ToWide(const std::string& strText, std::wstring& strWide);
bool WideToUtf8(const std::wstring& strText, std::string& strUtf8);
// Lossy forms for messages: invalid units become U+FFFD.
std::string ToUtf8(const std::wstring& strText);

// Lower-case hex digits, two per byte.
std::string FormatHex(const BYTE* pData, size_t cbData);
// Pairs of hex digits, either case; false for an odd count or another character.
bool ParseHex(const std::string& strText, std::vector<BYTE>& bytes);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (either case); false for anything else.
bool ParseGuid(const std::string& strText, GUID* pGuid);
std::string FormatGuidUtf8(const GUID& guid);

// Writes UTF-8 text to the standard output or error as it is (no newline added).
void WriteOut(const std::string& strText);
void WriteErr(const std::string& strText);
