// A package signed with a throwaway certificate (on the Linux side, by the ctest fixture) gets
// its settings through bootpack, and its signature stays valid through every settings edit.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bpTestRun.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"
#include "kqTestSigning.h"

using bptest::DataFile;
using bptest::InspectJson;
using bptest::RunBootpack;
using OJson = nlohmann::ordered_json;

namespace {

const char kSettings[] = R"({
  "ProductId": "Vantry",
  "VersionMajor": 6,
  "VersionMinor": 0,
  "VersionBuild": 0,
  "VersionRevision": 94,
  "DefaultLanguage": "0901",
  "ProductName": "Vantry Product",
  "IsolationId": "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
  "IsAddOn": false,
  "12": {"type": "bool", "value": true},
  "BuildId": "{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}",
  "IsolationRegistryHive": "Software\\Ostrel\\Vantry",
  "RemoveLanguages": "0407 040c",
  "ShowErrors": true,
  "TwoPhase": true,
  "5000": {"type": "uint64", "value": 18446744073709551615},
  "5001": {"type": "binary", "value": "deadbeef"},
  "5002": {"type": "guid", "value": "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
  "5003": {"type": "object", "value": {"ProductId": "inner"}}
})";

class SignedPackage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strPackage = m_Temp / L"Package.exe";
        ASSERT_TRUE(CopyFileW((kqtest::SignedCopiesFolder(L"bootpack_signed") + L"Package.exe").c_str(),
                              m_strPackage.c_str(), FALSE));
        ASSERT_EQ(0, kqtest::VerifyFileSignature(m_strPackage));
        m_strSettings = m_Temp / L"settings.json";
        ASSERT_TRUE(kqtest::WriteFileBytes(m_strSettings, std::string(kSettings)));
        bptest::RunResult run = RunBootpack({L"settings", L"import", m_strPackage, m_strSettings});
        ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    }

    kqtest::CTempDir m_Temp;
    std::wstring m_strPackage;
    std::wstring m_strSettings;
};

}  // namespace

TEST_F(SignedPackage, SettingsBlockKeepsTheSignatureAndRoundTrips)
{
    EXPECT_EQ(0, kqtest::VerifyFileSignature(m_strPackage));
    const OJson doc = InspectJson(m_strPackage);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_TRUE(doc["signed"].get<bool>());
    EXPECT_EQ("0x00000000", doc["signatureCheck"].get<std::string>());
    EXPECT_EQ(1u, doc["settingsBlock"]["version"].get<unsigned>());
    EXPECT_EQ(doc["pe"]["securityDirectory"]["offset"].get<unsigned>() + doc["certificateLength"].get<unsigned>(),
              doc["settingsBlock"]["offset"].get<unsigned>());
    // Every setting comes back as written (keys ascending, named keys by name).
    const OJson expected = OJson::parse(kSettings);
    EXPECT_EQ(expected.size(), doc["settings"].size());
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_EQ(it.value(), doc["settings"][it.key()]) << it.key();

    const std::wstring strExport = m_Temp / L"export.json";
    bptest::RunResult run = RunBootpack({L"settings", L"export", m_strPackage, strExport});
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    EXPECT_EQ(doc["settings"], OJson::parse(kqtest::ReadFileBytes(strExport)));
}

TEST_F(SignedPackage, SetAndRemoveKeepTheSignature)
{
    const struct { std::vector<std::wstring> args; } edits[] = {
        {{L"set", L"VersionMinor", L"7"}},
        {{L"set", L"20001", L"string", L"/q /norestart"}},
        {{L"set", L"6000", L"dword", L"0x10"}},
        {{L"remove", L"ShowErrors"}},
    };
    for (const auto& edit : edits) {
        std::vector<std::wstring> args = {L"settings", edit.args[0], m_strPackage};
        args.insert(args.end(), edit.args.begin() + 1, edit.args.end());
        bptest::RunResult run = RunBootpack(args);
        ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
        EXPECT_EQ(0, kqtest::VerifyFileSignature(m_strPackage));
    }
    EXPECT_EQ("7\n", RunBootpack({L"settings", L"get", m_strPackage, L"VersionMinor"}).strOut);
    EXPECT_EQ("/q /norestart\n", RunBootpack({L"settings", L"get", m_strPackage, L"FirstCommandLine"}).strOut);
    EXPECT_EQ("16\n", RunBootpack({L"settings", L"get", m_strPackage, L"6000"}).strOut);
    bptest::RunResult gone = RunBootpack({L"settings", L"get", m_strPackage, L"ShowErrors"});
    EXPECT_EQ(1u, gone.dwExitCode);
    EXPECT_NE(std::string::npos, gone.strErr.find("\"ShowErrors\" (key 53) is not set")) << gone.strErr;
}

TEST_F(SignedPackage, EditErrorsChangeNothing)
{
    const std::string strBefore = kqtest::ReadFileBytes(m_strPackage);
    const struct { std::vector<std::wstring> args; const char* pszExpected; } cases[] = {
        {{L"set", L"NoSuchName", L"1"}, "unknown setting name \"NoSuchName\""},
        {{L"set", L"VersionMajor", L"six"}, "\"VersionMajor\" (key 1): \"six\" is not an integer"},
        {{L"set", L"VersionMajor", L"string", L"6"}, "\"VersionMajor\" (key 1) must be a dword, not a string"},
        {{L"set", L"7000", L"5"}, "key 7000 is not a named setting: give its type"},
        {{L"remove", L"IsolationId"}, "\"IsolationId\" (key 9) is required"},
    };
    for (const auto& item : cases) {
        std::vector<std::wstring> args = {L"settings", item.args[0], m_strPackage};
        args.insert(args.end(), item.args.begin() + 1, item.args.end());
        bptest::RunResult run = RunBootpack(args);
        EXPECT_EQ(1u, run.dwExitCode) << run.strErr;
        EXPECT_NE(std::string::npos, run.strErr.find(item.pszExpected)) << run.strErr;
    }
    EXPECT_TRUE(strBefore == kqtest::ReadFileBytes(m_strPackage));
}

TEST_F(SignedPackage, ExtractGivesEveryArchiveBack)
{
    kqtest::CTempDir out;
    bptest::RunResult run = RunBootpack({L"extract", m_strPackage, out.Path()});
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    for (const wchar_t* pszName : {L"TestUI.7z", L"TestProduct.7z", L"TestInstall.7z", L"TestAux.7z"}) {
        const std::string strOriginal = kqtest::ReadFileBytes(DataFile(pszName));
        ASSERT_FALSE(strOriginal.empty());
        EXPECT_TRUE(strOriginal == kqtest::ReadFileBytes(out / pszName)) << pszName;
    }
}
