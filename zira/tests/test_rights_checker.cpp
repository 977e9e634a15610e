// Access decisions of CRightsChecker, driven through the replaceable security calls: which
// DACL is written (as SDDL), when ownership is taken and what is logged.
#include <gtest/gtest.h>

#include "ZIRA_RightsChecker.h"
#include "ZiraFakeSystem.h"
#include "kqTestTrace.h"

using ZIRA::AccessMaskSet;
using ZIRA::CRightsChecker;
using ziratest::CFakeSystemCalls;
using ziratest::WithUser;

namespace {

const wchar_t kFile[] = L"C:\\fake\\object";
const wchar_t kKey[] = L"MACHINE\\SOFTWARE\\Fake";

bool TokenIsMember(WELL_KNOWN_SID_TYPE eType)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD cb = sizeof(sid);
    BOOL bMember = FALSE;
    return CreateWellKnownSid(eType, nullptr, sid, &cb) && CheckTokenMembership(nullptr, sid, &bMember) && bMember;
}

class RightsCheckerTest : public ::testing::Test
{
protected:
    void SetUp() override { kqtest::ClearTrace(); }
    CFakeSystemCalls m_fake;
};

// The cases below rely on the test's token holding these groups and not LocalSystem.
TEST_F(RightsCheckerTest, TokenMembershipAssumptions)
{
    EXPECT_TRUE(TokenIsMember(WinWorldSid));
    EXPECT_TRUE(TokenIsMember(WinBuiltinAdministratorsSid));
    EXPECT_FALSE(TokenIsMember(WinLocalSystemSid));
}

struct DaclCase
{
    const char* pszName;
    DWORD dwType;
    const wchar_t* pszDacl;  // as read from the object
    DWORD dwExpected;        // EnsureAccess result for the process token
    const wchar_t* pszWritten;  // DACL written, or null for none
};

const DaclCase kDaclCases[] = {
    {"NullDaclGrantsEverything", 1, L"D:NO_ACCESS_CONTROL", 2, nullptr},
    {"GrantThroughGroupStopsAtCompletingAce", 1, L"D:(A;OICI;FA;;;WD)(D;OICI;FA;;;%USER%)", 2, nullptr},
    {"GenericAllIsMappedForFiles", 1, L"D:(A;OICI;GA;;;BA)", 2, nullptr},
    {"EmptyKeyDaclGetsFullAccessForKeyAndSubkeys", 4, L"D:", 4, L"D:(A;OICI;KA;;;%USER%)"},
    {"DenyWriteForEveryoneIsDroppedAndAllowKept", 1, L"D:(D;;FW;;;WD)(A;;FA;;;%USER%)", 4,
     L"D:(A;;FA;;;%USER%)(A;OICIIO;FA;;;%USER%)"},
    {"DenyKeepsBitsNotRequested", 4, L"D:(D;OICI;0x10f003f;;;WD)(A;OICI;KA;;;%USER%)", 4,
     L"D:(D;OICI;0x1000000;;;WD)(A;OICI;KA;;;%USER%)"},
    {"InheritedAcesAreNotCopiedAndOthersKept", 1, L"D:AI(D;;FA;;;SY)(A;;FA;;;WD)(A;OICIID;FA;;;SY)", 4,
     L"D:(D;;FA;;;SY)(A;;FA;;;WD)(A;OICIIO;FA;;;%USER%)"},
    {"InheritedDenyWinsOverLaterAllow", 1, L"D:AI(D;OICIID;FA;;;WD)(A;OICIID;FA;;;%USER%)", 4,
     L"D:(A;OICI;FA;;;%USER%)"},
    {"NoPropagateGrantDoesNotCount", 1, L"D:(A;OICINP;FA;;;%USER%)", 4,
     L"D:(A;OICINP;FA;;;%USER%)(A;OICI;FA;;;%USER%)"},
};

class DaclDecision : public RightsCheckerTest, public ::testing::WithParamInterface<DaclCase>
{
};

