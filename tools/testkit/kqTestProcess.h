// Starting programs from tests and reading their full 32-bit exit code.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace kqtest {

struct ProcessResult
{
    bool bStarted = false;
    bool bTimedOut = false;
    DWORD dwStartError = 0;
    DWORD dwExitCode = 0;
};

struct ProcessOptions
{
    DWORD timeoutMs = 120000;
    // Empty: the test's own current folder.
    std::wstring workingDir;
    // "NAME=value" entries that replace (or add to) the test's own environment for the program;
    // empty: the program gets the test's environment unchanged.
    std::vector<std::wstring> environment;
    // Files the program's standard output and standard error are written to (created or
    // replaced); empty: the program shares the test's own.
    std::wstring stdOutFile;
    std::wstring stdErrFile;
};

// Runs a command line, waits up to the timeout and returns the exit code. A program still
// running at the timeout is terminated and reported as timed out.
ProcessResult RunProcess(const std::wstring& commandLine, const ProcessOptions& options);
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 120000,
                         const std::wstring& workingDir = std::wstring());

// Folder of the running executable, with a trailing backslash. Every program and test of the
// build lies in this folder.
std::wstring ExeFolder();

// Quotes one argument for a command line so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg);

}  // namespace kqtest
