// The tool's options: switch/value pairs from its command line, in a process-wide map filled
// once at start and read by the registration.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include "kqL90U.h"

// Name to value, ordered and compared by code unit (case-sensitive). The first value given
// for a name stays.
typedef std::map<std::wstring, std::wstring> COptionMap;
extern COptionMap OptionMap;

// Parses the command line through the library module (prefixes "/-") and fills OptionMap
// from its tokens. A line that does not parse whole leaves what the parser had classified.
void BuildOptionMap(const wchar_t* pszCommandLine);
// Empties OptionMap and fills it from the tokens: each value token is stored under the switch
// before it, as typed (quotes included). The first token (the program) is passed over; a
// value with no switch before it is ignored.
void FillOptionMap(const CommandLineTokens& tokens);

// The value, or an empty string when the name is absent.
std::wstring GetOptionString(const wchar_t* pszName);
// The value read as a decimal integer (leading white space and a sign allowed, up to the first
// non-digit); 0 when absent or without leading digits.
int GetOptionInt(const wchar_t* pszName);
// The value as a braced GUID; the all-zero GUID when absent or not a GUID.
GUID GetOptionGuid(const wchar_t* pszName);