TEST_P(DaclDecision, WritesExpectedDacl)
{
    const DaclCase& c = GetParam();
    const wchar_t* pszName = c.dwType == 4 ? kKey : kFile;
    m_fake.SetDescriptor(pszName, c.pszDacl);
    AccessMaskSet requested = c.dwType == 4 ? CRightsChecker::KeyFullAccess() : CRightsChecker::FileFullAccess();
    EXPECT_EQ(c.dwExpected, CRightsChecker::EnsureAccess(pszName, c.dwType, requested));
    std::vector<std::wstring> expected;
    if (c.pszWritten)
        expected.push_back(std::wstring(pszName) + L" " + WithUser(c.pszWritten));
    EXPECT_EQ(expected, m_fake.DaclWrites());
    EXPECT_TRUE(m_fake.OwnerWrites().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, DaclDecision, ::testing::ValuesIn(kDaclCases),
                         [](const ::testing::TestParamInfo<DaclCase>& info) { return info.param.pszName; });

TEST_F(RightsCheckerTest, ChangeLogsNameAndSuccess)
{
    m_fake.SetDescriptor(kFile, L"D:");
    EXPECT_EQ(4u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess()));
    EXPECT_EQ(1u, kqtest::CountTraceLines(
                      L"Warning : ZIRA::CRightsChecker::ChangeAccess(227) : CRightsChecker::ChangeAccess: C:\\fake\\object"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"ZIRA::CRightsChecker::ChangeAccess(235) : CRightsChecker::ChangeAccess: SUCCEEDED"));
}

TEST_F(RightsCheckerTest, GivenSidGetsTheAces)
{
    m_fake.SetDescriptor(kFile, L"D:(A;OICI;FA;;;%USER%)");
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD cb = sizeof(sid);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &cb));
    EXPECT_EQ(4u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess(), sid));
    EXPECT_EQ(std::vector<std::wstring>{std::wstring(kFile) + WithUser(L" D:(A;OICI;FA;;;%USER%)(A;OICI;FA;;;BA)")},
              m_fake.DaclWrites());
}

TEST_F(RightsCheckerTest, GivenSidMatchesOnlyItself)
{
    // Everyone's grant does not count for LocalSystem given by SID.
    m_fake.SetDescriptor(kFile, L"D:(A;OICI;FA;;;WD)");
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD cb = sizeof(sid);
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, sid, &cb));
    EXPECT_EQ(4u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess(), sid));
    EXPECT_EQ(std::vector<std::wstring>{std::wstring(kFile) + L" D:(A;OICI;FA;;;WD)(A;OICI;FA;;;SY)"},
              m_fake.DaclWrites());
}

TEST_F(RightsCheckerTest, UnreadableDaclTakesOwnershipFirst)
{
    m_fake.SetDescriptor(kFile, L"D:");
    m_fake.m_unreadable.insert(ziratest::Lower(kFile));
    EXPECT_EQ(4u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess()));
    EXPECT_EQ(std::vector<std::wstring>{std::wstring(kFile) + L" " + ziratest::ProcessUserSid()}, m_fake.OwnerWrites());
    EXPECT_EQ(1u, m_fake.DaclWrites().size());
    EXPECT_EQ(1, m_fake.m_nPrivilegeEnables);
}

TEST_F(RightsCheckerTest, UnreadableDaclWithoutPrivilegeIsNotChecked)
{
    m_fake.SetDescriptor(kFile, L"D:");
    m_fake.m_unreadable.insert(ziratest::Lower(kFile));
    m_fake.m_bPrivilegeFails = true;
    EXPECT_EQ(0u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess()));
    EXPECT_TRUE(m_fake.m_writes.empty());
}

TEST_F(RightsCheckerTest, DaclUnreadableAlsoAsOwner)
{
    // No descriptor at all: reading fails before and after taking ownership.
    EXPECT_EQ(3u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess()));
    EXPECT_EQ(1u, m_fake.OwnerWrites().size());
    EXPECT_TRUE(m_fake.DaclWrites().empty());
}

