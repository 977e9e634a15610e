#include "kqJobStore.h"

#include <cwchar>
#include <new>
#include "kqGuidString.h"
#include "kqRegistryKey.h"
#include "kqSystemInfo.h"

namespace {

// Store keys above the jobs, innermost first, removed when a removal leaves them empty.
const wchar_t* const kStoreParents[] = {
    L"SOFTWARE\\Ostrel\\kqJobMgr\\Jobs",
    L"SOFTWARE\\Ostrel\\kqJobMgr",
};

// Deletes a key only when it holds neither subkeys nor values.
bool DeleteKeyIfEmpty(const wchar_t* pszKey, REGSAM samView)
{
    DWORD cSubKeys = 0, cValues = 0;
    {
        CRegistryKey key;
        if (!key.Open(HKEY_LOCAL_MACHINE, pszKey, KEY_READ | samView))
            return false;
        if (RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, &cSubKeys, nullptr, nullptr, &cValues, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
    }
    if (cSubKeys != 0 || cValues != 0)
        return false;
    return RegDeleteKeyExW(HKEY_LOCAL_MACHINE, pszKey, samView, 0) == ERROR_SUCCESS;
}

// Reads one value of a supported type; other types are passed over. A text ends at its first
// zero and is refused when longer than any the jobs write.
bool ReadValue(CRegistryKey& key, const wchar_t* pszName, DWORD dwType, JobValue& value)
{
    if (dwType == REG_DWORD)
    {
        if (!key.QueryDWORD(pszName, value.dwValue))
            return false;
        value.dwType = REG_DWORD;
        return true;
    }
    if (dwType == REG_SZ)
    {
        std::wstring strData;
        if (!key.QueryString(pszName, strData))
            return false;
        strData.resize(wcsnlen(strData.c_str(), strData.size()));
        value.dwType = REG_SZ;
        value.strValue = std::move(strData);
        return true;
    }
    return false;
}

}  // namespace

HRESULT SaveJobRecord(const GUID& id, const JobValues& values)
{
    try
    {
        std::wstring strKey = std::wstring(kszJobStoreKey) + L"\\" + FormatGuid(id);
        // One key, opened or made: the values of an earlier record go before the new ones are set.
        CRegistryKey key;
        if (!key.Create(HKEY_LOCAL_MACHINE, strKey.c_str(), KEY_ALL_ACCESS | Wow64RegistryView()))
            return HRESULT_FROM_WIN32(key.GetLastError());
        RegDeleteTreeW(key.Handle(), nullptr);
        for (const auto& entry : values)
        {
            const JobValue& value = entry.second;
            LONG lResult;
            if (value.dwType == REG_DWORD)
                lResult = RegSetValueExW(key.Handle(), entry.first.c_str(), 0, REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&value.dwValue), sizeof(DWORD));
            else
                lResult = RegSetValueExW(key.Handle(), entry.first.c_str(), 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(value.strValue.c_str()),
                                         static_cast<DWORD>((value.strValue.size() + 1) * sizeof(wchar_t)));
            if (lResult != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(lResult);
        }
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

bool ReadStoredJob(const std::wstring& strId, StoredJob& job)
{
    try
    {
        std::wstring strKey = std::wstring(kszJobStoreKey) + L"\\" + strId;
        CRegistryKey key;
        if (!key.Open(HKEY_LOCAL_MACHINE, strKey.c_str(), KEY_READ | Wow64RegistryView()))
            return false;
        job.strId = strId;
        job.values.clear();
        for (DWORD dwIndex = 0;; ++dwIndex)
        {
            wchar_t szName[256];
            DWORD cchName = ARRAYSIZE(szName), dwType = 0;
            LONG lResult = key.EnumValue(dwIndex, szName, &cchName, &dwType);
            if (lResult == ERROR_NO_MORE_ITEMS)
                return true;
            if (lResult != ERROR_SUCCESS)
                return false;
            JobValue value;
            if (ReadValue(key, szName, dwType, value))
                job.values[szName] = std::move(value);
        }
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

HRESULT ReadJobStore(std::vector<StoredJob>& jobs)
{
    try
    {
        jobs.clear();
        CRegistryKey key;
        if (!key.Open(HKEY_LOCAL_MACHINE, kszJobStoreKey, KEY_READ | Wow64RegistryView()))
            return key.GetLastError() == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(key.GetLastError());
        std::vector<std::wstring> vecIds;
        for (DWORD dwIndex = 0;; ++dwIndex)
        {
            wchar_t szName[256];
            DWORD cchName = ARRAYSIZE(szName);
            LONG lResult = RegEnumKeyExW(key.Handle(), dwIndex, szName, &cchName, nullptr, nullptr, nullptr, nullptr);
            if (lResult == ERROR_NO_MORE_ITEMS)
                break;
            if (lResult != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(lResult);
            vecIds.emplace_back(szName, cchName);
        }
        for (const std::wstring& strId : vecIds)
        {
            StoredJob job;
            if (ReadStoredJob(strId, job))
                jobs.push_back(std::move(job));
        }
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

void RemoveStoredJob(const std::wstring& strId)
{
    try
    {
        REGSAM samView = Wow64RegistryView();
        std::wstring strKey = std::wstring(kszJobStoreKey) + L"\\" + strId;
        CRegistryKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, strKey.c_str(), KEY_ALL_ACCESS | samView))
        {
            RegDeleteTreeW(key.Handle(), nullptr);
            key.Close();
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), samView, 0);
        }
        for (const wchar_t* pszParent : kStoreParents)
            if (!DeleteKeyIfEmpty(pszParent, samView))
                break;
    }
    catch (const std::bad_alloc&)
    {
    }
}

std::wstring FormatJobValue(const JobValue& value)
{
    if (value.dwType == REG_SZ)
        return value.strValue;
    wchar_t szText[40];
    swprintf(szText, ARRAYSIZE(szText), L"%lu (0x%08lX)", static_cast<unsigned long>(value.dwValue),
             static_cast<unsigned long>(value.dwValue));
    return szText;
}
