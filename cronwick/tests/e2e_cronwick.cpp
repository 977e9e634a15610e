// Cronwick.exe end to end: each command line is run as its own process under Wine, and the
// job the job manager stored, the Error events and the exit code are read back.
#include <gtest/gtest.h>

#include <windows.h>
#include <string>
#include <vector>

#include "CronwickTestKit.h"
#include "kqJobStore.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"

using namespace cwtest;

namespace {

constexpr wchar_t kszGuid[] = L"{6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B}";

struct ExpectedValue
{
    const wchar_t* pszName;
    DWORD dwValue;  // for numbers
};

// One command line and what the stored job must hold afterwards.
struct StoreCase
{
    const char* pszLabel;
    const wchar_t* pszArguments;
    const wchar_t* pszStoredId;  // the job's id as stored
    const wchar_t* pszSchedule;  // the schedule call made, or nullptr for none
    std::vector<ExpectedValue> vecNumbers;
    std::vector<const wchar_t*> vecAbsent;
};

class CronwickEndToEnd : public ::testing::TestWithParam<StoreCase>
{
};

std::wstring Args(const wchar_t* pszTail)
{
    return std::wstring(L"/guid ") + kszGuid + L" " + pszTail;
}

const StoreCase kStoreCases[] = {
    {"interval", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /name Nightly /scheduleType 1 /interval 300",
     kszGuid, L"Interval", {{L"ScheduleType", 1}, {L"IntervalUnit", 0}, {L"Interval", 300}, {L"IntervalFlag", 0}},
     {L"Days", L"WeekInterval", L"Events"}},
    {"weekly_days_exactly_one", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /scheduleType 2 /sun 1 /sat 1 /mon 2 "
     L"/tue yes /hour 3 /minute 30",
     kszGuid, L"Weekly", {{L"ScheduleType", 2}, {L"Days", 0x41}, {L"Hour", 3}, {L"Minute", 30}}, {L"Interval"}},
    {"weekly_thursday_is_thr", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /scheduleType 2 /thr 1",
     kszGuid, L"Weekly", {{L"Days", 0x10}}, {}},
    {"weekly_thu_is_ignored", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /scheduleType 2 /thu 1",
     kszGuid, L"Weekly", {{L"Days", 0}}, {}},
    {"multiweek_interval_low_byte", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} -scheduleType 3 -interval 300 "
     L"-wed 1 -hour 23 -minute 59",
     kszGuid, L"MultiWeek", {{L"ScheduleType", 3}, {L"Days", 0x08}, {L"Hour", 23}, {L"Minute", 59},
                             {L"WeekInterval", 44}}, {}},
    {"system_event_default_logon", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /scheduleType 5 /interval 7",
     kszGuid, L"SystemEvent", {{L"ScheduleType", 5}, {L"Events", 0x04}, {L"Interval", 7}}, {}},
    {"system_event_options", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /scheduleType 5 /UserLogoff 1 "
     L"/NetworkAvailable 1 /ServiceShutdown 1 /UserLogon 0",
     kszGuid, L"SystemEvent", {{L"Events", 0x1A}}, {}},
    {"type_4_sets_only_the_type", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /scheduleType 4 /interval 5",
     kszGuid, nullptr, {{L"ScheduleType", 4}}, {L"Interval"}},
    {"type_low_byte", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /scheduleType 258",
     kszGuid, nullptr, {{L"ScheduleType", 2}}, {}},
    {"threshold_8_is_15", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /threshold 8",
     kszGuid, nullptr, {{L"Thresholds", 15}}, {}},
    {"active_and_randomize", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /active 2 /randomize 17",
     kszGuid, nullptr, {{L"ExecutionContext", 1}, {L"Randomize1", 0}, {L"Randomize2", 17}, {L"Randomize3", 0}}, {}},
    {"run_once", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /runOnce 1",
     kszGuid, nullptr, {{L"RunOnce", 1}, {L"Enabled", 1}}, {}},
    // A dash starts a switch: -1 is the switch "1", so runOnce and disable get no value.
    {"run_once_minus_one", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /runOnce -1",
     kszGuid, nullptr, {{L"RunOnce", 0}}, {}},
    {"disable_minus_one_on_the_line", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /disable -1",
     kszGuid, nullptr, {{L"Enabled", 1}}, {}},
    {"disable", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /disable 1",
     kszGuid, nullptr, {{L"Enabled", 0}}, {}},
    // disable has no value of its own here; only runOnce is set.
    {"disable_then_run_once", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /disable /runOnce 1",
     kszGuid, nullptr, {{L"Enabled", 1}, {L"RunOnce", 1}}, {}},
    {"run_once_last_is_ignored", L"/guid {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /runOnce",
     kszGuid, nullptr, {{L"RunOnce", 0}}, {}},
    // Option names are case-sensitive: GUID and RunOnce are not asked for.
    {"names_are_case_sensitive", L"/GUID {6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B} /RunOnce 1",
     kszZeroGuid, nullptr, {{L"RunOnce", 0}}, {}},
    {"quoted_guid_is_zero", L"/guid \"{6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B}\"",
     kszZeroGuid, nullptr, {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, CronwickEndToEnd, ::testing::ValuesIn(kStoreCases),
                         [](const ::testing::TestParamInfo<StoreCase>& info) { return info.param.pszLabel; });

TEST_P(CronwickEndToEnd, StoresTheJob)
{
    const StoreCase& c = GetParam();
    CJobCleanup cleanup({kszGuid, kszZeroGuid});
    CronwickRun run = RunCronwick(kqtest::ExeFolder(), c.pszArguments);
    ASSERT_TRUE(run.bStarted);
    EXPECT_FALSE(run.bTimedOut);
    EXPECT_EQ(0u, run.dwExitCode);
    EXPECT_TRUE(run.vecEventStrings.empty()) << run.strStdErr;

    StoredJob job;
    ASSERT_TRUE(ReadStoredJob(c.pszStoredId, job));
    EXPECT_EQ(c.pszStoredId, StoredValue(job, L"Id").strValue);
    if (c.pszSchedule)
        EXPECT_EQ(c.pszSchedule, StoredValue(job, L"Schedule").strValue);
    else
        EXPECT_EQ(static_cast<DWORD>(REG_NONE), StoredValue(job, L"Schedule").dwType);
    for (const ExpectedValue& expected : c.vecNumbers)
    {
        JobValue value = StoredValue(job, expected.pszName);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value.dwType) << expected.pszName;
        EXPECT_EQ(expected.dwValue, value.dwValue) << expected.pszName;
    }
    for (const wchar_t* pszName : c.vecAbsent)
        EXPECT_EQ(static_cast<DWORD>(REG_NONE), StoredValue(job, pszName).dwType) << pszName;
}

// Every value the tool sets, for a line without options.
TEST(CronwickEndToEndFixed, NoOptionsStoresTheDefaults)
{
    CJobCleanup cleanup({kszZeroGuid});
    CronwickRun run = RunCronwick(kqtest::ExeFolder(), L"");
    ASSERT_TRUE(run.bStarted);
    EXPECT_EQ(0u, run.dwExitCode);
    EXPECT_TRUE(run.vecEventStrings.empty()) << run.strStdErr;

    StoredJob job;
    ASSERT_TRUE(ReadStoredJob(kszZeroGuid, job));
    const struct
    {
        const wchar_t* pszName;
        const wchar_t* pszText;
    } texts[] = {
        {L"Id", kszZeroGuid},
        {L"Name", L""},
        {L"ClassId", kszZeroGuid},
        {L"WorkerId", L"{48E5F865-886F-43C0-BC20-89AD15DFD9A5}"},
        {L"WorkerPath", L"%INSTALLDIR%\\TestWorker.dll"},
    };
    for (const auto& text : texts)
    {
        JobValue value = StoredValue(job, text.pszName);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.dwType) << text.pszName;
        EXPECT_EQ(text.pszText, value.strValue) << text.pszName;
    }
    const ExpectedValue numbers[] = {
        {L"Enabled", 1},        {L"PatchingDisabled", 0}, {L"ExecutionContext", 0}, {L"Priority", 0},
        {L"PreventStandby", 0}, {L"SupportsPause", 0},    {L"SupportsUnload", 0},   {L"LongRunning", 1},
        {L"Thresholds", 7},     {L"DataVersion", 1},      {L"Option1", 1},          {L"Option2", 1},
        {L"Option3", 1},        {L"Option4", 6},          {L"Randomize1", 0},       {L"Randomize2", 0},
        {L"Randomize3", 0},     {L"ScheduleType", 0},     {L"RunOnce", 0},
    };
    for (const ExpectedValue& expected : numbers)
    {
        JobValue value = StoredValue(job, expected.pszName);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value.dwType) << expected.pszName;
        EXPECT_EQ(expected.dwValue, value.dwValue) << expected.pszName;
    }
    // Exactly these values: nothing else was set, and no schedule call was made.
    EXPECT_EQ(ARRAYSIZE(texts) + ARRAYSIZE(numbers), job.values.size());
}

