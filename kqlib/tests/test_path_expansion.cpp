#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "kqIsolation.h"
#include "kqPathExpansion.h"
#include "kqSystemInfo.h"

namespace {

const wchar_t kTestSilo[] = L"{7E2D4C1B-3A5F-4E8D-9B6C-2F1A0D3E5C47}";
const wchar_t kOtherSilo[] = L"{7E2D4C1B-3A5F-4E8D-9B6C-2F1A0D3E5C48}";
// No isolate.ini lies above this path: the silo gets the default hive.
const wchar_t kModuleWithoutIni[] = L"C:\\kq-path-expansion-test\\prog.exe";

std::wstring ShellFolder(int nFolder)
{
    wchar_t szPath[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, nFolder, nullptr, SHGFP_TYPE_DEFAULT, szPath)))
        return std::wstring();
    return szPath;
}

std::wstring Replace(std::wstring str, const std::wstring& strFrom, const std::wstring& strTo)
{
    size_t pos = str.find(strFrom);
    if (pos != std::wstring::npos)
        str.replace(pos, strFrom.size(), strTo);
    return str;
}

struct MapValue
{
    const wchar_t* pszName;
    DWORD dwType;
    const wchar_t* pszData;
    // Bytes to store; 0 stores the text with its terminating zero.
    DWORD cbData = 0;
};

// A silo of its own with the path expansion map below its registry root; the silo's key is
// removed afterwards, and so are the keys above it that the test made.
class PathExpansionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_spIsolation.reset(new CIsolation(kModuleWithoutIni));
        ASSERT_TRUE(m_spIsolation->SetSiloID(kTestSilo));
        ASSERT_TRUE(m_spIsolation->GetSiloRegistryRoot(m_strRoot));
        CreateMap(m_strRoot);
    }

    void TearDown() override
    {
        CloseMap();
        // Removes the silo key, then each parent this test created while it is empty.
        std::wstring strKey = m_strRoot;
        RegDeleteTreeKey(strKey);
        for (size_t i = 0; i < m_nCreatedParents; ++i) {
            size_t slash = strKey.find_last_of(L'\\');
            if (slash == std::wstring::npos)
                break;
            strKey.resize(slash);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), Wow64RegistryView(), 0);
        }
    }

    void CreateMap(const std::wstring& strRoot)
    {
        // Count the parents of the silo key that do not exist yet.
        std::wstring strKey = strRoot;
        size_t slash;
        while ((slash = strKey.find_last_of(L'\\')) != std::wstring::npos) {
            strKey.resize(slash);
            HKEY hKey = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_READ | Wow64RegistryView(), &hKey) ==
                ERROR_SUCCESS) {
                RegCloseKey(hKey);
                break;
            }
            ++m_nCreatedParents;
        }
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, (strRoot + L"\\Orvane\\PathExpansionMap").c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | Wow64RegistryView(), nullptr, &m_hMap,
                                  nullptr));
    }

    void CloseMap()
    {
        if (m_hMap) {
            RegCloseKey(m_hMap);
            m_hMap = nullptr;
        }
    }

    static void RegDeleteTreeKey(const std::wstring& strKey)
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_ALL_ACCESS | Wow64RegistryView(), &hKey) !=
            ERROR_SUCCESS)
            return;
        RegDeleteTreeW(hKey, nullptr);
        RegCloseKey(hKey);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), Wow64RegistryView(), 0);
    }

    void SetValue(const MapValue& value)
    {
        DWORD cbData = value.cbData ? value.cbData
                                    : static_cast<DWORD>((wcslen(value.pszData) + 1) * sizeof(wchar_t));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_hMap, value.pszName, 0, value.dwType,
                                                reinterpret_cast<const BYTE*>(value.pszData), cbData));
    }

    void SetString(const wchar_t* pszName, const std::wstring& strData)
    {
        SetValue({pszName, REG_SZ, strData.c_str()});
    }

    std::unique_ptr<CIsolation> m_spIsolation;
    std::wstring m_strRoot;
    HKEY m_hMap = nullptr;
    size_t m_nCreatedParents = 0;
};

