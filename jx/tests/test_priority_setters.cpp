// The setters' value conversions, their apply rules and the native entry points.
#include <gtest/gtest.h>

#include <stdexcept>

#include "FakePrioritySystemCalls.h"
#include "jxNativeProcessInfo.h"
#include "jxPrioritySetterCPU.h"
#include "jxPrioritySetterCPUNative.h"
#include "jxPrioritySetterFactory.h"
#include "jxPrioritySetterIO.h"
#include "jxPrioritySetterPage.h"
#include "kqTestTrace.h"

using Mgr = JX::CProcessPrioritySetterMgr;

namespace {

const LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);

struct CpuConversion
{
    DWORD dwValueType;
    DWORD dwClass;
    BYTE bNativeClass;
};

const CpuConversion kCpuConversions[] = {
    {1, IDLE_PRIORITY_CLASS, 1},         {2, BELOW_NORMAL_PRIORITY_CLASS, 5}, {3, NORMAL_PRIORITY_CLASS, 2},
    {4, ABOVE_NORMAL_PRIORITY_CLASS, 6}, {5, HIGH_PRIORITY_CLASS, 3},         {6, REALTIME_PRIORITY_CLASS, 4},
};

}  // namespace

TEST(PrioritySetterConversion, CpuValuesMapToClassesAndNativeClasses)
{
    for (const CpuConversion& c : kCpuConversions) {
        EXPECT_EQ(c.dwClass, Mgr::CPrioritySetter_CPU::ConvertValue(c.dwValueType)) << c.dwValueType;
        EXPECT_EQ(c.bNativeClass, Mgr::CPrioritySetter_CPU_Native::ConvertValue(c.dwValueType)) << c.dwValueType;
    }
}

TEST(PrioritySetterConversion, IoAndPageValues)
{
    for (DWORD dw = 7; dw <= 11; ++dw)
        EXPECT_EQ(dw - 7, Mgr::CPrioritySetter_IO::ConvertValue(dw));
    EXPECT_EQ(5u, Mgr::CPrioritySetter_Page::ConvertValue(12));
}

TEST(PrioritySetterConversion, ValueOutsideTheColumnRaisesNamingTheConversion)
{
    struct Case
    {
        DWORD dwValueType;
        DWORD (*pfn)(DWORD);
        const char* pszName;
    };
    const Case cases[] = {
        {0, [](DWORD v) { return Mgr::CPrioritySetter_CPU::ConvertValue(v); },
         "CPrioritySetter_CPU::ConvertValue(CProcessPrioritySetterMgr::eValueType)"},
        {7, [](DWORD v) { return Mgr::CPrioritySetter_CPU::ConvertValue(v); },
         "CPrioritySetter_CPU::ConvertValue(CProcessPrioritySetterMgr::eValueType)"},
        {9, [](DWORD v) { return static_cast<DWORD>(Mgr::CPrioritySetter_CPU_Native::ConvertValue(v)); },
         "CPrioritySetter_CPU_Native::ConvertValue(CProcessPrioritySetterMgr::eValueType)"},
        {6, [](DWORD v) { return static_cast<DWORD>(Mgr::CPrioritySetter_IO::ConvertValue(v)); },
         "CPrioritySetter_IO::ConvertValue(CProcessPrioritySetterMgr::eValueType)"},
        {12, [](DWORD v) { return static_cast<DWORD>(Mgr::CPrioritySetter_IO::ConvertValue(v)); },
         "CPrioritySetter_IO::ConvertValue(CProcessPrioritySetterMgr::eValueType)"},
        {11, [](DWORD v) { return static_cast<DWORD>(Mgr::CPrioritySetter_Page::ConvertValue(v)); },
         "CPrioritySetter_Page::ConvertValue(CProcessPrioritySetterMgr::eValueType)"},
    };
    for (const Case& c : cases) {
        try {
            c.pfn(c.dwValueType);
            ADD_FAILURE() << "no error for " << c.dwValueType << " in " << c.pszName;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(c.pszName, e.what());
        }
    }
}

