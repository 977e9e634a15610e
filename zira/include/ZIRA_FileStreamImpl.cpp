#include "ZIRA_FileStreamImpl.h"

#include <new>

#include "kqTrace.h"

namespace ZIRA {

HRESULT CFileStreamImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IByteStream::kIid)
        return AnswerInterface(static_cast<IByteStream*>(this), ppObject);
    if (riid == IFileStreamError::kIid)
        return AnswerInterface(static_cast<IFileStreamError*>(this), ppObject);
    return RefuseInterface(ppObject);
}

ULONGLONG CFileStreamImpl::SetBase()
{
    CAutoLock lock(m_csLock);
    ULONGLONG ullPosition = 0;
    if (m_File.GetPosition(&ullPosition)) {
        m_qwBase = ullPosition;
        TraceInformation(L"base adjusted to %I64d", static_cast<LONGLONG>(m_qwBase));
    }
    return m_qwBase;
}

void CFileStreamImpl::SetLimit(ULONGLONG ullSize)
{
    CAutoLock lock(m_csLock);
    // A window needs a base; package entries never start at offset 0.
    if (m_qwBase != 0) {
        m_qwLimit = ullSize;
        m_bLimited = true;
    }
}

bool CFileStreamImpl::GetSize(ULONGLONG* pullSize)
{
    if (!pullSize)
        return false;
    CAutoLock lock(m_csLock);
    ULONGLONG ullLength = 0;
    if (!m_File.GetSize(&ullLength))
        return false;
    // A file cut below the base holds nothing of the window.
    *pullSize = Clamp(ullLength > m_qwBase ? ullLength - m_qwBase : 0);
    return true;
}

bool CFileStreamImpl::SetSize(ULONGLONG ullSize)
{
    CAutoLock lock(m_csLock);
    if (!IsPlain())
        return false;
    return m_File.SetSize(ullSize);
}

bool CFileStreamImpl::GetPosition(ULONGLONG* pullPosition)
{
    if (!pullPosition)
        return false;
    CAutoLock lock(m_csLock);
    ULONGLONG ullFilePosition = 0;
    if (!m_File.GetPosition(&ullFilePosition))
        return false;
    // Someone moved the file in front of the window: there is no stream position for that.
    if (ullFilePosition < m_qwBase)
        return false;
    ULONGLONG ullPosition = ullFilePosition - m_qwBase;
    if (m_bLimited && ullPosition > m_qwLimit) {
        if (!m_File.SetPosition(m_qwBase + m_qwLimit))
            return false;
        ullPosition = m_qwLimit;
    }
    *pullPosition = ullPosition;
    return true;
}

bool CFileStreamImpl::SetPosition(ULONGLONG ullPosition)
{
    CAutoLock lock(m_csLock);
    ullPosition = Clamp(ullPosition);
    if (ullPosition > ~0ULL - m_qwBase)
        return false;
    return m_File.SetPosition(m_qwBase + ullPosition);
}

bool CFileStreamImpl::Write(const void* pData, DWORD dwCount)
{
    CAutoLock lock(m_csLock);
    if (!IsPlain())
        return false;
    return m_File.Write(pData, dwCount);
}

bool CFileStreamImpl::Read(void* pBuffer, DWORD dwCount)
{
    CAutoLock lock(m_csLock);
    return m_File.Read(pBuffer, dwCount);
}

DWORD CFileStreamImpl::GetLastError()
{
    CAutoLock lock(m_csLock);
    return m_File.GetLastError();
}

CFileStreamImpl* CreateFileStreamImpl()
{
    return new (std::nothrow) CFileStreamImpl;
}

}  // namespace ZIRA
