// The install, resource and test-mode unpackers on packages built from real 7z archives (made
// by the bootling_package fixture) behind a signed copy of the program or the plain program.
#include <gtest/gtest.h>

#include <windows.h>

#include "BootlingTrace.h"
#include "InstallUnpacker.h"
#include "ResourceUnpacker.h"
#include "TestModeUnpacker.h"
#include "ZiraPackageBuilder.h"
#include "kqMemoryDebugOutput.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqTestFiles.h"
#include "kqTestPE.h"
#include "kqTestProcess.h"
#include "kqTestSigning.h"

using namespace ziratest;

namespace {

// Receives the program's trace lines while a test runs.
class CCapturedTrace : public kqtest::CMemoryDebugOutput
{
public:
    CCapturedTrace() { GetProcessDebugOutput().SetParent(this); }
    ~CCapturedTrace() override { GetProcessDebugOutput().SetParent(nullptr); }
};

std::wstring DataFolder()
{
    return kqtest::ExeFolder() + L"testdata\\package\\";
}

std::string Archive(const wchar_t* pszName)
{
    return kqtest::ReadFileBytes(DataFolder() + pszName);
}

// The signed program as a package begins: its image and its own certificate, as long as the
// certificate's first u32 says. *pdwLength receives that length.
std::string SignedStub(DWORD* pdwLength)
{
    const std::wstring strSigned = kqtest::SignedCopiesFolder(L"zira_signed") + L"Bootling.exe";
    std::string bytes = kqtest::ReadFileBytes(strSigned);
    const DWORD dwEnd = EndOfImage(strSigned);
    if (dwEnd == 0 || dwEnd + 8 > bytes.size())
        return std::string();
    memcpy(pdwLength, &bytes[dwEnd], 4);
    if (*pdwLength == 0 || dwEnd + *pdwLength > bytes.size())
        return std::string();
    bytes.resize(dwEnd + *pdwLength);
    return bytes;
}

std::vector<PackageFile> AllArchives()
{
    return {{L"ProductuiPackage.7z", Archive(L"ui.7z"), ZIRA::eFileType_UIPackage},
            {L"Product.7z", Archive(L"product.7z"), ZIRA::eFileType_ProductPackage},
            {L"ProductInstallPackage.7z", Archive(L"install.7z"), ZIRA::eFileType_InstallPackage},
            {L"ProductScanner.7z", Archive(L"extra.7z"), ZIRA::eFileType_AuxPackage}};
}

// The whole content of the stream under the key, read from its position 0.
std::string StreamContent(IKeyValueCollection* pStreams, DWORD dwKey)
{
    CSmartPtr<IObjectBase> spObject;
    if (!pStreams->GetObjectRef(dwKey, spObject.Receive()))
        return "<missing>";
    CSmartPtr<IByteStream> spStream;
    if (FAILED(spObject->QueryInterface(IByteStream::kIid, spStream.ReceiveVoid())) || !spStream)
        return "<no stream>";
    ULONGLONG ullSize = 0;
    if (!spStream->GetSize(&ullSize) || !spStream->SetPosition(0))
        return "<no size>";
    std::string data(static_cast<size_t>(ullSize), '\0');
    if (ullSize && !spStream->Read(&data[0], static_cast<DWORD>(ullSize)))
        return "<read failed>";
    return data;
}

class UnpackerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kqtest::FileExists(DataFolder() + L"ui.7z")) << "the bootling_package fixture did not run";
        m_stub = SignedStub(&m_dwStubCertificate);
        ASSERT_FALSE(m_stub.empty()) << "no signed copy from the zira_signed fixture";
        m_dwEndOfImage = EndOfImage(kqtest::SignedCopiesFolder(L"zira_signed") + L"Bootling.exe");
        m_strCache = m_dir.File(L"cache");
    }

    std::wstring WritePackage(const std::string& stub, const std::vector<PackageFile>& files,
                              const wchar_t* pszName = L"package.exe")
    {
        std::wstring strPath = m_dir.File(pszName);
        EXPECT_TRUE(kqtest::WriteFileBytes(strPath, BuildPackage(stub, files)));
        return strPath;
    }

    static void ExpectSameFile(const std::wstring& strExpected, const std::wstring& strActual)
    {
        ASSERT_TRUE(kqtest::FileExists(strActual)) << std::string(strActual.begin(), strActual.end());
        EXPECT_TRUE(kqtest::ReadFileBytes(strExpected) == kqtest::ReadFileBytes(strActual));
    }

    kqtest::CTempDir m_dir;
    std::string m_stub;
    DWORD m_dwStubCertificate = 0;
    DWORD m_dwEndOfImage = 0;
    std::wstring m_strCache;
};