struct ExpandCase
{
    const wchar_t* pszName;
    std::vector<MapValue> values;
    const wchar_t* pszInput;
    bool bResult;
    // The expected output; {WINDOWS} stands for the shell's Windows folder. A failure leaves
    // the input.
    const wchar_t* pszExpected;
};

class PathExpansionCases : public PathExpansionTest, public testing::WithParamInterface<ExpandCase>
{
};

TEST_P(PathExpansionCases, Expands)
{
    const ExpandCase& test = GetParam();
    for (const MapValue& value : test.values)
        SetValue(value);
    std::wstring strOutput = L"stale";
    EXPECT_EQ(test.bResult, ExpandPath(*m_spIsolation, test.pszInput, strOutput));
    std::wstring strExpected = test.bResult ? test.pszExpected : test.pszInput;
    EXPECT_EQ(Replace(strExpected, L"{WINDOWS}", ShellFolder(CSIDL_WINDOWS)), strOutput);
}

const ExpandCase kExpandCases[] = {
    {L"MapTokenFollowedByPath", {{L"INSTALLCACHEDIR", REG_SZ, L"C:\\ProgramData\\Cache\\Pkg"}},
     L"%INSTALLCACHEDIR%\\setup.dll", true, L"C:\\ProgramData\\Cache\\Pkg\\setup.dll"},
    {L"MapTokenAlone", {{L"INSTALLCACHEDIR", REG_SZ, L"C:\\Cache"}}, L"%INSTALLCACHEDIR%", true, L"C:\\Cache"},
    {L"MapNameInAnyCase", {{L"InstallCacheDir", REG_SZ, L"C:\\Cache"}}, L"x\\%installCACHEdir%\\y", true,
     L"x\\C:\\Cache\\y"},
    {L"MapOverridesShellFolder", {{L"CSIDL_WINDOWS", REG_SZ, L"D:\\OtherWindows"}}, L"%CSIDL_WINDOWS%\\a.txt", true,
     L"D:\\OtherWindows\\a.txt"},
    {L"ShellFolderInLowerCase", {}, L"%csidl_windows%\\system32", true, L"{WINDOWS}\\system32"},
    {L"ExpandSzUsedAsStored", {{L"STORED", REG_EXPAND_SZ, L"C:\\Stored"}}, L"%STORED%\\x", true, L"C:\\Stored\\x"},
    {L"DataWithoutTerminatingZero", {{L"BARE", REG_SZ, L"C:\\Bare", 7 * sizeof(wchar_t)}}, L"%BARE%", true,
     L"C:\\Bare"},
    {L"NonStringValueFallsBackToShell", {{L"CSIDL_WINDOWS", REG_DWORD, L"\x1\x0"}}, L"%CSIDL_WINDOWS%", true,
     L"{WINDOWS}"},
    {L"OddLengthStringIsAbsent", {{L"ODD", REG_SZ, L"C:\\Odd", 5}}, L"%ODD%", false, nullptr},
    {L"BinaryValueIsAbsent", {{L"BIN", REG_BINARY, L"C:\\Bin"}}, L"%BIN%", false, nullptr},
    {L"NoTokens", {}, L"C:\\plain\\path", true, L"C:\\plain\\path"},
    {L"EmptyInput", {}, L"", true, L""},
    {L"TwoPercentSignsAlone", {}, L"%%", true, L"%%"},
    {L"TwoCharactersAlone", {}, L"%a", true, L"%a"},
    {L"TrailingLonePercent", {}, L"disk at 50%", false, nullptr},
    {L"UnclosedToken", {{L"A", REG_SZ, L"v"}}, L"x\\%A", false, nullptr},
    {L"EmptyTokenInLongerString", {}, L"a%%b", false, nullptr},
    {L"UnknownName", {}, L"%NO_SUCH_TOKEN%\\x", false, nullptr},
    {L"ValueWithTokens", {{L"OUTER", REG_SZ, L"%INNER%\\sub"}, {L"INNER", REG_SZ, L"C:\\in"}}, L"%OUTER%\\f", true,
     L"C:\\in\\sub\\f"},
    {L"ValueWithShellToken", {{L"TOOLS", REG_SZ, L"%CSIDL_WINDOWS%\\Tools"}}, L"%TOOLS%", true,
     L"{WINDOWS}\\Tools"},
    {L"ValueContainingItsOwnToken", {{L"SELF", REG_SZ, L"x\\%SELF%"}}, L"%SELF%", false, nullptr},
    {L"ValuesReferringToEachOther", {{L"PING", REG_SZ, L"%PONG%"}, {L"PONG", REG_SZ, L"%PING%"}}, L"%PING%", false,
     nullptr},
    {L"SameTokenTwiceInOnePass", {{L"A", REG_SZ, L"v"}}, L"%A%\\%A%", true, L"v\\v"},
    {L"SameNameInTwoCasesIsRepeated", {{L"A", REG_SZ, L"v"}}, L"%A%\\%a%", false, nullptr},
    {L"PercentInValueStartsToken", {{L"A", REG_SZ, L"100%"}}, L"%A%", false, nullptr},
    // Each value doubles the text: the expansion stops at the longest possible path.
    {L"GrowthWithoutEnd",
     {{L"G1", REG_SZ, L"%G2%%G2%%G2%%G2%"}, {L"G2", REG_SZ, L"%G3%%G3%%G3%%G3%"},
      {L"G3", REG_SZ, L"%G4%%G4%%G4%%G4%"}, {L"G4", REG_SZ, L"%G5%%G5%%G5%%G5%"},
      {L"G5", REG_SZ, L"%G6%%G6%%G6%%G6%"}, {L"G6", REG_SZ, L"%G7%%G7%%G7%%G7%"},
      {L"G7", REG_SZ, L"%G8%%G8%%G8%%G8%"}, {L"G8", REG_SZ, L"0123456789"}},
     L"%G1%", false, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cases, PathExpansionCases, testing::ValuesIn(kExpandCases),
                         [](const testing::TestParamInfo<ExpandCase>& info) {
                             std::wstring name = info.param.pszName;
                             return std::string(name.begin(), name.end());
                         });

TEST_F(PathExpansionTest, EveryShellFolderNameAsTheShellGivesIt)
{
    const struct
    {
        const wchar_t* pszName;
        int nFolder;
    } folders[] = {
        {L"CSIDL_ADMINTOOLS", CSIDL_ADMINTOOLS},
        {L"CSIDL_ALTSTARTUP", CSIDL_ALTSTARTUP},
        {L"CSIDL_APPDATA", CSIDL_APPDATA},
        {L"CSIDL_BITBUCKET", CSIDL_BITBUCKET},
        {L"CSIDL_CDBURN_AREA", CSIDL_CDBURN_AREA},
        {L"CSIDL_COMMON_ADMINTOOLS", CSIDL_COMMON_ADMINTOOLS},
        {L"CSIDL_COMMON_ALTSTARTUP", CSIDL_COMMON_ALTSTARTUP},
        {L"CSIDL_COMMON_APPDATA", CSIDL_COMMON_APPDATA},
        {L"CSIDL_COMMON_DESKTOPDIRECTORY", CSIDL_COMMON_DESKTOPDIRECTORY},
        {L"CSIDL_COMMON_DOCUMENTS", CSIDL_COMMON_DOCUMENTS},
        {L"CSIDL_COMMON_FAVORITES", CSIDL_COMMON_FAVORITES},
        {L"CSIDL_COMMON_MUSIC", CSIDL_COMMON_MUSIC},
        {L"CSIDL_COMMON_OEM_LINKS", CSIDL_COMMON_OEM_LINKS},
        {L"CSIDL_COMMON_PICTURES", CSIDL_COMMON_PICTURES},
        {L"CSIDL_COMMON_PROGRAMS", CSIDL_COMMON_PROGRAMS},
        {L"CSIDL_COMMON_STARTMENU", CSIDL_COMMON_STARTMENU},
        {L"CSIDL_COMMON_STARTUP", CSIDL_COMMON_STARTUP},
        {L"CSIDL_COMMON_TEMPLATES", CSIDL_COMMON_TEMPLATES},
        {L"CSIDL_COMMON_VIDEO", CSIDL_COMMON_VIDEO},
        {L"CSIDL_COMPUTERSNEARME", CSIDL_COMPUTERSNEARME},
        {L"CSIDL_CONNECTIONS", CSIDL_CONNECTIONS},
        {L"CSIDL_CONTROLS", CSIDL_CONTROLS},
        {L"CSIDL_COOKIES", CSIDL_COOKIES},
        {L"CSIDL_DESKTOP", CSIDL_DESKTOP},
        {L"CSIDL_DESKTOPDIRECTORY", CSIDL_DESKTOPDIRECTORY},
        {L"CSIDL_DRIVES", CSIDL_DRIVES},
        {L"CSIDL_FAVORITES", CSIDL_FAVORITES},
        {L"CSIDL_FONTS", CSIDL_FONTS},
        {L"CSIDL_HISTORY", CSIDL_HISTORY},
        {L"CSIDL_INTERNET", CSIDL_INTERNET},
        {L"CSIDL_INTERNET_CACHE", CSIDL_INTERNET_CACHE},
        {L"CSIDL_LOCAL_APPDATA", CSIDL_LOCAL_APPDATA},
        {L"CSIDL_MYMUSIC", CSIDL_MYMUSIC},
        {L"CSIDL_MYPICTURES", CSIDL_MYPICTURES},
        {L"CSIDL_MYVIDEO", CSIDL_MYVIDEO},
        {L"CSIDL_NETHOOD", CSIDL_NETHOOD},
        {L"CSIDL_NETWORK", CSIDL_NETWORK},
        {L"CSIDL_PERSONAL", CSIDL_PERSONAL},
        {L"CSIDL_PRINTERS", CSIDL_PRINTERS},
        {L"CSIDL_PRINTHOOD", CSIDL_PRINTHOOD},
        {L"CSIDL_PROFILE", CSIDL_PROFILE},
        {L"CSIDL_PROGRAM_FILES", CSIDL_PROGRAM_FILES},
        {L"CSIDL_PROGRAM_FILES_COMMON", CSIDL_PROGRAM_FILES_COMMON},
        {L"CSIDL_PROGRAM_FILES_COMMONX86", CSIDL_PROGRAM_FILES_COMMONX86},
        {L"CSIDL_PROGRAM_FILESX86", CSIDL_PROGRAM_FILESX86},
        {L"CSIDL_PROGRAMS", CSIDL_PROGRAMS},
        {L"CSIDL_RECENT", CSIDL_RECENT},
        {L"CSIDL_RESOURCES", CSIDL_RESOURCES},
        {L"CSIDL_RESOURCES_LOCALIZED", CSIDL_RESOURCES_LOCALIZED},
        {L"CSIDL_SENDTO", CSIDL_SENDTO},
        {L"CSIDL_STARTMENU", CSIDL_STARTMENU},
        {L"CSIDL_STARTUP", CSIDL_STARTUP},
        {L"CSIDL_SYSTEM", CSIDL_SYSTEM},
        {L"CSIDL_SYSTEMX86", CSIDL_SYSTEMX86},
        {L"CSIDL_TEMPLATES", CSIDL_TEMPLATES},
        {L"CSIDL_WINDOWS", CSIDL_WINDOWS},
    };
    size_t nResolved = 0;
    for (const auto& folder : folders) {
        SCOPED_TRACE(folder.pszName);
        const std::wstring strShell = ShellFolder(folder.nFolder);
        std::wstring strLower = folder.pszName;
        for (wchar_t& c : strLower)
            c = static_cast<wchar_t>(towlower(c));
        for (const std::wstring& strName : {std::wstring(folder.pszName), strLower}) {
            const std::wstring strInput = L"%" + strName + L"%\\leaf";
            std::wstring strOutput;
            EXPECT_EQ(!strShell.empty(), ExpandPath(*m_spIsolation, strInput.c_str(), strOutput));
            EXPECT_EQ(strShell.empty() ? strInput : strShell + L"\\leaf", strOutput);
        }
        if (!strShell.empty())
            ++nResolved;
    }
    // Most of the shell's folders have a path; a lookup that finds none of them is broken.
    EXPECT_GT(nResolved, 30u);
}

TEST_F(PathExpansionTest, SiloFolderNames)
{
    std::wstring strLocal;
    std::wstring strCommon;
    ASSERT_TRUE(m_spIsolation->GetLocalSiloDataPath(strLocal));
    ASSERT_TRUE(m_spIsolation->GetCommonSiloDataPath(strCommon));
    std::wstring strOutput;
    ASSERT_TRUE(ExpandPath(*m_spIsolation, L"%LOCAL_SILO_DATA%\\Logs", strOutput));
    EXPECT_EQ(strLocal + L"\\Logs", strOutput);
    ASSERT_TRUE(ExpandPath(*m_spIsolation, L"%common_silo_data%", strOutput));
    EXPECT_EQ(strCommon, strOutput);
}

TEST_F(PathExpansionTest, WithoutMapNothingExpandsAndOutputIsUntouched)
{
    CIsolation other(kModuleWithoutIni);
    ASSERT_TRUE(other.SetSiloID(kOtherSilo));
    std::wstring strOutput = L"untouched";
    EXPECT_FALSE(ExpandPath(other, L"C:\\no\\tokens", strOutput));
    EXPECT_EQ(L"untouched", strOutput);
    EXPECT_FALSE(ExpandPath(other, L"%CSIDL_WINDOWS%", strOutput));
    EXPECT_EQ(L"untouched", strOutput);
    EXPECT_FALSE(ExpandPath(other, L"%%", strOutput));
    EXPECT_EQ(L"untouched", strOutput);
}

TEST_F(PathExpansionTest, SiloWithoutRegistryRootExpandsNothing)
{
    CIsolation uninitialised(kModuleWithoutIni);
    std::wstring strOutput = L"untouched";
    EXPECT_FALSE(ExpandPath(uninitialised, L"C:\\no\\tokens", strOutput));
    EXPECT_EQ(L"untouched", strOutput);
}

TEST_F(PathExpansionTest, AbsentInputLeavesOutputUntouched)
{
    std::wstring strOutput = L"untouched";
    EXPECT_FALSE(ExpandPath(*m_spIsolation, nullptr, strOutput));
    EXPECT_EQ(L"untouched", strOutput);
}

TEST_F(PathExpansionTest, MapIsReadAtEachCall)
{
    std::wstring strOutput;
    EXPECT_FALSE(ExpandPath(*m_spIsolation, L"%LATE%", strOutput));
    SetString(L"LATE", L"C:\\Late");
    ASSERT_TRUE(ExpandPath(*m_spIsolation, L"%LATE%", strOutput));
    EXPECT_EQ(L"C:\\Late", strOutput);
}

// The silo data folders are named by "%APPDATAEXTENSION%" when the map has it.
class AppDataExtensionTest : public PathExpansionTest
{
protected:
    std::wstring LocalFolderWith(const std::wstring& strExtension) const
    {
        wchar_t szFolder[MAX_PATH] = {};
        EXPECT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szFolder)));
        return std::wstring(szFolder) + L"\\" + strExtension + L"\\" + kTestSilo;
    }
};

