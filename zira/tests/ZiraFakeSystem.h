// A stand-in for the system calls behind the access repair: named objects get descriptors
// from SDDL text, writes are recorded as SDDL, and chosen files, folders and keys refuse
// access until a DACL has been written for them.
#pragma once
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ZIRA_SystemCalls.h"

namespace ziratest {

inline std::wstring Lower(std::wstring text)
{
    for (auto& ch : text)
        ch = static_cast<wchar_t>(std::towlower(ch));
    return text;
}

inline std::wstring SidText(PSID pSid)
{
    LPWSTR psz = nullptr;
    if (!pSid || !ConvertSidToStringSidW(pSid, &psz))
        return L"";
    std::wstring text = psz;
    LocalFree(psz);
    return text;
}

inline std::wstring DaclText(PACL pDacl)
{
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, pDacl, FALSE);
    LPWSTR psz = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(&sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &psz,
                                                              nullptr))
        return L"<invalid>";
    std::wstring text = psz;
    LocalFree(psz);
    return text;
}

// The SID of the process token's user as SDDL text.
inline std::wstring ProcessUserSid()
{
    HANDLE hToken = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken);
    BYTE buffer[256];
    DWORD cb = 0;
    std::wstring text;
    if (GetTokenInformation(hToken, TokenUser, buffer, sizeof(buffer), &cb))
        text = SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(hToken);
    return text;
}

// Replaces "%USER%" with the process user's SID.
inline std::wstring WithUser(std::wstring text)
{
    static const std::wstring user = ProcessUserSid();
    for (size_t pos = text.find(L"%USER%"); pos != std::wstring::npos; pos = text.find(L"%USER%"))
        text.replace(pos, 6, user);
    return text;
}

struct Write
{
    std::wstring strName;
    SECURITY_INFORMATION siWhat;
    std::wstring strOwner;  // SID text, or empty
    std::wstring strDacl;   // "D:..." or empty
};

struct KeyOpen
{
    HKEY hHive;
    std::wstring strPath;
    REGSAM sam;
    bool bCreate;
};

class CFakeSystemCalls : public ZIRA::CSystemCalls
{
public:
    CFakeSystemCalls() { m_pPrevious = ZIRA::SetSystemCalls(this); }
    ~CFakeSystemCalls() override { ZIRA::SetSystemCalls(m_pPrevious); }

    // Configuration.
    bool m_bTokenFails = false;
    bool m_bPrivilegeFails = false;
    bool m_bWow64 = false;
    DWORD m_dwScheduleError = ERROR_SUCCESS;
    // Descriptors by object name (SDDL); a name in m_unreadable refuses reads until its owner was set.
    std::map<std::wstring, std::wstring> m_descriptors;
    std::set<std::wstring> m_unreadable;
    // DACL writes fail for these names until the owner was set (or always, in m_readOnly).
    std::set<std::wstring> m_ownerNeededToWrite;
    std::set<std::wstring> m_readOnly;
    // Files, folders (paths) and keys (hive-less paths) that refuse access until a DACL was
    // written for their object name.
    std::set<std::wstring> m_deniedPaths;
    std::set<std::wstring> m_deniedKeys;
    std::wstring m_strKeyObjectPrefix = L"MACHINE\\";
    // Denied objects open up only after a write that clears the DACL's protection.
    bool m_bOnlyResetUnlocks = false;

    // What happened.
    std::vector<Write> m_writes;
    std::vector<KeyOpen> m_keyOpens;
    std::vector<std::wstring> m_scheduled;
    int m_nPrivilegeEnables = 0;

    void SetDescriptor(const std::wstring& name, const std::wstring& sddl) { m_descriptors[Lower(name)] = WithUser(sddl); }
    void DenyPath(const std::wstring& path) { m_deniedPaths.insert(Lower(path)); }
    void DenyKey(const std::wstring& path) { m_deniedKeys.insert(Lower(path)); }

    std::vector<std::wstring> DaclWrites() const
    {
        std::vector<std::wstring> out;
        for (const auto& w : m_writes) {
            if (w.siWhat & DACL_SECURITY_INFORMATION)
                out.push_back(w.strName + L" " + w.strDacl);
        }
        return out;
    }
    std::vector<std::wstring> OwnerWrites() const
    {
        std::vector<std::wstring> out;
        for (const auto& w : m_writes) {
            if (w.siWhat & OWNER_SECURITY_INFORMATION)
                out.push_back(w.strName + L" " + w.strOwner);
        }
        return out;
    }

    bool OpenProcessToken(DWORD dwDesiredAccess, HANDLE* phToken) override
    {
        if (m_bTokenFails) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        return ZIRA::CSystemCalls::OpenProcessToken(dwDesiredAccess, phToken);
    }
    bool EnablePrivilege(HANDLE, const wchar_t*, TOKEN_PRIVILEGES* pPrevious) override
    {
        ++m_nPrivilegeEnables;
        if (pPrevious)
            *pPrevious = TOKEN_PRIVILEGES{};
        return !m_bPrivilegeFails;
    }
    void RestorePrivilege(HANDLE, const TOKEN_PRIVILEGES&) override {}
    // As on Windows, the token's user counts as well (Wine's call looks at the groups only).
    bool CheckTokenMembership(HANDLE hToken, PSID pSid, bool& bMember) override
    {
        if (!ZIRA::CSystemCalls::CheckTokenMembership(hToken, pSid, bMember))
            return false;
        bMember = bMember || SidText(pSid) == ProcessUserSid();
        return true;
    }

