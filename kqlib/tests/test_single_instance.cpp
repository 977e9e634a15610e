#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "kqSingleInstance.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"

namespace {

// A fresh folder below the temporary folder, removed with everything in it.
class SingleInstanceTest : public testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t szTemp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH, szTemp));
        m_strFolder = std::wstring(szTemp) + L"kqlock_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                      std::to_wstring(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(m_strFolder.c_str(), nullptr));
    }
    void TearDown() override { kqtest::RemoveTree(m_strFolder); }

    std::wstring LockFile(const std::wstring& strName) const { return m_strFolder + L"\\_lck\\_" + strName + L"G"; }

    std::wstring m_strFolder;
};

TEST_F(SingleInstanceTest, ClaimMakesHiddenLockFile)
{
    CFolderSingleInstance lock;
    ASSERT_TRUE(lock.Lock(m_strFolder.c_str(), L"{0C1F5E2A-7B39-4D2C-9E11-3A5B7C9D0E21}"));
    EXPECT_TRUE(lock.IsLocked());
    const std::wstring strFile = LockFile(L"{0C1F5E2A-7B39-4D2C-9E11-3A5B7C9D0E21}");
    DWORD dwAttributes = GetFileAttributesW(strFile.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, dwAttributes) << strFile;
    EXPECT_TRUE(dwAttributes & FILE_ATTRIBUTE_HIDDEN);
    // FILE_ATTRIBUTE_TEMPORARY is asked for too, but Wine does not keep it.

    EXPECT_TRUE(lock.Unlock());
    EXPECT_FALSE(lock.IsLocked());
    EXPECT_FALSE(kqtest::FileExists(strFile));
}

TEST_F(SingleInstanceTest, CreatesMissingParentFolders)
{
    const std::wstring strDeep = m_strFolder + L"\\a\\b\\";
    CFolderSingleInstance lock;
    ASSERT_TRUE(lock.Lock(strDeep.c_str(), L"deep"));
    EXPECT_TRUE(kqtest::FileExists(m_strFolder + L"\\a\\b\\_lck\\_deepG"));
}

TEST_F(SingleInstanceTest, SecondClaimOfSameNameFailsUntilUnlock)
{
    CFolderSingleInstance first;
    CFolderSingleInstance second;
    CFolderSingleInstance other;
    ASSERT_TRUE(first.Lock(m_strFolder.c_str(), L"pkg"));
    EXPECT_FALSE(second.Lock(m_strFolder.c_str(), L"pkg"));
    EXPECT_FALSE(second.IsLocked());
    EXPECT_TRUE(other.Lock(m_strFolder.c_str(), L"pkg_CleanUp"));
    ASSERT_TRUE(first.Unlock());
    EXPECT_TRUE(second.Lock(m_strFolder.c_str(), L"pkg"));
}

TEST_F(SingleInstanceTest, DestructionReleasesClaim)
{
    {
        CFolderSingleInstance first;
        ASSERT_TRUE(first.Lock(m_strFolder.c_str(), L"pkg"));
    }
    EXPECT_FALSE(kqtest::FileExists(LockFile(L"pkg")));
    CFolderSingleInstance second;
    EXPECT_TRUE(second.Lock(m_strFolder.c_str(), L"pkg"));
}

TEST_F(SingleInstanceTest, SameObjectCannotClaimTwice)
{
    CFolderSingleInstance lock;
    EXPECT_TRUE(lock.Unlock());  // no claim yet
    ASSERT_TRUE(lock.Lock(m_strFolder.c_str(), L"one"));
    EXPECT_FALSE(lock.Lock(m_strFolder.c_str(), L"two"));
    EXPECT_FALSE(lock.Lock(L"two"));
    EXPECT_FALSE(kqtest::FileExists(LockFile(L"two")));
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_TRUE(lock.Unlock());
    EXPECT_TRUE(lock.Unlock());
    EXPECT_FALSE(kqtest::FileExists(LockFile(L"one")));
}

TEST_F(SingleInstanceTest, LeftOverFileWithoutHolderIsClaimed)
{
    ASSERT_TRUE(CreateDirectoryW((m_strFolder + L"\\_lck").c_str(), nullptr));
    HANDLE hFile = CreateFileW(LockFile(L"stale").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    CloseHandle(hFile);
    CFolderSingleInstance lock;
    EXPECT_TRUE(lock.Lock(m_strFolder.c_str(), L"stale"));
    EXPECT_TRUE(lock.Unlock());
    EXPECT_FALSE(kqtest::FileExists(LockFile(L"stale")));
}

TEST_F(SingleInstanceTest, EmptyFolderFailsWithoutTouchingFiles)
{
    // An empty folder must not fall back to the current folder.
    wchar_t szOld[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, szOld));
    ASSERT_TRUE(SetCurrentDirectoryW(m_strFolder.c_str()));
    const std::wstring strRootLock = m_strFolder.substr(0, 2) + L"\\_lck\\_emptyG";
    CFolderSingleInstance lock;
    EXPECT_FALSE(lock.Lock(L"", L"empty"));
    EXPECT_FALSE(lock.Lock(nullptr, L"empty"));
    EXPECT_FALSE(lock.Lock(L"empty"));
    EXPECT_FALSE(lock.IsLocked());
    SetCurrentDirectoryW(szOld);
    EXPECT_FALSE(kqtest::FileExists(m_strFolder + L"\\_lck"));
    EXPECT_FALSE(kqtest::FileExists(strRootLock));
}

