// The few system calls whose failures drive the access repair of the installer library:
// the process token, privileges, named security information, the file deletions and
// registry opens that can be refused. The library always calls them through SystemCalls(),
// so a test can put in a replacement that refuses access and records what is written.
#pragma once
#include <windows.h>
#include <aclapi.h>

#include "kqRegistryKey.h"

namespace ZIRA {

class ISystemCalls
{
public:
    virtual ~ISystemCalls() = default;

    // Opens the process's own token; false with the system error set on failure.
    virtual bool OpenProcessToken(DWORD dwDesiredAccess, HANDLE* phToken) = 0;
    // Enables a privilege on a token opened for adjusting; pPrevious receives the state to
    // hand to RestorePrivilege.
    virtual bool EnablePrivilege(HANDLE hToken, const wchar_t* pszPrivilege, TOKEN_PRIVILEGES* pPrevious) = 0;
    virtual void RestorePrivilege(HANDLE hToken, const TOKEN_PRIVILEGES& previous) = 0;
    // CheckTokenMembership: the token's user and enabled groups count.
    virtual bool CheckTokenMembership(HANDLE hToken, PSID pSid, bool& bMember) = 0;

    // GetNamedSecurityInfoW: *ppDescriptor is freed with LocalFree. Returns the system error.
    virtual DWORD GetNamedSecurity(const wchar_t* pszName, SE_OBJECT_TYPE eType, SECURITY_INFORMATION siWhat,
                                   PSECURITY_DESCRIPTOR* ppDescriptor) = 0;
    // SetNamedSecurityInfoW with an owner and/or a DACL. Returns the system error.
    virtual DWORD SetNamedSecurity(const wchar_t* pszName, SE_OBJECT_TYPE eType, SECURITY_INFORMATION siWhat,
                                   PSID pOwner, PACL pDacl) = 0;

    // File operations that can be refused; each returns the system error (0 on success).
    virtual DWORD RemoveFile(const wchar_t* pszPath) = 0;
    virtual DWORD RemoveFolder(const wchar_t* pszPath) = 0;
    // MoveFileExW with no target and MOVEFILE_DELAY_UNTIL_REBOOT.
    virtual DWORD DeleteAtRestart(const wchar_t* pszPath) = 0;

    // Opens (or creates) a key into the key object; returns the key's last system error.
    virtual LONG OpenKey(CRegistryKey& key, HKEY hHive, const wchar_t* pszPath, REGSAM samDesired, bool bCreate,
                         DWORD dwOptions) = 0;

    virtual bool IsWow64() = 0;
};

// The real calls.
class CSystemCalls : public ISystemCalls
{
public:
    bool OpenProcessToken(DWORD dwDesiredAccess, HANDLE* phToken) override;
    bool EnablePrivilege(HANDLE hToken, const wchar_t* pszPrivilege, TOKEN_PRIVILEGES* pPrevious) override;
    void RestorePrivilege(HANDLE hToken, const TOKEN_PRIVILEGES& previous) override;
    bool CheckTokenMembership(HANDLE hToken, PSID pSid, bool& bMember) override;
    DWORD GetNamedSecurity(const wchar_t* pszName, SE_OBJECT_TYPE eType, SECURITY_INFORMATION siWhat,
                           PSECURITY_DESCRIPTOR* ppDescriptor) override;
    DWORD SetNamedSecurity(const wchar_t* pszName, SE_OBJECT_TYPE eType, SECURITY_INFORMATION siWhat, PSID pOwner,
                           PACL pDacl) override;
    DWORD RemoveFile(const wchar_t* pszPath) override;
    DWORD RemoveFolder(const wchar_t* pszPath) override;
    DWORD DeleteAtRestart(const wchar_t* pszPath) override;
    LONG OpenKey(CRegistryKey& key, HKEY hHive, const wchar_t* pszPath, REGSAM samDesired, bool bCreate,
                 DWORD dwOptions) override;
    bool IsWow64() override;
};

// The calls in use: the real ones unless a replacement is set.
ISystemCalls& SystemCalls();
// Puts in a replacement (null: the real calls again) and returns the previous one. Meant for
// tests, set while no other thread uses the library.
ISystemCalls* SetSystemCalls(ISystemCalls* pCalls);

}  // namespace ZIRA