TEST_F(AppDataExtensionTest, WithoutValueTheMakersName)
{
    std::wstring strLocal;
    ASSERT_TRUE(m_spIsolation->GetLocalSiloDataPath(strLocal));
    EXPECT_EQ(LocalFolderWith(L"Quillane"), strLocal);
}

TEST_F(AppDataExtensionTest, ValueNamesTheFolder)
{
    SetString(L"APPDATAEXTENSION", L"Orvane Data");
    std::wstring strLocal;
    ASSERT_TRUE(m_spIsolation->GetLocalSiloDataPath(strLocal));
    EXPECT_EQ(LocalFolderWith(L"Orvane Data"), strLocal);
}

TEST_F(AppDataExtensionTest, ValueWithTokensIsExpanded)
{
    SetString(L"VENDOR", L"Orvane");
    SetString(L"APPDATAEXTENSION", L"%VENDOR%\\Data");
    std::wstring strLocal;
    ASSERT_TRUE(m_spIsolation->GetLocalSiloDataPath(strLocal));
    EXPECT_EQ(LocalFolderWith(L"Orvane\\Data"), strLocal);
}

TEST_F(AppDataExtensionTest, ValueNamingASiloFolderDoesNotRecurse)
{
    SetString(L"APPDATAEXTENSION", L"%LOCAL_SILO_DATA%");
    std::wstring strLocal;
    ASSERT_TRUE(m_spIsolation->GetLocalSiloDataPath(strLocal));
    EXPECT_EQ(LocalFolderWith(L"Quillane"), strLocal);
    std::wstring strOutput;
    ASSERT_TRUE(ExpandPath(*m_spIsolation, L"%LOCAL_SILO_DATA%", strOutput));
    EXPECT_EQ(strLocal, strOutput);
}

