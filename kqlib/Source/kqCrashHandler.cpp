#include "kqCrashHandler.h"

#include <dbghelp.h>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "kqDumpServiceControl.h"
#include "kqIsolation.h"
#include "kqModuleFileName.h"
#include "kqPrivilege.h"
#include "kqScopedHandle.h"
#include "kqRegistryKey.h"
#include "kqSystemInfo.h"
#include "kqSystemLibrary.h"
#include "kqTrace.h"
#include "kqVersionInfo.h"

CCrashHandler g_CrashHandler;

namespace {

const char* const kDbgHelpExports[] = {
    "MiniDumpWriteDump",        "StackWalk64", "SymInitialize",        "SymCleanup",          "SymFunctionTableAccess64",
    "SymGetModuleBase64",       "SymFromAddr", "SymGetLineFromAddr64", "UnDecorateSymbolName", "UnDecorateSymbolNameW",
};

typedef BOOL(WINAPI* PFN_MINIDUMPWRITEDUMP)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                            PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

// The process-wide hook slots: one handler object at a time owns each.
PVOID volatile g_apSlots[4] = {};

// The run time's handler setters, looked up at run time: an older msvcrt.dll lacks them.
template <typename TFunction>
TFunction RuntimeExport(const char* pszName)
{
    HMODULE hRuntime = GetModuleHandleW(L"msvcrt.dll");
    if (!hRuntime)
        return nullptr;
    return reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(hRuntime, pszName)));
}


// Folder (with its trailing backslash), name without extension, and extension (with its dot).
bool SplitPath(const std::wstring& strPath, std::wstring& strFolder, std::wstring& strName, std::wstring& strExt)
{
    const size_t nSlash = strPath.find_last_of(L"\\/");
    const size_t nNameStart = nSlash == std::wstring::npos ? 0 : nSlash + 1;
    strFolder = strPath.substr(0, nNameStart);
    const size_t nDot = strPath.rfind(L'.');
    const size_t nNameEnd = (nDot == std::wstring::npos || nDot < nNameStart) ? strPath.size() : nDot;
    strName = strPath.substr(nNameStart, nNameEnd - nNameStart);
    strExt = strPath.substr(nNameEnd);
    return !strName.empty();
}

bool FileExists(const std::wstring& strPath)
{
    DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Exception information for a crash that came without any: the caller's context.
struct CSynthesizedException
{
    EXCEPTION_RECORD record = {};
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {};

    CSynthesizedException()
    {
        RtlCaptureContext(&context);
#if defined(_WIN64)
        record.ExceptionAddress = reinterpret_cast<PVOID>(context.Rip);
#else
        record.ExceptionAddress = reinterpret_cast<PVOID>(context.Eip);
#endif
        pointers.ExceptionRecord = &record;
        pointers.ContextRecord = &context;
    }
};

}  // namespace

CCrashHandler::CCrashHandler()
{
    for (int i = 0; i < eKind_Count; ++i) {
        m_adwDump[i] = 0;
        m_adwTerminate[i] = 1;
    }
}

CCrashHandler::~CCrashHandler()
{
    Uninstall();
}

