#include "InstallManager.h"

HRESULT CInstallManager::Initialize(bool& bReboot)
{
    bReboot = false;
    return S_OK;
}
