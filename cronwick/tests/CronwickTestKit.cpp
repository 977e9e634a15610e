#include "CronwickTestKit.h"

#include <cwchar>
#include "kqTestFiles.h"

namespace cwtest {

namespace {

struct CHandle
{
    HANDLE h = nullptr;
    ~CHandle()
    {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

// The process's environment with WINEDEBUG replaced.
std::vector<wchar_t> EnvironmentWithEventLog()
{
    std::vector<wchar_t> block;
    wchar_t* pszEnv = GetEnvironmentStringsW();
    for (const wchar_t* p = pszEnv; p && *p; p += wcslen(p) + 1)
        if (_wcsnicmp(p, L"WINEDEBUG=", 10) != 0)
            block.insert(block.end(), p, p + wcslen(p) + 1);
    if (pszEnv)
        FreeEnvironmentStringsW(pszEnv);
    const wchar_t kszDebug[] = L"WINEDEBUG=-all,err+eventlog";
    block.insert(block.end(), kszDebug, kszDebug + ARRAYSIZE(kszDebug));
    block.push_back(L'\0');
    return block;
}

// Wine writes each insertion string of an Error event as one line:
//   0123:err:eventlog:ReportEventW L"text"
// with backslashes and quotes escaped.
std::vector<std::wstring> ParseEventLines(const std::string& strOutput)
{
    std::vector<std::wstring> strings;
    const std::string strMarker = ":err:eventlog:ReportEventW L\"";
    size_t pos = 0;
    while ((pos = strOutput.find(strMarker, pos)) != std::string::npos)
    {
        pos += strMarker.size();
        size_t end = strOutput.find('\n', pos);
        std::string strLine = strOutput.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        if (!strLine.empty() && strLine.back() == '"')
            strLine.pop_back();
        std::wstring strText;
        for (size_t i = 0; i < strLine.size(); ++i)
        {
            if (strLine[i] == '\\' && i + 1 < strLine.size())
                ++i;
            strText.push_back(static_cast<wchar_t>(static_cast<unsigned char>(strLine[i])));
        }
        strings.push_back(strText);
    }
    return strings;
}

// The log the test's standard error goes to (run-capturing-stderr.sh), as a Windows path.
std::wstring ChildStdErrLog()
{
    wchar_t szPath[MAX_PATH * 2];
    DWORD cch = GetEnvironmentVariableW(L"KQ_CHILD_STDERR_LOG", szPath, ARRAYSIZE(szPath));
    if (cch == 0 || cch >= ARRAYSIZE(szPath))
        return std::wstring();
    std::wstring strPath(szPath, cch);
    if (!strPath.empty() && strPath[0] == L'/')
    {
        // A Unix path: Wine's drive Z: is the Unix root.
        for (wchar_t& ch : strPath)
            if (ch == L'/')
                ch = L'\\';
        strPath = L"Z:" + strPath;
    }
    return strPath;
}

}  // namespace

CronwickRun RunCronwick(const std::wstring& strFolder, const std::wstring& strArguments)
{
    CronwickRun run;
    std::wstring strLog = ChildStdErrLog();
    if (strLog.empty())
    {
        run.strStdErr = "KQ_CHILD_STDERR_LOG is not set: run the test through run-capturing-stderr.sh";
        return run;
    }
    size_t cbLogBefore = kqtest::ReadFileBytes(strLog).size();

    std::wstring strProgram = strFolder + L"Cronwick.exe";
    std::wstring strLine = L"\"" + strProgram + L"\"";
    if (!strArguments.empty())
        strLine += L" " + strArguments;
    std::vector<wchar_t> vecLine(strLine.begin(), strLine.end());
    vecLine.push_back(L'\0');
    std::vector<wchar_t> vecEnv = EnvironmentWithEventLog();

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(strProgram.c_str(), vecLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        vecEnv.data(), strFolder.c_str(), &si, &pi))
        return run;
    CHandle process{pi.hProcess};
    CHandle thread{pi.hThread};
    run.bStarted = true;
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0)
    {
        run.bTimedOut = true;
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    GetExitCodeProcess(pi.hProcess, &run.dwExitCode);
    std::string strLogNow = kqtest::ReadFileBytes(strLog);
    run.strStdErr = strLogNow.size() > cbLogBefore ? strLogNow.substr(cbLogBefore) : std::string();
    run.vecEventStrings = ParseEventLines(run.strStdErr);
    return run;
}

std::vector<std::wstring> EventStrings(const std::wstring& strMessage)
{
    return {L"TestWorker", strMessage};
}

CJobCleanup::CJobCleanup(std::vector<std::wstring> vecIds) : m_vecIds(std::move(vecIds))
{
    for (const std::wstring& strId : m_vecIds)
        RemoveStoredJob(strId);
}

CJobCleanup::~CJobCleanup()
{
    for (const std::wstring& strId : m_vecIds)
        RemoveStoredJob(strId);
}

JobValue StoredValue(const StoredJob& job, const wchar_t* pszName)
{
    auto it = job.values.find(pszName);
    if (it == job.values.end())
    {
        JobValue missing;
        missing.dwType = REG_NONE;
        return missing;
    }
    return it->second;
}

}  // namespace cwtest
