#include "ZIRA_RightsChecker.h"

#include <sddl.h>
#include <cstring>
#include <new>

#include "ZIRA_SystemCalls.h"
#include "kqFormatString.h"
#include "kqPrivilege.h"
#include "kqScopedHandle.h"
#include "kqTrace.h"

namespace ZIRA {

namespace {

const DWORD kGenericBits = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;

// A descriptor returned by the named-security calls.
class CLocalDescriptor
{
public:
    CLocalDescriptor() = default;
    ~CLocalDescriptor() { Free(); }
    CLocalDescriptor(const CLocalDescriptor&) = delete;
    CLocalDescriptor& operator=(const CLocalDescriptor&) = delete;
    void Free()
    {
        if (m_p)
            LocalFree(m_p);
        m_p = nullptr;
    }
    PSECURITY_DESCRIPTOR* Receive()
    {
        Free();
        return &m_p;
    }
    PSECURITY_DESCRIPTOR Get() const { return m_p; }

private:
    PSECURITY_DESCRIPTOR m_p = nullptr;
};

// The process token opened for adjusting, with SeTakeOwnershipPrivilege enabled while it lives.
class CTakeOwnershipPrivilege
{
public:
    CTakeOwnershipPrivilege() = default;
    ~CTakeOwnershipPrivilege()
    {
        if (m_bEnabled)
            SystemCalls().RestorePrivilege(m_token.Get(), m_previous);
    }
    CTakeOwnershipPrivilege(const CTakeOwnershipPrivilege&) = delete;
    CTakeOwnershipPrivilege& operator=(const CTakeOwnershipPrivilege&) = delete;

    bool Enable()
    {
        if (!SystemCalls().OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, m_token.Receive()))
            return false;
        m_bEnabled = SystemCalls().EnablePrivilege(m_token.Get(), SE_TAKE_OWNERSHIP_NAME, &m_previous);
        return m_bEnabled;
    }
    HANDLE Token() const { return m_token.Get(); }

private:
    CScopedHandle m_token;
    TOKEN_PRIVILEGES m_previous = {};
    bool m_bEnabled = false;
};

bool MappingFor(DWORD dwObjectType, GENERIC_MAPPING& mapping)
{
    switch (dwObjectType) {
    case CRightsChecker::eObject_File:
        mapping = {0x120089, 0x120116, 0x1200A0, 0x1F01FF};
        return true;
    case CRightsChecker::eObject_Service:
        mapping = {0x2008D, 0x20002, 0x20170, 0xF01FF};
        return true;
    case CRightsChecker::eObject_RegistryKey:
        mapping = {0x20019, 0x20006, 0x20019, 0xF003F};
        return true;
    default:
        return false;
    }
}

DWORD MapGeneric(DWORD dwMask, const GENERIC_MAPPING& mapping)
{
    if (dwMask & GENERIC_READ)
        dwMask |= mapping.GenericRead;
    if (dwMask & GENERIC_WRITE)
        dwMask |= mapping.GenericWrite;
    if (dwMask & GENERIC_EXECUTE)
        dwMask |= mapping.GenericExecute;
    if (dwMask & GENERIC_ALL)
        dwMask |= mapping.GenericAll;
    return dwMask & ~kGenericBits;
}

std::vector<BYTE> TokenUserSid(HANDLE hToken)
{
    DWORD cbNeeded = 0;
    GetTokenInformation(hToken, TokenUser, nullptr, 0, &cbNeeded);
    if (cbNeeded < sizeof(TOKEN_USER))
        throw CRightsChecker::Exception(CRightsChecker::Exception::eException_UserSid);
    std::vector<BYTE> buffer(cbNeeded);
    if (!GetTokenInformation(hToken, TokenUser, buffer.data(), cbNeeded, &cbNeeded))
        throw CRightsChecker::Exception(CRightsChecker::Exception::eException_UserSid);
    TOKEN_USER user;
    std::memcpy(&user, buffer.data(), sizeof(user));
    PSID pSid = user.User.Sid;
    if (!pSid || !IsValidSid(pSid))
        throw CRightsChecker::Exception(CRightsChecker::Exception::eException_UserSid);
    const BYTE* pBytes = static_cast<const BYTE*>(pSid);
    return std::vector<BYTE>(pBytes, pBytes + GetLengthSid(pSid));
}

// Reads the object's DACL; a descriptor without one counts as a NULL DACL.
bool ReadDacl(const wchar_t* pszName, DWORD dwObjectType, CLocalDescriptor& descriptor, PACL& pDacl)
{
    pDacl = nullptr;
    DWORD dwError = SystemCalls().GetNamedSecurity(pszName, static_cast<SE_OBJECT_TYPE>(dwObjectType),
                                                   DACL_SECURITY_INFORMATION, descriptor.Receive());
    if (dwError != ERROR_SUCCESS || !descriptor.Get())
        return false;
    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    PACL pRead = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.Get(), &bPresent, &pRead, &bDefaulted))
        return false;
    pDacl = bPresent ? pRead : nullptr;
    return true;
}