bool CCrashHandler::SetOptions(const CDebugOptions& options)
{
    CAutoLock lock(m_settingsLock);
    UninstallLocked();
    m_adwDump[eCrashKind_New] = options.m_dwDumpOnNew;
    m_adwTerminate[eCrashKind_New] = options.m_dwTerminateOnNew;
    m_adwDump[eCrashKind_Exception] = options.m_dwDumpOnException;
    m_adwTerminate[eCrashKind_Exception] = options.m_dwTerminateOnException;
    m_adwDump[eCrashKind_Purecall] = options.m_dwDumpOnPurecall;
    m_adwTerminate[eCrashKind_Purecall] = options.m_dwTerminateOnPurecall;
    m_adwDump[eCrashKind_Security] = options.m_dwDumpOnSecurity;
    m_adwTerminate[eCrashKind_Security] = options.m_dwTerminateOnSecurity;
    m_adwDump[eCrashKind_InvalidParameter] = options.m_dwDumpOnInvalidParameter;
    m_adwTerminate[eCrashKind_InvalidParameter] = options.m_dwTerminateOnInvalidParameter;
    m_dwThrowOnNew = options.m_dwThrowOnNew;
    m_dwAppendDateTimeToFile = options.m_dwAppendDateTimeToFile;
    m_dwAppendVersionToFile = options.m_dwAppendVersionToFile;
    m_dwDumpType = options.m_dwDumpType;

    std::wstring strDirectory;
    try {
        strDirectory = options.m_strDumpDirectory;
        while (!strDirectory.empty() && strDirectory.back() == L'\\')
            strDirectory.pop_back();
        m_strDumpPath.clear();
        if (!options.m_strDumpDirectory.empty()) {
            std::wstring strOwnPath, strFolder, strName, strExt;
            if (!GetModuleFileNameString(nullptr, strOwnPath) || !SplitPath(strOwnPath, strFolder, strName, strExt)) {
                TraceError(L"CCrashHandler::SetOptions(%d) : Unable to split the program path", __LINE__);
                return false;
            }
            m_strDumpPath = strDirectory + L"\\" + strName + L".dmp";
        }
    } catch (const std::bad_alloc&) {
        TraceError(L"CCrashHandler::SetOptions(%d) : Out of memory", __LINE__);
        return false;
    }

    // Only the value 1 asks for hooks here; once hooked any value but 0 counts.
    const DWORD adwFlags[] = {m_adwDump[2], m_adwTerminate[2], m_adwDump[3], m_adwTerminate[3],
                              m_adwDump[4], m_adwTerminate[4], m_adwDump[5], m_adwTerminate[5],
                              m_adwDump[6], m_adwTerminate[6], m_dwThrowOnNew};
    bool bAnyOne = false;
    for (DWORD dwFlag : adwFlags)
        bAnyOne = bAnyOne || dwFlag == 1;
    if (!bAnyOne)
        return true;
    if (!InstallLocked())
        return false;
    if (options.m_strDumpDirectory.empty())
        return true;

    // A DbgHelp shipped with the dumps' folder is newer than the system's.
    std::wstring strDbgHelp = strDirectory + L"\\DbgHelp.dll";
    if (!FileExists(strDbgHelp)) {
        strDbgHelp = strDirectory + L"\\x86\\DbgHelp.dll";
        if (!FileExists(strDbgHelp))
            return true;
    }
    UnloadDbgHelp();
    return LoadDbgHelp(strDbgHelp, false);
}

bool CCrashHandler::LoadDbgHelp(const std::wstring& strPath, bool bSystemFolder)
{
    UnloadDbgHelp();
    // The altered search path lets a DbgHelp take its own dependencies from its folder.
    m_hDbgHelp = bSystemFolder ? LoadSystemLibrary(strPath.c_str())
                               : LoadLibraryExW(strPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m_hDbgHelp) {
        TraceError(L"CCrashHandler::LoadDbgHelp(%d) : Unable to load %s, last error 0x%08x", __LINE__, strPath.c_str(),
                   GetLastError());
        return false;
    }
    for (int i = 0; i < eDbgHelp_Count; ++i) {
        m_apfnDbgHelp[i] = GetProcAddress(m_hDbgHelp, kDbgHelpExports[i]);
        if (!m_apfnDbgHelp[i]) {
            TraceError(L"CCrashHandler::LoadDbgHelp(%d) : %s lacks %hs", __LINE__, strPath.c_str(),
                       kDbgHelpExports[i]);
            UnloadDbgHelp();
            return false;
        }
    }
    return true;
}

void CCrashHandler::UnloadDbgHelp()
{
    for (FARPROC& pfn : m_apfnDbgHelp)
        pfn = nullptr;
    if (m_hDbgHelp)
        FreeLibrary(m_hDbgHelp);
    m_hDbgHelp = nullptr;
}

