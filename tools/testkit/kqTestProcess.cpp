#include "kqTestProcess.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace kqtest {

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

// The name part of a "NAME=value" entry, with its '='.
std::wstring NamePart(const std::wstring& entry)
{
    const size_t equals = entry.find(L'=', 1);  // Windows keeps hidden "=C:=..." entries
    return equals == std::wstring::npos ? entry : entry.substr(0, equals + 1);
}

// The test's environment with the entries replaced or added, as a CREATE_UNICODE_ENVIRONMENT block.
std::vector<wchar_t> EnvironmentBlock(const std::vector<std::wstring>& entries)
{
    std::vector<wchar_t> block;
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* p = own; p && *p; p += wcslen(p) + 1) {
        const std::wstring name = NamePart(p);
        bool replaced = false;
        for (const std::wstring& entry : entries)
            replaced = replaced || CompareStringOrdinal(name.c_str(), -1, NamePart(entry).c_str(), -1, TRUE) == CSTR_EQUAL;
        if (!replaced)
            block.insert(block.end(), p, p + wcslen(p) + 1);
    }
    if (own)
        FreeEnvironmentStringsW(own);
    for (const std::wstring& entry : entries) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

HANDLE CreateInheritable(const std::wstring& path)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
}

// Under Wine, CreateProcess returns only once the new process has initialised, and on a
// loaded machine a start now and then fails there for no reason of the program's (seen once
// in hundreds of runs, on a machine other than this one). Such a start is tried again. Errors
// that describe the file or the command line fail at once.
const int kStartAttempts = 3;
// ERROR_ELEVATION_REQUIRED, which MinGW's headers lack.
const DWORD kElevationRequired = 740;

bool IsPassingStartError(DWORD dwError)
{
    switch (dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case kElevationRequired:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DIRECTORY:
        return false;
    default:
        return true;
    }
}

}  // namespace

ProcessResult RunProcess(const std::wstring& commandLine, const ProcessOptions& options)
{
    ProcessResult result;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    CHandle out;
    CHandle err;
    const bool redirect = !options.stdOutFile.empty() || !options.stdErrFile.empty();
    if (redirect) {
        if (!options.stdOutFile.empty())
            out.h = CreateInheritable(options.stdOutFile);
        if (!options.stdErrFile.empty())
            err.h = CreateInheritable(options.stdErrFile);
        if (out.h == INVALID_HANDLE_VALUE || err.h == INVALID_HANDLE_VALUE) {
            result.dwStartError = GetLastError();
            return result;
        }
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out.h ? out.h : GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError = err.h ? err.h : GetStdHandle(STD_ERROR_HANDLE);
    }
    std::vector<wchar_t> environment;
    if (!options.environment.empty())
        environment = EnvironmentBlock(options.environment);
    PROCESS_INFORMATION pi = {};
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, redirect ? TRUE : FALSE,
                           environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT,
                           environment.empty() ? nullptr : environment.data(),
                           options.workingDir.empty() ? nullptr : options.workingDir.c_str(), &si, &pi))
            break;
        result.dwStartError = GetLastError();
        fwprintf(stderr, L"RunProcess: attempt %d to start %ls failed with error %lu\n", attempt, mutableLine.data(),
                 result.dwStartError);
        if (attempt == kStartAttempts || !IsPassingStartError(result.dwStartError))
            return result;
        Sleep(500);
    }
    result.dwStartError = 0;
    CHandle process{pi.hProcess};
    CHandle thread{pi.hThread};
    result.bStarted = true;
    if (WaitForSingleObject(pi.hProcess, options.timeoutMs) != WAIT_OBJECT_0) {
        result.bTimedOut = true;
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    GetExitCodeProcess(pi.hProcess, &result.dwExitCode);
    return result;
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& workingDir)
{
    ProcessOptions options;
    options.timeoutMs = timeoutMs;
    options.workingDir = workingDir;
    return RunProcess(commandLine, options);
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
