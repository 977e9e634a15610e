// The 7z adapter on real archives made by the 7z command before the test (see
// make-7z-archives.sh): extraction in its three modes, results and their log lines, attributes
// and times, refused item paths, and a run over mutated archives.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "7zArchive.h"
#include "kqCrc32.h"
#include "kqFileStream.h"
#include "kqMemory.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"
#include "kqTestTrace.h"
#include "kqObjectRoot.h"
#include "kqWindowStream.h"

namespace {

using Bytes = std::vector<BYTE>;

std::wstring DataPath(const std::wstring& strName)
{
    return kqtest::ExeFolder() + L"testdata\\7z\\" + strName;
}

Bytes ReadData(const std::wstring& strName)
{
    Bytes bytes;
    EXPECT_TRUE(kqtest::ReadFileBytes(DataPath(strName), bytes)) << "missing " << std::string(strName.begin(), strName.end());
    return bytes;
}

CSmartPtr<IByteStream> OpenFileStream(const std::wstring& strPath)
{
    CSmartPtr<IByteStream> spStream;
    CFileStreamImpl* pFile = CreateFileStreamImpl();
    if (!pFile)
        return spStream;
    spStream.Attach(pFile);
    if (!pFile->GetFile().Open(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0))
        spStream = nullptr;
    return spStream;
}

// The archive inside a larger file, as a package holds it: a window from its first to its
// last byte on a file that has other data before and after it.
CSmartPtr<IByteStream> PackageWindow(const kqtest::CTempDir& dir, const Bytes& archive)
{
    Bytes package(4099 + archive.size() + 777, 'K');
    memset(package.data(), 'J', 4099);
    if (!archive.empty())
        memcpy(package.data() + 4099, archive.data(), archive.size());
    std::wstring strPackage = dir.File(L"package.bin");
    EXPECT_TRUE(kqtest::WriteFileBytes(strPackage, package));
    CSmartPtr<IByteStream> spFile = OpenFileStream(strPackage);
    CSmartPtr<IByteStream> spWindow;
    if (spFile)
        spWindow.Attach(CWindowStream::CreateOnStream(spFile.Get(), 4099, archive.size()));
    return spWindow;
}

// A window on bytes in memory, for the many small archives of the mutation run.
class CMemoryArchive
{
public:
    explicit CMemoryArchive(Bytes bytes) : m_Bytes(std::move(bytes))
    {
        m_Memory.Attach(m_Bytes.empty() ? nullptr : m_Bytes.data(), static_cast<DWORD>(m_Bytes.size()));
        m_spStream.Attach(CWindowStream::CreateOnMemory(&m_Memory, 0, m_Bytes.size()));
    }
    IByteStream* Stream() const { return m_spStream.Get(); }

private:
    Bytes m_Bytes;
    CMemory m_Memory;
    CSmartPtr<IByteStream> m_spStream;
};

CMyComPtr<C7zArchive> NewArchive()
{
    CMyComPtr<C7zArchive> spArchive;
    EXPECT_EQ(S_OK, C7zArchive::Initialize(&spArchive));
    return spArchive;
}

std::wstring Child(const std::wstring& strFolder, const std::wstring& strName)
{
    return strFolder + L"\\" + strName;
}

bool IsFolder(const std::wstring& strPath)
{
    DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Nothing in the folder but the child folder and what lies below it.
bool HoldsOnly(const std::wstring& strFolder, const std::wstring& strChild)
{
    for (const std::wstring& strPath : kqtest::ListFiles(strFolder, true))
    {
        if (strPath.compare(0, strChild.size() + 1, strChild + L"\\") != 0)
            return false;
    }
    return true;
}

// Every file below the source folder has an identical copy below the extracted one, and every
// folder exists there.
void ExpectSameTree(const std::wstring& strSource, const std::wstring& strExtracted)
{
    for (const std::wstring& strRelative : kqtest::ListFiles(strSource, true))
    {
        std::wstring strFrom = Child(strSource, strRelative);
        std::wstring strTo = Child(strExtracted, strRelative);
        if (strRelative.back() == L'\\')
        {
            EXPECT_TRUE(IsFolder(strTo)) << "folder missing";
            continue;
        }
        Bytes expected;
        Bytes actual;
        ASSERT_TRUE(kqtest::ReadFileBytes(strFrom, expected));
        EXPECT_TRUE(kqtest::ReadFileBytes(strTo, actual) || expected.empty()) << "file missing";
        EXPECT_TRUE(kqtest::FileExists(strTo));
        EXPECT_TRUE(expected == actual) << "content differs: " << std::string(strRelative.begin(), strRelative.end());
    }
}

ULONGLONG LastWriteTime(const std::wstring& strPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

ULONGLONG AsNumber(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

size_t Find(const Bytes& haystack, const std::string& needle, size_t from = 0)
{
    for (size_t i = from; i + needle.size() <= haystack.size(); ++i)
    {
        if (memcmp(haystack.data() + i, needle.data(), needle.size()) == 0)
            return i;
    }
    return std::string::npos;
}

ULONGLONG Get64(const Bytes& bytes, size_t pos)
{
    ULONGLONG ull = 0;
    memcpy(&ull, bytes.data() + pos, 8);
    return ull;
}

void Put32(Bytes& bytes, size_t pos, DWORD dw)
{
    memcpy(bytes.data() + pos, &dw, 4);
}

// After a change to an archive's uncompressed header, its two header checksums again match, so
// that the decoder reads the changed header instead of stopping at the checksum.
void FixHeaderChecksums(Bytes& archive)
{
    if (archive.size() < 32)
        return;
    ULONGLONG ullOffset = Get64(archive, 12);
    ULONGLONG ullSize = Get64(archive, 20);
    if (ullOffset <= archive.size() - 32 && ullSize <= archive.size() - 32 - ullOffset)
        Put32(archive, 28, Crc32(archive.data() + 32 + ullOffset, static_cast<size_t>(ullSize)));
    Put32(archive, 8, Crc32(archive.data() + 12, 20));
}

const char kPlaceholder[] = "PLACEHOLDER-PLACEHOLDER-";

// names.7z with its placeholder item renamed (the new name has the same length).
Bytes RenamedArchive(const std::string& strName)
{
    Bytes archive = ReadData(L"names.7z");
    EXPECT_EQ(strlen(kPlaceholder), strName.size());
    std::string strUtf16From;
    std::string strUtf16To;
    for (size_t i = 0; i < strName.size(); ++i)
    {
        strUtf16From += kPlaceholder[i];
        strUtf16From += '\0';
        strUtf16To += strName[i];
        strUtf16To += '\0';
    }
    size_t pos = Find(archive, strUtf16From);
    EXPECT_NE(std::string::npos, pos);
    if (pos != std::string::npos)
        memcpy(archive.data() + pos, strUtf16To.data(), strUtf16To.size());
    FixHeaderChecksums(archive);
    return archive;
}

class SevenZipArchiveTest : public ::testing::Test
{
protected:
    void SetUp() override { kqtest::ClearTrace(); }
    kqtest::CTempDir m_Dir;
};

// ---- round trips ----------------------------------------------------------------------------

struct RoundTripCase
{
    const wchar_t* pszArchive;
    bool bWindow;
};

class RoundTripTest : public SevenZipArchiveTest, public ::testing::WithParamInterface<RoundTripCase>
{
};

TEST_P(RoundTripTest, ExtractsEveryItemByteForByteWithAttributesAndTimes)
{
    Bytes archive = ReadData(GetParam().pszArchive);
    CSmartPtr<IByteStream> spStream =
        GetParam().bWindow ? PackageWindow(m_Dir, archive) : OpenFileStream(DataPath(GetParam().pszArchive));
    ASSERT_TRUE(spStream);
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(spStream.Get()));
    std::wstring strTarget = m_Dir / L"out\\target";
    ASSERT_EQ(S_OK, spArchive->ExtractArchive(strTarget.c_str()));

    ExpectSameTree(DataPath(L"tree"), strTarget);
    EXPECT_TRUE(IsFolder(Child(strTarget, L"emptydir")));
    // Attributes: read-only carried over, Unix mode bits not.
    DWORD dwReadOnly = GetFileAttributesW(Child(strTarget, L"ro.txt").c_str());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, dwReadOnly);
    EXPECT_TRUE(dwReadOnly & FILE_ATTRIBUTE_READONLY);
    DWORD dwPlain = GetFileAttributesW(Child(strTarget, L"readme.txt").c_str());
    EXPECT_FALSE(dwPlain & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
    // Times, also for a file written in many pieces.
    EXPECT_EQ(AsNumber(kqtest::UtcTime(2001, 2, 3, 4, 5, 6)), LastWriteTime(Child(strTarget, L"readme.txt")));
    EXPECT_EQ(AsNumber(kqtest::UtcTime(2010, 6, 7, 8, 9, 10)), LastWriteTime(Child(strTarget, L"app.exe")));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"Error"));
}

INSTANTIATE_TEST_SUITE_P(Methods, RoundTripTest,
                         ::testing::Values(RoundTripCase{L"copy.7z", true}, RoundTripCase{L"lzma_solid.7z", true},
                                           RoundTripCase{L"lzma_nonsolid.7z", true}, RoundTripCase{L"lzma2.7z", true},
                                           RoundTripCase{L"bcj_lzma.7z", true}, RoundTripCase{L"bcj2.7z", true},
                                           RoundTripCase{L"bcj2.7z", false}));

TEST_F(SevenZipArchiveTest, InitializeAndOpenRefuseMissingArguments)
{
    EXPECT_EQ(E_INVALIDARG, C7zArchive::Initialize(nullptr));
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    EXPECT_EQ(E_INVALIDARG, spArchive->Open(nullptr));
}

// ---- not an archive --------------------------------------------------------------------------

TEST_F(SevenZipArchiveTest, StreamWithoutArchiveIsNotAnArchive)
{
    std::string strText;
    for (int i = 0; i < 4000; ++i)
        strText += "not an archive, line " + std::to_string(i) + "\n";
    const std::vector<Bytes> contents = {
        Bytes(),
        Bytes(10, 'x'),
        Bytes(strText.begin(), strText.end()),
        ReadData(L"tree\\app.exe"),
    };
    for (const Bytes& content : contents)
    {
        kqtest::ClearTrace();
        std::wstring strPath = m_Dir.File(L"plain.bin");
        ASSERT_TRUE(kqtest::WriteFileBytes(strPath, content));
        CSmartPtr<IByteStream> spStream = OpenFileStream(strPath);
        ASSERT_TRUE(spStream);
        CMyComPtr<C7zArchive> spArchive = NewArchive();
        EXPECT_EQ(static_cast<HRESULT>(0x80047C73), spArchive->Open(spStream.Get())) << content.size();
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"C7zArchive::Open(163) : failed to open stream archive (S_FALSE)"));
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error"));
    }
}

