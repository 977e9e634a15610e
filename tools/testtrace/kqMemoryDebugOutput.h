// A debug output that keeps its lines in memory, where tests look for the exact message a
// failure must log. Lines are kept as "Information : text", "Warning : text" or "Error : text",
// without line ends.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "kqDebugOutput.h"

namespace kqtest {

class CMemoryDebugOutput : public CDebugOutput
{
public:
    CMemoryDebugOutput() : CDebugOutput(L"test")
    {
        SetDebugType(1);
        SetPrependType(1);
    }

    std::vector<std::wstring> Lines()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }

    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.clear();
    }

    // How many lines contain the text.
    size_t Count(const std::wstring& strText)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        size_t n = 0;
        for (const std::wstring& line : m_lines)
            n += line.find(strText) != std::wstring::npos;
        return n;
    }

    // Index of the first line holding the text, or -1.
    int Find(const std::wstring& strText)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (size_t i = 0; i < m_lines.size(); ++i) {
            if (m_lines[i].find(strText) != std::wstring::npos)
                return static_cast<int>(i);
        }
        return -1;
    }

protected:
    void Output(const std::wstring& strLine) override
    {
        std::wstring strTrimmed = strLine;
        while (!strTrimmed.empty() && (strTrimmed.back() == L'\n' || strTrimmed.back() == L'\r'))
            strTrimmed.pop_back();
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(strTrimmed);
    }

    bool Initialize() override
    {
        MarkInitialized();
        return true;
    }

private:
    std::mutex m_lock;
    std::vector<std::wstring> m_lines;
};

}  // namespace kqtest
