// The trace facility: line composition, the log file, levels, links and module filters.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "kqDebugOptions.h"
#include "kqDebugOutput.h"
#include "kqDebugOutputLink.h"
#include "kqIsolation.h"
#include "kqTestFiles.h"

namespace {

std::wstring FromUtf16Bytes(const std::string& bytes, size_t offset = 0)
{
    if (bytes.size() <= offset)
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + offset), (bytes.size() - offset) / 2);
}

// A trace object writing only the bare message into a temp folder's log file.
class TraceFileTest : public ::testing::Test
{
protected:
    TraceFileTest() : m_output(L"unit")
    {
        m_output.SetDebugType(1);
        m_output.SetOutputToFile(1);
        m_output.SetDirectory(m_dir.Path().c_str());
    }

    std::wstring LogPath(const std::wstring& strModule = L"unit") const { return m_dir / (strModule + L".log"); }
    std::string LogBytes() const { return kqtest::ReadFileBytes(LogPath()); }
    std::wstring LogText() const { return FromUtf16Bytes(LogBytes(), 2); }

    kqtest::CTempDir m_dir;
    CDebugOutput m_output;
};

TEST(DebugOutput, FreshObjectIsSilent)
{
    CDebugOutput output(L"fresh");
    EXPECT_FALSE(output.IsEnabled(eMessageType_Error));
    EXPECT_FALSE(output.IsEnabled(eMessageType_Information));
}

TEST(DebugOutput, LevelThresholds)
{
    struct Case { DWORD dwLevel; bool bInfo, bWarning, bError; };
    const Case cases[] = {
        {0, false, false, false}, {1, true, true, true}, {2, false, true, true},
        {3, false, false, true},  {4, false, false, false},
    };
    for (const Case& c : cases) {
        CDebugOutput output(L"levels");
        output.SetDebugType(c.dwLevel);
        EXPECT_EQ(c.bInfo, output.IsEnabled(eMessageType_Information)) << "level " << c.dwLevel;
        EXPECT_EQ(c.bWarning, output.IsEnabled(eMessageType_Warning)) << "level " << c.dwLevel;
        EXPECT_EQ(c.bError, output.IsEnabled(eMessageType_Error)) << "level " << c.dwLevel;
    }
}

TEST_F(TraceFileTest, NewFileStartsWithByteOrderMarkAndDropsLinesBelowTheLevel)
{
    m_output.SetDebugType(2);
    m_output.TraceInformation(L"dropped");
    m_output.TraceWarning(L"warned");
    m_output.TraceError(L"failed %d", 7);
    std::string bytes = LogBytes();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ('\xFF', bytes[0]);
    EXPECT_EQ('\xFE', bytes[1]);
    EXPECT_EQ(L"warnedfailed 7", LogText());
}

TEST_F(TraceFileTest, LineEndsAreNormalisedOnlyWhenAppendNewLineIsOn)
{
    struct Case { const wchar_t* pszMessage; DWORD dwNewLine; const wchar_t* pszWritten; };
    const Case cases[] = {
        {L"one\n", 1, L"one\r\n"},
        {L"two\r\n\r\n", 1, L"two\r\n"},
        {L"three", 1, L"three\r\n"},
        {L"\r\n", 1, L"\r\n"},
        {L"four\n", 0, L"four\n"},
        {L"five", 0, L"five"},
    };
    std::wstring strExpected;
    for (const Case& c : cases) {
        m_output.SetAppendNewLine(c.dwNewLine);
        m_output.TraceInformation(c.pszMessage);
        strExpected += c.pszWritten;
    }
    EXPECT_EQ(strExpected, LogText());
}

