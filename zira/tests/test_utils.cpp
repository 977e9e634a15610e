// CUtils on real files, folders, processes and registry keys under Wine; access-denied paths
// through replaceable calls.
#include <gtest/gtest.h>

#include <algorithm>

#include "ZIRA_Utils.h"
#include "kqLanguageText.h"
#include "kqPathUtils.h"
#include "kqResourceLocator.h"
#include "ZiraFakeSystem.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"
#include "kqTestTrace.h"

using ZIRA::CUtils;
using ziratest::CFakeSystemCalls;

namespace {

const HRESULT kReboot = static_cast<HRESULT>(0x80070BC2);

// Lines that are exactly the text.
size_t CountExactLines(const std::wstring& text)
{
    auto lines = kqtest::TraceLines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFile(const std::wstring& path, const std::string& content = "x")
{
    ASSERT_TRUE(kqtest::WriteFileBytes(path, content)) << "cannot write test file";
}

class UtilsTest : public ::testing::Test
{
protected:
    void SetUp() override { kqtest::ClearTrace(); }
    kqtest::CTempDir m_temp;
};

// The restart-deletion list of the session manager, restored after a test that adds to it.
class CPendingRenames
{
public:
    CPendingRenames() { m_bHad = Read(m_saved); }
    ~CPendingRenames()
    {
        HKEY hKey = Open();
        if (!hKey)
            return;
        if (m_bHad)
            RegSetValueExW(hKey, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(m_saved.data()),
                           static_cast<DWORD>(m_saved.size() * sizeof(wchar_t)));
        else
            RegDeleteValueW(hKey, kValue);
        RegCloseKey(hKey);
    }
    // Whether an entry names the path (the list holds "\??\" paths).
    bool Contains(const std::wstring& path) const
    {
        std::wstring now;
        Read(now);
        std::wstring lowerNow = ziratest::Lower(now);
        return lowerNow.find(ziratest::Lower(path) + L'\0') != std::wstring::npos;
    }

private:
    static constexpr const wchar_t* kValue = L"PendingFileRenameOperations";
    static HKEY Open()
    {
        HKEY hKey = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ | KEY_WRITE | kqtest::MachineView(), &hKey);
        return hKey;
    }
    static bool Read(std::wstring& value)
    {
        HKEY hKey = Open();
        if (!hKey)
            return false;
        DWORD cb = 0;
        DWORD type = 0;
        bool bOk = RegQueryValueExW(hKey, kValue, nullptr, &type, nullptr, &cb) == ERROR_SUCCESS;
        if (bOk) {
            value.assign(cb / sizeof(wchar_t), L'\0');
            bOk = RegQueryValueExW(hKey, kValue, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &cb) ==
                  ERROR_SUCCESS;
        }
        RegCloseKey(hKey);
        return bOk;
    }
    bool m_bHad = false;
    std::wstring m_saved;
};

// Another process holding a file open without delete sharing, terminated on destruction.
class CFileHolder
{
public:
    explicit CFileHolder(const std::wstring& path)
    {
        std::wstring event = L"zira_hold_" + kqtest::NewGuidString();
        HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
        std::wstring command = kqtest::QuoteArgument(kqtest::ExeFolder() + L"holdfile.exe") + L" " +
                               kqtest::QuoteArgument(path) + L" " + event;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(L'\0');
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi)) {
            HANDLE handles[] = {hEvent, m_pi.hProcess};
            m_bHolding = WaitForMultipleObjects(2, handles, FALSE, 30000) == WAIT_OBJECT_0;
        }
        CloseHandle(hEvent);
    }
    ~CFileHolder()
    {
        if (m_pi.hProcess) {
            TerminateProcess(m_pi.hProcess, 0);
            WaitForSingleObject(m_pi.hProcess, 10000);
            CloseHandle(m_pi.hProcess);
            CloseHandle(m_pi.hThread);
        }
    }
    bool Holding() const { return m_bHolding; }

