// What every persistable library object answers alike: the dirty flag and the class id of its
// saved form. The lock guards the derived object's contents along with the flag.
#pragma once
#include <windows.h>

#include "kqCriticalSection.h"
#include "kqSerialize.h"

class CSerializeImpl : public ISerialize
{
public:
    bool IsDirty() override;
    void SetDirty(bool bDirty) override;
    bool GetClassID(GUID* pClassId) override;

protected:
    // The class id a saved object of this class is created again by.
    virtual const GUID& ClassId() const = 0;

    CCriticalSection m_csLock;
    bool m_bDirty = false;
};
