#include "kqTestSigning.h"

#include <softpub.h>
#include <wintrust.h>

#include "kqTestProcess.h"

namespace kqtest {

namespace {

typedef LONG(WINAPI* PFN_WinVerifyTrust)(HWND, GUID*, LPVOID);

HRESULT LastErrorResult()
{
    DWORD dwError = GetLastError();
    return HRESULT_FROM_WIN32(dwError ? dwError : ERROR_GEN_FAILURE);
}

}  // namespace

LONG VerifyFileSignature(const std::wstring& strPath)
{
    wchar_t szSystem[MAX_PATH];
    UINT len = GetSystemDirectoryW(szSystem, ARRAYSIZE(szSystem));
    if (len == 0 || len >= ARRAYSIZE(szSystem))
        return LastErrorResult();
    std::wstring strDll = std::wstring(szSystem, len) + L"\\wintrust.dll";
    HMODULE hWintrust = LoadLibraryExW(strDll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!hWintrust)
        return LastErrorResult();
    auto pfnVerify = reinterpret_cast<PFN_WinVerifyTrust>(
        reinterpret_cast<void*>(GetProcAddress(hWintrust, "WinVerifyTrust")));
    if (!pfnVerify) {
        LONG lError = LastErrorResult();
        FreeLibrary(hWintrust);
        return lError;
    }

    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = strPath.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG lResult = pfnVerify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    // The verification keeps state until it is closed.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    pfnVerify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    FreeLibrary(hWintrust);
    return lResult;
}

std::wstring SignedCopiesFolder(const std::wstring& strFixture)
{
    return ExeFolder() + L"signed\\" + strFixture + L"\\";
}

}  // namespace kqtest
