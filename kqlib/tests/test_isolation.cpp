// The silo: id, registry root, isolate.ini search and the INI reading it relies on.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "kqIsolation.h"
#include "kqTestFiles.h"

namespace {

const wchar_t kSiloA[] = L"{11111111-2222-3333-4444-555555555555}";
const wchar_t kSiloB[] = L"{AAAAAAAA-bbbb-CCCC-dddd-EEEEEEEEEEEE}";

std::string Utf16WithBom(const std::wstring& text)
{
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return bytes;
}

TEST(Isolation, GuidStrings)
{
    struct Case { const wchar_t* pszText; bool bGuid; };
    const Case cases[] = {
        {kSiloA, true},
        {kSiloB, true},
        {L"11111111-2222-3333-4444-555555555555", false},
        {L"{11111111-2222-3333-4444-55555555555G}", false},
        {L"{1111111-12222-3333-4444-555555555555}", false},
        {L"{11111111-2222-3333-4444-5555555555555}", false},
        {L"(11111111-2222-3333-4444-555555555555)", false},
        {L"", false},
        {nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.bGuid, CIsolation::IsGuidString(c.pszText)) << (c.pszText ? c.pszText : L"(null)");
}

TEST(Isolation, ReadIniValue)
{
    struct Case { const char* pszName; std::string content; bool bUtf16; const wchar_t* pszExpected; };
    const Case cases[] = {
        {"plain", "[isolation]\r\nsilo=abc\r\n", false, L"abc"},
        {"spaces and case", "  [ISOLATION]  \r\n  SILO =  abc def \t\r\n", false, L"abc def"},
        {"utf-16", "", true, L"wide"},
        {"key prefix matches", "[isolation]\r\nsiloExtra=first\r\nsilo=second\r\n", false, L"first"},
        {"later section counts", "[isolation]\r\nother=1\r\n[next]\r\nsilo=later\r\n", false, L"later"},
        {"section not seen", "silo=early\r\n[isolation]\r\n", false, L"dflt"},
        {"comments skipped", "[isolation]\r\n;silo=no\r\n#silo=no\r\nsilo=yes\r\n", false, L"yes"},
        {"matching line without equals", "[isolation]\r\nsilo\r\nsilo=late\r\n", false, L"dflt"},
        {"empty value", "[isolation]\r\nsilo=\r\n", false, L"dflt"},
        {"no line pair at all", "[isolation]\nsilo=x\n", false, L"dflt"},
        {"last line without line end", "[isolation]\r\nsilo=tail", false, L"tail"},
        {"section name prefix", "[isolationX]\r\nsilo=p\r\n", false, L"p"},
        {"empty file", "", false, L"dflt"},
    };
    kqtest::CTempDir dir;
    for (const Case& c : cases) {
        std::wstring strFile = dir / L"t.ini";
        ASSERT_TRUE(kqtest::WriteFileBytes(
            strFile, c.bUtf16 ? Utf16WithBom(L"[isolation]\r\nsilo=wide\r\n") : c.content));
        wchar_t szValue[40];
        DWORD cch = CIsolation::ReadIniValue(L"isolation", L"silo", L"dflt", szValue, 40, strFile.c_str());
        EXPECT_EQ(std::wstring(c.pszExpected), szValue) << c.pszName;
        EXPECT_EQ(wcslen(c.pszExpected), cch) << c.pszName;
    }
}

TEST(Isolation, ReadIniValueTruncatesAndRefusesMissingArguments)
{
    kqtest::CTempDir dir;
    std::wstring strFile = dir / L"t.ini";
    kqtest::WriteFileBytes(strFile, "[s]\r\nk=0123456789\r\n");
    wchar_t szValue[5];
    EXPECT_EQ(4u, CIsolation::ReadIniValue(L"s", L"k", L"", szValue, 5, strFile.c_str()));
    EXPECT_STREQ(L"0123", szValue);
    EXPECT_EQ(1u, CIsolation::ReadIniValue(L"s", L"k", L"d", szValue, 5, nullptr));
    EXPECT_STREQ(L"d", szValue);
    EXPECT_EQ(1u, CIsolation::ReadIniValue(L"s", L"k", L"d", szValue, 5, (dir / L"none.ini").c_str()));
}

// A tree temp\a\b\c with the module at the bottom, isolate.ini placed where a test wants it.
class IsolateIniTest : public ::testing::Test
{
protected:
    IsolateIniTest()
    {
        CreateDirectoryW((m_dir / L"a").c_str(), nullptr);
        CreateDirectoryW((m_dir / L"a\\b").c_str(), nullptr);
        CreateDirectoryW((m_dir / L"a\\b\\c").c_str(), nullptr);
        CreateDirectoryW((m_dir / L"a\\side").c_str(), nullptr);
        m_strModule = m_dir / L"a\\b\\c\\prog.exe";
    }

    void PlaceIni(const std::wstring& strFolder, const std::string& content)
    {
        kqtest::WriteFileBytes(m_dir / (strFolder + L"\\isolate.ini"), content);
    }

    kqtest::CTempDir m_dir;
    std::wstring m_strModule;
};

TEST_F(IsolateIniTest, FoundTwoFoldersAboveButNotOnAnotherBranch)
{
    std::wstring strIni;
    PlaceIni(L"a\\side", "[isolation]\r\nsilo={11111111-2222-3333-4444-555555555555}\r\n");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), CIsolation::FindIsolateIni(m_strModule, strIni));
    CIsolation isolation(m_strModule);
    std::wstring strSilo;
    EXPECT_FALSE(isolation.GetSiloID(strSilo));
    std::wstring strRoot;
    EXPECT_FALSE(isolation.GetSiloRegistryRoot(strRoot));
    std::wstring strPath;
    EXPECT_FALSE(isolation.GetLocalSiloDataPath(strPath));

