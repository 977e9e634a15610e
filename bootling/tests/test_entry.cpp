// The process entry: run sequence, restart request, exit code and the closing trace lines,
// in process with replaced seams and end to end on the built program.
#include <gtest/gtest.h>

#include <objbase.h>

#include <regex>
#include <thread>
#include <sstream>
#include <vector>

#include "BootlingInFolder.h"
#include "BootlingMain.h"
#include "BootlingTrace.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"

namespace {

using bootlingtest::SplitLines;
using bootlingtest::Utf16Text;

// Index of the first line at or after nFrom that matches, or lines.size().
size_t FindLine(const std::vector<std::wstring>& lines, const std::wregex& pattern, size_t nFrom = 0)
{
    for (size_t i = nFrom; i < lines.size(); ++i) {
        if (std::regex_match(lines[i], pattern))
            return i;
    }
    return lines.size();
}

// Install result and restart request as a test chooses them; restarts are only recorded.
class CFakeSeams : public CEntrySeams
{
public:
    CFakeSeams(HRESULT hr, bool bReboot) : m_hr(hr), m_bReboot(bReboot) {}

    HRESULT InitializeInstall(CInstallManager&, bool& bReboot) override
    {
        bReboot = m_bReboot;
        return m_hr;
    }

    BOOL RestartWindows(UINT uFlags, DWORD dwReason) override
    {
        m_vecRestarts.push_back({uFlags, dwReason});
        TraceInformation(L"test: restart requested");
        return TRUE;
    }

    std::vector<std::pair<UINT, DWORD>> m_vecRestarts;

private:
    HRESULT m_hr;
    bool m_bReboot;
};

TEST(Entry, ResultPassesThroughAndRestartsOnlyWhenAsked)
{
    struct Case { DWORD dwResult; bool bReboot; bool bRestart; };
    const Case cases[] = {
        {0x00000000, false, false},
        {0x80070BC2, false, false},  // restart required, not forced
        {0x80070669, false, true},   // restart initiated, even without the flag
        {0x00000000, true, true},
        {0x00000001, false, false},
        {0x80047C10, true, true},
    };
    kqtest::CTempDir dir;
    CBootlingDebugOutput& trace = GetProcessDebugOutput();
    trace.SetDebugType(1);
    trace.SetOutputToFile(1);
    trace.SetAppendNewLine(1);
    trace.SetPrependType(1);
    trace.SetAppendProcessIdToFile(0);
    trace.SetDirectory(dir.Path().c_str());

    size_t nSeen = 0;
    for (const Case& c : cases) {
        CFakeSeams seams(static_cast<HRESULT>(c.dwResult), c.bReboot);
        int result = BootlingMain(seams);
        EXPECT_EQ(c.dwResult, static_cast<DWORD>(result));
        if (c.bRestart) {
            ASSERT_EQ(1u, seams.m_vecRestarts.size()) << std::hex << c.dwResult;
            EXPECT_EQ(static_cast<UINT>(EWX_REBOOT | EWX_FORCE), seams.m_vecRestarts[0].first);
            EXPECT_EQ(0x30002u, seams.m_vecRestarts[0].second);
        } else {
            EXPECT_TRUE(seams.m_vecRestarts.empty()) << std::hex << c.dwResult;
        }

        std::vector<std::wstring> lines = SplitLines(Utf16Text(kqtest::ReadFileBytes(dir / L"CacheStub.log")));
        ASSERT_GE(lines.size(), nSeen + 3);
        std::vector<std::wstring> run(lines.begin() + static_cast<std::ptrdiff_t>(nSeen), lines.end());
        nSeen = lines.size();
        wchar_t szReturned[64];
        swprintf(szReturned, 64, L"Information : Bootling: Returned \\(0x%08x\\)", static_cast<unsigned>(c.dwResult));
        // The run's own lines in order; the priority manager adds lines of its own around them.
        size_t nStarted = FindLine(run, std::wregex(L"Information : Started priority manager!"));
        size_t nRestart = FindLine(run, std::wregex(L"Information : test: restart requested"), nStarted);
        size_t nTimes = FindLine(run, std::wregex(L"Information : Start: \\d+, End: \\d+, Total: \\d+"), nStarted);
        ASSERT_LT(nStarted, run.size());
        ASSERT_LT(nTimes + 1, run.size());
        EXPECT_EQ(c.bRestart, nRestart < nTimes) << std::hex << c.dwResult;
        EXPECT_TRUE(std::regex_match(run[nTimes + 1], std::wregex(szReturned))) << run[nTimes + 1].c_str();
        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(run[nTimes], match,
                                     std::wregex(L"Information : Start: (\\d+), End: (\\d+), Total: (\\d+)")));
        unsigned long ulStart = std::stoul(match[1].str());
        unsigned long ulEnd = std::stoul(match[2].str());
        EXPECT_EQ(static_cast<unsigned long>(static_cast<DWORD>(ulEnd - ulStart)), std::stoul(match[3].str()));
    }
    trace.SetOutputToFile(0);
    trace.SetDebugType(0);
}

