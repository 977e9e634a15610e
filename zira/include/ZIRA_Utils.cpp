#include "ZIRA_Utils.h"

#include <atomic>
#include <cwchar>
#include <new>
#include <vector>

#include "ZIRA_AccessRepair.h"
#include "ZIRA_Registry.h"
#include "ZIRA_RightsChecker.h"
#include "ZIRA_SystemCalls.h"
#include "kqFormatString.h"
#include "kqPathUtils.h"
#include "kqSplitPath.h"
#include "kqStringConvert.h"
#include "kqSystemError.h"
#include "kqTrace.h"

namespace ZIRA {

namespace {

std::atomic<HMODULE> g_hResourceModule{nullptr};

bool IsUsablePath(const wchar_t* pszPath)
{
    return pszPath && std::wcslen(pszPath) > 3;
}

const wchar_t* Printable(const wchar_t* pszText)
{
    return pszText ? pszText : L"(null)";
}

bool IsDots(const wchar_t* pszName)
{
    return std::wcscmp(pszName, L".") == 0 || std::wcscmp(pszName, L"..") == 0;
}

bool IsFolder(const wchar_t* pszPath)
{
    DWORD dwAttributes = GetFileAttributesW(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const wchar_t* pszPath)
{
    return GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES;
}

// The folder part of a path (no trailing backslash), or empty.
std::wstring ParentOf(const std::wstring& strPath)
{
    size_t pos = strPath.find_last_of(L"\\/");
    return pos == std::wstring::npos ? std::wstring() : strPath.substr(0, pos);
}

std::wstring LastComponentOf(const std::wstring& strPath)
{
    size_t end = strPath.find_last_not_of(L"\\/");
    if (end == std::wstring::npos)
        return std::wstring();
    size_t pos = strPath.find_last_of(L"\\/", end);
    size_t start = pos == std::wstring::npos ? 0 : pos + 1;
    return strPath.substr(start, end + 1 - start);
}

class CFindHandle
{
public:
    explicit CFindHandle(HANDLE h) : m_h(h) {}
    ~CFindHandle()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            FindClose(m_h);
    }
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

void TraceFileSecurity(const std::wstring& strPath, const wchar_t* pszFolder)
{
    CRightsChecker::TraceSecurityDescriptor(strPath.c_str(), CRightsChecker::eObject_File);
    if (pszFolder)
        CRightsChecker::TraceSecurityDescriptor(pszFolder, CRightsChecker::eObject_File);
}

// A window message loop of the caller ends on WM_QUIT: one taken while waiting is posted again.
void DispatchWaitingMessages(bool& bQuit, WPARAM& wQuitCode)
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            bQuit = true;
            wQuitCode = msg.wParam;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace

HRESULT CUtils::ExecuteProgramEx(DWORD* pdwExitCode, const wchar_t* pszProgram, const wchar_t* pszArguments)
{
    if (!pszArguments)
        return E_INVALIDARG;
    std::wstring strCommandLine;
    try {
        if (pszProgram) {
            bool bQuote = std::wcschr(pszProgram, L' ') && pszProgram[0] != L'"';
            if (!FormatString(strCommandLine, bQuote ? L"\"%s\" %s" : L"%s %s", pszProgram, pszArguments))
                return E_OUTOFMEMORY;
        } else if (!AssignString(pszArguments, strCommandLine)) {
            return E_OUTOFMEMORY;
        }
        TraceInformation(L"Launching: %s", strCommandLine.c_str());
        std::vector<wchar_t> commandLine(strCommandLine.begin(), strCommandLine.end());
        commandLine.push_back(L'\0');
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            DWORD dwError = GetLastError();
            TraceError(L"ZIRA::CUtils::ExecuteProgramEx(405) : failed to launch: 0x%08x", dwError);
            return HresultFromSystemError(dwError, E_FAIL);
        }
        TraceInformation(L"Create process succeeded");
        HRESULT hr = S_OK;
        if (pdwExitCode) {
            bool bQuit = false;
            WPARAM wQuitCode = 0;
            while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT)
                DispatchWaitingMessages(bQuit, wQuitCode);
            if (bQuit)
                PostQuitMessage(static_cast<int>(wQuitCode));
            DWORD dwExitCode = 0;
            if (!GetExitCodeProcess(process.hProcess, &dwExitCode)) {
                DWORD dwError = GetLastError();
                TraceError(L"ZIRA::CUtils::ExecuteProgramEx(395) : GetExitCodeProcess failed: 0x%08x", dwError);
                hr = HresultFromSystemError(dwError, E_FAIL);
            } else {
                TraceInformation(L"Process returned: 0x%08x", dwExitCode);
                *pdwExitCode = dwExitCode;
            }
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CUtils::EnumFolder(const wchar_t* pszFolder, const wchar_t* pszPattern, const wchar_t* pszBaseFolder,
                           bool bRecursive, EnumFolderCallback pfnCallback, void* pContext, bool bFollowLinks)
{
    if (!pfnCallback) {
        TraceError(L"ZIRA::CUtils::EnumFolder(947) : invalid parameter");
        return E_INVALIDARG;
    }
    try {
        const wchar_t* pszFolderText = pszFolder ? pszFolder : L"";
        WIN32_FIND_DATAW entered = {};
        if (!pfnCallback(pszFolderText, pszBaseFolder, entered, pContext))
            return kCancelled;
        std::wstring strSearch = pszFolderText;
        if (!AppendPath(strSearch, pszPattern))
            return E_OUTOFMEMORY;
        WIN32_FIND_DATAW found = {};
        CFindHandle find(FindFirstFileW(strSearch.c_str(), &found));
        if (find.Get() == INVALID_HANDLE_VALUE)
            return kNotFound;
        do {
            if (IsDots(found.cFileName))
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                bool bLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
                if (bRecursive && (bFollowLinks || !bLink)) {
                    std::wstring strSubFolder = pszFolderText;
                    if (!AppendPath(strSubFolder, found.cFileName))
                        return E_OUTOFMEMORY;
                    HRESULT hr = EnumFolder(strSubFolder.c_str(), pszPattern,
                                            pszBaseFolder ? pszBaseFolder : pszFolderText, bRecursive, pfnCallback,
                                            pContext, bFollowLinks);
                    if (hr == kCancelled)
                        return kCancelled;
                }
            }
            if (!pfnCallback(pszFolderText, pszBaseFolder, found, pContext))
                return kCancelled;
        } while (FindNextFileW(find.Get(), &found));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool CUtils::DeleteHandler(const wchar_t* pszFolder, const wchar_t*, const WIN32_FIND_DATAW& findData, void* pContext)
{
    if (findData.cFileName[0] == L'\0')
        return true;
    DWORD* pdwFlags = static_cast<DWORD*>(pContext);
    DWORD dwFlags = pdwFlags ? *pdwFlags : static_cast<DWORD>(eDelete_AllowRestart);
    bool bLog = (dwFlags & eDelete_LogErrors) != 0;
    bool bAllowRestart = (dwFlags & eDelete_AllowRestart) != 0;
    std::wstring strPath;
    if (!CombinePathFormat(strPath, pszFolder, L"%s", findData.cFileName)) {
        TraceError(L"ZIRA::CUtils::DeleteHandler(%d) : out of memory", __LINE__);
        return !bLog;
    }
    ISystemCalls& calls = SystemCalls();
    DWORD dwError = ERROR_SUCCESS;
    DWORD dwScheduleError = ERROR_SUCCESS;
    if (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or symbolic link is removed as itself; its target is never entered.
        SetFileAttributesW(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        dwError = calls.RemoveFolder(strPath.c_str());
        if (dwError == ERROR_SUCCESS)
            return true;
        TraceInformation(L"delete on reboot: %s", strPath.c_str());
        static const AccessRepairMessages s_folderRepair = {
            L"ZIRA::CUtils::DeleteHandler(753) : FileEnsureAccess %s threw an exception: %d",
            L"ZIRA::CUtils::DeleteHandler(757) : FileEnsureAccess %s threw an exception: (0x%08x)", true};
        RepairFileAccess(strPath.c_str(), s_folderRepair);
        dwScheduleError = calls.DeleteAtRestart(strPath.c_str());
        if (dwScheduleError == ERROR_SUCCESS)
            return true;
        if (bLog)
            TraceError(L"ZIRA::CUtils::DeleteHandler(766) : MoveFileEx failed to delete folder: %s (%lu)",
                       strPath.c_str(), dwScheduleError);
    } else {
        if (findData.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(strPath.c_str(), findData.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        TraceInformation(L"DeleteFile: %s", strPath.c_str());
        dwError = calls.RemoveFile(strPath.c_str());
        if (dwError == ERROR_SUCCESS)
            return true;
        if (bAllowRestart) {
            TraceInformation(L"delete on reboot: %s", strPath.c_str());
            static const AccessRepairMessages s_fileRepair = {
                L"ZIRA::CUtils::DeleteHandler(804) : FileEnsureAccess %s threw an exception: %d",
                L"ZIRA::CUtils::DeleteHandler(808) : FileEnsureAccess %s threw an exception: (0x%08x)", true};
            RepairFileAccess(strPath.c_str(), s_fileRepair);
            dwScheduleError = calls.DeleteAtRestart(strPath.c_str());
            if (dwScheduleError == ERROR_SUCCESS) {
                if (pdwFlags)
                    *pdwFlags |= eDelete_Scheduled;
                return true;
            }
            TraceWarning(L"ZIRA::CUtils::DeleteHandler(814) : MoveFileEx failed to delete file: %s (%lu)\r\n",
                         strPath.c_str(), dwScheduleError);
        } else {
            TraceWarning(L"ZIRA::CUtils::DeleteHandler(835) : failed to delete file: %s (%lu)", strPath.c_str(),
                         dwError);
        }
    }
    if (dwError == ERROR_ACCESS_DENIED || dwScheduleError == ERROR_ACCESS_DENIED)
        TraceFileSecurity(strPath, pszFolder);
    return !bLog;
}

HRESULT CUtils::DeleteFolder(const wchar_t* pszPath, bool bLogErrors, bool bAllowRestart)
{
    if (!IsUsablePath(pszPath)) {
        TraceError(L"ZIRA::CUtils::DeleteFolder(417) : invalid path: %s", Printable(pszPath));
        return E_INVALIDARG;
    }
    DWORD dwFlags = (bAllowRestart ? static_cast<DWORD>(eDelete_AllowRestart) : 0u) |
                    (bLogErrors ? static_cast<DWORD>(eDelete_LogErrors) : 0u);
    // A folder that is itself a link is removed as a link, without a walk through its target.
    DWORD dwAttributes = GetFileAttributesW(pszPath);
    bool bLink = dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    HRESULT hrWalk = S_OK;
    if (!bLink) {
        hrWalk = EnumFolder(pszPath, L"*.*", nullptr, true, &DeleteHandler, &dwFlags, false);
        if (hrWalk == kNotFound)
            return S_OK;
    }
    ISystemCalls& calls = SystemCalls();
    SetFileAttributesW(pszPath, FILE_ATTRIBUTE_NORMAL);
    DWORD dwError = calls.RemoveFolder(pszPath);
    if (dwError != ERROR_SUCCESS) {
        if (bAllowRestart) {
            TraceInformation(L"delete on reboot: %s", pszPath);
            DWORD dwScheduleError = calls.DeleteAtRestart(pszPath);
            if (dwScheduleError == ERROR_SUCCESS)
                return kRebootRequired;
            if (!bLogErrors)
                return S_OK;
            TraceError(L"ZIRA::CUtils::DeleteFolder(439) : MoveFileEx failed to delete folder: %s (%lu)\r\n", pszPath,
                       dwScheduleError);
            return E_FAIL;
        }
        if (bLogErrors && dwError != ERROR_DIR_NOT_EMPTY)
            TraceWarning(L"ZIRA::CUtils::DeleteFolder(453) : failed to delete folder: %s (%lu)\r\n", pszPath, dwError);
    }
    if (FAILED(hrWalk))
        return E_FAIL;
    return (dwFlags & eDelete_Scheduled) ? kRebootRequired : S_OK;
}

bool CUtils::DeleteEmptyFolderHandler(const wchar_t* pszFolder, const wchar_t*, const WIN32_FIND_DATAW& findData,
                                      void*)
{
    if (findData.cFileName[0] == L'\0' || !(findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    std::wstring strPath;
    if (!CombinePathFormat(strPath, pszFolder, L"%s", findData.cFileName)) {
        TraceError(L"ZIRA::CUtils::DeleteEmptyFolderHandler(%d) : out of memory", __LINE__);
        return true;
    }
    ISystemCalls& calls = SystemCalls();
    if (calls.RemoveFolder(strPath.c_str()) == ERROR_SUCCESS)
        return true;
    TraceInformation(L"delete on reboot: %s", strPath.c_str());
    static const AccessRepairMessages s_repair = {
        L"ZIRA::CUtils::DeleteEmptyFolderHandler(925) : FileEnsureAccess %s threw an exception: %d",
        L"ZIRA::CUtils::DeleteEmptyFolderHandler(929) : FileEnsureAccess %s threw an exception: (0x%08x)", true};
    RepairFileAccess(strPath.c_str(), s_repair);
    TraceInformation(L"delete on reboot: %s", strPath.c_str());
    DWORD dwError = calls.DeleteAtRestart(strPath.c_str());
    if (dwError != ERROR_SUCCESS)
        TraceError(L"ZIRA::CUtils::DeleteEmptyFolderHandler(934) : MoveFileEx failed to delete folder: %s (%lu)\r\n",
                   strPath.c_str(), dwError);
    return true;
}

HRESULT CUtils::DeleteEmptyFolders(const wchar_t* pszPath)
{
    if (!IsUsablePath(pszPath)) {
        TraceError(L"ZIRA::CUtils::DeleteEmptyFolders(685) : invalid path: %s", Printable(pszPath));
        return E_INVALIDARG;
    }
    HRESULT hr = EnumFolder(pszPath, L"*.*", nullptr, true, &DeleteEmptyFolderHandler, nullptr, false);
    ISystemCalls& calls = SystemCalls();
    if (hr == kNotFound || calls.RemoveFolder(pszPath) == ERROR_SUCCESS)
        return S_OK;
    TraceInformation(L"delete on reboot: %s", pszPath);
    DWORD dwError = calls.DeleteAtRestart(pszPath);
    if (dwError != ERROR_SUCCESS)
        TraceError(L"ZIRA::CUtils::DeleteEmptyFolders(703) : MoveFileEx failed to delete folder: %s (%lu)\r\n", pszPath,
                   dwError);
    return kRebootRequired;
}

HRESULT CUtils::DeleteFileW(const wchar_t* pszPath, bool bAllowRestart)
{
    if (!pszPath)
        return E_INVALIDARG;
    try {
        std::wstring strPath = pszPath;
        std::wstring strFolder = ParentOf(strPath);
        const wchar_t* pszFolder = strFolder.empty() ? nullptr : strFolder.c_str();
        ISystemCalls& calls = SystemCalls();
        SetFileAttributesW(pszPath, FILE_ATTRIBUTE_NORMAL);
        DWORD dwError = calls.RemoveFile(pszPath);
        if (dwError == ERROR_SUCCESS || dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
            return S_OK;
        if (bAllowRestart) {
            TraceInformation(L"delete on reboot: %s", pszPath);
            if (dwError == ERROR_ACCESS_DENIED) {
                static const AccessRepairMessages s_repair = {
                    L"ZIRA::CUtils::DeleteFileW(1055) : FileEnsureAccess %s threw an exception: %d",
                    L"ZIRA::CUtils::DeleteFileW(1059) : FileEnsureAccess %s threw an exception: (0x%08x)", true};
                RepairFileAccess(pszPath, s_repair);
            }
            DWORD dwScheduleError = calls.DeleteAtRestart(pszPath);
            if (dwScheduleError == ERROR_SUCCESS)
                return kRebootRequired;
            TraceError(L"ZIRA::CUtils::DeleteFileW(1066) : MoveFileEx failed to delete file: %s (%lu)\r\n", pszPath,
                       dwScheduleError);
            if (dwScheduleError == ERROR_ACCESS_DENIED)
                TraceFileSecurity(strPath, pszFolder);
            return HresultFromSystemError(dwScheduleError, E_FAIL);
        }
        TraceError(L"ZIRA::CUtils::DeleteFileW(1094) : failed to delete file: %s (%lu)", pszPath, dwError);
        if (dwError == ERROR_ACCESS_DENIED) {
            static const AccessRepairMessages s_repair = {
                L"ZIRA::CUtils::DeleteFileW(1106) : FileEnsureAccess %s threw an exception: %d",
                L"ZIRA::CUtils::DeleteFileW(1110) : FileEnsureAccess %s threw an exception: (0x%08x)", true};
            RepairFileAccess(pszPath, s_repair);
        }
        DWORD dwRetryError = calls.RemoveFile(pszPath);
        if (dwRetryError == ERROR_SUCCESS || dwRetryError == ERROR_FILE_NOT_FOUND ||
            dwRetryError == ERROR_PATH_NOT_FOUND)
            return S_OK;
        if (dwError == ERROR_ACCESS_DENIED || dwRetryError == ERROR_ACCESS_DENIED)
            TraceFileSecurity(strPath, pszFolder);
        return HresultFromSystemError(dwError, E_FAIL);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CUtils::CopyFiles(const wchar_t* pszSourceFolder, const wchar_t* pszDestinationFolder)
{
    if (!IsUsablePath(pszSourceFolder)) {
        TraceError(L"ZIRA::CUtils::CopyFiles(557) : invalid path: %s", Printable(pszSourceFolder));
        return E_INVALIDARG;
    }
    if (!pszDestinationFolder || !*pszDestinationFolder) {
        TraceError(L"ZIRA::CUtils::CopyFiles(557) : invalid path: %s", Printable(pszDestinationFolder));
        return E_INVALIDARG;
    }
    CopyContext context;
    context.m_pszFilter = L".DLL";
    if (!AssignString(pszDestinationFolder, context.m_strTarget))
        return E_OUTOFMEMORY;
    if (!Exists(pszDestinationFolder) && !CreateDirectoryTree(pszDestinationFolder)) {
        static const AccessRepairMessages s_repair = {
            L"ZIRA::CUtils::CopyFiles(582) : FileEnsureAccess %s threw an exception: %d",
            L"ZIRA::CUtils::CopyFiles(586) : FileEnsureAccess %s threw an exception: (0x%08x)", true};
        RepairFileAccess(pszDestinationFolder, s_repair);
        if (!CreateDirectoryTree(pszDestinationFolder)) {
            TraceError(L"ZIRA::CUtils::CopyFiles(590) : CreateDirectory failed: %s (%lu)\r\n", pszDestinationFolder,
                       GetLastError());
            return static_cast<HRESULT>(0x80070005);
        }
    }
    HRESULT hr = EnumFolder(pszSourceFolder, L"*.*", nullptr, true, &CopyFilesHandler, &context);
    return (hr == S_OK || hr == kNotFound) ? S_OK : E_FAIL;
}

bool CUtils::CopyFilesHandler(const wchar_t* pszFolder, const wchar_t*, const WIN32_FIND_DATAW& findData,
                              void* pContext)
{
    CopyContext* pCopy = static_cast<CopyContext*>(pContext);
    if (!pCopy) {
        TraceError(L"ZIRA::CUtils::CopyFilesHandler(1720) : invalid parameter");
        return false;
    }
    try {
        if (findData.cFileName[0] == L'\0') {
            // A folder is entered: below the top level its target is one level deeper.
            if (pCopy->m_bFollowSubfolders) {
                ++pCopy->m_dwDepth;
                if (pCopy->m_dwDepth > 1 && !AppendPath(pCopy->m_strTarget, LastComponentOf(pszFolder).c_str()))
                    return false;
            }
            return true;
        }
        if (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // The folder's walk is over.
            if (pCopy->m_bFollowSubfolders && pCopy->m_dwDepth > 0) {
                if (pCopy->m_dwDepth > 1)
                    pCopy->m_strTarget = ParentOf(pCopy->m_strTarget);
                --pCopy->m_dwDepth;
            }
            return true;
        }
        std::wstring strSource = pszFolder;
        std::wstring strTarget = pCopy->m_strTarget;
        if (!AppendPath(strSource, findData.cFileName) || !AppendPath(strTarget, findData.cFileName))
            return false;
        if (!pCopy->m_bOverwrite && Exists(strTarget.c_str()))
            return true;
        if (pCopy->m_pszFilter) {
            CSplitPath split;
            if (!split.Split(strSource.c_str()) || _wcsicmp(split.GetExtension().c_str(), pCopy->m_pszFilter) != 0)
                return true;
        }
        const wchar_t* pszTargetFolder = pCopy->m_strTarget.c_str();
        if (!IsFolder(pszTargetFolder) && !CreateDirectoryTree(pszTargetFolder)) {
            static const AccessRepairMessages s_repair = {
                L"ZIRA::CUtils::CopyFilesHandler(1823) : FileEnsureAccess %s threw an exception: %d",
                L"ZIRA::CUtils::CopyFilesHandler(1827) : FileEnsureAccess %s threw an exception: (0x%08x)", true};
            RepairFileAccess(pszTargetFolder, s_repair);
            if (!CreateDirectoryTree(pszTargetFolder)) {
                TraceError(L"ZIRA::CUtils::CopyFilesHandler(1831) : CreateDirectory failed: %s (%lu)\r\n",
                           pszTargetFolder, GetLastError());
                return false;
            }
        }
        if (!CopyFileW(strSource.c_str(), strTarget.c_str(), TRUE)) {
            TraceError(L"ZIRA::CUtils::CopyFilesHandler(1840) : CopyFile failed: %s -> %s (%lu)", strSource.c_str(),
                       strTarget.c_str(), GetLastError());
            return false;
        }
        TraceInformation(L"Copy: %s -> %s", strSource.c_str(), strTarget.c_str());
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

HMODULE CUtils::LoadResourceModule(const wchar_t* pszFolder, ResourceModuleLocator pfnLocate)
{
    try {
        std::wstring strPath;
        LANGID wLanguage = 0;
        bool bFound = pfnLocate && pfnLocate(pszFolder, L"SetupShell.loc", strPath, wLanguage);
        TraceInformation(L"LoadResourceModule(): %s, %04X", strPath.c_str(), static_cast<unsigned>(wLanguage));
        HMODULE hModule = nullptr;
        DWORD dwError = ERROR_FILE_NOT_FOUND;
        if (bFound && !strPath.empty()) {
            hModule = LoadLibraryExW(strPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_WITH_ALTERED_SEARCH_PATH);
            if (!hModule)
                dwError = GetLastError();
        }
        if (!hModule) {
            TraceError(L"ZIRA::CUtils::LoadResourceModule(1187) : Error: %d, Unable to load resource module: %s",
                       static_cast<int>(dwError), strPath.c_str());
            return nullptr;
        }
        g_hResourceModule.exchange(hModule);
        return hModule;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HMODULE CUtils::ResourceModule()
{
    return g_hResourceModule.load();
}

void CUtils::SetRebootFlag()
{
    CRegistry ostrel;
    if (ostrel.OpenWithRepair(L"SOFTWARE\\Ostrel", HKEY_LOCAL_MACHINE, KEY_READ, false)) {
        CRegistry reboot;
        if (!reboot.OpenWithRepair(L"SOFTWARE\\Ostrel\\Reboot", HKEY_LOCAL_MACHINE, KEY_WRITE, true,
                                   REG_OPTION_VOLATILE))
            TraceError(L"ZIRA::CUtils::SetRebootFlag(1421) : failed to create reboot key (%lu)",
                       static_cast<unsigned long>(reboot.OpenError()));
    } else if (ostrel.OpenError() == ERROR_FILE_NOT_FOUND) {
        CRegistryKey reboot;
        LONG lError = SystemCalls().OpenKey(reboot, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrel\\Reboot", KEY_WRITE, true,
                                            REG_OPTION_VOLATILE);
        if (lError != ERROR_SUCCESS)
            TraceError(L"ZIRA::CUtils::SetRebootFlag(1406) : failed to create reboot key (%lu)",
                       static_cast<unsigned long>(lError));
    } else {
        TraceError(L"ZIRA::CUtils::SetRebootFlag(1413) : failed to open Ostrel key (%lu)",
                   static_cast<unsigned long>(ostrel.OpenError()));
    }
}

bool CUtils::IsRebootRequired()
{
    CRegistry reboot;
    if (!reboot.OpenWithRepair(L"Software\\Ostrel\\Reboot", HKEY_LOCAL_MACHINE, KEY_READ, false))
        return false;
    TraceInformation(L"reboot key found (need to reboot before running install)");
    return true;
}

HRESULT CUtils::WriteFallbackLanguage(const wchar_t* pszFolder, const wchar_t* pszLanguage)
{
    try {
        std::wstring strLanguage;
        if (!AssignString(pszLanguage, strLanguage))
            return E_OUTOFMEMORY;
        if (strLanguage.size() != 4 && strLanguage.size() != 5)
            return S_OK;
        if (!pszFolder || !IsFolder(pszFolder))
            return S_OK;
        std::wstring strFile;
        if (!CombinePathFormat(strFile, pszFolder, L"fallback.dat"))
            return E_OUTOFMEMORY;
        if (Exists(strFile.c_str()))
            return S_OK;
        std::wstring strText = strLanguage;
        wchar_t* pEnd = nullptr;
        unsigned long ulNumber = std::wcstoul(strLanguage.c_str(), &pEnd, 16);
        if (pEnd && pEnd != strLanguage.c_str() && *pEnd == L'\0' && !LangIDFromLangIDString(ulNumber, strText))
            return E_OUTOFMEMORY;
        std::string bytes;
        int cb = WideCharToMultiByte(CP_THREAD_ACP, 0, strText.c_str(), static_cast<int>(strText.size()), nullptr, 0,
                                     nullptr, nullptr);
        if (cb > 0) {
            bytes.resize(static_cast<size_t>(cb));
            WideCharToMultiByte(CP_THREAD_ACP, 0, strText.c_str(), static_cast<int>(strText.size()), &bytes[0], cb,
                                nullptr, nullptr);
        }
        HANDLE hFile = CreateFileW(strFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_READONLY, nullptr);
        if (hFile == INVALID_HANDLE_VALUE) {
            DWORD dwError = GetLastError();
            TraceError(L"ZIRA::CUtils::WriteFallbackLanguage(%d) : failed to create %s (%lu)", __LINE__,
                       strFile.c_str(), dwError);
            return HresultFromSystemError(dwError, E_FAIL);
        }
        DWORD cbWritten = 0;
        BOOL bWritten = WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
        DWORD dwError = bWritten ? ERROR_SUCCESS : GetLastError();
        CloseHandle(hFile);
        if (!bWritten || cbWritten != bytes.size()) {
            TraceError(L"ZIRA::CUtils::WriteFallbackLanguage(%d) : failed to write %s (%lu)", __LINE__,
                       strFile.c_str(), dwError);
            return HresultFromSystemError(dwError, E_FAIL);
        }
        TraceInformation(L"%s created for %s", strFile.c_str(), strLanguage.c_str());
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool CUtils::LangIDString(LANGID wLangId, std::wstring& strOut, const wchar_t* pszInfix)
{
    unsigned uPrimary = wLangId & 0x3FF;
    unsigned uSub = wLangId >> 10;
    if (uPrimary == 0) {
        TraceInformation(L"wPrimLangID == 0");
        return false;
    }
    std::wstring strText;
    if (!FormatString(strText, uPrimary < 0x100 ? L"%02X" : L"%03X", uPrimary) ||
        (pszInfix && *pszInfix && !AppendString(strText, pszInfix)) ||
        !FormatString(strOut, L"%ls%02X", strText.c_str(), uSub)) {
        TraceError(L"Out of memory attempting to build LangIDString");
        return false;
    }
    return true;
}

bool CUtils::LangIDFromLangIDString(DWORD dwNumber, std::wstring& strOut)
{
    DWORD dwPrimary = (dwNumber >> 8) & 0xFFF;
    DWORD dwSub = dwNumber & 0xFF;
    if (dwPrimary > 1023)
        return true;
    return FormatString(strOut, dwPrimary <= 255 ? L"%04X" : L"%05X", dwPrimary | (dwSub << 10));
}

}  // namespace ZIRA
