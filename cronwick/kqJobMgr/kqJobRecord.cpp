#include "kqJobRecord.h"

#include <new>
#include "kqGuidString.h"
#include "kqTrace.h"

bool CJobRecord::SetNumber(const wchar_t* pszName, DWORD dwValue)
{
    try
    {
        std::lock_guard<std::mutex> guard(m_lock);
        JobValue& value = m_values[pszName];
        value.dwType = REG_DWORD;
        value.dwValue = dwValue;
        value.strValue.clear();
        return true;
    }
    catch (const std::bad_alloc&)
    {
        TraceError(L"CJobRecord::SetNumber(%d) : out of memory for %s", __LINE__, pszName);
        return false;
    }
}

bool CJobRecord::SetText(const wchar_t* pszName, const std::wstring& strValue)
{
    try
    {
        std::lock_guard<std::mutex> guard(m_lock);
        JobValue& value = m_values[pszName];
        value.dwType = REG_SZ;
        value.dwValue = 0;
        value.strValue = strValue;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        TraceError(L"CJobRecord::SetText(%d) : out of memory for %s", __LINE__, pszName);
        return false;
    }
}

bool CJobRecord::SetGuid(const wchar_t* pszName, const GUID& guid)
{
    wchar_t szGuid[kGuidStringChars + 1];
    return FormatGuid(guid, szGuid, ARRAYSIZE(szGuid)) && SetText(pszName, szGuid);
}

void CJobRecord::Remove(const wchar_t* const* ppszNames, size_t cNames)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (size_t i = 0; i < cNames; ++i)
    {
        auto it = m_values.find(ppszNames[i]);
        if (it != m_values.end())
            m_values.erase(it);
    }
}

void CJobRecord::SetId(const GUID& id)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_id = id;
    m_bHasId = true;
}

HRESULT CJobRecord::Save()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bHasId)
    {
        TraceError(L"CJobRecord::Save(%d) : the job has no id", __LINE__);
        return E_UNEXPECTED;
    }
    HRESULT hr = SaveJobRecord(m_id, m_values);
    if (FAILED(hr))
        TraceError(L"CJobRecord::Save(%d) : SaveJobRecord failed (0x%08x)", __LINE__, static_cast<unsigned>(hr));
    return hr;
}