// ---- item results ----------------------------------------------------------------------------

TEST_F(SevenZipArchiveTest, CorruptedCopyItemFailsItsChecksum)
{
    Bytes archive = ReadData(L"copy.7z");
    size_t pos = Find(archive, "hello from the archive");
    ASSERT_NE(std::string::npos, pos);
    archive[pos + 3] ^= 0x20;
    CSmartPtr<IByteStream> spStream = PackageWindow(m_Dir, archive);
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(spStream.Get()));
    EXPECT_EQ(static_cast<HRESULT>(0x80047C70), spArchive->ExtractArchive((m_Dir / L"out").c_str()));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"C7zArchive::SetOperationResult(819) : CRC check failed"));
    // What was written of the failed item stays.
    EXPECT_TRUE(kqtest::FileExists(m_Dir / L"out\\readme.txt"));
}

struct ResultCase
{
    Int32 nResult;
    HRESULT hr;
    const wchar_t* pszMessage;
};

TEST_F(SevenZipArchiveTest, ItemResultsBecomeTheirCodesAndMessages)
{
    const ResultCase cases[] = {
        {0, S_OK, nullptr},
        {1, static_cast<HRESULT>(0x80047C72), L"C7zArchive::SetOperationResult(838) : Unsupported function"},
        {2, static_cast<HRESULT>(0x80047C71), L"C7zArchive::SetOperationResult(824) : Data Error"},
        {3, static_cast<HRESULT>(0x80047C70), L"C7zArchive::SetOperationResult(819) : CRC check failed"},
        {4, static_cast<HRESULT>(0x80047C79), L"C7zArchive::SetOperationResult(829) : Data Error2"},
        {5, static_cast<HRESULT>(0x80047C7A), L"C7zArchive::SetOperationResult(834) : Data Error3"},
        {6, static_cast<HRESULT>(0x80047C72), L"C7zArchive::SetOperationResult(838) : Unsupported function"},
        {9, static_cast<HRESULT>(0x80047C72), L"C7zArchive::SetOperationResult(838) : Unsupported function"},
        {-1, static_cast<HRESULT>(0x80047C72), L"C7zArchive::SetOperationResult(838) : Unsupported function"},
    };
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    for (const ResultCase& c : cases)
    {
        kqtest::ClearTrace();
        EXPECT_EQ(c.hr, spArchive->SetOperationResult(c.nResult)) << c.nResult;
        if (c.pszMessage)
        {
            EXPECT_EQ(1u, kqtest::CountTraceLines(c.pszMessage)) << c.nResult;
        }
        EXPECT_EQ(c.pszMessage ? 1u : 0u, kqtest::TraceLines().size()) << c.nResult;
    }
}

