// Holds the one reference a C7zArchive is created with and releases it on every path.
#pragma once
#include "7zArchive.h"
#include "kqTrace.h"

class CUnpackerArchive
{
public:
    CUnpackerArchive() = default;
    ~CUnpackerArchive()
    {
        if (m_pArchive)
            m_pArchive->Release();
    }
    CUnpackerArchive(const CUnpackerArchive&) = delete;
    CUnpackerArchive& operator=(const CUnpackerArchive&) = delete;

    HRESULT Initialize() { return m_pArchive ? E_UNEXPECTED : C7zArchive::Initialize(&m_pArchive); }
    // Initialize, then open the archive on the stream. A failure is logged with the caller's
    // Error line for that step (a format with one %08x, the result).
    HRESULT InitializeAndOpen(IByteStream* pStream, const wchar_t* pszInitializeFailed, const wchar_t* pszOpenFailed)
    {
        HRESULT hr = Initialize();
        if (FAILED(hr)) {
            TraceError(pszInitializeFailed, hr);
            return hr;
        }
        hr = m_pArchive->Open(pStream);
        if (FAILED(hr))
            TraceError(pszOpenFailed, hr);
        return hr;
    }
    C7zArchive* operator->() const { return m_pArchive; }

private:
    C7zArchive* m_pArchive = nullptr;
};
