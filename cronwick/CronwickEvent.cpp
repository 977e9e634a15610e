#include "CronwickEvent.h"

#include <cstdarg>
#include <cwchar>

namespace {

void WriteToEventLog(const wchar_t* const* ppszStrings, WORD cStrings)
{
    // The source is registered on the local machine at each write.
    HANDLE hEventLog = RegisterEventSourceW(nullptr, kszEventSource);
    if (!hEventLog)
        return;
    ReportEventW(hEventLog, EVENTLOG_ERROR_TYPE, 0, kdwEventId, nullptr, cStrings, 0,
                 const_cast<const wchar_t**>(ppszStrings), nullptr);
    DeregisterEventSource(hEventLog);
}

PFNEVENTSINK g_pfnEventSink = &WriteToEventLog;

}  // namespace

PFNEVENTSINK SetEventSink(PFNEVENTSINK pfnSink)
{
    PFNEVENTSINK pfnOld = g_pfnEventSink;
    g_pfnEventSink = pfnSink ? pfnSink : &WriteToEventLog;
    return pfnOld;
}

void ReportEventError(const wchar_t* pszFormat, ...)
{
    wchar_t szMessage[kcchEventMessage];
    va_list args;
    va_start(args, pszFormat);
    // A message that does not fit is cut; the buffer always ends with a zero.
    int cch = _vsnwprintf(szMessage, kcchEventMessage - 1, pszFormat, args);
    va_end(args);
    // Cut off: some runtimes report -1, others the length the whole text would need.
    if (cch < 0 || static_cast<size_t>(cch) > kcchEventMessage - 1)
        cch = static_cast<int>(kcchEventMessage - 1);
    szMessage[cch] = L'\0';
    const wchar_t* strings[2] = {kszEventSource, szMessage};
    g_pfnEventSink(strings, 2);
}
