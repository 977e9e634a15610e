// Owns the install engine module ("SetupCore.dll" in the install cache) for the install
// manager. Loading the engine and forwarding its operations come with the install run; until
// then the wrapper only owns (and on destruction unloads) whatever module it was given.
#pragma once
#include "kqModuleLoader.h"

class CEngineWrapper : public CModuleLoader
{
public:
    CEngineWrapper() = default;
    ~CEngineWrapper() override = default;
};
