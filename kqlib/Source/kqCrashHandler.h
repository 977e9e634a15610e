// The process-wide crash handler: hooks the run time's failure paths (failed allocation,
// unhandled exception, pure virtual call, invalid parameter) and, when one fires, starts the
// configured callback program, asks the dump service for a dump or writes a minidump itself
// through DbgHelp (loaded at run time), and may end the process.
#pragma once
#include <windows.h>
#include <string>

#include "kqCriticalSection.h"
#include "kqDebugOptions.h"

enum CrashKind
{
    eCrashKind_DumpRequest = 1,
    eCrashKind_New = 2,
    eCrashKind_Exception = 3,
    eCrashKind_Purecall = 4,
    eCrashKind_Security = 5,
    eCrashKind_InvalidParameter = 6,
};

class CCrashHandler
{
public:
    CCrashHandler();
    // Puts the previous handlers back.
    virtual ~CCrashHandler();
    CCrashHandler(const CCrashHandler&) = delete;
    CCrashHandler& operator=(const CCrashHandler&) = delete;

    // Takes the crash half of the options, hooks when any flag is 1 and loads DbgHelp from the
    // crash directory when one is there. Each call first unhooks.
    bool SetOptions(const CDebugOptions& options);
    // Fails when another handler object holds any of the four process-wide hook slots.
    bool Install();
    void Uninstall();
    bool IsInstalled() const { return m_bInstalled; }

    // Called by the hooks; kind 1 is an explicit dump request. Returns whether a dump was made
    // (true also when the kind does not dump).
    bool HandleCrash(DWORD dwKind, EXCEPTION_POINTERS* pExceptionPointers);
    // Writes a minidump of this process; loads DbgHelp from the system folder if needed.
    bool WriteDump(const wchar_t* pszPath, DWORD dwDumpType, EXCEPTION_POINTERS* pExceptionPointers);

    const std::wstring& GetDumpPath() const { return m_strDumpPath; }
    const std::wstring& GetVersion() const { return m_strVersion; }
    // The loaded DbgHelp module, or null.
    HMODULE GetDbgHelpModule() const { return m_hDbgHelp; }

    // Folder + name + "-version" + "-yyyy-mm-dd-hh-mm-ss-mmm" + "-pid" + extension; the dump
    // path unchanged when both append options are off.
    static std::wstring BuildDumpFileName(const std::wstring& strDumpPath, const std::wstring& strVersion,
                                          bool bAppendVersion, bool bAppendDateTime, const SYSTEMTIME& time,
                                          DWORD dwProcessId);
    // "/pid P /tid T /crashtype K" and, with exception pointers, "/exceptioncode C
    // /crashaddress A /exceptionpointer E"; every number an unsigned decimal.
    static std::wstring BuildCallbackCommandLine(DWORD dwProcessId, DWORD dwThreadId, DWORD dwKind,
                                                 const EXCEPTION_POINTERS* pExceptionPointers);

protected:
    // What a crash does outside the process; tests replace these.
    virtual bool RequestServiceDump(DWORD dwProcessId, DWORD dwThreadId, EXCEPTION_POINTERS* pExceptionPointers);
    virtual void TerminateSelf();
    virtual void GetCrashTime(SYSTEMTIME& time);
    // CallbackEnabled and CallbackPath below the library's registry root.
    virtual bool ReadCallbackSettings(DWORD& dwEnabled, std::wstring& strPath);
    // Starts the callback program and waits for it; skipped when it is not configured.
    void RunCallbackProgram(DWORD dwKind, EXCEPTION_POINTERS* pExceptionPointers);

private:
    enum { eKind_Count = 7 };
    enum eSlot { eSlot_New, eSlot_Purecall, eSlot_Exception, eSlot_InvalidParameter, eSlot_Count };
    typedef void(__cdecl* PFN_PURECALL)();
    typedef void(__cdecl* PFN_INVALID_PARAMETER)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                                 uintptr_t);

    static void NewHook();
    static void __cdecl PurecallHook();
    static LONG WINAPI ExceptionHook(EXCEPTION_POINTERS* pExceptionPointers);
    static void __cdecl InvalidParameterHook(const wchar_t* pszExpression, const wchar_t* pszFunction,
                                             const wchar_t* pszFile, unsigned int uLine, uintptr_t pReserved);
    static CCrashHandler* SlotOwner(eSlot slot);

    bool TakeSlot(eSlot slot);
    void FreeSlot(eSlot slot);
    bool InstallLocked();
    void UninstallLocked();
    bool LoadDbgHelp(const std::wstring& strPath, bool bSystemFolder);
    void UnloadDbgHelp();
    bool DumpInProcess(DWORD dwKind, EXCEPTION_POINTERS* pExceptionPointers);

    CCriticalSection m_settingsLock;
    CCriticalSection m_crashLock;
    DWORD m_adwDump[eKind_Count];
    DWORD m_adwTerminate[eKind_Count];
    DWORD m_dwThrowOnNew = 1;
    DWORD m_dwAppendDateTimeToFile = 1;
    DWORD m_dwAppendVersionToFile = 1;
    DWORD m_dwDumpType = 0x22;
    std::wstring m_strDumpPath;
    std::wstring m_strVersion;
    bool m_bInstalled = false;
    volatile LONG m_lHandlingNew = 0;

    // MiniDumpWriteDump, StackWalk64, the six symbol-handler functions and the two
    // UnDecorateSymbolName forms, in the order of kDbgHelpExports.
    enum { eDbgHelp_MiniDumpWriteDump = 0, eDbgHelp_Count = 10 };
    HMODULE m_hDbgHelp = nullptr;
    FARPROC m_apfnDbgHelp[eDbgHelp_Count] = {};

    bool m_abSlotTaken[eSlot_Count] = {};
    void (*m_pfnPreviousNew)() = nullptr;
    PFN_PURECALL m_pfnPreviousPurecall = nullptr;
    LPTOP_LEVEL_EXCEPTION_FILTER m_pfnPreviousFilter = nullptr;
    PFN_INVALID_PARAMETER m_pfnPreviousInvalidParameter = nullptr;
};

extern CCrashHandler g_CrashHandler;
