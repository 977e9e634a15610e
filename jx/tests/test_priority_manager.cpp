// The worker's passes, its time limit, stop requests and the manager's refusals.
#include <gtest/gtest.h>

#include "FakePrioritySystemCalls.h"
#include "jxProcessPrioritySetterMgr.h"
#include "kqTestTrace.h"

using Mgr = JX::CProcessPrioritySetterMgr;

namespace {

const wchar_t kPrefix[] = L"JX::CProcessPrioritySetterMgr::";

std::wstring Line(const wchar_t* pszLevel, const wchar_t* pszRest)
{
    return std::wstring(pszLevel) + L" : " + kPrefix + pszRest;
}

class PriorityManager : public ::testing::Test
{
protected:
    void SetUp() override { kqtest::ClearTrace(); }

    // Starts on the current process and waits for the worker to end.
    void RunToEnd(Mgr& mgr, DWORD dwFrequency, DWORD dwTimeout)
    {
        ASSERT_TRUE(mgr.Start(GetCurrentProcess(), dwFrequency, dwTimeout));
        ASSERT_EQ(WAIT_OBJECT_0, mgr.Lock(30000));
    }

    CFakePrioritySystemCalls m_calls;
};

}  // namespace

TEST_F(PriorityManager, AllSucceedOnFirstPassEndsWithoutWaiting)
{
    Mgr mgr(&m_calls);
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_NotRun), mgr.GetResult());
    ASSERT_TRUE(mgr.AddPrioritySetter(9, 4));
    ASSERT_TRUE(mgr.AddPrioritySetter(12, 5));
    ASSERT_TRUE(mgr.AddPrioritySetter(3, 1));
    RunToEnd(mgr, 200, 300000);
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Succeeded), mgr.GetResult());
    EXPECT_EQ(0, m_calls.Waits());
    EXPECT_EQ(1, m_calls.Calls(33));
    EXPECT_EQ(1, m_calls.Calls(39));
    EXPECT_EQ(3u, kqtest::CountTraceLines(Line(L"Information", L"Run(898) : Priority setter succeeded.")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Run(914) : All priority setters succeeded.")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Run(952) : Result updated to 0x00000003")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"start(1092) : Successfully started!")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Run(864) : Filled priority setters collection...")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Run(955) : Closing process handle 0x")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Run(959) : Exiting")));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"Warning : "));
}

TEST_F(PriorityManager, FailingSetterIsRetriedOncePerPassUntilTheTimeLimit)
{
    m_calls.FailInformationClass(33, -1);
    Mgr mgr(&m_calls);
    ASSERT_TRUE(mgr.AddPrioritySetter(9, 4));
    ASSERT_TRUE(mgr.AddPrioritySetter(12, 5));
    RunToEnd(mgr, 200, 300000);
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Incomplete), mgr.GetResult());
    EXPECT_EQ(1501, m_calls.Calls(33));
    EXPECT_EQ(1, m_calls.Calls(39));  // done on the first pass, never applied again
    EXPECT_EQ(1501, m_calls.Waits());
    EXPECT_EQ(1501ull * 200, m_calls.VirtualMs());
    EXPECT_EQ(1501u, kqtest::CountTraceLines(Line(L"Warning", L"Run(904) : Priority setter needs to be retried.  "
                                                              L"Move on to next setter.")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Run(919) : Waiting on stop signal for 200 "
                                                               L"milliseconds, 0 of 1501")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Waiting on stop signal for 200 milliseconds, 1500 of 1501"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Run(952) : Result updated to 0x00000002"));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"Run(924)"));
}

TEST_F(PriorityManager, PassCountIsTimeoutOverFrequencyPlusOne)
{
    struct Case
    {
        DWORD dwFrequency;
        DWORD dwTimeout;
        int nPasses;
    };
    const Case cases[] = {{200, 0, 1}, {200, 199, 1}, {200, 200, 2}, {300, 1000, 4}, {1, 9, 10}};
    for (const Case& c : cases) {
        CFakePrioritySystemCalls calls;
        calls.FailInformationClass(39, -1);
        Mgr mgr(&calls);
        ASSERT_TRUE(mgr.AddPrioritySetter(12, 5));
        RunToEnd(mgr, c.dwFrequency, c.dwTimeout);
        EXPECT_EQ(c.nPasses, calls.Calls(39)) << c.dwFrequency << "/" << c.dwTimeout;
        EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Incomplete), mgr.GetResult());
    }
}

TEST_F(PriorityManager, SetterThatSucceedsLaterEndsTheWorkerThen)
{
    m_calls.FailInformationClass(33, 3);
    Mgr mgr(&m_calls);
    ASSERT_TRUE(mgr.AddPrioritySetter(9, 4));
    RunToEnd(mgr, 200, 300000);
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Succeeded), mgr.GetResult());
    EXPECT_EQ(4, m_calls.Calls(33));
    EXPECT_EQ(3, m_calls.Waits());
}

TEST_F(PriorityManager, StopWhileWaitingEndsTheWorkerWithIncomplete)
{
    m_calls.FailInformationClass(33, -1);
    m_calls.SetGateAtWait(2);
    Mgr mgr(&m_calls);
    ASSERT_TRUE(mgr.AddPrioritySetter(9, 4));
    ASSERT_TRUE(mgr.Start(GetCurrentProcess(), 200, 300000));
    ASSERT_TRUE(m_calls.WaitForGate(30000));
    EXPECT_TRUE(mgr.IsRunning());
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Running), mgr.GetResult());
    // Setters cannot be added or the worker started twice while it runs.
    EXPECT_FALSE(mgr.AddPrioritySetter(12, 5));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Error", L"AddPrioritySetter(688) : Already started!")));
    EXPECT_FALSE(mgr.Start(GetCurrentProcess(), 200, 300000));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Error", L"start(1068) : Already started!")));

    mgr.Stop();
    ASSERT_EQ(WAIT_OBJECT_0, mgr.Lock(30000));
    EXPECT_FALSE(mgr.IsRunning());
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Incomplete), mgr.GetResult());
    EXPECT_EQ(3, m_calls.Calls(33));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Stop(791) : Entered")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Stop(809) : Requested thread termination")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"Stop(814) : Exiting")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Warning", L"Run(924) : Terminate signalled received prior to "
                                                           L"successfully applying all priority setters!")));

    // A second stop finds no running worker.
    mgr.Stop();
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Warning", L"Stop(800) : No running thread to stop")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Stop(809)"));
}

