#include "kqFile.h"

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

bool CFile::Read(void* pBuffer, DWORD dwCount)
{
    DWORD dwRead = 0;
    if (!ReadFile(m_hFile, pBuffer, dwCount, &dwRead, nullptr))
        return Fail();
    if (dwRead != dwCount) {
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
    if (dwWritten != dwCount) {
        m_dwLastError = ERROR_WRITE_FAULT;
        return false;
    }
    return true;
}

bool CFile::WriteEmpty()
{
    static const BYTE s_nothing = 0;
    return Write(&s_nothing, 0);
}

// SetFilePointer reports failure through its result and the system error together: a valid
// position may look like the error value, so only a non-zero system error counts.
bool CFile::SeekRaw(LONGLONG llDistance, DWORD dwMethod, ULONGLONG* pNewPosition)
{
    LONG lHigh = static_cast<LONG>(llDistance >> 32);
    SetLastError(ERROR_SUCCESS);
    DWORD dwLow = SetFilePointer(m_hFile, static_cast<LONG>(llDistance & 0xFFFFFFFF), &lHigh, dwMethod);
    if (dwLow == INVALID_SET_FILE_POINTER && ::GetLastError() != ERROR_SUCCESS)
        return Fail();
    if (pNewPosition)
        *pNewPosition = (static_cast<ULONGLONG>(static_cast<DWORD>(lHigh)) << 32) | dwLow;
    return true;
}

bool CFile::Seek(LONGLONG llDistance, DWORD dwMethod)
{
    return SeekRaw(llDistance, dwMethod, nullptr);
}

bool CFile::SetPosition(ULONGLONG ullPosition)
{
    return SeekRaw(static_cast<LONGLONG>(ullPosition), FILE_BEGIN, nullptr);
}

bool CFile::GetPosition(ULONGLONG& ullPosition)
{
    return SeekRaw(0, FILE_CURRENT, &ullPosition);
}

bool CFile::GetSize(ULONGLONG& ullSize)
{
    DWORD dwHigh = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD dwLow = GetFileSize(m_hFile, &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && ::GetLastError() != ERROR_SUCCESS)
        return Fail();
    ullSize = (static_cast<ULONGLONG>(dwHigh) << 32) | dwLow;
    return true;
}

bool CFile::SetSize(ULONGLONG ullSize)
{
    if (!SetPosition(ullSize))
        return false;
    if (!SetEndOfFile(m_hFile))
        return Fail();
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

bool CFile::Flush()
{
    if (!FlushFileBuffers(m_hFile))
        return Fail();
    return true;
}
