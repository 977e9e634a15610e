#include "kqWindowStream.h"
#include <cstring>
#include <new>

HRESULT CWindowStream::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IByteStream::kIid)
        return AnswerInterface(static_cast<IByteStream*>(this), ppObject);
    return RefuseInterface(ppObject);
}

CWindowStream* CWindowStream::CreateOnMemory(CMemory* pMemory, ULONGLONG ullStart, ULONGLONG ullLength)
{
    if (!pMemory || ullStart + ullLength < ullStart)
        return nullptr;
    CWindowStream* pWindow = new (std::nothrow) CWindowStream;
    if (!pWindow)
        return nullptr;
    pWindow->m_pMemory = pMemory;
    pWindow->m_ullStart = ullStart;
    pWindow->m_ullLength = ullLength;
    return pWindow;
}

CWindowStream* CWindowStream::CreateOnStream(IByteStream* pStream, ULONGLONG ullStart, ULONGLONG ullLength)
{
    if (!pStream || ullStart + ullLength < ullStart)
        return nullptr;
    CWindowStream* pWindow = new (std::nothrow) CWindowStream;
    if (!pWindow)
        return nullptr;
    pWindow->m_spStream = CSmartPtr<IByteStream>(pStream);
    pWindow->m_ullStart = ullStart;
    pWindow->m_ullLength = ullLength;
    return pWindow;
}

bool CWindowStream::GetSize(ULONGLONG* pullSize)
{
    if (!pullSize)
        return false;
    CAutoLock lock(m_csLock);
    *pullSize = m_ullLength;
    return true;
}

bool CWindowStream::SetSize(ULONGLONG)
{
    return false;
}

bool CWindowStream::GetPosition(ULONGLONG* pullPosition)
{
    if (!pullPosition)
        return false;
    CAutoLock lock(m_csLock);
    *pullPosition = m_ullPosition;
    return true;
}

bool CWindowStream::SetPosition(ULONGLONG ullPosition)
{
    CAutoLock lock(m_csLock);
    if (ullPosition > m_ullLength)
        return false;
    m_ullPosition = ullPosition;
    return true;
}

// Either pBuffer (a read) or pData (a write) is given.
bool CWindowStream::Transfer(void* pBuffer, const void* pData, DWORD dwCount)
{
    CAutoLock lock(m_csLock);
    if (dwCount == 0)
        return true;
    if (m_ullPosition > m_ullLength || m_ullLength - m_ullPosition < dwCount)
        return false;
    ULONGLONG ullAt = m_ullStart + m_ullPosition;
    if (m_pMemory)
    {
        ULONGLONG ullSize = m_pMemory->GetSize();
        if (ullAt > ullSize || ullSize - ullAt < dwCount || !m_pMemory->GetData())
            return false;
        BYTE* pAt = static_cast<BYTE*>(m_pMemory->GetData()) + static_cast<SIZE_T>(ullAt);
        if (pBuffer)
            memcpy(pBuffer, pAt, dwCount);
        else
            memcpy(pAt, pData, dwCount);
    }
    else
    {
        if (!m_spStream->SetPosition(ullAt))
            return false;
        if (pBuffer ? !m_spStream->Read(pBuffer, dwCount) : !m_spStream->Write(pData, dwCount))
            return false;
    }
    m_ullPosition += dwCount;
    return true;
}

bool CWindowStream::Write(const void* pData, DWORD dwCount)
{
    if (!pData && dwCount)
        return false;
    static const BYTE kNothing = 0;
    return Transfer(nullptr, pData ? pData : &kNothing, dwCount);
}

bool CWindowStream::Read(void* pBuffer, DWORD dwCount)
{
    if (!pBuffer && dwCount)
        return false;
    BYTE bNothing = 0;
    return Transfer(pBuffer ? pBuffer : &bNothing, nullptr, dwCount);
}