TEST_F(TraceFileTest, PrefixesComeInTheirOrder)
{
    m_output.SetPrependThreadId(1);
    m_output.SetPrependType(1);
    m_output.TraceWarning(L"careful");
    std::wstring strText = LogText();
    EXPECT_TRUE(std::regex_match(strText, std::wregex(L"0x[0-9A-F]{4,} : Warning : careful"))) << strText.c_str();

    kqtest::CTempDir other;
    CDebugOutput full(L"Mod");
    full.SetDebugType(1);
    full.SetOutputToFile(1);
    full.SetDirectory(other.Path().c_str());
    full.SetPrependDateTime(1);
    full.SetPrependModuleName(1);
    full.SetPrependProcessId(1);
    full.SetPrependThreadId(1);
    full.SetPrependType(1);
    full.SetAppendNewLine(1);
    full.TraceError(L"CThing::Do(12) : %s and %ls", L"wide", L"more");
    std::wstring strFull = FromUtf16Bytes(kqtest::ReadFileBytes(other / L"Mod.log"), 2);
    EXPECT_TRUE(std::regex_match(strFull, std::wregex(L"\\d{4}-\\d{2}-\\d{2}-\\d{2}-\\d{2}-\\d{2}-\\d{3} : Mod : "
                                                      L"0x[0-9A-F]{4,} : 0x[0-9A-F]{4,} : Error : "
                                                      L"CThing::Do\\(12\\) : wide and more\r\n")))
        << strFull.c_str();
}

TEST_F(TraceFileTest, EmptyModuleNameGivesNoModulePrefix)
{
    m_output.SetPrependModuleName(1);
    m_output.TraceInformation(L"first");
    // The file is open already: renaming the module keeps writing to it.
    m_output.m_strModuleName.clear();
    m_output.TraceInformation(L"second");
    EXPECT_EQ(L"unit : firstsecond", LogText());
}

TEST_F(TraceFileTest, SecondWriterAppendsWithoutASecondByteOrderMark)
{
    m_output.TraceInformation(L"a");
    {
        CDebugOutput later(L"unit");
        later.SetDebugType(1);
        later.SetOutputToFile(1);
        later.SetDirectory(m_dir.Path().c_str());
        // The first writer holds the file and shares only reading: this line is lost.
        later.TraceInformation(L"blocked");
    }
    m_output.TraceInformation(L"b");
    m_output.SetDirectory(nullptr);  // closes the log on the next reopen
    m_output.SetDirectory(m_dir.Path().c_str());
    CDebugOutput reopened(L"unit");
    reopened.SetDebugType(1);
    reopened.SetOutputToFile(1);
    reopened.SetDirectory(m_dir.Path().c_str());
    std::string bytes = LogBytes();
    EXPECT_EQ(L"ab", FromUtf16Bytes(bytes, 2));
}

TEST(DebugOutputFile, AppendingTwiceKeepsOneByteOrderMark)
{
    kqtest::CTempDir dir;
    for (const wchar_t* pszLine : {L"x", L"y"}) {
        CDebugOutput output(L"twice");
        output.SetDebugType(1);
        output.SetOutputToFile(1);
        output.SetDirectory(dir.Path().c_str());
        output.TraceInformation(pszLine);
    }
    std::string bytes = kqtest::ReadFileBytes(dir / L"twice.log");
    EXPECT_EQ(std::string("\xFF\xFEx\0y\0", 6), bytes);
}

TEST(DebugOutputFile, FileNameTakesProcessIdAndOneBackslash)
{
    kqtest::CTempDir dir;
    CDebugOutput output(L"named");
    output.SetDebugType(1);
    output.SetOutputToFile(1);
    output.SetDirectory((dir.Path() + L"\\\\\\").c_str());
    output.TraceInformation(L"plain");
    EXPECT_TRUE(kqtest::FileExists(dir / L"named.log"));

    output.SetAppendProcessIdToFile(1);
    output.TraceInformation(L"with id");
    wchar_t szName[64];
    swprintf(szName, 64, L"named-0x%04X.log", static_cast<unsigned>(GetCurrentProcessId()));
    EXPECT_EQ(std::string("\xFF\xFEw\0i\0t\0h\0 \0i\0d\0", 16), kqtest::ReadFileBytes(dir / szName));
}

