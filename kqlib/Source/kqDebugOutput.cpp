#include "kqDebugOutput.h"

#include <cstdio>
#include <cwchar>
#include <new>

#include "kqDebugOptions.h"

namespace {

const wchar_t* TypeName(MessageType eType)
{
    switch (eType) {
    case eMessageType_Information: return L"Information";
    case eMessageType_Warning: return L"Warning";
    case eMessageType_Error: return L"Error";
    }
    return L"";
}

void AppendFormat(std::wstring& strOut, const wchar_t* pszFormat, ...)
{
    wchar_t buffer[128];
    va_list args;
    va_start(args, pszFormat);
    int len = _vsnwprintf(buffer, ARRAYSIZE(buffer) - 1, pszFormat, args);
    va_end(args);
    if (len > 0)
        strOut.append(buffer, static_cast<size_t>(len));
}

}  // namespace

CDebugOutput::CDebugOutput(const wchar_t* pszModuleName)
{
    try {
        if (pszModuleName)
            m_strModuleName = pszModuleName;
    } catch (...) {
        // Out of memory: the module name stays empty and Initialize fills it in.
    }
    m_bLockCreated = InitializeCriticalSectionAndSpinCount(&m_csLock, 0) != FALSE;
}

CDebugOutput::~CDebugOutput()
{
    CloseLogFile();
    if (m_bLockCreated)
        DeleteCriticalSection(&m_csLock);
}

bool CDebugOutput::Lock()
{
    if (!m_bLockCreated)
        return false;
    EnterCriticalSection(&m_csLock);
    return true;
}

void CDebugOutput::Unlock()
{
    LeaveCriticalSection(&m_csLock);
}

void CDebugOutput::TraceInformation(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    TraceV(eMessageType_Information, pszFormat, args);
    va_end(args);
}

void CDebugOutput::TraceWarning(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    TraceV(eMessageType_Warning, pszFormat, args);
    va_end(args);
}

void CDebugOutput::TraceError(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    TraceV(eMessageType_Error, pszFormat, args);
    va_end(args);
}

CDebugOutput* CDebugOutput::Root()
{
    CDebugOutput* pRoot = this;
    while (pRoot->m_pParent)
        pRoot = pRoot->m_pParent;
    return pRoot;
}

bool CDebugOutput::IsEnabled(MessageType eType)
{
    CDebugOutput* pNode = this;
    for (;;) {
        pNode->Initialize();
        if (!pNode->m_pParent)
            break;
        pNode = pNode->m_pParent;
    }
    return pNode->m_dwDebugType != 0 && static_cast<DWORD>(eType) >= pNode->m_dwDebugType;
}

void CDebugOutput::TraceV(MessageType eType, const wchar_t* pszFormat, va_list args)
{
    // IsEnabled asks the root of the chain, which writes the line.
    if (!pszFormat || !IsEnabled(eType))
        return;
    CDebugOutput* pRoot = Root();
    try {
        std::wstring strLine = pRoot->ComposeLine(eType, pszFormat, args);
        pRoot->Output(strLine);
    } catch (...) {
        // Out of memory while composing: the line is lost, the caller goes on.
    }
}

