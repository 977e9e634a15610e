// The settings of one job, shared by the job, its schedule and the schedule's property set,
// which all write into it; the job saves it. Locks itself for every operation.
#pragma once
#include <windows.h>
#include <mutex>
#include <string>
#include "kqJobStore.h"

class CJobRecord
{
public:
    // False only when memory runs out.
    bool SetNumber(const wchar_t* pszName, DWORD dwValue);
    bool SetText(const wchar_t* pszName, const std::wstring& strValue);
    bool SetGuid(const wchar_t* pszName, const GUID& guid);
    void Remove(const wchar_t* const* ppszNames, size_t cNames);

    void SetId(const GUID& id);
    // Stores the values under the job id; E_UNEXPECTED before the id is set.
    HRESULT Save();

private:
    std::mutex m_lock;
    JobValues m_values;
    GUID m_id = {};
    bool m_bHasId = false;
};
