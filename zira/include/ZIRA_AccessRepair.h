// The access repair the installer applies when an operation is refused: full access for the
// process token, then for BUILTIN\Administrators, then for LocalSystem. An exception from the
// checker ends the repair early; it is logged with the caller's own message.
#pragma once
#include <windows.h>

namespace ZIRA {

struct AccessRepairMessages
{
    // Format for CRightsChecker::Exception: the object's path and the int code.
    const wchar_t* pszException;
    // Format for an HRESULT exception: the object's path and the HRESULT.
    const wchar_t* pszHResult;
    // The checker's own exceptions are logged as a Warning (else as an Error).
    bool bExceptionAsWarning;
};

// False when an exception ended the repair.
bool RepairFileAccess(const wchar_t* pszPath, const AccessRepairMessages& messages);
bool RepairRegistryAccess(HKEY hHive, const wchar_t* pszPath, const AccessRepairMessages& messages);

}  // namespace ZIRA
