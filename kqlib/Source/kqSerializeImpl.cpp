#include "kqSerializeImpl.h"

bool CSerializeImpl::IsDirty()
{
    CAutoLock lock(m_csLock);
    return m_bDirty;
}

void CSerializeImpl::SetDirty(bool bDirty)
{
    CAutoLock lock(m_csLock);
    m_bDirty = bDirty;
}

bool CSerializeImpl::GetClassID(GUID* pClassId)
{
    if (!pClassId)
        return false;
    *pClassId = ClassId();
    return true;
}
