// Drives one run of the bootstrapper: parses the switches, settles the mode and, for now, runs
// the test extraction. The folders, the install cache and the install run come later; a run
// that would need them ends with E_NOTIMPL and says so in the log.
#pragma once
#include <windows.h>

#include <string>

#include "EngineWrapper.h"
#include "InstallUIWrapper.h"
#include "ZIRA_FileDataExtender.h"
#include "kqCommandLine.h"
#include "kqSmartPtr.h"
#include "kqSplitPath.h"
#include "kqThread.h"
#include "kqValueCollection.h"

// Keys of the package's embedded settings that the bootstrapper reads itself.
enum EEmbeddedKey : DWORD
{
    eEmbeddedKey_ProductId = 0,
    eEmbeddedKey_DefaultLanguage = 5,
    eEmbeddedKey_SiloId = 9,
    eEmbeddedKey_BuildId = 14,
    eEmbeddedKey_SiloRegistryHive = 18,
    eEmbeddedKey_ShowErrors = 53,
    eEmbeddedKey_TwoPhase = 100,
    eEmbeddedKey_NoReboot = 126,
};

class CInstallManager : public CThread
{
public:
    CInstallManager();
    // Stops and waits for the worker thread before the members it uses are gone.
    ~CInstallManager() override;

    // The whole run; bReboot is set when Windows must restart afterwards.
    HRESULT Initialize(bool& bReboot);
    // Fills the modes and the package path from the parsed command line: S_OK or E_OUTOFMEMORY.
    HRESULT ProcessSwitches();
    // SHOWERRORS with a nonzero number; without the switch, the package's own setting.
    bool ShowErrorsEnabled();
    // The test extraction asked for by TEST; always handles the run (bHandled = true).
    HRESULT CheckTestMode(const wchar_t* pszTestPath, bool& bHandled);

    // The run's state. The steps of the run, on the main thread and on the worker, read and
    // write it.
    CCommandLine m_CommandLine;
    CSplitPath m_ModulePath;
    std::wstring m_strBaseFolder;
    std::wstring m_strCacheFolder;
    std::wstring m_strLogFolder;
    std::wstring m_strTempFolder;
    std::wstring m_strProductId;
    // The file that carries the package: MEDIA's value, or the program's own file.
    std::wstring m_strPackagePath;
    std::wstring m_strSiloId;
    ZIRA::CFileDataExtender m_EmbeddedData;
    bool m_bSilent = false;
    bool m_bReducedUI = false;
    bool m_bTrayOnly = false;
    bool m_bSkipEngineSwitches = false;
    bool m_bExitAfterTray = false;
    bool m_bAbortRun = false;
    bool m_bRetryAllowed = false;
    bool m_bReExtracted = false;
    DWORD m_dwPatchMode = 0;
    // The answer of NeedsExtraction, remembered once it was worked out.
    bool m_bNeedsExtraction = true;
    bool m_bNeedsExtractionKnown = false;
    CSmartPtr<IKeyValueCollection> m_spResults;
    CInstallUIWrapper m_UIWrapper;
    CEngineWrapper m_EngineWrapper;
    CSmartPtr<IKeyValueCollection> m_spContext;
    HRESULT InstallResult = S_OK;

protected:
    // The install run on the worker thread (not built yet).
    DWORD Run() override;
    // The relaunch from the RunOnce key; bHandled = true ends the run with the result.
    virtual HRESULT RunOnceRelaunch(bool& bHandled);
};

// A switch's number: its leading decimal digits (an optional sign first); no digits give 0.
long SwitchNumber(const wchar_t* pszValue);
