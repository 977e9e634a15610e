#include "kqComInitializer.h"

#include <objbase.h>

HRESULT ComInitialize(DWORD dwMode)
{
    switch (dwMode) {
    case eComMode_MultiThreaded: return CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    case eComMode_ApartmentThreaded: return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    case eComMode_None: return S_OK;
    }
    return E_FAIL;
}

HRESULT CComInitializer::Initialize(DWORD dwMode)
{
    HRESULT hr = ComInitialize(dwMode);
    if (SUCCEEDED(hr)) {
        m_dwMode = dwMode;
        m_dwThreadId = GetCurrentThreadId();
    }
    return hr;
}

void CComInitializer::Uninitialize()
{
    if (m_dwMode != eComMode_None && m_dwThreadId == GetCurrentThreadId()) {
        CoUninitialize();
        m_dwMode = eComMode_None;
    }
}
