// bootpack.exe builds, inspects and extracts packages; wrong input gives a message and exit code 1.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ZiraPackageBuilder.h"
#include "bpTestRun.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"
#include "kqTestSigning.h"

using bptest::DataFile;
using bptest::InspectJson;
using bptest::RunBootpack;
using OJson = nlohmann::ordered_json;

namespace {

const wchar_t* const kArchives[] = {L"TestUI.7z", L"TestProduct.7z", L"TestInstall.7z", L"TestAux.7z"};

std::wstring SignedStub()
{
    return kqtest::SignedCopiesFolder(L"bootpack_stub") + L"Bootling.exe";
}

std::wstring UnsignedStub()
{
    return kqtest::ExeFolder() + L"Bootling.exe";
}

const char kGoodSettings[] = R"({"ProductId": "Test", "IsolationId": "{11111111-2222-3333-4444-555555555555}",
    "IsolationRegistryHive": "Software\\Ostrel\\Test", "VersionMajor": 6})";

std::vector<std::wstring> BuildArgs(const std::wstring& strStub, const std::wstring& strOutput)
{
    return {L"build", L"--sign-later", L"--stub", strStub, L"--ui", DataFile(kArchives[0]), L"--product",
            DataFile(kArchives[1]), L"--install", DataFile(kArchives[2]), L"--aux", DataFile(kArchives[3]),
            L"-o", strOutput};
}

void ExpectExtractGivesArchives(const std::wstring& strPackage)
{
    kqtest::CTempDir out;
    const std::wstring strFolder = out / L"x";
    bptest::RunResult run = RunBootpack({L"extract", strPackage, strFolder});
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    for (const wchar_t* pszName : kArchives) {
        const std::string strOriginal = kqtest::ReadFileBytes(DataFile(pszName));
        ASSERT_FALSE(strOriginal.empty());
        EXPECT_TRUE(strOriginal == kqtest::ReadFileBytes(strFolder + L"\\" + pszName)) << pszName;
    }
}

}  // namespace

// A signed stub keeps its certificate in front of the table; the package itself is unsigned.
TEST(BootpackBuild, SignedStubPackageReadsBackAndExtracts)
{
    kqtest::CTempDir temp;
    const std::wstring strPackage = temp / L"Package.exe";
    bptest::RunResult run = RunBootpack(BuildArgs(SignedStub(), strPackage));
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    EXPECT_FALSE(kqtest::FileExists(strPackage + L".unsigned.tmp"));

    const OJson doc = InspectJson(strPackage);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_GT(doc["stubCertificateLength"].get<unsigned>(), 8u);
    EXPECT_EQ(0u, doc["pe"]["securityDirectory"]["offset"].get<unsigned>());
    EXPECT_FALSE(doc["signed"].get<bool>());
    EXPECT_EQ(doc["pe"]["endOfImage"].get<unsigned long long>() + doc["stubCertificateLength"].get<unsigned long long>(),
              doc["table"]["offset"].get<unsigned long long>());
    EXPECT_EQ(2u, doc["table"]["version"].get<unsigned>());
    const OJson& entries = doc["table"]["entries"];
    ASSERT_EQ(4u, entries.size());
    const unsigned kTypes[] = {5, 1, 3, 4};
    unsigned long long ullNext = doc["table"]["offset"].get<unsigned long long>() + 20 +
                                 doc["table"]["pointerArchiveLength"].get<unsigned long long>();
    for (size_t i = 0; i < 4; ++i) {
        std::wstring strName(kArchives[i]);
        EXPECT_EQ(std::string(strName.begin(), strName.end()), entries[i]["name"].get<std::string>());
        EXPECT_EQ(kTypes[i], entries[i]["type"].get<unsigned>());
        EXPECT_EQ(kqtest::ReadFileBytes(DataFile(kArchives[i])).size(), entries[i]["size"].get<size_t>());
        EXPECT_EQ(ullNext, entries[i]["offset"].get<unsigned long long>());
        ullNext += entries[i]["size"].get<unsigned long long>();
    }
    // The package ends on an 8-byte boundary after at most 7 bytes of padding, ready for a signature.
    EXPECT_EQ(0u, doc["fileSize"].get<unsigned long long>() % 8);
    EXPECT_LT(doc["fileSize"].get<unsigned long long>() - ullNext, 8u);
    ExpectExtractGivesArchives(strPackage);

    // The text form names the same facts.
    run = RunBootpack({L"inspect", strPackage});
    EXPECT_EQ(0u, run.dwExitCode);
    EXPECT_NE(std::string::npos, run.strOut.find("TestProduct.7z  type product (1)")) << run.strOut;
    EXPECT_NE(std::string::npos, run.strOut.find("Signed: no")) << run.strOut;
}