private:
    PROCESS_INFORMATION m_pi = {};
    bool m_bHolding = false;
};

TEST_F(UtilsTest, PathFunctionsRefuseShortPaths)
{
    const wchar_t* paths[] = {nullptr, L"", L"C:", L"C:\\"};
    for (const wchar_t* path : paths) {
        kqtest::ClearTrace();
        EXPECT_EQ(E_INVALIDARG, CUtils::DeleteFolder(path, true, true));
        EXPECT_EQ(E_INVALIDARG, CUtils::DeleteEmptyFolders(path));
        EXPECT_EQ(E_INVALIDARG, CUtils::CopyFiles(path, m_temp.Path().c_str()));
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::DeleteFolder(417) : invalid path: "));
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::DeleteEmptyFolders(685) : invalid path: "));
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::CopyFiles(557) : invalid path: "));
    }
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"ZIRA::CUtils::DeleteFolder(417) : invalid path: C:\\"));
    EXPECT_TRUE(Exists(L"C:\\windows"));
}

TEST_F(UtilsTest, DeleteFolderOfMissingFolderSucceeds)
{
    EXPECT_EQ(S_OK, CUtils::DeleteFolder(m_temp.operator/(L"missing").c_str(), true, true));
}

TEST_F(UtilsTest, DeleteFolderRemovesTreeWithReadOnlyEntries)
{
    std::wstring root = m_temp / L"tree";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr));
    MakeFile(root + L"\\top.txt");
    MakeFile(root + L"\\a\\b\\deep.txt");
    SetFileAttributesW((root + L"\\a\\b\\deep.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((root + L"\\a").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(S_OK, CUtils::DeleteFolder(root.c_str(), true, false));
    EXPECT_FALSE(Exists(root));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : DeleteFile: " + root + L"\\a\\b\\deep.txt"));
}

TEST_F(UtilsTest, FileHeldOpenIsScheduledWithItsFolder)
{
    std::wstring root = m_temp / L"held";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    std::wstring held = root + L"\\held.dll";
    MakeFile(held);
    MakeFile(root + L"\\free.txt");
    CPendingRenames pending;
    {
        CFileHolder holder(held);
        ASSERT_TRUE(holder.Holding());
        EXPECT_EQ(kReboot, CUtils::DeleteFolder(root.c_str(), false, true));
        EXPECT_TRUE(pending.Contains(held));
        EXPECT_TRUE(pending.Contains(root));
        EXPECT_FALSE(Exists(root + L"\\free.txt"));
        EXPECT_EQ(1u, CountExactLines(L"Information : delete on reboot: " + held));
        EXPECT_EQ(1u, CountExactLines(L"Information : delete on reboot: " + root));
    }
}

TEST_F(UtilsTest, LoggingDeleteStopsAtFirstFailure)
{
    std::wstring root = m_temp / L"stop";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    std::wstring held = root + L"\\held.dll";
    MakeFile(held);
    CFileHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    EXPECT_EQ(E_FAIL, CUtils::DeleteFolder(root.c_str(), true, false));
    EXPECT_TRUE(Exists(held));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Warning : ZIRA::CUtils::DeleteHandler(835) : failed to delete file: " + held));
}

TEST_F(UtilsTest, DeleteFileScheduledWhenHeldOpen)
{
    std::wstring held = m_temp / L"held.dll";
    MakeFile(held);
    CFileHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    CFakeSystemCalls fake;
    EXPECT_EQ(kReboot, CUtils::DeleteFileW(held.c_str(), true));
    EXPECT_EQ(std::vector<std::wstring>{held}, fake.m_scheduled);
    fake.m_dwScheduleError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), CUtils::DeleteFileW(held.c_str(), true));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::DeleteFileW(1066) : MoveFileEx failed to delete file: " +
                                          held + L" (5)"));
}

