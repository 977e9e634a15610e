// The tool's option map, accessors, event message and registration, in this process: the
// library module and the job manager module are loaded from the build's program folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <string>
#include <vector>

#include "CronwickEvent.h"
#include "CronwickOptions.h"
#include "CronwickRegister.h"
#include "CronwickTestKit.h"
#include "kqJobStore.h"

namespace {

std::vector<std::vector<std::wstring>> g_events;

void RecordEvent(const wchar_t* const* ppszStrings, WORD cStrings)
{
    g_events.emplace_back(ppszStrings, ppszStrings + cStrings);
}

// Events go to memory while a test runs.
class CronwickInProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_events.clear();
        m_pfnOldSink = SetEventSink(&RecordEvent);
        OptionMap.clear();
    }
    void TearDown() override
    {
        SetEventSink(m_pfnOldSink);
        OptionMap.clear();
    }

private:
    PFNEVENTSINK m_pfnOldSink = nullptr;
};

CommandLineToken Switch(const wchar_t* pszText)
{
    return CommandLineToken{true, pszText, std::wstring(L"/") + pszText};
}

CommandLineToken Value(const wchar_t* pszRaw)
{
    return CommandLineToken{false, pszRaw, pszRaw};
}

TEST_F(CronwickInProcess, OptionMapFromTheLibraryParser)
{
    BuildOptionMap(L"\"C:\\Program Files\\Cronwick.exe\" /guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} "
                   L"-name \"two  words\" /scheduleType 1 /interval 300");
    COptionMap expected = {
        {L"guid", L"{6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B}"},
        {L"name", L"\"two  words\""},
        {L"scheduleType", L"1"},
        {L"interval", L"300"},
    };
    EXPECT_EQ(expected, OptionMap);
}

TEST_F(CronwickInProcess, OptionMapKeepsWhatAFailedParseClassified)
{
    // A lone slash fails the parse after the tokens before it.
    BuildOptionMap(L"Cronwick.exe /name A / /interval 5");
    COptionMap expected = {{L"name", L"A"}};
    EXPECT_EQ(expected, OptionMap);
}

TEST_F(CronwickInProcess, OptionMapRules)
{
    FillOptionMap({
        Value(L"/program-path-is-skipped"),
        Switch(L"name"), Value(L"A"), Value(L"B"),  // the second value goes under the same name and is dropped
        Switch(L"disable"),                         // no value of its own
        Switch(L"runOnce"), Value(L"1"),
        Switch(L"name"), Value(L"C"),               // the first occurrence wins
        Switch(L"Name"), Value(L"D"),               // another name: case counts
        Switch(L"last"),
    });
    COptionMap expected = {{L"name", L"A"}, {L"runOnce", L"1"}, {L"Name", L"D"}};
    EXPECT_EQ(expected, OptionMap);

    // A value before any switch has nothing to attach to.
    FillOptionMap({Value(L"prog"), Value(L"stray"), Switch(L"a"), Value(L"1")});
    EXPECT_EQ((COptionMap{{L"a", L"1"}}), OptionMap);
}

TEST_F(CronwickInProcess, IntegerOptions)
{
    const struct
    {
        const wchar_t* pszValue;
        int iExpected;
    } cases[] = {
        {L"42", 42}, {L"  -7x", -7}, {L"+3", 3}, {L"abc", 0}, {L"0x10", 0}, {L"\"5\"", 0}, {L"", 0},
    };
    for (const auto& c : cases)
    {
        OptionMap[L"n"] = c.pszValue;
        EXPECT_EQ(c.iExpected, GetOptionInt(L"n")) << c.pszValue;
    }
    EXPECT_EQ(0, GetOptionInt(L"absent"));
    EXPECT_EQ(L"", GetOptionString(L"absent"));
}

