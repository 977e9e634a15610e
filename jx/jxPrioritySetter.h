// The base of the priority setters: one requested change, applied until it has taken effect.
#pragma once
#include <windows.h>

#include "jxProcessPrioritySetterMgr.h"

namespace JX {

class CProcessPrioritySetterMgr::CPrioritySetter
{
public:
    // Starts with one reference, freed on the last Release.
    CPrioritySetter() = default;
    CPrioritySetter(const CPrioritySetter&) = delete;
    CPrioritySetter& operator=(const CPrioritySetter&) = delete;

    LONG AddRef() { return InterlockedIncrement(&m_lRefs); }
    LONG Release()
    {
        LONG lRefs = InterlockedDecrement(&m_lRefs);
        if (lRefs == 0)
            delete this;
        return lRefs;
    }

    // True when the change has taken effect and the setter is done; false to try again later.
    virtual bool Apply(CProcessPrioritySetterMgr& mgr) = 0;

protected:
    virtual ~CPrioritySetter() = default;

private:
    LONG m_lRefs = 1;
};

// Holds one reference to a setter.
class CProcessPrioritySetterMgr::CPrioritySetterRef
{
public:
    CPrioritySetterRef() = default;
    // Takes over the reference the caller holds.
    explicit CPrioritySetterRef(CPrioritySetter* pSetter) : m_pSetter(pSetter) {}
    ~CPrioritySetterRef() { Reset(); }
    CPrioritySetterRef(const CPrioritySetterRef& other) : m_pSetter(other.m_pSetter)
    {
        if (m_pSetter)
            m_pSetter->AddRef();
    }
    CPrioritySetterRef(CPrioritySetterRef&& other) noexcept : m_pSetter(other.m_pSetter) { other.m_pSetter = nullptr; }
    CPrioritySetterRef& operator=(CPrioritySetterRef other) noexcept
    {
        CPrioritySetter* pSwap = m_pSetter;
        m_pSetter = other.m_pSetter;
        other.m_pSetter = pSwap;
        return *this;
    }

    void Reset()
    {
        if (m_pSetter)
            m_pSetter->Release();
        m_pSetter = nullptr;
    }
    CPrioritySetter* operator->() const { return m_pSetter; }
    CPrioritySetter* Get() const { return m_pSetter; }

private:
    CPrioritySetter* m_pSetter = nullptr;
};

}  // namespace JX
