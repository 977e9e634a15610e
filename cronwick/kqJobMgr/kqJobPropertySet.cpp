#include "kqJobPropertySet.h"

#include <cwchar>

namespace {

struct PropertyName
{
    DWORD dwId;
    const wchar_t* pszName;
};

const PropertyName kNumberProperties[] = {
    {ISchedule::eProp_Priority, L"Priority"},
    {ISchedule::eProp_Thresholds, L"Thresholds"},
    {ISchedule::eProp_ExecutionContext, L"ExecutionContext"},
    {ISchedule::eProp_DataVersion, L"DataVersion"},
};
const PropertyName kFlagProperties[] = {
    {ISchedule::eProp_RunOnce, L"RunOnce"},
    {ISchedule::eProp_PreventStandby, L"PreventStandby"},
    {ISchedule::eProp_SupportsPause, L"SupportsPause"},
    {ISchedule::eProp_SupportsUnload, L"SupportsUnload"},
    {ISchedule::eProp_LongRunning, L"LongRunning"},
};
const PropertyName kByteProperties[] = {
    {ISchedule::eSched_ScheduleType, L"ScheduleType"},
};

// The value name of a property id: its known name, else the setter's kind and the number.
template <size_t N>
void NameOf(const PropertyName (&names)[N], const wchar_t* pszKind, DWORD dwId, wchar_t (&szName)[40])
{
    for (const PropertyName& entry : names)
        if (entry.dwId == dwId)
        {
            wcscpy(szName, entry.pszName);
            return;
        }
    swprintf(szName, ARRAYSIZE(szName), L"%ls%lu", pszKind, static_cast<unsigned long>(dwId));
}

}  // namespace

HRESULT CJobPropertySet::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IPropertySet::kIid)
        return AnswerInterface(static_cast<IPropertySet*>(this), ppObject);
    return RefuseInterface(ppObject);
}

bool CJobPropertySet::SetValue(DWORD dwId, DWORD dwValue)
{
    wchar_t szName[40];
    NameOf(kNumberProperties, L"Number", dwId, szName);
    return m_spRecord->SetNumber(szName, dwValue);
}

bool CJobPropertySet::SetValue(DWORD dwId, BYTE bValue)
{
    wchar_t szName[40];
    NameOf(kByteProperties, L"Byte", dwId, szName);
    return m_spRecord->SetNumber(szName, bValue);
}

bool CJobPropertySet::SetValue(DWORD dwId, bool bValue)
{
    wchar_t szName[40];
    NameOf(kFlagProperties, L"Flag", dwId, szName);
    return m_spRecord->SetNumber(szName, bValue ? 1 : 0);
}
