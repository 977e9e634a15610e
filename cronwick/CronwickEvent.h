// Failures of the tool go to the Application event log as Error events of the source
// "TestWorker" (event id 0xC0020001, category 0, no user, no data) with two insertion strings:
// "TestWorker" and the message.
#pragma once
#include <windows.h>

constexpr wchar_t kszEventSource[] = L"TestWorker";
constexpr DWORD kdwEventId = 0xC0020001;
// Messages are cut to fit this many characters, the terminating zero included.
constexpr size_t kcchEventMessage = 3072;

// Formats the message (printf-style, wide) and writes the event. If the source cannot be
// registered nothing is written.
void ReportEventError(const wchar_t* pszFormat, ...);

// Where events go: the event log unless a test puts a sink of its own in place.
typedef void (*PFNEVENTSINK)(const wchar_t* const* ppszStrings, WORD cStrings);
// nullptr restores the event log. Returns the sink that was in place.
PFNEVENTSINK SetEventSink(PFNEVENTSINK pfnSink);
