// The package table: finding it, walking it with each way of handing files on, its damaged
// forms, and copying streams to disk.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <set>

#include "ZIRA_FilePacker.h"
#include "ZIRA_FileStreamImpl.h"
#include "ZiraPackageBuilder.h"
#include "kqSmartPtr.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"
#include "kqTestTrace.h"

using namespace ziratest;

namespace {

std::wstring OwnProgram()
{
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    return szPath;
}

// A program image followed by a certificate table of dwLength bytes (its first u32 the length),
// as a signed program looks to the package reader.
std::string SignedLookingStub(const std::wstring& strProgram, DWORD dwLength)
{
    std::string stub = UnsignedStub(strProgram);
    stub.resize(stub.size() - 4);
    std::string certificate = PatternBytes(dwLength, 99);
    memcpy(&certificate[0], &dwLength, 4);
    return stub + certificate;
}

struct Seen
{
    DWORD dwType = 0;
    std::wstring strName;
    bool bNullName = false;
    ULONGLONG ullSize = 0;
    std::string data;
};

// Hands every file type the extract type a test chooses and records what it receives. Direct
// files are read from the stream's position; window files from position 0 of the window.
class CRecordingPacker : public ZIRA::CFilePacker
{
public:
    ZIRA::EExtractType GetExtractType(DWORD dwFileType) override
    {
        auto it = m_mapTypes.find(dwFileType);
        return it == m_mapTypes.end() ? ZIRA::eExtractType_Skip : it->second;
    }

    HRESULT OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* pszFileName,
                            ULONGLONG ullSize) override
    {
        Seen seen;
        seen.dwType = dwFileType;
        seen.bNullName = pszFileName == nullptr;
        seen.strName = pszFileName ? pszFileName : L"";
        seen.ullSize = ullSize;
        const ZIRA::EExtractType eType = GetExtractType(dwFileType);
        if (eType != ZIRA::eExtractType_Direct) {
            ULONGLONG ullStreamSize = 0;
            EXPECT_TRUE(pStream->GetSize(&ullStreamSize));
            EXPECT_EQ(ullStreamSize, ullSize);
            EXPECT_TRUE(pStream->SetPosition(0));
        }
        if (eType == ZIRA::eExtractType_Direct && m_setUnread.count(dwFileType)) {
            // A callback that reads none of its file.
        } else if (m_bReadData && ullSize < 64 * 1024 * 1024) {
            seen.data.resize(static_cast<size_t>(ullSize));
            if (ullSize && !pStream->Read(&seen.data[0], static_cast<DWORD>(ullSize)))
                seen.data = "<read failed>";
        } else if (eType == ZIRA::eExtractType_Direct) {
            // The walk takes the next file at the stream's position: move it as a reader would.
            ULONGLONG ullPosition = 0;
            pStream->GetPosition(&ullPosition);
            pStream->SetPosition(ullPosition + ullSize);
        }
        m_vecSeen.push_back(seen);
        auto it = m_mapResults.find(m_vecSeen.size() - 1);
        return it == m_mapResults.end() ? S_OK : it->second;
    }

    std::map<DWORD, ZIRA::EExtractType> m_mapTypes;
    // Results by call number.
    std::map<size_t, HRESULT> m_mapResults;
    bool m_bReadData = true;
    // Types whose direct files are left unread.
    std::set<DWORD> m_setUnread;
    std::vector<Seen> m_vecSeen;
};

std::vector<PackageFile> ThreeFiles()
{
    return {{L"VantryProductuiPackage.7z", PatternBytes(20000, 1), ZIRA::eFileType_UIPackage},
            {L"VantryProduct.7z", PatternBytes(40001, 2), ZIRA::eFileType_ProductPackage},
            {L"VantryProductInstallPackage.7z", PatternBytes(16384, 3), ZIRA::eFileType_InstallPackage}};
}

class FilePackerTest : public ::testing::Test
{
protected:
    void SetUp() override { kqtest::ClearTrace(); }

    std::wstring Write(const std::string& bytes, const wchar_t* pszName = L"package.exe")
    {
        std::wstring strPath = m_dir.File(pszName);
        EXPECT_TRUE(kqtest::WriteFileBytes(strPath, bytes));
        return strPath;
    }

    kqtest::CTempDir m_dir;
};

