#include "ZIRA_RightsChecker.h"

#include "ZIRA_SystemCalls.h"

namespace ZIRA {

CTrustee::~CTrustee()
{
    if (m_hToken)
        CloseHandle(m_hToken);
}

void CTrustee::SetToken(HANDLE hImpersonationToken, std::vector<BYTE>&& userSid)
{
    if (m_hToken)
        CloseHandle(m_hToken);
    m_hToken = hImpersonationToken;
    m_vecSid = std::move(userSid);
}

void CTrustee::SetSid(PSID pSid)
{
    m_vecSid.clear();
    if (pSid && IsValidSid(pSid)) {
        const BYTE* pBytes = static_cast<const BYTE*>(pSid);
        m_vecSid.assign(pBytes, pBytes + GetLengthSid(pSid));
    }
}

PSID CTrustee::Sid() const
{
    return m_vecSid.empty() ? nullptr : const_cast<BYTE*>(m_vecSid.data());
}

bool CTrustee::Applies(PSID pAceSid) const
{
    if (!pAceSid || !IsValidSid(pAceSid))
        return false;
    if (m_hToken) {
        bool bMember = false;
        if (!SystemCalls().CheckTokenMembership(m_hToken, pAceSid, bMember))
            throw CRightsChecker::Exception(CRightsChecker::Exception::eException_Membership);
        return bMember;
    }
    PSID pSid = Sid();
    return pSid && EqualSid(pSid, pAceSid);
}

}  // namespace ZIRA
