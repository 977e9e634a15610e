#include "kqSplitPath.h"

#include <exception>
#include <vector>

#include "kqModuleFileName.h"
#include "kqTrace.h"

namespace {

// The run-time library's splitting rules: a drive is two characters ending in a colon; the
// directory runs to the last slash or backslash; the extension starts at the last dot of what
// follows. No part has a length limit, so long "\\?\" paths split as well.
void SplitParts(const std::wstring& strPath, std::wstring& strDrive, std::wstring& strDirectory,
                std::wstring& strFileName, std::wstring& strExtension)
{
    size_t pos = 0;
    if (strPath.size() >= 2 && strPath[1] == L':') {
        strDrive.assign(strPath, 0, 2);
        pos = 2;
    } else {
        strDrive.clear();
    }
    size_t posName = strPath.find_last_of(L"\\/");
    posName = (posName == std::wstring::npos || posName < pos) ? pos : posName + 1;
    strDirectory.assign(strPath, pos, posName - pos);
    size_t posDot = strPath.find_last_of(L'.');
    if (posDot != std::wstring::npos && posDot >= posName) {
        strFileName.assign(strPath, posName, posDot - posName);
        strExtension.assign(strPath, posDot, std::wstring::npos);
    } else {
        strFileName.assign(strPath, posName, std::wstring::npos);
        strExtension.clear();
    }
}

// Calls GetShortPathNameW or GetLongPathNameW until the buffer holds the whole answer.
template <typename TQuery>
bool QueryPathForm(TQuery query, const std::wstring& strPath, std::wstring& strForm)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD cch = query(strPath.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (cch == 0)
            return false;
        if (cch < buffer.size()) {
            strForm.assign(buffer.data(), cch);
            return true;
        }
        // The path may have changed between the calls: ask again with the size given.
        buffer.assign(static_cast<size_t>(cch) + 1, L'\0');
    }
}

}  // namespace

void CSplitPath::Clear()
{
    for (std::wstring* pPart :
         {&m_strFullPath, &m_strDrive, &m_strDirectory, &m_strFolder, &m_strFileName, &m_strExtension, &m_strLongPath,
          &m_strLongDirectory, &m_strLongFolder, &m_strLongFileName, &m_strLongExtension, &m_strShortPath,
          &m_strShortDirectory, &m_strShortFolder, &m_strShortFileName, &m_strShortExtension, &m_strPrefix,
          &m_strUncRoot, &m_strServer, &m_strShare})
        pPart->clear();
}

bool CSplitPath::Split(const wchar_t* pszPath)
{
    try {
        Clear();
        if (!pszPath || !*pszPath)
            return SplitModulePath(nullptr);
        return SplitChecked(pszPath);
    } catch (const std::exception&) {
        TraceError(L"CSplitPath::Split(%d) : Out of memory", __LINE__);
        return false;
    }
}

bool CSplitPath::SplitModulePath(HMODULE hModule)
{
    std::wstring strPath;
    if (!GetModuleFileNameString(hModule, strPath)) {
        TraceError(L"CSplitPath::SplitModulePath(%d) : GetModuleFileName failed (0x%08x)", __LINE__,
                   HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    return Split(strPath.c_str());
}

bool CSplitPath::SplitChecked(const wchar_t* pszPath)
{
    m_strFullPath = pszPath;

    size_t posUnc = 0;
    switch (ReadPrefix(posUnc)) {
    case ePrefix_Invalid:
        TraceError(L"CSplitPath::Split(%d) : Invalid path prefix: %ls", __LINE__, pszPath);
        return false;
    case ePrefix_Unc:
        if (!ReadUncParts(posUnc))
            return true;  // the path is no more than "\\server" or "\\server\share"
        break;
    case ePrefix_Local:
        break;
    }

    SplitParts(m_strFullPath, m_strDrive, m_strDirectory, m_strFileName, m_strExtension);
    m_strFolder = m_strDrive + m_strDirectory;

    if (GetFileAttributesW(m_strFullPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        SplitShortForm();
        SplitLongForm();
    }
    return true;
}

CSplitPath::PrefixResult CSplitPath::ReadPrefix(size_t& posUnc)
{
    const std::wstring& str = m_strFullPath;
    if (str.size() < 2 || str[0] != L'\\')
        return ePrefix_Local;

    if (str[1] == L'?') {
        if (str.size() < 4 || str[2] != L'?' || str[3] != L'\\')
            return ePrefix_Invalid;
        m_strPrefix = L"\\??\\";
        return ePrefix_Local;
    }
    if (str[1] != L'\\')
        return ePrefix_Local;  // a path from the root of the current drive
    if (str.size() < 3)
        return ePrefix_Invalid;

    if (str[2] == L'.') {
        if (str.size() < 4 || str[3] != L'\\')
            return ePrefix_Invalid;
        m_strPrefix = L"\\\\.\\";
        return ePrefix_Local;
    }
    if (str[2] == L'?') {
        if (str.size() < 4 || str[3] != L'\\')
            return ePrefix_Invalid;
        // "\\?\UNC\server\share": only with the backslash after UNC; "\\?\UNCfile" is a name.
        if (str.size() >= 8 && _wcsnicmp(str.c_str() + 4, L"UNC\\", 4) == 0) {
            m_strPrefix = L"\\\\?\\UNC";
            posUnc = 8;
            return ePrefix_Unc;
        }
        m_strPrefix = L"\\\\?\\";
        return ePrefix_Local;
    }
    posUnc = 2;
    return ePrefix_Unc;
}

// Fills server, share and UNC root. False when the path ends within them, so that nothing
// is left to split.
bool CSplitPath::ReadUncParts(size_t posServer)
{
    const std::wstring& str = m_strFullPath;
    size_t posServerEnd = str.find(L'\\', posServer);
    if (posServerEnd == std::wstring::npos) {
        m_strServer.assign(str, posServer, std::wstring::npos);
        m_strUncRoot = str;
        return false;
    }
    m_strServer.assign(str, posServer, posServerEnd - posServer);
    size_t posShare = posServerEnd + 1;
    size_t posShareEnd = str.find(L'\\', posShare);
    if (posShareEnd == std::wstring::npos) {
        m_strShare.assign(str, posShare, std::wstring::npos);
        m_strUncRoot = str;
        return false;
    }
    m_strShare.assign(str, posShare, posShareEnd - posShare);
    m_strUncRoot.assign(str, 0, posShareEnd);
    return true;
}

void CSplitPath::SplitShortForm()
{
    if (!QueryPathForm(GetShortPathNameW, m_strFullPath, m_strShortPath)) {
        m_strShortPath.clear();
        return;
    }
    std::wstring strDrive;
    SplitParts(m_strShortPath, strDrive, m_strShortDirectory, m_strShortFileName, m_strShortExtension);
    m_strShortFolder = strDrive + m_strShortDirectory;
}

void CSplitPath::SplitLongForm()
{
    if (!QueryPathForm(GetLongPathNameW, m_strFullPath, m_strLongPath)) {
        m_strLongPath.clear();
        return;
    }
    std::wstring strDrive;
    SplitParts(m_strLongPath, strDrive, m_strLongDirectory, m_strLongFileName, m_strLongExtension);
    m_strLongFolder = strDrive + m_strLongDirectory;
}
