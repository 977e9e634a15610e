// Owns the install UI module ("SetupShell.dll" in the install cache) for the install manager.
// Loading the UI frame and forwarding its operations come with the install run; until then the
// wrapper only owns (and on destruction unloads) whatever module it was given.
#pragma once
#include "kqModuleLoader.h"

class CInstallUIWrapper : public CModuleLoader
{
public:
    CInstallUIWrapper() = default;
    ~CInstallUIWrapper() override = default;
};
