// The crash handler's options, hook slots, dump naming, dump service rules and real minidumps.
#include <gtest/gtest.h>

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "kqCrashHandler.h"
#include "kqDumpServiceControl.h"
#include "kqSystemLibrary.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"

namespace {

const DWORD kMiniDumpSignature = 0x504D444D;  // "MDMP"



std::vector<std::wstring> FilesIn(const std::wstring& strFolder, const wchar_t* pszPattern)
{
    std::vector<std::wstring> vecFiles;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((strFolder + L"\\" + pszPattern).c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                vecFiles.push_back(data.cFileName);
        } while (FindNextFileW(hFind, &data));
        FindClose(hFind);
    }
    return vecFiles;
}

DWORD FileSignature(const std::wstring& strPath)
{
    DWORD dwSignature = 0;
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    DWORD cbRead = 0;
    ReadFile(hFile, &dwSignature, sizeof(dwSignature), &cbRead, nullptr);
    CloseHandle(hFile);
    return dwSignature;
}

std::wstring OwnName()
{
    wchar_t szPath[MAX_PATH];
    GetModuleFileNameW(nullptr, szPath, ARRAYSIZE(szPath));
    std::wstring strPath = szPath;
    std::wstring strName = strPath.substr(strPath.find_last_of(L'\\') + 1);
    return strName.substr(0, strName.rfind(L'.'));
}

CDebugOptions QuietOptions()
{
    CDebugOptions options;
    options.m_dwThrowOnNew = 0;
    return options;
}

// A handler whose crash paths stay inside the test: no dump service, no termination, a fixed
// clock and a recorded callback.
class CTestCrashHandler : public CCrashHandler
{
public:
    bool m_bServiceDone = false;
    int m_nServiceRequests = 0;
    int m_nTerminations = 0;
    DWORD m_dwCallbackEnabled = 0;
    std::wstring m_strCallbackPath;
    SYSTEMTIME m_time = {2024, 3, 0, 7, 9, 5, 4, 12};

protected:
    bool RequestServiceDump(DWORD, DWORD, EXCEPTION_POINTERS*) override
    {
        ++m_nServiceRequests;
        return m_bServiceDone;
    }
    void TerminateSelf() override { ++m_nTerminations; }
    void GetCrashTime(SYSTEMTIME& time) override { time = m_time; }
    bool ReadCallbackSettings(DWORD& dwEnabled, std::wstring& strPath) override
    {
        dwEnabled = m_dwCallbackEnabled;
        strPath = m_strCallbackPath;
        return true;
    }
};

class CrashHandler : public ::testing::Test
{
protected:
    kqtest::CTempDir m_temp;
    const std::wstring m_strFolder = m_temp.Path();
};

}  // namespace

TEST(CrashHandlerNaming, DumpFileNameParts)
{
    const SYSTEMTIME time = {2024, 3, 0, 7, 9, 5, 4, 12};
    struct Case
    {
        const wchar_t* pszVersion;
        bool bVersion;
        bool bDateTime;
        const wchar_t* pszExpected;
    };
    const Case cases[] = {
        {L"6.0.0.94", true, true, L"D:\\dumps\\Bootling-6.0.0.94-2024-03-07-09-05-04-012-4660.dmp"},
        {L"6.0.0.94", true, false, L"D:\\dumps\\Bootling-6.0.0.94-4660.dmp"},
        {L"6.0.0.94", false, true, L"D:\\dumps\\Bootling-2024-03-07-09-05-04-012-4660.dmp"},
        {L"", true, false, L"D:\\dumps\\Bootling-4660.dmp"},
        {L"6.0.0.94", false, false, L"D:\\dumps\\Bootling.dmp"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.pszExpected, CCrashHandler::BuildDumpFileName(L"D:\\dumps\\Bootling.dmp", c.pszVersion,
                                                                  c.bVersion, c.bDateTime, time, 0x1234));
    }
    // A dot in a folder name is no extension.
    EXPECT_EQ(L"C:\\a.b\\dump-4660", CCrashHandler::BuildDumpFileName(L"C:\\a.b\\dump", L"", true, false, time, 0x1234));
}