DWORD AceMask(const ACE_HEADER* pAce)
{
    DWORD dwMask = 0;
    std::memcpy(&dwMask, reinterpret_cast<const BYTE*>(pAce) + sizeof(ACE_HEADER), sizeof(dwMask));
    return dwMask;
}

// The ACE's (first) SID, or null when it does not lie wholly inside the ACE.
PSID AceSid(const ACE_HEADER* pAce)
{
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(pAce);
    size_t offset = sizeof(ACE_HEADER) + sizeof(DWORD);
    switch (pAce->AceType) {
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
        offset += sizeof(DWORD);
        break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: {
        if (pAce->AceSize < offset + sizeof(DWORD))
            return nullptr;
        DWORD dwFlags = 0;
        std::memcpy(&dwFlags, pBytes + offset, sizeof(dwFlags));
        offset += sizeof(DWORD);
        if (dwFlags & ACE_OBJECT_TYPE_PRESENT)
            offset += sizeof(GUID);
        if (dwFlags & ACE_INHERITED_OBJECT_TYPE_PRESENT)
            offset += sizeof(GUID);
        break;
    }
    default:
        break;
    }
    // Revision, sub-authority count, six bytes of authority, then the sub-authorities.
    if (pAce->AceSize < offset + 8)
        return nullptr;
    size_t cbSid = 8 + 4 * static_cast<size_t>(pBytes[offset + 1]);
    if (pAce->AceSize < offset + cbSid)
        return nullptr;
    return const_cast<BYTE*>(pBytes + offset);
}

bool IsAllowedType(BYTE bType)
{
    return bType == ACCESS_ALLOWED_ACE_TYPE || bType == ACCESS_ALLOWED_COMPOUND_ACE_TYPE ||
           bType == ACCESS_ALLOWED_OBJECT_ACE_TYPE || bType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
           bType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
}

bool IsDeniedType(BYTE bType)
{
    return bType == ACCESS_DENIED_ACE_TYPE || bType == ACCESS_DENIED_OBJECT_ACE_TYPE ||
           bType == ACCESS_DENIED_CALLBACK_ACE_TYPE || bType == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
}

}  // namespace

const wchar_t* CRightsChecker::HiveName(HKEY hHive)
{
    if (hHive == HKEY_CLASSES_ROOT)
        return L"CLASSES_ROOT";
    if (hHive == HKEY_CURRENT_USER)
        return L"CURRENT_USER";
    if (hHive == HKEY_LOCAL_MACHINE)
        return L"MACHINE";
    if (hHive == HKEY_USERS)
        return L"USERS";
    return nullptr;
}

DWORD CRightsChecker::Evaluate(PACL pDacl, const GENERIC_MAPPING& mapping, const AccessMaskSet& requested,
                               const CTrustee& trustee, CAceList& newDacl)
{
    newDacl.Clear(pDacl ? pDacl->AclRevision : static_cast<BYTE>(ACL_REVISION));
    AccessMaskSet granted;
    AccessMaskSet denied;
    // A NULL DACL grants everything.
    auto isMissing = [&]() { return pDacl && requested.Differs(requested & granted); };
    bool bMissing = isMissing();
    bool bBlocked = false;
    DWORD dwCount = pDacl ? pDacl->AceCount : 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        if (!bMissing && !bBlocked)
            return eAccess_Present;
        void* pvAce = nullptr;
        if (!GetAce(pDacl, i, &pvAce) || !pvAce)
            throw HResultException(HRESULT_FROM_WIN32(ERROR_INVALID_ACL));
        const ACE_HEADER* pAce = static_cast<const ACE_HEADER*>(pvAce);
        if (pAce->AceSize < sizeof(ACE_HEADER) + sizeof(DWORD))
            throw HResultException(HRESULT_FROM_WIN32(ERROR_INVALID_ACL));
        AccessMaskSet ace = AccessMaskSet::FromAce(MapGeneric(AceMask(pAce), mapping), pAce->AceFlags);
        bool bInherited = (pAce->AceFlags & INHERITED_ACE) != 0;
        PSID pAceSid = AceSid(pAce);
        if (IsAllowedType(pAce->AceType)) {
            if (trustee.Applies(pAceSid)) {
                granted = granted | (ace & ~denied);
                bMissing = isMissing();
            }
            if (!bInherited && !newDacl.AddCopy(pAce, false))
                throw Exception(Exception::eException_AllowedAce);
        } else if (IsDeniedType(pAce->AceType)) {
            bool bApplies = trustee.Applies(pAceSid);
            if (bApplies && bInherited) {
                denied = denied | (ace & ~granted);
            } else if (bApplies) {
                // Keep the part of the denial that takes nothing requested away.
                AccessMaskSet kept = ace & (~requested | granted);
                if (kept.Differs(ace))
                    bBlocked = true;
                if (!kept.IsEmpty() && !newDacl.AddSet(kept, pAceSid, true))
                    throw Exception(Exception::eException_DeniedAce);
                denied = denied | (kept & ~granted);
            } else if (!bInherited && !newDacl.AddCopy(pAce, true)) {
                throw Exception(Exception::eException_DeniedAce);
            }
        } else {
            throw Exception(Exception::eException_AceType);
        }
    }
    if (bMissing) {
        if (!newDacl.AddSet(requested & ~granted, trustee.Sid(), false))
            throw Exception(Exception::eException_AllowedAce);
        return eAccess_NeedsChange;
    }
    return bBlocked ? eAccess_NeedsChange : eAccess_Present;
}