TEST_F(SingleInstanceTest, NamesThatLeaveTheLockFolderFail)
{
    CFolderSingleInstance lock;
    for (const wchar_t* pszName : {L"", L"a\\b", L"..\\x", L"a/b", L"c:x", L"a*", L"a\"b"}) {
        EXPECT_FALSE(lock.Lock(m_strFolder.c_str(), pszName)) << pszName;
    }
    EXPECT_FALSE(lock.Lock(m_strFolder.c_str(), nullptr));
    EXPECT_FALSE(lock.IsLocked());
}

TEST_F(SingleInstanceTest, OverlongLockPathFailsWithoutMakingFolders)
{
    const std::wstring strDeep = m_strFolder + L"\\" + std::wstring(200, L'd');
    CFolderSingleInstance lock;
    EXPECT_FALSE(lock.Lock(strDeep.c_str(), std::wstring(60, L'n').c_str()));
    EXPECT_FALSE(kqtest::FileExists(strDeep));
}

// A helper process that holds a claim; it is always killed when the test ends.
class CLockHolder
{
public:
    ~CLockHolder() { Kill(); }

    // Starts the helper and waits until it holds the claim; false (with the exit code) if not.
    bool Start(const std::wstring& strFolder, const std::wstring& strName, DWORD& dwExitCode)
    {
        const std::wstring strEvent = L"kqlock_ready_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                      std::to_wstring(++s_nCount);
        HANDLE hReady = CreateEventW(nullptr, TRUE, FALSE, strEvent.c_str());
        if (!hReady)
            return false;
        std::wstring strLine = kqtest::QuoteArgument(kqtest::ExeFolder() + L"kqlib_lockholder.exe") + L" " +
                               kqtest::QuoteArgument(strFolder) + L" " + kqtest::QuoteArgument(strName) + L" " +
                               strEvent;
        std::vector<wchar_t> line(strLine.begin(), strLine.end());
        line.push_back(L'\0');
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        bool bStarted = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        if (bStarted) {
            CloseHandle(pi.hThread);
            m_hProcess = pi.hProcess;
        }
        HANDLE handles[] = {hReady, m_hProcess};
        DWORD dwWait = bStarted ? WaitForMultipleObjects(2, handles, FALSE, 60000) : WAIT_FAILED;
        CloseHandle(hReady);
        if (dwWait == WAIT_OBJECT_0)
            return true;
        if (dwWait == WAIT_OBJECT_0 + 1)
            GetExitCodeProcess(m_hProcess, &dwExitCode);
        return false;
    }

    void Kill()
    {
        if (!m_hProcess)
            return;
        TerminateProcess(m_hProcess, 0xDEAD);
        WaitForSingleObject(m_hProcess, 30000);
        CloseHandle(m_hProcess);
        m_hProcess = nullptr;
    }

private:
    static int s_nCount;
    HANDLE m_hProcess = nullptr;
};

int CLockHolder::s_nCount = 0;

TEST_F(SingleInstanceTest, ClaimHeldByAnotherProcessUntilItIsKilled)
{
    const wchar_t kName[] = L"{5A3C1E2B-9D4F-4A6B-8C7D-0E1F2A3B4C5D}";
    CLockHolder holder;
    DWORD dwExitCode = 0;
    ASSERT_TRUE(holder.Start(m_strFolder, kName, dwExitCode)) << "helper exit code " << dwExitCode;
    EXPECT_TRUE(kqtest::FileExists(LockFile(kName)));

    CFolderSingleInstance lock;
    EXPECT_FALSE(lock.Lock(m_strFolder.c_str(), kName));
    EXPECT_FALSE(lock.IsLocked());

    holder.Kill();
    EXPECT_FALSE(kqtest::FileExists(LockFile(kName)));
    EXPECT_TRUE(lock.Lock(m_strFolder.c_str(), kName));
}

TEST_F(SingleInstanceTest, OtherProcessIsToldNameIsClaimed)
{
    CFolderSingleInstance lock;
    ASSERT_TRUE(lock.Lock(m_strFolder.c_str(), L"pkg"));
    CLockHolder holder;
    DWORD dwExitCode = 0;
    EXPECT_FALSE(holder.Start(m_strFolder, L"pkg", dwExitCode));
    EXPECT_EQ(2u, dwExitCode);

    ASSERT_TRUE(lock.Unlock());
    CLockHolder next;
    EXPECT_TRUE(next.Start(m_strFolder, L"pkg", dwExitCode)) << "helper exit code " << dwExitCode;
}

}  // namespace
