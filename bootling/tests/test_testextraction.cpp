// The test extraction end to end: the sample package (tools/samplepackage/make.sh, run by ctest
// before this test: real 7z archives, the freshly built program signed as its stub, the package
// signed and its settings imported) is started with TEST and checked from the outside: exit
// code, the files written, the stub's signature fields and signature, the product's attributes
// and times, and the log.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "BootlingInFolder.h"
#include "kqTestFiles.h"
#include "kqTestPE.h"
#include "kqTestProcess.h"
#include "kqTestSigning.h"

namespace {

const DWORD kCancelled = 0x800704C7;
const DWORD kNotImplemented = 0x80004001;
const wchar_t kCancelLine[] =
    L"Error : CInstallManager::CheckTestMode(844) : /TEST specified but canceled. make sure /qn is specified.";

std::wstring Sample(const std::wstring& strName)
{
    return kqtest::ExeFolder() + L"testdata\\sample\\" + strName;
}

// The package in a folder of its own, logging into it; each run starts a fresh log.
class TestExtraction : public ::testing::Test, public bootlingtest::CBootlingInFolder
{
protected:
    TestExtraction() : CBootlingInFolder(Sample(L"VantrySetup.exe"), L"VantrySetup.exe")
    {
        m_tree.SetDWORD(kOut, L"DebugType", 1);
    }

    DWORD Run(const std::wstring& strSwitches)
    {
        DeleteFileW(LogPath().c_str());
        return RunProgram(strSwitches);
    }

