#include "7zArchive.h"

#include <new>

#include "kqSystemError.h"
#include "kqTrace.h"

namespace {

constexpr DWORD kWritePiece = 65536;

}  // namespace

C7zArchive::CInternalFile* C7zArchive::CInternalFile::Create()
{
    return new (std::nothrow) CInternalFile;
}

C7zArchive::CInternalFile::~CInternalFile()
{
    if (m_bHasTime && m_File.IsOpen())
        SetFileTime(m_File.GetHandle(), nullptr, nullptr, &m_ftModified);
}

void C7zArchive::CInternalFile::SetModificationTime(const FILETIME& ftTime)
{
    m_ftModified = ftTime;
    m_bHasTime = true;
}

STDMETHODIMP C7zArchive::CInternalFile::QueryInterface(REFIID riid, void** ppObject) throw()
{
    if (!ppObject)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialOutStream || riid == IID_IOutStream)
        *ppObject = static_cast<IOutStream*>(this);
    else if (riid == IID_ISequentialInStream)
        *ppObject = static_cast<ISequentialInStream*>(this);
    else if (riid == IID_IStreamGetSize)
        *ppObject = static_cast<IStreamGetSize*>(this);
    else
    {
        *ppObject = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) C7zArchive::CInternalFile::AddRef() throw()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_lRefCount));
}

STDMETHODIMP_(ULONG) C7zArchive::CInternalFile::Release() throw()
{
    LONG lCount = InterlockedDecrement(&m_lRefCount);
    if (lCount == 0)
        delete this;
    return static_cast<ULONG>(lCount);
}

Z7_COM7F_IMF(C7zArchive::CInternalFile::Write(const void* data, UInt32 size, UInt32* processedSize))
{
    if (processedSize)
        *processedSize = 0;
    const BYTE* pData = static_cast<const BYTE*>(data);
    UInt32 nLeft = size;
    while (nLeft > kWritePiece)
    {
        if (!m_File.Write(pData, kWritePiece))
        {
            DWORD dwError = m_File.GetLastError();
            TraceError(L"C7zArchive::CInternalFile::Write(1245) : failed to write to output file: %lu", dwError);
            return HresultFromSystemError(dwError, E_FAIL);
        }
        pData += kWritePiece;
        nLeft -= kWritePiece;
    }
    if (nLeft && !m_File.Write(pData, nLeft))
    {
        DWORD dwError = m_File.GetLastError();
        TraceError(L"C7zArchive::CInternalFile::Write(1262) : failed to write to output file: %lu", dwError);
        return HresultFromSystemError(dwError, E_FAIL);
    }
    if (processedSize)
        *processedSize = size;
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::CInternalFile::Read(void* data, UInt32 size, UInt32* processedSize))
{
    if (processedSize)
        *processedSize = 0;
    DWORD dwRead = 0;
    if (!ReadFile(m_File.GetHandle(), data, size, &dwRead, nullptr))
    {
        DWORD dwError = ::GetLastError();
        TraceError(L"C7zArchive::CInternalFile::Read(1185) : ReadFile failed: %lu", dwError);
        return HresultFromSystemError(dwError, E_FAIL);
    }
    if (processedSize)
        *processedSize = dwRead;
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::CInternalFile::Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition))
{
    if (seekOrigin > FILE_END)
        return STG_E_INVALIDFUNCTION;
    if (!m_File.Seek(offset, seekOrigin))
        return HresultFromSystemError(m_File.GetLastError(), E_FAIL);
    ULONGLONG ullPosition = 0;
    if (!m_File.GetPosition(&ullPosition))
        return HresultFromSystemError(m_File.GetLastError(), E_FAIL);
    if (newPosition)
        *newPosition = ullPosition;
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::CInternalFile::SetSize(UInt64 newSize))
{
    ULONGLONG ullPosition = 0;
    if (!m_File.GetPosition(&ullPosition) || !m_File.SetSize(newSize) || !m_File.SetPosition(ullPosition))
        return HresultFromSystemError(m_File.GetLastError(), E_FAIL);
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::CInternalFile::GetSize(UInt64* size))
{
    if (!size)
        return E_POINTER;
    ULONGLONG ullSize = 0;
    if (!m_File.GetSize(&ullSize))
        return HresultFromSystemError(m_File.GetLastError(), E_FAIL);
    *size = ullSize;
    return S_OK;
}
