#include "kqDebugOptions.h"

#include <cwchar>

#include "kqDebugOutput.h"
#include "kqIsolation.h"
#include "kqRegistryKey.h"
#include "kqSystemInfo.h"

namespace {

// A value of the wrong type or size leaves the field at its default.
void ReadDWORD(CRegistryKey& key, const wchar_t* pszName, DWORD& dwField)
{
    DWORD dwValue = 0;
    if (key.QueryDWORD(pszName, dwValue))
        dwField = dwValue;
}

void ReadString(CRegistryKey& key, const wchar_t* pszName, std::wstring& strField)
{
    std::wstring strValue;
    if (key.QueryString(pszName, strValue))
        strField = strValue;
}

bool OpenForRead(CRegistryKey& key, const std::wstring& strPath)
{
    return key.Open(HKEY_LOCAL_MACHINE, strPath.c_str(), KEY_READ | Wow64RegistryView());
}

}  // namespace

void CDebugOptions::Reset()
{
    m_dwDebugType = 0;
    m_strDirectory.clear();
    m_dwOutputToDebugger = 1;
    m_dwOutputToFile = 0;
    m_dwAppendProcessIdToFile = 1;
    m_dwPrependThreadId = 1;
    m_dwPrependProcessId = 1;
    m_dwPrependDateTime = 1;
    m_dwPrependModuleName = 1;
    m_dwAppendNewLine = 1;
    m_dwPrependType = 1;
    m_dwExclusiveModules = 0;
    m_mapModules.clear();

    m_dwDumpOnNew = 0;
    m_dwTerminateOnNew = 0;
    m_dwThrowOnNew = 1;
    m_dwDumpOnException = 0;
    m_dwTerminateOnException = 0;
    m_dwDumpOnPurecall = 0;
    m_dwTerminateOnPurecall = 0;
    m_dwDumpOnSecurity = 0;
    m_dwTerminateOnSecurity = 0;
    m_dwDumpOnInvalidParameter = 0;
    m_dwTerminateOnInvalidParameter = 0;
    m_strDumpDirectory.clear();
    m_dwDumpType = 0x22;
    m_dwAppendDateTimeToFile = 1;
    m_dwAppendVersionToFile = 1;
    m_dwCallbackEnabled = 0;
    m_strCallbackPath.clear();
}

bool CDebugOptions::Read()
{
    try {
        return ReadNoThrow();
    } catch (...) {
        return false;
    }
}

