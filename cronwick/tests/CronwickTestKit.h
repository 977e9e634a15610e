// Running Cronwick.exe from tests and reading back what it left: the exit code, the strings of
// the Error events it wrote (from Wine's event-log debug channel, which reaches this test's
// standard error and from there the log of run-capturing-stderr.sh) and
// the jobs in the job manager's store.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "kqJobStore.h"

namespace cwtest {

struct CronwickRun
{
    bool bStarted = false;
    bool bTimedOut = false;
    DWORD dwExitCode = 0xFFFFFFFF;
    // Insertion strings of every Error event, in order (two per event).
    std::vector<std::wstring> vecEventStrings;
    std::string strStdErr;
};

// Starts Cronwick.exe from the folder with the arguments (a command-line tail), with Wine's
// event-log channel switched on and its standard error captured, and waits for it.
CronwickRun RunCronwick(const std::wstring& strFolder, const std::wstring& strArguments);

// The insertion strings of one event with this message.
std::vector<std::wstring> EventStrings(const std::wstring& strMessage);

// Removes the jobs named (their id texts) when it goes, and before, for a run cut short.
class CJobCleanup
{
public:
    explicit CJobCleanup(std::vector<std::wstring> vecIds);
    ~CJobCleanup();
    CJobCleanup(const CJobCleanup&) = delete;
    CJobCleanup& operator=(const CJobCleanup&) = delete;

private:
    std::vector<std::wstring> m_vecIds;
};

// A stored value: its number, or its text; a missing value reads as the type REG_NONE.
JobValue StoredValue(const StoredJob& job, const wchar_t* pszName);

constexpr wchar_t kszZeroGuid[] = L"{00000000-0000-0000-0000-000000000000}";

}  // namespace cwtest
