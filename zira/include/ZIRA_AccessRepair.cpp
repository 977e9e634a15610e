#include "ZIRA_AccessRepair.h"

#include <functional>
#include <new>

#include "ZIRA_RightsChecker.h"
#include "kqTrace.h"

namespace ZIRA {

namespace {

// Builds the well-known SID; an empty buffer when it cannot be made.
void WellKnownSid(WELL_KNOWN_SID_TYPE eType, BYTE (&sid)[SECURITY_MAX_SID_SIZE], bool& bMade)
{
    DWORD cbSid = sizeof(sid);
    bMade = CreateWellKnownSid(eType, nullptr, sid, &cbSid) != FALSE;
}

// Runs the three trustees through the call: first the process token (null SID), then the two
// well-known groups.
bool RepairForTrustees(const wchar_t* pszPath, const AccessRepairMessages& messages,
                       const std::function<void(PSID)>& ensure)
{
    try {
        ensure(nullptr);
        for (WELL_KNOWN_SID_TYPE eType : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
            BYTE sid[SECURITY_MAX_SID_SIZE];
            bool bMade = false;
            WellKnownSid(eType, sid, bMade);
            if (bMade)
                ensure(sid);
        }
        return true;
    } catch (const CRightsChecker::Exception& e) {
        if (messages.bExceptionAsWarning)
            TraceWarning(messages.pszException, pszPath, e.Code());
        else
            TraceError(messages.pszException, pszPath, e.Code());
    } catch (const CRightsChecker::HResultException& e) {
        TraceError(messages.pszHResult, pszPath, static_cast<unsigned>(e.Result()));
    } catch (const std::bad_alloc&) {
        TraceError(messages.pszHResult, pszPath, static_cast<unsigned>(E_OUTOFMEMORY));
    }
    return false;
}

}  // namespace

bool RepairFileAccess(const wchar_t* pszPath, const AccessRepairMessages& messages)
{
    const AccessMaskSet requested = CRightsChecker::FileFullAccess();
    return RepairForTrustees(pszPath, messages, [&](PSID pSid) {
        if (pSid)
            CRightsChecker::FileEnsureAccess(pszPath, requested, pSid);
        else
            CRightsChecker::FileEnsureAccess(pszPath, requested);
    });
}

bool RepairRegistryAccess(HKEY hHive, const wchar_t* pszPath, const AccessRepairMessages& messages)
{
    const AccessMaskSet requested = CRightsChecker::KeyFullAccess();
    return RepairForTrustees(pszPath, messages, [&](PSID pSid) {
        if (pSid)
            CRightsChecker::RegistryEnsureAccess(hHive, pszPath, requested, pSid);
        else
            CRightsChecker::RegistryEnsureAccess(hHive, pszPath, requested);
    });
}

}  // namespace ZIRA
