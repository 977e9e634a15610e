// One job of the job manager: its identity, worker and state, its schedule, and saving.
#pragma once
#include <memory>
#include <mutex>
#include "kqJobMgrInterfaces.h"
#include "kqJobRecord.h"
#include "kqObjectRoot.h"
#include "kqSmartPtr.h"

class CJob : public CObjectRoot, public IJob
{
public:
    // nullptr when memory runs out.
    static IObjectBase* Create();

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    HRESULT GetSchedule(ISchedule** ppSchedule) override;
    bool SetId(const GUID& id) override;
    bool SetClassId(const GUID& classId) override;
    bool SetWorker(const GUID& workerId, const wchar_t* pszWorkerPath) override;
    bool SetName(const wchar_t* pszName) override;
    bool SetEnabled(bool bEnabled) override;
    HRESULT Save() override;
    bool SetPatchingDisabled(bool bDisabled) override;

private:
    explicit CJob(std::shared_ptr<CJobRecord> spRecord) : m_spRecord(std::move(spRecord)) {}

    std::shared_ptr<CJobRecord> m_spRecord;
    std::mutex m_lock;
    CSmartPtr<ISchedule> m_spSchedule;
};
