// Drives one run of the bootstrapper. This first form only accepts the hand-over from the
// entry point; the switches, folders, payload and install run come in later.
#pragma once
#include <windows.h>

class CInstallManager
{
public:
    CInstallManager() = default;
    ~CInstallManager() = default;

    CInstallManager(const CInstallManager&) = delete;
    CInstallManager& operator=(const CInstallManager&) = delete;

    // Runs the whole install; bReboot is set when Windows must restart afterwards.
    HRESULT Initialize(bool& bReboot);
};
