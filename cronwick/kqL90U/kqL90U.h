// The shared client library in module form ("kqL90U.dll"): the operations its clients import.
// They are exported by ordinal only (no names); the ordinals are fixed, see kqL90U.def.in.
// Clients import them with delayed loading, so the module is loaded at the first call.
#pragma once
#include <windows.h>
#include <cstddef>
#include <vector>
#include "kqCommandLine.h"
#include "kqObjectBase.h"

// The module manager: loads modules that follow the library's module protocol by path and
// creates their objects. Modules stay loaded until the manager goes.
struct IModuleManager : public IObjectBase
{
    // {C3E1A7D2-4B6F-4E19-8A53-9D0F2B7C6E41}
    static constexpr GUID kIid = {0xc3e1a7d2, 0x4b6f, 0x4e19, {0x8a, 0x53, 0x9d, 0x0f, 0x2b, 0x7c, 0x6e, 0x41}};

    // Loads the module at the full path once (through the library's module loader) and asks its
    // factory for a new object of the class, answered under riid, into *ppObject (cleared
    // first). dwFlags is reserved for the load (clients pass 3); it is not interpreted yet.
    // The loader's results: KQERR_INVALIDARG, KQERR_LOADFAILED, KQERR_NOEXPORTS, the factory's.
    virtual HRESULT CreateObject(const wchar_t* pszModulePath, const GUID& clsid, const GUID& riid, DWORD dwFlags,
                                 void** ppObject) = 0;
};

// A process-wide lock object in the caller's storage.
struct KQLOCK
{
    CRITICAL_SECTION cs;
};
// A held lock, in the caller's storage.
struct KQLOCKGUARD
{
    KQLOCK* pLock;
    BOOL bHeld;
};

typedef std::vector<CommandLineToken> CommandLineTokens;

extern "C" {

// 1440: constructs a CCommandLine in the caller's storage of cbStorage bytes (at least
// sizeof(CCommandLine), pointer-aligned); nullptr when the storage is missing or too small.
CCommandLine* WINAPI kqCommandLineConstruct(void* pStorage, size_t cbStorage);
// 1441: destroys a parser made by 1440; the storage stays the caller's.
void WINAPI kqCommandLineDestroy(CCommandLine* pCommandLine);
// 1445: CCommandLine::Parse(line, prefixes).
BOOL WINAPI kqCommandLineParse(CCommandLine* pCommandLine, const wchar_t* pszCommandLine, const wchar_t* pszPrefixes);
// 2514: CCommandLine::GetTokens(); owned by the parser (callers copy it).
const CommandLineTokens* WINAPI kqCommandLineGetTokens(const CCommandLine* pCommandLine);
// 1609 and 1607: construct and destroy a lock object.
BOOL WINAPI kqLockConstruct(KQLOCK* pLock);
void WINAPI kqLockDestroy(KQLOCK* pLock);
// 2691: takes the lock into the guard, waiting up to dwWaitMs (INFINITE: no limit); true
// when it is held. 2692: releases a held guard (a guard that is not held is left alone).
BOOL WINAPI kqLockGuardAcquire(KQLOCKGUARD* pGuard, KQLOCK* pLock, DWORD dwWaitMs);
void WINAPI kqLockGuardRelease(KQLOCKGUARD* pGuard);
// 837: a new module manager with one reference in *ppManager.
HRESULT WINAPI kqCreateModuleManager(IModuleManager** ppManager);
// 866: the folder that holds the library's modules (the folder of kqL90U.dll itself), without
// a trailing backslash, into a buffer of cbBuffer bytes; false when it does not fit.
BOOL WINAPI kqGetModuleFolder(wchar_t* pszBuffer, DWORD cbBuffer);

}  // extern "C"