TEST_F(UnpackerTest, FirstRunUnpacksStubAndUIAndHandsOnTheStreams)
{
    const std::vector<PackageFile> files = AllArchives();
    const std::wstring strPackage = WritePackage(m_stub, files);
    // Left over from an interrupted run: wiped.
    ASSERT_TRUE(CreateDirectoryW(m_strCache.c_str(), nullptr));
    ASSERT_TRUE(kqtest::WriteFileBytes(m_strCache + L"\\stale.txt", "stale"));

    CCapturedTrace trace;
    CSmartPtr<IKeyValueCollection> spStreams = NewKeyValueCollection();
    CInstallUnpacker unpacker;
    ASSERT_EQ(unpacker.ExtractPackage(spStreams.Get(), m_strCache.c_str(), strPackage.c_str()), S_OK);

    EXPECT_FALSE(kqtest::FileExists(m_strCache + L"\\stale.txt"));
    EXPECT_TRUE(kqtest::FileExists(m_strCache + L"\\extract.dat"));
    ExpectSameFile(DataFolder() + L"ui\\SetupShell.txt", m_strCache + L"\\SetupShell.txt");
    ExpectSameFile(DataFolder() + L"ui\\lang\\1033\\SetupShell.loc", m_strCache + L"\\lang\\1033\\SetupShell.loc");
    ExpectSameFile(DataFolder() + L"ui\\lang\\1033\\strings.bin", m_strCache + L"\\lang\\1033\\strings.bin");

    EXPECT_EQ(spStreams->GetCount(), 3u);
    EXPECT_TRUE(StreamContent(spStreams.Get(), ePackageStreamKey_Product) == files[1].data);
    EXPECT_TRUE(StreamContent(spStreams.Get(), ePackageStreamKey_InstallPackage) == files[2].data);
    EXPECT_TRUE(StreamContent(spStreams.Get(), ePackageStreamKey_AuxPackage) == files[3].data);

    // The cached program describes only its own certificate again, is correctly summed and
    // still validly signed.
    const std::wstring strCacheStub = m_strCache + L"\\CacheStub.exe";
    ASSERT_TRUE(kqtest::FileExists(strCacheStub));
    EXPECT_EQ(kqtest::ReadFileBytes(strCacheStub).size(), m_stub.size());
    const kqtest::PEFacts entry = kqtest::ReadPEFacts(kqtest::ReadFileBytes(strCacheStub));
    ASSERT_TRUE(entry.bValid);
    EXPECT_EQ(entry.dwCertificateOffset, m_dwEndOfImage);
    EXPECT_EQ(entry.dwCertificateSize, m_dwStubCertificate);
    EXPECT_EQ(entry.dwChecksum, kqtest::ImageHelpChecksum(strCacheStub));
    EXPECT_EQ(kqtest::VerifyFileSignature(strCacheStub), 0);

    const int nStart = trace.Find(L"Extracting: UIPackage");
    EXPECT_GE(nStart, 0);
    EXPECT_GT(trace.Find(L"Done Extracting: UIPackage"), nStart);
    EXPECT_EQ(trace.Count(L"Finish: fix stub signature"), 1u);
}