    DWORD GetNamedSecurity(const wchar_t* pszName, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                           PSECURITY_DESCRIPTOR* ppDescriptor) override
    {
        *ppDescriptor = nullptr;
        std::wstring name = Lower(pszName);
        if (m_unreadable.count(name) && !OwnerWasSet(name))
            return ERROR_ACCESS_DENIED;
        auto it = m_descriptors.find(name);
        if (it == m_descriptors.end())
            return ERROR_FILE_NOT_FOUND;
        if (it->second == L"D:NO_ACCESS_CONTROL") {
            // Built by hand: the SDDL parser need not give a NULL DACL for it.
            *ppDescriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
            InitializeSecurityDescriptor(*ppDescriptor, SECURITY_DESCRIPTOR_REVISION);
            SetSecurityDescriptorDacl(*ppDescriptor, TRUE, nullptr, FALSE);
            return ERROR_SUCCESS;
        }
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(it->second.c_str(), SDDL_REVISION_1, ppDescriptor,
                                                                  nullptr))
            return GetLastError();
        return ERROR_SUCCESS;
    }

    DWORD SetNamedSecurity(const wchar_t* pszName, SE_OBJECT_TYPE, SECURITY_INFORMATION siWhat, PSID pOwner,
                           PACL pDacl) override
    {
        std::wstring name = Lower(pszName);
        Write write{pszName, siWhat, (siWhat & OWNER_SECURITY_INFORMATION) ? SidText(pOwner) : L"",
                    (siWhat & DACL_SECURITY_INFORMATION) ? DaclText(pDacl) : L""};
        if ((siWhat & DACL_SECURITY_INFORMATION) &&
            (m_readOnly.count(name) || (m_ownerNeededToWrite.count(name) && !OwnerWasSet(name)))) {
            m_writes.push_back({write.strName, siWhat | 0x80000000u, write.strOwner, write.strDacl});
            return ERROR_ACCESS_DENIED;
        }
        m_writes.push_back(write);
        return ERROR_SUCCESS;
    }

    DWORD RemoveFile(const wchar_t* pszPath) override
    {
        if (IsDenied(m_deniedPaths, pszPath, L""))
            return ERROR_ACCESS_DENIED;
        return ZIRA::CSystemCalls::RemoveFile(pszPath);
    }
    DWORD RemoveFolder(const wchar_t* pszPath) override
    {
        if (IsDenied(m_deniedPaths, pszPath, L""))
            return ERROR_ACCESS_DENIED;
        return ZIRA::CSystemCalls::RemoveFolder(pszPath);
    }
    DWORD DeleteAtRestart(const wchar_t* pszPath) override
    {
        if (m_dwScheduleError)
            return m_dwScheduleError;
        m_scheduled.push_back(pszPath);
        return ERROR_SUCCESS;
    }

    LONG OpenKey(CRegistryKey& key, HKEY hHive, const wchar_t* pszPath, REGSAM sam, bool bCreate,
                 DWORD dwOptions) override
    {
        m_keyOpens.push_back({hHive, pszPath, sam, bCreate});
        if (IsDenied(m_deniedKeys, pszPath, m_strKeyObjectPrefix)) {
            key.Close();
            return ERROR_ACCESS_DENIED;
        }
        return ZIRA::CSystemCalls::OpenKey(key, hHive, pszPath, sam, bCreate, dwOptions);
    }

    bool IsWow64() override { return m_bWow64; }

    // The key paths opened, in order.
    std::vector<std::wstring> KeyPaths() const
    {
        std::vector<std::wstring> out;
        for (const auto& open : m_keyOpens)
            out.push_back(open.strPath);
        return out;
    }

private:
    bool OwnerWasSet(const std::wstring& lowerName) const
    {
        return std::any_of(m_writes.begin(), m_writes.end(), [&](const Write& w) {
            return (w.siWhat & OWNER_SECURITY_INFORMATION) && !(w.siWhat & 0x80000000u) && Lower(w.strName) == lowerName;
        });
    }
    bool DaclWasWritten(const std::wstring& lowerName) const
    {
        return std::any_of(m_writes.begin(), m_writes.end(), [&](const Write& w) {
            return (w.siWhat & DACL_SECURITY_INFORMATION) && !(w.siWhat & 0x80000000u) &&
                   (!m_bOnlyResetUnlocks || (w.siWhat & UNPROTECTED_DACL_SECURITY_INFORMATION)) &&
                   Lower(w.strName) == lowerName;
        });
    }
    bool IsDenied(const std::set<std::wstring>& denied, const wchar_t* pszPath, const std::wstring& prefix) const
    {
        std::wstring path = Lower(pszPath ? pszPath : L"");
        return denied.count(path) && !DaclWasWritten(Lower(prefix) + path);
    }

    ZIRA::ISystemCalls* m_pPrevious = nullptr;
};

}  // namespace ziratest