TEST(CronwickEndToEndFixed, NamesKeepQuotesAndTheFirstValueWins)
{
    CJobCleanup cleanup({kszGuid});
    CronwickRun run = RunCronwick(kqtest::ExeFolder(), Args(L"/name \"Nightly  scan\" /name B"));
    EXPECT_EQ(0u, run.dwExitCode);
    StoredJob job;
    ASSERT_TRUE(ReadStoredJob(kszGuid, job));
    EXPECT_EQ(L"\"Nightly  scan\"", StoredValue(job, L"Name").strValue);

    run = RunCronwick(kqtest::ExeFolder(), Args(L"/name A B /name C"));
    EXPECT_EQ(0u, run.dwExitCode);
    ASSERT_TRUE(ReadStoredJob(kszGuid, job));
    EXPECT_EQ(L"A", StoredValue(job, L"Name").strValue);
}

TEST(CronwickEndToEndFixed, TestErrorWritesOneEventAndRegistersNothing)
{
    CJobCleanup cleanup({kszGuid, kszZeroGuid});
    CronwickRun run = RunCronwick(kqtest::ExeFolder(), Args(L"/testError 1"));
    ASSERT_TRUE(run.bStarted);
    EXPECT_EQ(0u, run.dwExitCode);
    EXPECT_EQ(EventStrings(L"TestError should be 123. Was: 123"), run.vecEventStrings) << run.strStdErr;
    StoredJob job;
    EXPECT_FALSE(ReadStoredJob(kszGuid, job));
}

