// A copy of a Bootling program (the plain program or a package) in a temporary folder of its
// own, beside an isolate.ini that names a fresh isolation whose debug options send the log,
// CacheStub.log, into the folder's "logs" subfolder. The debug level is the test's to set.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "kqTestFiles.h"
#include "kqTestProcess.h"

namespace bootlingtest {

// The text of a UTF-16LE file with its byte-order mark.
inline std::wstring Utf16Text(const std::string& bytes)
{
    if (bytes.size() < 2)
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

inline std::vector<std::wstring> SplitLines(const std::wstring& strText)
{
    std::vector<std::wstring> lines;
    size_t pos = 0;
    while (pos < strText.size()) {
        size_t end = strText.find(L"\r\n", pos);
        if (end == std::wstring::npos) {
            lines.push_back(strText.substr(pos));
            break;
        }
        lines.push_back(strText.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

class CBootlingInFolder
{
public:
    // Copies strSource into the folder as strName.
    CBootlingInFolder(const std::wstring& strSource, const std::wstring& strName)
        : m_strSilo(kqtest::NewGuidString()), m_tree(L"Software\\Quillane\\Isolation\\" + m_strSilo)
    {
        m_strProgram = m_dir / strName;
        EXPECT_TRUE(CopyFileW(strSource.c_str(), m_strProgram.c_str(), FALSE)) << "no " << strSource.c_str();
        std::string ini = "[isolation]\r\nsilo=" + std::string(m_strSilo.begin(), m_strSilo.end()) + "\r\n";
        kqtest::WriteFileBytes(m_dir / L"isolate.ini", ini);
        m_strLogs = m_dir / L"logs";
        CreateDirectoryW(m_strLogs.c_str(), nullptr);
        m_tree.SetDWORD(kOut, L"OutputToFile", 1);
        m_tree.SetDWORD(kOut, L"AppendProcessIdToFile", 0);
        m_tree.SetString(kOut, L"Directory", m_strLogs);
    }

    // Runs the program with the switches; its 32-bit exit code. The log is appended to.
    DWORD RunProgram(const std::wstring& strSwitches = std::wstring())
    {
        std::wstring strCommand = kqtest::QuoteArgument(m_strProgram);
        if (!strSwitches.empty())
            strCommand += L" " + strSwitches;
        kqtest::ProcessResult result = kqtest::RunProcess(strCommand, 120000);
        EXPECT_TRUE(result.bStarted) << "CreateProcess error " << result.dwStartError;
        EXPECT_FALSE(result.bTimedOut);
        return result.dwExitCode;
    }

    std::wstring LogPath() const { return m_strLogs + L"\\CacheStub.log"; }
    std::vector<std::wstring> LogLines() const { return SplitLines(Utf16Text(kqtest::ReadFileBytes(LogPath()))); }

    // The debug options below the isolation's registry root.
    static constexpr const wchar_t* kOut = L"Orvane\\Debug\\DebugOutput";
    kqtest::CTempDir m_dir;
    std::wstring m_strSilo;
    kqtest::CScopedRegistryTree m_tree;
    std::wstring m_strProgram;
    std::wstring m_strLogs;
};

}  // namespace bootlingtest
