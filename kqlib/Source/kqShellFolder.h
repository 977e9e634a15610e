// Shell folder paths. Kept apart from the other path helpers: the isolation asks for them
// before any trace output exists.
#pragma once
#include <string>

// The file-system path of a shell folder (a CSIDL value; SHGFP_TYPE_CURRENT or
// SHGFP_TYPE_DEFAULT). False when the folder has none, including the S_FALSE answer that
// writes nothing.
bool GetShellFolderPath(int nFolder, unsigned long dwType, std::wstring& strPath);
