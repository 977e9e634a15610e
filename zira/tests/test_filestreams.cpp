// ZIRA::CFileStreamImpl (a window on a file) and ZIRA::CArchivingFileStreamImpl (numbered files).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ZIRA_ArchivingFileStreamImpl.h"
#include "ZIRA_FileStreamImpl.h"
#include "kqSmartPtr.h"
#include "kqTestFiles.h"
#include "kqTestTrace.h"

namespace {

std::vector<BYTE> Pattern(size_t size)
{
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<BYTE>(i * 31 + 7);
    return bytes;
}

class FileStreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_temp.Path().empty());
        kqtest::ClearTrace();
        m_strPath = m_temp.File(L"package.bin");
        ASSERT_TRUE(kqtest::WriteFileBytes(m_strPath, Pattern(1000)));
        m_spStream.Attach(ZIRA::CreateFileStreamImpl());
        ASSERT_TRUE(m_spStream);
    }
    bool OpenReadOnly()
    {
        return m_spStream->GetFile().Open(m_strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN);
    }
    ULONGLONG FilePosition()
    {
        ULONGLONG ull = 0;
        EXPECT_TRUE(m_spStream->GetFile().GetPosition(&ull));
        return ull;
    }
    // Base 100, limit 50.
    void MakeWindow()
    {
        ASSERT_TRUE(m_spStream->GetFile().SetPosition(100));
        EXPECT_EQ(100u, m_spStream->SetBase());
        m_spStream->SetLimit(50);
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : base adjusted to 100"));
    }

    kqtest::CTempDir m_temp;
    std::wstring m_strPath;
    CSmartPtr<ZIRA::CFileStreamImpl> m_spStream;
};

TEST_F(FileStreamTest, WindowLooksLikeAStreamOfItsOwn)
{
    ASSERT_TRUE(OpenReadOnly());
    MakeWindow();
    IByteStream* pStream = m_spStream.Get();
    ULONGLONG ull = 0;
    ASSERT_TRUE(pStream->GetSize(&ull));
    EXPECT_EQ(50u, ull);

    ASSERT_TRUE(pStream->SetPosition(0));
    BYTE b[4] = {};
    ASSERT_TRUE(pStream->Read(b, 4));
    EXPECT_EQ(Pattern(1000)[100], b[0]);
    EXPECT_EQ(Pattern(1000)[103], b[3]);

    ASSERT_TRUE(pStream->SetPosition(70));
    EXPECT_EQ(150u, FilePosition());
    ASSERT_TRUE(pStream->GetPosition(&ull));
    EXPECT_EQ(50u, ull);

    // A read is not shortened by the window; the position it leaves is pulled back.
    std::vector<BYTE> buffer(20);
    ASSERT_TRUE(pStream->Read(buffer.data(), 20));
    EXPECT_EQ(170u, FilePosition());
    ASSERT_TRUE(pStream->GetPosition(&ull));
    EXPECT_EQ(50u, ull);
    EXPECT_EQ(150u, FilePosition());

    // Writing and resizing are for plain streams only.
    EXPECT_FALSE(pStream->Write(b, 1));
    EXPECT_FALSE(pStream->SetSize(10));
}

// A window of no bytes is empty, not the rest of the file.
TEST_F(FileStreamTest, WindowOfNoBytesIsEmpty)
{
    ASSERT_TRUE(OpenReadOnly());
    ASSERT_TRUE(m_spStream->GetFile().SetPosition(100));
    EXPECT_EQ(100u, m_spStream->SetBase());
    m_spStream->SetLimit(0);
    IByteStream* pStream = m_spStream.Get();
    ULONGLONG ull = 1;
    ASSERT_TRUE(pStream->GetSize(&ull));
    EXPECT_EQ(0u, ull);
    ASSERT_TRUE(pStream->SetPosition(70));
    EXPECT_EQ(100u, FilePosition());
    ASSERT_TRUE(pStream->GetPosition(&ull));
    EXPECT_EQ(0u, ull);
    const BYTE b = 0;
    EXPECT_FALSE(pStream->Write(&b, 1));
    EXPECT_FALSE(pStream->SetSize(10));
}

