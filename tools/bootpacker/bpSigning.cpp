#include "bpSigning.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include "bpText.h"

namespace {

std::wstring Quote(const std::wstring& strPath)
{
    return L"\"" + strPath + L"\"";
}

void ReplaceAll(std::wstring& strText, const std::wstring& strFrom, const std::wstring& strTo)
{
    size_t pos = 0;
    while ((pos = strText.find(strFrom, pos)) != std::wstring::npos) {
        strText.replace(pos, strFrom.size(), strTo);
        pos += strTo.size();
    }
}

// Closes a handle on every path.
class CHandle
{
public:
    explicit CHandle(HANDLE h = nullptr) : m_h(h) {}
    ~CHandle()
    {
        if (m_h && m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

}  // namespace

std::wstring ExpandSigningCommand(const std::wstring& strTemplate, const std::wstring& strIn, const std::wstring& strOut)
{
    std::wstring strCommand = strTemplate;
    // A placeholder the engineer quoted already is not quoted twice.
    ReplaceAll(strCommand, L"\"{in}\"", Quote(strIn));
    ReplaceAll(strCommand, L"\"{out}\"", Quote(strOut));
    ReplaceAll(strCommand, L"{in}", Quote(strIn));
    ReplaceAll(strCommand, L"{out}", Quote(strOut));
    return strCommand;
}

bool RunSigningCommand(const std::wstring& strTemplate, const std::wstring& strIn, const std::wstring& strOut,
                       std::wstring& strSigned, std::string& strError)
{
    const bool bHasOut = strTemplate.find(L"{out}") != std::wstring::npos;
    strSigned = bHasOut ? strOut : strIn;
    if (bHasOut)
        DeleteFileW(strOut.c_str());
    std::wstring strCommand = ExpandSigningCommand(strTemplate, strIn, strOut);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &strCommand[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        strError = "signing command could not start (error " + std::to_string(GetLastError()) + "): " +
                   ToUtf8(strCommand);
        return false;
    }
    CHandle process(pi.hProcess);
    CHandle thread(pi.hThread);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD dwExitCode = 0;
    if (!GetExitCodeProcess(process.Get(), &dwExitCode)) {
        // Under Wine a Linux program is started but gives no process to wait for.
        strError = "signing command: its exit code cannot be read (error " + std::to_string(GetLastError()) +
                   "); the command must be a Windows program (on Linux, build with --sign-later, sign with "
                   "osslsigncode, then run bootpack settings import)";
        return false;
    }
    if (dwExitCode != 0) {
        char szCode[16];
        wsprintfA(szCode, "0x%08lX", dwExitCode);
        strError = std::string("signing command failed with exit code ") + szCode + ": " + ToUtf8(strCommand);
        return false;
    }
    if (GetFileAttributesW(strSigned.c_str()) == INVALID_FILE_ATTRIBUTES) {
        strError = "signing command left no signed file at " + ToUtf8(strSigned);
        return false;
    }
    return true;
}

long CheckSignature(const std::wstring& strPath)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = strPath.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG lResult = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return lResult;
}