TEST(DebugOutputFile, MissingFolderCostsOnlyTheFileOutput)
{
    kqtest::CTempDir dir;
    CDebugOutput output(L"nowhere");
    output.SetDebugType(1);
    output.SetOutputToFile(1);
    output.SetDirectory((dir / L"missing").c_str());
    output.TraceError(L"lost");
    EXPECT_FALSE(kqtest::FileExists(dir / L"missing"));
    CreateDirectoryW((dir / L"missing").c_str(), nullptr);
    output.TraceError(L"kept");
    EXPECT_EQ(std::string("\xFF\xFEk\0e\0p\0t\0", 10), kqtest::ReadFileBytes(dir / L"missing\\nowhere.log"));
}

TEST(DebugOutput, LongMessagesAreNotCut)
{
    kqtest::CTempDir dir;
    CDebugOutput output(L"long");
    output.SetDebugType(1);
    output.SetOutputToFile(1);
    output.SetDirectory(dir.Path().c_str());
    std::wstring strLong(20000, L'z');
    output.TraceInformation(L"%s!", strLong.c_str());
    EXPECT_EQ(strLong + L"!", FromUtf16Bytes(kqtest::ReadFileBytes(dir / L"long.log"), 2));
}

TEST(DebugOutputLink, LinkedModuleWritesThroughTheHostUntilUnlinked)
{
    kqtest::CTempDir dir;
    CDebugOutput host(L"host");
    host.SetDebugType(3);
    host.SetOutputToFile(1);
    host.SetPrependModuleName(1);
    host.SetDirectory(dir.Path().c_str());
    CDebugOutput module(L"module");
    module.SetDebugType(1);
    module.SetOutputToFile(1);
    module.SetDirectory(dir.Path().c_str());
    {
        CDebugOutputLink link(&module, &host);
        EXPECT_FALSE(module.IsEnabled(eMessageType_Information));
        module.TraceInformation(L"below host level");
        module.TraceError(L"through host");
    }
    EXPECT_EQ(nullptr, module.GetParent());
    module.TraceInformation(L"own");
    EXPECT_EQ(L"host : through host", FromUtf16Bytes(kqtest::ReadFileBytes(dir / L"host.log"), 2));
    EXPECT_EQ(L"own", FromUtf16Bytes(kqtest::ReadFileBytes(dir / L"module.log"), 2));
}

TEST(DebugOutputLink, MissingObjectLinksNothing)
{
    CDebugOutput module(L"module");
    {
        CDebugOutputLink link(&module, nullptr);
        EXPECT_EQ(nullptr, module.GetParent());
    }
}

TEST(DebugOptions, ModuleFilters)
{
    struct Case
    {
        const char* pszName;
        DWORD dwExclusive;
        std::map<std::wstring, DWORD> modules;
        DWORD dwExpectedLevel;
    };
    const Case cases[] = {
        {"unlisted, not exclusive", 0, {{L"Other", 1}}, 2},
        {"unlisted, exclusive", 1, {{L"Other", 1}}, 0},
        {"exclusive without a list", 1, {}, 2},
        {"listed off", 0, {{L"Target", 0}}, 0},
        {"listed on, exclusive, other case", 1, {{L"tARGET", 5}}, 2},
        {"listed off, exclusive", 1, {{L"Other", 1}, {L"TARGET", 0}}, 0},
    };
    for (const Case& c : cases) {
        CDebugOptions options;
        options.m_dwDebugType = 2;
        options.m_dwExclusiveModules = c.dwExclusive;
        options.m_mapModules = c.modules;
        CDebugOutput output(L"Target");
        ASSERT_TRUE(options.ApplyTo(&output)) << c.pszName;
        EXPECT_EQ(c.dwExpectedLevel != 0, output.IsEnabled(eMessageType_Warning)) << c.pszName;
        EXPECT_FALSE(output.IsEnabled(eMessageType_Information)) << c.pszName;
    }
}

TEST(DebugOptions, ApplyToNothingFails)
{
    CDebugOptions options;
    EXPECT_FALSE(options.ApplyTo(nullptr));
}