TEST_F(FileStreamTest, PlainStreamReportsTheTruePositionAndWrites)
{
    ASSERT_TRUE(m_spStream->GetFile().Open(m_strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0));
    // No base: a limit is ignored.
    m_spStream->SetLimit(10);
    IByteStream* pStream = m_spStream.Get();
    ULONGLONG ull = 0;
    ASSERT_TRUE(pStream->SetPosition(900));
    ASSERT_TRUE(pStream->GetPosition(&ull));
    EXPECT_EQ(900u, ull);
    ASSERT_TRUE(pStream->GetSize(&ull));
    EXPECT_EQ(1000u, ull);
    const BYTE data[3] = {1, 2, 3};
    ASSERT_TRUE(pStream->Write(data, 3));
    ASSERT_TRUE(pStream->SetSize(903));
    ASSERT_TRUE(pStream->GetSize(&ull));
    EXPECT_EQ(903u, ull);
    m_spStream = nullptr;  // closes the file
    std::vector<BYTE> expected = Pattern(903);
    expected[900] = 1;
    expected[901] = 2;
    expected[902] = 3;
    std::vector<BYTE> actual;
    ASSERT_TRUE(kqtest::ReadFileBytes(m_strPath, actual));
    EXPECT_TRUE(expected == actual);
}

TEST_F(FileStreamTest, ErrorInterfaceReportsTheFilesLastError)
{
    ASSERT_TRUE(OpenReadOnly());
    CSmartPtr<ZIRA::IFileStreamError> spError;
    ASSERT_EQ(KQ_OK, spError.QueryFrom(static_cast<IByteStream*>(m_spStream.Get())));
    CSmartPtr<IByteStream> spStream;
    ASSERT_EQ(KQ_OK, spStream.QueryFrom(spError.Get()));
    CSmartPtr<IObjectBase> spRoot;
    ASSERT_EQ(KQ_OK, spRoot.QueryFrom(spError.Get()));
    EXPECT_EQ(static_cast<IObjectBase*>(static_cast<IByteStream*>(m_spStream.Get())), spRoot.Get());

    BYTE b = 0;
    ASSERT_TRUE(spStream->SetPosition(0));
    EXPECT_TRUE(spStream->Read(&b, 1));
    // Writing to a file opened for reading fails with access denied.
    EXPECT_FALSE(m_spStream->GetFile().Write(&b, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), spError->GetLastError());
    // A read past the end is short: a failure the file records.
    ASSERT_TRUE(spStream->SetPosition(999));
    BYTE two[2];
    EXPECT_FALSE(spStream->Read(two, 2));
    EXPECT_EQ(m_spStream->GetFile().GetLastError(), spError->GetLastError());
}

// ---- Numbered files ----

class ArchivingStreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_temp.Path().empty());
        kqtest::ClearTrace();
    }
    std::wstring Manifest(int n) { return m_temp.File(L"Install." + std::to_wstring(n) + L".mft"); }
    std::wstring Format() { return m_temp.File(L"Install.%d.mft"); }
    std::string Content(int n) { return kqtest::ReadFileBytes(Manifest(n)); }

    kqtest::CTempDir m_temp;
};

