#include "bpSigning.h"

#include <windows.h>
#include <cwchar>
#include <softpub.h>
#include <wintrust.h>

#include "bpText.h"
#include "kqScopedHandle.h"

namespace {

std::wstring Quote(const std::wstring& strPath)
{
    return L"\"" + strPath + L"\"";
}

}  // namespace

std::wstring ExpandSigningCommand(const std::wstring& strTemplate, const std::wstring& strIn, const std::wstring& strOut)
{
    // One scan of the template, so a path that itself holds "{in}" or "{out}" is not touched.
    // A placeholder the engineer quoted already is not quoted twice.
    const struct
    {
        const wchar_t* pszPlaceholder;
        const std::wstring* pstrPath;
    } kPlaceholders[] = {{L"\"{in}\"", &strIn}, {L"\"{out}\"", &strOut}, {L"{in}", &strIn}, {L"{out}", &strOut}};
    std::wstring strCommand;
    size_t pos = 0;
    while (pos < strTemplate.size()) {
        bool bReplaced = false;
        for (const auto& placeholder : kPlaceholders) {
            const size_t cch = wcslen(placeholder.pszPlaceholder);
            if (strTemplate.compare(pos, cch, placeholder.pszPlaceholder) == 0) {
                strCommand += Quote(*placeholder.pstrPath);
                pos += cch;
                bReplaced = true;
                break;
            }
        }
        if (!bReplaced)
            strCommand += strTemplate[pos++];
    }
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
    CScopedHandle process(pi.hProcess);
    CScopedHandle thread(pi.hThread);
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
