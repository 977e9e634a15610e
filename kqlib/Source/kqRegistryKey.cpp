#include "kqRegistryKey.h"

#include <vector>

#include "kqSystemInfo.h"

namespace {

const REGSAM kViewMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// Deletes a key and everything below it, within the view of the given access mask.
LONG DeleteTree(HKEY hRoot, const wchar_t* pszSubKey, REGSAM samView)
{
    HKEY hKey = nullptr;
    LONG lResult = RegOpenKeyExW(hRoot, pszSubKey, 0, KEY_READ | KEY_WRITE | samView, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    for (;;) {
        wchar_t szChild[256];
        DWORD cchChild = ARRAYSIZE(szChild);
        lResult = RegEnumKeyExW(hKey, 0, szChild, &cchChild, nullptr, nullptr, nullptr, nullptr);
        if (lResult != ERROR_SUCCESS)
            break;
        lResult = DeleteTree(hKey, szChild, samView);
        if (lResult != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(hKey);
    if (lResult != ERROR_NO_MORE_ITEMS)
        return lResult;
    return RegDeleteKeyExW(hRoot, pszSubKey, samView, 0);
}

}  // namespace

bool CRegistryKey::Fail(LONG lError)
{
    m_lLastError = lError;
    return false;
}

void CRegistryKey::Close()
{
    if (m_hKey) {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
}

void CRegistryKey::Attach(HKEY hKey)
{
    Close();
    m_hKey = hKey;
}

HKEY CRegistryKey::Detach()
{
    HKEY hKey = m_hKey;
    m_hKey = nullptr;
    return hKey;
}

bool CRegistryKey::Open(HKEY hRoot, const wchar_t* pszSubKey, REGSAM samDesired, bool bCreateIfMissing,
                        DWORD dwCreateOptions)
{
    Close();
    m_lLastError = RegOpenKeyExW(hRoot, pszSubKey, 0, samDesired, &m_hKey);
    if (m_lLastError == ERROR_SUCCESS)
        return true;
    m_hKey = nullptr;
    if (m_lLastError == ERROR_FILE_NOT_FOUND && bCreateIfMissing)
        return Create(hRoot, pszSubKey, samDesired, dwCreateOptions);
    return false;
}

bool CRegistryKey::IsVolatile(REGSAM samView)
{
    HKEY hTest = nullptr;
    LONG lResult = RegCreateKeyExW(m_hKey, L"__volatile_test", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_READ | samView, nullptr, &hTest, nullptr);
    if (lResult == ERROR_CHILD_MUST_BE_VOLATILE)
        return true;
    if (lResult == ERROR_SUCCESS) {
        RegCloseKey(hTest);
        RegDeleteKeyExW(m_hKey, L"__volatile_test", samView, 0);
    }
    return false;
}

bool CRegistryKey::Create(HKEY hRoot, const wchar_t* pszSubKey, REGSAM samDesired, DWORD dwCreateOptions)
{
    Close();
    if (!pszSubKey)
        return Fail(ERROR_INVALID_PARAMETER);
    REGSAM samView = samDesired & kViewMask;
    if ((dwCreateOptions & REG_OPTION_VOLATILE) && IsWindowsVistaOrLater()) {
        // A persistent key of that name would silently stay persistent: replace it.
        if (RegOpenKeyExW(hRoot, pszSubKey, 0, KEY_READ | KEY_WRITE | samView, &m_hKey) == ERROR_SUCCESS) {
            bool bVolatile = IsVolatile(samView);
            Close();
            if (!bVolatile) {
                LONG lDelete = DeleteTree(hRoot, pszSubKey, samView);
                if (lDelete != ERROR_SUCCESS)
                    return Fail(lDelete);
            }
        }
    }
    m_lLastError = RegCreateKeyExW(hRoot, pszSubKey, 0, nullptr, dwCreateOptions, samDesired, nullptr, &m_hKey,
                                   nullptr);
    if (m_lLastError != ERROR_SUCCESS) {
        m_hKey = nullptr;
        return false;
    }
    return true;
}

bool CRegistryKey::QueryString(const wchar_t* pszValueName, std::wstring& strValue, DWORD cbMax)
{
    DWORD dwType = 0;
    DWORD cbData = 0;
    m_lLastError = RegQueryValueExW(m_hKey, pszValueName, nullptr, &dwType, nullptr, &cbData);
    if (m_lLastError != ERROR_SUCCESS)
        return false;
    if ((dwType != REG_SZ && dwType != REG_EXPAND_SZ) || (cbData % sizeof(wchar_t)) != 0 || cbData > cbMax)
        return Fail(ERROR_INVALID_DATA);
    try {
        // One spare character: the stored data need not end with a zero.
        std::vector<wchar_t> buffer(cbData / sizeof(wchar_t) + 1, L'\0');
        DWORD cbRead = cbData;
        m_lLastError = RegQueryValueExW(m_hKey, pszValueName, nullptr, &dwType,
                                        reinterpret_cast<BYTE*>(buffer.data()), &cbRead);
        if (m_lLastError != ERROR_SUCCESS)
            return false;
        if ((dwType != REG_SZ && dwType != REG_EXPAND_SZ) || (cbRead % sizeof(wchar_t)) != 0 || cbRead > cbData)
            return Fail(ERROR_INVALID_DATA);
        size_t cch = cbRead / sizeof(wchar_t);
        while (cch > 0 && buffer[cch - 1] == L'\0')
            --cch;
        strValue.assign(buffer.data(), cch);
        return true;
    } catch (...) {
        return Fail(ERROR_OUTOFMEMORY);
    }
}

bool CRegistryKey::QueryValue(const wchar_t* pszValueName, void* pBuffer, DWORD* pcbSize)
{
    if (!pcbSize || (pBuffer && *pcbSize == 0))
        return Fail(ERROR_INVALID_PARAMETER);
    // The stored size first: the system may add a closing zero of its own when it copies.
    DWORD dwType = 0;
    DWORD cbStored = 0;
    m_lLastError = RegQueryValueExW(m_hKey, pszValueName, nullptr, &dwType, nullptr, &cbStored);
    if (m_lLastError != ERROR_SUCCESS)
        return false;
    if (dwType != REG_SZ && dwType != REG_EXPAND_SZ && dwType != REG_MULTI_SZ)
        return Fail(ERROR_INVALID_DATA);
    if (!pBuffer) {
        *pcbSize = cbStored;
        return true;
    }
    if (cbStored > *pcbSize) {
        *pcbSize = cbStored;
        return Fail(ERROR_MORE_DATA);
    }
    DWORD cbRead = *pcbSize;
    m_lLastError = RegQueryValueExW(m_hKey, pszValueName, nullptr, &dwType, static_cast<BYTE*>(pBuffer), &cbRead);
    if (m_lLastError != ERROR_SUCCESS)
        return false;
    const wchar_t* pText = static_cast<const wchar_t*>(pBuffer);
    if (cbRead != cbStored || (cbStored % sizeof(wchar_t)) != 0 || cbStored == 0 ||
        pText[cbStored / sizeof(wchar_t) - 1] != L'\0')
        return Fail(ERROR_INVALID_DATA);
    *pcbSize = cbRead;
    return true;
}

bool CRegistryKey::QueryDWORD(const wchar_t* pszValueName, DWORD& dwValue)
{
    DWORD dwType = 0;
    DWORD dwData = 0;
    DWORD cbData = sizeof(dwData);
    m_lLastError = RegQueryValueExW(m_hKey, pszValueName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwData),
                                    &cbData);
    if (m_lLastError == ERROR_MORE_DATA)
        return Fail(ERROR_INVALID_DATA);
    if (m_lLastError != ERROR_SUCCESS)
        return false;
    if (dwType != REG_DWORD || cbData != sizeof(DWORD))
        return Fail(ERROR_INVALID_DATA);
    dwValue = dwData;
    return true;
}

bool CRegistryKey::SetDWORD(const wchar_t* pszValueName, DWORD dwValue)
{
    m_lLastError = RegSetValueExW(m_hKey, pszValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                                  sizeof(dwValue));
    return m_lLastError == ERROR_SUCCESS;
}

LONG CRegistryKey::EnumValue(DWORD dwIndex, wchar_t* pszName, DWORD* pcchName, DWORD* pdwType, BYTE* pData,
                             DWORD* pcbData)
{
    m_lLastError = RegEnumValueW(m_hKey, dwIndex, pszName, pcchName, nullptr, pdwType, pData, pcbData);
    return m_lLastError;
}
