// Path joining, folder-tree creation and path splitting.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "kqPathUtils.h"
#include "kqSplitPath.h"
#include "kqTestFiles.h"
#include "kqTestTrace.h"

namespace {

// A fresh folder below the temporary folder, removed with everything in it afterwards.
class TempFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t szTemp[MAX_PATH] = {};
        ASSERT_NE(0u, GetTempPathW(MAX_PATH, szTemp));
        wchar_t szName[64] = {};
        _snwprintf(szName, 63, L"kqpaths_%lu_%lu", GetCurrentProcessId(), GetTickCount());
        m_strRoot = std::wstring(szTemp) + szName;
        ASSERT_TRUE(CreateDirectoryW(m_strRoot.c_str(), nullptr)) << GetLastError();
        // Work with the long form, so that expectations compare like with like.
        wchar_t szLong[MAX_PATH] = {};
        ASSERT_NE(0u, GetLongPathNameW(m_strRoot.c_str(), szLong, MAX_PATH));
        m_strRoot = szLong;
        kqtest::ClearTrace();
    }

    void TearDown() override
    {
        if (!m_strRoot.empty())
            kqtest::RemoveTree(m_strRoot);
    }

    std::wstring Child(const wchar_t* pszRelative) const { return m_strRoot + L"\\" + pszRelative; }

    static void MakeFile(const std::wstring& strPath)
    {
        HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                   nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile) << GetLastError();
        CloseHandle(hFile);
    }

    static bool IsFolder(const std::wstring& strPath)
    {
        DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
        return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    std::wstring m_strRoot;
};

struct JoinCase
{
    const wchar_t* pszPath;
    const wchar_t* pszPart;
    const wchar_t* pszExpected;
};

TEST(AppendPath, JoinsWithExactlyOneBackslash)
{
    const JoinCase cases[] = {
        {L"C:\\a\\\\", L"\\\\b", L"C:\\a\\b"},
        {L"C:\\a", L"b", L"C:\\a\\b"},
        {L"C:\\a\\", L"b\\c", L"C:\\a\\b\\c"},
        {L"", L"b", L"\\b"},
        {L"", L"\\b", L"\\b"},
        {L"C:\\", L"b", L"C:\\b"},
        {L"\\\\srv\\share\\", L"\\dir", L"\\\\srv\\share\\dir"},
        {L"C:\\a", L"", L"C:\\a\\"},
        {L"C:\\a", L"b\\", L"C:\\a\\b\\"},
        {L"C:\\a", nullptr, L"C:\\a\\"},
    };
    for (const JoinCase& c : cases) {
        std::wstring str = c.pszPath;
        ASSERT_TRUE(AppendPath(str, c.pszPart));
        EXPECT_EQ(c.pszExpected, str) << c.pszPath << L" + " << (c.pszPart ? c.pszPart : L"(null)");
    }
}

TEST(AppendPath, PartMayPointIntoThePath)
{
    std::wstring str = L"C:\\dir";
    ASSERT_TRUE(AppendPath(str, str.c_str() + 3));
    EXPECT_EQ(L"C:\\dir\\dir", str);
}

TEST(CombinePathFormat, JoinsFolderAndFormattedPart)
{
    const JoinCase cases[] = {
        {L"", L"x.txt", L".\\x.txt"},
        {L"C:\\logs\\", L"x.txt", L"C:\\logs\\x.txt"},
        {L"C:\\logs", L"x.txt", L"C:\\logs\\x.txt"},
        {L"C:\\logs\\\\", L"\\\\x.txt", L"C:\\logs\\x.txt"},
        {L"", L"\\x.txt", L".\\x.txt"},
        {L"logs", L"sub\\x.txt", L"logs\\sub\\x.txt"},
        // The root of the current drive stays the root; it must not turn into the current folder.
        {L"\\", L"x.txt", L"\\x.txt"},
    };
    for (const JoinCase& c : cases) {
        std::wstring str = L"previous";
        ASSERT_TRUE(CombinePathFormat(str, c.pszPath, L"%ls", c.pszPart));
        EXPECT_EQ(c.pszExpected, str) << c.pszPath << L" + " << c.pszPart;
    }
}

