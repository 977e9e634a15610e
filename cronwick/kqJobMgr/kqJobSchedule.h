// A job's schedule: the one schedule call made last (kind and arguments), the options and the
// randomisation, all written into the job record.
#pragma once
#include <memory>
#include "kqJobMgrInterfaces.h"
#include "kqJobRecord.h"
#include "kqObjectRoot.h"
#include "kqSmartPtr.h"

class CJobSchedule : public CObjectRoot, public ISchedule
{
public:
    explicit CJobSchedule(std::shared_ptr<CJobRecord> spRecord) : m_spRecord(std::move(spRecord)) {}

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    HRESULT GetProperties(IPropertySet** ppProperties) override;
    HRESULT ScheduleInterval(DWORD dwUnit, DWORD dwInterval, bool bFlag) override;
    HRESULT ScheduleWeekly(WORD wDays, WORD wHour, WORD wMinute) override;
    HRESULT ScheduleMultiWeek(WORD wDays, WORD wHour, WORD wMinute, WORD wWeeks) override;
    HRESULT ScheduleSystemEvent(DWORD dwEvents, DWORD dwInterval) override;
    HRESULT SetOptions(DWORD dwOption1, DWORD dwOption2, DWORD dwOption3, DWORD dwOption4) override;
    HRESULT SetRandomization(DWORD dwRandom1, DWORD dwRandom2, DWORD dwRandom3) override;
    HRESULT ResetSchedule() override;

private:
    // Sets the values in the order given, after clearing the previous schedule call.
    HRESULT Replace(const wchar_t* pszKind, const wchar_t* const* ppszNames, const DWORD* pdwValues, size_t cValues);

    std::shared_ptr<CJobRecord> m_spRecord;
    std::mutex m_lock;
    CSmartPtr<IPropertySet> m_spProperties;
};
