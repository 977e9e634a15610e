// The trace object of a module built from the library (kqL90U.dll, kqJobMgr.dll): the
// library's trace functions write through it. The module's name comes from KQ_MODULE_NAME.
#pragma once
#include "kqDebugOutput.h"

CDebugOutput& GetModuleDebugOutput();