TEST_F(UnpackerTest, SecondRunKeepsTheCacheAndStillHandsOnTheStreams)
{
    const std::vector<PackageFile> files = AllArchives();
    const std::wstring strPackage = WritePackage(m_stub, files);
    {
        CSmartPtr<IKeyValueCollection> spStreams = NewKeyValueCollection();
        CInstallUnpacker first;
        ASSERT_EQ(first.ExtractPackage(spStreams.Get(), m_strCache.c_str(), strPackage.c_str()), S_OK);
    }
    ASSERT_TRUE(kqtest::WriteFileBytes(m_strCache + L"\\CacheStub.exe", "kept"));
    ASSERT_TRUE(kqtest::WriteFileBytes(m_strCache + L"\\SetupShell.txt", "kept"));
    ASSERT_TRUE(kqtest::WriteFileBytes(m_strCache + L"\\mine.txt", "kept"));

    CCapturedTrace trace;
    CSmartPtr<IKeyValueCollection> spStreams = NewKeyValueCollection();
    CInstallUnpacker second;
    ASSERT_EQ(second.ExtractPackage(spStreams.Get(), m_strCache.c_str(), strPackage.c_str()), S_OK);
    EXPECT_TRUE(second.m_bExtractedBefore);
    EXPECT_EQ(trace.Count(L"Information : extraction was completed in a previous session -- nothing extracted"), 1u);
    EXPECT_EQ(trace.Count(L"Extracting: UIPackage"), 0u);
    EXPECT_EQ(trace.Count(L"Start: extract stub"), 0u);
    for (const wchar_t* pszName : {L"\\CacheStub.exe", L"\\SetupShell.txt", L"\\mine.txt"})
        EXPECT_EQ(kqtest::ReadFileBytes(m_strCache + pszName), "kept");
    EXPECT_TRUE(StreamContent(spStreams.Get(), ePackageStreamKey_Product) == files[1].data);
    EXPECT_TRUE(StreamContent(spStreams.Get(), ePackageStreamKey_InstallPackage) == files[2].data);
    EXPECT_TRUE(StreamContent(spStreams.Get(), ePackageStreamKey_AuxPackage) == files[3].data);
}

TEST_F(UnpackerTest, UnsignedProgramGetsAnEmptySecurityEntry)
{
    const std::string stub = UnsignedStub(kqtest::ExeFolder() + L"Bootling.exe");
    ASSERT_FALSE(stub.empty());
    const std::wstring strPackage = WritePackage(stub, AllArchives());
    CSmartPtr<IKeyValueCollection> spStreams = NewKeyValueCollection();
    CInstallUnpacker unpacker;
    ASSERT_EQ(unpacker.ExtractPackage(spStreams.Get(), m_strCache.c_str(), strPackage.c_str()), S_OK);
    const std::wstring strCacheStub = m_strCache + L"\\CacheStub.exe";
    const kqtest::PEFacts entry = kqtest::ReadPEFacts(kqtest::ReadFileBytes(strCacheStub));
    ASSERT_TRUE(entry.bValid);
    EXPECT_EQ(entry.dwCertificateOffset, 0u);
    EXPECT_EQ(entry.dwCertificateSize, 0u);
    EXPECT_EQ(entry.dwChecksum, kqtest::ImageHelpChecksum(strCacheStub));
    EXPECT_EQ(spStreams->GetCount(), 3u);
}

TEST_F(UnpackerTest, PackageWithoutUIArchive)
{
    std::vector<PackageFile> files = AllArchives();
    files.erase(files.begin());
    files.pop_back();
    CCapturedTrace trace;
    CSmartPtr<IKeyValueCollection> spStreams = NewKeyValueCollection();
    CInstallUnpacker unpacker;
    ASSERT_EQ(unpacker.ExtractPackage(spStreams.Get(), m_strCache.c_str(), WritePackage(m_stub, files).c_str()), S_OK);
    EXPECT_EQ(trace.Count(L"Extracting: UIPackage"), 0u);
    EXPECT_TRUE(kqtest::FileExists(m_strCache + L"\\CacheStub.exe"));
    EXPECT_TRUE(kqtest::FileExists(m_strCache + L"\\extract.dat"));
    EXPECT_TRUE(spStreams->Exists(ePackageStreamKey_Product));
    EXPECT_TRUE(spStreams->Exists(ePackageStreamKey_InstallPackage));
    EXPECT_FALSE(spStreams->Exists(ePackageStreamKey_AuxPackage));
}

TEST_F(UnpackerTest, FailedRunLeavesNoMarker)
{
    std::vector<PackageFile> files = AllArchives();
    files[0].data = PatternBytes(5000, 3);  // no 7z archive
    CCapturedTrace trace;
    CSmartPtr<IKeyValueCollection> spStreams = NewKeyValueCollection();
    CInstallUnpacker unpacker;
    EXPECT_EQ(unpacker.ExtractPackage(spStreams.Get(), m_strCache.c_str(), WritePackage(m_stub, files).c_str()),
              static_cast<HRESULT>(0x80047C73));
    EXPECT_EQ(trace.Count(L"Error : CInstallUnpacker::HandleUIPackage(291) : archive.Open failed: 0x80047c73"), 1u);
    EXPECT_FALSE(kqtest::FileExists(m_strCache + L"\\extract.dat"));

    EXPECT_EQ(unpacker.ExtractPackage(nullptr, m_strCache.c_str(), L"x"), E_INVALIDARG);
    EXPECT_EQ(trace.Count(L"Error : CInstallUnpacker::ExtractPackage(31) : invalid arg"), 1u);
    EXPECT_EQ(unpacker.HandleStub(nullptr, 10), E_INVALIDARG);
    EXPECT_EQ(trace.Count(L"Error : Finish: extract stub (0x80070057)"), 1u);
}