TEST(Entry, ComFailureEndsTheRunWithoutClosingLines)
{
    kqtest::CTempDir dir;
    CBootlingDebugOutput& trace = GetProcessDebugOutput();
    trace.SetDebugType(1);
    trace.SetOutputToFile(1);
    trace.SetAppendNewLine(1);
    trace.SetPrependType(1);
    trace.SetAppendProcessIdToFile(0);
    trace.SetDirectory(dir.Path().c_str());

    // A thread already in a single-threaded apartment cannot join the multithreaded one.
    struct Run { CFakeSeams seams{S_OK, true}; int result = 0; } run;
    std::thread([&run] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        run.result = BootlingMain(run.seams);
        CoUninitialize();
    }).join();
    trace.SetOutputToFile(0);
    trace.SetDebugType(0);

    EXPECT_EQ(RPC_E_CHANGED_MODE, run.result);
    EXPECT_TRUE(run.seams.m_vecRestarts.empty());
    std::vector<std::wstring> lines = SplitLines(Utf16Text(kqtest::ReadFileBytes(dir / L"CacheStub.log")));
    size_t nStarted = FindLine(lines, std::wregex(L"Information : Started priority manager!"));
    size_t nFailed =
        FindLine(lines, std::wregex(L"Error : wWinMain\\(100\\) : failed to coinitialize \\(0x80010106\\)"));
    EXPECT_LT(nStarted, nFailed);
    EXPECT_LT(nFailed, lines.size());
    EXPECT_EQ(lines.size(), FindLine(lines, std::wregex(L".*Start: \\d+, End: .*")));
    EXPECT_EQ(lines.size(), FindLine(lines, std::wregex(L".*Bootling: Returned.*")));
}

// Bootling.exe in a folder of its own, with the debug options of its own isolation.
class EntryEndToEnd : public ::testing::Test, public bootlingtest::CBootlingInFolder
{
protected:
    EntryEndToEnd() : CBootlingInFolder(kqtest::ExeFolder() + L"Bootling.exe", L"Bootling.exe") {}

    // A plain run of the program stops where the install run would begin, and says so.
    static constexpr DWORD kNotImplemented = 0x80004001;
};

TEST_F(EntryEndToEnd, LogFileHasTheDocumentedLinesInOrder)
{
    m_tree.SetDWORD(kOut, L"DebugType", 1);
    ASSERT_EQ(kNotImplemented, RunProgram());
    std::string bytes = kqtest::ReadFileBytes(LogPath());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    std::vector<std::wstring> lines = SplitLines(Utf16Text(bytes));
    const std::wstring strPrefix =
        L"\\d{4}-\\d{2}-\\d{2}-\\d{2}-\\d{2}-\\d{2}-\\d{3} : CacheStub : 0x[0-9A-F]{4,} : 0x[0-9A-F]{4,} : ";
    for (const std::wstring& line : lines)
        EXPECT_TRUE(std::regex_match(line, std::wregex(strPrefix + L"(Information|Warning|Error) : .*"))) << line.c_str();
    size_t nStarted = FindLine(lines, std::wregex(strPrefix + L"Information : Started priority manager!"));
    size_t nTimes = FindLine(lines, std::wregex(strPrefix + L"Information : Start: \\d+, End: \\d+, Total: \\d+"));
    ASSERT_LT(nStarted, nTimes);
    ASSERT_LT(nTimes + 1, lines.size());
    EXPECT_TRUE(std::regex_match(lines[nTimes + 1],
                                 std::wregex(strPrefix + L"Information : Bootling: Returned \\(0x80004001\\)")))
        << lines[nTimes + 1].c_str();
    EXPECT_EQ(L"\r\n", Utf16Text(bytes).substr(Utf16Text(bytes).size() - 2));

    // A second run appends to the same file.
    ASSERT_EQ(kNotImplemented, RunProgram());
    std::string again = kqtest::ReadFileBytes(LogPath());
    // (The priority manager's retry lines vary in number from run to run.)
    std::vector<std::wstring> linesAgain = SplitLines(Utf16Text(again));
    ASSERT_GT(linesAgain.size(), lines.size());
    EXPECT_EQ(lines, std::vector<std::wstring>(linesAgain.begin(), linesAgain.begin() + lines.size()));
    size_t nReturned = 0;
    for (const std::wstring& line : linesAgain)
        nReturned += std::regex_match(line, std::wregex(L".*Bootling: Returned.*")) ? 1 : 0;
    EXPECT_EQ(2u, nReturned);
    EXPECT_EQ(std::string::npos, again.find("\xFF\xFE", 2));
}

TEST_F(EntryEndToEnd, FiltersDecideWhetherAnythingIsWritten)
{
    struct Case
    {
        const char* pszName;
        DWORD dwDebugType;
        DWORD dwExclusive;
        const wchar_t* pszModule;
        DWORD dwModuleValue;
        bool bWritten;
    };
    const Case cases[] = {
        {"level 0 writes nothing", 0, 0, nullptr, 0, false},
        {"only another module, exclusive", 1, 1, L"OtherModule", 1, false},
        {"own module listed in another case, exclusive", 1, 1, L"cachestub", 1, true},
        {"own module listed off", 1, 0, L"CacheStub", 0, false},
        // Level 3 lets the run's Error line through, and nothing else.
        {"level 3 lets no information through", 3, 0, nullptr, 0, true},
    };
    for (const Case& c : cases) {
        kqtest::CScopedRegistryTree modules(m_tree.Path() + L"\\" + kOut + L"\\Modules");
        m_tree.SetDWORD(kOut, L"DebugType", c.dwDebugType);
        m_tree.SetDWORD(kOut, L"ExclusiveModules", c.dwExclusive);
        if (c.pszModule)
            modules.SetDWORD(L"", c.pszModule, c.dwModuleValue);
        EXPECT_EQ(kNotImplemented, RunProgram()) << c.pszName;
        EXPECT_EQ(c.bWritten, kqtest::FileExists(LogPath())) << c.pszName;
        if (c.dwDebugType == 3) {
            std::vector<std::wstring> lines = SplitLines(Utf16Text(kqtest::ReadFileBytes(LogPath())));
            EXPECT_FALSE(lines.empty()) << c.pszName;
            for (const std::wstring& line : lines)
                EXPECT_TRUE(std::regex_match(line, std::wregex(L".* : Error : .*"))) << line.c_str();
        }
        DeleteFileW(LogPath().c_str());
    }
}

}  // namespace