bool CCrashHandler::Install()
{
    CAutoLock lock(m_settingsLock);
    return InstallLocked();
}

void CCrashHandler::Uninstall()
{
    CAutoLock lock(m_settingsLock);
    UninstallLocked();
}

bool CCrashHandler::TakeSlot(eSlot slot)
{
    if (InterlockedCompareExchangePointer(&g_apSlots[slot], this, nullptr) != nullptr) {
        TraceError(L"CCrashHandler::Install(%d) : Hook %d is held by another crash handler", __LINE__,
                   static_cast<int>(slot));
        return false;
    }
    m_abSlotTaken[slot] = true;
    return true;
}

void CCrashHandler::FreeSlot(eSlot slot)
{
    if (m_abSlotTaken[slot])
        InterlockedCompareExchangePointer(&g_apSlots[slot], nullptr, this);
    m_abSlotTaken[slot] = false;
}

CCrashHandler* CCrashHandler::SlotOwner(eSlot slot)
{
    return static_cast<CCrashHandler*>(InterlockedCompareExchangePointer(&g_apSlots[slot], nullptr, nullptr));
}

bool CCrashHandler::InstallLocked()
{
    UninstallLocked();
    bool bResult = false;
    try {
        bResult = LoadDbgHelp(L"DBGHELP.DLL", true);
        // The program's path names the default dump and gives the version: asked for once.
        std::wstring strOwnPath;
        const bool bOwnPath = bResult && GetModuleFileNameString(nullptr, strOwnPath);
        if (bResult && m_strDumpPath.empty()) {
            std::wstring strFolder, strName, strExt;
            bResult = bOwnPath && SplitPath(strOwnPath, strFolder, strName, strExt);
            if (bResult)
                m_strDumpPath = strFolder + strName + L".dmp";
        }
        if (bResult) {
            CVersionInfo version;
            m_strVersion.clear();
            if (bOwnPath && version.Read(strOwnPath.c_str()))
                m_strVersion = version.GetString(L"FileVersion");
        }
    } catch (const std::bad_alloc&) {
        TraceError(L"CCrashHandler::Install(%d) : Out of memory", __LINE__);
        bResult = false;
    }

    if (bResult && (bResult = TakeSlot(eSlot_New)))
        m_pfnPreviousNew = std::set_new_handler(NewHook);

    if (bResult && (bResult = TakeSlot(eSlot_Purecall))) {
        auto pfnSet = RuntimeExport<PFN_PURECALL (__cdecl*)(PFN_PURECALL)>("_set_purecall_handler");
        if (pfnSet) {
            // Without a dump a pure call faults on this value and reaches the exception filter.
            PFN_PURECALL pfnHook = m_adwDump[eCrashKind_Purecall] ? PurecallHook
                                                                   : reinterpret_cast<PFN_PURECALL>(uintptr_t(1));
            m_pfnPreviousPurecall = pfnSet(pfnHook);
        }
    }

    if (bResult && (bResult = TakeSlot(eSlot_Exception)))
        m_pfnPreviousFilter = SetUnhandledExceptionFilter(ExceptionHook);

    if (bResult && m_adwDump[eCrashKind_InvalidParameter] && (bResult = TakeSlot(eSlot_InvalidParameter))) {
        auto pfnSet = RuntimeExport<PFN_INVALID_PARAMETER (__cdecl*)(PFN_INVALID_PARAMETER)>(
            "_set_invalid_parameter_handler");
        if (pfnSet)
            m_pfnPreviousInvalidParameter = pfnSet(InvalidParameterHook);
    }

    if (!bResult) {
        UninstallLocked();
        return false;
    }
    m_bInstalled = true;
    return true;
}

