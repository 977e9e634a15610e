#include "kqModuleTrace.h"

#include <cstdarg>
#include "kqTrace.h"

namespace {
// Constructed before the module's other static objects may trace.
CDebugOutput g_debugOutput(KQ_MODULE_NAME);
}  // namespace

CDebugOutput& GetModuleDebugOutput()
{
    return g_debugOutput;
}

void TraceInformation(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_debugOutput.TraceV(eMessageType_Information, pszFormat, args);
    va_end(args);
}

void TraceWarning(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_debugOutput.TraceV(eMessageType_Warning, pszFormat, args);
    va_end(args);
}

void TraceError(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_debugOutput.TraceV(eMessageType_Error, pszFormat, args);
    va_end(args);
}
