#include "kqMemoryStream.h"
#include <cstring>
#include <new>

HRESULT CMemoryStreamImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IByteStream::kIid)
        return AnswerInterface(static_cast<IByteStream*>(this), ppObject);
    return RefuseInterface(ppObject);
}

bool CMemoryStreamImpl::GetSize(ULONGLONG* pullSize)
{
    if (!pullSize)
        return false;
    CAutoLock lock(m_csLock);
    *pullSize = m_Memory.GetSize();
    return true;
}

bool CMemoryStreamImpl::SetSize(ULONGLONG ullSize)
{
    if (ullSize > 0xFFFFFFFFULL)
        return false;
    CAutoLock lock(m_csLock);
    DWORD dwSize = static_cast<DWORD>(ullSize);
    if (dwSize == 0)
        m_Memory.Free();
    else if (m_Memory.GetData() ? !m_Memory.Resize(dwSize) : !m_Memory.Allocate(dwSize))
        return false;
    m_dwPosition = 0;
    return true;
}

bool CMemoryStreamImpl::GetPosition(ULONGLONG* pullPosition)
{
    if (!pullPosition)
        return false;
    CAutoLock lock(m_csLock);
    *pullPosition = m_dwPosition;
    return true;
}

bool CMemoryStreamImpl::SetPosition(ULONGLONG ullPosition)
{
    CAutoLock lock(m_csLock);
    if (ullPosition > m_Memory.GetSize())
        return false;
    m_dwPosition = static_cast<DWORD>(ullPosition);
    return true;
}

bool CMemoryStreamImpl::Write(const void* pData, DWORD dwCount)
{
    if (dwCount == 0)
        return true;
    if (!pData)
        return false;
    CAutoLock lock(m_csLock);
    ULONGLONG ullEnd = static_cast<ULONGLONG>(m_dwPosition) + dwCount;
    if (ullEnd > 0xFFFFFFFFULL)
        return false;
    DWORD dwEnd = static_cast<DWORD>(ullEnd);
    if (dwEnd > m_Memory.GetSize())
    {
        if (m_Memory.GetData() ? !m_Memory.Resize(dwEnd) : !m_Memory.Allocate(dwEnd))
            return false;
    }
    memcpy(static_cast<BYTE*>(m_Memory.GetData()) + m_dwPosition, pData, dwCount);
    m_dwPosition = dwEnd;
    return true;
}

bool CMemoryStreamImpl::Read(void* pBuffer, DWORD dwCount)
{
    if (dwCount == 0)
        return true;
    if (!pBuffer)
        return false;
    CAutoLock lock(m_csLock);
    if (m_dwPosition > m_Memory.GetSize() || m_Memory.GetSize() - m_dwPosition < dwCount)
        return false;
    memcpy(pBuffer, static_cast<const BYTE*>(m_Memory.GetData()) + m_dwPosition, dwCount);
    m_dwPosition += dwCount;
    return true;
}

CMemoryStreamImpl* CreateMemoryStreamImpl()
{
    return new (std::nothrow) CMemoryStreamImpl;
}
