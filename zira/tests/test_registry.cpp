// CRegistry: real opens, creates and volatile keys; the repair walk of ForceOpenKey driven
// through replaceable calls that refuse chosen keys.
#include <gtest/gtest.h>

#include "ZIRA_Registry.h"
#include "ZiraFakeSystem.h"
#include "kqTestFiles.h"
#include "kqTestTrace.h"

using ZIRA::CRegistry;
using ziratest::CFakeSystemCalls;

namespace {

// A key below HKLM\SOFTWARE in the view the library itself uses, removed afterwards.
class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kqtest::ClearTrace();
        m_strRoot = L"SOFTWARE\\" + kqtest::NewGuidString();
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_strRoot.c_str()); }
    std::wstring Sub(const wchar_t* pszRelative) const { return m_strRoot + L"\\" + pszRelative; }
    static bool KeyExists(const std::wstring& path)
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return false;
        RegCloseKey(hKey);
        return true;
    }
    std::wstring m_strRoot;
};

struct SplitCase
{
    const wchar_t* pszPath;
    std::vector<std::wstring> components;
};

TEST(RegistryPath, SplitsAtSlashesAndKeepsQuotedComponents)
{
    const SplitCase cases[] = {
        {L"SOFTWARE\\X\\Y", {L"SOFTWARE", L"X", L"Y"}},
        {L"SOFTWARE/X/Y", {L"SOFTWARE", L"X", L"Y"}},
        {L"\\\\SOFTWARE//X\\/Y\\", {L"SOFTWARE", L"X", L"Y"}},
        {L"SOFTWARE\\\"a\\b/c\"\\Y", {L"SOFTWARE", L"a\\b/c", L"Y"}},
        {L"SOFTWARE\\\"open\\rest", {L"SOFTWARE", L"open\\rest"}},
        {L"SOFTWARE\\\"\"\\Y", {L"SOFTWARE", L"Y"}},
        {L"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> components;
        ASSERT_TRUE(CRegistry::SplitKeyPath(c.pszPath, components));
        EXPECT_EQ(c.components, components) << std::string(c.pszPath, c.pszPath + wcslen(c.pszPath));
    }
}

TEST_F(RegistryTest, OpenWithRepairCreatesVolatileKeyAndRemembersPath)
{
    CRegistry key;
    ASSERT_TRUE(key.OpenWithRepair(Sub(L"Volatile").c_str(), HKEY_LOCAL_MACHINE, KEY_WRITE | KEY_READ, true,
                                   REG_OPTION_VOLATILE));
    EXPECT_EQ(Sub(L"Volatile"), key.Path());
    EXPECT_EQ(HKEY_LOCAL_MACHINE, key.Hive());
    // Only volatile keys may live below a volatile key.
    HKEY hChild = nullptr;
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, RegCreateKeyExW(key.Handle(), L"child", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                            KEY_READ, nullptr, &hChild, nullptr));
}

TEST_F(RegistryTest, MissingKeyWithoutCreateFailsWithoutRepair)
{
    CFakeSystemCalls fake;
    CRegistry key;
    EXPECT_FALSE(key.OpenWithRepair(Sub(L"Missing").c_str(), HKEY_LOCAL_MACHINE, KEY_READ, false));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.OpenError());
    EXPECT_EQ(std::vector<std::wstring>{Sub(L"Missing")}, fake.KeyPaths());
    EXPECT_TRUE(kqtest::TraceLines().empty());
}

TEST_F(RegistryTest, ForceOpenKeyWalksSlashedPathLevelByLevel)
{
    CFakeSystemCalls fake;
    std::wstring slashed = m_strRoot + L"/X/Y";
    for (auto& ch : slashed) {
        if (ch == L'\\')
            ch = L'/';
    }
    EXPECT_EQ(S_OK, CRegistry::ForceOpenKey(slashed.c_str(), HKEY_LOCAL_MACHINE, true));
    EXPECT_EQ((std::vector<std::wstring>{L"SOFTWARE", m_strRoot, Sub(L"X"), Sub(L"X\\Y")}), fake.KeyPaths());
    for (const auto& open : fake.m_keyOpens)
        EXPECT_EQ(static_cast<REGSAM>(KEY_ALL_ACCESS), open.sam);
    EXPECT_TRUE(KeyExists(Sub(L"X\\Y")));
}

TEST_F(RegistryTest, ForceOpenKeyStopsAtOtherErrors)
{
    CFakeSystemCalls fake;
    std::wstring path = Sub(L"X\\Y");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), CRegistry::ForceOpenKey(path.c_str(), HKEY_LOCAL_MACHINE, false));
    EXPECT_EQ((std::vector<std::wstring>{L"SOFTWARE", m_strRoot}), fake.KeyPaths());
    std::wstring expected = L"Error : ZIRA::CRegistry::ForceOpenKey(124) : failed to open key: " + path + L" at " +
                            m_strRoot.substr(9) + L" (0x80070002)";
    EXPECT_EQ(1u, kqtest::CountTraceLines(expected));
}

TEST_F(RegistryTest, DeniedFirstLevelTriesWholePathWithoutReset)
{
    CFakeSystemCalls fake;
    fake.DenyKey(L"SOFTWARE");
    std::wstring path = Sub(L"X");
    EXPECT_EQ(S_OK, CRegistry::ForceOpenKey(path.c_str(), HKEY_LOCAL_MACHINE, true));
    EXPECT_EQ((std::vector<std::wstring>{L"SOFTWARE", L"SOFTWARE", path}), fake.KeyPaths());
    EXPECT_TRUE(fake.DaclWrites().empty());
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"failed to open key: " + path + L" at SOFTWARE (0x80070005)"));
}