TEST(CombinePathFormat, FormatsTheRelativePart)
{
    std::wstring str;
    ASSERT_TRUE(CombinePathFormat(str, L"C:\\cache", L"\\{%08X}\\%ls_%u.log", 0xABCDu, L"setup", 3u));
    EXPECT_EQ(L"C:\\cache\\{0000ABCD}\\setup_3.log", str);
    ASSERT_TRUE(CombinePathFormat(str, nullptr, L"a"));
    EXPECT_EQ(L".\\a", str);
    EXPECT_FALSE(CombinePathFormat(str, L"C:\\", nullptr));
}

using CreateDirectoryTreeTest = TempFolder;

TEST_F(CreateDirectoryTreeTest, CreatesEveryMissingLevel)
{
    std::wstring strDeep = Child(L"a\\b\\c\\d");
    ASSERT_TRUE(CreateDirectoryTree(strDeep.c_str()));
    EXPECT_TRUE(IsFolder(Child(L"a")));
    EXPECT_TRUE(IsFolder(Child(L"a\\b\\c")));
    EXPECT_TRUE(IsFolder(strDeep));
}

TEST_F(CreateDirectoryTreeTest, ExistingTreeAndTrailingBackslashesSucceed)
{
    ASSERT_TRUE(CreateDirectoryTree(m_strRoot.c_str()));
    ASSERT_TRUE(CreateDirectoryTree(Child(L"x\\y\\\\").c_str()));
    EXPECT_TRUE(IsFolder(Child(L"x\\y")));
    ASSERT_TRUE(CreateDirectoryTree(Child(L"x\\y").c_str()));
    ASSERT_TRUE(CreateDirectoryTree(Child(L"x\\y\\z\\").c_str()));
    EXPECT_TRUE(IsFolder(Child(L"x\\y\\z")));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"CreateDirectoryTree"));
}

TEST_F(CreateDirectoryTreeTest, FileInTheMiddleFailsAndLogsOnce)
{
    ASSERT_TRUE(CreateDirectoryTree(Child(L"a").c_str()));
    MakeFile(Child(L"a\\file"));
    EXPECT_FALSE(CreateDirectoryTree(Child(L"a\\file\\b\\c").c_str()));
    EXPECT_FALSE(IsFolder(Child(L"a\\file\\b")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"exists and is not a folder"));
}

TEST_F(CreateDirectoryTreeTest, FileAsLastComponentFails)
{
    MakeFile(Child(L"leaf"));
    EXPECT_FALSE(CreateDirectoryTree(Child(L"leaf").c_str()));
    EXPECT_FALSE(CreateDirectoryTree(Child(L"leaf\\").c_str()));
}

