#include "BootlingMain.h"

#include <objbase.h>

#include "BootlingTrace.h"
#include "InstallManager.h"
#include "jxProcessStartupPriorityMgr.h"
#include "kqComInitializer.h"
#include "kqCrashHandler.h"
#include "kqDebugOptions.h"
#include "kqPrivilege.h"

namespace {

const UINT kErrorMode = SEM_FAILCRITICALERRORS | SEM_NOALIGNMENTFAULTEXCEPT | SEM_NOOPENFILEERRORBOX;
const HRESULT kRestartInitiated = static_cast<HRESULT>(0x80070669);

void StartPriorityManager(JX::CProcessStartupPriorityMgr& priorityMgr)
{
    // Enabled on Windows Vista or later, retried every 200 ms for at most 300000 ms.
    priorityMgr.GetConfiguration().Initialize();
    const DWORD adwSetters[] = {JX::CProcessPrioritySetterMgr::eType_IO, JX::CProcessPrioritySetterMgr::eType_Page,
                                JX::CProcessPrioritySetterMgr::eType_CPU};
    for (DWORD dwKind : adwSetters) {
        if (!priorityMgr.AddPrioritySetter(dwKind)) {
            TraceError(L"wWinMain(91) : Unable to populate priority setters.");
            return;
        }
    }
    if (priorityMgr.Start(GetCurrentProcess()))
        TraceInformation(L"Started priority manager!");
    else
        TraceError(L"wWinMain(86) : Unable to manage process startup priority levels.");
}

}  // namespace

HRESULT CEntrySeams::InitializeInstall(CInstallManager& installManager, bool& bReboot)
{
    return installManager.Initialize(bReboot);
}

BOOL CEntrySeams::RestartWindows(UINT uFlags, DWORD dwReason)
{
    return ExitWindowsEx(uFlags, dwReason);
}

int BootlingMain(CEntrySeams& seams)
{
    SetErrorMode(kErrorMode);
    const DWORD dwStart = GetTickCount();

    // Without readable options the crash handler and the trace keep their defaults, silently.
    CDebugOptions options;
    if (options.Read()) {
        if (!g_CrashHandler.SetOptions(options))
            TraceError(L"wWinMain(61) : g_CrashHandler.SetOptions() == FALSE\n");
        GetProcessDebugOutput().ApplyOptions(options);
    }

    JX::CProcessStartupPriorityMgr priorityMgr;
    StartPriorityManager(priorityMgr);

    // COM stays initialised on this thread until the process ends.
    HRESULT hr = ComInitialize(eComMode_MultiThreaded);
    if (FAILED(hr)) {
        TraceError(L"wWinMain(100) : failed to coinitialize (0x%08x)", hr);
        priorityMgr.Stop();
        return hr;
    }
    HRESULT hrSecurity = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                              RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (hrSecurity != S_OK)
        TraceError(L"wWinMain(109) : CoInitializeSecurity() != S_OK, 0x%08X", hrSecurity);

    {
        CInstallManager installManager;
        bool bReboot = false;
        hr = seams.InitializeInstall(installManager, bReboot);
        if (bReboot || hr == kRestartInitiated) {
            CPrivilege shutdown;
            if (shutdown.Enable(SE_SHUTDOWN_NAME))
                seams.RestartWindows(EWX_REBOOT | EWX_FORCE,
                                     SHTDN_REASON_MAJOR_SOFTWARE | SHTDN_REASON_MINOR_INSTALLATION);
        }
    }

    priorityMgr.Stop();
    const DWORD dwEnd = GetTickCount();
    TraceInformation(L"Start: %lu, End: %lu, Total: %lu", dwStart, dwEnd, dwEnd - dwStart);
    TraceInformation(L"Bootling: Returned (0x%08x)", hr);
    return hr;
}
