#include "kqMemoryArchive.h"
#include <cstring>
#include "kqWindowStream.h"

bool CMemoryArchive::GrowTo(DWORD dwEnd)
{
    if (dwEnd <= m_Memory.GetSize())
        return true;
    if (m_Memory.GetData())
        return m_Memory.Resize(dwEnd) != nullptr;
    return m_Memory.Allocate(dwEnd) != nullptr;
}

bool CMemoryArchive::OpenWindow(DWORD dwLength, bool bForWriting, IByteStream** ppStream)
{
    if (!ppStream)
        return false;
    *ppStream = nullptr;
    ULONGLONG ullEnd = static_cast<ULONGLONG>(m_dwPosition) + dwLength;
    if (ullEnd > 0xFFFFFFFFULL)
        return false;
    if (bForWriting ? !GrowTo(static_cast<DWORD>(ullEnd)) : ullEnd > m_Memory.GetSize())
        return false;
    CWindowStream* pWindow = CWindowStream::CreateOnMemory(&m_Memory, m_dwPosition, dwLength);
    if (!pWindow)
        return false;
    *ppStream = pWindow;
    m_dwPosition = static_cast<DWORD>(ullEnd);
    return true;
}

bool CMemoryArchive::ReadBytes(void* pBuffer, DWORD dwCount)
{
    if (dwCount == 0)
        return true;
    DWORD dwSize = m_Memory.GetSize();
    if (!pBuffer || !m_Memory.GetData() || m_dwPosition > dwSize || dwSize - m_dwPosition < dwCount)
        return false;
    memcpy(pBuffer, static_cast<const BYTE*>(m_Memory.GetData()) + m_dwPosition, dwCount);
    m_dwPosition += dwCount;
    return true;
}

bool CMemoryArchive::WriteBytes(const void* pData, DWORD dwCount)
{
    if (dwCount == 0)
        return true;
    ULONGLONG ullEnd = static_cast<ULONGLONG>(m_dwPosition) + dwCount;
    if (!pData || ullEnd > 0xFFFFFFFFULL || !GrowTo(static_cast<DWORD>(ullEnd)))
        return false;
    memcpy(static_cast<BYTE*>(m_Memory.GetData()) + m_dwPosition, pData, dwCount);
    m_dwPosition = static_cast<DWORD>(ullEnd);
    return true;
}

bool CMemoryArchive::GetPosition(ULONGLONG* pullPosition)
{
    if (!pullPosition)
        return false;
    *pullPosition = m_dwPosition;
    return true;
}

bool CMemoryArchive::SetPosition(ULONGLONG ullPosition)
{
    if (ullPosition == m_dwPosition)
        return true;
    if (ullPosition >= m_Memory.GetSize())
        return false;
    m_dwPosition = static_cast<DWORD>(ullPosition);
    return true;
}

ULONGLONG CMemoryArchive::GetAvailable()
{
    DWORD dwSize = m_Memory.GetSize();
    return m_dwPosition < dwSize ? dwSize - m_dwPosition : 0;
}