TEST(CrashHandlerNaming, CallbackCommandLine)
{
    EXPECT_EQ(L"/pid 12 /tid 34 /crashtype 2", CCrashHandler::BuildCallbackCommandLine(12, 34, 2, nullptr));
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0xC0000005;
    record.ExceptionAddress = reinterpret_cast<PVOID>(uintptr_t(0x401000));
    EXCEPTION_POINTERS pointers = {&record, nullptr};
    EXPECT_EQ(L"/pid 12 /tid 34 /crashtype 3 /exceptioncode 3221225477 /crashaddress 4198400 /exceptionpointer " +
                  std::to_wstring(reinterpret_cast<uintptr_t>(&pointers)),
              CCrashHandler::BuildCallbackCommandLine(12, 34, 3, &pointers));
}

TEST_F(CrashHandler, DefaultsHookBecauseOfThrowOnNew)
{
    CTestCrashHandler handler;
    CDebugOptions options;
    ASSERT_TRUE(handler.SetOptions(options));
    EXPECT_TRUE(handler.IsInstalled());
    EXPECT_NE(nullptr, handler.GetDbgHelpModule());
    // Without a crash directory the dump lies beside the program.
    wchar_t szPath[MAX_PATH];
    GetModuleFileNameW(nullptr, szPath, ARRAYSIZE(szPath));
    std::wstring strExpected = szPath;
    strExpected = strExpected.substr(0, strExpected.rfind(L'.')) + L".dmp";
    EXPECT_EQ(strExpected, handler.GetDumpPath());
    handler.Uninstall();
    EXPECT_FALSE(handler.IsInstalled());
    EXPECT_EQ(nullptr, handler.GetDbgHelpModule());
}

TEST_F(CrashHandler, OnlyAFlagOfOneHooks)
{
    CTestCrashHandler handler;
    CDebugOptions options = QuietOptions();
    ASSERT_TRUE(handler.SetOptions(options));
    EXPECT_FALSE(handler.IsInstalled());
    options.m_dwDumpOnException = 2;
    ASSERT_TRUE(handler.SetOptions(options));
    EXPECT_FALSE(handler.IsInstalled());
    options.m_dwTerminateOnInvalidParameter = 1;
    ASSERT_TRUE(handler.SetOptions(options));
    EXPECT_TRUE(handler.IsInstalled());
}

TEST_F(CrashHandler, HookSlotsBelongToOneHandlerAtATime)
{
    void (*pfnBefore)() = std::get_new_handler();
    LPTOP_LEVEL_EXCEPTION_FILTER pfnFilterBefore = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(pfnFilterBefore);
    {
        CTestCrashHandler first;
        CTestCrashHandler second;
        ASSERT_TRUE(first.Install());
        void (*pfnHook)() = std::get_new_handler();
        EXPECT_NE(pfnBefore, pfnHook);
        EXPECT_FALSE(second.Install());
        EXPECT_FALSE(second.IsInstalled());
        // The failed install left the first handler's hooks in place.
        EXPECT_EQ(pfnHook, std::get_new_handler());
        first.Uninstall();
        EXPECT_EQ(pfnBefore, std::get_new_handler());
        ASSERT_TRUE(second.Install());
    }
    EXPECT_EQ(pfnBefore, std::get_new_handler());
    LPTOP_LEVEL_EXCEPTION_FILTER pfnFilterAfter = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(pfnFilterAfter);
    EXPECT_EQ(pfnFilterBefore, pfnFilterAfter);
}