void CCrashHandler::UninstallLocked()
{
    if (m_abSlotTaken[eSlot_InvalidParameter]) {
        auto pfnSet = RuntimeExport<PFN_INVALID_PARAMETER (__cdecl*)(PFN_INVALID_PARAMETER)>(
            "_set_invalid_parameter_handler");
        if (pfnSet)
            pfnSet(m_pfnPreviousInvalidParameter);
        m_pfnPreviousInvalidParameter = nullptr;
        FreeSlot(eSlot_InvalidParameter);
    }
    if (m_abSlotTaken[eSlot_Exception]) {
        SetUnhandledExceptionFilter(m_pfnPreviousFilter);
        m_pfnPreviousFilter = nullptr;
        FreeSlot(eSlot_Exception);
    }
    if (m_abSlotTaken[eSlot_Purecall]) {
        auto pfnSet = RuntimeExport<PFN_PURECALL (__cdecl*)(PFN_PURECALL)>("_set_purecall_handler");
        if (pfnSet)
            pfnSet(m_pfnPreviousPurecall);
        m_pfnPreviousPurecall = nullptr;
        FreeSlot(eSlot_Purecall);
    }
    if (m_abSlotTaken[eSlot_New]) {
        std::set_new_handler(m_pfnPreviousNew);
        m_pfnPreviousNew = nullptr;
        FreeSlot(eSlot_New);
    }
    UnloadDbgHelp();
    m_bInstalled = false;
}

void CCrashHandler::NewHook()
{
    CCrashHandler* pHandler = SlotOwner(eSlot_New);
    if (!pHandler)
        throw std::bad_alloc();
    if (InterlockedCompareExchange(&pHandler->m_lHandlingNew, 1, 0) == 0) {
        pHandler->RunCallbackProgram(eCrashKind_New, nullptr);
        pHandler->HandleCrash(eCrashKind_New, nullptr);
        InterlockedExchange(&pHandler->m_lHandlingNew, 0);
    }
    // This run time's operator new calls the handler again for as long as it returns, so a
    // handler that returned would never let the allocation fail: it always ends in the
    // allocator's out-of-memory exception (nothrow new turns that into a null result).
    throw std::bad_alloc();
}

void __cdecl CCrashHandler::PurecallHook()
{
    CCrashHandler* pHandler = SlotOwner(eSlot_Purecall);
    PFN_PURECALL pfnPrevious = nullptr;
    if (pHandler) {
        pHandler->RunCallbackProgram(eCrashKind_Purecall, nullptr);
        pHandler->HandleCrash(eCrashKind_Purecall, nullptr);
        pfnPrevious = pHandler->m_pfnPreviousPurecall;
    }
    if (pfnPrevious) {
        pfnPrevious();
        return;
    }
    if (pHandler)
        pHandler->Uninstall();
    auto pfnPurecall = RuntimeExport<PFN_PURECALL>("_purecall");
    if (pfnPurecall)
        pfnPurecall();
    abort();
}

LONG WINAPI CCrashHandler::ExceptionHook(EXCEPTION_POINTERS* pExceptionPointers)
{
    CCrashHandler* pHandler = SlotOwner(eSlot_Exception);
    if (!pHandler)
        return EXCEPTION_CONTINUE_SEARCH;
    pHandler->RunCallbackProgram(eCrashKind_Exception, pExceptionPointers);
    pHandler->HandleCrash(eCrashKind_Exception, pExceptionPointers);
    LPTOP_LEVEL_EXCEPTION_FILTER pfnPrevious = pHandler->m_pfnPreviousFilter;
    return pfnPrevious ? pfnPrevious(pExceptionPointers) : EXCEPTION_CONTINUE_SEARCH;
}