TEST_F(CreateDirectoryTreeTest, MissingDriveFailsAndLogs)
{
    // Find a drive letter that is not mapped.
    DWORD dwDrives = GetLogicalDrives();
    wchar_t chDrive = 0;
    for (wchar_t ch = L'Q'; ch <= L'Y'; ++ch) {
        if (!(dwDrives & (1u << (ch - L'A')))) {
            chDrive = ch;
            break;
        }
    }
    if (!chDrive)
        GTEST_SKIP() << "no free drive letter";
    std::wstring strPath = std::wstring(1, chDrive) + L":\\kq\\tree";
    EXPECT_FALSE(CreateDirectoryTree(strPath.c_str()));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : CreateDirectoryTree("));
}

TEST(CreateDirectoryTree, EmptyOrNullPathFails)
{
    EXPECT_FALSE(CreateDirectoryTree(nullptr));
    EXPECT_FALSE(CreateDirectoryTree(L""));
}

TEST_F(CreateDirectoryTreeTest, LongPathPrefixIsNoFolderToCreate)
{
    std::wstring strPath = L"\\\\?\\" + Child(L"p\\q");
    ASSERT_TRUE(CreateDirectoryTree(strPath.c_str()));
    EXPECT_TRUE(IsFolder(Child(L"p\\q")));
}

// Every part of a split, in table order, for comparisons that show the part by name.
struct Parts
{
    const wchar_t* pszDrive;
    const wchar_t* pszDirectory;
    const wchar_t* pszFileName;
    const wchar_t* pszExtension;
    const wchar_t* pszPrefix;
    const wchar_t* pszUncRoot;
    const wchar_t* pszServer;
    const wchar_t* pszShare;
};

struct SplitCase
{
    const wchar_t* pszPath;
    Parts expected;
};

void ExpectParts(const CSplitPath& split, const SplitCase& c)
{
    SCOPED_TRACE(::testing::Message() << "path " << c.pszPath);
    EXPECT_EQ(c.pszPath, split.GetFullPath());
    EXPECT_EQ(c.expected.pszDrive, split.GetDrive());
    EXPECT_EQ(c.expected.pszDirectory, split.GetDirectory());
    EXPECT_EQ(std::wstring(c.expected.pszDrive) + c.expected.pszDirectory, split.GetFolder());
    EXPECT_EQ(c.expected.pszFileName, split.GetFileName());
    EXPECT_EQ(c.expected.pszExtension, split.GetExtension());
    EXPECT_EQ(c.expected.pszPrefix, split.GetPrefix());
    EXPECT_EQ(c.expected.pszUncRoot, split.GetUncRoot());
    EXPECT_EQ(c.expected.pszServer, split.GetServer());
    EXPECT_EQ(c.expected.pszShare, split.GetShare());
    // None of these paths exists.
    EXPECT_EQ(L"", split.GetLongPath());
    EXPECT_EQ(L"", split.GetLongFolder());
    EXPECT_EQ(L"", split.GetLongFileName());
    EXPECT_EQ(L"", split.GetShortPath());
    EXPECT_EQ(L"", split.GetShortFolder());
    EXPECT_EQ(L"", split.GetShortFileName());
}

TEST(CSplitPath, SplitsPathsThatDoNotExist)
{
    const SplitCase cases[] = {
        {L"C:\\kq_missing\\dir\\setup.exe", {L"C:", L"\\kq_missing\\dir\\", L"setup", L".exe", L"", L"", L"", L""}},
        {L"C:\\kq_missing\\archive.tar.gz", {L"C:", L"\\kq_missing\\", L"archive.tar", L".gz", L"", L"", L"", L""}},
        {L"C:\\kq_missing.d\\noext", {L"C:", L"\\kq_missing.d\\", L"noext", L"", L"", L"", L"", L""}},
        {L"C:kq_missing.txt", {L"C:", L"", L"kq_missing", L".txt", L"", L"", L"", L""}},
        {L"kq_missing\\rel.txt", {L"", L"kq_missing\\", L"rel", L".txt", L"", L"", L"", L""}},
        {L"\\kq_missing\\x.y", {L"", L"\\kq_missing\\", L"x", L".y", L"", L"", L"", L""}},
        {L"C:\\kq_missing\\dir\\", {L"C:", L"\\kq_missing\\dir\\", L"", L"", L"", L"", L"", L""}},
        {L"C:/kq_missing/fwd.txt", {L"C:", L"/kq_missing/", L"fwd", L".txt", L"", L"", L"", L""}},
        {L"\\\\kqsrv\\kqshare\\dir\\file.txt",
         {L"", L"\\\\kqsrv\\kqshare\\dir\\", L"file", L".txt", L"", L"\\\\kqsrv\\kqshare", L"kqsrv", L"kqshare"}},
        {L"\\\\?\\C:\\kq_missing\\long.txt", {L"", L"\\\\?\\C:\\kq_missing\\", L"long", L".txt", L"\\\\?\\", L"", L"", L""}},
        {L"\\\\?\\UNC\\kqsrv\\kqshare\\f.txt",
         {L"", L"\\\\?\\UNC\\kqsrv\\kqshare\\", L"f", L".txt", L"\\\\?\\UNC", L"\\\\?\\UNC\\kqsrv\\kqshare", L"kqsrv",
          L"kqshare"}},
        {L"\\\\?\\UNCname.txt", {L"", L"\\\\?\\", L"UNCname", L".txt", L"\\\\?\\", L"", L"", L""}},
        {L"\\\\.\\kqdevice", {L"", L"\\\\.\\", L"kqdevice", L"", L"\\\\.\\", L"", L"", L""}},
        {L"\\??\\C:\\kq_missing\\n.t", {L"", L"\\??\\C:\\kq_missing\\", L"n", L".t", L"\\??\\", L"", L"", L""}},
    };
    for (const SplitCase& c : cases) {
        CSplitPath split;
        ASSERT_TRUE(split.Split(c.pszPath)) << c.pszPath;
        ExpectParts(split, c);
    }
}

TEST(CSplitPath, EndsAfterUncRootWhenNothingFollows)
{
    const SplitCase cases[] = {
        {L"\\\\srv\\sh", {L"", L"", L"", L"", L"", L"\\\\srv\\sh", L"srv", L"sh"}},
        {L"\\\\srv", {L"", L"", L"", L"", L"", L"\\\\srv", L"srv", L""}},
        {L"\\\\?\\UNC\\srv\\sh", {L"", L"", L"", L"", L"\\\\?\\UNC", L"\\\\?\\UNC\\srv\\sh", L"srv", L"sh"}},
    };
    for (const SplitCase& c : cases) {
        CSplitPath split;
        ASSERT_TRUE(split.Split(c.pszPath)) << c.pszPath;
        ExpectParts(split, c);
    }
}

TEST(CSplitPath, MalformedPrefixesFailAndLog)
{
    const wchar_t* const paths[] = {L"\\?a\\b", L"\\?", L"\\??", L"\\?\\x", L"\\\\", L"\\\\.x", L"\\\\.", L"\\\\?x",
                                    L"\\\\?"};
    for (const wchar_t* pszPath : paths) {
        kqtest::ClearTrace();
        CSplitPath split;
        EXPECT_FALSE(split.Split(pszPath)) << pszPath;
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Invalid path prefix")) << pszPath;
    }
}

TEST(CSplitPath, ClearsEveryPartBeforeTheNextSplit)
{
    CSplitPath split;
    ASSERT_TRUE(split.Split(L"\\\\?\\UNC\\srv\\sh\\dir\\f.txt"));
    ASSERT_TRUE(split.Split(L"C:\\kq_missing\\g"));
    ExpectParts(split, {L"C:\\kq_missing\\g", {L"C:", L"\\kq_missing\\", L"g", L"", L"", L"", L"", L""}});
}

std::wstring ModuleFileName()
{
    wchar_t szPath[32768] = {};
    DWORD cch = GetModuleFileNameW(nullptr, szPath, ARRAYSIZE(szPath));
    return std::wstring(szPath, cch);
}

TEST(CSplitPath, EmptyPathSplitsTheOwnExecutable)
{
    std::wstring strExe = ModuleFileName();
    for (const wchar_t* pszPath : {static_cast<const wchar_t*>(nullptr), L""}) {
        CSplitPath split;
        ASSERT_TRUE(split.Split(pszPath));
        EXPECT_EQ(strExe, split.GetFullPath());
        EXPECT_EQ(L".exe", split.GetExtension());
        EXPECT_FALSE(split.GetLongPath().empty());
        EXPECT_EQ(L'\\', split.GetLongFolder().back());
    }
}

TEST(CSplitPath, SplitModulePathOfALoadedLibrary)
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    ASSERT_NE(nullptr, hKernel);
    CSplitPath split;
    ASSERT_TRUE(split.SplitModulePath(hKernel));
    EXPECT_EQ(0, _wcsicmp(L"kernel32", split.GetFileName().c_str()));
    EXPECT_EQ(0, _wcsicmp(L".dll", split.GetExtension().c_str()));
}