TEST_F(UtilsTest, DeleteFileOfMissingOrReadOnlyFile)
{
    EXPECT_EQ(S_OK, CUtils::DeleteFileW((m_temp / L"missing.txt").c_str(), false));
    EXPECT_EQ(S_OK, CUtils::DeleteFileW((m_temp / L"no\\such\\folder.txt").c_str(), false));
    std::wstring file = m_temp / L"ro.txt";
    MakeFile(file);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(S_OK, CUtils::DeleteFileW(file.c_str(), false));
    EXPECT_FALSE(Exists(file));
}

TEST_F(UtilsTest, DeniedDeleteRepairsAccessForThreeTrusteesThenDeletes)
{
    std::wstring file = m_temp / L"locked.txt";
    MakeFile(file);
    CFakeSystemCalls fake;
    fake.DenyPath(file);
    fake.SetDescriptor(file, L"D:P(A;;FR;;;LS)");
    EXPECT_EQ(S_OK, CUtils::DeleteFileW(file.c_str(), false));
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::DeleteFileW(1094) : failed to delete file: " + file +
                                          L" (5)"));
    std::vector<std::wstring> expected = {
        file + ziratest::WithUser(L" D:(A;;FR;;;LS)(A;OICI;FA;;;%USER%)"),
        file + L" D:(A;;FR;;;LS)(A;OICI;FA;;;BA)",
        file + L" D:(A;;FR;;;LS)(A;OICI;FA;;;SY)",
    };
    EXPECT_EQ(expected, fake.DaclWrites());
}

TEST_F(UtilsTest, RepairExceptionIsLoggedAndDeleteGoesOn)
{
    std::wstring file = m_temp / L"locked.txt";
    MakeFile(file);
    CFakeSystemCalls fake;
    fake.DenyPath(file);
    // An ACE type that is neither allowed nor denied ends the repair with exception 5.
    fake.SetDescriptor(file, L"D:(AU;SA;FA;;;WD)");
    EXPECT_EQ(kReboot, CUtils::DeleteFileW(file.c_str(), true));
    EXPECT_EQ(1u, kqtest::CountTraceLines(
                      L"Warning : ZIRA::CUtils::DeleteFileW(1055) : FileEnsureAccess " + file + L" threw an exception: 5"));
    EXPECT_TRUE(fake.DaclWrites().empty());
}

// C:\zira_linktest\tree\sub\link is a link (made from the Linux side) to C:\zira_linktest\target.
// The link itself is removed or, where that fails (Wine cannot remove it), scheduled; nothing
// behind it is touched.
TEST_F(UtilsTest, DeleteFolderDeletesLinkButNotItsTarget)
{
    const std::wstring root = L"C:\\zira_linktest";
    const std::wstring link = root + L"\\tree\\sub\\link";
    DWORD dwAttributes = GetFileAttributesW(link.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, dwAttributes) << "the link fixture did not run";
    ASSERT_TRUE(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    CFakeSystemCalls fake;
    HRESULT hr = CUtils::DeleteFolder((root + L"\\tree").c_str(), true, true);
    EXPECT_TRUE(hr == S_OK || hr == kReboot) << std::hex << hr;
    EXPECT_TRUE(Exists(root + L"\\target\\keep.txt"));
    EXPECT_TRUE(Exists(root + L"\\target\\inner\\deep.txt"));
    EXPECT_FALSE(Exists(root + L"\\tree\\sub\\file.txt"));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"keep.txt"));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"deep.txt"));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"inner"));
    for (const auto& scheduled : fake.m_scheduled)
        EXPECT_EQ(std::wstring::npos, scheduled.find(link + L"\\")) << "scheduled below the link";
    if (Exists(link)) {
        EXPECT_NE(fake.m_scheduled.end(), std::find(fake.m_scheduled.begin(), fake.m_scheduled.end(), link));
    }
}

struct Visit
{
    std::wstring strFolder;
    std::wstring strName;
};

bool Record(const wchar_t* pszFolder, const wchar_t*, const WIN32_FIND_DATAW& fd, void* pContext)
{
    auto* visits = static_cast<std::vector<Visit>*>(pContext);
    visits->push_back({pszFolder, fd.cFileName});
    return std::wstring(fd.cFileName) != L"stop.txt";
}

