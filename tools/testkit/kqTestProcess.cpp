#include "kqTestProcess.h"

#include <vector>

namespace kqtest {

namespace {

struct CHandle
{
    HANDLE h = nullptr;
    ~CHandle() { if (h) CloseHandle(h); }
};

}  // namespace

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& workingDir)
{
    ProcessResult result;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDir.empty() ? nullptr : workingDir.c_str(), &si, &pi)) {
        result.dwStartError = GetLastError();
        return result;
    }
    CHandle process{pi.hProcess};
    CHandle thread{pi.hThread};
    result.bStarted = true;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        result.bTimedOut = true;
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    GetExitCodeProcess(pi.hProcess, &result.dwExitCode);
    return result;
}

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH * 4];
    DWORD len = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring folder(path, len);
    size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

std::wstring QuoteArgument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            out.append(backslashes * 2 + 1, L'\\');
        else
            out.append(backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

}  // namespace kqtest