// ---- folder and file modes ------------------------------------------------------------------

TEST_F(SevenZipArchiveTest, ExtractFolderTakesThePrefixedItemsWithoutTheirFirstComponent)
{
    for (const wchar_t* pszSuffix : {L"", L"\\"})
    {
        std::wstring strTarget = m_Dir / (std::wstring(L"folder") + (*pszSuffix ? L"2" : L"1"));
        CSmartPtr<IByteStream> spStream = PackageWindow(m_Dir, ReadData(L"folder.7z"));
        CMyComPtr<C7zArchive> spArchive = NewArchive();
        ASSERT_EQ(S_OK, spArchive->Open(spStream.Get()));
        ASSERT_EQ(S_OK, spArchive->ExtractFolder((strTarget + pszSuffix).c_str()));
        EXPECT_EQ("b\n", kqtest::ReadFileBytes(strTarget + L"\\a\\b.txt"));
        // Any continuation of the prefix, in any case, counts.
        EXPECT_EQ("x\n", kqtest::ReadFileBytes(strTarget + L"\\x.txt"));
        // The folder items themselves have no backslash and keep their names.
        EXPECT_TRUE(IsFolder(strTarget + L"\\InstallPackage"));
        EXPECT_TRUE(IsFolder(strTarget + L"\\installpackage2"));
        EXPECT_FALSE(kqtest::FileExists(strTarget + L"\\y.txt"));
        EXPECT_FALSE(kqtest::FileExists(strTarget + L"\\Other"));
        EXPECT_FALSE(kqtest::FileExists(strTarget + L"\\top.txt"));
    }
}

