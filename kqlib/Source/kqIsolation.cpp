#include "kqIsolation.h"

#include <shlobj.h>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "kqModuleFileName.h"
#include "kqModuleOfAddress.h"
#include "kqPathExpansion.h"
#include "kqScopedHandle.h"
#include "kqShellFolder.h"
#include "kqStringConvert.h"
#include "kqSystemInfo.h"

const wchar_t CIsolation::kDefaultHive[] = L"Software\\Quillane\\Isolation";

namespace {

const size_t kMaxPath = 260;
const DWORD kHiveBufferChars = 100;
const DWORD kSiloBufferChars = 40;
const size_t kMaxAppDataExtensionChars = 49;
const wchar_t kDefaultAppDataExtension[] = L"Quillane";

// Set while this thread expands the application data folder name.
thread_local bool t_bExpandingExtension = false;

// Neither lookup writes a trace, which matters: the trace output asks for isolation while it
// is set up. A module that cannot be found gives no path (no isolate.ini, the default hive)
// rather than the program's, whose isolate.ini need not be the library's.
std::wstring ModulePathOfLibrary()
{
    HMODULE hModule = GetLibraryModule();
    std::wstring strPath;
    return hModule && GetModuleFileNameString(hModule, strPath) ? strPath : std::wstring();
}

std::wstring Trim(const std::wstring& str)
{
    size_t first = str.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        return std::wstring();
    size_t last = str.find_last_not_of(L" \t");
    return str.substr(first, last - first + 1);
}

bool StartsWithNoCase(const std::wstring& str, const std::wstring& prefix)
{
    return str.size() >= prefix.size() && _wcsnicmp(str.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// The whole file as text: UTF-16LE behind a byte-order mark, otherwise ANSI code page.
bool ReadIniText(const wchar_t* pszFile, std::wstring& strText)
{
    // Owned, so the handle is closed also when the buffer cannot be had.
    CScopedHandle file(CreateFileW(pszFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsHandle())
        return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart >= (16 << 20))
        return false;
    std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
        read != bytes.size())
        return false;
    file.Close();
    if (bytes.size() >= 2 && static_cast<BYTE>(bytes[0]) == 0xFF && static_cast<BYTE>(bytes[1]) == 0xFE) {
        strText.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
        return true;
    }
    return ConvertToWide(bytes.data(), bytes.size(), strText);
}

DWORD CopyToBuffer(const std::wstring& str, wchar_t* pszBuffer, DWORD cchBuffer)
{
    size_t cch = str.size() < cchBuffer - 1 ? str.size() : cchBuffer - 1;
    wmemcpy(pszBuffer, str.c_str(), cch);
    pszBuffer[cch] = L'\0';
    return static_cast<DWORD>(cch);
}

bool FindIniValue(const std::wstring& strText, const std::wstring& strSectionIn, const std::wstring& strKeyIn,
                  std::wstring& strValue)
{
    if (strText.find(L"\r\n") == std::wstring::npos)
        return false;
    std::wstring strSection = Trim(strSectionIn);
    if (!strSection.empty() && strSection.back() == L']')
        strSection.pop_back();
    if (!strSection.empty() && strSection.front() == L'[')
        strSection.erase(0, 1);
    std::wstring strKey = Trim(strKeyIn);

    bool bInSection = false;
    size_t pos = 0;
    while (pos <= strText.size()) {
        size_t end = strText.find(L"\r\n", pos);
        std::wstring strLine = Trim(strText.substr(pos, end == std::wstring::npos ? std::wstring::npos : end - pos));
        pos = end == std::wstring::npos ? strText.size() + 1 : end + 2;
        if (strLine.empty() || strLine[0] == L';' || strLine[0] == L'#')
            continue;
        if (!bInSection) {
            if (strLine[0] != L'[')
                continue;
            if (strLine.back() == L']')
                strLine.pop_back();
            bInSection = StartsWithNoCase(strLine.substr(1), strSection);
            continue;
        }
        if (!StartsWithNoCase(strLine, strKey))
            continue;
        size_t equals = strLine.find(L'=');
        if (equals == std::wstring::npos)
            return false;
        strValue = strLine.substr(equals + 1);
        size_t cr = strValue.find(L'\r');
        if (cr != std::wstring::npos)
            strValue.resize(cr);
        strValue = Trim(strValue);
        return true;
    }
    return false;
}

}  // namespace

CIsolation& CIsolation::Instance()
{
    static CIsolation s_instance(ModulePathOfLibrary());
    return s_instance;
}

CIsolation::CIsolation(const std::wstring& strModulePath) : m_strModulePath(strModulePath) {}

bool CIsolation::IsGuidString(const wchar_t* pszText)
{
    if (!pszText || wcslen(pszText) != 38 || pszText[0] != L'{' || pszText[37] != L'}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        bool bDash = i == 9 || i == 14 || i == 19 || i == 24;
        if (bDash ? pszText[i] != L'-' : !iswxdigit(pszText[i]))
            return false;
    }
    return true;
}

DWORD CIsolation::ReadIniValue(const wchar_t* pszSection, const wchar_t* pszKey, const wchar_t* pszDefault,
                               wchar_t* pszBuffer, DWORD cchBuffer, const wchar_t* pszFile)
{
    if (!pszBuffer || cchBuffer == 0)
        return 0;
    try {
        std::wstring strDefault = pszDefault ? pszDefault : L"";
        std::wstring strText;
        std::wstring strValue;
        if (!pszFile || !pszSection || !pszKey || !ReadIniText(pszFile, strText) ||
            !FindIniValue(strText, pszSection, pszKey, strValue) || strValue.empty())
            return CopyToBuffer(strDefault, pszBuffer, cchBuffer);
        return CopyToBuffer(strValue, pszBuffer, cchBuffer);
    } catch (...) {
        pszBuffer[0] = L'\0';
        return 0;
    }
}

DWORD CIsolation::FindIsolateIni(const std::wstring& strModulePath, std::wstring& strIniPath)
{
    try {
        std::wstring strPath = strModulePath;
        for (;;) {
            size_t slash = strPath.find_last_of(L'\\');
            if (slash == std::wstring::npos)
                return ERROR_FILE_NOT_FOUND;
            strPath.resize(slash);
            // "\\server" alone is no folder to look in.
            if (strPath.size() >= 2 && strPath.compare(0, 2, L"\\\\") == 0 &&
                strPath.find(L'\\', 2) == std::wstring::npos)
                return ERROR_FILE_NOT_FOUND;
            std::wstring strCandidate = strPath + L"\\isolate.ini";
            if (strCandidate.size() >= kMaxPath)
                return ERROR_INTERNAL_ERROR;
            DWORD dwAttributes = GetFileAttributesW(strCandidate.c_str());
            if (dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                strIniPath = strCandidate;
                return ERROR_SUCCESS;
            }
        }
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

DWORD CIsolation::GetRegistryHive(const wchar_t* pszModulePath, wchar_t* pszBuffer, DWORD cchBuffer)
{
    if (!pszModulePath || !pszBuffer || cchBuffer < kHiveBufferChars)
        return ERROR_INVALID_PARAMETER;
    std::wstring strIni;
    if (FindIsolateIni(pszModulePath, strIni) != ERROR_SUCCESS) {
        CopyToBuffer(kDefaultHive, pszBuffer, cchBuffer);
        return ERROR_SUCCESS;
    }
    DWORD cch = ReadIniValue(L"isolation", L"reghive", kDefaultHive, pszBuffer, cchBuffer, strIni.c_str());
    if (cch >= cchBuffer - 1)
        return ERROR_INSUFFICIENT_BUFFER;

    HKEY hKey = nullptr;
    LONG lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, pszBuffer, 0, KEY_READ | Wow64RegistryView(), &hKey);
    if (lResult == ERROR_SUCCESS) {
        RegCloseKey(hKey);
        return ERROR_SUCCESS;
    }
    // A hive that is not there yet (or not readable) still names where the silo lives.
    if (lResult == ERROR_ACCESS_DENIED) {
        OutputDebugStringW(L"CIsolation::GetRegistryHive(): RegOpenKeyEx() returned ERROR_ACCESS_DENIED");
        return ERROR_SUCCESS;
    }
    if (lResult == ERROR_FILE_NOT_FOUND) {
        OutputDebugStringW(L"CIsolation::GetRegistryHive(): RegOpenKeyEx() returned ERROR_FILE_NOT_FOUND");
        return ERROR_SUCCESS;
    }
    pszBuffer[0] = L'\0';
    return ERROR_INVALID_DATA;
}

bool CIsolation::SetSiloID(const wchar_t* pszSiloId)
{
    if (m_bInitialized.load())
        return true;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_bInitialized.load())
        return true;
    try {
        return SetSiloIDLocked(pszSiloId);
    } catch (...) {
        return false;
    }
}

bool CIsolation::SetSiloIDLocked(const wchar_t* pszSiloId)
{
    if (pszSiloId) {
        if (!IsGuidString(pszSiloId))
            return false;
        m_strSiloId = pszSiloId;
    } else if (m_strSiloId.empty()) {
        std::wstring strIni;
        if (FindIsolateIni(m_strModulePath, strIni) != ERROR_SUCCESS)
            return false;
        wchar_t szSilo[kSiloBufferChars];
        DWORD cch = ReadIniValue(L"isolation", L"silo", L"", szSilo, kSiloBufferChars, strIni.c_str());
        if (cch >= kSiloBufferChars - 1 || !IsGuidString(szSilo))
            return false;
        m_strSiloId = szSilo;
    }
    wchar_t szHive[kHiveBufferChars];
    if (GetRegistryHive(m_strModulePath.c_str(), szHive, kHiveBufferChars) != ERROR_SUCCESS)
        return false;
    m_strRegistryRoot = std::wstring(szHive) + L"\\" + m_strSiloId;
    m_bInitialized.exchange(true);
    return true;
}

bool CIsolation::SetSiloRegistryRoot(const wchar_t* pszHive)
{
    if (!SetSiloID(nullptr))
        return false;
    if (m_bRootSet.load())
        return true;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_bRootSet.load())
        return true;
    try {
        std::wstring strHive;
        if (pszHive) {
            strHive = pszHive;
        } else {
            wchar_t szHive[kHiveBufferChars];
            if (GetRegistryHive(m_strModulePath.c_str(), szHive, kHiveBufferChars) != ERROR_SUCCESS)
                return false;
            strHive = szHive;
        }
        m_strRegistryRoot = strHive + L"\\" + m_strSiloId;
        m_bRootSet.exchange(true);
        return true;
    } catch (...) {
        return false;
    }
}