// Registry options below the process's silo root.
class DebugOptionsRegistryTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_strSilo = kqtest::NewGuidString();
        ASSERT_TRUE(CIsolation::Instance().SetSiloID(s_strSilo.c_str()));
    }

    DebugOptionsRegistryTest()
    {
        std::wstring strRoot;
        CIsolation::Instance().GetSiloRegistryRoot(strRoot);
        m_tree.reset(new kqtest::CScopedRegistryTree(strRoot));
    }

    static std::wstring s_strSilo;
    std::unique_ptr<kqtest::CScopedRegistryTree> m_tree;
};
std::wstring DebugOptionsRegistryTest::s_strSilo;

TEST_F(DebugOptionsRegistryTest, MissingKeysGiveDefaults)
{
    CDebugOptions options;
    options.m_dwDebugType = 9;
    ASSERT_TRUE(options.Read());
    EXPECT_EQ(0u, options.m_dwDebugType);
    EXPECT_EQ(1u, options.m_dwOutputToDebugger);
    EXPECT_EQ(1u, options.m_dwAppendProcessIdToFile);
    EXPECT_EQ(1u, options.m_dwThrowOnNew);
    EXPECT_EQ(0x22u, options.m_dwDumpType);
}

TEST_F(DebugOptionsRegistryTest, ReadsBothHalvesAndIgnoresValuesOfTheWrongType)
{
    const std::wstring strOut = L"Orvane\\Debug\\DebugOutput";
    const std::wstring strCrash = L"Orvane\\Debug\\CrashHandler";
    m_tree->SetDWORD(strOut, L"DebugType", 2);
    m_tree->SetString(strOut, L"Directory", L"C:\\logs\\%TEMP%", REG_EXPAND_SZ);
    m_tree->SetString(strOut, L"OutputToFile", L"1");  // a string, not a DWORD: ignored
    m_tree->SetDWORD(strOut, L"PrependType", 0);
    const BYTE abEight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    m_tree->SetBinary(strOut, L"AppendNewLine", abEight, sizeof(abEight), REG_QWORD);
    m_tree->SetDWORD(strOut, L"ExclusiveModules", 1);
    m_tree->SetDWORD(strOut + L"\\Modules", L"Alpha", 1);
    m_tree->SetDWORD(strOut + L"\\Modules", L"beta", 0);
    m_tree->SetString(strOut + L"\\Modules", L"Gamma", L"1");
    m_tree->SetDWORD(strCrash, L"DumpType", 2);
    m_tree->SetString(strCrash, L"CallbackPath", L"C:\\cb.exe");

    CDebugOptions options;
    ASSERT_TRUE(options.Read());
    EXPECT_EQ(2u, options.m_dwDebugType);
    EXPECT_EQ(L"C:\\logs\\%TEMP%", options.m_strDirectory);
    EXPECT_EQ(0u, options.m_dwOutputToFile);
    EXPECT_EQ(0u, options.m_dwPrependType);
    EXPECT_EQ(1u, options.m_dwAppendNewLine);
    EXPECT_EQ(1u, options.m_dwExclusiveModules);
    std::map<std::wstring, DWORD> expected = {{L"Alpha", 1}, {L"beta", 0}};
    EXPECT_EQ(expected, options.m_mapModules);
    EXPECT_EQ(2u, options.m_dwDumpType);
    EXPECT_EQ(L"C:\\cb.exe", options.m_strCallbackPath);
}

TEST_F(DebugOptionsRegistryTest, OverlongModuleNameFailsTheRead)
{
    m_tree->SetDWORD(L"Orvane\\Debug\\DebugOutput", L"DebugType", 1);
    std::wstring strLong(300, L'm');
    m_tree->SetDWORD(L"Orvane\\Debug\\DebugOutput\\Modules", strLong.c_str(), 1);
    CDebugOptions options;
    EXPECT_FALSE(options.Read());
}

}  // namespace