TEST(PrioritySetterConversion, ValidPairsAreExactlyTheTable)
{
    for (DWORD dwType = 0; dwType <= 6; ++dwType) {
        for (DWORD dwValue = 0; dwValue <= 13; ++dwValue) {
            bool bExpected = (dwType >= 1 && dwType <= 3 && dwValue >= 1 && dwValue <= 6) ||
                             (dwType == 4 && dwValue >= 7 && dwValue <= 11) || (dwType == 5 && dwValue == 12);
            EXPECT_EQ(bExpected, Mgr::IsValidPair(dwValue, dwType)) << dwType << "/" << dwValue;
        }
    }
}

class PrioritySetterApply : public ::testing::Test
{
protected:
    void SetUp() override { kqtest::ClearTrace(); }

    CFakePrioritySystemCalls m_calls;
    Mgr m_mgr{&m_calls};
};

TEST_F(PrioritySetterApply, CpuRaiseOnlyLeavesHigherClassAlone)
{
    m_calls.SetCurrentClass(HIGH_PRIORITY_CLASS);
    Mgr::CPrioritySetter_CPU setter(3, true);
    EXPECT_TRUE(setter.Apply(m_mgr));
    EXPECT_TRUE(m_calls.m_vecSetClass.empty());
    EXPECT_EQ(1u, kqtest::CountTraceLines(
                      L"Information : JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::IsUpdateRequired(372) : "
                      L"Current process priority class 0x00000080, Requested process priority class 0x00000020"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"CPrioritySetter_CPU::Apply(302) : Request already satisfied, no "
                                          L"update required"));
}

TEST_F(PrioritySetterApply, CpuUpdateDecisionByRank)
{
    struct Case
    {
        DWORD dwCurrent;
        DWORD dwRequestedValue;
        bool bRaiseOnly;
        bool bUpdate;
    };
    const Case cases[] = {
        {BELOW_NORMAL_PRIORITY_CLASS, 3, true, true}, {IDLE_PRIORITY_CLASS, 3, true, true},
        {NORMAL_PRIORITY_CLASS, 3, true, false},      {ABOVE_NORMAL_PRIORITY_CLASS, 3, true, false},
        {REALTIME_PRIORITY_CLASS, 5, true, false},    {HIGH_PRIORITY_CLASS, 3, false, true},
        {0x12345, 3, true, true},                     {NORMAL_PRIORITY_CLASS, 3, false, false},
    };
    for (const Case& c : cases) {
        Mgr::CPrioritySetter_CPU setter(c.dwRequestedValue, c.bRaiseOnly);
        EXPECT_EQ(c.bUpdate, setter.IsUpdateRequired(c.dwCurrent)) << std::hex << c.dwCurrent;
    }
}

TEST_F(PrioritySetterApply, CpuRaisesBelowNormalToNormal)
{
    m_calls.SetCurrentClass(BELOW_NORMAL_PRIORITY_CLASS);
    Mgr::CPrioritySetter_CPU setter(3, true);
    EXPECT_TRUE(setter.Apply(m_mgr));
    ASSERT_EQ(1u, m_calls.m_vecSetClass.size());
    EXPECT_EQ(static_cast<DWORD>(NORMAL_PRIORITY_CLASS), m_calls.m_vecSetClass[0]);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"CPrioritySetter_CPU::Apply(324) : Successfully set process 0x"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L" priority class to 0x00000020"));
}

TEST_F(PrioritySetterApply, CpuFailuresAreRetried)
{
    Mgr::CPrioritySetter_CPU setter(5, true);
    m_calls.m_dwGetClassError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(setter.Apply(m_mgr));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(287) "
                                          L": Unable to get process priority class, last error 0x00000005"));

    m_calls.m_dwGetClassError = 0;
    m_calls.m_dwSetClassError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(setter.Apply(m_mgr));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Warning : JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::"
                                          L"Apply(310) : Unable to set process priority class, last error 0x00000005"));

    m_calls.m_dwSetClassError = 0;
    m_calls.m_dwStoredClassOverride = ABOVE_NORMAL_PRIORITY_CLASS;
    EXPECT_FALSE(setter.Apply(m_mgr));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(319) "
                                          L": Successfully set process priority class to 0x00000080, but retrieved "
                                          L"value 0x00008000 differs!!!"));
}

