// Joining paths and creating folder trees. Parts are joined with exactly one backslash.
// Nothing is thrown: out-of-memory and failures come back as false.
#pragma once
#include <cstdarg>
#include <string>

// strPath = strPath without its trailing backslashes + "\" + pszPart without its leading
// backslashes. An empty path gives "\" followed by the part. A null part counts as empty.
bool AppendPath(std::wstring& strPath, const wchar_t* pszPart);

// strOut = pszFolder joined with the formatted relative part (leading backslashes removed).
// An empty folder gives ".\" followed by the part; a folder that is only backslashes (the root
// of the current drive) gives "\" followed by the part.
bool CombinePathFormat(std::wstring& strOut, const wchar_t* pszFolder, const wchar_t* pszFormat, ...);
bool CombinePathFormatV(std::wstring& strOut, const wchar_t* pszFolder, const wchar_t* pszFormat, va_list args);

// Creates every missing folder of the path, left to right. Stops at the first folder that
// cannot be created (those made before it stay) and fails when a component is a file. True
// when the whole path exists as a folder afterwards.
bool CreateDirectoryTree(const wchar_t* pszPath);
