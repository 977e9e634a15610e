// Per-thread COM initialisation.
#pragma once
#include <windows.h>

enum ComMode
{
    eComMode_MultiThreaded = 1,
    eComMode_ApartmentThreaded = 2,
    eComMode_None = 3,
};

// Initialises COM for the calling thread in the given mode without remembering anything.
HRESULT ComInitialize(DWORD dwMode);

class CComInitializer
{
public:
    CComInitializer() = default;
    ~CComInitializer() = default;

    CComInitializer(const CComInitializer&) = delete;
    CComInitializer& operator=(const CComInitializer&) = delete;

    HRESULT Initialize(DWORD dwMode);
    // Uninitialises only on the thread that initialised.
    void Uninitialize();

private:
    DWORD m_dwMode = eComMode_None;
    DWORD m_dwThreadId = 0;
};