TEST_F(UtilsTest, EnumFolderReportsFoldersAfterTheirContents)
{
    std::wstring root = m_temp.Path();
    ASSERT_TRUE(CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
    MakeFile(root + L"\\sub\\inner.txt");
    std::vector<Visit> visits;
    EXPECT_EQ(S_OK, CUtils::EnumFolder(root.c_str(), L"*.*", nullptr, true, &Record, &visits));
    ASSERT_EQ(4u, visits.size());
    EXPECT_EQ(root, visits[0].strFolder);
    EXPECT_EQ(L"", visits[0].strName);
    EXPECT_EQ(root + L"\\sub", visits[1].strFolder);
    EXPECT_EQ(L"", visits[1].strName);
    EXPECT_EQ(L"inner.txt", visits[2].strName);
    EXPECT_EQ(L"sub", visits[3].strName);

    MakeFile(root + L"\\sub\\stop.txt");
    visits.clear();
    EXPECT_EQ(static_cast<HRESULT>(0x800704C7), CUtils::EnumFolder(root.c_str(), L"*.*", nullptr, true, &Record, &visits));
    EXPECT_EQ(static_cast<HRESULT>(0x80070490),
              CUtils::EnumFolder((root + L"\\missing").c_str(), L"*.*", nullptr, true, &Record, &visits));
    EXPECT_EQ(E_INVALIDARG, CUtils::EnumFolder(root.c_str(), L"*.*", nullptr, true, nullptr, nullptr));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::EnumFolder(947) : invalid parameter"));
}

TEST_F(UtilsTest, DeleteEmptyFoldersSchedulesFoldersThatHoldFiles)
{
    std::wstring root = m_temp / L"empties";
    for (const wchar_t* sub : {L"", L"\\a", L"\\a\\b", L"\\c", L"\\full"})
        ASSERT_TRUE(CreateDirectoryW((root + sub).c_str(), nullptr));
    MakeFile(root + L"\\full\\file.txt");
    CFakeSystemCalls fake;
    EXPECT_EQ(kReboot, CUtils::DeleteEmptyFolders(root.c_str()));
    EXPECT_FALSE(Exists(root + L"\\a"));
    EXPECT_FALSE(Exists(root + L"\\c"));
    EXPECT_TRUE(Exists(root + L"\\full\\file.txt"));
    EXPECT_EQ((std::vector<std::wstring>{root + L"\\full", root}), fake.m_scheduled);

    ASSERT_TRUE(DeleteFileW((root + L"\\full\\file.txt").c_str()));
    EXPECT_EQ(S_OK, CUtils::DeleteEmptyFolders(root.c_str()));
    EXPECT_FALSE(Exists(root));
}

TEST_F(UtilsTest, CopyFilesCopiesOnlyDllsAndKeepsTree)
{
    std::wstring src = m_temp / L"src";
    std::wstring dst = m_temp / L"out\\dst";
    for (const wchar_t* sub : {L"", L"\\sub", L"\\sub\\deeper", L"\\nodlls"})
        ASSERT_TRUE(CreateDirectoryW((src + sub).c_str(), nullptr));
    for (const wchar_t* name : {L"\\a.dll", L"\\B.DLL", L"\\c.Dll", L"\\x.txt", L"\\dll", L"\\sub\\d.dll",
                                L"\\sub\\e.exe", L"\\sub\\deeper\\f.dll", L"\\nodlls\\g.txt", L"\\z.dll.txt"})
        MakeFile(src + name, "new");
    ASSERT_TRUE(CreateDirectoryW((m_temp / L"out").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(dst.c_str(), nullptr));
    MakeFile(dst + L"\\a.dll", "old");

    EXPECT_EQ(S_OK, CUtils::CopyFiles(src.c_str(), dst.c_str()));
    EXPECT_EQ("old", kqtest::ReadFileBytes(dst + L"\\a.dll"));
    for (const wchar_t* name : {L"\\B.DLL", L"\\c.Dll", L"\\sub\\d.dll", L"\\sub\\deeper\\f.dll"})
        EXPECT_EQ("new", kqtest::ReadFileBytes(dst + name)) << std::string(name, name + wcslen(name));
    for (const wchar_t* name : {L"\\x.txt", L"\\dll", L"\\sub\\e.exe", L"\\nodlls", L"\\z.dll.txt", L"\\deeper"})
        EXPECT_FALSE(Exists(dst + name)) << std::string(name, name + wcslen(name));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : Copy: " + src + L"\\sub\\deeper\\f.dll -> " + dst +
                                          L"\\sub\\deeper\\f.dll"));
}

