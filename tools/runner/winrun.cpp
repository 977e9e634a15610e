// winrun: starts a Windows program, waits for it and prints its full 32-bit exit code as
// 0x%08X on standard output. A POSIX exit status keeps only 8 bits of it, so every test that
// cares about an exit code reads it here.
//   winrun [--timeout MS] PROGRAM [ARGUMENTS...]
// Exit code of winrun itself: 0 when the program ran to its end, 2 when it could not be
// started or the arguments are wrong, 3 when it was stopped at the timeout.
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>

#include "kqTestProcess.h"

int wmain(int argc, wchar_t** argv)
{
    int first = 1;
    DWORD timeoutMs = INFINITE;
    if (argc > 2 && wcscmp(argv[1], L"--timeout") == 0) {
        timeoutMs = wcstoul(argv[2], nullptr, 10);
        first = 3;
    }
    if (first >= argc) {
        fwprintf(stderr, L"usage: winrun [--timeout MS] PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::wstring commandLine;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            commandLine += L' ';
        commandLine += kqtest::QuoteArgument(argv[i]);
    }
    kqtest::ProcessResult result = kqtest::RunProcess(commandLine, timeoutMs);
    if (!result.bStarted) {
        fwprintf(stderr, L"winrun: cannot start %ls (error %lu)\n", argv[first], result.dwStartError);
        return 2;
    }
    printf("0x%08lX\n", static_cast<unsigned long>(result.dwExitCode));
    fflush(stdout);
    if (result.bTimedOut) {
        fwprintf(stderr, L"winrun: %ls did not end within %lu ms and was stopped\n", argv[first], timeoutMs);
        return 3;
    }
    return 0;
}
