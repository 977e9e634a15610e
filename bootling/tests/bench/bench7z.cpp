// Benchmark: the 7z adapter against 7-Zip's own C reference extractor (7zdec) on the same
// archive, each in a process of its own, alternating; prints the times, the median ratio
// ours/reference and the peak memory of each. Not a test: bench7z.sh makes the archive and
// runs it by hand.
//   bench7z run <package> <offset> <length> <archive.7z> <workdir> <runs>
//   bench7z extract <package> <offset> <length> <outdir>      (one extraction, exit code = result)
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "UnpackerArchive.h"
#include "kqFile.h"
#include "kqFileStream.h"
#include "kqScopedHandle.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"
#include "kqTrace.h"
#include "kqWindowStream.h"

namespace {

void Trace(const wchar_t* pszLevel, const wchar_t* pszFormat, va_list args)
{
    fwprintf(stderr, L"%ls : ", pszLevel);
    vfwprintf(stderr, pszFormat, args);
    fwprintf(stderr, L"\n");
}

}  // namespace

void TraceInformation(const wchar_t*, ...) {}
void TraceWarning(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    Trace(L"Warning", pszFormat, args);
    va_end(args);
}
void TraceError(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    Trace(L"Error", pszFormat, args);
    va_end(args);
}

namespace {

HRESULT ExtractOurs(const wchar_t* pszPackage, ULONGLONG ullOffset, ULONGLONG ullLength, const wchar_t* pszOut)
{
    CSmartPtr<IByteStream> spFile;
    CFileStreamImpl* pFile = CreateFileStreamImpl();
    if (!pFile)
        return E_OUTOFMEMORY;
    spFile.Attach(pFile);
    if (!pFile->GetFile().Open(pszPackage, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0))
        return HRESULT_FROM_WIN32(pFile->GetFile().GetLastError());
    CSmartPtr<IByteStream> spWindow;
    spWindow.Attach(CWindowStream::CreateOnStream(spFile.Get(), ullOffset, ullLength));
    if (!spWindow)
        return E_OUTOFMEMORY;
    CUnpackerArchive archive;
    HRESULT hr = archive.InitializeAndOpen(spWindow.Get(), L"archive.Initialize failed: 0x%08x", L"archive.Open failed: 0x%08x");
    if (SUCCEEDED(hr))
        hr = archive->ExtractArchive(pszOut);
    return hr;
}

struct Measure
{
    double dSeconds = 0;
    SIZE_T cbPeakWorkingSet = 0;
    SIZE_T cbPeakPagefile = 0;
    DWORD dwExitCode = 0;
};

bool RunMeasured(const std::wstring& strCommand, const std::wstring& strDir, Measure& measure)
{
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring strLine = strCommand;
    LARGE_INTEGER liStart, liEnd, liFrequency;
    QueryPerformanceFrequency(&liFrequency);
    QueryPerformanceCounter(&liStart);
    if (!CreateProcessW(nullptr, &strLine[0], nullptr, nullptr, FALSE, 0, nullptr, strDir.c_str(), &si, &pi))
    {
        fwprintf(stderr, L"cannot start %ls (%lu)\n", strCommand.c_str(), GetLastError());
        return false;
    }
    const CScopedHandle process(pi.hProcess);
    const CScopedHandle thread(pi.hThread);
    // The peaks are read while the process lives: once it has ended, some systems report zeros.
    PROCESS_MEMORY_COUNTERS counters = {};
    for (;;)
    {
        bool bEnded = WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0;
        if (bEnded)
            QueryPerformanceCounter(&liEnd);
        PROCESS_MEMORY_COUNTERS now = {};
        now.cb = sizeof(now);
        if (GetProcessMemoryInfo(pi.hProcess, &now, sizeof(now)))
        {
            counters.PeakWorkingSetSize = std::max(counters.PeakWorkingSetSize, now.PeakWorkingSetSize);
            counters.PeakPagefileUsage = std::max(counters.PeakPagefileUsage, now.PeakPagefileUsage);
        }
        if (bEnded)
            break;
    }
    GetExitCodeProcess(pi.hProcess, &measure.dwExitCode);
    measure.dSeconds = static_cast<double>(liEnd.QuadPart - liStart.QuadPart) / static_cast<double>(liFrequency.QuadPart);
    measure.cbPeakWorkingSet = counters.PeakWorkingSetSize;
    measure.cbPeakPagefile = counters.PeakPagefileUsage;
    return true;
}

// The two files hold the same bytes.
bool SameFiles(const std::wstring& strA, const std::wstring& strB)
{
    CFile fileA;
    CFile fileB;
    ULONGLONG ullSizeA = 0;
    ULONGLONG ullSizeB = 0;
    if (!fileA.Open(strA.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0) ||
        !fileB.Open(strB.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0) ||
        !fileA.GetSize(&ullSizeA) || !fileB.GetSize(&ullSizeB) || ullSizeA != ullSizeB)
        return false;
    const DWORD kPiece = 1 << 20;
    std::vector<char> bufA(kPiece), bufB(kPiece);
    for (ULONGLONG ullLeft = ullSizeA; ullLeft > 0;)
    {
        const DWORD dwCount = static_cast<DWORD>(std::min<ULONGLONG>(ullLeft, kPiece));
        if (!fileA.Read(bufA.data(), dwCount) || !fileB.Read(bufB.data(), dwCount) ||
            memcmp(bufA.data(), bufB.data(), dwCount) != 0)
            return false;
        ullLeft -= dwCount;
    }
    return true;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Run(const std::wstring& strPackage, const std::wstring& strOffset, const std::wstring& strLength,
        const std::wstring& strArchive, const std::wstring& strWork, int nRuns)
{
    std::wstring strExe = kqtest::ExeFolder();
    std::wstring strOurs = strWork + L"\\ours";
    std::wstring strReference = strWork + L"\\reference";
    std::wstring strOursCommand = L"\"" + strExe + L"bench7z.exe\" extract \"" + strPackage + L"\" " + strOffset +
                                  L" " + strLength + L" \"" + strOurs + L"\"";
    std::wstring strReferenceCommand = L"\"" + strExe + L"7zdec.exe\" x \"" + strArchive + L"\"";
    std::vector<double> ratios, oursTimes, referenceTimes;
    SIZE_T cbOursWs = 0, cbOursPf = 0, cbRefWs = 0, cbRefPf = 0;
    for (int i = 0; i < nRuns; ++i)
    {
        Measure ours, reference;
        for (int nStep = 0; nStep < 2; ++nStep)
        {
            bool bOurs = (nStep == 0) == (i % 2 == 0);
            kqtest::RemoveTree(bOurs ? strOurs : strReference);
            CreateDirectoryW(strReference.c_str(), nullptr);
            if (bOurs ? !RunMeasured(strOursCommand, strWork, ours)
                      : !RunMeasured(strReferenceCommand, strReference, reference))
                return 2;
        }
        if (ours.dwExitCode != 0 || reference.dwExitCode != 0)
        {
            fwprintf(stderr, L"extraction failed: ours 0x%08lx, reference 0x%08lx\n", ours.dwExitCode,
                     reference.dwExitCode);
            return 3;
        }
        if (i == 0 && !SameFiles(strOurs + L"\\payload.bin", strReference + L"\\payload.bin"))
        {
            fwprintf(stderr, L"the two extractions differ\n");
            return 4;
        }
        wprintf(L"run %d: ours %.2f s (peak working set %.1f MB, peak pagefile %.1f MB), reference %.2f s (%.1f MB, %.1f MB)\n",
                i + 1, ours.dSeconds, ours.cbPeakWorkingSet / 1048576.0, ours.cbPeakPagefile / 1048576.0,
                reference.dSeconds, reference.cbPeakWorkingSet / 1048576.0, reference.cbPeakPagefile / 1048576.0);
        fflush(stdout);
        ratios.push_back(ours.dSeconds / reference.dSeconds);
        oursTimes.push_back(ours.dSeconds);
        referenceTimes.push_back(reference.dSeconds);
        cbOursWs = std::max(cbOursWs, ours.cbPeakWorkingSet);
        cbOursPf = std::max(cbOursPf, ours.cbPeakPagefile);
        cbRefWs = std::max(cbRefWs, reference.cbPeakWorkingSet);
        cbRefPf = std::max(cbRefPf, reference.cbPeakPagefile);
    }
    kqtest::RemoveTree(strOurs);
    kqtest::RemoveTree(strReference);
    wprintf(L"median: ours %.2f s, reference %.2f s, ratio ours/reference %.3f\n", Median(oursTimes),
            Median(referenceTimes), Median(ratios));
    wprintf(L"peak working set: ours %.1f MB, reference %.1f MB; peak pagefile: ours %.1f MB, reference %.1f MB\n",
            cbOursWs / 1048576.0, cbRefWs / 1048576.0, cbOursPf / 1048576.0, cbRefPf / 1048576.0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring strMode = argc > 1 ? argv[1] : L"";
    if (strMode == L"extract" && argc == 6)
    {
        HRESULT hr = ExtractOurs(argv[2], _wcstoui64(argv[3], nullptr, 10), _wcstoui64(argv[4], nullptr, 10), argv[5]);
        return static_cast<int>(hr);
    }
    if (strMode == L"run" && argc == 8)
        return Run(argv[2], argv[3], argv[4], argv[5], argv[6], _wtoi(argv[7]));
    fwprintf(stderr, L"usage: bench7z run <package> <offset> <length> <archive.7z> <workdir> <runs>\n"
                     L"       bench7z extract <package> <offset> <length> <outdir>\n");
    return 1;
}