TEST_F(CrashHandler, CrashDirectoryGivesDumpPathAndItsOwnDbgHelp)
{
    CTestCrashHandler handler;
    CDebugOptions options;
    options.m_strDumpDirectory = m_strFolder + L"\\\\";
    ASSERT_TRUE(handler.SetOptions(options));
    EXPECT_EQ(m_strFolder + L"\\" + OwnName() + L".dmp", handler.GetDumpPath());
    wchar_t szModule[MAX_PATH];
    GetModuleFileNameW(handler.GetDbgHelpModule(), szModule, ARRAYSIZE(szModule));
    EXPECT_EQ(nullptr, wcsstr(szModule, m_strFolder.c_str()));

    // A DbgHelp found only as Directory\x86\DbgHelp.dll is loaded from there.
    wchar_t szSystem[MAX_PATH];
    GetSystemDirectoryW(szSystem, ARRAYSIZE(szSystem));
    ASSERT_TRUE(CreateDirectoryW((m_strFolder + L"\\x86").c_str(), nullptr));
    const std::wstring strCopy = m_strFolder + L"\\x86\\DbgHelp.dll";
    ASSERT_TRUE(CopyFileW((std::wstring(szSystem) + L"\\dbghelp.dll").c_str(), strCopy.c_str(), FALSE));
    ASSERT_TRUE(handler.SetOptions(options));
    ASSERT_NE(nullptr, handler.GetDbgHelpModule());
    GetModuleFileNameW(handler.GetDbgHelpModule(), szModule, ARRAYSIZE(szModule));
    EXPECT_EQ(0, _wcsicmp(strCopy.c_str(), szModule)) << szModule;
    handler.Uninstall();
}

TEST_F(CrashHandler, WriteDumpWritesARealMinidump)
{
    CCrashHandler handler;
    const std::wstring strPath = m_strFolder + L"\\direct.dmp";
    ASSERT_TRUE(handler.WriteDump(strPath.c_str(), 0 /* MiniDumpNormal */, nullptr));
    EXPECT_EQ(kMiniDumpSignature, FileSignature(strPath));
    EXPECT_FALSE(handler.WriteDump((m_strFolder + L"\\no-such-folder\\x.dmp").c_str(), 0, nullptr));
}

TEST_F(CrashHandler, ExceptionHookDumpsNamesTheFileAndLeavesTheProcessAlone)
{
    CTestCrashHandler handler;
    CDebugOptions options;
    options.m_strDumpDirectory = m_strFolder;
    options.m_dwDumpOnException = 1;
    options.m_dwTerminateOnException = 1;
    options.m_dwDumpType = 0;
    ASSERT_TRUE(handler.SetOptions(options));

    LPTOP_LEVEL_EXCEPTION_FILTER pfnHook = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(pfnHook);
    ASSERT_NE(nullptr, pfnHook);
    CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    EXCEPTION_POINTERS pointers = {&record, &context};
    EXPECT_EQ(EXCEPTION_CONTINUE_SEARCH, pfnHook(&pointers));

    EXPECT_EQ(1, handler.m_nServiceRequests);
    EXPECT_EQ(1, handler.m_nTerminations);
    const std::wstring strName = OwnName() + L"-" + (handler.GetVersion().empty() ? L"" : handler.GetVersion() + L"-") +
                                 L"2024-03-07-09-05-04-012-" + std::to_wstring(GetCurrentProcessId()) + L".dmp";
    EXPECT_EQ(std::vector<std::wstring>{strName}, FilesIn(m_strFolder, L"*.dmp"));
    EXPECT_EQ(kMiniDumpSignature, FileSignature(m_strFolder + L"\\" + strName));
}

TEST_F(CrashHandler, KindsWithoutDumpDoNothingAtAll)
{
    CTestCrashHandler handler;
    CDebugOptions options;
    options.m_strDumpDirectory = m_strFolder;
    options.m_dwTerminateOnException = 1;  // but no DumpOnException
    ASSERT_TRUE(handler.SetOptions(options));
    EXPECT_TRUE(handler.HandleCrash(eCrashKind_Exception, nullptr));
    EXPECT_EQ(0, handler.m_nServiceRequests);
    EXPECT_EQ(0, handler.m_nTerminations);
    EXPECT_TRUE(FilesIn(m_strFolder, L"*").empty());
}

TEST_F(CrashHandler, ServiceDumpSkipsTheInProcessDump)
{
    CTestCrashHandler handler;
    handler.m_bServiceDone = true;
    CDebugOptions options;
    options.m_strDumpDirectory = m_strFolder;
    ASSERT_TRUE(handler.SetOptions(options));
    EXPECT_TRUE(handler.HandleCrash(eCrashKind_DumpRequest, nullptr));
    EXPECT_EQ(1, handler.m_nServiceRequests);
    EXPECT_TRUE(FilesIn(m_strFolder, L"*").empty());
    EXPECT_EQ(0, handler.m_nTerminations);  // a dump request never ends the process
}