TEST_F(PriorityManager, StopWithoutWorkerOnlyWarns)
{
    Mgr mgr(&m_calls);
    mgr.Stop();
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Warning", L"Stop(800) : No running thread to stop")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Stop(814) : Exiting"));
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_NotRun), mgr.GetResult());
    EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), mgr.Lock(0));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Error", L"Lock(971) : GetHandle() == NULL")));
}

TEST_F(PriorityManager, RefusesPairsOutsideTheTable)
{
    Mgr mgr(&m_calls);
    EXPECT_FALSE(mgr.AddPrioritySetter(12, 4));
    EXPECT_FALSE(mgr.AddPrioritySetter(3, 6));
    EXPECT_FALSE(mgr.AddPrioritySetter(0, 1));
    EXPECT_EQ(3u, kqtest::CountTraceLines(Line(L"Error", L"AddPrioritySetter(678) : Invalid args")));
    // Nothing was added: the worker has nothing to do and succeeds at once.
    RunToEnd(mgr, 200, 1000);
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Succeeded), mgr.GetResult());
}

TEST_F(PriorityManager, StartFailures)
{
    Mgr mgr(&m_calls);
    ASSERT_TRUE(mgr.AddPrioritySetter(9, 4));
    EXPECT_FALSE(mgr.Start(nullptr, 200, 1000));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Error", L"Start(763) : DuplicateHandle(...) == FALSE, last error "
                                                         L"0x00000006")));
    // A zero frequency would divide by zero in the pass count.
    EXPECT_FALSE(mgr.Start(GetCurrentProcess(), 0, 1000));
    EXPECT_FALSE(mgr.IsRunning());
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_NotRun), mgr.GetResult());
}

TEST_F(PriorityManager, RestartAfterEndRebuildsEverySetter)
{
    Mgr mgr(&m_calls);
    ASSERT_TRUE(mgr.AddPrioritySetter(9, 4));
    RunToEnd(mgr, 200, 1000);
    ASSERT_TRUE(mgr.AddPrioritySetter(12, 5));
    RunToEnd(mgr, 200, 1000);
    EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Succeeded), mgr.GetResult());
    EXPECT_EQ(2, m_calls.Calls(33));
    EXPECT_EQ(1, m_calls.Calls(39));
}

TEST_F(PriorityManager, DestructionStopsAndWaitsForTheWorker)
{
    m_calls.FailInformationClass(33, -1);
    m_calls.SetGateAtWait(0);
    {
        Mgr mgr(&m_calls);
        ASSERT_TRUE(mgr.AddPrioritySetter(9, 4));
        ASSERT_TRUE(mgr.Start(GetCurrentProcess(), 200, 300000));
        ASSERT_TRUE(m_calls.WaitForGate(30000));
    }
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"~CProcessPrioritySetterMgr(1019) : "
                                                               L"WaitForExit(INFINITE) BEGIN")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(Line(L"Information", L"~CProcessPrioritySetterMgr(1021) : "
                                                               L"WaitForExit(INFINITE) END")));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Run(959) : Exiting"));
}

// The real system: the class setter works under Wine; the I/O setter is retried there.
TEST_F(PriorityManager, RealProcessBelowNormalIsRaisedAndHighIsKept)
{
    const DWORD dwOriginal = GetPriorityClass(GetCurrentProcess());
    struct Case
    {
        DWORD dwStart;
        DWORD dwExpected;
    };
    const Case cases[] = {{BELOW_NORMAL_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS},
                          {HIGH_PRIORITY_CLASS, HIGH_PRIORITY_CLASS}};
    for (const Case& c : cases) {
        ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), c.dwStart));
        Mgr mgr;
        ASSERT_TRUE(mgr.AddPrioritySetter(3, 1));
        RunToEnd(mgr, 200, 300000);
        EXPECT_EQ(static_cast<DWORD>(Mgr::eResult_Succeeded), mgr.GetResult());
        EXPECT_EQ(c.dwExpected, GetPriorityClass(GetCurrentProcess()));
    }
    SetPriorityClass(GetCurrentProcess(), dwOriginal);
}

TEST_F(PriorityManager, RealStopDuringTheWaitTakesEffectWithinOneInterval)
{
    Mgr mgr;
    // A setter that fails on every pass: a bad priority class value for the native call... the
    // I/O class is not implemented under Wine; on Windows it succeeds and the worker ends first.
    ASSERT_TRUE(mgr.AddPrioritySetter(9, 4));
    ASSERT_TRUE(mgr.Start(GetCurrentProcess(), 200, 300000));
    Sleep(300);
    const DWORD dwBefore = GetTickCount();
    mgr.Stop();
    ASSERT_EQ(WAIT_OBJECT_0, mgr.Lock(5000));
    EXPECT_LT(GetTickCount() - dwBefore, 1000u);
    const DWORD dwResult = mgr.GetResult();
    EXPECT_TRUE(dwResult == Mgr::eResult_Incomplete || dwResult == Mgr::eResult_Succeeded) << dwResult;
}