// An unsigned stub is followed by a zero length word, and the table comes after it.
TEST(BootpackBuild, UnsignedStubGetsZeroLengthWord)
{
    kqtest::CTempDir temp;
    const std::wstring strPackage = temp / L"Package.exe";
    bptest::RunResult run = RunBootpack(BuildArgs(UnsignedStub(), strPackage));
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    const OJson doc = InspectJson(strPackage);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(0u, doc["stubCertificateLength"].get<unsigned>());
    EXPECT_EQ(doc["pe"]["endOfImage"].get<unsigned long long>() + 4, doc["table"]["offset"].get<unsigned long long>());
    ExpectExtractGivesArchives(strPackage);
}

TEST(BootpackBuild, WrongInputGivesItsMessageAndExitCode)
{
    kqtest::CTempDir temp;
    const std::wstring strGood = temp / L"good.json";
    ASSERT_TRUE(kqtest::WriteFileBytes(strGood, std::string(kGoodSettings)));
    const std::wstring strNotPe = temp / L"notpe.exe";
    ASSERT_TRUE(kqtest::WriteFileBytes(strNotPe, std::string("MZ but not much else")));
    const struct
    {
        const char* pszName;
        const char* pszSettings;  // nullptr: the good settings
        std::wstring strStub;
        std::wstring strProduct;
        const char* pszExpected;
    } cases[] = {
        {"unknown name", R"({"ProductId": "T", "Isolation": "x"})", SignedStub(), DataFile(kArchives[1]),
         "unknown setting name \"Isolation\""},
        {"wrong type", R"({"ProductId": "T", "VersionMajor": "6"})", SignedStub(), DataFile(kArchives[1]),
         "\"VersionMajor\" (key 1) must be a dword"},
        {"missing 0", R"({"IsolationId": "{x}", "IsolationRegistryHive": "h"})", SignedStub(), DataFile(kArchives[1]),
         "required setting \"ProductId\" (key 0) is missing"},
        {"missing 9", R"({"ProductId": "T", "IsolationRegistryHive": "h"})", SignedStub(), DataFile(kArchives[1]),
         "required setting \"IsolationId\" (key 9) is missing"},
        {"missing 18", R"({"ProductId": "T", "IsolationId": "{x}"})", SignedStub(), DataFile(kArchives[1]),
         "required setting \"IsolationRegistryHive\" (key 18) is missing"},
        {"stub not PE", nullptr, strNotPe, DataFile(kArchives[1]), "notpe.exe: not a PE file"},
        {"stub with symbols", nullptr, kqtest::ExeFolder() + L"exitwith.exe", DataFile(kArchives[1]),
         "follow its last section (a COFF symbol table or other data)"},
        {"signed stub with symbols", nullptr, kqtest::SignedCopiesFolder(L"bootpack_stub") + L"exitwith.exe",
         DataFile(kArchives[1]), "not at its end of image"},
        {"missing archive", nullptr, SignedStub(), temp / L"NoSuch.7z",
         "NoSuch.7z (product): the file does not exist"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.pszName);
        const std::wstring strSettings = temp / L"case.json";
        ASSERT_TRUE(kqtest::WriteFileBytes(strSettings, std::string(item.pszSettings ? item.pszSettings : kGoodSettings)));
        const std::wstring strPackage = temp / L"Out.exe";
        bptest::RunResult run = RunBootpack({L"build", L"--stub", item.strStub, L"--settings", strSettings, L"--ui",
                                             DataFile(kArchives[0]), L"--product", item.strProduct, L"--install",
                                             DataFile(kArchives[2]), L"-o", strPackage});
        ASSERT_TRUE(run.bStarted);
        EXPECT_EQ(1u, run.dwExitCode) << run.strErr;
        EXPECT_NE(std::string::npos, run.strErr.find(item.pszExpected)) << run.strErr;
        if (item.pszSettings) {
            EXPECT_NE(std::string::npos, run.strErr.find("case.json")) << run.strErr;
        }
        EXPECT_FALSE(kqtest::FileExists(strPackage));
    }
}