bool CDebugOptions::ReadNoThrow()
{
    Reset();
    std::wstring strRoot;
    if (!CIsolation::Instance().GetSiloRegistryRoot(strRoot) || strRoot.empty())
        return false;
    const std::wstring strDebug = strRoot + L"\\Orvane\\Debug";

    CRegistryKey crash;
    if (OpenForRead(crash, strDebug + L"\\CrashHandler")) {
        ReadDWORD(crash, L"DumpOnNew", m_dwDumpOnNew);
        ReadDWORD(crash, L"TerminateOnNew", m_dwTerminateOnNew);
        ReadDWORD(crash, L"ThrowOnNew", m_dwThrowOnNew);
        ReadDWORD(crash, L"DumpOnException", m_dwDumpOnException);
        ReadDWORD(crash, L"TerminateOnException", m_dwTerminateOnException);
        ReadDWORD(crash, L"DumpOnPurecall", m_dwDumpOnPurecall);
        ReadDWORD(crash, L"TerminateOnPurecall", m_dwTerminateOnPurecall);
        ReadDWORD(crash, L"DumpOnSecurity", m_dwDumpOnSecurity);
        ReadDWORD(crash, L"TerminateOnSecurity", m_dwTerminateOnSecurity);
        ReadDWORD(crash, L"DumpOnInvalidParameter", m_dwDumpOnInvalidParameter);
        ReadDWORD(crash, L"TerminateOnInvalidParameter", m_dwTerminateOnInvalidParameter);
        ReadString(crash, L"Directory", m_strDumpDirectory);
        ReadDWORD(crash, L"DumpType", m_dwDumpType);
        ReadDWORD(crash, L"AppendDateTimeToFile", m_dwAppendDateTimeToFile);
        ReadDWORD(crash, L"AppendVersionToFile", m_dwAppendVersionToFile);
        ReadDWORD(crash, L"CallbackEnabled", m_dwCallbackEnabled);
        ReadString(crash, L"CallbackPath", m_strCallbackPath);
    }

    const std::wstring strOutput = strDebug + L"\\DebugOutput";
    CRegistryKey output;
    if (!OpenForRead(output, strOutput))
        return true;
    ReadDWORD(output, L"DebugType", m_dwDebugType);
    ReadString(output, L"Directory", m_strDirectory);
    ReadDWORD(output, L"OutputToDebugger", m_dwOutputToDebugger);
    ReadDWORD(output, L"OutputToFile", m_dwOutputToFile);
    ReadDWORD(output, L"AppendProcessIdToFile", m_dwAppendProcessIdToFile);
    ReadDWORD(output, L"PrependThreadId", m_dwPrependThreadId);
    ReadDWORD(output, L"PrependProcessId", m_dwPrependProcessId);
    ReadDWORD(output, L"PrependDateTime", m_dwPrependDateTime);
    ReadDWORD(output, L"PrependModuleName", m_dwPrependModuleName);
    ReadDWORD(output, L"AppendNewLine", m_dwAppendNewLine);
    ReadDWORD(output, L"PrependType", m_dwPrependType);
    ReadDWORD(output, L"ExclusiveModules", m_dwExclusiveModules);

    CRegistryKey modules;
    if (!OpenForRead(modules, strOutput + L"\\Modules"))
        return true;
    m_mapModules.clear();
    for (DWORD dwIndex = 0;; ++dwIndex) {
        wchar_t szName[260];
        DWORD cchName = ARRAYSIZE(szName);
        DWORD dwType = 0;
        DWORD dwValue = 0;
        DWORD cbValue = sizeof(dwValue);
        LONG lResult = modules.EnumValue(dwIndex, szName, &cchName, &dwType, reinterpret_cast<BYTE*>(&dwValue),
                                         &cbValue);
        if (lResult == ERROR_NO_MORE_ITEMS)
            return true;
        // A value too large for a DWORD is skipped like any other non-DWORD value.
        if (lResult == ERROR_MORE_DATA && cchName < ARRAYSIZE(szName) - 1)
            continue;
        if (lResult != ERROR_SUCCESS)
            return false;
        if (dwType != REG_DWORD || cbValue != sizeof(DWORD))
            continue;
        m_mapModules[std::wstring(szName, cchName)] = dwValue;
    }
}

bool CDebugOptions::ApplyTo(CDebugOutput* pOutput) const
{
    if (!pOutput)
        return false;
    pOutput->SetDebugType(m_dwDebugType);
    pOutput->SetOutputToDebugger(m_dwOutputToDebugger);
    pOutput->SetOutputToFile(m_dwOutputToFile);
    pOutput->SetAppendProcessIdToFile(m_dwAppendProcessIdToFile);
    pOutput->SetPrependThreadId(m_dwPrependThreadId);
    pOutput->SetPrependProcessId(m_dwPrependProcessId);
    pOutput->SetPrependDateTime(m_dwPrependDateTime);
    pOutput->SetPrependModuleName(m_dwPrependModuleName);
    pOutput->SetPrependType(m_dwPrependType);
    pOutput->SetAppendNewLine(m_dwAppendNewLine);
    bool bResult = true;
    if (!m_strDirectory.empty())
        bResult = pOutput->SetDirectory(m_strDirectory.c_str());

    if (m_dwExclusiveModules && !m_mapModules.empty())
        pOutput->SetDebugType(0);
    const std::wstring strModule = pOutput->GetModuleName();
    for (const auto& entry : m_mapModules) {
        if (_wcsicmp(entry.first.c_str(), strModule.c_str()) == 0) {
            pOutput->SetDebugType(entry.second != 0 ? m_dwDebugType : 0);
            break;
        }
    }
    return bResult;
}