TEST_F(AppDataExtensionTest, EmptyOrUnusableValueGivesTheMakersName)
{
    SetString(L"APPDATAEXTENSION", L"");
    std::wstring strLocal;
    ASSERT_TRUE(m_spIsolation->GetLocalSiloDataPath(strLocal));
    EXPECT_EQ(LocalFolderWith(L"Quillane"), strLocal);

    CIsolation unknownToken(kModuleWithoutIni);
    ASSERT_TRUE(unknownToken.SetSiloID(kTestSilo));
    SetString(L"APPDATAEXTENSION", L"%NO_SUCH_TOKEN%");
    ASSERT_TRUE(unknownToken.GetCommonSiloDataPath(strLocal));
    EXPECT_EQ(std::wstring::npos, strLocal.find(L"NO_SUCH_TOKEN"));
    EXPECT_NE(std::wstring::npos, strLocal.find(std::wstring(L"\\Quillane\\") + kTestSilo));
}

// The process's own silo answers GetAppDataExtension.
TEST_F(AppDataExtensionTest, ProcessSiloLengthLimit)
{
    ASSERT_TRUE(CIsolation::Instance().SetSiloID(kTestSilo));
    std::wstring strRoot;
    ASSERT_TRUE(CIsolation::Instance().GetSiloRegistryRoot(strRoot));
    ASSERT_EQ(m_strRoot, strRoot) << "the process silo must use the test map";

    EXPECT_EQ(L"Quillane", CIsolation::GetAppDataExtension());
    const std::wstring str49(49, L'e');
    SetString(L"APPDATAEXTENSION", str49);
    EXPECT_EQ(str49, CIsolation::GetAppDataExtension());
    SetString(L"APPDATAEXTENSION", std::wstring(50, L'e'));
    EXPECT_EQ(L"Quillane", CIsolation::GetAppDataExtension());
    SetString(L"APPDATAEXTENSION", L"Orvane");
    EXPECT_EQ(L"Orvane", CIsolation::GetAppDataExtension());
    std::wstring strOutput;
    ASSERT_TRUE(ExpandPath(L"%APPDATAEXTENSION%\\x", strOutput));
    EXPECT_EQ(L"Orvane\\x", strOutput);
}

}  // namespace
