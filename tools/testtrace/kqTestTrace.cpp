#include "kqTestTrace.h"

#include <cstdarg>
#include <mutex>

#include "kqDebugOutput.h"
#include "kqTrace.h"

namespace {

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

CMemoryDebugOutput& Sink()
{
    static CMemoryDebugOutput s_sink;
    return s_sink;
}

}  // namespace

KQ_DEFINE_TRACE_FUNCTIONS(Sink())

namespace kqtest {

std::vector<std::wstring> TraceLines() { return Sink().Lines(); }
void ClearTrace() { Sink().Clear(); }

size_t CountTraceLines(const std::wstring& strText)
{
    size_t count = 0;
    for (const auto& line : Sink().Lines()) {
        if (line.find(strText) != std::wstring::npos)
            ++count;
    }
    return count;
}

}  // namespace kqtest
