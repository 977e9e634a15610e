// The program's process-wide trace object. It starts under the name "CacheStub"; the install
// manager renames it once the run's log has its time-stamped name.
#pragma once
#include "kqRegistryDebugOutput.h"
#include "kqTrace.h"

class CBootlingDebugOutput : public CRegistryDebugOutput
{
public:
    CBootlingDebugOutput() : CRegistryDebugOutput(L"CacheStub") {}
    ~CBootlingDebugOutput() override;
};

CBootlingDebugOutput& GetProcessDebugOutput();
