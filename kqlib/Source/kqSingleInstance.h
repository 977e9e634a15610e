// One running holder per name: a claim is an exclusively opened lock file below "_lck" that the
// system deletes when the holder closes it or dies. A later claim of the same name fails while
// the file is open, from any process and any logon session.
#pragma once
#include <windows.h>
#include <string>

class CSingleInstance
{
public:
    CSingleInstance() = default;
    virtual ~CSingleInstance();

    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Claims the name machine-wide. False when another process holds it, when this object
    // already holds a claim, or on any other failure; nothing is retried or waited for.
    bool Lock(const wchar_t* pszName);
    // Gives the claim up; true when none is held.
    bool Unlock();
    bool IsLocked() const { return m_hLockFile != INVALID_HANDLE_VALUE; }

protected:
    // The folder that receives the "_lck" folder. By default the silo's common data folder.
    virtual bool GetLockFolder(std::wstring& strFolder);

private:
    HANDLE m_hLockFile = INVALID_HANDLE_VALUE;
};

// Keeps the lock files below a folder the caller names.
class CFolderSingleInstance : public CSingleInstance
{
public:
    using CSingleInstance::Lock;
    // Stores the folder, then claims the name machine-wide.
    bool Lock(const wchar_t* pszFolder, const wchar_t* pszName);

protected:
    bool GetLockFolder(std::wstring& strFolder) override;

private:
    std::wstring m_strFolder;
};
