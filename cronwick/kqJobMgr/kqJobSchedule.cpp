#include "kqJobSchedule.h"

#include <new>
#include "kqJobPropertySet.h"
#include "kqTrace.h"

namespace {

// Every value a schedule call writes; a new call or a reset clears them all.
const wchar_t* const kScheduleValues[] = {
    L"Schedule", L"IntervalUnit", L"Interval", L"IntervalFlag", L"Days", L"Hour", L"Minute", L"WeekInterval",
    L"Events",
};

}  // namespace

HRESULT CJobSchedule::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == ISchedule::kIid)
        return AnswerInterface(static_cast<ISchedule*>(this), ppObject);
    return RefuseInterface(ppObject);
}

HRESULT CJobSchedule::GetProperties(IPropertySet** ppProperties)
{
    if (!ppProperties)
        return KQERR_INVALIDARG;
    *ppProperties = nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_spProperties)
    {
        IPropertySet* pProperties = new (std::nothrow) CJobPropertySet(m_spRecord);
        if (!pProperties)
        {
            TraceError(L"CJobSchedule::GetProperties(%d) : out of memory", __LINE__);
            return E_OUTOFMEMORY;
        }
        m_spProperties.Attach(pProperties);
    }
    return m_spProperties.CopyTo(ppProperties) == KQ_OK ? S_OK : E_POINTER;
}

HRESULT CJobSchedule::Replace(const wchar_t* pszKind, const wchar_t* const* ppszNames, const DWORD* pdwValues,
                              size_t cValues)
{
    m_spRecord->Remove(kScheduleValues, ARRAYSIZE(kScheduleValues));
    bool bOk = m_spRecord->SetText(L"Schedule", pszKind);
    for (size_t i = 0; bOk && i < cValues; ++i)
        bOk = m_spRecord->SetNumber(ppszNames[i], pdwValues[i]);
    return bOk ? S_OK : E_OUTOFMEMORY;
}

HRESULT CJobSchedule::ScheduleInterval(DWORD dwUnit, DWORD dwInterval, bool bFlag)
{
    const wchar_t* const names[] = {L"IntervalUnit", L"Interval", L"IntervalFlag"};
    const DWORD values[] = {dwUnit, dwInterval, bFlag ? 1u : 0u};
    return Replace(L"Interval", names, values, ARRAYSIZE(values));
}

HRESULT CJobSchedule::ScheduleWeekly(WORD wDays, WORD wHour, WORD wMinute)
{
    const wchar_t* const names[] = {L"Days", L"Hour", L"Minute"};
    const DWORD values[] = {wDays, wHour, wMinute};
    return Replace(L"Weekly", names, values, ARRAYSIZE(values));
}

HRESULT CJobSchedule::ScheduleMultiWeek(WORD wDays, WORD wHour, WORD wMinute, WORD wWeeks)
{
    const wchar_t* const names[] = {L"Days", L"Hour", L"Minute", L"WeekInterval"};
    const DWORD values[] = {wDays, wHour, wMinute, wWeeks};
    return Replace(L"MultiWeek", names, values, ARRAYSIZE(values));
}

HRESULT CJobSchedule::ScheduleSystemEvent(DWORD dwEvents, DWORD dwInterval)
{
    const wchar_t* const names[] = {L"Events", L"Interval"};
    const DWORD values[] = {dwEvents, dwInterval};
    return Replace(L"SystemEvent", names, values, ARRAYSIZE(values));
}

HRESULT CJobSchedule::SetOptions(DWORD dwOption1, DWORD dwOption2, DWORD dwOption3, DWORD dwOption4)
{
    bool bOk = m_spRecord->SetNumber(L"Option1", dwOption1) && m_spRecord->SetNumber(L"Option2", dwOption2) &&
               m_spRecord->SetNumber(L"Option3", dwOption3) && m_spRecord->SetNumber(L"Option4", dwOption4);
    return bOk ? S_OK : E_OUTOFMEMORY;
}

HRESULT CJobSchedule::SetRandomization(DWORD dwRandom1, DWORD dwRandom2, DWORD dwRandom3)
{
    bool bOk = m_spRecord->SetNumber(L"Randomize1", dwRandom1) && m_spRecord->SetNumber(L"Randomize2", dwRandom2) &&
               m_spRecord->SetNumber(L"Randomize3", dwRandom3);
    return bOk ? S_OK : E_OUTOFMEMORY;
}

HRESULT CJobSchedule::ResetSchedule()
{
    m_spRecord->Remove(kScheduleValues, ARRAYSIZE(kScheduleValues));
    return S_OK;
}