TEST_F(UtilsTest, CopyFilesCreatesMissingDestination)
{
    std::wstring src = m_temp / L"src";
    ASSERT_TRUE(CreateDirectoryW(src.c_str(), nullptr));
    MakeFile(src + L"\\a.dll");
    std::wstring dst = m_temp / L"new\\deep\\dst";
    EXPECT_EQ(S_OK, CUtils::CopyFiles(src.c_str(), dst.c_str()));
    EXPECT_TRUE(Exists(dst + L"\\a.dll"));
    EXPECT_EQ(S_OK, CUtils::CopyFiles((m_temp / L"nosource").c_str(), dst.c_str()));
}

TEST_F(UtilsTest, ExecuteProgramExReturnsFullExitCode)
{
    std::wstring exe = kqtest::ExeFolder() + L"exitwith.exe";
    DWORD dwExit = 0;
    EXPECT_EQ(S_OK, CUtils::ExecuteProgramEx(&dwExit, exe.c_str(), L"0x80070BC2"));
    EXPECT_EQ(0x80070BC2u, dwExit);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : Process returned: 0x80070bc2"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : Create process succeeded"));

    // A program in a folder with a space is quoted.
    std::wstring spaced = m_temp / L"with space";
    ASSERT_TRUE(CreateDirectoryW(spaced.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(exe.c_str(), (spaced + L"\\exitwith.exe").c_str(), FALSE));
    kqtest::ClearTrace();
    EXPECT_EQ(S_OK, CUtils::ExecuteProgramEx(&dwExit, (spaced + L"\\exitwith.exe").c_str(), L"7"));
    EXPECT_EQ(7u, dwExit);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : Launching: \"" + spaced + L"\\exitwith.exe\" 7"));

    // The arguments alone are the command line.
    EXPECT_EQ(S_OK, CUtils::ExecuteProgramEx(&dwExit, nullptr, (kqtest::QuoteArgument(exe) + L" 3").c_str()));
    EXPECT_EQ(3u, dwExit);
    EXPECT_EQ(S_OK, CUtils::ExecuteProgramEx(nullptr, exe.c_str(), L"0"));
}

TEST_F(UtilsTest, ExecuteProgramExFailures)
{
    EXPECT_EQ(E_INVALIDARG, CUtils::ExecuteProgramEx(nullptr, L"C:\\windows\\notepad.exe", nullptr));
    DWORD dwExit = 0;
    HRESULT hr = CUtils::ExecuteProgramEx(&dwExit, (m_temp / L"missing.exe").c_str(), L"1");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), hr);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::ExecuteProgramEx(405) : failed to launch: 0x00000002"));
}