bool CIsolation::GetSiloID(std::wstring& strSiloId)
{
    if (!SetSiloID(nullptr))
        return false;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    try {
        strSiloId = m_strSiloId;
        return true;
    } catch (...) {
        return false;
    }
}

bool CIsolation::GetSiloRegistryRoot(std::wstring& strRoot)
{
    if (!SetSiloID(nullptr))
        return false;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    try {
        strRoot = m_strRegistryRoot;
        return true;
    } catch (...) {
        return false;
    }
}

std::wstring CIsolation::GetAppDataExtension()
{
    return Instance().AppDataExtension();
}

std::wstring CIsolation::AppDataExtension()
{
    // The path expansion map may name another folder through "%APPDATAEXTENSION%"; without
    // one the maker's name is used. A value that refers to a silo data folder would ask for
    // this name again while it is being worked out: the silo folders are refused meanwhile
    // (GetDataPath), so such a value simply fails to expand.
    try {
        if (!t_bExpandingExtension) {
            t_bExpandingExtension = true;
            std::wstring strExtension;
            bool bExpanded = ExpandPath(*this, L"%APPDATAEXTENSION%", strExtension);
            t_bExpandingExtension = false;
            // An empty name would join the silo id with a doubled backslash.
            if (bExpanded && !strExtension.empty() && strExtension.size() <= kMaxAppDataExtensionChars)
                return strExtension;
        }
        return kDefaultAppDataExtension;
    } catch (...) {
        t_bExpandingExtension = false;
        return kDefaultAppDataExtension;
    }
}

