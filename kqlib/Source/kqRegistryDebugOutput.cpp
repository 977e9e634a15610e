#include "kqRegistryDebugOutput.h"

#include "kqDebugOptions.h"

CRegistryDebugOutput::~CRegistryDebugOutput() = default;

bool CRegistryDebugOutput::Initialize()
{
    if (IsInitialized())
        return true;
    if (!Lock())
        return false;
    if (IsInitialized() || m_bInitializing) {
        Unlock();
        return true;
    }
    m_bInitializing = true;
    bool bResult = false;
    try {
        CDebugOptions options;
        if (options.Read() && options.ApplyTo(this))
            bResult = InitializeDefaults();
    } catch (...) {
        bResult = false;
    }
    m_bInitializing = false;
    MarkInitialized();
    Unlock();
    return bResult;
}
