// Item paths from an archive are hostile input: before one is joined to a target folder it must
// be a plain relative path that cannot name anything outside that folder.
#pragma once
#include <string>

// True when the path is non-empty, relative and stays below the folder it is joined to: no
// component is empty, "..", only dots and blanks, or ends with a dot or blank (Windows trims
// those); no leading separator (backslash or slash); no colon anywhere (drive letters,
// alternate data streams); no component names a
// reserved device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with or without an
// extension or trailing blanks); no control characters.
bool IsContainedItemPath(const std::wstring& strPath);
