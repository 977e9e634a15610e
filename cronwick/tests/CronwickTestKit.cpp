#include "CronwickTestKit.h"

#include "kqTestFiles.h"
#include "kqTestProcess.h"

namespace cwtest {

namespace {

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

    std::wstring strLine = kqtest::QuoteArgument(strFolder + L"Cronwick.exe");
    if (!strArguments.empty())
        strLine += L" " + strArguments;
    kqtest::ProcessOptions options;
    options.timeoutMs = 60000;
    options.workingDir = strFolder;
    // Wine's event-log channel on, so that the Error events reach the standard error log.
    options.environment = {L"WINEDEBUG=-all,err+eventlog"};
    const kqtest::ProcessResult process = kqtest::RunProcess(strLine, options);
    if (!process.bStarted)
        return run;
    run.bStarted = true;
    run.bTimedOut = process.bTimedOut;
    run.dwExitCode = process.dwExitCode;
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