// A folder of its own with the tool, the library module and a chosen job manager module.
class CToolFolder
{
public:
    explicit CToolFolder(const wchar_t* pszJobManager)
    {
        std::wstring strBin = kqtest::ExeFolder();
        m_bReady = CopyFileW((strBin + L"Cronwick.exe").c_str(), m_dir.File(L"Cronwick.exe").c_str(), FALSE) &&
                   CopyFileW((strBin + L"kqL90U.dll").c_str(), m_dir.File(L"kqL90U.dll").c_str(), FALSE);
        if (pszJobManager)
            m_bReady = m_bReady &&
                       CopyFileW((strBin + pszJobManager).c_str(), m_dir.File(L"kqJobMgr.dll").c_str(), FALSE);
    }
    bool IsReady() const { return m_bReady; }
    std::wstring Folder() const { return m_dir.Path() + L"\\"; }

private:
    kqtest::CTempDir m_dir;
    bool m_bReady = false;
};

TEST(CronwickEndToEndFixed, RefusedNameWritesTheStepAndSavesNothing)
{
    CJobCleanup cleanup({kszGuid});
    CToolFolder folder(L"kqJobMgr_refusenames.dll");
    ASSERT_TRUE(folder.IsReady());
    CronwickRun run = RunCronwick(folder.Folder(), Args(L"/name Nightly /scheduleType 1 /interval 5"));
    ASSERT_TRUE(run.bStarted);
    EXPECT_EQ(0u, run.dwExitCode);
    EXPECT_EQ(EventStrings(L"Error 0x80004005: pJob->SetName( name )"), run.vecEventStrings) << run.strStdErr;
    StoredJob job;
    EXPECT_FALSE(ReadStoredJob(kszGuid, job));
}

TEST(CronwickEndToEndFixed, MissingJobManagerFailsTheFirstStep)
{
    CJobCleanup cleanup({kszGuid});
    CToolFolder folder(nullptr);
    ASSERT_TRUE(folder.IsReady());
    CronwickRun run = RunCronwick(folder.Folder(), Args(L"/name Nightly"));
    ASSERT_TRUE(run.bStarted);
    EXPECT_EQ(0u, run.dwExitCode);
    EXPECT_EQ(EventStrings(L"Error 0x80010300: "
                           L"kqJobMgr::kqJobMgr_IJobManagerMgd::CreateObject(GETMODULEMGR(), pManager)"),
              run.vecEventStrings)
        << run.strStdErr;
    StoredJob job;
    EXPECT_FALSE(ReadStoredJob(kszGuid, job));
}

// The listing tool shows what was registered.
TEST(CronwickEndToEndFixed, ListingToolPrintsTheStoredJob)
{
    CJobCleanup cleanup({kszGuid});
    CronwickRun run = RunCronwick(kqtest::ExeFolder(), Args(L"/name Listed /scheduleType 1 /interval 15"));
    ASSERT_EQ(0u, run.dwExitCode);

    kqtest::CTempDir dir;
    kqtest::ProcessOptions options;
    options.timeoutMs = 60000;
    options.stdOutFile = dir.File(L"list.txt");
    options.stdErrFile = dir.File(L"errors.txt");
    const kqtest::ProcessResult list =
        kqtest::RunProcess(kqtest::QuoteArgument(kqtest::ExeFolder() + L"kqjoblist.exe"), options);
    ASSERT_TRUE(list.bStarted);
    EXPECT_EQ(0u, list.dwExitCode) << kqtest::ReadFileBytes(options.stdErrFile);
    std::string strText = kqtest::ReadFileBytes(options.stdOutFile);
    EXPECT_NE(std::string::npos, strText.find("{6A2F0C1E-3B4D-4E5F-8A9B-0C1D2E3F4A5B}")) << strText;
    EXPECT_NE(std::string::npos, strText.find("  Name = Listed")) << strText;
    EXPECT_NE(std::string::npos, strText.find("  Interval = 15 (0x0000000F)")) << strText;
}

}  // namespace
