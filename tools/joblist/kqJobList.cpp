// kqjoblist: prints the jobs the job manager has stored machine-wide, one block per job:
//   {job id}
//     Name = value
// Exit code 0, or 1 when the store cannot be read.
#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "kqJobStore.h"
#include "kqTrace.h"

namespace {

void PrintTrace(const wchar_t* pszLevel, const wchar_t* pszFormat, va_list args)
{
    fwprintf(stderr, L"%ls: ", pszLevel);
    vfwprintf(stderr, pszFormat, args);
    fwprintf(stderr, L"\n");
}

}  // namespace

void TraceInformation(const wchar_t* /*pszFormat*/, ...)
{
}

void TraceWarning(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    PrintTrace(L"warning", pszFormat, args);
    va_end(args);
}

void TraceError(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    PrintTrace(L"error", pszFormat, args);
    va_end(args);
}

int wmain(int /*argc*/, wchar_t** /*argv*/)
{
    std::vector<StoredJob> jobs;
    HRESULT hr = ReadJobStore(jobs);
    if (FAILED(hr))
    {
        fwprintf(stderr, L"kqjoblist: cannot read HKLM\\%ls (0x%08lX)\n", kszJobStoreKey,
                 static_cast<unsigned long>(hr));
        return 1;
    }
    wprintf(L"HKLM\\%ls: %u job(s)\n", kszJobStoreKey, static_cast<unsigned>(jobs.size()));
    for (const StoredJob& job : jobs)
    {
        wprintf(L"%ls\n", job.strId.c_str());
        for (const auto& entry : job.values)
            wprintf(L"  %ls = %ls\n", entry.first.c_str(), FormatJobValue(entry.second).c_str());
    }
    return 0;
}
