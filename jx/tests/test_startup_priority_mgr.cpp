// The startup form: normal values, the enabled switch and the waiting stop.
#include <gtest/gtest.h>

#include "FakePrioritySystemCalls.h"
#include "jxProcessStartupPriorityMgr.h"
#include "kqSystemInfo.h"
#include "kqTestTrace.h"

using JX::CProcessStartupPriorityMgr;

namespace {

class StartupPriorityManager : public ::testing::Test
{
protected:
    void SetUp() override { kqtest::ClearTrace(); }
    CFakePrioritySystemCalls m_calls;
};

}  // namespace

TEST_F(StartupPriorityManager, NormalValuePerKind)
{
    const DWORD adwExpected[] = {0, 3, 3, 3, 9, 12, 0};
    for (DWORD dwType = 0; dwType < ARRAYSIZE(adwExpected); ++dwType)
        EXPECT_EQ(adwExpected[dwType], CProcessStartupPriorityMgr::getNormalValue(dwType)) << dwType;
    EXPECT_EQ(2u, kqtest::CountTraceLines(L"Error : JX::CProcessStartupPriorityMgr::getNormalValue(1268) : "
                                          L"Unrecognized priority setter!"));
}

TEST_F(StartupPriorityManager, FixedConfigurationFollowsTheSystem)
{
    CProcessStartupPriorityMgr mgr(&m_calls);
    EXPECT_FALSE(mgr.GetConfiguration().GetEnabled());
    mgr.GetConfiguration().Initialize();
    EXPECT_EQ(IsWindowsVistaOrLater(), mgr.GetConfiguration().GetEnabled());
    EXPECT_EQ(200u, mgr.GetConfiguration().GetRetryFrequency());
    EXPECT_EQ(300000u, mgr.GetConfiguration().GetRetryTimeout());
    EXPECT_EQ(1u, kqtest::CountTraceLines(
                      std::wstring(L"Information : JX::CProcessStartupPriorityMgr::CConfiguration::Initialize(1285) "
                                   L": CConfiguration: Enabled - ") +
                      (IsWindowsVistaOrLater() ? L"1" : L"0") + L" , Retry frequency - 200, Retry timeout - 300000"));
}

// As on Windows XP: every call succeeds and nothing runs.
TEST_F(StartupPriorityManager, DisabledDoesNothingButSucceeds)
{
    {
        CProcessStartupPriorityMgr mgr(&m_calls);
        mgr.GetConfiguration().Initialize(false, 200, 300000);
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"CConfiguration: Enabled - 0 , Retry frequency - 200, Retry timeout "
                                              L"- 300000"));
        EXPECT_TRUE(mgr.AddPrioritySetter(4));
        EXPECT_TRUE(mgr.AddPrioritySetter(5));
        EXPECT_TRUE(mgr.AddPrioritySetter(1));
        EXPECT_TRUE(mgr.Start(GetCurrentProcess()));
        EXPECT_FALSE(mgr.IsRunning());
        mgr.Stop();
        EXPECT_EQ(3u, kqtest::CountTraceLines(L"Information : JX::CProcessStartupPriorityMgr::AddPrioritySetter(1142) "
                                              L": !m_cfg.GetEnabled()"));
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : JX::CProcessStartupPriorityMgr::Start(1161) : "
                                              L"!m_cfg.GetEnabled()"));
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : JX::CProcessStartupPriorityMgr::Stop(1209) : "
                                              L"!m_cfg.GetEnabled()"));
    }
    EXPECT_EQ(2u, kqtest::CountTraceLines(L"Stop(1209) : !m_cfg.GetEnabled()"));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"Created PRIMITIVE"));
    EXPECT_EQ(0, m_calls.Waits());
}

TEST_F(StartupPriorityManager, UnknownKindIsRefusedTwice)
{
    CProcessStartupPriorityMgr mgr(&m_calls);
    mgr.GetConfiguration().Initialize(true, 200, 300000);
    EXPECT_FALSE(mgr.AddPrioritySetter(6));
    const std::vector<std::wstring> lines = kqtest::TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(L"Error : JX::CProcessStartupPriorityMgr::getNormalValue(1268) : Unrecognized priority setter!",
              lines[lines.size() - 2]);
    EXPECT_EQ(L"Error : JX::CProcessPrioritySetterMgr::AddPrioritySetter(678) : Invalid args", lines.back());
}

TEST_F(StartupPriorityManager, EnabledAppliesNormalLevelsAndStopWaits)
{
    m_calls.SetCurrentClass(BELOW_NORMAL_PRIORITY_CLASS);
    m_calls.FailInformationClass(33, -1);  // as under Wine: retried until the stop
    m_calls.SetGateAtWait(0);
    CProcessStartupPriorityMgr mgr(&m_calls);
    mgr.GetConfiguration().Initialize(true, 200, 300000);
    ASSERT_TRUE(mgr.AddPrioritySetter(4));
    ASSERT_TRUE(mgr.AddPrioritySetter(5));
    ASSERT_TRUE(mgr.AddPrioritySetter(1));
    ASSERT_TRUE(mgr.Start(GetCurrentProcess()));
    ASSERT_TRUE(m_calls.WaitForGate(30000));
    EXPECT_EQ((std::vector<BYTE>{2, 0, 0, 0}), m_calls.Buffer(33));
    EXPECT_EQ((std::vector<BYTE>{5, 0, 0, 0}), m_calls.Buffer(39));
    EXPECT_EQ(std::vector<DWORD>{NORMAL_PRIORITY_CLASS}, m_calls.m_vecSetClass);

    mgr.Stop();
    EXPECT_FALSE(mgr.IsRunning());
    EXPECT_EQ(static_cast<DWORD>(JX::CProcessPrioritySetterMgr::eResult_Incomplete), mgr.GetResult());
    // The worker's last line comes between the two lines of the wait.
    const std::vector<std::wstring> lines = kqtest::TraceLines();
    auto find = [&lines](const std::wstring& strLine) {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == strLine)
                return static_cast<int>(i);
        }
        return -1;
    };
    const int nBegin = find(L"Information : JX::CProcessStartupPriorityMgr::Stop(1219) : WaitForExit(INFINITE) BEGIN");
    const int nExit = find(L"Information : JX::CProcessPrioritySetterMgr::Run(959) : Exiting");
    ASSERT_GE(nBegin, 0);
    ASSERT_GE(nExit, 0);
    EXPECT_EQ(L"Information : JX::CProcessStartupPriorityMgr::Stop(1221) : WaitForExit(INFINITE) END", lines.back());
    EXPECT_LT(find(L"Information : JX::CProcessPrioritySetterMgr::Stop(809) : Requested thread termination"), nBegin);
}

TEST_F(StartupPriorityManager, EnabledButNeverStartedStopsWithoutHanging)
{
    CProcessStartupPriorityMgr mgr(&m_calls);
    mgr.GetConfiguration().Initialize(true, 200, 300000);
    mgr.Stop();
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Stop(800) : No running thread to stop"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Stop(1221) : WaitForExit(INFINITE) END"));
}