std::wstring CDebugOutput::ComposeLine(MessageType eType, const wchar_t* pszFormat, va_list args)
{
    std::wstring strLine;
    if (m_dwPrependDateTime) {
        SYSTEMTIME st;
        GetLocalTime(&st);
        AppendFormat(strLine, L"%04d-%02d-%02d-%02d-%02d-%02d-%03d : ", st.wYear, st.wMonth, st.wDay,
                     st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    }
    if (m_dwPrependModuleName && !m_strModuleName.empty()) {
        strLine += m_strModuleName;
        strLine += L" : ";
    }
    if (m_dwPrependProcessId)
        AppendFormat(strLine, L"0x%04X : ", GetCurrentProcessId());
    if (m_dwPrependThreadId)
        AppendFormat(strLine, L"0x%04X : ", GetCurrentThreadId());
    if (m_dwPrependType) {
        strLine += TypeName(eType);
        strLine += L" : ";
    }

    // The message has no length limit: measure it, then format it in place.
    va_list measureArgs;
    va_copy(measureArgs, args);
    int len = _vscwprintf(pszFormat, measureArgs);
    va_end(measureArgs);
    if (len > 0) {
        size_t start = strLine.size();
        strLine.resize(start + static_cast<size_t>(len) + 1);
        va_list formatArgs;
        va_copy(formatArgs, args);
        int written = _vsnwprintf(&strLine[start], static_cast<size_t>(len) + 1, pszFormat, formatArgs);
        va_end(formatArgs);
        strLine.resize(start + (written > 0 ? static_cast<size_t>(written) : 0));
    }

    if (m_dwAppendNewLine) {
        size_t end = strLine.find_last_not_of(L"\r\n");
        strLine.resize(end == std::wstring::npos ? 0 : end + 1);
        strLine += L"\r\n";
    }
    return strLine;
}

void CDebugOutput::Output(const std::wstring& strLine)
{
    if (m_dwOutputToDebugger)
        OutputDebugStringW(strLine.c_str());
    if (!m_dwOutputToFile || !Lock())
        return;
    if (m_hFile == INVALID_HANDLE_VALUE)
        OpenLogFile();
    if (m_hFile != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(m_hFile, strLine.data(), static_cast<DWORD>(strLine.size() * sizeof(wchar_t)), &written,
                  nullptr);
    }
    Unlock();
}

void CDebugOutput::CloseLogFile()
{
    if (m_hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
}

bool CDebugOutput::OpenLogFile()
{
    CloseLogFile();
    try {
        std::wstring strPath = m_strDirectory;
        while (!strPath.empty() && strPath.back() == L'\\')
            strPath.pop_back();
        strPath += L'\\';
        strPath += m_strModuleName;
        if (m_dwAppendProcessIdToFile)
            AppendFormat(strPath, L"-0x%04X", GetCurrentProcessId());
        strPath += L".log";

        HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
            return false;
        bool bExisted = GetLastError() == ERROR_ALREADY_EXISTS;
        m_hFile = hFile;
        if (!bExisted) {
            static const BYTE kByteOrderMark[2] = {0xFF, 0xFE};
            DWORD written = 0;
            WriteFile(m_hFile, kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr);
        }
        SetFilePointer(m_hFile, 0, nullptr, FILE_END);
        return true;
    } catch (...) {
        return false;
    }
}

bool CDebugOutput::ReopenLogFile()
{
    if (!Lock())
        return false;
    bool bResult = true;
    if (m_hFile != INVALID_HANDLE_VALUE)
        bResult = OpenLogFile();
    Unlock();
    return bResult;
}

bool CDebugOutput::InitializeDefaults()
{
    if (!m_strModuleName.empty() && !m_strDirectory.empty())
        return true;
    wchar_t szPath[259];
    DWORD len = GetModuleFileNameW(nullptr, szPath, ARRAYSIZE(szPath));
    if (len == 0 || len >= ARRAYSIZE(szPath))
        return false;
    wchar_t szDrive[_MAX_DRIVE];
    wchar_t szFolder[_MAX_DIR];
    wchar_t szName[_MAX_FNAME];
    wchar_t szExt[_MAX_EXT];
    if (_wsplitpath_s(szPath, szDrive, ARRAYSIZE(szDrive), szFolder, ARRAYSIZE(szFolder), szName,
                      ARRAYSIZE(szName), szExt, ARRAYSIZE(szExt)) != 0)
        return false;
    try {
        if (m_strModuleName.empty())
            m_strModuleName = szName;
        if (m_strDirectory.empty())
            m_strDirectory = std::wstring(szDrive) + szFolder;
    } catch (...) {
        return false;
    }
    return true;
}

bool CDebugOutput::Initialize()
{
    if (IsInitialized())
        return true;
    if (!Lock())
        return false;
    bool bResult = true;
    if (!IsInitialized()) {
        bResult = InitializeDefaults();
        MarkInitialized();
    }
    Unlock();
    return bResult;
}

void CDebugOutput::SetDebugType(DWORD dwDebugType)
{
    Initialize();
    m_dwDebugType = dwDebugType;
}

void CDebugOutput::SetOutputToDebugger(DWORD dwFlag)
{
    Initialize();
    m_dwOutputToDebugger = dwFlag;
}

void CDebugOutput::SetOutputToFile(DWORD dwFlag)
{
    Initialize();
    m_dwOutputToFile = dwFlag;
}

void CDebugOutput::SetAppendProcessIdToFile(DWORD dwFlag)
{
    Initialize();
    bool bChanged = (m_dwAppendProcessIdToFile != 0) != (dwFlag != 0);
    m_dwAppendProcessIdToFile = dwFlag;
    if (bChanged)
        ReopenLogFile();
}

void CDebugOutput::SetPrependThreadId(DWORD dwFlag)
{
    Initialize();
    m_dwPrependThreadId = dwFlag;
}

void CDebugOutput::SetPrependProcessId(DWORD dwFlag)
{
    Initialize();
    m_dwPrependProcessId = dwFlag;
}

void CDebugOutput::SetPrependDateTime(DWORD dwFlag)
{
    Initialize();
    m_dwPrependDateTime = dwFlag;
}

void CDebugOutput::SetPrependModuleName(DWORD dwFlag)
{
    Initialize();
    m_dwPrependModuleName = dwFlag;
}

void CDebugOutput::SetAppendNewLine(DWORD dwFlag)
{
    Initialize();
    m_dwAppendNewLine = dwFlag;
}

void CDebugOutput::SetPrependType(DWORD dwFlag)
{
    Initialize();
    m_dwPrependType = dwFlag;
}

bool CDebugOutput::SetDirectory(const wchar_t* pszDirectory)
{
    Initialize();
    try {
        std::wstring strNew = pszDirectory ? pszDirectory : L"";
        if (strNew == m_strDirectory)
            return true;
        m_strDirectory = strNew;
    } catch (...) {
        return false;
    }
    return ReopenLogFile();
}

std::wstring CDebugOutput::GetModuleName()
{
    Initialize();
    try {
        return m_strModuleName;
    } catch (...) {
        return std::wstring();
    }
}

bool CDebugOutput::ApplyOptions(CDebugOptions& options)
{
    if (!Lock())
        return false;
    // The base set-up only: a registry-reading subclass must not read the registry again.
    bool bResult = CDebugOutput::Initialize();
    bResult = options.ApplyTo(this) && bResult;
    Unlock();
    return bResult;
}
