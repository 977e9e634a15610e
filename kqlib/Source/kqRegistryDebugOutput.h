// A trace facility that takes its settings from the debug options in the registry on first use.
#pragma once
#include "kqDebugOutput.h"

class CRegistryDebugOutput : public CDebugOutput
{
public:
    explicit CRegistryDebugOutput(const wchar_t* pszModuleName) : CDebugOutput(pszModuleName) {}
    ~CRegistryDebugOutput() override;

protected:
    bool Initialize() override;

private:
    // Set while the options are read, so that a nested call on the same thread returns at once.
    bool m_bInitializing = false;
};