TEST_F(CronwickInProcess, GuidOptions)
{
    const GUID kGuid = {0x6a2f0c1e, 0x3b4d, 0x4e5f, {0x8a, 0x9b, 0x0c, 0x1d, 0x2e, 0x3f, 0x4a, 0x5b}};
    const struct
    {
        const wchar_t* pszValue;
        bool bParses;
    } cases[] = {
        {L"{6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B}", true},
        {L"{6a2f0c1e-3b4d-4e5f-8a9b-0c1d2e3f4a5b}", true},
        {L"\"{6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B}\"", false},
        {L"6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B", false},
        {L"{6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5Z}", false},
        {L"Shell.Application", false},
        {L"", false},
    };
    for (const auto& c : cases)
    {
        OptionMap[L"guid"] = c.pszValue;
        GUID guid = GetOptionGuid(L"guid");
        EXPECT_EQ(c.bParses ? kGuid : GUID(), guid) << c.pszValue;
    }
    OptionMap.clear();
    EXPECT_EQ(GUID(), GetOptionGuid(L"guid"));
}

TEST_F(CronwickInProcess, EventMessageIsFormattedAndCut)
{
    ReportEventError(L"Error 0x%08X: %hs", 0x80004005u, "pJob->SetName( name )");
    ASSERT_EQ(1u, g_events.size());
    EXPECT_EQ(cwtest::EventStrings(L"Error 0x80004005: pJob->SetName( name )"), g_events[0]);

    std::wstring strLong(5000, L'x');
    ReportEventError(L"%ls", strLong.c_str());
    ASSERT_EQ(2u, g_events.size());
    EXPECT_EQ(std::wstring(kcchEventMessage - 1, L'x'), g_events[1][1]);
}

// Values that cannot come through the command line (a dash starts a switch there).
TEST_F(CronwickInProcess, NegativeOptionValues)
{
    const wchar_t kszId[] = L"{0B7C5E21-4D3A-4F6B-9C8D-7E6F5A4B3C2D}";
    cwtest::CJobCleanup cleanup({kszId});
    OptionMap = {{L"guid", kszId}, {L"disable", L"-1"}, {L"runOnce", L"-1"}, {L"threshold", L"-16"},
                 {L"randomize", L"-2"}};
    EXPECT_EQ(S_OK, RegisterJob());
    EXPECT_TRUE(g_events.empty());

    StoredJob job;
    ASSERT_TRUE(ReadStoredJob(kszId, job));
    EXPECT_EQ(0u, cwtest::StoredValue(job, L"Enabled").dwValue);
    EXPECT_EQ(0u, cwtest::StoredValue(job, L"RunOnce").dwValue);
    EXPECT_EQ(0xFFFFFFF7u, cwtest::StoredValue(job, L"Thresholds").dwValue);
    EXPECT_EQ(0xFFFFFFFEu, cwtest::StoredValue(job, L"Randomize2").dwValue);
}

// Saving again replaces the stored job as a whole.
TEST_F(CronwickInProcess, RegisteringAgainReplacesTheJob)
{
    const wchar_t kszId[] = L"{0B7C5E21-4D3A-4F6B-9C8D-7E6F5A4B3C2E}";
    cwtest::CJobCleanup cleanup({kszId});
    OptionMap = {{L"guid", kszId}, {L"scheduleType", L"2"}, {L"mon", L"1"}};
    ASSERT_EQ(S_OK, RegisterJob());
    OptionMap = {{L"guid", kszId}, {L"scheduleType", L"1"}, {L"interval", L"9"}};
    ASSERT_EQ(S_OK, RegisterJob());

    StoredJob job;
    ASSERT_TRUE(ReadStoredJob(kszId, job));
    EXPECT_EQ(L"Interval", cwtest::StoredValue(job, L"Schedule").strValue);
    EXPECT_EQ(9u, cwtest::StoredValue(job, L"Interval").dwValue);
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), cwtest::StoredValue(job, L"Days").dwType);
}

}  // namespace
