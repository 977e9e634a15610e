// The object repository: class id -> module path, read from below the silo's registry root.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "kqObjectRepository.h"
#include "kqTestModule.h"
#include "kqTestSilo.h"
#include "kqTestTrace.h"

namespace {

// Expands the one token the tests use, so a token path can be told from a plain one.
bool ExpandTestToken(const wchar_t* pszInput, std::wstring& strOutput)
{
    std::wstring strText = pszInput;
    const std::wstring strToken = L"%KQTESTDIR%";
    size_t pos = strText.find(strToken);
    if (pos != std::wstring::npos)
        strText.replace(pos, strToken.size(), L"C:\\expanded");
    if (strText.find(L'%') != std::wstring::npos)
        return false;
    strOutput = strText;
    return true;
}

class ObjectRepository : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_silo.IsReady()); }
    void TearDown() override { CObjectRepository::SetPathExpander(nullptr); }

    kqtest::CTestSilo m_silo;
    CObjectRepository m_repository{m_silo.Isolation()};
};

std::vector<BYTE> Bytes(const std::wstring& strText, bool bTerminated)
{
    const BYTE* pb = reinterpret_cast<const BYTE*>(strText.c_str());
    return std::vector<BYTE>(pb, pb + (strText.size() + (bTerminated ? 1 : 0)) * sizeof(wchar_t));
}

}  // namespace

TEST_F(ObjectRepository, ReadsTheModulePathOfAClass)
{
    const std::wstring strPath = L"C:\\Modules\\kqtestmodule.dll";
    ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, strPath));
    EXPECT_TRUE(m_repository.IsRegistered(kTestObjectClassId));
    std::wstring strRead;
    ASSERT_TRUE(m_repository.GetModulePath(kTestObjectClassId, strRead));
    EXPECT_EQ(strPath, strRead);
    // Nothing is remembered: the key's removal is seen at once.
    m_silo.Remove();
    EXPECT_FALSE(m_repository.IsRegistered(kTestObjectClassId));
    EXPECT_FALSE(m_repository.GetModulePath(kTestObjectClassId, strRead));
}

TEST_F(ObjectRepository, ValueShapes)
{
    const std::wstring strPath = L"C:\\Modules\\a.dll";
    const std::wstring strLongest(CObjectRepository::kMaxModulePathChars - 1, L'x');
    const std::wstring strTooLong(CObjectRepository::kMaxModulePathChars, L'x');
    const DWORD dwNumber = 7;
    std::vector<BYTE> odd = Bytes(strPath, true);
    odd.push_back(0);
    struct Case
    {
        const char* pszName;
        DWORD dwType;
        std::vector<BYTE> data;
        bool bRegistered;   // IsRegistered: the key and a REG_SZ "InProc32"
        bool bPath;         // GetModulePath succeeds
    } const cases[] = {
        {"REG_SZ", REG_SZ, Bytes(strPath, true), true, true},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, Bytes(strPath, true), false, true},
        {"REG_DWORD", REG_DWORD, std::vector<BYTE>(reinterpret_cast<const BYTE*>(&dwNumber),
                                                  reinterpret_cast<const BYTE*>(&dwNumber) + sizeof(dwNumber)),
         false, false},
        {"odd length", REG_SZ, odd, true, false},
        {"unterminated", REG_SZ, Bytes(strPath, false), true, false},
        {"empty", REG_SZ, Bytes(L"", true), true, false},
        {"259 characters", REG_SZ, Bytes(strLongest, true), true, true},
        {"260 characters", REG_SZ, Bytes(strTooLong, true), true, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        m_silo.Reset();
        ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, c.dwType, c.data.data(), static_cast<DWORD>(c.data.size())));
        EXPECT_EQ(c.bRegistered, m_repository.IsRegistered(kTestObjectClassId));
        std::wstring strRead = L"untouched";
        EXPECT_EQ(c.bPath, m_repository.GetModulePath(kTestObjectClassId, strRead));
        if (!c.bPath)
        {
            EXPECT_EQ(L"untouched", strRead);
        }
    }
}

TEST_F(ObjectRepository, MissingKeyOrValue)
{
    std::wstring strRead;
    EXPECT_FALSE(m_repository.IsRegistered(kTestObjectClassId));
    EXPECT_FALSE(m_repository.GetModulePath(kTestObjectClassId, strRead));
    ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, REG_SZ, nullptr, 0));
    EXPECT_FALSE(m_repository.IsRegistered(kTestObjectClassId));
    kqtest::ClearTrace();
    EXPECT_FALSE(m_repository.GetModulePath(kTestObjectClassId, strRead));
    // An absent value is an answer, not a fault.
    EXPECT_TRUE(kqtest::TraceLines().empty());
}

TEST_F(ObjectRepository, ClassKeyIsTheUpperCaseTextForm)
{
    // A lower-case key name must still be found: registry names ignore case.
    const GUID clsid = {0xabcdef01, 0xabcd, 0xef01, {0xab, 0xcd, 0xef, 0x01, 0x23, 0x45, 0x67, 0x89}};
    EXPECT_EQ(L"{ABCDEF01-ABCD-EF01-ABCD-EF0123456789}", FormatGuid(clsid));
    ASSERT_TRUE(m_silo.SetInProc(clsid, L"C:\\a.dll"));
    EXPECT_TRUE(m_repository.IsRegistered(clsid));
    EXPECT_FALSE(m_repository.IsRegistered(kTestObjectClassId));
}

TEST_F(ObjectRepository, PathTokensAreExpanded)
{
    ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, L"%KQTESTDIR%\\kqtestmodule.dll"));
    std::wstring strRead;
    kqtest::ClearTrace();
    // A token the silo's expansion map does not name cannot be resolved.
    EXPECT_FALSE(m_repository.GetModulePath(kTestObjectClassId, strRead));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"cannot expand %KQTESTDIR%\\kqtestmodule.dll"));
    // Once the map names it, the silo's own expansion resolves it.
    ASSERT_TRUE(m_silo.SetMapValue(L"KQTESTDIR", L"C:\\mapped"));
    ASSERT_TRUE(m_repository.GetModulePath(kTestObjectClassId, strRead));
    EXPECT_EQ(L"C:\\mapped\\kqtestmodule.dll", strRead);
    CObjectRepository::SetPathExpander(&ExpandTestToken);
    ASSERT_TRUE(m_repository.GetModulePath(kTestObjectClassId, strRead));
    EXPECT_EQ(L"C:\\expanded\\kqtestmodule.dll", strRead);
    ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, L"%UNKNOWN%\\kqtestmodule.dll"));
    EXPECT_FALSE(m_repository.GetModulePath(kTestObjectClassId, strRead));
}

TEST(ObjectRepositoryWithoutSilo, NothingIsFoundWithoutARegistryRoot)
{
    // No silo id and no isolate.ini anywhere above this made-up module path.
    CIsolation isolation(L"C:\\kq-no-silo-here\\module.dll");
    CObjectRepository repository(isolation);
    std::wstring strRead;
    EXPECT_FALSE(repository.IsRegistered(kTestObjectClassId));
    EXPECT_FALSE(repository.GetModulePath(kTestObjectClassId, strRead));
}
