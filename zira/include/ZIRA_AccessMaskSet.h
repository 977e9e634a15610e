// Access masks by what they reach: the object itself, child containers and child objects,
// once for ACEs that propagate and once for ACEs marked no-propagate.
#pragma once
#include <windows.h>

namespace ZIRA {

struct AccessMaskSet
{
    enum { eWord_Object, eWord_Container, eWord_Child, eWord_NoPropagateObject, eWord_NoPropagateContainer,
           eWord_NoPropagateChild, eWord_Count };

    DWORD m_dwMask[eWord_Count] = {};

    AccessMaskSet() = default;
    // The same mask in all three words of the first triple.
    static AccessMaskSet All(DWORD dwMask)
    {
        AccessMaskSet set;
        set.m_dwMask[eWord_Object] = set.m_dwMask[eWord_Container] = set.m_dwMask[eWord_Child] = dwMask;
        return set;
    }
    // What an ACE with this (already mapped) mask and these flags reaches.
    static AccessMaskSet FromAce(DWORD dwMask, BYTE bFlags)
    {
        AccessMaskSet set;
        int base = (bFlags & NO_PROPAGATE_INHERIT_ACE) ? eWord_NoPropagateObject : eWord_Object;
        if (!(bFlags & INHERIT_ONLY_ACE))
            set.m_dwMask[base] = dwMask;
        if (bFlags & CONTAINER_INHERIT_ACE)
            set.m_dwMask[base + 1] = dwMask;
        if (bFlags & OBJECT_INHERIT_ACE)
            set.m_dwMask[base + 2] = dwMask;
        return set;
    }

    AccessMaskSet operator&(const AccessMaskSet& other) const
    {
        AccessMaskSet set;
        for (int i = 0; i < eWord_Count; ++i)
            set.m_dwMask[i] = m_dwMask[i] & other.m_dwMask[i];
        return set;
    }
    AccessMaskSet operator|(const AccessMaskSet& other) const
    {
        AccessMaskSet set;
        for (int i = 0; i < eWord_Count; ++i)
            set.m_dwMask[i] = m_dwMask[i] | other.m_dwMask[i];
        return set;
    }
    AccessMaskSet operator~() const
    {
        AccessMaskSet set;
        for (int i = 0; i < eWord_Count; ++i)
            set.m_dwMask[i] = ~m_dwMask[i];
        return set;
    }
    bool Differs(const AccessMaskSet& other) const
    {
        for (int i = 0; i < eWord_Count; ++i) {
            if (m_dwMask[i] != other.m_dwMask[i])
                return true;
        }
        return false;
    }
    bool IsEmpty() const { return !Differs(AccessMaskSet()); }
};

}  // namespace ZIRA
