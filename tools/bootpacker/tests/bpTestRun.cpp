#include "bpTestRun.h"

#include <gtest/gtest.h>

#include "kqTestFiles.h"
#include "kqTestProcess.h"

namespace bptest {

std::wstring BootpackExe()
{
    return kqtest::ExeFolder() + L"bootpack.exe";
}

std::wstring DataFile(const std::wstring& strName)
{
    return kqtest::ExeFolder() + L"bootpack_data\\" + strName;
}

RunResult RunBootpack(const std::vector<std::wstring>& args)
{
    RunResult result;
    kqtest::CTempDir temp;
    kqtest::ProcessOptions options;
    options.stdOutFile = temp / L"out.txt";
    options.stdErrFile = temp / L"err.txt";
    std::wstring strCommand = kqtest::QuoteArgument(BootpackExe());
    for (const std::wstring& strArg : args)
        strCommand += L" " + kqtest::QuoteArgument(strArg);
    const kqtest::ProcessResult run = kqtest::RunProcess(strCommand, options);
    if (!run.bStarted)
        return result;
    result.bStarted = true;
    result.dwExitCode = run.dwExitCode;
    result.strOut = kqtest::ReadFileBytes(options.stdOutFile);
    result.strErr = kqtest::ReadFileBytes(options.stdErrFile);
    return result;
}

nlohmann::ordered_json InspectJson(const std::wstring& strPackage)
{
    const RunResult run = RunBootpack({L"inspect", strPackage, L"--json"});
    EXPECT_EQ(0u, run.dwExitCode) << run.strErr;
    return nlohmann::ordered_json::parse(run.strOut, nullptr, false);
}

}  // namespace bptest
