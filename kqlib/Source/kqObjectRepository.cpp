#include "kqObjectRepository.h"
#include <atomic>
#include <cwchar>
#include "kqGuidString.h"
#include "kqIsolation.h"
#include "kqPathExpansion.h"
#include "kqRegistryKey.h"
#include "kqSystemInfo.h"
#include "kqTrace.h"

namespace {

const wchar_t kszObjectIdKey[] = L"\\OBJID\\";
const wchar_t kszInProcValue[] = L"InProc32";

// A process-wide replacement of the path expansion; none means the silo's own expansion.
std::atomic<CObjectRepository::PFNEXPANDPATH> g_pfnExpandPath{nullptr};

}  // namespace

CObjectRepository::CObjectRepository() : m_isolation(CIsolation::Instance()) {}

CObjectRepository::CObjectRepository(CIsolation& isolation) : m_isolation(isolation) {}

CObjectRepository::PFNEXPANDPATH CObjectRepository::SetPathExpander(PFNEXPANDPATH pfnExpand)
{
    return g_pfnExpandPath.exchange(pfnExpand);
}

bool CObjectRepository::OpenClassKey(const GUID& clsid, HKEY& hKey)
{
    hKey = nullptr;
    try {
        std::wstring strKey;
        if (!m_isolation.GetSiloRegistryRoot(strKey) || strKey.empty())
            return false;
        std::wstring strClsid = FormatGuid(clsid);
        if (strClsid.empty())
            return false;
        strKey += kszObjectIdKey;
        strKey += strClsid;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_READ | Wow64RegistryView(), &hKey) ==
               ERROR_SUCCESS;
    } catch (...) {
        return false;
    }
}

bool CObjectRepository::IsRegistered(const GUID& clsid)
{
    CRegistryKey key;
    HKEY hKey = nullptr;
    if (!OpenClassKey(clsid, hKey))
        return false;
    key.Attach(hKey);
    DWORD dwType = 0;
    return RegQueryValueExW(key.Handle(), kszInProcValue, nullptr, &dwType, nullptr, nullptr) == ERROR_SUCCESS &&
           dwType == REG_SZ;
}

bool CObjectRepository::GetModulePath(const GUID& clsid, std::wstring& strPath)
{
    CRegistryKey key;
    HKEY hKey = nullptr;
    if (!OpenClassKey(clsid, hKey))
        return false;
    key.Attach(hKey);

    // The value is read into a fixed buffer: a longer one fails with ERROR_MORE_DATA.
    wchar_t szPath[kMaxModulePathChars] = {};
    DWORD cbData = sizeof(szPath);
    DWORD dwType = 0;
    LONG lResult =
        RegQueryValueExW(key.Handle(), kszInProcValue, nullptr, &dwType, reinterpret_cast<BYTE*>(szPath), &cbData);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return false;
    if (lResult != ERROR_SUCCESS)
    {
        TraceWarning(L"CObjectRepository::GetModulePath(%d) : cannot read InProc32 of %s (%ld)", __LINE__,
                     FormatGuid(clsid).c_str(), lResult);
        return false;
    }
    const DWORD cch = cbData / sizeof(wchar_t);
    if ((dwType != REG_SZ && dwType != REG_EXPAND_SZ) || (cbData % sizeof(wchar_t)) != 0 || cch < 2 ||
        szPath[cch - 1] != L'\0')
    {
        TraceWarning(L"CObjectRepository::GetModulePath(%d) : InProc32 of %s is not a module path", __LINE__,
                     FormatGuid(clsid).c_str());
        return false;
    }
    std::wstring strExpanded;
    PFNEXPANDPATH pfnExpand = g_pfnExpandPath.load();
    if (pfnExpand ? !pfnExpand(szPath, strExpanded) : !ExpandPath(m_isolation, szPath, strExpanded))
    {
        TraceWarning(L"CObjectRepository::GetModulePath(%d) : cannot expand %s", __LINE__, szPath);
        return false;
    }
    strPath.swap(strExpanded);
    return true;
}
