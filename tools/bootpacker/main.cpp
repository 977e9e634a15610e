// bootpack.exe: the release engineers' package tool (see bpCommands.h).
#include <windows.h>
#include <cstdarg>
#include <cwchar>

#include "bpCommands.h"
#include "bpText.h"
#include "kqTrace.h"

namespace {

// The library's trace lines are shown only when asked for: the tool prints its own messages.
bool g_bVerbose = false;

void Trace(const char* pszLevel, const wchar_t* pszFormat, va_list args)
{
    if (!g_bVerbose)
        return;
    wchar_t szLine[2048];
    _vsnwprintf(szLine, sizeof(szLine) / sizeof(szLine[0]) - 1, pszFormat, args);
    szLine[sizeof(szLine) / sizeof(szLine[0]) - 1] = L'\0';
    std::wstring strLine = szLine;
    while (!strLine.empty() && (strLine.back() == L'\n' || strLine.back() == L'\r'))
        strLine.pop_back();
    WriteErr(std::string("  [") + pszLevel + "] " + ToUtf8(strLine) + "\n");
}

}  // namespace

void TraceInformation(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    Trace("info", pszFormat, args);
    va_end(args);
}

void TraceWarning(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    Trace("warning", pszFormat, args);
    va_end(args);
}

void TraceError(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    Trace("error", pszFormat, args);
    va_end(args);
}

int wmain(int argc, wchar_t** argv)
{
    Arguments args;
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    if (!args.empty() && args[0] == L"--verbose") {
        g_bVerbose = true;
        args.erase(args.begin());
    }
    return RunBootpack(args);
}