    // Lines that end with the text (the prefixes before it vary).
    size_t CountLogLines(const std::wstring& strEnd) const
    {
        size_t n = 0;
        for (const std::wstring& line : LogLines())
            n += line.size() >= strEnd.size() && line.compare(line.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
        return n;
    }
};

TEST_F(TestExtraction, WritesEveryEntryAndTheStubWithItsOwnSignature)
{
    const std::wstring strOut = m_dir / L"out";
    ASSERT_EQ(0u, Run(L"/qn /TEST " + kqtest::QuoteArgument(strOut)));
    EXPECT_EQ(1u, CountLogLines(L"Information : Bootling: Returned (0x00000000)"));

    const std::vector<std::wstring> expected = {L"CacheStub.exe", L"Install.7z", L"Product.7z", L"UI.7z"};
    EXPECT_EQ(expected, kqtest::ListFiles(strOut)) << "no Archive folder without TESTMODE";
    for (const wchar_t* pszArchive : {L"UI.7z", L"Install.7z", L"Product.7z"}) {
        const std::string original = kqtest::ReadFileBytes(Sample(L"archives\\") + pszArchive);
        ASSERT_FALSE(original.empty()) << pszArchive;
        EXPECT_TRUE(original == kqtest::ReadFileBytes(strOut + L"\\" + pszArchive)) << pszArchive;
    }

    // CacheStub.exe is the signed stub again: same bytes, its security directory describing only
    // its own certificate at the end of its image, and a header checksum that matches.
    const std::wstring strCacheStub = strOut + L"\\CacheStub.exe";
    const std::string stub = kqtest::ReadFileBytes(Sample(L"stub\\Bootling.exe"));
    const std::string cacheStub = kqtest::ReadFileBytes(strCacheStub);
    const kqtest::PEFacts stubFields = kqtest::ReadPEFacts(stub);
    const kqtest::PEFacts fields = kqtest::ReadPEFacts(cacheStub);
    ASSERT_TRUE(stubFields.bValid);
    ASSERT_TRUE(fields.bValid);
    ASSERT_EQ(stub.size(), cacheStub.size());
    ASSERT_NE(0u, stubFields.dwCertificateSize);
    EXPECT_EQ(stubFields.dwCertificateOffset, fields.dwCertificateOffset);
    EXPECT_EQ(stubFields.dwCertificateSize, fields.dwCertificateSize);
    EXPECT_EQ(cacheStub.size(), static_cast<size_t>(fields.dwCertificateOffset) + fields.dwCertificateSize);
    std::string withoutChecksum = cacheStub;
    std::string stubWithoutChecksum = stub;
    withoutChecksum.replace(fields.checksumOffset, 4, 4, '\0');
    stubWithoutChecksum.replace(fields.checksumOffset, 4, 4, '\0');
    EXPECT_TRUE(withoutChecksum == stubWithoutChecksum) << "every byte but the checksum as signed";
    EXPECT_EQ(kqtest::ImageHelpChecksum(strCacheStub), fields.dwChecksum);
    EXPECT_EQ(0, kqtest::VerifyFileSignature(strCacheStub));

    // Left for osslsigncode, which verifies it on the Linux side after this test.
    const std::wstring strKept = kqtest::ExeFolder() + L"testextract";
    CreateDirectoryW(strKept.c_str(), nullptr);
    EXPECT_TRUE(CopyFileW(strCacheStub.c_str(), (strKept + L"\\CacheStub.exe").c_str(), FALSE));
}

TEST_F(TestExtraction, TestModeUnpacksTheProductWithItsAttributesAndTimes)
{
    struct Case
    {
        const wchar_t* pszTestMode;
        bool bUnpacked;
    };
    const Case cases[] = {{L"1", true}, {L"2", true}, {L"0", false}, {L"off", false}};
    const std::wstring strSource = Sample(L"archives\\src\\product");
    const std::vector<std::wstring> product = kqtest::ListFiles(strSource);
    ASSERT_EQ(3u, product.size());
    // make.sh stamps the product's files with 2024-03-01 12:00:00 UTC.
    const FILETIME ftStamp = kqtest::UtcTime(2024, 3, 1, 12);
    int nRun = 0;
    for (const Case& c : cases) {
        const std::wstring strOut = m_dir / (L"out" + std::to_wstring(++nRun));
        ASSERT_EQ(0u, Run(L"/q /TEST " + kqtest::QuoteArgument(strOut) + L" /TESTMODE " + c.pszTestMode))
            << c.pszTestMode;
        const std::wstring strArchive = strOut + L"\\Archive";
        if (!c.bUnpacked) {
            EXPECT_FALSE(kqtest::FileExists(strArchive)) << c.pszTestMode;
            EXPECT_EQ(4u, kqtest::ListFiles(strOut).size()) << c.pszTestMode;
            continue;
        }
        ASSERT_EQ(product, kqtest::ListFiles(strArchive)) << c.pszTestMode;
        for (const std::wstring& strName : product) {
            const std::wstring strFile = strArchive + L"\\" + strName;
            EXPECT_TRUE(kqtest::ReadFileBytes(strSource + L"\\" + strName) == kqtest::ReadFileBytes(strFile))
                << strName.c_str();
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            ASSERT_TRUE(GetFileAttributesExW(strFile.c_str(), GetFileExInfoStandard, &data)) << strName.c_str();
            const bool bReadOnly = strName == L"Vantry\\docs\\license.txt";
            EXPECT_EQ(bReadOnly, (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) << strName.c_str();
            EXPECT_EQ(ftStamp.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime) << strName.c_str();
            EXPECT_EQ(ftStamp.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime) << strName.c_str();
        }
    }
}

// Without silent mode, or into a path that is already there, nothing is written: the run is
// cancelled with the documented line.
TEST_F(TestExtraction, RefusalsAreCancelledWithTheirLogLine)
{
    const std::wstring strExisting = m_dir / L"existing";
    ASSERT_TRUE(CreateDirectoryW(strExisting.c_str(), nullptr));
    const std::wstring strNew = m_dir / L"new";
    struct Case
    {
        const char* pszName;
        std::wstring strSwitches;
    };
    const Case cases[] = {
        {"no silent switch", L"/TEST " + kqtest::QuoteArgument(strNew)},
        {"reduced UI is not silent", L"/qb /TEST " + kqtest::QuoteArgument(strNew) + L" /TESTMODE 1"},
        {"existing folder", L"/qn /TEST " + kqtest::QuoteArgument(strExisting)},
        {"the package itself", L"/qn /TEST " + kqtest::QuoteArgument(m_strProgram)},
        // An empty path would name the current folder.
        {"empty quoted path", L"/qn /TEST \"\""},
    };
    const std::string package = kqtest::ReadFileBytes(m_strProgram);
    for (const Case& c : cases) {
        EXPECT_EQ(kCancelled, Run(c.strSwitches)) << c.pszName;
        EXPECT_EQ(1u, CountLogLines(kCancelLine)) << c.pszName;
        EXPECT_EQ(1u, CountLogLines(L"Information : Bootling: Returned (0x800704c7)")) << c.pszName;
        EXPECT_FALSE(kqtest::FileExists(strNew)) << c.pszName;
        EXPECT_TRUE(kqtest::ListFiles(strExisting).empty()) << c.pszName;
        EXPECT_TRUE(package == kqtest::ReadFileBytes(m_strProgram)) << c.pszName;
    }
}

// The relaunch from the RunOnce key is not built: the run says so and goes on as if RUNONCE were
// absent, here into the test extraction.
TEST_F(TestExtraction, RunOnceIsReportedAndTheRunGoesOn)
{
    const std::wstring strOut = m_dir / L"out";
    ASSERT_EQ(0u, Run(L"/RUNONCE /PRODID {00000000-0000-0000-0000-000000000001} /qn /TEST " +
                      kqtest::QuoteArgument(strOut)));
    EXPECT_EQ(4u, kqtest::ListFiles(strOut).size());
    EXPECT_EQ(1u, CountLogLines(L"Warning : CInstallManager::RunOnceRelaunch(61) : the relaunch from the RunOnce "
                                L"key is not built; going on without it"));
}

// TEST without a value is no test extraction: the run goes on as a normal one (which stops
// where the install run would begin).
TEST_F(TestExtraction, TestWithoutValueIsIgnored)
{
    for (const wchar_t* pszSwitches : {L"/qn /TEST", L"/qn /TEST /TESTMODE 1"}) {
        EXPECT_EQ(kNotImplemented, Run(pszSwitches)) << pszSwitches;
        EXPECT_EQ(0u, CountLogLines(kCancelLine)) << pszSwitches;
        for (const std::wstring& line : LogLines())
            EXPECT_EQ(std::wstring::npos, line.find(L"test extraction")) << line.c_str();
    }
    EXPECT_EQ((std::vector<std::wstring>{L"VantrySetup.exe", L"isolate.ini", L"logs\\CacheStub.log"}),
              kqtest::ListFiles(m_dir.Path()));
}

}  // namespace
