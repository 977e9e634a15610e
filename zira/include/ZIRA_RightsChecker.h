// Decides whether a trustee already has an access to a named object (file, service or
// registry key) and, when not, writes a DACL that grants it, taking ownership first when the
// DACL cannot be read or written otherwise.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "ZIRA_AccessMaskSet.h"
#include "ZIRA_AceList.h"

namespace ZIRA {

// Who the access is for: the process token (an ACE applies when the token is a member of its
// SID; new ACEs name the token's user) or one given SID.
class CTrustee
{
public:
    CTrustee() = default;
    ~CTrustee();
    CTrustee(const CTrustee&) = delete;
    CTrustee& operator=(const CTrustee&) = delete;

    // Takes the impersonation token (closed on destruction) and its user SID.
    void SetToken(HANDLE hImpersonationToken, std::vector<BYTE>&& userSid);
    // Copies the SID; an invalid SID applies to no ACE.
    void SetSid(PSID pSid);

    // Throws CRightsChecker::Exception 0 when the token-membership test fails.
    bool Applies(PSID pAceSid) const;
    PSID Sid() const;

private:
    HANDLE m_hToken = nullptr;
    std::vector<BYTE> m_vecSid;
};

class CRightsChecker
{
public:
    enum AccessResult : DWORD
    {
        eAccess_NotChecked = 0,
        eAccess_NeedsChange = 1,
        eAccess_Present = 2,
        eAccess_DaclUnreadable = 3,
        eAccess_Changed = 4,
        eAccess_ChangeFailed = 5,
    };

    enum ObjectType : DWORD
    {
        eObject_File = 1,
        eObject_Service = 2,
        eObject_RegistryKey = 4,
    };

    // Thrown by value for broken tokens, ACL builder failures and bad arguments.
    class Exception
    {
    public:
        enum Code
        {
            eException_Membership = 0,
            eException_DuplicateToken = 1,
            eException_UserSid = 2,
            eException_AllowedAce = 3,
            eException_DeniedAce = 4,
            eException_AceType = 5,
            eException_Hive = 6,
            eException_ObjectType = 7,
        };
        explicit Exception(int nCode) : m_nCode(nCode) {}
        int Code() const { return m_nCode; }

    private:
        int m_nCode;
    };

    // Thrown by value when memory runs out or a SID cannot be copied.
    class HResultException
    {
    public:
        explicit HResultException(HRESULT hr) : m_hr(hr) {}
        HRESULT Result() const { return m_hr; }

    private:
        HRESULT m_hr;
    };

    // FILE_ALL_ACCESS and KEY_ALL_ACCESS for the object and everything below it.
    static AccessMaskSet FileFullAccess() { return AccessMaskSet::All(FILE_ALL_ACCESS); }
    static AccessMaskSet KeyFullAccess() { return AccessMaskSet::All(KEY_ALL_ACCESS); }

    // For the process token.
    static DWORD EnsureAccess(const wchar_t* pszObjectName, DWORD dwObjectType, const AccessMaskSet& requested);
    // For a given SID.
    static DWORD EnsureAccess(DWORD dwObjectType, const wchar_t* pszObjectName, const AccessMaskSet& requested,
                              PSID pSid);

    static DWORD FileEnsureAccess(const wchar_t* pszPath, const AccessMaskSet& requested);
    static DWORD FileEnsureAccess(const wchar_t* pszPath, const AccessMaskSet& requested, PSID pSid);
    // The object name is the hive's name, "\" and the subkey; a hive other than the four
    // predefined ones throws Exception 6.
    static DWORD RegistryEnsureAccess(HKEY hHive, const wchar_t* pszSubKey, const AccessMaskSet& requested);
    static DWORD RegistryEnsureAccess(HKEY hHive, const wchar_t* pszSubKey, const AccessMaskSet& requested,
                                      PSID pSid);

    // eAccess_NeedsChange (with the new DACL filled), eAccess_Present, eAccess_DaclUnreadable
    // or eAccess_NotChecked.
    static DWORD CheckAccess(const wchar_t* pszObjectName, DWORD dwObjectType, const AccessMaskSet& requested,
                             const CTrustee& trustee, CAceList& newDacl);
    // eAccess_Changed, eAccess_ChangeFailed or eAccess_NotChecked.
    static DWORD ChangeAccess(const CAceList& newDacl, const wchar_t* pszObjectName, DWORD dwObjectType);

    // Logs owner, group, DACL and SACL of the object as SDDL; logs nothing when they cannot be read.
    static void TraceSecurityDescriptor(const wchar_t* pszObjectName, DWORD dwObjectType);

    // "CLASSES_ROOT", "CURRENT_USER", "MACHINE" or "USERS"; null for another hive.
    static const wchar_t* HiveName(HKEY hHive);

private:
    static DWORD Evaluate(PACL pDacl, const GENERIC_MAPPING& mapping, const AccessMaskSet& requested,
                          const CTrustee& trustee, CAceList& newDacl);
    static DWORD EnsureFor(const wchar_t* pszObjectName, DWORD dwObjectType, const AccessMaskSet& requested,
                           const CTrustee& trustee);
};

}  // namespace ZIRA
