// A test silo: its own CIsolation with a fixed test id, and class keys below its registry root
// (HKLM, the machine's own view) that are removed again when the silo goes.
#pragma once
#include <windows.h>
#include <string>
#include "kqGuidString.h"
#include "kqIsolation.h"
#include "kqSystemInfo.h"
#include "kqTestProcess.h"

namespace kqtest {

class CTestSilo
{
public:
    static constexpr const wchar_t* kSiloId = L"{0E7D5C3B-9A21-4F6E-8D4C-3B2A19F80E71}";

    CTestSilo() : m_isolation(kqtest::ExeFolder() + L"kqlib_tests.exe")
    {
        m_bReady = m_isolation.SetSiloID(kSiloId) && m_isolation.GetSiloRegistryRoot(m_strRoot);
        Reset();  // what an interrupted run may have left
    }

    // Back to an installed silo with nothing registered: an empty class list and a path
    // expansion map, through which module paths are expanded.
    void Reset()
    {
        Remove();
        SetMapValue(L"KQTESTSILO", L"1");
    }
    ~CTestSilo() { Remove(); }
    CTestSilo(const CTestSilo&) = delete;
    CTestSilo& operator=(const CTestSilo&) = delete;

    bool IsReady() const { return m_bReady; }
    CIsolation& Isolation() { return m_isolation; }

    // Writes "InProc32" of the class key with any type and exactly the bytes given (through the
    // native call: the Win32 one may add a terminating zero to string data); nullptr data
    // creates the key without the value.
    bool SetInProc(const GUID& clsid, DWORD dwType, const void* pData, DWORD cbData)
    {
        HKEY hKey = nullptr;
        std::wstring strKey = m_strRoot + L"\\OBJID\\" + FormatGuid(clsid);
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, nullptr, 0, KEY_WRITE | Wow64RegistryView(),
                            nullptr, &hKey, nullptr) != ERROR_SUCCESS)
            return false;
        LONG lResult = pData ? SetRawValue(hKey, L"InProc32", dwType, pData, cbData) : ERROR_SUCCESS;
        RegCloseKey(hKey);
        return lResult == ERROR_SUCCESS;
    }
    bool SetInProc(const GUID& clsid, const std::wstring& strPath, DWORD dwType = REG_SZ)
    {
        return SetInProc(clsid, dwType, strPath.c_str(), static_cast<DWORD>((strPath.size() + 1) * sizeof(wchar_t)));
    }

    // A value of the silo's path expansion map.
    bool SetMapValue(const wchar_t* pszName, const std::wstring& strValue)
    {
        HKEY hKey = nullptr;
        std::wstring strKey = m_strRoot + L"\\Orvane\\PathExpansionMap";
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, nullptr, 0, KEY_WRITE | Wow64RegistryView(),
                            nullptr, &hKey, nullptr) != ERROR_SUCCESS)
            return false;
        LONG lResult = RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.c_str()),
                                      static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(hKey);
        return lResult == ERROR_SUCCESS;
    }

    void Remove()
    {
        if (m_strRoot.empty())
            return;
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_strRoot.c_str(), 0, KEY_ALL_ACCESS | Wow64RegistryView(), &hKey) ==
            ERROR_SUCCESS)
        {
            RegDeleteTreeW(hKey, nullptr);
            RegCloseKey(hKey);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, m_strRoot.c_str(), Wow64RegistryView(), 0);
        }
        // The hive keys above the silo go too where nothing else lives in them.
        std::wstring strParent = m_strRoot;
        for (size_t pos; (pos = strParent.rfind(L'\\')) != std::wstring::npos && strParent.find(L'\\') != pos;)
        {
            strParent.resize(pos);
            if (RegDeleteKeyExW(HKEY_LOCAL_MACHINE, strParent.c_str(), Wow64RegistryView(), 0) != ERROR_SUCCESS)
                break;
        }
    }

private:
    struct CUnicodeString
    {
        USHORT Length;
        USHORT MaximumLength;
        PWSTR Buffer;
    };
    typedef LONG(WINAPI* PFNNTSETVALUEKEY)(HANDLE hKey, CUnicodeString* pName, ULONG ulTitleIndex, ULONG ulType,
                                            const void* pData, ULONG cbData);

    static LONG SetRawValue(HKEY hKey, const wchar_t* pszName, DWORD dwType, const void* pData, DWORD cbData)
    {
        PFNNTSETVALUEKEY pfnSet = reinterpret_cast<PFNNTSETVALUEKEY>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey")));
        if (!pfnSet)
            return ERROR_PROC_NOT_FOUND;
        std::wstring strName = pszName;
        CUnicodeString name = {static_cast<USHORT>(strName.size() * sizeof(wchar_t)),
                               static_cast<USHORT>(strName.size() * sizeof(wchar_t)), &strName[0]};
        return pfnSet(hKey, &name, 0, dwType, pData, cbData) >= 0 ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
    }

    CIsolation m_isolation;
    std::wstring m_strRoot;
    bool m_bReady = false;
};

}  // namespace kqtest