TEST_F(CrashHandler, NewHookDumpsAndThrows)
{
    CTestCrashHandler handler;
    handler.m_bServiceDone = true;
    CDebugOptions options;
    options.m_dwDumpOnNew = 1;
    ASSERT_TRUE(handler.SetOptions(options));
    void (*pfnHook)() = std::get_new_handler();
    ASSERT_NE(nullptr, pfnHook);
    EXPECT_THROW(pfnHook(), std::bad_alloc);
    EXPECT_EQ(1, handler.m_nServiceRequests);
    EXPECT_EQ(0, handler.m_nTerminations);  // TerminateOnNew is 0 in the default options
    // The allocator's own path: new fails with the standard exception, nothrow new with null.
    volatile size_t cbHuge = static_cast<size_t>(-1) / 4;
    EXPECT_THROW(delete[] new char[cbHuge], std::bad_alloc);
    EXPECT_EQ(2, handler.m_nServiceRequests);
    char* pHuge = new (std::nothrow) char[cbHuge];
    EXPECT_EQ(nullptr, pHuge);
    delete[] pHuge;
}

TEST_F(CrashHandler, InvalidParameterHookOnlyWhenItDumps)
{
    CTestCrashHandler handler;
    CDebugOptions options = QuietOptions();
    options.m_dwTerminateOnNew = 1;
    ASSERT_TRUE(handler.SetOptions(options));
    CTestCrashHandler other;
    CDebugOptions dumping = QuietOptions();
    dumping.m_dwDumpOnInvalidParameter = 1;
    // The first handler left the invalid-parameter slot free; the others are taken.
    EXPECT_FALSE(other.SetOptions(dumping));
    handler.Uninstall();
    other.m_bServiceDone = true;
    ASSERT_TRUE(other.SetOptions(dumping));
    // An older msvcrt.dll (Windows XP's, Wine's) has no invalid-parameter handler to replace.
    typedef void(__cdecl * PFN_HANDLER)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t);
    typedef PFN_HANDLER(__cdecl * PFN_SET)(PFN_HANDLER);
    auto pfnSet = reinterpret_cast<PFN_SET>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "_set_invalid_parameter_handler")));
    if (pfnSet) {
        PFN_HANDLER pfnHook = pfnSet(nullptr);
        pfnSet(pfnHook);
        ASSERT_NE(nullptr, pfnHook);
        pfnHook(nullptr, nullptr, nullptr, 0, 0);
        EXPECT_EQ(1, other.m_nServiceRequests);
    }
}