TEST(LangId, StringsBothWays)
{
    const struct
    {
        LANGID wId;
        const wchar_t* pszInfix;
        const wchar_t* pszExpected;
    } cases[] = {
        {0x0409, nullptr, L"0901"}, {0x0409, L"", L"0901"}, {0x0804, L"-", L"04-02"},
        {0x0007, nullptr, L"0700"}, {0x0123, L"\\", L"123\\00"}, {0xFC01, nullptr, L"013F"},
    };
    for (const auto& c : cases) {
        std::wstring out;
        EXPECT_TRUE(CUtils::LangIDString(c.wId, out, c.pszInfix));
        EXPECT_EQ(c.pszExpected, out);
    }
    kqtest::ClearTrace();
    std::wstring out = L"unchanged";
    EXPECT_FALSE(CUtils::LangIDString(0x0400, out, nullptr));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : wPrimLangID == 0"));

    const struct
    {
        DWORD dwNumber;
        const wchar_t* pszExpected;
    } back[] = {{0x0901, L"0409"}, {0x0402, L"0804"}, {0x12300, L"00123"}, {0x0700, L"0007"}};
    for (const auto& c : back) {
        std::wstring text;
        EXPECT_TRUE(CUtils::LangIDFromLangIDString(c.dwNumber, text));
        EXPECT_EQ(c.pszExpected, text);
    }
    std::wstring kept = L"kept";
    EXPECT_TRUE(CUtils::LangIDFromLangIDString(0x40001, kept));
    EXPECT_EQ(L"kept", kept);
}

TEST_F(UtilsTest, WriteFallbackLanguageWritesReadOnlyFileOnce)
{
    std::wstring file = m_temp / L"fallback.dat";
    EXPECT_EQ(S_OK, CUtils::WriteFallbackLanguage(m_temp.Path().c_str(), L"0901"));
    EXPECT_EQ("0409", kqtest::ReadFileBytes(file));
    EXPECT_TRUE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : " + file + L" created for 0901"));

    EXPECT_EQ(S_OK, CUtils::WriteFallbackLanguage(m_temp.Path().c_str(), L"0402"));
    EXPECT_EQ("0409", kqtest::ReadFileBytes(file));
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());

    // Texts of other lengths and missing folders write nothing.
    for (const wchar_t* text : {L"901", L"009010", L""}) {
        EXPECT_EQ(S_OK, CUtils::WriteFallbackLanguage(m_temp.Path().c_str(), text));
        EXPECT_FALSE(Exists(file));
    }
    EXPECT_EQ(S_OK, CUtils::WriteFallbackLanguage((m_temp / L"missing").c_str(), L"0901"));
    EXPECT_FALSE(Exists(m_temp / L"missing"));
    // A text that is not a number is written as it is.
    EXPECT_EQ(S_OK, CUtils::WriteFallbackLanguage(m_temp.Path().c_str(), L"enUS"));
    EXPECT_EQ("enUS", kqtest::ReadFileBytes(file));
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

std::wstring g_locatedPath;

bool FakeLocate(const wchar_t*, const wchar_t* pszFileName, std::wstring& strPath, LANGID& wLanguage)
{
    if (std::wstring(pszFileName) != L"SetupShell.loc" || g_locatedPath.empty())
        return false;
    strPath = g_locatedPath;
    wLanguage = 0x0407;
    return true;
}

TEST_F(UtilsTest, LoadResourceModuleLoadsLocatedFileAsData)
{
    g_locatedPath = kqtest::ExeFolder() + L"exitwith.exe";
    HMODULE hModule = CUtils::LoadResourceModule(m_temp.Path().c_str(), &FakeLocate);
    ASSERT_NE(nullptr, hModule);
    EXPECT_EQ(hModule, CUtils::ResourceModule());
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : LoadResourceModule(): " + g_locatedPath + L", 0407"));

    g_locatedPath = m_temp / L"missing.loc";
    EXPECT_EQ(nullptr, CUtils::LoadResourceModule(m_temp.Path().c_str(), &FakeLocate));
    EXPECT_EQ(hModule, CUtils::ResourceModule());
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::LoadResourceModule(1187) : Error: "));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Unable to load resource module: " + g_locatedPath));
}