bool CIsolation::GetDataPath(int nFolder, std::wstring& strKept, std::wstring& strPath)
{
    if (t_bExpandingExtension || !SetSiloID(nullptr))
        return false;
    try {
        {
            std::lock_guard<std::recursive_mutex> guard(m_lock);
            if (!strKept.empty()) {
                strPath = strKept;
                return true;
            }
        }
        // Worked out without the lock: the expansion reads the silo's registry root and map.
        std::wstring strExtension = AppDataExtension();
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (strKept.empty()) {
            std::wstring strFolder;
            if (!GetShellFolderPath(nFolder, SHGFP_TYPE_CURRENT, strFolder))
                return false;
            while (!strFolder.empty() && strFolder.back() == L'\\')
                strFolder.pop_back();
            strKept = strFolder + L"\\" + strExtension + L"\\" + m_strSiloId;
        }
        strPath = strKept;
        return true;
    } catch (...) {
        return false;
    }
}

bool CIsolation::GetLocalSiloDataPath(std::wstring& strPath)
{
    return GetDataPath(CSIDL_LOCAL_APPDATA, m_strLocalDataPath, strPath);
}

bool CIsolation::GetCommonSiloDataPath(std::wstring& strPath)
{
    return GetDataPath(CSIDL_COMMON_APPDATA, m_strCommonDataPath, strPath);
}