TEST_F(RightsCheckerTest, RefusedWriteSucceedsAfterTakingOwnership)
{
    m_fake.SetDescriptor(kFile, L"D:");
    m_fake.m_ownerNeededToWrite.insert(ziratest::Lower(kFile));
    EXPECT_EQ(4u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess()));
    EXPECT_EQ(1u, m_fake.OwnerWrites().size());
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"ZIRA::CRightsChecker::ChangeAccess(250) : CRightsChecker::ChangeAccess: succeeded"));
    EXPECT_EQ(0u, kqtest::CountTraceLines(L"SUCCEEDED"));
}

TEST_F(RightsCheckerTest, RefusedWriteAlsoAsOwnerFails)
{
    m_fake.SetDescriptor(kFile, L"D:");
    m_fake.m_readOnly.insert(ziratest::Lower(kFile));
    EXPECT_EQ(5u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess()));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Warning : ZIRA::CRightsChecker::ChangeAccess(254) : CRightsChecker::ChangeAccess: failed"));
}

TEST_F(RightsCheckerTest, RefusedWriteWithoutPrivilegeIsNotChecked)
{
    m_fake.SetDescriptor(kFile, L"D:");
    m_fake.m_readOnly.insert(ziratest::Lower(kFile));
    m_fake.m_bPrivilegeFails = true;
    EXPECT_EQ(0u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess()));
    EXPECT_TRUE(m_fake.OwnerWrites().empty());
}

TEST_F(RightsCheckerTest, TokenThatCannotBeOpenedIsNotChecked)
{
    m_fake.SetDescriptor(kFile, L"D:");
    m_fake.m_bTokenFails = true;
    EXPECT_EQ(0u, CRightsChecker::FileEnsureAccess(kFile, CRightsChecker::FileFullAccess()));
    EXPECT_TRUE(m_fake.m_writes.empty());
}

TEST_F(RightsCheckerTest, InvalidObjectTypeWarnsAndThrows)
{
    m_fake.SetDescriptor(kFile, L"D:");
    int nCode = -1;
    try {
        CRightsChecker::EnsureAccess(kFile, 3, CRightsChecker::FileFullAccess());
    } catch (const CRightsChecker::Exception& e) {
        nCode = e.Code();
    }
    EXPECT_EQ(7, nCode);
    EXPECT_EQ(1u, kqtest::CountTraceLines(
                      L"Warning : ZIRA::CRightsChecker::CheckAccess(436) : CRightsChecker::CheckAccess: invalid object type: 3"));
}

TEST_F(RightsCheckerTest, RegistryObjectNamesAndUnknownHive)
{
    m_fake.SetDescriptor(L"CURRENT_USER\\Software\\X", L"D:(A;OICI;KA;;;%USER%)");
    EXPECT_EQ(2u, CRightsChecker::RegistryEnsureAccess(HKEY_CURRENT_USER, L"Software\\X", CRightsChecker::KeyFullAccess()));
    m_fake.SetDescriptor(L"USERS\\S", L"D:");
    EXPECT_EQ(4u, CRightsChecker::RegistryEnsureAccess(HKEY_USERS, L"S", CRightsChecker::KeyFullAccess()));
    EXPECT_EQ(std::vector<std::wstring>{WithUser(L"USERS\\S D:(A;OICI;KA;;;%USER%)")}, m_fake.DaclWrites());
    int nCode = -1;
    try {
        CRightsChecker::RegistryEnsureAccess(HKEY_CURRENT_CONFIG, L"S", CRightsChecker::KeyFullAccess());
    } catch (const CRightsChecker::Exception& e) {
        nCode = e.Code();
    }
    EXPECT_EQ(6, nCode);
}

TEST_F(RightsCheckerTest, TraceLogsDescriptorAsSddlOrNothing)
{
    m_fake.SetDescriptor(kKey, L"O:BAG:SYD:(A;;KA;;;SY)");
    CRightsChecker::TraceSecurityDescriptor(kKey, 4);
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"Information : SDDL: O:BAG:SYD:(A;;KA;;;SY) (MACHINE\\SOFTWARE\\Fake)"));
    kqtest::ClearTrace();
    CRightsChecker::TraceSecurityDescriptor(L"MACHINE\\Missing", 4);
    EXPECT_TRUE(kqtest::TraceLines().empty());
}

}  // namespace