TEST_F(UnpackerTest, ResourceUnpackerTakesOneItem)
{
    const std::wstring strPackage = WritePackage(m_stub, AllArchives());
    CCapturedTrace trace;
    CResourceUnpacker unpacker;
    unpacker.m_strItemName = L"LANG\\1033\\setupshell.loc";
    unpacker.m_strOutputPath = m_dir.File(L"out\\SetupShell.loc");
    ASSERT_EQ(unpacker.Extract(strPackage.c_str()), S_OK);
    ExpectSameFile(DataFolder() + L"ui\\lang\\1033\\SetupShell.loc", unpacker.m_strOutputPath);
    EXPECT_EQ(trace.Count(L"Done Extracting: ProductuiPackage.7z"), 1u);
    EXPECT_FALSE(kqtest::FileExists(m_dir.File(L"CacheStub.exe")));

    CResourceUnpacker missing;
    missing.m_strItemName = L"lang\\1031\\SetupShell.loc";
    missing.m_strOutputPath = m_dir.File(L"out\\missing.loc");
    EXPECT_EQ(missing.Extract(strPackage.c_str()), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(trace.Count(L"Error : CResourceUnpacker::OnExtractStream(67) : archive.ExtractFile(lang\\1031\\SetupShell.loc, "),
              1u);
    EXPECT_FALSE(kqtest::FileExists(missing.m_strOutputPath));
}

TEST_F(UnpackerTest, TestModeWritesEveryFileAndCanUnpackTheProduct)
{
    std::vector<PackageFile> files = AllArchives();
    files.push_back({L"notes.bin", PatternBytes(16385, 9), 42});
    const std::wstring strPackage = WritePackage(m_stub, files);
    for (bool bUnpack : {false, true}) {
        SCOPED_TRACE(bUnpack);
        const std::wstring strTarget = m_dir.File(bUnpack ? L"unpacked" : L"plain");
        CTestModeUnpacker unpacker;
        unpacker.m_strTargetFolder = strTarget;
        unpacker.m_bUnpackProduct = bUnpack;
        ASSERT_EQ(unpacker.Extract(strPackage.c_str()), S_OK);
        for (const PackageFile& file : files)
            EXPECT_TRUE(kqtest::ReadFileBytes(strTarget + L"\\" + file.strName) == file.data);
        EXPECT_TRUE(kqtest::FileExists(strTarget + L"\\CacheStub.exe"));
        EXPECT_EQ(kqtest::FileExists(strTarget + L"\\Archive\\data.txt"), bUnpack);
        if (bUnpack) {
            ExpectSameFile(DataFolder() + L"product\\data.txt", strTarget + L"\\Archive\\data.txt");
            ExpectSameFile(DataFolder() + L"product\\bin\\app.exe", strTarget + L"\\Archive\\bin\\app.exe");
        }
    }
}

TEST_F(UnpackerTest, TestModeRefusesNamesThatLeaveTheFolder)
{
    CCapturedTrace trace;
    for (const wchar_t* pszName : {L"..\\escaped.bin", L"C:\\escaped.bin", L"\\escaped.bin", L"a.bin:stream"}) {
        std::vector<PackageFile> files = {{pszName, "data", 42}};
        CTestModeUnpacker unpacker;
        unpacker.m_strTargetFolder = m_dir.File(L"inner\\target");
        EXPECT_EQ(unpacker.Extract(WritePackage(m_stub, files).c_str()), HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    }
    EXPECT_EQ(trace.Count(L"file name leaves the target folder, refused"), 4u);
    EXPECT_FALSE(kqtest::FileExists(m_dir.File(L"inner\\escaped.bin")));
    EXPECT_FALSE(kqtest::FileExists(L"C:\\escaped.bin"));
}

}  // namespace
