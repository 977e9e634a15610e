#include "ZIRA_Registry.h"

#include <sddl.h>
#include <new>

#include "ZIRA_AccessRepair.h"
#include "ZIRA_RightsChecker.h"
#include "ZIRA_SystemCalls.h"
#include "kqFormatString.h"
#include "kqSystemError.h"
#include "kqTrace.h"

namespace ZIRA {

namespace {

bool IsSeparator(wchar_t ch)
{
    return ch == L'\\' || ch == L'/';
}

// Gives the key an empty DACL that is unprotected and auto-inherited, so that only the ACEs
// inherited from its parent apply.
bool ResetToInherited(const std::wstring& strObjectName)
{
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:AI", SDDL_REVISION_1, &pDescriptor, nullptr))
        return false;
    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    PACL pDacl = nullptr;
    bool bOk = GetSecurityDescriptorDacl(pDescriptor, &bPresent, &pDacl, &bDefaulted) && bPresent &&
               SystemCalls().SetNamedSecurity(strObjectName.c_str(), SE_REGISTRY_KEY,
                                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                              nullptr, pDacl) == ERROR_SUCCESS;
    LocalFree(pDescriptor);
    return bOk;
}

}  // namespace

bool CRegistry::OpenWithRepair(const wchar_t* pszPath, HKEY hHive, REGSAM samDesired, bool bCreate, DWORD dwOptions)
{
    try {
        m_hHive = hHive;
        m_strPath = pszPath ? pszPath : L"";
    } catch (const std::bad_alloc&) {
        Close();
        m_lOpenError = ERROR_OUTOFMEMORY;
        return false;
    }
    ISystemCalls& calls = SystemCalls();
    m_lOpenError = calls.OpenKey(*this, hHive, m_strPath.c_str(), samDesired, bCreate, dwOptions);
    if (m_lOpenError == ERROR_SUCCESS)
        return true;
    if (!bCreate && m_lOpenError == ERROR_FILE_NOT_FOUND)
        return false;
    ForceOpenKey(m_strPath.c_str(), hHive, bCreate);
    m_lOpenError = calls.OpenKey(*this, hHive, m_strPath.c_str(), samDesired, bCreate, dwOptions);
    return m_lOpenError == ERROR_SUCCESS;
}

HRESULT CRegistry::EnsureOpen(HKEY hHive, const wchar_t* pszPath, bool bCreate)
{
    ISystemCalls& calls = SystemCalls();
    CRegistryKey key;
    LONG lError = calls.OpenKey(key, hHive, pszPath, KEY_ALL_ACCESS, bCreate, REG_OPTION_NON_VOLATILE);
    if (lError == ERROR_SUCCESS)
        return S_OK;
    if (lError == ERROR_ACCESS_DENIED) {
        static const AccessRepairMessages s_messages = {
            L"ZIRA::CRegistry::EnsureOpen(205) : RegistryEnsureAccess %s threw an exception: %d",
            L"ZIRA::CRegistry::EnsureOpen(210) : RegistryEnsureAccess %s threw an exception: (0x%08x)", false};
        if (!RepairRegistryAccess(hHive, pszPath, s_messages))
            return E_FAIL;
        lError = calls.OpenKey(key, hHive, pszPath, KEY_ALL_ACCESS, bCreate, REG_OPTION_NON_VOLATILE);
        if (lError == ERROR_SUCCESS)
            return S_OK;
    }
    return HresultFromSystemError(static_cast<DWORD>(lError), S_OK);
}

bool CRegistry::SplitKeyPath(const std::wstring& strPath, std::vector<std::wstring>& components)
{
    try {
        components.clear();
        size_t pos = 0;
        while (pos < strPath.size()) {
            if (IsSeparator(strPath[pos])) {
                ++pos;
                continue;
            }
            std::wstring strComponent;
            if (strPath[pos] == L'"') {
                size_t close = strPath.find(L'"', pos + 1);
                size_t end = close == std::wstring::npos ? strPath.size() : close;
                strComponent = strPath.substr(pos + 1, end - pos - 1);
                pos = close == std::wstring::npos ? strPath.size() : close + 1;
            } else {
                size_t end = pos;
                while (end < strPath.size() && !IsSeparator(strPath[end]))
                    ++end;
                strComponent = strPath.substr(pos, end - pos);
                pos = end;
            }
            if (!strComponent.empty())
                components.push_back(std::move(strComponent));
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

HRESULT CRegistry::ForceOpenKey(const wchar_t* pszPath, HKEY hHive, bool bCreate)
{
    try {
        std::wstring strPath = pszPath ? pszPath : L"";
        for (wchar_t& ch : strPath) {
            if (ch == L'/')
                ch = L'\\';
        }
        std::vector<std::wstring> components;
        if (!SplitKeyPath(strPath, components))
            return E_OUTOFMEMORY;
        bool bWow64 = SystemCalls().IsWow64();
        HRESULT hr = S_OK;
        std::wstring strPartial;
        for (size_t i = 0; i < components.size(); ++i) {
            const std::wstring& strComponent = components[i];
            if (i > 0)
                strPartial += L'\\';
            strPartial += strComponent;
            // The first level is never repaired, nor (under WOW64) the redirection node.
            bool bRepairable = i > 0 && !(bWow64 && _wcsicmp(strComponent.c_str(), L"Wow6432Node") == 0);

            hr = EnsureOpen(hHive, strPartial.c_str(), bCreate);
            if (SUCCEEDED(hr))
                continue;
            TraceError(L"ZIRA::CRegistry::ForceOpenKey(124) : failed to open key: %s at %s (0x%08x)", strPath.c_str(),
                       strComponent.c_str(), static_cast<unsigned>(hr));
            if (hr != E_ACCESSDENIED)
                return hr;
            const wchar_t* pszHive = CRightsChecker::HiveName(hHive);
            if (!pszHive)
                return EnsureOpen(hHive, strPath.c_str(), bCreate);
            std::wstring strObjectName;
            if (!FormatString(strObjectName, L"%s\\%s", pszHive, strPartial.c_str()))
                return E_OUTOFMEMORY;
            CRightsChecker::TraceSecurityDescriptor(strObjectName.c_str(), CRightsChecker::eObject_RegistryKey);
            if (!bRepairable)
                return EnsureOpen(hHive, strPath.c_str(), bCreate);
            if (ResetToInherited(strObjectName)) {
                hr = EnsureOpen(hHive, strPath.c_str(), bCreate);
                if (FAILED(hr))
                    return hr;
            }
        }
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace ZIRA