TEST_F(PrioritySetterApply, NativeSettersPassTheirClassAndBuffer)
{
    Mgr::CPrioritySetter_CPU_Native background(2, false);
    EXPECT_TRUE(background.Apply(m_mgr));
    EXPECT_EQ((std::vector<BYTE>{0, 5}), m_calls.Buffer(18));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"CPrioritySetter_CPU_Native::Apply(427) : Successfully set process "
                                          L"priority class for current process to BACKGROUND, 5"));
    Mgr::CPrioritySetter_CPU_Native foreground(5, true);
    EXPECT_TRUE(foreground.Apply(m_mgr));
    EXPECT_EQ((std::vector<BYTE>{1, 3}), m_calls.Buffer(18));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"to FOREGROUND, 3"));

    Mgr::CPrioritySetter_IO io(9);
    EXPECT_TRUE(io.Apply(m_mgr));
    EXPECT_EQ((std::vector<BYTE>{2, 0, 0, 0}), m_calls.Buffer(33));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : JX::CProcessPrioritySetterMgr::CPrioritySetter_IO::"
                                          L"Apply(496) : Successfully set IO priority level for current process to 2"));
    Mgr::CPrioritySetter_Page page(12);
    EXPECT_TRUE(page.Apply(m_mgr));
    EXPECT_EQ((std::vector<BYTE>{5, 0, 0, 0}), m_calls.Buffer(39));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : JX::CProcessPrioritySetterMgr::CPrioritySetter_Page::"
                                          L"Apply(562) : Successfully set Page priority level for current process "
                                          L"to 5"));
}

TEST_F(PrioritySetterApply, NativeFailuresLogTheStatus)
{
    m_calls.FailInformationClass(18, -1);
    m_calls.FailInformationClass(33, -1);
    m_calls.FailInformationClass(39, -1);
    Mgr::CPrioritySetter_CPU_Native cpu(3, false);
    Mgr::CPrioritySetter_IO io(9);
    Mgr::CPrioritySetter_Page page(12);
    EXPECT_FALSE(cpu.Apply(m_mgr));
    EXPECT_FALSE(io.Apply(m_mgr));
    EXPECT_FALSE(page.Apply(m_mgr));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU_Native::"
                                          L"Apply(422) : Could not set process priority class, error returned "
                                          L"-1073741822"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : JX::CProcessPrioritySetterMgr::CPrioritySetter_IO::Apply(491) : "
                                          L"Could not set IO priority, error returned -1073741822"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Error : JX::CProcessPrioritySetterMgr::CPrioritySetter_Page::Apply(557) "
                                          L": Could not set page priority, error returned -1073741822"));
}

TEST(PrioritySetterFactory, BuildsEachKindAndLogsIt)
{
    struct Case
    {
        DWORD dwType;
        DWORD dwValue;
        const wchar_t* pszLine;
    };
    const Case cases[] = {
        {1, 3, L"operator ()(616) : Created PRIMITIVE CPrioritySetter_CPU"},
        {2, 3, L"operator ()(623) : Created PRIMITIVE CPrioritySetter_CPU_Native"},
        {3, 3, L"operator ()(630) : Created PRIMITIVE CPrioritySetter_CPU_Native"},
        {4, 9, L"operator ()(637) : Created PRIMITIVE CPrioritySetter_IO"},
        {5, 12, L"operator ()(644) : Created PRIMITIVE CPrioritySetter_Page"},
    };
    CFakePrioritySystemCalls calls;
    Mgr mgr(&calls);
    for (const Case& c : cases) {
        kqtest::ClearTrace();
        Mgr::CPrioritySetterRef spSetter = Mgr::CPrioritySetterFactory()(Mgr::PrioritySetterInfo{c.dwType, c.dwValue});
        ASSERT_NE(nullptr, spSetter.Get());
        EXPECT_EQ(1u, kqtest::CountTraceLines(std::wstring(L"Information : JX::CProcessPrioritySetterMgr::"
                                                           L"CPrioritySetterFactory::") + c.pszLine));
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"CPrioritySetterFactory::operator ()(654) : Create the primitive "
                                              L"based on identifier DONE"));
    }
    // The raise-only flag is always set: a high process stays high.
    calls.SetCurrentClass(HIGH_PRIORITY_CLASS);
    EXPECT_TRUE(Mgr::CPrioritySetterFactory()(Mgr::PrioritySetterInfo{1, 3})->Apply(mgr));
    EXPECT_TRUE(calls.m_vecSetClass.empty());
    EXPECT_THROW(Mgr::CPrioritySetterFactory()(Mgr::PrioritySetterInfo{4, 12}), std::invalid_argument);
}

