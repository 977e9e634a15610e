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

KQ_DEFINE_TRACE_FUNCTIONS(g_debugOutput)
