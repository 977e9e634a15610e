#include "ZIRA_AceList.h"

#include <cstring>

namespace ZIRA {

namespace {

// An ACL's size is a 16-bit value.
const size_t kMaxAclSize = 0xFFFC;

}  // namespace

void CAceList::Clear(BYTE bRevision)
{
    m_bRevision = bRevision;
    m_cbTotal = 0;
    m_vecDenied.clear();
    m_vecAllowed.clear();
}

bool CAceList::Add(std::vector<BYTE>&& ace, bool bDenied)
{
    if (sizeof(ACL) + m_cbTotal + ace.size() > kMaxAclSize)
        return false;
    m_cbTotal += ace.size();
    (bDenied ? m_vecDenied : m_vecAllowed).push_back(std::move(ace));
    return true;
}

bool CAceList::AddCopy(const ACE_HEADER* pAce, bool bDenied)
{
    if (!pAce || pAce->AceSize < sizeof(ACE_HEADER) || (pAce->AceSize & 3) != 0)
        return false;
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(pAce);
    return Add(std::vector<BYTE>(pBytes, pBytes + pAce->AceSize), bDenied);
}

bool CAceList::AddOne(DWORD dwMask, BYTE bFlags, PSID pSid, bool bDenied)
{
    if (dwMask == 0)
        return true;
    if (!pSid || !IsValidSid(pSid))
        return false;
    DWORD cbSid = GetLengthSid(pSid);
    // ACCESS_ALLOWED_ACE and ACCESS_DENIED_ACE share one layout: header, mask, SID.
    size_t cbAce = sizeof(ACE_HEADER) + sizeof(DWORD) + cbSid;
    cbAce = (cbAce + 3) & ~static_cast<size_t>(3);
    std::vector<BYTE> ace(cbAce, 0);
    ACE_HEADER header = {};
    header.AceType = bDenied ? ACCESS_DENIED_ACE_TYPE : ACCESS_ALLOWED_ACE_TYPE;
    header.AceFlags = bFlags;
    header.AceSize = static_cast<WORD>(cbAce);
    std::memcpy(ace.data(), &header, sizeof(header));
    std::memcpy(ace.data() + sizeof(header), &dwMask, sizeof(dwMask));
    if (!CopySid(cbSid, ace.data() + sizeof(header) + sizeof(dwMask), pSid))
        return false;
    return Add(std::move(ace), bDenied);
}

bool CAceList::AddSet(const AccessMaskSet& set, PSID pSid, bool bDenied)
{
    for (int triple = 0; triple < 2; ++triple) {
        int base = triple * 3;
        BYTE bBase = triple ? NO_PROPAGATE_INHERIT_ACE : 0;
        DWORD o = set.m_dwMask[base];
        DWORD c = set.m_dwMask[base + 1];
        DWORD f = set.m_dwMask[base + 2];
        const struct
        {
            DWORD dwMask;
            BYTE bFlags;
        } aces[] = {
            {o & c & f, static_cast<BYTE>(bBase | 0x03)},
            {o & c & ~f, static_cast<BYTE>(bBase | 0x02)},
            {c & f & ~o, static_cast<BYTE>(bBase | 0x0B)},
            {o & f & ~c, static_cast<BYTE>(bBase | 0x01)},
            {o & ~c & ~f, bBase},
            {c & ~o & ~f, static_cast<BYTE>(bBase | 0x0A)},
            {f & ~o & ~c, static_cast<BYTE>(bBase | 0x09)},
        };
        for (const auto& ace : aces) {
            if (!AddOne(ace.dwMask, ace.bFlags, pSid, bDenied))
                return false;
        }
    }
    return true;
}

bool CAceList::Build(std::vector<BYTE>& acl) const
{
    size_t cbAcl = sizeof(ACL) + m_cbTotal;
    acl.assign(cbAcl, 0);
    ACL header = {};
    header.AclRevision = m_bRevision;
    header.AclSize = static_cast<WORD>(cbAcl);
    header.AceCount = static_cast<WORD>(Count());
    std::memcpy(acl.data(), &header, sizeof(header));
    size_t offset = sizeof(ACL);
    for (const auto* pGroup : {&m_vecDenied, &m_vecAllowed}) {
        for (const auto& ace : *pGroup) {
            std::memcpy(acl.data() + offset, ace.data(), ace.size());
            offset += ace.size();
        }
    }
    return true;
}

}  // namespace ZIRA