TEST_F(SevenZipArchiveTest, ExtractFolderWithoutPrefixedItemsWritesNothing)
{
    CSmartPtr<IByteStream> spStream = PackageWindow(m_Dir, ReadData(L"copy.7z"));
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(spStream.Get()));
    std::wstring strTarget = m_Dir / L"nothing";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), spArchive->ExtractFolder(strTarget.c_str()));
    EXPECT_FALSE(kqtest::FileExists(strTarget));
}

TEST_F(SevenZipArchiveTest, ExtractFileFindsTheItemIgnoringCaseInsideASolidBlock)
{
    CSmartPtr<IByteStream> spStream = PackageWindow(m_Dir, ReadData(L"lzma_solid.7z"));
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(spStream.Get()));
    std::wstring strOutput = m_Dir / L"new\\deeper\\big-copy.txt";
    ASSERT_EQ(S_OK, spArchive->ExtractFile(L"SUB\\BIG.TXT", strOutput.c_str()));
    EXPECT_EQ(kqtest::ReadFileBytes(DataPath(L"tree\\sub\\big.txt")), kqtest::ReadFileBytes(strOutput));
    // Nothing else was written.
    EXPECT_EQ((std::vector<std::wstring>{L"new\\", L"new\\deeper\\", L"new\\deeper\\big-copy.txt", L"package.bin"}),
              kqtest::ListFiles(m_Dir.Path(), true));

    std::wstring strMissing = m_Dir / L"missing.txt";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), spArchive->ExtractFile(L"nope.txt", strMissing.c_str()));
    EXPECT_FALSE(kqtest::FileExists(strMissing));
}