using CSplitPathFileTest = TempFolder;

TEST_F(CSplitPathFileTest, GivenLongAndShortFormsOfARealFile)
{
    std::wstring strFile = Child(L"Long File Name.extension");
    MakeFile(strFile);

    CSplitPath split;
    ASSERT_TRUE(split.Split(strFile.c_str()));
    std::wstring strFolder = m_strRoot + L"\\";
    EXPECT_EQ(strFile, split.GetFullPath());
    EXPECT_EQ(strFolder, split.GetFolder());
    EXPECT_EQ(L"Long File Name", split.GetFileName());
    EXPECT_EQ(L".extension", split.GetExtension());

    EXPECT_EQ(strFile, split.GetLongPath());
    EXPECT_EQ(strFolder, split.GetLongFolder());
    EXPECT_EQ(strFolder.substr(2), split.GetLongDirectory());
    EXPECT_EQ(L"Long File Name", split.GetLongFileName());
    EXPECT_EQ(L".extension", split.GetLongExtension());

    // The short form names the same file in 8.3 parts.
    ASSERT_FALSE(split.GetShortPath().empty());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(split.GetShortPath().c_str()));
    EXPECT_EQ(split.GetShortFolder() + split.GetShortFileName() + split.GetShortExtension(), split.GetShortPath());
    EXPECT_EQ(split.GetShortPath().substr(0, 2) + split.GetShortDirectory(), split.GetShortFolder());
    EXPECT_LE(split.GetShortFileName().size(), 8u);
    EXPECT_LE(split.GetShortExtension().size(), 4u);
    EXPECT_EQ(std::wstring::npos, split.GetShortFileName().find(L' '));
}

