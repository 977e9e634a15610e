// The program's trace functions. Every program (and every test executable) that links the
// library defines them, forwarding to its own process-wide CDebugOutput.
#pragma once

void TraceInformation(const wchar_t* pszFormat, ...);
void TraceWarning(const wchar_t* pszFormat, ...);
void TraceError(const wchar_t* pszFormat, ...);
