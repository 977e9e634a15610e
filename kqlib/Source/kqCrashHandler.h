// The process-wide crash handler. This first form takes its options and keeps them; the
// dump writing and the hooks it installs come with the crash handler proper.
#pragma once
#include "kqDebugOptions.h"

class CCrashHandler
{
public:
    bool SetOptions(const CDebugOptions& options)
    {
        m_options = options;
        return true;
    }

private:
    CDebugOptions m_options;
};

extern CCrashHandler g_CrashHandler;
