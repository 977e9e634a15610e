// A critical section and its scoped lock, for objects that lock themselves per operation.
#pragma once
#include <windows.h>

class CCriticalSection
{
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

// Holds the lock for its scope.
class CAutoLock
{
public:
    explicit CAutoLock(CCriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~CAutoLock() { m_cs.Leave(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCriticalSection& m_cs;
};
