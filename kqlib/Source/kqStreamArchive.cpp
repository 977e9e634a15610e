#include "kqStreamArchive.h"
#include "kqWindowStream.h"

CStreamArchive::CStreamArchive(IByteStream* pStream, ArchiveMode eMode) : CArchive(eMode)
{
    ULONGLONG ullPosition = 0;
    if (pStream && pStream->GetPosition(&ullPosition))
    {
        m_spStream = CSmartPtr<IByteStream>(pStream);
        m_ullPosition = ullPosition;
        m_ullHighest = ullPosition;
    }
}

CStreamArchive::~CStreamArchive()
{
    Detach();
}

void CStreamArchive::Detach()
{
    if (m_spStream)
        m_spStream->SetPosition(m_ullHighest);
    m_spStream = nullptr;
}

void CStreamArchive::Reached(ULONGLONG ullPosition)
{
    m_ullPosition = ullPosition;
    if (ullPosition > m_ullHighest)
        m_ullHighest = ullPosition;
}

bool CStreamArchive::OpenWindow(DWORD dwLength, bool bForWriting, IByteStream** ppStream)
{
    if (!ppStream)
        return false;
    *ppStream = nullptr;
    if (!m_spStream)
        return false;
    if (!bForWriting && dwLength > GetAvailable())
        return false;
    CWindowStream* pWindow = CWindowStream::CreateOnStream(m_spStream.Get(), m_ullPosition, dwLength);
    if (!pWindow)
        return false;
    *ppStream = pWindow;
    Reached(m_ullPosition + dwLength);
    return true;
}

bool CStreamArchive::ReadBytes(void* pBuffer, DWORD dwCount)
{
    if (!m_spStream || !m_spStream->SetPosition(m_ullPosition) || !m_spStream->Read(pBuffer, dwCount))
        return false;
    Reached(m_ullPosition + dwCount);
    return true;
}

bool CStreamArchive::WriteBytes(const void* pData, DWORD dwCount)
{
    if (!m_spStream || !m_spStream->SetPosition(m_ullPosition) || !m_spStream->Write(pData, dwCount))
        return false;
    Reached(m_ullPosition + dwCount);
    return true;
}

bool CStreamArchive::GetPosition(ULONGLONG* pullPosition)
{
    if (!pullPosition || !m_spStream)
        return false;
    *pullPosition = m_ullPosition;
    return true;
}

bool CStreamArchive::SetPosition(ULONGLONG ullPosition)
{
    ULONGLONG ullSize = 0;
    if (!m_spStream || !m_spStream->GetSize(&ullSize) || ullPosition > ullSize)
        return false;
    m_ullPosition = ullPosition;
    return true;
}

ULONGLONG CStreamArchive::GetAvailable()
{
    ULONGLONG ullSize = 0;
    if (!m_spStream || !m_spStream->GetSize(&ullSize) || ullSize <= m_ullPosition)
        return 0;
    return ullSize - m_ullPosition;
}