// The resource module is looked for in the language folders of the given folder, in the
// language the process's settings choose (its current UI language, else the user's).
TEST_F(UtilsTest, LoadResourceModuleFindsLanguageFolder)
{
    LANGID wLanguage = GetCurrentUILanguage();
    if (wLanguage == 0)
        wLanguage = GetUserDefaultUILanguage();
    std::wstring strSub;
    ASSERT_TRUE(GetLanguageSubFolder(wLanguage, strSub));
    std::wstring strFolder = m_temp / strSub;
    ASSERT_TRUE(CreateDirectoryTree(strFolder.c_str()));
    std::wstring strModule = strFolder + L"\\SetupShell.loc";
    ASSERT_TRUE(CopyFileW((kqtest::ExeFolder() + L"zira_langres.dll").c_str(), strModule.c_str(), TRUE));

    HMODULE hModule = CUtils::LoadResourceModule(m_temp.Path().c_str());
    ASSERT_NE(nullptr, hModule);
    EXPECT_EQ(hModule, CUtils::ResourceModule());
    wchar_t szText[64] = {};
    EXPECT_EQ(20, LoadStringW(hModule, 101, szText, ARRAYSIZE(szText)));
    EXPECT_STREQ(L"Deutsche Oberflaeche", szText);
    wchar_t szLine[300];
    swprintf(szLine, ARRAYSIZE(szLine), L"Information : LoadResourceModule(): %ls, %04X", strModule.c_str(),
             static_cast<unsigned>(wLanguage));
    EXPECT_EQ(1u, kqtest::CountTraceLines(szLine));
    FreeLibrary(hModule);

    // Without a module in any language folder nothing is loaded.
    kqtest::CTempDir empty;
    EXPECT_EQ(nullptr, CUtils::LoadResourceModule(empty.Path().c_str()));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : LoadResourceModule(): , 0000"));
}

// The reboot marker lives in the machine's registry of the test prefix.
class RebootFlagTest : public UtilsTest
{
protected:
    void SetUp() override
    {
        UtilsTest::SetUp();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrel");
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrel"); }
    static bool IsVolatile(const wchar_t* pszPath)
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, pszPath, 0, KEY_READ | KEY_WRITE, &hKey) != ERROR_SUCCESS)
            return false;
        HKEY hChild = nullptr;
        LONG lResult = RegCreateKeyExW(hKey, L"probe", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &hChild,
                                       nullptr);
        if (lResult == ERROR_SUCCESS) {
            RegCloseKey(hChild);
            RegDeleteKeyW(hKey, L"probe");
        }
        RegCloseKey(hKey);
        return lResult == ERROR_CHILD_MUST_BE_VOLATILE;
    }
};

TEST_F(RebootFlagTest, MarkerCreatedWithoutProductKey)
{
    EXPECT_FALSE(CUtils::IsRebootRequired());
    CUtils::SetRebootFlag();
    EXPECT_TRUE(IsVolatile(L"SOFTWARE\\Ostrel\\Reboot"));
    EXPECT_TRUE(CUtils::IsRebootRequired());
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : reboot key found (need to reboot before running install)"));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"Error"));
}

TEST_F(RebootFlagTest, MarkerCreatedBelowExistingProductKey)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrel", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_READ, nullptr, &hKey, nullptr));
    RegCloseKey(hKey);
    CUtils::SetRebootFlag();
    EXPECT_TRUE(IsVolatile(L"SOFTWARE\\Ostrel\\Reboot"));
    EXPECT_FALSE(IsVolatile(L"SOFTWARE\\Ostrel"));
    EXPECT_TRUE(CUtils::IsRebootRequired());
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"Error"));
}

TEST_F(RebootFlagTest, RefusedProductKeyIsLogged)
{
    CFakeSystemCalls fake;
    fake.DenyKey(L"SOFTWARE\\Ostrel");
    fake.m_readOnly.insert(L"machine\\software\\ostrel");
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrel", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_READ, nullptr, &hKey, nullptr));
    RegCloseKey(hKey);
    // No descriptor can be read, so the repair changes nothing and the key stays refused.
    CUtils::SetRebootFlag();
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CUtils::SetRebootFlag(1413) : failed to open Ostrel key (5)"));
    EXPECT_FALSE(CUtils::IsRebootRequired());
}

}  // namespace
