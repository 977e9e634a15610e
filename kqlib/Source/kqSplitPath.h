// A path taken apart: as given, in its long form and in its 8.3 short form, with its
// device prefix and UNC parts. Folders end with a backslash (folder = drive + directory).
#pragma once
#include <windows.h>
#include <string>

class CSplitPath
{
public:
    CSplitPath() = default;

    // Splits the path; a null or empty path splits the process's own executable. The long and
    // short parts are filled only when the path exists. Every part is cleared first; on false
    // the parts are unspecified.
    bool Split(const wchar_t* pszPath);
    // Splits the file name of the module (null: the process's executable).
    bool SplitModulePath(HMODULE hModule = nullptr);

    const std::wstring& GetFullPath() const { return m_strFullPath; }
    const std::wstring& GetDrive() const { return m_strDrive; }
    const std::wstring& GetDirectory() const { return m_strDirectory; }
    const std::wstring& GetFolder() const { return m_strFolder; }
    const std::wstring& GetFileName() const { return m_strFileName; }
    const std::wstring& GetExtension() const { return m_strExtension; }

    const std::wstring& GetLongPath() const { return m_strLongPath; }
    const std::wstring& GetLongDirectory() const { return m_strLongDirectory; }
    const std::wstring& GetLongFolder() const { return m_strLongFolder; }
    const std::wstring& GetLongFileName() const { return m_strLongFileName; }
    const std::wstring& GetLongExtension() const { return m_strLongExtension; }

    const std::wstring& GetShortPath() const { return m_strShortPath; }
    const std::wstring& GetShortDirectory() const { return m_strShortDirectory; }
    const std::wstring& GetShortFolder() const { return m_strShortFolder; }
    const std::wstring& GetShortFileName() const { return m_strShortFileName; }
    const std::wstring& GetShortExtension() const { return m_strShortExtension; }

    // "\??\", "\\.\", "\\?\" or "\\?\UNC" when the path begins with it, else empty.
    const std::wstring& GetPrefix() const { return m_strPrefix; }
    // For a UNC path: the text up to the end of the share, the server and the share.
    const std::wstring& GetUncRoot() const { return m_strUncRoot; }
    const std::wstring& GetServer() const { return m_strServer; }
    const std::wstring& GetShare() const { return m_strShare; }

private:
    enum PrefixResult { ePrefix_Invalid, ePrefix_Local, ePrefix_Unc };

    void Clear();
    bool SplitChecked(const wchar_t* pszPath);
    PrefixResult ReadPrefix(size_t& posUnc);
    bool ReadUncParts(size_t posServer);
    void SplitShortForm();
    void SplitLongForm();

    std::wstring m_strFullPath;
    std::wstring m_strDrive;
    std::wstring m_strDirectory;
    std::wstring m_strFolder;
    std::wstring m_strFileName;
    std::wstring m_strExtension;
    std::wstring m_strLongPath;
    std::wstring m_strLongDirectory;
    std::wstring m_strLongFolder;
    std::wstring m_strLongFileName;
    std::wstring m_strLongExtension;
    std::wstring m_strShortPath;
    std::wstring m_strShortDirectory;
    std::wstring m_strShortFolder;
    std::wstring m_strShortFileName;
    std::wstring m_strShortExtension;
    std::wstring m_strPrefix;
    std::wstring m_strUncRoot;
    std::wstring m_strServer;
    std::wstring m_strShare;
};
