// Files for tests: a private temporary folder removed with its contents, and whole-file reads
// and writes.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace kqtest {

// A new, empty folder below the temporary folder, removed with everything in it when the
// object goes. Path() ends with a backslash; it is empty when the folder could not be made.
class CTempFolder
{
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::wstring& Path() const { return m_strPath; }
    std::wstring File(const std::wstring& strName) const { return m_strPath + strName; }

private:
    std::wstring m_strPath;
};

// Removes a folder and everything below it.
void RemoveFolderTree(const std::wstring& strFolder);

bool ReadFileBytes(const std::wstring& strPath, std::vector<BYTE>& bytes);
bool WriteFileBytes(const std::wstring& strPath, const std::vector<BYTE>& bytes);

}  // namespace kqtest
