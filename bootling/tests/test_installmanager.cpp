// The install manager's switches and modes, and the test-extraction switch's refusals, in
// process. The test extraction itself runs end to end in test_testextraction.cpp.
#include <gtest/gtest.h>

#include <string>

#include "InstallManager.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqTestFiles.h"

namespace {

const HRESULT kCancelled = static_cast<HRESULT>(0x800704C7);

// An install manager whose command line a test chooses. The program's own path is that of the
// test program.
class CTestInstallManager : public CInstallManager
{
public:
    explicit CTestInstallManager(const std::wstring& strSwitches)
    {
        EXPECT_TRUE(m_ModulePath.SplitModulePath());
        EXPECT_TRUE(m_CommandLine.Parse((L"\"C:\\some folder\\Package.exe\" " + strSwitches).c_str(), L"/-"))
            << strSwitches.c_str();
    }
};

std::wstring OwnLongPath()
{
    CSplitPath path;
    EXPECT_TRUE(path.SplitModulePath());
    return path.GetLongPath();
}

TEST(InstallManagerSwitches, ModesFollowTheSwitchSpelling)
{
    struct Case
    {
        const wchar_t* pszSwitches;
        bool bSilent;
        bool bReducedUI;
        bool bTrayOnly;
    };
    const Case cases[] = {
        {L"", false, false, false},
        {L"/q", true, false, false},
        {L"/QN", true, false, false},
        {L"-qn", true, false, false},
        {L"/Q /qr", true, true, false},
        {L"-qb", false, true, false},
        {L"/QR", false, true, false},
        {L"/trayonly", false, false, true},
        // Quoted or without a prefix, a switch name is only a value.
        {L"\"/qn\" qn", false, false, false},
        // Names are whole words: neither a longer nor a shorter name matches.
        {L"/qnx /qbr /qu", false, false, false},
        // A doubled prefix leaves a switch named "-q".
        {L"--q", false, false, false},
        // Given twice counts once.
        {L"/qn /qn -QB -qb", true, true, false},
    };
    for (const Case& c : cases) {
        CTestInstallManager manager(c.pszSwitches);
        ASSERT_EQ(S_OK, manager.ProcessSwitches()) << c.pszSwitches;
        EXPECT_EQ(c.bSilent, manager.m_bSilent) << c.pszSwitches;
        EXPECT_EQ(c.bReducedUI, manager.m_bReducedUI) << c.pszSwitches;
        EXPECT_EQ(c.bTrayOnly, manager.m_bTrayOnly) << c.pszSwitches;
    }
}

TEST(InstallManagerSwitches, PackagePathIsMediaOrTheProgramItself)
{
    struct Case
    {
        const wchar_t* pszSwitches;
        const wchar_t* pszPackage;  // nullptr: the program's own long path
    };
    const Case cases[] = {
        {L"/qn", nullptr},
        {L"/MEDIA \"D:\\disc one\\Setup.exe\"", L"D:\\disc one\\Setup.exe"},
        {L"-media E:\\Setup.exe /qn", L"E:\\Setup.exe"},
        // An empty quoted value, or no value at all, keeps the program's own file.
        {L"/MEDIA \"\" /qn", nullptr},
        {L"/MEDIA /qn", nullptr},
        {L"/qn /MEDIA", nullptr},
        // The value after the first occurrence counts.
        {L"/MEDIA A.exe /MEDIA B.exe", L"A.exe"},
    };
    const std::wstring strOwn = OwnLongPath();
    ASSERT_FALSE(strOwn.empty());
    for (const Case& c : cases) {
        CTestInstallManager manager(c.pszSwitches);
        ASSERT_EQ(S_OK, manager.ProcessSwitches()) << c.pszSwitches;
        EXPECT_EQ(c.pszPackage ? std::wstring(c.pszPackage) : strOwn, manager.m_strPackagePath) << c.pszSwitches;
    }
}

TEST(InstallManagerSwitches, ShowErrorsOverridesThePackageSetting)
{
    struct Case
    {
        const wchar_t* pszSwitches;
        bool bPackageFlag;  // embedded flag 53 set (absent otherwise)
        bool bShowErrors;
    };
    const Case cases[] = {
        {L"", false, false},
        {L"", true, true},
        {L"/SHOWERRORS 0", true, false},
        {L"/SHOWERRORS 2", false, true},
        {L"-showerrors 1 /qn", false, true},
        {L"/SHOWERRORS 007", false, true},
        {L"/SHOWERRORS 12abc", false, true},
        // No digits count as 0; a valueless switch is false, whatever the package says.
        {L"/SHOWERRORS yes", true, false},
        {L"/SHOWERRORS /qn", true, false},
        {L"/qn /SHOWERRORS", true, false},
        {L"/SHOWERRORS \"\"", true, false},
    };
    for (const Case& c : cases) {
        CTestInstallManager manager(c.pszSwitches);
        if (c.bPackageFlag) {
            CSmartPtr<IKeyValueCollection> spSettings = NewKeyValueCollection();
            ASSERT_TRUE(spSettings);
            ASSERT_TRUE(spSettings->SetBool(eEmbeddedKey_ShowErrors, true));
            ASSERT_TRUE(manager.m_EmbeddedData.Import(spSettings.Get()));
        }
        EXPECT_EQ(c.bShowErrors, manager.ShowErrorsEnabled()) << c.pszSwitches << " flag " << c.bPackageFlag;
    }
}

TEST(InstallManagerSwitches, SwitchNumbersTakeTheLeadingDigits)
{
    EXPECT_EQ(0, SwitchNumber(nullptr));
    EXPECT_EQ(0, SwitchNumber(L""));
    EXPECT_EQ(0, SwitchNumber(L"abc"));
    EXPECT_EQ(0, SwitchNumber(L"0"));
    EXPECT_EQ(1, SwitchNumber(L"1"));
    EXPECT_EQ(42, SwitchNumber(L"42x"));
    EXPECT_EQ(-3, SwitchNumber(L"-3"));
}

// The test extraction refuses before it writes anything: without silent mode, and into any
// path that is already there.
TEST(InstallManagerTestMode, RefusalsLeaveTheDiskAlone)
{
    kqtest::CTempDir dir;
    const std::wstring strExisting = dir / L"existing";
    ASSERT_TRUE(CreateDirectoryW(strExisting.c_str(), nullptr));
    const std::wstring strFile = dir / L"file.txt";
    ASSERT_TRUE(kqtest::WriteFileBytes(strFile, std::string("keep me")));
    const std::wstring strNew = dir / L"new";

    struct Case
    {
        const char* pszName;
        std::wstring strSwitches;
        std::wstring strTestPath;
    };
    const Case cases[] = {
        {"new folder without silent mode", L"/TEST x", strNew},
        {"new folder in reduced-UI mode", L"/qb /TEST x", strNew},
        {"existing folder", L"/qn /TEST x", strExisting},
        {"existing file", L"/q /TEST x", strFile},
        {"empty path (the current folder)", L"/qn /TEST x", L""},
    };
    for (const Case& c : cases) {
        CTestInstallManager manager(c.strSwitches);
        ASSERT_EQ(S_OK, manager.ProcessSwitches());
        bool bHandled = false;
        EXPECT_EQ(kCancelled, manager.CheckTestMode(c.strTestPath.c_str(), bHandled)) << c.pszName;
        EXPECT_TRUE(bHandled) << c.pszName;
        EXPECT_FALSE(kqtest::FileExists(strNew)) << c.pszName;
        EXPECT_EQ("keep me", kqtest::ReadFileBytes(strFile)) << c.pszName;
        ASSERT_TRUE(kqtest::FileExists(strExisting)) << c.pszName;
        EXPECT_TRUE(kqtest::ListFiles(strExisting, true).empty()) << c.pszName << ": the existing folder stays empty";
    }
}

// A program without a package table cannot be test-extracted: the failure is the result.
TEST(InstallManagerTestMode, ProgramWithoutPackageFails)
{
    kqtest::CTempDir dir;
    CTestInstallManager manager(L"/qn /TEST x /TESTMODE 1");
    ASSERT_EQ(S_OK, manager.ProcessSwitches());
    bool bHandled = false;
    HRESULT hr = manager.CheckTestMode((dir / L"out").c_str(), bHandled);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_NE(kCancelled, hr);
    EXPECT_TRUE(bHandled);
}

// This test program's own command line carries no TEST: the run stops where the install run
// would begin and says it was not done.
TEST(InstallManagerRun, WithoutTestTheRunIsNotPretendedToSucceed)
{
    CInstallManager manager;
    bool bReboot = true;
    EXPECT_EQ(E_NOTIMPL, manager.Initialize(bReboot));
    EXPECT_FALSE(bReboot);
    EXPECT_EQ(OwnLongPath(), manager.m_strPackagePath);
}

}  // namespace
