// The job manager object: the clients' handle on the job store.
#pragma once
#include "kqJobMgrInterfaces.h"
#include "kqObjectRoot.h"

class CJobManager : public CObjectRoot, public IJobManager
{
public:
    static IObjectBase* Create();

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    DWORD GetJobCount() override;
};
