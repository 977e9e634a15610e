// String formatting, assignment, code-page conversion and the CRC-32 checksum.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "kqCrc32.h"
#include "kqFormatString.h"
#include "kqStringConvert.h"

namespace {

TEST(FormatString, FormatsWideArguments)
{
    std::wstring str = L"old text that must go";
    ASSERT_TRUE(FormatString(str, L"%ls=%d (0x%08x)", L"value", -5, 0x2Au));
    EXPECT_EQ(L"value=-5 (0x0000002a)", str);
}

TEST(FormatString, PlainSIsWideText)
{
    // The library's callers pass wide strings with %s, as the platform's wide printf expects.
    std::wstring str;
    ASSERT_TRUE(FormatString(str, L"[%s]", L"wide"));
    EXPECT_EQ(L"[wide]", str);
}

TEST(FormatString, HasNoLengthLimit)
{
    std::wstring strLong(100000, L'x');
    std::wstring str;
    ASSERT_TRUE(FormatString(str, L"<%ls>", strLong.c_str()));
    EXPECT_EQ(L"<" + strLong + L">", str);
}

TEST(FormatString, EmptyResultAndNullFormat)
{
    std::wstring str = L"something";
    ASSERT_TRUE(FormatString(str, L"%ls", L""));
    EXPECT_TRUE(str.empty());
    EXPECT_FALSE(FormatString(str, nullptr));
}

TEST(FormatString, ArgumentMayBeTheOutputItself)
{
    std::wstring str = L"abc";
    ASSERT_TRUE(FormatString(str, L"%ls-%ls", str.c_str(), str.c_str()));
    EXPECT_EQ(L"abc-abc", str);
}

TEST(AppendFormatString, AppendsToExistingText)
{
    std::wstring str = L"start";
    ASSERT_TRUE(AppendFormatString(str, L" %u", 7u));
    ASSERT_TRUE(AppendFormatString(str, L"/%ls", str.c_str()));
    EXPECT_EQ(L"start 7/start 7", str);
    EXPECT_FALSE(AppendFormatString(str, nullptr));
}

TEST(AssignString, CopiesAndTreatsNullAsEmpty)
{
    std::wstring str = L"old";
    ASSERT_TRUE(AssignString(L"new", str));
    EXPECT_EQ(L"new", str);
    ASSERT_TRUE(AssignString(str.c_str() + 1, str));
    EXPECT_EQ(L"ew", str);
    ASSERT_TRUE(AssignString(nullptr, str));
    EXPECT_TRUE(str.empty());

    std::string strA = "old";
    ASSERT_TRUE(AssignStringA("narrow", strA));
    EXPECT_EQ("narrow", strA);
    ASSERT_TRUE(AssignStringA(nullptr, strA));
    EXPECT_TRUE(strA.empty());
}

TEST(AppendString, AppendsIncludingItself)
{
    std::wstring str = L"ab";
    ASSERT_TRUE(AppendString(str, L"cd"));
    ASSERT_TRUE(AppendString(str, str.c_str()));
    ASSERT_TRUE(AppendString(str, nullptr));
    EXPECT_EQ(L"abcdabcd", str);
}

TEST(ConvertText, AsciiRoundTrip)
{
    std::wstring strWide;
    ASSERT_TRUE(ConvertToWide("Setup 1.0 (x86)", strWide));
    EXPECT_EQ(L"Setup 1.0 (x86)", strWide);
    std::string strAnsi;
    ASSERT_TRUE(ConvertToAnsi(strWide.c_str(), strAnsi));
    EXPECT_EQ("Setup 1.0 (x86)", strAnsi);

    ASSERT_TRUE(ConvertToWide("", strWide));
    EXPECT_TRUE(strWide.empty());
    ASSERT_TRUE(ConvertToAnsi(nullptr, strAnsi));
    EXPECT_TRUE(strAnsi.empty());
}

TEST(ConvertText, UsesTheAnsiCodePageNotUtf8)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "needs the Western European ANSI code page, this one is " << GetACP();
    std::wstring strWide;
    ASSERT_TRUE(ConvertToWide("caf\xE9 \x80", strWide));
    EXPECT_EQ(L"caf\u00E9 \u20AC", strWide);
    std::string strAnsi;
    ASSERT_TRUE(ConvertToAnsi(L"caf\u00E9 \u20AC", strAnsi));
    EXPECT_EQ("caf\xE9 \x80", strAnsi);
}

TEST(ConvertText, CountedFormsKeepEmbeddedZeros)
{
    const char narrow[] = {'a', '\0', 'b'};
    std::wstring strWide;
    ASSERT_TRUE(ConvertToWide(narrow, sizeof(narrow), strWide));
    EXPECT_EQ(std::wstring(L"a\0b", 3), strWide);
    std::string strAnsi;
    ASSERT_TRUE(ConvertToAnsi(strWide.data(), strWide.size(), strAnsi));
    EXPECT_EQ(std::string("a\0b", 3), strAnsi);
}

struct CrcCase
{
    const char* pszText;
    DWORD dwCrc;
};

TEST(Crc32, KnownValues)
{
    const CrcCase cases[] = {
        {"", 0x00000000},
        {"a", 0xE8B7BE43},
        {"abc", 0x352441C2},
        {"123456789", 0xCBF43926},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
    };
    for (const CrcCase& c : cases)
        EXPECT_EQ(c.dwCrc, Crc32(c.pszText, strlen(c.pszText))) << c.pszText;
}

TEST(Crc32, NullDataIsEmpty)
{
    EXPECT_EQ(0u, Crc32(nullptr, 0));
    EXPECT_EQ(0u, Crc32(nullptr, 10));
}

TEST(Crc32, UpdateStepByStepEqualsWholeChecksum)
{
    BYTE data[1000];
    for (size_t i = 0; i < sizeof(data); ++i)
        data[i] = static_cast<BYTE>(i * 7 + (i >> 3));
    DWORD dwCrc = 0xFFFFFFFF;
    for (BYTE b : data)
        dwCrc = Crc32Update(b, dwCrc);
    EXPECT_EQ(Crc32(data, sizeof(data)), ~dwCrc);
}

TEST(Crc32, UpdateIsOneRawTableStep)
{
    // No initial value and no complement: from zero, a zero byte stays zero; T[1] is the
    // polynomial's first table entry.
    EXPECT_EQ(0u, Crc32Update(0, 0));
    EXPECT_EQ(0x77073096u, Crc32Update(1, 0));
    EXPECT_EQ(0x77073096u ^ 0x00FFFFFFu, Crc32Update(0xFE, 0xFFFFFFFF));
}

}  // namespace
