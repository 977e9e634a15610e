// The debug options record: trace settings and crash-handler settings, read from the
// registry below the library's registry root ("\Orvane\Debug").
#pragma once
#include <windows.h>
#include <map>
#include <string>

class CDebugOutput;

class CDebugOptions
{
public:
    CDebugOptions() { Reset(); }
    virtual ~CDebugOptions() = default;

    void Reset();
    bool Read();
    bool ApplyTo(CDebugOutput* pOutput) const;

    // Trace half.
    DWORD m_dwDebugType;
    std::wstring m_strDirectory;
    DWORD m_dwOutputToDebugger;
    DWORD m_dwOutputToFile;
    DWORD m_dwAppendProcessIdToFile;
    DWORD m_dwPrependThreadId;
    DWORD m_dwPrependProcessId;
    DWORD m_dwPrependDateTime;
    DWORD m_dwPrependModuleName;
    DWORD m_dwAppendNewLine;
    DWORD m_dwPrependType;
    DWORD m_dwExclusiveModules;
    std::map<std::wstring, DWORD> m_mapModules;  // ordered by case-sensitive name

    // Crash-handler half.
    DWORD m_dwDumpOnNew;
    DWORD m_dwTerminateOnNew;
    DWORD m_dwThrowOnNew;
    DWORD m_dwDumpOnException;
    DWORD m_dwTerminateOnException;
    DWORD m_dwDumpOnPurecall;
    DWORD m_dwTerminateOnPurecall;
    DWORD m_dwDumpOnSecurity;
    DWORD m_dwTerminateOnSecurity;
    DWORD m_dwDumpOnInvalidParameter;
    DWORD m_dwTerminateOnInvalidParameter;
    std::wstring m_strDumpDirectory;
    DWORD m_dwDumpType;
    DWORD m_dwAppendDateTimeToFile;
    DWORD m_dwAppendVersionToFile;
    DWORD m_dwCallbackEnabled;
    std::wstring m_strCallbackPath;

private:
    bool ReadNoThrow();
};
