#include "bpTestRun.h"

#include "kqTestFiles.h"
#include "kqTestProcess.h"

namespace bptest {

namespace {

struct CHandle
{
    HANDLE h = INVALID_HANDLE_VALUE;
    ~CHandle()
    {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

HANDLE CreateInheritable(const std::wstring& strPath)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    return CreateFileW(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
}

}  // namespace

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
    const std::wstring strOut = temp / L"out.txt";
    const std::wstring strErr = temp / L"err.txt";
    std::wstring strCommand = kqtest::QuoteArgument(BootpackExe());
    for (const std::wstring& strArg : args)
        strCommand += L" " + kqtest::QuoteArgument(strArg);
    {
        CHandle out{CreateInheritable(strOut)};
        CHandle err{CreateInheritable(strErr)};
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out.h;
        si.hStdError = err.h;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &strCommand[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
            return result;
        CHandle process{pi.hProcess};
        CHandle thread{pi.hThread};
        result.bStarted = true;
        if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 10000);
        }
        GetExitCodeProcess(pi.hProcess, &result.dwExitCode);
    }
    result.strOut = kqtest::ReadFileBytes(strOut);
    result.strErr = kqtest::ReadFileBytes(strErr);
    return result;
}

}  // namespace bptest