void __cdecl CCrashHandler::InvalidParameterHook(const wchar_t* pszExpression, const wchar_t* pszFunction,
                                                 const wchar_t* pszFile, unsigned int uLine, uintptr_t pReserved)
{
    CCrashHandler* pHandler = SlotOwner(eSlot_InvalidParameter);
    if (!pHandler)
        return;
    pHandler->RunCallbackProgram(eCrashKind_InvalidParameter, nullptr);
    pHandler->HandleCrash(eCrashKind_InvalidParameter, nullptr);
    if (pHandler->m_pfnPreviousInvalidParameter)
        pHandler->m_pfnPreviousInvalidParameter(pszExpression, pszFunction, pszFile, uLine, pReserved);
}

std::wstring CCrashHandler::BuildCallbackCommandLine(DWORD dwProcessId, DWORD dwThreadId, DWORD dwKind,
                                                     const EXCEPTION_POINTERS* pExceptionPointers)
{
    wchar_t szPart[64];
    swprintf(szPart, ARRAYSIZE(szPart), L"%ls %u", L"/pid", static_cast<unsigned>(dwProcessId));
    std::wstring strCommandLine = szPart;
    auto append = [&strCommandLine, &szPart](const wchar_t* pszName, unsigned long long ullValue) {
        swprintf(szPart, ARRAYSIZE(szPart), L" %ls %llu", pszName, ullValue);
        strCommandLine += szPart;
    };
    append(L"/tid", dwThreadId);
    append(L"/crashtype", dwKind);
    if (pExceptionPointers) {
        const EXCEPTION_RECORD* pRecord = pExceptionPointers->ExceptionRecord;
        append(L"/exceptioncode", pRecord ? pRecord->ExceptionCode : 0);
        append(L"/crashaddress", pRecord ? reinterpret_cast<uintptr_t>(pRecord->ExceptionAddress) : 0);
        append(L"/exceptionpointer", reinterpret_cast<uintptr_t>(pExceptionPointers));
    }
    return strCommandLine;
}

bool CCrashHandler::ReadCallbackSettings(DWORD& dwEnabled, std::wstring& strPath)
{
    std::wstring strRoot;
    if (!CIsolation::Instance().GetSiloRegistryRoot(strRoot))
        return false;
    CRegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, (strRoot + L"\\Orvane\\Debug\\CrashHandler").c_str(),
                  KEY_READ | Wow64RegistryView()))
        return false;
    return key.QueryDWORD(L"CallbackEnabled", dwEnabled) && key.QueryString(L"CallbackPath", strPath);
}

void CCrashHandler::RunCallbackProgram(DWORD dwKind, EXCEPTION_POINTERS* pExceptionPointers)
{
    try {
        DWORD dwEnabled = 0;
        std::wstring strPath;
        if (!ReadCallbackSettings(dwEnabled, strPath) || dwEnabled == 0 || strPath.empty())
            return;
        std::wstring strCommandLine =
            BuildCallbackCommandLine(GetCurrentProcessId(), GetCurrentThreadId(), dwKind, pExceptionPointers);
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(strPath.c_str(), &strCommandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                            nullptr, &si, &pi))
            return;
        CloseHandle(pi.hThread);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
    } catch (...) {
        // A callback that cannot be started is skipped.
    }
}

bool CCrashHandler::RequestServiceDump(DWORD dwProcessId, DWORD dwThreadId, EXCEPTION_POINTERS* pExceptionPointers)
{
    CDumpServiceControl service;
    return service.RequestDump(dwProcessId, dwThreadId, pExceptionPointers);
}

void CCrashHandler::TerminateSelf()
{
    TerminateProcess(GetCurrentProcess(), 0xFFFFFFFF);
}

void CCrashHandler::GetCrashTime(SYSTEMTIME& time)
{
    GetLocalTime(&time);
}