DWORD CRightsChecker::CheckAccess(const wchar_t* pszObjectName, DWORD dwObjectType, const AccessMaskSet& requested,
                                  const CTrustee& trustee, CAceList& newDacl)
{
    GENERIC_MAPPING mapping = {};
    if (!MappingFor(dwObjectType, mapping)) {
        TraceWarning(L"ZIRA::CRightsChecker::CheckAccess(436) : CRightsChecker::CheckAccess: invalid object type: %lu",
                     dwObjectType);
        throw Exception(Exception::eException_ObjectType);
    }
    CLocalDescriptor descriptor;
    PACL pDacl = nullptr;
    if (ReadDacl(pszObjectName, dwObjectType, descriptor, pDacl))
        return Evaluate(pDacl, mapping, requested, trustee, newDacl);

    // The DACL may be hidden from everyone but the owner: become the owner and read it again.
    CTakeOwnershipPrivilege privilege;
    if (!privilege.Enable())
        return eAccess_NotChecked;
    std::vector<BYTE> owner = TokenUserSid(privilege.Token());
    if (SystemCalls().SetNamedSecurity(pszObjectName, static_cast<SE_OBJECT_TYPE>(dwObjectType),
                                       OWNER_SECURITY_INFORMATION, owner.data(), nullptr) == ERROR_SUCCESS &&
        ReadDacl(pszObjectName, dwObjectType, descriptor, pDacl))
        return Evaluate(pDacl, mapping, requested, trustee, newDacl);
    return eAccess_DaclUnreadable;
}

DWORD CRightsChecker::ChangeAccess(const CAceList& newDacl, const wchar_t* pszObjectName, DWORD dwObjectType)
{
    TraceWarning(L"ZIRA::CRightsChecker::ChangeAccess(227) : CRightsChecker::ChangeAccess: %s", pszObjectName);
    std::vector<BYTE> acl;
    newDacl.Build(acl);
    PACL pAcl = reinterpret_cast<PACL>(acl.data());
    SE_OBJECT_TYPE eType = static_cast<SE_OBJECT_TYPE>(dwObjectType);
    if (SystemCalls().SetNamedSecurity(pszObjectName, eType, DACL_SECURITY_INFORMATION, nullptr, pAcl) ==
        ERROR_SUCCESS) {
        TraceWarning(L"ZIRA::CRightsChecker::ChangeAccess(235) : CRightsChecker::ChangeAccess: SUCCEEDED");
        return eAccess_Changed;
    }
    CTakeOwnershipPrivilege privilege;
    if (!privilege.Enable())
        return eAccess_NotChecked;
    std::vector<BYTE> owner = TokenUserSid(privilege.Token());
    if (SystemCalls().SetNamedSecurity(pszObjectName, eType, OWNER_SECURITY_INFORMATION, owner.data(), nullptr) ==
            ERROR_SUCCESS &&
        SystemCalls().SetNamedSecurity(pszObjectName, eType, DACL_SECURITY_INFORMATION, nullptr, pAcl) ==
            ERROR_SUCCESS) {
        TraceWarning(L"ZIRA::CRightsChecker::ChangeAccess(250) : CRightsChecker::ChangeAccess: succeeded");
        return eAccess_Changed;
    }
    TraceWarning(L"ZIRA::CRightsChecker::ChangeAccess(254) : CRightsChecker::ChangeAccess: failed");
    return eAccess_ChangeFailed;
}

DWORD CRightsChecker::EnsureFor(const wchar_t* pszObjectName, DWORD dwObjectType, const AccessMaskSet& requested,
                                const CTrustee& trustee)
{
    CAceList newDacl;
    DWORD dwResult = CheckAccess(pszObjectName, dwObjectType, requested, trustee, newDacl);
    if (dwResult != eAccess_NeedsChange)
        return dwResult;
    return ChangeAccess(newDacl, pszObjectName, dwObjectType);
}

