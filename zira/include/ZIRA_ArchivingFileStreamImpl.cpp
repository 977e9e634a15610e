#include "ZIRA_ArchivingFileStreamImpl.h"

#include <new>

#include "kqFormatString.h"
#include "kqTrace.h"

namespace ZIRA {

namespace {

// Numbers are tried from 1 while below this.
const DWORD kFileNumberEnd = 200;

bool FileExists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

CArchivingFileStreamImpl::~CArchivingFileStreamImpl()
{
    CFile& file = GetFile();
    ULONGLONG ullLength = 0;
    if (!file.IsOpen() || !file.GetSize(&ullLength) || ullLength != 0)
        return;  // a file with data is kept (the base class closes it)
    file.Close();
    if (!DeleteFileW(m_strCurrentFileName.c_str())) {
        TraceError(L"ZIRA::CArchivingFileStreamImpl::~CArchivingFileStreamImpl(57) : DeleteFile failed %s (%lu)",
                   m_strCurrentFileName.c_str(), ::GetLastError());
    }
}

bool CArchivingFileStreamImpl::CreateCurrentFile()
{
    return GetFile().Open(m_strCurrentFileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_ALWAYS, 0);
}

bool CArchivingFileStreamImpl::SetFileNameFormat(const std::wstring& strFormat)
{
    CAutoLock lock(GetLock());
    try {
        m_strFileNameFormat = strFormat;
        m_nFileNumber = 1;
        std::wstring strName;
        if (!FormatString(strName, m_strFileNameFormat.c_str(), m_nFileNumber))
            return false;
        while (FileExists(strName) && m_nFileNumber + 1 < kFileNumberEnd) {
            ++m_nFileNumber;
            if (!FormatString(strName, m_strFileNameFormat.c_str(), m_nFileNumber))
                return false;
        }
        m_strCurrentFileName.swap(strName);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!CreateCurrentFile()) {
        TraceError(L"ZIRA::CArchivingFileStreamImpl::SetFileNameFormat(141) : failed to create file: %s (%lu)",
                   m_strCurrentFileName.c_str(), GetFile().GetLastError());
        return false;
    }
    return true;
}

bool CArchivingFileStreamImpl::SetPosition(ULONGLONG ullPosition)
{
    CAutoLock lock(GetLock());
    ULONGLONG ullLength = 0;
    if (ullPosition != 0 || (GetFile().GetSize(&ullLength) && ullLength == 0))
        return ::CFileStreamImpl::SetPosition(ullPosition);

    // The file holds data (or its length cannot be read): keep it and go on in the next one.
    GetFile().Close();
    ++m_nFileNumber;
    try {
        std::wstring strName;
        if (!FormatString(strName, m_strFileNameFormat.c_str(), m_nFileNumber))
            return false;
        m_strCurrentFileName.swap(strName);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!CreateCurrentFile())
        return false;
    return ::CFileStreamImpl::SetPosition(0);
}

CArchivingFileStreamImpl* CreateArchivingFileStreamImpl()
{
    return new (std::nothrow) CArchivingFileStreamImpl;
}

}  // namespace ZIRA