TEST_F(ArchivingStreamTest, GoingBackToTheStartKeepsTheFileAndStartsTheNext)
{
    ASSERT_TRUE(kqtest::WriteFileBytes(Manifest(1), "one"));
    ASSERT_TRUE(kqtest::WriteFileBytes(Manifest(2), "two"));
    {
        CSmartPtr<ZIRA::CArchivingFileStreamImpl> spStream;
        spStream.Attach(ZIRA::CreateArchivingFileStreamImpl());
        ASSERT_TRUE(spStream);
        ASSERT_TRUE(spStream->SetFileNameFormat(Format()));
        EXPECT_EQ(Manifest(3), spStream->GetCurrentFileName());
        IByteStream* pStream = spStream.Get();
        // Position 0 on the empty file stays in it.
        ASSERT_TRUE(pStream->SetPosition(0));
        EXPECT_EQ(Manifest(3), spStream->GetCurrentFileName());
        ASSERT_TRUE(pStream->Write("third", 5));
        ASSERT_TRUE(pStream->SetPosition(2));
        EXPECT_EQ(Manifest(3), spStream->GetCurrentFileName());
        ASSERT_TRUE(pStream->SetPosition(0));
        EXPECT_EQ(Manifest(4), spStream->GetCurrentFileName());
        ULONGLONG ull = 1;
        ASSERT_TRUE(pStream->GetSize(&ull));
        EXPECT_EQ(0u, ull);
        ASSERT_TRUE(pStream->Write("4", 1));
    }
    EXPECT_EQ("one", Content(1));
    EXPECT_EQ("two", Content(2));
    EXPECT_EQ("third", Content(3));
    EXPECT_EQ("4", Content(4));
    EXPECT_FALSE(kqtest::FileExists(Manifest(5)));
}

TEST_F(ArchivingStreamTest, FileNeverWrittenIsRemoved)
{
    {
        CSmartPtr<ZIRA::CArchivingFileStreamImpl> spStream;
        spStream.Attach(ZIRA::CreateArchivingFileStreamImpl());
        ASSERT_TRUE(spStream->SetFileNameFormat(Format()));
        EXPECT_TRUE(kqtest::FileExists(Manifest(1)));
    }
    EXPECT_FALSE(kqtest::FileExists(Manifest(1)));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"Error : "));
}

TEST_F(ArchivingStreamTest, AllNumbersTakenReusesTheLast)
{
    for (int n = 1; n < 200; ++n)
        ASSERT_TRUE(kqtest::WriteFileBytes(Manifest(n), "old"));
    CSmartPtr<ZIRA::CArchivingFileStreamImpl> spStream;
    spStream.Attach(ZIRA::CreateArchivingFileStreamImpl());
    ASSERT_TRUE(spStream->SetFileNameFormat(Format()));
    EXPECT_EQ(Manifest(199), spStream->GetCurrentFileName());
    EXPECT_EQ("", Content(199));
    EXPECT_EQ("old", Content(198));
}

TEST_F(ArchivingStreamTest, FileThatCannotBeCreatedIsLogged)
{
    CSmartPtr<ZIRA::CArchivingFileStreamImpl> spStream;
    spStream.Attach(ZIRA::CreateArchivingFileStreamImpl());
    std::wstring strFormat = m_temp.File(L"missing\\Install.%d.mft");
    EXPECT_FALSE(spStream->SetFileNameFormat(strFormat));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CArchivingFileStreamImpl::SetFileNameFormat(141) : "
                                          L"failed to create file: " +
                                          m_temp.File(L"missing\\Install.1.mft") + L" (3)"));
}

TEST_F(ArchivingStreamTest, EmptyFileThatCannotBeDeletedIsLogged)
{
    CSmartPtr<ZIRA::CArchivingFileStreamImpl> spStream;
    spStream.Attach(ZIRA::CreateArchivingFileStreamImpl());
    ASSERT_TRUE(spStream->SetFileNameFormat(Format()));
    // Another handle without delete sharing keeps the file from being deleted.
    HANDLE hHold = CreateFileW(Manifest(1).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHold);
    spStream = nullptr;
    CloseHandle(hHold);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : ZIRA::CArchivingFileStreamImpl::~CArchivingFileStreamImpl(57) : "
                                          L"DeleteFile failed " +
                                          Manifest(1) + L" (" + std::to_wstring(ERROR_SHARING_VIOLATION) + L")"));
}

}  // namespace
