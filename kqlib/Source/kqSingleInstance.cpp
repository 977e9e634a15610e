#include "kqSingleInstance.h"

#include "kqIsolation.h"
#include "kqPathUtils.h"

namespace {

const wchar_t kLockFolderName[] = L"_lck";
// The mark of a machine-wide claim, covering every logon session.
const wchar_t kGlobalMark[] = L"G";

// The name becomes part of one file name: it must not reach into another folder.
bool IsValidName(const wchar_t* pszName)
{
    if (!pszName || !*pszName)
        return false;
    for (const wchar_t* p = pszName; *p; ++p) {
        if (*p < L' ' || wcschr(L"\\/:*?\"<>|", *p))
            return false;
    }
    return true;
}

}  // namespace

CSingleInstance::~CSingleInstance()
{
    Unlock();
}

bool CSingleInstance::GetLockFolder(std::wstring& strFolder)
{
    return CIsolation::Instance().GetCommonSiloDataPath(strFolder);
}

bool CSingleInstance::Lock(const wchar_t* pszName)
{
    if (IsLocked() || !IsValidName(pszName))
        return false;
    // The session number does not enter a machine-wide name, but a process whose session
    // cannot be told makes no claim.
    DWORD dwSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &dwSession))
        return false;
    try {
        std::wstring strFolder;
        if (!GetLockFolder(strFolder) || strFolder.empty())
            return false;
        std::wstring strLockFolder = strFolder;
        if (!AppendPath(strLockFolder, kLockFolderName))
            return false;
        std::wstring strFile = strLockFolder;
        if (!AppendPath(strFile, (std::wstring(L"_") + pszName + kGlobalMark).c_str()))
            return false;
        // A file name the system cannot open is refused before any folder is made for it.
        if (strFile.size() >= MAX_PATH || !CreateDirectoryTree(strLockFolder.c_str()))
            return false;
        // No sharing at all: while this handle is open nobody else can open the file, and the
        // system deletes it when the handle closes, also when the process dies.
        HANDLE hFile = CreateFileW(strFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                   nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
            return false;
        m_hLockFile = hFile;
        return true;
    } catch (...) {
        return false;
    }
}

bool CSingleInstance::Unlock()
{
    if (!IsLocked())
        return true;
    HANDLE hFile = m_hLockFile;
    m_hLockFile = INVALID_HANDLE_VALUE;
    return CloseHandle(hFile) != FALSE;
}

bool CFolderSingleInstance::Lock(const wchar_t* pszFolder, const wchar_t* pszName)
{
    // A held claim keeps the folder it was made in.
    if (IsLocked())
        return false;
    try {
        m_strFolder = pszFolder ? pszFolder : L"";
    } catch (...) {
        return false;
    }
    return CSingleInstance::Lock(pszName);
}

bool CFolderSingleInstance::GetLockFolder(std::wstring& strFolder)
{
    if (m_strFolder.empty())
        return false;
    try {
        strFolder = m_strFolder;
        return true;
    } catch (...) {
        return false;
    }
}