TEST_F(SevenZipArchiveTest, OutputFileThatCannotBeCreatedIsReported)
{
    CSmartPtr<IByteStream> spStream = PackageWindow(m_Dir, ReadData(L"folder.7z"));
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(spStream.Get()));
    // The output path is an existing folder.
    std::wstring strOutput = m_Dir / L"busy";
    ASSERT_TRUE(CreateDirectoryW(strOutput.c_str(), nullptr));
    HRESULT hr = spArchive->ExtractFile(L"top.txt", strOutput.c_str());
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(0x80070000u, static_cast<DWORD>(hr) & 0xFFFF0000u);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"C7zArchive::GetStream(785) : failed to open file: " + strOutput + L" ("));
}

TEST_F(SevenZipArchiveTest, EmptyTargetIsRefused)
{
    CSmartPtr<IByteStream> spStream = PackageWindow(m_Dir, ReadData(L"folder.7z"));
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(spStream.Get()));
    // An empty folder would put the items below the root of the current drive.
    EXPECT_EQ(E_INVALIDARG, spArchive->ExtractArchive(L""));
    EXPECT_EQ(E_INVALIDARG, spArchive->ExtractFolder(L""));
    EXPECT_EQ(E_INVALIDARG, spArchive->ExtractFile(L"top.txt", L""));
}

// A stream that, like a window on a package file, keeps positions past its end at its end
// instead of refusing them.
class CClampingStream : public CObjectRoot, public IByteStream
{
public:
    explicit CClampingStream(IByteStream* pInner) : m_spInner(pInner) {}
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override
    {
        if (!ppObject)
            return KQERR_INVALIDARG;
        if (riid == IObjectBase::kIid || riid == IByteStream::kIid)
            return AnswerInterface(static_cast<IByteStream*>(this), ppObject);
        return RefuseInterface(ppObject);
    }
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }
    bool GetSize(ULONGLONG* pullSize) override { return m_spInner->GetSize(pullSize); }
    bool SetSize(ULONGLONG) override { return false; }
    bool GetPosition(ULONGLONG* pullPosition) override { return m_spInner->GetPosition(pullPosition); }
    bool SetPosition(ULONGLONG ullPosition) override
    {
        ULONGLONG ullSize = 0;
        return m_spInner->GetSize(&ullSize) && m_spInner->SetPosition(ullPosition < ullSize ? ullPosition : ullSize);
    }
    bool Write(const void*, DWORD) override { return false; }
    bool Read(void* pBuffer, DWORD dwCount) override { return m_spInner->Read(pBuffer, dwCount); }

private:
    CSmartPtr<IByteStream> m_spInner;
};

TEST_F(SevenZipArchiveTest, SeekReportsWhereTheStreamReallyIs)
{
    const Bytes archive = ReadData(L"folder.7z");
    CSmartPtr<IByteStream> spStream;
    spStream.Attach(new CClampingStream(PackageWindow(m_Dir, archive).Get()));
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(spStream.Get()));
    UInt64 ullNew = 0;
    ASSERT_EQ(S_OK, spArchive->Seek(static_cast<Int64>(archive.size()) + 1000, STREAM_SEEK_SET, &ullNew));
    EXPECT_EQ(archive.size(), ullNew);
    ASSERT_EQ(S_OK, spArchive->Seek(-10, STREAM_SEEK_END, &ullNew));
    EXPECT_EQ(archive.size() - 10, ullNew);
}

