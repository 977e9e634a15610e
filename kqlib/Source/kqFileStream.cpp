#include "kqFileStream.h"
#include <new>

HRESULT CFileStreamImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IByteStream::kIid)
        return AnswerInterface(static_cast<IByteStream*>(this), ppObject);
    return RefuseInterface(ppObject);
}

bool CFileStreamImpl::GetSize(ULONGLONG* pullSize)
{
    CAutoLock lock(m_csLock);
    return m_File.GetSize(pullSize);
}

bool CFileStreamImpl::SetSize(ULONGLONG ullSize)
{
    CAutoLock lock(m_csLock);
    return m_File.SetSize(ullSize);
}

bool CFileStreamImpl::GetPosition(ULONGLONG* pullPosition)
{
    CAutoLock lock(m_csLock);
    return m_File.GetPosition(pullPosition);
}

bool CFileStreamImpl::SetPosition(ULONGLONG ullPosition)
{
    CAutoLock lock(m_csLock);
    return m_File.SetPosition(ullPosition);
}

bool CFileStreamImpl::Write(const void* pData, DWORD dwCount)
{
    CAutoLock lock(m_csLock);
    return m_File.Write(pData, dwCount);
}

bool CFileStreamImpl::Read(void* pBuffer, DWORD dwCount)
{
    CAutoLock lock(m_csLock);
    return m_File.Read(pBuffer, dwCount);
}

CFileStreamImpl* CreateFileStreamImpl()
{
    return new (std::nothrow) CFileStreamImpl;
}
