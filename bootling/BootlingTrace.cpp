#include "BootlingTrace.h"

#include <cstdarg>

namespace {
// Constructed before entry so that static set-up code may trace too.
CBootlingDebugOutput g_DebugOutput;
}  // namespace

CBootlingDebugOutput::~CBootlingDebugOutput() = default;

CBootlingDebugOutput& GetProcessDebugOutput()
{
    return g_DebugOutput;
}

void TraceInformation(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_DebugOutput.TraceV(eMessageType_Information, pszFormat, args);
    va_end(args);
}

void TraceWarning(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_DebugOutput.TraceV(eMessageType_Warning, pszFormat, args);
    va_end(args);
}

void TraceError(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_DebugOutput.TraceV(eMessageType_Error, pszFormat, args);
    va_end(args);
}