DWORD CRightsChecker::EnsureAccess(const wchar_t* pszObjectName, DWORD dwObjectType, const AccessMaskSet& requested)
{
    try {
        CScopedHandle process;
        if (!SystemCalls().OpenProcessToken(TOKEN_DUPLICATE | TOKEN_QUERY, process.Receive()))
            return eAccess_NotChecked;
        HANDLE hImpersonation = nullptr;
        if (!DuplicateToken(process.Get(), SecurityImpersonation, &hImpersonation))
            throw Exception(Exception::eException_DuplicateToken);
        CScopedHandle impersonation(hImpersonation);
        std::vector<BYTE> user = TokenUserSid(hImpersonation);
        CTrustee trustee;
        trustee.SetToken(impersonation.Detach(), std::move(user));
        return EnsureFor(pszObjectName, dwObjectType, requested, trustee);
    } catch (const std::bad_alloc&) {
        throw HResultException(E_OUTOFMEMORY);
    }
}

DWORD CRightsChecker::EnsureAccess(DWORD dwObjectType, const wchar_t* pszObjectName, const AccessMaskSet& requested,
                                   PSID pSid)
{
    try {
        if (!pSid || !IsValidSid(pSid))
            throw HResultException(E_INVALIDARG);
        CTrustee trustee;
        trustee.SetSid(pSid);
        return EnsureFor(pszObjectName, dwObjectType, requested, trustee);
    } catch (const std::bad_alloc&) {
        throw HResultException(E_OUTOFMEMORY);
    }
}

DWORD CRightsChecker::FileEnsureAccess(const wchar_t* pszPath, const AccessMaskSet& requested)
{
    return EnsureAccess(pszPath, eObject_File, requested);
}

DWORD CRightsChecker::FileEnsureAccess(const wchar_t* pszPath, const AccessMaskSet& requested, PSID pSid)
{
    return EnsureAccess(eObject_File, pszPath, requested, pSid);
}

namespace {

std::wstring RegistryObjectName(HKEY hHive, const wchar_t* pszSubKey)
{
    const wchar_t* pszHive = CRightsChecker::HiveName(hHive);
    if (!pszHive)
        throw CRightsChecker::Exception(CRightsChecker::Exception::eException_Hive);
    std::wstring strName;
    if (!FormatString(strName, L"%s\\%s", pszHive, pszSubKey ? pszSubKey : L""))
        throw CRightsChecker::HResultException(E_OUTOFMEMORY);
    return strName;
}

}  // namespace

DWORD CRightsChecker::RegistryEnsureAccess(HKEY hHive, const wchar_t* pszSubKey, const AccessMaskSet& requested)
{
    return EnsureAccess(RegistryObjectName(hHive, pszSubKey).c_str(), eObject_RegistryKey, requested);
}

DWORD CRightsChecker::RegistryEnsureAccess(HKEY hHive, const wchar_t* pszSubKey, const AccessMaskSet& requested,
                                           PSID pSid)
{
    return EnsureAccess(eObject_RegistryKey, RegistryObjectName(hHive, pszSubKey).c_str(), requested, pSid);
}

void CRightsChecker::TraceSecurityDescriptor(const wchar_t* pszObjectName, DWORD dwObjectType)
{
    const SECURITY_INFORMATION siAll =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
        SACL_SECURITY_INFORMATION;
    CLocalDescriptor descriptor;
    DWORD dwError = ERROR_SUCCESS;
    {
        // The SACL needs SeSecurityPrivilege: enable it on a thread token of our own only.
        CScopedHandle previous;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, previous.Receive()))
            *previous.Receive() = nullptr;
        bool bImpersonating = ImpersonateSelf(SecurityImpersonation) != FALSE;
        {
            CPrivilege privilege;
            privilege.EnableForThread(SE_SECURITY_NAME);
            dwError = SystemCalls().GetNamedSecurity(pszObjectName, static_cast<SE_OBJECT_TYPE>(dwObjectType), siAll,
                                                     descriptor.Receive());
        }
        if (bImpersonating)
            SetThreadToken(nullptr, previous.Get());
    }
    if (dwError != ERROR_SUCCESS || !descriptor.Get())
        return;
    LPWSTR pszSddl = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.Get(), SDDL_REVISION_1, siAll, &pszSddl,
                                                              nullptr) ||
        !pszSddl)
        return;
    TraceInformation(L"SDDL: %s (%s)", pszSddl, pszObjectName);
    LocalFree(pszSddl);
}

}  // namespace ZIRA