std::wstring CCrashHandler::BuildDumpFileName(const std::wstring& strDumpPath, const std::wstring& strVersion,
                                              bool bAppendVersion, bool bAppendDateTime, const SYSTEMTIME& time,
                                              DWORD dwProcessId)
{
    if (!bAppendVersion && !bAppendDateTime)
        return strDumpPath;
    std::wstring strFolder, strName, strExt;
    SplitPath(strDumpPath, strFolder, strName, strExt);
    std::wstring strFile = strFolder + strName;
    wchar_t szPart[64];
    if (bAppendVersion && !strVersion.empty())
        strFile += L"-" + strVersion;
    if (bAppendDateTime) {
        swprintf(szPart, ARRAYSIZE(szPart), L"-%04d-%02d-%02d-%02d-%02d-%02d-%03d", time.wYear, time.wMonth, time.wDay,
                 time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
        strFile += szPart;
    }
    swprintf(szPart, ARRAYSIZE(szPart), L"-%ld", static_cast<long>(dwProcessId));
    strFile += szPart;
    return strFile + strExt;
}

bool CCrashHandler::HandleCrash(DWORD dwKind, EXCEPTION_POINTERS* pExceptionPointers)
{
    if (dwKind == 0 || dwKind >= eKind_Count)
        return false;
    CAutoLock lock(m_crashLock);
    if (dwKind != eCrashKind_DumpRequest && m_adwDump[dwKind] == 0)
        return true;

    CSynthesizedException synthesized;
    EXCEPTION_POINTERS* pPointers = pExceptionPointers ? pExceptionPointers : &synthesized.pointers;
    if (RequestServiceDump(GetCurrentProcessId(), GetCurrentThreadId(), pPointers))
        return true;

    bool bResult = DumpInProcess(dwKind, pPointers);
    if (dwKind != eCrashKind_DumpRequest && m_adwTerminate[dwKind] != 0)
        TerminateSelf();
    return bResult;
}

bool CCrashHandler::DumpInProcess(DWORD /*dwKind*/, EXCEPTION_POINTERS* pExceptionPointers)
{
    try {
        SYSTEMTIME time = {};
        GetCrashTime(time);
        const std::wstring strFile = BuildDumpFileName(m_strDumpPath, m_strVersion, m_dwAppendVersionToFile != 0,
                                                       m_dwAppendDateTimeToFile != 0, time, GetCurrentProcessId());
        return WriteDump(strFile.c_str(), m_dwDumpType, pExceptionPointers);
    } catch (...) {
        return false;
    }
}

bool CCrashHandler::WriteDump(const wchar_t* pszPath, DWORD dwDumpType, EXCEPTION_POINTERS* pExceptionPointers)
{
    if (!pszPath || !*pszPath)
        return false;
    {
        CAutoLock lock(m_settingsLock);
        if (!m_hDbgHelp && !LoadDbgHelp(L"DBGHELP.DLL", true))
            return false;
    }
    auto pfnWrite = reinterpret_cast<PFN_MINIDUMPWRITEDUMP>(
        reinterpret_cast<void*>(m_apfnDbgHelp[eDbgHelp_MiniDumpWriteDump]));
    if (!pfnWrite)
        return false;
    CScopedHandle file(CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsHandle()) {
        TraceError(L"CCrashHandler::WriteDump(%d) : Unable to create %s, last error 0x%08x", __LINE__, pszPath,
                   GetLastError());
        return false;
    }
    CPrivilege debug;
    debug.Enable(SE_DEBUG_NAME);
    CScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
    if (!process.IsHandle()) {
        TraceError(L"CCrashHandler::WriteDump(%d) : Unable to open the process, last error 0x%08x", __LINE__,
                   GetLastError());
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION exception = {};
    exception.ThreadId = GetCurrentThreadId();
    exception.ExceptionPointers = pExceptionPointers;
    exception.ClientPointers = TRUE;
    BOOL bWritten = pfnWrite(process.Get(), GetCurrentProcessId(), file.Get(), static_cast<MINIDUMP_TYPE>(dwDumpType),
                             pExceptionPointers ? &exception : nullptr, nullptr, nullptr);
    if (!bWritten)
        TraceError(L"CCrashHandler::WriteDump(%d) : MiniDumpWriteDump failed, last error 0x%08x", __LINE__,
                   GetLastError());
    return bWritten != FALSE;
}
