// The operations kqL90U.dll exports by ordinal (kqL90U.def.in).
#include "kqL90U.h"

#include <cstdint>
#include <new>
#include "kqModuleManager.h"
#include "kqModuleOfAddress.h"
#include "kqTrace.h"

CCommandLine* WINAPI kqCommandLineConstruct(void* pStorage, size_t cbStorage)
{
    if (!pStorage || cbStorage < sizeof(CCommandLine) ||
        reinterpret_cast<uintptr_t>(pStorage) % alignof(CCommandLine) != 0)
    {
        TraceError(L"kqCommandLineConstruct(%d) : storage missing, too small or misaligned", __LINE__);
        return nullptr;
    }
    return new (pStorage) CCommandLine;
}

void WINAPI kqCommandLineDestroy(CCommandLine* pCommandLine)
{
    if (pCommandLine)
        pCommandLine->~CCommandLine();
}

BOOL WINAPI kqCommandLineParse(CCommandLine* pCommandLine, const wchar_t* pszCommandLine, const wchar_t* pszPrefixes)
{
    return pCommandLine && pCommandLine->Parse(pszCommandLine, pszPrefixes);
}

const CommandLineTokens* WINAPI kqCommandLineGetTokens(const CCommandLine* pCommandLine)
{
    return pCommandLine ? &pCommandLine->GetTokens() : nullptr;
}

BOOL WINAPI kqLockConstruct(KQLOCK* pLock)
{
    if (!pLock)
        return FALSE;
    InitializeCriticalSection(&pLock->cs);
    return TRUE;
}

void WINAPI kqLockDestroy(KQLOCK* pLock)
{
    if (pLock)
        DeleteCriticalSection(&pLock->cs);
}

BOOL WINAPI kqLockGuardAcquire(KQLOCKGUARD* pGuard, KQLOCK* pLock, DWORD dwWaitMs)
{
    if (!pGuard)
        return FALSE;
    pGuard->pLock = pLock;
    pGuard->bHeld = FALSE;
    if (!pLock)
        return FALSE;
    if (dwWaitMs == INFINITE)
    {
        EnterCriticalSection(&pLock->cs);
        pGuard->bHeld = TRUE;
        return TRUE;
    }
    // A critical section has no timed wait: try until the time is up.
    DWORD dwStart = GetTickCount();
    while (!TryEnterCriticalSection(&pLock->cs))
    {
        if (GetTickCount() - dwStart >= dwWaitMs)
            return FALSE;
        Sleep(1);
    }
    pGuard->bHeld = TRUE;
    return TRUE;
}

void WINAPI kqLockGuardRelease(KQLOCKGUARD* pGuard)
{
    if (!pGuard || !pGuard->bHeld || !pGuard->pLock)
        return;
    pGuard->bHeld = FALSE;
    LeaveCriticalSection(&pGuard->pLock->cs);
}

HRESULT WINAPI kqCreateModuleManager(IModuleManager** ppManager)
{
    if (!ppManager)
        return KQERR_INVALIDARG;
    *ppManager = new (std::nothrow) CModuleManager;
    if (!*ppManager)
    {
        TraceError(L"kqCreateModuleManager(%d) : out of memory", __LINE__);
        return KQERR_OUTOFMEMORY;
    }
    return KQ_OK;
}

BOOL WINAPI kqGetModuleFolder(wchar_t* pszBuffer, DWORD cbBuffer)
{
    DWORD cchBuffer = cbBuffer / sizeof(wchar_t);
    if (!pszBuffer || cchBuffer == 0)
        return FALSE;
    pszBuffer[0] = L'\0';
    HMODULE hModule = GetLibraryModule();
    if (!hModule)
    {
        TraceError(L"kqGetModuleFolder(%d) : the module of the library is unknown", __LINE__);
        return FALSE;
    }
    DWORD cch = GetModuleFileNameW(hModule, pszBuffer, cchBuffer);
    // A full buffer means the path may have been cut.
    if (cch == 0 || cch >= cchBuffer)
    {
        TraceError(L"kqGetModuleFolder(%d) : the module path does not fit (%lu)", __LINE__,
                   static_cast<unsigned long>(GetLastError()));
        pszBuffer[0] = L'\0';
        return FALSE;
    }
    wchar_t* pszSlash = wcsrchr(pszBuffer, L'\\');
    if (!pszSlash)
    {
        pszBuffer[0] = L'\0';
        return FALSE;
    }
    *pszSlash = L'\0';
    return TRUE;
}
