// One module's trace facility: turns printf-style messages into prefixed lines for the
// debugger channel and a UTF-16 log file.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdarg>
#include <string>

class CDebugOptions;

enum MessageType
{
    eMessageType_Information = 1,
    eMessageType_Warning = 2,
    eMessageType_Error = 3,
};

class CDebugOutput
{
public:
    explicit CDebugOutput(const wchar_t* pszModuleName);
    virtual ~CDebugOutput();

    CDebugOutput(const CDebugOutput&) = delete;
    CDebugOutput& operator=(const CDebugOutput&) = delete;

    // The format is a wide printf format; "%s" takes a wide string.
    void TraceInformation(const wchar_t* pszFormat, ...);
    void TraceWarning(const wchar_t* pszFormat, ...);
    void TraceError(const wchar_t* pszFormat, ...);
    void TraceV(MessageType eType, const wchar_t* pszFormat, va_list args);

    bool IsEnabled(MessageType eType);

    void SetDebugType(DWORD dwDebugType);
    void SetOutputToDebugger(DWORD dwFlag);
    void SetOutputToFile(DWORD dwFlag);
    void SetAppendProcessIdToFile(DWORD dwFlag);
    void SetPrependThreadId(DWORD dwFlag);
    void SetPrependProcessId(DWORD dwFlag);
    void SetPrependDateTime(DWORD dwFlag);
    void SetPrependModuleName(DWORD dwFlag);
    void SetAppendNewLine(DWORD dwFlag);
    void SetPrependType(DWORD dwFlag);
    bool SetDirectory(const wchar_t* pszDirectory);

    std::wstring GetModuleName();
    bool ApplyOptions(CDebugOptions& options);

    // Set by CDebugOutputLink: while a parent is set this object only forwards to it.
    void SetParent(CDebugOutput* pParent) { m_pParent = pParent; }
    CDebugOutput* GetParent() const { return m_pParent; }

    // The owner may write a new name straight into it; an open log file keeps its old name
    // until it is next reopened.
    std::wstring m_strModuleName;

protected:
    // Delivers one finished line to the debugger channel and the log file.
    virtual void Output(const std::wstring& strLine);
    // One-time set-up, called before every setter, getter and level test.
    virtual bool Initialize();

    // Fills an empty module name and directory from the program's own path.
    bool InitializeDefaults();
    bool IsInitialized() const { return m_bInitialized.load(); }
    void MarkInitialized() { m_bInitialized.store(true); }
    bool Lock();
    void Unlock();

private:
    bool OpenLogFile();
    bool ReopenLogFile();
    void CloseLogFile();
    std::wstring ComposeLine(MessageType eType, const wchar_t* pszFormat, va_list args);
    CDebugOutput* Root();

    DWORD m_dwDebugType = 0;
    std::wstring m_strDirectory;
    DWORD m_dwOutputToDebugger = 0;
    DWORD m_dwOutputToFile = 0;
    DWORD m_dwAppendProcessIdToFile = 0;
    DWORD m_dwPrependThreadId = 0;
    DWORD m_dwPrependProcessId = 0;
    DWORD m_dwPrependDateTime = 0;
    DWORD m_dwPrependModuleName = 0;
    DWORD m_dwAppendNewLine = 0;
    DWORD m_dwPrependType = 0;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    CRITICAL_SECTION m_csLock;
    bool m_bLockCreated = false;
    std::atomic<bool> m_bInitialized{false};
    CDebugOutput* m_pParent = nullptr;
};