TEST(NativeProcessInfo, MissingModuleOrEntryPointFailsWithOneAndIsTriedAgain)
{
    kqtest::ClearTrace();
    Mgr::CNativeProcessInfo missing(L"no-such-module-kq.dll");
    ULONG ulValue = 2;
    EXPECT_EQ(1, missing.SetInformationProcess(GetCurrentProcess(), 33, &ulValue, sizeof(ulValue)));
    EXPECT_EQ(1, missing.SetInformationProcess(GetCurrentProcess(), 33, &ulValue, sizeof(ulValue)));
    EXPECT_EQ(2u, kqtest::CountTraceLines(L"Error : JX::CProcessPrioritySetterMgr::CNativeProcessInfo::"
                                          L"Initialize(186) : Unable to retrieve NTDLL module handle, last error "
                                          L"0x0000007e"));
    EXPECT_EQ(2u, kqtest::CountTraceLines(L"Error : JX::CProcessPrioritySetterMgr::CNativeProcessInfo::"
                                          L"SetInformationProcess(148) : Unable to retrieve ZwSetInformationProcess "
                                          L"function pointer"));

    kqtest::ClearTrace();
    Mgr::CNativeProcessInfo noExports(L"kernel32");
    EXPECT_EQ(1, noExports.SetInformationProcess(GetCurrentProcess(), 33, &ulValue, sizeof(ulValue)));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Initialize(197) : Unable to retrieve ZwQueryInformationProcess function "
                                          L"pointer, error returned 0x0000007f"));
}

// Wine answers the I/O and page priority classes with STATUS_NOT_IMPLEMENTED; Windows sets them.
TEST(NativeProcessInfo, RealNtdllCalls)
{
    kqtest::ClearTrace();
    Mgr::CNativeProcessInfo& info = Mgr::CNativeProcessInfo::Instance();
    ULONG ulIo = 2;
    LONG lIo = info.SetInformationProcess(GetCurrentProcess(), 33, &ulIo, sizeof(ulIo));
    EXPECT_TRUE(lIo == 0 || lIo == kStatusNotImplemented) << std::hex << lIo;
    ULONG ulPage = 5;
    LONG lPage = info.SetInformationProcess(GetCurrentProcess(), 39, &ulPage, sizeof(ulPage));
    EXPECT_TRUE(lPage == 0 || lPage == kStatusNotImplemented) << std::hex << lPage;
    // The priority class through the native call: normal, background.
    BYTE abClass[2] = {0, 2};
    EXPECT_EQ(0, info.SetInformationProcess(GetCurrentProcess(), 18, abClass, sizeof(abClass)));
    EXPECT_EQ(static_cast<DWORD>(NORMAL_PRIORITY_CLASS), GetPriorityClass(GetCurrentProcess()));
    // A bad handle is refused by the system, not by the holder.
    EXPECT_NE(0, info.SetInformationProcess(nullptr, 18, abClass, sizeof(abClass)));
    EXPECT_LE(kqtest::CountTraceLines(L"CNativeProcessInfo::Initialize(215) : Successfully initialized"), 1u);
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"Error : "));
}
