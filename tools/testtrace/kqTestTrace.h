// The trace functions of test executables: lines land in memory, where tests look for the
// exact message a failure must log.
#pragma once
#include <string>
#include <vector>

namespace kqtest {

// Every line traced since the last Clear, as "Information : text", "Warning : text" or
// "Error : text", without line ends.
std::vector<std::wstring> TraceLines();
void ClearTrace();
// How many traced lines contain the text.
size_t CountTraceLines(const std::wstring& strText);

}  // namespace kqtest
