// File, folder, process and language helpers of the installer library. Every path function
// refuses a path of three characters or fewer, so a drive root is never walked or deleted.
#pragma once
#include <windows.h>
#include <string>

namespace ZIRA {

// Called for each entry of a folder walk; false stops the walk. The first call of each
// (sub-)walk has an all-zero find record: an empty name means "this folder is entered".
typedef bool (*EnumFolderCallback)(const wchar_t* pszFolder, const wchar_t* pszBaseFolder,
                                   const WIN32_FIND_DATAW& findData, void* pContext);

// Finds the language-specific file below a base folder (the shared library's resource module
// locator): the file's full path and the language chosen.
typedef bool (*ResourceModuleLocator)(const wchar_t* pszBaseFolder, const wchar_t* pszFileName,
                                      std::wstring& strPath, LANGID& wLanguage);

class CUtils
{
public:
    // Results with a meaning of their own.
    static constexpr HRESULT kRebootRequired = static_cast<HRESULT>(0x80070BC2);  // scheduled for restart
    static constexpr HRESULT kCancelled = static_cast<HRESULT>(0x800704C7);       // walk stopped by its callback
    static constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490);        // folder cannot be listed

    // Delete context flags.
    enum DeleteFlags : DWORD
    {
        eDelete_Scheduled = 0x1,
        eDelete_AllowRestart = 0x2,
        eDelete_LogErrors = 0x4,
    };

    struct CopyContext
    {
        const wchar_t* m_pszFilter = nullptr;  // extension with its dot, compared ignoring case
        std::wstring m_strTarget;              // the current target folder
        bool m_bOverwrite = false;
        bool m_bFollowSubfolders = true;
        DWORD m_dwDepth = 0;
    };

    // Starts the program (quoted when it holds spaces) with the arguments, or the arguments
    // alone as the command line. With pdwExitCode it waits, dispatching this thread's window
    // messages, and returns the exit code.
    static HRESULT ExecuteProgramEx(DWORD* pdwExitCode, const wchar_t* pszProgram, const wchar_t* pszArguments);

    // Walks the folder; subfolders are reported after their contents. With bFollowLinks
    // false, a folder that is a junction or symbolic link is reported but not entered.
    static HRESULT EnumFolder(const wchar_t* pszFolder, const wchar_t* pszPattern, const wchar_t* pszBaseFolder,
                              bool bRecursive, EnumFolderCallback pfnCallback, void* pContext,
                              bool bFollowLinks = true);

    // Deletes the tree. Links inside it are deleted themselves, never followed.
    static HRESULT DeleteFolder(const wchar_t* pszPath, bool bLogErrors, bool bAllowRestart);
    // pContext: DWORD of DeleteFlags, or null (scheduling allowed, the walk never stops).
    static bool DeleteHandler(const wchar_t* pszFolder, const wchar_t* pszBaseFolder,
                              const WIN32_FIND_DATAW& findData, void* pContext);

    static HRESULT DeleteEmptyFolders(const wchar_t* pszPath);
    static bool DeleteEmptyFolderHandler(const wchar_t* pszFolder, const wchar_t* pszBaseFolder,
                                         const WIN32_FIND_DATAW& findData, void* pContext);

    static HRESULT DeleteFileW(const wchar_t* pszPath, bool bAllowRestart);

    // Copies the *.dll files of the tree, keeping its folders; existing files stay untouched.
    static HRESULT CopyFiles(const wchar_t* pszSourceFolder, const wchar_t* pszDestinationFolder);
    // pContext: CopyContext.
    static bool CopyFilesHandler(const wchar_t* pszFolder, const wchar_t* pszBaseFolder,
                                 const WIN32_FIND_DATAW& findData, void* pContext);

    // Loads the install UI's "SetupShell.loc" for the user's language below the folder as a
    // data file and publishes it as the process's resource module.
    static HMODULE LoadResourceModule(const wchar_t* pszFolder);
    static HMODULE LoadResourceModule(const wchar_t* pszFolder, ResourceModuleLocator pfnLocate);
    // The module published by the last successful LoadResourceModule, or null.
    static HMODULE ResourceModule();

    // Marks that a restart is owed (a volatile key, gone after the restart) and detects it.
    static void SetRebootFlag();
    static bool IsRebootRequired();

    // Writes fallback.dat (the language as four hexadecimal digits, read-only) into an existing
    // folder that has none yet.
    static HRESULT WriteFallbackLanguage(const wchar_t* pszFolder, const wchar_t* pszLanguage);

    // 0x0409 gives "0901"; with the infix "-", 0x0804 gives "04-02".
    static bool LangIDString(LANGID wLangId, std::wstring& strOut, const wchar_t* pszInfix);
    // The number 0x0901 gives "0409".
    static bool LangIDFromLangIDString(DWORD dwNumber, std::wstring& strOut);
};

}  // namespace ZIRA