TEST(BootpackBuild, WrongArgumentsGiveUsageExitCode)
{
    const std::vector<std::vector<std::wstring>> cases = {
        {},
        {L"frobnicate"},
        {L"build", L"--stub", UnsignedStub()},
        {L"build", L"--sign-later", L"--sign", L"x", L"--stub", L"s", L"--ui", L"u", L"--install", L"i", L"--product",
         L"p", L"-o", L"o"},
        {L"inspect"},
        {L"extract", L"only-one"},
    };
    for (const auto& args : cases) {
        bptest::RunResult run = RunBootpack(args);
        EXPECT_EQ(2u, run.dwExitCode) << run.strErr;
        EXPECT_NE(std::string::npos, run.strErr.find("bootpack: ")) << run.strErr;
    }
}

TEST(BootpackInspect, FileWithoutPackageFails)
{
    bptest::RunResult run = RunBootpack({L"inspect", UnsignedStub()});
    EXPECT_EQ(1u, run.dwExitCode);
    EXPECT_NE(std::string::npos, run.strErr.find("no package")) << run.strErr;
}

// The signing command runs as a Windows process; its failure, or a result without a signature,
// stops the build and leaves no output.
TEST(BootpackBuild, SigningCommandFailuresStopTheBuild)
{
    kqtest::CTempDir temp;
    const std::wstring strSettings = temp / L"s.json";
    ASSERT_TRUE(kqtest::WriteFileBytes(strSettings, std::string(kGoodSettings)));
    const std::wstring strExitWith = kqtest::QuoteArgument(kqtest::ExeFolder() + L"exitwith.exe");
    const struct { std::wstring strCommand; const char* pszExpected; } cases[] = {
        {strExitWith + L" 0x80070005", "signing command failed with exit code 0x80070005"},
        {strExitWith + L" 0", "without a signature"},
        {L"no-such-signer.exe {in} {out}", "signing command could not start"},
    };
    for (const auto& item : cases) {
        const std::wstring strPackage = temp / L"Signed.exe";
        bptest::RunResult run = RunBootpack({L"build", L"--stub", SignedStub(), L"--settings", strSettings, L"--ui",
                                             DataFile(kArchives[0]), L"--product", DataFile(kArchives[1]),
                                             L"--install", DataFile(kArchives[2]), L"--sign", item.strCommand, L"-o",
                                             strPackage});
        EXPECT_EQ(1u, run.dwExitCode) << run.strErr;
        EXPECT_NE(std::string::npos, run.strErr.find(item.pszExpected)) << run.strErr;
        EXPECT_FALSE(kqtest::FileExists(strPackage));
        EXPECT_FALSE(kqtest::FileExists(strPackage + L".unsigned.tmp"));
    }
}

// Without a signing command the settings block becomes the whole certificate table.
TEST(BootpackBuild, UnsignedPackageCarriesItsSettings)
{
    kqtest::CTempDir temp;
    const std::wstring strSettings = temp / L"s.json";
    ASSERT_TRUE(kqtest::WriteFileBytes(strSettings, std::string(kGoodSettings)));
    const std::wstring strPackage = temp / L"Package.exe";
    bptest::RunResult run = RunBootpack({L"build", L"--stub", SignedStub(), L"--settings", strSettings, L"--ui",
                                         DataFile(kArchives[0]), L"--product", DataFile(kArchives[1]), L"--install",
                                         DataFile(kArchives[2]), L"-o", strPackage});
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    const OJson doc = InspectJson(strPackage);
    EXPECT_FALSE(doc["signed"].get<bool>());
    EXPECT_EQ(OJson::parse(kGoodSettings)["ProductId"], doc["settings"]["ProductId"]);
    EXPECT_EQ(6u, doc["settings"]["VersionMajor"].get<unsigned>());
    EXPECT_EQ(doc["pe"]["securityDirectory"]["offset"], doc["settingsBlock"]["offset"]);
}

