// A Windows file handle that remembers the system error of its last failed call. Reads and
// writes are all-or-nothing: a call that cannot move exactly the requested bytes fails.
#pragma once
#include <windows.h>

class CFile
{
public:
    CFile() = default;
    virtual ~CFile() { Close(); }

    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Closes any open handle first. An absent or empty path fails without a system call and
    // leaves the last error as it was.
    bool Open(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES pSecurity,
              DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplate = nullptr);
    void Close();
    bool IsOpen() const { return m_hFile != nullptr && m_hFile != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return m_hFile; }

    bool Read(void* pBuffer, DWORD dwCount);
    bool Write(const void* pData, DWORD dwCount);
    // A write of zero bytes: tells whether the handle may be written to.
    bool WriteEmpty();

    bool Seek(LONGLONG llDistance, DWORD dwMethod);
    bool SeekToBegin() { return Seek(0, FILE_BEGIN); }
    bool SetPosition(ULONGLONG ullPosition);
    bool GetPosition(ULONGLONG& ullPosition);
    bool GetSize(ULONGLONG& ullSize);
    // Seeks there from the beginning and sets the end of file; the position stays at the new end.
    bool SetSize(ULONGLONG ullSize);

    bool ReadAt(ULONGLONG ullPosition, void* pBuffer, DWORD dwCount);
    bool WriteAt(ULONGLONG ullPosition, const void* pData, DWORD dwCount);

    bool Flush();
    DWORD GetLastError() const { return m_dwLastError; }

private:
    bool Fail();
    bool SeekRaw(LONGLONG llDistance, DWORD dwMethod, ULONGLONG* pNewPosition);

    HANDLE m_hFile = nullptr;
    DWORD m_dwLastError = ERROR_SUCCESS;
};
