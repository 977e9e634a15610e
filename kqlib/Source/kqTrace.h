// The program's trace functions. Every program (and every test executable) that links the
// library defines them, forwarding to its own process-wide CDebugOutput.
#pragma once
#include <cstdarg>

#include "kqDebugOutput.h"

void TraceInformation(const wchar_t* pszFormat, ...);
void TraceWarning(const wchar_t* pszFormat, ...);
void TraceError(const wchar_t* pszFormat, ...);

// Defines the three functions above in a program or module, each forwarding its format and
// arguments to that program's own CDebugOutput object (an expression naming it).
#define KQ_DEFINE_TRACE_FUNCTIONS(output)                                                         \
    void TraceInformation(const wchar_t* pszFormat, ...)                                          \
    {                                                                                             \
        va_list args;                                                                             \
        va_start(args, pszFormat);                                                                \
        (output).TraceV(eMessageType_Information, pszFormat, args);                              \
        va_end(args);                                                                             \
    }                                                                                             \
    void TraceWarning(const wchar_t* pszFormat, ...)                                              \
    {                                                                                             \
        va_list args;                                                                             \
        va_start(args, pszFormat);                                                                \
        (output).TraceV(eMessageType_Warning, pszFormat, args);                                  \
        va_end(args);                                                                             \
    }                                                                                             \
    void TraceError(const wchar_t* pszFormat, ...)                                                \
    {                                                                                             \
        va_list args;                                                                             \
        va_start(args, pszFormat);                                                                \
        (output).TraceV(eMessageType_Error, pszFormat, args);                                    \
        va_end(args);                                                                             \
    }