TEST_F(CSplitPathFileTest, ShortPathGivenYieldsTheLongParts)
{
    std::wstring strFile = Child(L"Another Long Name.config");
    MakeFile(strFile);
    wchar_t szShort[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(strFile.c_str(), szShort, MAX_PATH));

    CSplitPath split;
    ASSERT_TRUE(split.Split(szShort));
    EXPECT_EQ(szShort, split.GetFullPath());
    EXPECT_EQ(strFile, split.GetLongPath());
    EXPECT_EQ(L"Another Long Name", split.GetLongFileName());
    EXPECT_EQ(L".config", split.GetLongExtension());
    EXPECT_EQ(m_strRoot + L"\\", split.GetLongFolder());
}

TEST_F(CSplitPathFileTest, ExistingFolderHasLongAndShortParts)
{
    std::wstring strFolder = Child(L"Sub Folder With Spaces\\");
    ASSERT_TRUE(CreateDirectoryTree(strFolder.c_str()));
    CSplitPath split;
    ASSERT_TRUE(split.Split(strFolder.c_str()));
    EXPECT_EQ(L"", split.GetFileName());
    EXPECT_EQ(strFolder, split.GetLongPath());
    EXPECT_EQ(strFolder, split.GetLongFolder());
    EXPECT_FALSE(split.GetShortFolder().empty());
}

TEST_F(CSplitPathFileTest, MissingFileInRealFolderHasNoLongOrShortParts)
{
    std::wstring strFile = Child(L"not there.txt");
    CSplitPath split;
    ASSERT_TRUE(split.Split(strFile.c_str()));
    EXPECT_EQ(m_strRoot + L"\\", split.GetFolder());
    EXPECT_EQ(L"", split.GetLongPath());
    EXPECT_EQ(L"", split.GetLongFolder());
    EXPECT_EQ(L"", split.GetShortPath());
    EXPECT_EQ(L"", split.GetShortFileName());
}

}  // namespace