    PlaceIni(L"a", "[isolation]\r\nsilo={11111111-2222-3333-4444-555555555555}\r\n");
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), CIsolation::FindIsolateIni(m_strModule, strIni));
    EXPECT_EQ(m_dir / L"a\\isolate.ini", strIni);
    ASSERT_TRUE(isolation.GetSiloID(strSilo));
    EXPECT_EQ(kSiloA, strSilo);
    ASSERT_TRUE(isolation.GetSiloRegistryRoot(strRoot));
    EXPECT_EQ(std::wstring(L"Software\\Quillane\\Isolation\\") + kSiloA, strRoot);
}

TEST_F(IsolateIniTest, NearestIniWinsAndOverlongPathsStop)
{
    PlaceIni(L"a", "[isolation]\r\nsilo={11111111-2222-3333-4444-555555555555}\r\n");
    PlaceIni(L"a\\b\\c", "[isolation]\r\nsilo={AAAAAAAA-bbbb-CCCC-dddd-EEEEEEEEEEEE}\r\n");
    CIsolation isolation(m_strModule);
    std::wstring strSilo;
    ASSERT_TRUE(isolation.GetSiloID(strSilo));
    EXPECT_EQ(kSiloB, strSilo);

    std::wstring strIni;
    std::wstring strDeep = L"C:\\" + std::wstring(255, L'x') + L"\\prog.exe";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNAL_ERROR), CIsolation::FindIsolateIni(strDeep, strIni));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), CIsolation::FindIsolateIni(L"\\\\server\\prog.exe", strIni));
}

TEST_F(IsolateIniTest, BadSiloInIniIsRefused)
{
    PlaceIni(L"a\\b", "[isolation]\r\nsilo=11111111-2222-3333-4444-555555555555\r\n");
    CIsolation isolation(m_strModule);
    EXPECT_FALSE(isolation.SetSiloID(nullptr));
    // An explicit id still works afterwards.
    EXPECT_TRUE(isolation.SetSiloID(kSiloB));
}

TEST_F(IsolateIniTest, HiveFromIniEvenWhenItsKeyDoesNotExist)
{
    PlaceIni(L"a", "[isolation]\r\nsilo={11111111-2222-3333-4444-555555555555}\r\nreghive=Software\\NoSuch\\Hive\r\n");
    wchar_t szHive[100];
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), CIsolation::GetRegistryHive(m_strModule.c_str(), szHive, 100));
    EXPECT_STREQ(L"Software\\NoSuch\\Hive", szHive);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), CIsolation::GetRegistryHive(m_strModule.c_str(), szHive, 99));

    PlaceIni(L"a", "[isolation]\r\nreghive=" + std::string(120, 'h') + "\r\n");
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), CIsolation::GetRegistryHive(m_strModule.c_str(), szHive, 100));
}

TEST_F(IsolateIniTest, FirstIdentityStays)
{
    PlaceIni(L"a", "[isolation]\r\nsilo={11111111-2222-3333-4444-555555555555}\r\n");
    CIsolation isolation(m_strModule);
    std::wstring strSilo;
    ASSERT_TRUE(isolation.GetSiloID(strSilo));
    EXPECT_TRUE(isolation.SetSiloID(kSiloB));
    ASSERT_TRUE(isolation.GetSiloID(strSilo));
    EXPECT_EQ(kSiloA, strSilo);

    EXPECT_TRUE(isolation.SetSiloRegistryRoot(L"Software\\First"));
    EXPECT_TRUE(isolation.SetSiloRegistryRoot(L"Software\\Second"));
    std::wstring strRoot;
    ASSERT_TRUE(isolation.GetSiloRegistryRoot(strRoot));
    EXPECT_EQ(std::wstring(L"Software\\First\\") + kSiloA, strRoot);
}

TEST(Isolation, ExplicitIdAndDataFolders)
{
    kqtest::CTempDir dir;
    CIsolation isolation(dir / L"prog.exe");
    EXPECT_FALSE(isolation.SetSiloID(L"not-a-guid"));
    ASSERT_TRUE(isolation.SetSiloID(kSiloA));
    std::wstring strRoot;
    ASSERT_TRUE(isolation.GetSiloRegistryRoot(strRoot));
    EXPECT_EQ(std::wstring(L"Software\\Quillane\\Isolation\\") + kSiloA, strRoot);

    wchar_t szLocal[MAX_PATH];
    wchar_t szCommon[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, szLocal));
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, szCommon));
    std::wstring strLocal;
    std::wstring strCommon;
    ASSERT_TRUE(isolation.GetLocalSiloDataPath(strLocal));
    ASSERT_TRUE(isolation.GetCommonSiloDataPath(strCommon));
    EXPECT_EQ(std::wstring(szLocal) + L"\\Quillane\\" + kSiloA, strLocal);
    EXPECT_EQ(std::wstring(szCommon) + L"\\Quillane\\" + kSiloA, strCommon);
}

}  // namespace
