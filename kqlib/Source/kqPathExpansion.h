// Turns a path template with named tokens between percent signs ("%INSTALLCACHEDIR%\file",
// "%CSIDL_WINDOWS%") into a concrete path. A token's value comes from the silo's registry map
// "<registry root>\Orvane\PathExpansionMap" below HKEY_LOCAL_MACHINE, else from the shell
// folder names (CSIDL_...) and the silo folders LOCAL_SILO_DATA and COMMON_SILO_DATA.
#pragma once
#include <string>

class CIsolation;

// True on success, with the expanded path in strOutput. When the expansion fails strOutput
// holds the input unchanged; when the input is absent or the silo's map key cannot be opened
// (also when the silo has no registry root yet) strOutput is not touched.
bool ExpandPath(const wchar_t* pszInput, std::wstring& strOutput);
// The same for a given silo rather than the process's own.
bool ExpandPath(CIsolation& isolation, const wchar_t* pszInput, std::wstring& strOutput);
