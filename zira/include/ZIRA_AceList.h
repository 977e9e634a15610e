// The ACEs of a DACL being rebuilt: explicit ACEs only, kept in two groups so that the
// written list is in canonical order (denied before allowed, each group in insertion order).
// The system adds the inherited ACEs again when the list is written.
#pragma once
#include <windows.h>
#include <vector>

#include "ZIRA_AccessMaskSet.h"

namespace ZIRA {

class CAceList
{
public:
    void Clear(BYTE bRevision);
    BYTE Revision() const { return m_bRevision; }
    size_t Count() const { return m_vecDenied.size() + m_vecAllowed.size(); }

    // Copies an ACE as it is; its type decides the group. False when the list would grow
    // beyond what an ACL can hold.
    bool AddCopy(const ACE_HEADER* pAce, bool bDenied);
    // Adds the set as at most seven plain allowed or denied ACEs for the SID, one per
    // combination of reached words, for the propagating triple and then the no-propagate one.
    bool AddSet(const AccessMaskSet& set, PSID pSid, bool bDenied);

    // The list as a self-contained ACL (the buffer is the ACL).
    bool Build(std::vector<BYTE>& acl) const;

private:
    bool Add(std::vector<BYTE>&& ace, bool bDenied);
    bool AddOne(DWORD dwMask, BYTE bFlags, PSID pSid, bool bDenied);

    BYTE m_bRevision = ACL_REVISION;
    size_t m_cbTotal = 0;
    std::vector<std::vector<BYTE>> m_vecDenied;
    std::vector<std::vector<BYTE>> m_vecAllowed;
};

}  // namespace ZIRA
