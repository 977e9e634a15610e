// An owned registry key handle that remembers the Windows error of its last operation.
#pragma once
#include <windows.h>
#include <string>

class CRegistryKey
{
public:
    CRegistryKey() = default;
    ~CRegistryKey() { Close(); }

    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    bool Open(HKEY hRoot, const wchar_t* pszSubKey, REGSAM samDesired, bool bCreateIfMissing = false,
              DWORD dwCreateOptions = REG_OPTION_NON_VOLATILE);
    // With REG_OPTION_VOLATILE on Vista or later an existing persistent key is deleted first,
    // so the key really is volatile afterwards.
    bool Create(HKEY hRoot, const wchar_t* pszSubKey, REGSAM samDesired,
                DWORD dwCreateOptions = REG_OPTION_NON_VOLATILE);

    // No path or text the programs read is longer than this; a longer value is refused before
    // anything is allocated for it.
    static constexpr DWORD kMaxStringBytes = 32768 * sizeof(wchar_t);
    // A REG_SZ or REG_EXPAND_SZ value as stored (trailing zeros dropped); ERROR_INVALID_DATA for
    // another type or a value of more than cbMax bytes.
    bool QueryString(const wchar_t* pszValueName, std::wstring& strValue, DWORD cbMax = kMaxStringBytes);
    bool QueryValue(const wchar_t* pszValueName, void* pBuffer, DWORD* pcbSize);
    bool QueryDWORD(const wchar_t* pszValueName, DWORD& dwValue);
    bool SetDWORD(const wchar_t* pszValueName, DWORD dwValue);
    LONG EnumValue(DWORD dwIndex, wchar_t* pszName, DWORD* pcchName, DWORD* pdwType = nullptr,
                   BYTE* pData = nullptr, DWORD* pcbData = nullptr);

    void Close();
    void Attach(HKEY hKey);
    HKEY Detach();
    HKEY Handle() const { return m_hKey; }
    bool IsOpen() const { return m_hKey != nullptr; }
    LONG GetLastError() const { return m_lLastError; }

private:
    bool Fail(LONG lError);
    bool IsVolatile(REGSAM samView);

    HKEY m_hKey = nullptr;
    LONG m_lLastError = ERROR_SUCCESS;
};
