#include "kqTestTrace.h"

#include <cstdarg>

#include "kqMemoryDebugOutput.h"
#include "kqTrace.h"

namespace {

kqtest::CMemoryDebugOutput& Sink()
{
    static kqtest::CMemoryDebugOutput s_sink;
    return s_sink;
}

}  // namespace

KQ_DEFINE_TRACE_FUNCTIONS(Sink())

namespace kqtest {

std::vector<std::wstring> TraceLines() { return Sink().Lines(); }
void ClearTrace() { Sink().Clear(); }

size_t CountTraceLines(const std::wstring& strText) { return Sink().Count(strText); }

}  // namespace kqtest
