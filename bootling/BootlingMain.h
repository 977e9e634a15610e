// The life of one Bootling process, from error mode to exit code.
#pragma once
#include <windows.h>

class CInstallManager;

// The calls of the run sequence that tests must be able to replace: the install manager's
// run and the request to restart Windows.
class CEntrySeams
{
public:
    virtual ~CEntrySeams() = default;
    virtual HRESULT InitializeInstall(CInstallManager& installManager, bool& bReboot);
    virtual BOOL RestartWindows(UINT uFlags, DWORD dwReason);
};

int BootlingMain(CEntrySeams& seams);
