// CFile: all-or-nothing reads and writes, positions and sizes, the remembered system error.
#include <gtest/gtest.h>

#include <vector>

#include "kqFile.h"
#include "kqTestFiles.h"

namespace {

class FileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_temp.Path().empty());
        m_strPath = m_temp.File(L"data.bin");
        ASSERT_TRUE(kqtest::WriteFileBytes(m_strPath, std::vector<BYTE>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    }

    bool OpenReadWrite(CFile& file)
    {
        return file.Open(m_strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0);
    }

    kqtest::CTempDir m_temp;
    std::wstring m_strPath;
};

TEST_F(FileTest, ReadPastTheEndFailsEvenWhenSomeBytesCame)
{
    CFile file;
    ASSERT_TRUE(OpenReadWrite(file));
    BYTE buffer[4] = {};
    ASSERT_TRUE(file.ReadAt(6, buffer, 4));
    EXPECT_EQ(7, buffer[0]);
    ASSERT_TRUE(file.SetPosition(8));
    EXPECT_FALSE(file.Read(buffer, 4));
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), file.GetLastError());
}

TEST_F(FileTest, SizePositionAndWrites)
{
    CFile file;
    ASSERT_TRUE(OpenReadWrite(file));
    ULONGLONG ullValue = 0;
    ASSERT_TRUE(file.GetSize(&ullValue));
    EXPECT_EQ(10u, ullValue);
    const BYTE tail[3] = {0xAA, 0xBB, 0xCC};
    ASSERT_TRUE(file.WriteAt(9, tail, sizeof(tail)));
    ASSERT_TRUE(file.GetPosition(&ullValue));
    EXPECT_EQ(12u, ullValue);
    ASSERT_TRUE(file.SetSize(11));
    ASSERT_TRUE(file.GetPosition(&ullValue));
    EXPECT_EQ(11u, ullValue);
    ASSERT_TRUE(file.Seek(-2, FILE_END));
    BYTE last[2] = {};
    ASSERT_TRUE(file.Read(last, 2));
    EXPECT_EQ(0xAA, last[0]);
    EXPECT_EQ(0xBB, last[1]);
    EXPECT_TRUE(file.WriteEmpty());
    EXPECT_TRUE(file.Flush());
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    std::vector<BYTE> bytes;
    ASSERT_TRUE(kqtest::ReadFileBytes(m_strPath, bytes));
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0xAA, 0xBB}), bytes);
}

TEST_F(FileTest, ReadOnlyHandleRefusesEvenAnEmptyWrite)
{
    CFile file;
    ASSERT_TRUE(file.Open(m_strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0));
    EXPECT_FALSE(file.WriteEmpty());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), file.GetLastError());
}

TEST_F(FileTest, EmptyPathFailsWithoutTouchingTheLastError)
{
    CFile file;
    ASSERT_FALSE(file.Open(m_temp.File(L"missing.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0));
    const DWORD dwError = file.GetLastError();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), dwError);
    EXPECT_FALSE(file.Open(L"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0));
    EXPECT_FALSE(file.Open(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0));
    EXPECT_EQ(dwError, file.GetLastError());
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(FileTest, ClosedFileFailsEverything)
{
    CFile file;
    ULONGLONG ullSize = 0;
    BYTE b = 0;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.GetSize(&ullSize));
    EXPECT_FALSE(file.Read(&b, 1));
    EXPECT_FALSE(file.WriteEmpty());
}

}  // namespace
