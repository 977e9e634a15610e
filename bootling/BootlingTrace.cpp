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

KQ_DEFINE_TRACE_FUNCTIONS(g_DebugOutput)