// ---- item paths that leave the target --------------------------------------------------------

struct PathCase
{
    const char* pszName;  // as stored, with forward slashes; 24 characters
    bool bFolderMode;
    const wchar_t* pszEscape;  // where it would have landed, relative to the test folder
};

class UnsafePathTest : public SevenZipArchiveTest, public ::testing::WithParamInterface<PathCase>
{
};

TEST_P(UnsafePathTest, ItemIsRefusedAndNothingLandsOutsideTheTarget)
{
    const PathCase& c = GetParam();
    CMemoryArchive archive(RenamedArchive(c.pszName));
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(archive.Stream()));
    std::wstring strTarget = m_Dir / L"out\\target";
    HRESULT hr = c.bFolderMode ? spArchive->ExtractFolder(strTarget.c_str())
                               : spArchive->ExtractArchive(strTarget.c_str());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), hr);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"C7zArchive::GetStream(763) : item path leaves the target folder, refused: "));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error"));
    // Only the target (if anything) below out, and nothing at the escape path.
    EXPECT_TRUE(HoldsOnly(m_Dir / L"out", L"target"));
    std::wstring strEscape = c.pszEscape[0] == L'C' ? std::wstring(c.pszEscape) : m_Dir / c.pszEscape;
    EXPECT_FALSE(kqtest::FileExists(strEscape));
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnsafePathTest,
    ::testing::Values(PathCase{"../escaped-aaaaaaaaaaaaa", false, L"out\\escaped-aaaaaaaaaaaaa"},
                      PathCase{"sub/../../escaped-aaaaaa", false, L"out\\escaped-aaaaaa"},
                      PathCase{".../escaped-aaaaaaaaaaaa", false, L"out\\escaped-aaaaaaaaaaaa"},
                      PathCase{"/escaped-aaaaaaaaaaaaaaa", false, L"out\\escaped-aaaaaaaaaaaaaaa"},
                      PathCase{"C:/escaped-aaaaaaaaaaaaa", false, L"C:\\escaped-aaaaaaaaaaaaa"},
                      PathCase{"a:escaped-aaaaaaaaaaaaaa", false, L"out\\target\\a"},
                      PathCase{"CON.aaaaaaaaaaaaaaaaaaaa", false, L"out\\target\\CON.aaaaaaaaaaaaaaaaaaaa"},
                      PathCase{"sub/nul.txt-aaaaaaaaaaaa", false, L"out\\target\\sub"},
                      PathCase{"com1.aaaaaaaaaaaaaaaaaaa", false, L"out\\target\\com1.aaaaaaaaaaaaaaaaaaa"},
                      PathCase{"LPT9 .aaaaaaaaaaaaaaaaaa", false, L"out\\target\\LPT9 .aaaaaaaaaaaaaaaaaa"},
                      PathCase{"sub/AUX/aaaaaaaaaaaaaaaa", false, L"out\\target\\sub"},
                      PathCase{"trailing-dot./aaaaaaaaaa", false, L"out\\target\\trailing-dot"},
                      PathCase{"trailing-blank /aaaaaaaa", false, L"out\\target\\trailing-blank"},
                      PathCase{"InstallPackage/../esc-aa", true, L"out\\esc-aa"},
                      PathCase{"InstallPackage/C:/esc-aa", true, L"C:\\esc-aa"},
                      PathCase{"InstallPackage//esc-aaaa", true, L"out\\esc-aaaa"}));