TEST_F(CrashHandler, CallbackProgramGetsTheCommandLine)
{
    CTestCrashHandler handler;
    handler.m_dwCallbackEnabled = 1;
    handler.m_strCallbackPath = kqtest::ExeFolder() + L"kqcrash_callback.exe";
    const std::wstring strOut = m_strFolder + L"\\callback.txt";
    SetEnvironmentVariableW(L"KQ_CALLBACK_OUT", strOut.c_str());
    CDebugOptions options;  // hooks through ThrowOnNew; the callback runs whether or not it dumps
    ASSERT_TRUE(handler.SetOptions(options));
    EXPECT_THROW(std::get_new_handler()(), std::bad_alloc);
    SetEnvironmentVariableW(L"KQ_CALLBACK_OUT", nullptr);

    HANDLE hFile = CreateFileW(strOut.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    wchar_t szText[512] = {};
    DWORD cbRead = 0;
    ReadFile(hFile, szText, sizeof(szText) - sizeof(wchar_t), &cbRead, nullptr);
    CloseHandle(hFile);
    EXPECT_EQ(L"/pid " + std::to_wstring(GetCurrentProcessId()) + L" /tid " + std::to_wstring(GetCurrentThreadId()) +
                  L" /crashtype 2",
              std::wstring(szText));
    EXPECT_EQ(0, handler.m_nServiceRequests);
}

namespace {

// The service control manager and clock of the dump service, scripted.
class CFakeDumpService : public CDumpServiceControl
{
public:
    bool m_bOpens = true;
    DWORD m_dwInitialState = SERVICE_STOPPED;
    int m_nRunningPolls = 2;  // polls that still find it running
    DWORD m_dwWaitHint = 30000;
    DWORD m_dwExitCode = 0;
    DWORD m_dwWin32ExitCode = NO_ERROR;
    bool m_bStarted = false;
    std::vector<std::wstring> m_vecArguments;
    std::vector<DWORD> m_vecSleeps;
    DWORD m_dwNow = 5000;

protected:
    bool Open() override { return m_bOpens; }
    void Close() override {}
    bool QueryStatus(SERVICE_STATUS& status) override
    {
        status = {};
        status.dwWaitHint = m_dwWaitHint;
        if (!m_bStarted) {
            status.dwCurrentState = m_dwInitialState;
        } else if (m_nRunningPolls-- > 0) {
            status.dwCurrentState = SERVICE_RUNNING;
        } else {
            status.dwCurrentState = SERVICE_STOPPED;
            status.dwWin32ExitCode = m_dwWin32ExitCode;
            status.dwServiceSpecificExitCode = m_dwExitCode;
        }
        return true;
    }
    bool Start(const std::vector<std::wstring>& vecArguments) override
    {
        m_bStarted = true;
        m_vecArguments = vecArguments;
        return true;
    }
    void Sleep(DWORD dwMs) override
    {
        m_vecSleeps.push_back(dwMs);
        m_dwNow += dwMs;
    }
    DWORD TickCount() override { return m_dwNow; }
};

}  // namespace

TEST(DumpServiceControl, StartsAStoppedServiceWithFourArgumentsAndWaits)
{
    CFakeDumpService service;
    int nPointers = 0;
    EXPECT_TRUE(service.RequestDump(1234, 5678, &nPointers));
    wchar_t szPointers[32];
    swprintf(szPointers, ARRAYSIZE(szPointers), L"%p", static_cast<void*>(&nPointers));
    EXPECT_EQ((std::vector<std::wstring>{L"1234", L"5678", std::to_wstring(sizeof(void*) * 8), szPointers}),
              service.m_vecArguments);
    // One second first, then a tenth of the 30 s wait hint per poll.
    EXPECT_EQ((std::vector<DWORD>{1000, 3000, 3000}), service.m_vecSleeps);
}

TEST(DumpServiceControl, WaitRules)
{
    EXPECT_EQ(1000u, CDumpServiceControl::PollInterval(0));
    EXPECT_EQ(1000u, CDumpServiceControl::PollInterval(9999));
    EXPECT_EQ(2500u, CDumpServiceControl::PollInterval(25000));
    EXPECT_EQ(10000u, CDumpServiceControl::PollInterval(200000));

    CFakeDumpService running;
    running.m_dwInitialState = SERVICE_RUNNING;
    EXPECT_FALSE(running.RequestDump(1, 2, nullptr));
    EXPECT_FALSE(running.m_bStarted);

    CFakeDumpService missing;
    missing.m_bOpens = false;
    EXPECT_FALSE(missing.RequestDump(1, 2, nullptr));
    EXPECT_FALSE(missing.m_bStarted);

    CFakeDumpService failed;
    failed.m_dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    failed.m_dwExitCode = 3;
    EXPECT_FALSE(failed.RequestDump(1, 2, nullptr));

    CFakeDumpService specificZero;
    specificZero.m_dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    EXPECT_TRUE(specificZero.RequestDump(1, 2, nullptr));

    // A service that never stops is given up on ten minutes after its start, on the virtual clock.
    CFakeDumpService hung;
    hung.m_nRunningPolls = 1000000;
    hung.m_dwWaitHint = 0;
    hung.m_dwNow = 0xFFFFF000;  // the tick count wraps during the wait
    EXPECT_FALSE(hung.RequestDump(1, 2, nullptr));
    DWORD dwTotal = 0;
    for (DWORD dw : hung.m_vecSleeps)
        dwTotal += dw;
    EXPECT_EQ(600000u, dwTotal);
}