// A stub that carries settings of its own (the block as its whole certificate table) counts as
// unsigned: its block is not taken for a certificate and not carried into the package.
TEST(BootpackBuild, StubWithItsOwnSettingsCountsAsUnsigned)
{
    kqtest::CTempDir temp;
    const std::wstring strStub = temp / L"Bootling.exe";
    ASSERT_TRUE(CopyFileW(UnsignedStub().c_str(), strStub.c_str(), FALSE));
    const std::wstring strSettings = temp / L"s.json";
    ASSERT_TRUE(kqtest::WriteFileBytes(strSettings, std::string(kGoodSettings)));
    bptest::RunResult run = RunBootpack({L"settings", L"import", strStub, strSettings});
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;

    const std::wstring strPackage = temp / L"Package.exe";
    run = RunBootpack(BuildArgs(strStub, strPackage));
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    const OJson doc = InspectJson(strPackage);
    EXPECT_EQ(0u, doc["stubCertificateLength"].get<unsigned>());
    EXPECT_TRUE(doc["settingsBlock"].is_null());
    ExpectExtractGivesArchives(strPackage);
}

// Entry names come from the package: a name that Windows maps to a device, or trims into another
// name, is refused before the folder is made or anything is written.
TEST(BootpackExtract, RefusesNamesWindowsWouldNotKeep)
{
    kqtest::CTempDir temp;
    const std::string stub = ziratest::UnsignedStub(UnsignedStub());
    ASSERT_FALSE(stub.empty());
    const wchar_t* const kRefused[] = {L"AUX", L"NUL.txt", L"com1.7z", L"CON .7z", L"a.", L"a ", L"a.7z.", L"sub\\a.7z",
                                       L"a:b", L"a*b", L"..", L"."};
    for (const wchar_t* pszName : kRefused) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(pszName)));
        const std::wstring strPackage = temp / L"Bad.exe";
        ASSERT_TRUE(kqtest::WriteFileBytes(
            strPackage, ziratest::BuildPackage(stub, {{L"Good.7z", "good", 1}, {pszName, "bad", 4}})));
        const std::wstring strFolder = temp / L"out";
        bptest::RunResult run = RunBootpack({L"extract", strPackage, strFolder});
        EXPECT_EQ(1u, run.dwExitCode) << run.strErr;
        EXPECT_NE(std::string::npos, run.strErr.find("is not a plain file name")) << run.strErr;
        EXPECT_FALSE(kqtest::FileExists(strFolder));
    }

    // The same package with plain names extracts, so the refusals above are the names' doing.
    const std::wstring strPackage = temp / L"Good.exe";
    ASSERT_TRUE(kqtest::WriteFileBytes(
        strPackage, ziratest::BuildPackage(stub, {{L"Good.7z", "good", 1}, {L"a.b.7z", "fine", 4}})));
    const std::wstring strFolder = temp / L"out";
    bptest::RunResult run = RunBootpack({L"extract", strPackage, strFolder});
    ASSERT_EQ(0u, run.dwExitCode) << run.strErr;
    EXPECT_EQ("good", kqtest::ReadFileBytes(strFolder + L"\\Good.7z"));
    EXPECT_EQ("fine", kqtest::ReadFileBytes(strFolder + L"\\a.b.7z"));
}

// Two entries whose names differ only in case would be one file in the folder, the second
// silently replacing the first: extract refuses the package before writing anything.
TEST(BootpackExtract, RefusesNamesThatDifferOnlyInCase)
{
    kqtest::CTempDir temp;
    const std::string stub = ziratest::UnsignedStub(UnsignedStub());
    ASSERT_FALSE(stub.empty());
    const std::wstring strPackage = temp / L"Twice.exe";
    ASSERT_TRUE(kqtest::WriteFileBytes(
        strPackage, ziratest::BuildPackage(stub, {{L"A.7z", "first", 1}, {L"Good.7z", "good", 3}, {L"a.7z", "second", 4}})));
    const std::wstring strFolder = temp / L"out";
    bptest::RunResult run = RunBootpack({L"extract", strPackage, strFolder});
    EXPECT_EQ(1u, run.dwExitCode) << run.strErr;
    EXPECT_NE(std::string::npos, run.strErr.find("entry name \"a.7z\" is given twice")) << run.strErr;
    EXPECT_FALSE(kqtest::FileExists(strFolder));
}