TEST_F(SevenZipArchiveTest, RenamedItemWithAPlainPathIsExtracted)
{
    // The renaming itself leaves a valid archive: the refusals above are the adapter's.
    CMemoryArchive archive(RenamedArchive("sub/dir/safe-aaaaaaaaaaa"));
    CMyComPtr<C7zArchive> spArchive = NewArchive();
    ASSERT_EQ(S_OK, spArchive->Open(archive.Stream()));
    std::wstring strTarget = m_Dir / L"target";
    ASSERT_EQ(S_OK, spArchive->ExtractArchive(strTarget.c_str()));
    EXPECT_EQ("placeholder\n", kqtest::ReadFileBytes(strTarget + L"\\sub\\dir\\safe-aaaaaaaaaaa"));
    EXPECT_EQ("first\n", kqtest::ReadFileBytes(strTarget + L"\\aaaa-first.txt"));

    CMemoryArchive folder(RenamedArchive("InstallPackage/safe-aaaa"));
    CMyComPtr<C7zArchive> spFolder = NewArchive();
    ASSERT_EQ(S_OK, spFolder->Open(folder.Stream()));
    ASSERT_EQ(S_OK, spFolder->ExtractFolder((m_Dir / L"folder").c_str()));
    EXPECT_EQ("placeholder\n", kqtest::ReadFileBytes(m_Dir / L"folder\\safe-aaaa"));
}

// ---- mutated archives -----------------------------------------------------------------------

// Thousands of damaged archives in one process: every one ends with a result, none crashes or
// hangs, and nothing is written outside the target.
TEST_F(SevenZipArchiveTest, MutatedArchivesFailCleanly)
{
    struct Source
    {
        const wchar_t* pszName;
        bool bPlainHeader;
    };
    const Source sources[] = {{L"small_lzma.7z", false}, {L"small_bcj2.7z", false}, {L"names.7z", true},
                              {L"folder.7z", false}};
    std::mt19937 random(20240611);
    std::wstring strRoot = m_Dir / L"m";
    std::wstring strTarget = strRoot + L"\\t";
    int nRuns = 0;
    int nFailures = 0;
    for (const Source& source : sources)
    {
        const Bytes original = ReadData(source.pszName);
        ASSERT_GT(original.size(), 64u);
        for (int i = 0; i < 800; ++i)
        {
            Bytes bytes = original;
            size_t nKind = random() % 4;
            if (nKind == 0)
                bytes.resize(random() % bytes.size());
            else
            {
                size_t nChanges = 1 + random() % 4;
                for (size_t n = 0; n < nChanges; ++n)
                {
                    size_t pos = random() % bytes.size();
                    // Mostly the header region at the end and the start header, where the
                    // structure lives; some in the data.
                    if (nKind == 1)
                        pos = bytes.size() - 1 - random() % std::min<size_t>(bytes.size(), 200);
                    else if (nKind == 2)
                        pos = 12 + random() % 20;
                    bytes[pos] = static_cast<BYTE>(random());
                }
                if (source.bPlainHeader || nKind == 2)
                    FixHeaderChecksums(bytes);
            }
            kqtest::ClearTrace();
            auto start = std::chrono::steady_clock::now();
            {
                CMemoryArchive archive(bytes);
                CMyComPtr<C7zArchive> spArchive = NewArchive();
                ASSERT_TRUE(spArchive);
                HRESULT hr = spArchive->Open(archive.Stream());
                if (hr == S_OK)
                {
                    switch (random() % 3)
                    {
                    case 0:
                        hr = spArchive->ExtractArchive(strTarget.c_str());
                        break;
                    case 1:
                        hr = spArchive->ExtractFolder(strTarget.c_str());
                        break;
                    default:
                        hr = spArchive->ExtractFile(L"two.txt", (strTarget + L"\\file.out").c_str());
                        break;
                    }
                }
                EXPECT_TRUE(hr == S_OK || FAILED(hr)) << std::hex << hr;
                nFailures += FAILED(hr) ? 1 : 0;
            }
            auto elapsed = std::chrono::steady_clock::now() - start;
            EXPECT_LT(elapsed, std::chrono::seconds(10));
            EXPECT_TRUE(HoldsOnly(strRoot, L"t"));
            kqtest::RemoveTree(strTarget);
            ++nRuns;
        }
    }
    EXPECT_EQ(3200, nRuns);
    // The mutations do reach the decoder's checks.
    EXPECT_GT(nFailures, nRuns / 2);
}

}  // namespace
