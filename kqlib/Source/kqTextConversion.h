// Conversion between 8-bit text in the system ANSI code page and UTF-16, without replacement
// options. Both return false when the text cannot be converted or memory runs out.
#pragma once
#include <string>

bool AnsiToWide(const std::string& strText, std::wstring& strWide);
bool WideToAnsi(const std::wstring& strText, std::string& strAnsi);
