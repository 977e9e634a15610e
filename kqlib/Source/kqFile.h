// A file over a Windows file handle. Not locked: its owner locks.
#pragma once
#include <windows.h>

class CFile
{
public:
    CFile() = default;
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Closes any open handle, then opens with exactly these arguments. An absent or empty path
    // fails without a system call (the last error stays as it was).
    bool Open(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES pSecurity,
              DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplate = nullptr);
    void Close();
    bool IsOpen() const;
    HANDLE GetHandle() const { return m_hFile; }

    // Succeed only when exactly dwCount bytes were transferred.
    bool Read(void* pBuffer, DWORD dwCount);
    bool Write(const void* pData, DWORD dwCount);
    // A write of zero bytes.
    bool WriteEmpty();

    // dwMethod is FILE_BEGIN, FILE_CURRENT or FILE_END.
    bool Seek(LONGLONG llDistance, DWORD dwMethod);
    bool SeekToBegin();
    bool SetPosition(ULONGLONG ullPosition);
    bool GetPosition(ULONGLONG* pullPosition);
    bool GetSize(ULONGLONG* pullSize);

    bool ReadAt(ULONGLONG ullPosition, void* pBuffer, DWORD dwCount);
    bool WriteAt(ULONGLONG ullPosition, const void* pData, DWORD dwCount);

    // Cuts or extends the file there; the position stays at the new end.
    bool SetSize(ULONGLONG ullSize);
    bool Flush();

    // The system error of the last failed call.
    DWORD GetLastError() const { return m_dwLastError; }

private:
    bool Fail();

    HANDLE m_hFile = nullptr;
    DWORD m_dwLastError = 0;
};
