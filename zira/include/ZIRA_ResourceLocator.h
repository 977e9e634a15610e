// The shared library's resource module locator, as the installer library calls it.
#pragma once
#include <windows.h>
#include <string>

bool LocateResourceModule(const wchar_t* pszBaseFolder, const wchar_t* pszFileName, std::wstring& strPath,
                          LANGID& wLanguage);
