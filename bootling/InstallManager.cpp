#include "InstallManager.h"

#include <cwchar>
#include <new>

#include "Switches.h"
#include "TestModeUnpacker.h"
#include "kqTrace.h"

namespace {

// A test extraction never writes into a folder that is already there. An empty path names the
// current folder, which always is.
bool TestPathIsTaken(const wchar_t* pszPath)
{
    return *pszPath == L'\0' || GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

long SwitchNumber(const wchar_t* pszValue)
{
    return pszValue ? std::wcstol(pszValue, nullptr, 10) : 0;
}

CInstallManager::CInstallManager() = default;

CInstallManager::~CInstallManager()
{
    if (IsRunning()) {
        RequestStop();
        Wait(INFINITE);
    }
}

DWORD CInstallManager::Run()
{
    return static_cast<DWORD>(E_NOTIMPL);
}

HRESULT CInstallManager::RunOnceRelaunch(bool& bHandled)
{
    bHandled = false;
    // Until the relaunch exists the run goes on as it does when a relaunch cannot be started:
    // as if RUNONCE were absent.
    if (m_CommandLine.HasSwitch(Switch::kRunOnce))
        TraceWarning(L"CInstallManager::RunOnceRelaunch(61) : the relaunch from the RunOnce key is not built; "
                     L"going on without it");
    return S_OK;
}

HRESULT CInstallManager::Initialize(bool& bReboot)
{
    bReboot = false;
    // A line that cannot be split to its end still yields the switches before the fault.
    if (!m_CommandLine.Parse())
        TraceWarning(L"CInstallManager::Initialize(72) : the command line could not be read to its end: %s",
                     GetCommandLineW());
    if (!m_ModulePath.SplitModulePath() || m_ModulePath.GetLongPath().empty()) {
        TraceError(L"CInstallManager::Initialize(76) : failed to get the path of the program (%lu)", GetLastError());
        return E_UNEXPECTED;
    }

    bool bHandled = false;
    HRESULT hr = RunOnceRelaunch(bHandled);
    if (bHandled)
        return hr;

    hr = ProcessSwitches();
    if (FAILED(hr))
        return hr;

    if (const wchar_t* pszTest = m_CommandLine.GetValue(Switch::kTest))
        return CheckTestMode(pszTest, bHandled);

    // Never pretend success: without the install run there is nothing this run can do.
    TraceError(L"CInstallManager::Initialize(110) : the install run is not built yet: nothing was installed");
    return E_NOTIMPL;
}

HRESULT CInstallManager::ProcessSwitches()
{
    m_bSilent = m_CommandLine.HasSwitch(Switch::kQuietNoUI) || m_CommandLine.HasSwitch(Switch::kQuiet);
    m_bReducedUI = m_CommandLine.HasSwitch(Switch::kQuietBasic) || m_CommandLine.HasSwitch(Switch::kQuietReduced);
    m_bTrayOnly = m_CommandLine.HasSwitch(Switch::kTrayOnly);
    try {
        const wchar_t* pszMedia = m_CommandLine.GetValue(Switch::kMedia);
        if (pszMedia && *pszMedia)
            m_strPackagePath = pszMedia;
        else
            m_strPackagePath = m_ModulePath.GetLongPath();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

bool CInstallManager::ShowErrorsEnabled()
{
    if (m_CommandLine.HasSwitch(Switch::kShowErrors)) {
        const wchar_t* pszValue = m_CommandLine.GetValue(Switch::kShowErrors);
        return SwitchNumber(pszValue) != 0;
    }
    bool bShowErrors = false;
    return m_EmbeddedData.GetData(eEmbeddedKey_ShowErrors, bShowErrors) && bShowErrors;
}

HRESULT CInstallManager::CheckTestMode(const wchar_t* pszTestPath, bool& bHandled)
{
    const wchar_t* pszTestMode = m_CommandLine.GetValue(Switch::kTestMode);
    const bool bUnpackProduct = SwitchNumber(pszTestMode) != 0;
    bHandled = true;

    if (!m_bSilent || !pszTestPath || TestPathIsTaken(pszTestPath)) {
        TraceError(L"CInstallManager::CheckTestMode(844) : /TEST specified but canceled. make sure /qn is specified.");
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    }

    CTestModeUnpacker unpacker;
    try {
        unpacker.m_strTargetFolder = pszTestPath;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    unpacker.m_bUnpackProduct = bUnpackProduct;
    TraceInformation(L"Start: test extraction into %s (product archive unpacked: %d)", pszTestPath,
                     bUnpackProduct ? 1 : 0);
    HRESULT hr = unpacker.Extract(m_ModulePath.GetLongPath().c_str());
    TraceInformation(L"Finished: test extraction: 0x%08x", hr);
    return hr;
}