struct DeniedLevelCase
{
    const char* pszName;
    const wchar_t* pszLevel;  // the refusing component below the test root
    bool bWow64;
    bool bReset;  // the level's DACL is reset to the inherited one
};

class DeniedLevel : public RegistryTest, public ::testing::WithParamInterface<DeniedLevelCase>
{
};

TEST_P(DeniedLevel, ResetsInheritanceUnlessRedirectionNode)
{
    const DeniedLevelCase& c = GetParam();
    CFakeSystemCalls fake;
    fake.m_bWow64 = c.bWow64;
    fake.m_bOnlyResetUnlocks = true;
    std::wstring level = Sub(c.pszLevel);
    std::wstring path = level + L"\\Y";
    fake.DenyKey(level);
    fake.SetDescriptor(L"MACHINE\\" + level, L"O:BAG:BAD:P(A;;KR;;;LS)");

    EXPECT_EQ(S_OK, CRegistry::ForceOpenKey(path.c_str(), HKEY_LOCAL_MACHINE, true));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"failed to open key: " + path + L" at " + c.pszLevel + L" (0x80070005)"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : SDDL: O:BAG:BAD:P(A;;KR;;;LS) (MACHINE\\" + level + L")"));
    // Full access was asked for the process token, Administrators and LocalSystem in turn.
    std::vector<std::wstring> writes = fake.DaclWrites();
    ASSERT_GE(writes.size(), 3u);
    std::wstring prefix = L"MACHINE\\" + level + L" D:(A;;KR;;;LS)";
    EXPECT_EQ(prefix + ziratest::WithUser(L"(A;OICI;KA;;;%USER%)"), writes[0]);
    EXPECT_EQ(prefix + L"(A;OICI;KA;;;BA)", writes[1]);
    EXPECT_EQ(prefix + L"(A;OICI;KA;;;SY)", writes[2]);
    bool bResetWritten = false;
    for (const auto& w : fake.m_writes) {
        if (w.siWhat == (DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION)) {
            EXPECT_EQ(L"MACHINE\\" + level, w.strName);
            EXPECT_EQ(L"D:", w.strDacl);
            bResetWritten = true;
        }
    }
    EXPECT_EQ(c.bReset, bResetWritten);
    // After the failed level the whole path is opened; only a reset lets the walk go on.
    std::vector<std::wstring> opens = fake.KeyPaths();
    if (c.bReset) {
        EXPECT_EQ(path, opens[opens.size() - 2]);
        EXPECT_EQ(path, opens.back());
    } else {
        EXPECT_EQ(path, opens.back());
        EXPECT_EQ(level, opens[opens.size() - 2]);
    }
}

const DeniedLevelCase kDeniedLevels[] = {
    {"NormalLevel", L"X", false, true},
    {"RedirectionNodeUnderWow64", L"Wow6432Node", true, false},
    {"RedirectionNodeIgnoringCase", L"wow6432NODE", true, false},
    {"RedirectionNodeNameWithoutWow64", L"Wow6432Node", false, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, DeniedLevel, ::testing::ValuesIn(kDeniedLevels),
                         [](const ::testing::TestParamInfo<DeniedLevelCase>& info) { return info.param.pszName; });

TEST_F(RegistryTest, EnsureOpenRepairsOwnDaclOnce)
{
    CFakeSystemCalls fake;
    std::wstring path = Sub(L"Locked");
    fake.DenyKey(path);
    fake.SetDescriptor(L"MACHINE\\" + path, L"D:P(A;;KR;;;%USER%)");
    EXPECT_EQ(S_OK, CRegistry::EnsureOpen(HKEY_LOCAL_MACHINE, path.c_str(), true));
    EXPECT_EQ((std::vector<std::wstring>{path, path}), fake.KeyPaths());
    EXPECT_EQ(3u, fake.DaclWrites().size());
}

TEST_F(RegistryTest, DeniedKeyOfOtherHiveLogsRepairExceptionAndFails)
{
    CFakeSystemCalls fake;
    fake.DenyKey(L"Software");
    EXPECT_EQ(E_FAIL, CRegistry::ForceOpenKey(L"Software\\X", HKEY_CURRENT_CONFIG, false));
    EXPECT_EQ(1u, kqtest::CountTraceLines(
                      L"Error : ZIRA::CRegistry::EnsureOpen(205) : RegistryEnsureAccess Software threw an exception: 6"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"failed to open key: Software\\X at Software (0x80004005)"));
    EXPECT_EQ(std::vector<std::wstring>{L"Software"}, fake.KeyPaths());
}

TEST_F(RegistryTest, OpenWithRepairRepairsRefusedKey)
{
    CFakeSystemCalls fake;
    std::wstring path = Sub(L"Locked");
    ASSERT_TRUE(CRegistry().OpenWithRepair(path.c_str(), HKEY_LOCAL_MACHINE, KEY_READ, true));
    fake.DenyKey(path);
    fake.SetDescriptor(L"MACHINE\\" + path, L"D:P(A;;KR;;;SY)");
    CRegistry key;
    EXPECT_TRUE(key.OpenWithRepair(path.c_str(), HKEY_LOCAL_MACHINE, KEY_READ, false));
    EXPECT_TRUE(key.IsOpen());
    EXPECT_EQ(path, fake.KeyPaths().back());
}

}  // namespace
