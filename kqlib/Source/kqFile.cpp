#include "kqFile.h"

CFile::~CFile()
{
    Close();
}

bool CFile::Fail()
{
    m_dwLastError = ::GetLastError();
    return false;
}

bool CFile::Open(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES pSecurity,
                 DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplate)
{
    Close();
    if (!pszPath || !*pszPath)
        return false;
    HANDLE hFile = CreateFileW(pszPath, dwAccess, dwShareMode, pSecurity, dwCreationDisposition,
                               dwFlagsAndAttributes, hTemplate);
    if (hFile == INVALID_HANDLE_VALUE)
        return Fail();
    m_hFile = hFile;
    return true;
}

void CFile::Close()
{
    if (IsOpen())
        CloseHandle(m_hFile);
    m_hFile = nullptr;
}

bool CFile::IsOpen() const
{
    return m_hFile != nullptr && m_hFile != INVALID_HANDLE_VALUE;
}

bool CFile::Read(void* pBuffer, DWORD dwCount)
{
    DWORD dwRead = 0;
    if (!ReadFile(m_hFile, pBuffer, dwCount, &dwRead, nullptr))
        return Fail();
    if (dwRead != dwCount)
    {
        m_dwLastError = ERROR_HANDLE_EOF;
        return false;
    }
    return true;
}

bool CFile::Write(const void* pData, DWORD dwCount)
{
    DWORD dwWritten = 0;
    if (!WriteFile(m_hFile, pData, dwCount, &dwWritten, nullptr))
        return Fail();
    if (dwWritten != dwCount)
    {
        m_dwLastError = ERROR_WRITE_FAULT;
        return false;
    }
    return true;
}

bool CFile::WriteEmpty()
{
    static const BYTE kNothing = 0;
    return Write(&kNothing, 0);
}

bool CFile::Seek(LONGLONG llDistance, DWORD dwMethod)
{
    LARGE_INTEGER liDistance;
    liDistance.QuadPart = llDistance;
    // Only the error value together with a system error counts as a failure.
    SetLastError(0);
    LONG lHigh = liDistance.HighPart;
    DWORD dwLow = SetFilePointer(m_hFile, static_cast<LONG>(liDistance.LowPart), &lHigh, dwMethod);
    if (dwLow == INVALID_SET_FILE_POINTER && ::GetLastError() != 0)
        return Fail();
    return true;
}

bool CFile::SeekToBegin()
{
    return Seek(0, FILE_BEGIN);
}

bool CFile::SetPosition(ULONGLONG ullPosition)
{
    return Seek(static_cast<LONGLONG>(ullPosition), FILE_BEGIN);
}

bool CFile::GetPosition(ULONGLONG* pullPosition)
{
    if (!pullPosition)
        return false;
    SetLastError(0);
    LONG lHigh = 0;
    DWORD dwLow = SetFilePointer(m_hFile, 0, &lHigh, FILE_CURRENT);
    if (dwLow == INVALID_SET_FILE_POINTER && ::GetLastError() != 0)
        return Fail();
    *pullPosition = (static_cast<ULONGLONG>(static_cast<DWORD>(lHigh)) << 32) | dwLow;
    return true;
}

bool CFile::GetSize(ULONGLONG* pullSize)
{
    if (!pullSize)
        return false;
    SetLastError(0);
    DWORD dwHigh = 0;
    DWORD dwLow = ::GetFileSize(m_hFile, &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && ::GetLastError() != 0)
        return Fail();
    *pullSize = (static_cast<ULONGLONG>(dwHigh) << 32) | dwLow;
    return true;
}

bool CFile::ReadAt(ULONGLONG ullPosition, void* pBuffer, DWORD dwCount)
{
    return SetPosition(ullPosition) && Read(pBuffer, dwCount);
}

bool CFile::WriteAt(ULONGLONG ullPosition, const void* pData, DWORD dwCount)
{
    return SetPosition(ullPosition) && Write(pData, dwCount);
}

bool CFile::SetSize(ULONGLONG ullSize)
{
    if (!SetPosition(ullSize))
        return false;
    if (!SetEndOfFile(m_hFile))
        return Fail();
    return true;
}

bool CFile::Flush()
{
    if (!FlushFileBuffers(m_hFile))
        return Fail();
    return true;
}