TEST_F(FilePackerTest, ContainsPackageOnlyWhereATableFollowsTheCertificate)
{
    const std::wstring strProgram = OwnProgram();
    const std::string unsignedStub = UnsignedStub(strProgram);
    ASSERT_FALSE(unsignedStub.empty());
    struct Case
    {
        const char* pszName;
        std::string bytes;
        bool bExpected;
        const wchar_t* pszLine;
    } cases[] = {
        {"image alone", unsignedStub.substr(0, unsignedStub.size() - 4) + std::string(64, 'x'), false,
         L"Error : ZIRA::CFilePacker::ContainsPackage(610) : failed to Read signature (38)"},
        {"unsigned, no table", unsignedStub + std::string(64, 'x'), false, L"Information : package not found"},
        {"unsigned with table", BuildPackage(unsignedStub, ThreeFiles()), true, nullptr},
        {"signed with table", BuildPackage(SignedLookingStub(strProgram, 0x5B0), ThreeFiles()), true, nullptr},
        {"signed, no table", SignedLookingStub(strProgram, 0x5B0) + std::string(64, 'x'), false,
         L"Information : package not found"},
        // The magic is there, but the file ends inside the table header: Extract finds no table
        // there either.
        {"table header cut short", BuildPackage(unsignedStub, {}).substr(0, unsignedStub.size() + 19), false,
         L"Error : ZIRA::CFilePacker::ContainsPackage(610) : failed to Read signature (38)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        kqtest::ClearTrace();
        EXPECT_EQ(ZIRA::CFilePacker::ContainsPackage(Write(c.bytes).c_str()), c.bExpected);
        EXPECT_EQ(kqtest::CountTraceLines(L"package not found"), c.bExpected ? 0u : (c.pszLine[0] == L'I' ? 1u : 0u));
        if (c.pszLine) {
            EXPECT_EQ(kqtest::CountTraceLines(c.pszLine), 1u);
        }
    }

    kqtest::ClearTrace();
    CRecordingPacker packer;
    EXPECT_EQ(packer.Extract(Write(cases[5].bytes).c_str()), E_UNEXPECTED);
    EXPECT_EQ(kqtest::CountTraceLines(L"ZIRA::CFilePacker::Extract(668) : no package table at"), 1u);

    kqtest::ClearTrace();
    EXPECT_FALSE(ZIRA::CFilePacker::ContainsPackage(m_dir.File(L"missing.exe").c_str()));
    EXPECT_EQ(kqtest::CountTraceLines(L"ZIRA::CFilePacker::ContainsPackage(552) : packed file does not exist: "), 1u);
}

TEST_F(FilePackerTest, EveryExtractTypeHandsOnExactlyTheFilesBytes)
{
    const std::string stub = SignedLookingStub(OwnProgram(), 0x5B0);
    const std::vector<PackageFile> files = ThreeFiles();
    const std::wstring strPackage = Write(BuildPackage(stub, files));
    const ZIRA::EExtractType types[] = {ZIRA::eExtractType_Direct, ZIRA::eExtractType_OwnHandle,
                                        ZIRA::eExtractType_Skip};
    for (ZIRA::EExtractType eType : types) {
        SCOPED_TRACE(static_cast<int>(eType));
        CRecordingPacker packer;
        for (DWORD dwType : {1u, 3u, 5u, 6u})
            packer.m_mapTypes[dwType] = eType;
        ASSERT_EQ(packer.Extract(strPackage.c_str()), S_OK);
        EXPECT_EQ(packer.m_dwStubSignatureSize, 0x5B0u);
        if (eType == ZIRA::eExtractType_Skip) {
            EXPECT_TRUE(packer.m_vecSeen.empty());
            continue;
        }
        // The stub comes first only when handed on directly.
        size_t nFirst = 0;
        if (eType == ZIRA::eExtractType_Direct) {
            ASSERT_EQ(packer.m_vecSeen.size(), 4u);
            EXPECT_EQ(packer.m_vecSeen[0].dwType, 6u);
            EXPECT_TRUE(packer.m_vecSeen[0].bNullName);
            EXPECT_TRUE(packer.m_vecSeen[0].data == stub);
            nFirst = 1;
        } else {
            ASSERT_EQ(packer.m_vecSeen.size(), 3u);
        }
        for (size_t i = 0; i < files.size(); ++i) {
            const Seen& seen = packer.m_vecSeen[nFirst + i];
            EXPECT_EQ(seen.strName, files[i].strName);
            EXPECT_EQ(seen.dwType, files[i].dwType);
            EXPECT_EQ(seen.ullSize, files[i].data.size());
            EXPECT_TRUE(seen.data == files[i].data) << "file " << i;
        }
    }
}

// A direct file its callback left unread is no start for the next one: each file is read
// from its own place in the package.
TEST_F(FilePackerTest, UnreadDirectFileDoesNotShiftTheNextOne)
{
    const std::vector<PackageFile> files = ThreeFiles();
    const std::wstring strPackage = Write(BuildPackage(UnsignedStub(OwnProgram()), files));
    for (ZIRA::EExtractType eNext : {ZIRA::eExtractType_Direct, ZIRA::eExtractType_OwnHandle,
                                     ZIRA::eExtractType_Window}) {
        SCOPED_TRACE(static_cast<int>(eNext));
        CRecordingPacker packer;
        packer.m_mapTypes = {{files[0].dwType, ZIRA::eExtractType_Direct}, {files[1].dwType, eNext},
                             {files[2].dwType, ZIRA::eExtractType_Skip}};
        packer.m_setUnread.insert(files[0].dwType);
        ASSERT_EQ(packer.Extract(strPackage.c_str()), S_OK);
        ASSERT_EQ(packer.m_vecSeen.size(), 2u);
        EXPECT_TRUE(packer.m_vecSeen[1].data == files[1].data);
    }
}

// A window on the package stream moves the walk's position past the file before the call; the
// files after it are skipped, as the resource unpacker does.
TEST_F(FilePackerTest, WindowOnThePackageStreamThenSkips)
{
    const std::vector<PackageFile> files = ThreeFiles();
    const std::wstring strPackage = Write(BuildPackage(UnsignedStub(OwnProgram()), files));
    for (size_t nWindow = 0; nWindow < files.size(); ++nWindow) {
        CRecordingPacker packer;
        packer.m_mapTypes[files[nWindow].dwType] = ZIRA::eExtractType_Window;
        ASSERT_EQ(packer.Extract(strPackage.c_str()), S_OK);
        ASSERT_EQ(packer.m_vecSeen.size(), 1u);
        EXPECT_TRUE(packer.m_vecSeen[0].data == files[nWindow].data) << nWindow;
    }
}

// A file of no bytes is handed on as an empty stream, not as the rest of the package.
TEST_F(FilePackerTest, EmptyFileIsAnEmptyWindow)
{
    std::vector<PackageFile> files = ThreeFiles();
    files[1].data.clear();
    const std::wstring strPackage = Write(BuildPackage(UnsignedStub(OwnProgram()), files));
    for (ZIRA::EExtractType eType : {ZIRA::eExtractType_OwnHandle, ZIRA::eExtractType_Window}) {
        SCOPED_TRACE(static_cast<int>(eType));
        CRecordingPacker packer;
        packer.m_mapTypes[files[1].dwType] = eType;
        ASSERT_EQ(packer.Extract(strPackage.c_str()), S_OK);
        ASSERT_EQ(packer.m_vecSeen.size(), 1u);
        EXPECT_EQ(packer.m_vecSeen[0].ullSize, 0u);
        EXPECT_TRUE(packer.m_vecSeen[0].data.empty());
    }
}

TEST_F(FilePackerTest, TableVariants)
{
    const std::string stub = UnsignedStub(OwnProgram());
    const std::vector<PackageFile> files = ThreeFiles();
    struct Case
    {
        const char* pszName;
        PackageLayout layout;
        HRESULT hrExpected;
        size_t nCalls;  // after the stub
        const wchar_t* pszLine;
    };
    auto Layout = [](DWORD dwVersion, ULONGLONG ullCount, const wchar_t* pszExtra, DWORD dwMagic) {
        PackageLayout layout;
        layout.dwVersion = dwVersion;
        layout.ullCount = ullCount;
        layout.pszExtraName = pszExtra;
        layout.dwMagic = dwMagic;
        return layout;
    };
    const DWORD kMagic = ZIRA::kPackageTableMagic;
    const Case cases[] = {
        {"version 2", Layout(2, ~0ULL, nullptr, kMagic), S_OK, 3, nullptr},
        {"version 0", Layout(0, ~0ULL, nullptr, kMagic), S_OK, 3, nullptr},
        {"version 1", Layout(1, ~0ULL, nullptr, kMagic), S_OK, 3, nullptr},
        {"version 3", Layout(3, ~0ULL, nullptr, kMagic), E_UNEXPECTED, 0,
         L"Error : ZIRA::CFilePacker::Extract(719) : unexpected version (3)"},
        {"no files", Layout(2, 0, nullptr, kMagic), S_OK, 0, nullptr},
        {"one more name than counted", Layout(2, ~0ULL, L"VantryProductVirusScanner.7z", kMagic), S_OK, 3, nullptr},
        {"fewer counted than listed", Layout(2, 2, nullptr, kMagic), S_OK, 2, nullptr},
        {"more counted than listed", Layout(2, 4, nullptr, kMagic), E_UNEXPECTED, 3,
         L"Error : ZIRA::CFilePacker::Extract(779) : failed to read data from pointer archive"},
        {"2^40 files", Layout(2, 1ULL << 40, nullptr, kMagic), E_UNEXPECTED, 0,
         L"Error : ZIRA::CFilePacker::Extract(752) : count of files 1099511627776 does not fit"},
        {"not a table", Layout(2, ~0ULL, nullptr, 0x12345678), E_UNEXPECTED, 0,
         L"Error : ZIRA::CFilePacker::Extract(705) : package table not found (0x12345678)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        kqtest::ClearTrace();
        const std::wstring strPackage = Write(BuildPackage(stub, files, c.layout));
        CRecordingPacker packer;
        packer.m_mapTypes = {{1, ZIRA::eExtractType_Direct}, {3, ZIRA::eExtractType_Direct},
                             {5, ZIRA::eExtractType_Direct}, {6, ZIRA::eExtractType_Direct}};
        EXPECT_EQ(packer.Extract(strPackage.c_str()), c.hrExpected);
        ASSERT_GE(packer.m_vecSeen.size(), 1u);
        EXPECT_EQ(packer.m_vecSeen[0].dwType, 6u);
        EXPECT_TRUE(packer.m_vecSeen[0].data == stub);
        ASSERT_EQ(packer.m_vecSeen.size(), c.nCalls + 1);
        for (size_t i = 0; i < c.nCalls; ++i)
            EXPECT_TRUE(packer.m_vecSeen[i + 1].data == files[i].data);
        if (c.pszLine) {
            EXPECT_EQ(kqtest::CountTraceLines(c.pszLine), 1u);
        }
    }
}

// Lengths in the table that the file cannot hold fail before anything is allocated or read.
TEST_F(FilePackerTest, LengthsBeyondTheFileFailCleanly)
{
    const std::string stub = UnsignedStub(OwnProgram());
    std::vector<PackageFile> files = ThreeFiles();

    PackageLayout hugeArchive;
    hugeArchive.bOverrideArchiveSize = true;
    hugeArchive.dwArchiveSize = 0xFFFFFFFF;
    std::string package = BuildPackage(stub, files, hugeArchive);
    CRecordingPacker packer;
    EXPECT_EQ(packer.Extract(Write(package).c_str()), E_UNEXPECTED);
    EXPECT_EQ(kqtest::CountTraceLines(L"pointer archive size 4294967295 exceeds the file"), 1u);

    // The last file cut short: the files before it are handed on, then the walk stops.
    package = BuildPackage(stub, files);
    package.resize(package.size() - 1);
    packer.m_mapTypes[5] = ZIRA::eExtractType_Direct;
    packer.m_mapTypes[1] = ZIRA::eExtractType_Direct;
    packer.m_vecSeen.clear();
    EXPECT_EQ(packer.Extract(Write(package).c_str()), E_UNEXPECTED);
    EXPECT_EQ(packer.m_vecSeen.size(), 2u);

    // A certificate length that points past the file.
    std::string badStub = SignedLookingStub(OwnProgram(), 0x5B0);
    const DWORD dwEnd = static_cast<DWORD>(stub.size() - 4);
    const DWORD dwHuge = 0x7FFFFFF0;
    memcpy(&badStub[dwEnd], &dwHuge, 4);
    kqtest::ClearTrace();
    EXPECT_EQ(packer.Extract(Write(BuildPackage(badStub, files)).c_str()), E_UNEXPECTED);
    EXPECT_EQ(kqtest::CountTraceLines(L"ZIRA::CFilePacker::Extract(668) : no package table at"), 1u);
}

TEST_F(FilePackerTest, AFailedCallbackEndsTheWalkWithItsResult)
{
    const std::wstring strPackage = Write(BuildPackage(UnsignedStub(OwnProgram()), ThreeFiles()));
    CRecordingPacker packer;
    packer.m_mapTypes = {{1, ZIRA::eExtractType_OwnHandle}, {3, ZIRA::eExtractType_Direct},
                         {5, ZIRA::eExtractType_Direct}};
    packer.m_mapResults[1] = static_cast<HRESULT>(0x80041234);
    EXPECT_EQ(packer.Extract(strPackage.c_str()), static_cast<HRESULT>(0x80041234));
    EXPECT_EQ(packer.m_vecSeen.size(), 2u);

    // A positive result is passed on as the last one.
    CRecordingPacker second;
    second.m_mapTypes = packer.m_mapTypes;
    second.m_mapResults[2] = static_cast<HRESULT>(0x00047C01);
    EXPECT_EQ(second.Extract(strPackage.c_str()), static_cast<HRESULT>(0x00047C01));

    kqtest::ClearTrace();
    EXPECT_EQ(packer.Extract(m_dir.File(L"missing.exe").c_str()), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(kqtest::CountTraceLines(L"ZIRA::CFilePacker::Extract(632) : packed file does not exist: "), 1u);
}

TEST_F(FilePackerTest, InvalidExtractTypeIsRefused)
{
    const std::wstring strPackage = Write(BuildPackage(UnsignedStub(OwnProgram()), ThreeFiles()));
    CRecordingPacker packer;
    packer.m_mapTypes[3] = static_cast<ZIRA::EExtractType>(7);
    EXPECT_EQ(packer.Extract(strPackage.c_str()), E_UNEXPECTED);
    EXPECT_EQ(kqtest::CountTraceLines(L"ZIRA::CFilePacker::Extract(854) : invalid extract type: 7"), 1u);
}

// One object walking two packages whose programs differ reads each program's own headers.
TEST_F(FilePackerTest, SecondWalkReadsTheNewFilesHeaders)
{
    const std::wstring strOther = kqtest::ExeFolder() + L"holdfile.exe";
    ASSERT_TRUE(kqtest::FileExists(strOther));
    const std::string stubA = UnsignedStub(OwnProgram());
    const std::string stubB = SignedLookingStub(strOther, 0x200);
    ASSERT_NE(stubA.size(), stubB.size());
    CRecordingPacker packer;
    packer.m_mapTypes = {{6, ZIRA::eExtractType_Direct}, {5, ZIRA::eExtractType_Direct}};
    ASSERT_EQ(packer.Extract(Write(BuildPackage(stubA, ThreeFiles()), L"a.exe").c_str()), S_OK);
    ASSERT_EQ(packer.Extract(Write(BuildPackage(stubB, ThreeFiles()), L"b.exe").c_str()), S_OK);
    ASSERT_EQ(packer.m_vecSeen.size(), 4u);
    EXPECT_TRUE(packer.m_vecSeen[2].data == stubB);
    EXPECT_EQ(packer.m_dwStubSignatureSize, 0x200u);
    EXPECT_TRUE(packer.m_vecSeen[3].data == ThreeFiles()[0].data);
}

TEST_F(FilePackerTest, WriteStreamToDiskWritesExactlyTheSize)
{
    const std::string source = PatternBytes(40000, 7);
    const std::wstring strSource = Write(source, L"source.bin");
    for (ULONGLONG ullSize : {0ULL, 16384ULL, 16385ULL, 32768ULL}) {
        SCOPED_TRACE(ullSize);
        CSmartPtr<ZIRA::CFileStreamImpl> spStream;
        spStream.Attach(ZIRA::CreateFileStreamImpl());
        ASSERT_TRUE(spStream->GetFile().Open(strSource.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0));
        ASSERT_TRUE(spStream->SetPosition(3));
        const std::wstring strOut = m_dir.File(L"new\\deeper\\out" + std::to_wstring(ullSize) + L".bin");
        EXPECT_EQ(ZIRA::CFilePacker::WriteStreamToDisk(strOut.c_str(), spStream.Get(), ullSize), S_OK);
        EXPECT_TRUE(kqtest::ReadFileBytes(strOut) == source.substr(3, static_cast<size_t>(ullSize)));
    }
}

TEST_F(FilePackerTest, WriteStreamToDiskReportsAShortStream)
{
    const std::wstring strSource = Write(PatternBytes(20000, 8), L"source.bin");
    struct Case
    {
        ULONGLONG ullSize;
        const wchar_t* pszLine;
    } cases[] = {
        {40000, L"Error : ZIRA::CFilePacker::WriteStreamToDisk(931) : failed to read file: 38"},
        {20001, L"Error : ZIRA::CFilePacker::WriteStreamToDisk(960) : failed to read file: 38"},
    };
    for (const Case& c : cases) {
        kqtest::ClearTrace();
        CSmartPtr<ZIRA::CFileStreamImpl> spStream;
        spStream.Attach(ZIRA::CreateFileStreamImpl());
        ASSERT_TRUE(spStream->GetFile().Open(strSource.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0));
        const std::wstring strOut = m_dir.File(L"short.bin");
        EXPECT_EQ(ZIRA::CFilePacker::WriteStreamToDisk(strOut.c_str(), spStream.Get(), c.ullSize),
                  HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
        EXPECT_EQ(kqtest::CountTraceLines(c.pszLine), 1u);
        // The part written before the failure stays.
        EXPECT_TRUE(kqtest::FileExists(strOut));
    }

    // A folder that cannot be made: a file stands where it should be.
    kqtest::ClearTrace();
    Write("x", L"blocker");
    CSmartPtr<ZIRA::CFileStreamImpl> spStream;
    spStream.Attach(ZIRA::CreateFileStreamImpl());
    ASSERT_TRUE(spStream->GetFile().Open(strSource.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0));
    EXPECT_LT(ZIRA::CFilePacker::WriteStreamToDisk(m_dir.File(L"blocker\\sub\\out.bin").c_str(), spStream.Get(), 10), 0);
    EXPECT_EQ(kqtest::CountTraceLines(L"ZIRA::CFilePacker::WriteStreamToDisk(888) : failed to create directory: "), 1u);
}

// Thousands of damaged tables in one process: each walk ends with a clean result, hands on
// nothing beyond the file, and takes no time worth mentioning.
TEST_F(FilePackerTest, MutatedTablesFailCleanly)
{
    size_t nTable = 0;
    std::vector<PackageFile> files = ThreeFiles();
    files.push_back({L"extra.bin", PatternBytes(333, 4), ZIRA::eFileType_AuxPackage});
    files.push_back({L"other.bin", PatternBytes(100, 5), 9});
    const std::string package = BuildPackage(UnsignedStub(OwnProgram()), files, PackageLayout(), &nTable);
    const size_t nTableEnd = package.size() - 20000 - 40001 - 16384 - 333 - 100;
    const std::string table = package.substr(nTable, nTableEnd - nTable);
    const std::wstring strPackage = Write(package);

    {
        CRecordingPacker intact;
        intact.m_bReadData = false;
        intact.m_mapTypes = {{1, ZIRA::eExtractType_Direct}, {3, ZIRA::eExtractType_OwnHandle},
                             {4, ZIRA::eExtractType_OwnHandle}, {5, ZIRA::eExtractType_Window}};
        ASSERT_EQ(intact.Extract(strPackage.c_str()), S_OK);
        ASSERT_EQ(intact.m_vecSeen.size(), 4u);
    }
    std::mt19937 random(20240611);
    const auto start = std::chrono::steady_clock::now();
    size_t nSucceeded = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string mutated = table;
        const int nFlips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < nFlips; ++f) {
            const size_t nAt = random() % mutated.size();
            switch (random() % 3) {
            case 0: mutated[nAt] = static_cast<char>(random()); break;
            case 1: mutated[nAt] = static_cast<char>(0xFF); break;
            default: mutated[nAt] ^= static_cast<char>(1u << (random() % 8)); break;
            }
        }
        {
            // Closed again before the walk, which shares the file for reading only.
            CFile file;
            ASSERT_TRUE(file.Open(strPackage.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0));
            ASSERT_TRUE(file.WriteAt(nTable, mutated.data(), static_cast<DWORD>(mutated.size())));
        }

        CRecordingPacker packer;
        packer.m_bReadData = false;
        packer.m_mapTypes = {{1, ZIRA::eExtractType_Direct}, {3, ZIRA::eExtractType_OwnHandle},
                             {4, ZIRA::eExtractType_OwnHandle}, {5, ZIRA::eExtractType_Window}};
        const HRESULT hr = packer.Extract(strPackage.c_str());
        ASSERT_TRUE(hr == S_OK || FAILED(hr)) << std::hex << hr;
        if (hr == S_OK)
            ++nSucceeded;
        ULONGLONG ullHandedOn = 0;
        for (const Seen& seen : packer.m_vecSeen)
            ullHandedOn += seen.ullSize;
        ASSERT_LE(ullHandedOn, package.size());
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(seconds.count(), 120);
    // Flips in names and in file types still make valid tables.
    EXPECT_GT(nSucceeded, 0u);
}

}  // namespace
